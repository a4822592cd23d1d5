// The port selection dialog, opened with Option > Port and driven with keys
// and clicks: what it shows, what it saves, and how it fails.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/Main.h"
#include "forms/MessageBoxes.h"
#include "platform/winapi.h"
#include "ports/Selectlpt.h"
#include "support/MessageRecorder.h"
#include "support/Modal.h"
#include "support/TempDir.h"

namespace {

const char* const Prnport = "[Recent]\r\nFile0=C:\\TALVOR~1.AVR\r\n[port]\r\naddress=0\r\n";
const char* const Ini = "[COM port]\r\naddress=0\r\n";
const char* const StartCaption = "Talvorin V2.20    @LPT 1   @COM 1";

// The main window and the port dialog over a fresh installation.
struct Session {
  Installation install;
  MessageRecorder recorder;
  std::unique_ptr<TMainForm> main;

  Session(const char* prnport, const char* ini) {
    if (prnport) install.write("prnport.cfg", prnport);
    if (ini) install.write("Talvorin.ini", ini);
    main = std::make_unique<TMainForm>();
    MainForm = main.get();
    LPTForm = new TLPTForm(main.get());
    main->show();
  }
  ~Session() {
    delete LPTForm;
    LPTForm = nullptr;
    MainForm = nullptr;
  }

  // Option > Port by its shortcut; act drives the dialog while it is up.
  bool openPort(const std::function<void(TLPTForm&)>& act) {
    main->windowHandle()->requestActivate();
    EXPECT_TRUE(QTest::qWaitForWindowActive(main.get()));
    return WithModal([this] { QTest::keyClick(main.get(), Qt::Key_P, Qt::ControlModifier); },
                     [&](QWidget* window) {
                       ASSERT_EQ(window, LPTForm);
                       act(*LPTForm);
                     });
  }
};

void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(QApplication::focusWidget(), k, modifiers);
}

// The chooser or button that has the keyboard focus.
QWidget* focusedControl() {
  QWidget* focus = QApplication::focusWidget();
  return qobject_cast<QComboBox*>(focus->parentWidget()) ? focus->parentWidget() : focus;
}

// LPT 2 and COM 3 by keys, from LPT 1 and COM 1; focus ends in the COM chooser.
void chooseLpt2Com3(TLPTForm& form) {
  ASSERT_EQ(focusedControl(), form.ComboBox1) << "the LPT chooser comes first";
  key(Qt::Key_Down);
  key(Qt::Key_Tab);
  key(Qt::Key_Down);
  key(Qt::Key_Down);
  EXPECT_EQ(form.ComboBox1->currentText(), "LPT 2");
  EXPECT_EQ(form.ComboBox2->currentText(), "COM 3");
}

void closeBox(TLPTForm& form) { form.windowHandle()->close(); }

// A button's access key clicks it a moment later, as a mouse click would.
bool closes(TLPTForm& form) {
  return QTest::qWaitFor([&] { return !form.isVisible(); });
}

TEST(PortDialog, LayoutAndStartingChoice) {
  Session s("[port]\r\naddress=2\r\n", "[COM port]\r\naddress=1\r\n");
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    EXPECT_EQ(form.windowTitle(), "Select PORT.");
    EXPECT_EQ(form.size(), QSize(193, 121));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "not resizable";
    EXPECT_FALSE(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.parentWidget(), MainForm);
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(0, -1, 192, 44));
    EXPECT_EQ(form.GroupBox1->title(), "LPT Port : ");
    EXPECT_EQ(form.GroupBox2->geometry(), QRect(0, 45, 192, 44));
    EXPECT_EQ(form.GroupBox2->title(), "COM Port :");
    EXPECT_EQ(form.ComboBox1->geometry(), QRect(8, 14, 177, 21));
    EXPECT_EQ(form.ComboBox2->geometry(), QRect(8, 60, 177, 21));
    EXPECT_EQ(form.ComboBox1->parentWidget(), &form) << "the frames lie beside the choosers";
    EXPECT_EQ(form.BitBtn1->geometry(), QRect(2, 95, 81, 25));
    EXPECT_EQ(form.BitBtn2->geometry(), QRect(109, 95, 81, 25));
    EXPECT_EQ(form.BitBtn1->text(), "&OK");
    EXPECT_EQ(form.BitBtn2->text(), "&Cancel");
    EXPECT_FALSE(form.BitBtn1->icon().isNull() || form.BitBtn2->icon().isNull());
    EXPECT_TRUE(form.BitBtn1->isDefault());
    QStringList items;
    for (QComboBox* c : {form.ComboBox1, form.ComboBox2})
      for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    EXPECT_EQ(items.join('|').toStdString(), "LPT 1|LPT 2|LPT 3|COM 1|COM 2|COM 3|COM 4");
    EXPECT_TRUE(form.ComboBox1->isEditable() && form.ComboBox2->isEditable());
    EXPECT_EQ(form.ComboBox1->currentText(), "LPT 3");
    EXPECT_EQ(form.ComboBox2->currentText(), "COM 2");
    QStringList order;
    for (int i = 0; i < 5; ++i) {
      order << focusedControl()->objectName();
      key(Qt::Key_Tab);
    }
    EXPECT_EQ(order.join('|').toStdString(), "ComboBox1|ComboBox2|BitBtn1|BitBtn2|ComboBox1");
    form.BitBtn2->click();
  }));
  EXPECT_TRUE(s.recorder.messages.empty());
}

