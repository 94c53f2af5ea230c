// The ISAM library's public names: mode words, error numbers and the plain
// structures that callers pass to the calls.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Open and build mode word (only the low 16 bits count).
enum {
  IS_INPUT = 0x0,
  IS_OUTPUT = 0x1,
  IS_INOUT = 0x2,
  IS_TRANS = 0x4,
  IS_NOLOG = 0x8,
  IS_VARLEN = 0x10,
  IS_ANYFORM = 0x80,
  IS_AUTOLOCK = 0x200,
  IS_MANULOCK = 0x400,
  IS_EXCLLOCK = 0x800,
};

// Key description flags and part types.
enum {
  IS_DUPS = 0x1,
  IS_DUPCOMP = 0x2,
  IS_LEADCOMP = 0x4,
  IS_TRAILCOMP = 0x8,
  IS_DESCENDING = 0x80,
};

// iserrno values of the library; other values are operating-system errors.
enum {
  EDUPLICATE = 100,
  ENOTOPEN = 101,
  EBADARG = 102,
  EBADKEYDESC = 103,
  ETOOMANYFILES = 104,
  EBADFILE = 105,
  ENOTEXCLUSIVE = 106,
  ERECLOCKED = 107,
  EKEYEXISTS = 108,
  EENDFILE = 110,
  ENORECORD = 111,
  ENOCURRENT = 112,
  EFILELOCKED = 113,
  EFILENAME = 114,
  EBADMEMORY = 116,
  ECOLLATION = 117,
  EBADRECLEN = 132,
  ENOLOCKS = 134,
  ENOMANUALLOCK = 153,
  ELOCALELOAD = 159,
  EUNSUPPORTED = 171,
};

enum { IS_MAXPARTS = 8, IS_MAXKEYLEN = 120, IS_MAXFILES = 256 };

typedef struct IsamKeyPart {
  int16_t start;  // first byte in the record
  int16_t len;    // length in bytes
  int16_t type;   // part type, plus IS_DESCENDING
} IsamKeyPart;

// Key description in memory: flags, number of parts (0 for record-number
// order), the parts, the key length and the index's root node.
typedef struct IsamKeyDesc {
  int16_t flags;
  int16_t nparts;
  IsamKeyPart parts[IS_MAXPARTS];
  int16_t keylen;
  int64_t root;
} IsamKeyDesc;

// Result of the index information call for index number 0.
typedef struct IsamDictInfo {
  int16_t nindexes;   // bit 15 set for a variable-length file
  int16_t reclen;     // the maximum length of a variable-length file
  int16_t nodesize;   // the header's node size field (node size less one)
  int64_t nrecords;
} IsamDictInfo;

#ifdef __cplusplus
#define IS_THREAD_LOCAL thread_local
#else
#define IS_THREAD_LOCAL _Thread_local
#endif

// Per-thread results of the last call: the error number (0 after success),
// the kind of input or output that failed, the two status codes of two
// digit characters each, and the record number and record length.
TV_API extern IS_THREAD_LOCAL int iserrno;
TV_API extern IS_THREAD_LOCAL int isiocode;
TV_API extern IS_THREAD_LOCAL char isstatus_a[2];
TV_API extern IS_THREAD_LOCAL char isstatus_b[2];
TV_API extern IS_THREAD_LOCAL int isrecnum;
TV_API extern IS_THREAD_LOCAL int isrecsize;

// File-level calls. Each returns -1 with iserrno set on failure.
// A new pair open in the given mode: its isfd.
TV_API int isbuild(const char* name, int reclen, IsamKeyDesc* key, int mode);
TV_API int isopen(const char* name, int mode);
TV_API int isclose(int isfd);
TV_API int isflush(int isfd);
// Index number 0 fills an IsamDictInfo, 1 up to the number of indexes an
// IsamKeyDesc.
TV_API int isindexinfo(int isfd, void* buffer, int number);
TV_API int isaddindex(int isfd, IsamKeyDesc* key);
TV_API int iserase(const char* name);
TV_API int isrename(const char* oldname, const char* newname);

// Whole-file locks of a file opened with manual locking, and the release of
// the current file's read locks.
TV_API int islock(int isfd);
TV_API int isunlock(int isfd);
TV_API int isrelease(void);

// Read and start modes (low byte of the mode word), the lock bits of a
// read, and the start bit that keeps the automatic record locks of the
// call before. One enumeration, so that modes and bits combine freely.
enum {
  IS_FIRST = 0,
  IS_LAST = 1,
  IS_NEXT = 2,
  IS_PREVIOUS = 3,
  IS_CURRENT = 4,
  IS_EQUAL = 5,
  IS_GREATER = 6,
  IS_GREATER_EQUAL = 7,
  IS_LOCK = 0x100,
  IS_SKIPLOCK = 0x200,
  IS_WAIT = 0x400,
  IS_KEEPLOCK = 0x800,
};

// Record calls. For a variable-length file the caller sets isrecsize to
// the record's length before iswrite and isrewcurr.
// Chooses the current index (its flags are written into key) and positions
// in it; keylen 0 compares the whole key.
TV_API int isstart(int isfd, IsamKeyDesc* key, int keylen, void* record, int mode);
// Reads a record by position or key; isrecnum and isrecsize describe it.
TV_API int isread(int isfd, void* record, int mode);
// Adds a record; isrecnum is its new number.
TV_API int iswrite(int isfd, const void* record);
// Replaces or deletes the current record, or deletes a record by number.
TV_API int isrewcurr(int isfd, const void* record);
TV_API int isdelcurr(int isfd);
TV_API int isdelrec(int isfd, int recnum);

// Audit trail: 0 set the audit file's name (empty removes it), 1 get it
// (128 bytes of room), 2 start, 3 stop, 4 store 1 or 0 in buffer[0] for
// on or off.
enum { AU_SETNAME = 0, AU_GETNAME = 1, AU_START = 2, AU_STOP = 3, AU_INFO = 4 };
TV_API int isaudit(int isfd, char* buffer, int mode);

TV_END_C
