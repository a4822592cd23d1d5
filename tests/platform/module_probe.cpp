// Prints the path GetModuleFileNameA reports for the running program, for the
// tests that start it by different names.
#include <cstdio>

#include "platform/StandardStreams.h"
#include "platform/winapi.h"

int main() {
  OpenMissingStandardStreams();
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::fwrite(buffer, 1, n, stdout);
  return n == 0 ? 1 : 0;
}
