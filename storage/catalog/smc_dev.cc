// The device table (layout in smc_dev.h): descriptor, creation, the
// process-wide file of the row operations, find, insert, modify, demotion
// of a pool's HIGHEST device, delete and dump.
#include "storage/catalog/smc_dev.h"

#include <strings.h>

#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/pending_calls.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smvolume.h"

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

namespace {

constexpr int kName = 0;
constexpr int kNameLen = 120;
constexpr int kReadCmd = 120;
constexpr int kWriteCmd = 376;
constexpr int kCmdSlot = 256;
constexpr int kPriority = 632;
constexpr int kType = 636;
constexpr int kCloudProv = 641;
constexpr int kBlockSize = 645;
constexpr int kMediaSize = 653;
constexpr int kPartSize = 661;
constexpr int kStatus = 669;
constexpr int kTimestamp = 670;
constexpr int kPoolId = 678;
constexpr int kSessionId = 682;
constexpr int kUser = 686;
constexpr int kPassword = 814;
constexpr int kStdioRead = 942;
constexpr int kStdioWrite = 1070;
constexpr int kStdioDrop = 1198;
constexpr int kUrl = 1326;
constexpr int kContainer = 1582;

// The process-wide file of the row operations; -1 while closed.
int deviceFd = -1;

// Stored type names by type code 1-4; "" for a code outside them.
const char* TypeName(int32_t type) {
  static const char* const kNames[] = {"FILE", "TAPE", "STDIO", "CLOUD"};
  return type >= 1 && type <= 4 ? kNames[type - 1] : "";
}

void PutChar(unsigned char* row, int offset, const char* text, int width) {
  stchar(text, reinterpret_cast<char*>(row + offset), width);
}

// The record's media size {high, low} as one byte count.
int64_t MediaBytes(const TevDevice& d) {
  return static_cast<int64_t>((static_cast<uint64_t>(d.mediaSizeHigh) << 32) | d.mediaSizeLow);
}

// Names of the priorities 1 READ-ONLY to 4 HIGHEST for the traces.
const char* PriorityName(int32_t priority) {
  static const char* const kNames[] = {"READ-ONLY", "LOW", "HIGH", "HIGHEST"};
  return priority >= 1 && priority <= 4 ? kNames[priority - 1] : "TEV_INVALID";
}

// The record as a new row: zeroed, character columns blank-padded, the
// command columns over their whole 256-byte slots, status "I".
void RecordToRow(const TevDevice& d, unsigned char* row) {
  std::memset(row, 0, SMC_DEVICE_RECLEN);
  PutChar(row, kName, d.name, kNameLen);
  PutChar(row, kReadCmd, d.readCmd, kCmdSlot);
  PutChar(row, kWriteCmd, d.writeCmd, kCmdSlot);
  stlong(d.priority, row + kPriority);
  PutChar(row, kType, TypeName(d.type), 5);
  stlong(static_cast<int32_t>(d.cloudProvider), row + kCloudProv);
  stbigint(d.blockSize, row + kBlockSize);
  stbigint(MediaBytes(d), row + kMediaSize);
  stbigint(d.partSize, row + kPartSize);
  PutChar(row, kStatus, "I", 1);
  stbigint(d.timestamp, row + kTimestamp);
  stlong(d.poolId, row + kPoolId);
  stlong(d.sessionId, row + kSessionId);
  PutChar(row, kUser, d.user, 128);
  PutChar(row, kPassword, d.password, 128);
  PutChar(row, kStdioRead, d.stdioRead, 128);
  PutChar(row, kStdioWrite, d.stdioWrite, 128);
  PutChar(row, kStdioDrop, d.stdioDrop, 128);
  PutChar(row, kUrl, d.url, 256);
  PutChar(row, kContainer, d.container, 256);
}

// The type code of a stored type name (case-insensitive), -1 when unknown.
int32_t TypeCode(const char* name) {
  for (int32_t t = 1; t <= 4; ++t) {
    if (strcasecmp(name, TypeName(t)) == 0) return t;
  }
  return -1;
}

// A record from a row; fields the row does not hold stay zero, the
// descriptor is -1.
void RowToRecord(const unsigned char* row, TevDevice* d) {
  *d = TevDevice{};
  const char* r = reinterpret_cast<const char*>(row);
  ldchar(r + kName, kNameLen, d->name);
  ldchar(r + kReadCmd, 120, d->readCmd);
  ldchar(r + kWriteCmd, 120, d->writeCmd);
  ldchar(r + kUser, 128, d->user);
  ldchar(r + kPassword, 128, d->password);
  ldchar(r + kUrl, 256, d->url);
  ldchar(r + kContainer, 256, d->container);
  ldchar(r + kStdioRead, 128, d->stdioRead);
  ldchar(r + kStdioWrite, 128, d->stdioWrite);
  ldchar(r + kStdioDrop, 128, d->stdioDrop);
  char type[6];
  ldchar(r + kType, 5, type);
  d->type = TypeCode(type);
  d->priority = ldlong(row + kPriority);
  d->cloudProvider = static_cast<uint32_t>(ldlong(row + kCloudProv));
  d->poolId = ldlong(row + kPoolId);
  d->sessionId = ldlong(row + kSessionId);
  ldbigint(&d->blockSize, row + kBlockSize);
  ldbigint(&d->partSize, row + kPartSize);
  ldbigint(&d->timestamp, row + kTimestamp);
  int64_t media = 0;
  ldbigint(&media, row + kMediaSize);
  d->mediaSizeHigh = static_cast<uint32_t>(static_cast<uint64_t>(media) >> 32);
  d->mediaSizeLow = static_cast<uint32_t>(media);
  struct tm tm {};
  if (sm_localtime(&d->timestamp, &tm) != nullptr) {
    sm_format_time(&tm, d->timestampText, sizeof d->timestampText);
  }
  d->busy = row[kStatus] == 'B' ? 1 : 0;
  d->descriptor = -1;
}

}  // namespace

