// The download dialog's directory and file lists, over real folder trees.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"
#include "transfer/FilePickers.h"

namespace fs = std::filesystem;

namespace {

// "name@level" for open entries written as "[name]@level", to compare whole
// listings at a glance.
std::vector<std::string> shown(const DirectoryListing& listing) {
  std::vector<std::string> out;
  for (const auto& e : listing.entries)
    out.push_back((e.open ? "[" + e.name + "]" : e.name) + "@" + std::to_string(e.level));
  return out;
}

// The components of an absolute path, for building the expected chain.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  for (const auto& piece : fs::path(path)) {
    const std::string p = piece.string();
    if (!p.empty() && p != "/") parts.push_back(p);
  }
  return parts;
}

TEST(DirectoryList, ChainFromTheRootThenSubFolders) {
  TempDir dir;
  dir.write("outer/inner/zeta/x.bin", "");
  dir.write("outer/inner/alpha/x.bin", "");
  dir.write("outer/inner/Beta/x.bin", "");
  dir.write("outer/inner/file.hex", "");
  dir.write("outer/inner/Gamma.hex", "");
  dir.write("outer/inner/.hidden/x.bin", "");
  dir.write("outer/sibling/x.bin", "");
  const std::string current = dir.file("outer/inner");

  const auto listing = ListDirectories(current);
  std::vector<std::string> expected{"[/]@0"};
  int level = 0;
  for (const auto& piece : components(current)) expected.push_back("[" + piece + "]@" + std::to_string(++level));
  for (const char* name : {"alpha", "Beta", "zeta"}) expected.push_back(std::string(name) + "@" + std::to_string(level + 1));
  EXPECT_EQ(shown(listing), expected);

  ASSERT_EQ(listing.current, level);
  EXPECT_EQ(listing.entries[0].path, "/");
  EXPECT_EQ(listing.entries[listing.current].path, current);
  EXPECT_EQ(listing.entries[listing.current - 1].path, dir.file("outer"));
  EXPECT_EQ(listing.entries[listing.current + 1].path, current + "/alpha");
  EXPECT_EQ(listing.entries.back().path, current + "/zeta");
}

TEST(DirectoryList, LinksToFoldersAreFoldersAndTrailingSeparatorsDoNotMatter) {
  TempDir dir;
  dir.write("real/x.bin", "");
  dir.write("top/file.bin", "");
  fs::create_directory_symlink(dir.file("real"), dir.file("top/Linked"));
  fs::create_symlink(dir.file("real/x.bin"), dir.file("top/link.bin"));
  fs::create_symlink(dir.file("nowhere"), dir.file("top/dangling"));

  const auto listing = ListDirectories(dir.file("top") + "/");
  ASSERT_GE(listing.current, 0);
  EXPECT_EQ(listing.entries[listing.current].path, dir.file("top"));
  ASSERT_EQ(listing.entries.size(), static_cast<size_t>(listing.current) + 2);
  EXPECT_EQ(listing.entries.back().name, "Linked");
  EXPECT_EQ(listing.entries.back().path, dir.file("top/Linked"));
  EXPECT_FALSE(listing.entries.back().open);

  EXPECT_EQ(ListFiles(dir.file("top")), (std::vector<std::string>{"file.bin", "link.bin"}));
}

TEST(DirectoryList, TheRootAlone) {
  const auto listing = ListDirectories("/");
  ASSERT_FALSE(listing.entries.empty());
  EXPECT_EQ(listing.current, 0);
  EXPECT_EQ(listing.entries[0].name, "/");
  EXPECT_TRUE(listing.entries[0].open);
  for (size_t i = 1; i < listing.entries.size(); ++i) {
    EXPECT_EQ(listing.entries[i].level, 1);
    EXPECT_EQ(listing.entries[i].path, "/" + listing.entries[i].name);
    EXPECT_NE(listing.entries[i].name[0], '.');
  }
}

