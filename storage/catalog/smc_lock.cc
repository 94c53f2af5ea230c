// The lock and serial tables (layouts in smc_lock.h): the catalog lock, the
// id counters, their creation and their dumps.
#include "storage/catalog/smc_lock.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"

const CatalogColumnDesc smcLockColumns[] = {
    {"lock_id", SMC_COL_INT8, 0, 8},
    {"lock_version", SMC_COL_CHAR, 8, 20},
    {"lock_sessid", SMC_COL_INT4, 28, 4},
    {"lock_isadm", SMC_COL_INT4, 32, 4},
    {"", 0, 0, 0},
};

const CatalogColumnDesc smcSerialColumns[] = {
    {"ser_obj_copyid", SMC_COL_INT8, 0, 8},
    {"ser_volume_id", SMC_COL_INT4, 8, 4},
    {"ser_session_id", SMC_COL_INT4, 12, 4},
    {"ser_life_id", SMC_COL_INT4, 16, 4},
    {"ser_pool_id", SMC_COL_INT4, 20, 4},
    {"ser_path_id", SMC_COL_INT8, 24, 8},
    {"", 0, 0, 0},
};

namespace {

int64_t Load8(const unsigned char* p) {
  int64_t v = 0;
  ldbigint(&v, p);
  return v;
}

// Positions on the first row in record order and reads it.
int ReadFirstRow(int isfd, unsigned char* row) {
  if (smc::StartRecordOrder(isfd) != 0) return -1;
  return isread(isfd, row, IS_FIRST);
}

// The same for the lock or serial table the handle has open. Both tables
// are built in record order, their only index, which an open selects:
// when the file's first index has no parts, the read positions itself and
// the start (a locked call of its own) is left out.
int ReadFirstRow(zarHandle* handle, int32_t id, unsigned char* row) {
  const int fd = handle->tableFd[id];
  IsamKeyDesc first{};
  if (smc::TableKey(handle, id, 1, &first) == 0 && first.nparts == 0) {
    return isread(fd, row, IS_FIRST);
  }
  return ReadFirstRow(fd, row);
}

// The serial column of a kind: its offset and width.
struct Counter {
  int offset;
  int width;
};
Counter CounterOf(int32_t kind) {
  static const Counter kCounters[] = {{0, 8}, {8, 4}, {12, 4}, {16, 4}, {20, 4}, {24, 8}};
  return kCounters[kind - 1];
}

// Stores a counter into the serial row read last and rewrites it: 0, or 19.
int StoreCounter(int fd, unsigned char* row, int32_t kind, int64_t value) {
  const Counter c = CounterOf(kind);
  if (c.width == 8) {
    stbigint(value, row + c.offset);
  } else {
    stlong(value, row + c.offset);
  }
  if (isrewcurr(fd, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "serial");
    return 19;
  }
  return 0;
}

}  // namespace

