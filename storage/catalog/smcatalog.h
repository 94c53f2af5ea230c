// The storage manager's catalog: nine ISAM tables in the catalog directory,
// one file pair per table, described by the table and column descriptors
// below. This header holds what the nine share: the descriptors, the
// operations on one table as a whole, the operations on the catalog as a
// whole (create, open with its version check, close, drop) and the version
// check itself. The rows of each table live in that table's module
// (smc_lock, smc_ses, smc_pool, smc_obj, smc_odt, smc_vol, smc_dev).
//
// Every operation works for a handle (zarHandle), which holds one ISAM file
// number per table id, -1 while the table is closed.
//
// Results: 0; 3 a bad table id or a refused step; 13 a table already open;
// 19 an ISAM failure or a time-out; 22 no handle; 88113 a table's files do
// not exist; 88114 no table exists; 88115 some tables are missing.
#pragma once

#include <cstdint>
#include <cstdio>

struct zarHandle;

// Table ids; 0 and 10 are the invalid end entries of the descriptor array.
enum : int32_t {
  SMC_TAB_LOCK = 1,
  SMC_TAB_SERIAL = 2,
  SMC_TAB_SESSION = 3,
  SMC_TAB_POOL = 4,
  SMC_TAB_OBJECT_PATH = 5,
  SMC_TAB_OBJECT = 6,
  SMC_TAB_DETAIL = 7,
  SMC_TAB_VOLUME = 8,
  SMC_TAB_DEVICE = 9,
  SMC_TAB_COUNT = 11,
};

// Column types: character (blank-padded, no terminator), 4-byte and 8-byte
// big-endian integers.
enum : int32_t { SMC_COL_CHAR = 0, SMC_COL_INT4 = 2, SMC_COL_INT8 = 13 };

// One column; a list ends with an entry whose name is empty.
struct CatalogColumnDesc {
  const char* name;
  int32_t type;
  int32_t offset;
  int64_t length;
};

// Writes every row of a table as text lines to a stream, each column
// followed by the delimiter.
typedef int (*CatalogDumpFn)(FILE* stream, char delimiter);

struct CatalogTableDesc {
  const char* name;
  int32_t id;
  const char* path;  // pair name without extension, from the configuration
  int32_t ncolumns;  // filled by smcCountColumns
  const CatalogColumnDesc* columns;
  int32_t reclen;
  CatalogDumpFn dump;
};

// Indexed by table id 0..10.
extern CatalogTableDesc catalogTables[SMC_TAB_COUNT];

// Open modes of zarCatalogTableOpen: bit 1 exclusive, otherwise manual
// locking.
enum : int32_t { SMC_OPEN_EXCLUSIVE = 1, SMC_OPEN_MANUAL = 2 };

// Fills the column counts (and the table paths from the configuration).
void smcCountColumns();
// The descriptor of a table id 1..9, or null. Logs nothing.
const CatalogTableDesc* smcTableDesc(int32_t id);

// Table operations. A table id outside 1..9 gives message 88122 and 3.
int zarCatalogTableOpen(zarHandle* handle, int32_t id, int32_t mode);
int smcCatalogTableClose(zarHandle* handle, int32_t id);
int smcCatalogTableLock(zarHandle* handle, int32_t id);
int smcCatalogTableUnlock(zarHandle* handle, int32_t id);
int smcCatalogTableDrop(zarHandle* handle, int32_t id);
int smcCatalogTableRename(zarHandle* handle, int32_t id, const char* new_name);

// Catalog operations.
int zarCatalogCreate(zarHandle* handle);
int zarOpenDatabase(zarHandle* handle);
int zarCloseDatabase(zarHandle* handle);
// Erases the catalog (INIT); with delete_files set every object's stored
// data goes first. 0, or 3 when the lock could not be had or a table that
// exists could not be erased.
int zarCatalogDrop(zarHandle* handle, int32_t delete_files);
void zarCatalogUnlockTables(zarHandle* handle);

// Version check. smcParseVersion: 0 current; -1 older (major and minor
// set); 1 newer or unreadable.
int smcParseVersion(const char* marker, int32_t* major, int32_t* minor);
int smcCatalogCheckVersion(zarHandle* handle);
// In-place conversion of an older catalog: 0, or a failure.
int catalogConvert(zarHandle* handle, int32_t major, int32_t minor);

// Deletes every object with its stored data (INIT with the delete option).
int dropFileObjects(zarHandle* handle);

// The current version marker.
inline constexpr char kCatalogVersion[] = "TEV VERSION 1.8";
