// Collects the message boxes shown while it lives, instead of showing them.
#pragma once

#include <vector>

#include "forms/MessageBoxes.h"

class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<ShownMessage> messages;
};
