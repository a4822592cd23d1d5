// A profile file read and written value by value; nothing is cached.
#pragma once

#include <cstdint>
#include <string>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : FileName(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // The value as an integer (see TryStrToInt); fallback when it is missing or
  // not an integer.
  std::int32_t ReadInteger(const std::string& section, const std::string& key,
                           std::int32_t fallback) const;

  // Writers throw std::runtime_error("Unable to write to <file>") when the
  // platform refuses the write.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
  void EraseSection(const std::string& section);

  const std::string FileName;
};
