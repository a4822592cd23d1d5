// Event objects and the record of an overlapped operation.
#pragma once

#include <functional>
#include <memory>

#include "platform/posix/types.h"

using ULONG_PTR = std::uintptr_t;

// Internal holds the state of the operation (ERROR_IO_PENDING while it runs,
// else its Win32 error number), InternalHigh the bytes it moved.
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

// Named events are not shared between processes here; a name is refused.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// A device with no thread of its own: whoever waits for the event of one of
// its pending requests drives it meanwhile.
class RequestDriver {
 public:
  virtual ~RequestDriver() = default;
  // Works for the device until done() holds (asked under the device's lock),
  // milliseconds (INFINITE: no limit) have passed, or the device has closed.
  virtual void DriveUntil(const std::function<bool()>& done, DWORD milliseconds) = 0;
};

// Resets the event; until it is next set, a wait for it drives driver.
void ArmEvent(HANDLE event, std::weak_ptr<RequestDriver> driver);
