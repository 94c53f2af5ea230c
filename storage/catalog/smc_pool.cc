// Pools (layout in smc_pool.h): the built-in pools, the pool table's rows,
// and the mapping between stored ids and presented ids (stored + 3).
#include "storage/catalog/smc_pool.h"

#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "storage/catalog/pending_calls.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_lock.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smhandle.h"

const CatalogColumnDesc smcPoolColumns[] = {
    {"pool_id", SMC_COL_INT4, 0, 4},
    {"pool_name", SMC_COL_CHAR, 4, 24},
    {"", 0, 0, 0},
};

namespace {

const char* const kBuiltIn[SMC_POOL_BUILTIN] = {"DBSPOOL", "LOGPOOL", "EXTPOOL"};

// 1..3 for a built-in name (compared exactly), else 0.
int BuiltInId(const char* name) {
  for (int i = 0; i < SMC_POOL_BUILTIN; ++i) {
    if (std::strcmp(name, kBuiltIn[i]) == 0) return i + 1;
  }
  return 0;
}

void SetPool(TevPool* pool, int32_t id, const char* name) {
  pool->pool_id = id;
  std::snprintf(pool->pool_name, sizeof pool->pool_name, "%s", name);
}

// A pool from a stored row.
void FromRow(const unsigned char* row, TevPool* pool) {
  char name[SMC_POOL_NAME_LEN + 1];
  ldchar(reinterpret_cast<const char*>(row + 4), SMC_POOL_NAME_LEN, name);
  SetPool(pool, ldlong(row) + SMC_POOL_BUILTIN, name);
}

// Finds the row whose key (index 1 the stored id, index 2 the name) equals
// the row buffer's. 0 with the row; 17 no such row; 19 a failure.
int FindRow(int fd, int index, unsigned char* row, bool log_index_failure) {
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, index) != 0) {
    if (log_index_failure) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "pool");
    } else {
      SM_TRACE(137, SM_MSG(88111), "pool");
    }
    return 19;
  }
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0 || isread(fd, row, IS_CURRENT) != 0) {
    if (iserrno == ENORECORD) return 17;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "pool");
    return 19;
  }
  return 0;
}

}  // namespace

