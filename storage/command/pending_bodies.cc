// Placeholders of the operations declared in pending_bodies.h: each does
// nothing, prints nothing and returns BSA_RC_ABORT_SYSTEM_ERROR until its
// module replaces it.
#include "storage/command/pending_bodies.h"

#include "storage/datapath/xbsa.h"

int zutevProcDeviceArgs(zarHandle*, int, char**, int32_t*, TevDevice*, int32_t*, char*) {
  return BSA_RC_ABORT_SYSTEM_ERROR;
}
int zutevListDevices(zarHandle*, int) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int zutevUnloadDeviceFile(zarHandle*, TevDevice*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int zutevLoadDeviceFile(zarHandle*, TevDevice*) { return BSA_RC_ABORT_SYSTEM_ERROR; }

int zutevDeleteObjects(TypedList*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int zutevDumpObjects(TypedList*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int zutevReportObjectDetail(zarHandle*, TypedList*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
