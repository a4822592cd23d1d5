// The Debian package as a user gets it: its file list, lintian's verdict, and
// its launchers run from an unpacked copy with a temporary home, starting the
// real program on the offscreen platform.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string output;
};

// A shell command's exit status and what it wrote to either output.
Outcome Shell(const std::string& command) {
  Outcome outcome;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

bool HasEmptyLine(const std::string& text) {
  return text.find("\n\n") != std::string::npos || text.find("\n\r\n") != std::string::npos;
}

// The package unpacked into a temporary root, with a temporary home beside it.
class Unpacked : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Shell("dpkg-deb -x " PACKAGE_FILE " " + dir.file("root")).status, 0);
    fs::create_directory(dir.file("home"));
    root = fs::canonical(dir.file("root")).string();
    home = fs::canonical(dir.file("home")).string();
  }

  std::string UserFolder() const { return home + "/.local/share/talvorin"; }
  std::string Defaults() const { return root + "/usr/share/talvorin/defaults"; }

  // A launcher command line, started with the temporary home (and data
  // folder, when one is given) and nothing else of the caller's
  // installation.
  std::string Launcher(const std::string& command, const std::string& dataHome = "") const {
    std::string env = "env -u XDG_DATA_HOME HOME=" + home + " QT_QPA_PLATFORM=offscreen ";
    if (!dataHome.empty()) env += "XDG_DATA_HOME=" + dataHome + " ";
    return env + root + "/usr/bin/" + command;
  }

  // Starts the program through its launcher and waits until it has loaded the
  // user's catalogue: it drops the empty lines there, which the test gives
  // it (before a first start, through this unpacked package's copy, as the
  // package ships the catalogue without them). The program is then stopped;
  // it must still be running by then.
  void StartTheProgram() {
    const std::string catalogue = UserFolder() + "/Devices/Devices.lst";
    if (fs::exists(catalogue)) {
      ASSERT_TRUE(HasEmptyLine(dir.read("home/.local/share/talvorin/Devices/Devices.lst")));
    } else {
      const std::string shipped = "root/usr/share/talvorin/defaults/Devices/Devices.lst";
      dir.write(shipped, dir.read(shipped) + "\r\n");
    }
    pid_t pid = 0;
    const std::string shell = "exec " + Launcher("talvorin") + " >" + dir.file("program.log") + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", shell.c_str(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    bool loaded = false, exited = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!loaded && !exited && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      loaded = fs::exists(catalogue) && !HasEmptyLine(dir.read("home/.local/share/talvorin/Devices/Devices.lst"));
      exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    // The shell and then the launcher gave way to the program itself.
    std::error_code error;
    const auto running = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (!exited) {
      kill(pid, SIGTERM);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(loaded) << dir.read("program.log");
    EXPECT_FALSE(exited) << "ended by itself with status " << status << ": " << dir.read("program.log");
    EXPECT_EQ(running.string(), root + "/usr/lib/talvorin/Talvorin");
  }

  TempDir dir;
  std::string root, home;
};

