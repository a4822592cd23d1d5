// talvorin-transfer as a user runs it: a real process against the virtual
// programmer (or a bare pseudo-terminal), judged by its exit status, its
// standard error and the bytes on both ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/Pty.h"
#include "platform/SerialDevices.h"
#include "ports/ComDevices.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "tools/VprogProcess.h"
#include "transfer/FakeLine.h"

namespace {


Bytes Padded(Bytes bytes, size_t blockSize) {
  bytes.resize((bytes.size() + blockSize - 1) / blockSize * blockSize, '\xFF');
  return bytes;
}

// Where a child's standard output or error goes: a pipe read here, a
// pseudo-terminal (error only), nowhere (closed), or a pipe nobody reads.
enum class Stream { Pipe, Terminal, Closed, ReaderGone };

// The tool (or another program) as a child process.
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

  void Start(const std::vector<std::string>& args, Stream errTo = Stream::Pipe, const std::string& program = TOOL_PATH,
             Stream outTo = Stream::Pipe) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int outEnds[2] = {-1, -1}, errEnds[2] = {-1, -1};
    Connect(actions, STDOUT_FILENO, outTo, outEnds);
    Connect(actions, STDERR_FILENO, errTo, errEnds);
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    const auto kept = [](int ends[2], Stream to) {
      if (ends[1] >= 0) close(ends[1]);
      if (to != Stream::ReaderGone) return ends[0];
      close(ends[0]);
      return -1;
    };
    out = kept(outEnds, outTo);
    err = kept(errEnds, errTo);
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

  // Sets up the child's descriptor fd; ends[0] is the end kept here.
  static void Connect(posix_spawn_file_actions_t& actions, int fd, Stream to, int ends[2]) {
    if (to == Stream::Closed) {
      posix_spawn_file_actions_addclose(&actions, fd);
      return;
    }
    if (to == Stream::Terminal) {
      winsize size{};
      size.ws_col = 100;
      ASSERT_EQ(openpty(&ends[0], &ends[1], nullptr, nullptr, &size), 0);
      fcntl(ends[0], F_SETFD, FD_CLOEXEC);
      fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    } else {
      ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    }
    posix_spawn_file_actions_adddup2(&actions, ends[1], fd);
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
  // The temporary file that an upload into name writes beside it: its size,
  // or -1 when there is none.
  std::intmax_t TempSize(const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      std::error_code error;
      const auto size = entry.file_size(error);
      if (entry.path().filename().string().rfind("." + name + ".tmp-", 0) == 0 && !error)
        return static_cast<std::intmax_t>(size);
    }
    return -1;
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

// A signal every millisecond interrupts the wait for the device line again
// and again; none of them is taken for the end of the output.
TEST(VprogProcessStart, SignalsDoNotEndTheWaitForTheDeviceLine) {
  struct sigaction tick {}, previous{};
  tick.sa_handler = [](int) {};  // no SA_RESTART: every wait is interrupted
  sigemptyset(&tick.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &tick, &previous), 0);
  const itimerval every{{0, 1000}, {0, 1000}}, off{};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);
  for (int start = 0; start < 5; ++start) {
    VprogProcess vprog;
    EXPECT_TRUE(vprog.Start(VPROG_PATH, {"--store", "/dev/null"})) << "start " << start;
  }
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
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
    own.Start(all, Stream::Pipe, installed.file("talvorin-transfer"));
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
      {{"--nak", "3"},
       {"download", dir.file("image.bin")},
       8,
       "Blocks not sent: 1 of 4. The programmer answered their requests with neither ACK nor ESC.\n"},
      {{"--bad-handshake"}, {"download", dir.file("image.bin")}, 2, "Something wrong. Can not get block size.\n"},
      {{"--bad-handshake"},
       {"upload", dir.file("received.bin")},
       2,
       "Can not get Block size.\nNothing is saved. " + dir.file("received.bin") + " is not created.\n"},
      {{}, {"download", dir.file("missing.bin")}, 4, "File : " + dir.file("missing.bin") + " is not exist.\n"},
      {{},
       {"download", dir.file("big.bin")},
       4,
       "File : " + dir.file("big.bin") + " is too large. It must be smaller than 2 GB.\n"},
      {{},
       {"upload", dir.file("none/received.bin")},
       4,
       "Directory : \" " + dir.file("none") + " \" is not exist. Please create it first.\n"},
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
  // A stored port index below 0 leads to no device (never to a file named
  // after the port in the current directory), as on Windows.
  dir.write("Talvorin.ini", "[COM port]\naddress=-1\n");
  Tool com0;
  EXPECT_EQ(Run({"download", dir.file("image.bin"), "--install", dir.path()}, com0), 3);
  EXPECT_EQ(com0.stdErr, "COM0" + lines);
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
      {"upload", SIGTERM,
       "User press ESC !!!\n( It is waiting for ACK. )\nNothing is saved. " + dir.file("received.bin") +
           " is not created.\n"},
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

// Signals that keep coming (a hundred within a second, as from a script's
// loop or a held Ctrl+C) end the tool at once, still with its JSON object
// and the status of an interruption.
TEST_F(TransferTool, ASecondSignalEndsAtOnceWithTheReport) {
  dir.write("image.bin", Pattern(300));
  PtyPair line;
  Tool tool;
  tool.Start({"--json", "download", dir.file("image.bin"), "--device", line.path});
  ASSERT_TRUE(WaitUntil([&] { return !line.Receive(1).empty(); }));
  for (int i = 0; i < 100; ++i) {
    tool.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(tool.Wait(), 5);
  EXPECT_EQ(tool.stdErr, "USER Break !!!\n ( It is waiting for ACK. )\n");
  const auto report = nlohmann::json::parse(tool.stdOut);
  EXPECT_EQ(report["outcome"], "interrupted");
  EXPECT_EQ(report["status"], 5);
  EXPECT_EQ(Drain(line.master).back(), '\x1B');
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
    // An upload writes beside its file until it ends.
    ASSERT_TRUE(WaitUntil([&] { return download ? SizeOf(mine) >= 2048 : TempSize(mine) >= 2048; }));
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 5);
    const Bytes kept = dir.read(mine);
    EXPECT_EQ(tool.stdErr, "User press ESC !!!\n" + (download ? "" : std::to_string(kept.size()) +
                                                                       " bytes are saved in " + dir.file(mine) + " .\n"));

    const std::string summary = vprog.ReadLine(10000);
    const std::string ending = download ? "download ended by the host's ESC: " : "upload stopped by the host: ";
    ASSERT_EQ(summary.rfind(ending, 0), 0u) << summary;
    const size_t blocks = std::stoul(summary.substr(ending.size()));
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

// The virtual programmer of the documentation, with the man page's example as
// written: one memory that a download writes and a verify and an upload
// read, which a verify's session does not empty and a restart keeps.
TEST_F(TransferTool, TheVirtualProgrammersMemoryOutlivesSessionsAndRestarts) {
  const Bytes image = Pattern(1000, 7);
  dir.write("image.bin", image);
  ASSERT_EQ(std::system(("srec_cat " + dir.file("image.bin") + " -binary -o " + dir.file("firmware.hex") + " -intel")
                            .c_str()),
            0);
  const std::vector<std::string> com1{"--install", dir.path(), "--com", "1"};
  const auto run = [&](std::vector<std::string> args, Tool& tool) {
    args.insert(args.begin(), com1.begin(), com1.end());
    return Run(args, tool);
  };
  for (const bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "restarted" : "first");
    std::vector<std::string> args = com1;
    args.insert(args.end(), {"--memory", dir.file("memory.bin")});
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, args));
    if (!restarted) {
      Tool download;
      EXPECT_EQ(run({"--timeout", "5", "download", "--verify", dir.file("firmware.hex")}, download), 0)
          << download.stdErr;
      EXPECT_EQ(download.stdErr.substr(download.stdErr.find("Download")), "Download compelete !!!\nverified 1000 bytes\n");
    }
    Tool verify;
    EXPECT_EQ(run({"--timeout", "5", "verify", dir.file("firmware.hex")}, verify), 0) << verify.stdErr;
    EXPECT_EQ(dir.read("memory.bin"), Padded(image, 256));
    Tool upload;
    EXPECT_EQ(run({"--timeout", "5", "upload", dir.file("back.bin")}, upload), 0) << upload.stdErr;
    EXPECT_EQ(dir.read("back.bin"), Padded(image, 256));
  }
}

