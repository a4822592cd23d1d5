// Windows opens its own COM ports: the application's mapping is kept but not
// consulted, and there is nothing for the user to map.
#include <atomic>
#include <string>

#include "platform/ComDevices.h"
#include "platform/Hooks.h"

namespace {
std::atomic<ComDeviceResolver> comDeviceResolver{nullptr};
}  // namespace

void SetComDeviceResolver(ComDeviceResolver resolver) { comDeviceResolver = resolver; }

bool ComDevicesMappable() { return false; }

std::string PortDevice(const std::string& portName) { return portName; }

std::string UnmappedComDevice(int number) { return "COM" + std::to_string(number); }
