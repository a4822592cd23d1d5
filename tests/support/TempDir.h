// A real temporary folder, removed with everything in it at the end of a test;
// and an installation of the program inside one.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return dir; }
  // The path of name ("Devices/Devices.lst") in the folder, with the
  // system's own separator.
  std::string file(const std::string& name) const;

  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Sets the permission bits (a read-only or unreadable file even for root).
  // On Windows only the read-only attribute follows: set without write bits.
  void chmod(const std::string& name, unsigned mode) const;

 private:
  std::string dir;
};

// Makes the program believe its executable is "Talvorin" inside a fresh
// temporary folder, for as long as the object lives.
class Installation : public TempDir {
 public:
  Installation();
  ~Installation();
};
