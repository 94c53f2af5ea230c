// TAPE media are not served yet: transfers and mounts fail, and the volume
// change finds nothing to change (no TAPE part is ever written).
#include "storage/datapath/smtape.h"

#include "storage/command/sm_trace.h"

long tape_write(TevMount*, const void*, size_t) { return -1; }
int tape_FLUSH(TevMount*) { return -1; }
long tape_read(TevMount*, void*, size_t) { return -1; }

int readMountTape(zarHandle* handle, TevVolume* volume) {
  if (handle == nullptr || volume == nullptr) return 22;
  SM_TRACE(137, "readMountTape: TAPE volume %u cannot be mounted.", volume->volumeId);
  return 3;
}

int tapeVolumeChange(zarHandle* handle) {
  if (handle == nullptr || handle->currentMount == nullptr) return 22;
  return 0;
}
