#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tvp {

int Open(const char* path, int flags, mode_t mode) {
  if (path == nullptr) {
    errno = EFAULT;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

ssize_t Read(int fd, void* buf, size_t n) {
  ssize_t r;
  do {
    r = ::read(fd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

int Close(int fd) {
  int r = ::close(fd);
  if (r < 0 && errno == EINTR) return 0;  // the descriptor is gone either way
  return r;
}

}  // namespace tvp
