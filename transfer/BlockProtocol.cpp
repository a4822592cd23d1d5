#include "transfer/BlockProtocol.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

#include "platform/Files.h"
#include "platform/PortWait.h"
#include "texts/Texts.h"
#include "transfer/TransferFiles.h"

std::unique_ptr<std::uint8_t[]> TransferHost::AllocateBlock(int size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[static_cast<size_t>(size)]);
}

void TransferHost::AwaitMore(TransferPort& port, int timeoutMs) {
  if (PortArrivals* arrivals = port.Arrivals()) arrivals->Wait(RestLimit(arrivals, timeoutMs));
}

int RestLimit(const PortArrivals* arrivals, int timeoutMs) {
  if (arrivals && arrivals->Notices()) return timeoutMs;
  return timeoutMs < 0 ? MaxPassRest : std::min(timeoutMs, MaxPassRest);
}

namespace {

// The line to the target and the dialog's side of the same transfer.
struct Line {
  Line(TransferPort& port, TransferHost& host) : port(port), host(host) {
    // A write that the target does not take (it stopped reading) keeps the
    // checks of a pass going, and ends at a break.
    port.WhileWriting([this] { return Poll(); });
  }
  ~Line() { port.WhileWriting({}); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  TransferPort& port;
  TransferHost& host;
  bool broken = false;  // a break once seen holds: the Escape query forgets a press

  void Send(std::uint8_t byte) { port.Write(&byte, 1); }
  void Send(const std::uint8_t* block, int count) { port.Write(block, count); }
  // Reads exactly count bytes that were counted waiting; fewer means that
  // the device went away in between.
  void ReadCounted(void* buffer, int count) {
    if (port.Read(buffer, count) != count) throw PortGone("read short");
  }
  // A port that is not open reports -1: nothing waiting.
  int Waiting() { return std::max(port.InQueCount(), 0); }
  bool UserBreak() {
    if (!broken) broken = host.EscapePressed() || host.StopRequested();
    return broken;
  }
  // One turn of a wait: false when the user breaks it; otherwise the dialog's
  // messages are processed, so that Stop and Close stay usable.
  bool Poll() {
    if (UserBreak()) return false;
    host.ProcessMessages();
    return true;
  }
  // Between a pass that found nothing to do and the next: a rest that ends
  // at the next arrival or window message, or once timeoutMs has passed.
  void Rest(int timeoutMs = -1) { host.AwaitMore(port, timeoutMs); }
  // Stop on and Start off while a transfer runs; each ending turns them back.
  void Started() {
    host.SetStopEnabled(true);
    host.SetStartEnabled(false);
  }
};

enum class HandshakeDirection { Download, Upload };
enum class Handshake { Done, Break, Failed };

// Empties the input before the first request: what the count shows now, in
// bounded reads, with the user-break check and the window messages after
// each. Bytes that arrive meanwhile stay: a line that sends faster than it is
// read (a wrong device, one that streams its debug output) would otherwise
// hold the transfer here for as long as it sends; its bytes then make a
// reply that fails the handshake. False when the user breaks the drain.
bool DrainInput(Line& line) {
  std::uint8_t discarded[LargeBlock + 2];
  for (int left = line.Waiting(); left > 0;) {
    const int piece = std::min(left, static_cast<int>(sizeof discarded));
    line.ReadCounted(discarded, piece);
    left -= piece;
    if (!line.Poll()) return false;
  }
  return true;
}

// Asks for the block size: STX once a second, for as long as it takes, until
// two bytes are waiting and read or the user breaks. A download leaves the
// wait as soon as the reply is there; an upload takes the count first and
// finishes the pass, so the pass in which the reply arrives can still repeat
// STX or break.
Handshake OpenHandshake(Line& line, HandshakeDirection direction, int& blockSize) {
  TransferHost& host = line.host;
  const bool upload = direction == HandshakeDirection::Upload;
  std::uint8_t reply[2] = {};
  // A press made before Start must not break this transfer.
  host.EscapePressed();
  if (!DrainInput(line)) return Handshake::Break;
  if (!upload) host.ProgressReset();
  line.Send(Ctl::STX);
  std::uint32_t t0 = host.Now();
  for (;;) {
    const int waiting = line.Waiting();
    if (!upload && waiting >= 2) break;
    const std::uint32_t now = host.Now();
    if (now - t0 >= 1000) {
      line.Send(Ctl::STX);
      t0 = now;
    }
    if (!line.Poll()) return Handshake::Break;
    if (upload && waiting >= 2) break;
    // No later than the next repeat is due.
    const std::uint32_t since = host.Now() - t0;
    line.Rest(since >= 1000 ? 0 : static_cast<int>(1000 - since));
  }
  line.ReadCounted(reply, 2);
  if (reply[1] != Ctl::ACK) return Handshake::Failed;
  blockSize = BlockSizeFor(reply[0]);
  return Handshake::Done;
}

// The steps of either direction return the outcome when they end the
// transfer, with its message shown and the buttons set, and nothing when the
// transfer goes on.
using Ended = std::optional<TransferOutcome>;

// What an ending does, one step at a time.
enum class Step : std::uint8_t {
  None,       // no further step
  Esc,        // ESC to the target
  TryEsc,     // ESC to a device that went away, in case the line still reaches the target
  ClearStop,  // the stop flag cleared
  Message,    // the message, shown until it is closed
  StartOn,    // Start enabled
  StopOff,    // Stop disabled
  Reset,      // the progress back at 0
  Release,    // the file closed and the block buffer freed, as the exchange of blocks holds them
};

// How a transfer ends: its outcome, its message, and its steps in the order
// in which the dialogs take them.
struct Ending {
  TransferOutcome outcome;
  const char* text;  // null where the message names the file or the port: the ending is given it
  const char* caption;
  std::array<Step, 6> steps;
};

// Every ending of either direction. Each direction's own come first, in the
// order of the dialog's table; then those of a file that cannot be sent or
// kept, and of a device that went away.
namespace Endings {
using enum Step;
using enum TransferOutcome;
namespace T = Texts;
constexpr Ending DownloadWaitBreak{
    BreakWaitingSize, T::DownloadWaitBreak, T::DownloadWaitBreakCaption, {Esc, ClearStop, StartOn, StopOff, Message}};
constexpr Ending DownloadHandshakeFailed{
    HandshakeFailed, T::DownloadNoBlockSize, T::ErrorCaption, {Esc, Message, StartOn, StopOff}};
constexpr Ending DownloadNoBuffer{BufferFailed, T::DownloadNoMemory, T::ErrorCaption, {Message, Esc, StopOff, StartOn}};
constexpr Ending DownloadReplyBreak{
    BreakWaitingReply, T::UserPressedEsc, T::UserBreakCaption, {Esc, Message, StopOff, StartOn, Release}};
constexpr Ending DownloadExchangeBreak{
    BreakInExchange, T::UserPressedEsc, T::UserBreakCaption, {Esc, Release, Message, StopOff, StartOn}};
constexpr Ending DownloadTargetBreak{
    TargetBreak, T::TargetSentEsc, T::TargetBreakCaption, {Release, Message, StopOff, StartOn}};
constexpr Ending DownloadComplete{
    Complete, T::DownloadComplete, T::DownloadCompleteCaption, {Esc, Release, Message, StopOff, StartOn}};
// A missing file still gets the one ESC that the dialog always sent.
constexpr Ending DownloadMissing{FileMissing, nullptr, T::ErrorCaption, {Esc, Message, StartOn, StopOff}};
constexpr Ending DownloadTooLarge{FileTooLarge, nullptr, T::ErrorCaption, {Message, StartOn, StopOff}};
constexpr Ending DownloadUnreadable{FileUnreadable, nullptr, T::ErrorCaption, {Message, StartOn, StopOff}};
constexpr Ending DownloadReadFailed{
    FileUnreadable, nullptr, T::ErrorCaption, {Esc, Release, Message, StopOff, StartOn}};
constexpr Ending DownloadDisconnected{Disconnected, nullptr, T::ErrorCaption, {TryEsc, Message, StopOff, StartOn}};

constexpr Ending UploadWaitBreak{
    BreakWaitingSize, T::UploadWaitBreak, T::UserBreakCaption, {Esc, StopOff, StartOn, Reset, Message}};
constexpr Ending UploadHandshakeFailed{
    HandshakeFailed, T::UploadNoBlockSize, T::ErrorCaptionBangs, {Esc, Message, Reset, StopOff, StartOn}};
constexpr Ending UploadNotCreated{
    FileNotCreated, nullptr, T::ErrorCaptionBangs, {Esc, Message, Reset, StopOff, StartOn}};
constexpr Ending UploadNoBuffer{
    BufferFailed, T::UploadNoMemory, T::ErrorCaptionBangs, {Esc, Message, Reset, StopOff, StartOn}};
// The file is kept first: blocks that cannot take its place end the upload
// as a failed write instead.
constexpr Ending UploadExchangeBreak{
    BreakInExchange, T::UserPressedEsc, T::UserBreakCaption, {Release, Esc, Message, StopOff, StartOn}};
constexpr Ending UploadComplete{
    Complete, T::UploadComplete, T::UploadCompleteCaption, {Reset, Release, Message, StopOff, StartOn}};
// Refused before anything is sent: the buttons stay as they were.
constexpr Ending UploadNoDirectory{DirectoryMissing, nullptr, T::ErrorCaptionBangs, {Message}};
constexpr Ending UploadNotAFile{FileNotCreated, nullptr, T::ErrorCaptionBangs, {Message}};
constexpr Ending UploadWriteFailed{
    WriteFailed, nullptr, T::ErrorCaptionBangs, {Release, Esc, Message, Reset, StopOff, StartOn}};
constexpr Ending UploadDisconnected{Disconnected, nullptr, T::ErrorCaptionBangs, {TryEsc, Message, StopOff, StartOn}};
}  // namespace Endings

// Takes the ending's steps and returns its outcome; text is the message
// where the row has none. The Release step is release's: it gives up what
// the exchange of blocks holds, and when the file cannot be kept it ends
// the transfer otherwise and returns that outcome.
TransferOutcome End(Line& line, const Ending& ending, const std::string& text = {},
                    const std::function<Ended()>& release = {}) {
  TransferHost& host = line.host;
  for (const Step step : ending.steps) {
    switch (step) {
      case Step::None:
        break;
      case Step::Esc:
        line.Send(Ctl::ESC);
        break;
      case Step::TryEsc:
        try {
          line.Send(Ctl::ESC);
        } catch (const PortGone&) {
          // Expected: nothing answers any more.
        }
        break;
      case Step::ClearStop:
        host.ClearStop();
        break;
      case Step::Message:
        host.ShowMessage(ending.text ? std::string(ending.text) : text, ending.caption);
        break;
      case Step::StartOn:
        host.SetStartEnabled(true);
        break;
      case Step::StopOff:
        host.SetStopEnabled(false);
        break;
      case Step::Reset:
        host.ProgressReset();
        break;
      case Step::Release:
        if (const Ended instead = release()) return *instead;
        break;
    }
  }
  return ending.outcome;
}

// The handshake of either direction, ended by a user break or by a reply
// that fails it.
Ended AskBlockSize(Line& line, HandshakeDirection direction, int& blockSize) {
  const bool upload = direction == HandshakeDirection::Upload;
  switch (OpenHandshake(line, direction, blockSize)) {
    case Handshake::Break:
      return End(line, upload ? Endings::UploadWaitBreak : Endings::DownloadWaitBreak);
    case Handshake::Failed:
      return End(line, upload ? Endings::UploadHandshakeFailed : Endings::DownloadHandshakeFailed);
    case Handshake::Done:
      break;
  }
  return std::nullopt;
}

// What either direction holds while blocks go over the line: the buffer of
// one block, and the file's name for the messages. The file, read or written
// one block at a time, is closed or given up with the exchange unless a step
// does so earlier.
class BlockExchange {
 protected:
  BlockExchange(Line& line, const std::string& fileName, int blockSize)
      : line(line), host(line.host), fileName(fileName), blockSize(blockSize) {}