// A new host that opens the line begins a new session, however the last one
// was left: killed with SIGKILL (its exclusive hold on the line dies with it)
// or stopped by SIGINT in the middle of a paced download. Run as a user
// that the exclusive hold binds, which the superuser is not.
TEST_F(TransferTool, ANewHostIsANewSessionAfterAKillOrABreak) {
  std::vector<std::string> asUser;
  if (geteuid() == 0) {
    asUser = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  }
  const std::string program = asUser.empty() ? std::string(TOOL_PATH) : "/usr/bin/setpriv";
  const auto as = [&](std::vector<std::string> args, const std::string& path) {
    if (!asUser.empty()) args.insert(args.begin(), path);
    args.insert(args.begin(), asUser.begin(), asUser.end());
    return args;
  };
  const Bytes image = Pattern(32 * 1024, 9);
  dir.write("image.bin", image);
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(asUser.empty() ? VPROG_PATH : "/usr/bin/setpriv",
                          as({"--pace", "--memory", dir.file("memory.bin")}, VPROG_PATH)));
  for (const int signal : {SIGKILL, SIGINT}) {
    SCOPED_TRACE(signal);
    {
      Tool stopped;
      const std::string trace = "trace" + std::to_string(signal) + ".log";
      stopped.Start(as({"--trace", dir.file(trace), "download", dir.file("image.bin"), "--device", vprog.Device()},
                       TOOL_PATH),
                    Stream::Pipe, program);
      ASSERT_TRUE(WaitUntil([&] { return SizeOf(trace) > 20000; }));
      stopped.Signal(signal);
      EXPECT_EQ(stopped.Wait(), signal == SIGKILL ? 128 + SIGKILL : 5);
    }
    Tool next;
    next.Start(as({"--timeout", "3", "download", dir.file("image.bin"), "--device", vprog.Device()}, TOOL_PATH),
               Stream::Pipe, program);
    EXPECT_EQ(next.Wait(), 0) << next.stdErr;
    EXPECT_EQ(vprog.ReadLine(10000).rfind(signal == SIGKILL ? "download the host went away: " : "download ended by the host's ESC: ", 0), 0u);
    EXPECT_EQ(vprog.ReadLine(10000), "download ended by the host's ESC: 128 blocks of 256 bytes (" + dir.file("memory.bin") + ")");
    EXPECT_EQ(dir.read("memory.bin"), image);
  }
}

// An existing file gives way only to what the programmer sent: a break
// before any block, a kill in the middle and a failing disk leave it as it
// was, and the tool says so; a completed upload replaces it, and the
// temporary file of the killed one is gone with it.
TEST_F(TransferTool, AnUploadKeepsTheOldFileUntilItHasAReplacement) {
  const Bytes old = Pattern(1000, 3), image = Pattern(64 * 1024, 5);
  dir.write("served.bin", image);
  dir.write("received.bin", old);
  const std::string mine = dir.file("received.bin");
  const std::string nothing = "Nothing is saved. " + mine + " is left as it was.\n";
  {
    // The programmer gives the block size, then nothing.
    PtyPair line;
    Tool tool;
    tool.Start({"upload", mine, "--device", line.path});
    ASSERT_EQ(line.Receive(1), "\x02");
    line.Send("\x01\x06");
    ASSERT_TRUE(WaitUntil([&] { return TempSize("received.bin") >= 0 || SizeOf("received.bin") != old.size(); }));
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 5);
    EXPECT_EQ(tool.stdErr, "User press ESC !!!\n" + nothing);
    EXPECT_EQ(dir.read("received.bin"), old);
    EXPECT_EQ(TempSize("received.bin"), -1);
  }
  {
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--pace", "--serve", dir.file("served.bin")}));
    Tool tool;
    tool.Start({"upload", mine, "--device", vprog.Device()});
    ASSERT_TRUE(WaitUntil([&] { return TempSize("received.bin") >= 2048; }));
    tool.Signal(SIGKILL);
    EXPECT_EQ(tool.Wait(), 128 + SIGKILL);
    EXPECT_EQ(dir.read("received.bin"), old);
  }
  {
    // A break in the middle keeps the whole blocks beside the file, which
    // stays as it was.
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--pace", "--serve", dir.file("served.bin")}));
    Tool tool;
    // Without the temporary files that the killed upload left.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      if (entry.path().filename().string().rfind(".received.bin", 0) == 0) std::filesystem::remove(entry.path());
    tool.Start({"upload", mine, "--device", vprog.Device()});
    ASSERT_TRUE(WaitUntil([&] { return TempSize("received.bin.partial") >= 2048; }));
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 5);
    EXPECT_EQ(dir.read("received.bin"), old);
    const Bytes part = dir.read("received.bin.partial");
    EXPECT_EQ(tool.stdErr, "User press ESC !!!\n" + std::to_string(part.size()) + " bytes are saved in " + mine +
                               ".partial . " + mine + " is left as it was.\n");
    EXPECT_GE(part.size(), 2048u);
    EXPECT_EQ(part, image.substr(0, part.size()));
  }
  {
    // The disk fails every write below the folder.
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    setenv("LD_PRELOAD", FAIL_WRITES_LIBRARY, 1);
    setenv("TALVORIN_FAIL_WRITES_UNDER", dir.path().c_str(), 1);
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    Tool tool;
    tool.Start({"upload", mine, "--device", vprog.Device()});
    unsetenv("LD_PRELOAD");
    unsetenv("TALVORIN_FAIL_WRITES_UNDER");
    if (asan)
      setenv("ASAN_OPTIONS", asan, 1);
    else
      unsetenv("ASAN_OPTIONS");
    EXPECT_EQ(tool.Wait(), 4);
    EXPECT_EQ(tool.stdErr, "Can not write to " + mine + " . The upload is abort.\n" + nothing);
    EXPECT_EQ(dir.read("received.bin"), old);
  }
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  Tool tool;
  EXPECT_EQ(Run({"upload", mine, "--device", vprog.Device()}, tool), 0);
  EXPECT_EQ(dir.read("received.bin"), image);
  EXPECT_EQ(TempSize("received.bin"), -1);
}

