#include "platform/posix/fail.h"
#include "platform/posix/serial_port.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/errors.h"
#include "platform/posix/low_latency.h"

namespace {

// A terminal that was hung up answers every call but a read with EIO (reads
// end at once with nothing); a device that has left answers ENXIO or ENODEV.
bool HangUpErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// What the watch takes from the device at most while nobody reads; the rest
// waits in the kernel's queue as usual.
constexpr size_t kTakenLimit = 1 << 16;

constexpr std::uint32_t kWatchInput = EPOLLIN | EPOLLET;

// What the close gives the output beyond its bytes' time on the line: for a
// device's own buffer (a UART's FIFO, an adapter's).
constexpr std::chrono::milliseconds kCloseMargin{100};

}  // namespace

void CompleteRecord(OVERLAPPED* ov, DWORD error, DWORD bytes) {
  if (!ov) return;
  ov->Internal = error;
  ov->InternalHigh = bytes;
  if (ov->hEvent) SetEvent(ov->hEvent);
}

void StartRecord(OVERLAPPED* ov) {
  ov->Internal = ERROR_IO_PENDING;
  ov->InternalHigh = 0;
  if (ov->hEvent) ResetEvent(ov->hEvent);
}

bool WaitReady(int fd, short events, int closingFd, int timeoutMs, int alsoFd) {
  pollfd fds[3] = {{fd, events, 0}, {closingFd, POLLIN, 0}, {alsoFd, POLLIN, 0}};
  int n;
  do n = ::poll(fds, 3, timeoutMs);
  while (n < 0 && errno == EINTR);
  return n > 0 && fds[1].revents == 0;
}

int MillisecondsUntil(SerialClock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - SerialClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

PlainFile::~PlainFile() { ::close(fd); }

SerialPort::Use::Use(SerialPort& port) : lock(port.fdUse), open(!port.closed) {
  if (!open) SetLastError(ERROR_INVALID_HANDLE);
}

DWORD SerialPort::ErrorFrom(int err) {
  if (!HangUpErrno(err)) return Win32ErrorFromErrno(err);
  gone = true;
  return ERROR_BAD_COMMAND;
}

BOOL SerialPort::Fail(int err) { return FailWith(ErrorFrom(err)); }

bool SerialPort::Start(const DCB& initial) {
  // A pseudo-terminal has neither modem lines nor counters: its line never
  // changes and it counts no errors, so nothing waits for them.
  lineCalls = &CurrentLineCalls();
  hasModemLines = lineCalls->getLines(fd, &lastLines) == 0;
  hasCounters = lineCalls->getCounters(fd, &eventCounts) == 0;
  errorCounts = eventCounts;
  dcb = initial;
  closingFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  takenFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (closingFd < 0 || takenFd < 0 || epollFd < 0) return FailWithErrno(errno);
  // Edge-triggered: one notice for each arrival, none for bytes that wait.
  epoll_event in{kWatchInput, {.fd = fd}};
  epoll_event closing{EPOLLIN, {.fd = closingFd}};
  if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &in) != 0 ||
      ::epoll_ctl(epollFd, EPOLL_CTL_ADD, closingFd, &closing) != 0)
    return FailWithErrno(errno);
  monitor = std::thread([this] { Monitor(); });
  if (hasModemLines) lineWatch.Start([this](const std::atomic<bool>& stopping) { WatchLines(stopping); });
  return TRUE;
}

void SerialPort::CompleteEvent(DWORD mask, DWORD error) {
  *pendingEvent->mask = mask;
  CompleteRecord(pendingEvent->ov, error, 0);
  pendingEvent.reset();
  completed.notify_all();
}

void SerialPort::CompleteRead(DWORD error) {
  CompleteRecord(pendingRead->ov, error, pendingRead->done);
  pendingRead.reset();
  completed.notify_all();
}

void SerialPort::Report(DWORD events) {
  occurred |= events & eventMask;
  if (pendingEvent && occurred) {
    CompleteEvent(occurred, ERROR_SUCCESS);
    occurred = 0;
  }
}

void SerialPort::EndRequestsGone() {
  if (pendingEvent) CompleteEvent(0, ERROR_BAD_COMMAND);
  if (pendingRead) CompleteRead(ERROR_BAD_COMMAND);
}

DWORD SerialPort::TakeErrors() {
  if (!hasCounters) return 0;
  std::lock_guard lock(mutex);
  serial_icounter_struct now{};
  if (lineCalls->getCounters(fd, &now) != 0) return 0;
  const DWORD errors = ErrorsFromCounters(errorCounts, now);
  errorCounts = now;
  return errors;
}

