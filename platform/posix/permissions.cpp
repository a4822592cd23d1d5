#include "platform/posix/permissions.h"

#include <unistd.h>

// access() lets root do anything; Windows does not, so for root the mode
// bits decide.
bool Permitted(const std::string& path, const struct stat& st, int want) {
  if (geteuid() != 0) return access(path.c_str(), want) == 0;
  const mode_t bits = want == W_OK ? (S_IWUSR | S_IWGRP | S_IWOTH) : (S_IRUSR | S_IRGRP | S_IROTH);
  return (st.st_mode & bits) != 0;
}

bool ReadOnly(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }
