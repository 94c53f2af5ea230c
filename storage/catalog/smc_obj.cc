// The object and object_path tables (layouts in smc_obj.h): descriptors,
// creation, path lookup and insertion, versions, the active object, the
// end of an object's transaction, the listing and the dumps.
#include "storage/catalog/smc_obj.h"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_odt.h"
#include "storage/command/sm_util.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smobject.h"

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

namespace {

// Object row columns.
constexpr int kObjTxid = 0;
constexpr int kObjStatus = 4;
constexpr int kObjPathId = 5;
constexpr int kObjVersion = 952;
constexpr int kObjBytesLo = 956;
constexpr int kObjBytesHi = 960;
constexpr int kObjCreateTime = 976;
constexpr int kObjTimestamp = 984;
// Object-path row columns.
constexpr int kPthHash = 8;
constexpr int kPthType = 16;
constexpr int kPthRecentId = 17;
constexpr int kPthRecentTs = 25;
constexpr int kPthName = 33;
constexpr int kPthPathName = 1057;
constexpr int kPthTextLen = 1024;

int64_t Big(const unsigned char* field) {
  int64_t v = 0;
  ldbigint(&v, field);
  return v;
}

// A stored character column without trailing blanks.
std::string_view Text(const unsigned char* field, int32_t len) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string_view(text, static_cast<size_t>(bylengnb(text, len)));
}

using smc::OwnFile;
using smc::Traced;

// The object table as smcUnlockObject reads and rewrites it: a file of its
// own in record order, so that the handle's position in the table stays
// where its caller left it. While the handle has the object table open the
// file is kept in the handle from one commit to the next and closed with
// the table (smc::ForgetTable); otherwise it is opened for the one call.
// fd is negative when the open failed.
struct CommitFile {
  explicit CommitFile(zarHandle* handle) {
    if (handle != nullptr && handle->commitFileOpen) {
      fd = handle->commitFile;
      return;
    }
    fd = isopen(smc::TablePath(SMC_TAB_OBJECT), IS_INOUT | IS_MANULOCK);
    if (fd < 0) return;
    if (smc::StartRecordOrder(fd) != 0) {
      isclose(fd);
      fd = -1;
      return;
    }
    if (handle != nullptr && handle->tableFd[SMC_TAB_OBJECT] >= 0) {
      handle->commitFile = fd;
      handle->commitFileOpen = 1;
    } else {
      own = true;
    }
  }
  ~CommitFile() {
    if (own) isclose(fd);
  }
  CommitFile(const CommitFile&) = delete;
  CommitFile& operator=(const CommitFile&) = delete;
  int fd = -1;
  bool own = false;
};

}  // namespace

int zarObjectGetHighestId(zarHandle* handle, int64_t* copy_id) {
  return Traced("zarObjectGetHighestId", [&] {
    if (handle == nullptr) return 22;
    const int fd = handle->tableFd[SMC_TAB_OBJECT];
    IsamKeyDesc key{};
    if (smc::TableKey(handle, SMC_TAB_OBJECT, 1, &key) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "object");
      return 19;
    }
    unsigned char row[SMC_OBJECT_RECLEN] = {};
    if (isstart(fd, &key, 0, row, IS_LAST) != 0) return 0;
    if (isread(fd, row, IS_LAST) != 0) {
      // An empty table can let the start succeed and fail the read.
      if (iserrno == EENDFILE || iserrno == ENORECORD) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return 19;
    }
    *copy_id = Big(row + SMC_OBJ_COPYID);
    SM_TRACE(136, "%s: Max object ID id = %lld", "zarObjectGetHighestId",
             static_cast<long long>(*copy_id));
    return 0;
  });
}

