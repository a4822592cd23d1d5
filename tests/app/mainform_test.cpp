// The main window driven with keys: caption, menus, shortcuts and the end of
// the program.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <memory>

#include "app/Main.h"
#include "platform/ComDevices.h"
#include "platform/winapi.h"
#include "ports/Selectlpt.h"
#include "support/MessageRecorder.h"
#include "support/Modal.h"
#include "support/TempDir.h"

namespace {

struct ShownMainForm {
  std::unique_ptr<TMainForm> form = std::make_unique<TMainForm>();
  ShownMainForm() {
    MainForm = form.get();
    form->show();
    QApplication::setActiveWindow(form.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  ~ShownMainForm() { MainForm = nullptr; }
};

struct CaptionCase {
  const char* prnport;  // nullptr: no file
  const char* talvorinIni;
  const char* caption;
};

TEST(MainFormCaption, FromEachCombinationOfSettingsFiles) {
  const CaptionCase cases[] = {
      {nullptr, nullptr, "Talvorin V2.20    @LPT 1   @COM 1"},
      {"[port]\r\naddress=2\r\n", "[COM port]\r\naddress=3\r\n", "Talvorin V2.20    @LPT 3   @COM 4"},
      {"[port]\r\naddress=0x2\r\n", nullptr, "Talvorin V2.20    @LPT 3   @COM 1"},
      {"[port]\r\naddress=abc\r\n", "[COM port]\r\naddress=abc\r\n", "Talvorin V2.20    @LPT 1   @COM 1"},
      {"[port]\r\naddress=3\r\n", nullptr, "Talvorin V2.20    @LPT 4   @COM 1"},
      {nullptr, "[port]\r\naddress=3\r\n", "Talvorin V2.20    @LPT 1   @COM 1"},
      {"[port]\r\naddress=-1\r\n", "[COM port]\r\naddress=-1\r\n", "Talvorin V2.20    @LPT 0   @COM 0"},
      // The largest index wraps as in a 32-bit build, in either file and any notation.
      {"[port]\r\naddress=2147483647\r\n", "[COM port]\r\naddress=0x7FFFFFFF\r\n",
       "Talvorin V2.20    @LPT -2147483648   @COM -2147483648"},
      {nullptr, "[COM port]\r\naddress=$7FFFFFFF\r\n", "Talvorin V2.20    @LPT 1   @COM -2147483648"},
  };
  for (const auto& c : cases) {
    Installation install;
    if (c.prnport) install.write("prnport.cfg", c.prnport);
    if (c.talvorinIni) install.write("Talvorin.ini", c.talvorinIni);
    TMainForm form;
    EXPECT_EQ(form.Caption(), c.caption);
    EXPECT_EQ(form.PanelText(0), "");
    EXPECT_EQ(form.PanelText(1), "");
  }
}

// A program path too long for its panel keeps its file name, with an
// ellipsis in the middle; the tooltip shows it whole, and a window wide
// enough shows it as it is.
TEST(MainFormLayout, ALongPathInTheStatusBarKeepsItsFileName) {
  Installation install;
  ShownMainForm shown;
  TMainForm& form = *shown.form;
  const std::string path = " /home/a-user-with-a-long-name/.local/share/talvorin/programs/atmega103.bin";
  form.SetPanelText(1, path);
  const QList<QLabel*> panels = form.StatusBar1->findChildren<QLabel*>();
  ASSERT_EQ(panels.size(), 2);
  QLabel* panel = panels[1];
  const QString seen = panel->text();
  EXPECT_TRUE(seen.endsWith(QStringLiteral("/atmega103.bin")) && seen.contains(QChar(0x2026))) << seen.toStdString();
  EXPECT_TRUE(seen.startsWith(QStringLiteral(" /home/"))) << seen.toStdString();
  EXPECT_LE(panel->fontMetrics().horizontalAdvance(seen), panel->contentsRect().width());
  EXPECT_EQ(panel->toolTip().toStdString(), path);
  EXPECT_EQ(form.PanelText(1), path);
  form.resize(1200, 400);
  EXPECT_TRUE(QTest::qWaitFor([&] { return panel->text().toStdString() == path; }));
}

TEST(MainFormLayout, SizeMenusAndStatusBar) {
  Installation install;
  ShownMainForm shown;
  TMainForm& form = *shown.form;
  EXPECT_EQ(form.frameGeometry().size(), QSize(600, 400));
  EXPECT_EQ(form.StatusBar1->height(), 21);
  QStringList titles;
  for (QAction* a : form.MainMenu1->actions()) titles << a->text();
  EXPECT_EQ(titles.join('|').toStdString(), "&File|&Device|&Option|&Action|&Help");
  QStringList items;
  for (QMenu* m : {form.FileF1, form.Device1, form.OptionO1, form.ActionA1, form.HelpH1})
    for (QAction* a : m->actions())
      items << (a->isSeparator() ? QStringLiteral("-")
                                 : a->text() + "/" + a->shortcut().toString() + (a->isEnabled() ? "" : "/off"));
  // Where COM names are the system's own there are no devices to choose.
  const std::string serialDevices = ComDevicesMappable() ? "Serial devices.../|" : "";
  EXPECT_EQ(items.join('|').toStdString(),
            "Upload/Ctrl+U|Down&load/Ctrl+D|-|E&xit/|Change/Ctrl+C|Port/Ctrl+P|Other//off|" + serialDevices +
                "QELT/Ctrl+G|Content//off|Index//off|-|Abount//off");
}

TEST(MainFormKeys, ShortcutsReachTheirCommandsOnly) {
  Installation install;
  ShownMainForm shown;
  TMainForm& form = *shown.form;
  MessageRecorder recorder;  // Action > QELT reports the missing tool
  QSignalSpy qelt(form.QELT1, &QAction::triggered);
  QSignalSpy change(form.Change1, &QAction::triggered);
  QList<std::shared_ptr<QSignalSpy>> others;
  for (QAction* a : {form.Upload1, form.Download1, form.ExitX1, form.Port1, form.Other1, form.Content1,
                     form.Index1, form.Abount1})
    others << std::make_shared<QSignalSpy>(a, &QAction::triggered);

  QTest::keyClick(&form, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(qelt.count(), 0);
  QTest::keyClick(&form, Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(qelt.count(), 1);
  QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(change.count(), 1);
  for (const auto& spy : others) EXPECT_EQ(spy->count(), 0);
}

TEST(MainFormKeys, GreyedItemsCannotBeChosen) {
  Installation install;
  ShownMainForm shown;
  TMainForm& form = *shown.form;
  QSignalSpy other(form.Other1, &QAction::triggered);
  QSignalSpy abount(form.Abount1, &QAction::triggered);
  form.Other1->trigger();
  form.Abount1->trigger();
  // The Help menu by keyboard: Alt+H, then Enter on every item in turn.
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(&form, Qt::Key_H, Qt::AltModifier);
    QMenu* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_EQ(popup, form.HelpH1);
    for (int k = 0; k < i; ++k) QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Return);
    if (QApplication::activePopupWidget()) QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  }
  EXPECT_EQ(other.count(), 0);
  EXPECT_EQ(abount.count(), 0);
}

TEST(MainFormPort, MissingPrnportShowsTheMessageOnly) {
  Installation install;
  install.write("Talvorin.ini", "[COM port]\r\naddress=1\r\n");
  ShownMainForm shown;
  MessageRecorder recorder;
  QTest::keyClick(shown.form.get(), Qt::Key_P, Qt::ControlModifier);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text,
            install.file("prnport.cfg") +
                " is not exist.\nThe ISP program must in the same directory with Talvorin.EXE .");
  EXPECT_EQ(recorder.messages[0].caption, "ERROR");
  EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONINFORMATION);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The port dialog is built at the first Option > Port, then shown again; it
// goes with its main window.
TEST(MainFormPort, BuildsTheDialogAtItsFirstUseAndKeepsIt) {
  Installation install;
  install.write("prnport.cfg", "[port]\r\naddress=1\r\n");
  {
    ShownMainForm shown;
    ASSERT_EQ(LPTForm, nullptr);
    QWidget* first = nullptr;
    EXPECT_TRUE(WithModal([&] { shown.form->Port1->trigger(); },
                          [&](QWidget* window) {
                            first = window;
                            QTest::keyClick(window, Qt::Key_Escape);
                          }));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, LPTForm);
    EXPECT_EQ(first->parentWidget(), shown.form.get());
    EXPECT_TRUE(WithModal([&] { shown.form->Port1->trigger(); },
                          [&](QWidget* window) {
                            EXPECT_EQ(window, first);
                            EXPECT_EQ(LPTForm->ComboBox1->currentIndex(), 1);
                            LPTForm->ComboBox2->setCurrentIndex(2);
                            LPTForm->BitBtn1->click();
                          }));
    EXPECT_EQ(shown.form->Caption(), "Talvorin V1.00  @LPT 2  @COM 3");
    EXPECT_EQ(shown.form->ComNumber, 3);
  }
  EXPECT_EQ(LPTForm, nullptr);
}

// Runs the event loop until the program ends or five seconds pass.
bool endsTheProgram(const std::function<void()>& request) {
  bool timedOut = false;
  QTimer::singleShot(0, request);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::quit();
  });
  guard.start(5000);
  QCoreApplication::exec();
  return !timedOut;
}

TEST(MainFormEnd, ExitAndTheCloseBoxEndTheProgram) {
  Installation install;
  {
    ShownMainForm shown;
    EXPECT_TRUE(endsTheProgram([&] { shown.form->ExitX1->trigger(); }));
    EXPECT_FALSE(shown.form->isVisible());
  }
  {
    ShownMainForm shown;
    EXPECT_TRUE(endsTheProgram([&] { shown.form->windowHandle()->close(); }));
    EXPECT_FALSE(shown.form->isVisible());
  }
  EXPECT_TRUE(install.read("prnport.cfg").empty() && !install.exists("Talvorin.ini")) << "nothing is written on close";
}

}  // namespace
