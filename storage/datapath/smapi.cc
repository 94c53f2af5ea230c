// Start, end and transactions of the storage-manager API.
#include "storage/datapath/smapi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/msgfile.h"
#include "base/os_accounts.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smsession.h"
#include "storage/datapath/smtape.h"
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

int tevGetObject(int64_t handle, XbsaObjectDescriptor* object, XbsaDataBlock* block) {
  static const char kName[] = "tevGetObject";
  Enter(kName, handle);
  if (object == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88009));
    return Return(kName, BSA_RC_NULL_POINTER);
  }
  auto* copy = static_cast<XbsaObjectDescriptor*>(std::malloc(sizeof(XbsaObjectDescriptor)));
  if (copy == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
  }
  *copy = *object;
  zarHandle* h = nullptr;
  int rc = FindHandle(handle, &h);
  if (rc != 0) {
    std::free(copy);
    return rc;
  }
  set_bsa_handle_object(h->handleNumber, copy);
  rc = smcAcquireCatalogLock(h);
  if (rc != 0) return Return(kName, rc);
  TevObjectInfo info{};
  rc = zarGetObjectInformation(h, (static_cast<uint64_t>(copy->copyId.high) << 32) |
                                      copy->copyId.low, &info);
  if (rc != 0) {
    smcReleaseCatalogLock(h);
    return Return(kName, rc);
  }
  h->objectBytes = info.size;
  h->partBytes = 0;
  h->partNumber = 1;
  rc = zarVolumeReadMount(h);
  smcReleaseCatalogLock(h);
  if (rc != 0) return Return(kName, rc);
  *object = *h->currentObject;
  if (block == nullptr) return Return(kName, BSA_RC_SUCCESS);
  return Return(kName, tevGetData(handle, block));
}

int tevGetData(int64_t handle, XbsaDataBlock* block) {
  static const char kName[] = "tevGetData";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  if (block == nullptr) return Return(kName, BSA_RC_NULL_DATABLOCKPTR);
  const long n = readZAR(h, block);
  SM_TRACE(133, "tevGetData:hndl=%d bufferLen(%d) read(%d).", static_cast<int>(handle),
           static_cast<int>(block->bufferLen), static_cast<int>(n));
  if (n < 0) return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
  // The bytes in the block so far. A part that ends inside the block is
  // followed by the next one until the block is full or the object ends.
  uint32_t filled = static_cast<uint32_t>(n);
  auto* buffer = static_cast<unsigned char*>(block->bufferPtr);
  for (;;) {
    block->numBytes = filled;
    if (filled >= block->bufferLen) return Return(kName, BSA_RC_MORE_DATA);
    SM_TRACE(133, "Received less data than requested read (%d) < requested (%d)",
             static_cast<int>(filled), static_cast<int>(block->bufferLen));
    rc = smcAcquireCatalogLock(h);
    if (rc != 0) return Return(kName, rc);
    rc = zarUnmountVolume(h);
    if (rc != 0) {
      smcReleaseCatalogLock(h);
      return Return(kName, rc);
    }
    const int32_t previous = h->partNumber++;
    SM_TRACE(136, "Look if a next sequence exists %d", h->partNumber);
    rc = zarVolumeReadMount(h);
    smcReleaseCatalogLock(h);
    const bool due = h->objectBytes.high != 0 || h->objectBytes.low != 0;
    if (rc == BSA_RC_NO_MATCH) {
      if (!due) return Return(kName, BSA_RC_NO_MORE_DATA);
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88055));
      return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
    }
    if (rc != 0) return Return(kName, rc);
    SM_TRACE(136, "tevGetData: Object has another sequence = %d", h->partNumber);
    if (!due) {
      rc = smcAcquireCatalogLock(h);
      if (rc != 0) return Return(kName, rc);
      zarUnmountVolume(h);
      smcReleaseCatalogLock(h);
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88054));
      return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
    }
    if (filled > 0) {
      SM_TRACE(136, "Attempting to top-off buffer with %ld bytes",
               static_cast<long>(block->bufferLen - filled));
    } else {
      SM_TRACE(137, "tevGetData: Read 0 bytes from object sequence %d", previous);
    }
    XbsaDataBlock rest{block->bufferLen - filled, 0, buffer + filled};
    const long m = readZAR(h, &rest);
    if (m < 0) {
      SM_TRACE(136, "We failed reading the new detail.");
      return Return(kName, BSA_RC_ABORT_SYSTEM_ERROR);
    }
    filled += static_cast<uint32_t>(m);
  }
}

int tevEndData(int64_t handle) {
  static const char kName[] = "tevEndData";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  rc = smcAcquireCatalogLock(h);
  if (rc != 0) return Return(kName, rc);
  tapeVolumeChange(h);
  rc = zarEndObject(h);
  if (rc != 0) {
    zarUnmountVolume(h);
  } else {
    rc = zarUnmountVolume(h);
    if (rc != 0) SM_TRACE(136, "zarUnmountVolume returned %d.", rc);
  }
  smcReleaseCatalogLock(h);
  return Return(kName, rc);
}

int tevDeleteObject(int64_t handle, UInt64Pair copy_id) {
  static const char kName[] = "tevDeleteObject";
  Enter(kName, handle);
  zarHandle* h = nullptr;
  int rc = FindHandle(handle, &h);
  if (rc != 0) return rc;
  rc = smcAcquireCatalogLock(h);
  if (rc != 0) return Return(kName, rc);
  rc = zarDeleteObject(h, (static_cast<uint64_t>(copy_id.high) << 32) | copy_id.low);
  smcReleaseCatalogLock(h);
  return Return(kName, rc);
}
