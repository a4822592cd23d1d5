// Our versions of two Win32 functions that the program's hooks must reach on
// Windows too (platform/Hooks.h): the executable's path, which tests move into
// a temporary installation, and the beep, which tests record. Everything
// else passes through to the system.
#pragma once

#include <windows.h>

DWORD TvGetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL TvMessageBeep(UINT uType);

#undef GetModuleFileName
#undef MessageBeep
#define GetModuleFileNameA TvGetModuleFileNameA
#define MessageBeep TvMessageBeep
