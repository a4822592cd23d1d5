// The upload and download dialogs end to end: opened from the main window's
// menu, driven with clicks and keys, over the real serial port component and
// the virtual programmer on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "comm/Pty.h"
#include "controls/imGauge.h"
#include "forms/Dlg.h"
#include "platform/Priority.h"
#include "platform/winapi.h"
#include "support/CpuTime.h"
#include "support/DialogSession.h"
#include "support/MessageRecorder.h"
#include "support/Modal.h"
#include "support/TempDir.h"
#include "tools/VprogProcess.h"
#include "transfer/Download.h"
#include "transfer/Upload.h"

namespace {

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

std::string Padded(std::string bytes, size_t block) {
  bytes.resize((bytes.size() + block - 1) / block * block, '\xFF');
  return bytes;
}

// A device that COM1 names instead of the virtual programmer.
struct Com1Device {
  std::string path;
};

// The main window of an installation whose COM1 is the virtual programmer.
struct Session : DialogSession {
  VprogProcess vprog;

  explicit Session(std::vector<std::string> vprogArgs) {
    vprogArgs.insert(vprogArgs.end(), {"--install", install.path(), "--com", "1"});
    EXPECT_TRUE(vprog.Start(VPROG_PATH, vprogArgs));
    showMain();
  }
  explicit Session(const Com1Device& device) {
    mapCom1(device.path);
    showMain();
  }
};

void typeName(QLineEdit* edit, const std::string& name) {
  edit->clear();
  QTest::keyClicks(edit, QString::fromStdString(name));
}

void click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

// The names of the controls that Tab visits, in order, from first on.
std::string TabOrder(QWidget* first, int count) {
  std::string order;
  QWidget* w = first;
  for (int seen = 0; seen < count; w = w->nextInFocusChain()) {
    if (!(w->focusPolicy() & Qt::TabFocus)) continue;
    order += w->objectName().toStdString() + " ";
    ++seen;
  }
  return order;
}

// Runs act after ms milliseconds, from inside whatever loop is running then.
void after(int ms, std::function<void()> act) { QTimer::singleShot(ms, qApp, std::move(act)); }

TEST(UploadDialog, LayoutCaptionAndControls) {
  Session s({"--serve", "/dev/null"});
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    EXPECT_EQ(form.windowTitle(), "Upload data @COM1");
    EXPECT_EQ(form.size(), QSize(291, 83));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(0, 0, 291, 54));
    EXPECT_EQ(form.GroupBox1->title(), " Full path file name you want to save .");
    EXPECT_EQ(form.Edit1->geometry(), QRect(6, 14, 253, 24));
    EXPECT_EQ(form.SpeedButton1->mapTo(&form, QPoint(0, 0)), QPoint(260, 14));
    EXPECT_EQ(form.imGauge1->mapTo(&form, QPoint(0, 0)), QPoint(7, 42));
    EXPECT_EQ(form.imGauge1->size(), QSize(278, 7));
    EXPECT_EQ(form.imGauge1->GaugeDirection(), gdLeft);
    EXPECT_EQ(form.imGauge1->GaugeSize(), 40u);
    EXPECT_EQ(form.BitBtn1->geometry(), QRect(1, 57, 75, 25));
    EXPECT_EQ(form.BitBtn3->geometry(), QRect(136, 57, 75, 25));
    EXPECT_EQ(form.BitBtn2->geometry(), QRect(216, 57, 75, 25));
    EXPECT_EQ(form.BitBtn1->text() + form.BitBtn3->text() + form.BitBtn2->text(), "StartStopClose");
    EXPECT_FALSE(form.BitBtn1->isEnabled());
    EXPECT_FALSE(form.BitBtn3->isEnabled());
    EXPECT_TRUE(form.Edit1->isEnabled() && form.SpeedButton1->isEnabled());
    EXPECT_TRUE(form.Comm1.Enabled());

    EXPECT_EQ(TabOrder(form.BitBtn1, 6), "BitBtn1 Edit1 SpeedButton1 BitBtn2 BitBtn3 BitBtn1 ");

    typeName(form.Edit1, "x");
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    form.Edit1->clear();
    EXPECT_FALSE(form.BitBtn1->isEnabled());

    // Escape does not close it; there is no cancel button.
    QTest::keyClick(form.Edit1, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    click(form.BitBtn2);
  }));
  EXPECT_TRUE(s.boxes.messages.empty());
  EXPECT_TRUE(s.messages.shown.empty());
  EXPECT_EQ(UForm, nullptr);
}

