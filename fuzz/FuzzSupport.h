// What the fuzz targets share: a scratch folder on a memory file system where
// there is one, whole files, and a check that stops the run with a message.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// The folder lives as long as the process; every input reuses it.
const std::string& ScratchDir();
std::string ScratchFile(const std::string& name);
void WriteScratch(const std::string& path, const std::string& bytes);
std::string ReadScratch(const std::string& path);

// A broken property: libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                 \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