TEST(Package, HoldsTheProgramsTheirLaunchersAndTheDesktopFiles) {
  const Outcome contents = Shell("dpkg-deb -c " PACKAGE_FILE);
  ASSERT_EQ(contents.status, 0) << contents.output;
  // Path -> mode and owner, with the link target for links.
  std::map<std::string, std::string> entries;
  for (const auto& line : Lines(contents.output)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path, arrow, target;
    fields >> mode >> owner >> size >> date >> time >> path >> arrow >> target;
    EXPECT_EQ(owner, "root/root") << line;
    EXPECT_EQ(path.rfind("./usr/", 0) == 0 || path == "./", true) << line;
    entries[path] = mode + (target.empty() ? "" : " -> " + target);
  }
  for (const char* command : {"talvorin", "talvorin-transfer", "talvorin-vprog"}) {
    EXPECT_EQ(entries[std::string("./usr/bin/") + command], "lrwxrwxrwx -> ../lib/talvorin/talvorin-launcher");
    EXPECT_TRUE(entries.count(std::string("./usr/share/man/man1/") + command + ".1.gz")) << command;
    EXPECT_EQ(entries[std::string("./usr/share/bash-completion/completions/") + command], "-rw-r--r--") << command;
  }
  for (const char* program : {"Talvorin", "talvorin-transfer", "talvorin-vprog", "talvorin-launcher"})
    EXPECT_EQ(entries[std::string("./usr/lib/talvorin/") + program], "-rwxr-xr-x") << program;
  for (const char* file :
       {"./usr/share/talvorin/defaults/Devices/Devices.lst", "./usr/share/talvorin/defaults/programs/atmega103.bin",
        "./usr/share/talvorin/defaults/Talvorin.ini", "./usr/share/talvorin/defaults/prnport.cfg",
        "./usr/share/applications/org.talvorin.Talvorin.desktop",
        "./usr/share/metainfo/org.talvorin.Talvorin.metainfo.xml",
        "./usr/share/icons/hicolor/scalable/apps/org.talvorin.Talvorin.svg",
        "./usr/share/icons/hicolor/48x48/apps/org.talvorin.Talvorin.png",
        "./usr/share/icons/hicolor/256x256/apps/org.talvorin.Talvorin.png", "./usr/share/doc/talvorin/copyright",
        "./usr/share/doc/talvorin/changelog.gz"})
    EXPECT_EQ(entries[file], "-rw-r--r--") << file;
  // Nothing of the build tree besides (tests, headers, the tour).
  for (const auto& [path, mode] : entries)
    EXPECT_TRUE(path.find("test") == std::string::npos && path.find("tour") == std::string::npos &&
                path.find("include") == std::string::npos)
        << path;

  // The libraries the executables need were worked out from them.
  const Outcome depends = Shell("dpkg-deb -f " PACKAGE_FILE " Depends");
  EXPECT_NE(depends.output.find("libqt6widgets6 (>="), std::string::npos) << depends.output;
  EXPECT_NE(depends.output.find("libc6 (>="), std::string::npos) << depends.output;
  // Action > QELT runs a Windows programming tool through wine.
  EXPECT_EQ(Shell("dpkg-deb -f " PACKAGE_FILE " Suggests").output, "wine\n");
  EXPECT_EQ(Shell("dpkg-deb -f " PACKAGE_FILE " Recommends").output, "bash-completion\n");
}

TEST(Package, LintianFindsNoErrorsAndTheMetadataValidates) {
  const Outcome lintian = Shell("lintian --fail-on error --info " PACKAGE_FILE);
  EXPECT_EQ(lintian.status, 0) << lintian.output;
  std::cout << lintian.output;
  TempDir dir;
  ASSERT_EQ(Shell("dpkg-deb -x " PACKAGE_FILE " " + dir.path()).status, 0);
  const Outcome appstream =
      Shell("appstreamcli validate --no-net " + dir.file("usr/share/metainfo/org.talvorin.Talvorin.metainfo.xml"));
  EXPECT_EQ(appstream.status, 0) << appstream.output;
  const Outcome shellcheck = Shell("shellcheck -s sh " + dir.file("usr/lib/talvorin/talvorin-launcher"));
  EXPECT_EQ(shellcheck.status, 0) << shellcheck.output;
}

// What bash offers after each word, through the package's completion script
// for each command.
TEST_F(Unpacked, BashCompletesTheCommandsTheirOptionsAndValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"talvorin --v", "--version|"},
      {"talvorin-transfer d", "download|"},
      {"talvorin-transfer v", "verify|"},
      {"talvorin-transfer --f", "--format|"},
      {"talvorin-transfer --format ''", "bin|ihex|srec|"},
      {"talvorin-transfer download --v", "--version|--verify|"},
      {"talvorin-transfer --in", "--install|"},
      {"talvorin-transfer --t", "--timeout|--trace|"},
      {"talvorin-transfer p", "ports|"},
      {"talvorin-transfer ports ''", "|"},
      {"talvorin-transfer ports --", "--json|--help|"},
      {"talvorin-transfer upload " + dir.file("ro"), dir.file("root") + "|"},
      {"talvorin-vprog --blo", "--block|"},
      {"talvorin-vprog --block ''", "128|256|"},
      {"talvorin-vprog --e", "--esc|--esc-behind|"},
      {"talvorin-vprog --st", "--store|--stall|--stray|"},
  };
  for (const auto& [line, offered] : cases) {
    dir.write("complete.sh", ". " + root + "/usr/share/bash-completion/completions/" + line.substr(0, line.find(' ')) +
                                 "\nCOMP_WORDS=(" + line + ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_talvorin\n"
                                 "printf '%s|' \"${COMPREPLY[@]}\"\n");
    EXPECT_EQ(Shell("bash " + dir.file("complete.sh")).output, offered) << line;
  }
}

