// File-system stand-ins. Names are matched without regard to case, as on
// Windows, and permissions follow Windows' rules: a file without any write
// permission bit is read-only even for root, just as the read-only attribute
// binds an administrator, and a file without any read bit cannot be read.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/fail.h"
#include "platform/posix/files.h"
#include "platform/posix/handles.h"

namespace {

// access() lets root do anything; Windows does not, so for root the mode
// bits decide.
bool permitted(const std::string& path, const struct stat& st, int want) {
  if (geteuid() != 0) return access(path.c_str(), want) == 0;
  const mode_t bits = want == W_OK ? (S_IWUSR | S_IWGRP | S_IWOTH) : (S_IRUSR | S_IRGRP | S_IROTH);
  return (st.st_mode & bits) != 0;
}

std::string dirName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entry of dir whose name equals name without regard to case; the
// smallest such name when several differ only in case.
bool findCaseless(const std::string& dir, const std::string& name, std::string& found) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool any = false;
  while (const dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0 && (!any || found.compare(e->d_name) > 0)) {
      found = e->d_name;
      any = true;
    }
  }
  closedir(d);
  return any;
}

mode_t newFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// The kernel's rule for links (fs.protected_symlinks), which following them
// here would pass by: in a sticky folder that anyone may write, a link is
// followed only when it belongs to the follower or to the folder's owner, so
// that another user's planted link does not lead a write elsewhere.
bool MayFollow(const std::string& link, const struct stat& st) {
  struct stat dir;
  const bool shared =
      stat(dirName(link).c_str(), &dir) == 0 && (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || st.st_uid == geteuid() || st.st_uid == dir.st_uid;
}

// A replacement goes through the link to the file it names, so that the link
// stays what the user made it. A dangling link names the file to create.
bool LinkTarget(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    if (!MayFollow(target, st)) {
      errno = EACCES;
      return false;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return false;
    link.resize(static_cast<size_t>(n));
    if (link.starts_with('/')) {
      target = link;
    } else {
      target = dirName(target);
      (target += '/') += link;
    }
  }
  errno = ELOOP;
  return false;
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

void fillFindData(const std::string& name, const struct stat& st, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  const auto size = static_cast<unsigned long long>(st.st_size);
  data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(size);
  std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
}

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

// A search lives in the handle table like every other handle, so a stale or
// twice-closed find handle is refused instead of freed again.
struct FindState final : KernelObject {
  std::vector<std::pair<std::string, struct stat>> entries;
  size_t next = 0;
};

}  // namespace

const char PathDelim = '/';

void SetTempNameSource(TempNameSource source) { tempNames = source; }

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


namespace {
std::atomic<bool> caselessLookup{true};
}  // namespace

void SetCaselessLookup(bool caseless) { caselessLookup = caseless; }

std::string ResolvePath(const std::string& path) {
  struct stat st;
  if (!caselessLookup || path.empty() || lstat(path.c_str(), &st) == 0) return path;

  std::string resolved = path[0] == '/' ? "/" : "";
  size_t pos = path[0] == '/' ? 1 : 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const std::string dir = resolved;
    if (!resolved.empty() && resolved.back() != '/') resolved += '/';
    std::string candidate = resolved + part;
    if (lstat(candidate.c_str(), &st) != 0) {
      std::string actual;
      if (part == "." || part == ".." || !findCaseless(dir, part, actual))
        return candidate + (end < path.size() ? path.substr(end) : "");  // kept as spelled
      candidate = resolved + actual;
    }
    resolved = candidate;
  }
  return resolved;
}

bool ReadWholeFile(const std::string& path, std::string& data) {
  const std::string actual = ResolvePath(path);
  struct stat st;
  if (stat(actual.c_str(), &st) != 0) return FailWithErrno(errno);
  // A FIFO would wait for a writer and a device never end; neither is opened.
  if (!S_ISREG(st.st_mode) || !permitted(actual, st, R_OK)) return FailWith(ERROR_ACCESS_DENIED);
  const int fd = open(actual.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailWithErrno(errno);
  std::string content;
  const bool done = ReadRegularFile(fd, content);
  close(fd);
  if (done) data = std::move(content);
  return done;
}

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

bool ReplacementFile::Open(const std::string& path, Staging staging) {
  Abandon();
  auto next = std::make_unique<Pending>();
  if (!LinkTarget(ResolvePath(path), next->actual)) return FailWithErrno(errno);
  next->dir = dirName(next->actual);
  const std::string base = baseName(next->actual);
  if (base.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
  next->mode = newFileMode();
  struct stat st;
  next->existed = stat(next->actual.c_str(), &st) == 0;
  if (next->existed) {
    // A device or a pipe would be replaced by a plain file, not written.
    if (!S_ISREG(st.st_mode) || !permitted(next->actual, st, W_OK)) return FailWith(ERROR_ACCESS_DENIED);
    next->mode = st.st_mode & 07777;
    next->uid = st.st_uid;
    next->gid = st.st_gid;
  } else if (errno != ENOENT) {
    return FailWithErrno(errno);
  }
  struct stat dst;
  if (stat(next->dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  const bool elsewhere = next->existed && staging == Staging::ElsewhereIfRefused;
  if (permitted(next->dir, dst, W_OK)) {
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

bool IsDeviceOrPipe(const std::string& path) {
  struct stat st;
  return stat(ResolvePath(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  struct stat st;
  if (!lpFileName || stat(ResolvePath(lpFileName).c_str(), &st) != 0) {
    SetLastError(lpFileName ? Win32ErrorFromErrno(errno) : ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAA data;
  fillFindData("", st, data);
  return data.dwFileAttributes;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string actual = ResolvePath(lpFileName);
  struct stat st;
  if (lstat(actual.c_str(), &st) != 0) return FailWithErrno(errno);
  if (S_ISDIR(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    return FailWith(ERROR_ACCESS_DENIED);
  if (unlink(actual.c_str()) != 0) return FailWithErrno(errno);
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string dir = ResolvePath(dirName(lpFileName));
  const std::string pattern = baseName(lpFileName);
  auto state = std::make_shared<FindState>();
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      struct stat st;
      if (fnmatch(pattern.c_str(), e->d_name, FNM_CASEFOLD | FNM_PERIOD) == 0 &&
          stat((dir + "/" + e->d_name).c_str(), &st) == 0)
        state->entries.emplace_back(e->d_name, st);
    }
    closedir(d);
  } else {
    SetLastError(Win32ErrorFromErrno(errno) == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND
                                                                     : Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (state->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  fillFindData(state->entries[0].first, state->entries[0].second, *lpFindFileData);
  state->next = 1;
  return MakeHandle(std::move(state));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  const auto state = ObjectFromHandleAs<FindState>(hFindFile);
  if (!state) return FailWith(ERROR_INVALID_HANDLE);
  if (state->next >= state->entries.size()) return FailWith(ERROR_NO_MORE_FILES);
  const auto& [name, st] = state->entries[state->next++];
  fillFindData(name, st, *lpFindFileData);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!ObjectFromHandleAs<FindState>(hFindFile)) return FailWith(ERROR_INVALID_HANDLE);
  return CloseHandle(hFindFile);
}

// There are no 8.3 names here: the short form of an existing path is the
// path as it exists on disk.
DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  if (!lpszLongPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string actual = ResolvePath(lpszLongPath);
  struct stat st;
  if (stat(actual.c_str(), &st) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return 0;
  }
  const auto length = static_cast<DWORD>(actual.size());
  if (!lpszShortPath || cchBuffer <= length) return length + 1;
  std::memcpy(lpszShortPath, actual.c_str(), actual.size() + 1);
  return length;
}
