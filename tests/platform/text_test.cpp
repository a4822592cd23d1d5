// Text cut into lines, as the profile files, the catalogue and "Qelt.ini" are.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Text.h"

namespace {

using Lines = std::vector<std::string>;

TEST(SplitLines, EachLineEndEndsALine) {
  const std::pair<std::string, Lines> cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"\r\n", {""}},
      {"\n", {""}},
      {"\r", {""}},
      {"a\r\n\r\nb\n\n", {"a", "", "b", ""}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {" a \t\r\n", {" a \t"}},
  };
  for (const auto& [text, lines] : cases) EXPECT_EQ(SplitLines(text), lines) << testing::PrintToString(text);
}

TEST(SplitLines, ANulByteIsPartOfItsLine) {
  const std::string text("a\0b\r\n\0", 6);
  EXPECT_EQ(SplitLines(text), (Lines{std::string("a\0b", 3), std::string("\0", 1)}));
}

}  // namespace
