// File descriptors of the client libraries: every descriptor is opened with
// O_CLOEXEC, so that programs started as children inherit nothing but what
// they are given; reads and closes are retried when a signal interrupts them.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace tvp {

// open(2) with O_CLOEXEC added; retried on EINTR. A descriptor, or -1 with
// errno set.
int Open(const char* path, int flags, mode_t mode = 0);

// read(2), retried on EINTR. Bytes read, 0 at end of file, -1 with errno.
ssize_t Read(int fd, void* buf, size_t n);

// close(2). 0, or -1 with errno. Not retried: Linux releases the
// descriptor even when close reports EINTR.
int Close(int fd);

// Owns one descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) Close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace tvp
