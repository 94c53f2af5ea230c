// The pool commands of the -P letter: ADD, DEL and LIST, each on the
// session the command opened.
#include <cstdio>
#include <cstring>

#include "base/msgfile.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_trace.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev.h"

namespace {

// The catalog's form of a pool record handed in by the command.
TevPool ToTevPool(const ZutevPoolRecord* record) {
  TevPool pool{};
  pool.pool_id = record->pool_id;
  std::snprintf(pool.pool_name, sizeof pool.pool_name, "%s", record->name);
  return pool;
}

}  // namespace

int zutevAddPool(zarHandle* handle, ZutevPoolRecord* record) {
  static const char kName[] = "zutevAddPool";
  SM_TRACE(136, "%s: enter", kName);
  TevPool pool = ToTevPool(record);
  int rc = zarInsertPool(handle, &pool);
  if (rc == 0) {
    record->pool_id = pool.pool_id;
  } else {
    SM_TRACE(137, "%s", SM_MSG(88192));
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zutevDeletePool(zarHandle* handle, ZutevPoolRecord* record) {
  static const char kName[] = "zutevDeletePool";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smcAcquireCatalogLock(handle);
  if (rc == 0) {
    rc = zarDeletePool(handle, record->name);
    if (rc != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88193));
  }
  // Runs whether or not the lock was had: a session that does not own the
  // lock leaves the owner's lock in place (the lock manager logs the
  // refused request).
  smcReleaseCatalogLock(handle);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zutevListPools(zarHandle* handle) {
  static const char kName[] = "zutevListPools";
  SM_TRACE(136, "%s: enter", kName);
  TypedList* pools = nullptr;
  int rc = zarGetPoolList(handle, &pools);
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88191));
  } else {
    std::printf("%s\n", SM_MSG(87024));
    int32_t status = 0;
    for (auto* pool = static_cast<TevPool*>(ll_first(pools, &status)); pool != nullptr;
         pool = static_cast<TevPool*>(ll_next(pools, &status))) {
      std::printf("%-10d %-12.12s\n", pool->pool_id, pool->pool_name);
    }
    std::fputs("\n\n", stdout);
    ll_destroy(&pools, 1, &status);
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
