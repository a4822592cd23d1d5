// Any text read as Intel HEX and as S-records, and as a file whose content
// chooses its format. A fault names a line of the text; an image that reads
// is smaller than 2 GiB, and written out as records it reads back the same; a
// file that reads as records gives the image that its text gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "transfer/ImageFiles.h"
#include "transfer/ImageFormats.h"

namespace {

std::string Bytes(const MemoryImage& image) {
  std::string bytes(static_cast<size_t>(image.Size()), '\0');
  image.Read(0, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  return bytes;
}

std::string Bytes(DownloadSource& source) {
  std::string bytes(static_cast<size_t>(source.Size()), '\0');
  FUZZ_CHECK(source.Open() && source.ReadNext(bytes.data(), bytes.size()));
  source.Close();
  return bytes;
}

// Images up to this size are compared byte by byte; larger ones (a record
// far up) only by their size, to keep the runs fast.
constexpr std::int64_t Compared = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // A line ends in a line feed, a carriage return or both.
  int lines = 1;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++lines;
  for (const ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecords}) {
    MemoryImage image;
    if (const auto fault = ReadRecords(format, text, image)) {
      FUZZ_CHECK(fault->line >= 1 && fault->line <= lines && !fault->what.empty());
      continue;
    }
    FUZZ_CHECK(image.Size() <= ImageSizeLimit);
    if (image.Size() > static_cast<std::uint64_t>(Compared)) continue;
    const std::string bytes = Bytes(image);
    RecordWriter writer(format);
    const std::string written = writer.Begin() +
                                writer.Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) +
                                writer.Finish();
    MemoryImage again;
    FUZZ_CHECK(!ReadRecords(format, written, again));
    FUZZ_CHECK(Bytes(again) == bytes);
  }

  const std::string file = ScratchFile("image");
  WriteScratch(file, std::string(text));
  const ImageFile opened = OpenImageFile(file, NameMatch::Caseless, std::nullopt);
  FUZZ_CHECK(opened.source || !opened.fault.empty());
  if (opened.source && opened.format != ImageFormat::Binary && opened.source->Size() <= Compared) {
    MemoryImage image;
    FUZZ_CHECK(!ReadRecords(opened.format, text, image));
    FUZZ_CHECK(Bytes(*opened.source) == Bytes(image));
  }
  return 0;
}
