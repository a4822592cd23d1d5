// The hover image and label driven with the toolkit's own enter and leave
// events, enabled and disabled.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <sstream>
#include <string>
#include <vector>

#include "controls/Himage.h"
#include "controls/Hlabel.h"
#include "controls/SysColors.h"

namespace {

void SendEnter(QWidget* widget) {
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(widget, &enter);
}

void SendLeave(QWidget* widget) {
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(widget, &leave);
}

std::string Hex(TColor color) {
  std::ostringstream text;
  text << std::hex << color;
  return text.str();
}

// Writes down each handler call with its sender and, for the label, the text
// colour the label had at that moment.
struct Recorder {
  QWidget* control = nullptr;
  std::vector<std::string> log;
  void Note(const char* what, TObject* sender) {
    std::string line = what;
    if (sender != dynamic_cast<TObject*>(control)) line += " from a stranger";
    if (auto* label = dynamic_cast<THLabel*>(control)) line += " " + Hex(label->FontColor());
    log.push_back(line);
  }
  void Enter(TObject* sender) { Note("enter", sender); }
  void Leave(TObject* sender) { Note("leave", sender); }
};

// A step of a hover sequence: E enter, L leave, D disable, N enable, R set
// EnterColor red.
void Play(QWidget* control, const std::string& steps, const std::function<void()>& setRed = {}) {
  for (char step : steps) {
    switch (step) {
      case 'E': SendEnter(control); break;
      case 'L': SendLeave(control); break;
      case 'D': control->setEnabled(false); break;
      case 'N': control->setEnabled(true); break;
      case 'R': setRed(); break;
      default: FAIL() << "unknown step " << step;
    }
  }
}

constexpr TColor Red = 0x000000FF;

TEST(HoverLabel, StartsWithWindowColourAndNoHandlers) {
  THLabel label;
  EXPECT_EQ(label.EnterColor(), 0x80000005u);
  EXPECT_EQ(label.FontColor(), 0x80000008u);
  EXPECT_FALSE(label.OnMouseEnter);
  EXPECT_FALSE(label.OnMouseLeave);
  SendEnter(&label);  // no handlers: the colour still changes
  EXPECT_EQ(label.FontColor(), 0x80000005u);
  SendLeave(&label);
  EXPECT_EQ(label.FontColor(), 0x80000008u);
}

TEST(HoverLabel, Sequences) {
  const std::string text = Hex(clWindowText), window = Hex(clWindow), red = Hex(Red);
  struct Case {
    const char* what;
    std::string steps;
    std::vector<std::string> log;  // handler calls, with the text colour at the call
    TColor colour;                 // the text colour afterwards
  };
  const Case cases[] = {
      {"enter", "E", {"enter " + text}, clWindow},
      {"enter and leave", "EL", {"enter " + text, "leave " + window}, clWindowText},
      {"set colour first", "REL", {"enter " + text, "leave " + red}, clWindowText},
      {"leave without enter", "L", {"leave " + text}, clWindow},
      {"colour changed while over", "ER", {"enter " + text}, clWindow},
      {"colour changed while over, then leave and enter", "ERLE",
       {"enter " + text, "leave " + window, "enter " + text}, Red},
      {"disabled", "DEL", {}, clWindowText},
      {"disabled while over", "EDL", {"enter " + text}, clWindow},
      {"disabled while over, enabled, left", "EDNL", {"enter " + text, "leave " + window}, clWindowText},
      {"enabled again", "DENEL", {"enter " + text, "leave " + window}, clWindowText},
      {"two enters", "EEL", {"enter " + text, "enter " + window, "leave " + window}, clWindow},
  };
  for (const auto& c : cases) {
    THLabel label;
    label.setText(QStringLiteral("Hover"));
    Recorder recorder{&label, {}};
    label.OnMouseEnter = TNotifyEvent(&recorder, &Recorder::Enter);
    label.OnMouseLeave = TNotifyEvent(&recorder, &Recorder::Leave);
    Play(&label, c.steps, [&] { label.SetEnterColor(Red); });
    EXPECT_EQ(recorder.log, c.log) << c.what;
    EXPECT_EQ(Hex(label.FontColor()), Hex(c.colour)) << c.what;
  }
}

// Counts the paints a widget receives.
struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(HoverLabel, RepaintsOnTheNextCycleAfterEnterAndLeave) {
  THLabel label;
  label.setText(QStringLiteral("Hover"));
  label.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
  PaintCounter counter;
  label.installEventFilter(&counter);
  QApplication::processEvents();
  for (auto send : {SendEnter, SendLeave}) {
    counter.paints = 0;
    send(&label);
    EXPECT_EQ(counter.paints, 0);  // not at once
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }));
  }
}

int PixelsOf(const QImage& image, QRgb colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == colour;
  return count;
}

TEST(HoverLabel, TextIsPaintedInTheEnterColour) {
  THLabel label;
  QFont font = label.font();
  font.setPixelSize(24);
  label.setFont(font);
  label.setText(QStringLiteral("HLIH"));
  label.adjustSize();
  label.SetEnterColor(Red);
  const QRgb red = qRgb(255, 0, 0);
  const auto picture = [&] { return label.grab().toImage().convertToFormat(QImage::Format_RGB32); };
  EXPECT_EQ(PixelsOf(picture(), red), 0);
  SendEnter(&label);
  EXPECT_GT(PixelsOf(picture(), red), 20);
  SendLeave(&label);
  EXPECT_EQ(PixelsOf(picture(), red), 0);
  EXPECT_GT(PixelsOf(picture(), ToQColor(clWindowText).rgb()), 20);
}

TEST(HoverImage, Sequences) {
  struct Case {
    const char* what;
    std::string steps;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"enter and leave", "EL", {"enter", "leave"}},
      {"leave without enter", "L", {"leave"}},
      {"disabled", "DEL", {}},
      {"disabled while over", "EDL", {"enter"}},
      {"enabled again", "DNEL", {"enter", "leave"}},
  };
  for (const auto& c : cases) {
    THImage image;
    QPixmap picture(16, 16);
    picture.fill(Qt::red);
    image.setPixmap(picture);
    image.resize(16, 16);
    Recorder recorder{&image, {}};
    image.OnMouseEnter = TNotifyEvent(&recorder, &Recorder::Enter);
    image.OnMouseLeave = TNotifyEvent(&recorder, &Recorder::Leave);
    const QImage before = image.grab().toImage();
    Play(&image, c.steps);
    EXPECT_EQ(recorder.log, c.log) << c.what;
    image.setEnabled(true);
    EXPECT_EQ(image.grab().toImage(), before) << c.what;
  }
}

}  // namespace
