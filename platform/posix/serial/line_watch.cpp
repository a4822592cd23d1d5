#include "platform/posix/serial/line_watch.h"

#include <sys/ioctl.h>

#include <atomic>

#include "platform/posix/serial/comm.h"

namespace {

int RealGetLines(int fd, int* lines) { return ::ioctl(fd, TIOCMGET, lines); }
int RealGetCounters(int fd, serial_icounter_struct* counters) { return ::ioctl(fd, TIOCGICOUNT, counters); }

const LineCalls realCalls{RealGetLines, RealGetCounters};
std::atomic<const LineCalls*> calls{&realCalls};

}  // namespace

void SetLineCalls(const LineCalls* replacement) { calls = replacement ? replacement : &realCalls; }

const LineCalls& CurrentLineCalls() { return *calls; }

DWORD EventsFromLines(int changed) {
  DWORD events = 0;
  if (changed & TIOCM_CTS) events |= EV_CTS;
  if (changed & TIOCM_DSR) events |= EV_DSR;
  if (changed & TIOCM_RNG) events |= EV_RING;
  if (changed & TIOCM_CAR) events |= EV_RLSD;
  return events;
}

DWORD EventsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now) {
  DWORD events = 0;
  if (now.cts != before.cts) events |= EV_CTS;
  if (now.dsr != before.dsr) events |= EV_DSR;
  if (now.rng != before.rng) events |= EV_RING;
  if (now.dcd != before.dcd) events |= EV_RLSD;
  if (now.brk != before.brk) events |= EV_BREAK;
  if (now.frame != before.frame || now.overrun != before.overrun || now.parity != before.parity) events |= EV_ERR;
  return events;
}

DWORD ErrorsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now) {
  DWORD errors = 0;
  if (now.frame != before.frame) errors |= CE_FRAME;
  if (now.overrun != before.overrun) errors |= CE_OVERRUN;
  if (now.parity != before.parity) errors |= CE_RXPARITY;
  if (now.brk != before.brk) errors |= CE_BREAK;
  if (now.buf_overrun != before.buf_overrun) errors |= CE_RXOVER;
  return errors;
}
