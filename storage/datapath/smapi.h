// The storage-manager API: the XBSA-style calls through which a caller
// starts and ends its work (tevInit, tevTerminate), brackets it in
// transactions (tevBeginTxn, tevEndTxn), reads stored objects (tevGetObject,
// tevGetData, tevEndData) and deletes them (tevDeleteObject). Each call names its session by the
// handle number tevInit gave and returns an XBSA return code (xbsa.h) or a
// storage-manager message number.
#pragma once

#include <cstdint>

#include "storage/datapath/xbsa.h"

// Starts a session. The storage-manager owner must be "TARVELON" (case
// counts) and the process must run as "tarvelon" or "root". 0 and the
// handle number; 22 null out pointer or owner; 4 wrong owner, security
// start-up failed or account not allowed; 19 no account record; 3 the
// configuration cannot be loaded (its message on standard error); or the
// code of the session open. The token and environment are not read.
int tevInit(int64_t* handle, XbsaSecurityToken* token, XbsaObjectOwner* owner,
            char** environment);
// Ends the session: the result of the session close, or the handle
// lookup's code.
int tevTerminate(int64_t handle);
// Opens a transaction: 0; 5 when one is open already.
int tevBeginTxn(int64_t handle);
// Ends the open transaction under the catalog lock: vote 1 commits, any
// other vote rolls back (an empty rollback counts as success). 0 or the
// code of the commit or rollback; 5 when none is open (no lock is taken);
// the lock's code when it cannot be taken (the transaction stays open).
int tevEndTxn(int64_t handle, int32_t vote);

// Makes the object of the descriptor's copy id current, fills the
// descriptor from the catalog and mounts the object's first part. With a
// data block the first data follows (the result of tevGetData); without,
// 0. 22 null descriptor; 3 no memory; the codes of the handle lookup, the
// catalog lock, the object's information and the mount.
int tevGetObject(int64_t handle, XbsaObjectDescriptor* object, XbsaDataBlock* block);
// Fills the block with the object's next bytes, across its parts: 14 the
// block is full and more may follow; 18 the object's data ended in this
// block (bytes filled may be 0). 20 null block; 3 a read failed, a part is
// missing while bytes are due (88055) or a further part exists when none
// are (88054); the codes of the lock and the mounts.
int tevGetData(int64_t handle, XbsaDataBlock* block);
// Ends the reading of the current object and unmounts its medium. 0 or a
// failure code.
int tevEndData(int64_t handle);
// Deletes an idle object with its stored parts, under the catalog lock. 0;
// 29 the object is in use; 17 no such object; the codes of the deletion.
int tevDeleteObject(int64_t handle, UInt64Pair copy_id);
