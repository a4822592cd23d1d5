// What the download dialog's pickers show: the drives, a directory list in the
// manner of a classic directory list box, and the files of a directory.
#pragma once

#include <string>
#include <vector>

struct DirectoryEntry {
  std::string name;  // as shown; the root's name is the root itself
  std::string path;
  int level;         // indentation: the root is 0
  bool open;         // on the chain from the root to the current directory (itself included)
};

struct DirectoryListing {
  std::vector<DirectoryEntry> entries;
  int current = -1;  // index of the current directory
};

// The chain of open folders from the root down to directory (an absolute
// path), each one level deeper, then directory's sub-folders one level deeper
// still, sorted without regard to case. Links to folders count as folders;
// names beginning with '.' are hidden. When the sub-folders cannot be read
// only the chain is listed.
DirectoryListing ListDirectories(const std::string& directory);

// The names of the files in directory (every file, hidden ones aside), sorted
// without regard to case; none when it cannot be read.
std::vector<std::string> ListFiles(const std::string& directory);

// The path of the file chosen in the file list; empty when none is chosen.
std::string FileListPath(const std::string& directory, const std::string& name);

// The root among roots that holds directory: the longest one that is directory
// itself or a whole-component prefix of it. Empty when none does.
std::string RootOf(const std::string& directory, const std::vector<std::string>& roots);
