// The overlapped results of the serial calls as Windows gives them, on real
// pseudo-terminals: pending requests and their byte counts, zero-length
// reads and writes, the masks and counts of WaitCommEvent, and
// GetOverlappedResult, which reads only the record, after CloseHandle.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "comm/Pty.h"
#include "platform/winapi.h"

namespace {

using namespace std::chrono_literals;

// A request record with an event of its own.
struct Request {
  Request() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Request() { CloseHandle(ov.hEvent); }
  bool Signalled(DWORD milliseconds = 5000) const {
    return WaitForSingleObject(ov.hEvent, milliseconds) == WAIT_OBJECT_0;
  }
  OVERLAPPED ov{};
};

// A request's call returned FALSE with ERROR_IO_PENDING and wrote 0 as its
// count, as Windows does.
testing::AssertionResult Pending(BOOL result, const DWORD& countAtTheCall) {
  const DWORD error = GetLastError();
  if (result) return testing::AssertionFailure() << "ended at once";
  if (error != ERROR_IO_PENDING) return testing::AssertionFailure() << "failed with " << error;
  if (countAtTheCall != 0) return testing::AssertionFailure() << "count " << countAtTheCall << " at the call";
  return testing::AssertionSuccess();
}

// A request that may end at the call or stay pending, as Windows leaves open.
bool Started(BOOL result) { return result || GetLastError() == ERROR_IO_PENDING; }

class SerialConformance : public testing::Test {
 protected:
  void SetUp() override {
    port = CreateFileA(pty.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS none{};  // reads wait for every byte, writes for all their room
    ASSERT_TRUE(SetCommTimeouts(port, &none));
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  DWORD Waiting() const {
    COMSTAT stat{};
    return ClearCommError(port, nullptr, &stat) ? stat.cbInQue : 0xFFFFFFFF;
  }

  PtyPair pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(SerialConformance, PendingReadsAndWritesCountTheirBytesWhenTheyEnd) {
  Request read;
  char buffer[4] = {};
  DWORD n = 0xDEADBEEF;
  ASSERT_TRUE(Pending(ReadFile(port, buffer, 4, &n, &read.ov), n));
  EXPECT_FALSE(GetOverlappedResult(port, &read.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  pty.Send("abcd");
  ASSERT_TRUE(GetOverlappedResult(port, &read.ov, &n, TRUE)) << GetLastError();
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");

  // The block fills the terminal and waits until the far end reads.
  const std::string block(1 << 20, 'w');
  Request write;
  n = 0xDEADBEEF;
  ASSERT_TRUE(Pending(WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, &write.ov), n));
  std::string arrived;
  std::thread reader([&] {
    while (arrived.size() < block.size()) {
      const std::string more = pty.Receive(block.size() - arrived.size());
      if (more.empty()) break;
      arrived += more;
    }
  });
  const BOOL written = GetOverlappedResult(port, &write.ov, &n, TRUE);
  reader.join();
  EXPECT_TRUE(written) << GetLastError();
  EXPECT_EQ(n, block.size());
  EXPECT_EQ(arrived.size(), block.size());

  // A write the device takes at once may end at the call: its count then,
  // and the record's, is every byte.
  n = 0;
  ASSERT_TRUE(Started(WriteFile(port, "xyz", 3, &n, &write.ov)));
  ASSERT_TRUE(GetOverlappedResult(port, &write.ov, &n, TRUE));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(pty.Receive(3), "xyz");
}

// A zero-length request ends at the call, with nothing moved either way.
TEST_F(SerialConformance, ZeroLengthReadsAndWritesEndAtOnceWithNothing) {
  pty.Send("q");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 1; }));
  for (const bool reading : {true, false}) {
    SCOPED_TRACE(reading ? "read" : "write");
    Request request;
    request.ov.InternalHigh = 77;
    char buffer[1] = {'x'};
    DWORD n = 0xDEADBEEF;
    const BOOL ended =
        reading ? ReadFile(port, buffer, 0, &n, &request.ov) : WriteFile(port, buffer, 0, &n, &request.ov);
    ASSERT_TRUE(ended) << GetLastError();
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(request.Signalled(0));
    n = 0xDEADBEEF;
    EXPECT_TRUE(GetOverlappedResult(port, &request.ov, &n, FALSE));
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(Waiting(), 1u) << "the byte that waits stays";
  DWORD n = 0;
  Request marker;
  ASSERT_TRUE(Started(WriteFile(port, "m", 1, &n, &marker.ov)));
  EXPECT_EQ(pty.Receive(1), "m") << "the empty write sent nothing before it";
}

// WaitCommEvent writes the events it ends with into the mask, at the call
// when they are due already, and counts the mask's four bytes; a second wait
// while one is pending is refused, and a new mask ends the pending one with
// none.
TEST_F(SerialConformance, EventWaitsWriteTheirMaskAndCountItsBytes) {
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
  Request wait;
  DWORD mask = 0, n = 0;
  pty.Send("1");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 1; }));
  ASSERT_TRUE(WaitCommEvent(port, &mask, &wait.ov)) << "the arrival came before the wait";
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
  ASSERT_TRUE(GetOverlappedResult(port, &wait.ov, &n, FALSE));
  EXPECT_EQ(n, sizeof(DWORD));

