#include "platform/posix/serial/low_latency.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

int RealGet(int fd, serial_struct* info) { return ::ioctl(fd, TIOCGSERIAL, info); }
int RealSet(int fd, const serial_struct* info) { return ::ioctl(fd, TIOCSSERIAL, info); }

const SerialInfoCalls realCalls{RealGet, RealSet};
std::atomic<const SerialInfoCalls*> calls{&realCalls};

}  // namespace

void SetSerialInfoCalls(const SerialInfoCalls* replacement) { calls = replacement ? replacement : &realCalls; }

std::optional<int> EnterLowLatency(int fd) {
  const SerialInfoCalls& driver = *calls;
  serial_struct info{};
  if (driver.get(fd, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY)) return std::nullopt;
  const int before = info.flags;
  info.flags |= ASYNC_LOW_LATENCY;
  // Refused (an old driver, or a policy): the port works as it is, only slower.
  if (driver.set(fd, &info) != 0) return std::nullopt;
  return before;
}

void RestoreSerialFlags(int fd, const std::string& path, int flags) {
  const SerialInfoCalls& driver = *calls;
  const auto restore = [&](int on) {
    serial_struct info{};
    if (driver.get(on, &info) != 0) return false;
    info.flags = flags;
    driver.set(on, &info);
    return true;
  };
  if (restore(fd) || errno != EIO) return;
  const int own = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (own < 0) return;  // gone for good (an adapter pulled out): its settings went with it
  restore(own);
  ::close(own);
}
