// The host side of the block protocol with the programmer. Download sends a
// file block by block, upload receives blocks into a file. Both are polling
// loops in the calling thread over a port, a millisecond clock, the Escape
// key, the dialog's stop flag and the message pump; the dialogs supply the
// real ones, tests fake them. A pass that finds nothing to do is followed by
// a short rest that ends at the next arrival or window message, so a waiting
// transfer does not keep a processor busy. Each run also drives the dialog's
// controls and messages, in the order in which every outcome needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Files.h"

class PortArrivals;

namespace Ctl {
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t ESC = 0x1B;
}  // namespace Ctl

// Block sizes the target chooses with its size code.
constexpr int LargeBlock = 256;
constexpr int SmallBlock = 128;
inline int BlockSizeFor(std::uint8_t sizeCode) { return sizeCode == 0x00 ? LargeBlock : SmallBlock; }

// Files from 2 GiB on do not fit the protocol's signed 32-bit sizes.
constexpr std::int64_t MaxTransferFileSize = 0x7FFFFFFF;

// The longest rest between two polling passes, in milliseconds, on a port
// that gives no notice of arrivals: far below anything a user notices, and a
// thousandth of the handshake's repeat.
constexpr int MaxPassRest = 1;

// What a port raises when its device has gone (an adapter pulled out, a
// programmer that exited): the transfer ends at once as disconnected.
class PortGone : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the protocol uses of a serial port object. InQueCount is -1 when the
// port is not open, which counts as nothing waiting; Read is only asked for
// bytes the count shows waiting; results of Read and Write are not examined,
// except that a read short of what was counted means the device went away
// (a handshake reply read short is no reply). Each operation may raise
// PortGone. Name is how messages call the port ("COM1").
class TransferPort {
 public:
  virtual ~TransferPort() = default;
  virtual int InQueCount() = 0;
  virtual int Read(void* buffer, int count) = 0;
  virtual int Write(const void* buffer, int count) = 0;
  virtual std::string Name() = 0;
  // Notice of bytes arriving, so that a rest between passes ends at the next
  // arrival; null when the port gives none.
  virtual PortArrivals* Arrivals() { return nullptr; }
  // What a write that the line does not take at once asks between rests of
  // about a pass: false ends the write with what went out. Empty: a write
  // waits for its own end. A port whose writes never wait ignores it.
  virtual void WhileWriting(const std::function<bool()>& /*keepOn*/) {}
};

// The dialog's side of a transfer.
class TransferHost {
 public:
  virtual ~TransferHost() = default;

  // Polling services: a millisecond counter that may wrap, the Escape key
  // (true when down now or pressed since the last query), and processing
  // every pending window message.
  virtual std::uint32_t Now() = 0;
  virtual bool EscapePressed() = 0;
  virtual void ProcessMessages() = 0;
  // The rest after a pass that found nothing to do: returns once bytes may
  // have arrived at the port, a window message waits, or timeoutMs (-1: no
  // limit of the transfer's own) has passed, whichever comes first; see
  // RestLimit. A host without window messages waits for the port alone, and
  // with a port that gives no notice not at all.
  virtual void AwaitMore(TransferPort& port, int timeoutMs);

  // The dialog's stop flag (Stop, Close, the close query).
  virtual bool StopRequested() = 0;
  virtual void ClearStop() = 0;

  virtual void SetStartEnabled(bool enabled) = 0;
  virtual void SetStopEnabled(bool enabled) = 0;
  // The message dialog with this text and caption; returns when it is closed.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

  // Progress. Download: Reset puts the bar at 0, Range sets its maximum to the
  // block count, Step advances it by one at the start of each block. Upload:
  // Reset sets the gauge's Percent to 0, Step advances it once per pass.
  virtual void ProgressReset() = 0;
  virtual void ProgressRange(int /*blocks*/) {}
  virtual void ProgressStep() = 0;
  // Download: the target answered a block request with neither ACK nor ESC,
  // so that block is not sent (nor offered again). The dialogs go on
  // without a word.
  virtual void BlockSkipped() {}

  // The block buffer of one transfer; null when it cannot be had.
  virtual std::unique_ptr<std::uint8_t[]> AllocateBlock(int size);