void SerialPort::WatchDrain() {
  if (draining) return;
  // Often the bytes have left already (always on a pseudo-terminal): the
  // event goes at once, and the watch is not woken for it.
  int unsent = 0;
  if (::ioctl(fd, TIOCOUTQ, &unsent) == 0 && unsent == 0) {
    Report(EV_TXEMPTY);
    return;
  }
  draining = true;
  // Re-arming the device's notice with EPOLLOUT wakes the watch at once if
  // there is room for output, and again whenever the driver sends some.
  epoll_event both{kWatchInput | EPOLLOUT, {.fd = fd}};
  ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &both);
}

bool SerialPort::WaitForInput(std::unique_lock<std::mutex>& lock, int timeoutMs) {
  // Bytes the watch takes from now on are announced anew.
  std::uint64_t notices = 0;
  [[maybe_unused]] const auto cleared = ::read(takenFd, &notices, sizeof notices);
  lock.unlock();
  const bool ready = WaitReady(fd, POLLIN, closingFd, timeoutMs, takenFd);
  lock.lock();
  return ready;
}

DWORD SerialPort::TakeInput() {
  DWORD events = 0;
  const size_t before = taken.size();
  char buffer[4096];
  while (taken.size() < kTakenLimit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kTakenLimit - taken.size()));
    if (n <= 0) break;  // nothing more now; a failure shows at the next read
    if (std::memchr(buffer, dcb.EvtChar, static_cast<size_t>(n))) events |= EV_RXFLAG;
    taken.append(buffer, static_cast<size_t>(n));
  }
  if (taken.size() > before) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(takenFd, &one, sizeof one);
  }
  return events;
}

DWORD SerialPort::LineEvents() {
  // The counters also catch a line that changed and changed back.
  if (hasCounters) {
    serial_icounter_struct now{};
    if (lineCalls->getCounters(fd, &now) != 0) return 0;
    const DWORD events = EventsFromCounters(eventCounts, now);
    eventCounts = now;
    return events;
  }
  int lines = 0;
  if (!hasModemLines || lineCalls->getLines(fd, &lines) != 0) return 0;
  const DWORD events = EventsFromLines(lines ^ lastLines);
  lastLines = lines;
  return events;
}

void SerialPort::WatchLines(const std::atomic<bool>& stopping) {
  while (!stopping && !gone) {
    if (lineCalls->waitChange(fd, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) != 0) {
      if (errno == EINTR) continue;
      // An adapter pulled out ends the wait with its hang-up; a driver
      // without the call (ENOTTY, EINVAL) cannot tell, and nothing is lost.
      if (HangUpErrno(errno)) {
        gone = true;
        std::lock_guard lock(mutex);
        EndRequestsGone();
      }
      return;
    }
    std::lock_guard lock(mutex);
    Report(LineEvents());
  }
}

bool SerialPort::Advance(ReadRequest& request, DWORD& error) {
  if (!taken.empty() && request.done < request.count) {
    const size_t n = std::min<size_t>(taken.size(), request.count - request.done);
    taken.copy(request.buffer + request.done, n);
    taken.erase(0, n);
    request.done += static_cast<DWORD>(n);
    request.lastByte = SerialClock::now();
    queued -= std::min(queued, static_cast<DWORD>(n));
  }
  while (request.done < request.count) {
    const ssize_t n = ::read(fd, request.buffer + request.done, request.count - request.done);
    if (n > 0) {
      // Bytes read before the watch saw them still bring their event.
      if ((eventMask & EV_RXFLAG) && std::memchr(request.buffer + request.done, dcb.EvtChar, static_cast<size_t>(n)))
        Report(EV_RXFLAG);
      request.done += static_cast<DWORD>(n);
      request.lastByte = SerialClock::now();
      queued -= std::min(queued, static_cast<DWORD>(n));
    } else if (n == 0) {
      // The end of the input: a hung-up line (every query fails then), or
      // nothing now on a line set to return at once.
      int waiting = 0;
      if (::ioctl(fd, FIONREAD, &waiting) == 0) break;
      error = ErrorFrom(errno);
      return true;
    } else if (errno == EAGAIN) {
      break;
    } else if (errno != EINTR) {
      error = ErrorFrom(errno);
      return true;
    }
  }
  if (request.done == request.count) return true;
  if (request.done > 0 && request.anyByte) return true;
  const auto now = SerialClock::now();
  if (request.deadline && now >= *request.deadline) return true;
  return request.done > 0 && request.interval && now - request.lastByte >= std::chrono::milliseconds(request.interval);
}

int SerialPort::NextTimeout(const ReadRequest& request) {
  std::optional<SerialClock::time_point> next = request.deadline;
  if (request.done > 0 && request.interval) {
    const auto gap = request.lastByte + std::chrono::milliseconds(request.interval);
    if (!next || gap < *next) next = gap;
  }
  return next ? MillisecondsUntil(*next) : -1;
}

