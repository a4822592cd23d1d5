#include "ports/ComDevices.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string_view>

#include "platform/ComDevices.h"
#include "platform/Paths.h"
#include "texts/Texts.h"

namespace {

const std::string ById = "/dev/serial/by-id/";

// The serial core's names for the port types of the 8250 family, the UARTs
// of PCs; other types show their number.
std::string UartName(const std::string& portType) {
  static const char* const names[] = {"8250",    "16450", "16550",    "16550A", "Cirrus", "16650",
                                      "16650V2", "16750", "Startech", "16C950", "16654",  "16850"};
  int type = 0;
  for (const char c : portType) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || type > 1000) return "UART type " + portType;
    type = type * 10 + (c - '0');
  }
  if (type >= 1 && type <= static_cast<int>(std::size(names))) return std::string("UART ") + names[type - 1];
  return "UART type " + portType;
}

// Natural order: runs of digits compare as numbers, so ttyUSB2 < ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      // Without leading zeros the longer run is the larger number.
      while (i + 1 < ei && a[i] == '0') ++i;
      while (j + 1 < ej && b[j] == '0') ++j;
      const std::string_view va(a.data() + i, ei - i);
      const std::string_view vb(b.data() + j, ej - j);
      if (va.size() != vb.size()) return va.size() < vb.size();
      if (va != vb) return va < vb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> NamesOf(const SerialDeviceRecord& port) {
  std::vector<std::string> names{port.node};
  names.insert(names.end(), port.links.begin(), port.links.end());
  return names;
}

}  // namespace

bool IsSerialPort(const SerialDeviceRecord& device) {
  if (device.usb) return true;
  return !device.portType.empty() && device.portType != "0";
}

std::vector<SerialDeviceRecord> SerialPorts(const std::vector<SerialDeviceRecord>& devices) {
  std::vector<SerialDeviceRecord> ports;
  std::copy_if(devices.begin(), devices.end(), std::back_inserter(ports), IsSerialPort);
  std::stable_sort(ports.begin(), ports.end(), [](const SerialDeviceRecord& a, const SerialDeviceRecord& b) {
    if (a.usb != b.usb) return a.usb;
    return NaturalLess(a.node, b.node);
  });
  return ports;
}

std::string StableName(const SerialDeviceRecord& port, const std::vector<SerialDeviceRecord>& ports) {
  for (const std::string& link : port.links) {
    if (link.rfind(ById, 0) != 0) continue;
    const bool shared = std::any_of(ports.begin(), ports.end(), [&](const SerialDeviceRecord& other) {
      return other.node != port.node && Contains(other.links, link);
    });
    if (!shared) return link;
  }
  return port.node;
}

std::string PortDescription(const SerialDeviceRecord& port) {
  std::string text;
  if (port.usb) {
    text = !port.product.empty() ? port.product : "USB device " + port.usbId;
    if (!port.maker.empty()) text += " (" + port.maker + ")";
    if (!port.serial.empty()) text += ", serial number " + port.serial;
  } else if (!port.portType.empty()) {
    text = UartName(port.portType);
  }
  if (!port.driver.empty()) text += (text.empty() ? "" : ", ") + ("driver " + port.driver);
  return text.empty() ? port.node : text + ", " + port.node;
}

std::vector<ComDeviceEntry> ComDeviceEntries(int number, const std::vector<SerialDeviceRecord>& ports,
                                             const std::vector<std::string>& kept) {
  std::vector<ComDeviceEntry> entries;
  entries.push_back({Texts::UnmappedComDeviceEntry(UnmappedComDevice(number)), "", {}});
  for (const SerialDeviceRecord& port : ports) {
    ComDeviceEntry entry{PortDescription(port), StableName(port, ports), NamesOf(port)};
    for (const std::string& name : kept)
      if (Contains(entry.names, name)) {
        entry.device = name;
        break;
      }
    entries.push_back(std::move(entry));
  }
  for (const std::string& device : kept) {
    if (device.empty() || FindComDeviceEntry(entries, device) >= 0) continue;
    const std::string label = FileExists(device) ? device : Texts::ComDeviceNotConnected(device);
    entries.push_back({label, device, {device}});
  }
  return entries;
}

int FindComDeviceEntry(const std::vector<ComDeviceEntry>& entries, const std::string& device) {
  if (device.empty()) return entries.empty() ? -1 : 0;
  for (size_t i = 1; i < entries.size(); ++i)
    if (entries[i].device == device || Contains(entries[i].names, device)) return static_cast<int>(i);
  return -1;
}
