// The gauge's arithmetic: shade table, comet columns and the sweep.
#include <gtest/gtest.h>

#include "controls/Colors.h"
#include "controls/GaugeModel.h"

namespace {

TEST(ShadeTable, SizesZeroOneAndTwo) {
  EXPECT_TRUE(BuildShadeTable(0, 0x00FF0000, 0x00808080).empty());
  EXPECT_EQ(BuildShadeTable(1, 0x00FF0000, 0x00808080), std::vector<std::uint32_t>{0x00808080});
  EXPECT_EQ(BuildShadeTable(2, 0x00FF0000, 0x00808080), (std::vector<std::uint32_t>{0x00FF0000, 0x00808080}));
}

TEST(ShadeTable, EndsAreBackAndFront) {
  struct Case {
    std::uint32_t size, back, front;
  };
  const Case cases[] = {{40, clBlue, 0x00808080}, {3, 0x00000000, 0x00FFFFFF}, {100, 0x00123456, 0x00FEDCBA},
                        {7, 0x00FFFFFF, 0x00000000}};
  for (const auto& c : cases) {
    const auto table = BuildShadeTable(c.size, c.back, c.front);
    ASSERT_EQ(table.size(), c.size);
    EXPECT_EQ(table.front(), c.back) << c.size;
    EXPECT_EQ(table.back(), c.front) << c.size;
  }
}

TEST(ShadeTable, ChannelsAreTruncatedTowardZero) {
  // Red rises 0 -> 10 over four entries: 0, 3.33, 6.67, 10. Blue falls
  // 255 -> 0 over the same: 255, 170, 85, 0. Green 200 -> 199: 200, 199.67,
  // 199.33, 199.
  EXPECT_EQ(BuildShadeTable(4, RGBValue(0, 200, 255), RGBValue(10, 199, 0)),
            (std::vector<std::uint32_t>{RGBValue(0, 200, 255), RGBValue(3, 199, 170), RGBValue(6, 199, 85),
                                        RGBValue(10, 199, 0)}));
  // Half way between 255 and 0 is 127.5, and between 0 and 255 too.
  EXPECT_EQ(BuildShadeTable(3, RGBValue(255, 0, 0), RGBValue(0, 255, 0))[1], RGBValue(127, 127, 0));
  // Blue to grey over 40 entries, the upload dialog's comet: entry 1 is
  // red 128/39 = 3.28 and blue 255 - 127/39 = 251.74.
  EXPECT_EQ(BuildShadeTable(40, clBlue, 0x00808080)[1], RGBValue(3, 3, 251));
}

TEST(CometColumns, UploadGaugeAtHalfWay) {
  // 278 wide with a border: the inner strip is x 1..276, right edge 277.
  const auto columns = CometColumns(1, 277, 50, 40, gdLeft);
  ASSERT_EQ(columns.size(), 40u);
  // The head is the 138th column from the right edge, in the front colour;
  // the 39 columns to its right fade back to the back colour.
  EXPECT_EQ(columns.back(), (TCometColumn{277 - 138, 39}));
  for (std::size_t k = 0; k < columns.size(); ++k) EXPECT_EQ(columns[k], (TCometColumn{178 - int(k), std::uint32_t(k)}));
}

TEST(CometColumns, HeadPositionsAndLengths) {
  struct Case {
    const char* what;
    int left, right;
    TPercent percent;
    std::uint32_t size;
    TGaugeDirection direction;
    std::size_t count;
    TCometColumn head, tail;
  };
  const Case cases[] = {
      {"rightwards half way", 1, 277, 50, 40, gdRight, 40, {138, 39}, {99, 0}},
      {"rightwards at the end", 1, 99, 100, 50, gdRight, 50, {98, 49}, {49, 0}},
      {"leftwards at the end", 1, 99, 100, 50, gdLeft, 50, {1, 49}, {50, 0}},
      {"comet longer than the run", 1, 99, 10, 50, gdRight, 9, {9, 49}, {1, 41}},
      {"comet longer than the run, leftwards", 1, 99, 10, 50, gdLeft, 9, {90, 49}, {98, 41}},
      {"one column", 1, 277, 50, 1, gdLeft, 1, {139, 0}, {139, 0}},
      {"no border", 0, 100, 1, 50, gdRight, 1, {0, 49}, {0, 49}},
      {"comet as long as the run", 0, 100, 40, 40, gdRight, 40, {39, 39}, {0, 0}},
  };
  for (const auto& c : cases) {
    const auto columns = CometColumns(c.left, c.right, c.percent, c.size, c.direction);
    ASSERT_EQ(columns.size(), c.count) << c.what;
    EXPECT_EQ(columns.back(), c.head) << c.what;
    EXPECT_EQ(columns.front(), c.tail) << c.what;
  }
}

TEST(CometColumns, NothingToDraw) {
  EXPECT_TRUE(CometColumns(1, 99, 0, 50, gdRight).empty());                                  // percent 0
  EXPECT_TRUE(CometColumns(1, 99, 50, 0, gdRight).empty());                                  // no comet
  EXPECT_TRUE(CometColumns(1, 99, 1, 50, gdLeft).empty());                                   // under one column
  EXPECT_TRUE(CometColumns(1, 99, 50, 50, static_cast<TGaugeDirection>(2)).empty());         // no direction
  EXPECT_TRUE(CometColumns(1, 0, 100, 50, gdRight).empty());                                 // gauge 1 wide
  EXPECT_TRUE(CometColumns(1, 1, 100, 50, gdRight).empty());                                 // gauge 2 wide
}

TEST(Sweep, Steps) {
  struct Case {
    TPercent percent;
    TGaugeDirection direction;
    std::uint32_t step;
    TPercent percentAfter;
    TGaugeDirection directionAfter;
  };
  const Case cases[] = {
      {0, gdRight, 1, 1, gdRight},    {98, gdRight, 1, 99, gdRight},  {99, gdRight, 1, 0, gdLeft},
      {99, gdLeft, 1, 0, gdRight},    {50, gdLeft, 49, 99, gdLeft},   {50, gdLeft, 50, 0, gdRight},
      {0, gdRight, 100, 0, gdLeft},   {0, gdRight, 0, 0, gdRight},    {100, gdRight, 0, 0, gdLeft},
      {0, gdRight, 200, 0, gdLeft},   {0, gdLeft, 0xFFFFFFFF, 0, gdRight},
  };
  for (const auto& c : cases) {
    TPercent percent = c.percent;
    TGaugeDirection direction = c.direction;
    AdvanceSweep(percent, direction, c.step);
    EXPECT_EQ(percent, c.percentAfter) << int(c.percent) << " + " << c.step;
    EXPECT_EQ(direction, c.directionAfter) << int(c.percent) << " + " << c.step;
  }
}

TEST(Sweep, HundredPositionsPerSweep) {
  TPercent percent = 0;
  TGaugeDirection direction = gdRight;
  for (int expected = 1; expected <= 99; ++expected) {
    AdvanceSweep(percent, direction, 1);
    ASSERT_EQ(percent, expected);
    ASSERT_EQ(direction, gdRight);
  }
  AdvanceSweep(percent, direction, 1);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(direction, gdLeft);
}

}  // namespace
