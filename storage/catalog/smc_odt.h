// The object_detail table: one row per stored part of an object copy.
//
// Object-detail row (28 bytes; key det_copy_id with duplicates):
//   offset length column         type
//   0      4      det_vol_id     int4   volume holding the part
//   4      4      det_vol_seq    int4   position on that volume
//   8      8      det_copy_id    int8   copy id of the object
//   16     4      det_copy_seq   int4   part number, from 1
//   20     8      det_copy_size  int8   size of the part in bytes
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t { SMC_DETAIL_RECLEN = 28 };

extern const CatalogColumnDesc smcDetailColumns[];

// 0, or -1 when the build fails.
int zarCreateDetailTab(zarHandle* handle);
int smcDumpDetailTab(FILE* stream, char delimiter);
