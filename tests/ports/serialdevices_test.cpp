// The serial devices dialog driven with keys and clicks over a device source
// that the test controls: devices made up as the system reports them, and
// plugging told through a real pipe, as the system's monitor tells it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "comm/Pty.h"
#include "platform/winapi.h"
#include "ports/SerialDevicesForm.h"
#include "support/MessageRecorder.h"
#include "support/Modal.h"
#include "support/TempDir.h"
#include "transfer/Upload.h"

namespace {

const std::string FtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0";
const std::string FtdiLabel = "FT232R USB UART (FTDI), serial number A6008isP, driver ftdi_sio, /dev/ttyUSB0";
const std::string AcmLabel = "Arduino Uno (Arduino), serial number 42, driver cdc_acm, /dev/ttyACM0";
const std::string UartLabel = "UART 16550A, driver serial, /dev/ttyS0";

SerialDeviceRecord Ftdi() {
  return {"/dev/ttyUSB0", "ftdi_sio", "", true, "FTDI", "FT232R USB UART", "A6008isP", "0403:6001", {FtdiById}};
}
SerialDeviceRecord Acm() {
  return {"/dev/ttyACM0", "cdc_acm",   "",
          true,           "Arduino",   "Arduino Uno",
          "42",           "2341:0043", {"/dev/serial/by-id/usb-Arduino_Arduino_Uno_42-if00"}};
}
SerialDeviceRecord Uart(const char* node, const char* portType) {
  return {node, "serial", portType, false, "", "", "", "", {}};
}

// The devices a test puts in place, and a pipe that tells the dialog of a
// change as the system's monitor socket would.
struct FakeDevices {
  std::vector<SerialDeviceRecord> present;
  int pipe[2] = {-1, -1};
  FakeDevices() { EXPECT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0); }
  ~FakeDevices() {
    ::close(pipe[0]);
    ::close(pipe[1]);
  }
  void told() { EXPECT_EQ(::write(pipe[1], "!", 1), 1); }
  void plug(const SerialDeviceRecord& device) {
    present.push_back(device);
    told();
  }
  void unplug(const std::string& node) {
    std::erase_if(present, [&](const SerialDeviceRecord& d) { return d.node == node; });
    told();
  }
};

class FakeSource : public SerialDeviceSource {
 public:
  explicit FakeSource(FakeDevices& devices) : devices(devices) {}
  std::vector<SerialDeviceRecord> Present() override { return devices.present; }
  int ChangeDescriptor() const override { return devices.pipe[0]; }
  bool TakeChanges() override {
    char drained[16];
    bool any = false;
    while (::read(devices.pipe[0], drained, sizeof drained) > 0) any = true;
    return any;
  }

 private:
  FakeDevices& devices;
};

struct Session {
  Installation install;
  MessageRecorder recorder;
  FakeDevices devices;

  // Shows a new dialog over the fake source; act drives it while it is up.
  bool open(const std::function<void(TSerialDevicesForm&)>& act) {
    TSerialDevicesForm form(nullptr, std::make_unique<FakeSource>(devices));
    return WithModal([&] { form.exec(); },
                     [&](QWidget* window) {
                       ASSERT_EQ(window, &form);
                       act(form);
                     });
  }
};

std::string Items(const QComboBox* chooser) {
  std::string items;
  for (int i = 0; i < chooser->count(); ++i) items += (i ? "|" : "") + chooser->itemText(i).toStdString();
  return items;
}

std::string Shown(const QComboBox* chooser) { return chooser->currentText().toStdString(); }

void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(QApplication::focusWidget(), k, modifiers);
}

void typeInto(QComboBox* chooser, const std::string& text) {
  chooser->lineEdit()->selectAll();
  QTest::keyClicks(chooser->lineEdit(), QString::fromStdString(text));
}