  Line& line;
  TransferHost& host;
  const std::string& fileName;
  const int blockSize;
  std::unique_ptr<std::uint8_t[]> buffer;
};

// Download

// The file is refused before the target is asked.
Ended CheckDownloadFile(Line& line, const std::string& fileName, DownloadSource& source, std::int64_t& fileSize) {
  const std::optional<DownloadRefusal> refused = RefusedDownload(fileName, source, fileSize);
  if (!refused) return std::nullopt;
  const Ending& ending = refused->outcome == TransferOutcome::FileMissing    ? Endings::DownloadMissing
                         : refused->outcome == TransferOutcome::FileTooLarge ? Endings::DownloadTooLarge
                                                                             : Endings::DownloadUnreadable;
  return End(line, ending, refused->message);
}

// Sends the file: for each block STX, and the block, filled up with 0xFF,
// when the target answers ACK; then ESC.
class BlockSender : BlockExchange {
 public:
  BlockSender(Line& line, const std::string& fileName, DownloadSource& source, std::int32_t fileSize, int blockSize)
      : BlockExchange(line, fileName, blockSize),
        source(source),
        remainder(fileSize % blockSize),
        blocks(fileSize / blockSize + (remainder != 0 ? 1 : 0)) {}
  BlockSender(const BlockSender&) = delete;
  BlockSender& operator=(const BlockSender&) = delete;
  ~BlockSender() { source.Close(); }

