// Starting a real program through CreateProcessA and waiting for it, with a
// program of this system as the tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/winapi.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(ToolLaunch, RunsInTheGivenDirectoryUntilItEnds) {
  TempDir install, work;
  fs::copy_file(RECORDING_TOOL, install.file("Qelt.EXE"));
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  // The name is matched without regard to case.
  ASSERT_TRUE(CreateProcessA(install.file("QELT.exe").c_str(), nullptr, nullptr, nullptr, FALSE,
                             CREATE_DEFAULT_ERROR_MODE, nullptr, work.path().c_str(), &startup, &process))
      << GetLastError();

  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_TIMEOUT);
  install.write("go", "");
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(process.hThread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(install.exists("started"));
  EXPECT_EQ(install.read("args"), "0\n");
  std::string ranIn = install.read("ran-in");
  ASSERT_FALSE(ranIn.empty());
  ranIn.pop_back();
  EXPECT_TRUE(fs::equivalent(ranIn, work.path())) << ranIn;

  EXPECT_TRUE(CloseHandle(process.hThread));
  EXPECT_TRUE(CloseHandle(process.hProcess));
}

}  // namespace
