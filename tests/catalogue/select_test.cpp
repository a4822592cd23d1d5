// The device selection dialog driven with keys and clicks over the example
// catalogue (vendors Alpha with AX100 and AX200, Beta with B17).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/Select.h"
#include "forms/MessageBoxes.h"
#include "platform/winapi.h"
#include "support/MessageRecorder.h"
#include "support/TempDir.h"

namespace {

const char* const ExampleCatalogue =
    "Device list\r\n[Alpha]\r\nAX100=ax100.bin;3;0\r\nAX200=ax200.bin;3;1\r\n[Beta]\r\nB17=sub\\b17.bin;12;255\r\n";
const std::vector<std::string> AllImages = {"ax100.bin", "ax200.bin", "b17.bin"};

// An installation with a catalogue and program images, and the dialog created
// over it.
struct Dialog {
  Installation install;
  MessageRecorder recorder;
  std::unique_ptr<TSelectForm> form;

  explicit Dialog(const std::string& catalogue = ExampleCatalogue,
                  const std::vector<std::string>& images = AllImages) {
    install.write("Devices/Devices.lst", catalogue);
    for (const auto& image : images) install.write("programs/" + image, "image of " + image);
    form = std::make_unique<TSelectForm>();
  }

  void show() {
    form->show();
    QApplication::setActiveWindow(form.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }

  // The entries of a list, the selected one marked with "*".
  static std::string names(const TCatalogueListBox* list) {
    std::string all;
    for (int i = 0; i < list->Count(); ++i)
      all += (i ? "|" : "") + list->Entry(i).name + (i == list->ItemIndex() ? "*" : "");
    return all;
  }
  std::string vendors() const { return names(form->ListBox1); }
  std::string devices() const { return names(form->ListBox2); }
  std::string image(const std::string& name) const { return install.file("programs/" + name); }

  static void click(TCatalogueListBox* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(row, 0)).center());
  }
  static void doubleClick(TCatalogueListBox* list, int row) {
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                       list->visualRect(list->model()->index(row, 0)).center());
  }
  // A key as the keyboard delivers it: the release goes to wherever the
  // press moved the focus.
  static void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyPress(QApplication::focusWidget(), k, modifiers);
    QTest::keyRelease(QApplication::focusWidget(), k, modifiers);
  }
  void focus(QWidget* control) {
    control->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(QApplication::focusWidget(), control);
  }
};

TEST(SelectDialog, CreationListsTheFirstVendorAndReadsItsFirstDevice) {
  Dialog d;
  EXPECT_TRUE(d.recorder.messages.empty());
  EXPECT_EQ(d.vendors(), "Alpha*|Beta");
  EXPECT_EQ(d.devices(), "AX100*|AX200");
  EXPECT_EQ(d.form->SelectedDevice, "AX100");
  EXPECT_EQ(d.form->ProgramPath, d.image("ax100.bin"));
  EXPECT_EQ(d.form->EepromByte1, 3);
  EXPECT_EQ(d.form->EepromByte6, 0);
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin");
  EXPECT_EQ(d.form->StatusHint(), d.image("ax100.bin"));
  EXPECT_EQ(d.form->windowTitle().toStdString(), "Select program you want.");
  EXPECT_EQ(d.form->size(), QSize(422, 308));
  EXPECT_EQ(d.install.read("Devices/Devices.lst"), ExampleCatalogue) << "a catalogue without empty lines stays";
}

struct KeywordCase {
  const char* keyword;
  const char* vendors;
  const char* devices;
  const char* device;
  const char* status;
};

TEST(SelectDialog, KeywordSearchOnEveryKeystroke) {
  const KeywordCase cases[] = {
      {"a1", "Alpha*", "AX100*", "AX100", "Program is : ax100.bin"},
      {"AX2", "Alpha*", "AX200*", "AX200", "Program is : ax200.bin"},
      {"bt", "Beta*", "B17*", "B17", "Program is : sub\\b17.bin"},
      // Nothing found: the status line keeps the device shown before.
      {"q", "", "", "", "Program is : ax100.bin"},
      {"ax100ax200ax300", "", "", "", "Program is : ax100.bin"},
  };
  Dialog d;
  for (const auto& c : cases) {
    d.show();
    QTest::keyClicks(d.form->SelectEdit, c.keyword);
    EXPECT_EQ(d.vendors(), c.vendors) << c.keyword;
    EXPECT_EQ(d.devices(), c.devices) << c.keyword;
    EXPECT_EQ(d.form->SelectedDevice, c.device) << c.keyword;
    EXPECT_EQ(d.form->ProgramPath.empty(), !*c.device) << c.keyword;
    EXPECT_EQ(d.form->StatusText(), c.status) << c.keyword;
    d.form->hide();
  }
  EXPECT_TRUE(d.recorder.messages.empty());
}

