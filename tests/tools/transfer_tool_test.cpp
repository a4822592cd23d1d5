// talvorin-transfer as a user runs it: a real process against the virtual
// programmer (or a bare pseudo-terminal), judged by its exit status, its
// standard error and the bytes on both ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "comm/Pty.h"
#include "support/TempDir.h"
#include "tools/VprogProcess.h"
#include "transfer/FakeLine.h"

namespace {


Bytes Padded(Bytes bytes, size_t blockSize) {
  bytes.resize((bytes.size() + blockSize - 1) / blockSize * blockSize, '\xFF');
  return bytes;
}

// The tool as a child process. Its standard error goes to a pipe, or to a
// pseudo-terminal when it should see a terminal.
class Tool {
 public:
  Tool() = default;
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;
  ~Tool() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (const int fd : {out, err})
      if (fd >= 0) close(fd);
  }

  void Start(const std::vector<std::string>& args, bool terminal = false, const std::string& program = TOOL_PATH) {
    int outPipe[2], errEnds[2];
    ASSERT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
    if (terminal) {
      winsize size{};
      size.ws_col = 100;
      ASSERT_EQ(openpty(&errEnds[0], &errEnds[1], nullptr, nullptr, &size), 0);
      fcntl(errEnds[0], F_SETFD, FD_CLOEXEC);
      fcntl(errEnds[1], F_SETFD, FD_CLOEXEC);
    } else {
      ASSERT_EQ(pipe2(errEnds, O_CLOEXEC), 0);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errEnds[1], STDERR_FILENO);
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errEnds[1]);
    out = outPipe[0];
    err = errEnds[0];
    ASSERT_EQ(error, 0) << program;
  }

  void Signal(int number) const { kill(pid, number); }

  // Waits up to 30 s for the end, collecting both outputs: the exit status,
  // 128 + the number of a signal that ended it, or -1 when it did not end.
  int Wait() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = -1;
    while (pid > 0 || out >= 0 || err >= 0) {
      if (std::chrono::steady_clock::now() >= end) return -1;
      pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
      poll(fds, 2, 20);
      Collect(out, stdOut);
      Collect(err, stdErr);
      int raw = 0;
      if (pid > 0 && waitpid(pid, &raw, WNOHANG) == pid) {
        pid = -1;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      }
    }
    return status;
  }

  std::string stdOut, stdErr;

 private:
  // Takes what is there; closes the end at its end (a terminal whose other
  // side has gone reports an error).
  static void Collect(int& fd, std::string& into) {
    if (fd < 0) return;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
      char buffer[4096];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fd);
        fd = -1;
        return;
      }
      into.append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Everything the line holds, once nothing more comes for a moment.
Bytes Drain(int fd) {
  Bytes bytes;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 200) > 0) {
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

struct TransferTool : ::testing::Test {
  TempDir dir;

  // The tool's status for one run to its end.
  int Run(const std::vector<std::string>& args, Tool& tool) {
    tool.Start(args);
    return tool.Wait();
  }
  std::uintmax_t SizeOf(const std::string& name) {
    std::error_code error;
    const auto size = std::filesystem::file_size(dir.file(name), error);
    return error ? 0 : size;
  }
};

TEST_F(TransferTool, BothDirectionsInBothBlockSizes) {
  for (const int block : {128, 256}) {
    SCOPED_TRACE(block);
    const std::string size = std::to_string(block);
    const Bytes file = Pattern(5000, static_cast<unsigned>(block)), image = Pattern(3000, 7);
    dir.write("image.bin", file);
    dir.write("served.bin", image);
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin"), "--serve", dir.file("served.bin"),
                                         "--block", size}));

    Tool download;
    EXPECT_EQ(Run({"download", dir.file("image.bin"), "--device", vprog.Device()}, download), 0);
    EXPECT_EQ(download.stdErr, "Download compelete !!!\n");
    EXPECT_EQ(vprog.ReadLine(10000), "download ended by the host's ESC: " + std::to_string((5000 + block - 1) / block) +
                                         " blocks of " + size + " bytes (" + dir.file("stored.bin") + ")");
    EXPECT_EQ(dir.read("stored.bin"), Padded(file, static_cast<size_t>(block)));

    Tool upload;
    EXPECT_EQ(Run({"--device", vprog.Device(), "upload", dir.file("received.bin")}, upload), 0);
    EXPECT_EQ(upload.stdErr, "Upload compelete !!!\n");
    EXPECT_EQ(vprog.ReadLine(10000).rfind("upload complete: ", 0), 0u);
    EXPECT_EQ(dir.read("received.bin"), Padded(image, static_cast<size_t>(block)));
  }
}

