// Drive roots from the mount table. Pseudo file systems (proc, sysfs, tmpfs,
// cgroup...) name no path as their source and hold nothing to program from, so
// they are left out; so are files bind-mounted over single files.
#include "platform/posix/drives.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/Drives.h"

namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, newline and backslash in a field as \ooo.
std::string decodeField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
        isOctal(field[i + 2]) && isOctal(field[i + 3])) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> FileSystemRootsFrom(const std::string& mountsText,
                                             const std::function<bool(const std::string&)>& isDirectory) {
  std::vector<std::string> roots{"/"};
  std::istringstream lines(mountsText);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string source, target;
    if (!(fields >> source >> target)) continue;
    source = decodeField(source);
    target = decodeField(target);
    if (source.empty() || source[0] != '/' || target.empty() || target[0] != '/') continue;
    if (std::find(roots.begin(), roots.end(), target) != roots.end()) continue;
    if (!isDirectory(target)) continue;
    roots.push_back(target);
  }
  return roots;
}

std::vector<std::string> FileSystemRoots() {
  std::ifstream table("/proc/self/mounts");
  std::ostringstream mounts;
  mounts << table.rdbuf();
  return FileSystemRootsFrom(mounts.str(), [](const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  });
}
