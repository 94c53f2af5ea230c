// Operations the command dispatches to whose modules are still to come:
// the catalog check; the
// device option parser, device rows, lists, definition files, scan and
// purge; object delete, dump, list and detail report; the pool commands.
// Each is declared with its final signature; pending_bodies.cc defines it
// as a call that does nothing and returns BSA_RC_ABORT_SYSTEM_ERROR, and
// each owner replaces its definition (and moves its declaration into the
// owner's header).
#pragma once

#include <cstdint>

#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smscan.h"

struct zarHandle;
struct TypedList;
struct ZutevPoolRecord;

// The catalog check of every table: 0, -1, or 3 without configuration.
int zutevCheckCatalogTables(int listing, int answer_yes);

// Device option parser: 0 accepted, 2 accepted with "-y", -1 refused (it
// has written its own messages).
int zutevProcDeviceArgs(zarHandle* handle, int argc, char** argv, int32_t* code,
                        TevDevice* device, int32_t* flags, char* spare);
int zarInsertDevice(zarHandle* handle, TevDevice* device);
int zutevListDevices(zarHandle* handle, int xml);
int zutevUnloadDeviceFile(zarHandle* handle, TevDevice* device);
int zutevLoadDeviceFile(zarHandle* handle, TevDevice* device);

// Objects.
int zutevDeleteObjects(TypedList* ids);
int zutevDumpObjects(TypedList* ids);
int zutevReportObjectDetail(zarHandle* handle, TypedList* ids);

// Pools.
int zutevAddPool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevDeletePool(zarHandle* handle, ZutevPoolRecord* pool);
int zutevListPools(zarHandle* handle);
