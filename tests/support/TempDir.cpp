#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/Files.h"
#include "platform/Hooks.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
    const auto candidate = fs::temp_directory_path() / ("talvorin-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) dir = candidate.string();
  }
  if (dir.empty()) throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back permissions taken away by a test so that everything can go.
  for (auto it = fs::recursive_directory_iterator(dir, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(dir, ignored);
}

std::string TempDir::file(const std::string& name) const {
  std::string path = dir + PathDelim + name;
  for (auto i = dir.size(); i < path.size(); ++i)
    if (path[i] == '/') path[i] = PathDelim;
  return path;
}

void TempDir::write(const std::string& name, const std::string& content) const {
  fs::create_directories(fs::path(file(name)).parent_path());
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file(name));
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempDir::exists(const std::string& name) const { return fs::exists(file(name)); }

void TempDir::chmod(const std::string& name, unsigned mode) const {
  std::error_code ignored;
  fs::permissions(file(name), static_cast<fs::perms>(mode), fs::perm_options::replace, ignored);
}

Installation::Installation() { SetModuleFileNameOverride(file("Talvorin")); }

Installation::~Installation() { SetModuleFileNameOverride(""); }
