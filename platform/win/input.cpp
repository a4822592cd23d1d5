// Key state and beeps. Windows sees the keyboard itself, so the application's
// key events need not be handed down; a beep handler (a test's recorder)
// takes the place of the system's sound while one is installed.
#include <atomic>

#include "platform/Hooks.h"
#include "platform/winapi.h"

namespace {
std::atomic<BeepHandler> beepHandler{nullptr};
}  // namespace

void NoteKeyState(int, bool) {}

void SetBeepHandler(BeepHandler handler) { beepHandler = handler; }

#undef MessageBeep
BOOL TvMessageBeep(UINT uType) {
  if (const BeepHandler handler = beepHandler) {
    handler(uType);
    return TRUE;
  }
  return MessageBeep(uType);
}