ReadRequest SerialPort::NewRead(OVERLAPPED* ov, void* buffer, DWORD count) const {
  ReadRequest request{ov, static_cast<char*>(buffer), count, 0, std::nullopt, 0, SerialClock::now(), false};
  const COMMTIMEOUTS& t = timeouts;
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
    request.deadline = request.lastByte;  // what is there, at once
  } else if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD) {
    request.anyByte = true;
    request.deadline = request.lastByte + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
  } else {
    const std::uint64_t total = std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
    if (total) request.deadline = request.lastByte + std::chrono::milliseconds(total);
    if (t.ReadIntervalTimeout != MAXDWORD) request.interval = t.ReadIntervalTimeout;
  }
  return request;
}

bool SerialPort::DrivePendingRead(std::unique_lock<std::mutex>& lock, OVERLAPPED* ov, bool wait) {
  while (pendingRead && pendingRead->ov == ov) {
    DWORD error = ERROR_SUCCESS;
    if (Advance(*pendingRead, error)) {
      CompleteRead(error);
      break;
    }
    if (!wait) return FailWith(ERROR_IO_INCOMPLETE);
    WaitForInput(lock, NextTimeout(*pendingRead));
  }
  return true;
}

void SerialPort::Monitor() {
  for (;;) {
    epoll_event ready[2];
    const int n = ::epoll_wait(epollFd, ready, 2, -1);
    if (closed) return;
    std::uint32_t device = 0;  // what epoll reports for the device
    for (int i = 0; i < n; ++i)
      if (ready[i].data.fd == fd) device |= ready[i].events;
    if (device & (EPOLLHUP | EPOLLERR)) gone = true;
    std::unique_lock lock(mutex);
    if (gone) {
      // Nothing will come any more: the requests end, and so does the watch,
      // rather than waking for a device that is not there.
      EndRequestsGone();
      lock.unlock();
      lineWatch.Stop();
      return;
    }
    DWORD seen = 0;
    if (device & EPOLLIN) {
      if (eventMask & EV_RXFLAG) seen |= TakeInput();
      // Reads and purges keep the count of known bytes under the same lock,
      // so more bytes than known are a new arrival.
      int waiting = 0;
      if (::ioctl(fd, FIONREAD, &waiting) == 0) {
        const DWORD known = static_cast<DWORD>(waiting) + static_cast<DWORD>(taken.size());
        if (known > queued) seen |= EV_RXCHAR;
        queued = known;
      }
      // A break or a receive error comes with a byte of its own (a NUL).
      if (hasCounters) seen |= LineEvents();
    }
    int unsent = 0;
    if (draining && ::ioctl(fd, TIOCOUTQ, &unsent) == 0 && unsent == 0) {
      draining = false;
      seen |= EV_TXEMPTY;
      epoll_event in{kWatchInput, {.fd = fd}};
      ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &in);
    }
    Report(seen);
  }
}

void SerialPort::LetOutputLeave() {
  int unsent = 0;
  if (::ioctl(fd, TIOCOUTQ, &unsent) != 0 || unsent == 0) return;
  std::chrono::microseconds perByte;
  {
    std::lock_guard lock(mutex);
    // Start bit, data bits, parity bit, stop bits (one and a half as two).
    const DWORD bits = 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
    perByte = std::chrono::microseconds(std::uint64_t{bits} * 1000000 / std::max<DWORD>(dcb.BaudRate, 1));
  }
  const auto until = SerialClock::now() + perByte * (unsent + 1) + kCloseMargin;
  while (SerialClock::now() < until) {
    if (::ioctl(fd, TIOCOUTQ, &unsent) != 0 || unsent == 0) return;
    ::poll(nullptr, 0, std::min(MillisecondsUntil(until), 5));
  }
  ::tcflush(fd, TCOFLUSH);
}

void SerialPort::Shutdown() {
  {
    std::lock_guard lock(mutex);
    if (closed) return;
    closed = true;
    if (pendingEvent) CompleteEvent(0, ERROR_OPERATION_ABORTED);
    if (pendingRead) CompleteRead(ERROR_OPERATION_ABORTED);
  }
  if (closingFd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(closingFd, &one, sizeof one);
  }
  if (monitor.joinable()) monitor.join();
  lineWatch.Stop();
  std::unique_lock until(fdUse);  // no call uses the descriptor any more
  if (!gone) LetOutputLeave();
  if (serialFlags) RestoreSerialFlags(fd, path, *serialFlags);
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  if (epollFd >= 0) ::close(epollFd);
  if (closingFd >= 0) ::close(closingFd);
  if (takenFd >= 0) ::close(takenFd);
}
