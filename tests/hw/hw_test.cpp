// The serial line through real kernel drivers: these tests run inside the
// virtual machine of tools/hw/run.sh, on an FTDI adapter (ftdi_sio, USB) and
// a 16550 (8250), whose far ends are virtual programmers on the host. They
// ask the host over the control line for a far end, an unplug or a re-plug,
// and for the line settings that reached the host's pseudo-terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "comm/Comm.h"
#include "platform/PortFailure.h"
#include "platform/SerialDevices.h"
#include "platform/winapi.h"
#include "ports/ComDevices.h"
#include "ports/PortSettings.h"
#include "ports/SerialDevicesForm.h"
#include "support/CpuTime.h"
#include "support/DialogSession.h"
#include "support/MessageRecorder.h"
#include "support/Modal.h"
#include "support/TempDir.h"
#include "transfer/Download.h"
#include "transfer/PortMessage.h"
#include "transfer/TransferLine.h"
#include "transfer/Upload.h"

namespace {

using namespace std::chrono_literals;

const std::string kUsb = "/dev/ttyUSB0";
const std::string kUart = "/dev/ttyS1";
// The modem-control loopback bit of TIOCMSET (TIOCM_LOOP), which glibc's
// headers leave out.
constexpr int kModemLoop = 0x8000;

// The 16550 in loopback mode, set through a descriptor of its own, for as
// long as this lives.
class LoopbackMode {
 public:
  LoopbackMode() {
    if (fd < 0 || ioctl(fd, TIOCMGET, &bits) != 0) return;
    const int looped = bits | kModemLoop;
    on = ioctl(fd, TIOCMSET, &looped) == 0;
  }
  ~LoopbackMode() {
    if (on) ioctl(fd, TIOCMSET, &bits);
    if (fd >= 0) close(fd);
  }
  LoopbackMode(const LoopbackMode&) = delete;
  LoopbackMode& operator=(const LoopbackMode&) = delete;
  bool On() const { return on; }

