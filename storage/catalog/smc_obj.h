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
