// Whole files read as Windows reads them, and what the program refuses to
// read or replace.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/posix/fail.h"
#include "platform/posix/permissions.h"

namespace {

// The bytes of an open file, judged again as opened (the name may have
// changed since it was looked at): a regular file of at most WholeFileLimit
// bytes, also while it grows. False with the last error set.
bool ReadRegularFile(int fd, std::string& content) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FailWithErrno(errno);
  if (!S_ISREG(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (st.st_size > WholeFileLimit) return FailWith(ERROR_FILE_TOO_LARGE);
  content.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailWithErrno(errno);
    if (n == 0) return true;
    content.append(buffer, static_cast<size_t>(n));
    if (static_cast<long long>(content.size()) > WholeFileLimit) return FailWith(ERROR_FILE_TOO_LARGE);
  }
}

}  // namespace

const char PathDelim = '/';

bool ReadWholeFile(const std::string& path, std::string& data) {
  const std::string actual = ResolvePath(path, NameMatch::Caseless);
  struct stat st;
  if (stat(actual.c_str(), &st) != 0) return FailWithErrno(errno);
  // A FIFO would wait for a writer and a device never end; neither is opened.
  if (!S_ISREG(st.st_mode) || !Permitted(actual, st, R_OK)) return FailWith(ERROR_ACCESS_DENIED);
  const int fd = open(actual.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailWithErrno(errno);
  std::string content;
  const bool done = ReadRegularFile(fd, content);
  close(fd);
  if (done) data = std::move(content);
  return done;
}

bool IsDeviceOrPipe(const std::string& path, NameMatch match) {
  struct stat st;
  return stat(ResolvePath(path, match).c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}
