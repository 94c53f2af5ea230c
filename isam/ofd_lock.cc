#include "isam/ofd_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace isam {

int is_ofdlock(int fd, short type, off_t start, off_t len, bool wait, OfdPrimitive primitive) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  int rc;
  do {
    int cmd = wait ? F_OFD_SETLKW : F_OFD_SETLK;
    rc = primitive != nullptr ? primitive(fd, cmd, &fl) : fcntl(fd, cmd, &fl);
  } while (rc < 0 && errno == EINTR && wait);
  return rc < 0 ? -1 : 0;
}

}  // namespace isam
