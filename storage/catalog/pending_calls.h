// Services of the data path that the catalog calls. Each is declared with
// the signature its owner gives it; pending_calls.cc holds the least the
// catalog needs until the owner's module replaces it (then the declaration
// moves to the owner's header and this one goes).
#pragma once

#include <cstdint>

struct zarHandle;
struct TevMount;
struct TypedList;

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
