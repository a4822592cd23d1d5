// Image files in any of the formats, for the command-line transfers: what a
// download sends, where an upload's records go, and the comparison of a
// programmer's image with a file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Files.h"
#include "transfer/BlockProtocol.h"
#include "transfer/ImageFormats.h"

// A file given to send or to compare with.
struct ImageFile {
  ImageFormat format = ImageFormat::Binary;
  // Records: the record address of the image's address 0, and the image
  // address of its first data.
  std::uint32_t base = 0;
  std::uint64_t firstData = 0;
  // The bytes of the image, from address 0; null when the file is not valid
  // in its format.
  std::unique_ptr<DownloadSource> source;
  // Why it is not valid: "FILE: line N: what is wrong", or that it is an
  // ELF file, which is no image.
  std::string fault;
  // A file that goes as binary without --format bin although it is text.
  std::string warning;
};

// Reads the named file as the chosen format or, with none chosen, as the one
// its content is: records of one format, read completely with their
// checksums, or else binary; an ELF file is refused. A file whose name has
// a record format's extension is records (of the format it begins with,
// else of the extension's) and is refused when they fail. Anything that
// cannot be read as a plain file goes on as binary, for the transfer to
// report as before. The offset is the record address of the image's address
// 0 (a binary file has no addresses); without it, or a chosen format,
// records whose data begin 1 MiB or more above 0 are refused with a hint.
ImageFile OpenImageFile(const std::string& fileName, NameMatch match, std::optional<ImageFormat> chosen,
                        std::optional<std::uint32_t> offset = std::nullopt);

// An upload's image written as records into a file that takes the old one's
// place only when kept, the image's address 0 at record address base.
// Nothing past ImageSizeLimit bytes or 4 GiB of record addresses is
// written: the image would not read back.
std::unique_ptr<UploadSink> RecordFileSink(const std::string& fileName, NameMatch match, ImageFormat format,
                                           std::uint32_t base = 0);

// Compares the blocks of an upload with the expected image as they come;
// saves nothing. The programmer's bytes past the image's end are not
// compared (they are the fill of the last block, or memory the file does not
// describe); image bytes that never came count as differing.
class ImageComparison final : public UploadSink {
 public:
  explicit ImageComparison(DownloadSource& expected) : expected(expected) {}
  ImageComparison(const ImageComparison&) = delete;
  ImageComparison& operator=(const ImageComparison&) = delete;
  ~ImageComparison() override { expected.Close(); }

  bool Create() override;
  bool Append(const void* data, size_t count) override;
  bool Keep() override;
  void Abandon() override { expected.Close(); }
  bool Saves() const override { return false; }

  // Once the upload has completed: the image bytes that differ.
  std::int64_t Differences() const;
  // Where the programmer's image first departs from the file's: the address
  // and both bytes there, the programmer's byte -1 where its image ends
  // before it (the file's byte is known once the upload has completed).
  struct Difference {
    std::int64_t address;
    int fileByte;
    int programmerByte;
  };
  std::optional<Difference> First() const;
  // "verified N bytes", or the first differing address with both bytes
  // and the count of differing bytes.
  std::string Report() const;

 private:
  DownloadSource& expected;
  std::int64_t size = 0;      // the image's bytes
  std::int64_t received = 0;  // the programmer's bytes so far
  std::int64_t differing = 0;
  std::int64_t firstAddress = -1;
  int fileByte = 0, programmerByte = 0;
  int byteAtEnd = -1;  // the file's byte where the programmer's image ended
};
