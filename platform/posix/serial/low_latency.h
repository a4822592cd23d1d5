// Low-latency mode for the serial drivers that have one: a USB adapter
// otherwise holds received bytes back for up to 16 ms (FTDI's latency
// timer), and every block of the transfer protocol waits for a one-byte
// answer. Internal to the serial stand-in.
#pragma once

#include <linux/serial.h>

#include <optional>
#include <string>

// The driver's serial settings, TIOCGSERIAL and TIOCSSERIAL: the real
// ioctls unless tests play a driver that has them (a pseudo-terminal has
// none). Each gives 0, or -1 with errno set.
struct SerialInfoCalls {
  int (*get)(int fd, serial_struct* info);
  int (*set)(int fd, const serial_struct* info);
};
// Installs calls (null: the real ioctls again).
void SetSerialInfoCalls(const SerialInfoCalls* calls);

// Turns low latency on where the driver has it and allows it; the flags it
// had before when it changed them, for RestoreSerialFlags. A refusal leaves
// the device as it was.
std::optional<int> EnterLowLatency(int fd);
// Puts the flags back that EnterLowLatency found. A hung-up descriptor
// answers nothing but EIO while the device may still be there (a UART whose
// line was hung up): the flags then go back through a descriptor of its own,
// opened by path for the moment.
void RestoreSerialFlags(int fd, const std::string& path, int flags);
