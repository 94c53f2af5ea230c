// The least that the catalog needs of services whose owners are not in the
// tree yet: no default device, no devices in any pool, no mounts, no object
// tables of their own, and no conversion of an older catalog (refused, so
// that an older catalog is never opened as if it were current). Each
// function goes when its owner's module defines it. The volume search
// fills only the volume id and path; the object deletion removes only the
// catalog rows, no stored data (both are replaced by the data path's
// device, volume and object operations).
#include "storage/catalog/pending_calls.h"

#include "base/fields.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/typed_list.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

void zarCreateDefaultDevice(zarHandle*) {}

int zarCloseObjectTables(zarHandle* handle) {
  if (handle == nullptr) return 22;
  handle->objectTablesFlag = 0;
  return 0;
}

int zarGetDeviceList(zarHandle*, int32_t, int32_t, int32_t, TypedList** list) {
  if (list == nullptr) return 22;
  int32_t status = 0;
  *list = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  return *list != nullptr ? 0 : 19;
}

int removeMountList(zarHandle* handle, TevMount* mount) {
  if (handle == nullptr || mount == nullptr) return -1;
  int32_t status = 0;
  ll_remove(handle->mountList, mount, &status);
  if (status != LL_OK) return -1;
  void* element = mount;
  sm_free(&element);
  return 0;
}


int dropFileObjects(zarHandle*) { return 0; }

int zarFindDeviceVolume(zarHandle* handle, const char* device_path, TevVolume* volume) {
  if (handle == nullptr || device_path == nullptr || volume == nullptr) return 22;
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  stchar(device_path, reinterpret_cast<char*>(row + SMC_VOL_PATH), SMC_VOL_PATH_LEN);
  const int rc = smcFetchVolumeByPath(handle, row);
  if (rc != 0) return rc == 17 ? 17 : 3;
  *volume = TevVolume{};
  volume->volumeId = static_cast<uint32_t>(ldlong(row + SMC_VOL_VOLID));
  ldchar(reinterpret_cast<const char*>(row + SMC_VOL_PATH), SMC_VOL_PATH_LEN, volume->path);
  return 0;
}

int zarDeleteObject(zarHandle* handle, int64_t copy_id) {
  if (handle == nullptr) return 6;
  if (copy_id == 0) return 22;
  int rc = dsmDeleteObject(handle, copy_id);
  if (rc == 0) rc = smcDeleteDetails(copy_id);
  return rc;
}
