#include "platform/posix/fail.h"
#include "platform/posix/sync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/posix/errors.h"
#include "platform/posix/handles.h"

namespace {

class EventObject final : public KernelObject {
 public:
  EventObject(bool manualReset, bool signalled) : manualReset(manualReset), signalled(signalled) {}

  void Set() {
    {
      std::lock_guard lock(mutex);
      signalled = true;
      driver.reset();  // its request is done
    }
    if (manualReset)
      changed.notify_all();
    else
      changed.notify_one();
  }

  void Reset() {
    std::lock_guard lock(mutex);
    signalled = false;
  }

  void Arm(std::weak_ptr<RequestDriver> requestDriver) {
    {
      std::lock_guard lock(mutex);
      signalled = false;
      driver = std::move(requestDriver);
    }
    changed.notify_all();  // waits already under way start driving
  }

  DWORD Wait(DWORD milliseconds) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const auto left = [&] {
      if (milliseconds == INFINITE) return INFINITE;
      const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      return static_cast<DWORD>(std::max<std::int64_t>(rest.count(), 0));
    };
    std::unique_lock lock(mutex);
    for (;;) {
      if (signalled) break;
      if (auto requestDriver = driver.lock()) {
        lock.unlock();
        requestDriver->DriveUntil(
            [this] {
              std::lock_guard signalLock(mutex);
              return signalled;
            },
            left());
        requestDriver.reset();  // when it is the last owner, the device closes here, not under the lock
        lock.lock();
        if (!signalled && left() == 0) return WAIT_TIMEOUT;
      } else if (milliseconds == INFINITE) {
        changed.wait(lock);
      } else if (changed.wait_until(lock, deadline) == std::cv_status::timeout && !signalled) {
        return WAIT_TIMEOUT;
      }
    }
    if (!manualReset) signalled = false;
    return WAIT_OBJECT_0;
  }

 private:
  const bool manualReset;
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled;
  std::weak_ptr<RequestDriver> driver;
};

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (lpName && *lpName) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return MakeHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
  const auto event = ObjectFromHandleAs<EventObject>(hEvent);
  if (!event) return FailWith(ERROR_INVALID_HANDLE);
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  const auto event = ObjectFromHandleAs<EventObject>(hEvent);
  if (!event) return FailWith(ERROR_INVALID_HANDLE);
  event->Reset();
  return TRUE;
}

void ArmEvent(HANDLE event, std::weak_ptr<RequestDriver> driver) {
  if (const auto object = ObjectFromHandleAs<EventObject>(event)) object->Arm(std::move(driver));
}
