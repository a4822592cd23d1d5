// Windows opens its own COM ports: the application's mapping is kept but not
// consulted.
#include <atomic>

#include "platform/Hooks.h"

namespace {
std::atomic<ComDeviceResolver> comDeviceResolver{nullptr};
}  // namespace

void SetComDeviceResolver(ComDeviceResolver resolver) { comDeviceResolver = resolver; }
