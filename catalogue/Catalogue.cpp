#include "catalogue/Catalogue.h"

#include <algorithm>

#include "platform/Convert.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "texts/Texts.h"

namespace {

constexpr std::string_view Blanks = " \t";

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool holdsBracket(const std::string& line) { return line.find('[') != std::string::npos; }

// The text before the first "=", or the whole line without one.
std::string_view nameBeforeEquals(std::string_view line) { return line.substr(0, line.find('=')); }

// The device list names a line without "=" with an empty name; only the
// keyword search tests such a line whole.
std::string deviceName(std::string_view line) {
  const size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(line.substr(0, equals));
}

std::uint8_t lowByte(std::string_view text) {
  std::int32_t value;
  if (!TryStrToInt(std::string(text), value)) throw std::runtime_error(Texts::NotAnInteger(text));
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

std::string CataloguePath() { return AppFile({"Devices", "Devices.lst"}); }

CatalogueLineList SplitCatalogueText(std::string_view text) { return SplitLines(text.substr(0, text.find('\0'))); }

CatalogueLineList LoadCatalogue(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, data)) throw std::runtime_error(Texts::CannotOpenFile(path));
  CatalogueLineList lines = SplitCatalogueText(data);
  const auto kept = std::remove_if(lines.begin(), lines.end(), [](const std::string& line) { return line.empty(); });
  if (kept == lines.end()) return lines;
  lines.erase(kept, lines.end());
  // Text after a NUL byte is not part of the catalogue, but it is the user's:
  // writing the lines back would throw it away.
  if (data.find('\0') != std::string::npos) return lines;
  std::string text;
  for (const auto& line : lines) (text += line) += "\r\n";
  if (!ReplaceFileContents(path, text)) throw std::runtime_error(Texts::CannotCreateFile(path));
  return lines;
}

void FillVendorList(const CatalogueLineList& lines, CatalogueEntryList& vendors) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t first = line.find_first_not_of(Blanks);
    if (first == std::string::npos) throw CatalogueFormatError(Texts::CatalogueLineBlank(i + 1));
    if (line[first] != '[') continue;
    const size_t length = line.size() - first;
    vendors.push_back({length >= 2 ? line.substr(first + 1, length - 2) : std::string(), static_cast<int>(i)});
  }
}

CatalogueEntryList DeviceRun(const CatalogueLineList& lines, int header) {
  CatalogueEntryList devices;
  for (size_t i = static_cast<size_t>(header) + 1; i < lines.size() && !holdsBracket(lines[i]); ++i)
    devices.push_back({deviceName(lines[i]), static_cast<int>(i)});
  return devices;
}

CatalogueEntryList VendorDevices(const CatalogueLineList& lines, int header, std::string_view keyword) {
  CatalogueEntryList devices = DeviceRun(lines, header);
  if (!keyword.empty()) {
    CatalogueEntryList matching;
    for (auto& device : devices)
      if (MatchKeyword(keyword, device.name)) matching.push_back(std::move(device));
    // A vendor found by its header line shows all of its devices.
    if (!matching.empty()) devices = std::move(matching);
  }
  return devices;
}

CatalogueEntryList KeywordVendors(const CatalogueLineList& lines, std::string_view keyword) {
  CatalogueEntryList vendors;
  size_t i = 0;
  while (i < lines.size() && !holdsBracket(lines[i])) ++i;
  while (i < lines.size()) {
    const size_t header = i;
    bool matched = false;
    do {
      matched = MatchKeyword(keyword, nameBeforeEquals(lines[i]));
      ++i;
    } while (!matched && i < lines.size() && !holdsBracket(lines[i]));
    if (matched) {
      const std::string& line = lines[header];
      const size_t open = line.find('[');
      const size_t close = line.find(']', open);
      vendors.push_back({close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1),
                         static_cast<int>(header)});
    }
    while (i < lines.size() && !holdsBracket(lines[i])) ++i;
  }
  return vendors;
}

bool MatchKeyword(std::string_view keyword, std::string_view name) {
  if (keyword.size() > name.size()) return false;
  size_t rest = 0;
  size_t count = 0;
  for (const char k : keyword) {
    const char c = lowerAscii(k);
    for (size_t j = rest; j < name.size(); ++j)
      if (lowerAscii(name[j]) == c) {
        rest = j + 1;
        ++count;
        break;
      }
  }
  return count == keyword.size();
}

std::string ReadDeviceEntry(std::string_view line, std::uint8_t& byte1, std::uint8_t& byte6) {
  const size_t equals = line.find('=');
  std::string_view rest = equals == std::string_view::npos ? line : line.substr(equals + 1);
  const size_t start = rest.find_first_not_of(Blanks);
  if (start == std::string_view::npos) throw std::runtime_error(Texts::DeviceLineWithoutProgram(line));
  rest.remove_prefix(start);
  const size_t semicolon = rest.find(';');
  const std::string_view field = semicolon == std::string_view::npos ? std::string_view() : rest.substr(0, semicolon);
  const std::string_view tail = semicolon == std::string_view::npos ? rest : rest.substr(semicolon + 1);
  const size_t second = tail.find(';');
  const std::string_view first = second == std::string_view::npos ? std::string_view() : tail.substr(0, second);
  byte1 = lowByte(first);
  byte6 = lowByte(second == std::string_view::npos ? tail : tail.substr(second + 1));
  return std::string(field);
}

std::string ProgramFileName(std::string_view programField) {
  const size_t delim = programField.find_last_of("\\:/");
  return std::string(delim == std::string_view::npos ? programField : programField.substr(delim + 1));
}

std::string ProgramImagePath(std::string_view programField) {
  return AppFile({"programs", ProgramFileName(programField)});
}

void SortEntries(CatalogueEntryList& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const CatalogueEntry& a, const CatalogueEntry& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(), [](char x, char y) {
      return static_cast<unsigned char>(lowerAscii(x)) < static_cast<unsigned char>(lowerAscii(y));
    });
  });
}
