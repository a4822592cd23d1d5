// A real pseudo-terminal pair for serial tests: the program opens the slave
// by its path, the test plays the device on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/Wait.h"

class PtyPair {
 public:
  PtyPair() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    path = name;
  }
  ~PtyPair() {
    if (master >= 0) ::close(master);
    ::close(slave);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The device sends bytes to the program.
  void Send(const std::string& bytes) const {
    if (::write(master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("pty write failed");
  }

  // What the program sent, waiting up to two seconds for count bytes.
  std::string Receive(size_t count) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  // The device goes away: the far end closes, and the kernel hangs the line
  // up as it does for an adapter pulled out.
  void Vanish() {
    ::close(master);
    master = -1;
  }

  int master = -1;
  int slave = -1;  // kept open so the terminal's settings can be read back
  std::string path;
};
