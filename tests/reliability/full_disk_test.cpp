// Every write path on a full file system and on a failing one: the program
// reports its error, the old file is left as it was, no temporary file stays
// behind, and an upload ends with ESC and its error, the old image whole. The full disk is a small
// tmpfs mounted over an installation in a private mount namespace (root
// only); the failing one is the preload library that fails writes with EIO.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "catalogue/Catalogue.h"
#include "launch/ProjectFiles.h"
#include "launch/QeltTool.h"
#include "platform/Paths.h"
#include "ports/PortSettings.h"
#include "support/TempDir.h"
#include "texts/Texts.h"
#include "transfer/FakeLine.h"

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::string> OldFiles = {
    {"prnport.cfg", "[port]\r\naddress=1\r\n[Recent]\r\nFile0=old\r\n"},
    {"Talvorin.ini", "[COM port]\r\naddress=2\r\n"},
    {"Talvorin.AVR", "[Project]\r\nTitle=old\r\n"},
    {"programs/eeprom.bin", std::string(4096, '\x11')},
    {"programs/a.bin", "program"},
    {"Qelt.ini", "old data\r\nold program\r\n0000 \\ tool\r\n"},
    {"Devices/Devices.lst", "[Alpha]\r\n\r\nAX100=a.bin;3;0\r\n"},
    {"image.bin", std::string(1000, '\x22')},
};

void ExpectError(const std::function<void()>& write, const std::string& text) {
  try {
    write();
    ADD_FAILURE() << "no error for: " << text;
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), text);
  }
}

// Runs every write of the program on the installation, whose medium takes no
// more data, and checks what each reports and what it leaves.
void EveryWriteFails(const Installation& install) {
  ExpectError([] { WriteComIndex(3); }, "Unable to write to " + TalvorinIniPath());
  ExpectError([] { WriteLptIndex(2); }, "Unable to write to " + PrnportPath());
  ExpectError([] { WriteRecentProject("new"); }, "Unable to write to " + PrnportPath());
  ExpectError([] { WriteProjectFile(ProjectPath(), "d", "p"); }, "Unable to write to " + ProjectPath());
  EXPECT_FALSE(WriteEepromImage(install.file("programs/eeprom.bin"), 1, 2));
  ExpectError([] { UpdateQeltIni({"d", "p"}); }, Texts::CannotCreateFile(QeltIniPath()));
  ExpectError([&] { LoadCatalogue(install.file("Devices/Devices.lst")); },
              Texts::CannotCreateFile(install.file("Devices/Devices.lst")));

  // The upload's file: the first block does not reach it.
  FakeLine line;
  UploadTarget target;
  target.Blocks({Pattern(128), Pattern(128, 2)});
  line.target = &target;
  const std::string image = install.file("image.bin");
  EXPECT_EQ(RunUpload(line, line, image, NameMatch::Caseless), TransferOutcome::WriteFailed);
  EXPECT_EQ(line.sent.back(), static_cast<char>(Ctl::ESC));
  EXPECT_EQ(line.Tail(5)[0], "W 1B");
  EXPECT_EQ(line.Tail(5)[1], "msg " + Texts::UploadWriteFailed(image) + "|" + Texts::ErrorCaptionBangs);

  for (const auto& [name, content] : OldFiles) EXPECT_EQ(install.read(name), content) << name;

  for (const auto& entry : fs::recursive_directory_iterator(install.path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

void WriteOldFiles(const Installation& install) {
  for (const auto& [name, content] : OldFiles) install.write(name, content);
}

// Fills the file system that holds the folder to the last byte.
void FillUp(const std::string& dir) {
  const int fd = open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const std::string chunk(4096, 'f');
  size_t size = chunk.size();
  while (size > 0) {
    const ssize_t n = write(fd, chunk.data(), size);
    if (n < 0) size /= 2;
  }
  close(fd);
}

// A child's result: 0 passed, 77 skipped (it says why), else failed.
int Wait(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FullDisk, EveryWriteShowsItsErrorAndKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs in a private mount namespace needs root";
  Installation install;
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The mount lives in this child's namespace and goes with it.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("talvorin-full", install.path().c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0) {
      std::printf("no private tmpfs here: %s\n", std::strerror(errno));
      std::fflush(nullptr);
      _exit(77);
    }
    WriteOldFiles(install);
    FillUp(install.path());
    EveryWriteFails(install);
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  const int result = Wait(child);
  if (result == 77) GTEST_SKIP() << "the system refused the private tmpfs (printed above)";
  EXPECT_EQ(result, 0) << "the checks in the child failed (printed above)";
}

TEST(FailingDisk, EveryWriteShowsItsErrorAndKeepsTheOldFile) {
  if (!std::getenv("TALVORIN_FAILING_DISK_CHILD")) {
    // This test again, in a process with the preload library in place.
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("TALVORIN_FAILING_DISK_CHILD", "1", 1);
      setenv("LD_PRELOAD", FAIL_WRITES_LIBRARY, 1);
      // A sanitizer's runtime need not come first here.
      const char* asan = std::getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
      execl("/proc/self/exe", "test_reliability", "--gtest_filter=FailingDisk.*", nullptr);
      _exit(127);
    }
    EXPECT_EQ(Wait(child), 0) << "the checks in the child failed (printed above)";
    return;
  }
  Installation install;
  WriteOldFiles(install);
  setenv("TALVORIN_FAIL_WRITES_UNDER", install.path().c_str(), 1);
  EveryWriteFails(install);
  unsetenv("TALVORIN_FAIL_WRITES_UNDER");
}

}  // namespace
