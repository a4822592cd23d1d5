// `talvorin-transfer ports`: the serial ports present, the ones that
// Option > Serial devices... offers, in its order, for people and scripts.
#pragma once

#include <string>
#include <vector>

#include "platform/SerialDevices.h"

// A header line and one line per port, the fields separated by tabs: device,
// by-id name, product, maker, serial number, driver. A field the system
// does not give is "-"; tabs and line breaks inside one become spaces.
std::string PortTable(const std::vector<SerialDeviceRecord>& ports);

// The same as a JSON array of objects; a field not given is null.
std::string PortJson(const std::vector<SerialDeviceRecord>& ports);