  TransferOutcome Run() {
    buffer = host.AllocateBlock(blockSize);
    if (!buffer) return Finish(Endings::DownloadNoBuffer);
    host.ProgressRange(blocks);
    if (!source.Open()) return Unreadable();
    for (std::int32_t i = 0; i < blocks; ++i)
      if (const Ended ended = SendBlock(i)) return *ended;
    return Finish(Endings::DownloadComplete);
  }

 private:
  Ended SendBlock(std::int32_t index) {
    host.ProgressStep();
    std::memset(buffer.get(), 0xFF, static_cast<size_t>(blockSize));
    const std::int32_t piece = index == blocks - 1 && remainder != 0 ? remainder : blockSize;
    if (!source.ReadNext(buffer.get(), static_cast<size_t>(piece))) return Unreadable();
    line.Send(Ctl::STX);
    while (line.Waiting() < 1) {
      if (!line.Poll()) return Finish(Endings::DownloadReplyBreak);
      line.Rest();
    }
    std::uint8_t answer = 0;
    line.ReadCounted(&answer, 1);
    if (answer == Ctl::ACK) {
      line.Send(buffer.get(), blockSize);
    } else if (answer == Ctl::ESC) {
      return Finish(Endings::DownloadTargetBreak);
    } else {
      // Any other answer drops this block; the next one is offered.
      host.BlockSkipped();
    }
    if (!line.Poll()) return Finish(Endings::DownloadExchangeBreak);
    return std::nullopt;
  }