int dsmFetchObject(zarHandle* handle, unsigned char* row) {
  return Traced("dsmFetchObject", [&] {
    const int fd = handle->tableFd[SMC_TAB_OBJECT];
    IsamKeyDesc key{};
    if (smc::TableKey(handle, SMC_TAB_OBJECT, 1, &key) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "object");
      return 19;
    }
    const int64_t wanted = Big(row + SMC_OBJ_COPYID);
    SM_TRACE(133, "dsmFetchObject: Find Obj ID = %lld.", static_cast<long long>(wanted));
    if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
      SM_TRACE(136, "dsmFetchObject: isstart failed");
      return 17;
    }
    if (isread(fd, row, IS_CURRENT) != 0) {
      if (iserrno == EENDFILE) {
        SM_TRACE(136, "dsmFetchObject: isread failed with EENDFILE.");
        return 17;
      }
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      SM_TRACE(136, "dsmFetchObject: isread failed.");
      return 19;
    }
    if (Big(row + SMC_OBJ_COPYID) != wanted) {
      SM_TRACE(136, "dsmFetchObject: No more candidates.");
      return 17;
    }
    return 0;
  });
}

int dsmDeleteObject(zarHandle* handle, int64_t copy_id) {
  return Traced("dsmDeleteObject", [&] {
    unsigned char row[SMC_OBJECT_RECLEN] = {};
    stbigint(copy_id, row + SMC_OBJ_COPYID);
    int rc = dsmFetchObject(handle, row);
    if (rc != 0) return rc;
    while (rc == 0) {
      if (isdelcurr(handle->tableFd[SMC_TAB_OBJECT]) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), smc::TablePath(SMC_TAB_OBJECT));
        return 19;
      }
      stbigint(copy_id, row + SMC_OBJ_COPYID);
      rc = dsmFetchObject(handle, row);
    }
    return rc == 17 ? 0 : rc;
  });
}

int smcFetchObjectPath(zarHandle* handle, int64_t path_id, unsigned char* row) {
  return Traced("smcFetchObjectPath", [&] {
    SM_TRACE(133, "smcFetchObjectPath: Find Object Path ID = %lld.",
             static_cast<long long>(path_id));
    const int fd = handle->tableFd[SMC_TAB_OBJECT_PATH];
    IsamKeyDesc key{};
    if (smc::TableKey(handle, SMC_TAB_OBJECT_PATH, 1, &key) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "object_path");
      return 19;
    }
    std::memset(row, 0, SMC_PATH_RECLEN);
    stbigint(path_id, row);
    if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
      SM_TRACE(136, "isstart failed.");
      return 17;
    }
    if (isread(fd, row, IS_CURRENT) != 0) {
      if (iserrno == EENDFILE) {
        SM_TRACE(136, "with EENDFILE.");
        return 17;
      }
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_path");
      return 19;
    }
    return 0;
  });
}

int smcFetchObjectPathByPath(zarHandle* handle, const char* path_name, unsigned char* row) {
  return Traced("smcFetchObjectPathByPath", [&] {
    SM_TRACE(133, "Find ID for Object Path '%s'.", path_name);
    const int64_t hash = static_cast<int64_t>(sm_hash_string(path_name));
    const int fd = handle->tableFd[SMC_TAB_OBJECT_PATH];
    IsamKeyDesc key{};
    if (smc::TableKey(handle, SMC_TAB_OBJECT_PATH, 2, &key) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "object_path");
      return 19;
    }
    std::memset(row, 0, SMC_PATH_RECLEN);
    stbigint(hash, row + kPthHash);
    if (isstart(fd, &key, 8, row, IS_EQUAL) != 0) {
      if (iserrno == ENORECORD) {
        SM_TRACE(136, "No match found.");
        return 17;
      }
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_path");
      return 19;
    }
    // Only the rows of this hash can hold the name: the first row of
    // another hash ends the search, so a collision costs its own rows and
    // not the rest of the table.
    const std::string_view wanted(path_name);
    for (;;) {
      if (isread(fd, row, IS_NEXT) != 0) {
        if (iserrno == EENDFILE) {
          SM_TRACE(136, "No match found.");
          return 17;
        }
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_path");
        return 19;
      }
      if (Big(row + kPthHash) != hash) {
        SM_TRACE(136, "No match found.");
        return 17;
      }
      const std::string_view stored = Text(row + kPthPathName, kPthTextLen);
      if (stored == wanted) {
        SM_TRACE(133, "Found the correct one.");
        return 0;
      }
      SM_TRACE(133, "'%.*s' != '%s'. keep the search.", static_cast<int>(stored.size()),
               stored.data(), path_name);
    }
  });
}