  mask = 0;
  ASSERT_FALSE(WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(wait.Signalled(100)) << "the byte that waits is no new arrival";
  EXPECT_EQ(mask, 0u);
  EXPECT_FALSE(GetOverlappedResult(port, &wait.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  Request second;
  DWORD secondMask = 0;
  EXPECT_FALSE(WaitCommEvent(port, &secondMask, &second.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Request write;
  ASSERT_TRUE(Started(WriteFile(port, "t", 1, &n, &write.ov)));
  ASSERT_TRUE(wait.Signalled());
  EXPECT_EQ(mask, static_cast<DWORD>(EV_TXEMPTY));
  n = 0;
  ASSERT_TRUE(GetOverlappedResult(port, &wait.ov, &n, FALSE));
  EXPECT_EQ(n, sizeof(DWORD));

  // Another thread sets the mask while this one waits for the event.
  mask = 0xFFFF;
  ASSERT_FALSE(WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  std::thread other([&] {
    std::this_thread::sleep_for(50ms);
    SetCommMask(port, 0);
  });
  const bool ended = wait.Signalled();
  other.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(GetOverlappedResult(port, &wait.ov, &n, FALSE)) << GetLastError();
}

// The close ends what is pending as aborted; GetOverlappedResult reads each
// record as it was left, through the handle that is closed by now.
TEST_F(SerialConformance, RecordsTellTheirEndAfterCloseHandle) {
  Request done, read, wait;
  char buffer[4] = {};
  DWORD n = 0, mask = 0;
  pty.Send("ab");
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 2; }));
  ASSERT_TRUE(Started(ReadFile(port, buffer, 2, &n, &done.ov)));
  ASSERT_TRUE(done.Signalled());
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  ASSERT_TRUE(Pending(ReadFile(port, buffer, 4, &n, &read.ov), n));
  ASSERT_FALSE(WaitCommEvent(port, &mask, &wait.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(CloseHandle(port));
  const HANDLE closed = std::exchange(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(read.Signalled());
  EXPECT_TRUE(wait.Signalled());

  n = 0;
  EXPECT_TRUE(GetOverlappedResult(closed, &done.ov, &n, FALSE)) << GetLastError();
  EXPECT_EQ(n, 2u);
  for (OVERLAPPED* aborted : {&read.ov, &wait.ov}) {
    for (const BOOL waitForIt : {FALSE, TRUE}) {
      n = 0xDEADBEEF;
      EXPECT_FALSE(GetOverlappedResult(closed, aborted, &n, waitForIt));
      EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
      EXPECT_EQ(n, 0u);
    }
  }
}

}  // namespace
