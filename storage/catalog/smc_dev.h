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
#include "storage/datapath/volume_records.h"

struct zarHandle;
struct TypedList;

// The in-memory device record that the device option parser fills, the
// device operations take and the row conversions fill.
struct TevDevice {
  char name[121];
  char readCmd[121];
  char writeCmd[121];
  char user[129];
  char password[129];
  char url[257];
  char container[257];
  char stdioRead[129];
  char stdioWrite[129];
  char stdioDrop[129];
  int32_t type;
  uint32_t cloudProvider;
  int32_t priority;
  int64_t blockSize;
  uint32_t mediaSizeHigh;
  uint32_t mediaSizeLow;
  int64_t partSize;
  void* tapeBuffer;
  uint64_t bufferFill;
  int32_t poolId;
  int64_t timestamp;
  int32_t sessionId;
  char timestampText[21];
  TevVolume volume;
  int32_t busy;
  int32_t volumeId;
  int32_t volumeFull;
  int32_t descriptor;
};

enum : int32_t { SMC_DEVICE_RECLEN = 1838, SMC_DEV_SESSION_ID = 682 };

extern const CatalogColumnDesc smcDeviceColumns[];

// 0, or the negative ISAM result.
int zarCreateDeviceTab(zarHandle* handle);
// The process-wide device file of the row operations: opened on demand by
// smcDevTabOpen (0, or 19 when it cannot be opened), closed by
// smcDevTabClose (0). A successful dsmFindDevice leaves it open on the
// found row; every other way out of the row operations closes it.
int smcDevTabOpen();
int smcDevTabClose();
// Finds the row of device->name in pool_id: 0 found (the row in row, the
// status letter and a NUL in status when given), 17 not found, 19 read
// error, -1 the file cannot be opened. Messages only when verbose.
int dsmFindDevice(const TevDevice* device, int32_t pool_id, char* status, unsigned char* row,
                  int verbose);
// Adds the row of the record with status "I" and finds or makes the
// volume of its path (its id into the record): 0; 3 when the device is
// already in the pool (17 when the search itself failed); -1 or 19 when
// the row cannot be written; the volume step's code, the row removed.
int smcInsertDevice(zarHandle* handle, TevDevice* device);
// Marks idle ("I") the rows held by the session, or every row for a
// session of 0 or less; dev_session_id stays. 0, 19, or -1 when the file
// cannot be opened.
int smcDevTabResetStatus(int32_t session_id);
// The devices of the session's table as TevDevice records, kept by status
// (1 busy only, 2 idle only, other all), pool (0 or less all) and session
// (0 or less all): 0 (the list, maybe empty), 19, 22 (null out pointer).
int smcGetDeviceList(zarHandle* handle, int32_t status_filter, int32_t pool_id, int32_t session_id,
                     TypedList** out);
// Rewrites the row the process-wide file stands on (after a successful
// dsmFindDevice): 0; 19.
int smcDevTabRewrite(const unsigned char* row);
// Writes the record's status, priority, command columns, media size,
// session id and timestamp into the row of its name and pool; type, cloud
// provider, block and part sizes, credentials, STDIO commands, URL and
// container stay as stored. A new priority HIGHEST demotes the pool's
// HIGHEST device first. 0; -1 (no name, pool id 0, or the rewrite
// failed); 17 no such device in the pool; 19 the search failed; the
// demotion's failure.
int smcModifyDevice(zarHandle* handle, TevDevice* device);
// Makes every HIGHEST device of the pool HIGH, through the session's
// device table: 0; 17 (the search failed); 19.
int zarDemoteHighestDevice(zarHandle* handle, int32_t pool_id);
// smcModifyDevice, and zarInsertDevice when the device is not in its pool.
int zarAddModDevice(zarHandle* handle, TevDevice* device);
// Deletes the idle rows of the device name: pool selector > 0 in that pool
// only, 0 in every pool, -1 in every pool after the objects on the
// device's volume and the volume row. The name is taken as typed. Busy rows
// stay (message 88022 each). 0; 3 (an object on the volume could not be
// deleted, or the detail walk failed); 17 (no such device, or every row
// busy); 19; the failure of the volume search.
int zarDeleteDevices(zarHandle* handle, const char* name, int32_t pool_selector);
int smcDumpDeviceTab(FILE* stream, char delimiter);