// OK saves both choices, however it is pressed.
TEST(PortDialog, OkSavesBothChoicesAndUpdatesTheMainWindow) {
  const std::pair<const char*, std::function<void(TLPTForm&)>> confirms[] = {
      {"Enter in the COM chooser", [](TLPTForm&) { key(Qt::Key_Return); }},
      {"click on OK", [](TLPTForm& form) { QTest::mouseClick(form.BitBtn1, Qt::LeftButton); }},
      {"Alt+O", [](TLPTForm&) { key(Qt::Key_O, Qt::AltModifier); }},
  };
  for (const auto& [how, confirm] : confirms) {
    SCOPED_TRACE(how);
    Session s(Prnport, nullptr);
    ASSERT_TRUE(s.openPort([&](TLPTForm& form) {
      chooseLpt2Com3(form);
      confirm(form);
      EXPECT_TRUE(closes(form));
    }));
    EXPECT_EQ(s.install.read("prnport.cfg"), "[Recent]\r\nFile0=C:\\TALVOR~1.AVR\r\n[port]\r\naddress=1\r\n");
    EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=2\r\n") << "created by the save";
    EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 2  @COM 3");
    EXPECT_EQ(s.main->LptNumber, 2);
    EXPECT_EQ(s.main->ComNumber, 3);
    EXPECT_TRUE(s.recorder.messages.empty());
  }
}

// Cancel, Esc and the close box save nothing, after both choosers changed.
TEST(PortDialog, CancelEscAndTheCloseBoxSaveNothing) {
  const std::pair<const char*, std::function<void(TLPTForm&)>> cancels[] = {
      {"click on Cancel", [](TLPTForm& form) { QTest::mouseClick(form.BitBtn2, Qt::LeftButton); }},
      {"Esc", [](TLPTForm&) { key(Qt::Key_Escape); }},
      {"Alt+C", [](TLPTForm&) { key(Qt::Key_C, Qt::AltModifier); }},
      {"close box", closeBox},
  };
  for (const auto& [how, cancel] : cancels) {
    SCOPED_TRACE(how);
    Session s(Prnport, Ini);
    ASSERT_TRUE(s.openPort([&](TLPTForm& form) {
      chooseLpt2Com3(form);
      cancel(form);
      EXPECT_TRUE(closes(form));
    }));
    EXPECT_EQ(s.install.read("prnport.cfg"), Prnport);
    EXPECT_EQ(s.install.read("Talvorin.ini"), Ini);
    EXPECT_EQ(s.main->Caption(), StartCaption);
    EXPECT_EQ(s.main->LptNumber, 1);
    EXPECT_EQ(s.main->ComNumber, 1);
    EXPECT_TRUE(s.recorder.messages.empty());
  }
}

// While a chooser's list is dropped down, Enter and Esc close the list only.
TEST(PortDialog, EnterAndEscCloseADroppedDownListOnly) {
  Session s(Prnport, Ini);
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    for (Qt::Key closing : {Qt::Key_Escape, Qt::Key_Return}) {
      key(Qt::Key_F4);
      QWidget* list = QApplication::activePopupWidget();
      ASSERT_NE(list, nullptr) << "F4 drops the list down";
      QAbstractItemView* items = form.ComboBox1->view();
      EXPECT_EQ(items->visualRect(items->model()->index(1, 0)).height(), 13);
      key(Qt::Key_Down);
      key(closing);
      EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
      EXPECT_TRUE(form.isVisible());
    }
    EXPECT_EQ(form.ComboBox1->currentText(), "LPT 2") << "Enter picked the highlighted entry";
    key(Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_EQ(s.install.read("prnport.cfg"), Prnport);
  EXPECT_EQ(s.install.read("Talvorin.ini"), Ini);
}

// A choice typed into a chooser's field counts when it names an entry.
TEST(PortDialog, TypedChoices) {
  Session s(Prnport, Ini);
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    form.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(form.ComboBox1->lineEdit(), "lpt 3");
    form.ComboBox2->lineEdit()->selectAll();
    QTest::keyClicks(form.ComboBox2->lineEdit(), "COM 9");
    form.BitBtn1->click();
  }));
  EXPECT_EQ(s.install.read("prnport.cfg"), "[Recent]\r\nFile0=C:\\TALVOR~1.AVR\r\n[port]\r\naddress=2\r\n");
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=-1\r\n");
  EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 3  @COM 0");
}

