// A profile file read and written value by value; nothing is cached.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : FileName(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // The value as an integer (see TryStrToInt); fallback when it is missing or
  // not an integer.
  std::int32_t ReadInteger(const std::string& section, const std::string& key,
                           std::int32_t fallback) const;
  // The key names of a section, in file order.
  std::vector<std::string> ReadSection(const std::string& section) const;

  // Writers throw std::runtime_error("Unable to write to <file>") when the
  // platform refuses the write.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
  void EraseSection(const std::string& section);
  // Replaces the whole section by these keys and values in one write of the
  // file; no keys erase it.
  void WriteSection(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values);

  const std::string FileName;
};
