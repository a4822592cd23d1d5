// The message for a COM port that did not open: the program's two lines, and
// the reason on a third where the system told it.
#include <gtest/gtest.h>

#include "transfer/PortMessage.h"

namespace {

using Cause = PortOpenFailure::Cause;

const std::string Lines = "COM3 can not be opened.\nIt may be used by another program.";

PortOpenFailure Failure(Cause cause, const std::string& group = "", const std::string& holder = "", int pid = 0) {
  return PortOpenFailure{cause, "/dev/ttyUSB0", group, holder, pid};
}

TEST(PortOpenMessage, OneLineForEachKnownCause) {
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Unknown)), Lines);
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Missing)),
            Lines + "\n/dev/ttyUSB0 : nothing is connected there. COM numbers are mapped in "
                    "Option > Serial devices... (section \"COM devices\" of \"Talvorin.ini\").");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::NotSerial)),
            Lines + "\n/dev/ttyUSB0 : it is not a serial port. COM numbers are mapped in "
                    "Option > Serial devices... (section \"COM devices\" of \"Talvorin.ini\").");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Denied, "uucp")),
            Lines + "\n/dev/ttyUSB0 : permission denied. Add your user to group \"uucp\", then log in again.");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Denied)), Lines + "\n/dev/ttyUSB0 : permission denied.");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Busy, "", "ModemManager", 812)),
            Lines + "\n/dev/ttyUSB0 : it is busy, held by ModemManager (process 812).");
  EXPECT_EQ(PortOpenMessage(3, Failure(Cause::Busy)), Lines + "\n/dev/ttyUSB0 : it is busy.");
}

}  // namespace