// A pipe or a device is refused before the programmer is asked: a pipe
// would hold the tool as it opens it, a device would be replaced by a file.
// A folder is found to be no file once the programmer has answered, as in
// the dialog.
TEST_F(TransferTool, AnUploadRefusesWhatIsNoFile) {
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  for (const std::string& name : {dir.file("pipe"), std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    PtyPair line;
    Tool tool;
    EXPECT_EQ(Run({"upload", name, "--device", line.path}, tool), 4);
    EXPECT_EQ(tool.stdErr, "Can not open " + name + " to save.\nIt is not a regular file.\n");
    EXPECT_EQ(Drain(line.master), "") << "nothing was sent";
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe")));

  std::filesystem::create_directory(dir.file("folder"));
  dir.write("served.bin", Pattern(256, 3));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  Tool tool;
  EXPECT_EQ(Run({"upload", dir.file("folder"), "--device", vprog.Device()}, tool), 4);
  EXPECT_EQ(tool.stdErr, "Can not open " + dir.file("folder") + " to save.\nNothing is saved. " + dir.file("folder") +
                             " is left as it was.\n");
  EXPECT_EQ(vprog.ReadLine(10000).rfind("upload stopped by the host: ", 0), 0u);
}

// In a folder that takes no new file, an existing file that may be written
// is written over in place, as binary and as records.
TEST_F(TransferTool, AnUploadIntoAFolderThatTakesNoNewFile) {
  const Bytes image = Pattern(512, 4);
  dir.write("served.bin", image);
  std::filesystem::create_directory(dir.file("locked"));
  dir.write("locked/image.bin", "old");
  dir.write("locked/image.hex", "old");
  dir.chmod("locked", 0555);
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  for (const char* name : {"locked/image.bin", "locked/image.hex"}) {
    SCOPED_TRACE(name);
    Tool tool;
    EXPECT_EQ(Run({"upload", dir.file(name), "--device", vprog.Device()}, tool), 0);
    EXPECT_EQ(tool.stdErr, "Upload compelete !!!\n");
  }
  dir.chmod("locked", 0755);
  EXPECT_EQ(dir.read("locked/image.bin"), image);
  Tool verify;
  EXPECT_EQ(Run({"verify", dir.file("locked/image.hex"), "--device", vprog.Device()}, verify), 0);
  EXPECT_TRUE(verify.stdErr.ends_with(
      "Intel HEX, an image of 512 bytes from address 0, its data from 0x00000000 to 0x000001FF\nverified 512 bytes\n"))
      << verify.stdErr;
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

// A programmer that sends without pause (a wrong device, debug output after
// a reset) does not hold the tool emptying the line before its first
// request: the bytes that keep coming make a reply that fails the handshake.
TEST_F(TransferTool, AFloodingProgrammerFailsTheHandshake) {
  dir.write("image.bin", Pattern(300));
  for (const std::string direction : {"download", "upload"}) {
    SCOPED_TRACE(direction);
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--flood"}));
    Tool tool;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(
        Run({direction, dir.file(direction == "download" ? "image.bin" : "received.bin"), "--device", vprog.Device()},
            tool),
        2);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(tool.stdErr, direction == "download" ? "Something wrong. Can not get block size.\n"
                                                   : "Can not get Block size.\nNothing is saved. " +
                                                         dir.file("received.bin") + " is not created.\n");
  }
}

// Standard output or error closed, or a pipe whose reader has gone: neither
// the tool nor the programmer writes its words into the line, or ends for
// want of a reader.
TEST_F(TransferTool, ClosedOrUnreadStandardStreamsChangeNothing) {
  const Bytes image = Pattern(8192, 4), served = Pattern(2000, 8);
  dir.write("image.bin", image);
  dir.write("served.bin", served);
  for (const Stream stream : {Stream::Closed, Stream::ReaderGone}) {
    SCOPED_TRACE(static_cast<int>(stream));
    for (const char* name : {"Talvorin.ini", "stored.bin", "received.bin"}) std::filesystem::remove(dir.file(name));
    Tool vprog;
    vprog.Start({"--pace", "--store", dir.file("stored.bin"), "--serve", dir.file("served.bin"), "--install",
                 dir.path(), "--com", "1"},
                Stream::Pipe, VPROG_PATH, stream);
    ASSERT_TRUE(WaitUntil([&] { return dir.exists("Talvorin.ini"); }));
    const std::vector<std::string> port{"--install", dir.path(), "--com", "1"};

    Tool download;
    std::vector<std::string> args = port;
    args.insert(args.end(), {"download", dir.file("image.bin")});
    download.Start(args, stream);
    EXPECT_EQ(download.Wait(), 0);
    EXPECT_TRUE(dir.read("stored.bin") == image) << "the programmer's bytes differ";

    Tool upload;
    args = port;
    args.insert(args.end(), {"upload", dir.file("received.bin")});
    upload.Start(args, stream);
    EXPECT_EQ(upload.Wait(), 0);
    EXPECT_TRUE(dir.read("received.bin") == Padded(served, 256)) << "the received bytes differ";
  }
}

// The FILE a user types is taken as typed, unlike the program's own files.
TEST_F(TransferTool, NamesAreTakenAsTyped) {
  dir.write("backup.bin", "old image");
  dir.write("served.bin", Pattern(300, 3));
  std::filesystem::create_directory(dir.file("CaseDir"));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  Tool upload;
  EXPECT_EQ(Run({"--device", vprog.Device(), "upload", dir.file("Backup.BIN")}, upload), 0) << upload.stdErr;
  EXPECT_TRUE(dir.read("Backup.BIN") == Padded(Pattern(300, 3), 256));
  EXPECT_EQ(dir.read("backup.bin"), "old image");

  Tool intoDirectory;
  EXPECT_EQ(Run({"--device", vprog.Device(), "upload", dir.file("casedir/new.bin")}, intoDirectory), 4);
  EXPECT_EQ(intoDirectory.stdErr,
            "Directory : \" " + dir.file("casedir") + " \" is not exist. Please create it first.\n");
  EXPECT_FALSE(dir.exists("CaseDir/new.bin"));

  Tool download;
  EXPECT_EQ(Run({"--device", vprog.Device(), "download", dir.file("BACKUP.BIN")}, download), 4);
  EXPECT_EQ(download.stdErr, "File : " + dir.file("BACKUP.BIN") + " is not exist.\n");
}

// Meanwhile the installation's own files are found as the program finds
// them: COM5 leads where a "TALVORIN.INI" says.
TEST_F(TransferTool, ComPortsLeadThroughAnyCaseOfTheSettings) {
  dir.write("backup.bin", "old image");
  dir.write("served.bin", Pattern(300, 3));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  dir.write("TALVORIN.INI", "[COM devices]\nCOM5=" + vprog.Device() + "\n");
  const std::vector<std::string> port{"--install", dir.path(), "--com", "5"};
  Tool upload;
  std::vector<std::string> args = port;
  args.insert(args.end(), {"upload", dir.file("Backup.BIN")});
  EXPECT_EQ(Run(args, upload), 0) << upload.stdErr;
  EXPECT_TRUE(dir.read("Backup.BIN") == Padded(Pattern(300, 3), 256));
  EXPECT_EQ(dir.read("backup.bin"), "old image");

  Tool download;
  args = port;
  args.insert(args.end(), {"download", dir.file("BACKUP.BIN")});
  EXPECT_EQ(Run(args, download), 4);
  EXPECT_EQ(download.stdErr, "File : " + dir.file("BACKUP.BIN") + " is not exist.\n");
}

TEST_F(TransferTool, ProgressLineOnlyOnATerminal) {
  dir.write("image.bin", Pattern(3000));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  Tool tool;
  tool.Start({"download", dir.file("image.bin"), "--device", vprog.Device()}, Stream::Terminal);
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
  // Where the tool and the dialog differ: the dialog sends a record file as its text.
  EXPECT_NE(help.stdOut.find("Talvorin's Download dialog sends every file as bin"), std::string::npos);
  // The three commands tell the build's version, and their usage, on
  // standard output; the program needs no display for either.
  std::string platform = getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "";
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  for (const auto& [program, name] : {std::pair<std::string, std::string>{TOOL_PATH, "talvorin-transfer"},
                                      {VPROG_PATH, "talvorin-vprog"},
                                      {TALVORIN_PATH, "Talvorin"}}) {
    SCOPED_TRACE(name);
    Tool version;
    version.Start({"--version"}, Stream::Pipe, program);
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.stdOut, name + " " TALVORIN_VERSION "\n");
    EXPECT_EQ(version.stdErr, "");
    Tool usage;
    usage.Start({"--help"}, Stream::Pipe, program);
    EXPECT_EQ(usage.Wait(), 0);
    EXPECT_NE(usage.stdOut.find("--version"), std::string::npos) << usage.stdOut;
    EXPECT_EQ(usage.stdErr, "");
  }
  if (!platform.empty()) setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  Tool badOption;
  badOption.Start({"--no-such-option"}, Stream::Pipe, VPROG_PATH);
  EXPECT_EQ(badOption.Wait(), 2);
  EXPECT_EQ(badOption.stdOut, "");
  EXPECT_EQ(badOption.stdErr.rfind("usage: talvorin-vprog", 0), 0u) << badOption.stdErr;

  for (const std::vector<std::string>& args : {
           std::vector<std::string>{},
           {"download"},
           {"send", "x"},
           {"download", "x", "--com", "1", "--device", "/dev/null"},
           {"download", "x", "--com", "0"},
           {"download", "x", "--device", ""},
           {"download", "x", "--install", dir.file("none")},
           {"upload", "x", "--speed", "9600"},
           {"upload", "x", "--timeout", "0"},
           {"upload", "x", "--timeout", "nan"},
           // Below a millisecond a limit would be none.
           {"upload", "x", "--timeout", "0.0005"},
           {"upload", "x", "--timeout", "5e-324"},
           {"upload", "x", "--offset", "0x100000000"},
           {"upload", "x", "--offset", "-1"},
           {"upload", "-"},
           {"download", "-"},
           {"verify", "-"},
       }) {
    SCOPED_TRACE(args.empty() ? "" : args.back());
    Tool tool;
    EXPECT_GE(Run(args, tool), 100);
    EXPECT_NE(tool.stdErr.find("Run with --help for more information."), std::string::npos) << tool.stdErr;
  }
}

// The exit statuses that --help gives (from the tool's one table of them),
// the man page and the documentation all list the same numbers.
TEST(TransferToolStatuses, HelpManPageAndDocumentationAgree) {
  const auto statuses = [](const std::string& text, const std::regex& entry) {
    std::vector<std::string> found;
    for (std::sregex_iterator at(text.begin(), text.end(), entry), end; at != end; ++at) found.push_back((*at)[1]);
    return found;
  };
  const auto read = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  Tool help;
  help.Start({"--help"});
  ASSERT_EQ(help.Wait(), 0);
  const std::string table = help.stdOut.substr(help.stdOut.find("Exit status:"));
  const std::vector<std::string> fromHelp = statuses(table, std::regex("\\n  ([0-9]+) "));
  ASSERT_EQ(fromHelp.size(), 13u) << table;
  const std::string man = read(SOURCE_DIR "/packaging/talvorin-transfer.1");
  const size_t manStart = man.find(".SH EXIT STATUS");
  const std::string manTable = man.substr(manStart, man.find(".SH EXAMPLES") - manStart);
  EXPECT_EQ(statuses(manTable, std::regex("\\.TP\\n\\.BR? \"?([0-9]+)")), fromHelp);
  EXPECT_EQ(statuses(read(SOURCE_DIR "/docs/talvorin-transfer.md"), std::regex("\\n\\| ([0-9]+)[ a-z]* \\|")),
            fromHelp);
}

// Intel HEX and S-records as Debian's objcopy and srec_cat make them: the
// download sends the image from address 0, gaps filled with 0xFF, and says
// which format it read; the upload writes records that those tools read back.
struct ImageFormatsTool : TransferTool {
  // Runs a shell command line of the test's own; its status.
  static int Shell(const std::string& command) { return std::system((command + " 2>&1").c_str()); }
};

TEST_F(ImageFormatsTool, DownloadsFilesMadeByObjcopyAndSrecCat) {
  const Bytes low = Pattern(3000, 3), high = Pattern(500, 4);
  dir.write("low.bin", low);
  dir.write("high.bin", high);
  // The high part past 64 KiB, so that extended addresses and S2 records appear.
  Bytes both = low + Bytes(0x11000 - low.size(), '\xFF') + high;
  const std::string in = dir.path() + "/";
  ASSERT_EQ(Shell("objcopy -I binary -O ihex " + in + "low.bin " + in + "low.hex"), 0);
  ASSERT_EQ(Shell("objcopy -I binary -O srec " + in + "low.bin " + in + "low.s19"), 0);
  const std::string parts = "srec_cat " + in + "low.bin -binary " + in + "high.bin -binary -offset 0x11000 -o " + in;
  ASSERT_EQ(Shell(parts + "both.srec -motorola"), 0);
  // Named for neither format: the content tells.
  ASSERT_EQ(Shell(parts + "both.txt -intel"), 0);
  const struct {
    std::string file;
    const char* format;
    const Bytes& image;
  } cases[] = {{"low.hex", "Intel HEX", low},
               {"low.s19", "S-records", low},
               {"both.srec", "S-records", both},
               {"both.txt", "Intel HEX", both}};
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Tool tool;
    EXPECT_EQ(Run({"--device", vprog.Device(), "download", dir.file(c.file)}, tool), 0);
    char data[64];
    std::snprintf(data, sizeof data, ", its data from 0x00000000 to 0x%08zX\n", c.image.size() - 1);
    EXPECT_EQ(tool.stdErr, dir.file(c.file) + ": " + c.format + ", an image of " + std::to_string(c.image.size()) +
                               " bytes from address 0" + data + "Download compelete !!!\n");
    EXPECT_NE(vprog.ReadLine(10000), "");
    EXPECT_EQ(dir.read("stored.bin"), Padded(c.image, 256));
  }
  // Chosen, the format is not guessed: these records are sent as their text.
  Tool binary;
  EXPECT_EQ(Run({"--device", vprog.Device(), "--format", "bin", "download", dir.file("low.hex")}, binary), 0);
  EXPECT_EQ(binary.stdErr, "Download compelete !!!\n");
  EXPECT_NE(vprog.ReadLine(10000), "");
  EXPECT_EQ(dir.read("stored.bin"), Padded(dir.read("low.hex"), 256));
}

// Record files as editors and older tools leave them: a byte-order mark,
// carriage returns alone for line ends, a ^Z after the end record (common in
// .eep files) are read as objcopy reads them. A name with a record format's
// extension is never taken for binary; a binary file padded with NULs stays
// binary.
TEST_F(ImageFormatsTool, RecordFilesAsEditorsAndOldToolsLeaveThem) {
  const Bytes image = Pattern(1000, 11);
  dir.write("image.bin", image);
  ASSERT_EQ(Shell("objcopy -I binary -O ihex " + dir.file("image.bin") + " " + dir.file("image.hex")), 0);
  const std::string hex = dir.read("image.hex");
  ASSERT_NE(hex.find("\r\n"), std::string::npos);
  std::string carriageReturns = hex;
  for (size_t at; (at = carriageReturns.find("\r\n")) != std::string::npos;) carriageReturns.erase(at + 1, 1);
  dir.write("bom.hex", "\xEF\xBB\xBF" + hex);
  dir.write("cr.hex", carriageReturns);
  dir.write("data.eep", hex + "\x1A");
  dir.write("comment.hex", "; fw 1.2\r\n" + hex);
  dir.write("padded.bin", hex + Bytes(600, '\0'));
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  for (const char* name : {"bom.hex", "cr.hex", "data.eep"}) {
    SCOPED_TRACE(name);
    Tool tool;
    EXPECT_EQ(Run({"--device", vprog.Device(), "--json", "download", dir.file(name)}, tool), 0);
    EXPECT_EQ(tool.stdErr, dir.file(name) +
                               ": Intel HEX, an image of 1000 bytes from address 0, its data from 0x00000000 to "
                               "0x000003E7\nDownload compelete !!!\n");
    EXPECT_EQ(nlohmann::json::parse(tool.stdOut)["format"], "ihex");
    EXPECT_NE(vprog.ReadLine(10000), "");
    EXPECT_EQ(dir.read("stored.bin"), Padded(image, 256));
  }
  Tool padded;
  EXPECT_EQ(Run({"--device", vprog.Device(), "download", dir.file("padded.bin")}, padded), 0);
  EXPECT_EQ(padded.stdErr, "Download compelete !!!\n");
  EXPECT_NE(vprog.ReadLine(10000), "");
  EXPECT_EQ(dir.read("stored.bin"), Padded(dir.read("padded.bin"), 256));
  Tool comment;
  EXPECT_EQ(Run({"--device", vprog.Device(), "download", dir.file("comment.hex")}, comment), 9);
  EXPECT_EQ(comment.stdErr, dir.file("comment.hex") + ": line 1: it does not begin with ':' (Intel HEX)\n");
}

// A file is records only when it reads as records, or its name or --format
// says so: text that merely begins like a record goes as it is.
TEST_F(ImageFormatsTool, WhatIsNoRecordsGoesAsItIs) {
  dir.write("forth.txt", ": square dup * ;\n: cube dup square * ;\n");
  dir.write("sensors.txt", "S1 is the first sensor\nS2 the second\n");
  // A program as a compiler leaves it is no image: refused before the port
  // opens, with the way to make one; --format bin sends it all the same.
  dir.write("main.c", "int main(void) { return 0; }\n");
  ASSERT_EQ(Shell("gcc -o " + dir.file("firmware") + " " + dir.file("main.c")), 0);
  for (const char* command : {"download", "verify"}) {
    Tool elf;
    EXPECT_EQ(Run({"--device", dir.file("no-such-device"), command, dir.file("firmware")}, elf), 9);
    EXPECT_EQ(elf.stdErr, dir.file("firmware") + ": an ELF file, not a memory image: make one with objcopy -O ihex " +
                              dir.file("firmware") + " " + dir.file("firmware") +
                              ".hex, or send the file as it is with --format bin\n");
  }
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  Tool raw;
  EXPECT_EQ(Run({"--device", vprog.Device(), "--format", "bin", "download", dir.file("firmware")}, raw), 0);
  EXPECT_EQ(raw.stdErr, "Download compelete !!!\n");
  EXPECT_NE(vprog.ReadLine(10000), "");
  EXPECT_EQ(dir.read("stored.bin"), Padded(dir.read("firmware"), 256));
  // Text goes with a warning; --format bin sends it without one.
  dir.write("notes.txt", "firmware 1.2 for the second board\n");
  const std::string warned = ": it is sent as it is (--format bin sends it without this warning)\n";
  const struct {
    std::string name;
    std::vector<std::string> format;
    std::string warning;
  } texts[] = {
      {"forth.txt", {}, ": warning: text, but not Intel HEX (line 1: it is not pairs of hex digits)" + warned},
      {"sensors.txt", {}, ": warning: text, but not S-records (line 1: it is not pairs of hex digits)" + warned},
      {"notes.txt", {}, ": warning: text, but no Intel HEX or S-records" + warned},
      {"notes.txt", {"--format", "bin"}, ""},
  };
  for (const auto& c : texts) {
    SCOPED_TRACE(c.name);
    Tool tool;
    std::vector<std::string> args{"--device", vprog.Device(), "--json", "--quiet"};
    args.insert(args.end(), c.format.begin(), c.format.end());
    args.insert(args.end(), {"download", dir.file(c.name)});
    EXPECT_EQ(Run(args, tool), 0);
    EXPECT_EQ(tool.stdErr, c.warning.empty() ? "" : dir.file(c.name) + c.warning);
    EXPECT_EQ(nlohmann::json::parse(tool.stdOut)["format"], "bin");
    EXPECT_NE(vprog.ReadLine(10000), "");
    EXPECT_EQ(dir.read("stored.bin"), Padded(dir.read(c.name), 256));
  }
}

TEST_F(ImageFormatsTool, UploadsRecordsThatObjcopyAndSrecCatRead) {
  const Bytes image = Padded(Pattern(5000, 9), 256);
  dir.write("served.bin", image);
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--serve", dir.file("served.bin")}));
  const std::string in = dir.path() + "/";
  const struct {
    std::vector<std::string> args;
    std::string readBack;
  } cases[] = {
      {{"upload", dir.file("image.hex")}, "objcopy -I ihex -O binary " + in + "image.hex " + in + "back.bin"},
      {{"--format", "srec", "upload", dir.file("image.txt")},
       "srec_cat " + in + "image.txt -motorola -o " + in + "back.bin -binary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readBack);
    Tool tool;
    std::vector<std::string> args{"--device", vprog.Device()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args, tool), 0);
    EXPECT_EQ(tool.stdErr, "Upload compelete !!!\n");
    EXPECT_NE(vprog.ReadLine(10000), "");
    ASSERT_EQ(Shell(c.readBack), 0);
    EXPECT_EQ(dir.read("back.bin"), image);
  }
}

// Firmware linked above address 0, as objcopy --change-addresses places it:
// --offset makes its base the programmer's block 0, for a download, a
// verify and an upload alike; without it an image 1 MiB or more above 0 is
// refused with the hint, one below is sent with its fill.
TEST_F(ImageFormatsTool, OffsetMakesTheImagesBaseTheFirstBlock) {
  const Bytes image = Pattern(3000, 12);
  dir.write("image.bin", image);
  const std::string in = dir.path() + "/";
  ASSERT_EQ(Shell("objcopy -I binary -O ihex --change-addresses 0x10000 " + in + "image.bin " + in + "at64k.hex"), 0);
  ASSERT_EQ(Shell("objcopy -I binary -O srec --change-addresses 0x08000000 " + in + "image.bin " + in + "flash.srec"),
            0);
  const std::string flash = dir.file("flash.srec");
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"download", flash},
       flash + ": its data begin at 0x08000000, 128 MiB above address 0, which a download fills with 0xFF: give the "
               "image's address 0 with --offset 0x08000000, or send it all the same with --format srec"},
      {{"--offset", "0x08000800", "verify", flash},
       flash + ": line 2: its data lie below the offset 0x08000800 (S-records)"},
  };
  for (const auto& [args, message] : refused) {
    SCOPED_TRACE(message);
    Tool tool;
    std::vector<std::string> all{"--device", dir.file("no-such-device")};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(Run(all, tool), 9);
    EXPECT_EQ(tool.stdErr, message + "\n");
  }

  VprogProcess vprog;
  const std::string memory = dir.file("memory.bin");
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", memory, "--serve", memory, "--serve", memory, "--store", memory}));
  Tool offset;
  EXPECT_EQ(Run({"--device", vprog.Device(), "--offset", "0x08000000", "download", "--verify", flash}, offset), 0);
  EXPECT_EQ(offset.stdErr, flash +
                               ": S-records, an image of 3000 bytes from address 0x08000000, its data from 0x08000000 "
                               "to 0x08000BB7\nDownload compelete !!!\nverified 3000 bytes\n");
  EXPECT_NE(vprog.ReadLine(10000), "");
  EXPECT_EQ(dir.read("memory.bin"), Padded(image, 256));
  // The upload writes the records back where they came from.
  Tool upload;
  EXPECT_EQ(Run({"--device", vprog.Device(), "--offset", "0x08000000", "upload", dir.file("back.srec")}, upload), 0);
  ASSERT_EQ(Shell("srec_cat " + in + "back.srec -motorola -offset -0x08000000 -o " + in + "back.bin -binary"), 0);
  EXPECT_EQ(dir.read("back.bin"), Padded(image, 256));

  Tool below;
  EXPECT_EQ(Run({"--device", vprog.Device(), "download", dir.file("at64k.hex")}, below), 0);
  EXPECT_EQ(below.stdErr, dir.file("at64k.hex") +
                              ": Intel HEX, an image of 68536 bytes from address 0, its data from 0x00010000 to "
                              "0x00010BB7\nDownload compelete !!!\n");
  EXPECT_EQ(dir.read("memory.bin"), Padded(Bytes(0x10000, '\xFF') + image, 256));
}

