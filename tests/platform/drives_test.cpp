// The drive picker's roots, from a mount table and from this machine.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/Drives.h"
#include "platform/posix/drives.h"
#include "support/TempDir.h"

namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(DriveRoots, DiskMountsInOrderWithoutPseudoFileSystemsOrRepeats) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("data"));
  std::filesystem::create_directories(dir.file("my disk"));
  std::filesystem::create_directories(dir.file("tab\tnew\nslash\\"));
  std::filesystem::create_directories(dir.file("bound"));
  std::filesystem::create_directories(dir.file("proc"));
  dir.write("hosts", "127.0.0.1 localhost\n");
  const std::string base = dir.path();
  const std::string table =
      "proc " + base + "/proc proc rw,relatime 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/vda / ext4 rw,relatime 0 0\n"
      "tmpfs /dev/shm tmpfs rw 0 0\n"
      "/dev/sdb1 " + base + "/data ext4 rw 0 0\n"
      "devpts /dev/pts devpts rw 0 0\n"
      "cgroup /sys/fs/cgroup/cpu cgroup rw,cpu 0 0\n"
      "/dev/sdc1 " + base + "/my\\040disk vfat rw 0 0\n"
      "/dev/vda " + base + "/hosts ext4 rw 0 0\n"
      "/dev/sdd1 " + base + "/tab\\011new\\012slash\\134 ext4 rw 0 0\n"
      "/dev/sde1 " + base + "/data ext4 rw 0 0\n"
      "/srv/share " + base + "/bound none rw,bind 0 0\n"
      "/dev/sdf1 " + base + "/gone ext4 rw 0 0\n"
      "\n"
      "broken-line\n";
  const std::vector<std::string> expected{"/", base + "/data", base + "/my disk", base + "/tab\tnew\nslash\\",
                                          base + "/bound"};
  EXPECT_EQ(FileSystemRootsFrom(table, isDirectory), expected);
}

TEST(DriveRoots, RootComesFirstEvenWhenMountedLater) {
  TempDir dir;
  const std::string table = "/dev/sdb1 " + dir.path() + " ext4 rw 0 0\n/dev/vda / ext4 rw 0 0\n";
  const std::vector<std::string> expected{"/", dir.path()};
  EXPECT_EQ(FileSystemRootsFrom(table, isDirectory), expected);
  EXPECT_EQ(FileSystemRootsFrom("", isDirectory), std::vector<std::string>{"/"});
}

TEST(DriveRoots, ThisMachine) {
  const auto roots = FileSystemRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(roots.front(), "/");
  for (const auto& root : roots) EXPECT_TRUE(isDirectory(root)) << root;
  EXPECT_EQ(std::set<std::string>(roots.begin(), roots.end()).size(), roots.size());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "/proc"), roots.end());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "/sys"), roots.end());
}

}  // namespace
