// Intel HEX and S-records read into an image and written from one, and the
// comparison of an uploaded image with a file's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/FakeLine.h"
#include "transfer/ImageFiles.h"
#include "transfer/ImageFormats.h"

namespace {

Bytes ReadAll(const MemoryImage& image) {
  Bytes bytes(image.Size(), '\0');
  image.Read(0, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  return bytes;
}

// The image written in pieces of odd sizes, as blocks would come.
std::string Written(ImageFormat format, const Bytes& bytes) {
  RecordWriter writer(format);
  std::string text = writer.Begin();
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (size_t at = 0; at < bytes.size(); at += 77)
    text += writer.Append(data + at, std::min<size_t>(77, bytes.size() - at));
  return text + writer.Finish();
}

TEST(ImageFormats, WrittenRecordsReadBackAcrossEveryAddressWidth) {
  // Past 64 KiB: an extended address in Intel HEX, S2 records and S8 in S-records.
  for (const size_t size : {size_t{1}, size_t{5000}, size_t{70001}}) {
    const Bytes bytes = Pattern(size, static_cast<unsigned>(size));
    for (const ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecords}) {
      SCOPED_TRACE(std::string(FormatTitle(format)) + " " + std::to_string(size));
      const std::string text = Written(format, bytes);
      MemoryImage image;
      const auto fault = ReadRecords(format, text, image);
      ASSERT_FALSE(fault) << fault->line << ": " << fault->what;
      EXPECT_EQ(ReadAll(image), bytes);
    }
  }
  EXPECT_NE(Written(ImageFormat::IntelHex, Pattern(70001)).find(":020000040001F9\n"), std::string::npos);
  EXPECT_NE(Written(ImageFormat::SRecords, Pattern(70001)).find("\nS804000000FB\n"), std::string::npos);
}

TEST(ImageFormats, RecordsInAnyOrderGiveTheSameImage) {
  // S-records carry their whole address on every line, so their lines can be
  // put in any order: descending, and every second one first.
  const Bytes bytes = Pattern(70001, 3);
  std::vector<std::string> lines;
  std::istringstream text(Written(ImageFormat::SRecords, bytes));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  const std::string head = lines.front(), end = lines.back();
  lines = std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
  std::vector<std::string> interleaved;
  for (const size_t odd : {size_t{1}, size_t{0}})
    for (size_t i = lines.size(); i-- > 0;)
      if (i % 2 == odd) interleaved.push_back(lines[i]);
  for (const bool descending : {true, false}) {
    SCOPED_TRACE(descending ? "descending" : "interleaved");
    std::string reordered = head + "\n";
    if (descending)
      for (auto line = lines.rbegin(); line != lines.rend(); ++line) reordered += *line + "\n";
    else
      for (const auto& line : interleaved) reordered += line + "\n";
    MemoryImage image;
    ASSERT_FALSE(ReadRecords(ImageFormat::SRecords, reordered + end + "\n", image));
    EXPECT_EQ(ReadAll(image), bytes);
    // Read in blocks, as a download does, across the runs' edges.
    Bytes blocks(bytes.size(), '\0');
    for (size_t at = 0; at < blocks.size(); at += 256)
      image.Read(at, reinterpret_cast<std::uint8_t*>(&blocks[at]), std::min<size_t>(256, blocks.size() - at));
    EXPECT_EQ(blocks, bytes);
  }
}

TEST(ImageFormats, GapsAndTheStartReadAsErasedMemory) {
  // Two records with a gap, the first at 0x10, with line ends of both kinds
  // and a blank line.
  const std::string text = ":020010000102EB\r\n\n:01002000AA35\n:00000001FF\n";
  MemoryImage image;
  ASSERT_FALSE(ReadRecords(ImageFormat::IntelHex, text, image));
  Bytes expected(0x21, '\xFF');
  expected[0x10] = 1;
  expected[0x11] = 2;
  expected[0x20] = '\xAA';
  EXPECT_EQ(ReadAll(image), expected);
}

TEST(ImageFormats, SegmentAddressesWrapWithinTheirSegment) {
  // Four bytes from offset 0xFFFE: under an extended segment address the
  // offset wraps to 0 within the segment (0x10000 + (offset mod 64 KiB), as
  // srec_cat reads it); under an extended linear address, or none, the
  // addresses go on past 64 KiB.
  const std::string data = ":04FFFE0001020304F5\n:00000001FF\n";
  const struct {
    std::string head;
    std::uint64_t first, wrapped;
  } cases[] = {{":020000021000EC\n", 0x1FFFE, 0x10000}, {":020000040001F9\n", 0x1FFFE, 0x20000}, {"", 0xFFFE, 0x10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.head);
    MemoryImage image;
    ASSERT_FALSE(ReadRecords(ImageFormat::IntelHex, c.head + data, image));
    std::uint8_t first[2], wrapped[2];
    image.Read(c.first, first, 2);
    image.Read(c.wrapped, wrapped, 2);
    EXPECT_EQ(Bytes(first, first + 2), "\x01\x02");
    EXPECT_EQ(Bytes(wrapped, wrapped + 2), "\x03\x04");
    EXPECT_EQ(image.Size(), std::max(c.first, c.wrapped) + 2);
  }
}

TEST(ImageFormats, FaultsNameTheirLine) {
  const struct {
    ImageFormat format;
    std::string text;
    int line;
    std::string what;
  } cases[] = {
      {ImageFormat::IntelHex, ":020010000102EB\n:020010000102EC\n", 2, "bad checksum"},
      {ImageFormat::IntelHex, ":020010000102EB\n\n:01001100AA44\n:00000001FF\n", 3,
       "its data overlap data given before"},
      {ImageFormat::IntelHex, ":020000040000FA\n:0200000480007A\n:0100000000FF\n", 3,
       "its data lie at 2 GiB or beyond"},
      {ImageFormat::IntelHex, ":020010000102EB\n", 1, "the file ends without the end record"},
      // Lines end in a carriage return, a line feed or both.
      {ImageFormat::IntelHex, ":020010000102EB\r:01002000AA35\r\n:020010000102EC\n", 3, "bad checksum"},
      {ImageFormat::IntelHex, ":020010000102EB\r\n\x1A\r\n:00000001FF\r\n", 2,
       "a ^Z (the end of a text) before the end record"},
      {ImageFormat::IntelHex, ":00000001FF\n:0100000000FF\n", 2, "a record after the end record"},
      {ImageFormat::IntelHex, ":030010000102EB\n", 1, "its length does not match its byte count"},
      {ImageFormat::IntelHex, "020010000102EB\n", 1, "it does not begin with ':'"},
      {ImageFormat::IntelHex, ":01000006AA4F\n", 1, "unknown record type 6"},
      {ImageFormat::SRecords, "S0030000FC\nS1050000AABB96\n", 2, "bad checksum"},
      {ImageFormat::SRecords, "S1050000AABB95\nS5030002FA\n", 2, "the count of data records is 1, not 2"},
      {ImageFormat::SRecords, "S30980000000010203046C\n", 1, "its data lie at 2 GiB or beyond"},
      // One byte at the last address below 2 GiB makes an image of 2 GiB, one more than a transfer carries.
      {ImageFormat::SRecords, "S3067FFFFFFFAAD3\n", 1, "its data reach 2 GiB, more than a transfer can carry"},
      {ImageFormat::IntelHex, ":020000047FFF7C\n:02FFFE00AABB9C\n:00000001FF\n", 2,
       "its data reach 2 GiB, more than a transfer can carry"},
      {ImageFormat::SRecords, "S1040000AA51\nS1040000BB40\n", 2, "its data overlap data given before"},
      {ImageFormat::SRecords, "S40300000FC\n", 1, "it is not pairs of hex digits"},
      {ImageFormat::SRecords, "S4030000FC\n", 1, "unknown record type S4"},
      {ImageFormat::SRecords, "", 1, "no S-records"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryImage image;
    const auto fault = ReadRecords(c.format, c.text, image);
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->line, c.line);
    EXPECT_EQ(fault->what, c.what);
  }
}

TEST(ImageFormats, FormatsOfNames) {
  EXPECT_EQ(FormatOfName("dir.v2/a.HEX"), ImageFormat::IntelHex);
  EXPECT_EQ(FormatOfName("a.ihx"), ImageFormat::IntelHex);
  for (const char* name : {"a.srec", "a.s19", "a.S28", "a.s37"}) EXPECT_EQ(FormatOfName(name), ImageFormat::SRecords);
  for (const char* name : {"a.bin", "hex", "dir.hex/a", "a."}) EXPECT_FALSE(FormatOfName(name)) << name;
}

// The expected image, as a download would send it.
class BytesSource final : public DownloadSource {
 public:
  explicit BytesSource(Bytes bytes) : bytes(std::move(bytes)) {}
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes.size()); }
  bool Open() override {
    at = 0;
    return true;
  }
  bool ReadNext(void* buffer, size_t count) override {
    bytes.copy(static_cast<char*>(buffer), count, at);
    at += count;
    return true;
  }
  void Close() override {}

 private:
  Bytes bytes;
  size_t at = 0;
};

