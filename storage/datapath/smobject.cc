// Object rows and detail rows: insert, read, status, end, delete.
#include "storage/datapath/smobject.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "sqltypes/value_null.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smdtlhdr.h"

namespace {

// Object row columns (smc_obj.h).
constexpr int kObjTxid = 0;
constexpr int kObjStatus = 4;
constexpr int kObjPathId = 5;
constexpr int kObjDesc = 13;
constexpr int kObjInfo = 269;
constexpr int kObjEncoding = 781;
constexpr int kObjOwner = 812;
constexpr int kObjAppOwner = 876;
constexpr int kObjSessionId = SMC_OBJ_SESSIONID;
constexpr int kObjCopyId = SMC_OBJ_COPYID;
constexpr int kObjVersion = 952;
constexpr int kObjBytesLo = 956;
constexpr int kObjBytesHi = 960;
constexpr int kObjRestoreLo = 964;
constexpr int kObjRestoreHi = 968;
constexpr int kObjUserCount = 972;
constexpr int kObjCreateTime = 976;
constexpr int kObjTimestamp = 984;
// Object-path row columns.
constexpr int kPthType = 16;
constexpr int kPthName = 33;
constexpr int kPthPathName = 1057;
constexpr int kPthTextLen = 1024;
// Object-detail row columns (smc_odt.h).
constexpr int kDetVolId = 0;
constexpr int kDetVolSeq = 4;
constexpr int kDetCopyId = 8;
constexpr int kDetCopySeq = 16;
constexpr int kDetCopySize = 20;

// Host type code of a 32-bit integer for risnull.
constexpr int kHostInt = 102;
// ISAM error of a duplicate key.
constexpr int kDuplicateKey = 100;

// The object row values shared between calls: the status letter and the
// timestamp that zarPutObjectInfo last set. A row inserted before any
// status change of the process carries a blank letter.
char g_statusLetter = ' ';
int64_t g_statusTimestamp = 0;

int64_t Big(const unsigned char* field) {
  int64_t v = 0;
  ldbigint(&v, field);
  return v;
}

char* Text(unsigned char* row, int offset) { return reinterpret_cast<char*>(row + offset); }

// A stored character column into a buffer of dst_size bytes, trailing
// blanks cut.
void LoadText(const unsigned char* field, int32_t len, char* dst, size_t dst_size) {
  char text[kPthTextLen + 1];
  ldchar(reinterpret_cast<const char*>(field), len, text);
  stncopy(text, dst, static_cast<int32_t>(dst_size));
}

uint64_t ToU64(UInt64Pair pair) {
  uint64_t v = 0;
  tevUInt64ToU64(&v, &pair);
  return v;
}

UInt64Pair ToPair(uint64_t v) {
  UInt64Pair pair{};
  tevU64ToUInt64(&pair, v);
  return pair;
}

// The descriptor's create time as calendar fields, and back.
void StoreTm(const struct tm& tm, int32_t* fields) {
  fields[0] = tm.tm_sec;
  fields[1] = tm.tm_min;
  fields[2] = tm.tm_hour;
  fields[3] = tm.tm_mday;
  fields[4] = tm.tm_mon;
  fields[5] = tm.tm_year;
  fields[6] = tm.tm_wday;
  fields[7] = tm.tm_yday;
  fields[8] = tm.tm_isdst;
}

int64_t LocalSeconds(const int32_t* fields) {
  struct tm tm {};
  tm.tm_sec = fields[0];
  tm.tm_min = fields[1];
  tm.tm_hour = fields[2];
  tm.tm_mday = fields[3];
  tm.tm_mon = fields[4];
  tm.tm_year = fields[5];
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

// The status code of a row letter; another letter keeps the code.
int32_t StatusCode(char letter, int32_t current) {
  switch (letter) {
    case 'I': return OBJ_STATUS_IDLE;
    case 'L': return OBJ_STATUS_WRITING;
    case 'B': return OBJ_STATUS_READING;
    case 'X': return OBJ_STATUS_X;
    default: return current;
  }
}

// The row of the current object as zarInsertObject writes it.
void DescriptorToRow(const zarHandle* h, const XbsaObjectDescriptor* obj, int64_t path_id,
                     int64_t copy_id, int32_t version, int64_t create_time, unsigned char* row) {
  std::memset(row, 0, SMC_OBJECT_RECLEN);
  stlong(1, row + kObjTxid);
  row[kObjStatus] = static_cast<unsigned char>(g_statusLetter);
  stbigint(path_id, row + kObjPathId);
  stchar(obj->description, Text(row, kObjDesc), 256);
  stchar(obj->objectInfo, Text(row, kObjInfo), 512);
  stchar("", Text(row, kObjEncoding), 31);
  stchar(obj->owner.bsaObjectOwner, Text(row, kObjOwner), 64);
  stchar(obj->owner.appObjectOwner, Text(row, kObjAppOwner), 64);
  stlong(h->sessionId, row + kObjSessionId);
  stbigint(copy_id, row + kObjCopyId);
  stlong(version, row + kObjVersion);
  stlong(static_cast<int32_t>(obj->size.low), row + kObjBytesLo);
  stlong(static_cast<int32_t>(obj->size.high), row + kObjBytesHi);
  stlong(static_cast<int32_t>(obj->restoreOrder.low), row + kObjRestoreLo);
  stlong(static_cast<int32_t>(obj->restoreOrder.high), row + kObjRestoreHi);
  stlong(0, row + kObjUserCount);
  stbigint(create_time, row + kObjCreateTime);
}

// Enters a written row's record number in the transaction list and the
// object list (which owns it). 0, or 19.
int RememberRow(zarHandle* h, int32_t recnum) {
  auto* element = static_cast<int32_t*>(sm_zalloc(sizeof(int32_t)));
  if (element == nullptr) {
    SM_TRACE(137, "%s", SM_MSG(88002));
    return 19;
  }
  *element = recnum;
  int32_t status = LL_OK;
  ll_insert(h->txnObjectList, element, &status);
  bool listed = status == LL_OK;
  if (listed) {
    ll_insert(h->objectList, element, &status);
    if (status != LL_OK) {
      ll_remove(h->txnObjectList, element, &status);
      listed = false;
    }
  }
  if (!listed) {
    void* p = element;
    sm_free(&p);
    SM_TRACE(137, "%s", SM_MSG(88002));
    return 19;
  }
  return 0;
}

// The detail row of the record's copy id and part, positioned for a
// rewrite. The code of dsmFetchDetail.
int FetchDetail(zarHandle* h, const TevObjectDetail* d, unsigned char* row) {
  std::memset(row, 0, SMC_DETAIL_RECLEN);
  stbigint(static_cast<int64_t>(ToU64(d->copyId)), row + kDetCopyId);
  stlong(d->partNumber, row + kDetCopySeq);
  return dsmFetchDetail(h, row);
}

}  // namespace

int zarInsertObject(zarHandle* handle, UInt64Pair copy_id, int use_given) {
  static const char kFn[] = "zarInsertObject";
  if (handle == nullptr) {
    SM_TRACE(137, "NULL zarHandle.");
    return 6;
  }
  XbsaObjectDescriptor* obj = handle->currentObject;
  if (obj == nullptr) {
    SM_TRACE(137, "NULL XBSA object.");
    return 22;
  }
  const int64_t given = static_cast<int64_t>(ToU64(copy_id));
  int64_t create_time = 0;
  if (use_given && given <= 0) {
    SM_TRACE(137, "Object id given is not a valid big serial %lld.", static_cast<long long>(given));
    return 19;
  }
  if (use_given && obj->createTime[5] >= 1) {
    create_time = LocalSeconds(obj->createTime);
    SM_TRACE(133, "Using existing create time (%d).", static_cast<int>(create_time));
  } else {
    create_time = static_cast<int64_t>(std::time(nullptr));
    struct tm now {};
    if (sm_localtime(&create_time, &now) != nullptr) StoreTm(now, obj->createTime);
  }
  if (obj->objectSpaceName[0] == '\0') {
    SM_TRACE(137, "Empty Object Name.");
    return 21;
  }
  if (obj->pathName[0] == '\0') {
    SM_TRACE(137, "Empty Object Path Name.");
    return 21;
  }

  int32_t current = 0;
  int rc = dsmGetObjectVersion(handle, obj->objectSpaceName, obj->pathName, &current);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to dsmGetObjectVersion() returned %d.", kFn, rc);
    return 3;
  }
  int32_t version = 0;
  if (handle->scanFlag && handle->scanVersion != 0) {
    version = handle->scanVersion;
  } else if (risnull(kHostInt, reinterpret_cast<const char*>(&current))) {
    version = 1;
  } else {
    version = current + 1;
  }

