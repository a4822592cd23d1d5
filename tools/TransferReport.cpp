#include "tools/TransferReport.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

const char* OutcomeName(int status) {
  switch (status) {
    case Completed:
      return "complete";
    case TargetBroke:
      return "target-break";
    case NoBlockSize:
      return "no-block-size";
    case PortUnavailable:
      return "port-unavailable";
    case FileFailed:
      return "file-failed";
    case Interrupted:
      return "interrupted";
    case DeviceGone:
      return "device-gone";
    case BlocksSkipped:
      return "blocks-skipped";
    case InvalidImage:
      return "invalid-image";
    case ImageDiffers:
      return "differs";
    case NoAnswer:
      return "timeout";
    default:
      return "failed";
  }
}

std::string ReportJson(const TransferReport& report) {
  nlohmann::ordered_json object = {
      {"command", report.command},
      {"device", report.device},
      {"file", report.file},
      {"format", report.format},
      {"bytes", report.bytes},
      {"blocks", report.blocks},
      {"skipped_blocks", report.skippedBlocks},
      // Milliseconds are all a person or a script can use.
      {"seconds", std::round(report.seconds * 1000) / 1000},
      {"outcome", OutcomeName(report.status)},
      {"status", report.status},
  };
  if (report.verified) {
    object["differing_bytes"] = report.differingBytes;
    nlohmann::ordered_json first = nullptr;
    if (const auto& difference = report.firstDifference) {
      // A byte of null: the programmer's image ends before that address.
      const auto byte = [](int value) { return value < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(value); };
      first = {{"address", difference->address},
               {"file", byte(difference->fileByte)},
               {"programmer", byte(difference->programmerByte)}};
    }
    object["first_difference"] = first;
  }
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool WriteOut(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}
