// Notice of bytes arriving at a serial port, for a thread that polls the
// port's input-queue count and rests between polls: it wakes at the next
// arrival instead of running flat out, and misses none that came after its
// previous wait. One declaration for every platform; the POSIX version lives
// in platform/posix.
#pragma once

#include "platform/winapi.h"

class PortArrivals {
 public:
  // A watched port also gives a heartbeat this often: every wait ends by
  // then at the latest, even one without a time limit, so that a signal
  // that came just before a wait began is seen soon. A ticking timer costs
  // less than one armed for each of many short waits.
  static constexpr int HeartbeatMs = 20;

  // Watches the serial port that CreateFileA opened as port. For any other
  // handle nothing is ever noticed, and a wait lasts its whole time. The
  // Windows version notices nothing yet, and its waits return at once.
  explicit PortArrivals(HANDLE port);
  ~PortArrivals();
  PortArrivals(const PortArrivals&) = delete;
  PortArrivals& operator=(const PortArrivals&) = delete;

  // Whether arrivals (and the heartbeat) end waits: false where nothing is
  // watched, so that a caller bounds its waits itself.
  bool Notices() const { return watch >= 0; }

  // Waits at most timeoutMs (-1: up to the heartbeat) for bytes that arrived
  // after the previous wait (or Forget); true when some did. A signal to the
  // thread ends it early.
  bool Wait(int timeoutMs);

  // For an event loop that waits on descriptors itself: one that polls
  // readable while an arrival or a heartbeat has not been waited for or
  // forgotten; -1 when nothing is watched.
  int Descriptor() const { return watch; }
  // Takes note of the arrivals so far, as a wait that ends at once would.
  void Forget();

 private:
  // Waits for the notices in the set, takes note of them, and tells whether
  // bytes arrived.
  bool CollectNotices(int timeoutMs);

  int watch = -1;
  int heartbeat = -1;
};