int smcGetPathId(zarHandle* handle, const char* path_name, const char* /*space_name*/,
                 int64_t* path_id) {
  return Traced("smcGetPathId", [&] {
    SM_TRACE(133, "Find ID for Object Path '%s'.", path_name);
    unsigned char row[SMC_PATH_RECLEN];
    const int rc = smcFetchObjectPathByPath(handle, path_name, row);
    if (rc == 0) {
      *path_id = Big(row);
      SM_TRACE(135, "pathId = %lld.", static_cast<long long>(*path_id));
    }
    return rc;
  });
}

int smcObjPathInsert(zarHandle* handle, const char* path_name, const char* space_name,
                     const char* kind, int64_t* path_id) {
  static const char kName[] = "smcObjPathInsert";
  return Traced(kName, [&] {
    int64_t id = 0;
    const int serial = dsmSerialMgr(handle, 6, &id);
    if (serial != 0) {
      SM_TRACE(137, "%s: Call to dsmSerialMgr() returned %d.", kName, serial);
      return 3;
    }
    unsigned char row[SMC_PATH_RECLEN] = {};
    stbigint(id, row);
    stbigint(static_cast<int64_t>(sm_hash_string(path_name)), row + kPthHash);
    row[kPthType] = static_cast<unsigned char>(kind != nullptr && kind[0] != '\0' ? kind[0] : ' ');
    stchar(space_name, reinterpret_cast<char*>(row + kPthName), kPthTextLen);
    stchar(path_name, reinterpret_cast<char*>(row + kPthPathName), kPthTextLen);
    if (iswrite(handle->tableFd[SMC_TAB_OBJECT_PATH], row) != 0) {
      SM_TRACE(137, SM_MSG(88001), "iswrite", iserrno);
      return 88001;
    }
    *path_id = id;
    SM_TRACE(133, "ID %lld Generated.", static_cast<long long>(id));
    return 0;
  });
}

int smcSetActiveObject(zarHandle* handle, int64_t path_id, int64_t copy_id, int64_t create_time) {
  return Traced("smcSetActiveObject", [&] {
    unsigned char row[SMC_PATH_RECLEN];
    int rc = 0;
    if (smcFetchObjectPath(handle, path_id, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Object ID %lldcontains an invalid Path ID %lld.",
                static_cast<long long>(copy_id), static_cast<long long>(path_id));
      rc = 3;
    } else if (static_cast<uint64_t>(create_time) <
               static_cast<uint64_t>(Big(row + kPthRecentTs))) {
      SM_TRACE(135, "Object Id %lldwas not made the Active one because Object Id %lldwas newer.",
               static_cast<long long>(copy_id), static_cast<long long>(Big(row + kPthRecentId)));
      rc = 13;
    } else {
      stbigint(create_time, row + kPthRecentTs);
      stbigint(copy_id, row + kPthRecentId);
      if (isrewcurr(handle->tableFd[SMC_TAB_OBJECT_PATH], row) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "object_path");
        rc = 19;
      }
    }
    SM_TRACE(135, "pathId = %lld.", static_cast<long long>(path_id));
    return rc;
  });
}

