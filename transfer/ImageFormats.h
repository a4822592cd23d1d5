// Memory images in the text formats that toolchains emit: Intel HEX and
// Motorola S-records, read into an image that starts at address 0 and written
// from one, a record at a time. Plain C++, no files: the callers read and write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ImageFormat { Binary, IntelHex, SRecords };

// "binary", "Intel HEX", "S-records".
const char* FormatTitle(ImageFormat format);
// "bin", "ihex", "srec": the words of talvorin-transfer's --format and JSON.
const char* FormatWord(ImageFormat format);
// The format a file name's extension stands for (.hex and .ihx, .srec, .s19,
// .s28 and .s37, any letter case); none for any other name.
std::optional<ImageFormat> FormatOfName(const std::string& fileName);

// The largest image the protocol can carry: its size is a signed 32-bit
// number, so its last byte lies at 0x7FFFFFFE.
constexpr std::uint64_t ImageSizeLimit = 0x7FFFFFFF;

// The bytes that records give, by address; the addresses between them, and
// those below the first, read as 0xFF, as erased memory does.
class MemoryImage {
 public:
  enum class Added { Fine, Overlaps, PastLimit };
  // Adds count bytes from address on; nothing is added when any of them
  // already has a byte or would make the image larger than ImageSizeLimit.
  Added Add(std::uint64_t address, const std::uint8_t* data, size_t count);
  // One past the highest address with a byte; 0 for an image without any.
  std::uint64_t Size() const;
  // The lowest address with a byte; 0 for an image without any.
  std::uint64_t Lowest() const;
  // The bytes from address on, 0xFF where no record gave one.
  void Read(std::uint64_t address, std::uint8_t* out, size_t count) const;

 private:
  // Runs of bytes by their first address; no two overlap (runs that touch
  // stay apart unless records came in ascending order).
  std::map<std::uint64_t, std::vector<std::uint8_t>> runs;
};

// Reads records from a text given in pieces of any length, a line at a
// time; the first fault ends the reading. The record address base is the
// image's address 0; data below it are a fault.
class RecordReader {
 public:
  RecordReader(ImageFormat format, MemoryImage& image, std::uint64_t base = 0)
      : format(format), image(image), imageBase(base) {}

  // The next piece of the text; a line may go on into the next piece. False
  // once a line was faulty.
  bool Text(std::string_view piece);
  // After the last piece: false when the records did not end as they must.
  bool Finish();

  // The first fault: its line (from 1) and what is wrong.
  int FaultLine() const { return faultLine; }
  const std::string& Fault() const { return fault; }

 private:
  // The line gathered so far has ended.
  bool LineEnd();
  bool Line(std::string_view text);
  // The text of one record, or none.
  bool Record(std::string_view text);
  bool Fail(std::string what);
  bool IntelHexRecord(const std::vector<std::uint8_t>& bytes);
  bool SRecord(char type, const std::vector<std::uint8_t>& bytes);
  bool AddData(std::uint64_t address, const std::uint8_t* data, size_t count);

  const ImageFormat format;
  MemoryImage& image;
  const std::uint64_t imageBase;
  std::string gathered;  // the line so far, up to the longest a record can have
  bool overlong = false;  // the line is longer than that
  bool afterReturn = false;  // the last character was a carriage return
  bool over = false;         // a ^Z ended the text
  int line = 0;
  int faultLine = 0;
  std::string fault;
  bool ended = false;             // the end record has come
  std::uint64_t base = 0;         // Intel HEX: the extended address
  bool segmented = false;         // Intel HEX: the extended address is a segment's
  std::uint64_t dataRecords = 0;  // S-records: counted for S5 and S6
};

// Reads the whole text as the given format into image. Empty when it is one.
struct RecordFault {
  int line;
  std::string what;
};
std::optional<RecordFault> ReadRecords(ImageFormat format, std::string_view text, MemoryImage& image);

// Writes an image as records, given in order from its address 0, in pieces
// of any length: each piece gives its lines at once. The image's address 0
// is record address base.
class RecordWriter {
 public:
  explicit RecordWriter(ImageFormat format, std::uint64_t base = 0) : format(format), address(base) {}
  // The lines that come before any data.
  std::string Begin() const;
  std::string Append(const std::uint8_t* data, size_t count);
  // The lines that end the file.
  std::string Finish() const;

 private:
  const ImageFormat format;
  std::uint64_t address;    // the record address of the next byte
  std::uint64_t upper = 0;  // Intel HEX: the extended linear address in force
  int widest = 1;           // S-records: the widest data record used (1, 2 or 3)
};
