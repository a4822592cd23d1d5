#include "transfer/ImageFormats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The longest line a record can have (255 data bytes and the rest, in hex
// digits) with room to spare: a longer one is no record, and is not
// gathered without end.
constexpr size_t LongestLine = 1024;

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

// The bytes that pairs of hex digits give; empty when the text is not that.
bool HexBytes(std::string_view digits, std::vector<std::uint8_t>& bytes) {
  if (digits.empty() || digits.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]), low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

std::uint64_t BigEndian(const std::uint8_t* bytes, size_t count) {
  std::uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

std::uint8_t Sum(const std::vector<std::uint8_t>& bytes) {
  unsigned sum = 0;
  for (const std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint8_t>(sum);
}

// One record's line: its bytes as hex digits after the lead, and the check
// byte that the format computes from their sum.
std::string RecordLine(const std::string& lead, std::vector<std::uint8_t> bytes, bool srecord) {
  const std::uint8_t sum = Sum(bytes);
  bytes.push_back(static_cast<std::uint8_t>(srecord ? ~sum : -sum));
  static const char digits[] = "0123456789ABCDEF";
  std::string line = lead;
  for (const std::uint8_t byte : bytes) {
    line += digits[byte >> 4];
    line += digits[byte & 0xF];
  }
  return line + "\n";
}

void PushBigEndian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

const char* FormatTitle(ImageFormat format) {
  switch (format) {
    case ImageFormat::IntelHex:
      return "Intel HEX";
    case ImageFormat::SRecords:
      return "S-records";
    case ImageFormat::Binary:
      break;
  }
  return "binary";
}

const char* FormatWord(ImageFormat format) {
  switch (format) {
    case ImageFormat::IntelHex:
      return "ihex";
    case ImageFormat::SRecords:
      return "srec";
    case ImageFormat::Binary:
      break;
  }
  return "bin";
}

std::optional<ImageFormat> FormatOfName(const std::string& fileName) {
  const size_t dot = fileName.find_last_of("./");
  if (dot == std::string::npos || fileName[dot] != '.') return std::nullopt;
  std::string extension = fileName.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; });
  if (extension == "hex" || extension == "ihx") return ImageFormat::IntelHex;
  if (extension == "srec" || extension == "s19" || extension == "s28" || extension == "s37")
    return ImageFormat::SRecords;
  return std::nullopt;
}

MemoryImage::Added MemoryImage::Add(std::uint64_t address, const std::uint8_t* data, size_t count) {
  if (count == 0) return Added::Fine;
  if (address >= ImageSizeLimit || count > ImageSizeLimit - address) return Added::PastLimit;
  const std::uint64_t end = address + count;
  auto next = runs.upper_bound(address);
  if (next != runs.end() && next->first < end) return Added::Overlaps;
  if (next != runs.begin()) {
    auto previous = std::prev(next);
    const std::uint64_t previousEnd = previous->first + previous->second.size();
    if (previousEnd > address) return Added::Overlaps;
    if (previousEnd == address) {
      // Records in order extend one run, so that reading stays cheap.
      previous->second.insert(previous->second.end(), data, data + count);
      return Added::Fine;
    }
  }
  // A run that follows is not joined to this one: that would copy its bytes
  // for every record put in front of it, records in descending order would
  // take quadratic time. Reading takes runs that touch as they come.
  runs.emplace_hint(next, address, std::vector<std::uint8_t>(data, data + count));
  return Added::Fine;
}

std::uint64_t MemoryImage::Lowest() const { return runs.empty() ? 0 : runs.begin()->first; }

std::uint64_t MemoryImage::Size() const {
  if (runs.empty()) return 0;
  const auto& last = *runs.rbegin();
  return last.first + last.second.size();
}

void MemoryImage::Read(std::uint64_t address, std::uint8_t* out, size_t count) const {
  std::memset(out, 0xFF, count);
  const std::uint64_t end = address + count;
  auto run = runs.upper_bound(address);
  if (run != runs.begin()) --run;
  for (; run != runs.end() && run->first < end; ++run) {
    const std::uint64_t from = std::max(address, run->first);
    const std::uint64_t to = std::min(end, run->first + run->second.size());
    if (from < to)
      std::memcpy(out + (from - address), run->second.data() + (from - run->first), static_cast<size_t>(to - from));
  }
}

