#include "transfer/BlockProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/Paths.h"
#include "platform/native.h"
#include "texts/Texts.h"

std::unique_ptr<std::uint8_t[]> TransferHost::AllocateBlock(int size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[static_cast<size_t>(size)]);
}

namespace {

// A transferred file, read or written one block at a time without a stream
// buffer of its own: memory stays one block whatever the file size, and every
// write failure shows at the block that caused it.
class TransferFile {
 public:
  TransferFile() = default;
  TransferFile(const TransferFile&) = delete;
  TransferFile& operator=(const TransferFile&) = delete;
  ~TransferFile() { Close(); }

  bool OpenRead(const std::string& name) { return open(name, "rb"); }

  // Creates or empties the file. A read-only file is refused, as Windows does
  // even for an administrator.
  bool Create(const std::string& name) {
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    return open(name, "wb");
  }

  bool ReadExactly(void* buffer, size_t count) { return file && std::fread(buffer, 1, count, file) == count; }
  bool WriteAll(const void* buffer, size_t count) { return file && std::fwrite(buffer, 1, count, file) == count; }

  // False when the file was open and closing it failed.
  bool Close() {
    if (!file) return true;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed;
  }

 private:
  bool open(const std::string& name, const char* mode) {
    if (name.empty()) return false;
    file = std::fopen(ResolvePath(name).c_str(), mode);
    if (file) std::setvbuf(file, nullptr, _IONBF, 0);
    return file != nullptr;
  }