TEST(DirectoryList, MissingDirectoryGivesTheChainOnly) {
  TempDir dir;
  dir.write("here/sub/x.bin", "");
  const std::string missing = dir.file("here/gone/deeper");
  const auto listing = ListDirectories(missing);
  ASSERT_EQ(listing.current, static_cast<int>(listing.entries.size()) - 1);
  EXPECT_EQ(listing.entries.back().path, missing);
  EXPECT_EQ(listing.entries.back().name, "deeper");
  for (const auto& e : listing.entries) EXPECT_TRUE(e.open) << e.path;
  EXPECT_TRUE(ListFiles(missing).empty());
}

TEST(DirectoryList, FileInPlaceOfAFolderGivesTheChainOnly) {
  TempDir dir;
  dir.write("image.hex", "");
  const auto listing = ListDirectories(dir.file("image.hex"));
  ASSERT_EQ(listing.current, static_cast<int>(listing.entries.size()) - 1);
  EXPECT_EQ(listing.entries.back().name, "image.hex");
  EXPECT_TRUE(ListFiles(dir.file("image.hex")).empty());
}

TEST(DirectoryList, UnreadableFolderGivesTheChainOnly) {
  TempDir dir;
  dir.write("locked/sub/x.bin", "");
  dir.write("locked/file.bin", "");
  dir.chmod("locked", 0);
  // Root (CAP_DAC_OVERRIDE) reads it anyway; the case only exists for others.
  std::error_code error;
  fs::directory_iterator probe(dir.file("locked"), error);
  if (!error) GTEST_SKIP() << "this user reads folders without permission";
  const auto listing = ListDirectories(dir.file("locked"));
  EXPECT_EQ(listing.current, static_cast<int>(listing.entries.size()) - 1);
  EXPECT_TRUE(ListFiles(dir.file("locked")).empty());
}

TEST(FileList, EveryVisibleFileSortedWithoutRegardToCase) {
  TempDir dir;
  dir.write("B.HEX", "");
  dir.write("A.bin", "");
  dir.write("c", "");
  dir.write("a.txt", "");
  dir.write(".profile", "");
  dir.write("Folder/inside.bin", "");
  EXPECT_EQ(ListFiles(dir.path()), (std::vector<std::string>{"A.bin", "a.txt", "B.HEX", "c"}));
  EXPECT_TRUE(ListFiles(dir.file("Folder/inside.bin")).empty());  // a file is no directory
}

TEST(FileList, ChosenFilePath) {
  EXPECT_EQ(FileListPath("/data/images", "prog.hex"), "/data/images/prog.hex");
  EXPECT_EQ(FileListPath("/data/images/", "prog.hex"), "/data/images/prog.hex");
  EXPECT_EQ(FileListPath("/", "prog.hex"), "/prog.hex");
  EXPECT_EQ(FileListPath("/data/images", ""), "");
}

TEST(DriveList, RootHoldingADirectory) {
  const std::vector<std::string> roots{"/", "/work", "/work/disk", "/media/usb stick"};
  EXPECT_EQ(RootOf("/work/x", roots), "/work");
  EXPECT_EQ(RootOf("/work", roots), "/work");
  EXPECT_EQ(RootOf("/workshop", roots), "/");
  EXPECT_EQ(RootOf("/workshop/x", roots), "/");
  EXPECT_EQ(RootOf("/work/disk/a/b", roots), "/work/disk");
  EXPECT_EQ(RootOf("/work/diskette", roots), "/work");
  EXPECT_EQ(RootOf("/media/usb stick/a", roots), "/media/usb stick");
  EXPECT_EQ(RootOf("/", roots), "/");
  EXPECT_EQ(RootOf("/work/x", {"/work/disk", "/work"}), "/work");  // order does not matter
  EXPECT_EQ(RootOf("/srv", {"/work"}), "");
}

}  // namespace
