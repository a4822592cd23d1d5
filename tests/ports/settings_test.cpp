// The port settings files beside the executable.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ports/PortSettings.h"
#include "support/TempDir.h"
#include "texts/Texts.h"

namespace {

TEST(PortSettings, MissingFilesReadAsIndexZero) {
  Installation install;
  EXPECT_EQ(ReadLptIndex(), 0);
  EXPECT_EQ(ReadComIndex(), 0);
}

TEST(PortSettings, ReadsEachFileItsOwnSection) {
  Installation install;
  install.write("prnport.cfg", "[Recent]\r\nFile0=x\r\n[port]\r\naddress=0x2\r\n");
  install.write("Talvorin.ini", "[port]\r\naddress=2\r\n[COM port]\r\naddress=3\r\n");
  EXPECT_EQ(ReadLptIndex(), 2);
  EXPECT_EQ(ReadComIndex(), 3);
}

TEST(PortSettings, ComDevicesFromTheirOwnSection) {
  Installation install;
  EXPECT_EQ(ComDeviceFromSettings(1), "") << "no file";
  install.write("Talvorin.ini", "[COM port]\r\naddress=1\r\n[COM devices]\r\nCOM2=/dev/ttyUSB0\r\n");
  EXPECT_EQ(ComDeviceFromSettings(2), "/dev/ttyUSB0");
  EXPECT_EQ(ComDeviceFromSettings(1), "");
  EXPECT_EQ(ComDeviceFromSettings(3), "");
}

// One write replaces the section: the other sections, and the section's keys
// for other ports, stay as they were; no device at all removes it.
TEST(PortSettings, ComDevicesWrittenAsOneSection) {
  Installation install;
  install.write("Talvorin.ini",
                "[COM devices]\r\ncom1=/dev/ttyS3\r\nCOM7=/dev/ttyUSB9\r\nCOM3=/dev/pts/1\r\n\r\n"
                "[COM port]\r\naddress=1\r\n");
  WriteComDevices({"/dev/serial/by-id/usb-FTDI-if00-port0", "", "", "/dev/pts/4"});
  EXPECT_EQ(install.read("Talvorin.ini"),
            "[COM devices]\r\nCOM1=/dev/serial/by-id/usb-FTDI-if00-port0\r\nCOM4=/dev/pts/4\r\n"
            "COM7=/dev/ttyUSB9\r\n\r\n[COM port]\r\naddress=1\r\n");
  EXPECT_EQ(ComDeviceFromSettings(4), "/dev/pts/4");

  WriteComDevices({"", "", "", ""});
  EXPECT_EQ(install.read("Talvorin.ini"), "[COM devices]\r\nCOM7=/dev/ttyUSB9\r\n\r\n[COM port]\r\naddress=1\r\n");

  install.write("Talvorin.ini", "[COM port]\r\naddress=1\r\n[COM devices]\r\nCOM2=/dev/ttyACM0\r\n");
  WriteComDevices({"", "", "", ""});
  EXPECT_EQ(install.read("Talvorin.ini"), "[COM port]\r\naddress=1\r\n");
  WriteComDevices({"", "/dev/ttyUSB0", "", ""});
  EXPECT_EQ(install.read("Talvorin.ini"), "[COM port]\r\naddress=1\r\n[COM devices]\r\nCOM2=/dev/ttyUSB0\r\n");

  install.chmod("Talvorin.ini", 0444);
  try {
    WriteComDevices({"/dev/ttyUSB1", "", "", ""});
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + install.file("Talvorin.ini"));
  }
  EXPECT_EQ(install.read("Talvorin.ini"), "[COM port]\r\naddress=1\r\n[COM devices]\r\nCOM2=/dev/ttyUSB0\r\n");
}

TEST(PortSettings, WritesDecimal) {
  Installation install;
  WriteComIndex(-1);
  EXPECT_EQ(install.read("Talvorin.ini"), "[COM port]\r\naddress=-1\r\n");
  install.write("prnport.cfg", "[port]\r\naddress=0\r\n");
  WriteLptIndex(2);
  EXPECT_EQ(install.read("prnport.cfg"), "[port]\r\naddress=2\r\n");
}

TEST(PortSettings, RecentProjectReplacesTheWholeSection) {
  Installation install;
  install.write("prnport.cfg", "[Recent]\r\nFile0=old\r\nFile1=older\r\n[port]\r\naddress=1\r\n");
  WriteRecentProject("/x/TALVOR~1.AVR");
  EXPECT_EQ(install.read("prnport.cfg"), "[port]\r\naddress=1\r\n[Recent]\r\nFile0=/x/TALVOR~1.AVR\r\n");
}

TEST(PortSettings, CaptionsAndMessages) {
  Installation install;
  EXPECT_EQ(Texts::StartupCaption(1, 1), "Talvorin V2.20    @LPT 1   @COM 1");
  EXPECT_EQ(Texts::PortDialogCaption(0, 12), "Talvorin V1.00  @LPT 0  @COM 12");
  EXPECT_EQ(
      Texts::PrnportMissingForPort(PrnportPath()),
      install.file("prnport.cfg") + " is not exist.\nThe ISP program must in the same directory with Talvorin.EXE .");
  EXPECT_EQ(Texts::PrnportMissingForSave(PrnportPath()),
            install.file("prnport.cfg") +
                " is not exist.\nThe ISP program must in the same directory with Talvorin.\nCan not save what "
                "you had select.");
}

}  // namespace
