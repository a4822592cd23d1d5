// talvorin-vprog: a programmer on a pseudo-terminal, for trying out and
// testing the transfers without the hardware. Prints the device of the
// host's end on its first line, then one line per finished session.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/StandardStreams.h"
#include "platform/posix/device_users.h"
#include "platform/winapi.h"
#include "tools/PtyPort.h"
#include "tools/VirtualTarget.h"

namespace {

const char usage[] =
    "usage: talvorin-vprog [options] --memory FILE\n"
    "       talvorin-vprog [options] (--store FILE | --serve FILE)...\n"
    "       talvorin-vprog [--install DIR --com N] --flood\n"
    "       talvorin-vprog --help | --version\n"
    "  --memory FILE       a programmer's memory, kept in FILE across sessions and\n"
    "                      restarts: downloads write it, uploads and verifies read it\n"
    "  --store FILE        take a download and write its blocks to FILE\n"
    "  --serve FILE        answer an upload with the bytes of FILE\n"
    "                      sessions follow these in order; the last one repeats\n"
    "  --block 128|256     block size to choose (default 256)\n"
    "  --size-code N       size code to send instead (0 = 256, else 128)\n"
    "  --install DIR --com N   write the device into DIR/Talvorin.ini as COMn, and\n"
    "                      remove it again at the end if it is still this device\n"
    "  --pace              pace the line at 115200 baud (11520 bytes a second)\n"
    "  --baud N            pace the line at N baud\n"
    "  --latency MS        hand bytes to the host only every MS milliseconds, as a\n"
    "                      USB serial adapter's latency timer does (16 is common)\n"
    "  --sessions N        end after N sessions, once the host has closed the line\n"
    "                      (or after 10 seconds)\n"
    "misbehaviour:\n"
    "  --nak K             answer download block request K with NAK\n"
    "  --esc K             answer download block request K with ESC\n"
    "  --bad-handshake N   send N instead of ACK in the handshake reply (default 0x15)\n"
    "  --silent            answer nothing\n"
    "  --stall K           after block K, answer nothing but the host's ESC\n"
    "  --stray K           upload: send a lone 0x41 after block K\n"
    "  --esc-behind        upload: send ESC in the same write as the last block\n"
    "  --flood             send bytes without pause, as fast as the line takes them,\n"
    "                      and answer nothing, until ended\n";

// The COMn entry that this programmer puts into an installation's
// Talvorin.ini. Programmers started together must not write over each
// other's entries, so the section is read, changed and written under a lock.
// A profile write replaces the file through a new one, which a lock on the
// file itself would not outlive: the lock is on a file of its own beside it.
class ComMapping {
 public:
  bool Install(const std::string& dir, int com, const std::string& device) {
    const std::lock_guard<std::mutex> hold(guard);
    ini = dir + "/Talvorin.ini";
    lockFile = dir + "/.Talvorin.ini.lock";
    key = "COM" + std::to_string(com);
    value = device;
    const int lock = Lock();
    const bool written = lock >= 0 && WritePrivateProfileStringA(section, key.c_str(), value.c_str(), ini.c_str());
    if (lock >= 0) close(lock);
    installed = written;
    return written;
  }

  // Removes the entry, once, unless someone has mapped the port elsewhere
  // meanwhile. Called by the signal watcher and at the normal end alike.
  void Remove() {
    const std::lock_guard<std::mutex> hold(guard);
    if (!installed) return;
    installed = false;
    const int lock = Lock();
    if (lock < 0) return;
    char current[4096];
    GetPrivateProfileStringA(section, key.c_str(), "", current, sizeof current, ini.c_str());
    if (value == current) WritePrivateProfileStringA(section, key.c_str(), nullptr, ini.c_str());
    close(lock);
  }

 private:
  // The lock is held while the descriptor is open.
  int Lock() const {
    const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd);
        return -1;
      }
    }
    return fd;
  }

  static constexpr const char* section = "COM devices";
  std::string ini, lockFile, key, value;
  bool installed = false;
  std::mutex guard;
};

// Never destroyed: the signal watcher may use it until the process is gone.
ComMapping& Mapping() {
  static ComMapping* const mapping = new ComMapping;
  return *mapping;
}

