// Runs talvorin-vprog as a child process and reads what it reports.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

class VprogProcess {
 public:
  VprogProcess() = default;
  VprogProcess(const VprogProcess&) = delete;
  VprogProcess& operator=(const VprogProcess&) = delete;
  ~VprogProcess() { Stop(); }

  // Starts the program with the arguments and waits for the device line.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  const std::string& Device() const { return device; }
  // The next line it prints, without the line break; empty when none comes
  // within the time.
  std::string ReadLine(int timeoutMs);
  // Ends it (when still running) and waits for it; its peak memory in KiB.
  long Stop();

 private:
  pid_t pid = -1;
  int out = -1;
  std::string pending;
  std::string device;
};
