// A preload library for the tests of failing disks: every write to a file
// below the folder named by TALVORIN_FAIL_WRITES_UNDER fails with EIO, as on
// a medium that has gone bad. Other files and devices are left alone.
#include <dlfcn.h>
#include <limits.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool failing(int fd) {
  const char* under = getenv("TALVORIN_FAIL_WRITES_UNDER");
  if (!under || !*under || fd < 0) return false;
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return strncmp(path, under, strlen(under)) == 0;
}
}  // namespace

extern "C" {

#define REAL(name) (reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name)))

ssize_t write(int fd, const void* buffer, size_t count) {
  if (failing(fd)) {
    errno = EIO;
    return -1;
  }
  return REAL(write)(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (failing(fd)) {
    errno = EIO;
    return -1;
  }
  return REAL(pwrite)(fd, buffer, count, offset);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
  if (failing(fileno(stream))) {
    errno = EIO;
    return 0;
  }
  return REAL(fwrite)(buffer, size, count, stream);
}

int fdatasync(int fd) {
  if (failing(fd)) {
    errno = EIO;
    return -1;
  }
  return REAL(fdatasync)(fd);
}

int fsync(int fd) {
  if (failing(fd)) {
    errno = EIO;
    return -1;
  }
  return REAL(fsync)(fd);
}
}  // extern "C"
