// The least of services that later parts of the data path and the catalog
// provide, so that the session code links and runs before they exist. Each
// definition is replaced in place by its owner.
#include "storage/datapath/catalog_rows_pending.h"
#include "storage/datapath/smmount.h"

// Nothing can be mounted before mounts exist.
int zarUnmountVolume(zarHandle* handle) {
  if (handle == nullptr) return 22;
  return 0;
}

// Nothing inserts object rows yet, so no transaction list holds any: these
// are never reached with a row to work on.
int smcUnlockObject(zarHandle* handle, int32_t /*recnum*/, int32_t action) {
  if (handle == nullptr) return 22;
  return action == 1 || action == 2 ? 0 : 3;
}

int smcVolumeClearTxn(zarHandle* handle, int32_t /*transaction_id*/, int32_t /*session_id*/) {
  return handle == nullptr ? 22 : 0;
}
