// Polling for what a test waits on: another thread, process or device.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls until condition holds or limit has passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
