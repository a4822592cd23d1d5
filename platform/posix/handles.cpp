#include "platform/posix/fail.h"
#include "platform/posix/handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/posix/errors.h"

namespace {
std::mutex registryMutex;
std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> registry;
std::uintptr_t lastHandle = 0x1000;
}  // namespace

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE MakeHandle(std::shared_ptr<KernelObject> object) {
  std::lock_guard lock(registryMutex);
  // Handle values are never reused, so a stale handle cannot reach a new object.
  lastHandle += 4;
  const auto handle = reinterpret_cast<HANDLE>(lastHandle);
  registry.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<KernelObject> ObjectFromHandle(HANDLE handle) {
  std::lock_guard lock(registryMutex);
  const auto it = registry.find(handle);
  if (it == registry.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

BOOL CloseHandle(HANDLE hObject) {
  // The pseudo handle of this process (the same value) is not open and closing
  // it is harmless.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard lock(registryMutex);
    const auto it = registry.find(hObject);
    if (it == registry.end()) return FailWith(ERROR_INVALID_HANDLE);
    object = std::move(it->second);
    registry.erase(it);
  }
  object->HandleClosed();
  return TRUE;  // the object goes when its last user lets go, outside the lock
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  const auto object = ObjectFromHandle(hHandle);
  return object ? object->Wait(dwMilliseconds) : WAIT_FAILED;
}
