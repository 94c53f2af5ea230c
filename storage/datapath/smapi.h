// The storage-manager API: the XBSA-style calls through which a caller
// starts and ends its work (tevInit, tevTerminate) and brackets it in
// transactions (tevBeginTxn, tevEndTxn). Each call names its session by the
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
