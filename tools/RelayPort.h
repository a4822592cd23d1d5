// A port that passes everything on to the line beneath it; the tool's ports
// that watch the bytes (counting, tracing) override only Read and Write.
#pragma once

#include <functional>
#include <string>

#include "transfer/BlockProtocol.h"

class RelayPort : public TransferPort {
 public:
  explicit RelayPort(TransferPort& line) : line(line) {}
  int InQueCount() override { return line.InQueCount(); }
  int Read(void* buffer, int count) override { return line.Read(buffer, count); }
  int Write(const void* buffer, int count) override { return line.Write(buffer, count); }
  std::string Name() override { return line.Name(); }
  PortArrivals* Arrivals() override { return line.Arrivals(); }
  void WhileWriting(const std::function<bool()>& keepOn) override { line.WhileWriting(keepOn); }

 protected:
  TransferPort& line;
};
