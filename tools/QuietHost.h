// A transfer host without a window, for the tests and benchmarks over a real
// line: the real clock, no Escape key, the messages kept. A transfer that runs
// longer than the limit is stopped.
#pragma once

#include <string>
#include <vector>

#include "platform/winapi.h"
#include "transfer/BlockProtocol.h"

struct QuietHost : TransferHost {
  bool stop = false;
  DWORD stopAfter = 30000;
  DWORD started = timeGetTime();
  std::vector<std::string> messages;

  std::uint32_t Now() override { return timeGetTime(); }
  bool EscapePressed() override { return false; }
  void ProcessMessages() override {
    if (timeGetTime() - started >= stopAfter) stop = true;
  }
  bool StopRequested() override { return stop; }
  void ClearStop() override { stop = false; }
  void SetStartEnabled(bool) override {}
  void SetStopEnabled(bool) override {}
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back(text + "|" + caption);
  }
  void ProgressReset() override {}
  void ProgressStep() override {}
};
