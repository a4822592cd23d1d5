// Process identity and scheduling priority classes, over the nice values.
#pragma once

#include "platform/posix/handles.h"
#include "platform/posix/types.h"

constexpr DWORD PROCESS_ALL_ACCESS = 0x001FFFFF;

constexpr DWORD IDLE_PRIORITY_CLASS = 0x00000040;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x00004000;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x00008000;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x00000080;
constexpr DWORD REALTIME_PRIORITY_CLASS = 0x00000100;

DWORD GetCurrentProcessId();

// The pseudo handle (HANDLE)-1 that stands for this process wherever a process
// handle is taken; closing it does nothing and succeeds.
HANDLE GetCurrentProcess();

// A handle for a running process (the access asked for is granted as given).
// A process id that does not exist gives NULL with ERROR_INVALID_PARAMETER.
HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);

// A class is a nice value for every thread of the process: idle 19, below
// normal 10, normal 0, above normal -5, high -10, realtime -20. Threads made
// later inherit it from the thread that makes them. Raising it without the
// right fails with ERROR_ACCESS_DENIED and leaves every thread as it was; an
// unknown class fails with ERROR_INVALID_PARAMETER. (A thread that holds
// capabilities the caller lacks refuses any change, also with
// ERROR_ACCESS_DENIED.)
BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);

// The class of the nice value of the process's calling thread (its main thread
// for another process), in bands around the values above: 15..19 idle, 5..14
// below normal, -2..4 normal, -7..-3 above normal, -14..-8 high, -20..-15
// realtime. 0 with the last error set on failure.
DWORD GetPriorityClass(HANDLE hProcess);
