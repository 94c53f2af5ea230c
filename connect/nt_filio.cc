// Exported file calls over plain descriptors.
#include "connect/nt_filio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void Report(const char* call, int err, int line) {
  std::printf("%s: w32ec=%d at %s:%d\n", call, err, "nt_filio", line);
  std::fflush(stdout);
}

}  // namespace

TV_BEGIN_C

int NT_open(const char* path, int32_t flags) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  bool existing_only = false;
  if (path[0] == '*') {
    ++path;
    if (path[0] == '*') {
      ++path;
      existing_only = true;
    }
  }
  int oflags = O_CLOEXEC;
  if (flags & O_WRONLY) oflags |= O_WRONLY;
  else if (flags & (O_RDWR | O_APPEND)) oflags |= O_RDWR;
  else oflags |= O_RDONLY;
  if (!existing_only) {
    bool create = (flags & O_CREAT) != 0;
    if (create && (flags & O_EXCL)) oflags |= O_CREAT | O_EXCL;
    else if (create && (flags & O_TRUNC)) oflags |= O_CREAT | O_TRUNC;
    else if (create) oflags |= O_CREAT;
    else if (flags & O_TRUNC) oflags |= O_TRUNC;
  }
  int fd = open(path, oflags, 0666);
  if (fd < 0) {
    int err = errno;
    if (err != ENOENT) Report("CreateFile()", err, __LINE__);
    errno = err;
    return -1;
  }
  if (flags & O_APPEND) {
    if (lseek(fd, 0, SEEK_END) < 0) {
      int err = errno;
      Report("SetFilePointer()", err, __LINE__);
      close(fd);
      errno = err;
      return -1;
    }
  }
  return fd;
}

int32_t NT_read(int fd, void* buf, uint32_t n) {
  ssize_t got;
  do {
    got = read(fd, buf, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    int err = errno;
    if (err != EBADF) Report("ReadFile()", err, __LINE__);
    errno = err;
    return -1;
  }
  return static_cast<int32_t>(got);
}

int NT_close(int fd) {
  if (close(fd) != 0) {
    int err = errno;
    if (err != EBADF) Report("CloseHandle()", err, __LINE__);
    errno = err;
    return -1;
  }
  return 0;
}

int NT_fstat(int fd, struct stat* out) {
  if (out == nullptr) {
    errno = EINVAL;
    return -1;
  }
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return -1;
  std::memset(out, 0, sizeof *out);
  out->st_size = static_cast<off_t>(sx.stx_size);
  out->st_atime = sx.stx_atime.tv_sec;
  out->st_mtime = sx.stx_mtime.tv_sec;
  // Creation time where the file system keeps it, else the change time.
  out->st_ctime = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
  bool read_only = (sx.stx_mode & S_IWUSR) == 0;
  out->st_mode = (S_ISDIR(sx.stx_mode) ? S_IFDIR : S_IFREG) | (read_only ? 0400 : 0600);
  return 0;
}

TV_END_C
