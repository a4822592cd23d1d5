// Control blocks as terminal settings and back: where the serial stand-in
// speaks termios. Only the serial stand-in and its tests include this, so
// termios' names (B0, CS8, ECHO...) stay out of platform/winapi.h.
#pragma once

#include <termios.h>

#include "platform/posix/serial/comm.h"

// The terminal settings a control block gives, starting from the device's
// current ones; false (with the last error set) for what a terminal cannot
// do. Line speeds without a B constant are carried in ispeed/ospeed.
struct TerminalSettings {
  termios attributes;
  DWORD speed;  // bits per second
};
bool TerminalSettingsFromDcb(const DCB& dcb, TerminalSettings& settings);

// Puts settings into effect on the device at once; false with the last error
// set.
bool ApplyTerminalSettings(int fd, const TerminalSettings& settings);

// The control block that a device's current settings t stand for, as a
// freshly opened port reports it.
DCB DcbFromTerminal(int fd, const termios& t);
