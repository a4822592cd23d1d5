// The serial functions of the platform layer on real pseudo-terminals.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "comm/Pty.h"
#include "platform/posix/serial/line_watch.h"
#include "platform/posix/serial/low_latency.h"
#include "platform/posix/serial/termios_dcb.h"
#include "platform/winapi.h"
#include "support/ComMapping.h"
#include "support/CpuTime.h"
#include "support/TempDir.h"

namespace {

// The kernel's record with the line speed as a number.
struct KernelTermios {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};

speed_t LineSpeed(int fd) {
  KernelTermios t{};
  ioctl(fd, _IOR('T', 0x2A, KernelTermios), &t);  // TCGETS2
  return t.c_ospeed;
}

HANDLE OpenPort(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                     nullptr);
}

struct Event {
  Event() : handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() { CloseHandle(handle); }
  HANDLE handle;
};

// One event wait on a port: Start it, then Wait for what it reports.
struct EventWait {
  explicit EventWait(HANDLE port) : port(port) { ov.hEvent = signalled.handle; }
  void Start() {
    mask = 0xFFFF;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov)) << "nothing is due yet";
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  // The events, or WAIT_TIMEOUT's value when none came in time.
  DWORD Wait(DWORD milliseconds = 5000) {
    return WaitForSingleObject(signalled.handle, milliseconds) == WAIT_OBJECT_0 ? mask : WAIT_TIMEOUT;
  }
  HANDLE port;
  Event signalled;
  OVERLAPPED ov{};
  DWORD mask = 0;
};

size_t Threads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// The threads of the process without a port, counted after a first port has
// come and gone (a sanitizer starts a thread of its own at the first).
size_t ThreadsWithoutAPort(const std::string& path) {
  CloseHandle(OpenPort(path));
  return Threads();
}

class SerialApi : public testing::Test {
 protected:
  void SetUp() override {
    port = OpenPort(pty.path);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
  }
  void TearDown() override { CloseHandle(port); }

