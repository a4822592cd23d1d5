// What a real serial line tells beyond its data: changes of the modem lines
// (TIOCMIWAIT, which blocks until one happens), and the driver's counters of
// line changes, breaks and receive errors (TIOCGICOUNT), turned into Win32's
// EV_ events and CE_ error flags. A pseudo-terminal answers all of these
// ioctls with ENOTTY: it has no modem lines and counts no errors. Internal to
// the serial stand-in.
#pragma once

#include <linux/serial.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/posix/types.h"

// The driver's modem-line calls: the real ioctls unless tests play a device
// that has them. Each gives 0, or -1 with errno set. waitChange blocks until
// one of the lines in mask (TIOCM_ bits) changes; a signal ends it with EINTR.
struct LineCalls {
  int (*waitChange)(int fd, int mask);
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

// A thread that sits in a driver call which nothing but a signal ends (no
// close, no timeout). Stop sends it a signal of its own, again every few
// milliseconds in case one came just before the call began, until the body
// has returned; the signal does nothing else.
class BlockedCallThread {
 public:
  BlockedCallThread() = default;
  BlockedCallThread(const BlockedCallThread&) = delete;
  BlockedCallThread& operator=(const BlockedCallThread&) = delete;
  ~BlockedCallThread() { Stop(); }

  // body runs until stopping is set (or it is done by itself); a call that
  // fails with EINTR means: look at stopping.
  void Start(std::function<void(const std::atomic<bool>& stopping)> body);
  // Ends the body and joins the thread; nothing when none runs. Not from the
  // thread itself, nor from two threads at once.
  void Stop();

 private:
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};