// COMn leads where the installation's "Talvorin.ini" says, as for the
// program; without --install that is the tool's own directory, and without
// --com the port chosen there.
TEST_F(TransferTool, ComPortsLeadThroughTheInstallation) {
  const Bytes file = Pattern(700);
  dir.write("image.bin", file);
  VprogProcess named;
  ASSERT_TRUE(named.Start(VPROG_PATH, {"--store", dir.file("stored.bin"), "--install", dir.path(), "--com", "3"}));
  Tool tool;
  EXPECT_EQ(Run({"--install", dir.path(), "--com", "3", "download", dir.file("image.bin")}, tool), 0);
  EXPECT_EQ(dir.read("stored.bin"), Padded(file, 256));

  TempDir installed;
  std::filesystem::copy_file(TOOL_PATH, installed.file("talvorin-transfer"));
  installed.chmod("talvorin-transfer", 0755);
  VprogProcess chosen;
  ASSERT_TRUE(
      chosen.Start(VPROG_PATH, {"--store", dir.file("chosen.bin"), "--install", installed.path(), "--com", "2"}));
  installed.write("Talvorin.ini", installed.read("Talvorin.ini") + "[COM port]\naddress=1\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--com", "2"}, std::vector<std::string>{}}) {
    SCOPED_TRACE(args.size());
    Tool own;
    std::vector<std::string> all = args;
    all.insert(all.end(), {"download", dir.file("image.bin")});
    own.Start(all, false, installed.file("talvorin-transfer"));
    EXPECT_EQ(own.Wait(), 0) << own.stdErr;
    EXPECT_EQ(dir.read("chosen.bin"), Padded(file, 256));
    std::filesystem::remove(dir.file("chosen.bin"));
  }
}

