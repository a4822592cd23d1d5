// Collects the message boxes shown while it lives, instead of showing them.
#pragma once

#include <functional>
#include <vector>

#include "forms/MessageBoxes.h"

class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<ShownMessage> messages;
  // When set, runs for each message at the moment the box would be up, so a
  // test can look at the windows as the user would see them then.
  std::function<void(const ShownMessage&)> onShow;
};
