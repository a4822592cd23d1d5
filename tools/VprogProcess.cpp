#include "tools/VprogProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Spawned rather than forked: the starting process may have threads, and a
// forked child could hang on a lock one of them held (an allocation, say)
// before it reached exec.
bool VprogProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The copy on stdout stays open across exec; the pipe's own ends do not.
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  out = pipeFds[0];
  if (error != 0) {
    pid = -1;
    return false;
  }
  device = ReadLine(10000);
  return !device.empty();
}

std::string VprogProcess::ReadLine(int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto newline = pending.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      return line;
    }
    if (out < 0) return std::string();
    // A signal that interrupts the wait is no end of the output: the wait
    // goes on for what is left of the time.
    pollfd pfd{out, POLLIN, 0};
    int ready;
    do {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      ready = poll(&pfd, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return std::string();
    char buffer[512];
    const ssize_t n = read(out, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    pending.append(buffer, static_cast<size_t>(n));
  }
}

long VprogProcess::Stop() {
  long peakKiB = 0;
  if (pid > 0) {
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) peakKiB = usage.ru_maxrss;
    pid = -1;
  }
  if (out >= 0) close(out);
  out = -1;
  return peakKiB;
}
