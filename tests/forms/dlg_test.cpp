// The message dialog: its size follows the text, Enter closes it and Escape
// does not.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "forms/Dlg.h"
#include "platform/Hooks.h"
#include "platform/winapi.h"
#include "support/Modal.h"

namespace {

std::vector<unsigned> beeps;
void recordBeep(unsigned type) { beeps.push_back(type); }

struct BeepRecorder {
  BeepRecorder() {
    beeps.clear();
    SetBeepHandler(recordBeep);
  }
  ~BeepRecorder() { SetBeepHandler(nullptr); }
};

struct Owner {
  QWidget window;
  Owner() {
    window.resize(600, 400);
    window.show();
  }
};

// Shows one message as the transfer dialogs do; act runs while it is up.
bool showMessage(QWidget* owner, const std::string& caption, const std::string& text,
                 const std::function<void(TMsgDlg&)>& act) {
  return WithModal([&] { ShowMessageDialog(owner, caption, text); },
                   [&](QWidget* window) {
                     ASSERT_EQ(window, MsgDlg);
                     act(*MsgDlg);
                   });
}

TEST(MessageDialog, SizesItselfToTheText) {
  const struct {
    const char* what;
    const char* text;
    int lines;
  } cases[] = {
      {"one line", "Download compelete !!!", 1},
      {"two lines", "Upload break by user.\nThe file keeps the blocks received so far.", 2},
      {"one short word", "Hi", 1},
  };
  Owner owner;
  int oneLineHeight = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BeepRecorder beep;
    ASSERT_TRUE(showMessage(&owner.window, "Download", c.text, [&](TMsgDlg& dlg) {
      EXPECT_EQ(dlg.windowTitle(), "Download");
      EXPECT_EQ(dlg.Label->text().toStdString(), c.text);
      EXPECT_EQ(QFontInfo(dlg.Label->font()).pixelSize(), 16);
      // The label's own size is the size of its text; with two lines, the
      // width of the longer line.
      const QFontMetrics metrics(dlg.Label->font());
      const auto textSize = [&](const QString& text) {
        return metrics.boundingRect(QRect(0, 0, 2000, 2000), Qt::AlignLeft | Qt::AlignTop, text).size();
      };
      const QSize label = dlg.Label->size();
      EXPECT_EQ(label, textSize(dlg.Label->text()));
      int widest = 0;
      for (const QString& line : dlg.Label->text().split('\n')) widest = std::max(widest, textSize(line).width());
      EXPECT_EQ(label.width(), widest);
      EXPECT_EQ(label.height(), metrics.height() + (c.lines - 1) * metrics.lineSpacing());
      EXPECT_EQ(dlg.Label->pos(), QPoint(40, 2));
      EXPECT_EQ(dlg.Image1->geometry(), QRect(3, 4, 33, 33));

      const int width = 50 + label.width();
      const int height = 47 + label.height();
      EXPECT_EQ(dlg.size(), QSize(width, height));
      EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()) << "not resizable";
      EXPECT_EQ(dlg.BitBtn1->size(), QSize(75, 25));
      EXPECT_EQ(dlg.BitBtn1->y(), 2 + label.height() + 15);
      EXPECT_EQ(height - dlg.BitBtn1->geometry().bottom() - 1, 5) << "5 pixels above the bottom edge";
      EXPECT_EQ(dlg.BitBtn1->x(), (width - 75) / 2);
      if (c.lines == 1) oneLineHeight = label.height();
      else EXPECT_GT(label.height(), oneLineHeight) << "taller by its second line";
      if (std::string(c.what) == "one short word") {
        EXPECT_LT(width, 303) << "narrower than the design width";
        EXPECT_LT(dlg.BitBtn1->x(), 0) << "centred by the formula, left of the client area";
      }
      QTest::keyClick(&dlg, Qt::Key_Return);
    }));
    EXPECT_EQ(beeps, std::vector<unsigned>{MB_ICONASTERISK});
    EXPECT_EQ(MsgDlg, nullptr) << "destroyed after the message";
  }
}

TEST(MessageDialog, LooksAndPlace) {
  Owner owner;
  ASSERT_TRUE(showMessage(&owner.window, "Upload", "Upload compelete !!!", [&](TMsgDlg& dlg) {
    EXPECT_EQ(dlg.parentWidget(), &owner.window);
    const QPoint offCentre = dlg.frameGeometry().center() - owner.window.frameGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << "centred over its owner";
    EXPECT_EQ(dlg.BitBtn1->text(), "OK");
    EXPECT_TRUE(dlg.BitBtn1->isDefault());
    EXPECT_FALSE(dlg.BitBtn1->icon().isNull());
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_FALSE(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    const QImage picture = dlg.Image1->pixmap().toImage();
    EXPECT_EQ(picture.size(), QSize(33, 33));
    EXPECT_EQ(qAlpha(picture.pixel(0, 32)), 0) << "transparent ground";
    EXPECT_EQ(picture.pixelColor(8, 12), QColor(Qt::white)) << "white balloon";
    EXPECT_EQ(picture.pixelColor(16, 15), QColor(0, 0, 255)) << "blue i";
    dlg.BitBtn1->click();
  }));
}

// Enter presses OK; Escape leaves the message up; the close box closes it.
TEST(MessageDialog, EnterClosesEscapeDoesNot) {
  Owner owner;
  ASSERT_TRUE(showMessage(&owner.window, "Upload", "Upload break by user.", [](TMsgDlg& dlg) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }));
  ASSERT_TRUE(showMessage(&owner.window, "Upload", "Upload break by user.", [](TMsgDlg& dlg) {
    dlg.windowHandle()->close();
    EXPECT_FALSE(dlg.isVisible());
  }));
}

}  // namespace