  int64_t copy = given;
  if (use_given) {
    SM_TRACE(133, "Using given copyID.");
  } else if ((rc = dsmSerialMgr(handle, SMC_SER_COPYID, &copy)) != 0) {
    SM_TRACE(137, "%s: Call to dsmSerialMgr() returned %d.", kFn, rc);
    return 3;
  }
  SM_TRACE(133, "New copyID = %lld.", static_cast<long long>(copy));

  int64_t path_id = 0;
  rc = smcGetPathId(handle, obj->pathName, obj->objectSpaceName, &path_id);
  if (rc == 17) {
    SM_TRACE(133, "Need to insert a Path for '%s'.", obj->pathName);
    rc = smcObjPathInsert(handle, obj->pathName, obj->objectSpaceName, obj->objectKind, &path_id);
    if (rc != 0) return rc;
  } else if (rc != 0) {
    SM_TRACE(137, "Error retrieving Object Path '%s' from the catalog.", obj->pathName);
    return rc;
  }

  const int fd = handle->tableFd[SMC_TAB_OBJECT];
  unsigned char row[SMC_OBJECT_RECLEN];
  DescriptorToRow(handle, obj, path_id, copy, version, create_time, row);
  if (iswrite(fd, row) != 0) {
    if (iserrno == kDuplicateKey && use_given) {
      SM_TRACE(135, SM_MSG(88001), "iswrite", iserrno);
      return 13;
    }
    bool written = false;
    if (iserrno == kDuplicateKey) {
      // The serial table fell behind the object table (an older catalog,
      // or one restored by hand): continue above the highest copy id.
      int64_t highest = 0;
      rc = zarObjectGetHighestId(handle, &highest);
      if (rc != 0) return rc;
      copy = highest + 1;
      rc = dsmSetCurrentSerial(handle, SMC_SER_COPYID, copy);
      if (rc != 0) return rc;
      SM_TRACE(133, "New copyID = %lld.", static_cast<long long>(copy));
      stbigint(copy, row + kObjCopyId);
      written = iswrite(fd, row) == 0;
    }
    if (!written) {
      SM_TRACE(137, SM_MSG(88001), "iswrite", iserrno);
      return 88001;
    }
  }
  rc = RememberRow(handle, isrecnum);
  if (rc != 0) return rc;

