// Kernel objects behind HANDLEs (processes, events, serial ports), with the
// functions common to all of them.
#pragma once

#include <memory>

#include "platform/posix/types.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// The object a handle stands for. Kinds that can be waited for override Wait;
// the object is destroyed when its last handle is closed and no wait or call
// is still using it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT, or WAIT_FAILED with the last
  // error set.
  virtual DWORD Wait(DWORD milliseconds);
  // Called when the handle is closed: ends whatever still runs on it.
  virtual void HandleClosed() {}
};

// Registers an object and returns its new handle.
HANDLE MakeHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (with ERROR_INVALID_HANDLE) when the
// handle is not open.
std::shared_ptr<KernelObject> ObjectFromHandle(HANDLE handle);

// The object behind a handle when it is of the given kind.
template <class T>
std::shared_ptr<T> ObjectFromHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(ObjectFromHandle(handle));
}

BOOL CloseHandle(HANDLE hObject);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
