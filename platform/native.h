// Helpers the program needs beside the Win32 interfaces, with one declaration
// for every platform. The POSIX versions live in platform/posix.
#pragma once

#include <string>
#include <vector>

// The path as it exists on disk: each component that does not exist as
// spelled is matched without regard to case in its directory. Components
// that match nothing are kept as spelled.
std::string ResolvePath(const std::string& path);

// Reads a whole file. False with the last error set when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& data);

// Replaces (or creates) a file with the given bytes. The bytes go to a
// temporary file beside it that is renamed over the old one, so a crash or a
// full disk never leaves a half-written file. False with the last error set;
// a read-only file is refused.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// The state that GetAsyncKeyState reports is fed from the application's own
// key events (virtual-key code, down or up).
void NoteKeyState(int virtualKey, bool down);

// Where MessageBeep goes: the application installs the toolkit's beep, tests a
// recorder. Without a handler MessageBeep is silent.
using BeepHandler = void (*)(unsigned int type);
void SetBeepHandler(BeepHandler handler);

// Lets tests run the program as if it were installed in another directory:
// GetModuleFileNameA(nullptr, ...) reports this path while it is set.
void SetModuleFileNameOverride(const std::string& path);

// The native path separator, used wherever the program joins a directory and
// a name.
extern const char PathDelim;

// Whether this process could set its priority class back to normal after
// lowering it to idle. Where lowering is for good (an unprivileged Linux
// process may never lower its nice value again), the caller should not.
bool PriorityClassReversible();

// The roots a drive picker offers: "/" first, then the mount points of the
// mounted disk file systems (and bind mounts) in mount order, without repeats.
std::vector<std::string> FileSystemRoots();
