#include "platform/IniFile.h"

#include <stdexcept>

#include "platform/Convert.h"
#include "platform/winapi.h"

namespace {
void check(BOOL written, const std::string& fileName) {
  if (!written) throw std::runtime_error("Unable to write to " + fileName);
}
}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  char buffer[2048];
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                           sizeof buffer, FileName.c_str());
  return std::string(buffer, n);
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t fallback) const {
  return StrToIntDef(ReadString(section, key, ""), fallback);
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  // The profile functions allow lists of up to 64 KiB less one.
  std::vector<char> buffer(65535);
  const DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(),
                                           static_cast<DWORD>(buffer.size()), FileName.c_str());
  std::vector<std::string> keys;
  for (DWORD at = 0; at < n; at += static_cast<DWORD>(keys.back().size()) + 1) keys.emplace_back(buffer.data() + at);
  return keys;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  check(WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), FileName.c_str()), FileName);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(const std::string& section) {
  check(WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, FileName.c_str()), FileName);
}

void TIniFile::WriteSection(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) {
    EraseSection(section);
    return;
  }
  std::string list;
  for (const auto& [key, value] : values) {
    list += key;
    list += '=';
    list += value;
    list += '\0';
  }
  check(WritePrivateProfileSectionA(section.c_str(), list.c_str(), FileName.c_str()), FileName);
}
