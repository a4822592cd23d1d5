#include "platform/posix/fail.h"
#include "platform/posix/serial/serial_port.h"

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
#include "platform/posix/serial/low_latency.h"
#include "platform/posix/serial/termios_dcb.h"

namespace {

// A terminal that was hung up answers every call but a read with EIO (reads
// end at once with nothing); a device that has left answers ENXIO or ENODEV.
bool HangUpErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// What is taken from the device at most to look for the event character
// while nobody reads; the rest waits in the kernel's queue as usual.
constexpr size_t kTakenLimit = 1 << 16;

// The events that only the line state and the driver's counters tell.
constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_BREAK | EV_ERR;

// How often a wait for those looks at the line state and the counters.
constexpr std::chrono::milliseconds kLineLook{15};

// How long a wait for EV_TXEMPTY lets the output queue drain between looks
// at most, and at least.
constexpr int kDrainLookMaxMs = 20;
constexpr int kDrainLookMinMs = 1;

// What the close gives the output beyond its bytes' time on the line: for a
// device's own buffer (a UART's FIFO, an adapter's).
constexpr std::chrono::milliseconds kCloseMargin{100};

// The time one byte takes on the line: start bit, data bits, parity bit and
// stop bits (one and a half counted as two).
std::chrono::microseconds ByteTime(const DCB& dcb) {
  const DWORD bits = 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
  return std::chrono::microseconds(std::uint64_t{bits} * 1000000 / std::max<DWORD>(dcb.BaudRate, 1));
}

// Milliseconds from now until when, at least 0.
int MillisecondsUntil(SerialClock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - SerialClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits until fd is ready for events, or alsoFd (if any) for reading, or the
// closing notice arrives; false on timeout or closing.
bool WaitReady(int fd, short events, int closingFd, int timeoutMs, int alsoFd) {
  pollfd fds[3] = {{fd, events, 0}, {closingFd, POLLIN, 0}, {alsoFd, POLLIN, 0}};
  // A signal ends the wait early; it goes on for what is left of its time,
  // so that signals coming often cannot keep it from ever ending.
  const auto until = SerialClock::now() + std::chrono::milliseconds(timeoutMs);
  int n;
  do n = ::poll(fds, 3, timeoutMs < 0 ? -1 : MillisecondsUntil(until));
  while (n < 0 && errno == EINTR);
  return n > 0 && fds[1].revents == 0;
}

}  // namespace

void CompleteRecord(OVERLAPPED* ov, DWORD error, DWORD bytes) {
  if (!ov) return;
  ov->Internal = error;
  ov->InternalHigh = bytes;
  if (ov->hEvent) SetEvent(ov->hEvent);
}

void StartRecord(OVERLAPPED* ov, std::weak_ptr<RequestDriver> driver) {
  ov->Internal = ERROR_IO_PENDING;
  ov->InternalHigh = 0;
  if (ov->hEvent) ArmEvent(ov->hEvent, std::move(driver));
}

PlainFile::~PlainFile() { ::close(fd); }

DWORD SerialPort::ErrorFrom(int err) {
  if (!HangUpErrno(err)) return Win32ErrorFromErrno(err);
  gone = true;
  return ERROR_BAD_COMMAND;
}

template <class Call>
DWORD SerialPort::WhileOpen(Call call) {
  const Use use(*this);
  if (!use) return ERROR_INVALID_HANDLE;
  if (gone) return ERROR_BAD_COMMAND;
  return call();
}

DWORD SerialPort::Start(const DCB& initial) {
  serialFlags = EnterLowLatency(fd);
  // A pseudo-terminal has neither modem lines nor counters: its line never
  // changes and it counts no errors, so nothing looks at them.
  lineCalls = &CurrentLineCalls();
  hasModemLines = lineCalls->getLines(fd, &lastLines) == 0;
  hasCounters = lineCalls->getCounters(fd, &eventCounts) == 0;
  errorCounts = eventCounts;
  dcb = initial;
  // Bytes that wait already are no arrival.
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) == 0) seenReceived = errorsLookedAt = static_cast<std::uint64_t>(waiting);
  closingFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  takenFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  for (int& changed : changedFds) {
    changed = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (changed < 0) return Win32ErrorFromErrno(errno);
  }
  if (closingFd < 0 || takenFd < 0) return Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DCB SerialPort::State() {
  std::lock_guard lock(mutex);
  return dcb;
}

