#include "platform/Files.h"

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  ReplacementFile file;
  return file.Open(path) && file.Append(data.data(), data.size()) && file.Commit();
}
