// Names matched without regard to case, as on Windows: ResolvePath finds
// the path as it exists on disk.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <string>

#include "platform/Files.h"

namespace {

// The entry of dir whose name equals name without regard to case; the
// smallest such name when several differ only in case.
bool FindCaseless(const std::string& dir, const std::string& name, std::string& found) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool any = false;
  while (const dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0 && (!any || found.compare(e->d_name) > 0)) {
      found = e->d_name;
      any = true;
    }
  }
  closedir(d);
  return any;
}

}  // namespace

std::string ResolvePath(const std::string& path, NameMatch match) {
  struct stat st;
  if (match == NameMatch::AsTyped || path.empty() || lstat(path.c_str(), &st) == 0) return path;

  std::string resolved = path[0] == '/' ? "/" : "";
  size_t pos = path[0] == '/' ? 1 : 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const std::string dir = resolved;
    if (!resolved.empty() && resolved.back() != '/') resolved += '/';
    std::string candidate = resolved + part;
    if (lstat(candidate.c_str(), &st) != 0) {
      std::string actual;
      if (part == "." || part == ".." || !FindCaseless(dir, part, actual))
        return candidate + (end < path.size() ? path.substr(end) : "");  // kept as spelled
      candidate = resolved + actual;
    }
    resolved = candidate;
  }
  return resolved;
}
