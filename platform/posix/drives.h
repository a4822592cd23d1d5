// The roots offered by the drive picker, read from the mount table.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The roots named by a mount table in the form of /proc/self/mounts: "/" first,
// then each mount point whose source is a path (a device or a bind source) and
// that isDirectory accepts, in table order, each once. The table's octal
// escapes (\040 and the like) are decoded.
std::vector<std::string> FileSystemRootsFrom(const std::string& mountsText,
                                             const std::function<bool(const std::string&)>& isDirectory);
