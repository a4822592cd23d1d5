#include "FuzzSupport.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {
struct Scratch {
  std::string dir;
  Scratch() {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = (base / "talvorin-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};
}  // namespace

const std::string& ScratchDir() {
  static const Scratch scratch;
  return scratch.dir;
}

std::string ScratchFile(const std::string& name) { return ScratchDir() + "/" + name; }

void WriteScratch(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) std::abort();
}

std::string ReadScratch(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
