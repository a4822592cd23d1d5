// The running executable's path.
#pragma once

#include "platform/posix/types.h"

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
