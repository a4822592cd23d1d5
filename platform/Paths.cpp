#include "platform/Paths.h"

#include <cstdint>
#include <cstring>

#include "platform/Files.h"
#include "platform/winapi.h"

std::string ExeDir() {
  char buffer[4096] = {};
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  const std::string path(buffer, n);
  const auto delim = path.find_last_of(PathDelim);
  return delim == std::string::npos ? std::string() : path.substr(0, delim);
}

std::string AppFile(std::initializer_list<std::string_view> names) {
  std::string path = ExeDir();
  for (const auto name : names) {
    path += PathDelim;
    path += name;
  }
  return path;
}

bool FileExists(const std::string& path) { return FileExists(path, NameMatch::Caseless); }

bool FileExists(const std::string& path, NameMatch match) {
  const std::uint32_t attributes = FileAttributesOf(path, match);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ShortPath(const std::string& path) {
  char buffer[ShortPathBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

std::string ExtractFileName(const std::string& path) {
  const auto delim = path.find_last_of(PathDelim);
  return delim == std::string::npos ? path : path.substr(delim + 1);
}
