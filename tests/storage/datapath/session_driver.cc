// Test driver: opens and closes sessions on the configured catalog in a
// process of its own and prints one line per session:
//   "session <session id> handle <handle number> created <0|1>"
// Usage: session_driver <count>. Exit 0, or 2 after printing the failing
// call and its code on standard error.
#include <cstdio>
#include <cstdlib>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/datapath/smsession.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  if (int rc = zarLoadConfig(0); rc != 0) {
    std::fprintf(stderr, "zarLoadConfig %d\n", rc);
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    zarHandle* h = nullptr;
    int created = 0;
    if (int rc = zarOpenSession(&h, 0, &created); rc != 0) {
      std::fprintf(stderr, "zarOpenSession %d\n", rc);
      return 2;
    }
    if (created) {
      zarCatalogUnlockTables(h);
      if (int rc = smcReleaseCatalogLock(h); rc != 0) {
        std::fprintf(stderr, "smcReleaseCatalogLock %d\n", rc);
        return 2;
      }
    }
    std::printf("session %d handle %u created %d\n", h->sessionId, h->handleNumber, created);
    std::fflush(stdout);
    if (int rc = zarCloseSession(h); rc != 0) {
      std::fprintf(stderr, "zarCloseSession %d\n", rc);
      return 2;
    }
  }
  return 0;
}
