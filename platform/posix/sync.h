// Event objects and the record of an overlapped operation.
#pragma once

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
