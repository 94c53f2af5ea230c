// Placeholders of the operations declared in pending_bodies.h: each does
// nothing, prints nothing and returns BSA_RC_ABORT_SYSTEM_ERROR until its
// module replaces it.
#include "storage/command/pending_bodies.h"

#include "storage/datapath/xbsa.h"

int zarDeviceScan(zarHandle*, const char*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
int zarDevicePurge(zarHandle*, const char*) { return BSA_RC_ABORT_SYSTEM_ERROR; }
char* cloudTargetUrl(CloudClientArgs*) { return nullptr; }
