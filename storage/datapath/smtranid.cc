// Transaction commit and roll back over the handle's transaction list.
#include "storage/datapath/smtranid.h"

#include "storage/command/sm_trace.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_vol.h"

namespace {

enum { kActionCommit = 1, kActionRollBack = 2 };

// Ends every row of the transaction list with the action, last to first,
// taking each out of the list (the object list keeps and owns it). A row
// that cannot be ended is logged and the walk goes on. The result is that
// of the last row; *empty tells whether the list held no row.
int EndTransactionRows(zarHandle* handle, int32_t action, bool* empty) {
  TypedList* list = handle->txnObjectList;
  int32_t status = LL_OK;
  ll_first(list, &status);
  auto* recnum = static_cast<int32_t*>(ll_last(list, &status));
  if (recnum == nullptr) {
    SM_TRACE(137, "Object Transaction List was empty.");
    *empty = true;
    return 0;
  }
  *empty = false;
  int rc = 0;
  while (recnum != nullptr) {
    rc = smcUnlockObject(handle, *recnum, action);
    if (rc != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Cannot unlock ISAM record %d.", *recnum);
    ll_remove(list, recnum, &status);
    ll_first(list, &status);
    recnum = static_cast<int32_t*>(ll_last(list, &status));
  }
  return rc;
}

}  // namespace

int zarDeleteTxn(zarHandle* handle) {
  if (handle == nullptr) return 22;
  bool empty = false;
  EndTransactionRows(handle, kActionCommit, &empty);
  if (empty) return 0;
  return smcVolumeClearTxn(handle, handle->transactionId, handle->sessionId);
}

int zarAbortTxn(zarHandle* handle) {
  if (handle == nullptr) return 22;
  SM_TRACE(135, "Session %d, Transaction %d", handle->sessionId, handle->transactionId);
  bool empty = false;
  const int rc = EndTransactionRows(handle, kActionRollBack, &empty);
  return empty ? 32 : rc;
}