// The keys alone reach every button: Tab leads from the edit box to the
// folder button, Space and Enter press the focused button, Escape leaves the
// idle dialog up.
TEST(TransferDialogs, KeysPressTheFocusedButton) {
  TempDir dir;
  const std::string image = Pattern(300, 6);
  dir.write("image.bin", image);
  Session s({"--serve", dir.file("image.bin"), "--store", dir.file("stored.bin")});
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    const auto key = [&](Qt::Key k) { QTest::keyClick(form.focusWidget(), k); };
    form.Edit1->setFocus();
    key(Qt::Key_Tab);
    ASSERT_EQ(form.focusWidget(), form.SpeedButton1);
    for (const Qt::Key press : {Qt::Key_Space, Qt::Key_Return}) {
      EXPECT_TRUE(WithModal([&] { key(press); },
                            [&](QWidget* window) {
                              EXPECT_EQ(window, form.SaveDialog1);
                              form.SaveDialog1->reject();
                            }));
    }
    typeName(form.Edit1, dir.file("received.bin"));
    form.BitBtn1->setFocus();
    key(Qt::Key_Return);
    EXPECT_EQ(s.vprog.ReadLine(10000).rfind("upload complete", 0), 0u);
    EXPECT_EQ(dir.read("received.bin"), Padded(image, 256));
    form.BitBtn2->setFocus();
    key(Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    key(Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  }));
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("image.bin"));
    form.BitBtn1->setFocus();
    QTest::keyClick(form.BitBtn1, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(s.vprog.ReadLine(10000).rfind("download ended by the host's ESC", 0), 0u);
    form.BitBtn2->setFocus();
    QTest::keyClick(form.BitBtn2, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    QTest::keyClick(form.BitBtn2, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_EQ(s.messages.shown,
            (std::vector<std::string>{"Upload compelete !!!|FINISH !!!", "Download compelete !!!|Job down !!!"}));
}

// The first column, from left on, that holds a dark pixel; -1 when none does.
int FirstDarkColumn(const QImage& image, int from) {
  for (int x = from; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y)
      if (qGray(image.pixel(x, y)) < 128) return x;
  return -1;
}

// Start keeps 2 pixels between its 25 x 21 picture and its caption.
TEST(TransferDialogs, StartPictureAndCaptionTwoPixelsApart) {
  Session s({"--serve", "/dev/null"});
  const auto check = [](QPushButton* start) {
    EXPECT_EQ(start->icon().pixmap(start->iconSize()).size(), QSize(25, 21));
    start->setEnabled(true);
    // A plain red picture shows where the picture ends in the rendering.
    QPixmap red(25, 21);
    red.fill(Qt::red);
    start->setIcon(QIcon(red));
    const QImage shot = start->grab().toImage();
    int pictureRight = -1;
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixel(x, shot.height() / 2) == qRgb(255, 0, 0)) pictureRight = x;
    ASSERT_GE(pictureRight, 24);
    // The caption's ink starts after its own left bearing, measured alone.
    QImage alone(100, shot.height(), QImage::Format_RGB32);
    alone.fill(Qt::white);
    QPainter painter(&alone);
    painter.setFont(start->font());
    painter.setPen(Qt::black);
    painter.drawText(alone.rect(), Qt::AlignLeft | Qt::AlignVCenter, start->text());
    painter.end();
    const int bearing = FirstDarkColumn(alone, 0);
    EXPECT_EQ(FirstDarkColumn(shot, pictureRight + 1) - bearing - pictureRight - 1, 2);
  };
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    check(form.BitBtn1);
    click(form.BitBtn2);
  }));
  ASSERT_TRUE(s.download([&](TDForm& form) {
    check(form.BitBtn1);
    click(form.BitBtn2);
  }));
}

TEST(UploadDialog, ReceivesImagesInBothBlockSizesAndAgain) {
  for (const size_t block : {128u, 256u}) {
    SCOPED_TRACE(block);
    TempDir dir;
    const std::string image = Pattern(3000, static_cast<unsigned>(block));
    dir.write("served.bin", image);
    Session s({"--serve", dir.file("served.bin"), "--block", std::to_string(block)});
    QWidget* owner = nullptr;
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      owner = &form;
      typeName(form.Edit1, dir.file("first.bin"));
      click(form.BitBtn1);
      EXPECT_EQ(dir.read("first.bin"), Padded(image, block));
      EXPECT_TRUE(form.BitBtn1->isEnabled());
      EXPECT_FALSE(form.BitBtn3->isEnabled());
      EXPECT_EQ(form.imGauge1->Percent(), 0);

      // Enter in the edit box starts too; an existing file is replaced.
      dir.write("second.bin", std::string(10000, 'x'));
      typeName(form.Edit1, dir.file("second.bin"));
      QTest::keyClick(form.Edit1, Qt::Key_Return);
      EXPECT_EQ(dir.read("second.bin"), Padded(image, block));
      click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Upload compelete !!!|FINISH !!!",
                                                           "Upload compelete !!!|FINISH !!!"}));
    EXPECT_EQ(s.messages.owners, (std::vector<QWidget*>{owner, owner})) << "owned by the upload dialog";
  }
}

