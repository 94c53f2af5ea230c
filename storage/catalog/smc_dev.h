// The device table: one row per device in every pool it belongs to.
//
// Device row (1838 bytes; primary key dev_name with duplicates; index 2
// dev_session_id with duplicates; index 3 dev_pool_id then dev_priority
// with duplicates). The two command columns each fill a 256-byte slot,
// of which the column descriptor names the first 120 bytes.
//   offset length column          offset length column
//   0      120    dev_name        678    4      dev_pool_id
//   120    256    dev_read_cmd    682    4      dev_session_id
//   376    256    dev_write_cmd   686    128    dev_username
//   632    4      dev_priority    814    128    dev_password
//   636    5      dev_type        942    128    dev_stdio_r
//   641    4      dev_cloud_prov  1070   128    dev_stdio_w
//   645    8      dev_blocksize   1198   128    dev_stdio_d
//   653    8      dev_media_size  1326   256    dev_url
//   661    8      dev_part_size   1582   256    dev_container
//   669    1      dev_status
//   670    8      dev_timestamp
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t { SMC_DEVICE_RECLEN = 1838, SMC_DEV_SESSION_ID = 682 };

extern const CatalogColumnDesc smcDeviceColumns[];

// 0, or the negative ISAM result.
int zarCreateDeviceTab(zarHandle* handle);
// Closes the process-wide device file of the row operations: 0.
int smcDevTabClose();
int smcDumpDeviceTab(FILE* stream, char delimiter);
