#include "platform/posix/link_policy.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_paths.h"

namespace {

// The kernel's rule for links (fs.protected_symlinks), which following them
// here would pass by: in a sticky folder that anyone may write, a link is
// followed only when it belongs to the follower or to the folder's owner, so
// that another user's planted link does not lead a write elsewhere.
bool MayFollow(const std::string& link, const struct stat& st) {
  struct stat dir;
  const bool shared =
      stat(DirName(link).c_str(), &dir) == 0 && (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || st.st_uid == geteuid() || st.st_uid == dir.st_uid;
}

}  // namespace

bool LinkTarget(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    if (!MayFollow(target, st)) {
      errno = EACCES;
      return false;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return false;
    link.resize(static_cast<size_t>(n));
    if (link.starts_with('/')) {
      target = link;
    } else {
      target = DirName(target);
      (target += '/') += link;
    }
  }
  errno = ELOOP;
  return false;
}
