// The read and delete calls of the storage-manager API that the object
// commands use, declared with the signatures the API gives them. Until the
// data path's read path defines them, pending_api.cc answers each with
// BSA_RC_ABORT_SYSTEM_ERROR; when the API lands, this header and
// pending_api.cc go and the callers include storage/datapath/smapi.h.
#pragma once

#include <cstdint>

#include "storage/datapath/smapi.h"
#include "storage/datapath/xbsa.h"

// Makes the object of the descriptor's copy id current, mounts its first
// part and, with a data block, reads the first block: the result of
// tevGetData, or 0 without a block, or a failure code.
int tevGetObject(int64_t handle, XbsaObjectDescriptor* object, XbsaDataBlock* block);
// Fills the block: 14 full and more follows; 18 the object's data ended
// in this block; 3, 20 or a mount code on failure.
int tevGetData(int64_t handle, XbsaDataBlock* block);
// Ends the object being read: 0 or a failure code.
int tevEndData(int64_t handle);
// Deletes the object of the copy id: the catalog's result or the lock's.
int tevDeleteObject(int64_t handle, UInt64Pair copy_id);