  // The file could not be opened or gave fewer bytes than its size promised:
  // no block of stale or fill bytes goes out in their place.
  TransferOutcome Unreadable() { return Finish(Endings::DownloadReadFailed, Texts::DownloadReadFailed(fileName)); }

  // The file and the buffer are given up where the ending says.
  TransferOutcome Finish(const Ending& ending, const std::string& text = {}) {
    return End(line, ending, text, [this]() -> Ended {
      source.Close();
      buffer.reset();
      return std::nullopt;
    });
  }

  DownloadSource& source;
  const std::int32_t remainder;
  const std::int32_t blocks;
};

// Upload

// The file's directory must exist, and the file be no device or pipe (a
// pipe would hold the transfer, a device be replaced by a file); nothing is
// sent otherwise. A folder in the file's place is found only when the file
// cannot be created, after the target was asked.
Ended CheckUploadDirectory(Line& line, const std::string& fileName, NameMatch match) {
  const std::string directory = UploadDirectoryPart(fileName);
  if (!directory.empty() && !DirectoryExists(directory, match))
    return End(line, Endings::UploadNoDirectory, Texts::UploadDirectoryMissing(directory));
  if (!IsDeviceOrPipe(fileName, match)) return std::nullopt;
  return End(line, Endings::UploadNotAFile, Texts::UploadNotAFile(fileName));
}

// Receives blocks into the file until the target sends ESC. An existing
// file is replaced only by what was received: at the end, or at a break
// once a block has come.
class BlockReceiver : BlockExchange {
 public:
  BlockReceiver(Line& line, const std::string& fileName, UploadSink& sink, int blockSize)
      : BlockExchange(line, fileName, blockSize), sink(sink) {}
  BlockReceiver(const BlockReceiver&) = delete;
  BlockReceiver& operator=(const BlockReceiver&) = delete;
  ~BlockReceiver() { sink.Abandon(); }