TEST_F(Unpacked, FirstStartLaysOutTheUsersFolderAndStartsTheProgramThere) {
  StartTheProgram();
  const std::string folder = UserFolder();
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Every default is there, the same; the program loaded the catalogue from
  // here, dropped the test's empty line and left the package's copy alone.
  // Apart from that line the catalogue is as shipped, byte for byte, so an
  // upgrade can tell that the user left it alone.
  for (const auto& entry : fs::recursive_directory_iterator(Defaults())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), Defaults()).string();
    const std::string original = dir.read("root/usr/share/talvorin/defaults/" + name);
    const std::string copy = dir.read("home/.local/share/talvorin/" + name);
    if (name == "Devices/Devices.lst") {
      EXPECT_EQ(copy + "\r\n", original);
    } else {
      EXPECT_EQ(copy, original) << name;
    }
  }
  // Every device the catalogue offers can be chosen: its image is there.
  for (const auto& line : Lines(dir.read("root/usr/share/talvorin/defaults/Devices/Devices.lst"))) {
    const auto equals = line.find('='), semicolon = line.find(';');
    if (line[0] == '[' || equals == std::string::npos || semicolon < equals) continue;
    std::string image = line.substr(equals + 1, semicolon - equals - 1);
    std::replace(image.begin(), image.end(), '\\', '/');
    EXPECT_TRUE(fs::is_regular_file(Defaults() + "/programs/" + image)) << line;
  }
  EXPECT_EQ(dir.read("home/.local/share/talvorin/Talvorin.ini"), "");
  EXPECT_TRUE(fs::exists(folder + "/prnport.cfg"));
  for (const char* program : {"Talvorin", "talvorin-transfer", "talvorin-vprog"})
    EXPECT_EQ(fs::read_symlink(folder + "/" + program).string(), root + "/usr/lib/talvorin/" + program);

  // One version: the package's and each command's.
  EXPECT_EQ(Shell("dpkg-deb -f " PACKAGE_FILE " Version").output, TALVORIN_VERSION "\n");
  for (const auto& [command, name] : {std::pair<std::string, std::string>{"talvorin", "Talvorin"},
                                      {"talvorin-transfer", "talvorin-transfer"},
                                      {"talvorin-vprog", "talvorin-vprog"}}) {
    // A program that does not answer would open its window and stay.
    const Outcome version = Shell("timeout 20 " + Launcher(command + " --version"));
    EXPECT_EQ(version.status, 0) << command;
    EXPECT_EQ(version.output, name + " " TALVORIN_VERSION "\n");
  }
}

TEST_F(Unpacked, LaterStartsKeepTheUsersFilesAndBringBackMissingOnes) {
  StartTheProgram();
  const std::string folder = UserFolder();
  const std::string edited = dir.read("home/.local/share/talvorin/Devices/Devices.lst") + "[Own]\r\n\r\nX=x.bin;1;2\r\n";
  dir.write("home/.local/share/talvorin/Devices/Devices.lst", edited);
  dir.write("home/.local/share/talvorin/Talvorin.ini", "[COM port]\naddress=2\n");
  fs::remove(folder + "/programs/pic16f84.bin");
  // As after an upgrade that moved the executables.
  fs::remove(folder + "/Talvorin");
  fs::create_symlink("/nonexistent/Talvorin", folder + "/Talvorin");

  StartTheProgram();
  EXPECT_EQ(Lines(dir.read("home/.local/share/talvorin/Devices/Devices.lst")), Lines(edited));
  EXPECT_EQ(dir.read("home/.local/share/talvorin/Talvorin.ini"), "[COM port]\naddress=2\n");
  EXPECT_EQ(dir.read("home/.local/share/talvorin/programs/pic16f84.bin"),
            dir.read("root/usr/share/talvorin/defaults/programs/pic16f84.bin"));
  EXPECT_EQ(fs::read_symlink(folder + "/Talvorin").string(), root + "/usr/lib/talvorin/Talvorin");
}

