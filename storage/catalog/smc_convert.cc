// The version steps of an older catalog and the table conversions they
// run (layouts and rules in smc_convert.h).
#include "storage/catalog/smc_convert.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

namespace {

// Record lengths of the older layouts.
constexpr int kDevice13Len = 397;
constexpr int kDevice16Len = 401;
constexpr int kDevice17Len = 686;  // up to dev_session_id
constexpr int kVolume13Len = 463;
constexpr int kVolume16Len = 467;
constexpr int kObject13Len = 3026;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

Buffer Allocate(size_t size) { return Buffer(static_cast<unsigned char*>(std::malloc(size))); }

std::string SavedName(int32_t id, int32_t old_minor) {
  return std::string(smc::TablePath(id)) + "_V_1_" + std::to_string(old_minor);
}

// Either file of a pair is there.
bool PairExists(const std::string& path) {
  struct stat st;
  return stat((path + ".idx").c_str(), &st) == 0 || stat((path + ".dat").c_str(), &st) == 0;
}

void Copy(unsigned char* to, const unsigned char* from, size_t n) { std::memcpy(to, from, n); }

// A character column of width bytes holding the n bytes given, blank-padded.
void PadCopy(unsigned char* to, size_t width, const unsigned char* from, size_t n) {
  std::memset(to, ' ', width);
  std::memcpy(to, from, n);
}

// The 4-byte integer at p widened to 8 bytes, with or without its sign.
void Widen(unsigned char* to, const unsigned char* from, bool with_sign) {
  const int32_t v = ldlong(from);
  stbigint(with_sign ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<uint32_t>(v)),
           to);
}

// ---- one table's conversion ------------------------------------------------

enum class Table { kDevice, kVolume, kObject };

struct Migration {
  const char* name;
  int32_t id;
  int32_t old_minor;
  int old_length;  // the least record length of the old layout
  Table table;
  int (*create)(zarHandle*);
  // Builds the new row (zeroed) from the old one of old_length bytes:
  // 0, or a failure that ends the step.
  int (*convert)(zarHandle*, const unsigned char* old, int old_length, unsigned char* row);
  // After the row is written: 0, or a failure that ends the step.
  int (*written)(zarHandle*, const unsigned char* row);
};

const char* TableName(Table t) {
  return t == Table::kDevice ? "device" : t == Table::kVolume ? "volume" : "object";
}

// The refused row, as the operator finds it again.
void LogRefusedRow(const Migration& m, const unsigned char* row) {
  if (m.table == Table::kDevice) {
    char name[121];
    ldchar(reinterpret_cast<const char*>(row), 120, name);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Device '%s'.",
              m.old_minor == 7 ? smc::TablePath(SMC_TAB_DEVICE) : name);
  } else if (m.table == Table::kVolume) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Volume ID = %d.", ldlong(row + SMC_VOL_VOLID));
  } else {
    int64_t copy_id = 0;
    ldbigint(&copy_id, row + SMC_OBJ_COPYID);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Object ID = %lld.", static_cast<long long>(copy_id));
  }
}

// Reads every row of the saved table into the new one. 0, or the failure.
int CopyRows(zarHandle* handle, const Migration& m, int old_fd, const std::string& saved) {
  const char* what = TableName(m.table);
  // The read failure names the saved table for volumes, the table for the
  // others.
  const char* read_name = m.table == Table::kVolume ? saved.c_str() : what;
  if (smc::StartRecordOrder(old_fd) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), what);
    return 19;
  }
  // isread copies the file's own record length: the buffer is sized from
  // the file, and a file shorter than the old layout is not converted.
  IsamDictInfo info{};
  if (isindexinfo(old_fd, &info, 0) != 0 || (info.nindexes & 0x8000) != 0 ||
      info.reclen < m.old_length) {
    if (iserrno == 0 || info.reclen < m.old_length) iserrno = EBADFILE;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), read_name);
    return 19;
  }
  const int new_length = catalogTables[m.id].reclen;
  Buffer old = Allocate(static_cast<size_t>(info.reclen));
  Buffer row = Allocate(static_cast<size_t>(new_length));
  if (old == nullptr || row == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return 3;
  }
  for (;;) {
    if (isread(old_fd, old.get(), IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), read_name);
      return 19;
    }
    std::memset(row.get(), 0, static_cast<size_t>(new_length));
    int rc = m.convert(handle, old.get(), info.reclen, row.get());
    if (rc != 0) return rc;
    if (iswrite(handle->tableFd[m.id], row.get()) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88005), what);
      LogRefusedRow(m, row.get());
      return -1;
    }
    if (m.written != nullptr && (rc = m.written(handle, row.get())) != 0) return rc;
  }
}

