// The gauge as the user sees it: every pixel of the painted strip, read back
// from the rendered picture, and the setters' store-and-repaint rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <functional>

#include "controls/GaugeModel.h"
#include "controls/imGauge.h"

namespace {

QRgb Palette(QPalette::ColorRole role) { return QApplication::palette().color(QPalette::Active, role).rgb(); }
QRgb FromRGB(std::uint32_t rgb) { return qRgb(RedOf(rgb), GreenOf(rgb), BlueOf(rgb)); }
std::uint32_t ToRGB(QRgb c) { return RGBValue(qRed(c), qGreen(c), qBlue(c)); }
constexpr QRgb Black = 0xFF000000;
constexpr QRgb Blue = 0xFF0000FF;
constexpr QRgb Red = 0xFFFF0000;

QImage Picture(TimGauge& gauge) { return gauge.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Checks every pixel of the picture against the expected colour of its
// position; reports the first few differences.
void ExpectPixels(const QImage& image, const std::function<QRgb(int x, int y)>& expected, const char* what) {
  int wrong = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != expected(x, y) && ++wrong <= 5)
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << image.pixel(x, y)
                      << ", expected " << expected(x, y);
  EXPECT_EQ(wrong, 0) << what;
}

bool OnBorder(const QImage& image, int x, int y) {
  return x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1;
}

TEST(GaugePicture, FreshGaugeShowsBorderAndBackgroundOnly) {
  TimGauge gauge;
  EXPECT_EQ(gauge.width(), 100);
  EXPECT_EQ(gauge.height(), 25);
  EXPECT_EQ(gauge.Percent(), 0);
  EXPECT_EQ(gauge.GaugeDirection(), gdRight);
  EXPECT_EQ(gauge.GaugeSize(), 50u);
  EXPECT_EQ(gauge.BorderStyle(), bsSingle);
  EXPECT_FALSE(gauge.Ctl3D());
  EXPECT_EQ(gauge.Color(), 0x8000000Fu);
  EXPECT_EQ(gauge.FrontColor(), 0x80000003u);
  EXPECT_EQ(gauge.BackColor(), 0x8000000Fu);
  EXPECT_EQ(gauge.Interval(), 10u);
  EXPECT_EQ(gauge.StepSize(), 1u);
  const QImage image = Picture(gauge);
  ASSERT_EQ(image.size(), QSize(100, 25));
  const QRgb face = Palette(QPalette::Button);
  ExpectPixels(image, [&](int x, int y) { return OnBorder(image, x, y) ? Black : face; }, "fresh gauge");
}

TEST(GaugePicture, UploadDialogGaugeHalfWay) {
  QWidget frame;
  auto* gauge = new TimGauge(&frame);
  gauge->setGeometry(7, 42, 278, 7);
  gauge->SetGaugeDirection(gdLeft);
  gauge->SetGaugeSize(40);
  gauge->SetBackColor(clBlue);
  gauge->SetPercent(50);
  const QImage image = Picture(*gauge);
  ASSERT_EQ(image.size(), QSize(278, 7));
  // The inner strip runs from x 1 to 276; its 138th column from the right is
  // x 139, the head, in the inactive caption grey; the 39 columns to its
  // right fade to blue.
  const int head = 277 - 138;
  const QRgb grey = Palette(QPalette::Dark), face = Palette(QPalette::Button);
  const auto shades = BuildShadeTable(40, clBlue, ToRGB(grey));
  ExpectPixels(
      image,
      [&](int x, int y) -> QRgb {
        if (OnBorder(image, x, y)) return Black;
        if (x >= head && x <= head + 39) return FromRGB(shades[39 - (x - head)]);
        return face;
      },
      "upload gauge at 50");
  EXPECT_EQ(image.pixel(head, 3), grey);
  EXPECT_EQ(image.pixel(head + 39, 3), Blue);
  EXPECT_NE(image.pixel(head + 20, 3), grey);
  EXPECT_NE(image.pixel(head + 20, 3), Blue);
}

struct ColumnCase {
  const char* what;
  TGaugeDirection direction;
  TPercent percent;
  std::uint32_t size;
  int head, tail;  // columns in the picture; head < 0: no comet
};

TEST(GaugePicture, CometEndsInBothDirections) {
  // 100 x 25 with a border: the inner strip is x 1 to 98, 98 columns. Back
  // colour blue, front colour red, so both ends of the shade table show.
  const ColumnCase cases[] = {
      {"percent 100 rightwards", gdRight, 100, 50, 98, 49},
      {"percent 100 leftwards", gdLeft, 100, 50, 1, 50},
      {"short run rightwards", gdRight, 10, 50, 9, 1},
      {"short run leftwards", gdLeft, 10, 50, 90, 98},
      {"size 1", gdRight, 50, 1, 49, 49},
      {"size 1 leftwards", gdLeft, 50, 1, 50, 50},
      {"size 0", gdRight, 50, 0, -1, -1},
      {"percent 0", gdLeft, 0, 50, -1, -1},
  };
  for (const auto& c : cases) {
    TimGauge gauge;
    gauge.SetBackColor(clBlue);
    gauge.SetFrontColor(0x000000FF);
    gauge.SetGaugeDirection(c.direction);
    gauge.SetGaugeSize(c.size);
    gauge.SetPercent(c.percent);
    const QImage image = Picture(gauge);
    const QRgb face = Palette(QPalette::Button);
    const auto shades = BuildShadeTable(c.size, 0x00FF0000, 0x000000FF);
    const int from = std::min(c.head, c.tail), to = std::max(c.head, c.tail);
    ExpectPixels(
        image,
        [&](int x, int y) -> QRgb {
          if (OnBorder(image, x, y)) return Black;
          if (c.head < 0 || x < from || x > to) return face;
          return FromRGB(shades[shades.size() - 1 - std::abs(x - c.head)]);
        },
        c.what);
    if (c.head >= 0) {
      EXPECT_EQ(image.pixel(c.head, 12), Red) << c.what;
      if (c.tail != c.head) {
        EXPECT_NE(image.pixel(c.tail, 12), Red) << c.what;
      }
    }
  }
}

TEST(GaugePicture, ShadeTableEndsAreTheColoursGiven) {
  struct Case {
    TColor back, front;
    QRgb backPixel, frontPixel;
  };
  const Case cases[] = {
      {0x00123456, 0x00FEDCBA, qRgb(0x56, 0x34, 0x12), qRgb(0xBA, 0xDC, 0xFE)},
      {0x00FFFFFF, 0x00000000, qRgb(255, 255, 255), qRgb(0, 0, 0)},
      {clBlue, clInactiveCaption, Blue, Palette(QPalette::Dark)},
      {clWindow, clBtnFace, Palette(QPalette::Base), Palette(QPalette::Button)},
  };
  for (const auto& c : cases) {
    TimGauge gauge;
    gauge.SetColor(0x0000FF00);  // green, unlike any comet colour here
    gauge.SetBackColor(c.back);
    gauge.SetFrontColor(c.front);
    gauge.SetPercent(100);  // head at x 98, tail at 98 - 49
    const QImage image = Picture(gauge);
    EXPECT_EQ(image.pixel(98, 5), c.frontPixel) << std::hex << c.front;
    EXPECT_EQ(image.pixel(49, 5), c.backPixel) << std::hex << c.back;
    EXPECT_EQ(image.pixel(48, 5), qRgb(0, 255, 0));
  }
}

TEST(GaugePicture, BorderStyles) {
  TimGauge gauge;
  gauge.resize(20, 6);
  gauge.SetFrontColor(0x000000FF);
  gauge.SetGaugeSize(1);
  gauge.SetPercent(100);
  const QRgb face = Palette(QPalette::Button);

  gauge.SetBorderStyle(bsNone);  // the strip is the whole gauge
  QImage image = Picture(gauge);
  ExpectPixels(image, [&](int x, int) { return x == 19 ? Red : face; }, "no border");

  gauge.SetCtl3D(true);  // nothing to draw it on without a border
  EXPECT_EQ(Picture(gauge), image);

  // A sunken edge: button shadow along the top and left, the button
  // highlight along the bottom and right, which own the corners they share.
  gauge.SetBorderStyle(bsSingle);
  image = Picture(gauge);
  const QRgb shadow = Palette(QPalette::Dark), highlight = Palette(QPalette::Light);
  ASSERT_NE(shadow, highlight);
  ExpectPixels(
      image,
      [&](int x, int y) -> QRgb {
        if (x == 19 || y == 5) return highlight;
        if (x == 0 || y == 0) return shadow;
        return x == 18 ? Red : face;
      },
      "sunken edge");
}

TEST(GaugePicture, TooSmallToHoldAStrip) {
  for (int width : {1, 2}) {
    TimGauge gauge;
    gauge.resize(width, 3);
    gauge.SetPercent(100);
    const QImage image = Picture(gauge);
    ExpectPixels(image, [&](int, int) { return Black; }, "all border");
  }
}

// Counts the paints of a shown gauge.
struct ShownGauge : QObject {
  TimGauge gauge;
  int paints = 0;
  ShownGauge() {
    gauge.installEventFilter(this);
    gauge.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&gauge));
    QApplication::processEvents();
    paints = 0;
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(GaugeProperties, SettersRepaintBeforeReturningAndOnlyOnChange) {
  ShownGauge shown;
  TimGauge& gauge = shown.gauge;
  struct Case {
    const char* what;
    std::function<void()> set;
    int paints;
  };
  const Case cases[] = {
      {"Percent", [&] { gauge.SetPercent(50); }, 1},
      {"same Percent", [&] { gauge.SetPercent(50); }, 0},
      {"GaugeDirection", [&] { gauge.SetGaugeDirection(gdLeft); }, 1},
      {"same GaugeDirection", [&] { gauge.SetGaugeDirection(gdLeft); }, 0},
      {"GaugeSize", [&] { gauge.SetGaugeSize(40); }, 1},
      {"same GaugeSize", [&] { gauge.SetGaugeSize(40); }, 0},
      {"BorderStyle", [&] { gauge.SetBorderStyle(bsNone); }, 1},
      {"same BorderStyle", [&] { gauge.SetBorderStyle(bsNone); }, 0},
      {"Ctl3D", [&] { gauge.SetCtl3D(true); }, 1},
      {"same Ctl3D", [&] { gauge.SetCtl3D(true); }, 0},
      {"Color", [&] { gauge.SetColor(0x00FFFFFF); }, 1},
      {"same Color", [&] { gauge.SetColor(0x00FFFFFF); }, 0},
      {"FrontColor", [&] { gauge.SetFrontColor(0x000000FF); }, 1},
      {"same FrontColor", [&] { gauge.SetFrontColor(0x000000FF); }, 0},
      {"BackColor", [&] { gauge.SetBackColor(clBlue); }, 1},
      {"same BackColor", [&] { gauge.SetBackColor(clBlue); }, 0},
      {"Interval", [&] { gauge.SetInterval(500); }, 0},
      {"StepSize", [&] { gauge.SetStepSize(5); }, 0},
      {"Advance", [&] { gauge.Advance(1); }, 1},
  };
  for (const auto& c : cases) {
    shown.paints = 0;
    c.set();
    EXPECT_EQ(shown.paints, c.paints) << c.what;
  }
  EXPECT_EQ(gauge.Percent(), 51);
  EXPECT_EQ(gauge.GaugeDirection(), gdLeft);
  EXPECT_EQ(gauge.GaugeSize(), 40u);
  EXPECT_EQ(gauge.BorderStyle(), bsNone);
  EXPECT_TRUE(gauge.Ctl3D());
  EXPECT_EQ(gauge.Color(), 0x00FFFFFFu);
  EXPECT_EQ(gauge.FrontColor(), 0x000000FFu);
  EXPECT_EQ(gauge.BackColor(), clBlue);
  EXPECT_EQ(gauge.Interval(), 500u);
  EXPECT_EQ(gauge.StepSize(), 5u);
}

TEST(GaugeProperties, LimitsOfGaugeSizeStepSizeAndPercent) {
  TimGauge gauge;
  gauge.resize(80, 10);
  gauge.SetGaugeSize(500);
  EXPECT_EQ(gauge.GaugeSize(), 80u);
  gauge.SetGaugeSize(0);
  EXPECT_EQ(gauge.GaugeSize(), 0u);
  for (std::uint32_t refused : {100u, 101u, 0xFFFFFFFFu}) {
    gauge.SetStepSize(refused);
    EXPECT_EQ(gauge.StepSize(), 1u) << refused;
  }
  gauge.SetStepSize(99);
  EXPECT_EQ(gauge.StepSize(), 99u);
  gauge.SetPercent(200);
  EXPECT_EQ(gauge.Percent(), 100);
}

TEST(GaugeProperties, IntervalAndStepSizeChangeNothingVisible) {
  TimGauge gauge;
  gauge.SetPercent(30);
  const QImage before = Picture(gauge);
  gauge.SetInterval(1);
  gauge.SetStepSize(50);
  EXPECT_EQ(Picture(gauge), before);
  gauge.Advance(1);
  EXPECT_EQ(gauge.Percent(), 31);  // the step is Advance's, not StepSize
}

TEST(GaugeAdvance, TurnsRoundAfter99AndRepaints) {
  ShownGauge shown;
  TimGauge& gauge = shown.gauge;
  gauge.SetFrontColor(0x000000FF);
  gauge.SetPercent(99);
  shown.paints = 0;
  gauge.Advance(1);
  EXPECT_EQ(gauge.Percent(), 0);
  EXPECT_EQ(gauge.GaugeDirection(), gdLeft);
  EXPECT_EQ(shown.paints, 1);
  gauge.Advance(1);  // 1% of 98 columns: still under one column
  EXPECT_EQ(gauge.Percent(), 1);
  EXPECT_EQ(Picture(gauge).pixel(98, 10), Palette(QPalette::Button));
  gauge.Advance(1);  // 2%: the head in the first column from the right
  const QImage image = Picture(gauge);
  EXPECT_EQ(image.pixel(98, 10), Red);
  EXPECT_NE(image.pixel(97, 10), Red);
}

}  // namespace
