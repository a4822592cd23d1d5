// Transfers through the dialogs' serial port component against the virtual
// programmer over a pseudo-terminal, with the windowless host's rests between
// polling passes (those of talvorin-transfer):
//  - paced at 115200 baud: time against the ideal time of the bytes on the
//    wire, and the host's processor time against the wall time;
//  - the same behind a USB adapter's latency timer of 16 ms and of 1 ms: the
//    cost of each block's wait for its answer;
//  - unpaced: time against a reference host, the same stop-and-wait protocol
//    with plain blocking reads and writes on the descriptor; a plain
//    streaming write/read loop on a pty as context;
//  - peak resident memory of a 64 MiB download against a 64 KiB one.
// usage: bench_transfer VPROG [KiB paced, default 1024] [MiB unpaced, default 4]
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/Comm.h"
#include "platform/Hooks.h"
#include "ports/PortSettings.h"
#include "tools/PtyPort.h"
#include "tools/QuietHost.h"
#include "tools/VprogProcess.h"
#include "transfer/BlockProtocol.h"
#include "transfer/TransferLine.h"

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

std::string vprogPath;
fs::path work;

void WriteFile(const fs::path& path, size_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk(65536, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + 7);
  for (size_t done = 0; done < size; done += chunk.size())
    out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - done)));
}

// Bytes on the wire in both directions for a transfer of whole 256-byte blocks.
double WireBytes(size_t size) {
  const double blocks = static_cast<double>((size + 255) / 256);
  return 1 + 2 + blocks * (1 + 1 + 256) + 1;
}

// The quiet host that also hands the port's line events over, as the
// dialogs' message processing does; it rests between passes on the port's
// arrivals, as talvorin-transfer does.
struct CommHost : QuietHost {
  void ProcessMessages() override {
    CheckSynchronize();
    QuietHost::ProcessMessages();
  }
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Context switches so far, voluntary or not, of the whole process
// (RUSAGE_SELF) or of the calling thread (RUSAGE_THREAD).
double ContextSwitches(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw);
}

struct Timing {
  double seconds;
  double cpu;           // processor time of the whole process, every thread
  double switches;      // context switches of the whole process
  double pollSwitches;  // those of the polling thread; the rest are the watcher's
};

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

