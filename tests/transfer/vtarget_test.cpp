// The virtual programmer's byte logic on its own.
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "tools/VirtualTarget.h"
#include "transfer/FakeLine.h"

namespace {

// Feeds the host's bytes and describes everything the target sends: lone
// bytes marked with a leading '|', longer writes by their size. All the bytes
// sent are kept in raw.
std::string Exchange(VirtualTarget& target, const Bytes& fromHost, Bytes* raw = nullptr) {
  std::string sent;
  std::vector<TargetOutput> out;
  const auto* data = reinterpret_cast<const std::uint8_t*>(fromHost.data());
  for (size_t at = 0; at < fromHost.size();) {
    out.clear();
    at += target.Receive(data + at, fromHost.size() - at, out);
    for (const auto& o : out) {
      sent += (o.alone ? "|" : "") +
              (o.bytes.size() > 2 ? "[" + std::to_string(o.bytes.size()) + "]" : FakeLine::Hex(o.bytes)) + " ";
      if (raw) *raw += o.bytes;
    }
  }
  return sent;
}

TEST(VirtualTarget, DownloadAnswersAndStoresWholeBlocks) {
  TempDir dir;
  TargetOptions options;
  options.sizeCode = 0x01;
  options.nakRequest = 2;
  VirtualTarget target(options);
  target.Begin(VirtualTarget::Role::Store, dir.file("stored.bin"));
  const Bytes one = Pattern(128, 1), three = Pattern(128, 3);
  // Repeated handshake requests in one read are answered once.
  EXPECT_EQ(Exchange(target, "\x02\x02\x02"), "01 06 ");
  EXPECT_EQ(Exchange(target, "\x02" + one + "\x02\x02" + three), "06 15 06 ");
  EXPECT_FALSE(target.Finished());
  EXPECT_EQ(Exchange(target, "\x1B"), "");
  EXPECT_TRUE(target.Finished());
  EXPECT_EQ(dir.read("stored.bin"), one + three);
}

TEST(VirtualTarget, DownloadTargetBreakAndWrongHandshake) {
  TempDir dir;
  TargetOptions esc;
  esc.escRequest = 1;
  VirtualTarget breaking(esc);
  breaking.Begin(VirtualTarget::Role::Store, dir.file("a.bin"));
  EXPECT_EQ(Exchange(breaking, "\x02\x02"), "00 06 ");
  EXPECT_EQ(Exchange(breaking, "\x02"), "1B ");
  EXPECT_TRUE(breaking.Finished());

  TargetOptions wrong;
  wrong.handshakeAck = 0x15;
  VirtualTarget refusing(wrong);
  refusing.Begin(VirtualTarget::Role::Store, dir.file("b.bin"));
  EXPECT_EQ(Exchange(refusing, "\x02"), "00 15 ");
  EXPECT_TRUE(refusing.Finished());
}

// The host's ESC sent where a block was due stops short of a block; a block
// that pauses after other bytes keeps being collected.
TEST(VirtualTarget, QuietLineAfterALoneEscEndsTheDownload) {
  TempDir dir;
  VirtualTarget target{TargetOptions{}};
  target.Begin(VirtualTarget::Role::Store, dir.file("stored.bin"));
  std::vector<TargetOutput> quietOut;
  EXPECT_EQ(Exchange(target, "\x02"), "00 06 ");
  EXPECT_EQ(Exchange(target, "\x02"), "06 ");
  EXPECT_FALSE(target.InBlock());
  EXPECT_EQ(Exchange(target, "\x1B\x1B"), "");
  target.LineQuiet(quietOut);
  EXPECT_FALSE(target.Finished());
  const Bytes block = "\x1B\x1B" + Pattern(254);
  EXPECT_EQ(Exchange(target, block.substr(2) + "\x02"), "06 ");
  EXPECT_EQ(Exchange(target, "\x1B"), "");
  EXPECT_TRUE(target.InBlock());
  target.LineQuiet(quietOut);
  EXPECT_TRUE(target.Finished());
  EXPECT_EQ(target.Summary(), "download ended by the host's ESC: 1 blocks of 256 bytes (" + dir.file("stored.bin") + ")");
  EXPECT_EQ(dir.read("stored.bin"), block);
}

TEST(VirtualTarget, UploadSendsPaddedBlocksAndLoneControlBytes) {
  TempDir dir;
  dir.write("image.bin", Bytes(130, 'z'));
  TargetOptions options;
  options.sizeCode = 0x80;
  options.strayAfterBlock = 1;
  VirtualTarget target(options);
  target.Begin(VirtualTarget::Role::Serve, dir.file("image.bin"));
  Bytes raw;
  EXPECT_EQ(Exchange(target, "\x02\x02"), "80 06 |02 ");
  EXPECT_EQ(Exchange(target, "\x02\x06", &raw), "[128] |41 |02 ");
  EXPECT_EQ(Exchange(target, "\x06", &raw), "[128] |1B ");
  EXPECT_TRUE(target.Finished());
  EXPECT_EQ(raw, Bytes(128, 'z') + "A\x02" + "zz" + Bytes(126, '\xFF') + "\x1B");

  options.strayAfterBlock = 0;
  options.escBehindLast = true;
  VirtualTarget behind(options);
  behind.Begin(VirtualTarget::Role::Serve, dir.file("image.bin"));
  EXPECT_EQ(Exchange(behind, "\x02"), "80 06 |02 ");
  EXPECT_EQ(Exchange(behind, "\x06"), "[128] |02 ");
  EXPECT_EQ(Exchange(behind, "\x06"), "[129] ");
  EXPECT_TRUE(behind.Finished());
}

TEST(VirtualTarget, EmptyImageEndsRightAfterTheHandshake) {
  TempDir dir;
  dir.write("empty.bin", "");
  VirtualTarget target{TargetOptions{}};
  target.Begin(VirtualTarget::Role::Serve, dir.file("empty.bin"));
  EXPECT_EQ(Exchange(target, "\x1B\x02"), "00 06 |1B ");
  EXPECT_TRUE(target.Finished());
}

// A memory: a download writes its blocks over it from address 0 and keeps the
// rest; a host that asks nothing after the handshake gets an upload of all
// of it; a session that took no block leaves the file as it was.
TEST(VirtualTarget, MemoryTakesDownloadsAndServesUploads) {
  TempDir dir;
  const Bytes old = Pattern(600, 1), block = Pattern(256, 2);
  dir.write("memory.bin", old);
  VirtualTarget target{TargetOptions{}};
  std::vector<TargetOutput> out;
  target.Begin(VirtualTarget::Role::Memory, dir.file("memory.bin"));
  EXPECT_EQ(Exchange(target, "\x02"), "00 06 ");
  target.HostGone();
  EXPECT_EQ(target.Summary(), "download the host went away: 0 blocks of 256 bytes (" + dir.file("memory.bin") + ")");
  EXPECT_EQ(dir.read("memory.bin"), old);

  target.Begin(VirtualTarget::Role::Memory, dir.file("memory.bin"));
  EXPECT_EQ(Exchange(target, "\x02"), "00 06 ");
  EXPECT_EQ(Exchange(target, "\x02" + block + "\x1B"), "06 ");
  EXPECT_TRUE(target.Finished());
  const Bytes written = block + old.substr(256);
  EXPECT_EQ(dir.read("memory.bin"), written);

  target.Begin(VirtualTarget::Role::Memory, dir.file("memory.bin"));
  EXPECT_EQ(Exchange(target, "\x02"), "00 06 ");
  EXPECT_EQ(target.QuietAfterMs(), 500);
  target.LineQuiet(out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, "\x02");
  Bytes sent;
  EXPECT_EQ(Exchange(target, "\x06\x06\x06", &sent), "[256] |02 [256] |02 [256] |1B ");
  EXPECT_EQ(sent, written.substr(0, 256) + "\x02" + written.substr(256, 256) + "\x02" + written.substr(512) +
                      Bytes(168, '\xFF') + "\x1B");
  EXPECT_EQ(target.Summary(), "upload complete: 3 blocks of 256 bytes (" + dir.file("memory.bin") + ")");
}

}  // namespace