  void SetLine(DWORD baud, BYTE size, BYTE parity, BYTE stop) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
  }

  PtyPair pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(SerialOpen, OpensTerminalsExclusivelyAndOtherFilesAsThemselves) {
  PtyPair pty;
  const HANDLE first = OpenPort(pty.path);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(first), FILE_TYPE_CHAR);
  EXPECT_EQ(OpenPort(pty.path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CloseHandle(first));
  const HANDLE again = OpenPort(pty.path);
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "closing gives the device free";
  CloseHandle(again);

  TempDir dir;
  dir.write("plain.bin", "x");
  const HANDLE file = OpenPort(dir.file("plain.bin"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(file), FILE_TYPE_DISK);
  CloseHandle(file);
  const HANDLE null = OpenPort("/dev/null");
  EXPECT_NE(GetFileType(null), FILE_TYPE_CHAR) << "a character device that is no terminal is no port";
  CloseHandle(null);
  EXPECT_EQ(OpenPort(dir.file("missing")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(SerialOpen, ComNamesGoThroughTheInstalledResolver) {
  PtyPair pty;
  const ComMapping mapping({{3, pty.path}});
  const HANDLE port = OpenPort("COM3");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(port), FILE_TYPE_CHAR);
  CloseHandle(port);
}

TEST(SerialOpen, AComNameOnSomethingOtherThanATerminalDoesNotOpen) {
  TempDir dir;
  dir.write("plain.bin", "x");
  const ComMapping mapping({{4, "/dev/null"}, {5, dir.file("plain.bin")}});
  const auto openDescriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto before = openDescriptors();
  for (const char* name : {"COM4", "COM5"}) {
    SetLastError(0);
    const HANDLE port = OpenPort(name);
    EXPECT_EQ(port, INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    CloseHandle(port);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(TerminalSettings, EachControlBlockValueGivesItsFlags) {
  struct Case {
    BYTE size, parity, stop;
    tcflag_t set, clear;
  };
  const Case cases[] = {
      {8, NOPARITY, ONESTOPBIT, CS8, PARENB | CSTOPB | CMSPAR},
      {7, ODDPARITY, ONESTOPBIT, CS7 | PARENB | PARODD, CMSPAR | CSTOPB},
      {6, EVENPARITY, TWOSTOPBITS, CS6 | PARENB | CSTOPB, PARODD | CMSPAR},
      {5, MARKPARITY, ONESTOPBIT, CS5 | PARENB | PARODD | CMSPAR, CSTOPB},
      {8, SPACEPARITY, TWOSTOPBITS, CS8 | PARENB | CMSPAR | CSTOPB, PARODD},
  };
  for (const Case& c : cases) {
    DCB dcb{};
    dcb.BaudRate = 9600;
    dcb.ByteSize = c.size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    TerminalSettings s{};
    s.attributes.c_cflag = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL;
    s.attributes.c_lflag = ICANON | ECHO | ISIG;
    ASSERT_TRUE(TerminalSettingsFromDcb(dcb, s));
    SCOPED_TRACE(testing::Message() << int(c.size) << " bits, parity " << int(c.parity));
    EXPECT_EQ(s.attributes.c_cflag & CSIZE, c.set & CSIZE);
    EXPECT_EQ(s.attributes.c_cflag & (c.set & ~CSIZE), c.set & ~CSIZE);
    EXPECT_EQ(s.attributes.c_cflag & c.clear, 0u);
    EXPECT_EQ(s.attributes.c_cflag & (CREAD | CLOCAL | HUPCL), CREAD | CLOCAL);
    EXPECT_EQ(s.attributes.c_lflag & (ICANON | ECHO | ISIG), 0u);
  }
  DCB bad{};
  bad.BaudRate = 9600;
  for (const auto& [size, stop] : {std::pair<BYTE, BYTE>{4, ONESTOPBIT}, {8, ONE5STOPBITS}, {9, ONESTOPBIT}}) {
    bad.ByteSize = size;
    bad.StopBits = stop;
    TerminalSettings s{};
    EXPECT_FALSE(TerminalSettingsFromDcb(bad, s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

TEST_F(SerialApi, EverySpeedReachesTheTerminalExactly) {
  for (DWORD baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u,
                     115200u, 128000u, 256000u}) {
    SetLine(baud, 8, NOPARITY, ONESTOPBIT);
    EXPECT_EQ(LineSpeed(pty.slave), baud);
    DCB back{};
    GetCommState(port, &back);
    EXPECT_EQ(back.BaudRate, baud);
  }
}

TEST_F(SerialApi, TheTerminalIsRawWithTheChosenFraming) {
  SetLine(19200, 8, MARKPARITY, TWOSTOPBITS);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
  // A pseudo-terminal keeps the stop bits and the stick parity it is given.
  EXPECT_EQ(t.c_cflag & (CSTOPB | CMSPAR | PARODD), CSTOPB | CMSPAR | PARODD);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL | HUPCL), CREAD | CLOCAL);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);

  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  const std::unique_ptr<FILE, int (*)(FILE*)> stty(popen(("stty -a -F " + pty.path).c_str(), "r"), pclose);
  char text[4096] = {};
  fread(text, 1, sizeof text - 1, stty.get());
  const std::string shown = text;
  EXPECT_NE(shown.find("speed 115200 baud"), std::string::npos) << shown;
  EXPECT_NE(shown.find("-icanon"), std::string::npos);
  EXPECT_NE(shown.find("-echo "), std::string::npos);
  EXPECT_NE(shown.find("-cstopb"), std::string::npos);
}

// Before any SetCommState the port is what GetCommState reports: binary,
// without echo or XON/XOFF, the device's bytes passed on as they are.
TEST_F(SerialApi, AFreshPortIsRawAsItsControlBlockSays) {
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_FALSE(dcb.fOutX || dcb.fInX);
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  pty.Send("\x13on\n");
  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    char buffer[16];
    DWORD n = 0;
    if (ReadFile(port, buffer, sizeof buffer, &n, nullptr)) got.append(buffer, n);
    return got.size() >= 4;
  })) << got;
  EXPECT_EQ(got, "\x13on\n");
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, "a\nb", 3, &n, nullptr));
  EXPECT_EQ(n, 3u) << "an XOFF from the device stops nothing";
  EXPECT_EQ(pty.Receive(4), "a\nb") << "nothing echoed, nothing added";
}

TEST_F(SerialApi, LinesOfAPseudoTerminalAreQuietNoOps) {
  for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS}) EXPECT_TRUE(EscapeCommFunction(port, f)) << f;
  EXPECT_FALSE(EscapeCommFunction(port, 77));
  DWORD status = 0xFF;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status, 0u);
}

