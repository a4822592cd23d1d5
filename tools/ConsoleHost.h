// The command-line tool's side of a transfer, in place of a dialog: SIGINT and
// SIGTERM set the stop flag (as Stop does), and so does a programmer silent
// for longer than the limit a script set; messages go to standard error, and
// on a terminal a progress line shows how far the transfer has come.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/RelayPort.h"
#include "transfer/BlockProtocol.h"

enum class HostDirection { Download, Upload };

// Handlers for SIGINT and SIGTERM that set the stop flag. A second signal
// asks for the quickest end: the tool waits no more for the line to empty,
// and still reports its outcome; should it not have ended 3 s later,
// SIGALRM ends the process the ordinary way.
void CatchStopSignals();
// Whether a second signal has come.
bool StopHurried();

class ConsoleHost final : public TransferHost {
 public:
  // fileSize: the bytes a download sends (unused for an upload). terminal:
  // whether standard error shows a progress line.
  ConsoleHost(HostDirection direction, std::int64_t fileSize, bool terminal);

  // A limit on waiting for the programmer: once it has sent nothing for
  // limit, the transfer stops as at a signal, and the outcome's message
  // names device. Without a call there is no limit, as in the dialogs.
  void LimitSilence(std::chrono::milliseconds limit, const std::string& device);
  // Without a limit, a programmer that has sent nothing for a while is
  // told of once, with how to stop the wait or bound it; device names it.
  void TellSilence(const std::string& device) { silentDevice = device; }
  // Only failures are told: no progress line, and the outcome's words held
  // until TellHeld.
  void Quiet() { quiet = true; }
  // The upload only reads the programmer's image for a comparison: its
  // completion is the comparison's to tell.
  void ReadBack() { readBack = true; }
  void TellHeld();

  // Counted by the port: one block sent or received, and bytes of any kind
  // from the programmer.
  void BlockMoved();
  void Heard() { lastHeard = Clock::now(); }
  // Download: the blocks the programmer refused, which were not sent, and
  // the blocks of the file.
  int Skipped() const { return skipped; }
  int Blocks() const { return blocks; }
  // The blocks that crossed the line, and the image's bytes in them (a
  // download's fill not counted).
  int Moved() const { return moved; }
  std::int64_t Bytes() const { return bytes; }
  // The programmer was silent for longer than the limit.
  bool TimedOut() const { return timedOut; }

  // A Start has no console equivalent and a signal must not be forgotten;
  // the flag is never cleared.
  bool StopRequested() override;
  void ClearStop() override {}
  std::uint32_t Now() override;
  // No keyboard is watched: the signals stand for Escape.
  bool EscapePressed() override { return false; }
  void ProcessMessages() override;
  void SetStartEnabled(bool) override {}
  void SetStopEnabled(bool) override {}
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ProgressReset() override {}
  void ProgressRange(int blocks) override { this->blocks = blocks; }
  void ProgressStep() override { ++offered; }
  void BlockSkipped() override { ++skipped; }
  // The block size becomes known here, and the exchange starts.
  std::unique_ptr<std::uint8_t[]> AllocateBlock(int size) override;
  // An upload that did not complete says where the received bytes are.
  void UploadLeft(std::int64_t bytesSaved, const std::string& fileName, const std::string& savedIn) override;

 private:
  using Clock = std::chrono::steady_clock;
  // The progress line for the state so far, at most width characters.
  std::string ProgressLine(int width) const;
  void Draw();
  void Tell(const std::string& text);

  const HostDirection direction;
  const std::int64_t fileSize;
  const bool terminal;
  const Clock::time_point started = Clock::now();
  Clock::time_point lastHeard = started;
  Clock::duration silenceLimit = Clock::duration::zero();  // zero: none
  std::string device;
  bool timedOut = false;
  std::string silentDevice;  // empty: nothing told
  bool silenceTold = false;
  bool quiet = false;
  bool readBack = false;
  std::string held;
  Clock::time_point exchangeStarted;
  Clock::time_point drawn;
  bool everDrawn = false;
  int blockSize = 0;  // 0 until the handshake has given it
  int blocks = -1;    // download: the block count
  int moved = 0;
  int offered = 0;  // download: blocks begun
  int skipped = 0;
  std::int64_t bytes = 0;
};

// The transfer's port that tells the host of every block crossing it (the
// only reads and writes of a whole block are the blocks themselves) and of
// every byte that came from the programmer.
class CountingPort final : public RelayPort {
 public:
  CountingPort(TransferPort& line, ConsoleHost& host) : RelayPort(line), host(host) {}
  int Read(void* buffer, int count) override;
  int Write(const void* buffer, int count) override;

 private:
  ConsoleHost& host;
};
