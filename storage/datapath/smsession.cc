// Session open and close.
#include "storage/datapath/smsession.h"

#include "base/msgfile.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smtranid.h"

namespace {

enum { kSerialSession = 3 };

// Opens the catalog, creating it when allowed. 0, or the code of the open.
int OpenOrCreateCatalog(zarHandle* h, int no_create, int* created) {
  const int rc = zarOpenDatabase(h);
  if (rc == 0) return 0;
  const char* dir = h->config->catalogDir;
  if (rc == 88114) {
    if (no_create == 1) return rc;
    SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87401), dir);
    if (zarCatalogCreate(h) == -1) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88102), dir);
      return 3;
    }
    *created = 1;
    SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87402), dir);
    return 0;
  }
  if (rc == 88115) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88115));
  } else {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88100));
  }
  return rc;
}

// Takes a session id and writes the session row; the catalog lock is held
// around the row unless the catalog was just created (its creator holds
// the lock already).
int RegisterSession(zarHandle* h, int created) {
  int64_t id = 0;
  int rc = dsmSerialMgr(h, kSerialSession, &id);
  if (rc != 0) return rc;
  h->sessionId = static_cast<int32_t>(id);
  if (!created) {
    rc = smcAcquireCatalogLock(h);
    if (rc != 0) return rc;
  }
  if (smcInsertSession(h, h->sessionId) != 0) {
    smcReleaseCatalogLock(h);
    return 19;
  }
  if (!created) return smcReleaseCatalogLock(h);
  return 0;
}

}  // namespace

int zarOpenSession(zarHandle** handle, int no_create, int* created) {
  if (handle == nullptr || created == nullptr) return 22;
  *created = 0;
  uint32_t number = 0;
  int rc = create_bsa_handle(&number);
  if (rc != 0) return rc;
  zarHandle* h = nullptr;
  rc = find_bsa_handle(number, &h, __FILE_NAME__, __LINE__);
  if (rc != 0) return rc;

  h->config = zarGetConfig();
  if (h->config == nullptr) {
    destroy_bsa_handles(number);
    return 3;
  }
  rc = OpenOrCreateCatalog(h, no_create, created);
  if (rc == 0) {
    zarGetTEVid(h);
    rc = RegisterSession(h, *created);
  }
  if (rc != 0) {
    // Give up what a creation took and close whatever tables the open or
    // the create left open, so that neither the catalog lock nor an
    // exclusive open outlives the failed session.
    if (*created) smcReleaseCatalogLock(h);
    *created = 0;
    zarCloseDatabase(h);
    destroy_bsa_handles(number);
    return rc;
  }
  zarLoadPoolsFromConfig(h, h->config);
  *handle = h;
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87456), h->sessionId);
  return 0;
}

int zarCloseSession(zarHandle* handle) {
  if (handle == nullptr) return 22;
  int rc = 0;
  if (handle->transactionId != 0) {
    rc = zarAbortTxn(handle);
    if (rc != 0) return rc;
    handle->transactionId = 0;
  }
  rc = smcAcquireCatalogLock(handle);
  if (rc != 0) return rc;
  zarUnmountVolume(handle);
  // TAPE mounts kept for later reads end with the session: their drives
  // and volumes become idle again in the catalog.
  int32_t status = LL_OK;
  while (auto* mount = static_cast<TevMount*>(ll_first(handle->mountList, &status))) {
    if (removeMountList(handle, mount) == -1) break;
  }
  rc = smcDeleteSession(handle);
  smcReleaseCatalogLock(handle);
  if (rc != 0) return rc;

  const int close_rc = zarCloseDatabase(handle);
  const int32_t session_id = handle->sessionId;
  const int list_rc = destroy_bsa_handles(handle->handleNumber);
  if (close_rc != 0 || list_rc != 0) return close_rc | list_rc;
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87457), session_id);
  return 0;
}
