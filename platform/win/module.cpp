// The executable's path, which tests may move into a temporary installation.
#include <string>

#include "platform/ModuleName.h"

#undef GetModuleFileNameA
DWORD TvGetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  const std::string path = ModuleFileNameOverride();
  if (hModule || path.empty()) return GetModuleFileNameA(hModule, lpFilename, nSize);
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyModuleFileName(path, lpFilename, nSize);
}