  if (use_given) {
    int64_t highest = 0;
    if (zarObjectGetHighestId(handle, &highest) == 0 && highest <= copy) {
      SM_TRACE(133,
               "zarInsertObject: use_copyid: calling dsmSetCurrentSerial with obj_copy_id=%lld .",
               static_cast<long long>(copy));
      dsmSetCurrentSerial(handle, SMC_SER_COPYID, copy);
    }
  }
  obj->copyId = ToPair(static_cast<uint64_t>(copy));
  return 0;
}

int zarGetObjectInformation(zarHandle* handle, uint64_t copy_id, TevObjectInfo* info) {
  static const char kFn[] = "zarGetObjectInformation";
  SM_TRACE(133, "Looking for object id = %lld", static_cast<long long>(copy_id));
  XbsaObjectDescriptor* obj = handle != nullptr ? handle->currentObject : nullptr;
  if (handle == nullptr || info == nullptr || obj == nullptr) {
    SM_TRACE(137, "%s: handle = 0x%p, pObjData = 0x%p, bsaObj = 0x%p", kFn,
             static_cast<void*>(handle), static_cast<void*>(info), static_cast<void*>(obj));
    return 22;
  }
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stbigint(static_cast<int64_t>(copy_id), row + kObjCopyId);
  int rc = dsmFetchObject(handle, row);
  if (rc == 17) return 17;
  if (rc != 0) {
    SM_TRACE(137, "%s", SM_MSG(88009));
    return rc;
  }
  const int64_t stored_id = Big(row + kObjCopyId);
  if (static_cast<uint64_t>(stored_id) != copy_id) {
    SM_TRACE(137, "%s: In catalog objId(%lld) != %lld.", kFn, static_cast<long long>(stored_id),
             static_cast<long long>(copy_id));
    return 3;
  }
  const int64_t path_id = Big(row + kObjPathId);
  unsigned char path[SMC_PATH_RECLEN];
  rc = smcFetchObjectPath(handle, path_id, path);
  if (rc == 17) {
    SM_TRACE(137, "%s", SM_MSG(88009));
    return 17;
  }
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Object ID %lldcontains an invalid Path ID %lld.",
              static_cast<long long>(stored_id), static_cast<long long>(path_id));
    return 3;
  }

  const int32_t version = ldlong(row + kObjVersion);
  const UInt64Pair size{static_cast<uint32_t>(ldlong(row + kObjBytesHi)),
                        static_cast<uint32_t>(ldlong(row + kObjBytesLo))};
  const int64_t create_time = Big(row + kObjCreateTime);
  std::memset(obj->objectKind, 0, sizeof obj->objectKind);
  obj->objectKind[0] = static_cast<char>(path[kPthType]);
  if (obj->objectKind[0] == ' ') obj->objectKind[0] = '\0';
  LoadText(path + kPthName, kPthTextLen, obj->objectSpaceName, sizeof obj->objectSpaceName);
  LoadText(path + kPthPathName, kPthTextLen, obj->pathName, sizeof obj->pathName);
  obj->copyId = ToPair(copy_id);
  obj->version = static_cast<uint32_t>(version);
  obj->size = size;
  obj->restoreOrder = UInt64Pair{static_cast<uint32_t>(ldlong(row + kObjRestoreHi)),
                                 static_cast<uint32_t>(ldlong(row + kObjRestoreLo))};
  struct tm created {};
  if (sm_localtime(&create_time, &created) != nullptr) StoreTm(created, obj->createTime);
  LoadText(row + kObjAppOwner, 64, obj->owner.appObjectOwner, sizeof obj->owner.appObjectOwner);
  LoadText(row + kObjOwner, 64, obj->owner.bsaObjectOwner, sizeof obj->owner.bsaObjectOwner);
  LoadText(row + kObjDesc, 256, obj->description, sizeof obj->description);
  LoadText(row + kObjInfo, 512, obj->objectInfo, sizeof obj->objectInfo);
  obj->status = 2;

  info->copyId = obj->copyId;
  info->version = version;
  info->size = size;
  info->status = StatusCode(static_cast<char>(row[kObjStatus]), info->status);
  info->timestamp = Big(row + kObjTimestamp);
  info->sessionId = ldlong(row + kObjSessionId);
  info->timestampText[0] = '\0';
  struct tm stamp {};
  if (sm_localtime(&info->timestamp, &stamp) != nullptr) {
    sm_format_time(&stamp, info->timestampText, sizeof info->timestampText);
  }
  info->userCount = ldlong(row + kObjUserCount);
  const int length = std::snprintf(info->fileName, sizeof info->fileName, "%s%s.%d",
                                   obj->pathName, obj->objectSpaceName, version);
  if (length < 0 || static_cast<size_t>(length) >= sizeof info->fileName) {
    // A cut name would name another object's files.
    SM_TRACE(137, "%s: file name of object %lld is too long.", kFn,
             static_cast<long long>(copy_id));
    return 24;
  }
  SM_TRACE(133, "Generated filename = '%s'.", info->fileName);
  return 0;
}

