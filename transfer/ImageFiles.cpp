#include "transfer/ImageFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "transfer/TransferFiles.h"

static_assert(ImageSizeLimit == MaxTransferFileSize, "an image read from records is sent as a file is");

namespace {

// From 1 MiB above the image's address 0 on, its first data are taken for
// an image meant for a base address of its own.
constexpr std::uint64_t FarAboveBase = 1 << 20;

std::string Hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

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

// Reads the file as the given format; false when it cannot be read at all.
bool ReadRecordFile(std::FILE* file, RecordReader& reader, bool& valid) {
  valid = true;
  char chunk[65536];
  for (size_t n; valid && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) valid = reader.Text({chunk, n});
  if (std::ferror(file)) return false;
  if (valid) valid = reader.Finish();
  return true;
}

// The format whose records the file begins with, if any: its first byte
// that is no line end or blank, after an editor's byte-order mark.
std::optional<ImageFormat> LeadingRecords(std::FILE* file) {
  char mark[3];
  if (std::fread(mark, 1, sizeof mark, file) != sizeof mark || std::memcmp(mark, "\xEF\xBB\xBF", sizeof mark) != 0)
    std::rewind(file);
  for (int ch; (ch = std::fgetc(file)) != EOF;) {
    if (ch == '\n' || ch == '\r' || ch == ' ' || ch == '\t') continue;
    if (ch == ':') return ImageFormat::IntelHex;
    const int next = std::fgetc(file);
    if (ch == 'S' && next >= '0' && next <= '9') return ImageFormat::SRecords;
    break;
  }
  return std::nullopt;
}

// Whether the file is a program in the format compilers and linkers leave
// (ELF), which holds its image among much else.
bool IsElf(std::FILE* file) {
  char magic[4];
  const bool elf = std::fread(magic, 1, sizeof magic, file) == sizeof magic && std::memcmp(magic, "\x7F" "ELF", 4) == 0;
  std::rewind(file);
  return elf;
}

// Whether the file reads as text, by its first 64 KiB: no control bytes but
// line ends, tabs and form feeds (bytes from 0x80 on may be any encoding's
// letters).
bool IsText(std::FILE* file) {
  std::rewind(file);
  unsigned char head[65536];
  const size_t n = std::fread(head, 1, sizeof head, file);
  return n > 0 && std::all_of(head, head + n, [](unsigned char ch) {
           return (ch >= 0x20 && ch != 0x7F) || ch == '\n' || ch == '\r' || ch == '\t' || ch == '\f';
         });
}

// A text that goes as binary is more likely a mistake than an image.
std::string TextWarning(const std::string& fileName, const std::string& notRecords) {
  return fileName + ": warning: text, but " + notRecords +
         ": it is sent as it is (--format bin sends it without this warning)";
}

ImageFile BinaryFile(const std::string& fileName, NameMatch match) {
  ImageFile file;
  file.source = FileBytesSource(fileName, match);
  return file;
}

// The file's records in the format, or binary where they fail and neither
// --format nor the file's name says that it is records.
ImageFile ReadRecordFile(const std::string& fileName, NameMatch match, std::FILE* stream, ImageFormat format,
                         bool chosen, std::optional<std::uint32_t> offset) {
  auto records = std::make_unique<RecordImage>();
  RecordReader reader(format, records->image, offset.value_or(0));
  bool valid = false;
  if (!ReadRecordFile(stream, reader, valid)) return BinaryFile(fileName, match);
  ImageFile file;
  file.format = format;
  file.base = offset.value_or(0);
  if (valid) {
    file.firstData = records->image.Lowest();
    // Firmware linked far above 0 would go with megabytes of fill before it.
    if (!chosen && !offset && file.firstData >= FarAboveBase) {
      file.fault = fileName + ": its data begin at " + Hex(file.firstData, 8) + ", " +
                   std::to_string(file.firstData >> 20) +
                   " MiB above address 0, which a download fills with 0xFF: give the image's address 0 with --offset " +
                   Hex(file.firstData, 8) + ", or send it all the same with --format " + FormatWord(format);
      return file;
    }
    file.source = std::move(records);
  } else if (chosen || FormatOfName(fileName)) {
    file.fault = fileName + ": line " + std::to_string(reader.FaultLine()) + ": " + reader.Fault() + " (" +
                 FormatTitle(format) + ")";
  } else {
    file = BinaryFile(fileName, match);
    if (IsText(stream))
      file.warning = TextWarning(fileName, std::string("not ") + FormatTitle(format) + " (line " +
                                               std::to_string(reader.FaultLine()) + ": " + reader.Fault() + ")");
  }
  return file;
}

}  // namespace

