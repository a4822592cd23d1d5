// What both systems' GetModuleFileNameA share: the path that tests may set
// in place of the executable's (SetModuleFileNameOverride, platform/Hooks.h),
// and the copy into the caller's buffer.
#pragma once

#include <string>

#include "platform/winapi.h"

// The path set by SetModuleFileNameOverride; empty when none is.
std::string ModuleFileNameOverride();

// Copies path into buffer (size > 0) as the system does: truncated to the
// buffer, and then size with ERROR_INSUFFICIENT_BUFFER; else the length.
DWORD CopyModuleFileName(const std::string& path, LPSTR buffer, DWORD size);
