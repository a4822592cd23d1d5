// The atomic replacement of a file: a temporary file beside it, renamed over
// it once complete, or, in a folder that takes no new file, one elsewhere
// that is written over it in place.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/fail.h"
#include "platform/posix/file_paths.h"
#include "platform/posix/files.h"
#include "platform/posix/link_policy.h"
#include "platform/posix/permissions.h"

namespace {

mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// Temporary files are ".<name>.tmp-" and six random characters beside the
// file. The writer holds a lock on its own for as long as the name exists,
// and the kernel drops the lock when the process dies, so a temporary file
// that can be locked was left by a write that was killed.
constexpr const char* TempInfix = ".tmp-";
constexpr size_t TempRandomLength = 6;

bool IsTempOf(const std::string& name, const std::string& base) {
  const std::string prefix = "." + base + TempInfix;
  return name.size() == prefix.size() + TempRandomLength && name.compare(0, prefix.size(), prefix) == 0;
}

void RemoveStaleTemps(const std::string& dir, const std::string& base) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (const dirent* e = readdir(d))
    if (IsTempOf(e->d_name, base)) stale.emplace_back(e->d_name);
  closedir(d);
  for (const auto& name : stale) {
    std::string path = dir;
    (path += '/') += name;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      // Not a file of ours (a link, say): remove the name, never what it names.
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(path.c_str());
      continue;
    }
    struct stat opened, named;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
      unlink(path.c_str());
    close(fd);
  }
}

TempNameSource tempNames = nullptr;

// A new temporary file beside the real one, created with O_EXCL (a name that
// exists, a planted link included, is never opened) under an unpredictable
// name, locked and still linked. -1 with errno set.
int CreateLockedTemp(const std::string& dir, const std::string& base, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = dir;
    temp += "/.";
    temp += base;
    temp += TempInfix;
    temp += tempNames ? tempNames() : RandomTempName();
    const int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return -1;
    // A cleaner that took the file between its creation and the lock has
    // unlinked it: take another.
    struct stat st;
    if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0) {
      const int err = errno;
      unlink(temp.c_str());
      close(fd);
      errno = err;
      return -1;
    }
    if (st.st_nlink > 0) return fd;
    close(fd);
  }
  errno = EEXIST;
  return -1;
}

// A temporary file in the system's temporary folder that has no name (or
// loses it at once), so that nothing is left of it after a kill. -1 with
// errno set.
int CreateUnnamedTemp() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp && *tmp ? tmp : "/tmp";
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  std::string name = dir + "/.talvorin-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

// Writes the whole of from over the file at path, which stays the same file
// (links, owner, permissions): for a folder that takes no new name. An errno
// value, 0 when it is done and on the disk.
int OverwriteInPlace(int from, const std::string& path) {
  const int to = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (to < 0) return errno;
  int err = 0;
  struct stat st;
  // The name may lead elsewhere since Open looked at it.
  if (fstat(to, &st) != 0)
    err = errno;
  else if (!S_ISREG(st.st_mode))
    err = EACCES;
  if (err == 0 && lseek(from, 0, SEEK_SET) != 0) err = errno;
  char buffer[65536];
  off_t total = 0;
  while (err == 0) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) err = errno;
      break;
    }
    for (ssize_t done = 0; err == 0 && done < n;) {
      const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno != EINTR) err = errno;
      if (w > 0) done += w;
    }
    total += n;
  }
  if (err == 0 && ftruncate(to, total) != 0) err = errno;
  if (err == 0 && fdatasync(to) != 0) err = errno;
  if (close(to) != 0 && err == 0) err = errno;
  return err;
}

// The rename itself reaches the disk, not only the new file's bytes.
void SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}
}  // namespace

std::string RandomTempName() {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[TempRandomLength];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<size_t>(n);
  }
  std::string name;
  for (const unsigned char b : bytes) name += alphabet[b % (sizeof alphabet - 1)];
  return name;
}

void SetTempNameSource(TempNameSource source) { tempNames = source; }
// The temporary file that is to take the real file's place, and what the
// real one had that the new one keeps.
struct ReplacementFile::Pending {
  int fd = -1;
  std::string temp, actual, dir;
  mode_t mode = 0;
  bool existed = false;
  bool inPlace = false;  // the temporary file lies elsewhere and is written over the old file
  uid_t uid = 0;
  gid_t gid = 0;
};

ReplacementFile::ReplacementFile() = default;

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Open(const std::string& path, NameMatch match, Staging staging) {
  Abandon();
  auto next = std::make_unique<Pending>();
  if (!LinkTarget(ResolvePath(path, match), next->actual)) return FailWithErrno(errno);
  next->dir = DirName(next->actual);
  const std::string base = BaseName(next->actual);
  if (base.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
  next->mode = NewFileMode();
  struct stat st;
  next->existed = stat(next->actual.c_str(), &st) == 0;
  if (next->existed) {
    // A device or a pipe would be replaced by a plain file, not written.
    if (!S_ISREG(st.st_mode) || !Permitted(next->actual, st, W_OK)) return FailWith(ERROR_ACCESS_DENIED);
    next->mode = st.st_mode & 07777;
    next->uid = st.st_uid;
    next->gid = st.st_gid;
  } else if (errno != ENOENT) {
    return FailWithErrno(errno);
  }
  struct stat dst;
  if (stat(next->dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  const bool elsewhere = next->existed && staging == Staging::ElsewhereIfRefused;
  if (Permitted(next->dir, dst, W_OK)) {
    RemoveStaleTemps(next->dir, base);
    next->fd = CreateLockedTemp(next->dir, base, next->temp);
    if (next->fd < 0 && (!elsewhere || (errno != EACCES && errno != EPERM))) return FailWithErrno(errno);
  } else if (!elsewhere) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  if (next->fd < 0) {
    next->temp.clear();
    next->inPlace = true;
    next->fd = CreateUnnamedTemp();
    if (next->fd < 0) return FailWithErrno(errno);
  }
  pending = std::move(next);
  return true;
}

bool ReplacementFile::Append(const void* data, size_t count) {
  if (!pending) return FailWith(ERROR_INVALID_HANDLE);
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(pending->fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailWithErrno(errno);
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!pending) return FailWith(ERROR_INVALID_HANDLE);
  const std::unique_ptr<Pending> p = std::move(pending);
  if (p->inPlace) {
    const int err = OverwriteInPlace(p->fd, p->actual);
    close(p->fd);
    return err == 0 ? TRUE : FailWithErrno(err);
  }
  int err = 0;
  // The owner where this process may give it (root, or a group it is in);
  // the mode after it, as a change of owner clears the set-id bits.
  if (p->existed && (p->uid != geteuid() || p->gid != getegid()) && fchown(p->fd, p->uid, p->gid) != 0)
    (void)!fchown(p->fd, static_cast<uid_t>(-1), p->gid);
  if (fchmod(p->fd, p->mode) != 0) err = errno;
  if (err == 0 && fdatasync(p->fd) != 0) err = errno;
  if (err == 0 && rename(p->temp.c_str(), p->actual.c_str()) != 0) err = errno;
  if (err != 0) unlink(p->temp.c_str());
  // The lock goes with the descriptor, after the rename: until then a
  // cleaner of stale files leaves the temporary file alone.
  if (close(p->fd) != 0 && err == 0) err = errno;
  if (err != 0) return FailWithErrno(err);
  SyncDirectory(p->dir);
  return true;
}

void ReplacementFile::Abandon() {
  if (!pending) return;
  if (!pending->inPlace) unlink(pending->temp.c_str());
  close(pending->fd);
  pending.reset();
}