int zarPutObjectInfo(zarHandle* handle, UInt64Pair copy_id, TevObjectInfo* info) {
  if (handle == nullptr || info == nullptr) return 22;
  static const char kLetters[] = {'I', 'L', 'B', 'X'};
  if (info->status == OBJ_STATUS_IDLE) {
    g_statusLetter = 'I';
    g_statusTimestamp = 0;
  } else if (info->status >= OBJ_STATUS_WRITING && info->status <= OBJ_STATUS_X) {
    g_statusLetter = kLetters[info->status];
    g_statusTimestamp = static_cast<int64_t>(std::time(nullptr));
  }
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stbigint(static_cast<int64_t>(ToU64(copy_id)), row + kObjCopyId);
  const int rc = dsmFetchObject(handle, row);
  if (rc != 0) return rc;
  row[kObjStatus] = static_cast<unsigned char>(g_statusLetter);
  stlong(static_cast<int32_t>(info->size.low), row + kObjBytesLo);
  stlong(static_cast<int32_t>(info->size.high), row + kObjBytesHi);
  stlong(info->userCount, row + kObjUserCount);
  stbigint(g_statusTimestamp, row + kObjTimestamp);
  if (isrewcurr(handle->tableFd[SMC_TAB_OBJECT], row) != 0) {
    SM_TRACE(137, SM_MSG(88001), "isrewcurr", iserrno);
    return 3;
  }
  info->timestamp = g_statusTimestamp;
  return 0;
}

