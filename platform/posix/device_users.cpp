#include "platform/posix/device_users.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSearchLimit = std::chrono::milliseconds(250);

// The major number of the pseudo-terminal slaves, whose minor is the index,
// and the multiplexer /dev/ptmx through which their masters are opened.
constexpr unsigned kPtySlaveMajor = 136;
const dev_t kPtyMultiplexer = makedev(5, 2);

bool IsNumber(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

using Dir = std::unique_ptr<DIR, int (*)(DIR*)>;

// A number in the descriptor's fdinfo ("tty-index:" in decimal, "flags:" in
// octal), -1 when it has none.
long FdInfoField(const std::string& process, const char* fd, const std::string& name, int base) {
  std::ifstream info("/proc/" + process + "/fdinfo/" + fd);
  for (std::string field; info >> field;)
    if (field == name) {
      std::string value;
      info >> value;
      return std::strtol(value.c_str(), nullptr, base);
    }
  return -1;
}

// A descriptor opened with O_PATH names the node without opening the device:
// udev holds one for a moment while it sets a new node's owner and mode, just
// when a user starts a transfer on the adapter that was plugged in. One whose
// fdinfo is gone by now was closed meanwhile, and holds nothing either.
bool OpensTheDevice(const std::string& process, const char* fd) {
  const long flags = FdInfoField(process, fd, "flags:", 8);
  return flags >= 0 && (flags & O_PATH) == 0;
}

struct Use {
  bool opened = false;  // the device itself
  bool master = false;  // the master of the pseudo-terminal that the device is
};

// How the process uses the device, from its open files.
Use UseOf(const std::string& process, dev_t device, Clock::time_point deadline) {
  Use use;
  const Dir fds(opendir(("/proc/" + process + "/fd").c_str()), closedir);
  if (!fds) return use;  // gone, or not ours to see
  const long ptyIndex = major(device) == kPtySlaveMajor ? static_cast<long>(minor(device)) : -1;
  while (const dirent* fd = readdir(fds.get())) {
    if (Clock::now() > deadline) break;
    struct stat st {};
    if (!IsNumber(fd->d_name) || fstatat(dirfd(fds.get()), fd->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev == device && OpensTheDevice(process, fd->d_name)) use.opened = true;
    if (ptyIndex >= 0 && st.st_rdev == kPtyMultiplexer && FdInfoField(process, fd->d_name, "tty-index:", 10) == ptyIndex)
      use.master = true;
  }
  return use;
}

}  // namespace

pid_t DeviceUser(dev_t device, bool countSelf) {
  const auto deadline = Clock::now() + kSearchLimit;
  const std::string self = std::to_string(getpid());
  const Dir proc(opendir("/proc"), closedir);
  while (proc && Clock::now() <= deadline) {
    const dirent* process = readdir(proc.get());
    if (!process) break;
    if (!IsNumber(process->d_name) || process->d_name == self) continue;
    const Use use = UseOf(process->d_name, device, deadline);
    if (use.opened && !use.master) return static_cast<pid_t>(std::atol(process->d_name));
  }
  return countSelf && UseOf(self, device, Clock::now() + kSearchLimit).opened ? getpid() : 0;
}

bool HasDeviceOpen(pid_t process, dev_t device) {
  return UseOf(std::to_string(process), device, Clock::now() + kSearchLimit).opened;
}
