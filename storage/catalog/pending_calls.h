// The end of a mount, which the catalog calls when a session goes: the
// least its callers need until the data path's mounts replace it.
#pragma once

#include <cstdint>

struct zarHandle;
struct TevMount;

// Ends a mount of the handle and takes it out of the handle's mount list:
// 0; 3; -1 for a null argument or a list failure.
int removeMountList(zarHandle* handle, TevMount* mount);
