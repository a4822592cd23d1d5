#include "platform/posix/comdevices.h"

#include <strings.h>

#include <atomic>

#include "platform/ComDevices.h"
#include "platform/Convert.h"
#include "platform/Hooks.h"

namespace {
std::atomic<ComDeviceResolver> comDeviceResolver{nullptr};
}  // namespace

void SetComDeviceResolver(ComDeviceResolver resolver) { comDeviceResolver = resolver; }

std::int32_t ComPortNumber(const std::string& portName) {
  std::string name = portName;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  std::int32_t number = 0;
  if (name.size() < 4 || strncasecmp(name.c_str(), "COM", 3) != 0 ||
      name.find_first_not_of("0123456789", 3) != std::string::npos || !TryStrToInt(name.substr(3), number) ||
      number < 1)
    return 0;
  return number;
}

std::string ComDevicePath(const std::string& portName) {
  const std::int32_t number = ComPortNumber(portName);
  if (number == 0) return portName;
  const ComDeviceResolver resolve = comDeviceResolver;
  const std::string mapped = resolve ? resolve(number) : std::string();
  return mapped.empty() ? UnmappedComDevice(number) : mapped;
}

bool ComDevicesMappable() { return true; }

std::string UnmappedComDevice(int number) { return "/dev/ttyS" + std::to_string(number - 1); }
