// Sessions: every piece of storage-manager work runs inside one. A session
// is a handle with the catalog open and a row {session id, process id} in
// the session table.
#pragma once

#include "storage/datapath/smhandle.h"

// Opens a session on the configured catalog. When there is no catalog and
// no_create is 0 the catalog is created and *created set to 1; the caller
// then still holds the catalog lock and the new tables' whole-file locks
// and releases them (zarCatalogUnlockTables, smcReleaseCatalogLock).
// 0 and the handle; 88114 (no catalog, no_create 1), 88115 (catalog
// incomplete), 3 (no configuration, creation failed), 19, or the code of a
// failing catalog call. A failure leaves no handle at all.
int zarOpenSession(zarHandle** handle, int no_create, int* created);

// Ends a session: rolls back an open transaction (its failure, 32 for one
// that holds no object row, is returned and the session stays open), removes
// the session row under the catalog lock, closes the catalog and destroys
// every handle. 0, the code of the lock or the session row, or the codes of
// the catalog close and the handle list ORed.
int zarCloseSession(zarHandle* handle);