bool RecordReader::Fail(std::string what) {
  if (faultLine == 0) {
    faultLine = std::max(line, 1);
    fault = std::move(what);
  }
  return false;
}

bool RecordReader::AddData(std::uint64_t recordAddress, const std::uint8_t* data, size_t count) {
  if (count == 0) return true;
  if (recordAddress < imageBase) {
    char text[64];
    std::snprintf(text, sizeof text, "its data lie below the offset 0x%08llX",
                  static_cast<unsigned long long>(imageBase));
    return Fail(text);
  }
  const std::uint64_t address = recordAddress - imageBase;
  switch (image.Add(address, data, count)) {
    case MemoryImage::Added::Fine:
      return true;
    case MemoryImage::Added::Overlaps:
      return Fail("its data overlap data given before");
    case MemoryImage::Added::PastLimit:
      break;
  }
  return Fail(address > ImageSizeLimit ? "its data lie at 2 GiB or beyond"
                                       : "its data reach 2 GiB, more than a transfer can carry");
}

bool RecordReader::Text(std::string_view piece) {
  for (const char ch : piece) {
    if (faultLine != 0) return false;
    if (over) break;
    // A carriage return ends a line as a line feed does, and the two
    // together end one line.
    const bool feedAfterReturn = ch == '\n' && afterReturn;
    afterReturn = ch == '\r';
    if (feedAfterReturn) continue;
    if (ch == '\n' || ch == '\r')
      LineEnd();
    else if (gathered.size() < LongestLine)
      gathered += ch;
    else
      overlong = true;
  }
  return faultLine == 0;
}

bool RecordReader::LineEnd() {
  std::string_view text = gathered;
  ++line;
  const bool fine = !overlong ? Line(text) : Fail("it is longer than any record");
  gathered.clear();
  overlong = false;
  return fine;
}

