#include "platform/ModuleName.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Hooks.h"

namespace {
std::mutex overrideMutex;
std::string overridePath;
}  // namespace

void SetModuleFileNameOverride(const std::string& path) {
  std::lock_guard lock(overrideMutex);
  overridePath = path;
}

std::string ModuleFileNameOverride() {
  std::lock_guard lock(overrideMutex);
  return overridePath;
}

DWORD CopyModuleFileName(const std::string& path, LPSTR buffer, DWORD size) {
  const DWORD n = std::min<DWORD>(static_cast<DWORD>(path.size()), size - 1);
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
  if (n < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  return n;
}
