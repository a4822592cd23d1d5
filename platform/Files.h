// Whole files read and replaced, paths matched as Windows matches them, and
// the native path separator. One declaration for every platform; the POSIX
// versions live in platform/posix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How a name is found on disk. The program's own files are matched as
// Windows matches them, without regard to case, and so is every name that
// goes through the Win32 stand-ins; a name a user typed on the command line
// is taken as typed, so that it is never matched to another file.
enum class NameMatch { Caseless, AsTyped };

// The path as it exists on disk. Caseless: each component that does not
// exist as spelled is matched without regard to case in its directory, and
// components that match nothing are kept as spelled. As typed: the path
// itself. Windows' file system matches case itself: there it is the path.
std::string ResolvePath(const std::string& path, NameMatch match);

// What GetFileAttributesA answers for the path (INVALID_FILE_ATTRIBUTES
// with the last error set when there is nothing), the name found as told.
std::uint32_t FileAttributesOf(const std::string& path, NameMatch match);

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
// a read-only file, a directory, a device and a pipe are refused. The name
// is one of the program's own, matched without regard to case.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// A file replaced by one written piece by piece, as safely as by
// ReplaceFileContents, which is one: Open starts a temporary file beside it
// (refusing what ReplaceFileContents refuses), Append adds bytes to it,
// Commit flushes it to the disk and renames it over the old file, and
// Abandon (or the destructor) removes it, leaving the old file as it was.
// False with the last error set; after a failed Commit the old file is as
// it was.
//
// With Staging::ElsewhereIfRefused, an existing file that may be written in
// a folder that takes no new file (a folder without write permission) gets
// its temporary file in the system's temporary folder instead, and Commit
// writes the whole of it over the old file's bytes in place: the old file
// is still touched only once everything is there, and keeps its links,
// owner and permissions, but a crash during that last write can leave it
// part old, part new.
class ReplacementFile {
 public:
  enum class Staging { BesideOnly, ElsewhereIfRefused };

  ReplacementFile();
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  bool Open(const std::string& path, NameMatch match, Staging staging = Staging::BesideOnly);
  bool Append(const void* data, size_t count);
  bool Commit();
  void Abandon();

 private:
  struct Pending;
  std::unique_ptr<Pending> pending;
};

// Whether the path names a device, a pipe or a socket, following links;
// false for a plain file, a folder and nothing at all. Opening such a thing
// may wait without end, and it is never replaced by a file.
bool IsDeviceOrPipe(const std::string& path, NameMatch match);

// The native path separator, used wherever the program joins a directory and
// a name.
extern const char PathDelim;
