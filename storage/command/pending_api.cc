// Placeholders of the API calls declared in pending_api.h, until the data
// path's read path defines them.
#include "storage/command/pending_api.h"

int tevGetObject(int64_t, XbsaObjectDescriptor*, XbsaDataBlock*) {
  return BSA_RC_ABORT_SYSTEM_ERROR;
}
int tevGetData(int64_t, XbsaDataBlock*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int tevEndData(int64_t) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int tevDeleteObject(int64_t, UInt64Pair) { return BSA_RC_ABORT_SYSTEM_ERROR; }
