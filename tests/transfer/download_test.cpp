// Download, host side, against a scripted target on a fake line.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "support/TempDir.h"
#include "transfer/FakeLine.h"

namespace {

using Events = std::vector<std::string>;

const Bytes STX = Byte(Ctl::STX);
const Bytes ESC = Byte(Ctl::ESC);
const std::string Gone = "msg COM1 was disconnected.\nThe programmer is no longer connected.";

// What the host must send for a file: the handshake STX, then per block STX
// and the block filled up with 0xFF, then ESC.
Bytes ExpectedWire(const Bytes& file, int blockSize) {
  Bytes wire = STX;
  for (size_t at = 0; at < file.size(); at += static_cast<size_t>(blockSize)) {
    Bytes block = file.substr(at, static_cast<size_t>(blockSize));
    block.resize(static_cast<size_t>(blockSize), '\xFF');
    wire += STX + block;
  }
  return wire + ESC;
}

struct Download : ::testing::Test {
  TempDir dir;
  FakeLine line;
  DownloadTarget target;
  void SetUp() override { line.target = &target; }
  TransferOutcome Run(const Bytes& content) {
    dir.write("image.bin", content);
    return RunDownload(line, line, dir.file("image.bin"), NameMatch::Caseless);
  }
};

TEST_F(Download, ThreeHundredBytesInLargeBlocksByteForByte) {
  const Bytes file = Pattern(300);
  EXPECT_EQ(Run(file), TransferOutcome::Complete);

  const Bytes wire = STX + STX + file.substr(0, 256) + STX + file.substr(256) + Bytes(212, '\xFF') + ESC;
  EXPECT_EQ(line.sent, wire);
  EXPECT_EQ(target.received, file.substr(0, 256) + file.substr(256) + Bytes(212, '\xFF'));
  EXPECT_EQ(line.events, (Events{"stop 1", "start 0", "clear", "reset", "W 02", "range 2", "step", "W 02",
                                 "W block 256", "step", "W 02", "W block 256", "W 1B",
                                 "msg Download compelete !!!|Job down !!!", "stop 0", "start 1"}));
  EXPECT_EQ(line.steps, 2);
}

// Block counts and fill for the sizes and size codes that matter.
TEST_F(Download, SizesAndSizeCodes) {
  for (const size_t size : {0u, 300u, 512u, 1000u}) {
    for (const std::uint8_t code : {0x00, 0x01, 0x80, 0xFF}) {
      SCOPED_TRACE("size " + std::to_string(size) + " code " + std::to_string(code));
      FakeLine fresh;
      DownloadTarget peer;
      peer.reply = Byte(code) + Byte(Ctl::ACK);
      fresh.target = &peer;
      const Bytes file = Pattern(size, static_cast<unsigned>(size + code));
      dir.write("image.bin", file);

      EXPECT_EQ(RunDownload(fresh, fresh, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::Complete);
      const int blockSize = code == 0x00 ? 256 : 128;
      const int blocks = static_cast<int>((size + static_cast<size_t>(blockSize) - 1) / static_cast<size_t>(blockSize));
      EXPECT_EQ(fresh.sent, ExpectedWire(file, blockSize));
      EXPECT_EQ(fresh.range, blocks);
      EXPECT_EQ(fresh.steps, blocks);
      Bytes padded = file;
      padded.resize(static_cast<size_t>(blocks * blockSize), '\xFF');
      EXPECT_EQ(peer.received, padded);
    }
  }
}

TEST_F(Download, ReplyWithoutAckFailsTheHandshake) {
  target.reply = Bytes("\x00\x15", 2);
  EXPECT_EQ(Run(Pattern(300)), TransferOutcome::HandshakeFailed);
  EXPECT_EQ(line.sent, STX + ESC);
  EXPECT_EQ(line.Tail(4),
            (Events{"W 1B", "msg Something wrong. Can not get block size.|ERROR", "start 1", "stop 0"}));
}

// STX goes out every 1000 ms of silence, never sooner, until Escape ends the
// wait; whatever the pace of the polling passes and the rests between them:
// a rest that could last longer ends when the next repeat is due. An Escape
// pressed during a rest is seen at the next pass.
TEST_F(Download, SilentTargetGetsStxEverySecondUntilEscape) {
  struct Pace {
    std::uint32_t tick, rest;
    size_t repeats;
  };
  for (const auto& [tick, rest, repeats] : {Pace{1, 0, 5}, {7, 0, 5}, {333, 0, 4}, {0, 1, 5}, {1, 1, 5}, {2, 3, 5}, {1, 400, 5}}) {
    SCOPED_TRACE("tick " + std::to_string(tick) + ", rest " + std::to_string(rest));
    FakeLine fresh;
    DownloadTarget peer;
    peer.silent = true;
    fresh.target = &peer;
    fresh.tick = tick;
    fresh.rest = rest;
    fresh.escapeDownAt = 4500;
    dir.write("image.bin", Pattern(10));

    EXPECT_EQ(RunDownload(fresh, fresh, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::BreakWaitingSize);
    EXPECT_EQ(fresh.sent, Bytes(repeats, '\x02') + ESC);
    for (size_t i = 1; i + 1 < fresh.sendTimes.size(); ++i) {
      EXPECT_GE(fresh.sendTimes[i] - fresh.sendTimes[i - 1], 1000u);
      EXPECT_LT(fresh.sendTimes[i] - fresh.sendTimes[i - 1], 1000u + tick + std::min<std::uint32_t>(rest, 2));
    }
    EXPECT_LT(fresh.sendTimes.back(), fresh.escapeDownAt + tick + rest);
    if (rest > 0) {
      EXPECT_GT(fresh.rests, 4500 / static_cast<int>(tick + rest) - 5) << "a rest after every idle pass";
    }
    EXPECT_EQ(fresh.Tail(5), (Events{"W 1B", "clear", "start 1", "stop 0",
                                     "msg USER Break !!!\n ( It is waiting for ACK. )|USER BREAK!!!"}));
  }
}

// The reply was counted but the device went away before it could be read:
// the transfer ends as disconnected, with ESC sent in case the line still
// reaches the target.
TEST_F(Download, ShortReadOfTheHandshakeReplyIsADisconnection) {
  for (const int given : {-1, 1}) {
    SCOPED_TRACE(given);
    FakeLine fresh;
    DownloadTarget peer;
    fresh.target = &peer;
    fresh.shortRead = given;
    dir.write("image.bin", Pattern(300));
    EXPECT_EQ(RunDownload(fresh, fresh, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
    EXPECT_EQ(fresh.sent, STX + ESC);
    EXPECT_EQ(fresh.Tail(3), (Events{Gone + "|ERROR", "stop 0", "start 1"}));
  }
}

// The device goes in the middle of the blocks, or before Start: the transfer
// ends at once, ESC is attempted, the bar keeps its place and the buttons
// are as after a break.
TEST_F(Download, AVanishedDeviceEndsTheTransferAtOnce) {
  target.reply = Bytes("\x01\x06", 2);
  target.onRequest = [&](int request) {
    if (request == 3) line.gone = true;
  };
  EXPECT_EQ(Run(Pattern(1000)), TransferOutcome::Disconnected);
  EXPECT_EQ(line.steps, 3);
  EXPECT_EQ(target.received.size(), 2u * 128);
  EXPECT_EQ(line.Tail(4), (Events{"W! 1B", Gone + "|ERROR", "stop 0", "start 1"}));

  FakeLine idle;
  idle.gone = true;
  dir.write("image.bin", Pattern(300));
  EXPECT_EQ(RunDownload(idle, idle, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
  EXPECT_EQ(idle.events, (Events{"stop 1", "start 0", "clear", "W! 1B", Gone + "|ERROR", "stop 0", "start 1"}));
}

TEST_F(Download, EscapePressedBeforeStartDoesNotBreak) {
  line.escapePressedEarlier = true;
  EXPECT_EQ(Run(Pattern(300)), TransferOutcome::Complete);
}

TEST_F(Download, StopWhileWaitingForTheHandshakeReply) {
  target.replyAt = 2500;
  line.stopAt = 2000;
  EXPECT_EQ(Run(Pattern(300)), TransferOutcome::BreakWaitingSize);
  EXPECT_EQ(line.sent, STX + STX + STX + ESC);

  // Old bytes before the first request are read in bounded pieces, each
  // followed by the break check and the window messages.
  FakeLine full;
  full.Arrive(Bytes(100000, 'U'));
  full.stopAt = 20;
  EXPECT_EQ(RunDownload(full, full, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::BreakWaitingSize);
  EXPECT_EQ(full.sent, ESC);
  EXPECT_FALSE(full.waiting.empty());
}

TEST_F(Download, NakDropsThatBlockAndTheNextIsOffered) {
  target.reply = Bytes("\x01\x06", 2);
  target.answers = {Ctl::ACK, Ctl::NAK, Ctl::ACK};
  const Bytes file = Pattern(300);
  EXPECT_EQ(Run(file), TransferOutcome::Complete);
  Bytes last = file.substr(256);
  last.resize(128, '\xFF');
  EXPECT_EQ(line.sent, STX + STX + file.substr(0, 128) + STX + STX + last + ESC);
  EXPECT_EQ(line.steps, 3);
}

TEST_F(Download, EscFromTheTargetEndsWithNothingMoreSent) {
  target.answers = {Ctl::ACK, Ctl::ESC};
  const Bytes file = Pattern(1000);
  EXPECT_EQ(Run(file), TransferOutcome::TargetBreak);
  EXPECT_EQ(line.sent, STX + STX + file.substr(0, 256) + STX);
  EXPECT_EQ(line.Tail(3), (Events{"msg Target send ESC !!!|Target Break !!!", "stop 0", "start 1"}));
}

TEST_F(Download, UserBreakWaitingForABlockReply) {
  target.answers = {Ctl::ACK, 0};
  line.stopAt = 5000;
  const Bytes file = Pattern(1000);
  EXPECT_EQ(Run(file), TransferOutcome::BreakWaitingReply);
  EXPECT_EQ(line.sent, STX + STX + file.substr(0, 256) + STX + ESC);
  EXPECT_EQ(line.Tail(4), (Events{"W 1B", "msg User press ESC !!!|USER BREAK !!!", "stop 0", "start 1"}));
}

TEST_F(Download, UserBreakAfterABlock) {
  target.stopWithAnswer = 1;
  const Bytes file = Pattern(1000);
  EXPECT_EQ(Run(file), TransferOutcome::BreakInExchange);
  EXPECT_EQ(line.sent, STX + STX + file.substr(0, 256) + ESC);
  EXPECT_EQ(line.Tail(4), (Events{"W 1B", "msg User press ESC !!!|USER BREAK !!!", "stop 0", "start 1"}));
}

TEST_F(Download, MissingFileSendsOneEscAndNoHandshake) {
  for (const std::string& name : {dir.file("absent.bin"), std::string(), dir.path()}) {
    FakeLine fresh;
    EXPECT_EQ(RunDownload(fresh, fresh, name, NameMatch::Caseless), TransferOutcome::FileMissing);
    EXPECT_EQ(fresh.sent, ESC);
    EXPECT_EQ(fresh.events, (Events{"stop 1", "start 0", "clear", "W 1B",
                                    "msg File : " + name + " is not exist.|ERROR", "start 1", "stop 0"}));
  }
}

TEST_F(Download, FileNameMatchesWithoutRegardToCase) {
  dir.write("Image.BIN", Pattern(300));
  EXPECT_EQ(RunDownload(line, line, dir.file("IMAGE.bin"), NameMatch::Caseless), TransferOutcome::Complete);
  EXPECT_EQ(line.sent, ExpectedWire(Pattern(300), 256));
}

// 2 GiB do not fit the 32-bit size: refused before anything is sent. One byte
// less still starts.
TEST_F(Download, FilesOfTwoGigabytesAreRefusedBeforeAnythingIsSent) {
  dir.write("big.bin", "");
  std::filesystem::resize_file(dir.file("big.bin"), 0x80000000ULL);
  EXPECT_EQ(RunDownload(line, line, dir.file("big.bin"), NameMatch::Caseless), TransferOutcome::FileTooLarge);
  EXPECT_EQ(line.sent, "");
  EXPECT_EQ(line.Tail(3), (Events{"msg File : " + dir.file("big.bin") +
                                      " is too large. It must be smaller than 2 GB.|ERROR",
                                  "start 1", "stop 0"}));

  FakeLine fresh;
  DownloadTarget silent;
  silent.silent = true;
  fresh.target = &silent;
  fresh.stopAt = 10;
  std::filesystem::resize_file(dir.file("big.bin"), 0x7FFFFFFFULL);
  EXPECT_EQ(RunDownload(fresh, fresh, dir.file("big.bin"), NameMatch::Caseless), TransferOutcome::BreakWaitingSize);
  EXPECT_EQ(fresh.sent, STX + ESC);
}

TEST_F(Download, FileGoneAfterTheHandshakeEndsWithEscAndNoBlock) {
  dir.write("image.bin", Pattern(300));
  struct RemovesFile : DownloadTarget {
    std::string path;
    void Pump(FakeLine& line) override {
      if (!line.sent.empty()) std::filesystem::remove(path);
      DownloadTarget::Pump(line);
    }
  } peer;
  peer.path = dir.file("image.bin");
  line.target = &peer;
  EXPECT_EQ(RunDownload(line, line, dir.file("image.bin"), NameMatch::Caseless), TransferOutcome::FileUnreadable);
  EXPECT_EQ(line.sent, STX + ESC);
  EXPECT_EQ(line.Tail(4), (Events{"W 1B",
                                  "msg File : " + dir.file("image.bin") + " can not be read. The download is abort.|ERROR",
                                  "stop 0", "start 1"}));
}

TEST_F(Download, FileShorterThanItsSizeSendsNoStaleBlock) {
  target.reply = Bytes("\x01\x06", 2);
  const Bytes file = Pattern(1000);
  target.onRequest = [&](int request) {
    if (request == 1) std::filesystem::resize_file(dir.file("image.bin"), 300);
  };
  EXPECT_EQ(Run(file), TransferOutcome::FileUnreadable);
  EXPECT_EQ(line.sent, STX + STX + file.substr(0, 128) + STX + file.substr(128, 128) + ESC);
  EXPECT_EQ(line.range, 8);
}

TEST_F(Download, NoBlockBufferShowsTheMessageBeforeEsc) {
  line.failAllocation = true;
  EXPECT_EQ(Run(Pattern(300)), TransferOutcome::BufferFailed);
  EXPECT_EQ(line.sent, STX + ESC);
  EXPECT_EQ(line.Tail(4),
            (Events{"msg Memory alloc error, transmition is abort.|ERROR", "W 1B", "stop 0", "start 1"}));
}

// A closed port reports -1 waiting and writes nothing: the handshake waits
// for the user.
TEST_F(Download, ClosedPortWaitsUntilTheUserBreaks) {
  line.portOpen = false;
  line.escapeDownAt = 2500;
  EXPECT_EQ(Run(Pattern(300)), TransferOutcome::BreakWaitingSize);
  EXPECT_EQ(line.sent, "");
}

}  // namespace
