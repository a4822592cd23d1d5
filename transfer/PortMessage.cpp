#include "transfer/PortMessage.h"

#include "texts/Texts.h"

std::string PortOpenMessage(std::int32_t comNumber, const PortOpenFailure& why) {
  return PortOpenMessage("COM" + std::to_string(comNumber), why);
}

std::string PortOpenMessage(const std::string& portName, const PortOpenFailure& why) {
  std::string message = Texts::PortNotOpened(portName);
  switch (why.cause) {
    case PortOpenFailure::Cause::Missing: return message + "\n" + Texts::PortDeviceMissing(why.device);
    case PortOpenFailure::Cause::NotSerial: return message + "\n" + Texts::PortDeviceNotSerial(why.device);
    case PortOpenFailure::Cause::Denied: return message + "\n" + Texts::PortDeviceDenied(why.device, why.group);
    case PortOpenFailure::Cause::Busy:
      return message + "\n" + Texts::PortDeviceBusy(why.device, why.holder, why.holderPid);
    case PortOpenFailure::Cause::Unknown: break;
  }
  return message;
}