int dsmGetObjectVersion(zarHandle* handle, const char* /*space_name*/, const char* path_name,
                        int32_t* version) {
  return Traced("dsmGetObjectVersion", [&] {
    int64_t path_id = 0;
    int rc = smcGetPathId(handle, path_name, nullptr, &path_id);
    if (rc == 17) {
      *version = 0;
      return 0;
    }
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88125), path_name);
      return rc;
    }
    const int fd = handle->tableFd[SMC_TAB_OBJECT];
    IsamKeyDesc key{};
    if (smc::TableKey(handle, SMC_TAB_OBJECT, 2, &key) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88111), "object_path");
      return 19;
    }
    unsigned char row[SMC_OBJECT_RECLEN] = {};
    stbigint(path_id, row + kObjPathId);
    if (isstart(fd, &key, 8, row, IS_EQUAL) != 0) {
      // Only "no such key" means the path has no objects; any other
      // failure must not hand out version 1 again.
      if (iserrno != ENORECORD) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
        return 19;
      }
      SM_TRACE(136, SM_MSG(88001), "isstart", iserrno);
      *version = 0;
      return 0;
    }
    uint32_t highest = 0;
    for (;;) {
      if (isread(fd, row, IS_NEXT) != 0) {
        if (iserrno == EENDFILE) break;
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
        return 19;
      }
      if (Big(row + kObjPathId) != path_id) break;
      const uint32_t v = static_cast<uint32_t>(ldlong(row + kObjVersion));
      if (v > highest) highest = v;
    }
    SM_TRACE(136, "End of scan reached.");
    *version = static_cast<int32_t>(highest);
    SM_TRACE(135, "Version = %d.", *version);
    return 0;
  });
}

int smcUnlockObject(zarHandle* handle, int32_t recnum, int32_t action) {
  return Traced("smcUnlockObject", [&] {
    SM_TRACE(135, "ISAM recnum = %d, Action = %d", recnum, action);
    CommitFile file(handle);
    if (file.fd < 0) {
      SM_TRACE(137, SM_MSG(88103), "object");
      return 19;
    }
    unsigned char row[SMC_OBJECT_RECLEN] = {};
    // The file stands in record order: one read by number finds the row.
    isrecnum = recnum;
    if (isread(file.fd, row, IS_EQUAL) != 0) {
      if (iserrno == EENDFILE || iserrno == ENORECORD) {
        SM_TRACE(135, "Failed to located ISAM recnum %d", recnum);
        return 0;
      }
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return 19;
    }
    const int64_t copy_id = Big(row + SMC_OBJ_COPYID);
    if (action == 1) {
      const int rc =
          smcSetActiveObject(handle, Big(row + kObjPathId), copy_id, Big(row + kObjCreateTime));
      if (rc == 13) {
        SM_TRACE(135, "Cannot make ObjectID = %lld the ACTIVE one.",
                 static_cast<long long>(copy_id));
      } else if (rc != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Cannot make ObjectID = %lld the ACTIVE one.",
                  static_cast<long long>(copy_id));
        return rc;
      }
      stlong(0, row + kObjTxid);
      if (isrewcurr(file.fd, row) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "object");
        return 19;
      }
      return 0;
    }
    if (action == 2) {
      const int rc = smcDeleteDetails(copy_id);
      if (rc != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
        return rc;
      }
      if (isdelcurr(file.fd) != 0) {
        SM_TRACE(137, "could not delete object record");
        return 19;
      }
      return 0;
    }
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88186));
    return 3;
  });
}

int smcObjectTabUnlockAll(int32_t session_id) {
  const char* path = smc::TablePath(SMC_TAB_OBJECT);
  OwnFile file(SMC_TAB_OBJECT);
  if (file.fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), path);
    return 19;
  }
  if (smc::StartRecordOrder(file.fd) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
    return 19;
  }
  unsigned char row[SMC_OBJECT_RECLEN];
  for (;;) {
    if (isread(file.fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return 19;
    }
    if (session_id > 0 && ldlong(row + SMC_OBJ_SESSIONID) != session_id) continue;
    row[kObjStatus] = 'I';
    stbigint(0, row + kObjTimestamp);
    if (isrewcurr(file.fd, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "object");
      return 19;
    }
  }
}

