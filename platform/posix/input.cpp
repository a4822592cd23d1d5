// Clock, key state and beeps.
#include "platform/posix/input.h"

#include <atomic>
#include <ctime>

#include "platform/Hooks.h"

namespace {
std::atomic<bool> escapeDown{false};
std::atomic<bool> escapePressedSinceQuery{false};
std::atomic<BeepHandler> beepHandler{nullptr};
}  // namespace

DWORD timeGetTime() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Milliseconds that wrap around at 2^32, as the Windows counter does.
  return static_cast<DWORD>(static_cast<unsigned long long>(ts.tv_sec) * 1000ULL +
                            static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL);
}

void NoteKeyState(int virtualKey, bool down) {
  if (virtualKey != VK_ESCAPE) return;
  escapeDown = down;
  if (down) escapePressedSinceQuery = true;
}

// Only the Escape key is tracked: the high bit while it is down, the low bit
// when it was pressed since the previous query.
SHORT GetAsyncKeyState(int vKey) {
  if (vKey != VK_ESCAPE) return 0;
  const bool pressed = escapePressedSinceQuery.exchange(false);
  return static_cast<SHORT>((escapeDown ? 0x8000 : 0) | (pressed ? 1 : 0));
}

void SetBeepHandler(BeepHandler handler) { beepHandler = handler; }

BOOL MessageBeep(UINT uType) {
  if (const BeepHandler handler = beepHandler) handler(uType);
  return TRUE;
}
