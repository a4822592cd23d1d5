// Starting another program and waiting for it.
#pragma once

#include "platform/posix/handles.h"
#include "platform/posix/types.h"

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr WORD SW_HIDE = 0;
constexpr WORD SW_SHOWNORMAL = 1;
constexpr WORD SW_SHOW = 5;
constexpr DWORD CREATE_DEFAULT_ERROR_MODE = 0x04000000;

// Start failures besides the file errors of errors.h.
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_EXE_MACHINE_TYPE_MISMATCH = 216;

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// This process was started without start-up details: the record comes back
// cleared, with its size filled in.
void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo);

// Starts lpApplicationName (found without regard to case) with the caller's
// standard streams. A file that begins with "MZ" is a Windows program: it runs
// through "wine" when that is on the PATH and fails with
// ERROR_EXE_MACHINE_TYPE_MISMATCH otherwise; any other file must be
// executable itself. lpCurrentDirectory null keeps the caller's directory.
// Only the application-name form is supported: a command line or an
// environment block of its own fails with ERROR_INVALID_PARAMETER. The window
// and error-mode requests have no meaning here and are accepted as given.
// hProcess and hThread both become signalled when the program ends.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