// SIGTERM, SIGINT and SIGHUP are taken by a thread of their own, which can
// remove the entry safely (the profile functions are no work for a signal
// handler) and then ends the process by the same signal.
void WatchStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, number);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread([stopSignals] {
    int number = 0;
    while (sigwait(&stopSignals, &number) != 0) {
    }
    Mapping().Remove();
    signal(number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    raise(number);
  }).detach();
}

using Nanos = long long;

Nanos Clock() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

void SleepUntil(Nanos when) {
  if (when <= Clock()) return;
  timespec ts{static_cast<time_t>(when / 1'000'000'000LL), static_cast<long>(when % 1'000'000'000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

// Tells when a host that locked the line (as the program and the transfer
// tool do) lets it go, by closing it or by dying: that ends its session,
// whatever state it was left in. The kernel reports every close of the
// device before anything a next host can send, and the host's open files
// then tell whether it still has the line; a new host that opens it the
// moment the old one went is another process. A host that reopens the line
// itself keeps its session, which then ends by the protocol.
//
// The exclusive flag that a host sets stays on a pseudo-terminal after the
// host is gone (its master keeps the terminal), and would refuse every later
// open but the superuser's: it is cleared whenever a host speaks or a handle
// closes. The hosts' lock still keeps them apart.
class HostWatch {
 public:
  // slave: the programmer's own descriptor of the host's end.
  HostWatch(int slave, const std::string& device) : slave(slave) {
    struct stat st {};
    if (fstat(slave, &st) == 0) line = st.st_rdev;
    if (closes >= 0) inotify_add_watch(closes, device.c_str(), IN_CLOSE);
  }
  HostWatch(const HostWatch&) = delete;
  HostWatch& operator=(const HostWatch&) = delete;

  // Readable when a handle of the device has been closed.
  int Descriptor() const { return closes; }
  // The host has begun to speak: watch it if it holds the lock. A host that
  // takes no lock is not watched.
  void HostSpoke() {
    if (asked) return;
    asked = true;
    ioctl(slave, TIOCNXCL);
    if (flock(slave, LOCK_EX | LOCK_NB) == 0) {
      flock(slave, LOCK_UN);
      return;
    }
    host = DeviceUser(line, false);
  }
  // What the last Gone found, without asking the kernel again.
  bool Left() const { return gone; }
  // Takes the kernel's news of closes; true once the watched host has let
  // go, until the next session.
  bool Gone() {
    char events[4096];
    bool closed = false;
    while (read(closes, events, sizeof events) > 0) closed = true;
    if (!closed) return gone;
    ioctl(slave, TIOCNXCL);
    if (host != 0 && !HasDeviceOpen(host, line)) gone = true;
    return gone;
  }
  // The session is over: the next one watches whoever speaks first in it.
  void NextSession() {
    asked = gone = false;
    host = 0;
  }

 private:
  const int slave;
  const int closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  dev_t line = 0;
  bool asked = false, gone = false;
  pid_t host = 0;
};

// Moves the target's bytes over the line, at the line speed when paced. With
// a latency, the bytes that have reached the adapter by then go on to the
// host only at the ticks of its timer, every latency nanoseconds.
class Line {
 public:
  Line(Pty& pty, Nanos byteTime, Nanos latency) : pty(pty), byteTime(byteTime), latency(latency), origin(Clock()) {}

  // Once the watched host has gone, nothing is sent to it, nor waited for.
  void WatchHost(HostWatch& watch) { host = &watch; }

  // Bytes from the host. On a paced line they cross it one after another
  // from the moment they were written (or the line was free).
  size_t FromHost(std::uint8_t* buffer, size_t size) {
    const ssize_t n = read(pty.master, buffer, size);
    if (n <= 0) return 0;
    rxStart = std::max(rxFree, Clock());
    rxFree = rxStart + n * byteTime;
    return static_cast<size_t>(n);
  }
  // Whether bytes from the host wait to be taken.
  bool HostSent() const {
    pollfd pfd{pty.master, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
  }
  // When byte i of the last Take has fully arrived.
  Nanos ArrivalOf(size_t i) const { return rxStart + static_cast<Nanos>(i + 1) * byteTime; }

  // hostSentMore: bytes from the host behind the one answered, taken and not
  // yet looked at.
  void Send(const TargetOutput& output, Nanos notBefore, bool hostSentMore) {
    if (HostGone()) return;
    if (output.alone && lastAlone) {
      // A lone byte behind a block or a handshake reply is harmless (the host
      // takes those first), and goes out as a real target would send it; but
      // two lone bytes together would look like the start of a block. Bytes
      // written reach the host's queue a moment later: give the first time
      // to arrive, then wait for the host to take it. A host that has
      // stopped takes nothing more, but says so: once it has sent
      // something, the byte goes out and its ESC is read next.
      SleepUntil(lastWrite + 10'000'000);
      while (!hostSentMore && pty.WaitingAtHost() > 0 && !HostSent() && !HostGone()) SleepUntil(Clock() + 20'000);
      if (HostGone()) return;
    }
    lastAlone = output.alone;
    if (byteTime == 0 && latency == 0) {
      writeAll(output.bytes.data(), output.bytes.size());
      lastWrite = Clock();
      return;
    }
    // Each slice goes out when its last byte would have crossed the line
    // (and the adapter's timer has ticked since).
    Nanos at = std::max({Clock(), txFree, notBefore});
    for (size_t done = 0; done < output.bytes.size();) {
      const size_t slice = std::min<size_t>(16, output.bytes.size() - done);
      at += static_cast<Nanos>(slice) * byteTime;
      lastWrite = HandedOver(at);
      SleepUntil(lastWrite);
      if (HostGone()) return;
      writeAll(output.bytes.data() + done, slice);
      done += slice;
    }
    txFree = at;
  }

 private:
  bool HostGone() const { return host && host->Gone(); }

  void writeAll(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = write(pty.master, data, size);
      if (n <= 0) return;
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  // The first tick of the adapter's timer at or after arrival.
  Nanos HandedOver(Nanos arrival) const {
    if (latency == 0) return arrival;
    return origin + (arrival - origin + latency - 1) / latency * latency;
  }

  Pty& pty;
  Nanos byteTime;
  Nanos latency;
  Nanos origin;
  Nanos rxFree = 0, txFree = 0, rxStart = 0, lastWrite = 0;
  bool lastAlone = false;
  HostWatch* host = nullptr;
};

// What a wrong device, or one that streams its debug output, sends: bytes
// without end, as fast as the line takes them. What the host sends is read
// and dropped. Ends with the process.
[[noreturn]] void Flood(const Pty& pty) {
  char bytes[4096];
  std::memset(bytes, 0x55, sizeof bytes);
  char dropped[4096];
  for (;;) {
    pollfd pfd{pty.master, POLLIN | POLLOUT, 0};
    if (poll(&pfd, 1, -1) <= 0) continue;
    if (pfd.revents & POLLIN) (void)!read(pty.master, dropped, sizeof dropped);
    if (pfd.revents & POLLOUT) (void)!write(pty.master, bytes, sizeof bytes);
  }
}

int Number(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 0)); }

}  // namespace

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  // A reader of the status lines that has gone must not end the programmer.
  signal(SIGPIPE, SIG_IGN);
  TargetOptions options;
  std::vector<std::pair<VirtualTarget::Role, std::string>> jobs;
  std::string install;
  int com = 0, sessions = 0, baud = 0, latencyMs = 0;
  bool flood = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    const auto value = [&] { return argv[++i]; };
    if (arg == "--memory" && hasValue) jobs.emplace_back(VirtualTarget::Role::Memory, value());
    else if (arg == "--store" && hasValue) jobs.emplace_back(VirtualTarget::Role::Store, value());
    else if (arg == "--serve" && hasValue) jobs.emplace_back(VirtualTarget::Role::Serve, value());
    else if (arg == "--block" && hasValue) options.sizeCode = Number(value()) == 128 ? 0x01 : 0x00;
    else if (arg == "--size-code" && hasValue) options.sizeCode = static_cast<std::uint8_t>(Number(value()));
    else if (arg == "--install" && hasValue) install = value();
    else if (arg == "--com" && hasValue) com = Number(value());
    else if (arg == "--pace") baud = 115200;
    else if (arg == "--baud" && hasValue) baud = Number(value());
    else if (arg == "--latency" && hasValue) latencyMs = std::max(0, Number(value()));
    else if (arg == "--sessions" && hasValue) sessions = Number(value());
    else if (arg == "--nak" && hasValue) options.nakRequest = Number(value());
    else if (arg == "--esc" && hasValue) options.escRequest = Number(value());
    else if (arg == "--bad-handshake")
      options.handshakeAck = static_cast<std::uint8_t>(hasValue && argv[i + 1][0] != '-' ? Number(value()) : 0x15);
    else if (arg == "--silent") options.silent = true;
    else if (arg == "--stall" && hasValue) options.stallAfterBlock = Number(value());
    else if (arg == "--stray" && hasValue) options.strayAfterBlock = Number(value());
    else if (arg == "--esc-behind") options.escBehindLast = true;
    else if (arg == "--flood") flood = true;
    else if (arg == "--help") {
      std::fputs(usage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("talvorin-vprog " TALVORIN_VERSION);
      return 0;
    } else {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  if ((jobs.empty() && !flood) || (!install.empty() && com < 1)) {
    std::fputs(usage, stderr);
    return 2;
  }

  Pty pty;
  if (!pty.Open()) {
    std::perror("talvorin-vprog: pseudo-terminal");
    return 1;
  }
  WatchStopSignals();
  if (!install.empty() && !Mapping().Install(install, com, pty.device)) {
    std::fprintf(stderr, "talvorin-vprog: cannot write %s/Talvorin.ini\n", install.c_str());
    return 1;
  }
  std::printf("%s\n", pty.device.c_str());
  std::fflush(stdout);
  if (flood) Flood(pty);

  // A paced line's bytes leave on time: the usual timer slack of 50 us
  // would delay every slice, which a UART does not.
  if (baud > 0 || latencyMs > 0) prctl(PR_SET_TIMERSLACK, 1UL);
  Line line(pty, baud > 0 ? 10'000'000'000LL / baud : 0, latencyMs * 1'000'000LL);
  VirtualTarget target(options);
  HostWatch host(pty.slave, pty.device);
  line.WatchHost(host);
  std::vector<TargetOutput> out;
  std::uint8_t buffer[4096];
  for (int session = 0; sessions == 0 || session < sessions; ++session) {
    const auto& [role, path] = jobs[std::min<size_t>(static_cast<size_t>(session), jobs.size() - 1)];
    target.Begin(role, path);
    host.NextSession();
    while (!target.Finished()) {
      if (host.Left()) {
        // What the host sent before it went still tells how its session
        // ended, but nothing goes back: an answer left on the line would
        // reach the next host. A next host that was quicker than this loses
        // its first request with them, and repeats it.
        while (target.InSession() && line.HostSent()) {
          const size_t n = line.FromHost(buffer, sizeof buffer);
          for (size_t at = 0; at < n && !target.Finished();) {
            out.clear();
            at += target.Receive(buffer + at, n - at, out);
          }
        }
        target.HostGone();
        tcflush(pty.slave, TCIFLUSH);
        host.NextSession();
        continue;
      }
      pollfd pfd[2] = {{pty.master, POLLIN, 0}, {host.Descriptor(), POLLIN, 0}};
      // A host writes a block at once: a pause inside one is far longer
      // than any gap between its bytes.
      const int ready = poll(pfd, 2, target.QuietAfterMs());
      out.clear();
      if (ready == 0) target.LineQuiet(out);
      for (const auto& output : out) line.Send(output, 0, false);
      // The host's going is taken before anything sent after it.
      if (ready <= 0 || ((pfd[1].revents & POLLIN) && host.Gone()) || !(pfd[0].revents & POLLIN)) continue;
      const size_t n = line.FromHost(buffer, sizeof buffer);
      if (n > 0) host.HostSpoke();
      for (size_t at = 0; at < n && !target.Finished();) {
        out.clear();
        at += target.Receive(buffer + at, n - at, out);
        for (const auto& output : out) line.Send(output, line.ArrivalOf(at - 1), at < n);
      }
    }
    std::printf("%s\n", target.Summary().c_str());
    std::fflush(stdout);
  }
  // Closing the master hangs the line up: the kernel drops what the host has
  // not read yet, and the host's next call fails. A real programmer stays on
  // the cable, so stay until the host closes its end (the master then reports
  // a hang-up), or for a while when it never does.
  close(pty.slave);
  pty.slave = -1;
  pollfd hangUp{pty.master, 0, 0};
  poll(&hangUp, 1, 10'000);
  Mapping().Remove();
  return 0;
}
