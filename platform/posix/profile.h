// Profile (INI) files.
#pragma once

#include <string>

#include "platform/posix/types.h"

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);
// Replaces the lines of a whole section by lpString, a list of "key=value"
// strings each ending in NUL, the list ending in a second NUL; the section is
// added at the end when missing. One write of the file.
BOOL WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName);

// How the functions above read and replace a whole file: by default through
// platform/Files.h. The profile fuzz target keeps its file in memory
// instead, to run its steps thousands of times a second; nullptr puts the
// real files back.
using ProfileReader = bool (*)(const std::string& path, std::string& data);
using ProfileWriter = bool (*)(const std::string& path, const std::string& data);
void SetProfileFiles(ProfileReader reader, ProfileWriter writer);
