// The administrator's view of the catalog's state and its way out of a
// lock left behind: DETAIL prints who holds the catalog, the sessions, the
// objects and the devices in use; UNLOCK clears the catalog lock and the
// marks of sessions whose processes ended without closing them. Both run
// without a session, on a handle of their own.
#pragma once

// Clears the catalog lock whoever holds it (no owner check); on a catalog
// of the current version also every session row and every busy mark of
// objects, devices and volumes. 0, or the failing step's result.
int zarCatalogUnlock();
// The state report on standard output; a missing catalog is created first.
// 0, or the failing step's result.
int zarCatalogShowDetails();
