// Replacing a file by renaming a new one over it keeps what the user set up:
// a link stays a link, the mode and owner stay, and the temporary file
// beside it cannot be taken over by a link planted in its place.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/Files.h"
#include "platform/posix/files.h"
#include "platform/winapi.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Names of the directory's entries that a replacement of `base` left.
std::set<std::string> Temps(const std::string& dir, const std::string& base) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().starts_with("." + base + ".tmp-")) names.insert(entry.path().filename());
  return names;
}

TEST(FileIdentity, ALinkStaysALinkAndItsTargetGetsTheContents) {
  TempDir dir;
  dir.write("real/Talvorin.ini", "[COM port]\r\naddress=0\r\n");
  dir.write("real/prnport.cfg", "[port]\r\naddress=1\r\n");
  fs::create_directory(dir.file("install"));
  fs::create_symlink("../real/Talvorin.ini", dir.file("install/Talvorin.ini"));  // relative
  fs::create_symlink(dir.file("real/prnport.cfg"), dir.file("install/hop"));     // a chain of two
  fs::create_symlink("hop", dir.file("install/prnport.cfg"));
  fs::create_symlink("../real/new.AVR", dir.file("install/Talvorin.AVR"));  // dangling: names the file to make

  ASSERT_TRUE(WritePrivateProfileStringA("COM port", "address", "2", dir.file("install/Talvorin.ini").c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Recent", "File0", "x", dir.file("install/prnport.cfg").c_str()));
  ASSERT_TRUE(ReplaceFileContents(dir.file("install/Talvorin.AVR"), "[Project]\r\n"));

  EXPECT_EQ(fs::read_symlink(dir.file("install/Talvorin.ini")), "../real/Talvorin.ini");
  EXPECT_EQ(fs::read_symlink(dir.file("install/prnport.cfg")), "hop");
  EXPECT_TRUE(fs::is_symlink(dir.file("install/hop")));
  EXPECT_EQ(fs::read_symlink(dir.file("install/Talvorin.AVR")), "../real/new.AVR");
  EXPECT_EQ(dir.read("real/Talvorin.ini"), "[COM port]\r\naddress=2\r\n");
  EXPECT_EQ(dir.read("real/prnport.cfg"), "[port]\r\naddress=1\r\n[Recent]\r\nFile0=x\r\n");
  EXPECT_EQ(dir.read("real/new.AVR"), "[Project]\r\n");
  // The temporary files were made beside the targets and are gone.
  EXPECT_EQ(fs::directory_iterator(dir.file("install"))->path().parent_path(), dir.file("install"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("install")), fs::directory_iterator()), 4);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("real")), fs::directory_iterator()), 3);

  // A link that loops is refused, and nothing is written.
  fs::create_symlink("loop", dir.file("install/loop"));
  EXPECT_FALSE(ReplaceFileContents(dir.file("install/loop"), "x"));
  EXPECT_TRUE(fs::is_symlink(dir.file("install/loop")));

  // So is a link to a pipe: a plain file would take the pipe's place.
  ASSERT_EQ(mkfifo(dir.file("real/pipe").c_str(), 0600), 0);
  fs::create_symlink("../real/pipe", dir.file("install/pipe"));
  EXPECT_FALSE(ReplaceFileContents(dir.file("install/pipe"), "x"));
  EXPECT_TRUE(fs::is_fifo(dir.file("real/pipe")));
  EXPECT_TRUE(Temps(dir.file("real"), "pipe").empty());
}

// In a sticky folder that anyone may write (/tmp), a link is followed as the
// kernel follows it (fs.protected_symlinks): only one of the writer's own or
// of the folder's owner, never one that another user planted there.
TEST(FileIdentity, AnotherUsersLinkInASharedStickyFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a link to another user";
  TempDir dir;
  dir.write("shared/x", "");
  dir.write("victim", "kept");
  ASSERT_EQ(chmod(dir.file("shared").c_str(), 01777), 0);
  fs::create_symlink(dir.file("victim"), dir.file("shared/planted"));
  ASSERT_EQ(lchown(dir.file("shared/planted").c_str(), 4321, 4321), 0);
  EXPECT_FALSE(ReplaceFileContents(dir.file("shared/planted"), "taken"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(dir.read("victim"), "kept");
  EXPECT_TRUE(fs::is_symlink(dir.file("shared/planted")));

  // The folder's owner's link is followed, and so is any link where the
  // folder is not shared so.
  ASSERT_EQ(chown(dir.file("shared").c_str(), 4321, 4321), 0);
  EXPECT_TRUE(ReplaceFileContents(dir.file("shared/planted"), "by the owner"));
  EXPECT_EQ(dir.read("victim"), "by the owner");
  ASSERT_EQ(chown(dir.file("shared").c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(dir.file("shared").c_str(), 0777), 0);
  EXPECT_TRUE(ReplaceFileContents(dir.file("shared/planted"), "not sticky"));
  EXPECT_EQ(dir.read("victim"), "not sticky");
}

TEST(FileIdentity, ModeAndOwnerAreKept) {
  TempDir dir;
  dir.write("f", "old");
  dir.chmod("f", 02604);  // odd bits on purpose, set-group-id among them
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir.file("f").c_str(), 1234, 5678), 0);
    dir.chmod("f", 02604);  // a change of owner clears the set-id bits
  }
  ASSERT_TRUE(ReplaceFileContents(dir.file("f"), "new"));
  const struct stat st = StatOf(dir.file("f"));
  EXPECT_EQ(dir.read("f"), "new");
  EXPECT_EQ(st.st_mode & 07777, 02604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
  } else {
    std::printf("owner not checked: only root may give a file to another user\n");
  }
  // A new file gets the mode the umask allows and this process as owner.
  const mode_t mask = umask(022);
  ASSERT_TRUE(ReplaceFileContents(dir.file("g"), "x"));
  umask(mask);
  EXPECT_EQ(StatOf(dir.file("g")).st_mode & 07777, 0644u);
  EXPECT_EQ(StatOf(dir.file("g")).st_uid, geteuid());
}

// The names come from the kernel's random source, one per write, beside the
// file; a link planted under the name drawn is never followed.
std::string plantedIn;
int draws = 0;
std::string PlantingSource() {
  static const char* const names[] = {"AAAAAA", "BBBBBB"};
  const char* name = names[draws++ % 2];
  if (draws == 1) fs::create_symlink(plantedIn + "/victim", plantedIn + "/.f.tmp-" + name);
  return name;
}

TEST(FileIdentity, TheTemporaryFileIsNewAndUnpredictable) {
  TempDir dir;
  dir.write("victim", "someone else's");
  plantedIn = dir.path();
  SetTempNameSource(PlantingSource);
  const bool written = ReplaceFileContents(dir.file("f"), "mine");
  SetTempNameSource(nullptr);
  ASSERT_TRUE(written);
  EXPECT_EQ(draws, 2);
  EXPECT_EQ(dir.read("victim"), "someone else's");
  EXPECT_EQ(dir.read("f"), "mine");
  EXPECT_TRUE(fs::is_symlink(dir.file(".f.tmp-AAAAAA")));
  // The next write clears the planted name away; the link's target stays.
  ASSERT_TRUE(ReplaceFileContents(dir.file("f"), "again"));
  EXPECT_TRUE(Temps(dir.path(), "f").empty());
  EXPECT_EQ(dir.read("victim"), "someone else's");

  // The names do not repeat (a counter or the process id would be guessed).
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = RandomTempName();
    EXPECT_EQ(name.size(), 6u);
    EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
