// Services of the data path that the catalog calls, and the device table's
// demotion of a pool's HIGHEST device, which the data path's device insert
// calls. Each is declared with the signature its owner gives it;
// pending_calls.cc holds the least its callers need until the owner's
// module replaces it (then the declaration moves to the owner's header and
// this one goes).
#pragma once

#include <cstdint>

struct zarHandle;
struct TevMount;
struct TypedList;

// Ends a mount of the handle and takes it out of the handle's mount list:
// 0; 3; -1 for a null argument or a list failure.
int removeMountList(zarHandle* handle, TevMount* mount);

// Makes the pool's HIGHEST device HIGH (priority 4 rows of the pool become
// 3). 0; 17 the start failed; 19 an index, read or rewrite failure.
int zarDemoteHighestDevice(zarHandle* handle, int32_t pool_id);
