// The serial functions of the platform layer on real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "comm/Pty.h"
#include "platform/posix/termios_dcb.h"
#include "platform/winapi.h"
#include "support/ComMapping.h"
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
