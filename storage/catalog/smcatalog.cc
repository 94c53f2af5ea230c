// The table descriptors and the operations on one catalog table as a whole.
#include "storage/catalog/smcatalog.h"

#include <time.h>

#include <cerrno>
#include <cstring>

#include "isam/isam.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smc_vol.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "base/msgfile.h"
#include "storage/datapath/smhandle.h"

namespace {

const CatalogColumnDesc kNoColumns[] = {{"", 0, 0, 0}};

}  // namespace

CatalogTableDesc catalogTables[SMC_TAB_COUNT] = {
    {"DSM_INVALID", 0, "", 0, kNoColumns, 0, nullptr},
    {"lock", 1, "", 0, smcLockColumns, SMC_LOCK_RECLEN, smcDumpLockTab},
    {"serial", 2, "", 0, smcSerialColumns, SMC_SERIAL_RECLEN, smcDumpSerialTab},
    {"session", 3, "", 0, smcSessionColumns, SMC_SESSION_RECLEN, smcDumpSessionTab},
    {"pool", 4, "", 0, smcPoolColumns, SMC_POOL_RECLEN, smcDumpPoolTab},
    {"object_path", 5, "", 0, smcObjectPathColumns, SMC_PATH_RECLEN, smcDumpObjectPathTab},
    {"object", 6, "", 0, smcObjectColumns, SMC_OBJECT_RECLEN, smcDumpObjectTab},
    {"object_detail", 7, "", 0, smcDetailColumns, SMC_DETAIL_RECLEN, smcDumpDetailTab},
    {"volume", 8, "", 0, smcVolumeColumns, SMC_VOLUME_RECLEN, smcDumpVolumeTab},
    {"device", 9, "", 0, smcDeviceColumns, SMC_DEVICE_RECLEN, smcDumpDeviceTab},
    {"DSM_INVALID", 10, "", 0, kNoColumns, 0, nullptr},
};

namespace smc {

IsamKeyDesc Key(std::initializer_list<KeyPart> parts, int16_t flags) {
  IsamKeyDesc key{};
  key.flags = flags;
  for (const KeyPart& p : parts) {
    key.parts[key.nparts++] = IsamKeyPart{p.start, p.len, p.type};
    key.keylen = static_cast<int16_t>(key.keylen + p.len);
  }
  return key;
}

int LockTimeout() {
  const TevConfig* cfg = zarGetConfig();
  return cfg != nullptr && cfg->lockTimeout > 0 ? cfg->lockTimeout : 1;
}

int DebugLevel() {
  const TevConfig* cfg = zarGetConfig();
  return cfg != nullptr ? cfg->debugLevel : 0;
}

void SleepOneSecond() {
  timespec left{1, 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int TakeFileLock(int isfd, int timeout, int* count) {
  // The lock is held for the length of one row's read and rewrite, so a
  // second's sleep per collision would make busy processes crawl (and fail
  // after a few collisions); the time-out still counts seconds.
  constexpr int kPollsPerSecond = 100;
  for (int polls = 0;; ++polls) {
    if (islock(isfd) == 0) return 0;
    if (iserrno != ERECLOCKED && iserrno != EFILELOCKED) return -1;
    if (polls > 0 && polls % kPollsPerSecond == 0 && ++*count >= timeout) return 1;
    timespec left{0, 1000000000 / kPollsPerSecond};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
}

int TableKey(zarHandle* handle, int32_t id, int number, IsamKeyDesc* key) {
  const int fd = handle->tableFd[id];
  if (number < 1 || number > 2 || id < 1 || id >= ZAR_TABLE_SLOTS || fd < 0) {
    return isindexinfo(fd, key, number);
  }
  const uint8_t bit = static_cast<uint8_t>(1u << (number - 1));
  IsamKeyDesc& kept = handle->tableKeys[id][number - 1];
  if (!(handle->tableKeysHeld[id] & bit)) {
    if (isindexinfo(fd, &kept, number) != 0) return -1;
    handle->tableKeysHeld[id] = static_cast<uint8_t>(handle->tableKeysHeld[id] | bit);
  }
  *key = kept;
  return 0;
}

void ForgetTable(zarHandle* handle, int32_t id) {
  if (id < 1 || id >= ZAR_TABLE_SLOTS) return;
  handle->tableKeysHeld[id] = 0;
  if (id == SMC_TAB_OBJECT && handle->commitFileOpen) {
    isclose(handle->commitFile);
    handle->commitFileOpen = 0;
  }
}

const char* TablePath(int32_t id) {
  const CatalogTableDesc* desc = smcTableDesc(id);
  const TevConfig* cfg = zarGetConfig();
  if (desc == nullptr || cfg == nullptr) return "";
  for (int i = 0; i < CFG_TABLE_COUNT; ++i) {
    if (std::strcmp(kConfigTableNames[i], desc->name) == 0) return cfg->tablePaths[i];
  }
  return "";
}

int StartRecordOrder(int isfd) {
  IsamKeyDesc none = Key({});
  return isstart(isfd, &none, 0, nullptr, IS_FIRST);
}

int BuildTable(zarHandle* handle, int32_t id, IsamKeyDesc primary,
               std::initializer_list<IsamKeyDesc> indexes, int index_fail_result) {
  const char* path = TablePath(id);
  int fd = isbuild(path, catalogTables[id].reclen, &primary, IS_INOUT | IS_EXCLLOCK);
  if (fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), path);
    return -1;
  }
  // The file number goes into the handle at once, so that the catalog close
  // (or a drop) also closes a table whose index could not be added.
  ForgetTable(handle, id);
  handle->tableFd[id] = fd;
  for (IsamKeyDesc index : indexes) {
    if (isaddindex(fd, &index) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88106), path);
      return index_fail_result;
    }
  }
  return 0;
}

}  // namespace smc