int zarPutObjDetail(zarHandle* handle, const TevObjectDetail* detail) {
  if (handle == nullptr || detail == nullptr) return 22;
  SM_TRACE(137, "zarPutObjDetail: seq = %d", detail->partNumber);
  if (detail->volumeId == 0) {
    SM_TRACE(2048, SM_MSG(88063), "bad volume id in detail record");
    return 3;
  }
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stlong(static_cast<int32_t>(detail->volumeId), row + kDetVolId);
  stlong(detail->volumeSeq, row + kDetVolSeq);
  stbigint(static_cast<int64_t>(ToU64(detail->copyId)), row + kDetCopyId);
  stlong(detail->partNumber, row + kDetCopySeq);
  stbigint(detail->partSize, row + kDetCopySize);
  if (iswrite(handle->tableFd[SMC_TAB_DETAIL], row) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not insert detail record");
    return 3;
  }
  return 0;
}

int zarGetObjDetail(zarHandle* handle, TevObjectDetail* detail) {
  if (handle == nullptr || detail == nullptr) return 22;
  SM_TRACE(133, "zarGetObjDetail: looking for detail with copyid = %lld, seq = %d.",
           static_cast<long long>(ToU64(detail->copyId)), detail->partNumber);
  unsigned char row[SMC_DETAIL_RECLEN];
  const int rc = FetchDetail(handle, detail, row);
  if (rc != 0) {
    SM_TRACE(137, SM_MSG(88001), "dsmFetchDetail", rc);
    return rc;
  }
  detail->volumeId = static_cast<uint32_t>(ldlong(row + kDetVolId));
  detail->volumeSeq = ldlong(row + kDetVolSeq);
  detail->partSize = Big(row + kDetCopySize);
  return 0;
}

int zarUpdateObjDetail(zarHandle* handle, const TevObjectDetail* detail) {
  if (handle == nullptr || detail == nullptr) return 22;
  SM_TRACE(133, "zarUpdateObjDetail: looking for detail with copyid = %lld, seq = %d.",
           static_cast<long long>(ToU64(detail->copyId)), detail->partNumber);
  unsigned char row[SMC_DETAIL_RECLEN];
  const int rc = FetchDetail(handle, detail, row);
  if (rc == 17) return 17;
  if (rc != 0) {
    SM_TRACE(137, SM_MSG(88001), "dsmFetchDetail", rc);
    return 88001;
  }
  stlong(static_cast<int32_t>(detail->volumeId), row + kDetVolId);
  stlong(detail->volumeSeq, row + kDetVolSeq);
  stbigint(detail->partSize, row + kDetCopySize);
  if (isrewcurr(handle->tableFd[SMC_TAB_DETAIL], row) != 0) {
    SM_TRACE(137, SM_MSG(88001), "isrewcurr", iserrno);
    return 88001;
  }
  return 0;
}

