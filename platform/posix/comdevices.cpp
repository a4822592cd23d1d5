#include "platform/posix/comdevices.h"

#include <strings.h>

#include <atomic>

#include "platform/ComDevices.h"
#include "platform/Convert.h"
#include "platform/Hooks.h"

namespace {
std::atomic<ComDeviceResolver> comDeviceResolver{nullptr};

// Whether the name is "COM" and a whole number, with or without a minus, in
// any case and with or without the "\\.\" prefix; number is that number
// when it is one that fits, else 0.
bool IsComName(const std::string& portName, std::int32_t& number) {
  std::string name = portName;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  const size_t digits = name.size() > 3 && name[3] == '-' ? 4 : 3;
  if (name.size() <= digits || strncasecmp(name.c_str(), "COM", 3) != 0 ||
      name.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  if (!TryStrToInt(name.substr(3), number)) number = 0;
  return true;
}

}  // namespace

void SetComDeviceResolver(ComDeviceResolver resolver) { comDeviceResolver = resolver; }

std::int32_t ComPortNumber(const std::string& portName) {
  std::int32_t number = 0;
  return IsComName(portName, number) && number >= 1 ? number : 0;
}

std::string ComDevicePath(const std::string& portName) {
  std::int32_t number = 0;
  if (!IsComName(portName, number)) return portName;
  // Windows has no port by that name either; an empty path opens nothing.
  if (number < 1) return std::string();
  const ComDeviceResolver resolve = comDeviceResolver;
  const std::string mapped = resolve ? resolve(number) : std::string();
  return mapped.empty() ? UnmappedComDevice(number) : mapped;
}

bool ComDevicesMappable() { return true; }

std::string PortDevice(const std::string& portName) { return ComDevicePath(portName); }

std::string UnmappedComDevice(int number) { return "/dev/ttyS" + std::to_string(number - 1); }
