// The least that the catalog needs of services whose owners are not in the
// tree yet: no default device, no devices in any pool, no mounts, no object
// tables of their own, and no conversion of an older catalog (refused, so
// that an older catalog is never opened as if it were current). Each
// function goes when its owner's module defines it.
#include "storage/catalog/pending_calls.h"

#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/typed_list.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"

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