int Migrate(zarHandle* handle, const Migration& m) {
  SM_TRACE(136, "%s: enter", m.name);
  const std::string saved = SavedName(m.id, m.old_minor);
  int rc = smcCatalogTableClose(handle, m.id);
  if (rc == 0) rc = smcCatalogTableRename(handle, m.id, saved.c_str());
  if (rc == 0) rc = m.create(handle);
  if (rc == 0) {
    const int old_fd = isopen(saved.c_str(), IS_INOUT | IS_MANULOCK);
    if (old_fd < 0) {
      if (m.table == Table::kDevice) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), saved.c_str());
      } else {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), TableName(m.table));
      }
      rc = 19;
    } else {
      rc = CopyRows(handle, m, old_fd, saved);
      isclose(old_fd);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", m.name, rc, rc);
  return rc;
}

// ---- row conversions -------------------------------------------------------

int Device3To6(zarHandle*, const unsigned char* old, int, unsigned char* row) {
  Copy(row, old, 385);                // name .. status
  Widen(row + 385, old + 385, false);  // time stamp
  Copy(row + 393, old + 389, 4);      // pool id
  Copy(row + 397, old + 393, 4);      // session id
  return 0;
}

int Device6To7(zarHandle*, const unsigned char* old, int, unsigned char* row) {
  Copy(row, old, 120);                     // name
  PadCopy(row + 120, 256, old + 120, 120);  // read command slot
  PadCopy(row + 376, 256, old + 240, 120);  // write command slot
  Copy(row + 632, old + 360, 4);           // priority
  PadCopy(row + 636, 5, old + 364, 4);     // type name
  Copy(row + 645, old + 368, 8);           // block size
  Copy(row + 653, old + 376, 8);           // media size
  row[669] = old[384];                     // status
  Copy(row + 670, old + 385, 8);           // time stamp
  Copy(row + 678, old + 393, 4);           // pool id
  Copy(row + 682, old + 397, 4);           // session id
  return 0;
}

int Device7To8(zarHandle*, const unsigned char* old, int old_length, unsigned char* row) {
  Copy(row, old, static_cast<size_t>(std::min(old_length, static_cast<int>(SMC_DEVICE_RECLEN))));
  return 0;
}

int Volume3To6(zarHandle*, const unsigned char* old, int, unsigned char* row) {
  Copy(row, old, 414);               // session id .. life cycle
  Widen(row + 414, old + 414, true);  // time stamp
  row[422] = old[418];               // status
  Copy(row + 423, old + 419, 8);     // bytes free high, low
  Copy(row + 431, old + 427, 4);     // type name
  Copy(row + 435, old + 431, 32);    // platform
  return 0;
}

int Volume6To7(zarHandle*, const unsigned char* old, int, unsigned char* row) {
  Copy(row, old, 348);                  // session, txn, volume id, label, path
  stlong(0, row + 348);                 // pool id
  Copy(row + 352, old + 348, 66);       // version, dates, objects, life cycle
  Copy(row + 418, old + 414, 8);        // time stamp
  row[426] = old[422];                  // status
  Copy(row + 427, old + 423, 8);        // bytes free high, low
  PadCopy(row + 435, 5, old + 431, 4);  // type name
  Copy(row + 440, old + 435, 32);       // platform
  return 0;
}

int Object3To6(zarHandle* handle, const unsigned char* old, int, unsigned char* row) {
  char path[1025];
  char space[1025];
  char kind[3];
  ldchar(reinterpret_cast<const char*>(old + 1031), 1024, path);
  ldchar(reinterpret_cast<const char*>(old + 7), 1024, space);
  ldchar(reinterpret_cast<const char*>(old + 5), 2, kind);
  int64_t path_id = 0;
  int rc = smcGetPathId(handle, path, space, &path_id);
  if (rc == 17) {
    SM_TRACE(133, "Need to insert a Path for '%s'.", path);
    rc = smcObjPathInsert(handle, path, space, kind, &path_id);
    if (rc != 0) return rc;
  } else if (rc != 0) {
    SM_TRACE(136, "Error retrieving Object Path '%s' from the catalog.", path);
    return rc;
  }
  Copy(row, old, 5);                  // txn id, status
  stbigint(path_id, row + 5);         // path id
  Copy(row + 13, old + 2055, 256);    // description
  Copy(row + 269, old + 2311, 512);   // information
  Copy(row + 781, old + 2823, 31);    // encoding
  Copy(row + 812, old + 2854, 64);    // owner
  Copy(row + 876, old + 2918, 64);    // application owner
  Copy(row + 940, old + 2982, 36);    // session .. user count
  Widen(row + 976, old + 3018, true);  // creation time
  Widen(row + 984, old + 3022, true);  // time stamp
  return 0;
}

