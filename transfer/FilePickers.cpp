#include "transfer/FilePickers.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

std::string lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Without regard to case; names that differ only in case keep a fixed order.
void sortNames(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = lower(a), lb = lower(b);
    return la != lb ? la < lb : a < b;
  });
}

// The entries of a directory whose kind (following links) passes wanted,
// hidden names aside; false when the directory cannot be read.
template <class Wanted>
bool namesIn(const std::string& directory, Wanted wanted, std::vector<std::string>& names) {
  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) return false;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code ignored;
    if (wanted(it->status(ignored))) names.push_back(name);
  }
  sortNames(names);
  return true;
}

std::string withDelim(const std::string& directory) {
  return !directory.empty() && directory.back() == PathDelim ? directory : directory + PathDelim;
}

}  // namespace

DirectoryListing ListDirectories(const std::string& directory) {
  DirectoryListing listing;
  // The root is everything up to the first separator ("/", or a drive's "C:\").
  const auto first = directory.find(PathDelim);
  if (first == std::string::npos) return listing;
  const std::string root = directory.substr(0, first + 1);
  listing.entries.push_back({root, root, 0, true});

  // Down the components, with empty and "." ones skipped and ".." going up.
  std::vector<std::string> chain;
  size_t begin = first + 1;
  while (begin < directory.size()) {
    size_t end = directory.find(PathDelim, begin);
    if (end == std::string::npos) end = directory.size();
    const std::string piece = directory.substr(begin, end - begin);
    if (piece == "..") {
      if (!chain.empty()) chain.pop_back();
    } else if (!piece.empty() && piece != ".") {
      chain.push_back(piece);
    }
    begin = end + 1;
  }
  std::string path = root;
  int level = 0;
  for (const auto& piece : chain) {
    if (level > 0) path += PathDelim;
    path += piece;
    listing.entries.push_back({piece, path, ++level, true});
  }
  listing.current = static_cast<int>(listing.entries.size()) - 1;

  std::vector<std::string> folders;
  namesIn(path, [](const fs::file_status& st) { return fs::is_directory(st); }, folders);
  for (const auto& name : folders) listing.entries.push_back({name, withDelim(path) + name, level + 1, false});
  return listing;
}

std::vector<std::string> ListFiles(const std::string& directory) {
  std::vector<std::string> files;
  if (!namesIn(directory, [](const fs::file_status& st) { return fs::is_regular_file(st); }, files)) return {};
  return files;
}

std::string FileListPath(const std::string& directory, const std::string& name) {
  return name.empty() ? std::string() : withDelim(directory) + name;
}

std::string RootOf(const std::string& directory, const std::vector<std::string>& roots) {
  std::string best;
  for (const auto& root : roots) {
    if (root.empty() || root.size() <= best.size() || directory.compare(0, root.size(), root) != 0) continue;
    if (directory.size() == root.size() || root.back() == PathDelim || directory[root.size()] == PathDelim)
      best = root;
  }
  return best;
}
