// The catalog version check: the lock row's version marker decides whether
// a catalog is used as it is, refused (newer or unreadable) or converted in
// place (older), under the catalog lock in administrator mode.
#include <cstdio>
#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

int smcParseVersion(const char* marker, int32_t* major, int32_t* minor) {
  if (std::strcmp(marker, kCatalogVersion) == 0) return 0;
  int maj = 0;
  int min = 0;
  if (std::strchr(marker, '.') == nullptr ||
      std::sscanf(marker, "TEV VERSION %d.%d", &maj, &min) != 2) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88115));
    return 1;
  }
  if (maj >= 2 || (maj == 1 && min >= 9)) return 1;
  *major = maj;
  *minor = min;
  return -1;
}

int smcCatalogCheckVersion(zarHandle* handle) {
  static const char kName[] = "smcCatalogCheckVersion";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  // A lock table that this handle has open already (the open found the
  // catalog made meanwhile by another process) is checked where it is.
  if (handle->tableFd[SMC_TAB_LOCK] < 0) rc = zarCatalogTableOpen(handle, SMC_TAB_LOCK, SMC_OPEN_MANUAL);
  unsigned char row[SMC_LOCK_RECLEN];
  if (rc == 0) rc = smcCatalogTableLock(handle, SMC_TAB_LOCK);
  if (rc == 0) {
    rc = smcReadLockRow(handle, row);
    if (rc != 0) {
      smcCatalogTableUnlock(handle, SMC_TAB_LOCK);
    } else {
      rc = smcCatalogTableUnlock(handle, SMC_TAB_LOCK);
    }
  }
  if (rc == 0) {
    char marker[SMC_LOCK_VERSION_LEN + 1];
    ldchar(reinterpret_cast<const char*>(row + SMC_LOCK_VERSION), SMC_LOCK_VERSION_LEN, marker);
    int32_t major = 0;
    int32_t minor = 0;
    const int parsed = smcParseVersion(marker, &major, &minor);
    if (parsed == 1) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88180), marker, kCatalogVersion);
      rc = 3;
    } else if (parsed == -1) {
      const int32_t saved_session = handle->sessionId;
      handle->sessionId = -1;
      rc = smcLockMgr(handle, SMC_LOCK | SMC_LOCK_ADMIN);
      if (rc == 0) {
        SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87405), major, minor, 1, 8);
        rc = catalogConvert(handle, major, minor);
        if (rc != 0) {
          smcLockMgr(handle, SMC_UNLOCK | SMC_LOCK_ADMIN);
          SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", SM_MSG(87407));
        } else {
          rc = smcLockMgr(handle, SMC_UNLOCK | SMC_LOCK_ADMIN);
          handle->sessionId = saved_session;
          SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", SM_MSG(87406));
        }
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
