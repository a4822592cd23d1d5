// Notice of bytes arriving at a serial port, for a thread that polls the
// port's input-queue count and rests between polls: it wakes at the next
// arrival instead of running flat out, and misses none that came after its
// previous wait. One declaration for every platform; the POSIX version lives
// in platform/posix.
#pragma once

#include "platform/winapi.h"

class PortArrivals {
 public:
  // Watches the serial port that CreateFileA opened as port. For any other
  // handle nothing is ever noticed, and a wait lasts its whole time. The
  // Windows version notices nothing yet, and its waits return at once.
  explicit PortArrivals(HANDLE port);
  ~PortArrivals();
  PortArrivals(const PortArrivals&) = delete;
  PortArrivals& operator=(const PortArrivals&) = delete;

  // Waits at most timeoutMs for bytes that arrived after the previous wait
  // (or Forget); true when some did. A signal to the thread ends it early.
  bool Wait(int timeoutMs);

  // For an event loop that waits on descriptors itself: one that polls
  // readable while an arrival has not been waited for or forgotten; -1 when
  // nothing is watched.
  int Descriptor() const { return watch; }
  // Takes note of the arrivals so far, as a wait that ends at once would.
  void Forget();

 private:
  int watch = -1;
};
