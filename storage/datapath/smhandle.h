// zarHandle: the per-session record of the data path, and the process-wide
// list of handles, found by a small positive handle number (the number the
// storage-manager API hands to its callers).
//
// The handle list and its counter have no lock: the storage manager works
// on one thread. Handle numbers come from a 32-bit counter that starts at 1
// and is never reset, so a number is never used twice in a process.
#pragma once

#include <cstdint>

#include "isam/isam.h"
#include "storage/command/config.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/xbsa.h"

// A mount is a device record copied into the handle's mount list.
struct TevDevice;
using TevMount = TevDevice;

// Catalog table ids, which index zarHandle::tableFd (entry 0 is unused).
enum { ZAR_TABLE_SLOTS = 10 };

struct zarHandle {
  XbsaObjectDescriptor* currentObject;  // owned; null when none
  int32_t scanVersion;      // version a device scan gives the object row it re-creates
  uint8_t scanFlag;         // 1 while a device scan inserts an object row
  TypedList* mountList;     // TevMount records this session mounted
  int32_t writePoolId;      // pool whose devices a write mount chooses from
  uint8_t objectTablesFlag; // set: close the object tables before opening/closing the catalog
  uint8_t catalogOpen;      // 1 once the nine catalog tables are open
  TevMount* currentMount;   // the medium in use; null when nothing is mounted
  int32_t transactionId;    // 0 none open, 1 open
  int64_t writeLimit;       // bytes per volume before it counts as full; 0 none
  int64_t bytesWritten;
  TevConfig* config;
  TypedList* txnObjectList; // int32 record numbers inserted in the open transaction (shared)
  TypedList* objectList;    // int32 record numbers of every inserted object row (owned)
  UInt64Pair objectBytes;   // reading: bytes still due; writing: bytes written
  int64_t partBytes;        // bytes of the current part
  int32_t headerRewrite;    // non-zero: rewrite the part's header before unmount
  int32_t partNumber;       // current part, from 1
  uint32_t handleNumber;
  int32_t sessionId;        // from the serial table, kind 3
  int32_t filterId;         // filter of a STDIO or CLOUD medium; -1 none
  // ISAM file number of each catalog table this session opened, indexed by
  // table id 1 (lock) .. 9 (device); -1 while closed.
  int32_t tableFd[ZAR_TABLE_SLOTS];
  // What the catalog keeps of its open tables between calls; all zero
  // means nothing is kept. Cleared whenever tableFd[id] changes.
  IsamKeyDesc tableKeys[ZAR_TABLE_SLOTS][2];  // key descriptions of indexes 1 and 2
  uint8_t tableKeysHeld[ZAR_TABLE_SLOTS];     // bit (index - 1): tableKeys holds it
  uint8_t commitFileOpen;                     // 1 while commitFile is open
  int32_t commitFile;  // smcUnlockObject's own file of the object table
};

// Makes a handle and enters it in the global list. 0; 22 null out pointer;
// 19 no memory or the list could not be made or extended; 3 configuration
// not loaded.
int create_bsa_handle(uint32_t* handle_number);
// 0 and the handle; 22 for number 0; 6 when there is no handle at all; 17
// when no handle has the number. A miss is traced with the caller's source
// file and line.
int find_bsa_handle(uint32_t handle_number, zarHandle** handle, const char* file, int line);
// Makes the descriptor, a block of malloc, the handle's current object; the
// handle owns it and frees a current object it replaces. The result of
// find_bsa_handle.
int set_bsa_handle_object(uint32_t handle_number, XbsaObjectDescriptor* object);
// Destroy callback of the global list: frees the handle's current object,
// its lists and the record, leaving its catalog tables as they are (the
// catalog close closes them).
void destroy_bsa_handle(void** element);
// Destroys every handle, whatever number is given. 0, or 6 when the list
// reported an error.
int destroy_bsa_handles(uint32_t handle_number);
