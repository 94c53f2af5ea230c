// The two ends of a transaction. During a transaction the object rows a
// session inserts carry the transaction mark; their record numbers collect
// in the handle's transaction list. Both ends run under the catalog lock,
// which their caller holds.
#pragma once

#include "storage/datapath/smhandle.h"

// Commits: each row of the transaction list, last to first, loses its mark
// and becomes its path's active object; then the session's volume rows lose
// theirs. 0 with an empty list (nothing is touched); else the code of the
// volume step. 22 for a null handle.
int zarDeleteTxn(zarHandle* handle);
// Rolls back: each row of the transaction list is deleted with its detail
// rows. 32 when the list is empty; else the code of the last row's release.
// 22 for a null handle.
int zarAbortTxn(zarHandle* handle);
