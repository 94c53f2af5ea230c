// The least that the catalog needs of services whose owners are not in the
// tree yet: the end of a mount. It goes when the mounts of the data path
// define it.
#include "storage/catalog/pending_calls.h"

#include "base/fields.h"
#include "base/msgfile.h"
#include "isam/isam.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/typed_list.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

int removeMountList(zarHandle* handle, TevMount* mount) {
  if (handle == nullptr || mount == nullptr) return -1;
  int32_t status = 0;
  ll_remove(handle->mountList, mount, &status);
  if (status != LL_OK) return -1;
  void* element = mount;
  sm_free(&element);
  return 0;
}
