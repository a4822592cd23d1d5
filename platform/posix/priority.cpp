// Priority classes over nice values. Linux keeps a nice value per thread, so a
// class is applied to each thread listed in /proc/<pid>/task.
#include "platform/posix/fail.h"
#include "platform/posix/priority.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Priority.h"
#include "platform/posix/errors.h"

namespace {

// What OpenProcess hands out: just the process id.
class ProcessRef : public KernelObject {
 public:
  explicit ProcessRef(pid_t pid) : pid(pid) {}
  const pid_t pid;
};

// The process a handle stands for; 0 with ERROR_INVALID_HANDLE when none.
pid_t pidOf(HANDLE handle) {
  if (handle == GetCurrentProcess()) return getpid();
  const auto process = ObjectFromHandleAs<ProcessRef>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return process->pid;
}

bool niceOfClass(DWORD priorityClass, int& nice) {
  switch (priorityClass) {
    case IDLE_PRIORITY_CLASS: nice = 19; return true;
    case BELOW_NORMAL_PRIORITY_CLASS: nice = 10; return true;
    case NORMAL_PRIORITY_CLASS: nice = 0; return true;
    case ABOVE_NORMAL_PRIORITY_CLASS: nice = -5; return true;
    case HIGH_PRIORITY_CLASS: nice = -10; return true;
    case REALTIME_PRIORITY_CLASS: nice = -20; return true;
    default: return false;
  }
}

DWORD classOfNice(int nice) {
  if (nice >= 15) return IDLE_PRIORITY_CLASS;
  if (nice >= 5) return BELOW_NORMAL_PRIORITY_CLASS;
  if (nice >= -2) return NORMAL_PRIORITY_CLASS;
  if (nice >= -7) return ABOVE_NORMAL_PRIORITY_CLASS;
  if (nice >= -14) return HIGH_PRIORITY_CLASS;
  return REALTIME_PRIORITY_CLASS;
}

// The thread ids of a process at this moment; false with errno set when the
// process has gone or cannot be looked at.
bool threadsOf(pid_t pid, std::vector<pid_t>& tids) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (!tasks) return false;
  while (const dirent* entry = readdir(tasks)) {
    char* end = nullptr;
    const long tid = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && tid > 0) tids.push_back(static_cast<pid_t>(tid));
  }
  closedir(tasks);
  return true;
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }

HANDLE OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
  const auto pid = static_cast<pid_t>(dwProcessId);
  // kill with no signal only asks whether the process is there; EPERM means it
  // is, but belongs to someone else.
  if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return MakeHandle(std::make_shared<ProcessRef>(pid));
}

BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
  const pid_t pid = pidOf(hProcess);
  if (!pid) return FALSE;
  int nice = 0;
  if (!niceOfClass(dwPriorityClass, nice)) return FailWith(ERROR_INVALID_PARAMETER);

  // A thread started while the list is read may have inherited the old value
  // from a thread not yet changed, so the list is read until it brings no new
  // thread. Each thread's old value is kept to put back if one is refused.
  std::map<pid_t, int> before;
  for (;;) {
    std::vector<pid_t> tids;
    if (!threadsOf(pid, tids)) {
      if (!before.empty()) break;  // the process ended meanwhile
      return FailWith(errno == ENOENT ? ERROR_INVALID_PARAMETER : Win32ErrorFromErrno(errno));
    }
    bool fresh = false;
    for (const pid_t tid : tids) {
      if (before.count(tid)) continue;
      fresh = true;
      errno = 0;
      const int old = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
      if (old == -1 && errno != 0) continue;  // the thread has ended
      if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) {
        before.emplace(tid, old);
        continue;
      }
      if (errno == ESRCH) continue;
      const int err = errno;
      // Put back the threads already changed. A refused raise is undone by
      // lowering, which is always allowed. A lowering is refused only for a
      // thread holding capabilities the caller lacks; undoing the lowerings
      // before it may then be refused too, and those threads stay lowered.
      for (const auto& [changed, value] : before) setpriority(PRIO_PROCESS, static_cast<id_t>(changed), value);
      return FailWith(err == EACCES || err == EPERM ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(err));
    }
    if (!fresh) break;
  }
  return TRUE;
}

DWORD GetPriorityClass(HANDLE hProcess) {
  const pid_t pid = pidOf(hProcess);
  if (!pid) return 0;
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, pid == getpid() ? 0 : static_cast<id_t>(pid));
  if (nice == -1 && errno != 0) {
    SetLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER : Win32ErrorFromErrno(errno));
    return 0;
  }
  return classOfNice(nice);
}

bool PriorityClassReversible() {
  // CAP_SYS_NICE lets a process set any nice value.
  constexpr int capSysNice = 23;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const unsigned long long caps = std::strtoull(line.c_str() + 7, nullptr, 16);
    if (caps & (1ULL << capSysNice)) return true;
    break;
  }
  // Without it the soft RLIMIT_NICE sets the lowest nice value allowed, as
  // 20 - limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return false;
  return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 20;
}
