// The Windows build of the serial component and the block protocol over a
// real implementation of the communications API: Wine's COM1, which
// serial_over_wine.sh points at the pseudo-terminal of the Linux virtual
// programmer (storing the first session, serving the second). Both ends are
// checked byte for byte: the programmer's store file is read back through
// Wine's Z: drive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "comm/Comm.h"
#include "platform/Files.h"
#include "platform/winapi.h"
// After windows.h, which it needs.
#include <tlhelp32.h>

#include "support/Raised.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "transfer/BlockProtocol.h"
#include "transfer/TransferLine.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  return bytes;
}

// A dialog without a window: the real clock, no Escape, a stop after a
// minute so that a silent line fails the test instead of holding it.
class Host final : public TransferHost {
 public:
  void ProcessMessages() override { std::this_thread::yield(); }
  bool StopRequested() override { return Clock::now() > deadline; }
  void ClearStop() override {}
  std::uint32_t Now() override { return timeGetTime(); }
  bool EscapePressed() override { return false; }
  void SetStartEnabled(bool) override {}
  void SetStopEnabled(bool) override {}
  void ShowMessage(const std::string& text, const std::string&) override { messages += text + "\n"; }
  void ProgressReset() override {}
  void ProgressStep() override {}
  std::string messages;

 private:
  Clock::time_point deadline = Clock::now() + std::chrono::minutes(1);
};

// The threads of this process.
size_t OwnThreads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
  CloseHandle(snapshot);
  return count;
}

// Opens COM1 as the dialogs do. A pseudo-terminal has no modem lines, and
// Wine refuses to raise them there with ERROR_NOT_SUPPORTED where a real
// port accepts it; only that refusal is let through.
void OpenAsTheDialogsDo(TComm& comm) {
  comm.SetDeviceName("COM1");
  comm.Open();
  ASSERT_TRUE(comm.Enabled());
  for (const std::string& raised :
       {RaisedBy([&] { comm.SetRTSState(true); }), RaisedBy([&] { comm.SetDTRState(true); })}) {
    if (!raised.empty()) {
      EXPECT_EQ(raised, "EscapeCommFunction failure (Error: 50)");
    }
  }
}

// The component purges its queues as it closes: the last bytes leave first.
void WaitForOutputToLeave(TComm& comm) {
  WaitUntil([&] { return comm.OutQueCount() <= 0; }, std::chrono::seconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST(SerialOverWine, DownloadThenUploadByteForByte) {
  const std::string stored = Env("TALVORIN_VPROG_STORE");
  const std::string served = Env("TALVORIN_VPROG_SERVE");
  if (stored.empty() || served.empty()) GTEST_SKIP() << "run by serial_over_wine.sh";
  TempDir dir;

  // 700 bytes: two whole blocks of 256 and one filled up with 0xFF.
  const std::string image = Pattern(700, 7);
  dir.write("image.bin", image);
  const size_t threads = OwnThreads();
  {
    TComm comm;
    SetDownloadLine(comm);
    OpenAsTheDialogsDo(comm);
    // Wine's port on a pseudo-terminal fails every wait for line events as
    // not supported: the watcher ends rather than retry while the port is
    // open, and the transfer, which polls, goes on.
    WaitUntil([&] { return OwnThreads() <= threads; }, std::chrono::seconds(2));
    EXPECT_EQ(OwnThreads(), threads) << "the watcher still runs";
    PortOf<TComm> port(comm);
    Host host;
    EXPECT_EQ(RunDownload(port, host, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::Complete)
        << host.messages;
    EXPECT_EQ(host.messages, "Download compelete !!!\n");
    WaitForOutputToLeave(comm);
    comm.Close();
  }
  std::string atTheProgrammer;
  WaitUntil([&] { return ReadWholeFile(stored, atTheProgrammer) && atTheProgrammer.size() >= 768; },
            std::chrono::seconds(10));
  EXPECT_EQ(atTheProgrammer, image + std::string(768 - 700, '\xFF'));

  {
    TComm comm;
    SetUploadLine(comm);
    OpenAsTheDialogsDo(comm);
    PortOf<TComm> port(comm);
    Host host;
    EXPECT_EQ(RunUpload(port, host, dir.file("upload.bin"), NameMatch::Caseless), TransferOutcome::Complete)
        << host.messages;
    WaitForOutputToLeave(comm);
    comm.Close();
  }
  std::string expected;
  ASSERT_TRUE(ReadWholeFile(served, expected));
  EXPECT_EQ(dir.read("upload.bin"), expected);
}

}  // namespace
