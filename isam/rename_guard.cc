// Rename guard: an exclusive lock on one byte of a file named after the
// pair ("tab" -> "tab.@mt", "tab.old" -> "tab..@mt") serialises renames of
// one pair by different processes.
//
// A guard file is removed only by the process that holds its lock, and
// before it lets the lock go; a process that takes the lock checks that the
// file it locked is still the one under the guard's name. So two processes
// never both believe they hold the guard.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "isam/files.h"
#include "isam/ofd_lock.h"

namespace isam {

namespace {

void PauseOneSecond() { sleep(1); }

bool GuardPath(const char* name, std::string* path) {
  std::string full;
  if (name[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    full = cwd;
    if (full.empty() || full.back() != '/') full += '/';
  }
  full += name;
  if (full.size() > 255) {
    errno = ENAMETOOLONG;
    return false;
  }
  size_t slash = full.rfind('/');
  size_t dot = full.find('.', slash == std::string::npos ? 0 : slash + 1);
  if (dot != std::string::npos) full.resize(dot + 1);
  full += ".@mt";
  *path = full;
  return true;
}

bool SameFile(int fd, const std::string& path) {
  struct stat a, b;
  return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

void (*is_guardpause)() = PauseOneSecond;

int is_renameguard(const char* name, std::string* guardpath, int* guardfd) {
  std::string path;
  if (!GuardPath(name, &path)) return 0;
  int fd = -1;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (attempt > 0) is_guardpause();
    if (fd < 0) {
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) return 0;
    }
    if (is_ofdlock(fd, F_WRLCK, kRenameGuardByte, 1, false) != 0) continue;
    if (SameFile(fd, path)) {
      *guardpath = path;
      *guardfd = fd;
      return 1;
    }
    // The holder removed the file while we waited: lock the new one.
    close(fd);
    fd = -1;
  }
  int err = errno;
  if (fd >= 0) close(fd);
  errno = err;
  return 0;
}

void is_renameunguard(std::string* guardpath, int* guardfd) {
  if (*guardfd < 0) return;
  unlink(guardpath->c_str());
  is_ofdlock(*guardfd, F_UNLCK, kRenameGuardByte, 1, false);
  close(*guardfd);
  *guardfd = -1;
  guardpath->clear();
}

}  // namespace isam