 private:
  const int fd = open(kUart.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int bits = 0;
  bool on = false;
};
const std::string kDisconnected = "COM1 was disconnected.\nThe programmer is no longer connected.";

std::string RunDir() {
  const char* run = std::getenv("TALVORIN_HW_RUN");
  return run ? run : "";
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool Present(const std::string& node) { return access(node.c_str(), F_OK) == 0; }

// Whether the device behind the node answers an opening: a new node was
// seen to refuse one at first (ENXIO, under load), a moment no user's hand
// is quick enough for.
bool Opens(const std::string& node) {
  const int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

// Equal bytes; otherwise where they first differ, not the bytes themselves.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                     << " were due; they first differ at byte " << at;
}

std::string Padded(std::string bytes, size_t block) {
  bytes.resize((bytes.size() + block - 1) / block * block, '\xFF');
  return bytes;
}

// The host, over the guest's third UART (tools/hw/run.sh answers there).
class Host {
 public:
  static std::string Ask(const std::string& request) {
    static const int line = OpenLine();
    const std::string out = request + "\n";
    if (line < 0 || write(line, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "";
    std::string answer;
    char c = 0;
    while (answer.size() < 4096) {
      pollfd p{line, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0 || read(line, &c, 1) != 1 || c == '\n') break;
      answer += c;
    }
    return answer;
  }

  // A fresh virtual programmer with args at the adapter's far end: the
  // adapter is unplugged first when present, and plugged in with the new far
  // end, as a user swaps programmers.
  static testing::AssertionResult UsbFarEnd(const std::vector<std::string>& args) {
    if (auto unplugged = Unplug(); !unplugged) return unplugged;
    const std::string answer = Ask("far usb" + Joined(args));
    if (answer.rfind("ok /dev/", 0) != 0) return testing::AssertionFailure() << "no far end: " << answer;
    return Plugged();
  }
  static testing::AssertionResult UartFarEnd(const std::vector<std::string>& args) {
    const std::string answer = Ask("far uart" + Joined(args));
    if (answer.rfind("ok /dev/", 0) != 0) return testing::AssertionFailure() << "no far end: " << answer;
    return testing::AssertionSuccess();
  }
  static testing::AssertionResult FarEnd(const std::string& node, const std::vector<std::string>& args) {
    return node == kUsb ? UsbFarEnd(args) : UartFarEnd(args);
  }
  // Whichever node the adapter has.
  static testing::AssertionResult Unplug() {
    if (UsbNodes().empty()) return testing::AssertionSuccess();
    if (Ask("unplug") != "ok") return testing::AssertionFailure() << "no answer to unplug";
    if (!WaitFor([] { return UsbNodes().empty(); }, 30s)) return testing::AssertionFailure() << "the adapter stayed";
    return testing::AssertionSuccess();
  }
  static testing::AssertionResult Plug(const std::string& node = kUsb) {
    if (Ask("plug") != "ok") return testing::AssertionFailure() << "no answer to plug";
    return Plugged(node);
  }
  // The far end's status lines: its pseudo-terminal, then one line a session.
  static std::vector<std::string> FarLog(const std::string& node) {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(RunDir() + (node == kUsb ? "/usb.log" : "/uart.log")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static bool WaitForSessions(const std::string& node, size_t sessions) {
    return WaitFor([&] { return FarLog(node).size() >= sessions + 1; }, 20s);
  }
  // The far end's line settings, as stty shows them on the host.
  static std::string FarLine(const std::string& node) {
    return Ask(std::string("line ") + (node == kUsb ? "usb" : "uart"));
  }

 private:
  static testing::AssertionResult Plugged(const std::string& node = kUsb) {
    // Ready as a user finds it: the device opens, and udev is done with it.
    if (WaitFor([&] { return Opens(node); }, 60s))
      return std::system("udevadm settle --timeout=30") == 0 ? testing::AssertionSuccess()
                                                             : testing::AssertionFailure() << "udev did not settle";
    std::string present;
    for (const auto& other : UsbNodes()) present += " " + other;
    return testing::AssertionFailure() << "no adapter came at " << node
                                       << "; present:" << (present.empty() ? " none" : present);
  }
  static std::vector<std::string> UsbNodes() {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error))
      if (entry.path().filename().string().rfind("ttyUSB", 0) == 0) nodes.push_back(entry.path());
    return nodes;
  }
  static int OpenLine() {
    const int fd = open("/dev/ttyS2", O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      cfsetspeed(&t, B115200);
      tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
  }
  static std::string Joined(const std::vector<std::string>& args) {
    std::string all;
    for (const auto& arg : args) all += " " + arg;
    return all;
  }
};

// talvorin-transfer, or another program, as a child with its output kept.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    out = ends[0];
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status, or -1 when it did not end within the time.
  int Wait(std::chrono::seconds limit = 60s) {
    int status = -1;
    WaitFor(
        [&] {
          Collect();
          int raw = 0;
          if (pid <= 0 || waitpid(pid, &raw, WNOHANG) != pid) return false;
          pid = -1;
          Collect();
          status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
          return true;
        },
        limit);
    return status;
  }
  std::string output;

 private:
  void Collect() {
    char buffer[4096];
    pollfd p{out, POLLIN, 0};
    while (out >= 0 && poll(&p, 1, 0) > 0) {
      const ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<size_t>(n));
    }
  }
  pid_t pid = -1;
  int out = -1;
};

std::vector<std::string> Tool(const std::string& node, const std::string& direction, const std::string& file) {
  return {TOOL_PATH, "--device", node, direction, file};
}

// Why a transfer of the tool on the adapter did not get on: how the tool
// stands, what it printed, what the far end logged and what the kernel said.
std::string Stalled(Child& tool) {
  const int status = tool.Wait(0s);
  std::string far;
  for (const auto& line : Host::FarLog(kUsb)) far += line + "\n";
  Child kernel({"/usr/bin/dmesg"});
  kernel.Wait();
  const size_t tail = kernel.output.size() > 3000 ? kernel.output.size() - 3000 : 0;
  return (status < 0 ? "the tool still runs" : "the tool ended with " + std::to_string(status)) +
         "; its output:\n" + tool.output + "\nthe far end's log:\n" + far + "the kernel's last words:\n" +
         kernel.output.substr(tail);
}

// The port open, or why not, in the program's own words.
testing::AssertionResult IsOpen(const TComm& comm) {
  if (comm.Enabled()) return testing::AssertionSuccess();
  const DWORD error = GetLastError();
  return testing::AssertionFailure() << "error " << error << ": "
                                     << PortOpenMessage(comm.DeviceName(), ExplainPortOpenFailure(comm.DeviceName(), error));
}

// The temporary file that an upload fills before it takes the file's place.
std::uintmax_t TemporarySize(const TempDir& dir, const std::string& name) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path(), error))
    if (entry.path().filename().string().rfind("." + name + ".tmp-", 0) == 0) return SizeOf(entry.path());
  return 0;
}

// Whether any descriptor of the process leads to the node.
bool HoldsOpen(const std::string& node) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
    // A node that has gone shows as "/dev/ttyUSB0 (deleted)".
    if (std::filesystem::read_symlink(entry.path(), error).string().rfind(node, 0) == 0) return true;
  return false;
}