TEST(UploadDialog, RefusesAMissingDirectoryBeforeSendingAnything) {
  TempDir dir;
  Session s({"--serve", "/dev/null"});
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    typeName(form.Edit1, dir.file("no such folder/image.bin"));
    click(form.BitBtn1);
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    EXPECT_FALSE(form.BitBtn3->isEnabled());
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Directory : \" " + dir.file("no such folder") +
                                                         " \" is not exist. Please create it first.|ERROR !!!"}));
  EXPECT_FALSE(dir.exists("no such folder"));
}

TEST(UploadDialog, SaveFileDialogFillsTheEditBox) {
  TempDir dir;
  Session s({"--serve", "/dev/null"});
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    EXPECT_TRUE(WithModal([&] { click(form.SpeedButton1); },
                          [&](QWidget* window) {
                            auto* dialog = qobject_cast<QFileDialog*>(window);
                            ASSERT_EQ(dialog, form.SaveDialog1);
                            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
                            auto* filters = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
                            ASSERT_NE(filters, nullptr);
                            ASSERT_EQ(filters->count(), 1);
                            EXPECT_EQ(filters->itemText(0), "All file format ( *.* )");
                            dialog->setDirectory(QString::fromStdString(dir.path()));
                            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                            ASSERT_NE(name, nullptr);
                            typeName(name, "picked.bin");
                            QTest::keyClick(name, Qt::Key_Return);
                          }));
    EXPECT_EQ(form.Edit1->text().toStdString(), dir.file("picked.bin"));
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    click(form.BitBtn2);
  }));
}

TEST(UploadDialog, EachShowingStartsAfresh) {
  Session s({"--serve", "/dev/null"});
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      EXPECT_TRUE(form.Edit1->text().isEmpty()) << "showing " << i;
      typeName(form.Edit1, "left behind");
      click(form.BitBtn2);
    }));
  }
}

TEST(TransferDialogs, PortInUseLeavesOnlyClose) {
  Session s({"--serve", "/dev/null"});
  // Another program holds COM1.
  HANDLE other = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  // The program's two lines, and which program holds the device: this one.
  const ShownMessage expected{"COM1 can not be opened.\nIt may be used by another program.\n" + s.vprog.Device() +
                                  " : it is busy, held by " + program_invocation_short_name + " (process " +
                                  std::to_string(getpid()) + ").",
                              "ERROR", MB_OK | MB_ICONINFORMATION};
  // The controls are already off when the message comes up.
  std::vector<std::string> atMessage;
  s.boxes.onShow = [&](const ShownMessage&) {
    if (UForm) {
      const bool on = UForm->Edit1->isEnabled() || UForm->SpeedButton1->isEnabled() || UForm->BitBtn1->isEnabled();
      atMessage.push_back(on ? "upload on" : "upload off");
    } else if (DForm) {
      const bool on = DForm->DriveComboBox1->isEnabled() || DForm->DirectoryListBox1->isEnabled() ||
                      DForm->FileListBox1->isEnabled() ||
                      DForm->FileListBox1->palette().color(QPalette::Text) != QColor(192, 192, 192);
      atMessage.push_back(on ? "download on" : "download off");
    }
  };
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    EXPECT_EQ(form.windowTitle(), "");
    EXPECT_FALSE(form.Edit1->isEnabled() || form.SpeedButton1->isEnabled() || form.BitBtn1->isEnabled());
    EXPECT_TRUE(form.BitBtn2->isEnabled());
    click(form.BitBtn2);
  }));
  ASSERT_TRUE(s.download([&](TDForm& form) {
    EXPECT_EQ(form.windowTitle(), "");
    EXPECT_FALSE(form.DriveComboBox1->isEnabled() || form.DirectoryListBox1->isEnabled() ||
                 form.FileListBox1->isEnabled());
    EXPECT_EQ(form.FileListBox1->palette().color(QPalette::Text), QColor(192, 192, 192));
    EXPECT_TRUE(form.Edit1->isEnabled());
    click(form.BitBtn2);
  }));
  EXPECT_EQ(atMessage, (std::vector<std::string>{"upload off", "download off"}));
  ASSERT_EQ(s.boxes.messages.size(), 2u);
  for (const ShownMessage& m : s.boxes.messages) {
    EXPECT_EQ(m.text, expected.text);
    EXPECT_EQ(m.caption, expected.caption);
    EXPECT_EQ(m.flags, expected.flags);
  }
  CloseHandle(other);
}