// A file that is not valid in its format is refused before the port is
// opened, with the line at fault.
TEST_F(ImageFormatsTool, FaultyRecordsAreRefusedWithTheirLine) {
  dir.write("checksum.hex",
            ":10000000000102030405060708090A0B0C0D0E0F78\n:10001000101112131415161718191A1B1C1D1E1F69\n");
  dir.write("overlap.srec", "S0030000FC\nS1040000AA51\nS1040000BB40\n");
  dir.write("far.hex", ":020000040000FA\n:0200000480007A\n:0100000000FF\n:00000001FF\n");
  dir.write("2gib.hex", ":020000047FFF7C\n:01FFFF00AA57\n:00000001FF\n");
  // Past any record's length, whatever the line holds further on counts.
  dir.write("long.hex", ":0100000011EE\n:00000001FF" + std::string(1100, ' ') + "garbage\n");
  // Chosen by name, records that fail count even when the failing line is no text.
  dir.write("binary.s19", Bytes("S1040000AA51\n\x01\x02\n", 16));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"download", dir.file("checksum.hex")}, "checksum.hex: line 2: bad checksum (Intel HEX)"},
      {{"verify", dir.file("overlap.srec")}, "overlap.srec: line 3: its data overlap data given before (S-records)"},
      {{"download", "--verify", dir.file("far.hex")}, "far.hex: line 3: its data lie at 2 GiB or beyond (Intel HEX)"},
      {{"download", dir.file("2gib.hex")}, "2gib.hex: line 2: its data reach 2 GiB, more than a transfer can carry (Intel HEX)"},
      {{"download", dir.file("long.hex")}, "long.hex: line 2: it is longer than any record (Intel HEX)"},
      {{"download", dir.file("binary.s19")}, "binary.s19: line 2: it does not begin with 'S' and a digit (S-records)"},
      {{"--format", "ihex", "download", dir.file("overlap.srec")},
       "overlap.srec: line 1: it does not begin with ':' (Intel HEX)"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    Tool tool;
    std::vector<std::string> all{"--device", dir.file("no-such-device")};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(Run(all, tool), 9);
    EXPECT_EQ(tool.stdErr, dir.path() + "/" + message + "\n");
  }
  Tool badFormat;
  EXPECT_GE(Run({"--format", "elf", "download", dir.file("far.hex")}, badFormat), 100);
}