// An upgrade to a second version of the package, re-packed from this one with
// other defaults and unpacked in its place: what the user left alone follows
// it, what they changed stays, with the new default beside it and a notice.
TEST_F(Unpacked, AnUpgradeReplacesWhatTheUserLeftAloneAndKeepsWhatTheyChanged) {
  const std::string folder = UserFolder(), programs = "home/.local/share/talvorin/programs/";
  const std::string transfer = Launcher("talvorin-transfer --version");
  const std::string version = "talvorin-transfer " TALVORIN_VERSION;
  ASSERT_EQ(Shell(transfer).output, version + "\n");
  // The program loads the catalogue (dropping an empty line) and leaves it
  // as the package has it.
  const std::string catalogue = "home/.local/share/talvorin/Devices/Devices.lst";
  dir.write(catalogue, dir.read(catalogue) + "\r\n");
  StartTheProgram();
  dir.write(programs + "pic16f84.bin", "mine");
  dir.write(programs + "pic16f84.bin.new", "an older default");
  dir.write("elsewhere.bin", "elsewhere");
  fs::remove(folder + "/programs/at90s8515.bin");
  fs::create_symlink(dir.file("elsewhere.bin"), folder + "/programs/at90s8515.bin");
  dir.write("home/.local/share/talvorin/Talvorin.ini", "[COM port]\naddress=2\n");
  const std::string w78e52 = dir.read(programs + "w78e52.bin");

  const std::string v2 = dir.file("v2"), next = "v2/usr/share/talvorin/defaults/";
  ASSERT_EQ(Shell("dpkg-deb -R " PACKAGE_FILE " " + v2).status, 0);
  dir.write(next + "Devices/Devices.lst", dir.read(next + "Devices/Devices.lst") + "[Zilog]\r\nZ80=z80.bin;1;2\r\n");
  dir.write(next + "programs/z80.bin", "z80");
  dir.write(next + "programs/pic16f84.bin", "pic16f84, second version");
  dir.write(next + "programs/at90s8515.bin", "at90s8515, second version");
  fs::remove(v2 + "/usr/share/talvorin/defaults/programs/w78e52.bin");
  dir.write(next + "Talvorin.ini", "[COM port]\naddress=1\n");
  ASSERT_EQ(Shell("sed -i 's/^Version: .*/Version: 99/' " + v2 + "/DEBIAN/control && dpkg-deb -Znone --root-owner-group -b " +
                  v2 + " " + dir.file("v2.deb") + " && rm -r " + root + " && dpkg-deb -x " + dir.file("v2.deb") + " " +
                  root)
                .status,
            0);

  const Outcome upgrade = Shell(transfer);
  EXPECT_EQ(upgrade.status, 0) << upgrade.output;
  std::vector<std::string> notices = Lines(upgrade.output);
  std::sort(notices.begin(), notices.end());
  const std::string kept = "talvorin-transfer: kept your " + folder + "/programs/";
  EXPECT_EQ(notices, (std::vector<std::string>{
                         version,
                         kept + "at90s8515.bin; the new default is beside it as at90s8515.bin.new",
                         kept + "pic16f84.bin; the new default is beside it as pic16f84.bin.new",
                     }));
  for (const char* name : {"Devices/Devices.lst", "programs/z80.bin", "programs/atmega103.bin"})
    EXPECT_EQ(dir.read("home/.local/share/talvorin/" + std::string(name)), dir.read(next + name)) << name;
  EXPECT_EQ(dir.read(programs + "pic16f84.bin"), "mine");
  EXPECT_EQ(dir.read(programs + "pic16f84.bin.new"), dir.read(next + "programs/pic16f84.bin"));
  EXPECT_EQ(fs::read_symlink(folder + "/programs/at90s8515.bin").string(), dir.file("elsewhere.bin"));
  EXPECT_EQ(dir.read("elsewhere.bin"), "elsewhere");
  EXPECT_EQ(dir.read(programs + "at90s8515.bin.new"), dir.read(next + "programs/at90s8515.bin"));
  EXPECT_EQ(dir.read(programs + "w78e52.bin"), w78e52);
  EXPECT_EQ(dir.read("home/.local/share/talvorin/Talvorin.ini"), "[COM port]\naddress=2\n");
  EXPECT_FALSE(fs::exists(folder + "/Talvorin.ini.new"));
  const Outcome copy = Shell("diff -r " + Defaults() + " " + folder + "/.defaults");
  EXPECT_EQ(copy.status, 0) << copy.output;
  EXPECT_EQ(Shell(transfer).output, version + "\n");

  // A folder from before the copy was kept: what equals the new default is
  // taken as left alone, the rest as the user's.
  fs::remove_all(folder + "/.defaults");
  fs::remove(folder + "/programs/pic16f84.bin.new");
  const Outcome first = Shell(transfer);
  EXPECT_EQ(Lines(first.output).size(), 3u) << first.output;
  EXPECT_EQ(dir.read(programs + "pic16f84.bin.new"), dir.read(next + "programs/pic16f84.bin"));
  EXPECT_FALSE(fs::exists(folder + "/Devices/Devices.lst.new"));
  EXPECT_EQ(Shell(transfer).output, version + "\n");
}