// A COM number that leads nowhere: the message says where it leads and where
// that is set.
TEST(TransferDialogs, MissingDeviceSaysWhereTheComNumberLeads) {
  TempDir dir;
  Session s(Com1Device{dir.file("ttyUSB7")});
  ASSERT_TRUE(s.download([&](TDForm& form) { click(form.BitBtn2); }));
  ASSERT_EQ(s.boxes.messages.size(), 1u);
  EXPECT_EQ(s.boxes.messages[0].text, "COM1 can not be opened.\nIt may be used by another program.\n" +
                                          dir.file("ttyUSB7") +
                                          " : nothing is connected there. COM numbers are mapped in Option > "
                                          "Serial devices... (section \"COM devices\" of \"Talvorin.ini\").");
}

// The line as the dialog left it, read back from the device's end: the
// pseudo-terminal keeps the speed and framing though it never uses them.
void ExpectLine115200N81WithoutFlowControl(const PtyPair& pty) {
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

DWORD EventMask(TComm& comm) {
  DWORD mask = 0;
  EXPECT_TRUE(GetCommMask(comm.Handle(), &mask));
  return mask;
}

TEST(TransferDialogs, SetUpTheirLineBeforeOpeningIt) {
  {
    PtyPair pty;
    Session s(Com1Device{pty.path});
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      ASSERT_TRUE(form.Comm1.Enabled());
      ExpectLine115200N81WithoutFlowControl(pty);
      EXPECT_EQ(form.Comm1.ReadBufSize(), 258);
      EXPECT_EQ(form.Comm1.WriteBufSize(), 2);
      EXPECT_EQ(EventMask(form.Comm1), EV_RXCHAR);
      EXPECT_EQ(form.Comm1.Options(), TCommOptions{coIgnoreXOff});
      DCB dcb{};
      GetCommState(form.Comm1.Handle(), &dcb);
      EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
      EXPECT_EQ(form.Comm1.FlowControl(), fcNone);
      click(form.BitBtn2);
    }));
  }
  {
    PtyPair pty;
    Session s(Com1Device{pty.path});
    ASSERT_TRUE(s.download([&](TDForm& form) {
      ASSERT_TRUE(form.Comm1.Enabled());
      ExpectLine115200N81WithoutFlowControl(pty);
      EXPECT_EQ(form.Comm1.ReadBufSize(), 2);
      EXPECT_EQ(form.Comm1.WriteBufSize(), 258);
      EXPECT_EQ(EventMask(form.Comm1), 0x01FFu) << "every event";
      EXPECT_EQ(form.Comm1.Options(), TCommOptions{});
      EXPECT_EQ(form.Comm1.FlowControl(), fcNone);
      click(form.BitBtn2);
    }));
  }
}

