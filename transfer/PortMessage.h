// The message for a COM port that did not open: the program's two lines, and
// a third with the device and the reason when the system tells it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/PortFailure.h"

std::string PortOpenMessage(std::int32_t comNumber, const PortOpenFailure& why);
// The same for a port by its name: "COM3", or a device that
// talvorin-transfer was given.
std::string PortOpenMessage(const std::string& portName, const PortOpenFailure& why);