const char* smcFormatTimestamp(int64_t seconds) {
  static char buffer[64];
  struct tm tm {};
  if (sm_localtime(&seconds, &tm) == nullptr) {
    buffer[0] = '\0';
  } else {
    std::snprintf(buffer, sizeof buffer, "%4d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buffer;
}

void smcWaitForDebugger() {
  if (std::getenv("AFDEBUG") == nullptr) return;
  for (;;) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "TEV pid = %d, waiting for debugger",
              static_cast<int>(getpid()));
    timespec left{60, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
}

int zarCreateLockTab(zarHandle* handle) {
  static const char kName[] = "zarCreateLockTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_LOCK, smc::Key({}), {}, -1);
  if (rc == 0) {
    time_t now = time(nullptr);
    if (now == static_cast<time_t>(-1)) {
      SM_TRACE(137, "%s: Cannot retrieve the time, errno = %d", kName, errno);
      rc = -1;
    } else {
      unsigned char row[SMC_LOCK_RECLEN];
      stbigint(static_cast<int64_t>(now), row + SMC_LOCK_ID);
      stchar(kCatalogVersion, reinterpret_cast<char*>(row + SMC_LOCK_VERSION),
             SMC_LOCK_VERSION_LEN);
      stlong(1, row + SMC_LOCK_SESSID);
      stlong(0, row + SMC_LOCK_ISADM);
      const int fd = handle->tableFd[SMC_TAB_LOCK];
      if (iswrite(fd, row) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "lock");
        rc = -1;
      } else {
        isflush(fd);
        handle->sessionId = 1;
        if (TevConfig* cfg = zarGetConfig()) cfg->smId = now;
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarCreateSerialTab(zarHandle* handle) {
  static const char kName[] = "zarCreateSerialTab";
  SM_TRACE(136, "%s: enter", kName);
  int rc = smc::BuildTable(handle, SMC_TAB_SERIAL, smc::Key({}), {}, -1);
  if (rc == 0) {
    unsigned char row[SMC_SERIAL_RECLEN] = {};
    const int fd = handle->tableFd[SMC_TAB_SERIAL];
    if (iswrite(fd, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "serial");
      rc = -1;
    } else {
      isflush(fd);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int zarGetTEVid(zarHandle* handle) {
  unsigned char row[SMC_LOCK_RECLEN];
  if (ReadFirstRow(handle, SMC_TAB_LOCK, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
    return -1;
  }
  if (TevConfig* cfg = zarGetConfig()) cfg->smId = Load8(row + SMC_LOCK_ID);
  return 0;
}

int smcReadLockRow(zarHandle* handle, unsigned char* row) {
  if (ReadFirstRow(handle, SMC_TAB_LOCK, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
    return 19;
  }
  return 0;
}

namespace {

// A protocol error of the lock manager: message 88186 and the debugger wait.
int ProtocolError() {
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88186));
  smcWaitForDebugger();
  return 3;
}

// One decision of the lock manager on the row read under the whole-file
// lock. Returns the result, or -2 when the call must wait for another owner.
int Decide(zarHandle* handle, int32_t flags, unsigned char* row) {
  const int fd = handle->tableFd[SMC_TAB_LOCK];
  const bool admin = (flags & SMC_LOCK_ADMIN) != 0;
  const int32_t sessid = ldlong(row + SMC_LOCK_SESSID);
  const int32_t isadm = ldlong(row + SMC_LOCK_ISADM);
  const int32_t pid = static_cast<int32_t>(getpid());
  const bool owner =
      (sessid == -1 && isadm == pid) || (sessid != -1 && sessid == handle->sessionId);
  if (flags & SMC_LOCK) {
    if (owner) {
      SM_TRACE(136, "ERROR: Attempt to lock the catalog when we are already the owner.");
      return ProtocolError();
    }
    if (isadm != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88126));
      return 3;
    }
    if (sessid != 0) return -2;
    stlong(admin ? -1 : handle->sessionId, row + SMC_LOCK_SESSID);
    stlong(admin ? pid : 0, row + SMC_LOCK_ISADM);
  } else {
    if (!owner) {
      SM_TRACE(136, "ERROR: Attempt to unlock the catalog when we are not the owner.");
      return ProtocolError();
    }
    stlong(0, row + SMC_LOCK_SESSID);
    if (admin) stlong(0, row + SMC_LOCK_ISADM);
  }
  if (isrewcurr(fd, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "lock");
    return 19;
  }
  return 0;
}

}  // namespace

int smcLockMgr(zarHandle* handle, int32_t flags) {
  static const char kName[] = "smcLockMgr";
  const bool trace = smc::DebugLevel() != 0;
  if (trace) SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  const int fd = handle->tableFd[SMC_TAB_LOCK];
  if (fd < 0) {
    iserrno = ENOTOPEN;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "The Lock Catalog table is not open");
    rc = 3;
  } else if ((flags & SMC_LOCK) && (flags & SMC_UNLOCK)) {
    SM_TRACE(137, "Session %d, tried call the lock manager to LOCK & UNLOCK.", handle->sessionId);
    rc = ProtocolError();
  } else {
    if (trace) SM_TRACE(135, (flags & SMC_LOCK) ? "Locking the catalog." : "Unlocking the catalog.");
    const int timeout = smc::LockTimeout();
    int count = 0;  // one counter for the whole call
    for (;;) {
      // The whole-file lock of the lock table, on the call's one counter.
      bool have = false;
      int got = smc::TakeFileLock(fd, timeout, &count);
      if (got == 0) {
        have = true;
      } else {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88105), "lock");
        if (got == 1) {
          SM_TRACE(137, "Session %d lock_timeout=%d, Timeout, because the catalog table is locked.",
                   handle->sessionId, count);
        }
        rc = 19;
      }
      if (!have) break;
      unsigned char row[SMC_LOCK_RECLEN];
      if (ReadFirstRow(handle, SMC_TAB_LOCK, row) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
        rc = 19;
      } else {
        const int64_t lock_id = Load8(row + SMC_LOCK_ID);
        const TevConfig* cfg = zarGetConfig();
        const int64_t sm_id = cfg != nullptr ? cfg->smId : 0;
        if (!(flags & SMC_LOCK_ADMIN) && lock_id != sm_id) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88127));
          SM_TRACE(137, "Fatal failure zarId = %lld, tevConfig->smId = %lld",
                   static_cast<long long>(lock_id), static_cast<long long>(sm_id));
          rc = 3;
        } else {
          rc = Decide(handle, flags, row);
          if (rc == -2) {
            const int32_t owner = ldlong(row + SMC_LOCK_SESSID);
            isunlock(fd);
            smc::SleepOneSecond();
            ++count;
            if (count < timeout) continue;
            SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88120), handle->sessionId, owner);
            rc = 19;
            break;  // the whole-file lock is already released
          }
        }
      }
      isunlock(fd);
      break;
    }
  }
  if (trace) SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int smcAcquireCatalogLock(zarHandle* handle) { return smcLockMgr(handle, SMC_LOCK); }
int smcReleaseCatalogLock(zarHandle* handle) { return smcLockMgr(handle, SMC_UNLOCK); }

