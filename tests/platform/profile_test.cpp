// The profile-file functions on real files: reading rules, writing rules and
// the failures a caller must see.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/IniFile.h"
#include "platform/winapi.h"
#include "support/TempDir.h"
#include "support/Wine.h"

namespace {

// Test names and printed parameters come from each case's description.
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

struct ReadCase {
  const char* name;
  std::optional<std::string> file;  // nullopt: no file
  const char* section;
  const char* key;
  const char* fallback;
  DWORD size;
  std::string expected;
};

const ReadCase readCases[] = {
    {"plain value", "[port]\r\naddress=2\r\n", "port", "address", "0", 2048, "2"},
    {"missing file gives default", std::nullopt, "port", "address", "7", 2048, "7"},
    {"missing section gives default", "[other]\r\naddress=2\r\n", "port", "address", "d", 2048, "d"},
    {"missing key gives default", "[port]\r\nother=2\r\n", "port", "address", "d", 2048, "d"},
    {"default loses trailing blanks", std::nullopt, "s", "k", "  dflt   ", 2048, "  dflt"},
    {"null default is empty", std::nullopt, "s", "k", nullptr, 2048, ""},
    {"section and key without regard to case", "[COM Port]\r\nADDRESS=3\r\n", "com port", "Address", "0", 2048, "3"},
    {"blanks around section, key and value", "  [ port ]  \r\n  address  =   5  \r\n", "port", "address", "0", 2048, "5"},
    {"tabs around value", "[s]\r\nk=\t v \t\r\n", "s", "k", "", 2048, "v"},
    {"double quotes removed", "[s]\r\nk=\"  quoted  \"\r\n", "s", "k", "", 2048, "  quoted  "},
    {"single quotes removed", "[s]\r\nk='x'\r\n", "s", "k", "", 2048, "x"},
    {"one pair only", "[s]\r\nk=\"\"x\"\"\r\n", "s", "k", "", 2048, "\"x\""},
    {"unmatched quote kept", "[s]\r\nk=\"x\r\n", "s", "k", "", 2048, "\"x"},
    {"first matching section wins", "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", "k", "", 2048, "1"},
    {"later section used when the first lacks the key", "[s]\r\na=1\r\n[s]\r\nk=2\r\n", "s", "k", "d", 2048, "d"},
    {"first matching key wins", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "", 2048, "1"},
    {"LF line ends", "[s]\nk=lf\n", "s", "k", "", 2048, "lf"},
    {"CR line ends", "[s]\rk=cr\r", "s", "k", "", 2048, "cr"},
    {"no line end at the end", "[s]\r\nk=last", "s", "k", "", 2048, "last"},
    {"blank lines ignored", "\r\n\r\n[s]\r\n\r\nk=v\r\n\r\n", "s", "k", "", 2048, "v"},
    {"a line starting with ; is a key like any other", "[s]\r\n;k6=c\r\n", "s", ";k6", "d", 2048, "c"},
    {"keys before the first section are not in it", "k=early\r\n[s]\r\n", "s", "k", "d", 2048, "d"},
    {"keys before the first section are in the nameless one", "orphan=early\r\n[s]\r\norphan=late\r\n", "",
     "orphan", "d", 2048, "early"},
    {"a [] header names the nameless section", "k=early\r\n[]\r\nk=named\r\n", "", "k", "d", 2048, "named"},
    {"key of another section not seen", "[a]\r\nk=1\r\n[b]\r\n", "b", "k", "d", 2048, "d"},
    {"empty value is a value", "[s]\r\nk=\r\n", "s", "k", "d", 2048, ""},
    {"value keeps inner blanks and =", "[s]\r\nk=a = b\r\n", "s", "k", "", 2048, "a = b"},
    {"truncated to buffer minus one", "[s]\r\nk=abcdef\r\n", "s", "k", "", 4, "abc"},
    {"default truncated too", std::nullopt, "s", "k", "abcdef", 3, "ab"},
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ProfileRead : public testing::TestWithParam<ReadCase> {};

// The cases in which Wine's profile functions are known to part from Windows':
// Wine rewrites the whole file from what it parsed, so blank lines go, and it
// keeps the keys before the first section and a "[]" section apart.
const char* WineDifference(const std::string& name) {
  if (name == "a [] header names the nameless section") return "the keys before the first section come first";
  if (name == "appends a key at the end of its section" || name == "a new nameless key goes before the first section")
    return "a write drops the file's blank lines";
  return nullptr;
}

TEST_P(ProfileRead, ReturnsValueAndCount) {
  const ReadCase& c = GetParam();
  if (const char* difference = WineDifference(c.name)) SKIP_WHERE_WINE_DIFFERS(difference);
  TempDir dir;
  if (c.file) dir.write("test.ini", *c.file);
  char buffer[2048];
  std::memset(buffer, 'X', sizeof buffer);
  const DWORD n = GetPrivateProfileStringA(c.section, c.key, c.fallback, buffer, c.size, dir.file("test.ini").c_str());
  EXPECT_EQ(std::string(buffer), c.expected);
  EXPECT_EQ(n, c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(Rules, ProfileRead, testing::ValuesIn(readCases), CaseName<ReadCase>);

struct WriteCase {
  const char* name;
  std::optional<std::string> file;
  const char* section;
  const char* key;
  const char* value;
  std::string expected;
};

const WriteCase writeCases[] = {
    {"creates the file", std::nullopt, "COM port", "address", "2", "[COM port]\r\naddress=2\r\n"},
    {"replaces a value in place", "[a]\r\nx=1\r\n[port]\r\naddress=0\r\ny=2\r\n", "PORT", "Address", "1",
     "[a]\r\nx=1\r\n[port]\r\naddress=1\r\ny=2\r\n"},
    {"appends a key at the end of its section", "[port]\r\na=1\r\n\r\n[b]\r\nc=2\r\n", "port", "k", "v",
     "[port]\r\na=1\r\nk=v\r\n\r\n[b]\r\nc=2\r\n"},
    {"appends a section at the end", "[a]\r\nx=1\r\n", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
    {"LF file rewritten with CR LF", "; comment\n[a]\nx=1\n", "a", "x", "2", "; comment\r\n[a]\r\nx=2\r\n"},
    {"other lines survive", "top=1\r\n;c\r\n[a]\r\n;inner\r\nno key\r\nx=1\r\n", "a", "x", "9",
     "top=1\r\n;c\r\n[a]\r\n;inner\r\nno key\r\nx=9\r\n"},
    {"a key starting with ; is replaced in place", "[s]\r\n;k6=c\r\nk6=x\r\n", "s", ";k6", "d",
     "[s]\r\n;k6=d\r\nk6=x\r\n"},
    {"a key before the first section is replaced in place", "orphan=1\r\n[s]\r\norphan=2\r\n", "", "orphan",
     "9", "orphan=9\r\n[s]\r\norphan=2\r\n"},
    {"a new nameless key goes before the first section", "a=1\r\n\r\n[s]\r\n", "", "b", "2",
     "a=1\r\nb=2\r\n\r\n[s]\r\n"},
    {"erasing the nameless section", "a=1\r\n[s]\r\nx=1\r\n", "", nullptr, nullptr, "[s]\r\nx=1\r\n"},
    {"null key erases the first matching section", "[Recent]\r\nFile0=a\r\nFile1=b\r\n[port]\r\naddress=1\r\n",
     "recent", nullptr, nullptr, "[port]\r\naddress=1\r\n"},
    {"erasing a missing section changes nothing", "[a]\nx=1\n", "b", nullptr, nullptr, "[a]\nx=1\n"},
    {"null value deletes the key", "[a]\r\nx=1\r\ny=2\r\n", "a", "X", nullptr, "[a]\r\ny=2\r\n"},
    {"only the first duplicate key is replaced", "[a]\r\nx=1\r\nx=2\r\n", "a", "x", "3", "[a]\r\nx=3\r\nx=2\r\n"},
    {"duplicate section: the first is written", "[a]\r\n[A]\r\nx=1\r\n", "a", "x", "5", "[a]\r\nx=5\r\n[A]\r\nx=1\r\n"},
    {"empty value", "[a]\r\nx=1\r\n", "a", "x", "", "[a]\r\nx=\r\n"},
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class ProfileWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, EditsTheFile) {
  const WriteCase& c = GetParam();
  if (const char* difference = WineDifference(c.name)) SKIP_WHERE_WINE_DIFFERS(difference);
  TempDir dir;
  if (c.file) dir.write("test.ini", *c.file);
  EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, dir.file("test.ini").c_str()));
  EXPECT_EQ(dir.read("test.ini"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, ProfileWrite, testing::ValuesIn(writeCases), CaseName<WriteCase>);

// A whole section in one write: in place (the first of duplicates), its
// separating blank line kept; added at the end when missing; refused on a
// read-only file.
TEST(ProfileSection, ReplacesTheWholeSection) {
  TempDir dir;
  const std::string file = dir.file("test.ini");
  dir.write("test.ini", "[a]\r\nx=1\r\n[S]\r\n;note\r\ny=2\r\n\r\n[b]\r\nz=3\r\n[s]\r\nw=4\r\n");
  ASSERT_TRUE(WritePrivateProfileSectionA("s", std::string("k=v\0m=n\0", 9).c_str(), file.c_str()));
  EXPECT_EQ(dir.read("test.ini"), "[a]\r\nx=1\r\n[S]\r\nk=v\r\nm=n\r\n\r\n[b]\r\nz=3\r\n[s]\r\nw=4\r\n");
  ASSERT_TRUE(WritePrivateProfileSectionA("new", "q=1\0", file.c_str()));
  const std::string written = "[a]\r\nx=1\r\n[S]\r\nk=v\r\nm=n\r\n\r\n[b]\r\nz=3\r\n[s]\r\nw=4\r\n[new]\r\nq=1\r\n";
  EXPECT_EQ(dir.read("test.ini"), written);
  dir.chmod("test.ini", 0444);
  EXPECT_FALSE(WritePrivateProfileSectionA("a", "x=2\0", file.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(dir.read("test.ini"), written);
}

TEST(ProfileFailures, ReadOnlyFileIsRefusedAndKept) {
  SKIP_WHERE_WINE_DIFFERS("a file with the read-only attribute is written when Wine runs as root");
  TempDir dir;
  dir.write("test.ini", "[a]\r\nx=1\r\n");
  dir.chmod("test.ini", 0444);
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringA("a", "x", "2", dir.file("test.ini").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(dir.read("test.ini"), "[a]\r\nx=1\r\n");
  TIniFile ini(dir.file("test.ini"));
  try {
    ini.WriteInteger("a", "x", 3);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("test.ini"));
  }
  EXPECT_THROW(ini.EraseSection("a"), std::runtime_error);
}

TEST(ProfileFailures, MissingFolderIsRefused) {
  TempDir dir;
  EXPECT_FALSE(WritePrivateProfileStringA("a", "x", "1", dir.file("nowhere/test.ini").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(ProfileFailures, AWriteLeavesNoTemporaryFileBehind) {
  SKIP_WHERE_WINE_DIFFERS("a file with the read-only attribute is written when Wine runs as root");
  TempDir dir;
  dir.write("test.ini", "[a]\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("a", "x", "1", dir.file("test.ini").c_str()));
  dir.chmod("test.ini", 0444);
  ASSERT_FALSE(WritePrivateProfileStringA("a", "x", "2", dir.file("test.ini").c_str()));
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(ProfileNames, FileNameMatchedWithoutRegardToCase) {
  TempDir dir;
  dir.write("Talvorin.AVR", "[Files]\r\nData=x\r\n");
  char buffer[16];
  GetPrivateProfileStringA("files", "data", "", buffer, sizeof buffer, dir.file("talvorin.avr").c_str());
  EXPECT_STREQ(buffer, "x");
  ASSERT_TRUE(WritePrivateProfileStringA("Files", "Data", "y", dir.file("Talvorin.avr").c_str()));
  EXPECT_EQ(dir.read("Talvorin.AVR"), "[Files]\r\nData=y\r\n");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"Talvorin.AVR"}) << "the file keeps its name";
}

TEST(ProfileLists, SectionAndKeyNamesAsDoubleNullLists) {
  SKIP_WHERE_WINE_DIFFERS("a key list leaves out keys that begin with ';', which Wine takes for comments");
  TempDir dir;
  dir.write("test.ini", "top=0\r\n[one]\r\na=1\r\n;c=3\r\nb=2\r\n[two]\r\n");
  char buffer[64];
  DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, dir.file("test.ini").c_str());
  EXPECT_EQ(std::string(buffer, n), std::string("one\0two\0", 8));
  n = GetPrivateProfileStringA("ONE", nullptr, "", buffer, sizeof buffer, dir.file("test.ini").c_str());
  EXPECT_EQ(std::string(buffer, n), std::string("a\0;c\0b\0", 7));
  EXPECT_EQ(buffer[n], '\0');
  n = GetPrivateProfileStringA("", nullptr, "", buffer, sizeof buffer, dir.file("test.ini").c_str());
  EXPECT_EQ(std::string(buffer, n), std::string("top\0", 4));
  n = GetPrivateProfileStringA("three", nullptr, "", buffer, sizeof buffer, dir.file("test.ini").c_str());
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(std::string(buffer, 2), std::string("\0\0", 2));
  n = GetPrivateProfileStringA("one", nullptr, "", buffer, 4, dir.file("test.ini").c_str());
  EXPECT_EQ(n, 2u);
}

TEST(IniFileIntegers, ReadingRules) {
  TempDir dir;
  dir.write("test.ini",
            "[n]\r\ndec=42\r\nneg=-7\r\nhex=0x1F\r\ndollar=$10\r\nblank=   3\r\nabc=abc\r\ntrail=3 \r\n"
            "mixed=12ab\r\nempty=\r\nbig=99999999999\r\n");
  const TIniFile ini(dir.file("test.ini"));
  EXPECT_EQ(ini.ReadInteger("n", "dec", 0), 42);
  EXPECT_EQ(ini.ReadInteger("n", "neg", 0), -7);
  EXPECT_EQ(ini.ReadInteger("n", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("n", "dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("n", "blank", 0), 3);
  EXPECT_EQ(ini.ReadInteger("n", "trail", 0), 3);  // the profile read drops trailing blanks
  EXPECT_EQ(ini.ReadInteger("n", "abc", 0), 0);
  EXPECT_EQ(ini.ReadInteger("n", "mixed", 5), 5);
  EXPECT_EQ(ini.ReadInteger("n", "empty", 0), 0);
  EXPECT_EQ(ini.ReadInteger("n", "big", 0), 0);
  EXPECT_EQ(ini.ReadInteger("n", "missing", 9), 9);
}

}  // namespace
