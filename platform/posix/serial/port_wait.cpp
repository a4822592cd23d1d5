// Arrivals through an epoll set of the port's own: edge-triggered, so that
// every batch of bytes the driver receives is one notice, however long the
// bytes then wait in the input queue. The waits that drive the serial
// stand-in use sets of their own and are not disturbed; where one takes
// bytes off the device (to look for the event character), its notice of
// each take is in the set too, so that a count taken just while it moved
// them is followed by another notice. A periodic timer in the same set is
// the heartbeat.
#include "platform/PortWait.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/posix/serial/serial_port.h"

namespace {

// What each member of the set stands for.
enum Member : std::uint32_t { Device, Taken, Heartbeat };

}  // namespace

PortArrivals::PortArrivals(HANDLE port) {
  const auto serial = ObjectFromHandleAs<SerialPort>(port);
  if (!serial) return;
  watch = ::epoll_create1(EPOLL_CLOEXEC);
  heartbeat = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  const timespec period{0, HeartbeatMs * 1000000L};
  const itimerspec ticks{period, period};
  // Closing the device later takes it out of the set by itself. The timer
  // ticks again once its ticks have been read (CollectNotices).
  epoll_event taken{EPOLLIN | EPOLLET, {.u32 = Taken}};
  epoll_event tick{EPOLLIN | EPOLLET, {.u32 = Heartbeat}};
  if (watch < 0 || heartbeat < 0 || ::timerfd_settime(heartbeat, 0, &ticks, nullptr) != 0 ||
      !serial->AddTo(watch, EPOLLIN | EPOLLET, Device) ||
      ::epoll_ctl(watch, EPOLL_CTL_ADD, serial->TakenNotice(), &taken) != 0 ||
      ::epoll_ctl(watch, EPOLL_CTL_ADD, heartbeat, &tick) != 0) {
    if (watch >= 0) ::close(watch);
    watch = -1;
  }
}

PortArrivals::~PortArrivals() {
  if (watch >= 0) ::close(watch);
  if (heartbeat >= 0) ::close(heartbeat);
}

bool PortArrivals::Wait(int timeoutMs) {
  if (watch < 0) {
    ::poll(nullptr, 0, timeoutMs);
    return false;
  }
  return CollectNotices(timeoutMs);
}

void PortArrivals::Forget() {
  if (watch >= 0) CollectNotices(0);
}

bool PortArrivals::CollectNotices(int timeoutMs) {
  epoll_event events[3];
  const int n = ::epoll_wait(watch, events, 3, timeoutMs);
  bool arrived = false;
  for (int i = 0; i < n; ++i) {
    if (events[i].data.u32 != Heartbeat) {
      arrived = true;
    } else {
      // The timer starts its next period only once its ticks are read.
      std::uint64_t ticks = 0;
      [[maybe_unused]] const auto read = ::read(heartbeat, &ticks, sizeof ticks);
    }
  }
  return arrived;
}
