// Volume rows to records and back.
#include "storage/datapath/smvolume.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "sqltypes/date.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_vol.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smdevmgt.h"

namespace {

// Volume row columns (smc_vol.h).
constexpr int kSessionId = 0;
constexpr int kTxid = SMC_VOL_TXID;
constexpr int kVolId = SMC_VOL_VOLID;
constexpr int kLabel = 12;
constexpr int kLabelLen = 80;
constexpr int kPath = SMC_VOL_PATH;
constexpr int kPathLen = SMC_VOL_PATH_LEN;
constexpr int kPoolId = 348;
constexpr int kVersion = 352;
constexpr int kVersionLen = 18;
constexpr int kCreaDate = 370;
constexpr int kModDate = 390;
constexpr int kDateLen = 20;
constexpr int kNumberObj = 410;
constexpr int kLifecycle = 414;
constexpr int kTimestamp = 418;
constexpr int kStatus = SMC_VOL_STATUS;
constexpr int kBytesFreeHi = 427;
constexpr int kBytesFreeLo = 431;
constexpr int kType = 435;
constexpr int kTypeLen = 5;
constexpr int kPlatform = 440;
constexpr int kPlatformLen = 32;

char* Field(unsigned char* row, int offset) { return reinterpret_cast<char*>(row + offset); }
const char* Field(const unsigned char* row, int offset) {
  return reinterpret_cast<const char*>(row + offset);
}

// The record from a row, volume id included.
void RowToVolume(const unsigned char* row, TevVolume* v) {
  v->volumeId = static_cast<uint32_t>(ldlong(row + kVolId));
  ldchar(Field(row, kLabel), kLabelLen, v->label);
  ldchar(Field(row, kVersion), kVersionLen, v->version);
  ldchar(Field(row, kPath), kPathLen, v->path);
  v->poolId = static_cast<uint32_t>(ldlong(row + kPoolId));
  ldchar(Field(row, kPlatform), kPlatformLen, v->platform);
  ldchar(Field(row, kCreaDate), kDateLen, v->createDate);
  ldchar(Field(row, kModDate), kDateLen, v->modifyDate);
  v->numberOfObjects = ldlong(row + kNumberObj);
  v->lifecycle = static_cast<uint32_t>(ldlong(row + kLifecycle));
  v->bytesFree.high = static_cast<uint32_t>(ldlong(row + kBytesFreeHi));
  v->bytesFree.low = static_cast<uint32_t>(ldlong(row + kBytesFreeLo));
  v->status = zarVolumeStatusCode(static_cast<char>(row[kStatus]));
  char type[kTypeLen + 1];
  ldchar(Field(row, kType), kTypeLen, type);
  v->type = zarDeviceTypeCode(type);
}

// Today's date as the date format in force gives it; "" when it cannot be
// formed. The date columns keep the first 20 characters.
void TodayText(char* out, size_t size) {
  int32_t today = 0;
  rtoday(&today);
  char text[1025];
  if (rdatestr(today, text) == 0) {
    errno = 0;
    stncopy(text, out, static_cast<int32_t>(size));
  } else {
    out[0] = '\0';
  }
}

}  // namespace

int32_t zarVolumeStatusCode(char letter) {
  switch (letter) {
    case 'I': return VOL_STATUS_IDLE;
    case 'B': return VOL_STATUS_BUSY;
    case 'L': return VOL_STATUS_L;
    default: return VOL_STATUS_OTHER;
  }
}

char zarVolumeStatusLetter(int32_t code) {
  switch (code) {
    case VOL_STATUS_IDLE: return 'I';
    case VOL_STATUS_BUSY: return 'B';
    case VOL_STATUS_L: return 'L';
    default: return 'X';
  }
}

int zarGetVolumeInfo(zarHandle* handle, TevVolume* volume) {
  if (handle == nullptr || volume == nullptr) return 22;
  const int fd = handle->tableFd[SMC_TAB_VOLUME];
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, 1) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate volume index");
    return 19;
  }
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  stlong(static_cast<int32_t>(volume->volumeId), row + kVolId);
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate volume record");
    return 19;
  }
  if (isread(fd, row, IS_CURRENT) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not read volume record");
    return 19;
  }
  RowToVolume(row, volume);
  return 0;
}

