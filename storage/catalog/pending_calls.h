// Services of the data path that the catalog calls. Each is declared with
// the signature its owner gives it; pending_calls.cc holds the least the
// catalog needs until the owner's module replaces it (then the declaration
// moves to the owner's header and this one goes).
#pragma once

#include <cstdint>

struct zarHandle;
struct TevMount;
struct TypedList;
struct TevVolume;

// Adds the default FILE device to pools 1 and 2 of a new catalog.
void zarCreateDefaultDevice(zarHandle* handle);
// Clears the handle's object-tables flag: 0; 22 for a null handle.
int zarCloseObjectTables(zarHandle* handle);
// The devices of a pool (0 all) with a status (0 all, 1 busy, 2 idle) and a
// session (0 all), as a list of TevDevice records.
int zarGetDeviceList(zarHandle* handle, int32_t status, int32_t pool_id, int32_t session_id,
                     TypedList** list);
// Ends a mount of the handle and takes it out of the handle's mount list:
// 0; 3; -1 for a null argument or a list failure.
int removeMountList(zarHandle* handle, TevMount* mount);
// The volume of a device: the volume row whose path is the device's
// name. 0 with the record; 17 no such volume; 22 a null argument; 3 other
// failures.
int zarFindDeviceVolume(zarHandle* handle, const char* device_path, TevVolume* volume);
// Deletes an object copy: its stored data, its object row and its detail
// rows. 0; 6 null handle; 22 copy id 0; the code of a failing step.
int zarDeleteObject(zarHandle* handle, int64_t copy_id);
