#include "platform/home_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace tvp {

namespace {
// Owned copy of the override; replaced (and leaked) rather than freed, so a
// reader on another thread never sees freed memory.
std::atomic<const std::string*> g_override{nullptr};
}  // namespace

void SetHomeDirForTesting(const char* path) {
  g_override.store(path != nullptr ? new std::string(path) : nullptr);
}

bool HomeDir(std::string* out) {
  if (const std::string* o = g_override.load()) {
    if (o->empty()) return false;
    *out = *o;
    return true;
  }
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 1024);
  struct passwd pw;
  struct passwd* found = nullptr;
  for (;;) {
    int rc = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return false;
    break;
  }
  if (pw.pw_dir == nullptr || pw.pw_dir[0] == '\0') return false;
  *out = pw.pw_dir;
  return true;
}

}  // namespace tvp
