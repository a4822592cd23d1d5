// Where this system's COM names lead: the program's own mapping or the
// system's. One declaration for every platform; the POSIX version is in
// platform/posix/comdevices.cpp.
#pragma once

#include <string>

// True where the program decides which device "COMn" opens (through the
// ComDeviceResolver of platform/Hooks.h), so the user may choose it; false
// where COM names are the system's own (Windows).
bool ComDevicesMappable();

// The device "COMn" opens when nothing maps it (n >= 1): /dev/ttyS(n-1) on
// POSIX systems.
std::string UnmappedComDevice(int number);

// The device a port name opens: on POSIX systems where "COMn" leads (the
// mapping, else the default device); on Windows a COM name itself. Any
// other name is a path and is that device.
std::string PortDevice(const std::string& portName);