// A copy that the disk cuts short or a signal stops leaves nothing that a
// later start would take for whole: stand-ins for cp on the PATH fill the
// disk after 100 bytes, or wait until they are killed.
TEST_F(Unpacked, CopiesCutShortLeaveNothingBehind) {
  const std::string data = home + "/.local/share";
  dir.write("full/cp", "#!/bin/sh\nhead -c 100 \"$1\" >\"$2\"\necho 'cp: No space left on device' >&2\nexit 1\n");
  dir.write("hang/cp", "#!/bin/sh\n: >\"${0%/*}/started\"\nexec sleep 60\n");
  for (const char* cp : {"full/cp", "hang/cp"}) fs::permissions(dir.file(cp), fs::perms::owner_all);

  // A first start stopped by a signal, as Ctrl+C stops the whole group.
  const std::string shell = "PATH=" + dir.file("hang") + ":$PATH exec " + Launcher("talvorin-transfer --version");
  const char* argv[] = {"/bin/sh", "-c", shell.c_str(), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ), 0);
  posix_spawnattr_destroy(&attributes);
  for (int i = 0; i < 600 && !fs::exists(dir.file("hang/started")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(fs::exists(dir.file("hang/started")));
  kill(-pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(fs::is_empty(data)) << (*fs::directory_iterator(data)).path();

  // What a kill -9 left goes at the next start; the user's own folders stay.
  dir.write("home/.local/share/.talvorin-stage.AbC123/Devices/Devices.lst", "part");
  dir.write("home/.local/share/talvorin.backup/Devices/Devices.lst", "own");
  ASSERT_EQ(Shell(Launcher("talvorin-transfer --version")).status, 0);
  EXPECT_FALSE(fs::exists(data + "/.talvorin-stage.AbC123"));
  EXPECT_EQ(dir.read("home/.local/share/talvorin.backup/Devices/Devices.lst"), "own");

  // A missing default that the disk cuts short is not put in place, and
  // comes back whole at the next start.
  fs::remove(UserFolder() + "/Devices/Devices.lst");
  const Outcome full = Shell("PATH=" + dir.file("full") + ":$PATH " + Launcher("talvorin-transfer --version"));
  EXPECT_NE(full.status, 0) << full.output;
  EXPECT_FALSE(fs::exists(UserFolder() + "/Devices/Devices.lst"));
  EXPECT_EQ(Shell(Launcher("talvorin-transfer --version")).status, 0);
  EXPECT_EQ(dir.read("home/.local/share/talvorin/Devices/Devices.lst"),
            dir.read("root/usr/share/talvorin/defaults/Devices/Devices.lst"));
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(UserFolder()))
    if (entry.path().filename().string().find("talvorin-new") != std::string::npos) left.push_back(entry.path());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(Unpacked, EachUserHasAFolderOfTheirOwnThatTheToolsUseToo) {
  // Two first starts at once give one folder and no leftovers.
  const Outcome both = Shell(Launcher("talvorin-transfer --version") + " & " + Launcher("talvorin-transfer --version") +
                             "; s=$?; wait $! && exit $s");
  EXPECT_EQ(both.status, 0) << both.output;
  EXPECT_NE(both.output.find("talvorin-transfer " TALVORIN_VERSION), std::string::npos) << both.output;
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(home + "/.local/share")) ++entries;
  EXPECT_EQ(entries, 1);

  // The virtual programmer, told so, maps COM3 in the user's Talvorin.ini;
  // talvorin-transfer finds the mapping there by itself.
  const std::string image(512, '\x5A');
  dir.write("image.bin", image);
  const Outcome upload = Shell("cd " + dir.path() + " && { " +
                               Launcher("talvorin-vprog --install " + UserFolder() +
                                        " --com 3 --serve image.bin >vprog.out") +
                               " & v=$!; i=0; while [ ! -s vprog.out ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; " +
                               Launcher("talvorin-transfer --com 3 upload copy.bin") + "; s=$?; kill $v; wait; exit $s; }");
  EXPECT_EQ(upload.status, 0) << upload.output;
  EXPECT_EQ(dir.read("copy.bin"), image);

  // Another user's data folder; a relative one counts as none.
  const std::string other = dir.file("other-data");
  EXPECT_EQ(Shell(Launcher("talvorin-transfer --version", other)).status, 0);
  EXPECT_TRUE(fs::is_regular_file(other + "/talvorin/Devices/Devices.lst"));
  EXPECT_EQ(dir.read("other-data/talvorin/Talvorin.ini"), "");
  EXPECT_EQ(Shell("cd " + dir.path() + " && " + Launcher("talvorin-transfer --version", "relative")).status, 0);
  EXPECT_FALSE(fs::exists(dir.file("relative")));
}

}  // namespace
