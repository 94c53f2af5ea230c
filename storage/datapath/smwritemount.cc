// The write mounts: the choice of a device for the next part of an object,
// and the opening of its medium with the part's header.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smmount_filter.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smpartfile.h"
#include "storage/datapath/smvolume.h"

namespace {

// obj_version of the object row (smc_obj.h).
constexpr int kObjVersion = 952;
constexpr size_t kNameSize = 1024;

uint64_t ToU64(UInt64Pair pair) { return (static_cast<uint64_t>(pair.high) << 32) | pair.low; }

// The device's volume (made when the device has none yet), the number of
// the object's next part and its detail. 0, or a code.
int PreparePart(zarHandle* handle, TevDevice* device, const TevObjectInfo* info,
                TevObjectDetail* detail) {
  int rc = zarFindDeviceVolume(handle, device->name, &device->volume);
  if (rc == 17) rc = zarVolumeMakeNew(handle, device, &device->volume);
  if (rc != 0) return rc;
  int32_t part = 0;
  if (dsmGetNextDetailSeq(handle, static_cast<int64_t>(ToU64(info->copyId)), &part) != 0) {
    return 3;
  }
  handle->partNumber = part;
  *detail = TevObjectDetail{};
  detail->volumeId = device->volume.volumeId;
  detail->copyId = info->copyId;
  detail->partNumber = part;
  return 0;
}

// Writes the part's header on the freshly made part file; on failure the
// file is closed and removed, so no half-written part is left.
int WriteFileHeader(zarHandle* handle, TevDevice* device, TevObjectInfo* info, int fd,
                    const char* name) {
  device->descriptor = fd;
  const int rc = writeDetailHdr(handle, device, info);
  if (rc != 0) {
    sm_close(fd);
    unlink(name);
    device->descriptor = -1;
  }
  return rc;
}

// Stores a raised version in the object row. 0; 3.
int StoreVersion(zarHandle* handle, const TevObjectInfo* info, int32_t version) {
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stbigint(static_cast<int64_t>(ToU64(info->copyId)), row + SMC_OBJ_COPYID);
  if (dsmFetchObject(handle, row) != 0) return 3;
  stlong(version, row + kObjVersion);
  return isrewcurr(handle->tableFd[SMC_TAB_OBJECT], row) == 0 ? 0 : 3;
}

// The part file exists already: the object takes the next version whose
// part file name is free.
int WriteUnderNextVersion(zarHandle* handle, TevDevice* device, TevObjectInfo* info,
                          const TevObjectDetail* detail) {
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stbigint(static_cast<int64_t>(ToU64(info->copyId)), row + SMC_OBJ_COPYID);
  int rc = dsmFetchObject(handle, row);
  if (rc != 0) return rc;
  const XbsaObjectDescriptor* object = handle->currentObject;
  int32_t version = ldlong(row + kObjVersion);
  char name[kNameSize];
  for (;;) {
    ++version;
    TevObjectInfo next = *info;
    const int n = std::snprintf(next.fileName, sizeof next.fileName, "%s%s.%d", object->pathName,
                                object->objectSpaceName, version);
    if (n < 0 || static_cast<size_t>(n) >= sizeof next.fileName) return 24;
    rc = zarGenFileName(handle, name, sizeof name, &device->volume, next.fileName, detail);
    if (rc != 0) return rc;
    const int fd = openSubDir(name, O_RDWR | O_CREAT, TEV_PART_FILE_MODE);
    if (fd == SM_PART_FILE_EXISTS) continue;
    if (fd < 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88003), name);
      return 29;
    }
    SM_TRACE(135, "Version for object incresed to %d.", version);
    if (StoreVersion(handle, info, version) != 0) {
      sm_close(fd);
      unlink(name);
      return 3;
    }
    stncopy(next.fileName, info->fileName, sizeof info->fileName);
    info->version = version;
    handle->currentObject->version = static_cast<uint32_t>(version);
    return WriteFileHeader(handle, device, info, fd, name);
  }
}

int MountDevice(zarHandle* handle, TevDevice* device, TevObjectInfo* info) {
  switch (device->type) {
    case DEV_TYPE_FILE:
      return writemountfile(handle, device, info);
    case DEV_TYPE_STDIO:
      return writeMountStdio(handle, device, info);
    case DEV_TYPE_CLOUD:
      return writeMountCloudStdio(handle, device, info);
    default:
      SM_TRACE(129, "Device Type %d not supported", static_cast<int>(device->type));
      return 3;
  }
}

}  // namespace

