// Starting real programs through CreateProcessA and waiting for them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <filesystem>

#include "LaunchSupport.h"
#include "platform/winapi.h"

namespace {

namespace fs = std::filesystem;

BOOL start(const std::string& tool, const char* directory, PROCESS_INFORMATION& process) {
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  return CreateProcessA(tool.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        directory, &startup, &process);
}

TEST(CreateProcess, RunsTheToolInTheGivenDirectoryUntilItEnds) {
  TempDir install, work;
  WriteTool(install, "Qelt.EXE", RecordingTool, 0755);
  PROCESS_INFORMATION process{};
  // The name is matched without regard to case.
  ASSERT_TRUE(start(install.file("QELT.exe"), work.path().c_str(), process)) << GetLastError();

  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(process.hThread, 0), WAIT_TIMEOUT);
  install.write("go", "");
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(process.hThread, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10), WAIT_OBJECT_0);

  EXPECT_EQ(install.read("args"), install.file("Qelt.EXE") + "\n");
  EXPECT_EQ(install.read("ran-in"), fs::canonical(work.path()).string() + "\n");
  // Reaped by the wait: no zombie is left behind.
  errno = 0;
  EXPECT_EQ(waitpid(static_cast<pid_t>(process.dwProcessId), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  EXPECT_TRUE(CloseHandle(process.hThread));
  EXPECT_TRUE(CloseHandle(process.hProcess));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(CreateProcess, RelativeNameIsFoundFromTheCallersDirectory) {
  TempDir install, work;
  WriteTool(install, "Qelt.EXE", RecordingTool, 0755);
  install.write("go", "");
  PROCESS_INFORMATION process{};
  BOOL started;
  {
    CurrentDir current(install.path());
    started = start("qelt.exe", work.path().c_str(), process);
  }
  ASSERT_TRUE(started) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(install.read("args"), fs::canonical(install.path()).string() + "/Qelt.EXE\n");
  EXPECT_EQ(install.read("ran-in"), fs::canonical(work.path()).string() + "\n");
}

TEST(CreateProcess, WindowsProgramRunsThroughWineOnThePath) {
  TempDir install, bin;
  WriteTool(install, "Qelt.EXE", "MZ\x90\x00 not really a program", 0644);
  WriteTool(bin, "wine", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"${0%/*}/wine-args\"\n", 0755);
  PathOverride path(bin.path());
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(start(install.file("Qelt.EXE"), nullptr, process)) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(bin.read("wine-args"), install.file("Qelt.EXE") + "\n");
}

TEST(CreateProcess, FailuresStartNothingAndSayWhy) {
  struct Case {
    const char* what;
    std::string content;  // empty: no file
    unsigned mode;
    DWORD error;
  };
  const Case cases[] = {
      {"missing", "", 0, ERROR_FILE_NOT_FOUND},
      {"not executable", "#!/bin/sh\n: > \"${0%/*}/ran\"\n", 0644, ERROR_ACCESS_DENIED},
      {"not a program", std::string("\x01\x02\x03 garbage", 11), 0755, ERROR_BAD_EXE_FORMAT},
      {"Windows program without wine", "MZ\x90", 0755, ERROR_EXE_MACHINE_TYPE_MISMATCH},
  };
  TempDir emptyBin;
  PathOverride path(emptyBin.path());
  for (const auto& c : cases) {
    TempDir install;
    if (!c.content.empty()) WriteTool(install, "Qelt.EXE", c.content, c.mode);
    PROCESS_INFORMATION process{};
    EXPECT_FALSE(start(install.file("Qelt.EXE"), nullptr, process)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(process.hProcess, nullptr) << c.what;
    EXPECT_FALSE(install.exists("ran")) << c.what;
  }
  TempDir dir;
  PROCESS_INFORMATION process{};
  EXPECT_FALSE(start(dir.path(), nullptr, process));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  char commandLine[] = "Qelt.EXE /x";
  EXPECT_FALSE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &process));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
