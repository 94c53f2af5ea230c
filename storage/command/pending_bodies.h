// The operations the command dispatches to, gathered for the dispatch:
// the device and object bodies of the command, the catalog check and the
// pools here, the device scan and purge, device insert and cloud addresses
// from the data path.
#pragma once

#include <cstdint>

#include "storage/catalog/smc_dev.h"
#include "storage/command/zutev_device.h"
#include "storage/command/zutev_objects.h"
#include "storage/datapath/smcloud.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smscan.h"

struct zarHandle;
struct TypedList;
struct ZutevPoolRecord;

// The catalog check of every table: 0, -1, or 3 without configuration.
int zutevCheckCatalogTables(int listing, int answer_yes);

// Pools.
int zutevAddPool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevDeletePool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevListPools(zarHandle* handle);
