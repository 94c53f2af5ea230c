// The filter behind a STDIO or CLOUD mount: the device program started
// with the expanded argument template, or the cloud client's thread with
// the part's object name. Shared by the write and the read mounts.
#pragma once

#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

// Starts the filter of the device for the part, writing (the program
// reads its standard input; the client uploads) or reading, into the
// handle's filter id. 0; 3 with the failure logged.
int tevStartMountFilter(zarHandle* handle, const TevDevice* device,
                        const TevObjectDetail* detail, bool writing);
