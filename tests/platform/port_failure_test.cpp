// Why a COM port did not open, on real devices: a missing path or one that
// cannot be followed, something that is no serial port, a device that does
// not answer, a device the user may not open, and one that another process
// holds.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/PortFailure.h"
#include "platform/winapi.h"
#include "support/ComMapping.h"
#include "support/TempDir.h"

namespace {

using Cause = PortOpenFailure::Cause;

HANDLE OpenPort(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                     nullptr);
}

// What opening the port gives: the failure explained as "cause|device|group|
// holder|pid", the pid given as "self" when it is the caller's own.
std::string WhyItFails(const std::string& name) {
  const HANDLE port = OpenPort(name);
  if (port != INVALID_HANDLE_VALUE) {
    CloseHandle(port);
    return "opened";
  }
  const PortOpenFailure why = ExplainPortOpenFailure(name, GetLastError());
  static const char* const causes[] = {"Unknown",     "Missing",    "NotSerial", "Denied",   "Busy",        "Folder",
                                       "NoHardware",  "DeviceFault", "NotAFolder", "LinkLoop", "NameTooLong", "Exhausted"};
  const std::string pid = why.holderPid == getpid() ? "self" : std::to_string(why.holderPid);
  return std::string(causes[static_cast<int>(why.cause)]) + "|" + why.device + "|" + why.group + "|" + why.holder +
         "|" + pid;
}

// A pseudo-terminal whose other end the test keeps.
struct Terminal {
  Terminal() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    path = name;
  }
  ~Terminal() {
    ::close(slave);
    ::close(master);
  }
  int master = -1, slave = -1;
  std::string path;
};

// Runs what in a child process, which may change itself freely; gives what
// it returned. The tests run single-threaded here, so the child may do anything.
std::string InChild(const std::function<std::string()>& what) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    ::close(out[0]);
    const std::string result = what();
    [[maybe_unused]] const auto written = ::write(out[1], result.data(), result.size());
    _exit(0);
  }
  ::close(out[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  waitpid(child, nullptr, 0);
  return result;
}

// The same as the unprivileged user "nobody".
std::string AsNobody(const std::function<std::string()>& what) {
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) return "no user nobody";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  return InChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return std::string("still privileged");
    return what();
  });
}

TEST(PortOpenFailure, MissingDevicesAndThingsThatAreNoSerialPort) {
  TempDir dir;
  dir.write("plain.bin", "x");
  std::filesystem::create_symlink("loop", dir.file("loop"));
  const std::string longName = dir.file(std::string(300, 'n'));
  const ComMapping mapping({{2, dir.file("ttyUSB0")},
                            {3, dir.file("no such folder/ttyUSB0")},
                            {4, "/dev/null"},
                            {5, dir.file("plain.bin")},
                            {6, dir.path()},
                            {7, dir.file("plain.bin/ttyUSB0")},
                            {8, dir.file("loop")},
                            {9, longName}});
  EXPECT_EQ(WhyItFails("COM2"), "Missing|" + dir.file("ttyUSB0") + "|||0");
  EXPECT_EQ(WhyItFails("COM3"), "Missing|" + dir.file("no such folder/ttyUSB0") + "|||0");
  EXPECT_EQ(WhyItFails("COM4"), "NotSerial|/dev/null|||0");
  EXPECT_EQ(WhyItFails("COM5"), "NotSerial|" + dir.file("plain.bin") + "|||0");
  EXPECT_EQ(WhyItFails("COM6"), "Folder|" + dir.path() + "|||0");
  EXPECT_EQ(WhyItFails("COM7"), "NotAFolder|" + dir.file("plain.bin/ttyUSB0") + "|||0");
  EXPECT_EQ(WhyItFails("COM8"), "LinkLoop|" + dir.file("loop") + "|||0");
  EXPECT_EQ(WhyItFails("COM9"), "NameTooLong|" + longName + "|||0");
  EXPECT_TRUE(ExplainPortOpenFailure("COM2", ERROR_FILE_NOT_FOUND).comName);
  // A path opens whatever it leads to; the port then refuses a device that
  // is no terminal, with no error of its own.
  const PortOpenFailure path = ExplainPortOpenFailure("/dev/null", ERROR_SUCCESS);
  EXPECT_EQ(path.cause, Cause::NotSerial);
  EXPECT_FALSE(path.comName);
}

