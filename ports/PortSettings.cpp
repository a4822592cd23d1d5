#include "ports/PortSettings.h"

#include <algorithm>
#include <cctype>

#include "platform/IniFile.h"
#include "platform/Paths.h"

namespace {
const char* const LptSection = "port";
const char* const ComSection = "COM port";
const char* const AddressKey = "address";
const char* const ComDevicesSection = "COM devices";

// Profile key names match without regard to (ASCII) case.
bool SameKey(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}
}  // namespace

std::string PrnportPath() { return AppFile({"prnport.cfg"}); }
std::string TalvorinIniPath() { return AppFile({"Talvorin.ini"}); }

std::string ComDeviceFromSettings(int number) {
  return TIniFile(TalvorinIniPath()).ReadString(ComDevicesSection, "COM" + std::to_string(number), "");
}

void WriteComDevices(const std::vector<std::string>& devices) {
  TIniFile file(TalvorinIniPath());
  std::vector<std::pair<std::string, std::string>> values;
  for (size_t i = 0; i < devices.size(); ++i)
    if (!devices[i].empty()) values.emplace_back("COM" + std::to_string(i + 1), devices[i]);
  const size_t ours = values.size();
  for (const std::string& key : file.ReadSection(ComDevicesSection)) {
    // A duplicate key reads as its first.
    const auto same = [&key](const auto& value) { return SameKey(value.first, key); };
    bool replaced = false;
    for (size_t i = 0; i < devices.size() && !replaced; ++i) replaced = SameKey(key, "COM" + std::to_string(i + 1));
    if (!replaced && std::none_of(values.begin() + static_cast<long>(ours), values.end(), same))
      values.emplace_back(key, file.ReadString(ComDevicesSection, key, ""));
  }
  file.WriteSection(ComDevicesSection, values);
}

std::int32_t ReadLptIndex() { return TIniFile(PrnportPath()).ReadInteger(LptSection, AddressKey, 0); }
std::int32_t ReadComIndex() { return TIniFile(TalvorinIniPath()).ReadInteger(ComSection, AddressKey, 0); }

std::int32_t PortNumber(std::int32_t index) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) + 1u);
}

void WriteLptIndex(std::int32_t index) { TIniFile(PrnportPath()).WriteInteger(LptSection, AddressKey, index); }
void WriteComIndex(std::int32_t index) { TIniFile(TalvorinIniPath()).WriteInteger(ComSection, AddressKey, index); }

void WriteRecentProject(const std::string& projectShortPath) {
  TIniFile file(PrnportPath());
  file.EraseSection("Recent");
  file.WriteString("Recent", "File0", projectShortPath);
}
