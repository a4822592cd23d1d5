// What the application hands down to the platform layer: its key events, its
// beep, where its COM ports lead, and where tests pretend the program is
// installed. One declaration for
// every platform; the POSIX versions live in platform/posix.
#pragma once

#include <string>

// The state that GetAsyncKeyState reports is fed from the application's own
// key events (virtual-key code, down or up).
void NoteKeyState(int virtualKey, bool down);

// Where MessageBeep goes: the application installs the toolkit's beep, tests a
// recorder. Without a handler MessageBeep is silent.
using BeepHandler = void (*)(unsigned int type);
void SetBeepHandler(BeepHandler handler);

// Lets tests run the program as if it were installed in another directory:
// GetModuleFileNameA(nullptr, ...) reports this path while it is set.
void SetModuleFileNameOverride(const std::string& path);

// Where the name "COMn" leads: the application installs its mapping, which
// gives the device for port number n (n >= 1), or the empty string for none.
// Without a resolver, or when it gives nothing, COMn is /dev/ttyS(n-1) on
// POSIX systems; Windows opens its own COM ports.
using ComDeviceResolver = std::string (*)(int number);
void SetComDeviceResolver(ComDeviceResolver resolver);