TEST_F(TransferTool, EachOutcomeHasItsStatusAndTheDialogsWords) {
  dir.write("image.bin", Pattern(1000));
  dir.write("served.bin", Pattern(1000, 2));
  dir.write("big.bin", "");
  std::filesystem::resize_file(dir.file("big.bin"), 0x80000000ULL);
  struct Case {
    std::vector<std::string> vprog;
    std::vector<std::string> tool;
    int status;
    std::string message;
  } cases[] = {
      {{"--esc", "2"}, {"download", dir.file("image.bin")}, 1, "Target send ESC !!!\n"},
      {{"--bad-handshake"}, {"download", dir.file("image.bin")}, 2, "Something wrong. Can not get block size.\n"},
      {{"--bad-handshake"}, {"upload", dir.file("received.bin")}, 2, "Can not get Block size.\n"},
      {{}, {"download", dir.file("missing.bin")}, 4, "File : " + dir.file("missing.bin") + " is not exist.\n"},
      {{},
       {"download", dir.file("big.bin")},
       4,
       "File : " + dir.file("big.bin") + " is too large. It must be smaller than 2 GB.\n"},
      {{},
       {"upload", dir.file("none/received.bin")},
       4,
       "Directory : \" " + dir.file("none") + " \" is not exist. Please create it first.\n"},
      {{}, {"upload", "/dev/full"}, 4, "Can not write to /dev/full . The upload is abort.\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.message);
    VprogProcess vprog;
    if (c.tool[0] == "upload")
      c.vprog.insert(c.vprog.begin(), {"--serve", dir.file("served.bin")});
    else
      c.vprog.insert(c.vprog.begin(), {"--store", dir.file("stored.bin")});
    ASSERT_TRUE(vprog.Start(VPROG_PATH, c.vprog));
    c.tool.insert(c.tool.end(), {"--device", vprog.Device()});
    Tool tool;
    EXPECT_EQ(Run(c.tool, tool), c.status);
    EXPECT_EQ(tool.stdErr, c.message);
  }

  // The reason on a third line, as in the dialogs; a word about the COM
  // numbers' mapping only where a COM number led there.
  const std::string lines = " can not be opened.\nIt may be used by another program.\n";
  const std::string missing = dir.file("no-such-device") + " : nothing is connected there.";
  const std::pair<std::string, std::string> devices[] = {
      {dir.file("no-such-device"), missing},
      {dir.path(), dir.path() + " : it is a folder, not a serial port."},
      {"/dev/null", "/dev/null : it is not a serial port."},
  };
  for (const auto& [device, reason] : devices) {
    Tool tool;
    EXPECT_EQ(Run({"download", dir.file("image.bin"), "--device", device}, tool), 3);
    EXPECT_EQ(tool.stdErr, device + lines + reason + "\n");
  }
  dir.write("Talvorin.ini", "[COM devices]\nCOM7=" + dir.file("no-such-device") + "\n");
  Tool com7;
  EXPECT_EQ(Run({"download", dir.file("image.bin"), "--install", dir.path(), "--com", "7"}, com7), 3);
  EXPECT_EQ(com7.stdErr,
            "COM7" + lines + missing +
                " COM numbers are mapped in Option > Serial devices... (section \"COM devices\" of \"Talvorin.ini\").\n");
}

// Waiting for the programmer: the line is set as the dialogs set it, the port
// is the tool's alone, and SIGINT or SIGTERM ends the wait with ESC, as
// Escape does in the dialogs.
TEST_F(TransferTool, SignalsBreakTheWaitForTheProgrammer) {
  dir.write("image.bin", Pattern(300));
  struct Case {
    std::string direction;
    int signal;
    std::string message;
  } cases[] = {
      {"download", SIGINT, "USER Break !!!\n ( It is waiting for ACK. )\n"},
      {"upload", SIGTERM, "User press ESC !!!\n( It is waiting for ACK. )\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.direction);
    PtyPair line;
    Tool tool;
    tool.Start({c.direction, dir.file(c.direction == "download" ? "image.bin" : "received.bin"), "--device", line.path});
    Bytes first;
    ASSERT_TRUE(WaitUntil([&] { return !(first = line.Receive(1)).empty(); }));
    EXPECT_EQ(first, "\x02");

    termios settings{};
    ASSERT_EQ(tcgetattr(line.master, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);

    Tool second;
    EXPECT_EQ(Run({"download", dir.file("image.bin"), "--device", line.path}, second), 3);
    EXPECT_EQ(second.stdErr.rfind(line.path + " can not be opened.\nIt may be used by another program.\n" +
                                      line.path + " : it is busy, held by talvorin-",
                                  0),
              0u)
        << second.stdErr;

    tool.Signal(c.signal);
    EXPECT_EQ(tool.Wait(), 5);
    EXPECT_EQ(tool.stdErr, c.message);
    const Bytes wire = Drain(line.master);
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.find_first_not_of('\x02'), wire.size() - 1) << "STX repeats, then ESC";
    EXPECT_EQ(wire.back(), '\x1B');
  }
}

// Interrupted in the middle of a transfer at the speed of the real line: the
// programmer sees the host's ESC, a download keeps what the programmer
// stored, an upload keeps the whole blocks received.
TEST_F(TransferTool, SignalInTheMiddleOfAPacedTransfer) {
  const Bytes image = Pattern(64 * 1024, 5);
  dir.write("image.bin", image);
  for (const std::string direction : {"download", "upload"}) {
    SCOPED_TRACE(direction);
    const bool download = direction == "download";
    const std::string mine = download ? "stored.bin" : "received.bin";
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--pace", download ? "--store" : "--serve",
                                         dir.file(download ? "stored.bin" : "image.bin")}));
    Tool tool;
    tool.Start({direction, dir.file(download ? "image.bin" : "received.bin"), "--device", vprog.Device()});
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(mine) >= 2048; }));
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 5);
    EXPECT_EQ(tool.stdErr, "User press ESC !!!\n");

    const std::string summary = vprog.ReadLine(10000);
    const std::string ending = download ? "download ended by the host's ESC: " : "upload stopped by the host: ";
    ASSERT_EQ(summary.rfind(ending, 0), 0u) << summary;
    const size_t blocks = std::stoul(summary.substr(ending.size()));
    const Bytes kept = dir.read(mine);
    EXPECT_EQ(kept.size() % 256, 0u);
    EXPECT_LT(kept.size(), image.size());
    EXPECT_EQ(kept, image.substr(0, kept.size()));
    // The programmer counts the blocks it sent, the last perhaps not taken.
    if (download)
      EXPECT_EQ(kept.size(), blocks * 256);
    else
      EXPECT_LE(kept.size(), blocks * 256);
  }
}