TEST_F(SerialApi, QueueCountsAndPurge) {
  SetLine(9600, 8, NOPARITY, ONESTOPBIT);
  pty.Send("hello");
  COMSTAT stat{};
  DWORD errors = 1;
  ASSERT_TRUE(WaitUntil([&] { return ClearCommError(port, &errors, &stat) && stat.cbInQue == 5; }));
  EXPECT_EQ(errors, 0u);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
  ClearCommError(port, &errors, &stat);
  EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(SerialApi, AReadInProgressFinishesInGetOverlappedResult) {
  SetLine(9600, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS none{};  // no timeouts: wait for every byte
  SetCommTimeouts(port, &none);
  Event done;
  OVERLAPPED ov{};
  ov.hEvent = done.handle;
  char buffer[6] = {};
  DWORD n = 0;
  pty.Send("abc");
  ASSERT_TRUE(WaitUntil([&] {
    COMSTAT s{};
    return ClearCommError(port, nullptr, &s) && s.cbInQue == 3;
  }));
  EXPECT_FALSE(ReadFile(port, buffer, 6, &n, &ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  pty.Send("def");
  ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(WaitForSingleObject(done.handle, 0), WAIT_OBJECT_0);

  ASSERT_TRUE(WriteFile(port, "xyz", 3, &n, &ov));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(pty.Receive(3), "xyz");
}

TEST_F(SerialApi, LineEventsComeOncePerArrivalAndEndWithTheMaskOrTheHandle) {
  SetLine(9600, 8, NOPARITY, ONESTOPBIT);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  Event signalled;
  OVERLAPPED ov{};
  ov.hEvent = signalled.handle;
  DWORD mask = 0, n = 0;
  const auto wait = [&] {
    return WaitCommEvent(port, &mask, &ov) ||
           (GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(signalled.handle, 5000) == WAIT_OBJECT_0);
  };
  pty.Send("1");
  ASSERT_TRUE(wait());
  EXPECT_EQ(mask, EV_RXCHAR);

  // The byte still waits, but it is no new arrival.
  EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(WaitForSingleObject(signalled.handle, 100), WAIT_TIMEOUT);
  EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
  pty.Send("2");
  ASSERT_EQ(WaitForSingleObject(signalled.handle, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(mask, EV_RXCHAR);

  // A new mask ends a wait in progress with no events.
  EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_CTS));
  ASSERT_EQ(WaitForSingleObject(signalled.handle, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(mask, 0u);

  // Closing the handle ends the wait as aborted.
  EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
  ASSERT_TRUE(CloseHandle(port));
  ASSERT_EQ(WaitForSingleObject(signalled.handle, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  port = OpenPort(pty.path);
}

// A driver with serial settings, played over a pseudo-terminal (which has
// none): it keeps its flags here, and may refuse either call. Through a
// hung-up descriptor it answers EIO, as every driver does.
struct FakeDriver {
  static inline int flags = 0;
  static inline bool getFails = false, setFails = false;
  static inline std::vector<int> written;  // the flags of every accepted set
  static bool HungUp(int fd) {
    termios settings{};
    return ::tcgetattr(fd, &settings) != 0 && errno == EIO;
  }
  static int Get(int fd, serial_struct* info) {
    if (HungUp(fd)) return -1;
    if (getFails) {
      errno = ENOTTY;
      return -1;
    }
    *info = serial_struct{};
    info->flags = flags;
    return 0;
  }
  static int Set(int fd, const serial_struct* info) {
    if (HungUp(fd)) return -1;
    if (setFails) {
      errno = EPERM;
      return -1;
    }
    flags = info->flags;
    written.push_back(info->flags);
    return 0;
  }
  FakeDriver(int initial, bool refuseGet, bool refuseSet) {
    flags = initial;
    getFails = refuseGet;
    setFails = refuseSet;
    written.clear();
    SetSerialInfoCalls(&calls);
  }
  ~FakeDriver() { SetSerialInfoCalls(nullptr); }
  static inline const SerialInfoCalls calls{Get, Set};
};

TEST(SerialOpen, LowLatencyWhileOpenAndTheDriversFlagsBackAtTheClose) {
  PtyPair pty;
  constexpr int other = 0x40;  // a flag of the driver's own that must survive
  struct Case {
    const char* driver;
    int initial;
    bool refuseGet, refuseSet;
    std::vector<int> writes;  // at the open, then at the close
  };
  for (const Case& c : {
           Case{"a USB adapter", other, false, false, {other | ASYNC_LOW_LATENCY, other}},
           Case{"already low latency", other | ASYNC_LOW_LATENCY, false, false, {}},
           Case{"refuses the change", other, false, true, {}},
           Case{"has no serial settings", other, true, false, {}},
       }) {
    SCOPED_TRACE(c.driver);
    FakeDriver driver(c.initial, c.refuseGet, c.refuseSet);
    const HANDLE port = OpenPort(pty.path);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << "a refusal does not stop the open";
    const bool lowWhileOpen = (FakeDriver::flags & ASYNC_LOW_LATENCY) != 0;
    EXPECT_EQ(lowWhileOpen, !c.refuseGet && !c.refuseSet);
    CloseHandle(port);
    EXPECT_EQ(FakeDriver::written, c.writes);
    EXPECT_EQ(FakeDriver::flags, c.initial);
  }
}

// A line hung up while the port is open (the device itself stays): the
// hung-up descriptor answers nothing, yet the driver gets its flags back.
TEST(SerialOpen, TheDriversFlagsGoBackAfterAHangUp) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can hang a line up";
  PtyPair pty;
  constexpr int other = 0x40;
  FakeDriver driver(other, false, false);
  const HANDLE port = OpenPort(pty.path);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_EQ(FakeDriver::flags, other | ASYNC_LOW_LATENCY);
  ASSERT_EQ(ioctl(pty.slave, TIOCVHANGUP), 0);
  DWORD status = 0;
  EXPECT_FALSE(GetCommModemStatus(port, &status)) << "the port sees the hang-up";
  CloseHandle(port);
  EXPECT_EQ(FakeDriver::flags, other);
}

// A reader that takes each byte as soon as it comes hides no arrival from
// the event wait: every one is reported, as on Windows.
TEST_F(SerialApi, EveryArrivalIsReportedWhileAReaderTakesTheBytes) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &atOnce));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  std::atomic<bool> reading = true;
  std::atomic<size_t> read = 0;
  std::thread reader([&] {
    char buffer[16];
    DWORD n = 0;
    for (; reading; std::this_thread::yield())
      if (ReadFile(port, buffer, sizeof buffer, &n, nullptr)) read += n;
  });
  EventWait events(port);
  int reported = 0;
  for (; reported < 200; ++reported) {
    events.Start();
    pty.Send("x");
    if (events.Wait(1000) != EV_RXCHAR) break;
  }
  ASSERT_TRUE(WaitUntil([&] { return read == static_cast<size_t>(reported + (reported < 200)); }));
  // The same while the wait is under way when each byte comes: the reader,
  // woken with it, takes it before the wait looks.
  int late = 0;
  for (; late < 200; ++late) {
    events.Start();
    std::thread sender([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      pty.Send("x");
    });
    const DWORD seen = events.Wait(250);
    sender.join();
    if (seen != EV_RXCHAR) break;
  }
  reading = false;
  reader.join();
  EXPECT_EQ(reported, 200);
  EXPECT_EQ(late, 200) << "an arrival that the reader took first went unreported";
}

// A pending read ends by itself: a wait for its event alone sees it end,
// when its bytes come and when its time is up.
TEST_F(SerialApi, APendingReadEndsForAWaitOnItsEvent) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 300;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  Event done;
  OVERLAPPED ov{};
  ov.hEvent = done.handle;
  char buffer[4];
  DWORD n = 0;
  for (const std::string sent : {"abcd", ""}) {
    SCOPED_TRACE(sent);
    ASSERT_FALSE(ReadFile(port, buffer, 4, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    if (!sent.empty()) pty.Send(sent);
    EXPECT_EQ(WaitForSingleObject(done.handle, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(port, &ov, &n, FALSE));
    EXPECT_EQ(std::string(buffer, n), sent);
  }
}

// A pseudo-terminal drains at once and passes every byte on: EV_TXEMPTY
// follows each write, EV_RXFLAG each arrival that holds the event character,
// and the bytes the watch looks through stay in the input queue, in order.
TEST_F(SerialApi, TxEmptyAfterAWriteAndRxFlagOnTheEventCharacter) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.EvtChar = '\n';
  ASSERT_TRUE(SetCommState(port, &dcb));
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 5000;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY | EV_RXFLAG));
  EventWait events(port);
  DWORD n = 0;

  events.Start();
  EXPECT_EQ(events.Wait(100), WAIT_TIMEOUT) << "no write, nothing to drain";
  ASSERT_TRUE(WriteFile(port, "abc", 3, &n, nullptr));
  EXPECT_EQ(events.Wait(), EV_TXEMPTY);
  EXPECT_EQ(pty.Receive(3), "abc");

  events.Start();
  pty.Send("no flag ");
  EXPECT_EQ(events.Wait(100), WAIT_TIMEOUT) << "no event character";
  pty.Send("line\n");
  EXPECT_EQ(events.Wait(), EV_RXFLAG);
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, 13u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(port, buffer, 13, &n, nullptr));
  EXPECT_EQ(std::string(buffer, n), "no flag line\n");

  // A read that waits while the watch takes the bytes still gets them.
  Event readDone;
  OVERLAPPED ov{};
  ov.hEvent = readDone.handle;
  ASSERT_FALSE(ReadFile(port, buffer, 4, &n, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Send("wx\ny");
  });
  EXPECT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
  device.join();
  EXPECT_EQ(std::string(buffer, n), "wx\ny");
}

// A real port's driver, played over a pseudo-terminal (which has none of
// it): modem lines that change when the test says, and counters of line
// changes, breaks and receive errors (unless it is a driver without them).
struct FakeLines {
  static inline std::mutex mutex;
  static inline int lines = 0;
  static inline serial_icounter_struct counters{};
  static inline bool counting = true;
  static inline int error = 0;  // errno every call fails with, once set

  static int GetLines(int, int* out) {
    std::lock_guard lock(mutex);
    errno = error;
    *out = lines;
    return error ? -1 : 0;
  }
  static int GetCounters(int, serial_icounter_struct* out) {
    std::lock_guard lock(mutex);
    errno = counting ? error : ENOTTY;
    *out = counters;
    return errno ? -1 : 0;
  }

  explicit FakeLines(bool withCounters = true) {
    lines = 0;
    counters = {};
    counting = withCounters;
    error = 0;
    SetLineCalls(&calls);
  }
  ~FakeLines() { SetLineCalls(nullptr); }
  // Changes the driver's state.
  void Change(const std::function<void()>& change) const {
    std::lock_guard lock(mutex);
    change();
  }
  static inline const LineCalls calls{GetLines, GetCounters};
};

TEST(SerialLines, ModemLinesBreaksAndErrorsOfARealPort) {
  PtyPair pty;
  const size_t threads = ThreadsWithoutAPort(pty.path);
  FakeLines driver;
  const HANDLE port = OpenPort(pty.path);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB raw{};
  ASSERT_TRUE(GetCommState(port, &raw));
  ASSERT_TRUE(SetCommState(port, &raw));
  ASSERT_TRUE(SetCommMask(port, EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_BREAK | EV_ERR));
  EventWait events(port);
  events.Start();
  const double share = CpuShareWhile([&] { EXPECT_EQ(events.Wait(300), WAIT_TIMEOUT); });
  EXPECT_LT(share, kAtRest) << "waiting for the lines costs nothing";

  driver.Change([] {
    FakeLines::lines |= TIOCM_CTS;
    ++FakeLines::counters.cts;
  });
  EXPECT_EQ(events.Wait(), EV_CTS);
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status, MS_CTS_ON);

  // A ring that came and went between two looks is counted all the same.
  events.Start();
  driver.Change([] {
    ++FakeLines::counters.dsr;
    ++FakeLines::counters.rng;
    ++FakeLines::counters.dcd;
  });
  EXPECT_EQ(events.Wait(), EV_DSR | EV_RING | EV_RLSD);

  // An 8250 counts line changes only while its modem-status interrupt is on,
  // which CLOCAL leaves off: the line state alone tells them.
  events.Start();
  driver.Change([] { FakeLines::lines |= TIOCM_DSR | TIOCM_CAR; });
  EXPECT_EQ(events.Wait(), EV_DSR | EV_RLSD);

  // A break and receive errors come with a NUL byte each.
  events.Start();
  driver.Change([] {
    ++FakeLines::counters.brk;
    ++FakeLines::counters.frame;
    ++FakeLines::counters.parity;
    ++FakeLines::counters.overrun;
  });
  pty.Send(std::string(1, '\0'));
  EXPECT_EQ(events.Wait(), EV_BREAK | EV_ERR);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN);
  ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, 0u) << "each error is told once";

  // Closing ends the wait in the driver.
  events.Start();
  ASSERT_TRUE(CloseHandle(port));
  EXPECT_EQ(events.Wait(), 0u);
  EXPECT_EQ(events.ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(Threads(), threads);
}

