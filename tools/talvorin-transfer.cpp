// talvorin-transfer: the upload and download dialogs' transfers from the
// command line. The same block protocol, serial component, line settings and
// messages as the dialogs; the installation's "Talvorin.ini" says where COMn
// leads, as for the program.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "comm/Comm.h"
#include "platform/Files.h"
#include "platform/Hooks.h"
#include "platform/Paths.h"
#include "platform/StandardStreams.h"
#include "ports/PortSettings.h"
#include "texts/Texts.h"
#include "tools/ConsoleHost.h"
#include "transfer/BlockProtocol.h"
#include "transfer/ImageFiles.h"
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
  InvalidImage = 9,
  ImageDiffers = 10,
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
    "  9  the image file is not valid in its format (Intel HEX, S-records): a bad record, checksum, overlap or an\n"
    "     address past 2 GiB, named with its line\n"
    "  10 verify: the programmer's image differs from the file\n"
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

// What the tool was asked to do, and in which image format (none chosen:
// a download's or a verify's file tells by its content, an upload's file by
// its name).
struct Job {
  enum Kind { Download, Upload, Verify } kind;
  std::optional<ImageFormat> format;
  bool verifyAfterDownload = false;
};

// How one transfer ended, and the tool's status for it.
struct Step {
  bool complete;
  int status;
};

// Opens the port for one transfer, runs it with a console host of its own
// and tells how it ended.
template <class Run>
Step Transfer(const std::string& portName, Direction direction, std::int64_t fileSize, Run run) {
  TComm comm;
  if (direction == Direction::Upload)
    SetUploadLine(comm);
  else
    SetDownloadLine(comm);
  DWORD openError = ERROR_SUCCESS;
  // The port's mapping is one of the installation's own files, read with
  // the program's caseless lookup; FILE is taken as typed.
  SetCaselessLookup(true);
  const bool opened = OpenLine(comm, portName, openError);
  SetCaselessLookup(false);
  if (!opened) {
    const std::string message = PortOpenMessage(portName, ExplainPortOpenFailure(portName, openError));
    std::fprintf(stderr, "%s\n", message.c_str());
    return {false, PortUnavailable};
  }
  ConsoleHost host(direction, fileSize, isatty(STDERR_FILENO) != 0);
  PortOf<TComm> line(comm);
  CountingPort port(line, host);
  const TransferOutcome outcome = run(port, host);
  // A device that went away has no output left to wait for.
  if (outcome != TransferOutcome::Disconnected) LetOutputLeave(comm);
  const bool complete = outcome == TransferOutcome::Complete;
  // The dialogs go on past a refused block without a word; a script must not
  // take a download with holes for a whole one.
  if (host.Skipped() == 0) return {complete, ExitCodeFor(outcome)};
  std::fprintf(stderr, "Blocks not sent: %d of %d. The programmer answered their requests with neither ACK nor ESC.\n",
               host.Skipped(), host.Blocks());
  return {false, complete ? BlocksSkipped : ExitCodeFor(outcome)};
}

// Image formats and verify.

// Verify reads what a download would send; a plain file that is not there
// or cannot be sent is refused as a download refuses it, before anything
// goes to the programmer.
bool VerifiableFile(const std::string& file, std::int64_t size) {
  if (size >= 0 && size <= MaxTransferFileSize) return true;
  const std::string text = !FileExists(file) ? Texts::DownloadFileMissing(file)
                           : size < 0        ? Texts::DownloadFileUnreadable(file)
                                             : Texts::DownloadFileTooLarge(file);
  std::fprintf(stderr, "%s\n", text.c_str());
  return false;
}

int RunJob(const Job& job, const std::string& portName, const std::string& file) {
  if (job.kind == Job::Upload) {
    const ImageFormat format = job.format.value_or(FormatOfName(file).value_or(ImageFormat::Binary));
    const auto records = format == ImageFormat::Binary ? nullptr : RecordFileSink(file, format);
    return Transfer(portName, Direction::Upload, 0,
                    [&](TransferPort& port, TransferHost& host) {
                      return records ? RunUpload(port, host, file, *records) : RunUpload(port, host, file);
                    })
        .status;
  }

  const ImageFile image = OpenImageFile(file, job.format);
  if (!image.source) {
    std::fprintf(stderr, "%s\n", image.fault.c_str());
    return InvalidImage;
  }
  const std::int64_t size = image.source->Size();
  if (image.format != ImageFormat::Binary)
    std::fprintf(stderr, "%s: %s, an image of %lld bytes from address 0\n", file.c_str(), FormatTitle(image.format),
                 static_cast<long long>(size));
  if (job.kind == Job::Download) {
    const Step download = Transfer(
        portName, Direction::Download, std::max<std::int64_t>(size, 0), [&](TransferPort& port, TransferHost& host) {
          return image.format == ImageFormat::Binary ? RunDownload(port, host, file)
                                                     : RunDownload(port, host, file, *image.source);
        });
    if (!job.verifyAfterDownload || download.status != Completed) return download.status;
  } else if (!VerifiableFile(file, size)) {
    return FileFailed;
  }

  ImageComparison comparison(*image.source);
  const Step upload = Transfer(portName, Direction::Upload, 0, [&](TransferPort& port, TransferHost& host) {
    return RunUpload(port, host, file, comparison);
  });
  if (!upload.complete) return upload.status;
  std::fprintf(stderr, "%s\n", comparison.Report().c_str());
  return comparison.Differences() == 0 ? upload.status : ImageDiffers;
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
  Job job{Job::Download, std::nullopt};
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
  app.add_option("--format", job.format,
                 "the image format of FILE: bin (the bytes as they are), ihex (Intel HEX) or srec (S-records); "
                 "default: a download's or verify's FILE tells by its content, an upload's by its extension "
                 "(.hex .ihx; .srec .s19 .s28 .s37)")
      ->type_name("bin|ihex|srec")
      ->transform(CLI::CheckedTransformer(std::map<std::string, ImageFormat>{{"bin", ImageFormat::Binary},
                                                                             {"ihex", ImageFormat::IntelHex},
                                                                             {"srec", ImageFormat::SRecords}})
                      .description(""));
  CLI::App* download = app.add_subcommand("download", "send FILE to the programmer");
  download->add_option("FILE", file, "the file to send")->type_name("")->required();
  download->add_flag("--verify", job.verifyAfterDownload, "then read the programmer's image back and compare it");
  CLI::App* upload =
      app.add_subcommand("upload", "read the programmer's image into FILE (an existing file is replaced)");
  upload->add_option("FILE", file, "the file to write")->type_name("")->required();
  CLI::App* verify = app.add_subcommand(
      "verify", "read the programmer's image (into memory) and compare it with FILE, as a download would send it");
  verify->add_option("FILE", file, "the file to compare with")->type_name("")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }

  if (!install.empty()) SetModuleFileNameOverride(install + "/Talvorin");
  SetComDeviceResolver(ComDeviceFromSettings);
  if (device.empty() && com == 0) com = PortNumber(ReadComIndex());
  CatchStopSignals();
  job.kind = upload->parsed() ? Job::Upload : verify->parsed() ? Job::Verify : Job::Download;
  // The installation's files have been read; FILE is taken as typed.
  SetCaselessLookup(false);
  return RunJob(job, device.empty() ? "COM" + std::to_string(com) : device, file);
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
