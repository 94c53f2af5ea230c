// The object and object_path tables (layouts in smc_obj.h): descriptors and
// creation.
#include "storage/catalog/smc_obj.h"

#include "isam/isam.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

const CatalogColumnDesc smcObjectPathColumns[] = {
    {"pth_id", SMC_COL_INT8, 0, 8},
    {"pth_hash", SMC_COL_INT8, 8, 8},
    {"pth_type", SMC_COL_CHAR, 16, 1},
    {"pth_recent_id", SMC_COL_INT8, 17, 8},
    {"pth_recent_ts", SMC_COL_INT8, 25, 8},
    {"pth_name", SMC_COL_CHAR, 33, 1024},
    {"pth_pathname", SMC_COL_CHAR, 1057, 1024},
    {"", 0, 0, 0},
};

const CatalogColumnDesc smcObjectColumns[] = {
    {"obj_txid", SMC_COL_INT4, 0, 4},
    {"obj_status", SMC_COL_CHAR, 4, 1},
    {"obj_pathid", SMC_COL_INT8, 5, 8},
    {"obj_desc", SMC_COL_CHAR, 13, 256},
    {"obj_info", SMC_COL_CHAR, 269, 512},
    {"obj_encoding", SMC_COL_CHAR, 781, 31},
    {"obj_owner", SMC_COL_CHAR, 812, 64},
    {"obj_appowner", SMC_COL_CHAR, 876, 64},
    {"obj_sessionid", SMC_COL_INT4, 940, 4},
    {"obj_copyid", SMC_COL_INT8, 944, 8},
    {"obj_version", SMC_COL_INT4, 952, 4},
    {"obj_bytes_lo", SMC_COL_INT4, 956, 4},
    {"obj_bytes_hi", SMC_COL_INT4, 960, 4},
    {"obj_restore_lo", SMC_COL_INT4, 964, 4},
    {"obj_restore_hi", SMC_COL_INT4, 968, 4},
    {"obj_usercount", SMC_COL_INT4, 972, 4},
    {"obj_createtime", SMC_COL_INT8, 976, 8},
    {"obj_timestamp", SMC_COL_INT8, 984, 8},
    {"", 0, 0, 0},
};

namespace {

// Builds, then flushes, a table of this module.
int Create(const char* name, zarHandle* handle, int32_t id, IsamKeyDesc primary,
           IsamKeyDesc index) {
  SM_TRACE(136, "%s: enter", name);
  int rc = smc::BuildTable(handle, id, primary, {index}, -1);
  if (rc == 0) isflush(handle->tableFd[id]);
  SM_TRACE(136, "%s: return %d (0x%02x)", name, rc, rc);
  return rc;
}

}  // namespace

int smcCreateObjectPathTab(zarHandle* handle) {
  return Create("smcCreateObjectPathTab", handle, SMC_TAB_OBJECT_PATH, smc::Key({{0, 8, 13}}),
                smc::Key({{8, 8, 13}}, IS_DUPS));
}

int zarCreateObjectTab(zarHandle* handle) {
  return Create("zarCreateObjectTab", handle, SMC_TAB_OBJECT, smc::Key({{944, 8, 13}}),
                smc::Key({{5, 8, 13}, {952, 4, 2}}, IS_DUPS));
}
