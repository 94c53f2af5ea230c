#include "platform/home_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <vector>

namespace tvp {

namespace {
// The override in force; every override given stays in g_overrides until
// the process ends, so a reader on another thread never sees freed memory.
std::atomic<const std::string*> g_override{nullptr};
std::mutex g_overrides_mu;
std::deque<std::string> g_overrides;
}  // namespace

void SetHomeDirForTesting(const char* path) {
  if (path == nullptr) {
    g_override.store(nullptr);
    return;
  }
  std::lock_guard<std::mutex> lock(g_overrides_mu);
  g_overrides.emplace_back(path);
  g_override.store(&g_overrides.back());
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
