// Paths, names without regard to case, existence, short paths and the small
// stand-ins that the windows rely on.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
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
  EXPECT_EQ(ResolvePath(dir.file("DEVICES/devices.LST")), dir.file("Devices/Devices.lst"));
  EXPECT_EQ(ResolvePath(dir.file("devices/new.txt")), dir.file("Devices/new.txt"));
  EXPECT_EQ(ResolvePath(dir.file("none/Devices.lst")), dir.file("none/Devices.lst"));
  EXPECT_TRUE(FileExists(dir.file("devices/DEVICES.lst")));
}

TEST(CaseInsensitiveNames, ExactSpellingWinsOverOtherCases) {
  TempDir dir;
  dir.write("a.TXT", "upper");
  dir.write("a.txt", "lower");
  EXPECT_EQ(ResolvePath(dir.file("a.txt")), dir.file("a.txt"));
  EXPECT_EQ(ResolvePath(dir.file("A.Txt")), dir.file("a.TXT"));  // the smallest of the candidates
}

TEST(Existence, FilesOnlyNotDirectories) {
  TempDir dir;
  dir.write("sub/file.bin", "");
  EXPECT_TRUE(FileExists(dir.file("sub/file.bin")));
  EXPECT_FALSE(FileExists(dir.file("sub")));
  EXPECT_FALSE(FileExists(dir.file("sub/other.bin")));
  EXPECT_EQ(GetFileAttributesA(dir.file("sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(dir.file("missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Existence, FindFirstFileMatchesWithoutRegardToCase) {
  TempDir dir;
  dir.write("Qelt.EXE", "abc");
  dir.write("other.ini", "");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(dir.file("qelt.exe").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Qelt.EXE");
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  h = FindFirstFileA(dir.file("*.INI").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "other.ini");
  FindClose(h);
  EXPECT_EQ(FindFirstFileA(dir.file("nothing").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Existence, AFindHandleClosesOnce) {
  TempDir dir;
  dir.write("a.bin", "");
  dir.write("b.bin", "");
  WIN32_FIND_DATAA data;
  const HANDLE h = FindFirstFileA(dir.file("*.bin").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindClose(h));
  SetLastError(0);
  EXPECT_FALSE(FindClose(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Deletion, ReadOnlyFilesAndDirectoriesAreRefused) {
  TempDir dir;
  dir.write("Talvorin.AVR", "x");
  dir.write("locked", "x");
  dir.chmod("locked", 0444);
  EXPECT_TRUE(DeleteFileA(dir.file("talvorin.avr").c_str()));
  EXPECT_FALSE(dir.exists("Talvorin.AVR"));
  EXPECT_FALSE(DeleteFileA(dir.file("locked").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(dir.path().c_str()));
  EXPECT_FALSE(DeleteFileA(dir.file("missing").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(ShortPaths, ExistingPathsOnlyWithTheBufferContract) {
  TempDir dir;
  dir.write("with blanks/Talvorin.AVR", "");
  const std::string actual = dir.file("with blanks/Talvorin.AVR");
  EXPECT_EQ(ShortPath(dir.file("with blanks/talvorin.avr")), actual);
  EXPECT_EQ(ShortPath(dir.file("with blanks")), dir.file("with blanks"));
  EXPECT_EQ(ShortPath(dir.file("missing.avr")), "");

  char small[4] = "abc";
  EXPECT_EQ(GetShortPathNameA(actual.c_str(), small, sizeof small), actual.size() + 1);
  EXPECT_STREQ(small, "abc");
  std::string exact(actual.size() + 1, 'X');
  EXPECT_EQ(GetShortPathNameA(actual.c_str(), exact.data(), static_cast<DWORD>(exact.size())), actual.size());
  EXPECT_STREQ(exact.c_str(), actual.c_str());
  EXPECT_EQ(GetShortPathNameA(dir.file("missing").c_str(), exact.data(), 10), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(ReplacingFiles, KeepsModeAndRefusesReadOnly) {
  TempDir dir;
  dir.write("f", "old");
  dir.chmod("f", 0640);
  ASSERT_TRUE(ReplaceFileContents(dir.file("F"), "new"));
  EXPECT_EQ(dir.read("f"), "new");
  struct stat st;
  stat(dir.file("f").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  dir.chmod("f", 0444);
  EXPECT_FALSE(ReplaceFileContents(dir.file("f"), "newer"));
  EXPECT_EQ(dir.read("f"), "new");
  std::string data;
  EXPECT_FALSE(ReadWholeFile(dir.file("missing"), data));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(ExecutableDirectory, ThePathsHangOffIt) {
  {
    Installation install;
    EXPECT_EQ(ExeDir(), install.path());
    EXPECT_EQ(AppFile({"Devices", "Devices.lst"}), install.file("Devices/Devices.lst"));
  }
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(ExtractFileName(std::string(buffer, n)), "test_platform");
  char tiny[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::strlen(tiny), 4u);
}

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
  EXPECT_EQ(ComDevicePath("COM0"), "COM0");
  EXPECT_EQ(ComDevicePath("COMx"), "COMx");
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

TEST(Clock, MillisecondsMoveForward) {
  const DWORD start = timeGetTime();
  timespec pause{0, 20 * 1000 * 1000};
  nanosleep(&pause, nullptr);
  const DWORD elapsed = timeGetTime() - start;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
