#include "storage/datapath/smpartfile.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "storage/command/sm_path.h"
#include "storage/command/sm_trace.h"

int openSubDir(const char* path, int flags, int mode) {
  if (path == nullptr) return -1;
  const std::string name(path);
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string dir = name.substr(0, slash);
    errno = 0;
    if (sm_mkdirp(dir.c_str(), mode | 0110) != 0 && errno != EEXIST) {
      SM_TRACE(137, "openSubDir: sm_mkdirp() failed for '%s' with errno %d.", dir.c_str(), errno);
      return -1;
    }
  }
  const int fd = open(path, flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd >= 0) return fd;
  if (errno == EEXIST) {
    SM_TRACE(137, "openSubDir: Cannot access '%s'  with errno %d.", path, errno);
    return SM_PART_FILE_EXISTS;
  }
  return -1;
}