DWORD SerialPort::SetState(const DCB& wanted) {
  return WhileOpen([&] {
    TerminalSettings settings{};
    if (::tcgetattr(fd, &settings.attributes) != 0) return ErrorFrom(errno);
    if (!TerminalSettingsFromDcb(wanted, settings)) return GetLastError();
    if (!ApplyTerminalSettings(fd, settings)) return ErrorFrom(errno);
    std::lock_guard lock(mutex);
    dcb = wanted;
    return DWORD{ERROR_SUCCESS};
  });
}

COMMTIMEOUTS SerialPort::Timeouts() {
  std::lock_guard lock(mutex);
  return timeouts;
}

void SerialPort::SetTimeouts(const COMMTIMEOUTS& wanted) {
  std::lock_guard lock(mutex);
  timeouts = wanted;
}

DWORD SerialPort::Mask() {
  std::lock_guard lock(mutex);
  return eventMask;
}

DWORD SerialPort::BeginEventWait(DWORD* mask, OVERLAPPED* ov) {
  return WhileOpen([&]() -> DWORD {
    std::unique_lock lock(mutex);
    if (closed) return ERROR_INVALID_HANDLE;  // closed meanwhile: nothing would end the wait
    if (gone) return ERROR_BAD_COMMAND;       // likewise gone
    if (!ov || pendingEvent) return ERROR_INVALID_PARAMETER;
    *mask = 0;
    Look();  // what happened while nobody waited
    if (gone) return ERROR_BAD_COMMAND;
    if (occurred) {
      *mask = occurred;
      occurred = 0;
      CompleteRecord(ov, ERROR_SUCCESS, sizeof(DWORD));
      return ERROR_SUCCESS;
    }
    StartRecord(ov, DriverFor(Concern::Event));
    pendingEvent = EventRequest{ov, mask};
    return ERROR_IO_PENDING;
  });
}

DWORD SerialPort::CountsAndErrors(DWORD* errors, COMSTAT* stat) {
  return WhileOpen([&]() -> DWORD {
    // Under the lock no wait moves bytes from the device into the store of
    // the event character: both parts of the count are of one moment. A
    // count is one ioctl: the output queue is asked only while a write's
    // bytes may wait in it, the counters only when they can have grown.
    std::lock_guard lock(mutex);
    int in = 0;
    if (::ioctl(fd, FIONREAD, &in) != 0) return ErrorFrom(errno);
    const int out = Unsent();
    if (out < 0) return ErrorFrom(errno);
    const DWORD found = TakeErrors(static_cast<size_t>(in));
    if (errors) *errors = found;
    if (stat) {
      *stat = COMSTAT{};
      stat->cbInQue = static_cast<DWORD>(in) + static_cast<DWORD>(taken.size());
      stat->cbOutQue = static_cast<DWORD>(out);
    }
    return ERROR_SUCCESS;
  });
}

DWORD SerialPort::StartRead(OVERLAPPED* ov, void* buffer, DWORD count, DWORD& done) {
  return WhileOpen([&]() -> DWORD {
    std::unique_lock lock(mutex);
    if (closed) return ERROR_INVALID_HANDLE;
    if (gone) return ERROR_BAD_COMMAND;  // gone meanwhile: nothing would end the read
    if (ov && pendingRead) return ERROR_INVALID_PARAMETER;  // one read at a time
    ReadRequest request = NewRead(ov, buffer, count);
    DWORD error = ERROR_SUCCESS;
    if (!Advance(request, error)) {
      if (ov) {
        StartRecord(ov, DriverFor(Concern::Read));
        pendingRead = request;
        return ERROR_IO_PENDING;
      }
      do {  // a caller without a record waits here
        const bool ready = WaitForInput(lock, NextTimeout(request));
        if (!ready && closed) error = ERROR_OPERATION_ABORTED;
      } while (error == ERROR_SUCCESS && !Advance(request, error));
    }
    done = request.done;
    CompleteRecord(ov, error, request.done);
    return error;
  });
}

