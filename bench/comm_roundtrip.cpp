// The serial port over a pseudo-terminal: the round trip of one byte through
// Write and InQueCount/Read polling (with the watcher's hand-overs run in the
// polling loop, as the transfer dialogs do) against plain write/read on the
// descriptors; and the process CPU time of an idle open port.
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "comm/Comm.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTrips = 3000;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Median microseconds of one trip.
double MedianTrip(const std::function<void()>& trip) {
  std::vector<double> times;
  for (int i = 0; i < kTrips; ++i) {
    const auto start = Clock::now();
    trip();
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return Median(times);
}

}  // namespace

int main() {
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  // The device: echoes every byte.
  std::thread echo([master] {
    char b;
    while (read(master, &b, 1) == 1 && b != 0x7F) (void)!write(master, &b, 1);
  });

  double portTrip = 0;
  {
    TComm comm;
    comm.SetDeviceName(name);
    comm.SetBaudRate(br115200);
    comm.Open();
    if (!comm.Enabled()) return 1;
    char b = 'a';
    portTrip = MedianTrip([&] {
      comm.Write(&b, 1);
      while (comm.InQueCount() < 1) CheckSynchronize();
      comm.Read(&b, 1);
    });

    // Idle: the watcher waits, nothing arrives.
    CheckSynchronize();
    const double before = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double idle = CpuSeconds() - before;
    std::printf("idle open port: %.2f ms CPU over 5 s = %.3f%% of a core (goal: under 1%%)\n", idle * 1e3,
                idle / 5 * 100);
  }

  const int fd = open(name, O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  char b = 'a';
  const double plainTrip = MedianTrip([&] {
    (void)!write(fd, &b, 1);
    (void)!read(fd, &b, 1);
  });
  b = 0x7F;
  (void)!write(fd, &b, 1);
  echo.join();
  close(fd);

  std::printf("round trip of one byte, TComm Write + InQueCount/Read: %.1f us (median of %d)\n", portTrip, kTrips);
  std::printf("round trip of one byte, plain write/read:              %.1f us\n", plainTrip);
  std::printf("ratio: %.2f (goal: within 1.50)\n", portTrip / plainTrip);
  close(master);
  close(slave);
  return 0;
}
