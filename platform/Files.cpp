#include "platform/Files.h"

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  ReplacementFile file;
  return file.Open(path, NameMatch::Caseless) && file.Append(data.data(), data.size()) && file.Commit();
}