int smcGetDeviceList(zarHandle* handle, int32_t status_filter, int32_t pool_id, int32_t session_id,
                     TypedList** out) {
  static const char kFn[] = "smcGetDeviceList";
  SM_TRACE(136, "%s: enter", kFn);
  int rc = 0;
  int32_t status = 0;
  TypedList* list = nullptr;
  if (out == nullptr || handle == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88186));
    rc = 22;
  } else if ((list = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status)) == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88002));
    rc = 19;
  } else {
    const int fd = handle->tableFd[SMC_TAB_DEVICE];
    if (smc::StartRecordOrder(fd) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
      rc = 19;
    }
    unsigned char row[SMC_DEVICE_RECLEN];
    while (rc == 0) {
      if (isread(fd, row, IS_NEXT) != 0) {
        if (iserrno != EENDFILE) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
          rc = 19;
        }
        break;
      }
      if ((status_filter == 2 && row[kStatus] != 'I') || (status_filter == 1 && row[kStatus] != 'B') ||
          (pool_id > 0 && ldlong(row + kPoolId) != pool_id) ||
          (session_id > 0 && ldlong(row + kSessionId) != session_id)) {
        continue;
      }
      auto* device = static_cast<TevDevice*>(sm_zalloc(sizeof(TevDevice)));
      if (device != nullptr) {
        RowToRecord(row, device);
        ll_insert(list, device, &status);
      }
      if (device == nullptr || status != LL_OK) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88002));
        void* p = device;
        if (device != nullptr) sm_free(&p);
        rc = 19;
      }
    }
    if (rc == 0) {
      *out = list;
    } else {
      ll_destroy(&list, 1, &status);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kFn, rc, rc);
  return rc;
}

int smcDevTabOpen() {
  if (deviceFd >= 0) return 0;
  deviceFd = isopen(smc::TablePath(SMC_TAB_DEVICE), IS_INOUT | IS_MANULOCK);
  return deviceFd >= 0 ? 0 : 19;
}

int smcDevTabClose() {
  if (deviceFd >= 0) isclose(deviceFd);
  deviceFd = -1;
  return 0;
}

