#include "tools/PtyPort.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool Pty::Open() {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  if (grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
    Close();
    return false;
  }
  device = ptsname(master);
  slave = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave)) {
    Close();
    return false;
  }
  return true;
}

void Pty::Close() {
  if (slave >= 0) close(slave);
  if (master >= 0) close(master);
  slave = master = -1;
}

int Pty::WaitingAtHost() const {
  int n = 0;
  return ioctl(slave, FIONREAD, &n) == 0 ? n : 0;
}

bool FdComm::Open(const std::string& device) {
  Close();
  this->device = device;
  fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  if (!MakeRaw(fd)) Close();
  return fd >= 0;
}

void FdComm::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
}

int FdComm::InQueCount() {
  int n = 0;
  if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0) return -1;
  return n;
}

int FdComm::Read(char* buffer, int count) {
  if (fd < 0) return -1;
  int done = 0;
  while (done < count) {
    const ssize_t n = read(fd, buffer + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int FdComm::Write(const char* buffer, int count) {
  if (fd < 0) return -1;
  int done = 0;
  while (done < count) {
    const ssize_t n = write(fd, buffer + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int>(n);
  }
  return done;
}
