// The roots a drive picker offers. One declaration for every platform; the
// POSIX version lives in platform/posix.
#pragma once

#include <string>
#include <vector>

// "/" first, then the mount points of the mounted disk file systems (and bind
// mounts) in mount order, without repeats.
std::vector<std::string> FileSystemRoots();
