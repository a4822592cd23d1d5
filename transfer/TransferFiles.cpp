#include "transfer/TransferFiles.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/winapi.h"

namespace {

// The size the file system reports, or -1.
std::int64_t FileSize(const std::string& name, NameMatch match) {
  std::error_code error;
  const auto size = std::filesystem::file_size(ResolvePath(name, match), error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

// A file read one block at a time without a stream buffer of its own: memory
// stays one block whatever the file size.
class FileSource final : public DownloadSource {
 public:
  FileSource(const std::string& name, NameMatch match) : name(name), match(match) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override { Close(); }

  std::int64_t Size() override { return FileSize(name, match); }
  bool Missing() override { return !FileExists(name, match); }
  bool Open() override {
    if (name.empty()) return false;
    file = std::fopen(ResolvePath(name, match).c_str(), "rb");
    if (file) std::setvbuf(file, nullptr, _IONBF, 0);
    return file != nullptr;
  }
  bool ReadNext(void* buffer, size_t count) override { return file && std::fread(buffer, 1, count, file) == count; }
  void Close() override {
    if (file) std::fclose(file);
    file = nullptr;
  }

 private:
  const std::string name;
  const NameMatch match;
  std::FILE* file = nullptr;
};

// A file written one block at a time, every write failure showing at the
// block that caused it: a replacement that takes the old file's place only
// when kept. A read-only file is refused, as Windows does even for an
// administrator.
class FileSink final : public UploadSink {
 public:
  FileSink(const std::string& name, NameMatch match) : name(name), match(match) {}

  bool Create() override {
    return !name.empty() && output.Open(name, match, ReplacementFile::Staging::ElsewhereIfRefused);
  }
  bool Append(const void* data, size_t count) override { return output.Append(data, count); }
  bool Keep() override { return output.Commit(); }
  void Abandon() override { output.Abandon(); }

 private:
  const std::string name;
  const NameMatch match;
  ReplacementFile output;
};

}  // namespace

bool DirectoryExists(const std::string& path, NameMatch match) {
  const std::uint32_t attributes = FileAttributesOf(path, match);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::unique_ptr<DownloadSource> FileBytesSource(const std::string& fileName, NameMatch match) {
  return std::make_unique<FileSource>(fileName, match);
}

std::unique_ptr<UploadSink> FileReplacementSink(const std::string& fileName, NameMatch match) {
  return std::make_unique<FileSink>(fileName, match);
}

std::string UploadDirectoryPart(const std::string& fileName) {
  // Drive letters ("C:image.bin") only where paths have them.
  const bool drives = PathDelim == '\\';
  const auto separator = [&](char ch) { return ch == PathDelim || (drives && ch == ':'); };
  size_t last = std::string::npos;
  for (size_t i = 0; i < fileName.size(); ++i)
    if (separator(fileName[i])) last = i;
  if (last == std::string::npos) return std::string();
  std::string directory = fileName.substr(0, last + 1);
  if (fileName[last] == PathDelim && last > 0 && !separator(fileName[last - 1])) directory.pop_back();
  return directory;
}
