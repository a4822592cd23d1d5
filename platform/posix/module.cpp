#include "platform/posix/fail.h"
#include "platform/posix/module.h"

#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/ModuleName.h"
#include "platform/posix/errors.h"

namespace {

// The path the program was started by, when that names the running
// executable: a symbolic link to it stays a link, so a program started through
// a link in another folder has that folder as its own (its files are looked
// for there, as Windows does for a program started from a copy). The kernel
// keeps the name that execve was given; a relative one is taken against the
// working directory, which nothing has changed yet when this runs before
// main. The folder is made absolute and canonical, the last name kept as it
// was. Empty when the name leads elsewhere (started through the dynamic
// loader, or the link replaced since): /proc/self/exe then says.
std::string StartedBy() {
  const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (!name || !*name) return {};
  struct stat started {}, running {};
  if (stat(name, &started) != 0 || stat("/proc/self/exe", &running) != 0) return {};
  if (started.st_dev != running.st_dev || started.st_ino != running.st_ino) return {};
  const std::string path(name);
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  char resolved[PATH_MAX];
  if (!realpath(folder.c_str(), resolved)) return {};
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string dir(resolved);
  return dir == "/" ? "/" + base : dir + "/" + base;
}

const std::string startedBy = StartedBy();
}  // namespace

// Only the executable's own module (hModule null) is known here.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule || !lpFilename || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string path = ModuleFileNameOverride();
  if (path.empty()) path = startedBy;
  if (path.empty()) {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) {
      SetLastError(Win32ErrorFromErrno(errno));
      return 0;
    }
    path.assign(buffer, static_cast<size_t>(n));
  }
  return CopyModuleFileName(path, lpFilename, nSize);
}
