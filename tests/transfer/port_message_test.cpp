// The message for a COM port that did not open: the program's two lines, and
// the reason on a third where the system told it.
#include <gtest/gtest.h>

#include <utility>

#include "transfer/PortMessage.h"

namespace {

using Cause = PortOpenFailure::Cause;

const std::string Lines = "COM3 can not be opened.\nIt may be used by another program.";
const std::string MappingHint =
    " COM numbers are mapped in Option > Serial devices... (section \"COM devices\" of \"Talvorin.ini\").";

PortOpenFailure Failure(Cause cause, const std::string& group = "", const std::string& holder = "", int pid = 0) {
  return PortOpenFailure{cause, "/dev/ttyUSB0", group, holder, pid, true};
}

TEST(PortOpenMessage, OneLineForEachKnownCause) {
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Unknown)), Lines);
  // Where the device is wrong, the COM number's mapping may be.
  const std::pair<Cause, std::string> wrongDevices[] = {
      {Cause::Missing, "nothing is connected there."},
      {Cause::NotSerial, "it is not a serial port."},
      {Cause::Folder, "it is a folder, not a serial port."},
      {Cause::NoHardware, "no device answers there; an adapter may have been unplugged."},
      {Cause::DeviceFault, "the device does not respond (input/output error)."},
      {Cause::NotAFolder, "a part of the path is not a folder."},
      {Cause::LinkLoop, "its symbolic links lead round in a loop."},
      {Cause::NameTooLong, "the path is too long."},
  };
  for (const auto& [cause, reason] : wrongDevices)
    EXPECT_EQ(PortOpenMessage(3, Failure(cause)), Lines + "\n/dev/ttyUSB0 : " + reason + MappingHint);
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Denied, "uucp")),
            Lines + "\n/dev/ttyUSB0 : permission denied. Add your user to group \"uucp\", then log in again.");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Denied)), Lines + "\n/dev/ttyUSB0 : permission denied.");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Busy, "", "ModemManager", 812)),
            Lines + "\n/dev/ttyUSB0 : it is busy, held by ModemManager (process 812).");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Busy)), Lines + "\n/dev/ttyUSB0 : it is busy.");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Exhausted)),
            Lines + "\n/dev/ttyUSB0 : the system has run out of open files or memory.");
}

// A device given by its path is no COM number's: the mapping has nothing to do with it.
TEST(PortOpenMessage, APathGetsNoWordAboutTheMapping) {
  PortOpenFailure why = Failure(Cause::Missing);
  why.comName = false;
  EXPECT_EQ(PortOpenMessage("/dev/ttyUSB0", why),
            "/dev/ttyUSB0 can not be opened.\nIt may be used by another program.\n/dev/ttyUSB0 : nothing is connected "
            "there.");
}

}  // namespace
