// The choice of device behind a COM number, on device records made up as the
// system reports them: which are serial ports, their order, names and
// descriptions, and the entries of a COM number's chooser.
#include "ports/ComDevices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/Pty.h"
#include "support/TempDir.h"

namespace {

const std::string FtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0";

SerialDeviceRecord Ftdi() {
  return {"/dev/ttyUSB0", "ftdi_sio",  "",
          true,           "FTDI",      "FT232R USB UART",
          "A6008isP",     "0403:6001", {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", FtdiById}};
}

// A CH340 adapter: no serial number, so no name under /dev/serial/by-id.
SerialDeviceRecord Ch340() {
  return {"/dev/ttyUSB1",
          "ch341",
          "",
          true,
          "",
          "",
          "",
          "1a86:7523",
          {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0"}};
}

SerialDeviceRecord Arduino() {
  return {"/dev/ttyACM0",
          "cdc_acm",
          "",
          true,
          "Arduino (www.arduino.cc)",
          "Arduino Uno",
          "8573632383835",
          "2341:0043",
          {"/dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_8573632383835-if00"}};
}

SerialDeviceRecord Uart(const char* node, const char* portType) {
  return {node, "serial", portType, false, "", "", "", "", {}};
}

// A second FT232R like the first, told apart by its serial number.
SerialDeviceRecord FtdiTwin(const char* node, const char* serial) {
  SerialDeviceRecord twin = Ftdi();
  twin.node = node;
  twin.serial = serial;
  twin.links = {std::string("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_") + serial + "-if00-port0"};
  return twin;
}

std::vector<std::string> Nodes(const std::vector<SerialDeviceRecord>& ports) {
  std::vector<std::string> nodes;
  for (const auto& p : ports) nodes.push_back(p.node);
  return nodes;
}

std::vector<std::string> Labels(const std::vector<ComDeviceEntry>& entries) {
  std::vector<std::string> labels;
  for (const auto& e : entries) labels.push_back(e.label);
  return labels;
}

TEST(SerialPorts, ListsUsbAdaptersAcmDevicesAndUartsWithHardware) {
  const std::vector<SerialDeviceRecord> found = {Uart("/dev/ttyS1", "0"),
                                                 FtdiTwin("/dev/ttyUSB10", "B2"),
                                                 Uart("/dev/ttyS0", "4"),
                                                 Ftdi(),
                                                 Arduino(),
                                                 {"/dev/tty0", "", "", false, "", "", "", "", {}},
                                                 Ch340(),
                                                 FtdiTwin("/dev/ttyUSB2", "A1"),
                                                 {"/dev/ptmx", "", "", false, "", "", "", "", {}},
                                                 Uart("/dev/ttyAMA0", "91")};
  EXPECT_EQ(Nodes(SerialPorts(found)),
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                      "/dev/ttyAMA0", "/dev/ttyS0"}))
      << "USB first, then UARTs, each in natural order; no consoles, no port without hardware";
}

TEST(SerialPorts, StableNamesAndDescriptions) {
  const std::vector<SerialDeviceRecord> ports = SerialPorts({Ftdi(), Ch340(), Arduino(), Uart("/dev/ttyS0", "4")});
  EXPECT_EQ(StableName(Ftdi(), ports), FtdiById) << "not the by-path name that comes first";
  EXPECT_EQ(StableName(Ch340(), ports), "/dev/ttyUSB1");
  EXPECT_EQ(StableName(Arduino(), ports), Arduino().links[0]);
  EXPECT_EQ(StableName(Uart("/dev/ttyS0", "4"), ports), "/dev/ttyS0");

  EXPECT_EQ(PortDescription(Ftdi()), "FT232R USB UART (FTDI), serial number A6008isP, driver ftdi_sio, /dev/ttyUSB0");
  EXPECT_EQ(PortDescription(Ch340()), "USB device 1a86:7523, driver ch341, /dev/ttyUSB1");
  EXPECT_EQ(PortDescription(Arduino()),
            "Arduino Uno (Arduino (www.arduino.cc)), serial number 8573632383835, driver cdc_acm, /dev/ttyACM0");
  EXPECT_EQ(PortDescription(Uart("/dev/ttyS0", "4")), "UART 16550A, driver serial, /dev/ttyS0");
  EXPECT_EQ(PortDescription(Uart("/dev/ttyAMA0", "91")), "UART type 91, driver serial, /dev/ttyAMA0");
}

TEST(SerialPorts, IdenticalAdaptersToldApartBySerialNumber) {
  const std::vector<SerialDeviceRecord> ports =
      SerialPorts({FtdiTwin("/dev/ttyUSB3", "B2"), FtdiTwin("/dev/ttyUSB2", "A1")});
  const auto entries = ComDeviceEntries(1, ports, {ports[1].links[0]});
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[1].label, entries[2].label);
  EXPECT_NE(entries[1].device, entries[2].device);
  EXPECT_EQ(FindComDeviceEntry(entries, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_B2-if00-port0"), 2)
      << "the mapping follows the serial number, not the node";

  // Without serial numbers both claim one by-id name, which then names neither.
  SerialDeviceRecord a = FtdiTwin("/dev/ttyUSB2", ""), b = FtdiTwin("/dev/ttyUSB3", "");
  EXPECT_EQ(a.links, b.links);
  EXPECT_EQ(StableName(a, {a, b}), "/dev/ttyUSB2");
  EXPECT_EQ(StableName(b, {a, b}), "/dev/ttyUSB3");
  EXPECT_EQ(StableName(a, {a}), a.links[0]);
}

TEST(ComDeviceChooser, DefaultPortsAndMappedDevices) {
  const std::vector<SerialDeviceRecord> ports = SerialPorts({Ftdi(), Uart("/dev/ttyS0", "4")});
  const std::string ftdiLabel = PortDescription(Ftdi());
  const std::string uartLabel = PortDescription(Uart("/dev/ttyS0", "4"));

  // No mapping: the default entry names the device the number leads to.
  auto entries = ComDeviceEntries(3, ports, {""});
  EXPECT_EQ(Labels(entries), (std::vector<std::string>{"default (/dev/ttyS2)", ftdiLabel, uartLabel}));
  EXPECT_EQ(FindComDeviceEntry(entries, ""), 0);
  EXPECT_EQ(entries[0].device, "");
  EXPECT_EQ(entries[1].device, FtdiById) << "a chosen adapter is stored by its by-id name";
  EXPECT_EQ(entries[2].device, "/dev/ttyS0");

  // A mapped adapter that is unplugged is kept, shown as not connected.
  const std::string absent = "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0";
  entries = ComDeviceEntries(1, ports, {absent});
  EXPECT_EQ(Labels(entries),
            (std::vector<std::string>{"default (/dev/ttyS0)", ftdiLabel, uartLabel, absent + " (not connected)"}));
  EXPECT_EQ(FindComDeviceEntry(entries, absent), 3);
  EXPECT_EQ(entries[3].device, absent);

  // The saved mapping and the choice being made, both absent: both kept.
  entries = ComDeviceEntries(1, ports, {absent, "/dev/ttyUSB7"});
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[4].label, "/dev/ttyUSB7 (not connected)");

  // An adapter mapped by its node (written by hand) is that adapter, and
  // keeps the name it was saved under.
  entries = ComDeviceEntries(2, ports, {"/dev/ttyUSB0"});
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(FindComDeviceEntry(entries, "/dev/ttyUSB0"), 1);
  EXPECT_EQ(entries[1].device, "/dev/ttyUSB0");
  EXPECT_EQ(FindComDeviceEntry(entries, FtdiById), 1) << "either name leads to it";
  EXPECT_EQ(FindComDeviceEntry(entries, "/dev/ttyUSB5"), -1);
}

TEST(ComDeviceChooser, TypedPseudoTerminal) {
  PtyPair pty;
  TempDir dir;
  const auto entries = ComDeviceEntries(1, SerialPorts({Ftdi()}), {pty.path, dir.file("pts-gone")});
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[2].label, pty.path) << "present, though not a serial port of the system";
  EXPECT_EQ(entries[2].device, pty.path);
  EXPECT_EQ(FindComDeviceEntry(entries, pty.path), 2);
  EXPECT_EQ(entries[3].label, dir.file("pts-gone") + " (not connected)");
}

}  // namespace
