// Test-only stand-ins for services of other subsystems that the command
// calls but that are not in the tree yet. Linked into tests and benchmarks,
// never into a library; each goes away when its owner lands.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "storage/command/pending_services.h"

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
