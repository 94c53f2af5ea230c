// The read mounts: the medium of an object's part opened for reading and
// its header checked against the catalog.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "base/msgfile.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smmount_filter.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smtape.h"
#include "storage/datapath/smvolume.h"

namespace {

uint64_t ToU64(UInt64Pair pair) { return (static_cast<uint64_t>(pair.high) << 32) | pair.low; }

}  // namespace

int readMountFile(zarHandle* handle, TevVolume* volume, const char* file_name,
                  TevObjectDetail* detail) {
  if (handle == nullptr || volume == nullptr || file_name == nullptr || detail == nullptr) {
    return 22;
  }
  char name[1024];
  int rc = zarGenFileName(handle, name, sizeof name, volume, file_name, detail);
  if (rc != 0) return rc;
  const int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    sm_trace(2048, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88030), errno);
    return 3;
  }
  TevDevice record{};
  record.type = volume->type;
  record.descriptor = fd;
  TevMount* mount = addMountList(handle, &record);
  if (mount == nullptr) {
    sm_close(fd);
    return 19;
  }
  handle->currentMount = mount;
  return 0;
}

int readMountStdio(zarHandle* handle, TevVolume* volume, TevObjectInfo* info,
                   TevObjectDetail* detail) {
  if (handle == nullptr || volume == nullptr || info == nullptr || detail == nullptr) {
    SM_TRACE(136, "ERROR: Null pointer detected.");
    return 22;
  }
  TypedList* devices = nullptr;
  int rc = zarGetDeviceList(handle, 0, static_cast<int32_t>(volume->poolId), 0, &devices);
  if (rc != 0) return rc;
  TevDevice device{};
  bool found = false;
  int32_t status = LL_OK;
  for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr && !found;
       d = static_cast<TevDevice*>(ll_next(devices, &status))) {
    if (std::strcmp(d->name, volume->path) != 0) {
      SM_TRACE(129, "'%s' is not '%s' ignoring.", d->name, volume->path);
    } else if (d->type != volume->type) {
      SM_TRACE(129, "'%s' is not and STDIO device(is %d) ignoring.", d->name, d->type);
    } else {
      device = *d;
      found = true;
    }
  }
  ll_destroy(&devices, 1, &status);
  if (!found) {
    SM_TRACE(136, "ERROR: Cannot find suitable device");
    return 3;
  }
  rc = tevStartMountFilter(handle, &device, detail, false);
  if (rc != 0) return rc;
  device.volume = *volume;
  device.descriptor = -1;
  TevMount* mount = addMountList(handle, &device);
  if (mount == nullptr) {
    destroy_filter(handle->filterId);
    handle->filterId = -1;
    return 19;
  }
  handle->currentMount = mount;
  return 0;
}

int zarVolumeReadMount(zarHandle* handle) {
  static const char kName[] = "zarVolumeReadMount";
  if (handle == nullptr) {
    SM_TRACE(137, "NULL zarHandle.");
    return 6;
  }
  SM_TRACE(136, "%s: enter", kName);
  auto done = [&](int rc) {
    SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, static_cast<unsigned>(rc));
    return rc;
  };
  TevObjectInfo info{};
  const uint64_t copy = handle->currentObject != nullptr ? ToU64(handle->currentObject->copyId) : 0;
  int rc = zarGetObjectInformation(handle, copy, &info);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to zarGetObjectInfo() returned %d.", kName, rc);
    return done(rc);
  }
  if (info.status == OBJ_STATUS_WRITING) {
    SM_TRACE(137, "%s: Object is Busy.", kName);
    return done(19);
  }
  TevObjectDetail detail{};
  detail.copyId = info.copyId;
  detail.partNumber = handle->partNumber;
  rc = zarGetObjDetail(handle, &detail);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to zarGetObjDetail() returned %d.", kName, rc);
    return done(rc);
  }
  TevVolume volume{};
  volume.volumeId = detail.volumeId;
  rc = zarGetVolumeInfo(handle, &volume);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to zarGetVolumeInfo() returned %d.", kName, rc);
    return done(rc);
  }
  switch (volume.type) {
    case DEV_TYPE_FILE:
      rc = readMountFile(handle, &volume, info.fileName, &detail);
      break;
    case DEV_TYPE_TAPE:
      rc = readMountTape(handle, &volume);
      break;
    case DEV_TYPE_STDIO:
    case DEV_TYPE_CLOUD:
      rc = readMountStdio(handle, &volume, &info, &detail);
      break;
    default:
      SM_TRACE(129, "Device Type %d not supported", static_cast<int>(volume.type));
      return done(3);
  }
  if (rc != 0) {
    SM_TRACE(137, "%s: Attempt to mount the volume failed with rc = %d.", kName, rc);
    return done(rc);
  }
  handle->partBytes = 0;
  // From here on the object is being read.
  info.status = OBJ_STATUS_READING;
  rc = zarPutObjectInfo(handle, info.copyId, &info);
  if (rc != 0) {
    SM_TRACE(137, "%s: Call to zarPutObjectInfo() returned %d.", kName, rc);
    return done(rc);
  }
  rc = readMountDetailHdr(handle, handle->currentMount, &detail);
  if (rc != 0) {
    zarUnmountVolume(handle);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88046), volume.label);
  }
  return done(rc);
}