// The newest object of a path by creation time becomes its active one.
int ObjectWritten(zarHandle* handle, const unsigned char* row) {
  int64_t path_id = 0;
  int64_t copy_id = 0;
  int64_t created = 0;
  ldbigint(&path_id, row + 5);
  ldbigint(&copy_id, row + SMC_OBJ_COPYID);
  ldbigint(&created, row + 976);
  const int rc = smcSetActiveObject(handle, path_id, copy_id, created);
  if (rc == 0 || rc == 13) return 0;
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Cannot make ObjectID = %lld the ACTIVE one.",
            static_cast<long long>(copy_id));
  return rc;
}

// ---- version steps ---------------------------------------------------------

using StepFn = int (*)(zarHandle*);

int Serial3To6(zarHandle* handle) { return smcSerialTabMigrateFrom3To6(handle, 1, 3); }

struct Step {
  int32_t old_minor;
  int32_t new_minor;
  const char* marker;
  StepFn migrations[4];  // in order; null ends
  int32_t closed[5];     // 0 ends
  int32_t erased[4];
  int32_t restored[4];
};

const Step kSteps[] = {
    {3,
     6,
     "TEV VERSION 1.6",
     {Serial3To6, smcObjectTabMigrateFrom3To6, smcDevTabMigrateFrom3To6,
      smcVolumeTabMigrateFrom3To6},
     {SMC_TAB_OBJECT_PATH, SMC_TAB_SERIAL, SMC_TAB_OBJECT, SMC_TAB_DEVICE, SMC_TAB_VOLUME},
     {SMC_TAB_VOLUME, SMC_TAB_DEVICE, SMC_TAB_OBJECT, SMC_TAB_SERIAL},
     {SMC_TAB_SERIAL, SMC_TAB_OBJECT, SMC_TAB_DEVICE, SMC_TAB_VOLUME}},
    {6,
     7,
     "TEV VERSION 1.7",
     {smcDevTabMigrateFrom6To7, smcVolumeTabMigrateFrom6To7},
     {SMC_TAB_DEVICE, SMC_TAB_VOLUME},
     {SMC_TAB_VOLUME, SMC_TAB_DEVICE},
     {SMC_TAB_DEVICE, SMC_TAB_VOLUME}},
    {7, 8, "TEV VERSION 1.8", {smcDevTabMigrateFrom7To8}, {SMC_TAB_DEVICE}, {SMC_TAB_DEVICE},
     {SMC_TAB_DEVICE}},
};

const Step* StepOf(int32_t major, int32_t minor) {
  if (major != 1) return nullptr;
  for (const Step& s : kSteps) {
    if (s.old_minor == minor) return &s;
  }
  return nullptr;
}

// An object_path table beside an object table of the 1.3 layout belongs to
// no converted catalog: the 1.3 step built it and did not finish. It goes,
// so that the step can build it again.
void DropStrayPathTable(zarHandle* handle) {
  const std::string path = smc::TablePath(SMC_TAB_OBJECT_PATH);
  if (!PairExists(path)) return;
  const int fd = isopen(smc::TablePath(SMC_TAB_OBJECT), IS_INOUT | IS_MANULOCK);
  if (fd < 0) return;
  IsamDictInfo info{};
  const bool old_objects = isindexinfo(fd, &info, 0) == 0 && info.reclen >= kObject13Len;
  isclose(fd);
  if (!old_objects || smcCatalogTableClose(handle, SMC_TAB_OBJECT_PATH) != 0) return;
  if (iserase(path.c_str()) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88121), path.c_str());
  }
}

// Writes the marker into the lock row under the lock table's whole-file
// lock. 0, or 19.
int WriteMarker(zarHandle* handle, const char* marker) {
  int rc = 0;
  if (handle->tableFd[SMC_TAB_LOCK] < 0) {
    rc = zarCatalogTableOpen(handle, SMC_TAB_LOCK, SMC_OPEN_MANUAL);
    if (rc != 0) return rc;
  }
  rc = smcCatalogTableLock(handle, SMC_TAB_LOCK);
  if (rc != 0) return rc;
  unsigned char row[SMC_LOCK_RECLEN];
  rc = smcReadLockRow(handle, row);
  if (rc == 0) {
    stchar(marker, reinterpret_cast<char*>(row + SMC_LOCK_VERSION), SMC_LOCK_VERSION_LEN);
    if (isrewcurr(handle->tableFd[SMC_TAB_LOCK], row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "lock");
      rc = 19;
    }
  }
  smcCatalogTableUnlock(handle, SMC_TAB_LOCK);
  return rc;
}