// Verify reads the programmer's image back without writing a file and
// compares it with the file as a download sends it.
TEST_F(ImageFormatsTool, VerifyComparesWithTheVirtualProgrammersImage) {
  const Bytes image = Pattern(1000, 5);
  dir.write("image.bin", image);
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("memory.bin"), "--serve", dir.file("memory.bin")}));
  Tool both;
  EXPECT_EQ(Run({"--device", vprog.Device(), "download", "--verify", dir.file("image.bin")}, both), 0);
  EXPECT_EQ(both.stdErr, "Download compelete !!!\nverified 1000 bytes\n");

  Bytes changed = image;
  changed[300] = static_cast<char>(image[300] ^ 0x0F);
  changed[301] = static_cast<char>(image[301] ^ 0xF0);
  dir.write("changed.bin", changed);
  ASSERT_EQ(Shell("objcopy -I binary -O ihex " + dir.file("changed.bin") + " " + dir.file("changed.hex")), 0);
  for (const char* file : {"changed.bin", "changed.hex"}) {
    SCOPED_TRACE(file);
    Tool verify;
    EXPECT_EQ(Run({"--device", vprog.Device(), "--json", "verify", dir.file(file)}, verify), 10);
    char difference[96];
    std::snprintf(difference, sizeof difference,
                  "differs at 0x0000012C: file 0x%02X, programmer 0x%02X; 2 of 1000 bytes differ\n",
                  static_cast<unsigned char>(changed[300]), static_cast<unsigned char>(image[300]));
    EXPECT_NE(verify.stdErr.find(difference), std::string::npos) << verify.stdErr;
    const auto report = nlohmann::json::parse(verify.stdOut);
    EXPECT_EQ(report["format"], std::string(file) == "changed.hex" ? "ihex" : "bin");
    EXPECT_EQ(report["outcome"], "differs");
    EXPECT_EQ(report["differing_bytes"], 2);
    EXPECT_EQ(report["first_difference"],
              (nlohmann::json{{"address", 300},
                              {"file", static_cast<unsigned char>(changed[300])},
                              {"programmer", static_cast<unsigned char>(image[300])}}));
  }
  const auto files = std::distance(std::filesystem::directory_iterator(dir.path()), {});
  Tool same;
  EXPECT_EQ(Run({"--device", vprog.Device(), "verify", dir.file("image.bin")}, same), 0);
  EXPECT_EQ(same.stdErr, "verified 1000 bytes\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), files);
  Tool missing;
  EXPECT_EQ(Run({"--device", vprog.Device(), "verify", dir.file("none.bin")}, missing), 4);
  EXPECT_EQ(missing.stdErr, "File : " + dir.file("none.bin") + " is not exist.\n");
}

