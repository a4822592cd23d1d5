// Whole files and the atomic replacement over the Win32 file functions. The
// file system itself matches names without regard to case.
#include "platform/Files.h"

#include <algorithm>
#include <cstdint>
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

 private:
  HANDLE h;
};

std::string directoryOf(const std::string& path) {
  const auto delim = path.find_last_of("\\/:");
  if (delim == std::string::npos) return ".";
  return path.substr(0, path[delim] == ':' ? delim + 1 : delim);
}

}  // namespace

std::string ResolvePath(const std::string& path, NameMatch) { return path; }

std::uint32_t FileAttributesOf(const std::string& path, NameMatch) { return GetFileAttributesA(path.c_str()); }

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

// The temporary file that is to take the real file's place.
struct ReplacementFile::Pending {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string temp, path;
  bool inPlace = false;  // the temporary file lies elsewhere and is written over the old file
};

namespace {

// Writes the whole of from over the existing file at path, which stays the
// same file: for a folder that takes no new one. False with the last error set.
bool OverwriteInPlace(HANDLE from, const std::string& path) {
  FileHandle to(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (to.get() == INVALID_HANDLE_VALUE || SetFilePointer(from, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    return false;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) break;
    for (DWORD done = 0; done < got;) {
      DWORD written = 0;
      if (!WriteFile(to.get(), buffer + done, got - done, &written, nullptr)) return false;
      done += written;
    }
  }
  return SetEndOfFile(to.get()) && FlushFileBuffers(to.get());
}

}  // namespace

ReplacementFile::ReplacementFile() = default;

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Open(const std::string& path, NameMatch, Staging staging) {
  Abandon();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  auto next = std::make_unique<Pending>();
  char temp[MAX_PATH];
  if (!GetTempFileNameA(directoryOf(path).c_str(), "tv", 0, temp)) {
    // A folder that takes no new file: the system's temporary folder, for a
    // file that is there to be written over.
    if (GetLastError() != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        staging != Staging::ElsewhereIfRefused)
      return false;
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(folder, "tv", 0, temp)) return false;
    next->inPlace = true;
  }
  next->temp = temp;
  next->path = path;
  next->file =
      CreateFileA(temp, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (next->file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileA(temp);
    SetLastError(error);
    return false;
  }
  pending = std::move(next);
  return true;
}

bool ReplacementFile::Append(const void* data, size_t count) {
  if (!pending) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(pending->file, bytes + done, chunk, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!pending) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (pending->inPlace) {
    const bool written = OverwriteInPlace(pending->file, pending->path);
    Abandon();
    return written;
  }
  bool ok = FlushFileBuffers(pending->file) != 0;
  const HANDLE file = std::exchange(pending->file, INVALID_HANDLE_VALUE);
  ok = CloseHandle(file) && ok;
  // The old file keeps its place until the new one is complete on disk.
  if (ok)
    ok = MoveFileExA(pending->temp.c_str(), pending->path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (ok)
    pending.reset();
  else
    Abandon();
  return ok;
}

void ReplacementFile::Abandon() {
  if (!pending) return;
  // What failed before stays the last error.
  const DWORD error = GetLastError();
  if (pending->file != INVALID_HANDLE_VALUE) CloseHandle(pending->file);
  DeleteFileA(pending->temp.c_str());
  pending.reset();
  SetLastError(error);
}

bool IsDeviceOrPipe(const std::string& path, NameMatch) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
}
