// The terminal devices through libudev, the library the system's own device
// manager offers: the devices of class "tty", their USB descriptor strings
// and stable names, and a monitor for plugging. The USB strings and the UART
// port type come from sysfs attributes, which need no running udev daemon;
// the /dev/serial names come from the daemon's database when it runs.
#include "platform/SerialDevices.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>

namespace {

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string Text(const char* value) { return value ? value : ""; }

std::string Attribute(udev_device* device, const char* name) {
  return Text(udev_device_get_sysattr_value(device, name));
}

// The first driver up the device's parents. Kernels since 6.5 put the
// generic serial-base "port" and "ctrl" devices between a UART and its
// driver; they say nothing to a person.
std::string DriverOf(udev_device* device) {
  for (udev_device* d = device; d; d = udev_device_get_parent(d)) {
    const char* subsystem = udev_device_get_subsystem(d);
    if (subsystem && std::strcmp(subsystem, "serial-base") == 0) continue;
    if (const char* driver = udev_device_get_driver(d)) return driver;
  }
  return {};
}

SerialDeviceRecord RecordOf(udev_device* device) {
  SerialDeviceRecord record;
  record.node = Text(udev_device_get_devnode(device));
  record.driver = DriverOf(device);
  record.portType = Attribute(device, "type");
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
    record.usb = true;
    record.maker = Attribute(usb, "manufacturer");
    record.product = Attribute(usb, "product");
    record.serial = Attribute(usb, "serial");
    const std::string vendor = Attribute(usb, "idVendor");
    const std::string product = Attribute(usb, "idProduct");
    if (!vendor.empty()) record.usbId = vendor + ":" + product;
  }
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(device); link; link = udev_list_entry_get_next(link))
    record.links.emplace_back(Text(udev_list_entry_get_name(link)));
  return record;
}

class UdevSerialDevices : public SerialDeviceSource {
 public:
  UdevSerialDevices() : context(udev_new()) {
    if (!context) return;
    // Without the daemon nobody sends its events; the kernel's own come
    // before the daemon's names exist, but a new listing still finds the
    // device.
    const bool daemon = access("/run/udev/control", F_OK) == 0;
    monitor.reset(udev_monitor_new_from_netlink(context.get(), daemon ? "udev" : "kernel"));
    if (monitor && (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
                    udev_monitor_enable_receiving(monitor.get()) < 0))
      monitor.reset();
  }

  std::vector<SerialDeviceRecord> Present() override {
    std::vector<SerialDeviceRecord> found;
    if (!context) return found;
    const UdevPtr<udev_enumerate> listing(udev_enumerate_new(context.get()));
    if (!listing || udev_enumerate_add_match_subsystem(listing.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(listing.get()) < 0)
      return found;
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(listing.get()); entry;
         entry = udev_list_entry_get_next(entry)) {
      const UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
      if (device && udev_device_get_devnode(device.get())) found.push_back(RecordOf(device.get()));
    }
    return found;
  }

  int ChangeDescriptor() const override { return monitor ? udev_monitor_get_fd(monitor.get()) : -1; }

  bool TakeChanges() override {
    bool changed = false;
    if (!monitor) return changed;
    // The monitor's socket does not block: this ends when it is drained.
    while (const UdevPtr<udev_device> device{udev_monitor_receive_device(monitor.get())}) {
      const std::string action = Text(udev_device_get_action(device.get()));
      if (action == "add" || action == "remove" || action == "change") changed = true;
    }
    return changed;
  }

 private:
  UdevPtr<udev> context;
  UdevPtr<udev_monitor> monitor;
};

}  // namespace

std::unique_ptr<SerialDeviceSource> OpenSerialDeviceSource() { return std::make_unique<UdevSerialDevices>(); }
