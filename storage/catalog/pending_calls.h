// The end of a mount, which the catalog calls when a session goes. The
// data path's mounts define it (storage/datapath/smmount.cc).
#pragma once

#include <cstdint>

struct zarHandle;
struct TevDevice;
using TevMount = TevDevice;

// Ends a mount of the handle and takes it out of the handle's mount list:
// 0; 3 when its filter did not end cleanly; -1 for a null argument or a
// list failure.
int removeMountList(zarHandle* handle, TevMount* mount);
