// talvorin-transfer: the upload and download dialogs' transfers from the
// command line. The same block protocol, serial component, line settings and
// messages as the dialogs; the installation's "Talvorin.ini" says where COMn
// leads, as for the program.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>

#include "comm/Comm.h"
#include "platform/Files.h"
#include "platform/Hooks.h"
#include "platform/StandardStreams.h"
#include "ports/PortSettings.h"
#include "tools/ConsoleHost.h"
#include "transfer/BlockProtocol.h"
#include "transfer/PortMessage.h"
#include "transfer/TransferLine.h"

namespace {

// Bad usage exits with CLI11's own codes, 100 and above.
enum ExitCode {
  Completed = 0,
  TargetBroke = 1,
  NoBlockSize = 2,
  PortUnavailable = 3,
  FileFailed = 4,
  Interrupted = 5,
  OtherFailure = 6,
  DeviceGone = 7,
  BlocksSkipped = 8,
};

const char exitCodes[] =
    "Exit status:\n"
    "  0  the transfer completed\n"
    "  1  the programmer stopped the download (it sent ESC)\n"
    "  2  the handshake failed: no block size\n"
    "  3  the port could not be opened\n"
    "  4  the file could not be read or written (missing, 2 GiB or more, no directory, not a plain file, a read or\n"
    "     write error)\n"
    "  5  interrupted by SIGINT or SIGTERM (ESC was sent)\n"
    "  6  any other failure (no memory for the block buffer, an unexpected error)\n"
    "  7  the programmer went away during the transfer (unplugged)\n"
    "  8  the download went to its end, but blocks were not sent: the programmer answered their requests\n"
    "     with neither ACK nor ESC\n"
    "  100 and above  bad usage";

int ExitCodeFor(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::Complete:
      return Completed;
    case TransferOutcome::TargetBreak:
      return TargetBroke;
    case TransferOutcome::HandshakeFailed:
      return NoBlockSize;
    // Only a signal sets the stop flag here.
    case TransferOutcome::BreakWaitingSize:
    case TransferOutcome::BreakWaitingReply:
    case TransferOutcome::BreakInExchange:
      return Interrupted;
    case TransferOutcome::FileMissing:
    case TransferOutcome::FileTooLarge:
    case TransferOutcome::FileUnreadable:
    case TransferOutcome::DirectoryMissing:
    case TransferOutcome::FileNotCreated:
    case TransferOutcome::WriteFailed:
      return FileFailed;
    case TransferOutcome::BufferFailed:
      return OtherFailure;
    case TransferOutcome::Disconnected:
      return DeviceGone;
  }
  return OtherFailure;
}