bool RecordReader::Line(std::string_view text) {
  // An editor's byte-order mark for UTF-8 before the first line.
  if (line == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // A ^Z, the end of a text in DOS, after the end record ends the reading:
  // what follows it is not read, as objcopy has it.
  const size_t endOfText = text.find('\x1A');
  if (endOfText != std::string_view::npos) {
    if (!Record(text.substr(0, endOfText))) return false;
    if (!ended) return Fail("a ^Z (the end of a text) before the end record");
    over = true;
    return true;
  }
  return Record(text);
}

bool RecordReader::Record(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return true;
  if (ended) return Fail("a record after the end record");
  std::vector<std::uint8_t> bytes;
  if (format == ImageFormat::IntelHex) {
    if (text.front() != ':') return Fail("it does not begin with ':'");
    if (!HexBytes(text.substr(1), bytes)) return Fail("it is not pairs of hex digits");
    if (bytes.size() < 5 || bytes.size() != bytes[0] + 5u) return Fail("its length does not match its byte count");
    if (Sum(bytes) != 0) return Fail("bad checksum");
    return IntelHexRecord(bytes);
  }
  if (text.size() < 2 || text[0] != 'S' || text[1] < '0' || text[1] > '9')
    return Fail("it does not begin with 'S' and a digit");
  if (!HexBytes(text.substr(2), bytes)) return Fail("it is not pairs of hex digits");
  if (bytes.size() != bytes[0] + 1u) return Fail("its length does not match its byte count");
  if (Sum(bytes) != 0xFF) return Fail("bad checksum");
  return SRecord(text[1], bytes);
}

// bytes: count, address (two bytes), type, data, checksum.
bool RecordReader::IntelHexRecord(const std::vector<std::uint8_t>& bytes) {
  const size_t count = bytes[0];
  const std::uint64_t offset = BigEndian(&bytes[1], 2);
  const std::uint8_t* data = &bytes[4];
  switch (bytes[3]) {
    case 0x00:
      // Under a segment address the offset wraps within the segment, as the
      // format has it; a linear address (or none) goes on past 64 KiB.
      if (segmented && offset + count > 0x10000) {
        const size_t below = static_cast<size_t>(0x10000 - offset);
        return AddData(base + offset, data, below) && AddData(base, data + below, count - below);
      }
      return AddData(base + offset, data, count);
    case 0x01:
      if (count != 0) return Fail("an end record with data");
      ended = true;
      return true;
    case 0x02:
    case 0x04:
      if (count != 2) return Fail("an extended address record without two bytes of address");
      segmented = bytes[3] == 0x02;
      base = BigEndian(data, 2) << (segmented ? 4 : 16);
      return true;
    case 0x03:
    case 0x05:
      // The start address means nothing to a memory image.
      if (count != 4) return Fail("a start address record without four bytes of address");
      return true;
    default:
      return Fail("unknown record type " + std::to_string(bytes[3]));
  }
}

// bytes: count, address, data, checksum.
bool RecordReader::SRecord(char type, const std::vector<std::uint8_t>& bytes) {
  static const size_t widths[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  const size_t width = widths[type - '0'];
  if (width == 0) return Fail("unknown record type S4");
  if (bytes.size() < width + 2) return Fail("its byte count leaves no room for its address");
  const std::uint64_t address = BigEndian(&bytes[1], width);
  const size_t count = bytes.size() - width - 2;
  switch (type) {
    case '1':
    case '2':
    case '3':
      ++dataRecords;
      return AddData(address, &bytes[1 + width], count);
    case '5':
    case '6':
      if (count != 0) return Fail("a count record with data");
      if (address != dataRecords % (std::uint64_t{1} << (8 * width)))
        return Fail("the count of data records is " + std::to_string(dataRecords) + ", not " + std::to_string(address));
      return true;
    case '7':
    case '8':
    case '9':
      if (count != 0) return Fail("a termination record with data");
      ended = true;
      return true;
    default:
      // S0: the header, a name and no image data.
      return true;
  }
}

bool RecordReader::Finish() {
  if (faultLine == 0 && (!gathered.empty() || overlong)) LineEnd();
  if (faultLine != 0) return false;
  if (format == ImageFormat::IntelHex && !ended) return Fail("the file ends without the end record");
  // A termination record is optional in S-records, but a file needs one record at least.
  if (format == ImageFormat::SRecords && dataRecords == 0 && !ended) return Fail("no S-records");
  return true;
}

std::optional<RecordFault> ReadRecords(ImageFormat format, std::string_view text, MemoryImage& image) {
  RecordReader reader(format, image);
  if (reader.Text(text) && reader.Finish()) return std::nullopt;
  return RecordFault{reader.FaultLine(), reader.Fault()};
}

std::string RecordWriter::Begin() const {
  // An empty header: S-record readers expect one first.
  return format == ImageFormat::SRecords ? RecordLine("S0", {3, 0, 0}, true) : std::string();
}

std::string RecordWriter::Append(const std::uint8_t* data, size_t count) {
  std::string text;
  while (count > 0) {
    // Sixteen bytes to a record, aligned, so that none crosses a 64 KiB boundary.
    const size_t piece = std::min<size_t>(count, 16 - address % 16);
    std::vector<std::uint8_t> bytes;
    if (format == ImageFormat::IntelHex) {
      if (address >> 16 != upper) {
        upper = address >> 16;
        std::vector<std::uint8_t> extended{2, 0, 0, 4};
        PushBigEndian(extended, upper, 2);
        text += RecordLine(":", extended, false);
      }
      bytes = {static_cast<std::uint8_t>(piece)};
      PushBigEndian(bytes, address & 0xFFFF, 2);
      bytes.push_back(0);
      bytes.insert(bytes.end(), data, data + piece);
      text += RecordLine(":", bytes, false);
    } else {
      const std::uint64_t end = address + piece;
      const int type = end <= 0x10000 ? 1 : end <= 0x1000000 ? 2 : 3;
      widest = std::max(widest, type);
      bytes = {static_cast<std::uint8_t>(type + 1 + piece + 1)};
      PushBigEndian(bytes, address, type + 1);
      bytes.insert(bytes.end(), data, data + piece);
      text += RecordLine("S" + std::to_string(type), bytes, true);
    }
    address += piece;
    data += piece;
    count -= piece;
  }
  return text;
}

std::string RecordWriter::Finish() const {
  if (format == ImageFormat::IntelHex) return RecordLine(":", {0, 0, 0, 1}, false);
  // The termination record of the widest data record, start address 0.
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(widest + 2)};
  PushBigEndian(bytes, 0, widest + 1);
  return RecordLine("S" + std::to_string(10 - widest), bytes, true);
}
