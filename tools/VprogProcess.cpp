#include "tools/VprogProcess.h"

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

bool VprogProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out = pipeFds[0];
  if (pid < 0) return false;
  device = ReadLine(10000);
  return !device.empty();
}

std::string VprogProcess::ReadLine(int timeoutMs) {
  for (;;) {
    const auto newline = pending.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      return line;
    }
    pollfd pfd{out, POLLIN, 0};
    if (out < 0 || poll(&pfd, 1, timeoutMs) <= 0) return std::string();
    char buffer[512];
    const ssize_t n = read(out, buffer, sizeof buffer);
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
