// The volume table (layout in smc_vol.h): descriptor and creation.
#include "storage/catalog/smc_vol.h"

#include "isam/isam.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"

const CatalogColumnDesc smcVolumeColumns[] = {
    {"vol_sessionid", SMC_COL_INT4, 0, 4},
    {"vol_txid", SMC_COL_INT4, 4, 4},
    {"vol_volid", SMC_COL_INT4, 8, 4},
    {"vol_vol_label", SMC_COL_CHAR, 12, 80},
    {"vol_vol_path", SMC_COL_CHAR, 92, 256},
    {"vol_pool_id", SMC_COL_INT4, 348, 4},
    {"vol_version", SMC_COL_CHAR, 352, 18},
    {"vol_crea_date", SMC_COL_CHAR, 370, 20},
    {"vol_mod_date", SMC_COL_CHAR, 390, 20},
    {"vol_number_obj", SMC_COL_INT4, 410, 4},
    {"vol_lifecycle", SMC_COL_INT4, 414, 4},
    {"vol_timestamp", SMC_COL_INT8, 418, 8},
    {"vol_status", SMC_COL_CHAR, 426, 1},
    {"vol_bytfree_hi", SMC_COL_INT4, 427, 4},
    {"vol_bytfree_lo", SMC_COL_INT4, 431, 4},
    {"vol_type", SMC_COL_CHAR, 435, 5},
    {"vol_platform", SMC_COL_CHAR, 440, 32},
    {"", 0, 0, 0},
};

int zarCreateVolumeTab(zarHandle* handle) {
  static const char kName[] = "zarCreateVolumeTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_VOLUME, smc::Key({{8, 4, 2}}),
                           {smc::Key({{92, 120, 0}}, IS_DUPS),
                            smc::Key({{4, 4, 2}, {0, 4, 2}}, IS_DUPS)},
                           -1);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
