#include "platform/PortFailure.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/posix/comdevices.h"
#include "platform/posix/device_users.h"
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

using Cause = PortOpenFailure::Cause;

// Why a path that does not lead to a file failed (its errno).
Cause PathCause(int err) {
  switch (err) {
    case ENOENT: return Cause::Missing;
    case ENOTDIR: return Cause::NotAFolder;
    case ELOOP: return Cause::LinkLoop;
    case ENAMETOOLONG: return Cause::NameTooLong;
    case EACCES: return Cause::Denied;  // a folder on the way that the user may not enter
    default: return Cause::Unknown;
  }
}

}  // namespace

PortOpenFailure ExplainPortOpenFailure(const std::string& portName, std::uint32_t error) {
  PortOpenFailure why;
  why.device = ComDevicePath(portName);
  why.comName = ComPortNumber(portName) != 0;
  if (error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY) {
    why.cause = Cause::Exhausted;
    return why;
  }
  // A COM number that names no port ("COM0"): nothing to add, as on Windows.
  if (why.device.empty()) return why;
  struct stat st {};
  if (stat(why.device.c_str(), &st) != 0) {
    why.cause = PathCause(errno);  // the path fails now as it failed the open
    return why;
  }
  if (S_ISDIR(st.st_mode)) {
    why.cause = Cause::Folder;
  } else if (!S_ISCHR(st.st_mode) || error == ERROR_FILE_NOT_FOUND || error == ERROR_SUCCESS) {
    // A COM name that leads to no terminal is not found; a path to one opens,
    // and the port then refuses it without an error of its own.
    why.cause = Cause::NotSerial;
  } else if (error == ERROR_ACCESS_DENIED) {
    // Windows says "access denied" both for a port in use and for one the
    // user may not open; the device's permissions tell them apart.
    if (faccessat(AT_FDCWD, why.device.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES) {
      why.cause = Cause::Denied;
      why.group = DeviceGroup(st);
    } else {
      why.cause = Cause::Busy;
      why.holderPid = LockHolder(st);
      if (!why.holderPid) why.holderPid = DeviceUser(st.st_rdev, true);
      if (why.holderPid) why.holder = ProgramOf(why.holderPid);
    }
  } else if (error == ERROR_DEV_NOT_EXIST) {
    why.cause = Cause::NoHardware;
  } else if (error == ERROR_GEN_FAILURE) {
    why.cause = Cause::DeviceFault;
  }
  return why;
}
