// Mounts: the medium a session has in use for the current part of the
// current object.
#pragma once

#include "storage/datapath/smhandle.h"

// Ends the current mount. 0 when nothing is mounted any more; 22 for a null
// handle; 3 when the mount cannot be ended.
int zarUnmountVolume(zarHandle* handle);