int dsmFindDevice(const TevDevice* device, int32_t pool_id, char* status, unsigned char* row,
                  int verbose) {
  if (smcDevTabOpen() != 0) return -1;
  IsamKeyDesc key{};
  if (isindexinfo(deviceFd, &key, 1) != 0) {
    if (verbose != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "device");
    smcDevTabClose();
    return 19;
  }
  std::memset(row, 0, SMC_DEVICE_RECLEN);
  PutChar(row, kName, device->name, kNameLen);
  if (isstart(deviceFd, &key, 0, row, IS_EQUAL) != 0) {
    if (verbose != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
    smcDevTabClose();
    return 17;
  }
  char name[kNameLen + 1];
  // The rows of one name lie together in key order, one per pool: the
  // first row of another name ends the search.
  for (;;) {
    if (isread(deviceFd, row, IS_NEXT) != 0) {
      const int rc = iserrno == EENDFILE ? 17 : 19;
      if (rc == 19 && verbose != 0) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
      smcDevTabClose();
      return rc;
    }
    ldchar(reinterpret_cast<const char*>(row + kName), kNameLen, name);
    if (std::strcmp(name, device->name) != 0) break;
    if (ldlong(row + kPoolId) != pool_id) continue;
    if (status != nullptr) {
      status[0] = static_cast<char>(row[kStatus]);
      status[1] = '\0';
    }
    return 0;
  }
  smcDevTabClose();
  return 17;
}

int smcInsertDevice(zarHandle* handle, TevDevice* device) {
  static const char kFn[] = "smcInsertDevice";
  SM_TRACE(136, "%s: enter", kFn);
  unsigned char row[SMC_DEVICE_RECLEN];
  int rc = dsmFindDevice(device, device->poolId, nullptr, row, 0);
  if (rc != 17) {
    SM_TRACE(137, "dsmFindDevice failed.");
    // A device already in the pool leaves its row open: close it.
    rc = iserrno == ENORECORD ? 17 : 3;
    smcDevTabClose();
    SM_TRACE(136, "%s: return %d (0x%02x)", kFn, rc, rc);
    return rc;
  }
  RecordToRow(*device, row);
  rc = smcDevTabOpen();
  if (rc == 0 && iswrite(deviceFd, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "device");
    rc = -1;
  }
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88005), "zar_device");
  } else {
    // The device's volume: the one of its path, or a new one. A device
    // without a volume could never be written to, so when neither can be
    // had the new row goes again.
    const int32_t recnum = isrecnum;
    TevVolume volume{};
    rc = zarFindDeviceVolume(handle, device->name, &volume);
    if (rc == 17) rc = zarVolumeMakeNew(handle, device, &volume);
    if (rc == 0) {
      device->volumeId = static_cast<int32_t>(volume.volumeId);
    } else if (isdelrec(deviceFd, recnum) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "device");
    }
  }
  smcDevTabClose();
  SM_TRACE(136, "%s: return %d (0x%02x)", kFn, rc, rc);
  return rc;
}

int smcDevTabResetStatus(int32_t session_id) {
  if (smcDevTabOpen() != 0) return -1;
  int rc = 0;
  if (smc::StartRecordOrder(deviceFd) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
    rc = 19;
  }
  unsigned char row[SMC_DEVICE_RECLEN];
  while (rc == 0) {
    if (isread(deviceFd, row, IS_NEXT) != 0) {
      if (iserrno != EENDFILE) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
        rc = 19;
      }
      break;
    }
    if (session_id > 0 && ldlong(row + kSessionId) != session_id) continue;
    row[kStatus] = 'I';
    if (isrewcurr(deviceFd, row) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "device");
      rc = 19;
    }
  }
  smcDevTabClose();
  return rc;
}

int smcDevTabRewrite(const unsigned char* row) {
  if (deviceFd < 0 || isrewcurr(deviceFd, row) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "device");
    return 19;
  }
  return 0;
}

