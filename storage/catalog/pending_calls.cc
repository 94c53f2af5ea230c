// The least that the catalog needs of services whose owners are not in the
// tree yet: no mounts, the demotion of a pool's HIGHEST device, and no
// conversion of an older catalog (refused, so that an older catalog is
// never opened as if it were current). Each function goes when its owner's
// module defines it.
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

int removeMountList(zarHandle* handle, TevMount* mount) {
  if (handle == nullptr || mount == nullptr) return -1;
  int32_t status = 0;
  ll_remove(handle->mountList, mount, &status);
  if (status != LL_OK) return -1;
  void* element = mount;
  sm_free(&element);
  return 0;
}


// Weak, so that the device table's own definition takes its place when it
// is linked in.
__attribute__((weak)) int zarDemoteHighestDevice(zarHandle* handle, int32_t pool_id) {
  const int fd = handle->tableFd[SMC_TAB_DEVICE];
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, 3) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88111), "device");
    return 19;
  }
  constexpr int kPriority = 632;
  constexpr int kPoolId = 678;
  unsigned char row[SMC_DEVICE_RECLEN] = {};
  stlong(pool_id, row + kPoolId);
  stlong(4, row + kPriority);
  if (isstart(fd, &key, 0, row, IS_EQUAL) != 0) {
    if (iserrno == ENORECORD) return 0;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "device");
    return 17;
  }
  for (;;) {
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
}

int dropFileObjects(zarHandle*) { return 0; }

int catalogConvert(zarHandle*, int32_t, int32_t) { return 3; }