void SerialPort::Await(OVERLAPPED* ov, bool wait) {
  const Use use(*this);
  std::unique_lock lock(mutex);
  const Concern concern = pendingRead && pendingRead->ov == ov     ? Concern::Read
                          : pendingWrite && pendingWrite->ov == ov ? Concern::Write
                                                                   : Concern::Event;
  if (use)
    Drive(lock, concern, [&] { return ov->Internal != ERROR_IO_PENDING; },
          wait ? std::nullopt : std::optional(SerialClock::now()));
}

DWORD SerialPort::Escape(DWORD function) {
  return WhileOpen([&]() -> DWORD {
    const auto line = [&](unsigned long request, int bit) -> DWORD {
      // No modem-control lines (a pseudo-terminal): the change has nowhere to go.
      return ::ioctl(fd, request, &bit) == 0 || errno == ENOTTY ? ERROR_SUCCESS : ErrorFrom(errno);
    };
    const auto check = [&](int result) -> DWORD { return result == 0 ? ERROR_SUCCESS : ErrorFrom(errno); };
    switch (function) {
      case SETDTR: return line(TIOCMBIS, TIOCM_DTR);
      case CLRDTR: return line(TIOCMBIC, TIOCM_DTR);
      case SETRTS: return line(TIOCMBIS, TIOCM_RTS);
      case CLRRTS: return line(TIOCMBIC, TIOCM_RTS);
      case SETBREAK: return check(::ioctl(fd, TIOCSBRK));
      case CLRBREAK: return check(::ioctl(fd, TIOCCBRK));
      case SETXOFF: return check(::tcflow(fd, TCOOFF));
      case SETXON: return check(::tcflow(fd, TCOON));
      default: return ERROR_INVALID_PARAMETER;
    }
  });
}

DWORD SerialPort::ModemStatus(DWORD& status) {
  return WhileOpen([&]() -> DWORD {
    int lines = 0;
    if (lineCalls->getLines(fd, &lines) != 0) {
      if (errno != ENOTTY) return ErrorFrom(errno);
      lines = 0;  // no modem-control lines: all off
    }
    status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
             ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
    return ERROR_SUCCESS;
  });
}

bool SerialPort::AddTo(int set, std::uint32_t events, std::uint64_t data) {
  const Use use(*this);  // the descriptor stays open meanwhile
  epoll_event member{events, {.u64 = data}};
  return use && ::epoll_ctl(set, EPOLL_CTL_ADD, fd, &member) == 0;
}

void SerialPort::CompleteEvent(DWORD mask, DWORD error) {
  *pendingEvent->mask = mask;
  // A wait that ends with its mask has moved the mask's bytes, as Windows counts them.
  CompleteRecord(pendingEvent->ov, error, error == ERROR_SUCCESS ? sizeof(DWORD) : 0);
  pendingEvent.reset();
  Notify(Concern::Event);
}

void SerialPort::CompleteRead(DWORD error) {
  CompleteRecord(pendingRead->ov, error, pendingRead->done);
  pendingRead.reset();
  Notify(Concern::Read);
}

void SerialPort::EndWrite(const WriteRequest& request, DWORD error) {
  if (request.done > 0 && (eventMask & EV_TXEMPTY)) WatchDrain();
  CompleteRecord(request.ov, error, request.done);
}

void SerialPort::CompleteWrite(DWORD error) {
  EndWrite(*pendingWrite, error);
  pendingWrite.reset();
  Notify(Concern::Write);
}

void SerialPort::Report(DWORD events) {
  occurred |= events & eventMask;
  if (pendingEvent && occurred) {
    CompleteEvent(occurred, ERROR_SUCCESS);
    occurred = 0;
  }
}