int RunStep(zarHandle* handle, const Step& step) {
  // Saved tables of this very step mean an earlier run of it ended before
  // its marker: they hold the tables as they were, and come back first.
  for (int32_t id : step.restored) {
    if (id != 0 && PairExists(SavedName(id, step.old_minor))) {
      catalogConvertRollback(handle, 1, step.old_minor);
      break;
    }
  }
  int rc = 0;
  if (step.old_minor == 3) {
    DropStrayPathTable(handle);
    rc = smcCreateObjectPathTab(handle);
  }
  for (int i = 0; rc == 0 && i < 4 && step.migrations[i] != nullptr; ++i) {
    rc = step.migrations[i](handle);
  }
  if (rc == 0) {
    for (int32_t id : step.closed) {
      if (id != 0) smcCatalogTableClose(handle, id);
    }
    rc = WriteMarker(handle, step.marker);
  }
  if (rc != 0) {
    catalogConvertRollback(handle, 1, step.old_minor);
    return rc;
  }
  for (int32_t id : step.erased) {
    if (id == 0) continue;
    const std::string saved = SavedName(id, step.old_minor);
    if (iserase(saved.c_str()) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88121), saved.c_str());
    }
  }
  return 0;
}

}  // namespace

int smcDevTabMigrateFrom3To6(zarHandle* handle) {
  return Migrate(handle, {"smcDevTabMigrateFrom3To6", SMC_TAB_DEVICE, 3, kDevice13Len,
                          Table::kDevice, zarCreateDeviceTab, Device3To6, nullptr});
}

int smcDevTabMigrateFrom6To7(zarHandle* handle) {
  return Migrate(handle, {"smcDevTabMigrateFrom6To7", SMC_TAB_DEVICE, 6, kDevice16Len,
                          Table::kDevice, zarCreateDeviceTab, Device6To7, nullptr});
}

int smcDevTabMigrateFrom7To8(zarHandle* handle) {
  return Migrate(handle, {"smcDevTabMigrateFrom7To8", SMC_TAB_DEVICE, 7, kDevice17Len,
                          Table::kDevice, zarCreateDeviceTab, Device7To8, nullptr});
}

int smcVolumeTabMigrateFrom3To6(zarHandle* handle) {
  return Migrate(handle, {"smcVolumeTabMigrateFrom3To6", SMC_TAB_VOLUME, 3, kVolume13Len,
                          Table::kVolume, zarCreateVolumeTab, Volume3To6, nullptr});
}

int smcVolumeTabMigrateFrom6To7(zarHandle* handle) {
  return Migrate(handle, {"smcVolumeTabMigrateFrom6To7", SMC_TAB_VOLUME, 6, kVolume16Len,
                          Table::kVolume, zarCreateVolumeTab, Volume6To7, nullptr});
}

int smcObjectTabMigrateFrom3To6(zarHandle* handle) {
  return Migrate(handle, {"smcObjectTabMigrateFrom3To6", SMC_TAB_OBJECT, 3, kObject13Len,
                          Table::kObject, zarCreateObjectTab, Object3To6, ObjectWritten});
}

void catalogConvertRollback(zarHandle* handle, int32_t major, int32_t minor) {
  const Step* step = StepOf(major, minor);
  if (step == nullptr) return;
  SM_TRACE(136, "catalogConvertRollback: back to version %d.%d", major, minor);
  for (int32_t id : step->restored) {
    if (id == 0) continue;
    const std::string saved = SavedName(id, minor);
    if (!PairExists(saved) || smcCatalogTableClose(handle, id) != 0) continue;
    const char* path = smc::TablePath(id);
    // The new table may be missing (the step ended before building it).
    if (PairExists(path) && iserase(path) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88121), path);
      continue;
    }
    if (isrename(saved.c_str(), path) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88124), saved.c_str(), path);
    }
  }
  if (minor == 3) DropStrayPathTable(handle);
}

int catalogConvert(zarHandle* handle, int32_t major, int32_t minor) {
  static const char kName[] = "catalogConvert";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  Buffer work = Allocate(1025);
  if (work == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    rc = 3;
  }
  int32_t at = minor;
  for (const Step* step = StepOf(major, at); rc == 0 && step != nullptr;
       step = StepOf(major, at)) {
    rc = RunStep(handle, *step);
    if (rc == 0) at = step->new_minor;
  }
  for (int32_t id = 2; rc == 0 && id <= 9; ++id) {
    rc = zarCatalogTableOpen(handle, id, SMC_OPEN_EXCLUSIVE);
    if (rc != 0) {
      // The tables opened before are not held exclusively by a handle
      // whose catalog did not open.
      for (int32_t opened = 2; opened < id; ++opened) smcCatalogTableClose(handle, opened);
      catalogConvertRollback(handle, major, at);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