// The bytes of a --trace each way, put together. Each line: seconds (never
// going back), what, count, the bytes.
struct Trace {
  Bytes sent, received;
};
Trace ReadTrace(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  Trace trace;
  double last = 0;
  while (std::getline(lines, line)) {
    if (line[0] == '#') continue;
    std::istringstream fields(line);
    double seconds = 0;
    std::string what;
    int count = 0;
    fields >> seconds >> what >> count;
    EXPECT_GE(seconds, last);
    last = seconds;
    Bytes bytes;
    for (unsigned value = 0; fields >> std::hex >> value;) bytes += static_cast<char>(value);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(count)) << line;
    (what == "sent" ? trace.sent : trace.received) += bytes;
  }
  return trace;
}

// --timeout: a programmer that never answers, or stops in the middle, ends
// the tool with a status and words of their own, after ESC, with the JSON
// object telling how far it came.
TEST_F(TransferTool, ATimeoutEndsTheWaitForASilentOrStalledProgrammer) {
  const Bytes image = Pattern(5000, 3);
  dir.write("image.bin", image);
  dir.write("served.bin", image);
  struct Case {
    std::vector<std::string> vprog;
    std::string direction;
    std::string summary;  // the programmer's, once it saw the ESC
    std::string left;     // what an upload says it kept
    int blocks;
  } cases[] = {
      {{"--silent", "--store", dir.file("stored.bin")}, "download", "", "", 0},
      {{"--silent", "--serve", dir.file("served.bin")},
       "upload",
       "",
       "Nothing is saved. " + dir.file("received.bin") + " is not created.\n",
       0},
      {{"--stall", "3", "--store", dir.file("stored.bin")},
       "download",
       "download ended by the host's ESC: 3 blocks",
       "",
       3},
      {{"--stall", "2", "--serve", dir.file("served.bin")},
       "upload",
       "upload stopped by the host: 2 blocks",
       "512 bytes are saved in " + dir.file("received.bin") + " .\n",
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vprog[0] + " " + c.direction);
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, c.vprog));
    const std::string file = dir.file(c.direction == "download" ? "image.bin" : "received.bin");
    Tool tool;
    EXPECT_EQ(Run({c.direction, file, "--device", vprog.Device(), "--timeout", "0.5", "--json", "--trace",
                   dir.file("trace.log")},
                  tool),
              11);
    EXPECT_EQ(tool.stdErr, "no answer from the programmer on " + vprog.Device() + " after 0.5 s\n" + c.left);
    const Bytes sent = ReadTrace(dir.read("trace.log")).sent;
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), '\x1B');
    if (!c.summary.empty()) {
      EXPECT_EQ(vprog.ReadLine(10000).rfind(c.summary + " of 256 bytes", 0), 0u);
    }
    const auto report = nlohmann::json::parse(tool.stdOut);
    EXPECT_EQ(report["outcome"], "timeout");
    EXPECT_EQ(report["status"], 11);
    EXPECT_EQ(report["blocks"], c.blocks);
    EXPECT_EQ(report["bytes"], c.blocks * 256);
    EXPECT_GE(report["seconds"].get<double>(), 0.5);
  }
}

