#include "transfer/PortMessage.h"

#include "texts/Texts.h"

namespace {

using Cause = PortOpenFailure::Cause;

std::string Reason(const PortOpenFailure& why) {
  switch (why.cause) {
    case Cause::Missing: return Texts::PortDeviceMissing(why.device);
    case Cause::NotSerial: return Texts::PortDeviceNotSerial(why.device);
    case Cause::Folder: return Texts::PortDeviceFolder(why.device);
    case Cause::NoHardware: return Texts::PortDeviceNoHardware(why.device);
    case Cause::DeviceFault: return Texts::PortDeviceFault(why.device);
    case Cause::NotAFolder: return Texts::PortPathNotAFolder(why.device);
    case Cause::LinkLoop: return Texts::PortPathLinkLoop(why.device);
    case Cause::NameTooLong: return Texts::PortPathTooLong(why.device);
    case Cause::Denied: return Texts::PortDeviceDenied(why.device, why.group);
    case Cause::Busy: return Texts::PortDeviceBusy(why.device, why.holder, why.holderPid);
    case Cause::Exhausted: return Texts::PortSystemExhausted(why.device);
    case Cause::Unknown: break;
  }
  return {};
}

// Where the device itself is wrong, a COM name's mapping may be what to
// change; not where the device is fine but not to be had.
bool DeviceAtFault(Cause cause) { return cause != Cause::Denied && cause != Cause::Busy && cause != Cause::Exhausted; }

}  // namespace

std::string PortOpenMessage(std::int32_t comNumber, const PortOpenFailure& why) {
  return PortOpenMessage("COM" + std::to_string(comNumber), why);
}

std::string PortOpenMessage(const std::string& portName, const PortOpenFailure& why) {
  std::string message = Texts::PortNotOpened(portName);
  const std::string reason = Reason(why);
  if (reason.empty()) return message;
  (message += "\n") += reason;
  if (why.comName && DeviceAtFault(why.cause)) (message += " ") += Texts::ComMappingHint;
  return message;
}
