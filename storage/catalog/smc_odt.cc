// The object_detail table (layout in smc_odt.h): descriptor and creation.
#include "storage/catalog/smc_odt.h"

#include "isam/isam.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"

const CatalogColumnDesc smcDetailColumns[] = {
    {"det_vol_id", SMC_COL_INT4, 0, 4},
    {"det_vol_seq", SMC_COL_INT4, 4, 4},
    {"det_copy_id", SMC_COL_INT8, 8, 8},
    {"det_copy_seq", SMC_COL_INT4, 16, 4},
    {"det_copy_size", SMC_COL_INT8, 20, 8},
    {"", 0, 0, 0},
};

int zarCreateDetailTab(zarHandle* handle) {
  static const char kName[] = "zarCreateDetailTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_DETAIL, smc::Key({{8, 8, 13}}, IS_DUPS), {}, -1);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
