// Which device each COM number leads to, as the user chooses it: which of
// the system's terminal devices are serial ports, what they are called and in
// which order they come, and the entries of a COM number's chooser.
#pragma once

#include <string>
#include <vector>

#include "platform/SerialDevices.h"

// USB serial adapters (ttyUSB), USB communication-class devices (ttyACM) and
// UARTs whose driver found hardware; not consoles, pseudo-terminals or
// built-in ports with nothing behind them (port type 0, unknown).
bool IsSerialPort(const SerialDeviceRecord& device);

// The serial ports among the devices: USB ones first, then UARTs, each in the
// natural order of their nodes (ttyUSB2 before ttyUSB10).
std::vector<SerialDeviceRecord> SerialPorts(const std::vector<SerialDeviceRecord>& devices);

// The name to store for a port: its /dev/serial/by-id/ name, which stays the
// same across unplugging, another plugging order and a reboot, unless
// another port of the list claims the same one (identical adapters without
// serial numbers); otherwise its node.
std::string StableName(const SerialDeviceRecord& port, const std::vector<SerialDeviceRecord>& ports);

// What a person knows the port by, e.g.
// "FT232R USB UART (FTDI), serial number A6008isP, driver ftdi_sio, /dev/ttyUSB0".
std::string PortDescription(const SerialDeviceRecord& port);

struct ComDeviceEntry {
  std::string label;
  std::string device;              // the value for section "COM devices"; empty: no mapping
  std::vector<std::string> names;  // every path that leads to the entry's device
};

// The chooser of COM number n over the serial ports present (as SerialPorts
// gives them): first the entry for no mapping, then the ports, then each
// device of kept (the saved mapping, the choice being made) that is none of
// them, labelled as not connected unless its path exists now. A kept name
// that leads to a port present stays that port's value, so nothing the user
// left alone is rewritten.
std::vector<ComDeviceEntry> ComDeviceEntries(int number, const std::vector<SerialDeviceRecord>& ports,
                                             const std::vector<std::string>& kept);

// The index of the entry that device leads to (the first entry for ""), or -1.
int FindComDeviceEntry(const std::vector<ComDeviceEntry>& entries, const std::string& device);
