// A record of every byte between the tool and the programmer, for diagnosing
// a programmer (--trace): one line per read or write with the seconds since
// the start, the direction, the count and the bytes in hexadecimal. Only a
// traced transfer goes through it, so an untraced one is as fast as ever.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "tools/RelayPort.h"
#include "transfer/BlockProtocol.h"

class TraceLog {
 public:
  TraceLog() = default;
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;
  ~TraceLog() { Close(); }

  // Starts the record at path (replaced when it exists; a terminal or a
  // pipe with a reader does too) with the heading's line; false, with
  // errno, when it cannot be written there.
  bool Open(const std::string& path, const std::string& heading);
  // One line: what ("sent", "received") and the bytes.
  void Record(const char* what, const void* bytes, int count);
  // One line of words, such as a device that went away.
  void Note(const char* what, const std::string& text);
  // False when a line did not reach the record, also one that could not be
  // written without waiting.
  bool Close();

 private:
  // The line's start: the seconds and what it records.
  void Begin(const char* what);

  std::FILE* file = nullptr;
  std::chrono::steady_clock::time_point started;
};

// The transfer's port, recording what crosses it into the log. What is
// waiting is not recorded: only the bytes read tell.
class TracePort final : public RelayPort {
 public:
  TracePort(TransferPort& line, TraceLog& log) : RelayPort(line), log(log) {}
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;

 private:
  TraceLog& log;
};