  // Where an upload that ended without completing, once asked of the target,
  // left what it received, where its message does not say so already:
  // bytesSaved bytes of whole blocks now in savedIn (the file, or where the
  // sink keeps a part), or none and the file as it was. The dialogs'
  // messages say nothing more.
  virtual void UploadLeft(std::int64_t /*bytesSaved*/, const std::string& /*fileName*/,
                          const std::string& /*savedIn*/) {}
};

// How long a rest may last: timeoutMs on a port that notices arrivals (whose
// heartbeat bounds a rest without a limit), at most MaxPassRest otherwise.
int RestLimit(const PortArrivals* arrivals, int timeoutMs);

enum class TransferOutcome {
  Complete,
  BreakWaitingSize,   // Escape or stop while waiting for the handshake reply
  HandshakeFailed,    // the second reply byte was not ACK
  BufferFailed,       // no block buffer
  BreakWaitingReply,  // download: Escape or stop while waiting for the answer to a block request
  BreakInExchange,    // Escape or stop during the block exchange
  TargetBreak,        // download: the target answered a block request with ESC
  FileMissing,        // download: no file of that name; one ESC went out, no handshake
  FileTooLarge,       // 2 GiB or more: refused before anything is sent
  FileUnreadable,     // download: the file could not be opened or read after the handshake
  DirectoryMissing,   // upload: the file's directory does not exist; nothing sent
  FileNotCreated,     // upload: the output file could not be created, or is a device or a pipe (then nothing sent)
  WriteFailed,        // upload: a received block could not be written
  Disconnected,       // the device went away (PortGone); ESC was attempted
};

// Where a download's bytes come from: the size is asked before anything is
// sent, then the bytes are read in order, a block's piece at a time.
class DownloadSource {
 public:
  virtual ~DownloadSource() = default;
  // The bytes to send, -1 when that cannot be told (the file cannot be read).
  virtual std::int64_t Size() = 0;
  // Whether the file it reads is not there at all, which a download tells
  // apart from one that cannot be read; an image read already is there.
  virtual bool Missing() { return false; }
  virtual bool Open() = 0;
  virtual bool ReadNext(void* buffer, size_t count) = 0;
  virtual void Close() = 0;
};

// Where an upload's blocks go: a file that takes the old one's place only
// when kept, or a comparison that saves nothing.
class UploadSink {
 public:
  virtual ~UploadSink() = default;
  virtual bool Create() = 0;
  virtual bool Append(const void* data, size_t count) = 0;
  virtual bool Keep() = 0;
  // The whole blocks of an upload that did not complete: kept in the file's
  // place, as a complete upload's, unless the sink keeps them elsewhere,
  // which PartName(the file's name) then names.
  virtual bool KeepPart() { return Keep(); }
  virtual std::string PartName(const std::string& fileName) const { return fileName; }
  // What was not kept is given up.
  virtual void Abandon() = 0;
  // Whether the sink writes a file, which the messages then name.
  virtual bool Saves() const { return true; }
};

// Why a download refuses the named file before it asks the target: missing
// (as the source tells), unreadable, or too large for the protocol's 32-bit
// sizes; the outcome and the dialog's message. None when the file can go,
// its size then in fileSize.
struct DownloadRefusal {
  TransferOutcome outcome;
  std::string message;
};
std::optional<DownloadRefusal> RefusedDownload(const std::string& fileName, DownloadSource& source,
                                               std::int64_t& fileSize);

// The download dialog's Start: sends the named file, from enabling Stop and
// clearing the stop flag to the outcome's message and button states.
TransferOutcome RunDownload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match);
// The same for an image made from the named file, which was found and read:
// the messages name the file, the bytes come from the source.
TransferOutcome RunDownload(TransferPort& port, TransferHost& host, const std::string& fileName,
                            DownloadSource& source);

// The upload dialog's Start: receives an image into the named file,
// likewise from the first action to the last. The blocks go to a temporary
// file beside it that takes its place when the target ends the upload, or
// after a break or a lost device once it holds a block; otherwise an
// existing file stays as it was. Something that is not a plain file is
// refused before anything is sent.
TransferOutcome RunUpload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match);
// The same with the blocks going to the sink; the messages name the file,
// the checks find it as told. A sink that saves nothing has no directory to
// check.
TransferOutcome RunUpload(TransferPort& port, TransferHost& host, const std::string& fileName, NameMatch match,
                          UploadSink& sink);