  // The bytes now in the file's place.
  std::int64_t Kept() const { return kept; }

  TransferOutcome Run() {
    if (!sink.Create()) return Finish(Endings::UploadNotCreated, Texts::UploadFileNotCreated(fileName));
    buffer = host.AllocateBlock(blockSize);
    if (!buffer) return Finish(Endings::UploadNoBuffer);
    try {
      if (const Ended ended = ReceiveBlocks()) return *ended;
    } catch (const PortGone&) {
      buffer.reset();
      const std::string gone = line.port.Name();
      // A part kept elsewhere is told of after the message.
      return End(line, Endings::UploadDisconnected,
                 KeepAfterBreak() && kept > 0 && sink.Saves() && sink.PartName(fileName) == fileName
                     ? Texts::UploadDisconnected(gone, kept, fileName)
                     : Texts::PortDisconnected(gone));
    }
    return Finish(Endings::UploadComplete);
  }

 private:
  // Pass after pass: take what is waiting, check for a break, step the gauge;
  // a pass that found nothing waiting rests before the next.
  Ended ReceiveBlocks() {
    // The control byte: a lone byte from the target, or the ACK that answered its STX.
    std::uint8_t control = Ctl::STX;
    for (;;) {
      bool took = false;
      if (const Ended ended = TakeWaiting(control, took)) return ended;
      if (line.UserBreak()) return BreakByUser();
      host.ProgressStep();
      host.ProcessMessages();
      if (control == Ctl::ESC) return std::nullopt;
      if (!took) line.Rest();
    }
  }

  // Everything waiting: a lone byte is the control byte (STX is answered
  // with ACK), a whole block goes into the file. took tells whether there
  // was anything.
  Ended TakeWaiting(std::uint8_t& control, bool& took) {
    // Taken in this pass since the last break check: a target that keeps
    // bytes waiting must not hold the transfer, so every further one is
    // preceded by a check and the dialog's messages.
    bool unchecked = false;
    for (int waiting = line.Waiting(); waiting > 0; waiting = line.Waiting()) {
      if (unchecked) {
        if (!line.Poll()) return BreakByUser();
        // The control byte is one only while it is alone: the count is taken
        // again after the messages, which may have let more arrive.
        waiting = line.Waiting();
        if (waiting == 0) break;
      }
      took = true;
      unchecked = waiting == 1 || waiting >= blockSize;
      if (waiting == 1) {
        line.ReadCounted(&control, 1);
        if (control == Ctl::STX) {
          control = Ctl::ACK;
          line.Send(control);
        }
      } else if (waiting >= blockSize) {
        // A block read short never reaches the file: ReadCounted raises first.
        line.ReadCounted(buffer.get(), blockSize);
        if (!sink.Append(buffer.get(), static_cast<size_t>(blockSize))) return WriteFailed();
        saved += blockSize;
      } else if (line.Poll()) {
        // A block only partly here: its rest is awaited with Stop and Close kept
        // usable, should the target stall in the middle of it.
        line.Rest();
      } else {
        return BreakByUser();
      }
    }
    return std::nullopt;
  }

  TransferOutcome BreakByUser() { return Finish(Endings::UploadExchangeBreak); }

  // A full disk or a removed medium must not end as a complete upload.
  TransferOutcome WriteFailed() { return Finish(Endings::UploadWriteFailed, Texts::UploadWriteFailed(fileName)); }

