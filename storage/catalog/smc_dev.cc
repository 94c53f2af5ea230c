// The device table (layout in smc_dev.h): descriptor and creation.
#include "storage/catalog/smc_dev.h"

#include "isam/isam.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"

const CatalogColumnDesc smcDeviceColumns[] = {
    {"dev_name", SMC_COL_CHAR, 0, 120},
    {"dev_read_cmd", SMC_COL_CHAR, 120, 120},
    {"dev_write_cmd", SMC_COL_CHAR, 376, 120},
    {"dev_priority", SMC_COL_INT4, 632, 4},
    {"dev_type", SMC_COL_CHAR, 636, 5},
    {"dev_cloud_prov", SMC_COL_INT4, 641, 4},
    {"dev_blocksize", SMC_COL_INT8, 645, 8},
    {"dev_media_size", SMC_COL_INT8, 653, 8},
    {"dev_part_size", SMC_COL_INT8, 661, 8},
    {"dev_status", SMC_COL_CHAR, 669, 1},
    {"dev_timestamp", SMC_COL_INT8, 670, 8},
    {"dev_pool_id", SMC_COL_INT4, 678, 4},
    {"dev_session_id", SMC_COL_INT4, 682, 4},
    {"dev_username", SMC_COL_CHAR, 686, 128},
    {"dev_password", SMC_COL_CHAR, 814, 128},
    {"dev_stdio_r", SMC_COL_CHAR, 942, 128},
    {"dev_stdio_w", SMC_COL_CHAR, 1070, 128},
    {"dev_stdio_d", SMC_COL_CHAR, 1198, 128},
    {"dev_url", SMC_COL_CHAR, 1326, 256},
    {"dev_container", SMC_COL_CHAR, 1582, 256},
    {"", 0, 0, 0},
};

int zarCreateDeviceTab(zarHandle* handle) {
  static const char kName[] = "zarCreateDeviceTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_DEVICE, smc::Key({{0, 120, 0}}, IS_DUPS),
                           {smc::Key({{682, 4, 2}}, IS_DUPS),
                            smc::Key({{678, 4, 2}, {632, 4, 2}}, IS_DUPS)},
                           -1);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcDumpDeviceTab(FILE* stream, char delimiter) {
  // The command columns are read from the first 120 bytes of their slots,
  // the descriptor's length.
  static const smc::DumpTexts kTexts = {"isbuild: Cannot open the Device table '%s'. iserrno = %d.\n",
                                        "Empty DEVICE table.\n",
                                        "isread: could not read device record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_DEVICE, stream, delimiter, kTexts);
}