// A programmer that stops reading in the middle of a download holds the
// tool's write, whose own limit is minutes a block: a signal and the time
// limit still end the transfer at once.
TEST_F(TransferTool, AProgrammerThatStopsReadingDoesNotHoldTheTool) {
  using namespace std::chrono_literals;
  dir.write("image.bin", Pattern(1 << 20, 4));
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string message;
  } cases[] = {
      {{}, 5, "User press ESC !!!\n"},
      {{"--timeout", "1"}, 11, "no answer from the programmer on "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    PtyPair line;
    std::vector<std::string> args{"download", dir.file("image.bin"), "--device", line.path};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Tool tool;
    tool.Start(args);
    ASSERT_TRUE(line.AnswerThenStopReading(4096));
    ASSERT_TRUE(WaitUntil([&] { return line.LineStalled(); }));
    const auto stalled = std::chrono::steady_clock::now();
    if (c.options.empty()) tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), c.status);
    const auto took = std::chrono::steady_clock::now() - stalled;
    EXPECT_EQ(tool.stdErr.rfind(c.message, 0), 0u) << tool.stdErr;
    EXPECT_LT(took, c.options.empty() ? 1s : 2s) << "the write held the tool";
  }
}

// --quiet tells only failures; --json tells what was moved whatever the
// outcome; --trace has every byte each way, in order.
// Without a limit the wait for a silent programmer goes on, as in the
// dialogs, but after 10 s the tool says once that it still waits, where, and
// how to stop or bound it; --quiet leaves that out.
TEST_F(TransferTool, ALongSilenceIsToldOnce) {
  dir.write("image.bin", Pattern(300));
  VprogProcess told, quiet;
  ASSERT_TRUE(told.Start(VPROG_PATH, {"--silent", "--store", dir.file("told.bin")}));
  ASSERT_TRUE(quiet.Start(VPROG_PATH, {"--silent", "--store", dir.file("quiet.bin")}));
  Tool waiting, quietly;
  waiting.Start({"download", dir.file("image.bin"), "--device", told.Device()});
  quietly.Start({"--quiet", "download", dir.file("image.bin"), "--device", quiet.Device()});
  std::this_thread::sleep_for(std::chrono::seconds(12));
  waiting.Signal(SIGINT);
  quietly.Signal(SIGINT);
  EXPECT_EQ(waiting.Wait(), 5);
  EXPECT_EQ(quietly.Wait(), 5);
  EXPECT_EQ(waiting.stdErr, "talvorin-transfer: no answer from the programmer on " + told.Device() +
                                " for 10 s; still waiting. Ctrl+C stops, --timeout SECONDS bounds the wait.\n"
                                "USER Break !!!\n ( It is waiting for ACK. )\n");
  EXPECT_EQ(quietly.stdErr, "USER Break !!!\n ( It is waiting for ACK. )\n");
}

