#include "storage/command/sm_path.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "storage/command/sm_trace.h"

namespace {

// Makes one directory; an existing directory is no failure.
int MakeOne(const std::string& dir) {
  if (mkdir(dir.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err == EEXIST) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    err = ENOTDIR;
  }
  return err;
}

}  // namespace

int sm_mkdirp(const char* path, int /*mode*/) {
  if (path == nullptr || *path == '\0') return -1;
  std::string copy(path);
  for (size_t i = 1; i <= copy.size(); ++i) {
    if (i < copy.size() && copy[i] != '/') continue;
    if (i < copy.size() && copy[i - 1] == '/') continue;  // a run of separators
    std::string prefix = copy.substr(0, i);
    int err = MakeOne(prefix);
    if (err != 0) {
      SM_TRACE(136, "sm_mkdirp: errno %d creating '%s'.", err, prefix.c_str());
      return -1;
    }
  }
  return 0;
}

char* sm_dirname(char* path) {
  static char dot[] = ".";
  if (path == nullptr) return nullptr;
  if (*path == '\0') return dot;
  for (;;) {
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
      std::strcpy(path, ".");
      return path;
    }
    if (slash == path) {
      path[1] = '\0';
      return path;
    }
    bool trailing = slash[1] == '\0';
    *slash = '\0';
    if (!trailing) return path;
  }
}