TEST(SerialDevicesDialog, OpenedFromTheOptionMenuAfterItsOwnItems) {
  Installation install;
  TMainForm main;
  main.show();
  ASSERT_NE(main.Serialdevices1, nullptr);
  const QList<QAction*> items = main.OptionO1->actions();
  const QList<QAction*> own = {main.Port1, main.Other1, main.Serialdevices1};
  EXPECT_EQ(items, own);
  EXPECT_EQ(main.Serialdevices1->text(), "Serial devices...");
  // Over the system's own devices: whatever they are, each chooser starts
  // with the entry for no mapping, which is chosen.
  ASSERT_TRUE(WithModal([&] { main.Serialdevices1->trigger(); },
                        [&main](QWidget* window) {
                          auto* form = qobject_cast<TSerialDevicesForm*>(window);
                          ASSERT_NE(form, nullptr);
                          EXPECT_EQ(form->windowTitle(), "Serial devices");
                          EXPECT_EQ(form->parentWidget(), &main);
                          for (int n = 1; n <= 4; ++n) {
                            const std::string unmapped = "default (/dev/ttyS" + std::to_string(n - 1) + ")";
                            EXPECT_EQ(form->Chooser(n)->itemText(0).toStdString(), unmapped);
                            EXPECT_EQ(Shown(form->Chooser(n)), unmapped);
                          }
                          form->BitBtn2->click();
                        }));
  EXPECT_FALSE(install.exists("Talvorin.ini"));
}

// What the dialog shows over the saved mapping; Cancel, Esc and the close
// box write nothing.
TEST(SerialDevicesDialog, ShowsPortsAndMappingsAndCancelWritesNothing) {
  Session s;
  PtyPair pty;
  const std::string ini = "[COM port]\r\naddress=0\r\n[COM devices]\r\nCOM1=" + FtdiById + "\r\nCOM3=" + pty.path +
                          "\r\ncom4=/dev/ttyUSB0\r\n";
  s.install.write("Talvorin.ini", ini);
  s.devices.present = {
      Uart("/dev/ttyS1", "0"), Uart("/dev/ttyS0", "4"), Acm(), {"/dev/tty1", "", "", false, "", "", "", "", {}}};
  const std::function<void(TSerialDevicesForm&)> cancels[] = {
      [](TSerialDevicesForm& form) { form.BitBtn2->click(); },
      [](TSerialDevicesForm&) { key(Qt::Key_Escape); },
      [](TSerialDevicesForm& form) { form.windowHandle()->close(); },
  };
  for (const auto& cancel : cancels) {
    ASSERT_TRUE(s.open([&](TSerialDevicesForm& form) {
      EXPECT_EQ(Items(form.ComboBox2), "default (/dev/ttyS1)|" + AcmLabel + "|" + UartLabel)
          << "no consoles, no built-in port without hardware";
      EXPECT_EQ(Shown(form.ComboBox1), FtdiById + " (not connected)");
      EXPECT_EQ(Shown(form.ComboBox2), "default (/dev/ttyS1)");
      EXPECT_EQ(Shown(form.ComboBox3), pty.path);
      EXPECT_EQ(Shown(form.ComboBox4), "/dev/ttyUSB0 (not connected)");
      EXPECT_EQ(form.ChosenDevice(1), FtdiById);
      // Choices change, then the dialog is left without OK.
      form.ComboBox1->setCurrentIndex(1);
      typeInto(form.ComboBox3, "/dev/pts/999");
      cancel(form);
      EXPECT_FALSE(form.isVisible());
    }));
    EXPECT_EQ(s.install.read("Talvorin.ini"), ini);
  }
  EXPECT_TRUE(s.recorder.messages.empty());
}

// Chosen by keys and typed in; OK writes the section, and the transfer
// dialogs then open the chosen device.
TEST(SerialDevicesDialog, ChooseTypeAndOkThenTheTransferOpensTheDevice) {
  Session s;
  PtyPair pty;
  s.install.write("Talvorin.ini",
                  "[COM devices]\r\nCOM1=" + FtdiById + "\r\nCOM9=/dev/ttyS8\r\n[COM port]\r\naddress=3\r\n");
  s.devices.present = {Uart("/dev/ttyS0", "4"), Acm()};
  ASSERT_TRUE(s.open([&](TSerialDevicesForm& form) {
    key(Qt::Key_2, Qt::AltModifier);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_TRUE(focus == form.ComboBox2 || focus == form.ComboBox2->lineEdit()) << "Alt+2 goes to COM2";
    key(Qt::Key_Down);
    EXPECT_EQ(Shown(form.ComboBox2), AcmLabel);
    QTest::mouseClick(form.ComboBox4->lineEdit(), Qt::LeftButton);
    typeInto(form.ComboBox4, "  " + pty.path);
    key(Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM devices]\r\nCOM1=" + FtdiById +
                                                "\r\nCOM2=/dev/serial/by-id/usb-Arduino_Arduino_Uno_42-if00\r\nCOM4=" +
                                                pty.path + "\r\nCOM9=/dev/ttyS8\r\n[COM port]\r\naddress=3\r\n")
      << "the unplugged adapter kept, the ACM device by its by-id name, the typed path trimmed";

  TUForm upload(nullptr, 4);
  ASSERT_TRUE(WithModal([&] { upload.exec(); },
                        [&](QWidget*) {
                          EXPECT_TRUE(upload.Comm1.Enabled()) << "COM4 opened";
                          termios t{};
                          ASSERT_EQ(tcgetattr(pty.master, &t), 0);
                          EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200)) << "on the typed device";
                          upload.BitBtn2->click();
                        }));
  EXPECT_TRUE(s.recorder.messages.empty());
}

