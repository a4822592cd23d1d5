// The terminal devices of the system as it reports them, and how it tells
// that one came or went. Which of them are serial ports a person can choose
// is decided above (ports/ComDevices.h). One declaration for every platform;
// the POSIX version asks libudev (platform/posix/serialdevices.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

// One terminal device, as found; fields the system does not give are empty.
struct SerialDeviceRecord {
  std::string node;                // "/dev/ttyUSB0"
  std::string driver;              // the kernel driver behind it: "ftdi_sio", "cdc_acm", "serial"
  std::string portType;            // a UART's port type as its driver reports it ("0": no hardware); empty for others
  bool usb = false;                // the device sits on a USB bus
  std::string maker;               // the USB descriptor's manufacturer string
  std::string product;             // the USB descriptor's product string
  std::string serial;              // the USB descriptor's serial number
  std::string usbId;               // "vvvv:pppp"
  std::vector<std::string> links;  // other names of the node: /dev/serial/by-id/..., /dev/serial/by-path/...
};

class SerialDeviceSource {
 public:
  virtual ~SerialDeviceSource() = default;
  // The terminal devices present now.
  virtual std::vector<SerialDeviceRecord> Present() = 0;
  // A descriptor that becomes readable when a device may have come or gone;
  // -1 when this source cannot tell.
  virtual int ChangeDescriptor() const = 0;
  // Consumes what made the descriptor readable; true when a terminal device
  // came or went.
  virtual bool TakeChanges() = 0;
};

// The system's devices. Never null: without the system's device manager the
// source lists nothing and tells no changes.
std::unique_ptr<SerialDeviceSource> OpenSerialDeviceSource();
