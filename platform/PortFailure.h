// Why a COM port did not open, as far as the system can tell, for the line
// that the port message adds. One declaration for every platform; the POSIX
// version lives in platform/posix.
#pragma once

#include <cstdint>
#include <string>

struct PortOpenFailure {
  enum class Cause {
    Unknown,      // nothing to add to the error itself
    Missing,      // nothing at the device path: unplugged, or a wrong mapping
    NotSerial,    // something is there, but no serial port
    Denied,       // the user may not open the device
    Busy,         // another program holds it
    Folder,       // the path is a folder
    NoHardware,   // a device node with nothing behind it (an adapter gone)
    DeviceFault,  // the device fails to answer (an input/output error)
    NotAFolder,   // a part of the path before its end is no folder
    LinkLoop,     // the path runs into a loop of symbolic links
    NameTooLong,  // the path is longer than the system takes
    Exhausted,    // the system is out of open files or memory
  };
  Cause cause = Cause::Unknown;
  std::string device;  // the path the port name leads to
  // Denied: the group whose members may open the device; empty when
  // membership would not help.
  std::string group;
  // Busy: the program that holds the device and its process id, when found.
  std::string holder;
  std::int64_t holderPid = 0;
  // The device is where a COM name leads, so the user's mapping may be at
  // fault (never on Windows, whose COM names are the system's).
  bool comName = false;
};

// Why portName ("COM1", or a path) did not open, from the error its opening
// left (GetLastError after CreateFileA) and the device as it is now.
PortOpenFailure ExplainPortOpenFailure(const std::string& portName, std::uint32_t error);
