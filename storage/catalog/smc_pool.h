// Pools. Three are built in and never stored: 1 DBSPOOL, 2 LOGPOOL,
// 3 EXTPOOL (names compared exactly). Added pools are rows of the pool
// table; outside the table a pool's id is its stored id plus 3.
//
// Pool row (28 bytes; primary key unique on pool_id, index 2 unique on
// pool_name):
//   offset length column     type
//   0      4      pool_id    int4   stored id (serial kind 5)
//   4      24     pool_name  char   blank-padded
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;
struct TypedList;

enum : int32_t { SMC_POOL_RECLEN = 28, SMC_POOL_NAME_LEN = 24, SMC_POOL_BUILTIN = 3 };

// A pool as presented: its id (stored id + 3, or 1..3) and its name.
struct TevPool {
  int32_t pool_id;
  char pool_name[28];
};

extern const CatalogColumnDesc smcPoolColumns[];

int zarCreatePoolTab(zarHandle* handle);
// The built-in pools, then the stored ones in record order.
int zarGetPoolList(zarHandle* handle, TypedList** list);
int zarInsertPool(zarHandle* handle, TevPool* pool);
int zarDeletePool(zarHandle* handle, const char* name);
// 0, 17 when no pool has the name or id, 19 on a failure.
int zarGetPoolId(zarHandle* handle, const char* name, TevPool* pool);
int zarGetPoolName(zarHandle* handle, int32_t pool_id, TevPool* pool);
int smcDumpPoolTab(FILE* stream, char delimiter);
