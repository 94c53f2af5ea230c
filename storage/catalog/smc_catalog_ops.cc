// The operations on the catalog as a whole: create, open, close, drop, and
// the release of a new catalog's whole-file locks.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "base/msgfile.h"
#include "isam/isam.h"
#include "storage/catalog/pending_calls.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_path.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smobject.h"

namespace {

using CreateFn = int (*)(zarHandle*);

// In table id order.
const CreateFn kCreate[] = {zarCreateLockTab,        zarCreateSerialTab, zarCreateSessionTab,
                            zarCreatePoolTab,        smcCreateObjectPathTab, zarCreateObjectTab,
                            zarCreateDetailTab,      zarCreateVolumeTab, zarCreateDeviceTab};

// Neither file of a table's pair is there.
bool PairMissing(int32_t id) {
  const std::string path = smc::TablePath(id);
  struct stat st;
  return stat((path + ".idx").c_str(), &st) != 0 && errno == ENOENT &&
         stat((path + ".dat").c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace

int zarCatalogCreate(zarHandle* handle) {
  static const char kName[] = "zarCatalogCreate";
  SM_TRACE(136, "%s: enter", kName);
  TevConfig* cfg = zarGetConfig();
  int rc = 0;
  if (cfg == nullptr || handle == nullptr) {
    rc = -1;
  } else if (sm_mkdirp(cfg->catalogDir, 0770) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88003), cfg->catalogDir);
    rc = -1;
  } else {
    smcCountColumns();
    for (int32_t id = 1; id <= 9; ++id) {
      if (kCreate[id - 1](handle) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88101));
        handle->catalogOpen = 0;
        rc = -1;
        break;
      }
    }
    if (rc == 0) {
      for (int32_t id = 1; id <= 9; ++id) isflush(handle->tableFd[id]);
      zarCreateDefaultDevice(handle);
      handle->catalogOpen = 1;
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarOpenDatabase(zarHandle* handle) {
  static const char kName[] = "zarOpenDatabase";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (handle == nullptr) {
    rc = 22;
  } else if (handle->objectTablesFlag && (rc = zarCloseObjectTables(handle)) != 0) {
    // the failure is the result
  } else if (handle->catalogOpen) {
    rc = 0;
  } else {
    int check = smcCatalogCheckVersion(handle);
    if (check != 0 && check != 88113) {
      rc = check;
    } else {
      smcCountColumns();
      int opened = 0;
      int missing = 0;
      for (int32_t id = 1; id <= 9; ++id) {
        int r = zarCatalogTableOpen(handle, id, SMC_OPEN_MANUAL);
        if (r == 0 || r == 13) {
          ++opened;
        } else if (r == 88113) {
          ++missing;
        }
      }
      SM_TRACE(137, "%s: Count: opened = %d, missing = %d.", kName, opened, missing);
      if (missing == 9) {
        rc = 88114;
      } else if (opened < 9) {
        rc = 88115;
      } else {
        // The lock table appeared after the check (another process made the
        // catalog meanwhile): check it now that it is open.
        if (check == 88113) rc = smcCatalogCheckVersion(handle);
        if (rc == 0) handle->catalogOpen = 1;
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarCloseDatabase(zarHandle* handle) {
  static const char kName[] = "zarCloseDatabase";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (handle == nullptr) {
    rc = 22;
  } else if (handle->objectTablesFlag && (rc = zarCloseObjectTables(handle)) != 0) {
    // the failure is the result
  } else {
    for (int32_t id = 1; id <= 9; ++id) rc |= smcCatalogTableClose(handle, id);
    handle->catalogOpen = 0;
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarCatalogDrop(zarHandle* handle, int32_t delete_files) {
  static const char kName[] = "zarCatalogDrop";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (smcAcquireCatalogLock(handle) != 0) {
    rc = 3;
  } else {
    if (delete_files) dropFileObjects(handle);
    smcDevTabClose();
    if (smcReleaseCatalogLock(handle) != 0) rc = 3;
  }
  if (rc == 0) {
    // Every table is tried. A pair that is not there counts as erased; one
    // that stays (another process has it open) makes the drop fail, so that
    // INIT does not report an erased catalog that is still there.
    for (int32_t id = 1; id <= 9; ++id) {
      smcCatalogTableClose(handle, id);
      if (smcCatalogTableDrop(handle, id) != 0 && !PairMissing(id)) rc = 3;
    }
    handle->catalogOpen = 0;
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

void zarCatalogUnlockTables(zarHandle* handle) {
  for (int32_t id = 1; id <= 9; ++id) {
    if (handle->tableFd[id] >= 0) isunlock(handle->tableFd[id]);
  }
}