// The process's threads that bear its own name, as every thread that Qt
// did not start (Qt names its own): the port's watcher is one while it runs.
size_t OwnThreads() {
  const std::string own = ReadAll("/proc/self/comm");
  size_t count = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error))
    count += ReadAll(task.path() / "comm") == own ? 1 : 0;
  return count;
}

// No processor spin while the program waits, once what the unplugging set
// off has settled.
void ExpectNothingSpins() {
  QTest::qWait(300);
  EXPECT_LT(CpuShareWhile([] { QTest::qWait(1000); }), kAtRest) << "something spins";
}

// The main window of an installation whose Talvorin.ini maps COM1 to node.
struct Session : DialogSession {
  explicit Session(const std::string& node) {
    mapCom1(node);
    showMain();
  }
};

void TypeName(QLineEdit* edit, const std::string& name) {
  edit->clear();
  QTest::keyClicks(edit, QString::fromStdString(name));
}

void Click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

std::string PortName(const testing::TestParamInfo<std::string>& info) {
  return info.param == kUsb ? "usb" : "uart";
}

class OnPort : public testing::TestWithParam<std::string> {};

// Both directions in both block sizes, paced as at 115200 baud, byte for
// byte at both ends: through talvorin-transfer, then through the dialogs.
TEST_P(OnPort, TransfersBothWaysInBothBlockSizes) {
  const std::string node = GetParam();
  for (const size_t block : {128u, 256u}) {
    SCOPED_TRACE(block);
    TempDir dir;
    const std::string image = Pattern(3000, static_cast<unsigned>(block));
    dir.write("image.bin", image);
    dir.write("served.bin", Pattern(2000, 9));
    ASSERT_TRUE(Host::FarEnd(node, {"--pace", "--block", std::to_string(block), "--store", dir.file("tool.bin"), "--serve",
                        dir.file("served.bin"), "--store", dir.file("dialog.bin"), "--serve", dir.file("served.bin")}));
    {
      Child tool(Tool(node, "download", dir.file("image.bin")));
      EXPECT_EQ(tool.Wait(), 0) << tool.output;
    }
    {
      Child tool(Tool(node, "upload", dir.file("received.bin")));
      EXPECT_EQ(tool.Wait(), 0) << tool.output;
    }
    ASSERT_TRUE(Host::WaitForSessions(node, 2));
    EXPECT_TRUE(SameBytes(dir.read("tool.bin"), Padded(image, block)));
    EXPECT_TRUE(SameBytes(dir.read("received.bin"), Padded(Pattern(2000, 9), block)));

    Session s(node);
    ASSERT_TRUE(s.download([&](TDForm& form) {
      TypeName(form.Edit1, dir.file("image.bin"));
      Click(form.BitBtn1);
      EXPECT_EQ(form.PBar->value(), static_cast<int>((image.size() + block - 1) / block));
      Click(form.BitBtn2);
    }));
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      TypeName(form.Edit1, dir.file("dialog-received.bin"));
      Click(form.BitBtn1);
      Click(form.BitBtn2);
    }));
    ASSERT_TRUE(Host::WaitForSessions(node, 4));
    EXPECT_TRUE(SameBytes(dir.read("dialog.bin"), Padded(image, block)));
    EXPECT_TRUE(SameBytes(dir.read("dialog-received.bin"), Padded(Pattern(2000, 9), block)));
    const std::vector<std::string> far = Host::FarLog(node);
    for (size_t session = 1; session < far.size(); ++session)
      EXPECT_NE(far[session].find(" blocks of " + std::to_string(block) + " bytes ("), std::string::npos) << far[session];
    EXPECT_EQ(s.messages.shown.size(), 2u);
  }
}

// What the transfer line sets reaches the far end's pseudo-terminal through
// the driver and QEMU: the speed, the stop bits and the parity. QEMU sets
// the host's terminal without flow control whatever the guest asks, and
// Linux keeps a pseudo-terminal at 8 bits without a parity bit (it clears
// PARENB and sets CS8 at every change), so flow control and the character
// size cannot be seen there, and the parity only by PARODD.
TEST_P(OnPort, TheFarEndSeesTheLineSpeedStopBitsAndParity) {
  const std::string node = GetParam();
  ASSERT_TRUE(Host::FarEnd(node, {"--silent", "--store", "/dev/null"}));
  {
    // Another speed, two stop bits and odd parity first (paEven writes
    // ODDPARITY): the far end follows.
    TComm comm;
    comm.SetDeviceName(node);
    comm.SetBaudRate(br9600);
    comm.SetStopBits(sb20);
    comm.SetDataBits(da7);
    comm.SetParity(paEven);
    comm.Open();
    ASSERT_TRUE(IsOpen(comm));
    const std::string far = Host::FarLine(node);
    EXPECT_NE(far.find("speed 9600 baud"), std::string::npos) << far;
    EXPECT_NE(far.find(" cstopb"), std::string::npos) << far;
    EXPECT_NE(far.find(" parodd"), std::string::npos) << far;
  }
  for (const bool upload : {false, true}) {
    SCOPED_TRACE(upload ? "upload line" : "download line");
    TComm comm;
    comm.SetDeviceName(node);
    upload ? SetUploadLine(comm) : SetDownloadLine(comm);
    comm.Open();
    ASSERT_TRUE(IsOpen(comm));
    const std::string far = Host::FarLine(node);
    EXPECT_NE(far.find("speed 115200 baud"), std::string::npos) << far;
    EXPECT_NE(far.find("-cstopb"), std::string::npos) << far;
    EXPECT_NE(far.find("-parodd"), std::string::npos) << far;
  }
}

