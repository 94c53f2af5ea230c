// The least of services that later parts of the data path and the catalog
// provide, so that the session, device and object code links and runs
// before they exist. Each definition is replaced in place by its owner.
#include "storage/datapath/pending_calls.h"

#include "storage/datapath/smmount.h"

// Nothing can be mounted before mounts exist.
int zarUnmountVolume(zarHandle* handle) {
  if (handle == nullptr) return 22;
  return 0;
}

// Nothing sets the header-rewrite flag before parts can be written, and
// with the flag at 0 there is nothing to rewrite.
int updateDetailHdr(zarHandle*, TevMount*) { return 0; }

// No cloud transfers before the clients exist.
int cloudS3ClientStart(int32_t, CloudClientArgs*) { return -1; }
int cloudSwiftClientStart(int32_t, CloudClientArgs*) { return -1; }
