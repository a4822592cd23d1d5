// Arrivals through an epoll set of the port's own: edge-triggered, so that
// every batch of bytes the driver receives is one notice, however long the
// bytes then wait in the input queue. The serial stand-in's own watch is a
// separate set and is not disturbed; where it takes bytes off the device
// itself (to look for the event character), its notice of each take is in
// the set too, so that a count taken just while it moved them is followed
// by another notice.
#include "platform/PortWait.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "platform/posix/serial_port.h"

PortArrivals::PortArrivals(HANDLE port) {
  const auto serial = ObjectFromHandleAs<SerialPort>(port);
  if (!serial) return;
  const SerialPort::Use use(*serial);  // the descriptor stays open meanwhile
  if (!use) return;
  watch = ::epoll_create1(EPOLL_CLOEXEC);
  // Closing the device later takes it out of the set by itself.
  epoll_event in{EPOLLIN | EPOLLET, {}};
  epoll_event taken{EPOLLIN | EPOLLET, {}};
  if (watch >= 0 && (::epoll_ctl(watch, EPOLL_CTL_ADD, serial->fd, &in) != 0 ||
                     ::epoll_ctl(watch, EPOLL_CTL_ADD, serial->TakenNotice(), &taken) != 0)) {
    ::close(watch);
    watch = -1;
  }
}

PortArrivals::~PortArrivals() {
  if (watch >= 0) ::close(watch);
}

bool PortArrivals::Wait(int timeoutMs) {
  if (watch < 0) {
    ::poll(nullptr, 0, timeoutMs);
    return false;
  }
  epoll_event events[2];
  return ::epoll_wait(watch, events, 2, timeoutMs) > 0;
}

void PortArrivals::Forget() {
  if (watch < 0) return;
  epoll_event events[2];
  ::epoll_wait(watch, events, 2, 0);
}