// A "Talvorin.ini" that cannot be written: the usual error report, the
// dialog stays open with the choices made, and a later OK saves them.
TEST(SerialDevicesDialog, ReadOnlySettingsFileKeepsTheDialogOpen) {
  Session s;
  const std::string ini = "[COM port]\r\naddress=0\r\n";
  s.install.write("Talvorin.ini", ini);
  s.install.chmod("Talvorin.ini", 0444);
  s.devices.present = {Ftdi()};
  ASSERT_TRUE(s.open([&](TSerialDevicesForm& form) {
    form.ComboBox1->setCurrentIndex(1);
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(s.recorder.messages.size(), 1u);
    EXPECT_EQ(s.recorder.messages[0].text, "Unable to write to " + s.install.file("Talvorin.ini"));
    EXPECT_EQ(s.recorder.messages[0].caption, ApplicationTitle());
    EXPECT_EQ(s.recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(s.install.read("Talvorin.ini"), ini);
    EXPECT_EQ(Shown(form.ComboBox1), FtdiLabel);

    s.install.chmod("Talvorin.ini", 0644);
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
  }));
  EXPECT_EQ(s.install.read("Talvorin.ini"), ini + "[COM devices]\r\nCOM1=" + FtdiById + "\r\n");
  EXPECT_EQ(s.recorder.messages.size(), 1u);
}

// Devices plugged in and out while the dialog is open show up and go at
// once; each chooser keeps its choice, and a path being typed stays.
TEST(SerialDevicesDialog, FollowsPluggingWhileOpen) {
  Session s;
  s.install.write("Talvorin.ini", "[COM devices]\r\nCOM1=" + FtdiById + "\r\n");
  s.devices.present = {Uart("/dev/ttyS0", "4")};
  ASSERT_TRUE(s.open([&](TSerialDevicesForm& form) {
    EXPECT_EQ(Shown(form.ComboBox1), FtdiById + " (not connected)");
    typeInto(form.ComboBox4, "/dev/pts/");

    s.devices.plug(Ftdi());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ComboBox2->count() == 3; }));
    EXPECT_EQ(Items(form.ComboBox1), "default (/dev/ttyS0)|" + FtdiLabel + "|" + UartLabel)
        << "the mapped adapter is back as itself";
    EXPECT_EQ(Shown(form.ComboBox1), FtdiLabel);
    EXPECT_EQ(Shown(form.ComboBox4), "/dev/pts/");
    EXPECT_EQ(form.ComboBox4->lineEdit()->cursorPosition(), 9);

    s.devices.plug(Acm());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ComboBox2->count() == 4; }));
    form.ComboBox2->setCurrentIndex(1);
    EXPECT_EQ(Shown(form.ComboBox2), AcmLabel);

    s.devices.unplug("/dev/ttyACM0");
    s.devices.unplug("/dev/ttyUSB0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ComboBox3->count() == 2; }));
    EXPECT_EQ(Shown(form.ComboBox1), FtdiById + " (not connected)");
    EXPECT_EQ(Shown(form.ComboBox2), "/dev/serial/by-id/usb-Arduino_Arduino_Uno_42-if00 (not connected)")
        << "a choice made while open stays, though its device went";
    EXPECT_EQ(Items(form.ComboBox3), "default (/dev/ttyS2)|" + UartLabel);
    QTest::keyClicks(form.ComboBox4->lineEdit(), "7");
    form.BitBtn1->click();
  }));
  EXPECT_EQ(s.install.read("Talvorin.ini"), "[COM devices]\r\nCOM1=" + FtdiById +
                                                "\r\nCOM2=/dev/serial/by-id/usb-Arduino_Arduino_Uno_42-if00\r\n"
                                                "COM4=/dev/pts/7\r\n");
}

}  // namespace
