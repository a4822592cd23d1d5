// The catalogue's reading rules over real files and line lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "support/TempDir.h"
#include "support/Wine.h"

namespace {

const CatalogueLineList Example = {"Device list", "[Alpha]", "AX100=ax100.bin;3;0", "AX200=ax200.bin;3;1", "[Beta]",
                                   "B17=sub\\b17.bin;12;255"};

std::string joined(const CatalogueLineList& lines) {
  std::string all;
  for (const auto& line : lines) all += (all.empty() ? "" : "|") + line;
  return all;
}

std::string joined(const CatalogueEntryList& entries) {
  std::string all;
  for (const auto& e : entries) all += (all.empty() ? "" : "|") + e.name + "@" + std::to_string(e.line);
  return all;
}

struct LoadCase {
  const char* what;
  std::string file;
  const char* lines;      // joined with "|"
  std::string afterwards; // the file once loaded
};

TEST(CatalogueLoad, LineEndsEmptyLinesAndTheRewrite) {
  const LoadCase cases[] = {
      {"CR LF, last line without an end", "a\r\nb", "a|b", "a\r\nb"},
      {"LF only, no empty line: never rewritten", "a\nb\n", "a|b", "a\nb\n"},
      {"empty lines dropped, rewritten with CR LF", "a\n\nb\n", "a|b", "a\r\nb\r\n"},
      {"CR alone ends a line", "a\r\rb", "a|b", "a\r\nb\r\n"},
      {"CR CR LF is two line ends", "a\r\r\nb\r\n\r\n", "a|b", "a\r\nb\r\n"},
      {"blank-only lines are not empty", "   \r\n\t\r\nx", "   |\t|x", "   \r\n\t\r\nx"},
      {"only empty lines", "\n\r\n\r", "", ""},
      {"an empty file", "", "", ""},
      {"a NUL byte ends the text", std::string("a\r\nb\0c\r\nd", 9), "a|b", std::string("a\r\nb\0c\r\nd", 9)},
      {"text after a NUL byte survives the dropping of empty lines", std::string("a\r\n\r\nb\0tail\r\n", 13), "a|b",
       std::string("a\r\n\r\nb\0tail\r\n", 13)},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("Devices.lst", c.file);
    EXPECT_EQ(joined(LoadCatalogue(dir.file("Devices.lst"))), c.lines) << c.what;
    EXPECT_EQ(dir.read("Devices.lst"), c.afterwards) << c.what;
  }
}

// The error that loading raises, or "" when the file loads.
std::string loadError(const std::string& path) {
  try {
    LoadCatalogue(path);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

TEST(CatalogueLoad, FilesThatCannotBeReadOrRewritten) {
  TempDir dir;
  const std::string path = dir.file("Devices.lst");
  EXPECT_EQ(loadError(path), "Cannot open file " + path) << "a missing file";
  dir.write("Devices.lst", "[A]\r\nx=y;1;2\r\n");
  dir.chmod("Devices.lst", 0444);
  EXPECT_EQ(loadError(path), "") << "a read-only file without empty lines";
  SKIP_WHERE_WINE_DIFFERS("a file with the read-only attribute is written when Wine runs as root");
  dir.chmod("Devices.lst", 0644);
  dir.write("Devices.lst", "[A]\r\n\r\nx=y;1;2\r\n");
  dir.chmod("Devices.lst", 0444);
  EXPECT_EQ(loadError(path), "Cannot create file " + path) << "a read-only file with empty lines";
  EXPECT_EQ(dir.read("Devices.lst"), "[A]\r\n\r\nx=y;1;2\r\n");
  dir.chmod("Devices.lst", 0200);
  EXPECT_EQ(loadError(path), "Cannot open file " + path) << "an unreadable file";
}

struct VendorCase {
  CatalogueLineList lines;
  const char* vendors;  // nullptr: wrong format
};

TEST(CatalogueVendors, FullListRule) {
  const VendorCase cases[] = {
      {Example, "Alpha@1|Beta@4"},
      {{"[Alpha]", "  \t[Alpha]", "x=1"}, "Alpha@0|Alpha@1"},
      {{"[Alpha] ", "x=1"}, "Alpha]@0"},
      {{"[", "[]", "x[y]"}, "@0|@1"},
      {{"preamble", "no header at all=1;2"}, ""},
      {{"[Alpha]", "AX100=ax100.bin;3;0", "   ", "AX200=ax200.bin;3;1"}, nullptr},
      {{"\t", "[Alpha]"}, nullptr},
      {{"[Alpha]", ""}, nullptr},
  };
  for (const auto& c : cases) {
    CatalogueEntryList vendors = {{"kept", 99}};
    if (c.vendors) {
      FillVendorList(c.lines, vendors);
      EXPECT_EQ(joined(vendors), std::string("kept@99") + (*c.vendors ? "|" : "") + c.vendors) << joined(c.lines);
    } else {
      EXPECT_THROW(FillVendorList(c.lines, vendors), CatalogueFormatError) << joined(c.lines);
    }
  }
}

TEST(CatalogueDevices, RunsEndAtAnyBracket) {
  const CatalogueLineList lines = {"[A]", "d1=x;1;2", "no equals", "=nameless;1;2", " d2 =y;1;2", "e[1]=z;1;2",
                                   "after=z;1;2", "[B]", "[C]"};
  EXPECT_EQ(joined(DeviceRun(lines, 0)), "d1@1|@2|@3| d2 @4");
  EXPECT_EQ(joined(DeviceRun(lines, 5)), "after@6");
  EXPECT_EQ(joined(DeviceRun(lines, 7)), "") << "two header lines in a row";
  EXPECT_EQ(joined(DeviceRun(lines, 8)), "") << "a header line at the end";
}

struct MatchCase {
  const char* keyword;
  const char* name;
  bool matches;
};

TEST(CatalogueKeyword, MatchKeyword) {
  const MatchCase cases[] = {
      {"a1", "AX100", true},     {"a1", "AX200", false},   {"AX2", "ax200", true},   {"x2", "AX200", true},
      {"2x", "AX200", false},    {"bt", "[Beta]", true},   {"", "", true},           {"", "anything", true},
      {"ax1000", "AX100", false}, {"aa", "a", false},      {"aa", "ba", false},      {"aa", "aba", true},
      {"qa", "ab", false},       {"[", "[Beta]", true},    {"\xC9", "\xE9", false},  {"\xE9", "x\xE9", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchKeyword(c.keyword, c.name), c.matches) << c.keyword << " in " << c.name;
}

struct SearchCase {
  const char* keyword;
  const char* vendors;
  const char* firstVendorDevices;
};

TEST(CatalogueKeyword, SectionsAndTheDevicesListed) {
  const SearchCase cases[] = {
      {"a1", "Alpha@1", "AX100@2"},
      {"AX2", "Alpha@1", "AX200@3"},
      {"bt", "Beta@4", "B17@5"},
      {"q", "", ""},
      {"", "Alpha@1|Beta@4", "AX100@2|AX200@3"},
      {"device", "", ""},
      {"AX100=ax100.bin", "", ""},
      {"ax100ax200", "", ""},
  };
  for (const auto& c : cases) {
    const CatalogueEntryList vendors = KeywordVendors(Example, c.keyword);
    EXPECT_EQ(joined(vendors), c.vendors) << c.keyword;
    if (!vendors.empty()) {
      EXPECT_EQ(joined(VendorDevices(Example, vendors[0].line, c.keyword)), c.firstVendorDevices) << c.keyword;
    }
  }
  const CatalogueLineList odd = {"[Alpha] ", "x=1", "junk [Beta", "[Gamma]x]", "a]b[Delta]"};
  EXPECT_EQ(joined(KeywordVendors(odd, "")), "Alpha@0|@2|Gamma@3|Delta@4");
}

struct EntryCase {
  const char* line;
  const char* field;  // nullptr: fails
  int byte1, byte6;   // after the read; a failure leaves what it did not reach
  const char* error;
};

TEST(CatalogueEntry, ReadingADeviceLine) {
  const EntryCase cases[] = {
      {"B17=sub\\b17.bin;12;255", "sub\\b17.bin", 12, 255, nullptr},
      {"X= \t x.bin;  0x1F;-1", "x.bin", 31, 255, nullptr},
      {"X=x.bin;300;$10", "x.bin", 44, 16, nullptr},
      {"X=x.bin;+7;0X0a", "x.bin", 7, 10, nullptr},
      {"no equals;1;2", "no equals", 1, 2, nullptr},
      {"X=;1;2", "", 1, 2, nullptr},
      {"X=x.bin;1 ;2", nullptr, 9, 9, "'1 ' is not a valid integer value"},
      {"X=x.bin;1;2 ", nullptr, 1, 9, "'2 ' is not a valid integer value"},
      {"X=x.bin;1;2;3", nullptr, 1, 9, "'2;3' is not a valid integer value"},
      {"X=x.bin;abc;2", nullptr, 9, 9, "'abc' is not a valid integer value"},
      {"X=x.bin;7;zz", nullptr, 7, 9, "'zz' is not a valid integer value"},
      {"X=x.bin", nullptr, 9, 9, "'' is not a valid integer value"},
      {"X=x.bin;5", nullptr, 9, 9, "'' is not a valid integer value"},
      {"X=x.bin;\t5;6", nullptr, 9, 9, "'\t5' is not a valid integer value"},
      {"X= \t ", nullptr, 9, 9, "The device line \"X= \t \" names no program"},
  };
  for (const auto& c : cases) {
    std::uint8_t byte1 = 9, byte6 = 9;
    if (c.field) {
      EXPECT_EQ(ReadDeviceEntry(c.line, byte1, byte6), c.field) << c.line;
    } else {
      try {
        ReadDeviceEntry(c.line, byte1, byte6);
        ADD_FAILURE() << c.line << " was read";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), c.error) << c.line;
      }
    }
    EXPECT_EQ(byte1, c.byte1) << c.line;
    EXPECT_EQ(byte6, c.byte6) << c.line;
  }
}

TEST(CatalogueEntry, ProgramImagesStayInTheProgramsDirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"b17.bin", "b17.bin"},         {"sub\\b17.bin", "b17.bin"}, {"c:b17.bin", "b17.bin"},
      {"../../etc/passwd", "passwd"}, {"..\\..\\x.bin", "x.bin"},  {"a/b\\c:d.bin", "d.bin"},
      {"sub\\", ""},                  {"..", ".."},                 {"", ""},
  };
  for (const auto& [field, name] : cases) EXPECT_EQ(ProgramFileName(field), name) << field;
  Installation install;
  EXPECT_EQ(ProgramImagePath("../../x.bin"), install.file("programs/x.bin"));
  EXPECT_EQ(CataloguePath(), install.file("Devices/Devices.lst"));
}

TEST(CatalogueSort, CaselessAndStable) {
  CatalogueEntryList entries = {{"beta", 0}, {"Alpha", 1}, {"alpha", 2}, {"b", 3}, {"ALPHA", 4}, {" z", 5}, {"", 6}};
  SortEntries(entries);
  EXPECT_EQ(joined(entries), "@6| z@5|Alpha@1|alpha@2|ALPHA@4|b@3|beta@0");
}

}  // namespace
