#include "transfer/ImageFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace {

// The longest line a record can have (255 data bytes and the rest, in hex
// digits) with room to spare: a longer one is no record, and is not
// gathered without end.
constexpr size_t LongestLine = 1024;

// The image that records gave, read in order from address 0.
class RecordImage final : public DownloadSource {
 public:
  std::int64_t Size() override { return static_cast<std::int64_t>(image.Size()); }
  bool Open() override {
    at = 0;
    return true;
  }
  bool ReadNext(void* buffer, size_t count) override {
    image.Read(at, static_cast<std::uint8_t*>(buffer), count);
    at += count;
    return true;
  }
  void Close() override {}

  MemoryImage image;

 private:
  std::uint64_t at = 0;
};

// Reads the file line by line as the given format; false when it cannot be
// read at all.
bool ReadRecordFile(std::FILE* file, RecordReader& reader, bool& valid) {
  std::string line;
  bool overlong = false;
  valid = true;
  char chunk[65536];
  for (size_t n; valid && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    for (size_t i = 0; valid && i < n; ++i) {
      if (chunk[i] != '\n') {
        if (line.size() < LongestLine)
          line += chunk[i];
        else
          overlong = true;
        continue;
      }
      // An overlong line is cut: what is left is no record.
      valid = reader.Line(line);
      line.clear();
      overlong = false;
    }
  }
  if (std::ferror(file)) return false;
  if (valid && (!line.empty() || overlong)) valid = reader.Line(line);
  if (valid) valid = reader.Finish();
  return true;
}

// The format whose records the file begins with, if any: its first byte
// that is no line end or blank.
std::optional<ImageFormat> LeadingRecords(std::FILE* file) {
  for (int ch; (ch = std::fgetc(file)) != EOF;) {
    if (ch == '\n' || ch == '\r' || ch == ' ' || ch == '\t') continue;
    if (ch == ':') return ImageFormat::IntelHex;
    const int next = std::fgetc(file);
    if (ch == 'S' && next >= '0' && next <= '9') return ImageFormat::SRecords;
    break;
  }
  return std::nullopt;
}

ImageFile BinaryFile(const std::string& fileName) {
  ImageFile file;
  file.source = FileBytesSource(fileName);
  return file;
}

// The file's records in the format, or binary where they fail but do not
// look meant as records.
ImageFile ReadRecordFile(const std::string& fileName, std::FILE* stream, ImageFormat format, bool chosen) {
  auto records = std::make_unique<RecordImage>();
  RecordReader reader(format, records->image);
  bool valid = false;
  if (!ReadRecordFile(stream, reader, valid)) return BinaryFile(fileName);
  ImageFile file;
  file.format = format;
  if (valid) {
    file.source = std::move(records);
  } else if (chosen || reader.FaultInText() || FormatOfName(fileName) == format) {
    file.fault = fileName + ": line " + std::to_string(reader.FaultLine()) + ": " + reader.Fault() + " (" +
                 FormatTitle(format) + ")";
  } else {
    return BinaryFile(fileName);
  }
  return file;
}

}  // namespace

ImageFile OpenImageFile(const std::string& fileName, std::optional<ImageFormat> chosen) {
  if (chosen == ImageFormat::Binary) return BinaryFile(fileName);
  const std::string path = ResolvePath(fileName);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return BinaryFile(fileName);
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (!stream) return BinaryFile(fileName);
  const std::optional<ImageFormat> format = chosen ? chosen : LeadingRecords(stream);
  ImageFile file = format && std::fseek(stream, 0, SEEK_SET) == 0
                       ? ReadRecordFile(fileName, stream, *format, chosen.has_value())
                       : BinaryFile(fileName);
  std::fclose(stream);
  return file;
}

namespace {

class RecordSink final : public UploadSink {
 public:
  RecordSink(const std::string& fileName, ImageFormat format) : fileName(fileName), writer(format) {}

  bool Create() override {
    return !fileName.empty() && output.Open(fileName, ReplacementFile::Staging::ElsewhereIfRefused) &&
           Write(writer.Begin());
  }
  bool Append(const void* data, size_t count) override {
    if (count > ImageAddressLimit - written) return false;
    written += count;
    return Write(writer.Append(static_cast<const std::uint8_t*>(data), count));
  }
  bool Keep() override { return Write(writer.Finish()) && output.Commit(); }
  void Abandon() override { output.Abandon(); }

 private:
  bool Write(const std::string& text) { return output.Append(text.data(), text.size()); }

  const std::string fileName;
  RecordWriter writer;
  ReplacementFile output;
  std::uint64_t written = 0;
};

std::string Hex(std::int64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::unique_ptr<UploadSink> RecordFileSink(const std::string& fileName, ImageFormat format) {
  return std::make_unique<RecordSink>(fileName, format);
}

bool ImageComparison::Create() {
  size = expected.Size();
  received = differing = 0;
  firstAddress = -1;
  return size >= 0 && expected.Open();
}

bool ImageComparison::Append(const void* data, size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint8_t wanted[LargeBlock];
  for (size_t done = 0; done < count && received < size;) {
    const size_t piece = static_cast<size_t>(std::min<std::int64_t>(
        {static_cast<std::int64_t>(count - done), size - received, static_cast<std::int64_t>(sizeof wanted)}));
    if (!expected.ReadNext(wanted, piece)) return false;
    for (size_t i = 0; i < piece; ++i) {
      if (wanted[i] == bytes[done + i]) continue;
      if (differing++ == 0) {
        firstAddress = received + static_cast<std::int64_t>(i);
        fileByte = wanted[i];
        programmerByte = bytes[done + i];
      }
    }
    done += piece;
    received += static_cast<std::int64_t>(piece);
  }
  return true;
}

std::int64_t ImageComparison::Differences() const { return differing + (size - received); }

std::optional<ImageComparison::Difference> ImageComparison::First() const {
  if (Differences() == 0) return std::nullopt;
  if (differing > 0) return Difference{firstAddress, fileByte, programmerByte};
  // All that came matched, but the programmer's image ended before the file's.
  return Difference{received, -1, -1};
}

std::string ImageComparison::Report() const {
  const std::optional<Difference> first = First();
  if (!first) return "verified " + std::to_string(size) + " bytes";
  std::string text = "differs at " + Hex(first->address, 8) + ": ";
  text += first->programmerByte < 0 ? "the programmer's image ends there"
                                    : "file " + Hex(first->fileByte, 2) + ", programmer " + Hex(first->programmerByte, 2);
  return text + "; " + std::to_string(Differences()) + " of " + std::to_string(size) + " bytes differ";
}
