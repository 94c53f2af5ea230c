// Small helpers of the environment code: maximum lengths, printing, paths,
// the current user's name and home directory.

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/accounts_internal.h"
#include "base/env.h"
#include "platform/home_dir.h"

int32_t osenv_maxlen(const char* name) {
  if (name == nullptr) return -1;
  for (const EnvVarDef* d = osenv_table(); d->name != nullptr; d++) {
    if (std::strcmp(d->name, name) == 0) return d->maxlen;
  }
  return -1;
}

void osenv_print(FILE* stream, const char* fmt, ...) {
  if (fmt == nullptr || *fmt == '\0') return;
  if (stream == nullptr) stream = stderr;
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stream, fmt, ap);
  va_end(ap);
  std::fputc('\n', stream);
  std::fflush(stream);
}

char* osenv_path(const char* dir, const char* name, const char* suffix) {
  rthreadstatus = 0;
  size_t len = (dir != nullptr ? std::strlen(dir) + 1 : 0) + (name != nullptr ? std::strlen(name) : 0) +
               (suffix != nullptr ? std::strlen(suffix) : 0);
  if (len == 0) {
    rthreadstatus = -4;
    return nullptr;
  }
  auto* out = static_cast<char*>(std::malloc(len + 8));
  if (out == nullptr) {
    rthreadstatus = -2;
    return nullptr;
  }
  out[0] = '\0';
  if (dir != nullptr) {
    std::strcat(out, dir);
    std::strcat(out, "/");
  }
  if (name != nullptr) std::strcat(out, name);
  if (suffix != nullptr) std::strcat(out, suffix);
  return out;
}

namespace {
// "DOMAIN\name" of the current user, per thread.
thread_local char t_username[OSENV_USERNAME_SIZE];
}  // namespace

char* os_username(void) {
  std::lock_guard<std::recursive_mutex> guard(tvbase::UserTableMutex());
  const UserRecord* user = tvbase::CurrentUser();
  if (user == nullptr) return t_username;
  // A name that does not fit is left out rather than cut: a cut name could
  // be another account's.
  int n = std::snprintf(t_username, sizeof t_username, "%s\\%s", user->domain, user->name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof t_username) t_username[0] = '\0';
  return t_username;
}

char* osenv_homedir(void) {
  rthreadstatus = 0;
  std::string home;
  if (!tvp::HomeDir(&home)) {
    rthreadstatus = -3;
    return nullptr;
  }
  char* copy = strdup(home.c_str());
  if (copy == nullptr) rthreadstatus = -2;
  return copy;
}

int rcharsubok(void) {
  const char* v = ggetenv_idx("ZEL_CHARSUB_ALLOWED", ENVROW_ZEL_CHARSUB_ALLOWED);
  if (v == nullptr) return 0;
  return std::strtol(v, nullptr, 10) > 0 ? 1 : 0;
}
