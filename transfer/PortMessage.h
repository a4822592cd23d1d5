// The message for a COM port that did not open: the program's two lines, and
// a third with the device and the reason when the system tells it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/PortFailure.h"

std::string PortOpenMessage(std::int32_t comNumber, const PortOpenFailure& why);
