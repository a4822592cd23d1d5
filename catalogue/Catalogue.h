// The device catalogue "Devices\Devices.lst": its lines, and the rules that
// find vendors, devices and device entries in them. Everything refers to a
// line by its index in the loaded list.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using CatalogueLineList = std::vector<std::string>;

// An entry of the vendor or device list: the name shown and its line.
struct CatalogueEntry {
  std::string name;
  int line;
};
using CatalogueEntryList = std::vector<CatalogueEntry>;

// A line that no rule can make sense of (one of only blanks and tabs).
class CatalogueFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The catalogue's path beside the executable.
std::string CataloguePath();

// Lines end at CR, LF or CR LF; a NUL byte ends the text; a last line without
// a line end is a line.
CatalogueLineList SplitCatalogueText(std::string_view text);

// Reads the file and drops its empty lines; when it dropped any, the file is
// replaced by the remaining lines, each ending in CR LF. Throws
// "Cannot open file <path>" or "Cannot create file <path>".
CatalogueLineList LoadCatalogue(const std::string& path);

// Appends an entry for every header line ("[" after optional blanks and
// tabs): the text between the "[" and the line's last character. Throws
// CatalogueFormatError at a line of nothing but blanks and tabs.
void FillVendorList(const CatalogueLineList& lines, CatalogueEntryList& vendors);

// The device lines after the header line, up to the next line holding "[",
// each named by the text before its first "=" (empty when it has none).
CatalogueEntryList DeviceRun(const CatalogueLineList& lines, int header);

// The devices listed for a vendor while the keyword field holds the given
// text: those of the run that match it, or the whole run when none does.
CatalogueEntryList VendorDevices(const CatalogueLineList& lines, int header, std::string_view keyword);

// The vendors of the keyword search: one entry (the name between "[" and
// "]", the header line) for every section in which a line matches.
CatalogueEntryList KeywordVendors(const CatalogueLineList& lines, std::string_view keyword);

// True when the keyword's characters occur in the name in the same order,
// letters A to Z compared without regard to case.
bool MatchKeyword(std::string_view keyword, std::string_view name);

// Reads a device line: returns its program field and stores the two numbers'
// low 8 bits, the first before the second is converted. Throws at the first
// part that cannot be read; a bad number's error names its text.
std::string ReadDeviceEntry(std::string_view line, std::uint8_t& byte1, std::uint8_t& byte6);

// The file name that a program field names in the programs directory: what
// follows its last "\", ":" or "/", so that it never leaves the directory.
std::string ProgramFileName(std::string_view programField);

// The full path of that file beside the executable.
std::string ProgramImagePath(std::string_view programField);

// Alphabetical without regard to case; equal names keep their order.
void SortEntries(CatalogueEntryList& entries);