TEST(DownloadDialog, LayoutPickersAndPriority) {
  TempDir dir;
  dir.write("b.hex", "b");
  dir.write("A.bin", "a");
  QDir().mkpath(QString::fromStdString(dir.file("sub")));
  Session s({"--store", "/dev/null"});
  ASSERT_TRUE(s.download([&](TDForm& form) {
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()),
              PriorityClassReversible() ? IDLE_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(form.windowTitle(), " Download data @COM1");
    EXPECT_EQ(form.size(), QSize(296, 325));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(0, 0, 296, 42));
    EXPECT_EQ(form.GroupBox1->title(), " File Name ");
    EXPECT_EQ(form.Edit1->geometry(), QRect(5, 14, 285, 21));
    EXPECT_EQ(form.DriveComboBox1->geometry(), QRect(2, 45, 145, 22));
    EXPECT_EQ(form.DirectoryListBox1->geometry(), QRect(2, 69, 145, 208));
    EXPECT_EQ(form.FileListBox1->geometry(), QRect(149, 45, 145, 232));
    EXPECT_EQ(form.BitBtn1->geometry(), QRect(6, 280, 81, 25));
    EXPECT_EQ(form.BitBtn3->geometry(), QRect(147, 281, 70, 24));
    EXPECT_EQ(form.BitBtn2->geometry(), QRect(220, 280, 75, 25));
    EXPECT_EQ(form.PBar->geometry(), QRect(0, 307, 296, 18));
    EXPECT_EQ(form.PBar->maximum(), 100);
    EXPECT_EQ(QApplication::focusWidget(), form.Edit1);
    EXPECT_EQ(form.FileListBox1->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(form.DriveComboBox1->itemText(0), "/");

    EXPECT_EQ(TabOrder(form.BitBtn1, 8),
              "BitBtn1 Edit1 DriveComboBox1 DirectoryListBox1 FileListBox1 BitBtn3 BitBtn2 BitBtn1 ");

    // Opening a folder with a double click fills the file list with its files.
    form.SetDirectory(dir.path());
    auto* sub = form.DirectoryListBox1->findItems(QStringLiteral("sub"), Qt::MatchExactly).value(0);
    ASSERT_NE(sub, nullptr);
    const QRect subPlace = form.DirectoryListBox1->visualItemRect(sub);
    QTest::mouseClick(form.DirectoryListBox1->viewport(), Qt::LeftButton, {}, subPlace.center());
    QTest::mouseDClick(form.DirectoryListBox1->viewport(), Qt::LeftButton, {}, subPlace.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Directory() == dir.file("sub"); })) << form.Directory();
    EXPECT_EQ(form.FileListBox1->count(), 0);
    // Enter on the folder above goes back up.
    form.DirectoryListBox1->setFocus();
    form.DirectoryListBox1->setCurrentRow(form.DirectoryListBox1->currentRow() - 1);
    QTest::keyClick(form.DirectoryListBox1, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Directory() == dir.path(); })) << form.Directory();
    ASSERT_EQ(form.FileListBox1->count(), 2);
    EXPECT_EQ(form.FileListBox1->item(0)->text(), "A.bin");

    // A click in the file list names the file with its full path.
    const QRect place = form.FileListBox1->visualItemRect(form.FileListBox1->item(1));
    QTest::mouseClick(form.FileListBox1->viewport(), Qt::LeftButton, {}, place.center());
    EXPECT_EQ(form.Edit1->text().toStdString(), dir.file("b.hex"));
    EXPECT_TRUE(form.BitBtn1->isEnabled());

    QTest::keyClick(form.Edit1, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    click(form.BitBtn2);
  }));
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS);
  EXPECT_EQ(DForm, nullptr);
}

