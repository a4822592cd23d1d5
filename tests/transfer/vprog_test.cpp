// The transfers against the virtual programmer, a real process on a real
// pseudo-terminal, through a plain file-descriptor port.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winapi.h"
#include "support/TempDir.h"
#include "tools/PtyPort.h"
#include "tools/QuietHost.h"
#include "tools/VprogProcess.h"
#include "transfer/BlockProtocol.h"
#include "transfer/FakeLine.h"
#include "transfer/TransferLine.h"

namespace {

using RealHost = QuietHost;

struct Vprog : ::testing::Test {
  TempDir dir;
  VprogProcess vprog;
  FdComm comm;
  RealHost host;

  void Start(std::vector<std::string> args) {
    ASSERT_TRUE(vprog.Start(VPROG_PATH, args));
    ASSERT_TRUE(comm.Open(vprog.Device())) << vprog.Device();
  }
  TransferOutcome Download(const Bytes& content) {
    dir.write("image.bin", content);
    PortOf<FdComm> port(comm);
    return RunDownload(port, host, dir.file("image.bin"), NameMatch::Caseless);
  }
  TransferOutcome Upload() {
    PortOf<FdComm> port(comm);
    return RunUpload(port, host, dir.file("received.bin"), NameMatch::Caseless);
  }
};

Bytes Padded(Bytes bytes, size_t blockSize) {
  bytes.resize((bytes.size() + blockSize - 1) / blockSize * blockSize, '\xFF');
  return bytes;
}

TEST_F(Vprog, DownloadInBothBlockSizes) {
  for (const int block : {128, 256}) {
    SCOPED_TRACE(block);
    VprogProcess target;
    ASSERT_TRUE(target.Start(VPROG_PATH, {"--store", dir.file("stored.bin"), "--block", std::to_string(block)}));
    FdComm line;
    ASSERT_TRUE(line.Open(target.Device()));
    PortOf<FdComm> port(line);
    const Bytes file = Pattern(5000, static_cast<unsigned>(block));
    dir.write("image.bin", file);
    EXPECT_EQ(RunDownload(port, host, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::Complete);
    EXPECT_EQ(target.ReadLine(10000), "download ended by the host's ESC: " +
                                          std::to_string((5000 + block - 1) / block) + " blocks of " +
                                          std::to_string(block) + " bytes (" + dir.file("stored.bin") + ")");
    EXPECT_EQ(dir.read("stored.bin"), Padded(file, static_cast<size_t>(block)));
    EXPECT_EQ(host.messages.back(), "Download compelete !!!|Job down !!!");
  }
}

TEST_F(Vprog, UploadInBothBlockSizes) {
  for (const int block : {128, 256}) {
    SCOPED_TRACE(block);
    const Bytes image = Pattern(3000, static_cast<unsigned>(block));
    dir.write("served.bin", image);
    VprogProcess target;
    ASSERT_TRUE(target.Start(VPROG_PATH, {"--serve", dir.file("served.bin"), "--block", std::to_string(block)}));
    FdComm line;
    ASSERT_TRUE(line.Open(target.Device()));
    PortOf<FdComm> port(line);
    EXPECT_EQ(RunUpload(port, host, dir.file("received.bin"), NameMatch::Caseless), TransferOutcome::Complete);
    EXPECT_EQ(dir.read("received.bin"), Padded(image, static_cast<size_t>(block)));
    EXPECT_EQ(host.messages.back(), "Upload compelete !!!|FINISH !!!");
  }
}

// A download, then an upload, with the port closed and opened in between,
// as the demo does with one programmer.
TEST_F(Vprog, SessionsFollowInOrder) {
  const Bytes image = Pattern(700, 9);
  dir.write("served.bin", image);
  Start({"--store", dir.file("stored.bin"), "--serve", dir.file("served.bin")});
  const Bytes file = Pattern(1000);
  EXPECT_EQ(Download(file), TransferOutcome::Complete);
  EXPECT_FALSE(vprog.ReadLine(10000).empty());
  comm.Close();
  ASSERT_TRUE(comm.Open(vprog.Device()));
  EXPECT_EQ(Upload(), TransferOutcome::Complete);
  EXPECT_EQ(dir.read("stored.bin"), Padded(file, 256));
  EXPECT_EQ(dir.read("received.bin"), Padded(image, 256));
}

// A USB adapter's latency timer: every answer waits for the next tick, so a
// transfer of a few blocks takes at least a tick per answer, and no byte is
// lost on the way.
TEST_F(Vprog, AnAdapterLatencyDelaysEveryAnswerAndKeepsEveryByte) {
  const Bytes image = Pattern(700, 5);
  dir.write("served.bin", image);
  Start({"--store", dir.file("stored.bin"), "--serve", dir.file("served.bin"), "--latency", "20"});
  const Bytes file = Pattern(600);  // three blocks: four answers at four ticks
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Download(file), TransferOutcome::Complete);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_FALSE(vprog.ReadLine(10000).empty());
  EXPECT_EQ(Upload(), TransferOutcome::Complete);
  EXPECT_EQ(dir.read("stored.bin"), Padded(file, 256));
  EXPECT_EQ(dir.read("received.bin"), Padded(image, 256));
}

TEST_F(Vprog, DownloadMisbehaviour) {
  const Bytes file = Pattern(1000);
  struct Case {
    std::vector<std::string> args;
    TransferOutcome outcome;
    Bytes stored;
  } cases[] = {
      {{"--nak", "2"}, TransferOutcome::Complete, file.substr(0, 256) + Padded(file.substr(512), 256)},
      {{"--esc", "2"}, TransferOutcome::TargetBreak, file.substr(0, 256)},
      {{"--bad-handshake"}, TransferOutcome::HandshakeFailed, ""},
      {{"--bad-handshake", "0x41"}, TransferOutcome::HandshakeFailed, ""},
      {{"--silent"}, TransferOutcome::BreakWaitingSize, ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    VprogProcess target;
    c.args.insert(c.args.begin(), {"--store", dir.file("stored.bin")});
    ASSERT_TRUE(target.Start(VPROG_PATH, c.args));
    FdComm line;
    ASSERT_TRUE(line.Open(target.Device()));
    PortOf<FdComm> port(line);
    RealHost fresh;
    fresh.stopAfter = 2500;
    dir.write("image.bin", file);
    EXPECT_EQ(RunDownload(port, fresh, dir.file("image.bin"), NameMatch::Caseless), c.outcome);
    if (c.outcome != TransferOutcome::BreakWaitingSize) {
      EXPECT_FALSE(target.ReadLine(10000).empty());
    }
    EXPECT_EQ(dir.read("stored.bin"), c.stored);
  }
}

TEST_F(Vprog, UploadMisbehaviour) {
  const Bytes image = Pattern(640, 3);
  dir.write("served.bin", image);
  for (const char* misbehaviour : {"--stray", "--esc-behind"}) {
    SCOPED_TRACE(misbehaviour);
    VprogProcess target;
    std::vector<std::string> args{"--serve", dir.file("served.bin"), "--block", "128", misbehaviour};
    if (std::string(misbehaviour) == "--stray") args.push_back("2");
    ASSERT_TRUE(target.Start(VPROG_PATH, args));
    FdComm line;
    ASSERT_TRUE(line.Open(target.Device()));
    PortOf<FdComm> port(line);
    EXPECT_EQ(RunUpload(port, host, dir.file("received.bin"), NameMatch::Caseless), TransferOutcome::Complete);
    EXPECT_EQ(dir.read("received.bin"), image);
  }
}

// Between a fork and the new program a threaded process may make only
// async-signal-safe calls, and fork handlers run there. The programmer is
// started, from a process with a busy second thread, without running any of
// this process's code in the child: a fork handler never runs.
std::atomic<bool> forkHandlerArmed{false};
volatile int* forkHandlerRanInChild = nullptr;  // shared with any child

TEST_F(Vprog, StartsWithoutRunningCodeInAForkedChild) {
  void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  forkHandlerRanInChild = static_cast<volatile int*>(shared);
  *forkHandlerRanInChild = 0;
  static std::once_flag registered;
  std::call_once(registered, [] {
    pthread_atfork(nullptr, nullptr, [] {
      if (forkHandlerArmed) *forkHandlerRanInChild = 1;
    });
  });
  std::atomic<bool> done{false};
  std::thread busy([&] {
    while (!done) std::make_unique<char[]>(64).reset();
  });
  forkHandlerArmed = true;
  const bool started = vprog.Start(VPROG_PATH, {"--store", "/dev/null"});
  forkHandlerArmed = false;
  done = true;
  busy.join();
  EXPECT_TRUE(started);
  EXPECT_EQ(*forkHandlerRanInChild, 0);
  munmap(shared, sizeof(int));

  VprogProcess missing;
  EXPECT_FALSE(missing.Start(dir.file("no-such-program"), {}));
}

TEST_F(Vprog, MapsItsDeviceInTheInstallationWhileItRuns) {
  const std::string ini = dir.file("Talvorin.ini");
  const auto entry = [&](const char* key) {
    char value[256] = {};
    GetPrivateProfileStringA("COM devices", key, "", value, sizeof value, ini.c_str());
    return std::string(value);
  };
  const auto args = [&](const char* com) {
    return std::vector<std::string>{"--store", "/dev/null", "--install", dir.path(), "--com", com};
  };
  // Two started at once change the section together; a lost entry shows in
  // some round.
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    VprogProcess first, second;
    std::thread other([&] { EXPECT_TRUE(second.Start(VPROG_PATH, args("2"))); });
    EXPECT_TRUE(first.Start(VPROG_PATH, args("1")));
    other.join();
    EXPECT_EQ(entry("COM1"), first.Device());
    EXPECT_EQ(entry("COM2"), second.Device());
    EXPECT_EQ(first.Device().rfind("/dev/pts/", 0), 0u);

    first.Stop();
    EXPECT_EQ(entry("COM1"), "");
    EXPECT_EQ(entry("COM2"), second.Device());
    // Mapped elsewhere meanwhile: that entry is not the programmer's to remove.
    WritePrivateProfileStringA("COM devices", "COM2", "/dev/ttyUSB0", ini.c_str());
    second.Stop();
    EXPECT_EQ(entry("COM2"), "/dev/ttyUSB0");
    WritePrivateProfileStringA("COM devices", "COM2", nullptr, ini.c_str());
  }
}

}  // namespace
