#include <gtest/gtest.h>

#include "platform/Convert.h"

namespace {

TEST(Integers, AcceptedForms) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"0", 0},       {"42", 42},          {"-7", -7},     {"+5", 5},           {"  12", 12},
      {"0x1F", 31},   {"0X1f", 31},        {"$ff", 255},   {"-$10", -16},       {"-0x10", -16},
      {"2147483647", 2147483647},          {"-2147483648", INT32_MIN},          {"$FFFFFFFF", -1},
      {"0x80000000", INT32_MIN},           {"007", 7},
  };
  for (const auto& [text, expected] : cases) {
    std::int32_t value = 12345;
    EXPECT_TRUE(TryStrToInt(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
}

TEST(Integers, RefusedForms) {
  for (const char* text : {"", " ", "abc", "12 ", "1a", "0x", "$", "-", "+ 1", "\t1", "2147483648",
                           "-2147483649", "0x100000000", "1.5", "1e3", "0x1G"}) {
    std::int32_t value = 12345;
    EXPECT_FALSE(TryStrToInt(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, 12345) << text;
    EXPECT_EQ(StrToIntDef(text, -3), -3) << text;
  }
}

}  // namespace