// Tab into the file list selects nothing there: Start sends the file that
// was typed, and the programmer stores that one. The keys that choose an
// entry still pick it.
TEST(DownloadDialog, TabThroughTheFileListSendsTheTypedFile) {
  TempDir dir;
  dir.write("-", Pattern(7 * 1024, 1));
  const std::string typed = Pattern(64 * 1024, 2);
  dir.write("r64k.bin", typed);
  Session s({"--store", dir.file("stored.bin")});
  ASSERT_TRUE(s.download([&](TDForm& form) {
    const auto key = [&](Qt::Key k) { QTest::keyClick(form.focusWidget(), k); };
    form.SetDirectory(dir.path());
    form.Edit1->setFocus();
    typeName(form.Edit1, dir.file("r64k.bin"));
    for (int i = 0; i < 3; ++i) key(Qt::Key_Tab);
    ASSERT_EQ(form.focusWidget(), form.FileListBox1);
    EXPECT_EQ(form.Edit1->text().toStdString(), dir.file("r64k.bin"));
    key(Qt::Key_Tab);
    key(Qt::Key_Tab);
    ASSERT_EQ(form.focusWidget(), form.BitBtn1);
    key(Qt::Key_Space);
    EXPECT_EQ(s.vprog.ReadLine(10000),
              "download ended by the host's ESC: 256 blocks of 256 bytes (" + dir.file("stored.bin") + ")");
    const std::string stored = dir.read("stored.bin");
    EXPECT_TRUE(stored == typed) << "stored " << stored.size() << " bytes";

    // The arrow keys choose, and the choice names the file.
    form.FileListBox1->setFocus();
    key(Qt::Key_Down);
    EXPECT_EQ(form.Edit1->text().toStdString(), dir.file(form.FileListBox1->currentItem()->text().toStdString()));
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Download compelete !!!|Job down !!!"}));
}

TEST(DownloadDialog, SendsFilesInBothBlockSizesAndAgain) {
  for (const int block : {128, 256}) {
    SCOPED_TRACE(block);
    TempDir dir;
    const std::string file = Pattern(1000, static_cast<unsigned>(block));
    dir.write("image.bin", file);
    Session s({"--store", dir.file("stored.bin"), "--block", std::to_string(block)});
    const int blocks = (1000 + block - 1) / block;
    const std::string summary = "download ended by the host's ESC: " + std::to_string(blocks) + " blocks of " +
                                std::to_string(block) + " bytes (" + dir.file("stored.bin") + ")";
    ASSERT_TRUE(s.download([&](TDForm& form) {
      typeName(form.Edit1, dir.file("image.bin"));
      click(form.BitBtn1);
      EXPECT_EQ(form.PBar->maximum(), blocks);
      EXPECT_EQ(form.PBar->value(), blocks);
      EXPECT_TRUE(form.BitBtn1->isEnabled());
      EXPECT_FALSE(form.BitBtn3->isEnabled());
      EXPECT_EQ(s.vprog.ReadLine(10000), summary);
      EXPECT_EQ(dir.read("stored.bin"), Padded(file, static_cast<size_t>(block)));

      // Start again at once, with Enter: the bar starts again from 0.
      dir.write("image.bin", file.substr(0, 200));
      QTest::keyClick(form.Edit1, Qt::Key_Return);
      EXPECT_EQ(form.PBar->maximum(), (200 + block - 1) / block);
      EXPECT_EQ(form.PBar->value(), form.PBar->maximum());
      s.vprog.ReadLine(10000);  // the programmer has stored it
      EXPECT_EQ(dir.read("stored.bin"), Padded(file.substr(0, 200), static_cast<size_t>(block)));

      // An empty file has no blocks: the bar stands empty instead of showing "busy".
      dir.write("image.bin", "");
      QTest::keyClick(form.Edit1, Qt::Key_Return);
      EXPECT_LT(form.PBar->minimum(), form.PBar->maximum());
      EXPECT_EQ(form.PBar->value(), form.PBar->minimum());
      click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, std::vector<std::string>(3, "Download compelete !!!|Job down !!!"));
  }
}

TEST(DownloadDialog, MissingFileAndEmptyName) {
  TempDir dir;
  Session s({"--store", "/dev/null"});
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("nothing.bin"));
    click(form.BitBtn1);
    form.Edit1->clear();
    EXPECT_FALSE(form.BitBtn1->isEnabled());
    // Enter still starts with an empty name.
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    EXPECT_FALSE(form.BitBtn3->isEnabled());
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"File : " + dir.file("nothing.bin") + " is not exist.|ERROR",
                                                         "File :  is not exist.|ERROR"}));
}

TEST(DownloadDialog, EscapeBreaksTheWaitAndLeavesTheDialogUp) {
  TempDir dir;
  dir.write("image.bin", Pattern(500, 1));
  Session s({"--silent", "--store", "/dev/null"});
  ASSERT_TRUE(s.download([&](TDForm& form) {
    form.SetDirectory(dir.path());
    typeName(form.Edit1, dir.file("image.bin"));
    form.Edit1->setFocus();
    // During the wait a click in the file list changes nothing, and a second
    // start is ignored.
    // Escape reaches the transfer while it rests between passes, and ends it
    // at once rather than at the next request.
    QElapsedTimer sincePress;
    after(200, [&] {
      EXPECT_TRUE(form.Transferring());
      EXPECT_TRUE(form.BitBtn3->isEnabled());
      EXPECT_FALSE(form.BitBtn1->isEnabled());
      const QRect place = form.FileListBox1->visualItemRect(form.FileListBox1->item(0));
      QTest::mouseClick(form.FileListBox1->viewport(), Qt::LeftButton, {}, place.center());
      EXPECT_EQ(form.Edit1->text().toStdString(), dir.file("image.bin"));
      QTest::keyClick(form.Edit1, Qt::Key_Return);
      QTest::keyClick(form.Edit1, Qt::Key_Escape);
      sincePress.start();
    });
    click(form.BitBtn1);
    EXPECT_LT(sincePress.elapsed(), 500) << "Escape waited for something";
    EXPECT_FALSE(form.Transferring());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.BitBtn1->isEnabled());
    EXPECT_FALSE(form.BitBtn3->isEnabled());
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown,
            (std::vector<std::string>{"USER Break !!!\n ( It is waiting for ACK. )|USER BREAK!!!"}));
}

TEST(TransferDialogs, CloseDuringATransferWaitsForItsEnd) {
  TempDir dir;
  const std::string file = Pattern(40000, 2);
  dir.write("image.bin", file);
  Session s({"--pace", "--store", dir.file("stored.bin")});
  bool closedInTransfer = false;
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("image.bin"));
    after(400, [&] {
      click(form.BitBtn2);
      closedInTransfer = form.Transferring() && form.isVisible();
    });
    click(form.BitBtn1);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_TRUE(closedInTransfer) << "the dialog stayed up while Start ran";
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"User press ESC !!!|USER BREAK !!!"}));
  // The programmer keeps the whole blocks that arrived before the break.
  const std::string stored = dir.read("stored.bin");
  EXPECT_GT(stored.size(), 0u);
  EXPECT_EQ(stored.size() % 256, 0u);
  EXPECT_LT(stored.size(), file.size());
  EXPECT_EQ(stored, file.substr(0, stored.size()));
}

