// The device table (layout in smc_dev.h): descriptor, creation, the
// process-wide file of the row operations, find, insert and dump.
#include "storage/catalog/smc_dev.h"

#include <strings.h>

#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_internal.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"
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
  const uint64_t media = (static_cast<uint64_t>(d.mediaSizeHigh) << 32) | d.mediaSizeLow;
  stbigint(static_cast<int64_t>(media), row + kMediaSize);
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
