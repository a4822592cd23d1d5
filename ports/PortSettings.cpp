#include "ports/PortSettings.h"

#include "platform/IniFile.h"
#include "platform/Paths.h"

namespace {
const char* const LptSection = "port";
const char* const ComSection = "COM port";
const char* const AddressKey = "address";
const char* const ComDevicesSection = "COM devices";
}  // namespace

std::string PrnportPath() { return AppFile({"prnport.cfg"}); }
std::string TalvorinIniPath() { return AppFile({"Talvorin.ini"}); }

std::string ComDeviceFromSettings(int number) {
  return TIniFile(TalvorinIniPath()).ReadString(ComDevicesSection, "COM" + std::to_string(number), "");
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
