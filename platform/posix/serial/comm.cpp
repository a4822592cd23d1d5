// The serial functions of Win32 over the port objects of serial_port.h and
// the settings translation of termios_dcb.h.
#include "platform/posix/fail.h"
#include "platform/posix/serial/comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/posix/comdevices.h"
#include "platform/posix/device_users.h"
#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/serial/low_latency.h"
#include "platform/posix/serial/serial_port.h"
#include "platform/posix/serial/termios_dcb.h"

namespace {

std::shared_ptr<SerialPort> PortFrom(HANDLE handle) {
  auto port = ObjectFromHandleAs<SerialPort>(handle);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

// Runs action on the port's state under its lock.
template <class Action>
BOOL WithPortState(HANDLE handle, Action action) {
  const auto port = PortFrom(handle);
  if (!port) return FALSE;
  std::lock_guard lock(port->mutex);
  action(*port);
  return TRUE;
}

// Runs call on the port behind the handle while its descriptor stays open;
// FALSE with ERROR_INVALID_HANDLE for a handle that is no open port, and
// with ERROR_BAD_COMMAND for a device that has gone.
template <class Call>
BOOL WithOpenPort(HANDLE handle, Call call) {
  const auto port = PortFrom(handle);
  if (!port) return FALSE;
  SerialPort::Use use(*port);
  if (!use) return FALSE;
  if (port->Gone()) return FailWith(ERROR_BAD_COMMAND);
  return call(*port);
}

// A read or write: plain(fd) moves the bytes of a plain file at once, which
// never stays pending; a port goes through onPort.
template <class Plain, class OnPort>
BOOL ReadOrWrite(HANDLE handle, LPDWORD transferred, LPOVERLAPPED ov, Plain plain, OnPort onPort) {
  if (transferred) *transferred = 0;
  if (const auto file = ObjectFromHandleAs<PlainFile>(handle)) {
    const ssize_t n = plain(file->fd);
    if (n < 0) return FailWithErrno(errno);
    if (transferred) *transferred = static_cast<DWORD>(n);
    CompleteRecord(ov, ERROR_SUCCESS, static_cast<DWORD>(n));
    return TRUE;
  }
  return WithOpenPort(handle, onPort);
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  if (dwCreationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  const bool reading = dwDesiredAccess & GENERIC_READ, writing = dwDesiredAccess & GENERIC_WRITE;
  const int access = reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
  const std::string path = ComDevicePath(lpFileName);
  const int fd = ::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A port that another program holds exclusively is "access denied" on Windows.
    SetLastError(errno == EBUSY ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    const int err = errno;
    if (err == ENOTTY && ComPortNumber(lpFileName) == 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return MakeHandle(std::make_shared<PlainFile>(fd));
    }
    // A COM name stands for a serial port; on anything else Windows would
    // find no such port.
    ::close(fd);
    SetLastError(err == ENOTTY ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  const bool exclusive = dwShareMode == 0;
  // The advisory lock keeps out other opens by this and cooperating programs
  // (TIOCEXCL does not bind the superuser). Windows opens a port for one
  // program only; one that takes no lock (a terminal program, ModemManager)
  // shows among the open files, and is looked for before TIOCEXCL, which
  // would stay on the device and shut that program out.
  struct stat device {};
  if (exclusive && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &device) != 0 ||
                    DeviceUser(device.st_rdev, false) != 0 || ::ioctl(fd, TIOCEXCL) != 0)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // The device is raw from the start, as the control block describes it: a
  // terminal's cooked defaults would echo the device's bytes back to it and
  // take its XOFF as flow control.
  const DCB initial = DcbFromTerminal(fd, settings);
  TerminalSettings raw{settings, initial.BaudRate};
  if (!TerminalSettingsFromDcb(initial, raw) || !ApplyTerminalSettings(fd, raw)) {
    const DWORD error = GetLastError();
    if (exclusive) ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  auto port = std::make_shared<SerialPort>(fd, path, exclusive);
  port->serialFlags = EnterLowLatency(fd);
  if (!port->Start(initial)) return INVALID_HANDLE_VALUE;
  return MakeHandle(std::move(port));
}

DWORD GetFileType(HANDLE hFile) {
  const auto object = ObjectFromHandle(hFile);
  if (std::dynamic_pointer_cast<SerialPort>(object)) return FILE_TYPE_CHAR;
  const auto file = std::dynamic_pointer_cast<PlainFile>(object);
  struct stat st {};
  if (!file || ::fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  const auto plain = [&](int fd) { return ::read(fd, lpBuffer, nNumberOfBytesToRead); };
  return ReadOrWrite(hFile, lpNumberOfBytesRead, lpOverlapped, plain, [&](SerialPort& port) -> BOOL {
    std::unique_lock lock(port.mutex);
    if (port.IsClosed()) return FailWith(ERROR_INVALID_HANDLE);
    if (port.Gone()) return FailWith(ERROR_BAD_COMMAND);  // gone meanwhile: nothing would end the read
    if (lpOverlapped && port.pendingRead) return FailWith(ERROR_INVALID_PARAMETER);  // one read at a time
    ReadRequest request = port.NewRead(lpOverlapped, lpBuffer, nNumberOfBytesToRead);
    DWORD error = ERROR_SUCCESS;
    if (!port.Advance(request, error)) {
      if (lpOverlapped) {
        StartRecord(lpOverlapped, port.weak_from_this());
        port.pendingRead = request;
        port.Notify();  // a wait under way keeps the read's timeouts too
        return FailWith(ERROR_IO_PENDING);
      }
      do {  // a caller without a record waits here
        const bool ready = port.WaitForInput(lock, SerialPort::NextTimeout(request));
        if (!ready && port.IsClosed()) error = ERROR_OPERATION_ABORTED;
      } while (error == ERROR_SUCCESS && !port.Advance(request, error));
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = request.done;
    CompleteRecord(lpOverlapped, error, request.done);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
  });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  const auto plain = [&](int fd) { return ::write(fd, lpBuffer, nNumberOfBytesToWrite); };
  return ReadOrWrite(hFile, lpNumberOfBytesWritten, lpOverlapped, plain, [&](SerialPort& port) -> BOOL {
    std::unique_lock lock(port.mutex);
    DWORD done = 0;
    const DWORD error = port.Write(lock, lpOverlapped, lpBuffer, nNumberOfBytesToWrite, done);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
  });
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  const auto port = ObjectFromHandleAs<SerialPort>(hFile);
  if (port) {
    // The request makes its progress here too: the caller drives the port
    // until it is done, or looks once when it does not wait.
    SerialPort::Use use(*port);
    std::unique_lock lock(port->mutex);
    if (use)
      port->Drive(lock, [&] { return lpOverlapped->Internal != ERROR_IO_PENDING; },
                  bWait ? std::nullopt : std::optional(SerialClock::now()));
    if (lpOverlapped->Internal == ERROR_IO_PENDING) return FailWith(ERROR_IO_INCOMPLETE);
  } else if (lpOverlapped->Internal == ERROR_IO_PENDING) {
    // Otherwise the record alone tells, as on Windows: also once the handle
    // is closed, whose close ended what was pending.
    return FailWith(ERROR_IO_INCOMPLETE);
  }
  if (lpNumberOfBytesTransferred) *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  return lpOverlapped->Internal == ERROR_SUCCESS ? TRUE : FailWith(static_cast<DWORD>(lpOverlapped->Internal));
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD) {
  // The kernel sizes a terminal's queues itself.
  return PortFrom(hFile) ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  return WithPortState(hFile, [&](SerialPort& port) { *lpDCB = port.dcb; });
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    TerminalSettings settings{};
    if (::tcgetattr(port.fd, &settings.attributes) != 0) return port.Fail(errno);
    if (!TerminalSettingsFromDcb(*lpDCB, settings)) return FALSE;
    if (!ApplyTerminalSettings(port.fd, settings)) return port.Fail(errno);
    std::lock_guard lock(port.mutex);
    port.dcb = *lpDCB;
    return TRUE;
  });
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return WithPortState(hFile, [&](SerialPort& port) { *lpCommTimeouts = port.timeouts; });
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return WithPortState(hFile, [&](SerialPort& port) { port.timeouts = *lpCommTimeouts; });
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  return WithPortState(hFile, [&](SerialPort& port) { *lpEvtMask = port.eventMask; });
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    std::lock_guard lock(port.mutex);
    port.SetMask(dwEvtMask);
    return TRUE;
  });
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    std::unique_lock lock(port.mutex);
    if (port.IsClosed()) return FailWith(ERROR_INVALID_HANDLE);  // closed meanwhile: nothing would end the wait
    if (port.Gone()) return FailWith(ERROR_BAD_COMMAND);         // likewise gone
    if (!lpOverlapped || port.pendingEvent) return FailWith(ERROR_INVALID_PARAMETER);
    *lpEvtMask = 0;
    port.Look();  // what happened while nobody waited
    if (port.Gone()) return FailWith(ERROR_BAD_COMMAND);
    if (port.occurred) {
      *lpEvtMask = port.occurred;
      port.occurred = 0;
      CompleteRecord(lpOverlapped, ERROR_SUCCESS, sizeof(DWORD));
      return TRUE;
    }
    StartRecord(lpOverlapped, port.weak_from_this());
    port.pendingEvent = EventRequest{lpOverlapped, lpEvtMask};
    return FailWith(ERROR_IO_PENDING);
  });
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    // Under the lock no wait moves bytes from the device into the store of
    // the event character: both parts of the count are of one moment.
    int in = 0, out = 0;
    DWORD taken = 0;
    {
      std::lock_guard lock(port.mutex);
      taken = static_cast<DWORD>(port.taken.size());
      if (::ioctl(port.fd, FIONREAD, &in) != 0) return port.Fail(errno);
    }
    if (::ioctl(port.fd, TIOCOUTQ, &out) != 0) return port.Fail(errno);
    // The driver's counters tell the errors; a device without them (a
    // pseudo-terminal) has none to tell.
    const DWORD errors = port.TakeErrors();
    if (lpErrors) *lpErrors = errors;
    if (lpStat) {
      *lpStat = COMSTAT{};
      lpStat->cbInQue = static_cast<DWORD>(in) + taken;
      lpStat->cbOutQue = static_cast<DWORD>(out);
    }
    return TRUE;
  });
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    std::lock_guard lock(port.mutex);
    const DWORD error = port.Purge(dwFlags);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
  });
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    const auto line = [&](unsigned long request, int bit) {
      // No modem-control lines (a pseudo-terminal): the change has nowhere to go.
      return ::ioctl(port.fd, request, &bit) == 0 || errno == ENOTTY ? TRUE : port.Fail(errno);
    };
    const auto check = [&](int result) { return result == 0 ? TRUE : port.Fail(errno); };
    switch (dwFunc) {
      case SETDTR: return line(TIOCMBIS, TIOCM_DTR);
      case CLRDTR: return line(TIOCMBIC, TIOCM_DTR);
      case SETRTS: return line(TIOCMBIS, TIOCM_RTS);
      case CLRRTS: return line(TIOCMBIC, TIOCM_RTS);
      case SETBREAK: return check(::ioctl(port.fd, TIOCSBRK));
      case CLRBREAK: return check(::ioctl(port.fd, TIOCCBRK));
      case SETXOFF: return check(::tcflow(port.fd, TCOOFF));
      case SETXON: return check(::tcflow(port.fd, TCOON));
      default: return FailWith(ERROR_INVALID_PARAMETER);
    }
  });
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  return WithOpenPort(hFile, [&](SerialPort& port) -> BOOL {
    int lines = 0;
    if (port.lineCalls->getLines(port.fd, &lines) != 0) {
      if (errno != ENOTTY) return port.Fail(errno);
      lines = 0;  // no modem-control lines: all off
    }
    *lpModemStat = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
                   ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
    return TRUE;
  });
}
