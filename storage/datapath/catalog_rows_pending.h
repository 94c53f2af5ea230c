// Row operations of the object and volume tables that the transaction ends
// call and that arrive with those tables; the declarations have the
// signatures their owner provides and move to the tables' own headers.
#pragma once

#include <cstdint>

struct zarHandle;

// Ends the transaction of one inserted object row, given by its ISAM
// record number: action 1 commits, 2 rolls back. 0; 3 for another action;
// 19; or the failing step's result.
int smcUnlockObject(zarHandle* handle, int32_t recnum, int32_t action);
// Clears the transaction mark of the volume rows of the session and
// transaction. 0; 19; 22.
int smcVolumeClearTxn(zarHandle* handle, int32_t transaction_id, int32_t session_id);
