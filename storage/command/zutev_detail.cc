// The object detail report: for each listed object its catalog data and,
// part by part, where the stored bytes lie: the file on a FILE device, the
// drop command of a STDIO device, the address on a CLOUD device.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/smc_lock.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_trace.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev_device.h"
#include "storage/datapath/smcloud.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smvolume.h"

namespace {

constexpr char kCloudTemplate[] = "@obj_name@/@short_name@.@obj_id@.@obj_part@";
constexpr size_t kLineMax = 1023;

// A part line of the report, cut to its longest.
void PartLine(const std::string& text) {
  std::printf("\t%s\n", text.substr(0, kLineMax).c_str());
}

// The device of the volume: 0 found, 3 none, or the device list's code.
int FindVolumeDevice(zarHandle* handle, const TevVolume& volume, TevDevice* out) {
  const int rc = zarFindVolumeDevice(handle, &volume, out);
  if (rc == 17) {
    SM_TRACE(136, SM_MSG(88049), static_cast<int>(volume.volumeId));
    return 3;
  }
  return rc;
}

// The line of a STDIO or CLOUD part: 0, or the code that ends the report.
int DevicePartLine(zarHandle* handle, const TevVolume& volume, const TevObjectDetail& detail) {
  TevDevice device{};
  int rc = FindVolumeDevice(handle, volume, &device);
  if (rc != 0) return rc;
  const bool stdio = volume.type == DEV_TYPE_STDIO;
  char* target =
      expandStdioArg(stdio ? device.stdioDrop : kCloudTemplate, handle->currentObject, &detail);
  if (target == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88430), device.stdioRead);
    return 3;
  }
  if (stdio) {
    PartLine(std::string(device.name) + " " + target);
  } else {
    CloudClientArgs args{};
    args.provider = static_cast<int32_t>(device.cloudProvider);
    stncopy(device.url, args.url, sizeof args.url);
    stncopy(device.user, args.user, sizeof args.user);
    stncopy(device.password, args.password, sizeof args.password);
    stncopy(device.container, args.container, sizeof args.container);
    stncopy(target, args.targetName, sizeof args.targetName);
    char* url = cloudTargetUrl(&args);
    PartLine(url != nullptr ? url : "NOT ABLE TO RETRIEVE.");
    std::free(url);
  }
  std::free(target);
  return 0;
}

// Lists the parts of the current object. *count takes the parts listed;
// the result is the code that ended the list (17 after the last part), or
// with *fatal set the code that ends the whole report.
int ListParts(zarHandle* handle, const TevObjectInfo& info, int* count, bool* fatal) {
  const XbsaObjectDescriptor* object = handle->currentObject;
  for (int32_t part = 1;; ++part) {
    TevObjectDetail detail{};
    detail.copyId = object->copyId;
    detail.partNumber = part;
    int rc = zarGetObjDetail(handle, &detail);
    if (rc != 0) return rc;
    TevVolume volume{};
    volume.volumeId = detail.volumeId;
    rc = zarGetVolumeInfo(handle, &volume);
    if (rc != 0) return rc;
    switch (volume.type) {
      case DEV_TYPE_FILE: {
        char name[1025];
        rc = zarGenFileName(handle, name, sizeof name, &volume, info.fileName, &detail);
        if (rc != 0) return rc;
        std::printf("\t%s\n", name);
        break;
      }
      case DEV_TYPE_STDIO:
      case DEV_TYPE_CLOUD:
        rc = DevicePartLine(handle, volume, detail);
        if (rc != 0) {
          *fatal = true;
          return rc;
        }
        break;
      default:
        std::fputs("\t\n", stdout);
        break;
    }
    ++*count;
  }
}

}  // namespace

int zutevReportObjectDetail(zarHandle* handle, TypedList* ids) {
  static const char kName[] = "zutevReportObjectDetail";
  SM_TRACE(136, "%s: enter", kName);
  auto* object = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  if (object == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    SM_TRACE(136, "%s: return %d (0x%02x)", kName, 3, 3);
    return 3;
  }
  std::printf(SM_MSG(87012), SM_MSG(87018));
  int rc = BSA_RC_MORE_DATA;
  int32_t status = 0;
  for (void* e = ids != nullptr ? ll_first(ids, &status) : nullptr; e != nullptr;
       e = ll_next(ids, &status)) {
    uint64_t id = 0;
    std::memcpy(&id, e, sizeof id);
    // The handle owns its current object; one it holds is replaced.
    if (handle->currentObject != nullptr && handle->currentObject != object) {
      std::free(handle->currentObject);
    }
    handle->currentObject = object;
    TevObjectInfo info{};
    rc = zarGetObjectInformation(handle, id, &info);
    if (rc != 0) {
      std::fflush(stdout);
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s%" PRIu64 ".", SM_MSG(88251), id);
      smcReleaseCatalogLock(handle);
      break;
    }
    std::printf("%s%" PRIu64 "\n", SM_MSG(87019), id);
    std::printf(SM_MSG(87020), object->pathName, object->copyId.high, object->copyId.low,
                object->objectKind, info.version);
    std::fputs("\n", stdout);
    int count = 0;
    bool fatal = false;
    rc = ListParts(handle, info, &count, &fatal);
    if (fatal) break;
    std::printf(SM_MSG(87021), count);
    std::fputs("\n", stdout);
  }
  std::fflush(stdout);
  handle->currentObject = nullptr;
  std::free(object);
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