DWORD SerialPort::SetMask(DWORD mask) {
  return WhileOpen([&] {
    std::lock_guard lock(mutex);
    // What happened so far is the starting point of the new mask.
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) == 0) seenReceived = consumed + static_cast<std::uint64_t>(waiting);
    if (hasCounters) lineCalls->getCounters(fd, &eventCounts);
    if (hasModemLines) lineCalls->getLines(fd, &lastLines);
    if (!(mask & EV_TXEMPTY)) draining = false;
    eventMask = mask;
    occurred &= mask;
    if (pendingEvent) CompleteEvent(0, ERROR_SUCCESS);
    return DWORD{ERROR_SUCCESS};
  });
}

DWORD SerialPort::Purge(DWORD flags) {
  return WhileOpen([&]() -> DWORD {
    std::lock_guard lock(mutex);
    if ((flags & PURGE_RXABORT) && pendingRead) CompleteRead(ERROR_OPERATION_ABORTED);
    if ((flags & PURGE_TXABORT) && pendingWrite) CompleteWrite(ERROR_OPERATION_ABORTED);
    const bool in = flags & PURGE_RXCLEAR, out = flags & PURGE_TXCLEAR;
    // Bytes thrown away still bring their events: the event character among
    // them is looked for first, and they count as received (the count only
    // grows).
    if (in && (eventMask & EV_RXFLAG)) {
      taken.clear();
      if (const DWORD events = TakeInput()) Report(events);
      taken.clear();
    }
    int waiting = 0;
    if (in && ::ioctl(fd, FIONREAD, &waiting) != 0) return ErrorFrom(errno);
    if ((in || out) && ::tcflush(fd, in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH) != 0)
      return ErrorFrom(errno);
    if (in) {
      Consume(static_cast<size_t>(waiting));
      taken.clear();
    }
    return ERROR_SUCCESS;
  });
}

void SerialPort::Consume(size_t count) {
  consumed += count;
  if (consumed <= seenReceived) return;
  seenReceived = consumed;
  Report(EV_RXCHAR);
}

void SerialPort::EndRequestsGone() {
  if (pendingEvent) CompleteEvent(0, ERROR_BAD_COMMAND);
  if (pendingRead) CompleteRead(ERROR_BAD_COMMAND);
  if (pendingWrite) CompleteWrite(ERROR_BAD_COMMAND);
}

DWORD SerialPort::TakeErrors(size_t waiting) {
  // A pseudo-terminal counts nothing. Elsewhere every break and receive
  // error comes with a byte of its own (a NUL, or the byte in error), so the
  // counters can have grown only when bytes arrived since the last look;
  // only a full input queue drops bytes without counting them as received.
  const std::uint64_t received = consumed + waiting;
  if (!hasCounters || (received == errorsLookedAt && waiting == 0)) return 0;
  errorsLookedAt = received;
  serial_icounter_struct now{};
  if (lineCalls->getCounters(fd, &now) != 0) return 0;
  const DWORD errors = ErrorsFromCounters(errorCounts, now);
  errorCounts = now;
  return errors;
}

int SerialPort::Unsent() {
  if (unsentMayWait) {
    if (::ioctl(fd, TIOCOUTQ, &unsent) != 0) return -1;
    unsentMayWait = unsent > 0;
  }
  return unsent;
}

void SerialPort::WatchDrain() {
  if (draining) return;
  // Often the bytes have left already (always on a pseudo-terminal): the
  // event goes at once.
  if (Unsent() == 0) {
    Report(EV_TXEMPTY);
    return;
  }
  draining = true;
  Notify(Concern::Event);  // a wait under way looks at the queue from now on
}

bool SerialPort::WaitForInput(std::unique_lock<std::mutex>& lock, int timeoutMs) {
  // Bytes taken from now on are announced anew.
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
    Consume(static_cast<size_t>(n));
  }
  if (taken.size() > before) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(takenFd, &one, sizeof one);
  }
  return events;
}

