// The port settings files beside the executable.
#include <gtest/gtest.h>

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
