// In-memory records of a volume row and an object-detail row: where the
// parts of stored objects lie. The data path's volume and detail
// operations convert the catalog rows into these and back.
#pragma once

#include <cstdint>

#include "storage/datapath/xbsa.h"

// Volume status codes.
enum : int32_t { VOL_STATUS_OTHER = 0, VOL_STATUS_IDLE = 1, VOL_STATUS_BUSY = 2, VOL_STATUS_L = 3 };

struct TevVolume {
  uint32_t volumeId;     // 0 for a volume that has no row yet
  int32_t type;          // device type 1 FILE, 2 TAPE, 3 STDIO, 4 CLOUD; -1 unknown
  char label[81];
  char version[19];
  char path[257];        // name of the device whose volume it is
  uint32_t poolId;
  char platform[33];
  char createDate[21];
  char modifyDate[21];
  int32_t numberOfObjects;
  uint32_t lifecycle;
  int32_t status;        // VOL_STATUS_*
  UInt64Pair bytesFree;
};

// One stored part of an object copy.
struct TevObjectDetail {
  uint32_t volumeId;     // volume holding the part
  int32_t volumeSeq;     // position of the part on the volume
  UInt64Pair copyId;
  int32_t partNumber;    // 1 for the first part
  int64_t partSize;      // bytes
};