// "prnport.cfg" gone by the time OK is pressed: COM is saved, LPT only shown.
TEST(PortDialog, PrnportRemovedWhileOpen) {
  Session s(Prnport, Ini);
  ASSERT_TRUE(s.openPort([&](TLPTForm& form) {
    chooseLpt2Com3(form);
    std::remove(s.install.file("prnport.cfg").c_str());
    key(Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  }));
  ASSERT_EQ(s.recorder.messages.size(), 1u);
  EXPECT_EQ(s.recorder.messages[0].text,
            s.install.file("prnport.cfg") +
                " is not exist.\nThe ISP program must in the same directory with Talvorin.\nCan not save what you "
                "had select.");
  EXPECT_EQ(s.recorder.messages[0].caption, "ERROR");
  EXPECT_EQ(s.recorder.messages[0].flags, MB_OK | MB_ICONINFORMATION);
  EXPECT_FALSE(s.install.exists("prnport.cfg")) << "never created";
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=2\r\n");
  EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 2  @COM 3");
  EXPECT_EQ(s.main->LptNumber, 2);
  EXPECT_EQ(s.main->ComNumber, 3);

  // Option > Port refuses until the file is back; then it shows the file's value.
  EXPECT_FALSE(s.openPort([](TLPTForm&) {}));
  EXPECT_EQ(s.recorder.messages.size(), 2u);
  s.install.write("prnport.cfg", "[port]\r\naddress=2\r\n");
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    EXPECT_EQ(form.ComboBox1->currentText(), "LPT 3");
    EXPECT_EQ(form.ComboBox2->currentText(), "COM 3");
    key(Qt::Key_Escape);
  }));
}

// An index outside a chooser's list leaves no selection; OK then saves -1.
TEST(PortDialog, IndexOutOfRange) {
  Session s("[port]\r\naddress=3\r\n", "[COM port]\r\naddress=-2\r\n");
  EXPECT_EQ(s.main->Caption(), "Talvorin V2.20    @LPT 4   @COM -1");
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox1->currentText(), "");
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox2->currentText(), "");
    key(Qt::Key_Return);
  }));
  EXPECT_EQ(s.install.read("prnport.cfg"), "[port]\r\naddress=-1\r\n");
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=-1\r\n");
  EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 0  @COM 0");
  EXPECT_EQ(s.main->LptNumber, 0);
  EXPECT_EQ(s.main->ComNumber, 0);
}

// A refused write is reported, keeps the dialog open and leaves the main
// window alone; any later close of the same showing saves again.
TEST(PortDialog, RefusedWriteKeepsTheDialogOpen) {
  const struct {
    const char* readOnly;
    const char* comAfterFailure;  // Talvorin.ini after the failed OK
  } cases[] = {
      {"Talvorin.ini", Ini},
      {"prnport.cfg", "[COM port]\r\naddress=2\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readOnly);
    Session s(Prnport, Ini);
    s.install.chmod(c.readOnly, 0444);
    ASSERT_TRUE(s.openPort([&](TLPTForm& form) {
      chooseLpt2Com3(form);
      key(Qt::Key_Return);
      EXPECT_TRUE(form.isVisible());
      EXPECT_TRUE(Confirmed);
      ASSERT_EQ(s.recorder.messages.size(), 1u);
      EXPECT_EQ(s.recorder.messages[0].text, "Unable to write to " + s.install.file(c.readOnly));
      EXPECT_EQ(s.recorder.messages[0].caption, ApplicationTitle());
      EXPECT_EQ(s.recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
      EXPECT_EQ(s.install.read("prnport.cfg"), Prnport);
      EXPECT_EQ(s.install.read("Talvorin.ini"), c.comAfterFailure);
      EXPECT_EQ(s.main->Caption(), StartCaption);
      EXPECT_EQ(s.main->ComNumber, 1);

      s.install.chmod(c.readOnly, 0644);
      QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
      EXPECT_FALSE(form.isVisible());
    }));
    EXPECT_EQ(s.recorder.messages.size(), 1u);
    EXPECT_EQ(s.install.read("prnport.cfg"), "[Recent]\r\nFile0=C:\\TALVOR~1.AVR\r\n[port]\r\naddress=1\r\n");
    EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=2\r\n");
    EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 2  @COM 3");
    EXPECT_EQ(s.main->ComNumber, 3);
  }
}

// The next showing starts from the saved files and from an unconfirmed state.
TEST(PortDialog, ShowingAgainAfterASave) {
  Session s(Prnport, Ini);
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    chooseLpt2Com3(form);
    key(Qt::Key_Return);
  }));
  s.install.write("Talvorin.ini", "[COM port]\r\naddress=3\r\n");
  ASSERT_TRUE(s.openPort([](TLPTForm& form) {
    EXPECT_FALSE(Confirmed);
    EXPECT_EQ(form.ComboBox1->currentText(), "LPT 2");
    EXPECT_EQ(form.ComboBox2->currentText(), "COM 4");
    key(Qt::Key_Down);
    QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
  }));
  EXPECT_EQ(s.install.read("prnport.cfg"), "[Recent]\r\nFile0=C:\\TALVOR~1.AVR\r\n[port]\r\naddress=1\r\n");
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM port]\r\naddress=3\r\n");
  EXPECT_EQ(s.main->Caption(), "Talvorin V1.00  @LPT 2  @COM 3");
}

}  // namespace