ImageFile OpenImageFile(const std::string& fileName, NameMatch match, std::optional<ImageFormat> chosen,
                        std::optional<std::uint32_t> offset) {
  if (chosen == ImageFormat::Binary) return BinaryFile(fileName, match);
  const std::string path = ResolvePath(fileName, match);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return BinaryFile(fileName, match);
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (!stream) return BinaryFile(fileName, match);
  if (!chosen && IsElf(stream)) {
    std::fclose(stream);
    ImageFile file;
    file.fault = fileName + ": an ELF file, not a memory image: make one with objcopy -O ihex " + fileName + " " +
                 fileName + ".hex, or send the file as it is with --format bin";
    return file;
  }
  // A file named for a record format is read as one, whatever it begins with.
  std::optional<ImageFormat> format = chosen ? chosen : LeadingRecords(stream);
  if (!format) format = FormatOfName(fileName);
  ImageFile file;
  if (format && std::fseek(stream, 0, SEEK_SET) == 0) {
    file = ReadRecordFile(fileName, match, stream, *format, chosen.has_value(), offset);
  } else {
    file = BinaryFile(fileName, match);
    if (IsText(stream)) file.warning = TextWarning(fileName, "no Intel HEX or S-records");
  }
  std::fclose(stream);
  return file;
}

namespace {

class RecordSink final : public UploadSink {
 public:
  RecordSink(const std::string& fileName, NameMatch match, ImageFormat format, std::uint32_t base)
      : fileName(fileName), match(match), writer(format, base), base(base) {}

  bool Create() override {
    return !fileName.empty() && output.Open(fileName, match, ReplacementFile::Staging::ElsewhereIfRefused) &&
           Write(writer.Begin());
  }
  bool Append(const void* data, size_t count) override {
    // Record addresses end at 4 GiB.
    if (count > ImageSizeLimit - written || base + written + count > std::uint64_t{1} << 32) return false;
    written += count;
    return Write(writer.Append(static_cast<const std::uint8_t*>(data), count));
  }
  bool Keep() override { return Write(writer.Finish()) && output.Commit(); }
  void Abandon() override { output.Abandon(); }

 private:
  bool Write(const std::string& text) { return output.Append(text.data(), text.size()); }

  const std::string fileName;
  const NameMatch match;
  RecordWriter writer;
  const std::uint32_t base;
  ReplacementFile output;
  std::uint64_t written = 0;
};

}  // namespace

std::unique_ptr<UploadSink> RecordFileSink(const std::string& fileName, NameMatch match, ImageFormat format,
                                           std::uint32_t base) {
  return std::make_unique<RecordSink>(fileName, match, format, base);
}

bool ImageComparison::Create() {
  size = expected.Size();
  received = differing = 0;
  firstAddress = byteAtEnd = -1;
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

bool ImageComparison::Keep() {
  // The file's next byte is the first that the programmer's image lacks.
  std::uint8_t next = 0;
  if (received < size && expected.ReadNext(&next, 1)) byteAtEnd = next;
  return true;
}

std::int64_t ImageComparison::Differences() const { return differing + (size - received); }

std::optional<ImageComparison::Difference> ImageComparison::First() const {
  if (Differences() == 0) return std::nullopt;
  if (differing > 0) return Difference{firstAddress, fileByte, programmerByte};
  // All that came matched, but the programmer's image ended before the file's.
  return Difference{received, byteAtEnd, -1};
}

std::string ImageComparison::Report() const {
  const std::optional<Difference> first = First();
  if (!first) return "verified " + std::to_string(size) + " bytes";
  std::string text = "differs at " + Hex(first->address, 8) + ": ";
  text += first->programmerByte < 0 ? "the programmer's image ends there"
                                    : "file " + Hex(first->fileByte, 2) + ", programmer " + Hex(first->programmerByte, 2);
  return text + "; " + std::to_string(Differences()) + " of " + std::to_string(size) + " bytes differ";
}
