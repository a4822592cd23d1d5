// Collects the message boxes shown while it lives, instead of showing them.
#pragma once

#include <vector>

#include "app/MessageBoxes.h"

class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<ShownMessage> messages;
};
