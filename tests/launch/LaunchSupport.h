// What the launch tests share: the expected project file, tools written by
// the test, and the process state some tests change for a while.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

// The whole text of "Talvorin.AVR" naming these images.
inline std::string ProjectText(const std::string& data, const std::string& program) {
  return "[Project]\r\nTitle=\r\nId=\r\nLeft=0\r\nTop=0\r\nFuses=0\r\n"
         "[Security]\r\nLockbits=0\r\n"
         "[Device]\r\nDevice=ATmega103/L\r\n"
         "[Files]\r\nData=" + data + "\r\nProgram=" + program + "\r\n"
         "[datamem-Window]\r\nLeft=0\r\nTop=0\r\nwidth=600\r\nheight=323\r\n"
         "[Progmem-Window]\r\nLeft=28\r\nTop=28\r\nwidth=600\r\nheight=323\r\n";
}

// A stand-in tool: a script that records its name, arguments and directory
// in "args" and "ran-in" beside it, creates "started", and waits (at most ten
// seconds) until the test creates "go".
inline const char* const RecordingTool =
    "#!/bin/sh\n"
    "here=\"${0%/*}\"\n"
    "printf '%s\\n' \"$0\" \"$@\" > \"$here/args\"\n"
    "pwd -P > \"$here/ran-in\"\n"
    ": > \"$here/started\"\n"
    "i=0\n"
    "while [ ! -e \"$here/go\" ] && [ $i -lt 1000 ]; do sleep 0.01; i=$((i+1)); done\n";

inline void WriteTool(const TempDir& dir, const std::string& name, const std::string& content, unsigned mode) {
  dir.write(name, content);
  dir.chmod(name, mode);
}

// PATH for as long as the object lives.
class PathOverride {
 public:
  explicit PathOverride(const std::string& path) : old(std::getenv("PATH") ? std::getenv("PATH") : "") {
    set(path);
  }
  ~PathOverride() { set(old); }

 private:
  static void set(const std::string& value) {
#ifdef _WIN32
    _putenv_s("PATH", value.c_str());
#else
    setenv("PATH", value.c_str(), 1);
#endif
  }
  std::string old;
};

// The current directory for as long as the object lives.
class CurrentDir {
 public:
  explicit CurrentDir(const std::string& dir) : old(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~CurrentDir() { std::filesystem::current_path(old); }

 private:
  std::filesystem::path old;
};
