// talvorin-transfer: the upload and download dialogs' transfers from the
// command line. The same block protocol, serial component, line settings and
// messages as the dialogs; the installation's "Talvorin.ini" says where COMn
// leads, as for the program. For scripts: a limit on waiting, quiet or JSON
// output, a trace of the line, and the list of serial ports. The
// installation's files are found as the program finds them, without regard
// to case; FILE is taken as typed, never matched to another file.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "comm/Comm.h"
#include "platform/ComDevices.h"
#include "platform/Files.h"
#include "platform/Hooks.h"
#include "platform/Paths.h"
#include "platform/StandardStreams.h"
#include "ports/ComDevices.h"
#include "ports/PortSettings.h"
#include "texts/Texts.h"
#include "tools/ConsoleHost.h"
#include "tools/PortList.h"
#include "tools/TracePort.h"
#include "tools/TransferReport.h"
#include "transfer/BlockProtocol.h"
#include "transfer/ImageFiles.h"
#include "transfer/PortMessage.h"
#include "transfer/TransferFiles.h"
#include "transfer/TransferLine.h"

namespace {

// Opens the line as the dialogs do. The watcher thread that Open starts
// keeps SIGINT and SIGTERM blocked, so that the handler always runs on this
// thread, which reads the flag.
bool OpenLine(TComm& comm, const std::string& deviceName, DWORD& openError) {
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  const bool opened = OpenTransferLine(comm, deviceName, openError);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return opened;
}

// The outcome's last bytes, above all the ESC that ends most outcomes, must
// reach the programmer before the tool exits: the output queue is let empty
// first, for a second at most, so that a line held by flow control does not
// hold the tool. A device's own buffer (a UART's FIFO, a pseudo-terminal's)
// is not in the count: a moment more for it. The outcome is settled by then:
// a device that goes away meanwhile only ends the wait, and a second
// signal too.
void AwaitLastBytesOut(TComm& comm) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  try {
    while (!StopHurried() && comm.OutQueCount() > 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } catch (const std::exception&) {
    return;
  }
  if (!StopHurried()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// What the tool was asked to do, and in which image format (none chosen:
// a download's or a verify's file tells by its content, an upload's file by
// its name).
struct Job {
  enum Kind { Download, Upload, Verify } kind;
  std::optional<ImageFormat> format;
  bool verifyAfterDownload = false;
  // Records: the address of the programmer's block 0.
  std::optional<std::uint32_t> offset = std::nullopt;
};

// The format line of a record file: the image from the programmer's block
// 0 on, and where its data lie.
void TellImage(const std::string& file, const ImageFile& image, std::int64_t size) {
  char base[16] = "0";
  if (image.base != 0) std::snprintf(base, sizeof base, "0x%08X", static_cast<unsigned>(image.base));
  std::fprintf(stderr, "%s: %s, an image of %lld bytes from address %s", file.c_str(), FormatTitle(image.format),
               static_cast<long long>(size), base);
  if (size > 0)
    std::fprintf(stderr, ", its data from 0x%08llX to 0x%08llX",
                 static_cast<unsigned long long>(image.base + image.firstData),
                 static_cast<unsigned long long>(image.base + static_cast<std::uint64_t>(size) - 1));
  std::fputc('\n', stderr);
}

// What a script asked of the transfer besides its file and port.
struct ScriptOptions {
  double timeout = 0;  // seconds; 0: no limit
  bool quiet = false;
  std::string trace;
};

// An existing FILE stays as it was until an upload completes: the whole
// blocks of one that does not go beside it, into FILE.partial. The blocks
// are written to both as they come, so that either can be kept at the end.
// A folder that takes no new file has no room for the part: FILE still
// stays as it was, and what came is not kept.
class PartKeepingSink final : public UploadSink {
 public:
  PartKeepingSink(std::unique_ptr<UploadSink> whole, std::unique_ptr<UploadSink> part, std::string partName)
      : whole(std::move(whole)), part(std::move(part)), partName(std::move(partName)) {}

  bool Create() override {
    if (!whole->Create()) return false;
    partOpen = part->Create();
    return true;
  }
  bool Append(const void* data, size_t count) override {
    return whole->Append(data, count) && (!partOpen || part->Append(data, count));
  }
  bool Keep() override {
    part->Abandon();
    return whole->Keep();
  }
  bool KeepPart() override {
    whole->Abandon();
    return !partOpen || part->Keep();
  }
  // Empty: nowhere.
  std::string PartName(const std::string&) const override { return partOpen ? partName : std::string(); }
  void Abandon() override {
    whole->Abandon();
    part->Abandon();
  }

 private:
  const std::unique_ptr<UploadSink> whole, part;
  const std::string partName;
  bool partOpen = false;
};

// Where an upload into file writes: a file that did not exist gets the
// whole blocks of an upload that does not complete, an existing one keeps
// its bytes.
std::unique_ptr<UploadSink> UploadSinkFor(const std::string& file, ImageFormat format, std::uint32_t base) {
  const auto sinkFor = [format, base](const std::string& name) {
    return format == ImageFormat::Binary ? FileReplacementSink(name, NameMatch::AsTyped)
                                         : RecordFileSink(name, NameMatch::AsTyped, format, base);
  };
  if (!FileExists(file, NameMatch::AsTyped)) return sinkFor(file);
  const std::string partName = file + ".partial";
  return std::make_unique<PartKeepingSink>(sinkFor(file), sinkFor(partName), partName);
}

// Opens the port for one transfer, runs it with a console host of its own
// (through the trace when there is one), and notes how it ended in the job's
// outcome and what it moved in the report.
template <class Run>
void TransferOnce(HostDirection direction, std::int64_t fileSize, const ScriptOptions& script, TraceLog& trace,
                  JobOutcome& job, TransferReport& report, Run run, bool readBack = false) {
  const std::string& portName = report.device;
  TComm comm;
  if (direction == HostDirection::Upload)
    SetUploadLine(comm);
  else
    SetDownloadLine(comm);
  DWORD openError = ERROR_SUCCESS;
  if (!OpenLine(comm, portName, openError)) {
    const std::string message = PortOpenMessage(portName, ExplainPortOpenFailure(portName, openError));
    std::fprintf(stderr, "%s\n", message.c_str());
    job.portUnavailable = true;
    return;
  }
  ConsoleHost host(direction, fileSize, isatty(STDERR_FILENO) != 0);
  if (script.quiet) host.Quiet();
  if (readBack) host.ReadBack();
  host.TellSilence(portName);
  if (script.timeout > 0)
    host.LimitSilence(
        std::chrono::ceil<std::chrono::milliseconds>(std::chrono::duration<double>(script.timeout)), portName);
  PortOf<TComm> line(comm);
  std::optional<TracePort> traced;
  if (!script.trace.empty()) traced.emplace(line, trace);
  CountingPort port(traced ? static_cast<TransferPort&>(*traced) : line, host);
  const TransferOutcome outcome = run(port, host);
  // A device that went away has no output left to wait for.
  if (outcome != TransferOutcome::Disconnected) AwaitLastBytesOut(comm);
  job.transfer = outcome;
  job.timedOut = host.TimedOut();
  if (outcome != TransferOutcome::Complete) host.TellHeld();
  // The dialogs go on past a refused block without a word; a script must not
  // take a download with holes for a whole one.
  if (host.Skipped() > 0) {
    std::fprintf(stderr,
                 "Blocks not sent: %d of %d. The programmer answered their requests with neither ACK nor ESC.\n",
                 host.Skipped(), host.Blocks());
    job.skippedBlocks = host.Skipped();
  }
  report.bytes = host.Bytes();
  report.blocks = host.Moved();
  report.skippedBlocks = host.Skipped();
}

// Runs the job's transfers; the outcome takes how they ended, the report
// what they moved and, for a verify, what it found.
void RunJob(const Job& job, const ScriptOptions& script, TraceLog& trace, JobOutcome& outcome, TransferReport& report) {
  const std::string& file = report.file;
  if (job.kind == Job::Upload) {
    const ImageFormat format = job.format.value_or(FormatOfName(file).value_or(ImageFormat::Binary));
    report.format = FormatWord(format);
    const std::unique_ptr<UploadSink> sink = UploadSinkFor(file, format, job.offset.value_or(0));
    TransferOnce(HostDirection::Upload, 0, script, trace, outcome, report, [&](TransferPort& port, TransferHost& host) {
      return RunUpload(port, host, file, NameMatch::AsTyped, *sink);
    });
    return;
  }

  const ImageFile image = OpenImageFile(file, NameMatch::AsTyped, job.format, job.offset);
  if (!image.source) {
    std::fprintf(stderr, "%s\n", image.fault.c_str());
    outcome.invalidImage = true;
    return;
  }
  report.format = FormatWord(image.format);
  // Told even with --quiet: a script may be sending the wrong file.
  if (!image.warning.empty()) std::fprintf(stderr, "%s\n", image.warning.c_str());
  const bool binary = image.format == ImageFormat::Binary;
  const std::int64_t size = image.source->Size();
  if (!binary && !script.quiet) TellImage(file, image, size);
  if (job.kind == Job::Download) {
    TransferOnce(HostDirection::Download, std::max<std::int64_t>(size, 0), script, trace, outcome, report,
                 [&](TransferPort& port, TransferHost& host) {
                   return binary ? RunDownload(port, host, file, NameMatch::AsTyped)
                                 : RunDownload(port, host, file, *image.source);
                 });
    if (!job.verifyAfterDownload || StatusOf(outcome) != Completed) return;
  } else {
    // Refused as a download refuses it, before anything goes to the programmer.
    std::int64_t fileSize = 0;
    if (const auto refused = RefusedDownload(file, *image.source, fileSize)) {
      std::fprintf(stderr, "%s\n", refused->message.c_str());
      outcome.transfer = refused->outcome;
      return;
    }
  }

  ImageComparison comparison(*image.source);
  // A verify's own numbers are the upload's; a download's stay its own.
  TransferReport readBack = report;
  TransferOnce(
      HostDirection::Upload, 0, script, trace, outcome, job.kind == Job::Verify ? report : readBack,
      [&](TransferPort& port, TransferHost& host) {
        return RunUpload(port, host, file, NameMatch::AsTyped, comparison);
      },
      true);
  if (outcome.transfer != TransferOutcome::Complete) return;
  report.verified = true;
  report.differingBytes = comparison.Differences();
  report.firstDifference = comparison.First();
  outcome.differs = report.differingBytes > 0;
  if (outcome.differs || !script.quiet) std::fprintf(stderr, "%s\n", comparison.Report().c_str());
}

// Where a path leads once every link on the way is followed, also when the
// last one leads to nothing yet: the file that writing there creates.
std::filesystem::path Destination(const std::string& path) {
  std::error_code error;
  std::filesystem::path at = std::filesystem::absolute(path, error);
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(at, error); ++hops) {
    const std::filesystem::path target = std::filesystem::read_symlink(at, error);
    if (error) break;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return std::filesystem::weakly_canonical(at, error);
}

// Whether a path is the device the port opens: the same file by any name,
// or a device node of the same device.
bool IsThePort(const std::string& path, const std::string& portName) {
  const std::string device = PortDevice(portName);
  struct stat at {}, port {};
  if (stat(path.c_str(), &at) != 0 || stat(device.c_str(), &port) != 0) return false;
  return (at.st_dev == port.st_dev && at.st_ino == port.st_ino) ||
         (S_ISCHR(at.st_mode) && S_ISCHR(port.st_mode) && at.st_rdev == port.st_rdev);
}

// Starts the trace, runs the job and ends the trace.
void TracedJob(const Job& job, const ScriptOptions& script, JobOutcome& outcome, TransferReport& report) {
  TraceLog trace;
  if (!script.trace.empty()) {
    // A trace opened over the file itself would empty it before the
    // transfer; one through a link to an upload's FILE that is not there yet
    // would be replaced by the upload's file; one on the port would write its
    // text to the programmer.
    std::error_code sameError;
    if (std::filesystem::equivalent(script.trace, report.file, sameError) ||
        Destination(script.trace) == Destination(report.file)) {
      std::fprintf(stderr, "Can not write the trace %s : it is the file to transfer.\n", script.trace.c_str());
      outcome.traceRefused = true;
      return;
    }
    if (IsThePort(script.trace, report.device)) {
      std::fprintf(stderr, "Can not write the trace %s : it is the port to the programmer.\n", script.trace.c_str());
      outcome.traceRefused = true;
      return;
    }
    if (!trace.Open(script.trace, "talvorin-transfer " + report.command + " " + report.file + " on " + report.device)) {
      std::fprintf(stderr, "Can not write the trace %s : %s\n", script.trace.c_str(), std::strerror(errno));
      outcome.traceRefused = true;
      return;
    }
  }
  RunJob(job, script, trace, outcome, report);
  if (!trace.Close()) {
    std::fprintf(stderr, "The trace %s is not complete: it could not be written.\n", script.trace.c_str());
    outcome.traceIncomplete = true;
  }
}

// The serial ports present, through the same enumeration as Option > Serial devices...
int ListPorts(bool json) {
  const std::vector<SerialDeviceRecord> ports = SerialPorts(OpenSerialDeviceSource()->Present());
  if (WriteOut(json ? PortJson(ports) + "\n" : PortTable(ports))) return Completed;
  std::fprintf(stderr, "talvorin-transfer: standard output: %s\n", std::strerror(errno));
  return OtherFailure;
}

int Run(int argc, char** argv) {
  CLI::App app{
      "Moves a memory image between a file and the programmer over a serial line, as Talvorin's Download and "
      "Upload dialogs do.",
      "talvorin-transfer"};
  app.set_version_flag("--version", "talvorin-transfer " TALVORIN_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.footer("Exit status:\n" + ExitStatusHelp());

  int com = 0;
  std::string device, install, file;
  Job job{Job::Download, std::nullopt};
  CLI::Option* comOption = app.add_option("--com", com,
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
                 "default: a download's or verify's FILE tells by its content (Talvorin's Download dialog sends "
                 "every file as bin), an upload's by its extension (.hex .ihx; .srec .s19 .s28 .s37)")
      ->type_name("bin|ihex|srec")
      ->transform(CLI::CheckedTransformer(std::map<std::string, ImageFormat>{
                                              {FormatWord(ImageFormat::Binary), ImageFormat::Binary},
                                              {FormatWord(ImageFormat::IntelHex), ImageFormat::IntelHex},
                                              {FormatWord(ImageFormat::SRecords), ImageFormat::SRecords}})
                      .description(""));
  std::uint32_t offset = 0;
  CLI::Option* offsetOption =
      app.add_option("--offset", offset,
                     "records: the address that is the programmer's block 0 (records below it are an error); "
                     "an upload writes its records from it. Default 0; images whose data begin 1 MiB or more above "
                     "it are refused unless --offset or --format is given")
          ->type_name("ADDRESS");
  // "-" is no file here: standard input and output carry no images.
  const CLI::Validator fileName(
      [](const std::string& name) {
        return name == "-" ? std::string("- names no file: images do not go through standard input or output (./- "
                                         "names a file called -)")
                           : std::string();
      },
      "");
  CLI::App* download = app.add_subcommand("download", "send FILE to the programmer");
  download->add_option("FILE", file, "the file to send")->type_name("")->required()->check(fileName);
  download->add_flag("--verify", job.verifyAfterDownload, "then read the programmer's image back and compare it");
  CLI::App* upload =
      app.add_subcommand("upload", "read the programmer's image into FILE (an existing file is replaced)");
  upload->add_option("FILE", file, "the file to write")->type_name("")->required()->check(fileName);
  CLI::App* verify = app.add_subcommand(
      "verify", "read the programmer's image (into memory) and compare it with FILE, as a download would send it");
  verify->add_option("FILE", file, "the file to compare with")->type_name("")->required()->check(fileName);
  CLI::App* ports = app.add_subcommand(
      "ports", "list the serial ports present: device, by-id name, product, maker, serial number, driver");
  ScriptOptions script;
  bool json = false;
  app.add_option("--timeout", script.timeout,
                 "give up once the programmer has not answered for SECONDS: first the block size, then each block "
                 "(default: no limit)")
      ->type_name("SECONDS")
      ->check(CLI::Validator(
          [](const std::string& text) {
            // Not nan or inf, which a plain range lets through or cannot count down, and not below the
            // millisecond that the limit counts in: less would be no limit at all.
            double seconds = 0;
            return CLI::detail::lexical_cast(text, seconds) && seconds >= 0.001 && seconds <= 1e6
                       ? std::string()
                       : std::string("SECONDS must be a number from 0.001 to 1000000");
          },
          ""));
  app.add_flag("--quiet", script.quiet, "tell only failures on standard error");
  app.add_flag("--json", json, "print the outcome as one JSON object on standard output at the end (ports: an array)");
  app.add_option("--trace", script.trace, "write every byte each way with its time into FILE")->type_name("FILE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  if (ports->parsed()) return ListPorts(json);
  if (offsetOption->count() > 0) job.offset = offset;

  if (!install.empty()) SetModuleFileNameOverride(install + "/Talvorin");
  SetComDeviceResolver(ComDeviceFromSettings);
  if (device.empty() && com == 0) com = PortNumber(ReadComIndex());
  CatchStopSignals();
  job.kind = upload->parsed() ? Job::Upload : verify->parsed() ? Job::Verify : Job::Download;
  TransferReport report;
  report.command = job.kind == Job::Upload ? "upload" : job.kind == Job::Verify ? "verify" : "download";
  report.device = device.empty() ? "COM" + std::to_string(com) : device;
  report.file = file;
  const auto started = std::chrono::steady_clock::now();
  JobOutcome outcome;
  TracedJob(job, script, outcome, report);
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  report.status = StatusOf(outcome);
  if (!json || WriteOut(ReportJson(report) + "\n")) return report.status;
  std::fprintf(stderr, "talvorin-transfer: standard output: %s\n", std::strerror(errno));
  outcome.reportUnwritten = true;
  return StatusOf(outcome);
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
