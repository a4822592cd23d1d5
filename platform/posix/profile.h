// Profile (INI) files.
#pragma once

#include "platform/posix/types.h"

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);
// Replaces the lines of a whole section by lpString, a list of "key=value"
// strings each ending in NUL, the list ending in a second NUL; the section is
// added at the end when missing. One write of the file.
BOOL WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName);
