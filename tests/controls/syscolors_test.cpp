// Colour values resolved against the application's palette.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "controls/SysColors.h"

namespace {

std::uint32_t FromPalette(QPalette::ColorGroup group, QPalette::ColorRole role) {
  const QColor c = QApplication::palette().color(group, role);
  return RGBValue(c.red(), c.green(), c.blue());
}

TEST(SysColors, SystemColoursComeFromThePalette) {
  struct Case {
    int n;
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
  };
  const Case cases[] = {
      {3, QPalette::Active, QPalette::Dark},       {5, QPalette::Active, QPalette::Base},
      {8, QPalette::Active, QPalette::Text},       {13, QPalette::Active, QPalette::Highlight},
      {15, QPalette::Active, QPalette::Button},    {16, QPalette::Active, QPalette::Dark},
      {17, QPalette::Disabled, QPalette::Text},    {20, QPalette::Active, QPalette::Light},
      {21, QPalette::Active, QPalette::Shadow},    {24, QPalette::Active, QPalette::ToolTipBase},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SysColorRGB(c.n), FromPalette(c.group, c.role)) << c.n;
    EXPECT_EQ(ColorToRGB(clSystemColor | c.n), FromPalette(c.group, c.role)) << c.n;
  }
}

TEST(SysColors, FollowAPaletteChange) {
  const QPalette old = QApplication::palette();
  QPalette changed = old;
  changed.setColor(QPalette::Button, QColor(1, 2, 3));
  QApplication::setPalette(changed);
  EXPECT_EQ(ColorToRGB(clBtnFace), RGBValue(1, 2, 3));
  EXPECT_EQ(ToQColor(clBtnFace), QColor(1, 2, 3));
  QApplication::setPalette(old);
}

TEST(SysColors, RGBValuesAndUnknownNumbers) {
  EXPECT_EQ(ColorToRGB(0x00123456), 0x00123456u);
  EXPECT_EQ(ToQColor(0x00123456), QColor(0x56, 0x34, 0x12));
  EXPECT_EQ(ColorToRGB(clBlue), 0x00FF0000u);
  for (int unknown : {-1, 25, 31, 255}) EXPECT_EQ(SysColorRGB(unknown), 0u) << unknown;
  EXPECT_EQ(ColorToRGB(clSystemColor | 31), 0u);
}

}  // namespace