// A paced transfer spends its time resting until the line has something,
// not polling it: the user-interface thread, which runs the transfer, is
// mostly asleep, whatever else the machine runs.
TEST(TransferDialogs, PacedTransfersRestBetweenPasses) {
  TempDir dir;
  const std::string file = Pattern(8192, 5);
  dir.write("image.bin", file);
  Session s({"--pace", "--store", dir.file("stored.bin"), "--serve", dir.file("image.bin")});
  double download = 1, upload = 1;
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("image.bin"));
    download = ThreadBusyShareWhile([&] { click(form.BitBtn1); });
    click(form.BitBtn2);
  }));
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    typeName(form.Edit1, dir.file("received.bin"));
    upload = ThreadBusyShareWhile([&] { click(form.BitBtn1); });
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Download compelete !!!|Job down !!!",
                                                        "Upload compelete !!!|FINISH !!!"}));
  EXPECT_EQ(dir.read("stored.bin"), file);
  EXPECT_EQ(dir.read("received.bin"), file);
  EXPECT_LT(download, kAtRest) << "the download spins";
  EXPECT_LT(upload, kAtRest) << "the upload spins";
}

const std::string kDisconnected = "COM1 was disconnected.\nThe programmer is no longer connected.";

// Nothing in the process spins while the dialog waits for the user.
void ExpectNothingSpins() {
  EXPECT_LT(CpuShareWhile([] { QTest::qWait(1000); }), kAtRest) << "something spins";
}

// Back at rest after a transfer: the dialog up, Start on, Stop off.
void ExpectAtRest(TTransferForm& form) {
  EXPECT_FALSE(form.Transferring());
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.BitBtn1->isEnabled());
  EXPECT_FALSE(form.BitBtn3->isEnabled());
  ExpectNothingSpins();
}

// A programmer that floods the line does not freeze the dialog: the bytes
// that keep coming make a reply that fails the handshake.
TEST(DownloadDialog, AFloodingProgrammerFailsTheHandshake) {
  TempDir dir;
  dir.write("image.bin", Pattern(500, 1));
  Session s(std::vector<std::string>{"--flood"});
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("image.bin"));
    click(form.BitBtn1);
    ExpectAtRest(form);
    click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Something wrong. Can not get block size.|ERROR"}));
}

TEST(DownloadDialog, AProgrammerThatExitsMidwayEndsTheTransferAtOnce) {
  for (const int block : {128, 256}) {
    SCOPED_TRACE(block);
    TempDir dir;
    dir.write("image.bin", Pattern(40000, 3));
    Session s({"--pace", "--block", std::to_string(block), "--store", "/dev/null"});
    ASSERT_TRUE(s.download([&](TDForm& form) {
      typeName(form.Edit1, dir.file("image.bin"));
      // The programmer exits as the third block is about to be offered.
      QObject::connect(form.PBar, &QProgressBar::valueChanged, &form, [&](int value) {
        if (value == 3) s.vprog.Stop();
      });
      click(form.BitBtn1);
      EXPECT_EQ(form.PBar->value(), 3) << "the bar keeps its place";
      EXPECT_EQ(form.PBar->maximum(), (40000 + block - 1) / block);
      ExpectAtRest(form);
      click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "|ERROR"}));
  }
}