// A driver with modem lines that can neither count their changes nor wait
// for one (some USB adapters): every change is told all the same, and the
// port runs no thread of its own for it.
TEST(SerialLines, ChangesOfADriverWithoutCountersAreToldAsWell) {
  PtyPair pty;
  const size_t threads = ThreadsWithoutAPort(pty.path);
  FakeLines driver(false);
  const HANDLE port = OpenPort(pty.path);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(port, EV_CTS | EV_DSR | EV_RLSD));
  EventWait events(port);
  for (const int line : {TIOCM_CTS, TIOCM_CAR}) {
    events.Start();
    EXPECT_EQ(Threads(), threads);
    driver.Change([line] { FakeLines::lines |= line; });
    EXPECT_EQ(events.Wait(), line == TIOCM_CTS ? EV_CTS : EV_RLSD);
  }
  ASSERT_TRUE(CloseHandle(port));
}

// Other code of the process may set any signal's action: closing a port with
// modem lines depends on none of them, and changes none. Each setting is
// tried in a child process of its own, which must end by itself.
TEST(SerialLines, ClosingDependsOnNoSignalAndSetsNone) {
  for (const int setting : {0, 1, 2}) {
    SCOPED_TRACE(setting == 0 ? "ignored" : setting == 1 ? "default action" : "a handler that restarts calls");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PtyPair pty;
      FakeLines driver;
      const auto openAndClose = [&] {
        const HANDLE port = OpenPort(pty.path);
        return port != INVALID_HANDLE_VALUE && SetCommMask(port, EV_CTS) && CloseHandle(port);
      };
      // The other code sets its actions after a first port has come and gone.
      bool fine = openAndClose();
      struct sigaction action {};
      sigemptyset(&action.sa_mask);
      action.sa_handler = setting == 0 ? SIG_IGN : setting == 1 ? SIG_DFL : [](int) {};
      action.sa_flags = setting == 2 ? SA_RESTART : 0;
      for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaction(signal, &action, nullptr);
      fine = openAndClose() && fine;
      for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        fine = fine && now.sa_handler == action.sa_handler;
      }
      _exit(fine ? 0 : 1);
    }
    int status = -1;
    const bool ended = WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "the close never returned";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
}