TEST(SelectDialog, BackspaceToAnEmptyKeywordListsEveryVendorAgain) {
  Dialog d;
  d.show();
  QTest::keyClicks(d.form->SelectEdit, "bt");
  ASSERT_EQ(d.vendors(), "Beta*");
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Backspace);
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Backspace);
  EXPECT_EQ(d.vendors(), "Alpha*|Beta");
  EXPECT_EQ(d.devices(), "AX100*|AX200");
  EXPECT_EQ(d.form->SelectedDevice, "AX100");
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin");
}

TEST(SelectDialog, AnyKeyReleasedInTheEmptyKeywordFieldReturnsToTheFirstVendor) {
  Dialog d;
  d.show();
  for (const Qt::Key k : {Qt::Key_Left, Qt::Key_Shift, Qt::Key_Tab}) {
    Dialog::click(d.form->ListBox1, 1);
    ASSERT_EQ(d.vendors(), "Alpha|Beta*");
    ASSERT_EQ(d.form->SelectedDevice, "B17");
    if (k == Qt::Key_Tab) {
      // Shift+Tab from the vendor list: the release reaches the keyword field.
      Dialog::key(Qt::Key_Tab, Qt::ShiftModifier);
      EXPECT_EQ(QApplication::focusWidget(), d.form->SelectEdit);
    } else {
      d.focus(d.form->SelectEdit);
      Dialog::key(k);
    }
    EXPECT_EQ(d.vendors(), "Alpha*|Beta") << k;
    EXPECT_EQ(d.devices(), "AX100*|AX200") << k;
    EXPECT_EQ(d.form->SelectedDevice, "AX100") << k;
  }
  // Not while it holds a keyword.
  QTest::keyClicks(d.form->SelectEdit, "x");
  Dialog::click(d.form->ListBox2, 1);
  d.focus(d.form->SelectEdit);
  Dialog::key(Qt::Key_Left);
  EXPECT_EQ(d.devices(), "AX100|AX200*");
}

TEST(SelectDialog, TabOrderAndWhatEnteringAControlClears) {
  Dialog d;
  d.show();
  EXPECT_EQ(QApplication::focusWidget(), d.form->SelectEdit);
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin") << "showing does not count as entering the field";
  const std::vector<QWidget*> order = {d.form->ListBox1, d.form->ListBox2, d.form->BitBtn1, d.form->BitBtn2,
                                       d.form->SelectEdit};
  for (QWidget* next : order) {
    Dialog::key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    if (next == d.form->ListBox1) {
      EXPECT_EQ(d.form->StatusText(), "");
    }
  }
  Dialog::key(Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), d.form->BitBtn2);
  Dialog::click(d.form->ListBox2, 1);
  EXPECT_EQ(d.form->StatusText(), "Program is : ax200.bin");
  d.focus(d.form->SelectEdit);
  EXPECT_EQ(d.form->StatusText(), "");
}

TEST(SelectDialog, PlainEnterPressesOkWhereverTheFocusIs) {
  Dialog d;
  const std::vector<QWidget*> controls = {d.form->SelectEdit, d.form->ListBox1, d.form->ListBox2, d.form->BitBtn2};
  for (QWidget* control : controls) {
    for (const auto modifiers : {Qt::NoModifier, Qt::KeypadModifier}) {
      d.show();
      d.focus(control);
      QTest::keyPress(control, modifiers == Qt::KeypadModifier ? Qt::Key_Enter : Qt::Key_Return, modifiers);
      EXPECT_FALSE(d.form->isVisible()) << control->metaObject()->className();
      EXPECT_EQ(d.form->SelectedDevice, "AX100");
      EXPECT_EQ(d.form->ProgramPath, d.image("ax100.bin"));
    }
  }
  EXPECT_TRUE(d.recorder.messages.empty());
}

TEST(SelectDialog, ShiftEnterInTheKeywordFieldMovesToTheLists) {
  Dialog d;
  d.show();
  QTest::keyClicks(d.form->SelectEdit, "a1");
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_TRUE(d.form->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), d.form->ListBox2) << "one vendor: on to its devices";
  EXPECT_EQ(d.devices(), "AX100*");
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin");

  d.form->hide();
  d.show();
  Dialog::click(d.form->ListBox1, 1);
  d.focus(d.form->SelectEdit);
  Dialog::key(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), d.form->ListBox1) << "several vendors: on to the first";
  EXPECT_EQ(d.vendors(), "Alpha*|Beta");
  EXPECT_EQ(d.form->StatusText(), "") << "entering the vendor list";
  EXPECT_FALSE(d.form->Chosen);

  // Ctrl+Enter types no Enter character, and an empty vendor list takes none.
  d.focus(d.form->SelectEdit);
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClicks(d.form->SelectEdit, "q");
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), d.form->SelectEdit);
  EXPECT_TRUE(d.form->isVisible());
  EXPECT_EQ(d.form->SelectEdit->text().toStdString(), "q");
  EXPECT_TRUE(d.recorder.messages.empty());
}

