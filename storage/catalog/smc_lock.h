// The lock and serial tables: two one-row tables that carry the catalog's
// shared state. The lock row holds the catalog's unique id, its version
// marker and the catalog lock (its owner); the serial row holds the
// counters from which every new id comes. Both rows are read and rewritten
// under the ISAM whole-file lock of their table, held for one call only.
//
// Lock row (36 bytes, one row, no key: read in record order):
//   offset length column       type    meaning
//   0      8      lock_id      int8    unique id: creation time, seconds
//   8      20     lock_version char    version marker, blank-padded
//   28     4      lock_sessid  int4    owner: 0 free, a session id, -1 admin
//   32     4      lock_isadm   int4    process id of an admin owner, else 0
//
// Serial row (32 bytes, one row, no key): the last value handed out.
//   offset length column          type  kind
//   0      8      ser_obj_copyid  int8  1 object copy id
//   8      4      ser_volume_id   int4  2 volume id
//   12     4      ser_session_id  int4  3 session id (wraps to 1)
//   16     4      ser_life_id     int4  4 life id
//   20     4      ser_pool_id     int4  5 stored pool id
//   24     8      ser_path_id     int8  6 object path id
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t {
  SMC_LOCK_RECLEN = 36,
  SMC_LOCK_ID = 0,
  SMC_LOCK_VERSION = 8,
  SMC_LOCK_VERSION_LEN = 20,
  SMC_LOCK_SESSID = 28,
  SMC_LOCK_ISADM = 32,
  SMC_SERIAL_RECLEN = 32,
};

// Flags of smcLockMgr.
enum : int32_t { SMC_LOCK = 1, SMC_UNLOCK = 2, SMC_LOCK_ADMIN = 4 };

// Serial kinds.
enum : int32_t {
  SMC_SER_COPYID = 1,
  SMC_SER_VOLUME = 2,
  SMC_SER_SESSION = 3,
  SMC_SER_LIFE = 4,
  SMC_SER_POOL = 5,
  SMC_SER_PATH = 6,
};

extern const CatalogColumnDesc smcLockColumns[];
extern const CatalogColumnDesc smcSerialColumns[];

// Builds the lock table with its first row; the handle becomes session 1,
// the owner of the new catalog's lock, and smId the new unique id.
int zarCreateLockTab(zarHandle* handle);
int zarCreateSerialTab(zarHandle* handle);
// smId from the lock row: 0, or -1.
int zarGetTEVid(zarHandle* handle);
// The first row of the handle's lock table into a 36-byte buffer: 0, or 19.
int smcReadLockRow(zarHandle* handle, unsigned char* row);

// The catalog lock: 0; 3 refused; 19 failure or time-out.
int smcLockMgr(zarHandle* handle, int32_t flags);
int smcAcquireCatalogLock(zarHandle* handle);
int smcReleaseCatalogLock(zarHandle* handle);

// The next id of a kind (1..6): 0 with the value, or 19.
int dsmSerialMgr(zarHandle* handle, int32_t kind, int64_t* value);
// Sets the counter of a kind (1..5) so that the next id is value + 1.
int dsmSetCurrentSerial(zarHandle* handle, int32_t kind, int64_t value);
// Rebuilds a serial table of the 1.3 layout (five counters) with a path id
// counter of 0.
int smcSerialTabMigrateFrom3To6(zarHandle* handle, int32_t major, int32_t minor);

int smcDumpLockTab(FILE* stream, char delimiter);
int smcDumpSerialTab(FILE* stream, char delimiter);

// "YYYY-MM-DD HH:MM:SS" of the local time (the year space-padded to four),
// in one static buffer.
const char* smcFormatTimestamp(int64_t seconds);
// With AFDEBUG set, never returns: logs "TEV pid = %d, waiting for
// debugger" every 60 seconds.
void smcWaitForDebugger();
