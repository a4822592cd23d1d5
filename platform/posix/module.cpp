#include "platform/posix/fail.h"
#include "platform/posix/module.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/Hooks.h"
#include "platform/posix/errors.h"

namespace {
std::mutex overrideMutex;
std::string overridePath;
}  // namespace

void SetModuleFileNameOverride(const std::string& path) {
  std::lock_guard lock(overrideMutex);
  overridePath = path;
}

// Only the executable's own module (hModule null) is known here.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule || !lpFilename || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string path;
  {
    std::lock_guard lock(overrideMutex);
    path = overridePath;
  }
  if (path.empty()) {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) {
      SetLastError(Win32ErrorFromErrno(errno));
      return 0;
    }
    path.assign(buffer, static_cast<size_t>(n));
  }
  // Win32 truncates to the buffer and reports ERROR_INSUFFICIENT_BUFFER.
  const DWORD n = std::min<DWORD>(static_cast<DWORD>(path.size()), nSize - 1);
  std::memcpy(lpFilename, path.data(), n);
  lpFilename[n] = '\0';
  if (n < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  return n;
}