DWORD SerialPort::LineEvents() {
  // The counters also catch a line that changed and changed back (USB
  // drivers count every change); the line state tells the changes of a
  // driver that counts them only now and then (an 8250 counts them only
  // while its modem-status interrupt is on, which CLOCAL leaves off). A
  // call that fails with a hang-up tells of an adapter pulled out.
  DWORD events = 0;
  if (hasCounters) {
    serial_icounter_struct now{};
    if (lineCalls->getCounters(fd, &now) != 0) {
      ErrorFrom(errno);
      return 0;
    }
    events |= EventsFromCounters(eventCounts, now);
    eventCounts = now;
  }
  int lines = 0;
  if (!hasModemLines) return events;
  if (lineCalls->getLines(fd, &lines) != 0) {
    ErrorFrom(errno);
    return events;
  }
  events |= EventsFromLines(lines ^ lastLines);
  lastLines = lines;
  return events;
}

void SerialPort::Look() {
  if (closed) return;
  DWORD seen = 0;
  if (!gone) {
    if (pendingEvent && (eventMask & EV_RXFLAG)) seen |= TakeInput();
    // Reads and purges add what they take to consumed under the same lock:
    // a received count above the last one seen is a new arrival, whoever
    // read it meanwhile.
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
      ErrorFrom(errno);
    } else if (const std::uint64_t received = consumed + static_cast<std::uint64_t>(waiting);
               received > seenReceived) {
      seen |= EV_RXCHAR;
      seenReceived = received;
    }
    if (draining && Unsent() == 0) {
      draining = false;
      seen |= EV_TXEMPTY;
    }
    // A break or a receive error comes with a byte of its own (a NUL): an
    // arrival is a moment to look too.
    const auto now = SerialClock::now();
    if ((eventMask & kLineEvents) && (hasCounters || hasModemLines) && ((seen & EV_RXCHAR) || now >= nextLineLook)) {
      seen |= LineEvents();
      nextLineLook = now + kLineLook;
    }
  }
  if (!gone) Report(seen);
  if (!gone && pendingRead) {
    DWORD error = ERROR_SUCCESS;
    if (Advance(*pendingRead, error)) CompleteRead(error);
  }
  if (!gone && pendingWrite) {
    DWORD error = ERROR_SUCCESS;
    if (AdvanceWrite(*pendingWrite, error)) CompleteWrite(error);
  }
  if (gone) EndRequestsGone();
}

int SerialPort::NextLook(Concern concern) const {
  int next = -1;
  const auto sooner = [&](int ms) {
    if (ms >= 0 && (next < 0 || ms < next)) next = ms;
  };
  switch (concern) {
    case Concern::Read:
      if (pendingRead) sooner(NextTimeout(*pendingRead));
      break;
    case Concern::Write:
      if (pendingWrite && pendingWrite->deadline) sooner(MillisecondsUntil(*pendingWrite->deadline));
      break;
    case Concern::Event:
      if (pendingEvent && (eventMask & kLineEvents) && (hasCounters || hasModemLines))
        sooner(MillisecondsUntil(nextLineLook));
      if (pendingEvent && draining) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(ByteTime(dcb) * unsent).count();
        sooner(static_cast<int>(std::clamp<long long>(left, kDrainLookMinMs, kDrainLookMaxMs)));
      }
      break;
  }
  return next;
}

std::uint32_t SerialPort::Interest(Concern concern) const {
  // A hang-up needs no asking: epoll reports it for any set of events.
  switch (concern) {
    case Concern::Read: return EPOLLIN | EPOLLET;
    case Concern::Write: return EPOLLOUT | EPOLLET;
    case Concern::Event: break;
  }
  return (eventMask & (EV_RXCHAR | EV_RXFLAG)) ? EPOLLIN | EPOLLET : EPOLLET;
}