// A programmer that leaves right after its last session: the host still gets
// every byte it was sent, and a completed upload is reported as one.
TEST_F(TransferTool, AProgrammerThatLeavesAfterItsSessionLosesNothing) {
  const Bytes image = Pattern(512, 9);
  dir.write("served.bin", image);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin"), "--sessions", "1"}));
    Tool upload;
    EXPECT_EQ(Run({"upload", dir.file("received.bin"), "--device", vprog.Device()}, upload), 0) << upload.stdErr;
    const Bytes received = dir.read("received.bin");
    EXPECT_TRUE(received == Padded(image, 256)) << received.size() << " bytes kept";
  }
}

// The programmer unplugged in the middle: the tool ends at once with its own
// status instead of waiting for a line that is gone.
TEST_F(TransferTool, ProgrammerGoneInTheMiddle) {
  dir.write("image.bin", Pattern(64 * 1024, 6));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--pace", "--store", dir.file("stored.bin")}));
  Tool tool;
  tool.Start({"download", dir.file("image.bin"), "--device", vprog.Device()});
  ASSERT_TRUE(WaitUntil([&] { return SizeOf("stored.bin") >= 2048; }));
  vprog.Stop();
  EXPECT_EQ(tool.Wait(), 7) << tool.stdErr;
  EXPECT_NE(tool.stdErr.find(" was disconnected."), std::string::npos) << tool.stdErr;
}

TEST_F(TransferTool, ProgressLineOnlyOnATerminal) {
  dir.write("image.bin", Pattern(3000));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  Tool tool;
  tool.Start({"download", dir.file("image.bin"), "--device", vprog.Device()}, true);
  EXPECT_EQ(tool.Wait(), 0);
  // The terminal turns each line break into a carriage return and a line feed.
  EXPECT_NE(tool.stdErr.find("\r[##############################] 12/12 blocks  3000/3000 bytes"), std::string::npos)
      << tool.stdErr;
  const std::string end = " left\x1b[K\r\nDownload compelete !!!\r\n";
  ASSERT_GE(tool.stdErr.size(), end.size());
  EXPECT_EQ(tool.stdErr.substr(tool.stdErr.size() - end.size()), end);
}

TEST_F(TransferTool, UsageHelpAndVersion) {
  Tool help;
  EXPECT_EQ(Run({"--help"}, help), 0);
  EXPECT_EQ(help.stdOut.rfind("Moves a memory image", 0), 0u);
  EXPECT_NE(help.stdOut.find("Exit status:"), std::string::npos);
  Tool version;
  EXPECT_EQ(Run({"--version"}, version), 0);
  EXPECT_EQ(version.stdOut, "talvorin-transfer " TALVORIN_VERSION "\n");

  for (const std::vector<std::string>& args : {
           std::vector<std::string>{},
           {"download"},
           {"send", "x"},
           {"download", "x", "--com", "1", "--device", "/dev/null"},
           {"download", "x", "--com", "0"},
           {"download", "x", "--install", dir.file("none")},
           {"upload", "x", "--speed", "9600"},
       }) {
    SCOPED_TRACE(args.empty() ? "" : args.back());
    Tool tool;
    EXPECT_GE(Run(args, tool), 100);
    EXPECT_NE(tool.stdErr.find("Run with --help for more information."), std::string::npos) << tool.stdErr;
  }
}

}  // namespace
