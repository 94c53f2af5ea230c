// Objects and object details as the data path sees them: inserting a new
// object row for the handle's current object, reading a row into the
// current object and an object record, changing its status, ending and
// deleting an object, and the detail rows that say on which volume each
// part of an object copy lies.
//
// Object status letters of the rows and their codes in TevObjectInfo:
//   "I" 0 idle, "L" 1 being written, "B" 2 being read, "X" 3.
// A row with another letter leaves the record's code as it was.
#pragma once

#include <cstdint>

#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"
#include "storage/datapath/xbsa.h"

enum : int32_t { OBJ_STATUS_IDLE = 0, OBJ_STATUS_WRITING = 1, OBJ_STATUS_READING = 2,
                 OBJ_STATUS_X = 3 };

// The in-memory object record.
struct TevObjectInfo {
  char fileName[1028];     // "%s%s.%d": path name, object-space name, version
  UInt64Pair copyId;
  int32_t version;         // the object's version for its path
  UInt64Pair size;         // bytes of the object
  int32_t status;          // OBJ_STATUS_*
  int64_t timestamp;       // non-zero while the object is in use
  int32_t sessionId;       // session that wrote the row
  char timestampText[21];  // the timestamp as local "YYYY-MM-DD HH:MM:SS"
  int32_t userCount;       // readers of the object
};

// Inserts the row of the handle's current object with the next version of
// its path (the scan version during a device scan), the path row made on
// first use, and transaction mark 1; the descriptor takes the copy id.
// With use_given the given copy id is used, else the serial table's next.
// 0; 6 null handle; 22 no current object; 21 an empty name; 19 a given id
// not above 0, or no memory for the transaction lists; 13 a given id that
// exists; 3 a failed version or serial step; 88001 the row was refused; a
// failing path step's code.
int zarInsertObject(zarHandle* handle, UInt64Pair copy_id, int use_given);
// Reads the object row and its path row into the handle's current object
// (status word 2) and the record. 0; 22 null argument or no current
// object; 17 no such object; 3 a row of another id or an invalid path id;
// 24 the file name does not fit the record; the catalog's codes.
int zarGetObjectInformation(zarHandle* handle, uint64_t copy_id, TevObjectInfo* info);
// Writes the record's status (code 0 clears the timestamp; 1 to 3 set it
// to now), size and user count into the row. 0; 22; the code of the
// fetch; 3 when the rewrite fails.
int zarPutObjectInfo(zarHandle* handle, UInt64Pair copy_id, TevObjectInfo* info);

// Writes a detail row. 0; 22; 3 (volume id 0, or the row was refused).
int zarPutObjDetail(zarHandle* handle, const TevObjectDetail* detail);
// The detail of the record's copy id and part into the record. 0; 22; 17
// none; 19.
int zarGetObjDetail(zarHandle* handle, TevObjectDetail* detail);
// Writes the record's volume id, position and part size into the row of
// its copy id and part. 0; 17 no such detail; 88001 another failure.
int zarUpdateObjDetail(zarHandle* handle, const TevObjectDetail* detail);
// The number of a copy's details, their highest part number and their
// total size. 0; 17 no detail (nothing set); 19.
int zarObjectCheckDetails(zarHandle* handle, uint64_t copy_id, int32_t* highest_part,
                          int32_t* count, int64_t* total_size);

// Ends the use of the handle's current object: a written object becomes
// idle with the handle's byte count as its size; a read object loses a
// reader and becomes idle with its last one. Then the current object is
// freed. 0 (also without a current object) or a code; 22 null handle.
int zarEndObject(zarHandle* handle);
// Deletes an idle object: its stored parts, its row and its details.
// 0; 6 null handle; 22 copy id 0; 88002; 29 the object is in use; 17 no
// such object; the codes of the steps.
int zarDeleteObject(zarHandle* handle, uint64_t copy_id);
// Deletes the copy's stored parts (quietly, as far as they can be), then
// its row and details. 0; 6; the code of the row deletions.
int zarDeleteCopy(zarHandle* handle, uint64_t copy_id);
// Removes every stored part of the copy from its devices. Never fails its
// caller: each failure ends it quietly.
void zarDeleteCopyData(zarHandle* handle, uint64_t copy_id);
// Frees the current object of the handle of that number. 0, or the code
// of find_bsa_handle.
int zarFreeCurrentObject(uint32_t handle_number);
// Clears the handle's object-tables flag. 0; 22 null handle.
int zarCloseObjectTables(zarHandle* handle);
