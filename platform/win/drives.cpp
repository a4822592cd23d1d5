#include "platform/Drives.h"

#include <string>
#include <vector>

#include "platform/winapi.h"

// The drive roots ("C:\", "D:\", ...) in letter order.
std::vector<std::string> FileSystemRoots() {
  std::vector<std::string> roots;
  char buffer[1024];
  const DWORD n = GetLogicalDriveStringsA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return roots;
  for (const char* root = buffer; *root; root += roots.back().size() + 1) roots.emplace_back(root);
  return roots;
}
