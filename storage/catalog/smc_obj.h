// The object and object_path tables: one row per stored backup object, and
// one row per distinct path name, found by a 64-bit hash of the name.
//
// Object-path row (2081 bytes; primary key pth_id unique, index 2 pth_hash
// with duplicates):
//   offset length column         type
//   0      8      pth_id         int8   path id (serial kind 6)
//   8      8      pth_hash       int8   hash of pth_pathname
//   16     1      pth_type       char   object kind letter
//   17     8      pth_recent_id  int8   copy id of the active object
//   25     8      pth_recent_ts  int8   creation time of the active object
//   33     1024   pth_name       char   object-space name
//   1057   1024   pth_pathname   char   path name
//
// Object row (992 bytes; primary key obj_copyid unique, index 2 obj_pathid
// then obj_version with duplicates):
//   offset length column          offset length column
//   0      4      obj_txid        944    8      obj_copyid
//   4      1      obj_status      952    4      obj_version
//   5      8      obj_pathid      956    4      obj_bytes_lo
//   13     256    obj_desc        960    4      obj_bytes_hi
//   269    512    obj_info        964    4      obj_restore_lo
//   781    31     obj_encoding    968    4      obj_restore_hi
//   812    64     obj_owner       972    4      obj_usercount
//   876    64     obj_appowner    976    8      obj_createtime
//   940    4      obj_sessionid   984    8      obj_timestamp
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t {
  SMC_PATH_RECLEN = 2081,
  SMC_OBJECT_RECLEN = 992,
  SMC_OBJ_SESSIONID = 940,
  SMC_OBJ_COPYID = 944,
};

extern const CatalogColumnDesc smcObjectPathColumns[];
extern const CatalogColumnDesc smcObjectColumns[];

// 0; -1 when the build fails; the negative result of a failing index add.
int zarCreateObjectTab(zarHandle* handle);
int smcCreateObjectPathTab(zarHandle* handle);
int smcDumpObjectPathTab(FILE* stream, char delimiter);
int smcDumpObjectTab(FILE* stream, char delimiter);

// The highest copy id in the object table; *copy_id unchanged when the
// table is empty. 0; 19; 22.
int zarObjectGetHighestId(zarHandle* handle, int64_t* copy_id);
// The row whose obj_copyid the buffer holds. 0 with the row; 17; 19.
int dsmFetchObject(zarHandle* handle, unsigned char* row);
// Deletes the object rows of the copy id (not its details or path). 0; 17;
// 19.
int dsmDeleteObject(zarHandle* handle, int64_t copy_id);
// The path row of the path id. 0 with the row; 17; 19.
int smcFetchObjectPath(zarHandle* handle, int64_t path_id, unsigned char* row);
// The path row whose whole path name is the given one. 0; 17; 19.
int smcFetchObjectPathByPath(zarHandle* handle, const char* path_name, unsigned char* row);
// The id of a stored path name. 0 with the id; 17 the path is new; 19.
int smcGetPathId(zarHandle* handle, const char* path_name, const char* space_name,
                 int64_t* path_id);
// Writes a new path row with a new id (serial kind 6). 0 with the id; 3 no
// id; 88001 the row was refused.
int smcObjPathInsert(zarHandle* handle, const char* path_name, const char* space_name,
                     const char* kind, int64_t* path_id);
// Makes the copy its path's active object unless a newer one is. 0; 13 a
// newer object stays active; 3 no such path row; 19.
int smcSetActiveObject(zarHandle* handle, int64_t path_id, int64_t copy_id, int64_t create_time);
// The highest version of the path's objects (0 when none). 0; 19; another
// failure of the path search.
int dsmGetObjectVersion(zarHandle* handle, const char* space_name, const char* path_name,
                        int32_t* version);
// Ends the transaction of one inserted object row, given by its ISAM
// record number: action 1 commits, 2 rolls back. 0 (also when the row is
// gone); 3 for another action; 19; or the failing step's result.
int smcUnlockObject(zarHandle* handle, int32_t recnum, int32_t action);
// Status "I" and timestamp 0 for the session's rows (every row for 0 or
// less). 0; 19.
int smcObjectTabUnlockAll(int32_t session_id);
// The object listing of the command, on standard output. 0; 19.
int zarListObjects();
