// Upload, host side, against a scripted target on a fake line.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>

#include "platform/Files.h"
#include "support/TempDir.h"
#include "transfer/FakeLine.h"
#include "transfer/TransferFiles.h"

namespace {

using Events = std::vector<std::string>;

const Bytes STX = Byte(Ctl::STX);
const Bytes ACK = Byte(Ctl::ACK);
const Bytes ESC = Byte(Ctl::ESC);
const std::string Gone = "msg COM1 was disconnected.\nThe programmer is no longer connected.";

struct Upload : ::testing::Test {
  TempDir dir;
  FakeLine line;
  UploadTarget target;
  void SetUp() override { line.target = &target; }
  TransferOutcome Run() { return RunUpload(line, line, dir.file("out.bin"), NameMatch::Caseless); }
};

TEST_F(Upload, TwoSmallBlocksByteForByte) {
  const Bytes one = Pattern(128, 1), two = Pattern(128, 2);
  target.Blocks({one, two});
  EXPECT_EQ(Run(), TransferOutcome::Complete);
  EXPECT_EQ(line.sent, STX + ACK + ACK);
  EXPECT_EQ(dir.read("out.bin"), one + two);
  EXPECT_EQ(line.events.front(), "reset");
  EXPECT_EQ(line.Tail(4), (Events{"reset", "msg Upload compelete !!!|FINISH !!!", "stop 0", "start 1"}));
  EXPECT_EQ((Events(line.events.begin(), line.events.begin() + 5)),
            (Events{"reset", "clear", "stop 1", "start 0", "W 02"}));
}

// Whole blocks in arrival order, whatever the size code, with ESC alone or
// right behind the last block.
TEST_F(Upload, BlocksAreStoredWhole) {
  for (const std::uint8_t code : {0x00, 0x01, 0x80, 0xFF}) {
    for (const int count : {0, 1, 3}) {
      for (const bool escBehind : {false, true}) {
        SCOPED_TRACE("code " + std::to_string(code) + " blocks " + std::to_string(count) +
                     (escBehind ? " esc behind" : ""));
        FakeLine fresh;
        UploadTarget peer;
        peer.reply = Byte(code) + ACK;
        std::vector<Bytes> blocks;
        Bytes image;
        for (int i = 0; i < count; ++i) {
          blocks.push_back(Pattern(BlockSizeFor(code), static_cast<unsigned>(i + code)));
          image += blocks.back();
        }
        peer.Blocks(blocks, escBehind);
        fresh.target = &peer;
        EXPECT_EQ(RunUpload(fresh, fresh, dir.file("out.bin"), NameMatch::Caseless), TransferOutcome::Complete);
        EXPECT_EQ(dir.read("out.bin"), image);
        EXPECT_EQ(fresh.sent, STX + Bytes(static_cast<size_t>(count), Ctl::ACK));
      }
    }
  }
}

// The reply was counted but the device went away before it could be read:
// the transfer ends as disconnected before any file is created.
TEST_F(Upload, ShortReadOfTheHandshakeReplyIsADisconnection) {
  for (const int given : {-1, 1}) {
    SCOPED_TRACE(given);
    FakeLine fresh;
    UploadTarget peer;
    peer.Blocks({Pattern(128)});
    fresh.target = &peer;
    fresh.shortRead = given;
    EXPECT_EQ(RunUpload(fresh, fresh, dir.file("out.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
    EXPECT_EQ(fresh.sent, STX + ESC);
    EXPECT_EQ(fresh.Tail(3), (Events{Gone + "|ERROR !!!", "stop 0", "start 1"}));
    EXPECT_FALSE(dir.exists("out.bin"));
  }
}

// A block counted whole but read short (the device went in between) never
// reaches the file, not even in part: the file keeps the whole blocks before.
TEST_F(Upload, ABlockReadShortIsNotWritten) {
  const Bytes one = Pattern(128, 1), two = Pattern(128, 2);
  for (const int given : {-1, 0, 100}) {
    SCOPED_TRACE(given);
    FakeLine fresh;
    UploadTarget peer;
    peer.Blocks({one, two});
    fresh.target = &peer;
    fresh.shortRead = given;
    fresh.readsBeforeShort = 4;  // the reply, STX, the first block, STX
    EXPECT_EQ(RunUpload(fresh, fresh, dir.file("out.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
    EXPECT_EQ(dir.read("out.bin"), one);
    EXPECT_EQ(fresh.sent, STX + ACK + ACK + ESC);
    EXPECT_EQ(fresh.Tail(3),
              (Events{Gone + "\n128 bytes are saved in " + dir.file("out.bin") + " .|ERROR !!!", "stop 0", "start 1"}));
  }
}

// The device goes after the host has answered the third block request, or
// before Start: the transfer ends at once, ESC is attempted, the whole
// blocks stay in the file and the message says how many bytes they hold.
TEST_F(Upload, AVanishedDeviceKeepsTheWholeBlocks) {
  for (const std::uint8_t code : {0x00, 0x01}) {
    SCOPED_TRACE(int{code});
    const int size = BlockSizeFor(code);
    FakeLine fresh;
    UploadTarget peer;
    peer.reply = Byte(code) + ACK;
    peer.Blocks({Pattern(size, 1), Pattern(size, 2), Pattern(size, 3), Pattern(size, 4)});
    fresh.target = &peer;
    fresh.goneAfterSending = 4;  // the handshake STX and three ACKs
    EXPECT_EQ(RunUpload(fresh, fresh, dir.file("out.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
    EXPECT_EQ(dir.read("out.bin"), Pattern(size, 1) + Pattern(size, 2));
    EXPECT_EQ(fresh.Tail(4), (Events{"W! 1B",
                                     Gone + "\n" + std::to_string(2 * size) + " bytes are saved in " +
                                         dir.file("out.bin") + " .|ERROR !!!",
                                     "stop 0", "start 1"}));
  }

  FakeLine idle;
  idle.gone = true;
  EXPECT_EQ(RunUpload(idle, idle, dir.file("idle.bin"), NameMatch::Caseless), TransferOutcome::Disconnected);
  EXPECT_EQ(idle.events,
            (Events{"reset", "clear", "stop 1", "start 0", "W! 1B", Gone + "|ERROR !!!", "stop 0", "start 1"}));
  EXPECT_FALSE(dir.exists("idle.bin"));
}

TEST_F(Upload, LoneEscAfterTheHandshakeLeavesAnEmptyFile) {
  dir.write("out.bin", "old contents");
  target.chunks = {{ESC, false}};
  EXPECT_EQ(Run(), TransferOutcome::Complete);
  EXPECT_TRUE(dir.exists("out.bin"));
  EXPECT_EQ(dir.read("out.bin"), "");
}

TEST_F(Upload, StrayByteIgnoredAndEachLoneStxGetsOneAck) {
  const Bytes one = Pattern(128, 1), two = Pattern(128, 2);
  target.chunks = {{STX, false}, {one, true}, {"A", false}, {STX, false}, {two, true}, {STX, false}, {ESC, false}};
  EXPECT_EQ(Run(), TransferOutcome::Complete);
  EXPECT_EQ(dir.read("out.bin"), one + two);
  EXPECT_EQ(line.sent, STX + ACK + ACK + ACK);
}

// In an upload the pass in which the reply arrives still repeats STX when a
// second has gone by; a download leaves at once.
TEST_F(Upload, ReplyArrivingAsTheSecondEndsStillRepeatsStx) {
  target.replyAt = 1000;
  target.chunks = {{ESC, false}};
  EXPECT_EQ(Run(), TransferOutcome::Complete);
  EXPECT_EQ(line.sent, STX + STX);

  FakeLine down;
  DownloadTarget peer;
  peer.replyAt = 1000;
  down.target = &peer;
  dir.write("empty.bin", "");
  EXPECT_EQ(RunDownload(down, down, dir.file("empty.bin"), NameMatch::Caseless), TransferOutcome::Complete);
  EXPECT_EQ(down.sent, STX + ESC);
}

TEST_F(Upload, ReplyWithoutAckFailsTheHandshake) {
  target.reply = Bytes("\x01\x15", 2);
  EXPECT_EQ(Run(), TransferOutcome::HandshakeFailed);
  EXPECT_EQ(line.sent, STX + ESC);
  EXPECT_EQ(line.Tail(5), (Events{"W 1B", "msg Can not get Block size.|ERROR !!!", "reset", "stop 0", "start 1"}));
  EXPECT_FALSE(dir.exists("out.bin"));
}

TEST_F(Upload, SilentTargetUntilEscape) {
  target.silent = true;
  line.escapeDownAt = 3500;
  EXPECT_EQ(Run(), TransferOutcome::BreakWaitingSize);
  EXPECT_EQ(line.sent, STX + STX + STX + STX + ESC);
  EXPECT_EQ(line.Tail(5), (Events{"W 1B", "stop 0", "start 1", "reset",
                                  "msg User press ESC !!!\n( It is waiting for ACK. )|USER BREAK !!!"}));
}

TEST_F(Upload, EscapePressedBeforeStartDoesNotBreak) {
  line.escapePressedEarlier = true;
  target.Blocks({Pattern(128)});
  EXPECT_EQ(Run(), TransferOutcome::Complete);
}

TEST_F(Upload, MissingDirectorySendsNothing) {
  FakeLine fresh;
  const std::string name = dir.file("absent/out.bin");
  EXPECT_EQ(RunUpload(fresh, fresh, name, NameMatch::Caseless), TransferOutcome::DirectoryMissing);
  EXPECT_EQ(fresh.sent, "");
  EXPECT_EQ(fresh.events, (Events{"reset", "msg Directory : \" " + dir.file("absent") +
                                               " \" is not exist. Please create it first.|ERROR !!!"}));
}

// The output is found unusable only after the handshake: ESC tells the target.
TEST_F(Upload, OutputThatCannotBeCreated) {
  dir.write("readonly.bin", "keep");
  dir.chmod("readonly.bin", 0444);
  for (const std::string& name : {dir.file("readonly.bin"), std::string()}) {
    SCOPED_TRACE(name);
    FakeLine fresh;
    UploadTarget peer;
    peer.Blocks({Pattern(128)});
    fresh.target = &peer;
    EXPECT_EQ(RunUpload(fresh, fresh, name, NameMatch::Caseless), TransferOutcome::FileNotCreated);
    EXPECT_EQ(fresh.sent, STX + ESC);
    EXPECT_EQ(fresh.Tail(5),
              (Events{"W 1B", "msg Can not open " + name + " to save.|ERROR !!!", "reset", "stop 0", "start 1"}));
  }
  dir.chmod("readonly.bin", 0644);
  EXPECT_EQ(dir.read("readonly.bin"), "keep");
}

// A device in place of the file is refused before anything is sent; a
// folder, which cannot hold the transfer, only once the file cannot be
// created, after the target was asked.
TEST_F(Upload, SomethingThatIsNoFileIsRefused) {
  // Devices by a Unix path: the Linux build's.
  if (PathDelim == '/') {
    FakeLine device;
    EXPECT_EQ(RunUpload(device, device, "/dev/null", NameMatch::Caseless), TransferOutcome::FileNotCreated);
    EXPECT_EQ(device.sent, "");
    EXPECT_EQ(device.events,
              (Events{"reset", "msg Can not open /dev/null to save.\nIt is not a regular file.|ERROR !!!"}));
  }

  std::filesystem::create_directory(dir.file("folder"));
  FakeLine folder;
  UploadTarget peer;
  peer.Blocks({Pattern(128)});
  folder.target = &peer;
  EXPECT_EQ(RunUpload(folder, folder, dir.file("folder"), NameMatch::Caseless), TransferOutcome::FileNotCreated);
  EXPECT_EQ(folder.sent, STX + ESC);
  EXPECT_EQ(folder.Tail(5), (Events{"W 1B", "msg Can not open " + dir.file("folder") + " to save.|ERROR !!!", "reset",
                                    "stop 0", "start 1"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder")));
}

// A folder that takes no new file: an existing file that may be written is
// written over in place once the whole image is there; a break before the
// first block leaves it as it was; a new file still cannot be made there.
TEST_F(Upload, IntoAFileOfAFolderThatTakesNoNewFile) {
  if (PathDelim != '/') GTEST_SKIP() << "a folder's read-only attribute does not stop new files on Windows";
  std::filesystem::create_directory(dir.file("locked"));
  dir.write("locked/out.bin", std::string(1000, 'o'));
  dir.chmod("locked", 0555);
  const Bytes one = Pattern(128, 1), two = Pattern(128, 2);
  target.Blocks({one, two});
  EXPECT_EQ(RunUpload(line, line, dir.file("locked/out.bin"), NameMatch::Caseless), TransferOutcome::Complete);
  EXPECT_EQ(line.Tail(3), (Events{"msg Upload compelete !!!|FINISH !!!", "stop 0", "start 1"}));
  EXPECT_EQ(dir.read("locked/out.bin"), one + two);

  FakeLine stalled;
  UploadTarget halfway;
  halfway.chunks = {{STX, false}, {Pattern(60), true}};
  stalled.target = &halfway;
  stalled.stopAt = 500;
  EXPECT_EQ(RunUpload(stalled, stalled, dir.file("locked/out.bin"), NameMatch::Caseless),
            TransferOutcome::BreakInExchange);
  EXPECT_EQ(dir.read("locked/out.bin"), one + two);

  FakeLine fresh;
  UploadTarget peer;
  peer.Blocks({one});
  fresh.target = &peer;
  EXPECT_EQ(RunUpload(fresh, fresh, dir.file("locked/new.bin"), NameMatch::Caseless), TransferOutcome::FileNotCreated);
  dir.chmod("locked", 0755);
  EXPECT_EQ(std::filesystem::directory_iterator(dir.file("locked"))->path().filename(), "out.bin")
      << "nothing else was left there";
}

TEST_F(Upload, NoBlockBufferLeavesTheFileAsItWas) {
  dir.write("out.bin", "old contents");
  line.failAllocation = true;
  target.Blocks({Pattern(128)});
  EXPECT_EQ(Run(), TransferOutcome::BufferFailed);
  EXPECT_EQ(line.sent, STX + ESC);
  EXPECT_EQ(line.Tail(5),
            (Events{"W 1B", "msg Can not allocate enough memory.|ERROR !!!", "reset", "stop 0", "start 1"}));
  EXPECT_EQ(dir.read("out.bin"), "old contents");
}

// A break replaces an existing file with the whole blocks received, and only
// once there is one: a target that stops in the middle of the first block
// leaves the old file as it was (and Stop still reaches the transfer).
TEST_F(Upload, UserBreakKeepsTheBlocksReceivedInPlaceOfTheOldFile) {
  const Bytes one = Pattern(128);
  dir.write("out.bin", "old contents");
  target.chunks = {{STX, false}, {one, true}, {STX, false}};
  line.stopAt = 500;
  EXPECT_EQ(Run(), TransferOutcome::BreakInExchange);
  EXPECT_EQ(line.sent, STX + ACK + ACK + ESC);
  EXPECT_EQ(line.Tail(4), (Events{"W 1B", "msg User press ESC !!!|USER BREAK !!!", "stop 0", "start 1"}));
  EXPECT_EQ(dir.read("out.bin"), one);

  dir.write("out.bin", "old contents");
  FakeLine stalled;
  UploadTarget halfway;
  halfway.chunks = {{STX, false}, {Pattern(60), true}};
  stalled.target = &halfway;
  stalled.stopAt = 500;
  EXPECT_EQ(RunUpload(stalled, stalled, dir.file("out.bin"), NameMatch::Caseless), TransferOutcome::BreakInExchange);
  EXPECT_EQ(stalled.sent, STX + ACK + ESC);
  EXPECT_EQ(dir.read("out.bin"), "old contents");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1) << "no temporary file stays";
}

// The device goes just as a break has put the blocks in the file's place,
// so that the break's ESC finds no line: the message still tells of them.
TEST_F(Upload, ADeviceGoneAtTheBreaksEscStillTellsOfTheBlocksKept) {
  struct GoneAtKeep final : UploadSink {
    GoneAtKeep(FakeLine& line, std::unique_ptr<UploadSink> file) : line(line), file(std::move(file)) {}
    bool Create() override { return file->Create(); }
    bool Append(const void* data, size_t count) override { return file->Append(data, count); }
    bool Keep() override { return file->Keep(); }
    bool KeepPart() override {
      line.gone = true;
      return file->KeepPart();
    }
    void Abandon() override { file->Abandon(); }
    FakeLine& line;
    std::unique_ptr<UploadSink> file;
  };
  dir.write("out.bin", "old contents");
  target.chunks = {{STX, false}, {Pattern(128), true}, {STX, false}};
  line.stopAt = 500;
  GoneAtKeep sink(line, FileReplacementSink(dir.file("out.bin"), NameMatch::Caseless));
  EXPECT_EQ(RunUpload(line, line, dir.file("out.bin"), NameMatch::Caseless, sink), TransferOutcome::Disconnected);
  EXPECT_EQ(dir.read("out.bin"), Pattern(128));
  EXPECT_EQ(line.Tail(4), (Events{"W! 1B", Gone + "\n128 bytes are saved in " + dir.file("out.bin") + " .|ERROR !!!",
                                  "stop 0", "start 1"}));
}

// A target that keeps a flood of blocks waiting does not hold the transfer:
// Stop is seen between the blocks of one pass.
TEST_F(Upload, StopReachesATransferInAFlood) {
  const Bytes flood = Pattern(128 * 1000);
  target.chunks = {{STX, false}, {flood, true}};
  line.stopAt = 20;
  EXPECT_EQ(Run(), TransferOutcome::BreakInExchange);
  const Bytes kept = dir.read("out.bin");
  EXPECT_LT(kept.size(), 128u * 20);
  EXPECT_EQ(kept, flood.substr(0, kept.size()));
}

// A byte that comes while the messages are processed between two items of a
// pass joins the STX behind a block: that STX is no longer alone, so it is no
// request, and the bytes wait to be a block.
TEST_F(Upload, AControlByteIsOneOnlyWhileAlone) {
  struct Target final : ScriptedTarget {
    int stage = 0;
    Bytes block = Pattern(128, 3), rest = Pattern(126, 4);
    void Pump(FakeLine& l) override {
      if (stage == 0 && !l.sent.empty()) l.Arrive(Bytes("\x01\x06", 2));
      else if (stage == 1 && l.waiting.empty()) l.Arrive(block + STX);
      else if (stage == 2 && l.waiting.size() == 1) l.Arrive("A");
      else if (stage == 3) l.Arrive(rest);
      else if (stage == 4 && l.waiting.empty()) l.Arrive(ESC);
      else return;
      ++stage;
    }
  } late;
  line.target = &late;
  EXPECT_EQ(Run(), TransferOutcome::Complete);
  EXPECT_EQ(line.sent, STX);
  EXPECT_EQ(dir.read("out.bin"), late.block + STX + "A" + late.rest);
}

TEST(UploadDirectoryPart, Rules) {
  const std::pair<std::string, std::string> cases[] = {
      {"/data/image.bin", "/data"}, {"/image.bin", "/"}, {"image.bin", ""},
      {"data//image.bin", "data//"}, {"data/", "data"},  {"", ""},
  };
  // Written with "/", tried with the system's separator.
  const auto native = [](std::string path) {
    for (char& c : path)
      if (c == '/') c = PathDelim;
    return path;
  };
  for (const auto& [name, part] : cases) EXPECT_EQ(UploadDirectoryPart(native(name)), native(part)) << name;
}

}  // namespace
