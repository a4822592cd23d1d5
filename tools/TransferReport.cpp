#include "tools/TransferReport.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

const ExitStatus ExitStatuses[12] = {
    {Completed, "complete", "the transfer completed"},
    {TargetBroke, "target-break", "the programmer stopped the download (it answered with ESC)"},
    {NoBlockSize, "no-block-size", "the handshake failed: no block size"},
    {PortUnavailable, "port-unavailable", "the port could not be opened"},
    {FileFailed, "file-failed",
     "the file could not be read or written (missing, 2 GiB or more, no directory, not a plain file, a read or "
     "write error), or the --trace file"},
    {Interrupted, "interrupted", "interrupted by SIGINT or SIGTERM (ESC was sent)"},
    {OtherFailure, "failed", "any other failure (no memory for the block buffer, an unexpected error)"},
    {DeviceGone, "device-gone", "the programmer went away during the transfer (unplugged)"},
    {BlocksSkipped, "blocks-skipped",
     "the download went to its end, but blocks were not sent: the programmer answered their requests with "
     "neither ACK nor ESC"},
    {InvalidImage, "invalid-image",
     "the image file is not valid in its format (Intel HEX, S-records): a bad record, checksum, overlap or an "
     "address past 2 GiB, named with its line"},
    {ImageDiffers, "differs", "verify: the programmer's image differs from the file"},
    {NoAnswer, "timeout", "no answer from the programmer within --timeout SECONDS (ESC was sent)"},
};

namespace {

// Words filled into lines of at most width characters, each after indent.
std::string Wrapped(const std::string& text, size_t width, const std::string& indent) {
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
      out += line + "\n" + indent;
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line;
}

}  // namespace

std::string ExitStatusHelp() {
  std::string help;
  for (const ExitStatus& status : ExitStatuses) {
    std::string code = std::to_string(status.code);
    code.resize(3, ' ');
    help += "  " + code + Wrapped(status.meaning, 110, "     ") + "\n";
  }
  return help + "  100 and above  bad usage";
}

const char* OutcomeName(int status) {
  for (const ExitStatus& known : ExitStatuses)
    if (known.code == status) return known.outcome;
  return "failed";
}

int StatusOf(const JobOutcome& job) {
  if (job.invalidImage) return InvalidImage;
  if (job.traceRefused) return FileFailed;
  if (job.portUnavailable) return PortUnavailable;
  int status = OtherFailure;
  if (job.transfer) switch (*job.transfer) {
      case TransferOutcome::Complete:
        status = Completed;
        break;
      case TransferOutcome::TargetBreak:
        status = TargetBroke;
        break;
      case TransferOutcome::HandshakeFailed:
        status = NoBlockSize;
        break;
      // Only a signal or the limit on silence sets the stop flag here.
      case TransferOutcome::BreakWaitingSize:
      case TransferOutcome::BreakWaitingReply:
      case TransferOutcome::BreakInExchange:
        status = job.timedOut ? NoAnswer : Interrupted;
        break;
      case TransferOutcome::FileMissing:
      case TransferOutcome::FileTooLarge:
      case TransferOutcome::FileUnreadable:
      case TransferOutcome::DirectoryMissing:
      case TransferOutcome::FileNotCreated:
      case TransferOutcome::WriteFailed:
        status = FileFailed;
        break;
      case TransferOutcome::BufferFailed:
        status = OtherFailure;
        break;
      case TransferOutcome::Disconnected:
        status = DeviceGone;
        break;
    }
  if (status != Completed) return status;
  // A download with holes, or an image that differs, is no success; nor is
  // a transfer whose trace or report did not get out whole.
  if (job.skippedBlocks > 0) return BlocksSkipped;
  if (job.differs) return ImageDiffers;
  if (job.traceIncomplete) return FileFailed;
  if (job.reportUnwritten) return OtherFailure;
  return Completed;
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