// A programmer that stops reading in the middle of a block holds the write,
// whose own limit is minutes a block; Stop still ends the transfer at once.
TEST(DownloadDialog, StopEndsAWriteThatTheProgrammerDoesNotTake) {
  TempDir dir;
  dir.write("image.bin", Pattern(1 << 18, 6));
  PtyPair line;
  Session s(Com1Device{line.path});
  std::atomic<bool> ended = false, readsAgain = false;
  // Should the write hold the dialog, the programmer reads again after a
  // while, so that the test fails instead of waiting minutes.
  std::thread programmer([&] {
    if (!line.AnswerThenStopReading(1024)) return;
    for (int waited = 0; waited < 150 && !ended; ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    readsAgain = true;
    while (!ended) line.Receive(1 << 16);
  });
  QElapsedTimer sinceStop;
  ASSERT_TRUE(s.download([&](TDForm& form) {
    typeName(form.Edit1, dir.file("image.bin"));
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &form, [&] {
      if (sinceStop.isValid() || readsAgain || !line.LineStalled()) return;
      sinceStop.start();
      click(form.BitBtn3);
    });
    watch.start(100);
    click(form.BitBtn1);
    ended = true;
    EXPECT_TRUE(sinceStop.isValid());
    EXPECT_LT(sinceStop.elapsed(), 1000) << "the write held the dialog";
    ExpectAtRest(form);
    click(form.BitBtn2);
  }));
  ended = true;
  programmer.join();
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"User press ESC !!!|USER BREAK !!!"}));
}

TEST(UploadDialog, AProgrammerThatExitsMidwayLeavesTheWholeBlocks) {
  for (const size_t block : {128u, 256u}) {
    SCOPED_TRACE(block);
    TempDir dir;
    const std::string image = Pattern(40000, 4);
    dir.write("served.bin", image);
    Session s({"--pace", "--block", std::to_string(block), "--serve", dir.file("served.bin")});
    const std::string received = dir.file("received.bin");
    std::string kept;
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      typeName(form.Edit1, received);
      // The programmer exits once three blocks are in the temporary file
      // that takes the file's place at the end.
      QTimer watch;
      watch.setInterval(2);
      QObject::connect(&watch, &QTimer::timeout, [&] {
        std::error_code error;
        std::uintmax_t written = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path(), error))
          if (entry.path().filename().string().rfind(".received.bin.tmp-", 0) == 0) written = entry.file_size(error);
        if (written < 3 * block || error) return;
        watch.stop();
        s.vprog.Stop();
      });
      watch.start();
      click(form.BitBtn1);
      kept = dir.read("received.bin");
      ExpectAtRest(form);
      click(form.BitBtn2);
    }));
    EXPECT_GE(kept.size(), 3 * block);
    EXPECT_LT(kept.size(), image.size());
    EXPECT_EQ(kept.size() % block, 0u) << "whole blocks only";
    EXPECT_EQ(kept, image.substr(0, kept.size()));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "\n" + std::to_string(kept.size()) +
                                                          " bytes are saved in " + received + " .|ERROR !!!"}));
  }
}

// The programmer goes while the dialog waits for the user: nothing spins,
// and the next Start says why it cannot go on.
TEST(TransferDialogs, AProgrammerThatExitsBeforeStartIsReportedAtStart) {
  TempDir dir;
  dir.write("image.bin", Pattern(300, 5));
  {
    Session s({"--store", "/dev/null"});
    ASSERT_TRUE(s.download([&](TDForm& form) {
      s.vprog.Stop();
      ExpectNothingSpins();
      typeName(form.Edit1, dir.file("image.bin"));
      click(form.BitBtn1);
      ExpectAtRest(form);
      click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "|ERROR"}));
  }
  {
    Session s({"--serve", dir.file("image.bin")});
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      s.vprog.Stop();
      ExpectNothingSpins();
      typeName(form.Edit1, dir.file("received.bin"));
      click(form.BitBtn1);
      ExpectAtRest(form);
      click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "|ERROR !!!"}));
    EXPECT_FALSE(dir.exists("received.bin"));
  }
}

TEST(TransferDialogs, CloseBoxLetsTheTransferFinish) {
  TempDir dir;
  const std::string image = Pattern(4096, 9);
  dir.write("served.bin", image);
  Session s({"--pace", "--serve", dir.file("served.bin")});
  bool stillUp = false;
  ASSERT_TRUE(s.upload([&](TUForm& form) {
    typeName(form.Edit1, dir.file("received.bin"));
    after(100, [&] {
      form.windowHandle()->close();
      stillUp = form.Transferring() && form.isVisible();
    });
    click(form.BitBtn1);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_TRUE(stillUp);
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Upload compelete !!!|FINISH !!!"}));
  EXPECT_EQ(dir.read("received.bin"), image);
}

}  // namespace
