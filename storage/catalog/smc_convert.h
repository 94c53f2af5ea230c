// Conversion of a catalog written by an older release, in place, one
// version step after the other (1.3 -> 1.6 -> 1.7 -> 1.8). Each step moves
// every table it changes to a saved name ("<path>_V_1_<old minor>"),
// builds the table anew with the current layout and keys and converts the
// saved rows into it (rows start all zeros; every byte the conversion does
// not write stays zero). The step's new marker is written only after all
// its tables are converted, and its saved tables are erased only after
// that; a failed step puts its saved tables back, so that the catalog is
// always at exactly one version and the next open converts from there.
//
// Older row layouts (character fields blank-padded, integers big-endian).
//
// Device, 1.3 (397 bytes) and 1.6 (401 bytes):
//   field          1.3        1.6
//   name           0/120      0/120
//   read command   120/120    120/120
//   write command  240/120    240/120
//   priority       360/4      360/4
//   type name      364/4      364/4
//   block size     368/8      368/8
//   media size     376/8      376/8
//   status         384/1      384/1
//   time stamp     385/4 u    385/8
//   pool id        389/4      393/4
//   session id     393/4      397/4
// Device, 1.7: the current columns from dev_name to dev_session_id (at
// least 686 bytes).
//
// Volume, 1.3 (463 bytes) and 1.6 (467 bytes); 1.7 is the current layout:
//   field                     1.3        1.6
//   session, txn, volume id   0/4 4/4 8/4 (both)
//   label, path               12/80 92/256 (both)
//   version                   348/18     348/18
//   creation, change date     366/20 386/20 (both)
//   objects, life cycle       406/4 410/4 (both)
//   time stamp                414/4 s    414/8
//   status                    418/1      422/1
//   bytes free high, low      419/4 423/4  423/4 427/4
//   type name                 427/4      431/4
//   platform                  431/32     435/32
//
// Object, 1.3 (3026 bytes; names in the row, no object_path table):
//   0/4 txn id, 4/1 status, 5/2 kind text, 7/1024 object-space name,
//   1031/1024 path name, 2055/256 description, 2311/512 information,
//   2823/31 encoding, 2854/64 owner, 2918/64 application owner,
//   2982/4 session id, 2986/8 copy id, 2994/4 version, 2998/4 bytes low,
//   3002/4 bytes high, 3006/4 restore low, 3010/4 restore high,
//   3014/4 user count, 3018/4 creation time (signed), 3022/4 time stamp
//   (signed).
// Serial, 1.3: the first five counters (24 bytes).
// (u: widened without sign; s: widened with its sign.)
#pragma once

#include <cstdint>

struct zarHandle;

// Puts back the saved tables of the step that starts at 1.<minor> (major 1,
// minor 3, 6 or 7; nothing otherwise): each table whose saved copy exists
// is closed in the handle, erased and replaced by its copy. The 1.3 step
// also erases an object_path table beside a 1.3 object table, which only
// the failed step can have built.
void catalogConvertRollback(zarHandle* handle, int32_t major, int32_t minor);

// The table conversions, each on the handle's table: 0; 3 no memory or the
// table could not be moved aside; 19 the saved table cannot be opened or
// read, or is shorter than its old layout; or the failing write's result.
int smcDevTabMigrateFrom3To6(zarHandle* handle);
int smcDevTabMigrateFrom6To7(zarHandle* handle);
int smcDevTabMigrateFrom7To8(zarHandle* handle);
int smcVolumeTabMigrateFrom3To6(zarHandle* handle);
int smcVolumeTabMigrateFrom6To7(zarHandle* handle);
// Fills the object_path table (built before) with the rows' path names.
int smcObjectTabMigrateFrom3To6(zarHandle* handle);