int zarDemoteHighestDevice(zarHandle* handle, int32_t pool_id) {
  return smc::Traced("zarDemoteHighestDevice", [&] {
    const int fd = handle != nullptr ? handle->tableFd[SMC_TAB_DEVICE] : -1;
    IsamKeyDesc key{};
    if (isindexinfo(fd, &key, 3) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "device");
      return 19;
    }
    // A demoted row moves to the HIGH entries of its pool, before the
    // HIGHEST ones, and the position moves with it: each HIGHEST row is
    // found from the key anew. Every pass demotes one row, so the walk
    // ends.
    unsigned char row[SMC_DEVICE_RECLEN];
    for (;;) {
      std::memset(row, 0, sizeof row);
      stlong(pool_id, row + kPoolId);
      stlong(4, row + kPriority);
      if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
        if (iserrno == ENORECORD) return 0;
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
        return 17;
      }
      if (isread(fd, row, IS_NEXT) != 0) {
        if (iserrno == EENDFILE) return 0;
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
        return 19;
      }
      if (ldlong(row + kPoolId) != pool_id || ldlong(row + kPriority) != 4) return 0;
      stlong(3, row + kPriority);
      if (isrewcurr(fd, row) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88109), "device");
        return 19;
      }
    }
  });
}

int smcModifyDevice(zarHandle* handle, TevDevice* device) {
  return smc::Traced("smcModifyDevice", [&] {
    if (device == nullptr || device->name[0] == '\0') {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88024), " ");
      return -1;
    }
    if (device->poolId == 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88016));
      return -1;
    }
    unsigned char row[SMC_DEVICE_RECLEN];
    char status[2];
    int rc = dsmFindDevice(device, device->poolId, status, row, 0);
    if (rc != 0) {
      SM_TRACE(137, "dsmFindDevice failed with rc = %d.", rc);
      // A search that failed is not a device that does not exist.
      return rc == 17 ? 17 : 19;
    }
    const int stored_busy = status[0] == 'B' ? 1 : status[0] == 'I' ? 0 : -1;
    if (stored_busy != device->busy) {
      const char* letter = device->busy == 1 ? "B" : "I";
      SM_TRACE(136, "Status for device '%s' changed to '%s'.", device->name, letter);
      PutChar(row, kStatus, letter, 1);
    }
    const int32_t stored_priority = ldlong(row + kPriority);
    if (device->priority != stored_priority) {
      if (device->priority == 4) {
        rc = zarDemoteHighestDevice(handle, device->poolId);
        if (rc != 0) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88112), device->poolId);
          smcDevTabClose();
          return rc;
        }
      }
      SM_TRACE(136, "Priority for device '%s' changed to '%s' from '%s'.", device->name,
               PriorityName(device->priority), PriorityName(stored_priority));
      stlong(device->priority, row + kPriority);
    }
    PutChar(row, kReadCmd, device->readCmd, kCmdSlot);
    PutChar(row, kWriteCmd, device->writeCmd, kCmdSlot);
    stbigint(MediaBytes(*device), row + kMediaSize);
    stlong(device->sessionId, row + kSessionId);
    stbigint(device->timestamp, row + kTimestamp);
    rc = smcDevTabRewrite(row) == 0 ? 0 : -1;
    smcDevTabClose();
    return rc;
  });
}

int zarAddModDevice(zarHandle* handle, TevDevice* device) {
  return smc::Traced("zarAddModDevice", [&] {
    int rc = smcModifyDevice(handle, device);
    if (rc == 17) rc = zarInsertDevice(handle, device);
    return rc;
  });
}

namespace {

// Deletes every object with a part on the volume, through an own
// object_detail file read in record order. 0 (found set when one was
// deleted); 3 when an object could not be deleted or a read failed; 19
// when the table cannot be opened or positioned.
int DeleteVolumeObjects(zarHandle* handle, uint32_t volume_id, bool* found) {
  smc::OwnFile details(SMC_TAB_DETAIL);
  if (details.fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88103), "object_detail");
    return 19;
  }
  if (smc::StartRecordOrder(details.fd) != 0) {
    if (iserrno == ENORECORD) return 0;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_detail");
    return 19;
  }
  bool failed = false;
  unsigned char row[SMC_DETAIL_RECLEN];
  for (;;) {
    if (isread(details.fd, row, IS_NEXT) != 0) {
      // A read error ends the walk: reading on after it could repeat it
      // for ever.
      if (iserrno != EENDFILE && iserrno != ENORECORD) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_detail");
        failed = true;
      }
      break;
    }
    if (static_cast<uint32_t>(ldlong(row)) != volume_id) continue;
    int64_t copy_id = 0;
    ldbigint(&copy_id, row + 8);
    const int rc = zarDeleteObject(handle, copy_id);
    if (rc != 0) {
      const uint64_t id = static_cast<uint64_t>(copy_id);
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88026), static_cast<unsigned>(id >> 32),
                static_cast<unsigned>(id & 0xffffffffu), rc);
      failed = true;
    } else {
      *found = true;
    }
  }
  return failed ? 3 : 0;
}