  // The buffer is freed where the ending says, and the file kept or given up
  // as it has it: whole blocks that cannot be kept make a failed write.
  TransferOutcome Finish(const Ending& ending, const std::string& text = {}) {
    return End(line, ending, text, [this, &ending]() -> Ended {
      buffer.reset();
      if (ending.outcome == TransferOutcome::WriteFailed)
        sink.Abandon();
      else if (!(ending.outcome == TransferOutcome::Complete ? Keep() : KeepAfterBreak()))
        return WriteFailed();
      return std::nullopt;
    });
  }

  // The whole blocks received take the file's place; false when they cannot
  // be put there, and the old file stays as it was.
  bool Keep() {
    if (!sink.Keep()) return false;
    kept = saved;
    return true;
  }
  // A break before any block leaves the old file as it was. Blocks kept
  // already stay so: a device lost at the break's ESC asks again.
  bool KeepAfterBreak() {
    if (saved == 0 || kept == saved) return true;
    if (!sink.KeepPart()) return false;
    kept = saved;
    return true;
  }

  UploadSink& sink;
  std::int64_t saved = 0;  // bytes written for the file
  std::int64_t kept = 0;   // bytes put in the file's place
};

}  // namespace

std::optional<DownloadRefusal> RefusedDownload(const std::string& fileName, DownloadSource& source,
                                               std::int64_t& fileSize) {
  if (source.Missing()) return DownloadRefusal{TransferOutcome::FileMissing, Texts::DownloadFileMissing(fileName)};
  fileSize = source.Size();
  if (fileSize >= 0 && fileSize <= MaxTransferFileSize) return std::nullopt;
  if (fileSize < 0) return DownloadRefusal{TransferOutcome::FileUnreadable, Texts::DownloadFileUnreadable(fileName)};
  return DownloadRefusal{TransferOutcome::FileTooLarge, Texts::DownloadFileTooLarge(fileName)};
}

TransferOutcome RunDownload(TransferPort& port, TransferHost& host, const std::string& fileName,
                            DownloadSource& source) {
  Line line{port, host};
  line.Started();
  host.ClearStop();
  try {
    std::int64_t fileSize = 0;
    if (const Ended refused = CheckDownloadFile(line, fileName, source, fileSize)) return *refused;
    int blockSize = 0;
    if (const Ended failed = AskBlockSize(line, HandshakeDirection::Download, blockSize)) return *failed;
    return BlockSender(line, fileName, source, static_cast<std::int32_t>(fileSize), blockSize).Run();
  } catch (const PortGone&) {
    // The sender has closed the file and freed its buffer on the way here.
    return End(line, Endings::DownloadDisconnected, Texts::PortDisconnected(port.Name()));
  }
}

TransferOutcome RunDownload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match) {
  const std::unique_ptr<DownloadSource> source = FileBytesSource(fileName, match);
  return RunDownload(port, host, fileName, *source);
}

TransferOutcome RunUpload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match) {
  const std::unique_ptr<UploadSink> sink = FileReplacementSink(fileName, match);
  return RunUpload(port, host, fileName, match, *sink);
}

TransferOutcome RunUpload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match,
                          UploadSink& sink) {
  Line line{port, host};
  host.ProgressReset();
  if (sink.Saves())
    if (const Ended refused = CheckUploadDirectory(line, fileName, match)) return *refused;
  host.ClearStop();
  line.Started();
  std::int64_t kept = 0;
  const TransferOutcome outcome = [&] {
    try {
      int blockSize = 0;
      if (const Ended failed = AskBlockSize(line, HandshakeDirection::Upload, blockSize)) return *failed;
      BlockReceiver receiver(line, fileName, sink, blockSize);
      const TransferOutcome received = receiver.Run();
      kept = receiver.Kept();
      return received;
    } catch (const PortGone&) {
      // Gone outside the exchange of blocks, which reports what it kept itself.
      return End(line, Endings::UploadDisconnected, Texts::PortDisconnected(port.Name()));
    }
  }();
  // The message of a lost device tells what was kept in the file's place.
  const std::string savedIn = sink.PartName(fileName);
  if (sink.Saves() && outcome != TransferOutcome::Complete &&
      !(outcome == TransferOutcome::Disconnected && kept > 0 && savedIn == fileName))
    host.UploadLeft(kept, fileName, savedIn);
  return outcome;
}
