#include "storage/command/sm_fileio.h"

#include <cerrno>
#include <unistd.h>

#include "platform/file_io.h"

ssize_t sm_write_all(int fd, const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSPC) break;
      return n;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t sm_read_all(int fd, void* buffer, size_t count) {
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  bool failed_once = false;
  while (done < count) {
    ssize_t n = read(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (failed_once) return n;
      failed_once = true;
      continue;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Linux releases the descriptor even when close() is interrupted: trying
// again would report EBADF for a close that happened, or close a descriptor
// that another thread has just been given the same number.
int sm_close(int fd) { return tvp::Close(fd); }
