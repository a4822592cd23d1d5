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

// One exit status: its number, its word in the JSON object, and what it
// means, as --help lists it.
struct ExitStatus {
  int code;
  const char* outcome;
  const char* meaning;
};

// Every exit status but bad usage's, in order: the one table that --help,
// the JSON object's words and the documentation follow.
extern const ExitStatus ExitStatuses[12];

// The exit statuses as --help lists them, below "Exit status:".
std::string ExitStatusHelp();

// How far a job got, filled in as it goes; StatusOf turns it into the exit
// status.
struct JobOutcome {
  bool invalidImage = false;                // FILE is not valid in its record format
  bool traceRefused = false;                // the trace could not be opened
  bool portUnavailable = false;             // the last transfer's port did not open
  std::optional<TransferOutcome> transfer;  // how the last transfer ended
  bool timedOut = false;                    // the last transfer was stopped by the programmer's silence
  int skippedBlocks = 0;                    // download: blocks the programmer refused
  bool differs = false;                     // verify: the programmer's image differs from FILE
  bool traceIncomplete = false;             // the trace could not be written all through
  bool reportUnwritten = false;             // the JSON object did not reach standard output
};

// The one place where a job's outcome becomes the tool's exit status.
int StatusOf(const JobOutcome& job);

struct TransferReport {
  std::string command;  // "download", "upload", "verify"
  std::string device;   // the port as it was named: "COM3", "/dev/ttyUSB0"
  std::string file;
  std::string format = "bin";  // "bin", "ihex", "srec"
  std::int64_t bytes = 0;      // the image's bytes that crossed the line
  int blocks = 0;              // the blocks that crossed it
  int skippedBlocks = 0;       // download: blocks the programmer refused
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
