// A child process rewrites every file the program writes, over and over,
// and is killed with SIGKILL at a random moment, hundreds of times: each
// file is always one whole version, and a killed write's temporary file is
// cleared away by the next write of that file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/Catalogue.h"
#include "launch/ProjectFiles.h"
#include "launch/QeltTool.h"
#include "platform/Files.h"
#include "platform/winapi.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string Catalogue = "[Alpha]\r\n\r\nAX100=ax100.bin;3;0\r\n\r\nAX200=ax200.bin;3;1\r\n";

// One round of writes: version v (0 or 1) of every file. Each goes through
// the program's own function for it.
void WriteAll(const Installation& install, int v) {
  const std::string value = std::to_string(v + 1);
  WritePrivateProfileStringA("COM port", "address", value.c_str(), install.file("Talvorin.ini").c_str());
  WritePrivateProfileStringA("Recent", "File0", value.c_str(), install.file("prnport.cfg").c_str());
  WriteProjectFile(install.file("Talvorin.AVR"), "data" + value, "program" + value);
  WriteEepromImage(install.file("programs/eeprom.bin"), static_cast<std::uint8_t>(v + 1), 0x55);
  UpdateQeltIni({"data" + value, "program" + value});
  // The catalogue gets its empty lines back, then loses them in a rewrite.
  ReplaceFileContents(install.file("Devices/Devices.lst"), Catalogue);
  LoadCatalogue(install.file("Devices/Devices.lst"));
}

// Every whole version each file can have between two writes.
std::map<std::string, std::vector<std::string>> Versions() {
  std::map<std::string, std::vector<std::string>> versions;
  for (const std::string value : {"1", "2"}) {
    versions["Talvorin.ini"].push_back("[COM port]\r\naddress=" + value + "\r\n");
    versions["prnport.cfg"].push_back("[port]\r\naddress=0\r\n[Recent]\r\nFile0=" + value + "\r\n");
    versions["Talvorin.AVR"].push_back(ProjectFileText("data" + value, "program" + value));
    versions["programs/eeprom.bin"].push_back(EepromImage(static_cast<std::uint8_t>(std::stoi(value)), 0x55));
    versions["Qelt.ini"].push_back("data" + value + "\r\nprogram" + value + "\r\n0000 \\ tool\r\n");
  }
  versions["Devices/Devices.lst"] = {Catalogue, "[Alpha]\r\nAX100=ax100.bin;3;0\r\nAX200=ax200.bin;3;1\r\n"};
  return versions;
}

// Temporary files of ours in the installation's folders, by the file they
// were to replace.
std::map<std::string, int> TempFiles(const Installation& install) {
  std::map<std::string, int> count;
  for (const auto& entry : fs::recursive_directory_iterator(install.path())) {
    const std::string name = entry.path().filename().string();
    const auto infix = name.rfind(".tmp-");
    if (infix != std::string::npos) ++count[name.substr(0, infix)];
  }
  return count;
}

TEST(CrashConsistency, AKilledWriterLeavesWholeFilesAndNoPileOfTemporaryFiles) {
  Installation install;
  install.write("prnport.cfg", "[port]\r\naddress=0\r\n");
  install.write("Qelt.ini", "0000 \\ tool\r\n");
  install.write("programs/a.bin", "");
  install.write("Devices/Devices.lst", Catalogue);
  WriteAll(install, 0);
  const auto versions = Versions();

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayUs(0, 8000);
  int killedMidWrite = 0;  // rounds that found a killed write's temporary file
  const int rounds = 300;
  for (int round = 0; round < rounds; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 1;; ++i) WriteAll(install, i % 2);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    for (const auto& [name, whole] : versions) {
      const std::string now = install.read(name);
      ASSERT_TRUE(now == whole[0] || now == whole[1]) << name << " after round " << round << ":\n" << now;
    }
    // A killed write leaves its file, but the next write of the same file
    // removes it: never more than one for a file.
    const auto temps = TempFiles(install);
    for (const auto& [file, count] : temps) ASSERT_EQ(count, 1) << file << " after round " << round;
    killedMidWrite += temps.empty() ? 0 : 1;
  }
  WriteAll(install, 0);
  EXPECT_TRUE(TempFiles(install).empty());
  std::printf("%d of %d rounds found a temporary file left by a killed write\n", killedMidWrite, rounds);
  // The kills reach into the writes, or this test proves little.
  EXPECT_GT(killedMidWrite, 0);
}

}  // namespace
