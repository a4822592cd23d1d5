// The serial functions of Win32 over the port objects of serial_port.h and
// the settings translation of termios_dcb.h.
#include "platform/posix/fail.h"
#include "platform/posix/serial/comm.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/comdevices.h"
#include "platform/posix/device_users.h"
#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/serial/serial_port.h"
#include "platform/posix/serial/termios_dcb.h"

namespace {

std::shared_ptr<SerialPort> PortFrom(HANDLE handle) {
  auto port = ObjectFromHandleAs<SerialPort>(handle);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

BOOL Result(DWORD error) { return error == ERROR_SUCCESS ? TRUE : FailWith(error); }

// Runs call on the port behind the handle; FALSE with ERROR_INVALID_HANDLE
// for a handle that is no port, else with the error the call gives.
template <class Call>
BOOL OnPort(HANDLE handle, Call call) {
  const auto port = PortFrom(handle);
  return port ? Result(call(*port)) : FALSE;
}

// A read or write: plain(fd) moves the bytes of a plain file at once, which
// never stays pending; a port goes through onPort(port, done).
template <class Plain, class Call>
BOOL ReadOrWrite(HANDLE handle, LPDWORD transferred, LPOVERLAPPED ov, Plain plain, Call onPort) {
  if (transferred) *transferred = 0;
  if (const auto file = ObjectFromHandleAs<PlainFile>(handle)) {
    const ssize_t n = plain(file->fd);
    if (n < 0) return FailWithErrno(errno);
    if (transferred) *transferred = static_cast<DWORD>(n);
    CompleteRecord(ov, ERROR_SUCCESS, static_cast<DWORD>(n));
    return TRUE;
  }
  return OnPort(handle, [&](SerialPort& port) {
    DWORD done = 0;
    const DWORD error = onPort(port, done);
    if (transferred) *transferred = done;
    return error;
  });
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
  if (const DWORD error = port->Start(initial); error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
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
  return ReadOrWrite(hFile, lpNumberOfBytesRead, lpOverlapped, plain, [&](SerialPort& port, DWORD& done) {
    return port.StartRead(lpOverlapped, lpBuffer, nNumberOfBytesToRead, done);
  });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  const auto plain = [&](int fd) { return ::write(fd, lpBuffer, nNumberOfBytesToWrite); };
  return ReadOrWrite(hFile, lpNumberOfBytesWritten, lpOverlapped, plain, [&](SerialPort& port, DWORD& done) {
    return port.Write(lpOverlapped, lpBuffer, nNumberOfBytesToWrite, done);
  });
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  if (const auto port = ObjectFromHandleAs<SerialPort>(hFile)) {
    // The request makes its progress here too.
    port->Await(lpOverlapped, bWait != FALSE);
    if (lpOverlapped->Internal == ERROR_IO_PENDING) return FailWith(ERROR_IO_INCOMPLETE);
  } else if (lpOverlapped->Internal == ERROR_IO_PENDING) {
    // Otherwise the record alone tells, as on Windows: also once the handle
    // is closed, whose close ended what was pending.
    return FailWith(ERROR_IO_INCOMPLETE);
  }
  if (lpNumberOfBytesTransferred) *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  return Result(static_cast<DWORD>(lpOverlapped->Internal));
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD) {
  // The kernel sizes a terminal's queues itself.
  return PortFrom(hFile) ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  return OnPort(hFile, [&](SerialPort& port) {
    *lpDCB = port.State();
    return DWORD{ERROR_SUCCESS};
  });
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  return OnPort(hFile, [&](SerialPort& port) { return port.SetState(*lpDCB); });
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return OnPort(hFile, [&](SerialPort& port) {
    *lpCommTimeouts = port.Timeouts();
    return DWORD{ERROR_SUCCESS};
  });
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return OnPort(hFile, [&](SerialPort& port) {
    port.SetTimeouts(*lpCommTimeouts);
    return DWORD{ERROR_SUCCESS};
  });
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  return OnPort(hFile, [&](SerialPort& port) {
    *lpEvtMask = port.Mask();
    return DWORD{ERROR_SUCCESS};
  });
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  return OnPort(hFile, [&](SerialPort& port) { return port.SetMask(dwEvtMask); });
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  return OnPort(hFile, [&](SerialPort& port) { return port.BeginEventWait(lpEvtMask, lpOverlapped); });
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  return OnPort(hFile, [&](SerialPort& port) { return port.CountsAndErrors(lpErrors, lpStat); });
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  return OnPort(hFile, [&](SerialPort& port) { return port.Purge(dwFlags); });
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  return OnPort(hFile, [&](SerialPort& port) { return port.Escape(dwFunc); });
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  return OnPort(hFile, [&](SerialPort& port) { return port.ModemStatus(*lpModemStat); });
}