// Opens the port and raises RTS and DTR, as the dialogs do when they are
// shown. The watcher thread that Open starts keeps SIGINT and SIGTERM
// blocked, so that the handler always runs on this thread, which reads the
// flag. A port that does not open leaves its error in openError.
bool OpenLine(TComm& comm, const std::string& deviceName, DWORD& openError) {
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  bool opened = true;
  try {
    comm.SetDeviceName(deviceName);
    comm.Open();
    if (!comm.Enabled()) openError = GetLastError();
    // A port that did not open fails here with its "not open" error.
    comm.SetRTSState(true);
    comm.SetDTRState(true);
  } catch (const std::exception&) {
    opened = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return opened;
}

// The outcome's last bytes, above all the ESC that ends most outcomes, must
// reach the programmer before the tool exits: the output queue is let empty
// first, for a second at most, so that a line held by flow control does not
// hold the tool. A device's own buffer (a UART's FIFO, a pseudo-terminal's)
// is not in the count: a moment more for it. The outcome is settled by then:
// a device that goes away meanwhile only ends the wait.
void LetOutputLeave(TComm& comm) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  try {
    while (comm.OutQueCount() > 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } catch (const std::exception&) {
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// The size the download sends, for the progress line; the protocol takes it
// again itself and judges it.
std::int64_t FileSizeOf(const std::string& name) {
  std::error_code error;
  const auto size = std::filesystem::file_size(name, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

// Opens the port, runs the transfer and tells how it ended.
int Transfer(Direction direction, const std::string& portName, const std::string& file) {
  TComm comm;
  if (direction == Direction::Upload)
    SetUploadLine(comm);
  else
    SetDownloadLine(comm);
  DWORD openError = ERROR_SUCCESS;
  if (!OpenLine(comm, portName, openError)) {
    const std::string message = PortOpenMessage(portName, ExplainPortOpenFailure(portName, openError));
    std::fprintf(stderr, "%s\n", message.c_str());
    return PortUnavailable;
  }
  // The installation's own files have been read (the port's mapping among
  // them), with the program's caseless lookup; FILE is taken as typed.
  SetCaselessLookup(false);
  ConsoleHost host(direction, direction == Direction::Download ? FileSizeOf(file) : 0, isatty(STDERR_FILENO) != 0);
  PortOf<TComm> line(comm);
  CountingPort port(line, host);
  const TransferOutcome outcome =
      direction == Direction::Upload ? RunUpload(port, host, file) : RunDownload(port, host, file);
  // A device that went away has no output left to wait for.
  if (outcome != TransferOutcome::Disconnected) LetOutputLeave(comm);
  // The dialogs go on past a refused block without a word; a script must not
  // take a download with holes for a whole one.
  if (host.Skipped() == 0) return ExitCodeFor(outcome);
  std::fprintf(stderr, "Blocks not sent: %d of %d. The programmer answered their requests with neither ACK nor ESC.\n",
               host.Skipped(), host.Blocks());
  return outcome == TransferOutcome::Complete ? BlocksSkipped : ExitCodeFor(outcome);
}

int Run(int argc, char** argv) {
  CLI::App app{
      "Moves a memory image between a file and the programmer over a serial line, as Talvorin's Download and "
      "Upload dialogs do.",
      "talvorin-transfer"};
  app.set_version_flag("--version", "talvorin-transfer " TALVORIN_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(exitCodes);

  int com = 0;
  std::string device, install, file;
  CLI::Option* comOption =
      app.add_option("--com", com,
                     "COM port number N; the installation's Talvorin.ini says where COMN leads "
                     "(default: the port chosen in Talvorin)")
          ->type_name("N")
          ->check(CLI::Range(1, INT_MAX).description(""));
  app.add_option("--device", device, "serial device to open instead of a COM port")
      ->type_name("PATH")
      ->excludes(comOption)
      ->check(CLI::Validator(
          [](const std::string& path) {
            return path.empty() ? std::string("an empty PATH names no device") : std::string();
          },
          ""));
  app.add_option("--install", install, "the installation directory (default: the directory of this program)")
      ->type_name("DIR")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  CLI::App* download = app.add_subcommand("download", "send FILE to the programmer");
  download->add_option("FILE", file, "the file to send")->type_name("")->required();
  CLI::App* upload =
      app.add_subcommand("upload", "read the programmer's image into FILE (an existing file is replaced)");
  upload->add_option("FILE", file, "the file to write")->type_name("")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }

  if (!install.empty()) SetModuleFileNameOverride(install + "/Talvorin");
  SetComDeviceResolver(ComDeviceFromSettings);
  if (device.empty() && com == 0) com = PortNumber(ReadComIndex());
  CatchStopSignals();
  return Transfer(upload->parsed() ? Direction::Upload : Direction::Download,
                  device.empty() ? "COM" + std::to_string(com) : device, file);
}

}  // namespace

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  // The outcome is the transfer's, whoever reads standard error or has
  // stopped reading it.
  signal(SIGPIPE, SIG_IGN);
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "talvorin-transfer: %s\n", error.what());
  } catch (...) {
    std::fputs("talvorin-transfer: unexpected failure\n", stderr);
  }
  return OtherFailure;
}
