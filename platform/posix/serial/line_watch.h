// What a real serial line tells beyond its data: the state of the modem
// lines (TIOCMGET), and the driver's counters of line changes, breaks and
// receive errors (TIOCGICOUNT), turned into Win32's EV_ events and CE_ error
// flags. A pseudo-terminal answers these ioctls with ENOTTY: it has no modem
// lines and counts no errors. Nothing here waits for a change (TIOCMIWAIT):
// not every driver has it, and nothing but a signal would end the wait.
// Internal to the serial stand-in.
#pragma once

#include <linux/serial.h>

#include "platform/posix/types.h"

// The driver's modem-line calls: the real ioctls unless tests play a device
// that has them. Each gives 0, or -1 with errno set.
struct LineCalls {
  int (*getLines)(int fd, int* lines);
  int (*getCounters)(int fd, serial_icounter_struct* counters);
};
// Installs calls (null: the real ioctls again); a port keeps those it was
// opened with.
void SetLineCalls(const LineCalls* calls);
const LineCalls& CurrentLineCalls();

// EV_CTS, EV_DSR, EV_RING, EV_RLSD for the lines that differ (TIOCM_ bits).
DWORD EventsFromLines(int changed);
// The events behind the counters' growth: the four line events, EV_BREAK, and
// EV_ERR for framing, overrun and parity errors.
DWORD EventsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now);
// The CE_ flags for the same growth: CE_FRAME, CE_OVERRUN, CE_RXPARITY,
// CE_BREAK, and CE_RXOVER for input the kernel's buffer had no room for.
DWORD ErrorsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now);
