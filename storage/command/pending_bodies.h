// Operations the command dispatches to whose modules are still to come:
// the device scan and purge, and the cloud address of a stored part. Each is declared with its final signature;
// pending_bodies.cc defines it as a call that does nothing and returns
// BSA_RC_ABORT_SYSTEM_ERROR, and its owner replaces the definition (and
// moves the declaration into the owner's header). The bodies that have
// landed are declared in their own headers, included here for the
// dispatch.
#pragma once

#include <cstdint>

#include "storage/catalog/smc_dev.h"
#include "storage/command/zutev_device.h"
#include "storage/command/zutev_objects.h"

struct zarHandle;
struct TypedList;
struct ZutevPoolRecord;
struct CloudClientArgs;

// The catalog check of every table: 0, -1, or 3 without configuration.
int zutevCheckCatalogTables(int listing, int answer_yes);

// Adds a device (the data path's; declared here for the dispatch).
int zarInsertDevice(zarHandle* handle, TevDevice* device);
int zarDeviceScan(zarHandle* handle, const char* device_name);
int zarDevicePurge(zarHandle* handle, const char* device_name);

// The address of a stored part on a cloud device, for the object detail
// report: a text of malloc the caller frees, or null (the report then says
// it cannot retrieve the address). The cloud clients define it.
char* cloudTargetUrl(CloudClientArgs* args);

// Pools.
int zutevAddPool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevDeletePool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevListPools(zarHandle* handle);
