// The object_detail table (layout in smc_odt.h): descriptor, creation, part
// numbers, fetch and deletion of a copy's parts, dump.
#include "storage/catalog/smc_odt.h"

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

const CatalogColumnDesc smcDetailColumns[] = {
    {"det_vol_id", SMC_COL_INT4, 0, 4},
    {"det_vol_seq", SMC_COL_INT4, 4, 4},
    {"det_copy_id", SMC_COL_INT8, 8, 8},
    {"det_copy_seq", SMC_COL_INT4, 16, 4},
    {"det_copy_size", SMC_COL_INT8, 20, 8},
    {"", 0, 0, 0},
};

namespace {

constexpr int kCopyId = 8;
constexpr int kCopySeq = 16;

// The process-wide file of smcDeleteDetails; -1 while closed.
int detailFd = -1;

int64_t CopyIdOf(const unsigned char* row) {
  int64_t v = 0;
  ldbigint(&v, row + kCopyId);
  return v;
}

void CloseDetailFd() {
  if (detailFd >= 0) isclose(detailFd);
  detailFd = -1;
}

}  // namespace

int zarCreateDetailTab(zarHandle* handle) {
  static const char kName[] = "zarCreateDetailTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_DETAIL, smc::Key({{8, 8, 13}}, IS_DUPS), {}, -1);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcDetailTabOpen() {
  if (detailFd >= 0) return 0;
  detailFd = isopen(smc::TablePath(SMC_TAB_DETAIL), IS_INOUT | IS_MANULOCK);
  return detailFd >= 0 ? 0 : 19;
}

int smcDeleteDetails(int64_t copy_id) {
  if (smcDetailTabOpen() != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), "object_detail");
    return 19;
  }
  const char* path = smc::TablePath(SMC_TAB_DETAIL);
  IsamKeyDesc key{};
  if (isindexinfo(detailFd, &key, 1) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), path);
    return 19;
  }
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stbigint(copy_id, row + kCopyId);
  if (isstart(detailFd, &key, 0, row, IS_EQUAL) != 0) return 0;
  // The rows of one copy lie together in key order: the first row of
  // another copy ends the walk as the end of the table does, so deleting a
  // copy costs its own rows, not the rest of the table.
  for (;;) {
    if (isread(detailFd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) break;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
      return 19;
    }
    if (CopyIdOf(row) != copy_id) break;
    if (isdelcurr(detailFd) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), path);
      return 19;
    }
  }
  CloseDetailFd();
  return 0;
}

int dsmGetNextDetailSeq(zarHandle* handle, int64_t copy_id, int32_t* part) {
  static const char kName[] = "dsmGetNextDetailSeq";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  *part = 0;
  SM_TRACE(129, "Searching for object ID = %lld.", static_cast<long long>(copy_id));
  const int fd = handle->tableFd[SMC_TAB_DETAIL];
  IsamKeyDesc key{};
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  int32_t highest = 0;
  if (smc::TableKey(handle, SMC_TAB_DETAIL, 1, &key) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate detail index");
    rc = 19;
  } else {
    stbigint(copy_id, row + kCopyId);
    if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
      SM_TRACE(136, "No detail records found. End of File reached.");
    } else {
      for (;;) {
        if (isread(fd, row, IS_NEXT) != 0) {
          if (iserrno == EENDFILE) {
            SM_TRACE(136, "End of scan reached.");
            break;
          }
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_detail");
          rc = 19;
          break;
        }
        if (CopyIdOf(row) != copy_id) {
          SM_TRACE(136, "End of scan reached.");
          break;
        }
        const int32_t seq = ldlong(row + kCopySeq);
        if (seq > highest) highest = seq;
      }
    }
    if (rc == 0) {
      SM_TRACE(133, "Next Sequence = %d.", highest + 1);
      *part = highest + 1;
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int dsmFetchDetail(zarHandle* handle, unsigned char* row) {
  const int fd = handle->tableFd[SMC_TAB_DETAIL];
  IsamKeyDesc key{};
  if (smc::TableKey(handle, SMC_TAB_DETAIL, 1, &key) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate detail index");
    return 19;
  }
  const int64_t copy_id = CopyIdOf(row);
  const int32_t part = ldlong(row + kCopySeq);
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) return 17;
  unsigned char found[SMC_DETAIL_RECLEN];
  for (;;) {
    if (isread(fd, found, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 17;
      SM_TRACE(2048, SM_MSG(88063), "could not read detail record");
      return 19;
    }
    if (CopyIdOf(found) != copy_id) return 17;
    if (ldlong(found + kCopySeq) == part) {
      bycopy(found, row, SMC_DETAIL_RECLEN);
      return 0;
    }
  }
}

int smcDumpDetailTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      "isbuild: Cannot open the Object Detail table '%s'. iserrno = %d.\n",
      "Empty OBJECT DETAIL table.\n",
      "isread: could not read Object Detail record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_DETAIL, stream, delimiter, kTexts);
}
