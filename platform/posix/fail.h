// How the stand-ins fail, for their own use only: winapi.h does not show it.
#pragma once

#include "platform/posix/errors.h"

// Maps an errno value to the nearest Win32 error number.
DWORD Win32ErrorFromErrno(int err);

// Sets the last error and gives FALSE: the way most stand-ins fail.
BOOL FailWith(DWORD error);
// The same with the Win32 error nearest to an errno value.
BOOL FailWithErrno(int err);