int zarPutVolumeInfo(zarHandle* handle, TevVolume* volume) {
  if (handle == nullptr || volume == nullptr) return 22;
  TodayText(volume->createDate, sizeof volume->createDate);
  TodayText(volume->modifyDate, sizeof volume->modifyDate);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const char letter = zarVolumeStatusLetter(volume->status);
  const int fd = handle->tableFd[SMC_TAB_VOLUME];
  unsigned char row[SMC_VOLUME_RECLEN] = {};

  if (volume->volumeId != 0) {
    stlong(static_cast<int32_t>(volume->volumeId), row + kVolId);
    if (smcFetchVolume(handle, row) != 0) {
      SM_TRACE(2048, SM_MSG(88063), "could not locate volume record by id");
      return 19;
    }
    stchar(volume->label, Field(row, kLabel), kLabelLen);
    stbigint(now, row + kTimestamp);
    row[kStatus] = static_cast<unsigned char>(letter);
    if (isrewcurr(fd, row) != 0) {
      SM_TRACE(2048, SM_MSG(88063), "could not update volume record");
      return 19;
    }
    return 0;
  }

  int64_t id = 0;
  if (dsmSerialMgr(handle, SMC_SER_VOLUME, &id) != 0) return 3;
  if (id == 0) {
    SM_TRACE(136, "Bad Volume ID");
    return 3;
  }
  stlong(1, row + kTxid);
  stlong(id, row + kVolId);
  stlong(handle->sessionId, row + kSessionId);
  stlong(static_cast<int32_t>(volume->poolId), row + kPoolId);
  stchar(volume->label, Field(row, kLabel), kLabelLen);
  stchar(volume->path, Field(row, kPath), kPathLen);
  stchar(volume->version, Field(row, kVersion), kVersionLen);
  row[kStatus] = static_cast<unsigned char>(letter);
  stchar(volume->createDate, Field(row, kCreaDate), kDateLen);
  stchar(volume->modifyDate, Field(row, kModDate), kDateLen);
  stlong(volume->numberOfObjects, row + kNumberObj);
  stlong(static_cast<int32_t>(volume->lifecycle), row + kLifecycle);
  stlong(static_cast<int32_t>(volume->bytesFree.high), row + kBytesFreeHi);
  stlong(static_cast<int32_t>(volume->bytesFree.low), row + kBytesFreeLo);
  stbigint(now, row + kTimestamp);
  stchar(zarDeviceTypeName(volume->type), Field(row, kType), kTypeLen);
  stchar(volume->platform, Field(row, kPlatform), kPlatformLen);
  if (iswrite(fd, row) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not insert volume record");
    return 3;
  }
  volume->volumeId = static_cast<uint32_t>(id);
  return 0;
}

int zarFindDeviceVolume(zarHandle* handle, const char* path, TevVolume* volume) {
  if (handle == nullptr || path == nullptr || volume == nullptr) return 22;
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  stchar(path, Field(row, kPath), kPathLen);
  const int rc = smcFetchVolumeByPath(handle, row);
  if (rc == 17) return 17;
  if (rc != 0) return 3;
  RowToVolume(row, volume);
  return 0;
}

int zarVolumeMakeNew(zarHandle* handle, const TevDevice* device, TevVolume* volume) {
  static const char kFn[] = "zarVolumeMakeNew";
  if (handle == nullptr || device == nullptr || volume == nullptr) return 22;
  *volume = TevVolume{};
  stncopy(kCatalogVersion, volume->version, sizeof volume->version);
  stncopy(device->name, volume->path, sizeof volume->path);
  // A stored value that no reader interprets; kept as every catalog has it.
  stncopy("Windows", volume->platform, sizeof volume->platform);
  stncopy("TEV_DISK_VOL", volume->label, sizeof volume->label);
  volume->status = VOL_STATUS_IDLE;
  volume->type = device->type;
  volume->poolId = static_cast<uint32_t>(device->poolId);
  const int rc = zarPutVolumeInfo(handle, volume);
  if (rc != 0) SM_TRACE(137, "%s: zarPutVolumeInfo returned %d.", kFn, rc);
  return rc;
}

int zarFindVolumeDevice(zarHandle* handle, const TevVolume* volume, TevDevice* device) {
  TypedList* list = nullptr;
  const int rc = zarGetDeviceList(handle, 0, static_cast<int32_t>(volume->poolId), 0, &list);
  if (rc != 0) return rc;
  bool found = false;
  int32_t status = LL_OK;
  for (auto* d = static_cast<TevDevice*>(ll_first(list, &status)); d != nullptr && !found;
       d = static_cast<TevDevice*>(ll_next(list, &status))) {
    if (std::strcmp(d->name, volume->path) != 0) {
      SM_TRACE(129, "'%s' is not '%s' ignoring.", d->name, volume->path);
    } else if (d->type != volume->type) {
      SM_TRACE(129, "'%s' is not and STDIO device(is %d) ignoring.", d->name, d->type);
    } else {
      *device = *d;
      found = true;
    }
  }
  ll_destroy(&list, 1, &status);
  return found ? 0 : 17;
}