const CatalogTableDesc* smcTableDesc(int32_t id) {
  return id >= 1 && id <= 9 ? &catalogTables[id] : nullptr;
}

void smcCountColumns() {
  for (int32_t id = 1; id <= 9; ++id) {
    CatalogTableDesc& desc = catalogTables[id];
    int32_t n = 0;
    while (desc.columns[n].name[0] != '\0') ++n;
    desc.ncolumns = n;
    desc.path = smc::TablePath(id);
  }
}

namespace {

// A table id outside 1..9: message 88122, and false.
bool ValidId(int32_t id) {
  if (smcTableDesc(id) != nullptr) return true;
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88122), id);
  return false;
}

bool Locked(int err) { return err == ERECLOCKED || err == EFILELOCKED; }

// The open file has the table's fixed record length.
bool RowsFit(int fd, const CatalogTableDesc& desc) {
  IsamDictInfo info{};
  return isindexinfo(fd, &info, 0) == 0 && (info.nindexes & 0x8000) == 0 &&
         info.reclen == desc.reclen;
}

void TraceTimeout(const zarHandle* handle, int tries) {
  SM_TRACE(137, "Session %d lock_timeout=%d, Timeout, because the catalog table is locked.",
           handle->sessionId, tries);
}

}  // namespace

int zarCatalogTableOpen(zarHandle* handle, int32_t id, int32_t mode) {
  static const char kName[] = "zarCatalogTableOpen";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else {
    const CatalogTableDesc& desc = catalogTables[id];
    const char* path = smc::TablePath(id);
    SM_TRACE(135, "Opening catalog table '%s', id = %d at '%s'.", desc.name, id, path);
    if (handle->tableFd[id] >= 0) {
      SM_TRACE(135, "Table '%s', id = %d is already open.", desc.name, id);
      rc = 13;
    } else {
      int isam_mode = IS_INOUT | ((mode & SMC_OPEN_EXCLUSIVE) ? IS_EXCLLOCK : IS_MANULOCK);
      const int attempts = smc::LockTimeout() + 1;
      int tries = 0;
      int fd = -1;
      for (;;) {
        fd = isopen(path, isam_mode);
        ++tries;
        if (fd >= 0 || !Locked(iserrno) || tries >= attempts) break;
        smc::SleepOneSecond();
      }
      if (fd >= 0 && !RowsFit(fd, desc)) {
        // Rows of another length would not fit the table's row buffers.
        isclose(fd);
        iserrno = EBADFILE;
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), path);
        rc = 19;
      } else if (fd >= 0) {
        smc::ForgetTable(handle, id);
        handle->tableFd[id] = fd;
      } else if (Locked(iserrno)) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88105), "lock");
        TraceTimeout(handle, tries);
        rc = 19;
      } else if (iserrno == ENOENT) {
        rc = 88113;
      } else {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), path);
        rc = 19;
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcCatalogTableClose(zarHandle* handle, int32_t id) {
  static const char kName[] = "smcCatalogTableClose";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else {
    SM_TRACE(135, "Closing catalog table '%s', id = %d.", catalogTables[id].name, id);
    // The handle's own files of the table go with it.
    smc::ForgetTable(handle, id);
    if (handle->tableFd[id] < 0) {
      SM_TRACE(135, "Table is not open.");
    } else if (isclose(handle->tableFd[id]) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88104), handle->tableFd[id],
                catalogTables[id].name);
      rc = 3;
    } else {
      handle->tableFd[id] = -1;
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcCatalogTableLock(zarHandle* handle, int32_t id) {
  static const char kName[] = "smcCatalogTableLock";
  const bool trace = smc::DebugLevel() != 0;
  if (trace) SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else {
    int tries = 0;
    int got = smc::TakeFileLock(handle->tableFd[id], smc::LockTimeout(), &tries);
    if (got != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88105), smc::TablePath(id));
      if (got == 1) TraceTimeout(handle, tries);
      rc = 19;
    }
  }
  if (trace) SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcCatalogTableUnlock(zarHandle* handle, int32_t id) {
  static const char kName[] = "smcCatalogTableUnlock";
  const bool trace = smc::DebugLevel() != 0;
  if (trace) SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else if (isunlock(handle->tableFd[id]) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88123), smc::TablePath(id));
    rc = 19;
  }
  if (trace) SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcCatalogTableDrop(zarHandle*, int32_t id) {
  static const char kName[] = "smcCatalogTableDrop";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else if (iserase(smc::TablePath(id)) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88121), smc::TablePath(id));
    rc = 19;
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcCatalogTableRename(zarHandle*, int32_t id, const char* new_name) {
  static const char kName[] = "smcCatalogTableRename";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (!ValidId(id)) {
    rc = 3;
  } else {
    const char* path = smc::TablePath(id);
    const int attempts = smc::LockTimeout() + 1;
    for (int tries = 1;; ++tries) {
      if (isrename(path, new_name) == 0) break;
      if (!Locked(iserrno) || tries >= attempts) {
        SM_TRACE(137, SM_MSG(88124), path, new_name);
        rc = 3;
        break;
      }
      smc::SleepOneSecond();
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
