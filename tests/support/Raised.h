// The message an action raises, for tests of what the port component throws.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

// The text of the std::runtime_error that action throws; "" when it throws none.
inline std::string RaisedBy(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}
