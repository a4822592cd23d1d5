#include "tools/PortList.h"

#include <nlohmann/json.hpp>

#include "ports/ComDevices.h"

namespace {

struct PortFields {
  std::string device, byId, product, maker, serial, driver;
};

// The by-id name is the one the program stores for the port, when it is one.
PortFields FieldsOf(const SerialDeviceRecord& port, const std::vector<SerialDeviceRecord>& ports) {
  std::string byId = StableName(port, ports);
  if (byId == port.node) byId.clear();
  return {port.node, byId, port.product, port.maker, port.serial, port.driver};
}

std::string Cell(std::string text) {
  if (text.empty()) return "-";
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
  return text;
}

}  // namespace

std::string PortTable(const std::vector<SerialDeviceRecord>& ports) {
  std::string table = "device\tby-id\tproduct\tmaker\tserial\tdriver\n";
  for (const SerialDeviceRecord& port : ports) {
    const PortFields f = FieldsOf(port, ports);
    for (const std::string* field : {&f.device, &f.byId, &f.product, &f.maker, &f.serial})
      table += Cell(*field) + "\t";
    table += Cell(f.driver) + "\n";
  }
  return table;
}

std::string PortJson(const std::vector<SerialDeviceRecord>& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const auto value = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
  };
  for (const SerialDeviceRecord& port : ports) {
    const PortFields f = FieldsOf(port, ports);
    list.push_back({{"device", f.device},
                    {"by_id", value(f.byId)},
                    {"product", value(f.product)},
                    {"maker", value(f.maker)},
                    {"serial", value(f.serial)},
                    {"driver", value(f.driver)}});
  }
  return list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
