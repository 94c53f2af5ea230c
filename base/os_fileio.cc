// Opens that never create a file unless asked, and the plain file calls.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/os_files.h"
#include "platform/file_io.h"

namespace {

const char* const kModeStrings[] = {"r",  "r+",  "rb", "rb+", "w",  "w+",  "wb", "wb+",
                                    "r",  "r+",  "rb", "rb+", "a",  "a+",  "ab", "ab+"};
constexpr int32_t kFirstMode = 4;

}  // namespace

int os_open(const char* path, int flags, mode_t mode, int32_t extra) {
  if ((extra & OS_OPEN_AS_IS) != 0 || (flags & (O_CREAT | O_EXCL)) != 0 ||
      (flags == 0 && (extra & OS_OPEN_KEEP) == 0)) {
    return tvp::Open(path, flags, mode);
  }
  flags &= ~(O_CREAT | O_EXCL);
  if ((extra & OS_OPEN_CREATE) != 0 && (flags & O_ACCMODE) == O_WRONLY &&
      (flags & O_APPEND) == 0) {
    flags |= O_TRUNC;
  }
  int fd = tvp::Open(path, flags, mode);
  // Only a missing file is created; any other failure keeps its errno.
  if (fd < 0 && errno == ENOENT && (extra & OS_OPEN_CREATE) != 0) {
    fd = tvp::Open(path, flags | O_CREAT | O_EXCL, mode);
  }
  return fd;
}

FILE* os_fopen(const char* path, int flags, mode_t mode, int32_t extra) {
  // The mode number is checked first, so that a bad one creates nothing.
  int32_t number = extra & 0xFF;
  if (number < kFirstMode || number >= kFirstMode + 16) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = os_open(path, flags, mode, extra | OS_OPEN_CREATE);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, kModeStrings[number - kFirstMode]);
  if (stream == nullptr) {
    int err = errno;
    tvp::Close(fd);
    errno = err;
  }
  return stream;
}

int os_copen(const char* path, int flags, mode_t mode) { return tvp::Open(path, flags, mode); }

int32_t os_read(int fd, void* buf, uint32_t count) {
  if (count > INT32_MAX) count = INT32_MAX;  // the count must fit the result
  return static_cast<int32_t>(tvp::Read(fd, buf, count));
}

int64_t os_lseek(int fd, int64_t offset, int whence) { return lseek(fd, offset, whence); }
