// What only the POSIX stand-ins do: names resolved without regard to case
// component by component, COM names mapped to devices, the key state fed by
// the application, the permission bits of the files, and the handles of the
// stand-ins' kernel objects.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Hooks.h"
#include "platform/Paths.h"
#include "platform/posix/comdevices.h"
#include "platform/winapi.h"
#include "support/TempDir.h"

namespace {

TEST(CaseInsensitiveNames, EachComponentIsLookedUp) {
  TempDir dir;
  dir.write("Devices/Devices.lst", "x");
  EXPECT_EQ(ResolvePath(dir.file("DEVICES/devices.LST"), NameMatch::Caseless), dir.file("Devices/Devices.lst"));
  EXPECT_EQ(ResolvePath(dir.file("devices/new.txt"), NameMatch::Caseless), dir.file("Devices/new.txt"));
  EXPECT_EQ(ResolvePath(dir.file("none/Devices.lst"), NameMatch::Caseless), dir.file("none/Devices.lst"));
  EXPECT_TRUE(FileExists(dir.file("devices/DEVICES.lst")));
}

TEST(CaseInsensitiveNames, ExactSpellingWinsOverOtherCases) {
  TempDir dir;
  dir.write("a.TXT", "upper");
  dir.write("a.txt", "lower");
  EXPECT_EQ(ResolvePath(dir.file("a.txt"), NameMatch::Caseless), dir.file("a.txt"));
  EXPECT_EQ(ResolvePath(dir.file("A.Txt"), NameMatch::Caseless), dir.file("a.TXT"));  // the smallest of the candidates
}

TEST(ReplacingFiles, KeepsTheMode) {
  TempDir dir;
  dir.write("f", "old");
  dir.chmod("f", 0640);
  ASSERT_TRUE(ReplaceFileContents(dir.file("F"), "new"));
  EXPECT_EQ(dir.read("f"), "new");
  struct stat st;
  stat(dir.file("f").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Windows has no unreadable files of this kind.
TEST(ProfileFailures, UnreadableFileReadsAsDefaultAndIsNotOverwritten) {
  TempDir dir;
  dir.write("test.ini", "[a]\r\nx=1\r\n");
  dir.chmod("test.ini", 0200);
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("a", "x", "d", buffer, sizeof buffer, dir.file("test.ini").c_str()), 1u);
  EXPECT_STREQ(buffer, "d");
  EXPECT_FALSE(WritePrivateProfileStringA("a", "y", "2", dir.file("test.ini").c_str()));
  dir.chmod("test.ini", 0600);
  EXPECT_EQ(dir.read("test.ini"), "[a]\r\nx=1\r\n");
}

// A FIFO would hold the open until a writer came and /dev/zero never ends:
// only regular files are read, up to a size no real file of the program
// comes near; a profile file of that kind reads as absent and is not written.
TEST(WholeFiles, OnlyRegularFilesAreReadAndOnlyUpToTheLimit) {
  TempDir dir;
  dir.write("big", "");
  ASSERT_EQ(truncate(dir.file("big").c_str(), WholeFileLimit + 1), 0);  // sparse: it takes no room
  std::string data = "before";
  EXPECT_FALSE(ReadWholeFile(dir.file("big"), data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/zero", dir.file("prnport.cfg"));
  for (const char* name : {"fifo", "prnport.cfg"}) {
    EXPECT_FALSE(ReadWholeFile(dir.file(name), data)) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << name;
  }
  EXPECT_EQ(data, "before");
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("port", "address", "0", buffer, sizeof buffer, dir.file("prnport.cfg").c_str()),
            1u);
  EXPECT_STREQ(buffer, "0");
  EXPECT_FALSE(WritePrivateProfileStringA("port", "address", "1", dir.file("prnport.cfg").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("prnport.cfg")));
}

TEST(ShortPaths, TheLongPathAsOnDisk) {
  TempDir dir;
  dir.write("with blanks/Talvorin.AVR", "");
  EXPECT_EQ(ShortPath(dir.file("with blanks/talvorin.avr")), dir.file("with blanks/Talvorin.AVR"));
  EXPECT_EQ(ShortPath(dir.file("with blanks")), dir.file("with blanks"));
}

// Port 2 leads elsewhere; every port number asked for is kept.
std::vector<int> askedComNumbers;
std::string TestComDevice(int number) {
  askedComNumbers.push_back(number);
  return number == 2 ? "/dev/ttyUSB0" : "";
}

TEST(ComDevices, TheInstalledResolverElseTheStandardDevice) {
  SetComDeviceResolver(nullptr);
  EXPECT_EQ(ComDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath("com4"), "/dev/ttyS3");
  EXPECT_EQ(ComDevicePath("COM2"), "/dev/ttyS1");
  SetComDeviceResolver(TestComDevice);
  askedComNumbers.clear();
  EXPECT_EQ(ComDevicePath("COM2"), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath("\\\\.\\COM2"), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath("COM3"), "/dev/ttyS2") << "the resolver gives nothing";
  EXPECT_EQ(ComDevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(ComDevicePath("/dev/pts/7"), "/dev/pts/7");
  // A COM name with no port behind it (a stored index below 0) opens nothing,
  // not a file of that name in the current directory.
  for (const char* none : {"COM0", "com-1", "COM99999999999"}) {
    EXPECT_EQ(ComDevicePath(none), "") << none;
    EXPECT_EQ(ComPortNumber(none), 0) << none;
  }
  EXPECT_EQ(ComDevicePath("COMx"), "COMx");
  EXPECT_EQ(ComDevicePath("COM-"), "COM-");
  EXPECT_EQ(askedComNumbers, (std::vector<int>{2, 2, 3, 12})) << "asked for COM names only";
  SetComDeviceResolver(nullptr);
}

TEST(KeyState, EscapeDownNowOrPressedSinceTheLastQuery) {
  GetAsyncKeyState(VK_ESCAPE);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
  NoteKeyState(VK_ESCAPE, true);
  EXPECT_EQ(static_cast<unsigned short>(GetAsyncKeyState(VK_ESCAPE)), 0x8001u);
  EXPECT_EQ(static_cast<unsigned short>(GetAsyncKeyState(VK_ESCAPE)), 0x8000u);
  NoteKeyState(VK_ESCAPE, false);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
  NoteKeyState(VK_ESCAPE, true);
  NoteKeyState(VK_ESCAPE, false);
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 1);  // a press between two queries is not lost
  EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
}

struct Signalled : KernelObject {
  int* destroyed;
  explicit Signalled(int* d) : destroyed(d) {}
  ~Signalled() override { ++*destroyed; }
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
};

TEST(Handles, OpenUntilClosedAndNeverReused) {
  int destroyed = 0;
  HANDLE h = MakeHandle(std::make_shared<Signalled>(&destroyed));
  EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  EXPECT_NE(ObjectFromHandleAs<Signalled>(h), nullptr);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  HANDLE next = MakeHandle(std::make_shared<Signalled>(&destroyed));
  EXPECT_NE(next, h);
  CloseHandle(next);
}

TEST(Handles, WaitingOnAPlainObjectFails) {
  HANDLE h = MakeHandle(std::make_shared<KernelObject>());
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(h);
}

}  // namespace

// What the probe program reports as its own path when a shell starts it with
// the command given.
std::string ProbeStartedBy(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

TEST(ExecutableDirectory, ALinkToTheProgramMakesItsFolderTheProgramsOwn) {
  namespace fs = std::filesystem;
  TempDir dir;
  fs::create_directory(dir.file("user"));
  fs::create_symlink(PROBE_PATH, dir.file("user/Talvorin"));
  fs::create_directory_symlink(dir.file("user"), dir.file("alias"));
  const std::string link = fs::canonical(dir.file("user")).string() + "/Talvorin";
  EXPECT_EQ(ProbeStartedBy(dir.file("user/Talvorin")), link);
  EXPECT_EQ(ProbeStartedBy("cd " + dir.file("user") + " && ./Talvorin"), link);
  EXPECT_EQ(ProbeStartedBy("cd " + dir.path() + " && PATH=user Talvorin"), link);
  // The folder is named canonically, the link's own name kept.
  EXPECT_EQ(ProbeStartedBy(dir.file("alias/Talvorin")), link);
  const std::string real = fs::canonical(PROBE_PATH).string();
  EXPECT_EQ(ProbeStartedBy(PROBE_PATH), real);
  // Started by a name that is not the program's (a script it interprets),
  // the program's own file says.
  dir.write("user/script", std::string("#!") + PROBE_PATH + "\n");
  dir.chmod("user/script", 0755);
  EXPECT_EQ(ProbeStartedBy(dir.file("user/script")), real);
}
