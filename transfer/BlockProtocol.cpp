#include "transfer/BlockProtocol.h"

#include <algorithm>
#include <cstring>
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
  // Stop on and Start off while a transfer runs, the other way round once it has ended.
  void Started() {
    host.SetStopEnabled(true);
    host.SetStartEnabled(false);
  }
  void Finished() {
    host.SetStopEnabled(false);
    host.SetStartEnabled(true);
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

// The device went away (PortGone): ESC is attempted all the same, in case the
// line still reaches the target; then the message, and the buttons as after
// a break. Whatever the transfer held is given up before.
TransferOutcome Disconnected(Line& line, const std::string& text, const char* caption) {
  try {
    line.Send(Ctl::ESC);
  } catch (const PortGone&) {
    // Expected: nothing answers any more.
  }
  line.host.ShowMessage(text, caption);
  line.Finished();
  return TransferOutcome::Disconnected;
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

// A download that ends before its blocks gives Start back before it takes Stop away.
void StartAgain(TransferHost& host) {
  host.SetStartEnabled(true);
  host.SetStopEnabled(false);
}

// The file is refused before the target is asked; a missing one still
// gets the one ESC that the dialog always sent.
Ended CheckDownloadFile(Line& line, const std::string& fileName, DownloadSource& source, std::int64_t& fileSize) {
  const std::optional<DownloadRefusal> refused = RefusedDownload(fileName, source, fileSize);
  if (!refused) return std::nullopt;
  if (refused->outcome == TransferOutcome::FileMissing) line.Send(Ctl::ESC);
  line.host.ShowMessage(refused->message, Texts::ErrorCaption);
  StartAgain(line.host);
  return refused->outcome;
}

Ended DownloadHandshake(Line& line, int& blockSize) {
  TransferHost& host = line.host;
  switch (OpenHandshake(line, HandshakeDirection::Download, blockSize)) {
    case Handshake::Break:
      line.Send(Ctl::ESC);
      host.ClearStop();
      StartAgain(host);
      host.ShowMessage(Texts::DownloadWaitBreak, Texts::DownloadWaitBreakCaption);
      return TransferOutcome::BreakWaitingSize;
    case Handshake::Failed:
      line.Send(Ctl::ESC);
      host.ShowMessage(Texts::DownloadNoBlockSize, Texts::ErrorCaption);
      StartAgain(host);
      return TransferOutcome::HandshakeFailed;
    case Handshake::Done:
      break;
  }
  return std::nullopt;
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
    if (!buffer) {
      host.ShowMessage(Texts::DownloadNoMemory, Texts::ErrorCaption);
      line.Send(Ctl::ESC);
      line.Finished();
      return TransferOutcome::BufferFailed;
    }
    host.ProgressRange(blocks);
    if (!source.Open()) return Unreadable();
    for (std::int32_t i = 0; i < blocks; ++i)
      if (const Ended ended = SendBlock(i)) return *ended;
    return End(TransferOutcome::Complete, Texts::DownloadComplete, Texts::DownloadCompleteCaption);
  }

 private:
  Ended SendBlock(std::int32_t index) {
    host.ProgressStep();
    std::memset(buffer.get(), 0xFF, static_cast<size_t>(blockSize));
    const std::int32_t piece = index == blocks - 1 && remainder != 0 ? remainder : blockSize;
    if (!source.ReadNext(buffer.get(), static_cast<size_t>(piece))) return Unreadable();
    line.Send(Ctl::STX);
    while (line.Waiting() < 1) {
      if (!line.Poll()) return BreakWaitingReply();
      line.Rest();
    }
    std::uint8_t answer = 0;
    line.ReadCounted(&answer, 1);
    if (answer == Ctl::ACK) {
      line.Send(buffer.get(), blockSize);
    } else if (answer == Ctl::ESC) {
      return End(TransferOutcome::TargetBreak, Texts::TargetSentEsc, Texts::TargetBreakCaption, false);
    } else {
      // Any other answer drops this block; the next one is offered.
      host.BlockSkipped();
    }
    if (!line.Poll()) return End(TransferOutcome::BreakInExchange, Texts::UserPressedEsc, Texts::UserBreakCaption);
    return std::nullopt;
  }

  // The file could not be opened or gave fewer bytes than its size promised:
  // no block of stale or fill bytes goes out in their place.
  TransferOutcome Unreadable() {
    return End(TransferOutcome::FileUnreadable, Texts::DownloadReadFailed(fileName), Texts::ErrorCaption);
  }

  TransferOutcome BreakWaitingReply() {
    line.Send(Ctl::ESC);
    host.ShowMessage(Texts::UserPressedEsc, Texts::UserBreakCaption);
    line.Finished();
    return TransferOutcome::BreakWaitingReply;
  }

  // ESC tells the target that the host has stopped, unless the target ended
  // the transfer itself; the file and the buffer are given up before the message.
  TransferOutcome End(TransferOutcome outcome, const std::string& text, const char* caption, bool tellTarget = true) {
    if (tellTarget) line.Send(Ctl::ESC);
    source.Close();
    buffer.reset();
    host.ShowMessage(text, caption);
    line.Finished();
    return outcome;
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
Ended CheckUploadDirectory(TransferHost& host, const std::string& fileName, NameMatch match) {
  const std::string directory = UploadDirectoryPart(fileName);
  if (!directory.empty() && !DirectoryExists(directory, match)) {
    host.ShowMessage(Texts::UploadDirectoryMissing(directory), Texts::ErrorCaptionBangs);
    return TransferOutcome::DirectoryMissing;
  }
  if (!IsDeviceOrPipe(fileName, match)) return std::nullopt;
  host.ShowMessage(Texts::UploadNotAFile(fileName), Texts::ErrorCaptionBangs);
  return TransferOutcome::FileNotCreated;
}

// The failures from a wrong handshake reply on: ESC tells the target that the host has stopped.
TransferOutcome UploadFailed(Line& line, const std::string& text, TransferOutcome outcome) {
  line.Send(Ctl::ESC);
  line.host.ShowMessage(text, Texts::ErrorCaptionBangs);
  line.host.ProgressReset();
  line.Finished();
  return outcome;
}

Ended UploadHandshake(Line& line, int& blockSize) {
  switch (OpenHandshake(line, HandshakeDirection::Upload, blockSize)) {
    case Handshake::Break:
      line.Send(Ctl::ESC);
      line.Finished();
      line.host.ProgressReset();
      line.host.ShowMessage(Texts::UploadWaitBreak, Texts::UserBreakCaption);
      return TransferOutcome::BreakWaitingSize;
    case Handshake::Failed:
      return UploadFailed(line, Texts::UploadNoBlockSize, TransferOutcome::HandshakeFailed);
    case Handshake::Done:
      break;
  }
  return std::nullopt;
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
    if (!sink.Create())
      return UploadFailed(line, Texts::UploadFileNotCreated(fileName), TransferOutcome::FileNotCreated);
    buffer = host.AllocateBlock(blockSize);
    if (!buffer) return UploadFailed(line, Texts::UploadNoMemory, TransferOutcome::BufferFailed);
    try {
      if (const Ended ended = ReceiveBlocks()) return *ended;
    } catch (const PortGone&) {
      buffer.reset();
      const std::string gone = line.port.Name();
      // A part kept elsewhere is told of after the message.
      return Disconnected(line,
                          KeepAfterBreak() && kept > 0 && sink.Saves() && sink.PartName(fileName) == fileName
                              ? Texts::UploadDisconnected(gone, kept, fileName)
                              : Texts::PortDisconnected(gone),
                          Texts::ErrorCaptionBangs);
    }
    host.ProgressReset();
    buffer.reset();
    if (!Keep()) return WriteFailed();
    host.ShowMessage(Texts::UploadComplete, Texts::UploadCompleteCaption);
    line.Finished();
    return TransferOutcome::Complete;
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

  TransferOutcome BreakByUser() {
    if (!KeepAfterBreak()) return WriteFailed();
    line.Send(Ctl::ESC);
    host.ShowMessage(Texts::UserPressedEsc, Texts::UserBreakCaption);
    line.Finished();
    return TransferOutcome::BreakInExchange;
  }

  // A full disk or a removed medium must not end as a complete upload.
  TransferOutcome WriteFailed() {
    buffer.reset();
    sink.Abandon();
    return UploadFailed(line, Texts::UploadWriteFailed(fileName), TransferOutcome::WriteFailed);
  }

  // The whole blocks received take the file's place; false when they cannot
  // be put there, and the old file stays as it was.
  bool Keep() {
    if (!sink.Keep()) return false;
    kept = saved;
    return true;
  }
  // A break before any block leaves the old file as it was.
  bool KeepAfterBreak() {
    if (saved == 0) return true;
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
    if (const Ended failed = DownloadHandshake(line, blockSize)) return *failed;
    return BlockSender(line, fileName, source, static_cast<std::int32_t>(fileSize), blockSize).Run();
  } catch (const PortGone&) {
    // The sender has closed the file and freed its buffer on the way here.
    return Disconnected(line, Texts::PortDisconnected(port.Name()), Texts::ErrorCaption);
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
    if (const Ended refused = CheckUploadDirectory(host, fileName, match)) return *refused;
  host.ClearStop();
  line.Started();
  std::int64_t kept = 0;
  const TransferOutcome outcome = [&] {
    try {
      int blockSize = 0;
      if (const Ended failed = UploadHandshake(line, blockSize)) return *failed;
      BlockReceiver receiver(line, fileName, sink, blockSize);
      const TransferOutcome received = receiver.Run();
      kept = receiver.Kept();
      return received;
    } catch (const PortGone&) {
      // Gone outside the exchange of blocks, which reports what it kept itself.
      return Disconnected(line, Texts::PortDisconnected(port.Name()), Texts::ErrorCaptionBangs);
    }
  }();
  // The message of a lost device tells what was kept in the file's place.
  const std::string savedIn = sink.PartName(fileName);
  if (sink.Saves() && outcome != TransferOutcome::Complete &&
      !(outcome == TransferOutcome::Disconnected && kept > 0 && savedIn == fileName))
    host.UploadLeft(kept, fileName, savedIn);
  return outcome;
}
