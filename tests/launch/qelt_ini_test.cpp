// The head of "Qelt.ini" and where its two paths come from.
#include <gtest/gtest.h>

#include <stdexcept>

#include "launch/QeltTool.h"
#include "support/TempDir.h"
#include "support/Wine.h"

namespace {

using Lines = std::vector<std::string>;

struct HeadCase {
  Lines before;
  Lines after;
};

TEST(QeltHead, MarkerRule) {
  const ProjectImages images{"D", "P"};
  const HeadCase cases[] = {
      {{"0000 \\", "tool 1", "tool 2"}, {"D", "P", "0000 \\", "tool 1", "tool 2"}},
      {{"0000 \\ settings"}, {"D", "P", "0000 \\ settings"}},
      {{"old data", "0000 \\x", "tool"}, {"D", "P", "0000 \\x", "tool"}},
      {{"old data", "old program", "0000 \\", "tool"}, {"D", "P", "0000 \\", "tool"}},
      {{"old data", "old program"}, {"D", "P"}},
      {{"", ""}, {"D", "P"}},
      // Only a line that begins with the six characters is a marker line.
      {{" 0000 \\", "x 0000 \\", "z"}, {"D", "P", "z"}},
      {{"old", "a 0000 \\"}, {"D", "P"}},
      {{"0000\\", "0000 /", "0000 \\"}, {"D", "P", "0000 \\"}},
      {{"000 \\", "y"}, {"D", "P"}},
  };
  for (const auto& c : cases) EXPECT_EQ(PutImagesAtHead(c.before, images), c.after) << c.before[0];
}

TEST(QeltHead, TooFewLinesNameTheMissingIndex) {
  const std::pair<Lines, const char*> cases[] = {
      {{}, "List index out of bounds (0)"},
      {{"only line"}, "List index out of bounds (1)"},
  };
  for (const auto& [lines, message] : cases) {
    try {
      PutImagesAtHead(lines, {"D", "P"});
      ADD_FAILURE() << message;
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

TEST(QeltHead, LinesAreWrittenWithCrLf) {
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLines({}), "");
}

TEST(ProjectImages, FromTheProjectFileOrTheDefaults) {
  Installation install;
  EXPECT_EQ(ReadProjectImages().data, "");
  EXPECT_EQ(ReadProjectImages().program, "");

  install.write("TALVORIN.AVR", "[Project]\r\nTitle=\r\n");
  EXPECT_EQ(ReadProjectImages().data, install.file("Programs/eeprom.bin"));
  EXPECT_EQ(ReadProjectImages().program, install.file("Programs/$dip20.bin"));

  install.write("TALVORIN.AVR", "[files]\r\nprogram=/x/My Program.bin\r\n");
  EXPECT_EQ(ReadProjectImages().data, install.file("Programs/eeprom.bin"));
  EXPECT_EQ(ReadProjectImages().program, "/x/My Program.bin");

  install.write("TALVORIN.AVR", "[Files]\r\nData=/d/eeprom.bin\r\nProgram=/d/p.bin\r\n");
  EXPECT_EQ(ReadProjectImages().data, "/d/eeprom.bin");
  EXPECT_EQ(ReadProjectImages().program, "/d/p.bin");
}

TEST(QeltIni, HeadRewrittenWithCrLfAndTheSameOnASecondRun) {
  Installation install;
  install.write("qelt.INI", "old data\nold program\n0000 \\ tool\r\nsettings=1\rlast");
  const ProjectImages images{"/d/eeprom.bin", "/d/p.bin"};
  const std::string expected = "/d/eeprom.bin\r\n/d/p.bin\r\n0000 \\ tool\r\nsettings=1\r\nlast\r\n";
  UpdateQeltIni(images);
  EXPECT_EQ(install.read("qelt.INI"), expected);
  UpdateQeltIni(images);
  EXPECT_EQ(install.read("qelt.INI"), expected);
}

TEST(QeltIni, MissingFileIsNotCreated) {
  Installation install;
  UpdateQeltIni({"a", "b"});
  EXPECT_FALSE(install.exists("Qelt.ini"));
}

TEST(QeltIni, FailuresLeaveTheFileAsItWas) {
  struct Case {
    std::string content;
    unsigned mode;
    std::string message;  // after the path of "Qelt.ini" when it ends in " "
  };
  Installation install;
  const std::string path = install.file("Qelt.ini");
  const Case cases[] = {
      {"", 0644, "List index out of bounds (0)"},
      {"only line\r\n", 0644, "List index out of bounds (1)"},
      {"x\r\ny\r\n", 0200, "Cannot open file " + path},
      {"x\r\ny\r\n", 0444, "Cannot create file " + path},
  };
  for (const auto& c : cases) {
    // The last two: an unreadable file (Windows has none of this kind) and a
    // read-only one.
    if (c.mode != 0644) SKIP_WHERE_WINE_DIFFERS("a file with the read-only attribute is written when Wine runs as root");
    install.chmod("Qelt.ini", 0644);
    install.write("Qelt.ini", c.content);
    install.chmod("Qelt.ini", c.mode);
    try {
      UpdateQeltIni({"a", "b"});
      ADD_FAILURE() << c.message;
    } catch (const std::exception& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    install.chmod("Qelt.ini", 0644);
    EXPECT_EQ(install.read("Qelt.ini"), c.content);
  }
}

}  // namespace
