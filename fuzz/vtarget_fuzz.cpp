// The virtual programmer's byte logic against a host that sends anything,
// in pieces of any size: it takes what it is given, answers in the order of
// the protocol, and ends a session only once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "tools/VirtualTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TargetOptions options;
  options.sizeCode = input.ConsumeBool() ? 0x00 : input.ConsumeIntegral<std::uint8_t>();
  options.handshakeAck = input.ConsumeIntegralInRange(0, 7) == 0 ? 0x15 : 0x06;
  options.silent = input.ConsumeIntegralInRange(0, 15) == 0;
  options.nakRequest = input.ConsumeIntegralInRange(0, 4);
  options.escRequest = input.ConsumeIntegralInRange(0, 4);
  options.strayAfterBlock = input.ConsumeIntegralInRange(0, 4);
  options.escBehindLast = input.ConsumeBool();
  const int blockSize = options.sizeCode == 0x00 ? 256 : 128;

  const bool serve = input.ConsumeBool();
  const std::string path = ScratchFile("vprog.bin");
  WriteScratch(path, serve ? input.ConsumeRandomLengthString(1000) : std::string());
  VirtualTarget target(options);
  target.Begin(serve ? VirtualTarget::Role::Serve : VirtualTarget::Role::Store, path);

  while (input.remaining_bytes() > 0) {
    if (input.ConsumeIntegralInRange(0, 15) == 0) {
      std::vector<TargetOutput> quiet;
      target.LineQuiet(quiet);
      continue;
    }
    const std::string bytes = input.ConsumeRandomLengthString(300);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    size_t left = bytes.size();
    while (left > 0) {
      const bool finished = target.Finished();
      std::vector<TargetOutput> out;
      const size_t taken = target.Receive(p, left, out);
      FUZZ_CHECK(taken <= left);
      if (finished) {
        FUZZ_CHECK(taken == 0 && out.empty());
        break;
      }
      // A session that goes on takes at least a byte each time.
      FUZZ_CHECK(taken > 0 || target.Finished());
      for (const auto& o : out) {
        FUZZ_CHECK(!o.bytes.empty());
        FUZZ_CHECK(!o.alone || o.bytes.size() == 1);
        FUZZ_CHECK(o.bytes.size() <= static_cast<size_t>(blockSize) + 1);
      }
      if (taken == 0) break;
      p += taken;
      left -= taken;
    }
  }
  FUZZ_CHECK(!target.Summary().empty());
  // A download is stored a whole block at a time.
  if (!serve) FUZZ_CHECK(ReadScratch(path).size() % static_cast<size_t>(blockSize) == 0);
  return 0;
}