  std::FILE* file = nullptr;
};

// The size the file system reports, or -1.
std::int64_t FileSize(const std::string& name) {
  std::error_code error;
  const auto size = std::filesystem::file_size(ResolvePath(name), error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

struct Line {
  TransferPort& port;
  TransferHost& host;

  void Send(std::uint8_t byte) { port.Write(&byte, 1); }
  // A port that is not open reports -1: nothing waiting.
  int Waiting() { return std::max(port.InQueCount(), 0); }
  bool UserBreak() { return host.EscapePressed() || host.StopRequested(); }
};

enum class Handshake { Done, Break, Failed };

// Takes the two bytes of the handshake reply. A device that went away after
// they were counted gives fewer (or -1): that is no reply.
bool ReadReply(Line& line, std::uint8_t (&reply)[2]) {
  reply[0] = reply[1] = 0;
  return line.port.Read(reply, 2) == 2;
}

// Asks for the block size: STX once a second, for as long as it takes, until
// two bytes are waiting and read or the user breaks. A download leaves the
// wait as soon as the reply is there; an upload takes the count first and
// finishes the pass, so the pass in which the reply arrives can still repeat
// STX or break.
Handshake OpenHandshake(Line& line, bool upload, int& blockSize) {
  TransferHost& host = line.host;
  std::uint8_t reply[2] = {};
  std::uint8_t discarded = 0;
  while (line.Waiting() > 0) line.port.Read(&discarded, 1);
  // A press made before Start must not break this transfer.
  host.EscapePressed();
  if (!upload) host.ProgressReset();
  line.Send(Ctl::STX);
  DWORD t0 = host.Now();
  for (;;) {
    const int waiting = line.Waiting();
    if (!upload && waiting >= 2 && ReadReply(line, reply)) break;
    const DWORD now = host.Now();
    if (now - t0 >= 1000) {
      line.Send(Ctl::STX);
      t0 = now;
    }
    if (line.UserBreak()) return Handshake::Break;
    host.ProcessMessages();
    if (upload && waiting >= 2 && ReadReply(line, reply)) break;
  }
  if (reply[1] != Ctl::ACK) return Handshake::Failed;
  blockSize = BlockSizeFor(reply[0]);
  return Handshake::Done;
}

}  // namespace

TransferOutcome RunDownload(TransferPort& port, TransferHost& host, const std::string& fileName) {
  Line line{port, host};
  const auto startAgain = [&] {
    host.SetStartEnabled(true);
    host.SetStopEnabled(false);
  };
  const auto stopDone = [&] {
    host.SetStopEnabled(false);
    host.SetStartEnabled(true);
  };
  host.SetStopEnabled(true);
  host.SetStartEnabled(false);
  host.ClearStop();

  if (!FileExists(fileName)) {
    line.Send(Ctl::ESC);
    host.ShowMessage(Texts::DownloadFileMissing(fileName), Texts::ErrorCaption);
    startAgain();
    return TransferOutcome::FileMissing;
  }
  const std::int64_t fileSize = FileSize(fileName);
  if (fileSize < 0 || fileSize > MaxTransferFileSize) {
    // The block count and the file size are 32-bit: refuse before the target is asked.
    host.ShowMessage(fileSize < 0 ? Texts::DownloadFileUnreadable(fileName) : Texts::DownloadFileTooLarge(fileName),
                     Texts::ErrorCaption);
    startAgain();
    return fileSize < 0 ? TransferOutcome::FileUnreadable : TransferOutcome::FileTooLarge;
  }

  int blockSize = 0;
  switch (OpenHandshake(line, false, blockSize)) {
    case Handshake::Break:
      line.Send(Ctl::ESC);
      host.ClearStop();
      startAgain();
      host.ShowMessage(Texts::DownloadWaitBreak, Texts::DownloadWaitBreakCaption);
      return TransferOutcome::BreakWaitingSize;
    case Handshake::Failed:
      line.Send(Ctl::ESC);
      host.ShowMessage(Texts::DownloadNoBlockSize, Texts::ErrorCaption);
      startAgain();
      return TransferOutcome::HandshakeFailed;
    case Handshake::Done:
      break;
  }

  auto buffer = host.AllocateBlock(blockSize);
  if (!buffer) {
    host.ShowMessage(Texts::DownloadNoMemory, Texts::ErrorCaption);
    line.Send(Ctl::ESC);
    stopDone();
    return TransferOutcome::BufferFailed;
  }
  const auto size = static_cast<std::int32_t>(fileSize);
  const std::int32_t remainder = size % blockSize;
  const std::int32_t blocks = size / blockSize + (remainder != 0 ? 1 : 0);
  host.ProgressRange(blocks);
  TransferFile file;
  const auto release = [&] {
    file.Close();
    buffer.reset();
  };
  // Ends the transfer when the file cannot be opened or gives fewer bytes than
  // its size promised: no block of stale or fill bytes goes out in their place.
  const auto unreadable = [&] {
    line.Send(Ctl::ESC);
    release();
    host.ShowMessage(Texts::DownloadReadFailed(fileName), Texts::ErrorCaption);
    stopDone();
    return TransferOutcome::FileUnreadable;
  };
  if (!file.OpenRead(fileName)) return unreadable();

  for (std::int32_t i = 0; i < blocks; ++i) {
    host.ProgressStep();
    std::memset(buffer.get(), 0xFF, static_cast<size_t>(blockSize));
    const std::int32_t piece = i == blocks - 1 && remainder != 0 ? remainder : blockSize;
    if (!file.ReadExactly(buffer.get(), static_cast<size_t>(piece))) return unreadable();
    line.Send(Ctl::STX);
    while (line.Waiting() < 1) {
      if (line.UserBreak()) {
        line.Send(Ctl::ESC);
        host.ShowMessage(Texts::UserPressedEsc, Texts::UserBreakCaption);
        stopDone();
        release();
        return TransferOutcome::BreakWaitingReply;
      }
      host.ProcessMessages();
    }
    std::uint8_t answer = 0;
    port.Read(&answer, 1);
    if (answer == Ctl::ACK) {
      port.Write(buffer.get(), blockSize);
    } else if (answer == Ctl::ESC) {
      release();
      host.ShowMessage(Texts::TargetSentEsc, Texts::TargetBreakCaption);
      stopDone();
      return TransferOutcome::TargetBreak;
    }
    // Any other answer drops this block; the next one is offered.
    if (line.UserBreak()) {
      line.Send(Ctl::ESC);
      release();
      host.ShowMessage(Texts::UserPressedEsc, Texts::UserBreakCaption);
      stopDone();
      return TransferOutcome::BreakInExchange;
    }
    host.ProcessMessages();
  }
  line.Send(Ctl::ESC);
  release();
  host.ShowMessage(Texts::DownloadComplete, Texts::DownloadCompleteCaption);
  stopDone();
  return TransferOutcome::Complete;
}

TransferOutcome RunUpload(TransferPort& port, TransferHost& host, const std::string& fileName) {
  Line line{port, host};
  const auto stopDone = [&] {
    host.SetStopEnabled(false);
    host.SetStartEnabled(true);
  };
  host.ProgressReset();
  const std::string directory = UploadDirectoryPart(fileName);
  if (!directory.empty() && !DirectoryExists(directory)) {
    host.ShowMessage(Texts::UploadDirectoryMissing(directory), Texts::ErrorCaptionBangs);
    return TransferOutcome::DirectoryMissing;
  }
  host.ClearStop();
  host.SetStopEnabled(true);
  host.SetStartEnabled(false);

  int blockSize = 0;
  switch (OpenHandshake(line, true, blockSize)) {
    case Handshake::Break:
      line.Send(Ctl::ESC);
      stopDone();
      host.ProgressReset();
      host.ShowMessage(Texts::UploadWaitBreak, Texts::UserBreakCaption);
      return TransferOutcome::BreakWaitingSize;
    case Handshake::Failed:
      line.Send(Ctl::ESC);
      host.ShowMessage(Texts::UploadNoBlockSize, Texts::ErrorCaptionBangs);
      host.ProgressReset();
      stopDone();
      return TransferOutcome::HandshakeFailed;
    case Handshake::Done:
      break;
  }

  // The failures after the handshake: ESC tells the target that the host has stopped.
  const auto failed = [&](const std::string& message, TransferOutcome outcome) {
    line.Send(Ctl::ESC);
    host.ShowMessage(message, Texts::ErrorCaptionBangs);
    host.ProgressReset();
    stopDone();
    return outcome;
  };
  TransferFile file;
  if (!file.Create(fileName)) return failed(Texts::UploadFileNotCreated(fileName), TransferOutcome::FileNotCreated);
  auto buffer = host.AllocateBlock(blockSize);
  if (!buffer) return failed(Texts::UploadNoMemory, TransferOutcome::BufferFailed);

  const auto userBreak = [&] {
    line.Send(Ctl::ESC);
    host.ShowMessage(Texts::UserPressedEsc, Texts::UserBreakCaption);
    stopDone();
    buffer.reset();
    file.Close();
    return TransferOutcome::BreakInExchange;
  };
  // A full disk or a removed medium must not end as a complete upload.
  const auto writeFailed = [&] {
    buffer.reset();
    file.Close();
    return failed(Texts::UploadWriteFailed(fileName), TransferOutcome::WriteFailed);
  };

  // The control byte: a lone byte from the target, or the ACK that answered its STX.
  std::uint8_t control = Ctl::STX;
  do {
    int waiting = line.Waiting();
    while (waiting > 0) {
      if (waiting == 1) {
        port.Read(&control, 1);
        if (control == Ctl::STX) {
          control = Ctl::ACK;
          port.Write(&control, 1);
        }
      } else if (waiting >= blockSize) {
        port.Read(buffer.get(), blockSize);
        if (!file.WriteAll(buffer.get(), static_cast<size_t>(blockSize))) return writeFailed();
      } else {
        // A block only partly here: wait for the rest, with Stop and Close kept usable
        // should the target stall in the middle of it.
        if (line.UserBreak()) return userBreak();
        host.ProcessMessages();
      }
      waiting = line.Waiting();
    }
    if (line.UserBreak()) return userBreak();
    host.ProgressStep();
    host.ProcessMessages();
  } while (control != Ctl::ESC);

  host.ProgressReset();
  buffer.reset();
  if (!file.Close()) return writeFailed();
  host.ShowMessage(Texts::UploadComplete, Texts::UploadCompleteCaption);
  stopDone();
  return TransferOutcome::Complete;
}

std::string UploadDirectoryPart(const std::string& fileName) {
  // Drive letters ("C:image.bin") only where paths have them.
  const bool drives = PathDelim == '\\';
  const auto separator = [&](char ch) { return ch == PathDelim || (drives && ch == ':'); };
  size_t last = std::string::npos;
  for (size_t i = 0; i < fileName.size(); ++i)
    if (separator(fileName[i])) last = i;
  if (last == std::string::npos) return std::string();
  std::string directory = fileName.substr(0, last + 1);
  if (fileName[last] == PathDelim && last > 0 && !separator(fileName[last - 1])) directory.pop_back();
  return directory;
}
