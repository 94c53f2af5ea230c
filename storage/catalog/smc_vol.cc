// The volume table (layout in smc_vol.h): descriptor, creation, fetches,
// transaction and status resets, dump.
#include "storage/catalog/smc_vol.h"

#include <string>
#include <string_view>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

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

namespace {

// The wanted or stored path without trailing blanks.
std::string_view PathOf(const unsigned char* row) {
  const char* text = reinterpret_cast<const char*>(row + SMC_VOL_PATH);
  return std::string_view(text, static_cast<size_t>(bylengnb(text, SMC_VOL_PATH_LEN)));
}

// Walks every row of fd in the order of index `index` and gives each to
// change (true: rewrite it). 0; 19.
template <typename Change>
int RewriteRows(int fd, int index, const char* path, Change change) {
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, index) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), path);
    return 19;
  }
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  if (isstart(fd, &key, 0, row, IS_FIRST) != 0) return 0;
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
      return 19;
    }
    if (!change(row)) continue;
    if (isrewcurr(fd, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), path);
      return 19;
    }
  }
}

}  // namespace

int smcFetchVolume(zarHandle* handle, unsigned char* row) {
  if (handle == nullptr) return 22;
  const int fd = handle->tableFd[SMC_TAB_VOLUME];
  const char* path = smc::TablePath(SMC_TAB_VOLUME);
  IsamKeyDesc key{};
  if (smc::TableKey(handle, SMC_TAB_VOLUME, 1, &key) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), path);
    return 19;
  }
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0 || isread(fd, row, IS_CURRENT) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
    return 19;
  }
  return 0;
}

int smcFetchVolumeByPath(zarHandle* handle, unsigned char* row) {
  if (handle == nullptr) return 22;
  const int fd = handle->tableFd[SMC_TAB_VOLUME];
  const char* path = smc::TablePath(SMC_TAB_VOLUME);
  const std::string wanted(PathOf(row));
  IsamKeyDesc key{};
  if (smc::TableKey(handle, SMC_TAB_VOLUME, 2, &key) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), path);
    return 19;
  }
  // The index holds only the first 120 bytes of a path: paths that share
  // them are told apart by comparing the whole stored path.
  unsigned char found[SMC_VOLUME_RECLEN];
  if (isstart(fd, &key, 0, row, IS_FIRST) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
    return 17;
  }
  for (;;) {
    if (isread(fd, found, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 17;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
      return 19;
    }
    if (PathOf(found) == wanted) {
      bycopy(found, row, SMC_VOLUME_RECLEN);
      return 0;
    }
  }
}

int smcVolumeClearTxn(zarHandle* handle, int32_t transaction_id, int32_t session_id) {
  if (handle == nullptr) return 22;
  return RewriteRows(handle->tableFd[SMC_TAB_VOLUME], 3, smc::TablePath(SMC_TAB_VOLUME),
                     [&](unsigned char* row) {
                       if (ldlong(row + SMC_VOL_TXID) != transaction_id ||
                           ldlong(row) != session_id) {
                         return false;
                       }
                       stlong(0, row + SMC_VOL_TXID);
                       return true;
                     });
}

int smcVolumeTabUnlockAll(int32_t volume_id) {
  const char* path = smc::TablePath(SMC_TAB_VOLUME);
  const int fd = isopen(path, IS_INOUT | IS_MANULOCK);
  if (fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), path);
    return 19;
  }
  const int rc = RewriteRows(fd, 1, path, [&](unsigned char* row) {
    if (volume_id != 0 && ldlong(row + SMC_VOL_VOLID) != volume_id) return false;
    row[SMC_VOL_STATUS] = 'I';
    return true;
  });
  isclose(fd);
  return rc;
}

int smcDumpVolumeTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {nullptr, "Empty VOLUME table.\n",
                                        "isread: could not read volume record. iserrno = %d\n", 0};
  smc::DumpTable(SMC_TAB_VOLUME, stream, delimiter, kTexts);
  return 0;
}
