// The session table (layout in smc_ses.h) and the removal of a closing
// session's marks from the device and object rows.
#include "storage/catalog/smc_ses.h"

#include <unistd.h>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/pending_calls.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_obj.h"
#include "storage/command/sm_trace.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"

const CatalogColumnDesc smcSessionColumns[] = {
    {"ses_sessionid", SMC_COL_INT4, 0, 4},
    {"ses_processid", SMC_COL_INT4, 4, 4},
    {"", 0, 0, 0},
};

int zarCreateSessionTab(zarHandle* handle) {
  static const char kName[] = "zarCreateSessionTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_SESSION, smc::Key({{0, 4, 2}}), {}, -1);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcInsertSession(zarHandle* handle, int32_t session_id) {
  unsigned char row[SMC_SESSION_RECLEN];
  stlong(session_id, row);
  stlong(static_cast<int64_t>(getpid()), row + 4);
  if (iswrite(handle->tableFd[SMC_TAB_SESSION], row) != 0) {
    SM_TRACE(136, "Cannot insert session record.");
    return 19;
  }
  return 0;
}

namespace {

// The session-close scan failed: message 88063 in the debug log.
int ScanFailure(const char* what) {
  SM_TRACE(2048, SM_MSG(88063), what);
  return 19;
}

// Step 2: the session's devices lose their session mark.
int ClearDevices(zarHandle* handle) {
  const int fd = handle->tableFd[SMC_TAB_DEVICE];
  if (smc::StartRecordOrder(fd) != 0) return ScanFailure("could not locate first device record");
  unsigned char row[SMC_DEVICE_RECLEN];
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      return ScanFailure("could not read device record");
    }
    if (ldlong(row + SMC_DEV_SESSION_ID) != handle->sessionId) continue;
    stlong(0, row + SMC_DEV_SESSION_ID);
    if (isrewcurr(fd, row) != 0) return ScanFailure("could not update device record");
  }
}

// Step 3: the object rows this session inserted lose their session mark. A
// record number can have been given up by a rolled-back row and reused by
// another session's row since, so only rows that still carry this session
// are changed.
void ClearObjects(zarHandle* handle) {
  const int fd = handle->tableFd[SMC_TAB_OBJECT];
  int32_t status = 0;
  IsamKeyDesc none = smc::Key({});
  for (void* e = ll_first(handle->objectList, &status); e != nullptr && status == LL_OK;
       e = ll_next(handle->objectList, &status)) {
    const int recnum = *static_cast<const int32_t*>(e);
    SM_TRACE(130, "Updating recnum = %d.", recnum);
    isrecnum = recnum;
    if (isstart(fd, &none, 0, nullptr, IS_EQUAL) != 0) continue;
    unsigned char row[SMC_OBJECT_RECLEN];
    if (isread(fd, row, IS_CURRENT) != 0) {
      if (iserrno == EENDFILE) break;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      continue;
    }
    if (ldlong(row + SMC_OBJ_SESSIONID) != handle->sessionId) continue;
    if (smc::DebugLevel() == 9) {
      int64_t copy_id = 0;
      ldbigint(&copy_id, row + SMC_OBJ_COPYID);
      SM_TRACE(129, "Updating recnum = %d. ObjectID = %lld.", recnum,
               static_cast<long long>(copy_id));
    }
    stlong(0, row + SMC_OBJ_SESSIONID);
    if (isrewcurr(fd, row) != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "object");
  }
}

// Step 4: the session's own row goes.
int DeleteSessionRow(zarHandle* handle) {
  const int fd = handle->tableFd[SMC_TAB_SESSION];
  if (smc::StartRecordOrder(fd) != 0) return ScanFailure("could not locate first session record");
  unsigned char row[SMC_SESSION_RECLEN];
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      return ScanFailure("could not read session record");
    }
    if (ldlong(row) != handle->sessionId) continue;
    if (isdelcurr(fd) != 0) return ScanFailure("could not delete session record");
  }
}

}  // namespace

int smcDeleteSession(zarHandle* handle) {
  static const char kName[] = "smcDeleteSession";
  SM_TRACE(136, "%s: enter", kName);
  // Every mount of the handle ends; a mount that cannot be taken out stops
  // the walk rather than being offered again and again.
  int32_t status = 0;
  void* previous = nullptr;
  while (void* mount = ll_first(handle->mountList, &status)) {
    if (mount == previous) break;
    removeMountList(handle, static_cast<TevMount*>(mount));
    previous = mount;
  }
  int rc = ClearDevices(handle);
  if (rc == 0) {
    ClearObjects(handle);
    rc = DeleteSessionRow(handle);
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return 0;
}

int smcDumpSessionTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      "isbuild: Cannot open the Session table '%s'. iserrno = %d.\n", "Empty SESSION table.\n",
      "isread: could not read session table record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_SESSION, stream, delimiter, kTexts);
}