int writemountfile(zarHandle* handle, TevDevice* device, TevObjectInfo* info) {
  if (handle == nullptr || device == nullptr || info == nullptr ||
      handle->currentObject == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88009));
    return 22;
  }
  TevObjectDetail detail;
  int rc = PreparePart(handle, device, info, &detail);
  if (rc != 0) return rc;
  char name[kNameSize];
  rc = zarGenFileName(handle, name, sizeof name, &device->volume, info->fileName, &detail);
  if (rc != 0) return rc;
  const int fd = openSubDir(name, O_RDWR | O_CREAT, TEV_PART_FILE_MODE);
  if (fd >= 0) return WriteFileHeader(handle, device, info, fd, name);
  // A first part whose file exists makes the object take a free version.
  // A later part cannot: the parts written already carry the version in
  // their names, so this device cannot take the part.
  if (fd == SM_PART_FILE_EXISTS && detail.partNumber == 1) {
    return WriteUnderNextVersion(handle, device, info, &detail);
  }
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88003), name);
  return 29;
}

// STDIO and CLOUD: the part goes into a filter, then its header.
static int WriteMountFilter(zarHandle* handle, TevDevice* device, TevObjectInfo* info) {
  if (handle == nullptr || device == nullptr || info == nullptr ||
      handle->currentObject == nullptr || zarGetConfig() == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88009));
    return 22;
  }
  TevObjectDetail detail;
  int rc = PreparePart(handle, device, info, &detail);
  if (rc != 0) return rc;
  rc = tevStartMountFilter(handle, device, &detail, true);
  if (rc != 0) return rc;
  device->descriptor = -1;
  rc = writeDetailHdr(handle, device, info);
  if (rc != 0) {
    destroy_filter(handle->filterId);
    handle->filterId = -1;
  }
  return rc;
}

int writeMountStdio(zarHandle* handle, TevDevice* device, TevObjectInfo* info) {
  return WriteMountFilter(handle, device, info);
}

int writeMountCloudStdio(zarHandle* handle, TevDevice* device, TevObjectInfo* info) {
  return WriteMountFilter(handle, device, info);
}

int zarVolumeWriteMount(zarHandle* handle) {
  static const char kName[] = "zarVolumeWriteMount";
  if (handle == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88250));
    return 6;
  }
  SM_TRACE(136, "%s: enter", kName);
  auto done = [&](int rc) {
    SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, static_cast<unsigned>(rc));
    return rc;
  };
  if (handle->currentMount != nullptr || handle->transactionId == 0) {
    SM_TRACE(137, "%s: Returning BSA_RC_BAD_CALL_SEQUENCE", kName);
    return done(5);
  }
  if (handle->currentObject == nullptr || handle->mountList == nullptr) {
    SM_TRACE(137, "zarVolumeWriteMount returning BSA_RC_NULL_POINTER");
    return done(22);
  }
  TevObjectInfo info{};
  int rc = zarGetObjectInformation(handle, ToU64(handle->currentObject->copyId), &info);
  if (rc != 0) {
    SM_TRACE(2048, SM_MSG(88007), "zar_object");
    return done(rc);
  }
  TypedList* devices = nullptr;
  if (zarGetDeviceList(handle, 2, handle->writePoolId, 0, &devices) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88012));
    return done(19);
  }
  // The idle devices in list order; a device that cannot take the part is
  // passed over for the rest of the walk.
  std::vector<TevDevice*> candidates;
  int32_t status = LL_OK;
  for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr;
       d = static_cast<TevDevice*>(ll_next(devices, &status))) {
    candidates.push_back(d);
  }
  if (status != LL_OK && status != LL_EMPTY && status != LL_END) {
    SM_TRACE(2048, SM_MSG(88048), static_cast<int>(status));
    ll_destroy(&devices, 1, &status);
    return done(3);
  }
  TevMount* mount = nullptr;
  bool stop = false;
  rc = 19;
  for (int32_t priority = DEV_PRIO_HIGHEST; priority >= DEV_PRIO_LOW && !stop; --priority) {
    for (TevDevice* device : candidates) {
      if (device->priority != priority) continue;
      const int mrc = MountDevice(handle, device, &info);
      if (mrc == 0) {
        mount = addMountList(handle, device);
        if (mount == nullptr) {
          // The medium was opened for nothing.
          if (device->type == DEV_TYPE_FILE) sm_close(device->descriptor);
          if (handle->filterId >= 0) destroy_filter(handle->filterId);
          handle->filterId = -1;
        }
        rc = mount != nullptr ? 0 : 19;
        stop = true;
      } else if (mrc == 3) {
        rc = 3;
        stop = true;
      } else {
        SM_TRACE(135, "%s: device '%s' refused the mount with %d.", kName, device->name, mrc);
      }
      if (stop) break;
    }
  }
  ll_destroy(&devices, 1, &status);
  if (mount == nullptr && rc == 19) {
    TevPool pool{};
    zarGetPoolName(handle, handle->writePoolId, &pool);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88035), pool.pool_name);
  }
  handle->currentMount = mount;
  if (mount != nullptr) {
    // A new part: nothing of it is written yet.
    handle->partBytes = 0;
    handle->headerRewrite = 0;
  }
  return done(rc);
}
