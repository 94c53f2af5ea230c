#include "isam/ofd_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace isam {

int is_ofdlock(int fd, short type, off_t start, off_t len, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  int rc;
  do {
    rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc < 0 && errno == EINTR && wait);
  return rc < 0 ? -1 : 0;
}

}  // namespace isam
