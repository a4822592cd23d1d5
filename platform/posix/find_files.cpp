// The attribute, deletion, search and short-name stand-ins.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/errors.h"
#include "platform/posix/fail.h"
#include "platform/posix/file_paths.h"
#include "platform/posix/files.h"
#include "platform/posix/handles.h"
#include "platform/posix/permissions.h"

namespace {

void FillFindData(const std::string& name, const struct stat& st, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (ReadOnly(st)) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
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

std::uint32_t FileAttributesOf(const std::string& path, NameMatch match) {
  struct stat st;
  if (stat(ResolvePath(path, match).c_str(), &st) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAA data;
  FillFindData("", st, data);
  return data.dwFileAttributes;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  return FileAttributesOf(lpFileName, NameMatch::Caseless);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string actual = ResolvePath(lpFileName, NameMatch::Caseless);
  struct stat st;
  if (lstat(actual.c_str(), &st) != 0) return FailWithErrno(errno);
  if (S_ISDIR(st.st_mode) || ReadOnly(st)) return FailWith(ERROR_ACCESS_DENIED);
  if (unlink(actual.c_str()) != 0) return FailWithErrno(errno);
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string dir = ResolvePath(DirName(lpFileName), NameMatch::Caseless);
  const std::string pattern = BaseName(lpFileName);
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
  FillFindData(state->entries[0].first, state->entries[0].second, *lpFindFileData);
  state->next = 1;
  return MakeHandle(std::move(state));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  const auto state = ObjectFromHandleAs<FindState>(hFindFile);
  if (!state) return FailWith(ERROR_INVALID_HANDLE);
  if (state->next >= state->entries.size()) return FailWith(ERROR_NO_MORE_FILES);
  const auto& [name, st] = state->entries[state->next++];
  FillFindData(name, st, *lpFindFileData);
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
  const std::string actual = ResolvePath(lpszLongPath, NameMatch::Caseless);
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
