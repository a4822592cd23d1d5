// Which device a Windows port name stands for on this system.
#pragma once

#include <cstdint>
#include <string>

// "COMn" (any case, with or without the "\\.\" prefix) is the device that the
// installed ComDeviceResolver gives for n (platform/Hooks.h), else
// /dev/ttyS(n-1). "COM" with any other number ("COM0", "COM-1", from a
// stored port index below 0) is no port: the path is empty, and opening it
// fails as not found, never a file of that name in the current directory.
// Any other name is a path and is used as it is.
std::string ComDevicePath(const std::string& portName);

// n for a "COMn" name as above (n >= 1), 0 for any other name.
std::int32_t ComPortNumber(const std::string& portName);