TEST(SelectDialog, ShiftOrCtrlEnterInTheLists) {
  for (const auto modifier : {Qt::ShiftModifier, Qt::ControlModifier}) {
    Dialog d;
    d.show();
    Dialog::click(d.form->ListBox1, 1);
    Dialog::click(d.form->ListBox1, 0);
    Dialog::click(d.form->ListBox2, 1);
    ASSERT_EQ(d.devices(), "AX100|AX200*");
    d.focus(d.form->ListBox1);
    QTest::keyClick(d.form->ListBox1, Qt::Key_Return, modifier);
    EXPECT_EQ(QApplication::focusWidget(), d.form->ListBox2);
    EXPECT_EQ(d.devices(), "AX100*|AX200") << "the vendor's first device";
    EXPECT_TRUE(d.form->isVisible());
    Dialog::click(d.form->ListBox2, 1);
    QTest::keyClick(d.form->ListBox2, Qt::Key_Return, modifier);
    EXPECT_FALSE(d.form->isVisible());
    EXPECT_EQ(d.form->SelectedDevice, "AX200");
    EXPECT_EQ(d.form->ProgramPath, d.image("ax200.bin"));
    EXPECT_EQ(d.form->EepromByte1, 3);
    EXPECT_EQ(d.form->EepromByte6, 1);
  }
}

TEST(SelectDialog, DoubleClickConfirmsTheDevice) {
  Dialog d;
  d.show();
  Dialog::click(d.form->ListBox1, 1);
  Dialog::doubleClick(d.form->ListBox2, 0);
  EXPECT_FALSE(d.form->isVisible());
  EXPECT_EQ(d.form->SelectedDevice, "B17");
  EXPECT_EQ(d.form->ProgramPath, d.image("b17.bin")) << "the directory part of the field is not used";
  EXPECT_EQ(d.form->EepromByte1, 12);
  EXPECT_EQ(d.form->EepromByte6, 255);
}

TEST(SelectDialog, EscCancelAndTheCloseBoxLeaveNoDeviceButKeepTheBytes) {
  Dialog d;
  const std::vector<std::function<void()>> endings = {
      [&] { QTest::keyPress(d.form->SelectEdit, Qt::Key_Escape); },
      [&] { QTest::keyPress(d.form->ListBox2, Qt::Key_Escape, Qt::ShiftModifier); },
      [&] { QTest::keyPress(d.form->ListBox1, Qt::Key_Escape, Qt::ControlModifier); },
      [&] { QTest::mouseClick(d.form->BitBtn2, Qt::LeftButton); },
      [&] { d.form->close(); },
  };
  for (const auto& end : endings) {
    d.show();
    Dialog::click(d.form->ListBox1, 1);
    ASSERT_EQ(d.form->SelectedDevice, "B17");
    end();
    EXPECT_FALSE(d.form->isVisible());
    EXPECT_EQ(d.form->SelectedDevice, "");
    EXPECT_EQ(d.form->ProgramPath, "");
    EXPECT_EQ(d.form->EepromByte1, 12);
    EXPECT_EQ(d.form->EepromByte6, 255);
  }
  EXPECT_TRUE(d.recorder.messages.empty());
}

TEST(SelectDialog, TheCloseCheckRefusesAMissingProgramImage) {
  Dialog d(ExampleCatalogue, {"ax100.bin", "b17.bin"});
  d.show();
  Dialog::click(d.form->ListBox2, 1);
  EXPECT_EQ(d.form->StatusText(), "Program is : ax200.bin ( Not exist. )");
  EXPECT_EQ(d.form->StatusHint(), d.image("ax200.bin"));
  QTest::mouseClick(d.form->BitBtn1, Qt::LeftButton);
  ASSERT_EQ(d.recorder.messages.size(), 1u);
  EXPECT_EQ(d.recorder.messages[0].text, "The program " + d.image("ax200.bin") + " is not exists.");
  EXPECT_EQ(d.recorder.messages[0].caption, "Error.");
  EXPECT_EQ(d.recorder.messages[0].flags, unsigned(MB_OK | MB_ICONSTOP));
  EXPECT_TRUE(d.form->isVisible());
  EXPECT_FALSE(d.form->Chosen);
  EXPECT_EQ(d.form->SelectedDevice, "");
  EXPECT_EQ(d.form->ProgramPath, "");
  EXPECT_EQ(d.form->StatusText(), "");

  Dialog::click(d.form->ListBox2, 0);
  QTest::keyClick(d.form->ListBox2, Qt::Key_Return);
  EXPECT_FALSE(d.form->isVisible());
  EXPECT_EQ(d.form->SelectedDevice, "AX100");
  EXPECT_EQ(d.recorder.messages.size(), 1u);
}

