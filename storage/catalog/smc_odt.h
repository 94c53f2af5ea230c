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

// Opens the process-wide object_detail file of smcDeleteDetails when it is
// closed. 0; 19.
int smcDetailTabOpen();
// Deletes every part row of the copy through the process-wide file. 0; 19.
int smcDeleteDetails(int64_t copy_id);
// The part number a new part of the copy gets (highest stored plus 1).
// *part is 0 first. 0; 19.
int dsmGetNextDetailSeq(zarHandle* handle, int64_t copy_id, int32_t* part);
// The part row whose det_copy_id and det_copy_seq the buffer holds. 0 with
// the row; 17 no such part; 19.
int dsmFetchDetail(zarHandle* handle, unsigned char* row);
