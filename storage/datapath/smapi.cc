// Start, end and transactions of the storage-manager API.
#include "storage/datapath/smapi.h"

#include <cstdio>
#include <cstring>

#include "base/msgfile.h"
#include "base/os_accounts.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smsession.h"
#include "storage/datapath/smtranid.h"

namespace {

void Enter(const char* name, int64_t handle) {
  SM_TRACE(136, "%s: enter, handle = %d.", name, static_cast<int>(handle));
}
int Return(const char* name, int rc) {
  SM_TRACE(136, "%s: return %d (0x%02x)", name, rc, static_cast<unsigned>(rc));
  return rc;
}

// The handle of a number as tevInit handed it out: the 32-bit handle
// number widened with its sign, so a negative value stands for a number of
// 2^31 or more. Anything outside 32 bits finds no handle.
int FindHandle(int64_t number, zarHandle** h) {
  const bool fits = number >= INT32_MIN && number <= static_cast<int64_t>(UINT32_MAX);
  const uint32_t n = fits ? static_cast<uint32_t>(number) : 0;
  return find_bsa_handle(n, h, __FILE_NAME__, __LINE__);
}

}  // namespace

int tevInit(int64_t* handle, XbsaSecurityToken* /*token*/, XbsaObjectOwner* owner,
            char** /*environment*/) {
  static const char kName[] = "tevInit";
  Enter(kName, 0);
  if (handle == nullptr || owner == nullptr) return Return(kName, BSA_RC_NULL_POINTER);
  if (std::strncmp(owner->bsaObjectOwner, "TARVELON", sizeof owner->bsaObjectOwner) != 0) {
    return Return(kName, BSA_RC_AUTHENTICATION_FAILURE);
  }
  if (os_userinit() != 0) {
    std::fprintf(stderr,
                 "ERROR: Could not initialize the security subsystem. Please ensure that this "
                 "account has the necessary privileges and ensure ZIVEVODAREVEZO value exists in "
                 "the registry and environment.\n");
    return Return(kName, BSA_RC_AUTHENTICATION_FAILURE);
  }
  OsUserEntry entry;
  char buffer[512];
  if (sm_getpwuid(tv_geteuid(), &entry, buffer, sizeof buffer) == nullptr ||
      entry.pw_name == nullptr) {
    return Return(kName, BSA_RC_NO_RESOURCES);
  }
  if (std::strcmp(entry.pw_name, "tarvelon") != 0 && std::strcmp(entry.pw_name, "root") != 0) {
    return Return(kName, BSA_RC_AUTHENTICATION_FAILURE);
  }
  // Without a configuration the caller is told and gets an error; the
  // process it runs in (the command, or a server that loaded the XBSA
  // library) decides itself whether to end.
  if (zarLoadConfig(0) != 0) {
    std::fprintf(stderr, "%s\n", SM_MSG(88130));
    return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
  }
  zarHandle* h = nullptr;
  int created = 0;
  const int rc = zarOpenSession(&h, 0, &created);
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88190));
    return rc;
  }
  if (created) {
    zarCatalogUnlockTables(h);
    smcReleaseCatalogLock(h);
  }
  *handle = static_cast<int64_t>(static_cast<int32_t>(h->handleNumber));
  return Return(kName, BSA_RC_SUCCESS);
}

int tevTerminate(int64_t handle) {
  static const char kName[] = "tevTerminate";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  const int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  return Return(kName, zarCloseSession(h));
}

int tevBeginTxn(int64_t handle) {
  static const char kName[] = "tevBeginTxn";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  const int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  if (h->transactionId != 0) return Return(kName, BSA_RC_BAD_CALL_SEQUENCE);
  h->transactionId = 1;
  return Return(kName, BSA_RC_SUCCESS);
}

int tevEndTxn(int64_t handle, int32_t vote) {
  static const char kName[] = "tevEndTxn";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  if (h->transactionId == 0) return Return(kName, BSA_RC_BAD_CALL_SEQUENCE);
  rc = smcAcquireCatalogLock(h);
  if (rc != 0) return Return(kName, rc);
  if (vote == 1) {
    // The object the transaction worked on is done with.
    if (h->currentObject != nullptr) {
      set_bsa_handle_object(h->handleNumber, nullptr);
      h->objectBytes = UInt64Pair{0, 0};
    }
    rc = zarDeleteTxn(h);
  } else {
    rc = zarAbortTxn(h);
    if (rc == BSA_RC_TXN_ABORTED) rc = 0;  // nothing to roll back
  }
  h->transactionId = 0;
  smcReleaseCatalogLock(h);
  return Return(kName, rc);
}