// ASYNC_LOW_LATENCY is set while the component has the port open and the
// flags that were there before come back on Close, as a second opening of
// the real driver reads them.
TEST_P(OnPort, LowLatencyWhileOpenAndThePreviousFlagsAfterwards) {
  const std::string node = GetParam();
  ASSERT_TRUE(Host::FarEnd(node, {"--silent", "--store", "/dev/null"}));
  const int watch = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watch, 0) << std::strerror(errno);
  serial_struct before{};
  ASSERT_EQ(ioctl(watch, TIOCGSERIAL, &before), 0);
  before.flags &= ~ASYNC_LOW_LATENCY;
  ASSERT_EQ(ioctl(watch, TIOCSSERIAL, &before), 0);
  ASSERT_EQ(ioctl(watch, TIOCGSERIAL, &before), 0);
  {
    TComm comm;
    comm.SetDeviceName(node);
    comm.Open();
    ASSERT_TRUE(IsOpen(comm));
    serial_struct open{};
    ASSERT_EQ(ioctl(watch, TIOCGSERIAL, &open), 0);
    EXPECT_TRUE(open.flags & ASYNC_LOW_LATENCY);
    comm.Close();
  }
  serial_struct after{};
  ASSERT_EQ(ioctl(watch, TIOCGSERIAL, &after), 0);
  EXPECT_EQ(after.flags, before.flags);
  close(watch);
}

INSTANTIATE_TEST_SUITE_P(Driver, OnPort, testing::Values(kUsb, kUart), PortName);

// The adapter pulled out in the middle of a download and of an upload by
// talvorin-transfer: status 7 with the message, whole blocks only at both
// ends, and a new transfer works once it is back.
TEST(UsbUnplug, MidTransferEndsTheToolWithStatus7AndWholeBlocks) {
  TempDir dir;
  const std::string image = Pattern(40000, 3);
  dir.write("image.bin", image);
  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--block", "256", "--store", dir.file("stored.bin")}));
  {
    Child tool(Tool(kUsb, "download", dir.file("image.bin")));
    ASSERT_TRUE(WaitFor([&] { return SizeOf(dir.file("stored.bin")) >= 5 * 256; }, 30s)) << Stalled(tool);
    ASSERT_EQ(Host::Ask("unplug"), "ok");
    EXPECT_EQ(tool.Wait(), 7) << tool.output;
    EXPECT_NE(tool.output.find("disconnected"), std::string::npos) << tool.output;
  }
  ASSERT_TRUE(WaitFor([] { return !Present(kUsb); }, 30s));
  const std::string stored = dir.read("stored.bin");
  EXPECT_EQ(stored.size() % 256, 0u);
  EXPECT_LT(stored.size(), image.size());
  EXPECT_TRUE(SameBytes(stored, image.substr(0, stored.size())));

  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--block", "128", "--serve", dir.file("image.bin")}));
  {
    Child tool(Tool(kUsb, "upload", dir.file("received.bin")));
    ASSERT_TRUE(WaitFor([&] { return TemporarySize(dir, "received.bin") >= 5 * 128; }, 30s)) << Stalled(tool);
    ASSERT_EQ(Host::Ask("unplug"), "ok");
    EXPECT_EQ(tool.Wait(), 7) << tool.output;
  }
  const std::string kept = dir.read("received.bin");
  EXPECT_GE(kept.size(), 5u * 128);
  EXPECT_EQ(kept.size() % 128, 0u);
  EXPECT_TRUE(SameBytes(kept, image.substr(0, kept.size())));

  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--store", dir.file("again.bin")}));
  Child tool(Tool(kUsb, "download", dir.file("image.bin")));
  EXPECT_EQ(tool.Wait(), 0) << tool.output;
  EXPECT_TRUE(SameBytes(dir.read("again.bin"), Padded(image, 256)));
}