// An adapter pulled out: either the line hangs up, or the driver's line
// calls fail with EIO. The waits end.
TEST(SerialLines, AVanishedAdapterEndsTheWaitForItsLines) {
  for (const bool hangUp : {true, false}) {
    SCOPED_TRACE(hangUp ? "hang-up" : "EIO from the driver");
    PtyPair pty;
    const size_t threads = ThreadsWithoutAPort(pty.path);
    FakeLines driver;
    const HANDLE port = OpenPort(pty.path);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(port, EV_CTS));
    EventWait events(port);
    events.Start();
    if (hangUp)
      pty.Vanish();
    else
      driver.Change([] { FakeLines::error = EIO; });
    EXPECT_EQ(events.Wait(), 0u);
    EXPECT_EQ(events.ov.Internal, ERROR_BAD_COMMAND);
    if (hangUp) {
      EXPECT_TRUE(WaitUntil([&] { return Threads() == threads; })) << "the watch ends by itself";
    }
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(port, &status));
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
    ASSERT_TRUE(CloseHandle(port));
    EXPECT_EQ(Threads(), threads);
  }
}

// A removed USB serial device on Windows: every call that reaches it fails
// with ERROR_BAD_COMMAND, and so do the requests it left pending.
TEST_F(SerialApi, AVanishedDeviceFailsEveryCallUntilItIsClosed) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS none{};  // no timeouts: a read waits for every byte
  ASSERT_TRUE(SetCommTimeouts(port, &none));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  Event waited, read;
  OVERLAPPED waitOv{}, readOv{};
  waitOv.hEvent = waited.handle;
  readOv.hEvent = read.handle;
  DWORD mask = 0xFF, n = 0;
  char buffer[8] = {};
  ASSERT_FALSE(WaitCommEvent(port, &mask, &waitOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  pty.Send("ab");
  ASSERT_EQ(WaitForSingleObject(waited.handle, 5000), WAIT_OBJECT_0);
  ASSERT_FALSE(ReadFile(port, buffer, 4, &n, &readOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_FALSE(WaitCommEvent(port, &mask, &waitOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);

  // A read that waits inside GetOverlappedResult is woken too.
  std::thread vanish([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Vanish();
  });
  EXPECT_FALSE(GetOverlappedResult(port, &readOv, &n, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  vanish.join();
  EXPECT_EQ(n, 2u) << "what arrived before stays counted";
  ASSERT_EQ(WaitForSingleObject(waited.handle, 5000), WAIT_OBJECT_0) << "the event wait ends";
  EXPECT_FALSE(GetOverlappedResult(port, &waitOv, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  EXPECT_EQ(mask, 0u);

  const auto failsGone = [](const char* call, BOOL result) {
    EXPECT_FALSE(result) << call;
    EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND) << call;
  };
  COMSTAT stat{};
  DWORD errors = 0, status = 0;
  DCB dcb{};
  failsGone("ClearCommError", ClearCommError(port, &errors, &stat));
  failsGone("ReadFile", ReadFile(port, buffer, 1, &n, &readOv));
  failsGone("ReadFile without a record", ReadFile(port, buffer, 1, &n, nullptr));
  failsGone("WriteFile", WriteFile(port, "x", 1, &n, nullptr));
  failsGone("WaitCommEvent", WaitCommEvent(port, &mask, &waitOv));
  failsGone("PurgeComm", PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
  failsGone("EscapeCommFunction", EscapeCommFunction(port, SETDTR));
  failsGone("GetCommModemStatus", GetCommModemStatus(port, &status));
  ASSERT_TRUE(GetCommState(port, &dcb)) << "the settings stay with the handle";
  failsGone("SetCommState", SetCommState(port, &dcb));
  EXPECT_TRUE(CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
}

// A signal every millisecond interrupts the waits of a read and a write
// without a record again and again: their timeouts still end them.
TEST_F(SerialApi, TimeoutsEndWaitsThatSignalsKeepInterrupting) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 200;
  timeouts.WriteTotalTimeoutConstant = 200;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  struct sigaction action {}, before {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);
  std::atomic<bool> callsDone = false, stormOver = false;
  const pthread_t caller = pthread_self();
  std::thread storm([&] {
    for (int i = 0; i < 10000 && !callsDone; ++i) {
      pthread_kill(caller, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stormOver = true;
  });
  char buffer[4];
  DWORD read = 1, written = 0;
  const BOOL readOk = ReadFile(port, buffer, sizeof buffer, &read, nullptr);
  // Nobody reads the other end: the block fills the terminal.
  const std::string block(1 << 20, 'x');
  const BOOL writeOk = WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  const bool endedInTheStorm = !stormOver;
  callsDone = true;
  storm.join();
  sigaction(SIGUSR1, &before, nullptr);
  EXPECT_TRUE(endedInTheStorm) << "a wait ended only when the signals stopped";
  EXPECT_TRUE(readOk);
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(writeOk);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
}

// The mask watches from the moment it is set; what the purge throws away
// still brings its events; PURGE_TXABORT ends the writes that wait, with
// and without a record.
TEST_F(SerialApi, MaskAndPurgeStartAndEndWhatTheyShould) {
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.EvtChar = '!';
  ASSERT_TRUE(SetCommState(port, &dcb));
  ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
  pty.Send("before");
  ASSERT_TRUE(WaitUntil([&] {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) && stat.cbInQue == 6;
  }));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_RXFLAG));
  EventWait events(port);
  events.Start();  // the bytes came before EV_RXCHAR was watched: nothing due
  ASSERT_TRUE(SetCommMask(port, EV_RXFLAG));
  EXPECT_EQ(events.Wait(), 0u) << "a new mask ends the wait";

  // Nobody waits when the event character comes, and the purge comes first.
  pty.Send("flag!");
  ASSERT_TRUE(WaitUntil([&] {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) && stat.cbInQue == 11;
  }));
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  DWORD mask = 0;
  OVERLAPPED ov{};
  EXPECT_TRUE(WaitCommEvent(port, &mask, &ov)) << "the purged event character went unreported";
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXFLAG));
  ASSERT_TRUE(SetCommMask(port, 0));  // ends the wait, should it be pending

  COMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutConstant = 20000;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  const std::string block(1 << 20, 'x');
  Event done;
  OVERLAPPED writeOv{};
  writeOv.hEvent = done.handle;
  DWORD written = 0;
  ASSERT_FALSE(WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, &writeOv));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  EXPECT_FALSE(GetOverlappedResult(port, &writeOv, &written, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_LT(written, block.size());

  std::atomic<bool> ended = false;
  DWORD error = 0;
  std::thread writer([&] {
    DWORD n = 0;
    if (!WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, nullptr)) error = GetLastError();
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  EXPECT_TRUE(WaitUntil([&] { return ended.load(); })) << "the write went on after the purge";
  if (!ended) CloseHandle(std::exchange(port, INVALID_HANDLE_VALUE));
  writer.join();
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(SerialApi, ClosingThePortEndsAWriteThatWaits) {
  using namespace std::chrono_literals;
  SetLine(115200, 8, NOPARITY, ONESTOPBIT);
  COMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutConstant = 20000;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  // Nobody reads the other end, so the block fills the terminal and the
  // write waits for room until the port is closed.
  const std::string block(1 << 20, 'x');
  std::thread closer([&] {
    WaitUntil([&] {
      int waiting = 0;
      return ioctl(pty.master, FIONREAD, &waiting) == 0 && waiting > 0;
    });
    std::this_thread::sleep_for(200ms);
    CloseHandle(port);
  });
  const auto start = std::chrono::steady_clock::now();
  DWORD n = 0;
  const BOOL written = WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, nullptr);
  const DWORD error = GetLastError();
  const auto took = std::chrono::steady_clock::now() - start;
  closer.join();
  port = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(written);
  EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
  EXPECT_LT(took, 5s) << "the write ran on towards its 20 s deadline";
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, block.size());
}

}  // namespace
