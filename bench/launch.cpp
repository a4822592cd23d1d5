// Cost of the launch subsystem's file work and process start, each against a
// bare baseline in the same run:
// - the project file (17 profile writes, each replacing the file safely)
//   against one plain write of the same text;
// - starting and waiting for a tool through CreateProcessA and
//   WaitForSingleObject against a bare posix_spawn and waitpid.
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "launch/ProjectFiles.h"
#include "platform/winapi.h"

extern char** environ;

namespace {

double medianMs(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

int main() {
  char pattern[] = "/tmp/talvorin-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string project = dir + "/Talvorin.AVR";
  const std::string plain = dir + "/plain.AVR";

  const double projectMs =
      medianMs(50, [&] { WriteProjectFile(project, dir + "/programs/eeprom.bin", dir + "/programs/a.bin"); });
  const std::string text = readFile(project);
  const double plainMs = medianMs(50, [&] { std::ofstream(plain, std::ios::binary) << text; });
  std::printf("project file: %.3f ms, one plain write %.3f ms, ratio %.1f\n", projectMs, plainMs,
              projectMs / plainMs);

  const std::string tool = dir + "/Qelt.EXE";
  std::ofstream(tool) << "#!/bin/sh\n";
  std::system(("chmod 755 " + tool).c_str());
  const double launchMs = medianMs(50, [&] {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(tool.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        nullptr, &startup, &process))
      std::exit(1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  });
  const double bareMs = medianMs(50, [&] {
    char* argv[] = {const_cast<char*>(tool.c_str()), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, environ) != 0) std::exit(1);
    waitpid(pid, nullptr, 0);
  });
  std::printf("tool start and wait: %.3f ms, bare posix_spawn %.3f ms, ratio %.2f\n", launchMs, bareMs,
              launchMs / bareMs);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