void SerialPort::Notify(Concern concern) {
  const auto at = static_cast<size_t>(concern);
  if (drivers[at] == 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(changedFds[at], &one, sizeof one);
}

SerialPort::WaitSet SerialPort::TakeWaitSet(Concern concern) {
  const auto idle = std::find_if(idleWaitSets.begin(), idleWaitSets.end(),
                                 [&](const WaitSet& set) { return set.concern == concern; });
  if (idle != idleWaitSets.end()) {
    const WaitSet set = *idle;
    idleWaitSets.erase(idle);
    return set;
  }
  // Edge-triggered: one notice for each arrival (or room to write), none
  // for bytes that wait unread, and one for each Notify of the concern.
  const int set = ::epoll_create1(EPOLL_CLOEXEC);
  const std::uint32_t interest = Interest(concern);
  epoll_event device{interest, {.fd = fd}};
  epoll_event closing{EPOLLIN, {.fd = closingFd}};
  epoll_event changed{EPOLLIN | EPOLLET, {.fd = changedFds[static_cast<size_t>(concern)]}};
  if (set >= 0 && (::epoll_ctl(set, EPOLL_CTL_ADD, fd, &device) != 0 ||
                   ::epoll_ctl(set, EPOLL_CTL_ADD, closingFd, &closing) != 0 ||
                   ::epoll_ctl(set, EPOLL_CTL_ADD, changed.data.fd, &changed) != 0)) {
    ::close(set);
    return {-1, concern, 0};
  }
  return {set, concern, interest};
}

void SerialPort::Drive(std::unique_lock<std::mutex>& lock, Concern concern, const std::function<bool()>& done,
                       std::optional<SerialClock::time_point> deadline) {
  ++drivers[static_cast<size_t>(concern)];
  WaitSet waitSet = TakeWaitSet(concern);
  for (;;) {
    Look();
    if (done() || closed || gone) break;
    int timeout = NextLook(concern);
    if (deadline) {
      const int left = MillisecondsUntil(*deadline);
      if (left == 0) break;
      timeout = timeout < 0 ? left : std::min(timeout, left);
    }
    // The device wakes the wait only for what it waits for: arrivals for a
    // read and for an event wait that watches them, room for a write.
    const std::uint32_t interest = Interest(concern);
    if (waitSet.fd >= 0 && waitSet.interest != interest) {
      epoll_event device{interest, {.fd = fd}};
      if (::epoll_ctl(waitSet.fd, EPOLL_CTL_MOD, fd, &device) == 0) waitSet.interest = interest;
    }
    lock.unlock();
    epoll_event ready[3];
    int n = 0;
    if (waitSet.fd >= 0 && waitSet.interest == interest) {
      n = ::epoll_wait(waitSet.fd, ready, 3, timeout);
    } else {
      // No descriptor left for a set: looks at short intervals instead.
      ::poll(nullptr, 0, timeout < 0 ? kDrainLookMaxMs : std::min(timeout, kDrainLookMaxMs));
    }
    lock.lock();
    for (int i = 0; i < n; ++i)
      if (ready[i].data.fd == fd && (ready[i].events & (EPOLLHUP | EPOLLERR))) gone = true;
  }
  if (waitSet.fd >= 0) idleWaitSets.push_back(waitSet);
  --drivers[static_cast<size_t>(concern)];
}

void SerialPort::Driver::DriveUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const Use use(port);
  if (!use) return;
  std::optional<SerialClock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = SerialClock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(port.mutex);
  port.Drive(lock, concern, done, deadline);
}

std::weak_ptr<RequestDriver> SerialPort::DriverFor(Concern concern) {
  return std::shared_ptr<RequestDriver>(shared_from_this(), &requestDrivers[static_cast<size_t>(concern)]);
}