// Device nodes with nothing that answers behind them: one whose driver has no
// such device (the number of an adapter gone), and a terminal that fails to
// open (a pseudo-terminal still locked by its maker).
TEST(PortOpenFailure, DevicesThatDoNotAnswer) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can make a device node";
  TempDir dir;
  ASSERT_EQ(mknod(dir.file("ttyUSB250").c_str(), S_IFCHR | 0600, makedev(188, 250)), 0);
  EXPECT_EQ(WhyItFails(dir.file("ttyUSB250")), "NoHardware|" + dir.file("ttyUSB250") + "|||0");
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  const std::string locked = ptsname(master);
  EXPECT_EQ(WhyItFails(locked), "DeviceFault|" + locked + "|||0");
  ::close(master);
}

// The group comes from the device (here "uucp", on other systems "dialout"
// or "tty"); a device no group may use gets no advice to join one.
TEST(PortOpenFailure, DeniedNamesTheGroupThatOwnsTheDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can hand a device to a group and drop to another user";
  Terminal terminal;
  const group* owner = getgrnam("uucp");
  ASSERT_NE(owner, nullptr);
  ASSERT_EQ(chown(terminal.path.c_str(), 0, owner->gr_gid), 0);
  ASSERT_EQ(chmod(terminal.path.c_str(), 0660), 0);
  EXPECT_EQ(AsNobody([&] { return WhyItFails(terminal.path); }), "Denied|" + terminal.path + "|uucp||0");
  ASSERT_EQ(chmod(terminal.path.c_str(), 0600), 0);
  EXPECT_EQ(AsNobody([&] { return WhyItFails(terminal.path); }), "Denied|" + terminal.path + "|||0");
  ASSERT_EQ(chmod(terminal.path.c_str(), 0666), 0);
  EXPECT_EQ(AsNobody([&] { return WhyItFails(terminal.path); }), "opened") << "the same user where allowed";
}

// Another process holds the port as the serial stand-in does (an advisory
// lock and TIOCEXCL): it is found by its lock, and named.
TEST(PortOpenFailure, BusyNamesTheProcessThatHoldsTheLock) {
  Terminal terminal;
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    ::close(release[1]);  // the parent's close is the release
    const int fd = ::open(terminal.path.c_str(), O_RDWR | O_NOCTTY);
    const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0;
    [[maybe_unused]] const auto written = ::write(ready[1], held ? "y" : "n", 1);
    char unused;
    [[maybe_unused]] const auto got = ::read(release[0], &unused, 1);
    _exit(0);
  }
  ::close(release[0]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');
  EXPECT_EQ(WhyItFails(terminal.path), "Busy|" + terminal.path + "||" + program_invocation_short_name + "|" +
                                           std::to_string(holder));
  ::close(release[1]);
  waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(WhyItFails(terminal.path), "opened");
}

// A program that opens the device without a lock or TIOCEXCL (a terminal
// program, ModemManager) keeps the port from opening, as on Windows, and is
// named; the far end of the pseudo-terminal (this test, which holds the
// master) is the device itself and does not count, nor does a descriptor
// that only names the node (O_PATH, as udev holds one while it sets a new
// node's mode).
TEST(PortOpenFailure, AProgramThatHasTheDeviceOpenKeepsItBusy) {
  Terminal terminal;
  const auto holding = [&](int flags) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, terminal.master);
    posix_spawn_file_actions_addclose(&actions, terminal.slave);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, terminal.path.c_str(), flags, 0);
    pid_t holder = 0;
    char sleep[] = "sleep", forever[] = "600";
    char* argv[] = {sleep, forever, nullptr};
    EXPECT_EQ(posix_spawnp(&holder, "sleep", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return holder;
  };
  const auto end = [](pid_t holder) {
    kill(holder, SIGTERM);
    waitpid(holder, nullptr, 0);
  };
  const pid_t holder = holding(O_RDWR | O_NOCTTY);
  EXPECT_EQ(WhyItFails(terminal.path), "Busy|" + terminal.path + "||sleep|" + std::to_string(holder));
  end(holder);
  EXPECT_EQ(WhyItFails(terminal.path), "opened");
  const pid_t naming = holding(O_PATH);
  EXPECT_EQ(WhyItFails(terminal.path), "opened");
  end(naming);
}

// A holder without a lock (TIOCEXCL alone binds only the unprivileged) is
// found among the open files of the processes, as fuser finds it.
TEST(PortOpenFailure, BusyFindsAHolderWithoutALockByItsOpenFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can drop to another user";
  Terminal terminal;
  ASSERT_EQ(chmod(terminal.path.c_str(), 0666), 0);
  EXPECT_EQ(AsNobody([&] {
              const int fd = ::open(terminal.path.c_str(), O_RDWR | O_NOCTTY);
              if (fd < 0 || ioctl(fd, TIOCEXCL) != 0) return std::string("not held");
              return WhyItFails(terminal.path);
            }),
            "Busy|" + terminal.path + "||" + program_invocation_short_name + "|self");
}

}  // namespace
