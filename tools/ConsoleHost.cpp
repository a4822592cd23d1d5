#include "tools/ConsoleHost.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "comm/Thread.h"
#include "platform/winapi.h"
#include "texts/Texts.h"

namespace {

volatile std::sig_atomic_t stopSignals = 0;

// Should the tool still run this long after a second signal, the alarm ends
// it the ordinary way.
constexpr unsigned HurriedEndSeconds = 3;

void NoteStopSignal(int) {
  if (stopSignals >= 2) return;
  stopSignals = stopSignals + 1;
  if (stopSignals == 2) alarm(HurriedEndSeconds);
}

double SecondsIn(std::chrono::steady_clock::duration span) { return std::chrono::duration<double>(span).count(); }

// m:ss, or h:mm:ss from an hour on.
std::string Duration(double seconds) {
  const long long total = static_cast<long long>(seconds);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

std::string Fit(std::string text, int width) {
  if (width > 0 && text.size() > static_cast<size_t>(width)) text.resize(static_cast<size_t>(width));
  return text;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopHurried() { return stopSignals >= 2; }

ConsoleHost::ConsoleHost(HostDirection direction, std::int64_t fileSize, bool terminal)
    : direction(direction), fileSize(fileSize), terminal(terminal) {}

void ConsoleHost::LimitSilence(std::chrono::milliseconds limit, const std::string& deviceName) {
  silenceLimit = limit;
  device = deviceName;
}

bool ConsoleHost::StopRequested() {
  if (stopSignals != 0) return true;
  if (!silentDevice.empty() && !silenceTold && !quiet && silenceLimit == Clock::duration::zero() &&
      Clock::now() - lastHeard >= std::chrono::seconds(10)) {
    silenceTold = true;
    if (terminal && everDrawn) std::fputc('\n', stderr);
    std::fprintf(stderr,
                 "talvorin-transfer: no answer from the programmer on %s for 10 s; still waiting. Ctrl+C stops, "
                 "--timeout SECONDS bounds the wait.\n",
                 silentDevice.c_str());
  }
  if (silenceLimit > Clock::duration::zero() && Clock::now() - lastHeard >= silenceLimit) timedOut = true;
  return timedOut;
}

// The dialogs' clock, so that the handshake repeats as theirs does.
std::uint32_t ConsoleHost::Now() { return timeGetTime(); }

void ConsoleHost::ProcessMessages() {
  // The serial watcher hands its events over here, as to a dialog's message loop.
  CheckSynchronize();
  if (terminal && !quiet && Clock::now() - drawn >= std::chrono::milliseconds(100)) Draw();
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string&) {
  // The progress line stays with its last numbers, above the outcome.
  if (terminal && !quiet && (everDrawn || blockSize > 0)) {
    Draw();
    std::fputc('\n', stderr);
  }
  // A download with refused blocks is not complete, whatever the dialogs
  // say; the tool tells what was not sent.
  if ((text == Texts::DownloadComplete && skipped > 0) || (text == Texts::UploadComplete && readBack)) return;
  if (!timedOut) return Tell(text);
  // The protocol knows only a user's break; the words say what happened.
  char limit[32];
  std::snprintf(limit, sizeof limit, "%g", SecondsIn(silenceLimit));
  Tell("no answer from the programmer on " + device + " after " + limit + " s");
}

void ConsoleHost::UploadLeft(std::int64_t bytesSaved, const std::string& fileName, const std::string& savedIn) {
  std::error_code error;
  // Blocks received with no place to keep them beside the file: none.
  if (bytesSaved > 0 && !savedIn.empty())
    Tell(savedIn == fileName ? Texts::UploadBytesSaved(bytesSaved, fileName)
                             : Texts::UploadPartSaved(bytesSaved, savedIn, fileName));
  else
    Tell(bytesSaved > 0 || std::filesystem::exists(fileName, error) ? Texts::UploadNothingSaved(fileName)
                                                                     : Texts::UploadNothingCreated(fileName));
}

void ConsoleHost::Tell(const std::string& text) {
  if (quiet)
    held += text + "\n";
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleHost::TellHeld() {
  std::fputs(held.c_str(), stderr);
  held.clear();
}

void ConsoleHost::BlockMoved() {
  ++moved;
  // A download's last block is the file's tail, filled up.
  const bool tail = direction == HostDirection::Download && offered == blocks;
  bytes += tail ? fileSize - static_cast<std::int64_t>(blocks - 1) * blockSize : blockSize;
}

std::unique_ptr<std::uint8_t[]> ConsoleHost::AllocateBlock(int size) {
  blockSize = size;
  exchangeStarted = Clock::now();
  return TransferHost::AllocateBlock(size);
}

void ConsoleHost::Draw() {
  drawn = Clock::now();
  everDrawn = true;
  winsize size{};
  const int width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  // One column spare: a line that fills the terminal would wrap before the next redraw.
  std::fprintf(stderr, "\r%s\x1b[K", ProgressLine(width - 1).c_str());
}

std::string ConsoleHost::ProgressLine(int width) const {
  const Clock::time_point now = Clock::now();
  if (blockSize == 0) return Fit("waiting for the programmer  " + Duration(SecondsIn(now - started)), width);

  const bool download = direction == HostDirection::Download;
  const double seconds = SecondsIn(now - exchangeStarted);
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  // Numbers padded to their widest, so that the bar keeps its width.
  char rateText[32] = "    -- KiB/s";
  if (bytes > 0 && rate > 0) std::snprintf(rateText, sizeof rateText, "%6.1f KiB/s", rate / 1024);

  std::string text;
  if (download) {
    const std::string total = std::to_string(std::max(blocks, 0)), size = std::to_string(fileSize);
    char counts[96];
    std::snprintf(counts, sizeof counts, "%*d/%s blocks  %*lld/%s bytes  ", static_cast<int>(total.size()), moved,
                  total.c_str(), static_cast<int>(size.size()), static_cast<long long>(bytes), size.c_str());
    text = counts + std::string(rateText) + "  ";
    text += bytes > 0 && rate > 0 ? Duration(static_cast<double>(fileSize - bytes) / rate) + " left" : "-:-- left";
  } else {
    // The target alone knows how much is coming: no end to count down to.
    text = std::to_string(moved) + " blocks  " + std::to_string(bytes) + " bytes  " + rateText + "  " +
           Duration(seconds);
  }

  const int barWidth = std::min(30, width - static_cast<int>(text.size()) - 3);
  if (barWidth < 10) return Fit(text, width);
  std::string bar(static_cast<size_t>(barWidth), ' ');
  if (download) {
    const int filled = blocks > 0 ? static_cast<int>(static_cast<std::int64_t>(moved) * barWidth / blocks) : barWidth;
    std::fill_n(bar.begin(), std::min(filled, barWidth), '#');
  } else {
    // A marker sweeping to and fro, like the upload dialog's gauge.
    const int span = barWidth - 3;
    const auto steps = std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count() / 80;
    int at = static_cast<int>(steps % (2LL * span));
    if (at > span) at = 2 * span - at;
    bar.replace(static_cast<size_t>(at), 3, "<=>");
  }
  return "[" + bar + "] " + text;
}

int CountingPort::Read(void* buffer, int count) {
  const int n = line.Read(buffer, count);
  if (n > 0) host.Heard();
  if (count >= SmallBlock && n == count) host.BlockMoved();
  return n;
}

int CountingPort::Write(const void* buffer, int count) {
  const int n = line.Write(buffer, count);
  if (count >= SmallBlock && n == count) host.BlockMoved();
  return n;
}
