// Whole files read and replaced, paths matched as Windows matches them, and
// the native path separator. One declaration for every platform; the POSIX
// versions live in platform/posix.
#pragma once

#include <string>

// The path as it exists on disk: each component that does not exist as
// spelled is matched without regard to case in its directory. Components
// that match nothing are kept as spelled.
std::string ResolvePath(const std::string& path);

// Reads a whole file. False with the last error set when it cannot be read.
// Only a regular file is read, and only up to WholeFileLimit bytes: a
// folder, a device or a pipe is refused (ERROR_ACCESS_DENIED) without being
// waited for, a longer file with ERROR_FILE_TOO_LARGE.
bool ReadWholeFile(const std::string& path, std::string& data);

// Far above any catalogue or settings file, far below what a machine holds.
constexpr long long WholeFileLimit = 64LL << 20;

// Replaces (or creates) a file with the given bytes. The bytes go to a
// temporary file beside it that is renamed over the old one, so a crash or a
// full disk never leaves a half-written file. False with the last error set;
// a read-only file is refused.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// The native path separator, used wherever the program joins a directory and
// a name.
extern const char PathDelim;
