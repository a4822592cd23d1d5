// Windows names its serial ports itself, so the program lists none to map.
#include "platform/SerialDevices.h"

namespace {
class NoSerialDevices : public SerialDeviceSource {
 public:
  std::vector<SerialDeviceRecord> Present() override { return {}; }
  int ChangeDescriptor() const override { return -1; }
  bool TakeChanges() override { return false; }
};
}  // namespace

std::unique_ptr<SerialDeviceSource> OpenSerialDeviceSource() { return std::make_unique<NoSerialDevices>(); }
