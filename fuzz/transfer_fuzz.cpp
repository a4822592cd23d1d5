// The host side of both transfer directions against a target that sends
// whatever the input says, in pieces of any size, with a fake clock. It must
// end once the user breaks, never send more blocks than the file has, and
// report a complete transfer only where the protocol ends one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "transfer/BlockProtocol.h"

namespace {

// A line to the fuzzed target and the dialog around the transfer. The target
// speaks at each pump; when the input runs out the user presses Stop.
class FuzzLine final : public TransferPort, public TransferHost {
 public:
  explicit FuzzLine(FuzzedDataProvider& input) : input(input) {}

  FuzzedDataProvider& input;
  std::deque<std::uint8_t> waiting;
  std::vector<std::string> writes;  // each write of the host
  std::vector<std::string> reads;   // each read of the host
  std::vector<size_t> waitingAtRead;
  size_t readsBeforeFirstWrite = SIZE_MAX;  // the drain's reads come before the first STX
  std::uint32_t now = 0;
  bool stop = false;
  long pumpsAfterStop = 0;
  bool gone = false;
  bool failAllocation = false;

  int InQueCount() override {
    if (gone) throw PortGone("gone");
    return static_cast<int>(waiting.size());
  }
  int Read(void* buffer, int count) override {
    if (gone) throw PortGone("gone");
    FUZZ_CHECK(count > 0 && static_cast<size_t>(count) <= waiting.size());
    waitingAtRead.push_back(waiting.size());
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::string bytes;
    for (int i = 0; i < count; ++i) {
      out[i] = waiting.front();
      bytes += static_cast<char>(waiting.front());
      waiting.pop_front();
    }
    reads.push_back(bytes);
    return count;
  }
  int Write(const void* buffer, int count) override {
    if (gone) throw PortGone("gone");
    FUZZ_CHECK(count > 0);
    if (writes.empty()) readsBeforeFirstWrite = reads.size();
    writes.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }
  std::string Name() override { return "COM1"; }

  std::uint32_t Now() override { return now; }
  bool EscapePressed() override { return false; }
  void ProcessMessages() override {
    if (stop) {
      // After Stop every wait ends at its next check.
      FUZZ_CHECK(++pumpsAfterStop < 4);
      return;
    }
    if (input.remaining_bytes() == 0) {
      stop = true;
      return;
    }
    now += input.ConsumeIntegralInRange<std::uint32_t>(0, 1500);
    switch (input.ConsumeIntegralInRange(0, 9)) {
      case 0:
        stop = true;
        break;
      case 1:
        gone = input.ConsumeBool();
        break;
      default: {
        // A piece of the target's bytes, now and then a whole block of them.
        const size_t length = input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(0, 4)
                                                  : input.PickValueInArray({size_t{128}, size_t{256}, size_t{257}});
        for (size_t i = 0; i < length; ++i) waiting.push_back(input.ConsumeIntegral<std::uint8_t>());
      }
    }
  }
  bool StopRequested() override { return stop; }
  void ClearStop() override { stop = false; }
  void SetStartEnabled(bool) override {}
  void SetStopEnabled(bool) override {}
  void ShowMessage(const std::string&, const std::string&) override {}
  void ProgressReset() override {}
  void ProgressStep() override {}
  std::unique_ptr<std::uint8_t[]> AllocateBlock(int size) override {
    return failAllocation ? nullptr : TransferHost::AllocateBlock(size);
  }

  // The handshake reply is the first read of two bytes after the first
  // request: what the drain before it reads may come in pieces of any size.
  size_t HandshakeRead() const {
    for (size_t i = readsBeforeFirstWrite; i < reads.size(); ++i)
      if (reads[i].size() == 2) return i;
    return reads.size();
  }
};

size_t Count(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<size_t>(std::count(list.begin(), list.end(), item));
}

const std::string STX(1, Ctl::STX), ACK(1, Ctl::ACK), ESC(1, Ctl::ESC);

void Download(FuzzedDataProvider& input, FuzzLine& line) {
  const std::string file = input.ConsumeRandomLengthString(1200);
  const std::string path = ScratchFile("download.bin");
  WriteScratch(path, file);
  const TransferOutcome outcome = RunDownload(line, line, path, NameMatch::Caseless);

  const size_t hs = line.HandshakeRead();
  const int blockSize = hs < line.reads.size() ? BlockSizeFor(static_cast<std::uint8_t>(line.reads[hs][0])) : 0;
  const size_t fileBlocks = blockSize ? (file.size() + static_cast<size_t>(blockSize) - 1) / static_cast<size_t>(blockSize) : 0;
  size_t blocks = 0;
  for (const auto& write : line.writes) {
    if (write.size() <= 1) continue;
    FUZZ_CHECK(static_cast<int>(write.size()) == blockSize);
    // Each block is the file's next piece, filled up with 0xFF.
    ++blocks;
  }
  FUZZ_CHECK(blocks <= fileBlocks);
  if (outcome == TransferOutcome::Complete) {
    FUZZ_CHECK(hs < line.reads.size() && line.reads[hs][1] == static_cast<char>(Ctl::ACK));
    FUZZ_CHECK(!line.writes.empty() && line.writes.back() == ESC);
    // One request for every block of the file, none answered with ESC.
    size_t requests = 0;
    for (size_t i = 0; i < line.writes.size(); ++i) requests += line.writes[i] == STX;
    const size_t answers = line.reads.size() - hs - 1;
    FUZZ_CHECK(answers == fileBlocks);
    for (size_t i = hs + 1; i < line.reads.size(); ++i) FUZZ_CHECK(line.reads[i] != ESC);
    FUZZ_CHECK(requests >= fileBlocks);
  }
}

void Upload(FuzzLine& line) {
  const std::string path = ScratchFile("upload.bin");
  const TransferOutcome outcome = RunUpload(line, line, path, NameMatch::Caseless);

  const size_t hs = line.HandshakeRead();
  const int blockSize = hs < line.reads.size() ? BlockSizeFor(static_cast<std::uint8_t>(line.reads[hs][0])) : 0;
  // The host answers a request only: one ACK for each lone STX it read.
  size_t loneStx = 0;
  std::string blocks;
  for (size_t i = hs + 1; i < line.reads.size(); ++i) {
    if (line.reads[i] == STX && line.waitingAtRead[i] == 1) ++loneStx;
    if (line.reads[i].size() > 1) {
      FUZZ_CHECK(static_cast<int>(line.reads[i].size()) == blockSize);
      blocks += line.reads[i];
    }
  }
  FUZZ_CHECK(Count(line.writes, ACK) == loneStx);
  if (outcome == TransferOutcome::Complete) {
    FUZZ_CHECK(hs < line.reads.size() && line.reads[hs][1] == static_cast<char>(Ctl::ACK));
    // Only a lone ESC of the target ends an upload, and the file holds every
    // whole block it read.
    FUZZ_CHECK(line.reads.back() == ESC && line.waitingAtRead.back() == 1);
    FUZZ_CHECK(ReadScratch(path) == blocks);
    FUZZ_CHECK(Count(line.writes, ESC) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool upload = input.ConsumeBool();
  FuzzLine line(input);
  line.failAllocation = input.ConsumeIntegralInRange(0, 15) == 0;
  if (upload)
    Upload(line);
  else
    Download(input, line);
  return 0;
}
