// How a run of talvorin-transfer ended, for scripts: its exit status, and
// with --json one object on standard output that tells what was moved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transfer/ImageFiles.h"

// Bad usage exits with CLI11's own codes, 100 and above.
enum ExitCode {
  Completed = 0,
  TargetBroke = 1,
  NoBlockSize = 2,
  PortUnavailable = 3,
  FileFailed = 4,
  Interrupted = 5,
  OtherFailure = 6,
  DeviceGone = 7,
  BlocksSkipped = 8,
  InvalidImage = 9,
  ImageDiffers = 10,
  NoAnswer = 11,
};

struct TransferReport {
  std::string command;  // "download", "upload", "verify"
  std::string device;   // the port as it was named: "COM3", "/dev/ttyUSB0"
  std::string file;
  std::string format = "bin";  // "bin", "ihex", "srec"
  std::int64_t bytes = 0;  // the image's bytes that crossed the line
  int blocks = 0;          // the blocks that crossed it
  int skippedBlocks = 0;   // download: blocks the programmer refused
  double seconds = 0;
  int status = Completed;
  // A verify's result: the bytes that differ, and the first difference.
  bool verified = false;
  std::int64_t differingBytes = 0;
  std::optional<ImageComparison::Difference> firstDifference;
};

// One word for each exit status, stable for scripts: "complete", "timeout", ...
const char* OutcomeName(int status);

// The report as one line of JSON. Names that are not UTF-8 keep their other
// characters; the bytes that are not become U+FFFD.
std::string ReportJson(const TransferReport& report);

// Writes text to standard output; false, with errno, when not all of it got
// there.
bool WriteOut(const std::string& text);
