#include "platform/posix/fail.h"
#include "platform/posix/serial_port.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/errors.h"

namespace {

// How often the modem lines of a real device are compared while nothing else
// happens; the kernel offers no pollable notice for them.
constexpr int kModemLinePollMs = 50;

// A terminal that was hung up answers every call but a read with EIO (reads
// end at once with nothing); a device that has left answers ENXIO or ENODEV.
bool HangUpErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

DWORD LineEvents(int changed) {
  DWORD events = 0;
  if (changed & TIOCM_CTS) events |= EV_CTS;
  if (changed & TIOCM_DSR) events |= EV_DSR;
  if (changed & TIOCM_RNG) events |= EV_RING;
  if (changed & TIOCM_CAR) events |= EV_RLSD;
  return events;
}

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

bool WaitReady(int fd, short events, int closingFd, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {closingFd, POLLIN, 0}};
  int n;
  do n = ::poll(fds, 2, timeoutMs);
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
  int lines = 0;
  hasModemLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
  lastLines = lines;
  dcb = initial;
  closingFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (closingFd < 0 || epollFd < 0) return FailWithErrno(errno);
  // Edge-triggered: one notice for each arrival, none for bytes that wait.
  epoll_event in{EPOLLIN | EPOLLET, {.fd = fd}};
  epoll_event closing{EPOLLIN, {.fd = closingFd}};
  if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &in) != 0 ||
      ::epoll_ctl(epollFd, EPOLL_CTL_ADD, closingFd, &closing) != 0)
    return FailWithErrno(errno);
  monitor = std::thread([this] { Monitor(); });
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

bool SerialPort::Advance(ReadRequest& request, DWORD& error) {
  while (request.done < request.count) {
    const ssize_t n = ::read(fd, request.buffer + request.done, request.count - request.done);
    if (n > 0) {
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
    const int timeout = NextTimeout(*pendingRead);
    lock.unlock();
    WaitReady(fd, POLLIN, closingFd, timeout);
    lock.lock();
  }
  return true;
}

void SerialPort::Monitor() {
  for (;;) {
    epoll_event ready[2];
    const int n = ::epoll_wait(epollFd, ready, 2, hasModemLines ? kModemLinePollMs : -1);
    if (closed) return;
    std::uint32_t device = 0;  // what epoll reports for the device
    for (int i = 0; i < n; ++i)
      if (ready[i].data.fd == fd) device |= ready[i].events;
    DWORD seen = 0;
    int lines = 0;
    if (hasModemLines) {
      if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        seen |= LineEvents(lines ^ lastLines);
        lastLines = lines;
      } else {
        ErrorFrom(errno);
      }
    }
    if (device & (EPOLLHUP | EPOLLERR)) gone = true;
    std::lock_guard lock(mutex);
    if (gone) {
      // Nothing will come any more: the requests end, and so does the watch,
      // rather than waking for a device that is not there.
      if (pendingEvent) CompleteEvent(0, ERROR_BAD_COMMAND);
      if (pendingRead) CompleteRead(ERROR_BAD_COMMAND);
      return;
    }
    // Reads and purges keep the count of known bytes under the same lock,
    // so more bytes than known are a new arrival.
    int waiting = 0;
    if ((device & EPOLLIN) && ::ioctl(fd, FIONREAD, &waiting) == 0) {
      if (static_cast<DWORD>(waiting) > queued) seen |= EV_RXCHAR;
      queued = static_cast<DWORD>(waiting);
    }
    occurred |= seen & eventMask;
    if (pendingEvent && occurred) {
      CompleteEvent(occurred, ERROR_SUCCESS);
      occurred = 0;
    }
  }
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
  std::unique_lock until(fdUse);  // no call uses the descriptor any more
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  if (epollFd >= 0) ::close(epollFd);
  if (closingFd >= 0) ::close(closingFd);
}