int zarListObjects() {
  OwnFile objects(SMC_TAB_OBJECT);
  if (objects.fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), smc::TablePath(SMC_TAB_OBJECT));
    return 19;
  }
  OwnFile paths(SMC_TAB_OBJECT_PATH);
  if (paths.fd < 0) return 19;
  IsamKeyDesc object_key{};
  IsamKeyDesc path_key{};
  if (isindexinfo(objects.fd, &object_key, 1) != 0) return 19;
  if (isindexinfo(paths.fd, &path_key, 1) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "object_path");
    return 19;
  }
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  if (isstart(objects.fd, &object_key, 0, row, IS_GREATER_EQUAL) != 0 &&
      iserrno != ENORECORD && iserrno != EENDFILE) {
    return 19;
  }
  std::printf(SM_MSG(87012), SM_MSG(87013));
  int rc = 0;
  for (bool first = true;; first = false) {
    if (isread(objects.fd, row, IS_NEXT) != 0) break;
    if (first) std::fputs(SM_MSG(87010), stdout);
    unsigned char path[SMC_PATH_RECLEN] = {};
    stbigint(Big(row + kObjPathId), path);
    if (isstart(paths.fd, &path_key, 0, path, IS_EQUAL) != 0) {
      SM_TRACE(136, "isstart failed.");
      rc = 19;
      break;
    }
    if (isread(paths.fd, path, IS_CURRENT) != 0) {
      if (iserrno == EENDFILE) {
        SM_TRACE(136, "with EENDFILE.");
      } else {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_path");
      }
      rc = 19;
      break;
    }
    const uint64_t bytes = (static_cast<uint64_t>(static_cast<uint32_t>(ldlong(row + kObjBytesHi)))
                            << 32) |
                           static_cast<uint32_t>(ldlong(row + kObjBytesLo));
    const float megabytes = static_cast<float>(bytes >> 10) * (1.0f / 1024);
    const std::string_view path_name = Text(path + kPthPathName, kPthTextLen);
    const std::string_view space_name = Text(path + kPthName, kPthTextLen);
    std::printf("%-20lld %19s %10.1f %.*s%.*s.%d\n",
                static_cast<long long>(Big(row + SMC_OBJ_COPYID)),
                smcFormatTimestamp(Big(row + kObjCreateTime)), static_cast<double>(megabytes),
                static_cast<int>(path_name.size()), path_name.data(),
                static_cast<int>(space_name.size()), space_name.data(), ldlong(row + kObjVersion));
  }
  std::fflush(stdout);
  return rc;
}

int smcDumpObjectPathTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {
      nullptr, nullptr, "isread: could not read object path record. iserrno = %d\n", -1};
  return smc::DumpTable(SMC_TAB_OBJECT_PATH, stream, delimiter, kTexts);
}

int smcDumpObjectTab(FILE* stream, char delimiter) {
  static const smc::DumpTexts kTexts = {"isbuild: Cannot open the Object table '%s'. iserrno = %d.\n",
                                        "Empty OBJECT table.\n",
                                        "isread: could not read object record. iserrno = %d\n", -1};
  // obj_bytes_lo, obj_bytes_hi, obj_restore_lo and obj_restore_hi are
  // unsigned words of 64-bit counts.
  constexpr uint32_t kUnsignedWords = (1u << 11) | (1u << 12) | (1u << 13) | (1u << 14);
  return smc::DumpTable(SMC_TAB_OBJECT, stream, delimiter, kTexts, kUnsignedWords);
}

int dropFileObjects(zarHandle* handle) {
  smc::OwnFile objects(SMC_TAB_OBJECT);
  if (objects.fd < 0) {
    SM_TRACE(137, SM_MSG(88001), "isopen", iserrno);
    return 88001;
  }
  if (smc::StartRecordOrder(objects.fd) != 0) {
    SM_TRACE(137, SM_MSG(88001), "isstart", iserrno);
    return 88001;
  }
  unsigned char row[SMC_OBJECT_RECLEN];
  for (;;) {
    if (isread(objects.fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_TRACE(137, SM_MSG(88001), "isread", iserrno);
      return 88001;
    }
    // The object's stored parts go through its device, then its rows.
    const int rc = zarDeleteObject(handle, static_cast<uint64_t>(Big(row + SMC_OBJ_COPYID)));
    if (rc != 0) return rc;
  }
}
