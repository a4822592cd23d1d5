// Reading Intel HEX into an image, the work a download or a verify does
// before the port opens: a 4 MiB image of 16-byte records in ascending
// address order against the same records in descending and in interleaved
// order (every second record first, then the rest, both from the top), which
// must cost about the same. usage: bench_image_formats [MiB, default 4]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transfer/ImageFormats.h"

namespace {

constexpr size_t RecordBytes = 16;

std::string Record(std::uint32_t address) {
  std::uint8_t bytes[4 + RecordBytes + 1] = {RecordBytes, static_cast<std::uint8_t>(address >> 8),
                                             static_cast<std::uint8_t>(address), 0};
  for (size_t i = 0; i < RecordBytes; ++i) bytes[4 + i] = static_cast<std::uint8_t>(address + i * 7);
  unsigned sum = 0;
  for (size_t i = 0; i < sizeof bytes - 1; ++i) sum += bytes[i];
  bytes[sizeof bytes - 1] = static_cast<std::uint8_t>(-sum);
  static const char digits[] = "0123456789ABCDEF";
  std::string line = ":";
  for (const std::uint8_t byte : bytes) {
    line += digits[byte >> 4];
    line += digits[byte & 0xF];
  }
  return line + "\n";
}

// The records of the addresses in the order given, each 64 KiB page under
// its extended linear address record.
std::string Text(const std::vector<std::uint32_t>& addresses) {
  std::string text;
  std::uint32_t page = ~0u;
  for (const std::uint32_t address : addresses) {
    if (address >> 16 != page) {
      page = address >> 16;
      char extended[20];
      std::snprintf(extended, sizeof extended, ":02000004%04X%02X\n", page,
                    static_cast<unsigned>(static_cast<std::uint8_t>(-(6 + (page >> 8) + (page & 0xFF)))));
      text += extended;
    }
    text += Record(address);
  }
  return text + ":00000001FF\n";
}

double ReadSeconds(const std::string& text, std::uint64_t size) {
  const auto start = std::chrono::steady_clock::now();
  MemoryImage image;
  const auto fault = ReadRecords(ImageFormat::IntelHex, text, image);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (fault || image.Size() != size) {
    std::fprintf(stderr, "the records did not read back: %s\n", fault ? fault->what.c_str() : "wrong size");
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4) << 20;
  std::vector<std::uint32_t> ascending;
  for (std::uint64_t address = 0; address < size; address += RecordBytes)
    ascending.push_back(static_cast<std::uint32_t>(address));
  const std::vector<std::uint32_t> descending(ascending.rbegin(), ascending.rend());
  std::vector<std::uint32_t> interleaved;
  for (const size_t odd : {size_t{1}, size_t{0}})
    for (const std::uint32_t address : descending)
      if (address / RecordBytes % 2 == odd) interleaved.push_back(address);

  const double up = ReadSeconds(Text(ascending), size);
  const double down = ReadSeconds(Text(descending), size);
  const double mixed = ReadSeconds(Text(interleaved), size);
  const double worst = std::max(down, mixed) / up;
  std::printf("%llu MiB of Intel HEX: ascending %.3f s, descending %.3f s, interleaved %.3f s; worst ratio %.1f "
              "(goal: within 10)\n",
              static_cast<unsigned long long>(size >> 20), up, down, mixed, worst);
  std::printf("goal %s\n", worst <= 10 ? "met" : "MISSED");
  return 0;
}
