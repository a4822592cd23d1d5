// Transfers through the dialogs' serial port component against the virtual
// programmer over a pseudo-terminal:
//  - paced at 115200 baud: time against the ideal time of the bytes on the wire;
//  - the same behind a USB adapter's latency timer of 16 ms and of 1 ms: the
//    cost of each block's wait for its answer;
//  - unpaced: bytes per second against a plain write/read loop on a pty;
//  - peak resident memory of a 64 MiB download against a 64 KiB one.
// usage: bench_transfer VPROG [KiB paced, default 1024]
#include <sys/resource.h>
#include <unistd.h>

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
// dialogs' message processing does.
struct CommHost : QuietHost {
  void ProcessMessages() override {
    CheckSynchronize();
    QuietHost::ProcessMessages();
  }
};

// Seconds for one transfer against a fresh virtual programmer on COM1, with
// the line settings of the dialog that runs it.
double Transfer(bool download, size_t size, const std::vector<std::string>& extra) {
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
  const auto start = std::chrono::steady_clock::now();
  const TransferOutcome outcome = download ? RunDownload(port, host, file.string())
                                           : RunUpload(port, host, (work / "received.bin").string());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  if (outcome != TransferOutcome::Complete) {
    std::fprintf(stderr, "transfer did not complete (%d)\n", static_cast<int>(outcome));
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
    std::fprintf(stderr, "usage: %s VPROG [KiB paced]\n", argv[0]);
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
  for (const bool download : {true, false}) {
    const double seconds = Transfer(download, pacedSize, {"--pace"});
    const double ideal = WireBytes(pacedSize) / 11520.0;
    std::printf("  %-8s %zu KiB paced at 115200 baud: %.2f s, ideal %.2f s, ratio %.4f (goal >= 0.97)\n",
                download ? "download" : "upload", pacedSize / 1024, seconds, ideal, ideal / seconds);
  }

  // A USB adapter hands the programmer's answers over at the ticks of its
  // latency timer; the stop-and-wait protocol pays that on every block.
  const size_t latencySize = 64u << 10;
  const double latencyIdeal = WireBytes(latencySize) / 11520.0, latencyBlocks = latencySize / 256.0;
  for (const char* latency : {"16", "1"})
    for (const bool download : {true, false}) {
      const double seconds = Transfer(download, latencySize, {"--pace", "--latency", latency});
      std::printf("  %-8s %zu KiB paced, adapter latency %2s ms: %.2f s, ratio %.4f, %.2f ms a block over ideal\n",
                  download ? "download" : "upload", latencySize / 1024, latency, seconds, latencyIdeal / seconds,
                  (seconds - latencyIdeal) * 1000 / latencyBlocks);
    }

  const size_t fastSize = 16u << 20;
  const double plain = PlainLoop(static_cast<size_t>(WireBytes(fastSize)));
  const double plainRate = WireBytes(fastSize) / plain;
  std::printf("  plain write/read loop, %.0f bytes: %.2f MB/s\n", WireBytes(fastSize), plainRate / 1e6);
  for (const bool download : {true, false}) {
    const double seconds = Transfer(download, fastSize, {});
    const double rate = static_cast<double>(fastSize) / seconds;
    std::printf("  %-8s 16 MiB unpaced: %.2f MB/s of file data, %.2f MB/s on the wire, ratio to plain loop %.3f\n",
                download ? "download" : "upload", rate / 1e6, WireBytes(fastSize) / seconds / 1e6,
                WireBytes(fastSize) / seconds / plainRate);
  }

  const long small = DownloadPeakInChild(argv[0], 64u << 10);
  const long large = DownloadPeakInChild(argv[0], 64u << 20);
  std::printf("  peak resident memory of the host: 64 KiB download %ld KiB, 64 MiB download %ld KiB, "
              "difference %ld KiB (goal < 5120)\n",
              small, large, large - small);
  fs::remove_all(work);
  return 0;
}
