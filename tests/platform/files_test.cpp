// Paths, existence, deletion, short paths, whole files and the clock: Win32
// behaviour that the Windows build checks against the system itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "support/TempDir.h"
#include "support/Wine.h"

namespace {

#ifdef _WIN32
const char* const TestProgramName = "test_platform.exe";
#else
const char* const TestProgramName = "test_platform";
#endif

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
  SKIP_WHERE_WINE_DIFFERS("FindClose accepts a closed handle");
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

// Where the file system keeps 8.3 names the short form differs from the long
// one; either way it names the same file.
TEST(ShortPaths, ExistingPathsOnlyWithTheBufferContract) {
  TempDir dir;
  dir.write("with blanks/Talvorin.AVR", "project");
  const std::string actual = ShortPath(dir.file("with blanks/talvorin.avr"));
  ASSERT_FALSE(actual.empty());
  std::string content;
  EXPECT_TRUE(ReadWholeFile(actual, content));
  EXPECT_EQ(content, "project");
  EXPECT_EQ(GetFileAttributesA(ShortPath(dir.file("with blanks")).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
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

TEST(ReplacingFiles, RefusesReadOnly) {
  TempDir dir;
  dir.write("f", "old");
  ASSERT_TRUE(ReplaceFileContents(dir.file("F"), "new"));
  EXPECT_EQ(dir.read("f"), "new");
  dir.chmod("f", 0444);
  EXPECT_FALSE(ReplaceFileContents(dir.file("f"), "newer"));
  EXPECT_EQ(dir.read("f"), "new");
  std::string data;
  EXPECT_FALSE(ReadWholeFile(dir.file("missing"), data));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file is left behind";
}

TEST(ExecutableDirectory, ThePathsHangOffIt) {
  {
    Installation install;
    EXPECT_EQ(ExeDir(), install.path());
    EXPECT_EQ(AppFile({"Devices", "Devices.lst"}), install.file("Devices/Devices.lst"));
  }
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(ExtractFileName(std::string(buffer, n)), TestProgramName);
  SKIP_WHERE_WINE_DIFFERS("a truncated module name is not terminated, as before Windows Vista");
  char tiny[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::strlen(tiny), 4u);
}

TEST(Clock, MillisecondsMoveForward) {
  const DWORD start = timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const DWORD elapsed = timeGetTime() - start;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