bool SerialPort::Advance(ReadRequest& request, DWORD& error) {
  if (!taken.empty() && request.done < request.count) {
    const size_t n = std::min<size_t>(taken.size(), request.count - request.done);
    taken.copy(request.buffer + request.done, n);
    taken.erase(0, n);
    request.done += static_cast<DWORD>(n);
    request.lastByte = SerialClock::now();
  }
  while (request.done < request.count) {
    const ssize_t n = ::read(fd, request.buffer + request.done, request.count - request.done);
    if (n > 0) {
      // Bytes read before the watch saw them still bring their event.
      if ((eventMask & EV_RXFLAG) && std::memchr(request.buffer + request.done, dcb.EvtChar, static_cast<size_t>(n)))
        Report(EV_RXFLAG);
      request.done += static_cast<DWORD>(n);
      request.lastByte = SerialClock::now();
      Consume(static_cast<size_t>(n));
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

WriteRequest SerialPort::NewWrite(OVERLAPPED* ov, const void* bytes, DWORD count) const {
  WriteRequest request{ov, static_cast<const char*>(bytes), count, 0, std::nullopt};
  const std::uint64_t total =
      std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count + timeouts.WriteTotalTimeoutConstant;
  if (total) request.deadline = SerialClock::now() + std::chrono::milliseconds(total);
  return request;
}

bool SerialPort::AdvanceWrite(WriteRequest& request, DWORD& error) {
  while (request.done < request.count) {
    const ssize_t n = ::write(fd, request.bytes + request.done, request.count - request.done);
    if (n > 0) {
      request.done += static_cast<DWORD>(n);
      unsentMayWait = true;
    } else if (n < 0 && errno == EAGAIN) {
      // A write timeout ends it with what went out so far.
      return request.deadline && SerialClock::now() >= *request.deadline;
    } else if (n < 0 && errno != EINTR) {
      error = ErrorFrom(errno);
      return true;
    }
  }
  return true;
}

DWORD SerialPort::Write(OVERLAPPED* ov, const void* bytes, DWORD count, DWORD& done) {
  return WhileOpen([&]() -> DWORD {
    std::unique_lock lock(mutex);
    // A caller without a record waits for the write before it, if any.
    if (!ov) Drive(lock, Concern::Write, [&] { return !pendingWrite; }, std::nullopt);
    if (closed) return ERROR_INVALID_HANDLE;  // closed meanwhile: nothing would end the write
    if (gone) return ERROR_BAD_COMMAND;
    if (pendingWrite) return ERROR_INVALID_PARAMETER;  // one write at a time
    OVERLAPPED own{};
    WriteRequest request = NewWrite(ov ? ov : &own, bytes, count);
    DWORD error = ERROR_SUCCESS;
    if (AdvanceWrite(request, error)) {
      EndWrite(request, error);
      done = request.done;
      return error;
    }
    StartRecord(request.ov, DriverFor(Concern::Write));
    pendingWrite = request;
    if (ov) return ERROR_IO_PENDING;
    Drive(lock, Concern::Write, [&] { return own.Internal != ERROR_IO_PENDING; }, std::nullopt);
    if (own.Internal == ERROR_IO_PENDING) CompleteWrite(ERROR_OPERATION_ABORTED);  // the record is about to go
    done = static_cast<DWORD>(own.InternalHigh);
    return static_cast<DWORD>(own.Internal);
  });
}

void SerialPort::DrainBeforeClose() {
  int queuedOut = 0;
  if (::ioctl(fd, TIOCOUTQ, &queuedOut) != 0 || queuedOut == 0) return;
  std::chrono::microseconds perByte;
  {
    std::lock_guard lock(mutex);
    perByte = ByteTime(dcb);
  }
  const auto until = SerialClock::now() + perByte * (queuedOut + 1) + kCloseMargin;
  while (SerialClock::now() < until) {
    if (::ioctl(fd, TIOCOUTQ, &queuedOut) != 0 || queuedOut == 0) return;
    ::poll(nullptr, 0, std::min(MillisecondsUntil(until), 5));
  }
  ::tcflush(fd, TCOFLUSH);
}

void SerialPort::Close() {
  {
    std::lock_guard lock(mutex);
    if (closed) return;
    closed = true;
    if (pendingEvent) CompleteEvent(0, ERROR_OPERATION_ABORTED);
    if (pendingRead) CompleteRead(ERROR_OPERATION_ABORTED);
    if (pendingWrite) CompleteWrite(ERROR_OPERATION_ABORTED);
  }
  if (closingFd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(closingFd, &one, sizeof one);
  }
  std::unique_lock until(fdUse);  // no call uses the descriptor any more, and no wait drives the port
  if (!gone) DrainBeforeClose();
  if (serialFlags) RestoreSerialFlags(fd, path, *serialFlags);
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  for (const WaitSet& set : idleWaitSets) ::close(set.fd);
  for (const int notice : {closingFd, takenFd, changedFds[0], changedFds[1], changedFds[2]})
    if (notice >= 0) ::close(notice);
}
