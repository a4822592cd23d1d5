// A real pseudo-terminal pair for serial tests: the program opens the slave
// by its path, the test plays the device on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
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

  // A programmer whose firmware hangs after the handshake: it answers the
  // first STX with 256-byte blocks, grants the next acks block requests in
  // advance, and never reads again, so that the host's writes soon fill the
  // line and wait. False when no STX came.
  bool AnswerThenStopReading(int acks) const {
    std::string first;
    for (int tries = 0; tries < 5 && first.empty(); ++tries) first = Receive(1);
    if (first != "\x02") return false;
    Send(std::string(1, '\0') + std::string(static_cast<size_t>(acks) + 1, '\x06'));
    return true;
  }

  // Whether the host's bytes stopped coming: what waits unread here stays
  // the same for a while (the line is full).
  bool LineStalled() const {
    int before = -1, after = -2;
    ioctl(master, FIONREAD, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ioctl(master, FIONREAD, &after);
    return before == after && after > 0;
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