int zarCreatePoolTab(zarHandle* handle) {
  static const char kName[] = "zarCreatePoolTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_POOL, smc::Key({{0, 4, 2}}),
                           {smc::Key({{4, SMC_POOL_NAME_LEN, 0}})}, 19);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarGetPoolList(zarHandle* handle, TypedList** out) {
  static const char kName[] = "zarGetPoolList";
  SM_TRACE(136, "%s: enter", kName);
  int32_t status = 0;
  TypedList* list = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  int rc = 0;
  if (list == nullptr || (status != LL_OK && status != LL_EMPTY)) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88048), status);
    rc = 19;
  } else {
    auto append = [&](int32_t id, const char* name) {
      auto* pool = static_cast<TevPool*>(sm_zalloc(sizeof(TevPool)));
      if (pool == nullptr) {
        SM_TRACE(136, "%s", SM_MSG(88002));
        return false;
      }
      SetPool(pool, id, name);
      ll_insert(list, pool, &status);
      if (status != LL_OK) {
        SM_TRACE(137, "%s", SM_MSG(88002));
        void* p = pool;
        sm_free(&p);
        return false;
      }
      return true;
    };
    for (int i = 0; i < SMC_POOL_BUILTIN && rc == 0; ++i) {
      if (!append(i + 1, kBuiltIn[i])) rc = 19;
    }
    const int fd = handle->tableFd[SMC_TAB_POOL];
    if (rc == 0 && smc::StartRecordOrder(fd) != 0) {
      SM_TRACE(136, "isstart: Could not locate record");
      rc = 19;
    }
    unsigned char row[SMC_POOL_RECLEN];
    while (rc == 0) {
      if (isread(fd, row, IS_NEXT) != 0) {
        if (iserrno != EENDFILE) {
          SM_TRACE(136, "isread: could not read pool record");
          rc = 19;
        }
        break;
      }
      TevPool pool{};
      FromRow(row, &pool);
      if (!append(pool.pool_id, pool.pool_name)) rc = 19;
    }
    if (rc == 0) {
      *out = list;
    } else {
      ll_destroy(&list, 1, &status);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarInsertPool(zarHandle* handle, TevPool* pool) {
  static const char kName[] = "zarInsertPool";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (BuiltInId(pool->pool_name) == 0) {
    int64_t stored = 0;
    if (dsmSerialMgr(handle, SMC_SER_POOL, &stored) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88183));
      rc = 19;
    } else {
      pool->pool_id = static_cast<int32_t>(stored) + SMC_POOL_BUILTIN;
      unsigned char row[SMC_POOL_RECLEN];
      stlong(stored, row);
      stchar(pool->pool_name, reinterpret_cast<char*>(row + 4), SMC_POOL_NAME_LEN);
      if (iswrite(handle->tableFd[SMC_TAB_POOL], row) != 0) {
        if (iserrno == EDUPLICATE) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88184));
        } else {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88185));
        }
        rc = 19;
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarDeletePool(zarHandle* handle, const char* name) {
  static const char kName[] = "zarDeletePool";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (BuiltInId(name) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88194));
    rc = 3;
  } else {
    const int fd = handle->tableFd[SMC_TAB_POOL];
    unsigned char row[SMC_POOL_RECLEN] = {};
    stchar(name, reinterpret_cast<char*>(row + 4), SMC_POOL_NAME_LEN);
    rc = FindRow(fd, 2, row, true);
    if (rc == 17) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88187));
    if (rc == 0) {
      TypedList* devices = nullptr;
      const int32_t pool_id = ldlong(row) + SMC_POOL_BUILTIN;
      rc = zarGetDeviceList(handle, 0, pool_id, 0, &devices);
      if (rc != 0) {
        SM_TRACE(137, "zarGetDeviceList error");
      } else if (devices != nullptr && devices->head != nullptr) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88195));
        rc = 3;
      } else if (isdelcurr(fd) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "pool");
        rc = 19;
      }
      int32_t status = 0;
      if (devices != nullptr) ll_destroy(&devices, 1, &status);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarGetPoolId(zarHandle* handle, const char* name, TevPool* pool) {
  static const char kName[] = "zarGetPoolId";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (int id = BuiltInId(name); id != 0) {
    SetPool(pool, id, name);
  } else {
    unsigned char row[SMC_POOL_RECLEN] = {};
    stchar(name, reinterpret_cast<char*>(row + 4), SMC_POOL_NAME_LEN);
    rc = FindRow(handle->tableFd[SMC_TAB_POOL], 2, row, false);
    if (rc == 17) SM_TRACE(137, "Pool was not found");
    if (rc == 0) FromRow(row, pool);
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarGetPoolName(zarHandle* handle, int32_t pool_id, TevPool* pool) {
  static const char kName[] = "zarGetPoolName";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (pool_id >= 1 && pool_id <= SMC_POOL_BUILTIN) {
    SetPool(pool, pool_id, kBuiltIn[pool_id - 1]);
  } else {
    unsigned char row[SMC_POOL_RECLEN] = {};
    stlong(int64_t{pool_id} - SMC_POOL_BUILTIN, row);
    rc = FindRow(handle->tableFd[SMC_TAB_POOL], 1, row, false);
    if (rc == 17) SM_TRACE(137, "Pool was not found");
    if (rc == 0) FromRow(row, pool);
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcDumpPoolTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      "isbuild: Cannot open the Pool table '%s'. iserrno = %d.\n", "Empty pool table.\n",
      "isread: could not read pool record. iserrno = %d\n", 19};
  return smc::DumpTable(SMC_TAB_POOL, stream, delimiter, kTexts);
}
