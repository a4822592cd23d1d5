// A stand-in for the programming tool, built for each system: records how
// many arguments it got and the directory it runs in ("args", "ran-in" beside
// itself), creates "started", and waits (at most ten seconds) until the test
// creates "go".
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/StandardStreams.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  const fs::path here = fs::absolute(argv[0]).parent_path();
  std::ofstream(here / "args", std::ios::binary) << argc - 1 << "\n";
  std::ofstream(here / "ran-in", std::ios::binary) << fs::current_path().string() << "\n";
  std::ofstream(here / "started").flush();
  for (int i = 0; i < 1000 && !fs::exists(here / "go"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return 0;
}
