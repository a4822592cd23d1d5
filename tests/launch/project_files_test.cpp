// The EEPROM image and the project file on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "LaunchSupport.h"
#include "launch/ProjectFiles.h"
#include "platform/Text.h"
#include "platform/winapi.h"
#include "support/TempDir.h"
#include "support/Wine.h"

namespace {

struct ImageCase {
  int number1, number6;  // as the catalogue gives them
  unsigned char byte1, byte6;
};

TEST(EepromImage, ReplacesTheFileWithFourKilobytesOfFFAndTheTwoNumbers) {
  const ImageCase cases[] = {{3, 255, 0x03, 0xFF}, {300, -1, 0x2C, 0xFF}, {0, 256, 0x00, 0x00}, {-2, 18, 0xFE, 0x12}};
  TempDir dir;
  dir.write("programs/eeprom.bin", std::string(5000, 'x'));  // longer than the image
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteEepromImage(dir.file("programs/eeprom.bin"), static_cast<std::uint8_t>(c.number1),
                                 static_cast<std::uint8_t>(c.number6)));
    const std::string image = dir.read("programs/eeprom.bin");
    ASSERT_EQ(image.size(), 4096u);
    std::string expected(4096, '\xFF');
    expected[1] = static_cast<char>(c.byte1);
    expected[6] = static_cast<char>(c.byte6);
    EXPECT_EQ(image, expected) << c.number1 << "/" << c.number6;
  }
}

TEST(EepromImage, RefusedWriteLeavesTheOldFile) {
  TempDir dir;
  dir.write("programs/eeprom.bin", "old image");
  dir.chmod("programs/eeprom.bin", 0444);
  EXPECT_FALSE(WriteEepromImage(dir.file("programs/eeprom.bin"), 1, 2));
  EXPECT_EQ(dir.read("programs/eeprom.bin"), "old image");
  EXPECT_FALSE(WriteEepromImage(dir.file("nowhere/eeprom.bin"), 1, 2));
  EXPECT_FALSE(dir.exists("nowhere"));
}

TEST(EepromImage, LivesBesideTheProgramImage) {
  const TempDir dir;
  EXPECT_EQ(EepromPathFor(dir.file("programs/at90s2313.bin")), dir.file("programs/eeprom.bin"));
  EXPECT_EQ(EepromPathFor(dir.file("My Dir/x.y/prog")), dir.file("My Dir/x.y/eeprom.bin"));
}

TEST(ProjectFile, IsRebuiltWithoutTheOldContent) {
  TempDir dir;
  // Hand-edited, in another letter case, with sections of its own.
  dir.write("talvorin.avr", "; notes\r\n[Mine]\r\nkeep=1\r\n[Files]\r\nData=old\r\nExtra=2\r\n[Device]\r\nDevice=x\r\n");
  WriteProjectFile(dir.file("Talvorin.AVR"), "/d/eeprom.bin", "/d/prog.bin");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"Talvorin.AVR"});
  EXPECT_EQ(dir.read("Talvorin.AVR"), ProjectText("/d/eeprom.bin", "/d/prog.bin"));
  WriteProjectFile(dir.file("Talvorin.AVR"), "", "/e/other.bin");
  EXPECT_EQ(dir.read("Talvorin.AVR"), ProjectText("", "/e/other.bin"));
}

// The text is what the profile writer makes of the entries one at a time.
TEST(ProjectFile, IsWhatTheProfileWriterBuildsEntryByEntry) {
  TempDir dir;
  const std::string text = ProjectFileText("/d/e e.bin", "");
  const std::string scratch = dir.file("scratch.ini");
  std::string section;
  for (const auto& line : SplitLines(text)) {
    if (line.starts_with('[')) {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(),
                                           scratch.c_str()));
  }
  EXPECT_EQ(dir.read("scratch.ini"), text);
  EXPECT_EQ(text, ProjectText("/d/e e.bin", ""));
}

TEST(ProjectFile, RefusedWriteNamesTheFile) {
  SKIP_WHERE_WINE_DIFFERS("a file with the read-only attribute is written when Wine runs as root");
  TempDir dir;
  dir.write("Talvorin.AVR", "[Project]\r\n");
  dir.chmod("Talvorin.AVR", 0444);
  try {
    WriteProjectFile(dir.file("Talvorin.AVR"), "a", "b");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("Talvorin.AVR"));
  }
  EXPECT_EQ(dir.read("Talvorin.AVR"), "[Project]\r\n");
}

}  // namespace