// Deletes the volume row of the id through the session's volume file. 0
// (found set when the row was there); 19.
int DeleteVolumeRow(zarHandle* handle, uint32_t volume_id, bool* found) {
  const int fd = handle != nullptr ? handle->tableFd[SMC_TAB_VOLUME] : -1;
  const char* path = smc::TablePath(SMC_TAB_VOLUME);
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, 1) != 0) {
    SM_TRACE(137, "Message 88111: %s", "volume");
    return 19;
  }
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  stlong(static_cast<int32_t>(volume_id), row + SMC_VOL_VOLID);
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "volume");
    return iserrno == ENORECORD ? 0 : 19;
  }
  if (isread(fd, row, IS_CURRENT) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
    return iserrno == ENORECORD ? 0 : 19;
  }
  if (isdelcurr(fd) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), path);
    return 19;
  }
  *found = true;
  return 0;
}

// Deletes the idle rows of the name (of the pool when pool > 0) through the
// process-wide file; busy rows stay. 0; 17; 19.
int DeleteDeviceRows(const char* name, int32_t pool, bool found) {
  if (smcDevTabOpen() != 0) return 19;
  IsamKeyDesc key{};
  if (isindexinfo(deviceFd, &key, 1) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "device");
    return 19;
  }
  unsigned char row[SMC_DEVICE_RECLEN] = {};
  PutChar(row, kName, name, kNameLen);
  if (isstart(deviceFd, &key, 0, row, IS_EQUAL) != 0) {
    if (iserrno != ENORECORD) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
      return 19;
    }
    if (found) return 0;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88056), name);
    return 17;
  }
  int deleted = 0;
  char stored[kNameLen + 1];
  for (;;) {
    if (isread(deviceFd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE) break;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
      return 19;
    }
    ldchar(reinterpret_cast<const char*>(row + kName), kNameLen, stored);
    if (std::strcmp(stored, name) != 0) break;
    if (pool > 0 && ldlong(row + kPoolId) != pool) continue;
    if (row[kStatus] != 'I') {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88022), name);
      continue;
    }
    if (isdelcurr(deviceFd) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "device");
      return 19;
    }
    ++deleted;
  }
  if (deleted > 0 || found) return 0;
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88057), name);
  return 17;
}

}  // namespace

int zarDeleteDevices(zarHandle* handle, const char* name, int32_t pool_selector) {
  return smc::Traced("zarDeleteDevices", [&] {
    // Names are kept as typed: one with capitals is deleted by that name.
    if (name == nullptr) name = "";
    bool found = false;
    if (pool_selector == -1) {
      TevVolume volume{};
      int rc = zarFindDeviceVolume(handle, name, &volume);
      if (rc != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88056), name);
        return rc;
      }
      rc = DeleteVolumeObjects(handle, volume.volumeId, &found);
      if (rc == 0) rc = DeleteVolumeRow(handle, volume.volumeId, &found);
      if (rc != 0) return rc;
      pool_selector = 0;
    }
    int rc = 0;
    if (std::strlen(name) <= static_cast<size_t>(kNameLen)) {
      rc = DeleteDeviceRows(name, pool_selector, found);
    } else if (!found) {
      // No row holds a name this long; its first 120 characters may be
      // another device's name.
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, SM_MSG(88056), name);
      rc = 17;
    }
    smcDevTabClose();
    return rc;
  });
}

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