std::string Compared(const Bytes& file, const Bytes& uploaded) {
  BytesSource source(file);
  ImageComparison comparison(source);
  EXPECT_TRUE(comparison.Create());
  for (size_t at = 0; at < uploaded.size(); at += 256)
    EXPECT_TRUE(comparison.Append(uploaded.data() + at, std::min<size_t>(256, uploaded.size() - at)));
  EXPECT_EQ(comparison.Differences() == 0, comparison.Report().rfind("verified ", 0) == 0);
  return comparison.Report();
}

TEST(ImageFormats, ComparisonReportsTheFirstDifferenceAndTheirCount) {
  const Bytes file = Pattern(1000);
  // The programmer's last block is filled up past the file's end.
  Bytes uploaded = file + Bytes(24, '\xFF');
  EXPECT_EQ(Compared(file, uploaded), "verified 1000 bytes");
  uploaded[700] = static_cast<char>(file[700] ^ 0x5A);
  uploaded[999] = static_cast<char>(file[999] ^ 1);
  char first[80];
  std::snprintf(first, sizeof first, "differs at 0x000002BC: file 0x%02X, programmer 0x%02X; 2 of 1000 bytes differ",
                static_cast<unsigned char>(file[700]), static_cast<unsigned char>(uploaded[700]));
  EXPECT_EQ(Compared(file, uploaded), first);
  EXPECT_EQ(Compared(file, file.substr(0, 512)),
            "differs at 0x00000200: the programmer's image ends there; 488 of 1000 bytes differ");

  // Where the programmer's image ends early, its byte is none but the file's is known.
  BytesSource source(file);
  ImageComparison shorter(source);
  ASSERT_TRUE(shorter.Create());
  ASSERT_TRUE(shorter.Append(file.data(), 512));
  ASSERT_TRUE(shorter.Keep());
  const auto difference = shorter.First();
  ASSERT_TRUE(difference);
  EXPECT_EQ(difference->address, 512);
  EXPECT_EQ(difference->fileByte, static_cast<unsigned char>(file[512]));
  EXPECT_EQ(difference->programmerByte, -1);
}

}  // namespace