int zarObjectCheckDetails(zarHandle* handle, uint64_t copy_id, int32_t* highest_part,
                          int32_t* count, int64_t* total_size) {
  if (handle == nullptr || highest_part == nullptr || count == nullptr || total_size == nullptr) {
    return 22;
  }
  const int fd = handle->tableFd[SMC_TAB_DETAIL];
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, 1) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate detail index");
    return 19;
  }
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stbigint(static_cast<int64_t>(copy_id), row + kDetCopyId);
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) return 17;
  int32_t highest = 0;
  int32_t n = 0;
  int64_t total = 0;
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) break;
      SM_TRACE(2048, SM_MSG(88063), "could not read detail record");
      return 19;
    }
    if (static_cast<uint64_t>(Big(row + kDetCopyId)) != copy_id) break;
    ++n;
    const int32_t part = ldlong(row + kDetCopySeq);
    if (part > highest) highest = part;
    total += Big(row + kDetCopySize);
  }
  if (n == 0) return 17;
  *highest_part = highest;
  *count = n;
  *total_size = total;
  return 0;
}

int zarEndObject(zarHandle* handle) {
  static const char kFn[] = "zarEndObject";
  if (handle == nullptr) {
    SM_TRACE(137, "%s", SM_MSG(88009));
    return 22;
  }
  if (handle->currentObject == nullptr) {
    SM_TRACE(135, "%s: BSAObject is NULL", kFn);
    return 0;
  }
  int rc = 0;
  if (handle->objectTablesFlag && (rc = zarCloseObjectTables(handle)) != 0) return rc;
  TevObjectInfo info{};
  rc = zarGetObjectInformation(handle, ToU64(handle->currentObject->copyId), &info);
  if (rc != 0) return rc;
  if (info.status == OBJ_STATUS_WRITING) {
    info.size = handle->objectBytes;
    info.status = OBJ_STATUS_IDLE;
    info.timestamp = 0;
    rc = zarPutObjectInfo(handle, info.copyId, &info);
  } else if (info.status == OBJ_STATUS_READING) {
    if (info.userCount > 0) {
      info.status = info.userCount == 1 ? OBJ_STATUS_IDLE : OBJ_STATUS_READING;
      --info.userCount;
    } else if (info.userCount == 0) {
      info.status = OBJ_STATUS_IDLE;
    }
    rc = zarPutObjectInfo(handle, info.copyId, &info);
  }
  if (handle->headerRewrite != 0) {
    if (updateDetailHdr(handle, handle->currentMount) != 0) return 3;
    rc = 0;
  }
  handle->objectBytes = UInt64Pair{0, 0};
  void* object = handle->currentObject;
  sm_free(&object);
  handle->currentObject = nullptr;
  return rc;
}

int zarDeleteObject(zarHandle* handle, uint64_t copy_id) {
  static const char kFn[] = "zarDeleteObject";
  if (handle == nullptr) return 6;
  if (copy_id == 0) return 22;
  if (handle->currentObject == nullptr) {
    handle->currentObject =
        static_cast<XbsaObjectDescriptor*>(sm_zalloc(sizeof(XbsaObjectDescriptor)));
    if (handle->currentObject == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      return 88002;
    }
  }
  TevObjectInfo info{};
  int rc = zarGetObjectInformation(handle, copy_id, &info);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to zarGetObjectInfo() returned %d.", kFn, rc);
    return rc;
  }
  if (info.timestamp != 0) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", SM_MSG(88061));
    return 29;
  }
  return zarDeleteCopy(handle, copy_id);
}

int zarDeleteCopy(zarHandle* handle, uint64_t copy_id) {
  if (handle == nullptr) return 6;
  zarDeleteCopyData(handle, copy_id);
  int rc = dsmDeleteObject(handle, static_cast<int64_t>(copy_id));
  if (rc == 0) rc = smcDeleteDetails(static_cast<int64_t>(copy_id));
  return rc;
}

int zarFreeCurrentObject(uint32_t handle_number) {
  zarHandle* handle = nullptr;
  const int rc = find_bsa_handle(handle_number, &handle, __FILE_NAME__, __LINE__);
  if (rc != 0) return rc;
  if (handle->currentObject != nullptr) {
    handle->objectBytes = UInt64Pair{0, 0};
    void* object = handle->currentObject;
    sm_free(&object);
    handle->currentObject = nullptr;
  }
  return 0;
}

int zarCloseObjectTables(zarHandle* handle) {
  if (handle == nullptr) {
    SM_TRACE(137, "%s", SM_MSG(88009));
    return 22;
  }
  // The object operations keep no buffer of their own between calls: only
  // the flag is left to clear.
  handle->objectTablesFlag = 0;
  return 0;
}