TEST_F(TransferTool, QuietJsonAndTraceForScripts) {
  const Bytes image = Pattern(1000, 4);
  dir.write("image.bin", image);
  dir.write("served.bin", image);
  struct Case {
    std::vector<std::string> vprog;
    std::string direction;
    int status;
    std::string stdErr;
    std::int64_t bytes;
    int blocks, skipped;
    std::string outcome;
  } cases[] = {
      {{"--store", dir.file("stored.bin")}, "download", 0, "", 1000, 4, 0, "complete"},
      {{"--serve", dir.file("served.bin")}, "upload", 0, "", 1024, 4, 0, "complete"},
      // Block 3 refused: the file's bytes in blocks 1, 2 and 4.
      {{"--nak", "3", "--store", dir.file("stored.bin")},
       "download",
       8,
       "Blocks not sent: 1 of 4. The programmer answered their requests with neither ACK nor ESC.\n",
       744,
       3,
       1,
       "blocks-skipped"},
      {{"--esc", "2", "--store", dir.file("stored.bin")}, "download", 1, "Target send ESC !!!\n", 256, 1, 0,
       "target-break"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outcome + " " + c.direction);
    VprogProcess vprog;
    ASSERT_TRUE(vprog.Start(VPROG_PATH, c.vprog));
    const std::string file = dir.file(c.direction == "download" ? "image.bin" : "received.bin");
    Tool tool;
    EXPECT_EQ(Run({"--quiet", "--json", "--trace", dir.file("trace.log"), c.direction, file, "--device",
                   vprog.Device()},
                  tool),
              c.status);
    EXPECT_EQ(tool.stdErr, c.stdErr);
    const auto report = nlohmann::json::parse(tool.stdOut);
    EXPECT_EQ(report, (nlohmann::json{{"command", c.direction},
                                      {"device", vprog.Device()},
                                      {"file", file},
                                      {"format", "bin"},
                                      {"bytes", c.bytes},
                                      {"blocks", c.blocks},
                                      {"skipped_blocks", c.skipped},
                                      {"seconds", report["seconds"]},
                                      {"outcome", c.outcome},
                                      {"status", c.status}}));

    // Each way holds the handshake and the blocks of the transfer.
    const auto [sent, received] = ReadTrace(dir.read("trace.log"));
    ASSERT_FALSE(sent.empty());
    if (c.direction == "upload") {
      EXPECT_EQ(sent.substr(0, 2), "\x02\x06");
      EXPECT_NE(received.find(Padded(image, 256).substr(0, 256)), std::string::npos);
    } else {
      EXPECT_EQ(received.substr(0, 2), std::string("\x00\x06", 2));
      EXPECT_EQ(sent.substr(0, 2), "\x02\x02");
      // The programmer's ESC ends a download without the host's.
      EXPECT_EQ(sent.back(), c.outcome == "target-break" ? '\x02' : '\x1B');
      if (c.status == 0) {
        EXPECT_NE(sent.find(Padded(image, 256).substr(768)), std::string::npos);
      }
    }
  }
  // A trace that cannot be written stops the tool before the port is opened.
  PtyPair line;
  Tool tool;
  EXPECT_EQ(Run({"download", dir.file("image.bin"), "--device", line.path, "--trace", dir.path()}, tool), 4);
  EXPECT_EQ(tool.stdErr, "Can not write the trace " + dir.path() + " : Is a directory\n");
  Tool same;
  EXPECT_EQ(Run({"download", dir.file("image.bin"), "--device", line.path, "--trace", dir.file("image.bin")}, same), 4);
  EXPECT_EQ(same.stdErr, "Can not write the trace " + dir.file("image.bin") + " : it is the file to transfer.\n");
  EXPECT_EQ(dir.read("image.bin"), image);
  EXPECT_EQ(Drain(line.master), "");
}

// A trace is refused where it would write into the programmer's line (the
// port by any name of its device, a COM port by its mapping) or into the
// upload's FILE through a link, before that FILE exists.
TEST_F(TransferTool, ATraceTakesNeitherThePortNorTheFile) {
  PtyPair line;
  dir.write("image.bin", Pattern(300));
  dir.write("Talvorin.ini", "[COM devices]\nCOM2=" + line.path + "\n");
  std::filesystem::create_symlink(line.path, dir.file("port-link"));
  const struct {
    std::vector<std::string> args;
    std::string trace;
  } ports[] = {
      {{"--device", line.path}, line.path},
      {{"--device", line.path}, dir.file("port-link")},
      {{"--install", dir.path(), "--com", "2"}, line.path},
  };
  for (const auto& c : ports) {
    SCOPED_TRACE(c.trace);
    Tool tool;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--trace", c.trace, "download", dir.file("image.bin")});
    EXPECT_EQ(Run(args, tool), 4);
    EXPECT_EQ(tool.stdErr, "Can not write the trace " + c.trace + " : it is the port to the programmer.\n");
    EXPECT_EQ(Drain(line.master), "");
  }
  std::filesystem::create_symlink(dir.file("out.bin"), dir.file("trace-link"));
  Tool upload;
  EXPECT_EQ(Run({"--device", line.path, "--trace", dir.file("trace-link"), "upload", dir.file("out.bin")}, upload), 4);
  EXPECT_EQ(upload.stdErr, "Can not write the trace " + dir.file("trace-link") + " : it is the file to transfer.\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
  EXPECT_EQ(Drain(line.master), "");
}

// A trace into a pipe whose reader has stopped reading does not hold the
// transfer: the trace is incomplete, and says so.
TEST_F(TransferTool, ATraceThatCannotBeWrittenAtOnceHoldsNothing) {
  const Bytes image = Pattern(64 * 1024, 4);
  dir.write("image.bin", image);
  ASSERT_EQ(mkfifo(dir.file("trace").c_str(), 0600), 0);
  const int reader = open(dir.file("trace").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  VprogProcess vprog;
  ASSERT_TRUE(vprog.Start(VPROG_PATH, {"--store", dir.file("stored.bin")}));
  Tool tool;
  EXPECT_EQ(Run({"--device", vprog.Device(), "--timeout", "2", "--trace", dir.file("trace"), "download",
                 dir.file("image.bin")},
                tool),
            4);
  EXPECT_EQ(tool.stdErr, "Download compelete !!!\nThe trace " + dir.file("trace") +
                             " is not complete: it could not be written.\n");
  EXPECT_NE(vprog.ReadLine(10000), "");
  EXPECT_EQ(dir.read("stored.bin"), image);
  close(reader);
}

// The ports that Option > Serial devices... offers, as a table and as JSON,
// the same in both.
TEST_F(TransferTool, PortsListsTheSerialPortsPresent) {
  Tool table, json;
  EXPECT_EQ(Run({"ports"}, table), 0);
  EXPECT_EQ(Run({"ports", "--json"}, json), 0);
  EXPECT_EQ(table.stdErr + json.stdErr, "");
  const auto list = nlohmann::json::parse(json.stdOut);
  ASSERT_TRUE(list.is_array());
  const auto present = SerialPorts(OpenSerialDeviceSource()->Present());
  ASSERT_EQ(list.size(), present.size());
  std::istringstream lines(table.stdOut);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "device\tby-id\tproduct\tmaker\tserial\tdriver");
  for (size_t i = 0; i < present.size(); ++i) {
    ASSERT_TRUE(std::getline(lines, line));
    const auto& port = list[i];
    const auto cell = [&](const char* key) { return port[key].is_null() ? "-" : port[key].get<std::string>(); };
    EXPECT_EQ(port["device"], present[i].node);
    EXPECT_EQ(port["driver"], present[i].driver.empty() ? nlohmann::json() : nlohmann::json(present[i].driver));
    EXPECT_EQ(line, cell("device") + "\t" + cell("by_id") + "\t" + cell("product") + "\t" + cell("maker") + "\t" +
                        cell("serial") + "\t" + cell("driver"));
  }
  EXPECT_FALSE(std::getline(lines, line));
}

}  // namespace
