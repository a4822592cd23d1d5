// Serial lines over pseudo-terminals for the virtual programmer, its tests and
// the benchmarks: the programmer's end (the master) and a plain file
// descriptor port for the host's end with the operations the transfers poll.
#pragma once

#include <string>

// A new pseudo-terminal in raw mode. The master is the programmer's end;
// the device path names the other end, for the host. The slave stays open
// here too, so the line survives the host closing and reopening it, and so
// that the programmer can see how many bytes still wait at the host.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string device;
  bool Open();
  void Close();
  // Bytes written by the programmer that the host has not read yet.
  int WaitingAtHost() const;
};

// The host's end of a serial device on a plain file descriptor: Enabled,
// InQueCount, Read and Write as the transfers use them, -1 when not open.
class FdComm {
 public:
  ~FdComm() { Close(); }
  bool Open(const std::string& device);
  void Close();
  bool Enabled() const { return fd >= 0; }
  int InQueCount();
  int Read(char* buffer, int count);
  int Write(const char* buffer, int count);
  const std::string& DeviceName() const { return device; }

 private:
  int fd = -1;
  std::string device;
};

// Raw 8N1 at 115200 baud, no flow control.
bool MakeRaw(int fd);
