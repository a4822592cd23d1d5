#include "platform/PortFailure.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/posix/comdevices.h"
#include "platform/posix/errors.h"

namespace {

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  while (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) buffer.resize(buffer.size() * 2);
  return found ? found->gr_name : std::to_string(gid);
}

// The group to join for the device: one that may both read and write it,
// other than root's (never the advice to give).
std::string DeviceGroup(const struct stat& st) {
  const bool groupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  return groupMay && st.st_gid != 0 ? GroupName(st.st_gid) : std::string();
}

bool IsNumber(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

// The program a process runs: the file name of its first argument, else the
// kernel's short name for it.
std::string ProgramOf(long pid) {
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  std::string first;
  if (std::getline(cmdline, first, '\0') && !first.empty()) return first.substr(first.find_last_of('/') + 1);
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// The process that took an advisory lock on the device node, from
// /proc/locks ("1: FLOCK  ADVISORY  WRITE 812 00:1a:4 0 EOF"; a waiter's
// line has "->" after the number and is passed over); 0 for none.
long LockHolder(const struct stat& node) {
  std::ifstream locks("/proc/locks");
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                static_cast<unsigned long long>(node.st_ino));
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, file;
    long pid = 0;
    if (fields >> number >> kind >> mode >> access >> pid >> file && file == wanted && pid > 0)
      return pid;
  }
  return 0;
}

// A process with the device open, as fuser finds one: the first whose open
// files include it. Processes of other users stay hidden without privilege.
long OpenedBy(dev_t device) {
  const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return 0;
  while (const dirent* process = readdir(proc.get())) {
    if (!IsNumber(process->d_name)) continue;
    const std::string fdDir = std::string("/proc/") + process->d_name + "/fd";
    const std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir(fdDir.c_str()), closedir);
    if (!fds) continue;
    while (const dirent* fd = readdir(fds.get())) {
      struct stat st {};
      if (IsNumber(fd->d_name) && stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == device)
        return std::stol(process->d_name);
    }
  }
  return 0;
}

}  // namespace

PortOpenFailure ExplainPortOpenFailure(const std::string& portName, std::uint32_t error) {
  PortOpenFailure why;
  why.device = ComDevicePath(portName);
  // A COM number that names no port ("COM0"): nothing to add, as on Windows.
  if (why.device.empty()) return why;
  struct stat st {};
  const bool there = stat(why.device.c_str(), &st) == 0;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    // A COM name that leads to something other than a terminal is refused as not found.
    why.cause = there ? PortOpenFailure::Cause::NotSerial : PortOpenFailure::Cause::Missing;
  } else if (error == ERROR_ACCESS_DENIED && there) {
    // Windows says "access denied" both for a port in use and for one the
    // user may not open; the device's permissions tell them apart.
    if (faccessat(AT_FDCWD, why.device.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES) {
      why.cause = PortOpenFailure::Cause::Denied;
      why.group = DeviceGroup(st);
    } else {
      why.cause = PortOpenFailure::Cause::Busy;
      why.holderPid = S_ISCHR(st.st_mode) ? LockHolder(st) : 0;
      if (!why.holderPid && S_ISCHR(st.st_mode)) why.holderPid = OpenedBy(st.st_rdev);
      if (why.holderPid) why.holder = ProgramOf(why.holderPid);
    }
  }
  return why;
}
