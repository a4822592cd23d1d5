// The executable's path, which tests may move into a temporary installation.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/Hooks.h"
#include "platform/winapi.h"

namespace {
std::mutex overrideMutex;
std::string overridePath;
}  // namespace

void SetModuleFileNameOverride(const std::string& path) {
  std::lock_guard lock(overrideMutex);
  overridePath = path;
}

#undef GetModuleFileNameA
DWORD TvGetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  {
    std::lock_guard lock(overrideMutex);
    path = overridePath;
  }
  if (hModule || path.empty()) return GetModuleFileNameA(hModule, lpFilename, nSize);
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // As the system does: truncated to the buffer with ERROR_INSUFFICIENT_BUFFER.
  const DWORD n = std::min<DWORD>(static_cast<DWORD>(path.size()), nSize - 1);
  std::memcpy(lpFilename, path.data(), n);
  lpFilename[n] = '\0';
  if (n < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  return n;
}
