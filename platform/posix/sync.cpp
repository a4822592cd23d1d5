#include "platform/posix/fail.h"
#include "platform/posix/sync.h"

#include <chrono>
#include <condition_variable>
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

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock lock(mutex);
    const auto isSet = [this] { return signalled; };
    if (milliseconds == INFINITE)
      changed.wait(lock, isSet);
    else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSet))
      return WAIT_TIMEOUT;
    if (!manualReset) signalled = false;
    return WAIT_OBJECT_0;
  }

 private:
  const bool manualReset;
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled;
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