// The adapter pulled out while a dialog waits for the user and in the middle
// of a download and an upload: the port's watcher ends, nothing spins, the
// message comes at Start or at once, Close is clean and no descriptor stays
// behind; once the adapter is back, a reopened dialog transfers again.
TEST(UsbUnplug, DialogsReportItCloseCleanAndWorkOnceItIsBack) {
  TempDir dir;
  const std::string image = Pattern(40000, 4);
  dir.write("image.bin", image);
  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--store", dir.file("stored.bin"), "--serve", dir.file("image.bin")}));
  {
    Session s(kUsb);
    const size_t threads = OwnThreads();
    ASSERT_TRUE(s.download([&](TDForm& form) {
      EXPECT_EQ(OwnThreads(), threads + 1) << "the watcher of the open port";
      ASSERT_TRUE(Host::Unplug());
      EXPECT_TRUE(WaitFor([&] { return OwnThreads() == threads; }, 10s)) << "the watcher still runs";
      ExpectNothingSpins();
      TypeName(form.Edit1, dir.file("image.bin"));
      Click(form.BitBtn1);
      EXPECT_TRUE(form.BitBtn2->isEnabled());
      Click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "|ERROR"}));
  }
  EXPECT_FALSE(HoldsOpen(kUsb)) << "a descriptor of the adapter was left open";

  ASSERT_TRUE(Host::Plug());
  {
    Session s(kUsb);
    const size_t threads = OwnThreads();
    ASSERT_TRUE(s.download([&](TDForm& form) {
      TypeName(form.Edit1, dir.file("image.bin"));
      QObject::connect(form.PBar, &QProgressBar::valueChanged, &form, [&](int value) {
        if (value == 5) Host::Ask("unplug");
      });
      Click(form.BitBtn1);
      EXPECT_LT(form.PBar->value(), form.PBar->maximum());
      EXPECT_TRUE(WaitFor([&] { return OwnThreads() == threads; }, 10s)) << "the watcher still runs";
      ExpectNothingSpins();
      Click(form.BitBtn2);
    }));
    EXPECT_EQ(s.messages.shown, (std::vector<std::string>{kDisconnected + "|ERROR"}));
  }
  ASSERT_TRUE(WaitFor([] { return !Present(kUsb); }, 30s));
  EXPECT_FALSE(HoldsOpen(kUsb)) << "a descriptor of the adapter was left open";

  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--block", "128", "--serve", dir.file("image.bin")}));
  {
    Session s(kUsb);
    const size_t threads = OwnThreads();
    ASSERT_TRUE(s.upload([&](TUForm& form) {
      TypeName(form.Edit1, dir.file("received.bin"));
      QTimer watch;
      watch.setInterval(5);
      QObject::connect(&watch, &QTimer::timeout, [&] {
        if (TemporarySize(dir, "received.bin") < 5 * 128) return;
        watch.stop();
        Host::Ask("unplug");
      });
      watch.start();
      Click(form.BitBtn1);
      EXPECT_TRUE(WaitFor([&] { return OwnThreads() == threads; }, 10s)) << "the watcher still runs";
      Click(form.BitBtn2);
    }));
    const std::string kept = dir.read("received.bin");
    EXPECT_EQ(kept.size() % 128, 0u);
    EXPECT_GE(kept.size(), 5u * 128);
    EXPECT_TRUE(SameBytes(kept, image.substr(0, kept.size())));
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].rfind(kDisconnected, 0), 0u) << s.messages.shown[0];
  }
  ASSERT_TRUE(WaitFor([] { return !Present(kUsb); }, 30s));
  EXPECT_FALSE(HoldsOpen(kUsb)) << "a descriptor of the adapter was left open";

  ASSERT_TRUE(Host::UsbFarEnd({"--pace", "--store", dir.file("again.bin")}));
  Session s(kUsb);
  ASSERT_TRUE(s.download([&](TDForm& form) {
    TypeName(form.Edit1, dir.file("image.bin"));
    Click(form.BitBtn1);
    Click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Download compelete !!!|Job down !!!"}));
  EXPECT_TRUE(SameBytes(dir.read("again.bin"), Padded(image, 256)));
}

// Why a real node does not open: another process holds it, the user is not
// in its group, or it is not there. talvorin-transfer ends with status 3 and
// says so.
TEST(UsbOpenFailure, HeldDeniedAndMissingNodesAreExplained) {
  TempDir dir;
  dir.write("image.bin", Pattern(300, 1));
  ASSERT_TRUE(Host::UsbFarEnd({"--silent", "--store", "/dev/null"}));
  {
    // A holder that took the port for itself, as a terminal program does.
    const pid_t holder = fork();
    if (holder == 0) {
      const int fd = open(kUsb.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      if (fd < 0 || ioctl(fd, TIOCEXCL) != 0) _exit(1);
      execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(1);
    }
    ASSERT_GT(holder, 0);
    std::this_thread::sleep_for(500ms);
    Child tool(Tool(kUsb, "download", dir.file("image.bin")));
    EXPECT_EQ(tool.Wait(), 3) << tool.output;
    EXPECT_NE(tool.output.find("sleep"), std::string::npos) << tool.output;
    EXPECT_NE(tool.output.find(std::to_string(holder)), std::string::npos) << tool.output;
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
  }
  {
    // The node as udev's rules leave it: the group dialout may use it.
    ASSERT_EQ(chown(kUsb.c_str(), 0, 20), 0);
    ASSERT_EQ(chmod(kUsb.c_str(), 0660), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::vector<std::string> args{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const auto& arg : Tool(kUsb, "download", dir.file("image.bin"))) args.push_back(arg);
    Child tool(args);
    EXPECT_EQ(tool.Wait(), 3) << tool.output;
    EXPECT_NE(tool.output.find("dialout"), std::string::npos) << tool.output;
  }
  {
    Child tool(Tool("/dev/ttyUSB7", "download", dir.file("image.bin")));
    EXPECT_EQ(tool.Wait(), 3) << tool.output;
    EXPECT_NE(tool.output.find("/dev/ttyUSB7"), std::string::npos) << tool.output;
  }
}

// Handlers that count the component's events.
class EventCount : public TObject {
 public:
  void Attach(TComm& comm) {
    comm.OnCts = TNotifyEvent(this, &EventCount::Cts);
    comm.OnDsr = TNotifyEvent(this, &EventCount::Dsr);
    comm.OnBreak = TNotifyEvent(this, &EventCount::Break);
    comm.OnRxChar = TCommRxCharEvent(this, &EventCount::RxChar);
  }
  void Cts(TObject*) { ++cts; }
  void Dsr(TObject*) { ++dsr; }
  void Break(TObject*) { ++breaks; }
  void RxChar(TObject*, DWORD count) { received += count; }
  int cts = 0, dsr = 0, breaks = 0;
  DWORD received = 0;
};

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return WaitFor(
      [&] {
        CheckSynchronize();
        return condition();
      },
      limit);
}

// The 16550 in the driver's loopback mode: what is written comes back to
// the watcher as arrivals, and CTS and DSR follow RTS and DTR in the modem
// status. QEMU's 16550 raises no modem-status interrupt and does not loop a
// break back, so EV_CTS, EV_DSR and EV_BREAK cannot come here: the test
// shows it, and checks the events where they come.
TEST(UartLoopback, BytesComeBackAndTheModemLinesFollow) {
  ASSERT_TRUE(Host::UartFarEnd({"--silent", "--store", "/dev/null"}));
  TComm comm;
  EventCount events;
  events.Attach(comm);
  comm.SetDeviceName(kUart);
  comm.Open();
  ASSERT_TRUE(IsOpen(comm));
  const LoopbackMode loopback;
  ASSERT_TRUE(loopback.On());

  ASSERT_EQ(comm.Write("loop", 4), 4);
  EXPECT_TRUE(PumpUntil([&] { return events.received >= 4; }, 5s)) << events.received;
  char back[8] = {};
  EXPECT_EQ(comm.Read(back, 4), 4);
  EXPECT_EQ(std::string(back, 4), "loop");

  DWORD status = 0;
  for (const bool raised : {true, false, true}) {
    comm.SetRTSState(raised);
    comm.SetDTRState(raised);
    ASSERT_TRUE(GetCommModemStatus(comm.Handle(), &status));
    EXPECT_EQ((status & MS_CTS_ON) != 0, raised);
    EXPECT_EQ((status & MS_DSR_ON) != 0, raised);
  }
  comm.SetBREAKState(true);
  std::this_thread::sleep_for(100ms);
  comm.SetBREAKState(false);
  PumpUntil([] { return false; }, 1s);
  if (events.cts + events.dsr + events.breaks == 0)
    std::printf("note: no modem-status or break interrupt from the emulated 16550; EV_CTS, EV_DSR and EV_BREAK "
                "were not seen\n");
  else
    EXPECT_GE(events.cts, 1);
  comm.Close();
}

// The overlapped results as Windows gives them, on the 16550 in loopback
// mode, where the UART itself ends each request: the byte counts of pending
// reads, writes and event waits, zero-length requests, a new mask ending a
// wait with none, and the records of what the close aborted.
TEST(UartLoopback, OverlappedResultsAsOnWindows) {
  ASSERT_TRUE(Host::UartFarEnd({"--silent", "--store", "/dev/null"}));
  const HANDLE port = CreateFileA(kUart.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  const LoopbackMode loopback;
  ASSERT_TRUE(loopback.On());
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = 115200;
  ASSERT_TRUE(SetCommState(port, &dcb));
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 1500;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  struct Request {
    Request() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Request() { CloseHandle(ov.hEvent); }
    bool Signalled() const { return WaitForSingleObject(ov.hEvent, 10000) == WAIT_OBJECT_0; }
    OVERLAPPED ov{};
  };
  const auto pending = [](BOOL result, const DWORD& count) {
    return !result && GetLastError() == ERROR_IO_PENDING && count == 0;
  };
  const auto started = [](BOOL result) { return result || GetLastError() == ERROR_IO_PENDING; };
  const auto waiting = [&] {
    COMSTAT stat{};
    return ClearCommError(port, nullptr, &stat) ? stat.cbInQue : 0xFFFFFFFF;
  };
  Request wait, read, write;
  DWORD mask = 0, n = 0xDEADBEEF;
  char buffer[32] = {};

  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  ASSERT_TRUE(pending(WaitCommEvent(port, &mask, &wait.ov), 0));
  ASSERT_TRUE(started(WriteFile(port, "X", 1, &n, &write.ov)));
  ASSERT_TRUE(wait.Signalled());
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
  ASSERT_TRUE(GetOverlappedResult(port, &wait.ov, &n, FALSE));
  EXPECT_EQ(n, sizeof(DWORD));
  ASSERT_TRUE(GetOverlappedResult(port, &write.ov, &n, TRUE));
  EXPECT_EQ(n, 1u);

  // Zero-length requests move nothing; a read of more than comes back ends
  // at its total timeout with what came.
  ASSERT_TRUE(WaitFor([&] { return waiting() == 1; }, 5s));
  ASSERT_TRUE(ReadFile(port, buffer, 0, &n, &read.ov));
  EXPECT_EQ(n, 0u);
  ASSERT_TRUE(WriteFile(port, buffer, 0, &n, &write.ov));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(waiting(), 1u);
  ASSERT_TRUE(ReadFile(port, buffer, 1, &n, &read.ov) || GetOverlappedResult(port, &read.ov, &n, TRUE));
  ASSERT_EQ(n, 1u);
  n = 0xDEADBEEF;
  ASSERT_TRUE(pending(ReadFile(port, buffer, sizeof buffer, &n, &read.ov), n));
  ASSERT_TRUE(started(WriteFile(port, "sixteen bytes...", 16, &n, &write.ov)));
  ASSERT_TRUE(GetOverlappedResult(port, &read.ov, &n, TRUE)) << GetLastError();
  EXPECT_EQ(std::string(buffer, n), "sixteen bytes...");

  // A write longer than the driver's buffer: EV_TXEMPTY comes once it has
  // all gone out, and so it has ended by then, with every byte counted.
  ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
  ASSERT_TRUE(pending(WaitCommEvent(port, &mask, &wait.ov), 0));
  const std::string block = Pattern(8192, 6);
  n = 0xDEADBEEF;
  const BOOL wrote = WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, &write.ov);
  ASSERT_TRUE(wrote || pending(wrote, n));
  ASSERT_TRUE(wait.Signalled());
  EXPECT_EQ(mask, static_cast<DWORD>(EV_TXEMPTY));
  EXPECT_EQ(WaitForSingleObject(write.ov.hEvent, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(GetOverlappedResult(port, &write.ov, &n, FALSE));
  EXPECT_EQ(n, block.size());
  std::this_thread::sleep_for(300ms);  // the last bytes back through the FIFO
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));

  // A new mask ends the pending wait with none; the close ends a read and
  // a wait, whose records then tell it through the closed handle.
  ASSERT_TRUE(SetCommMask(port, EV_CTS));
  mask = 0xFFFF;
  ASSERT_TRUE(pending(WaitCommEvent(port, &mask, &wait.ov), 0));
  std::thread other([&] {
    std::this_thread::sleep_for(50ms);
    SetCommMask(port, EV_RXCHAR);
  });
  const bool ended = wait.Signalled();
  other.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(GetOverlappedResult(port, &wait.ov, &n, FALSE));
  timeouts.ReadTotalTimeoutConstant = 0;
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  ASSERT_TRUE(pending(ReadFile(port, buffer, 4, &n, &read.ov), n));
  ASSERT_TRUE(pending(WaitCommEvent(port, &mask, &wait.ov), 0));
  ASSERT_TRUE(CloseHandle(port));
  for (Request* aborted : {&read, &wait}) {
    EXPECT_TRUE(aborted->Signalled());
    n = 0xDEADBEEF;
    EXPECT_FALSE(GetOverlappedResult(port, &aborted->ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(n, 0u);
  }
}

std::vector<SerialDeviceRecord> PortsNow(SerialDeviceSource& source) { return SerialPorts(source.Present()); }

const SerialDeviceRecord* Find(const std::vector<SerialDeviceRecord>& ports, const std::string& node) {
  for (const auto& port : ports)
    if (port.node == node) return &port;
  return nullptr;
}

// The enumeration on real sysfs and udev's names: the FTDI adapter with its
// USB descriptor, driver and /dev/serial/by-id name, the UART with hardware
// behind it, not the built-in ports with none. The serial devices dialog
// follows the adapter out and back in and saves COM1 under the by-id name,
// which still leads COM1 to the adapter when it comes back as another
// ttyUSB, as it does while a program still holds the node it had.
TEST(SerialDevices, RealAdapterAndUartListedAndTheDialogFollowsPlugging) {
  TempDir dir;
  const std::string image = Pattern(3000, 5);
  dir.write("image.bin", image);
  ASSERT_TRUE(Host::UsbFarEnd({"--store", dir.file("stored.bin")}));
  const std::string byId = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_TV000001-if00-port0";
  ASSERT_TRUE(WaitFor([&] { return Present(byId); }, 20s)) << "udev gave the adapter no by-id name";
  const auto source = OpenSerialDeviceSource();
  const auto ports = PortsNow(*source);
  const SerialDeviceRecord* usb = Find(ports, kUsb);
  ASSERT_NE(usb, nullptr);
  EXPECT_TRUE(usb->usb);
  EXPECT_EQ(usb->driver, "ftdi_sio");
  EXPECT_EQ(usb->usbId, "0403:6001");
  EXPECT_EQ(usb->maker, "QEMU");
  EXPECT_EQ(usb->serial, "TV000001");
  EXPECT_FALSE(usb->product.empty());
  EXPECT_NE(PortDescription(*usb).find("driver ftdi_sio, /dev/ttyUSB0"), std::string::npos) << PortDescription(*usb);
  EXPECT_EQ(StableName(*usb, ports), byId);
  EXPECT_NE(Find(ports, kUart), nullptr);
  EXPECT_EQ(Find(ports, "/dev/ttyS3"), nullptr) << "a built-in port with no UART behind it";
  EXPECT_EQ(ports.front().node, kUsb) << "USB adapters first";

  // The dialog, open while the adapter goes and comes back; COM1 saved.
  DialogSession s;
  TSerialDevicesForm form(nullptr, OpenSerialDeviceSource());
  ASSERT_TRUE(WithModal([&] { form.exec(); },
                        [&](QWidget* window) {
                          ASSERT_EQ(window, &form);
                          const auto entry = [&] {
                            return form.ComboBox1->findText(QString::fromStdString(kUsb), Qt::MatchContains);
                          };
                          EXPECT_GT(entry(), 0);
                          for (const bool plugged : {false, true}) {
                            SCOPED_TRACE(plugged ? "plugged" : "unplugged");
                            ASSERT_EQ(Host::Ask(plugged ? "plug" : "unplug"), "ok");
                            EXPECT_TRUE(WaitFor([&] { return (entry() > 0) == plugged; }, 30s));
                          }
                          form.ComboBox1->setCurrentIndex(entry());
                          EXPECT_EQ(form.ChosenDevice(1), byId);
                          form.BitBtn1->click();
                        }));
  ASSERT_EQ(ComDeviceFromSettings(1), byId);

  // Pulled out while a descriptor of ttyUSB0 stays open, the adapter comes
  // back as ttyUSB1; COM1 leads there, and a download goes through.
  const int held = open(kUsb.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_TRUE(Host::Unplug());
  ASSERT_TRUE(Host::Plug("/dev/ttyUSB1"));
  close(held);
  std::error_code error;
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::canonical(byId, error) == "/dev/ttyUSB1"; }, 20s));
  s.showMain();
  ASSERT_TRUE(s.download([&](TDForm& form) {
    TypeName(form.Edit1, dir.file("image.bin"));
    Click(form.BitBtn1);
    Click(form.BitBtn2);
  }));
  EXPECT_EQ(s.messages.shown, (std::vector<std::string>{"Download compelete !!!|Job down !!!"}));
  EXPECT_TRUE(WaitFor([&] { return SizeOf(dir.file("stored.bin")) >= Padded(image, 256).size(); }, 20s));
  EXPECT_TRUE(SameBytes(dir.read("stored.bin"), Padded(image, 256)));
}

}  // namespace
