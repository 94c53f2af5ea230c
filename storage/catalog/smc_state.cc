// UNLOCK and DETAIL (smc_state.h).
#include "storage/catalog/smc_state.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_export.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"

namespace {

// Object row columns the report reads (layout in smc_obj.h).
constexpr int kObjPathId = 5;
constexpr int kObjTimestamp = 984;
// Path row columns.
constexpr int kPthName = 33;
constexpr int kPthPathName = 1057;
constexpr int kPthTextLen = 1024;

// A handle of the command's own, without a session, destroyed with its
// open tables when it goes out of scope.
class OwnHandle {
 public:
  OwnHandle() {
    rc_ = create_bsa_handle(&number_);
    if (rc_ == 0) rc_ = find_bsa_handle(number_, &handle_, __FILE__, __LINE__);
    if (rc_ != 0) handle_ = nullptr;
  }
  ~OwnHandle() {
    if (number_ == 0) return;
    if (handle_ != nullptr) {
      for (int32_t id = 1; id <= 9; ++id) smcCatalogTableClose(handle_, id);
    }
    destroy_bsa_handles(number_);
  }
  OwnHandle(const OwnHandle&) = delete;
  OwnHandle& operator=(const OwnHandle&) = delete;
  int rc() const { return rc_; }
  zarHandle* get() const { return handle_; }

 private:
  uint32_t number_ = 0;
  zarHandle* handle_ = nullptr;
  int rc_ = 0;
};

// "%04d-%02d-%02d %02d:%02d:%02d" of the local time, or the x pattern when
// the time cannot be converted.
const char* LocalTime(int64_t seconds, char* buffer, size_t size) {
  struct tm fields {};
  if (sm_localtime(&seconds, &fields) == nullptr ||
      sm_format_time(&fields, buffer, size) == nullptr) {
    std::snprintf(buffer, size, "xxxx-xx-xx xx:xx:xx");
  }
  return buffer;
}

// Session rows; "Empty SESSION table." when there are none. 0, or 19.
int PrintSessions(zarHandle* h) {
  std::printf("Sessions:\n");
  std::printf("    Session ID       Process ID\n");
  const int fd = h->tableFd[SMC_TAB_SESSION];
  if (smc::StartRecordOrder(fd) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "session");
    return 19;
  }
  unsigned char row[8];
  int rows = 0;
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) break;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "session");
      return 19;
    }
    std::printf("    %-16d %-16d\n", ldlong(row), ldlong(row + 4));
    ++rows;
  }
  if (rows == 0) std::printf("Empty SESSION table.\n");
  return 0;
}

// Objects whose time stamp says they are in use. 0, or 19.
int PrintObjectsInUse(zarHandle* h) {
  const int fd = h->tableFd[SMC_TAB_OBJECT];
  if (smc::StartRecordOrder(fd) != 0) return 19;
  unsigned char row[SMC_OBJECT_RECLEN];
  unsigned char path[SMC_PATH_RECLEN];
  char name[kPthTextLen + 1];
  char path_name[kPthTextLen + 1];
  char when[32];
  int shown = 0;
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return 19;
    }
    int64_t stamp = 0;
    ldbigint(&stamp, row + kObjTimestamp);
    if (stamp == 0) continue;
    if (shown++ == 0) std::printf("\n\n%s\n\n", SM_MSG(87017));
    int64_t path_id = 0;
    ldbigint(&path_id, row + kObjPathId);
    if (smcFetchObjectPath(h, path_id, path) == 0) {
      ldchar(reinterpret_cast<const char*>(path + kPthName), kPthTextLen, name);
      ldchar(reinterpret_cast<const char*>(path + kPthPathName), kPthTextLen, path_name);
    } else {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_path");
      std::snprintf(name, sizeof name, "Invalid Reference to Path ID = %" PRId64 ".", path_id);
      std::snprintf(path_name, sizeof path_name, "%s", name);
    }
    int64_t copy_id = 0;
    ldbigint(&copy_id, row + SMC_OBJ_COPYID);
    std::printf("%7d %12" PRId64 " %s %-21s %-s\n", ldlong(row + SMC_OBJ_SESSIONID), copy_id,
                LocalTime(stamp, when, sizeof when), name, path_name);
  }
}

// Devices with status "B" in every pool. 0, or the list's failure.
int PrintDevicesInUse(zarHandle* h) {
  TypedList* list = nullptr;
  // The same list the data path's device list gives for its in-use filter.
  int rc = smcGetDeviceList(h, 1, 0, 0, &list);
  if (rc != 0) return rc;
  int32_t status = 0;
  char when[32];
  int shown = 0;
  for (void* e = ll_first(list, &status); e != nullptr; e = ll_next(list, &status)) {
    const auto* d = static_cast<const TevDevice*>(e);
    if (shown++ == 0) std::printf("%s\n\n", SM_MSG(87011));
    std::printf("%7" PRId64 " %s %s\n", static_cast<int64_t>(d->sessionId),
                LocalTime(d->timestamp, when, sizeof when), d->name);
  }
  if (shown != 0) std::printf("\n\n");
  ll_destroy(&list, 1, &status);
  return 0;
}

}  // namespace

