// COM names lead where a test says, by port number, while the mapping lives,
// as the application's own resolver would lead them.
#pragma once

#include <map>
#include <string>

#include "platform/Hooks.h"

class ComMapping {
 public:
  explicit ComMapping(std::map<int, std::string> devices) {
    Devices() = std::move(devices);
    SetComDeviceResolver(Resolve);
  }
  ~ComMapping() {
    SetComDeviceResolver(nullptr);
    Devices().clear();
  }
  ComMapping(const ComMapping&) = delete;
  ComMapping& operator=(const ComMapping&) = delete;

 private:
  static std::map<int, std::string>& Devices() {
    static std::map<int, std::string> devices;
    return devices;
  }
  static std::string Resolve(int number) {
    const auto it = Devices().find(number);
    return it == Devices().end() ? std::string() : it->second;
  }
};
