// Which device a Windows port name stands for on this system.
#pragma once

#include <cstdint>
#include <string>

// "COMn" (any case, with or without the "\\.\" prefix) is the device that the
// installed ComDeviceResolver gives for n (platform/Hooks.h), else
// /dev/ttyS(n-1). Any other name is a path and is used as it is.
std::string ComDevicePath(const std::string& portName);

// n for a "COMn" name as above (n >= 1), 0 for any other name.
std::int32_t ComPortNumber(const std::string& portName);
