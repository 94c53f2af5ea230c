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

enum : int32_t { SMC_VOL_TXID = 4, SMC_VOL_VOLID = 8, SMC_VOL_PATH = 92, SMC_VOL_PATH_LEN = 256,
       SMC_VOL_STATUS = 426 };

// The row whose vol_volid the buffer holds. 0 with the row; 19; 22.
int smcFetchVolume(zarHandle* handle, unsigned char* row);
// The row whose whole vol_vol_path (trailing blanks aside) equals the
// buffer's. 0 with the row; 17 no such volume; 19; 22.
int smcFetchVolumeByPath(zarHandle* handle, unsigned char* row);
// Clears vol_txid of the rows of this transaction and session. 0; 19; 22.
int smcVolumeClearTxn(zarHandle* handle, int32_t transaction_id, int32_t session_id);
// Sets status "I" on the volume's row, or on every row for volume id 0.
// 0; 19.
int smcVolumeTabUnlockAll(int32_t volume_id);
