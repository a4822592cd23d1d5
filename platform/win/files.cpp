// Whole files and the atomic replacement over the Win32 file functions. The
// file system itself matches names without regard to case.
#include "platform/Files.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/winapi.h"

const char PathDelim = '\\';

namespace {

// Closes a file handle when the scope ends.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h(h) {}
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return h; }
  // Closes now; false with the last error of CloseHandle.
  bool close() {
    const HANDLE closing = h;
    h = INVALID_HANDLE_VALUE;
    return CloseHandle(closing) != 0;
  }

 private:
  HANDLE h;
};

std::string directoryOf(const std::string& path) {
  const auto delim = path.find_last_of("\\/:");
  if (delim == std::string::npos) return ".";
  return path.substr(0, path[delim] == ':' ? delim + 1 : delim);
}

bool writeAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(h, data.data() + done, chunk, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

}  // namespace

std::string ResolvePath(const std::string& path) { return path; }

bool ReadWholeFile(const std::string& path, std::string& data) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  // A device or a pipe opens, but a read from it may never end.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (size.QuadPart > WholeFileLimit) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  std::string content(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < content.size()) {
    DWORD got = 0;
    if (!ReadFile(file.get(), content.data() + done, static_cast<DWORD>(content.size() - done), &got, nullptr))
      return false;
    if (got == 0) break;  // shrunk while reading
    done += got;
  }
  content.resize(done);
  data = std::move(content);
  return true;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  char temp[MAX_PATH];
  if (!GetTempFileNameA(directoryOf(path).c_str(), "tv", 0, temp)) return false;
  FileHandle file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  bool ok = file.get() != INVALID_HANDLE_VALUE && writeAll(file.get(), data) && FlushFileBuffers(file.get());
  ok = file.close() && ok;
  // The old file keeps its place until the new one is complete on disk.
  if (ok) ok = MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    const DWORD error = GetLastError();
    DeleteFileA(temp);
    SetLastError(error);
  }
  return ok;
}
