// Devices as the data path sees them: the names of the device types, adding
// a device with its checks (and the default device of a new catalog), the
// device list and the busy flag of a device.
#pragma once

#include <cstdint>

#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smhandle.h"

// Device types.
enum : int32_t { DEV_TYPE_FILE = 1, DEV_TYPE_TAPE = 2, DEV_TYPE_STDIO = 3, DEV_TYPE_CLOUD = 4 };
// Device priorities.
enum : int32_t { DEV_PRIO_READONLY = 1, DEV_PRIO_LOW = 2, DEV_PRIO_HIGH = 3, DEV_PRIO_HIGHEST = 4 };

struct DeviceType {
  int32_t code;
  char name[16];
};

enum { DEVICE_TYPE_COUNT = 6 };
// {0 "TEV_INVALID"}, {1 "FILE"}, {2 "TAPE"}, {3 "STDIO"}, {4 "CLOUD"},
// {5 "TEV_INVALID"}.
extern const DeviceType zarDeviceTypeTable[DEVICE_TYPE_COUNT];

// The name of codes 1 to 4; "TEV_INVALID" for any other code.
const char* zarDeviceTypeName(int32_t type);
// Code 1 to 4 of a type name in any case; -1 for any other name.
int32_t zarDeviceTypeCode(const char* name);

// Checks the record and adds the device. A FILE device's name is its
// directory, made with every missing level (as typed: case is kept). A
// HIGHEST device first makes the pool's present HIGHEST device HIGH. The
// catalog then writes the row and finds or makes the device's volume.
// 0; 3 invalid record (empty name, pool 0, type outside 1-4); -1 the FILE
// directory cannot be made; the code of the demotion or of the catalog.
int zarInsertDevice(zarHandle* handle, TevDevice* device);
// Adds the default FILE device of a new catalog (the installation
// directory's "backups", priority LOW) to pools 1 and 2.
void zarCreateDefaultDevice(zarHandle* handle);
// The devices with a status (0 all, 1 busy, 2 idle) in a pool (0 all) of a
// session (0 all), as a list of TevDevice records the caller destroys.
// The result of the catalog's device list.
int zarGetDeviceList(zarHandle* handle, int32_t status, int32_t pool_id, int32_t session_id,
                     TypedList** list);
// Sets the device's busy flag and writes it when it changed. 0, or the
// code of the catalog's modify.
int zarDeviceUpdateStatus(zarHandle* handle, TevDevice* device, int32_t busy);

