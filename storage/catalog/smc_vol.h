// The volume table: one row per volume, the medium a device writes to.
//
// Volume row (472 bytes; primary key vol_volid unique; index 2 the first
// 120 bytes of vol_vol_path with duplicates; index 3 vol_txid then
// vol_sessionid with duplicates):
//   offset length column          offset length column
//   0      4      vol_sessionid   410    4      vol_number_obj
//   4      4      vol_txid        414    4      vol_lifecycle
//   8      4      vol_volid       418    8      vol_timestamp
//   12     80     vol_vol_label   426    1      vol_status
//   92     256    vol_vol_path    427    4      vol_bytfree_hi
//   348    4      vol_pool_id     431    4      vol_bytfree_lo
//   352    18     vol_version     435    5      vol_type
//   370    20     vol_crea_date   440    32     vol_platform
//   390    20     vol_mod_date
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t { SMC_VOLUME_RECLEN = 472 };

extern const CatalogColumnDesc smcVolumeColumns[];

// 0; -1 when the build fails; the negative result of a failing index add.
int zarCreateVolumeTab(zarHandle* handle);
int smcDumpVolumeTab(FILE* stream, char delimiter);
