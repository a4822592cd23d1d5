// Process stand-ins over posix_spawn. A process handle waits on a pidfd, so a
// wait with a time limit needs no polling and several waiters may share it.
#include "platform/posix/fail.h"
#include "platform/posix/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/errors.h"

extern char** environ;

namespace {

class ProcessObject : public KernelObject {
 public:
  ProcessObject(pid_t pid, int pidfd) : pid(pid), pidfd(pidfd) {}
  ~ProcessObject() override {
    // A program that ended without anyone waiting for it is reaped here; one
    // still running is left to run on.
    if (!reaped) waitpid(pid, nullptr, WNOHANG);
    close(pidfd);
  }

  DWORD Wait(DWORD milliseconds) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      int timeout = -1;
      if (milliseconds != INFINITE) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      }
      pollfd ended{pidfd, POLLIN, 0};
      const int n = poll(&ended, 1, timeout);
      if (n < 0 && errno != EINTR) {
        SetLastError(Win32ErrorFromErrno(errno));
        return WAIT_FAILED;
      }
      if (n > 0) {
        reap();
        return WAIT_OBJECT_0;
      }
      if (n == 0 && timeout == 0) return WAIT_TIMEOUT;
    }
  }

 private:
  void reap() {
    std::lock_guard lock(mutex);
    if (reaped) return;
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
  }

  const pid_t pid;
  const int pidfd;
  std::mutex mutex;
  bool reaped = false;
};

bool beginsWithMZ(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[2] = {};
  const bool mz = read(fd, head, 2) == 2 && head[0] == 'M' && head[1] == 'Z';
  close(fd);
  return mz;
}

// The full path of an executable file of that name in a directory of PATH.
std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t begin = 0;
  while (begin <= dirs.size()) {
    size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(begin, end - begin) + "/" + name;
    struct stat st;
    if (end > begin && stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    begin = end + 1;
  }
  return {};
}

// posix_spawn with the child's signals back at their defaults; the error
// number, or 0.
int spawn(pid_t& pid, const std::vector<std::string>& args, const char* directory) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string dir = directory ? ResolvePath(directory, NameMatch::Caseless) : std::string();
  if (directory) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const int err = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

}  // namespace

void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo) {
  std::memset(lpStartupInfo, 0, sizeof *lpStartupInfo);
  lpStartupInfo->cb = sizeof *lpStartupInfo;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpApplicationName || !*lpApplicationName || lpCommandLine || lpEnvironment || !lpProcessInformation)
    return FailWith(ERROR_INVALID_PARAMETER);
  // A relative name is found from the caller's directory, not the new one.
  std::string program = ResolvePath(lpApplicationName, NameMatch::Caseless);
  if (program[0] != '/') {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return FailWithErrno(errno);
    program = std::string(cwd) + "/" + program;
  }
  struct stat st;
  if (stat(program.c_str(), &st) != 0) return FailWithErrno(errno);
  if (S_ISDIR(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);

  std::vector<std::string> args{program};
  if (beginsWithMZ(program)) {
    const std::string wine = findOnPath("wine");
    if (wine.empty()) return FailWith(ERROR_EXE_MACHINE_TYPE_MISMATCH);
    args.insert(args.begin(), wine);
  }
  pid_t pid = 0;
  if (const int err = spawn(pid, args, lpCurrentDirectory))
    return FailWith(err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : Win32ErrorFromErrno(err));
  // glibc 2.36 declares pidfd_open without C linkage, so it is called directly.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    // Without a way to wait for it the program must not run on unseen.
    const int err = errno;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return FailWithErrno(err);
  }
  const auto process = std::make_shared<ProcessObject>(pid, pidfd);
  lpProcessInformation->hProcess = MakeHandle(process);
  lpProcessInformation->hThread = MakeHandle(process);
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}