int zarCatalogUnlock() {
  static const char kName[] = "zarCatalogUnlock";
  SM_TRACE(136, "%s: enter", kName);
  int rc = zarGetConfig() == nullptr ? 3 : 0;
  if (rc == 0) {
    OwnHandle own;
    zarHandle* h = own.get();
    rc = own.rc();
    if (rc == 0) rc = zarCatalogTableOpen(h, SMC_TAB_LOCK, SMC_OPEN_MANUAL);
    if (rc == 0) rc = smcCatalogTableLock(h, SMC_TAB_LOCK);
    if (rc == 0) {
      unsigned char row[SMC_LOCK_RECLEN];
      rc = smcReadLockRow(h, row);
      if (rc == 0) {
        zarGetTEVid(h);
        char marker[SMC_LOCK_VERSION_LEN + 1];
        ldchar(reinterpret_cast<const char*>(row + SMC_LOCK_VERSION), SMC_LOCK_VERSION_LEN,
               marker);
        int32_t major = 0;
        int32_t minor = 0;
        // The rows of an older catalog are not of this release's layout:
        // only the lock row is touched there.
        if (smcParseVersion(marker, &major, &minor) == 0) {
          if (zarCatalogTableOpen(h, SMC_TAB_SESSION, SMC_OPEN_MANUAL) == 0) {
            zarCatalogTableErase(h, SMC_TAB_SESSION);
          }
          if (zarCatalogTableOpen(h, SMC_TAB_OBJECT, SMC_OPEN_MANUAL) == 0) {
            smcObjectTabUnlockAll(0);
          }
          if (zarCatalogTableOpen(h, SMC_TAB_DEVICE, SMC_OPEN_MANUAL) == 0) {
            smcDevTabResetStatus(0);
          }
          if (zarCatalogTableOpen(h, SMC_TAB_VOLUME, SMC_OPEN_MANUAL) == 0) {
            smcVolumeTabUnlockAll(0);
          }
        }
        stlong(0, row + SMC_LOCK_SESSID);
        stlong(0, row + SMC_LOCK_ISADM);
        if (isrewcurr(h->tableFd[SMC_TAB_LOCK], row) != 0) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "lock");
          rc = 19;
        }
      }
      smcCatalogTableUnlock(h, SMC_TAB_LOCK);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarCatalogShowDetails() {
  static const char kName[] = "zarCatalogShowDetails";
  SM_TRACE(136, "%s: enter", kName);
  const TevConfig* cfg = zarGetConfig();
  int rc = cfg == nullptr ? 3 : 0;
  if (rc == 0) {
    OwnHandle own;
    zarHandle* h = own.get();
    rc = own.rc();
    if (rc == 0) {
      rc = zarOpenDatabase(h);
      if (rc == 88114) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(87401), cfg->catalogDir);
        rc = zarCatalogCreate(h);
        if (rc != 0) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88102), cfg->catalogDir);
          rc = -1;
        } else {
          rc = smcReleaseCatalogLock(h);
          if (rc == 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(87402), cfg->catalogDir);
        }
      } else if (rc != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88115));
      }
    }
    unsigned char lock[SMC_LOCK_RECLEN];
    if (rc == 0 && (smc::StartRecordOrder(h->tableFd[SMC_TAB_LOCK]) != 0 ||
                    isread(h->tableFd[SMC_TAB_LOCK], lock, IS_NEXT) != 0)) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
      rc = 19;
    }
    if (rc == 0) {
      int64_t id = 0;
      ldbigint(&id, lock + SMC_LOCK_ID);
      const int32_t owner = ldlong(lock + SMC_LOCK_SESSID);
      std::printf("\nTarvelon Tevrin Storage Manager State:\n\n");
      std::printf("    TEV Unique ID    : %" PRId64 "\n", id);
      std::printf("    Catalog Location : %s\n", cfg->catalogDir);
      std::printf("    Catalog State    : %s\n", owner != 0 ? "Locked" : "Unlocked");
      std::printf("    Catalog Owner    : %d\n", owner);
      std::printf("    Catalog Lock Mode: %s\n",
                  ldlong(lock + SMC_LOCK_ISADM) != 0 ? "Admin" : "Regular");
      std::printf("\n\n");
      rc = PrintSessions(h);
      if (rc == 0) rc = PrintObjectsInUse(h);
      if (rc == 0) rc = PrintDevicesInUse(h);
      std::fflush(stdout);
    }
    if (h != nullptr) zarCloseDatabase(h);
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
