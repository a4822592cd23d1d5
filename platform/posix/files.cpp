// File-system stand-ins. Names are matched without regard to case, as on
// Windows, and permissions follow Windows' rules: a file without any write
// permission bit is read-only even for root, just as the read-only attribute
// binds an administrator, and a file without any read bit cannot be read.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/fail.h"
#include "platform/Files.h"
#include "platform/posix/errors.h"
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

void fillFindData(const std::string& name, const struct stat& st, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  const auto size = static_cast<unsigned long long>(st.st_size);
  data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(size);
  std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
}

// A search lives in the handle table like every other handle, so a stale or
// twice-closed find handle is refused instead of freed again.
struct FindState final : KernelObject {
  std::vector<std::pair<std::string, struct stat>> entries;
  size_t next = 0;
};

}  // namespace

const char PathDelim = '/';

std::string ResolvePath(const std::string& path) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) == 0) return path;

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
  if (S_ISDIR(st.st_mode) || !permitted(actual, st, R_OK)) return FailWith(ERROR_ACCESS_DENIED);
  const int fd = open(actual.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FailWithErrno(errno);
  data.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      close(fd);
      return FailWithErrno(err);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  const std::string actual = ResolvePath(path);
  mode_t mode = newFileMode();
  struct stat st;
  if (stat(actual.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || !permitted(actual, st, W_OK)) return FailWith(ERROR_ACCESS_DENIED);
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return FailWithErrno(errno);
  }
  const std::string dir = dirName(actual);
  struct stat dst;
  if (stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  if (!permitted(dir, dst, W_OK)) return FailWith(ERROR_ACCESS_DENIED);

  std::string temp = dir + "/." + baseName(actual) + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return FailWithErrno(errno);
  size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (err == 0 && fchmod(fd, mode) != 0) err = errno;
  if (err == 0 && fdatasync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), actual.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return FailWithErrno(err);
  }
  return true;
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
