// One device line of the catalogue: its program field and two numbers.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "catalogue/Catalogue.h"
#include "platform/Convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::uint8_t byte1 = 0, byte6 = 0;
  std::string field;
  try {
    field = ReadDeviceEntry(line, byte1, byte6);
  } catch (const std::runtime_error&) {
    return 0;
  }
  // The field stops at the first ";", after the "=", and its file name never
  // leaves the programs directory.
  FUZZ_CHECK(field.find(';') == std::string::npos);
  FUZZ_CHECK(line.find(field) != std::string_view::npos);
  const std::string name = ProgramFileName(field);
  FUZZ_CHECK(name.find_first_of("\\:/") == std::string::npos);
  // The second number is the whole text after the second ";" and was read
  // as an integer: its low byte is what was stored.
  const size_t equals = line.find('=');
  const std::string_view rest = equals == std::string_view::npos ? line : line.substr(equals + 1);
  const size_t first = rest.find(';');
  const size_t second = first == std::string_view::npos ? first : rest.find(';', first + 1);
  if (second != std::string_view::npos) {
    std::int32_t value = 0;
    FUZZ_CHECK(TryStrToInt(std::string(rest.substr(second + 1)), value));
    FUZZ_CHECK(static_cast<std::uint8_t>(value & 0xFF) == byte6);
  }
  return 0;
}
