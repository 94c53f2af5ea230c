// Test-only stand-ins for services of other subsystems that the command
// calls but that are not in the tree yet. Linked into tests and benchmarks,
// never into a library; each goes away when its owner lands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "storage/command/pending_services.h"

// No message file: every number gives the fallback text.
char* smGetMsg(int32_t number) {
  static char fallback[8192];
  int saved = errno;
  std::snprintf(fallback, sizeof fallback, "Message %d not found.\n", number);
  errno = saved;
  return fallback;
}

char* rldmsg_fmtspecxtf(char* text, int32_t* status) {
  if (status != nullptr) *status = 0;
  return text;
}

struct tm* zel_localtime(const int64_t* seconds, struct tm* out) {
  if (seconds == nullptr || out == nullptr) return nullptr;
  time_t t = static_cast<time_t>(*seconds);
  if (localtime_r(&t, out) == nullptr) {
    out->tm_sec = out->tm_min = out->tm_hour = out->tm_mday = out->tm_mon = out->tm_year = -1;
    out->tm_wday = out->tm_yday = out->tm_isdst = -1;
  }
  return out;
}

int os_userinit(void) { return std::getenv("ZIVEVODAREVEZO") == nullptr ? 1 : 0; }

// The built-in pools, and "MISSING" (17) and "BROKEN" (19) for the failures.
int zarGetPoolId(zarHandle*, const char* name, TevPool* pool) {
  static const char* const kBuiltIn[] = {"DBSPOOL", "LOGPOOL", "EXTPOOL"};
  for (int i = 0; i < 3; ++i) {
    if (std::strcmp(name, kBuiltIn[i]) == 0) {
      pool->pool_id = i + 1;
      std::snprintf(pool->pool_name, sizeof pool->pool_name, "%s", name);
      return 0;
    }
  }
  if (std::strcmp(name, "BROKEN") == 0) return 19;
  if (std::strcmp(name, "MISSING") == 0) return 17;
  pool->pool_id = 4;
  std::snprintf(pool->pool_name, sizeof pool->pool_name, "%s", name);
  return 0;
}
