// The catalogue as a user may have edited it: loading (with the rewrite that
// drops empty lines), the vendor and device lists, the keyword search and
// the sort. The first line of the input is the keyword, the rest the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "catalogue/Catalogue.h"
#include "platform/Text.h"

namespace {

bool Sorted(const CatalogueEntryList& entries) {
  auto lower = [](std::string s) {
    for (auto& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  for (size_t i = 1; i < entries.size(); ++i)
    if (lower(entries[i].name) < lower(entries[i - 1].name)) return false;
  return true;
}

bool HoldsBracket(const std::string& line) { return line.find('[') != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string keyword(input.substr(0, std::min(newline, input.size())));
  const std::string text(newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1));

  const std::string path = ScratchFile("Devices.lst");
  WriteScratch(path, text);
  const CatalogueLineList lines = LoadCatalogue(path);

  // Loading keeps the lines before the first NUL, less the empty ones, and
  // a rewrite keeps exactly those lines.
  CatalogueLineList expected = SplitLines(std::string_view(text).substr(0, text.find('\0')));
  expected.erase(std::remove(expected.begin(), expected.end(), std::string()), expected.end());
  FUZZ_CHECK(lines == expected);
  const std::string after = ReadScratch(path);
  if (after != text) {
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(SplitCatalogueText(after) == lines);
  }

  CatalogueEntryList vendors;
  try {
    FillVendorList(lines, vendors);
  } catch (const CatalogueFormatError&) {
    const bool blank = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find_first_not_of(" \t") == std::string::npos;
    });
    FUZZ_CHECK(blank);
    vendors.clear();
  }
  SortEntries(vendors);
  FUZZ_CHECK(Sorted(vendors));
  for (const auto& vendor : vendors) {
    FUZZ_CHECK(vendor.line >= 0 && static_cast<size_t>(vendor.line) < lines.size());
    CatalogueEntryList devices = DeviceRun(lines, vendor.line);
    for (const auto& device : devices) {
      FUZZ_CHECK(device.line > vendor.line && !HoldsBracket(lines[static_cast<size_t>(device.line)]));
      std::uint8_t byte1 = 0, byte6 = 0;
      try {
        ReadDeviceEntry(lines[static_cast<size_t>(device.line)], byte1, byte6);
      } catch (const std::runtime_error&) {
      }
    }
    const CatalogueEntryList shown = VendorDevices(lines, vendor.line, keyword);
    FUZZ_CHECK(shown.size() <= devices.size());
    SortEntries(devices);
    FUZZ_CHECK(Sorted(devices));
  }

  const CatalogueEntryList found = KeywordVendors(lines, keyword);
  for (const auto& vendor : found) {
    FUZZ_CHECK(vendor.line >= 0 && static_cast<size_t>(vendor.line) < lines.size());
    FUZZ_CHECK(HoldsBracket(lines[static_cast<size_t>(vendor.line)]));
  }
  // Every name holds the empty keyword and itself.
  FUZZ_CHECK(MatchKeyword("", keyword) && MatchKeyword(keyword, keyword));
  if (keyword.empty()) {
    const size_t sections = static_cast<size_t>(std::count_if(lines.begin(), lines.end(), HoldsBracket));
    FUZZ_CHECK(found.size() == sections);
  }
  return 0;
}
