// The least of services that later parts of the data path provide, so that
// the code calling them links and runs before they exist. Each definition
// is replaced in place by its owner.
#include "storage/datapath/pending_calls.h"

// No cloud transfers before the clients exist.
int cloudS3ClientStart(int32_t, CloudClientArgs*) { return -1; }
int cloudSwiftClientStart(int32_t, CloudClientArgs*) { return -1; }
