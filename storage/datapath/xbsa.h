// The records and return codes of the storage-manager API, and the
// operations on {high, low} pairs, which carry 64-bit byte counts as two
// unsigned 32-bit words (high word first) between the API, the catalog and
// the media code.
//
// These records live in memory only; none is ever written to a file or a
// socket as raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Return codes of the storage-manager API. Besides these, calls pass the
// storage manager's own message numbers.
enum : int {
  BSA_RC_SUCCESS = 0,
  BSA_RC_ABORT_SYSTEM_ERROR = 3,
  BSA_RC_AUTHENTICATION_FAILURE = 4,
  BSA_RC_BAD_CALL_SEQUENCE = 5,
  BSA_RC_BAD_HANDLE = 6,
  BSA_RC_MATCH_EXISTS = 13,
  BSA_RC_MORE_DATA = 14,
  BSA_RC_NO_MATCH = 17,
  BSA_RC_NO_MORE_DATA = 18,
  BSA_RC_NO_RESOURCES = 19,
  BSA_RC_NULL_DATABLOCKPTR = 20,
  BSA_RC_NULL_OBJNAME = 21,
  BSA_RC_NULL_POINTER = 22,
  BSA_RC_OBJECT_NAME_TOO_LONG = 24,
  BSA_RC_OPERATION_NOT_AUTHORIZED = 29,
  BSA_RC_TXN_ABORTED = 32,
};

// A 64-bit unsigned count as two 32-bit words.
struct UInt64Pair {
  uint32_t high;
  uint32_t low;
};

// The storage-manager owner name, then the application owner name.
struct XbsaObjectOwner {
  char bsaObjectOwner[64];
  char appObjectOwner[64];
};

// Passed cleared by the callers; never read.
struct XbsaSecurityToken {
  unsigned char bytes[64];
};

// The object descriptor: the caller's copy and the handle's current object
// share this layout.
struct XbsaObjectDescriptor {
  uint32_t version;              // object version (filled from the catalog)
  XbsaObjectOwner owner;
  char objectSpaceName[1024];    // first part of the object's name
  char pathName[1024];           // second part of the object's name
  int32_t createTime[9];         // sec, min, hour, mday, mon (0-11), year-1900, wday, yday, isdst
  uint32_t unused1;
  UInt64Pair copyId;
  UInt64Pair restoreOrder;
  unsigned char unused2[64];
  UInt64Pair size;               // object size in bytes
  char objectKind[32];           // first character: "C" and "L" select the short-name rule
  uint32_t unused3;
  uint32_t status;               // 2 once filled from the catalog
  unsigned char unused4[12];
  char description[256];
  char objectInfo[512];
};
static_assert(sizeof(XbsaObjectDescriptor) == 3128, "descriptor layout");
static_assert(offsetof(XbsaObjectDescriptor, copyId) == 2220, "descriptor layout");
static_assert(offsetof(XbsaObjectDescriptor, objectKind) == 2308, "descriptor layout");

// A caller's data buffer: the caller sets the length and the pointer, the
// API the bytes filled.
struct XbsaDataBlock {
  uint32_t bufferLen;
  uint32_t numBytes;
  void* bufferPtr;
};

// megabytes x 2^20 as a pair.
void tevMBytesToUInt64(UInt64Pair* out, uint32_t megabytes);
// The pair divided by 2^20, rounded down, cut to 32 bits.
void tevUInt64ToMBytes(uint32_t* out, const UInt64Pair* pair);
void tevU64ToUInt64(UInt64Pair* out, uint64_t value);
void tevUInt64ToU64(uint64_t* out, const UInt64Pair* pair);
// low -= value; when low wrapped and high is not 0, high -= 1 (so {0, 0}
// minus 1 gives {0, 0xFFFFFFFF}). A null pair is ignored.
void tevUInt64Subtract(UInt64Pair* pair, uint32_t value);
// -1 when the pair is greater than the value, 0 when equal, 1 when the
// value is greater or the pair is null.
int tevUInt64Compare(const UInt64Pair* pair, uint32_t value);
// "TARVELON" and "tarvelon".
void tevSetDefaultOwner(XbsaObjectOwner* owner);
void tevClearSecurityToken(XbsaSecurityToken* token);