int dsmSerialMgr(zarHandle* handle, int32_t kind, int64_t* value) {
  const int fd = handle->tableFd[SMC_TAB_SERIAL];
  int tries = 0;
  if (smc::TakeFileLock(fd, smc::LockTimeout(), &tries) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88105), "lock");
    return 19;
  }
  int rc = 0;
  unsigned char row[SMC_SERIAL_RECLEN];
  if (ReadFirstRow(handle, SMC_TAB_SERIAL, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
    rc = 19;
  } else if (kind < 1 || kind > 6) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "BUG!: Bad serial number requested.");
    rc = 19;
  } else {
    const Counter c = CounterOf(kind);
    int64_t next = 0;
    bool refused = false;
    if (c.width == 8) {
      const uint64_t old = static_cast<uint64_t>(Load8(row + c.offset));
      refused = old > 0x7FFFFFFFFFFFFFFEull;
      next = static_cast<int64_t>(old + 1);
    } else {
      const uint32_t old = static_cast<uint32_t>(ldlong(row + c.offset));
      if (kind == SMC_SER_SESSION) {
        // Session ids run from 1 to 2,147,483,647 and then start again.
        const uint64_t n = uint64_t{old} + 1;
        if (n == 0 || n > 0x7FFFFFFFu) {
          SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "Resetting Session numbers to 1.");
          next = 1;
        } else {
          next = static_cast<int64_t>(n);
        }
      } else {
        refused = old > 0x7FFFFFFEu;
        next = static_cast<int64_t>(old) + 1;
      }
    }
    if (refused) {
      SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "Bad serial number requested.");
      rc = 19;
    } else {
      *value = next;
      rc = StoreCounter(fd, row, kind, next);
    }
  }
  isunlock(fd);
  return rc;
}

int dsmSetCurrentSerial(zarHandle* handle, int32_t kind, int64_t value) {
  if (kind == SMC_SER_COPYID) {
    if (value < 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Bad big serial number requested %lld.",
                static_cast<long long>(value));
      return 19;
    }
  } else if (kind >= 2 && kind <= 5) {
    if (value < 0 || value > 0x7FFFFFFF) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Bad serial number requested %ld.",
                static_cast<long>(value));
      return 19;
    }
  } else {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Unknown request type.");
    return 19;
  }
  const int fd = handle->tableFd[SMC_TAB_SERIAL];
  int tries = 0;
  int locked = smc::TakeFileLock(fd, smc::LockTimeout(), &tries);
  if (locked != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88105), "lock");
    if (locked == 1) {
      SM_TRACE(137,
               "dsmSetCurrentSerial: Session %d lock_timeout=%d, Timeout, because the catalog "
               "table is locked.",
               handle->sessionId, tries);
    } else {
      SM_TRACE(137, "dsmSetCurrentSerial: Session %d iserrno=%d", handle->sessionId, iserrno);
    }
    return 19;
  }
  int rc = 0;
  unsigned char row[SMC_SERIAL_RECLEN];
  if (ReadFirstRow(handle, SMC_TAB_SERIAL, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "lock");
    rc = 19;
  } else {
    rc = StoreCounter(fd, row, kind, value);
  }
  isunlock(fd);
  return rc;
}

int smcSerialTabMigrateFrom3To6(zarHandle* handle, int32_t, int32_t) {
  const std::string saved = std::string(smc::TablePath(SMC_TAB_SERIAL)) + "_V_1_3";
  if (saved.size() > 1024) {
    errno = ENAMETOOLONG;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "Cannot allocate memory");
    return 3;
  }
  int rc = smcCatalogTableClose(handle, SMC_TAB_SERIAL);
  if (rc == 0) rc = smcCatalogTableRename(handle, SMC_TAB_SERIAL, saved.c_str());
  if (rc == 0) rc = zarCreateSerialTab(handle);
  if (rc != 0) return rc;
  const int old_fd = isopen(saved.c_str(), IS_INOUT | IS_MANULOCK);
  if (old_fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), saved.c_str());
    return 19;
  }
  const int new_fd = handle->tableFd[SMC_TAB_SERIAL];
  // The 1.3 row holds the first five counters; the buffer is as long as the
  // current row, so an old row that is longer cannot overrun it.
  unsigned char row[SMC_SERIAL_RECLEN] = {};
  IsamDictInfo info{};
  if (isindexinfo(old_fd, &info, 0) != 0 || info.reclen > SMC_SERIAL_RECLEN) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "serial");
    rc = 19;
  } else if (ReadFirstRow(new_fd, row) != 0 || ReadFirstRow(old_fd, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "serial");
    rc = 19;
  } else {
    stbigint(0, row + 24);
    if (isrewcurr(new_fd, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "serial");
      rc = 19;
    }
  }
  isclose(old_fd);
  return rc;
}

int smcDumpLockTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      "isbuild: Cannot open the Lock table '%s'. iserrno = %d.\n", "Empty LOCK table.\n",
      "isread: could not read lock table record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_LOCK, stream, delimiter, kTexts);
}

int smcDumpSerialTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      "isbuild: Cannot open the Serial table '%s'. iserrno = %d.\n", "Empty SERIAL table.\n",
      "isread: could not read serial table record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_SERIAL, stream, delimiter, kTexts);
}