// One transfer against a fresh virtual programmer on COM1, with the line
// settings of the dialog that runs it.
Timing Transfer(bool download, size_t size, const std::vector<std::string>& extra) {
  const fs::path file = work / (download ? "send.bin" : "image.bin");
  WriteFile(file, size);
  std::vector<std::string> args{download ? "--store" : "--serve", download ? "/dev/null" : file.string(),
                                "--install", work.string(), "--com", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  VprogProcess vprog;
  TComm comm;
  comm.SetDeviceName("COM1");
  comm.SetBaudRate(br115200);
  comm.SetFlowControl(fcNone);
  comm.SetReadBufSize(download ? 2 : 258);
  comm.SetWriteBufSize(download ? 258 : 2);
  if (!download) {
    comm.SetOptions({coIgnoreXOff});
    comm.SetMonitorEvents({evRxChar});
  }
  if (vprog.Start(vprogPath, args)) comm.Open();
  if (!comm.Enabled()) {
    std::fprintf(stderr, "cannot start %s or open its line\n", vprogPath.c_str());
    std::exit(1);
  }
  PortOf<TComm> port(comm);
  CommHost host;
  host.stopAfter = 600000;
  const double cpu = CpuSeconds(), switches = ContextSwitches(), pollSwitches = ContextSwitches(RUSAGE_THREAD);
  const auto start = std::chrono::steady_clock::now();
  const TransferOutcome outcome = download
                                      ? RunDownload(port, host, file.string(), NameMatch::Caseless)
                                      : RunUpload(port, host, (work / "received.bin").string(), NameMatch::Caseless);
  const Timing timing{Seconds(std::chrono::steady_clock::now() - start).count(), CpuSeconds() - cpu,
                      ContextSwitches() - switches, ContextSwitches(RUSAGE_THREAD) - pollSwitches};
  if (outcome != TransferOutcome::Complete) {
    std::fprintf(stderr, "transfer did not complete (%d)\n", static_cast<int>(outcome));
    std::exit(1);
  }
  vprog.ReadLine(10000);
  return timing;
}

// The reference host: the same protocol, stop and wait, with nothing but
// blocking reads and writes on the descriptor (the handshake's repeat aside).
class ReferenceHost {
 public:
  explicit ReferenceHost(int fd) : fd(fd) {}

  bool Download(const std::string& data) {
    const int block = Handshake();
    if (block == 0) return false;
    std::string buffer;
    for (size_t at = 0; at < data.size(); at += static_cast<size_t>(block)) {
      buffer.assign(data, at, static_cast<size_t>(block));
      buffer.resize(static_cast<size_t>(block), '\xFF');
      Send(Ctl::STX);
      if (Receive() != Ctl::ACK) return false;
      if (!WriteAll(buffer.data(), buffer.size())) return false;
    }
    Send(Ctl::ESC);
    return true;
  }

  // The bytes of the image, or fewer when the line failed.
  size_t Upload() {
    const int block = Handshake();
    std::vector<char> buffer(static_cast<size_t>(block));
    size_t received = 0;
    while (block > 0) {
      const int control = Receive();
      if (control == Ctl::ESC || control < 0) break;
      if (control != Ctl::STX) continue;
      Send(Ctl::ACK);
      if (!ReadAll(buffer.data(), buffer.size())) break;
      received += buffer.size();
    }
    return received;
  }

 private:
  // STX, again every second until the two bytes of the reply are there; the
  // block size, 0 when the reply is no ACK.
  int Handshake() {
    Send(Ctl::STX);
    pollfd in{fd, POLLIN, 0};
    while (poll(&in, 1, 1000) == 0) Send(Ctl::STX);
    char reply[2];
    if (!ReadAll(reply, 2) || reply[1] != Ctl::ACK) return 0;
    return BlockSizeFor(static_cast<std::uint8_t>(reply[0]));
  }
  void Send(std::uint8_t byte) { (void)!write(fd, &byte, 1); }
  int Receive() {
    std::uint8_t byte = 0;
    return read(fd, &byte, 1) == 1 ? byte : -1;
  }
  bool ReadAll(char* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = read(fd, buffer + done, size - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool WriteAll(const char* buffer, size_t size) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = write(fd, buffer + done, size - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  const int fd;
};

// Seconds for the reference host's transfer against a fresh virtual programmer.
double ReferenceTransfer(bool download, size_t size, const std::vector<std::string>& extra = {}) {
  const fs::path file = work / "reference.bin";
  WriteFile(file, size);
  VprogProcess vprog;
  std::vector<std::string> args{download ? "--store" : "--serve", download ? "/dev/null" : file.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  if (!vprog.Start(vprogPath, args)) {
    std::fprintf(stderr, "cannot start %s\n", vprogPath.c_str());
    std::exit(1);
  }
  const int fd = open(vprog.Device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || !MakeRaw(fd)) std::exit(1);
  std::string data;
  if (download) {
    std::ifstream in(file, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), {});
  }
  ReferenceHost host(fd);
  const auto start = std::chrono::steady_clock::now();
  const bool complete = download ? host.Download(data) : host.Upload() == size;
  const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  close(fd);
  if (!complete) {
    std::fprintf(stderr, "the reference transfer did not complete\n");
    std::exit(1);
  }
  vprog.ReadLine(10000);
  return seconds;
}

// The same bytes through a pty with nothing but write and read: a writer
// thread on one end in block-sized writes, a reader on the other.
double PlainLoop(size_t size) {
  Pty pty;
  if (!pty.Open()) std::exit(1);
  const std::string block(258, 'x');
  std::thread writer([&] {
    for (size_t done = 0; done < size; done += block.size())
      if (write(pty.slave, block.data(), block.size()) <= 0) return;
  });
  std::vector<char> buffer(4096);
  const auto start = std::chrono::steady_clock::now();
  size_t got = 0;
  const size_t total = (size + block.size() - 1) / block.size() * block.size();
  while (got < total) {
    const ssize_t n = read(pty.master, buffer.data(), buffer.size());
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  writer.join();
  pty.Close();
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Peak memory of a process that does one download of the given size.
long DownloadPeakInChild(const char* self, size_t size) {
  const std::string command = std::string(self) + " --rss-child " + std::to_string(size) + " " + vprogPath;
  FILE* pipe = popen(command.c_str(), "r");
  long kib = -1;
  if (!pipe || std::fscanf(pipe, "%ld", &kib) != 1) kib = -1;
  if (pipe) pclose(pipe);
  return kib;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s VPROG [KiB paced] [MiB unpaced]\n", argv[0]);
    return 2;
  }
  work = fs::temp_directory_path() / ("talvorin-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  SetModuleFileNameOverride((work / "Talvorin").string());
  // COM1 leads where the virtual programmer writes it into "Talvorin.ini".
  SetComDeviceResolver(ComDeviceFromSettings);

  if (std::string(argv[1]) == "--rss-child" && argc == 4) {
    vprogPath = argv[3];
    Transfer(true, std::strtoull(argv[2], nullptr, 10), {});
    std::printf("%ld\n", PeakKiB());
    fs::remove_all(work);
    return 0;
  }
  vprogPath = argv[1];
  const size_t pacedSize = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) * 1024;

  std::printf("Transfers through TComm over a pseudo-terminal against the virtual programmer (256-byte blocks)\n");
  std::vector<std::string> goals;
  const auto goal = [&](const char* what, double value, bool met) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-58s %8.4f  %s\n", what, value, Verdict(met));
    goals.emplace_back(line);
  };
  for (const bool download : {true, false}) {
    const Timing paced = Transfer(download, pacedSize, {"--pace"});
    const double ideal = WireBytes(pacedSize) / 11520.0, ratio = ideal / paced.seconds;
    const double cpuPercent = paced.cpu / paced.seconds * 100;
    // What this machine allows at the moment: the reference host on the
    // same paced line, a tenth of the size.
    const size_t contextSize = std::max<size_t>(pacedSize / 10 / 1024, 16) << 10;
    const double reference = WireBytes(contextSize) / 11520.0 / ReferenceTransfer(download, contextSize, {"--pace"});
    std::printf(
        "  %-8s %zu KiB paced at 115200 baud: %.2f s, ideal %.2f s, ratio %.4f (the reference host, "
        "%zu KiB: %.4f); host CPU %.2f s = %.2f%% of a core; %.2f context switches a block\n",
        download ? "download" : "upload", pacedSize / 1024, paced.seconds, ideal, ratio, contextSize / 1024, reference,
        paced.cpu, cpuPercent, paced.switches / (static_cast<double>(pacedSize) / 256));
    goal(download ? "download paced: CPU % of a core < 1" : "upload paced: CPU % of a core < 1", cpuPercent,
         cpuPercent < 1);
    goal(download ? "download paced: ratio minus the reference host's >= 0"
                  : "upload paced: ratio minus the reference host's >= 0",
         ratio - reference, ratio >= reference);
  }

  // A USB adapter hands the programmer's answers over at the ticks of its
  // latency timer; the stop-and-wait protocol pays that on every block.
  const size_t latencySize = 64u << 10;
  const double latencyIdeal = WireBytes(latencySize) / 11520.0, latencyBlocks = latencySize / 256.0;
  for (const char* latency : {"16", "1"})
    for (const bool download : {true, false}) {
      const double seconds = Transfer(download, latencySize, {"--pace", "--latency", latency}).seconds;
      std::printf("  %-8s %zu KiB paced, adapter latency %2s ms: %.2f s, ratio %.4f, %.2f ms a block over ideal\n",
                  download ? "download" : "upload", latencySize / 1024, latency, seconds, latencyIdeal / seconds,
                  (seconds - latencyIdeal) * 1000 / latencyBlocks);
    }

  const size_t fastSize = (argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 4) << 20;
  for (const bool download : {true, false}) {
    // Pairs in turn, each against the reference run just before it, so that
    // both see the same load on the machine; medians of the pairs.
    std::vector<double> reference, ours, switches, pollSwitches;
    for (int pair = 0; pair < 5; ++pair) {
      reference.push_back(ReferenceTransfer(download, fastSize));
      const Timing timing = Transfer(download, fastSize, {});
      ours.push_back(timing.seconds);
      switches.push_back(timing.switches / static_cast<double>(fastSize / 256));
      pollSwitches.push_back(timing.pollSwitches / static_cast<double>(fastSize / 256));
    }
    const double r = Median(reference), o = Median(ours);
    std::printf(
        "  %-8s %zu MiB unpaced: %.2f s (%.2f MB/s of file data; %.2f to %.2f s); reference host with "
        "blocking read/write %.2f s (%.2f to %.2f s); throughput ratio %.3f, medians of 5; "
        "%.2f context switches a block (%.2f to %.2f; %.2f of them on the polling thread)\n",
        download ? "download" : "upload", fastSize >> 20, o, static_cast<double>(fastSize) / o / 1e6, Min(ours),
        Max(ours), r, Min(reference), Max(reference), r / o, Median(switches), Min(switches), Max(switches),
        Median(pollSwitches));
    goal(download ? "download unpaced: throughput ratio >= 0.95" : "upload unpaced: throughput ratio >= 0.95", r / o,
         r / o >= 0.95);
    goal(download ? "download unpaced: context switches a block <= 2.0"
                  : "upload unpaced: context switches a block <= 2.0",
         Median(switches), Median(switches) <= 2.0);
  }
  const double plain = PlainLoop(static_cast<size_t>(WireBytes(fastSize)));
  std::printf("  context: a streaming write/read loop moves the same %.0f bytes in %.2f s (%.2f MB/s); "
              "no stop-and-wait protocol can come near it\n",
              WireBytes(fastSize), plain, WireBytes(fastSize) / plain / 1e6);

  const long small = DownloadPeakInChild(argv[0], 64u << 10);
  const long large = DownloadPeakInChild(argv[0], 64u << 20);
  std::printf("  peak resident memory of the host: 64 KiB download %ld KiB, 64 MiB download %ld KiB, "
              "difference %ld KiB (goal < 5120)\n",
              small, large, large - small);
  std::printf("Goals (the round trip's is in bench_comm's report):\n");
  for (const std::string& line : goals) std::fputs(line.c_str(), stdout);
  fs::remove_all(work);
  return 0;
}