TEST(SelectDialog, ConfirmingWithNothingListedNamesAnEmptyPath) {
  Dialog d;
  d.show();
  QTest::keyClicks(d.form->SelectEdit, "q");
  QTest::keyClick(d.form->SelectEdit, Qt::Key_Return);
  ASSERT_EQ(d.recorder.messages.size(), 1u);
  EXPECT_EQ(d.recorder.messages[0].text, "The program  is not exists.");
  EXPECT_TRUE(d.form->isVisible());
}

TEST(SelectDialog, ShowingAgainAfterASearchStartsAfresh) {
  Dialog d;
  d.show();
  QTest::keyClicks(d.form->SelectEdit, "bt");
  QTest::keyPress(d.form->SelectEdit, Qt::Key_Escape);
  ASSERT_FALSE(d.form->isVisible());
  d.show();
  EXPECT_EQ(d.form->SelectEdit->text().toStdString(), "");
  EXPECT_EQ(d.vendors(), "Alpha*|Beta");
  EXPECT_EQ(d.devices(), "AX100*|AX200");
  EXPECT_EQ(d.form->SelectedDevice, "AX100");
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin");
  EXPECT_EQ(QApplication::focusWidget(), d.form->SelectEdit);
}

TEST(SelectDialog, ADeviceLineThatFailsToReadGoesToTheErrorReport) {
  Dialog d("[Alpha]\r\nAX100=ax100.bin;3;0\r\nAX200=ax200.bin;7;bad\r\n");
  d.show();
  Dialog::click(d.form->ListBox2, 1);
  ASSERT_EQ(d.recorder.messages.size(), 1u);
  EXPECT_EQ(d.recorder.messages[0].text, "'bad' is not a valid integer value");
  EXPECT_EQ(d.recorder.messages[0].caption, ApplicationTitle());
  EXPECT_EQ(d.recorder.messages[0].flags, unsigned(MB_OK | MB_ICONSTOP));
  EXPECT_TRUE(d.form->isVisible());
  EXPECT_EQ(d.form->SelectedDevice, "AX200");
  EXPECT_EQ(d.form->EepromByte1, 7) << "converted before the failure";
  EXPECT_EQ(d.form->EepromByte6, 0);
  EXPECT_EQ(d.form->StatusText(), "Program is : ax100.bin");
  // The image of the device before must not be confirmed under this name.
  EXPECT_EQ(d.form->ProgramPath, "");
  QTest::mouseClick(d.form->BitBtn1, Qt::LeftButton);
  ASSERT_EQ(d.recorder.messages.size(), 2u);
  EXPECT_EQ(d.recorder.messages[1].text, "The program  is not exists.");
  EXPECT_TRUE(d.form->isVisible());
}

TEST(SelectDialog, AVendorWithoutDevicesListsNothingAndChoosesNothing) {
  Dialog d("[A]\r\n[B]\r\nb1=b.bin;1;2\r\n[C]", {"b.bin"});
  EXPECT_TRUE(d.recorder.messages.empty());
  EXPECT_EQ(d.vendors(), "A*|B|C");
  EXPECT_EQ(d.devices(), "");
  EXPECT_EQ(d.form->SelectedDevice, "");
  EXPECT_EQ(d.form->ProgramPath, "");
  d.show();
  Dialog::click(d.form->ListBox1, 1);
  ASSERT_EQ(d.form->SelectedDevice, "b1");
  Dialog::click(d.form->ListBox1, 2);
  EXPECT_EQ(d.devices(), "");
  EXPECT_EQ(d.form->SelectedDevice, "");
  EXPECT_EQ(d.form->ProgramPath, "");
  QTest::keyClick(d.form->ListBox1, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), d.form->ListBox2);
  QTest::keyClick(d.form->ListBox2, Qt::Key_Return, Qt::ShiftModifier);
  ASSERT_EQ(d.recorder.messages.size(), 1u);
  EXPECT_EQ(d.recorder.messages[0].text, "The program  is not exists.");
  EXPECT_TRUE(d.form->isVisible());
}

}  // namespace
