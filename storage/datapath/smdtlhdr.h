// The object detail header: the first bytes of every stored part, on every
// medium. It ties the bytes on the medium to their catalog rows; a reader
// refuses a part whose header names another volume, copy or part than the
// catalog's detail row. The byte layout is described in smdtlhdr.cc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/datapath/smhandle.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/volume_records.h"

enum : uint32_t { TEV_DTLHDR_MAGIC = 0x4F474143 };  // the bytes "CAGO"
enum : int32_t {
  TEV_DTLHDR_VERSION = 3,       // the version written
  TEV_DTLHDR_SIZE = 192,        // version 3, names excluded
  TEV_DTLHDR_V2_SIZE = 184,     // version 2 (read, never written)
  TEV_DTLHDR_TEXT_SIZE = 96,
  TEV_DTLHDR_POOL_SIZE = 28,
};

// Device types of the media a header goes to.
enum : int32_t { TEV_MEDIUM_FILE = 1, TEV_MEDIUM_TAPE = 2, TEV_MEDIUM_STDIO = 3,
                 TEV_MEDIUM_CLOUD = 4 };

// The header's fields in memory; written and read field by field.
struct TevObjectDetailHeader {
  uint32_t magic;
  uint32_t version;
  uint64_t copyId;
  char objectKind[4];          // one character and NULs
  uint32_t objectVersion;
  int32_t partNumber;
  int64_t partSize;            // filled in at the end of a FILE part
  int32_t poolId;
  char poolName[TEV_DTLHDR_POOL_SIZE];
  uint32_t volumeId;
  int64_t createTime;          // seconds since 1970
  char text[TEV_DTLHDR_TEXT_SIZE + 1];  // "%ld %d %d %d:"; always terminated in memory
  uint32_t objectSpaceNameLength;       // with its NUL
  uint32_t pathNameLength;              // with its NUL
};

// Where a header is written or read: a FILE part's descriptor, the filter
// of a STDIO or CLOUD medium, or the mount of a TAPE medium.
struct TevHeaderMedium {
  int32_t type;        // TEV_MEDIUM_*
  int32_t descriptor;  // FILE
  int32_t filterId;    // STDIO, CLOUD
  TevMount* mount;     // TAPE
};

// The medium of a mount: its descriptor, the handle's filter, or itself.
TevHeaderMedium tevMountMedium(const zarHandle* handle, TevMount* mount);

// Writes the header of the next part of the object onto the mount's
// medium, then marks the object "being written" and adds the part's detail
// row (position: the volume's object count + 1; size 0). 0; 22 null
// argument; 3 the medium or the part number failed; 19 short write; 88002
// no memory; a code of zarPutObjectInfo or zarPutObjDetail.
int writeDetailHdr(zarHandle* handle, TevMount* mount, TevObjectInfo* info);
// At the end of a written part (header-rewrite flag set): a FILE part's
// header gets the part size at bytes 32-39, and on every medium the detail
// row gets it; the flag and the part bytes go to 0. 0 (also with the flag
// at 0); 22 no current object or no mount; 3.
int updateDetailHdr(zarHandle* handle, TevMount* mount);
// Checks the header at the start of a mounted part against its detail row.
// 0 when it matches (the medium then stands at the first data byte); 22;
// 3.
int readMountDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail);
// True when the header was read and matches the detail.
bool readDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail);

// The object's create time: its broken-down local time through mktime.
int64_t tevObjectCreateTime(const XbsaObjectDescriptor* object);

// Fills a version-3 header for a part of the object: kind, names and create
// time from the object, the rest from the arguments; the text from the
// volume id, the copy id's words and the part number.
void tevFillDetailHdr(TevObjectDetailHeader* header, const XbsaObjectDescriptor* object,
                      uint32_t object_version, int32_t part_number, int32_t pool_id,
                      const char* pool_name, uint32_t volume_id);

// The header and the two names as stored, in a buffer of malloc that the
// caller frees; null when there is no memory (or a null argument).
unsigned char* tevBuildDetailHdr(const TevObjectDetailHeader* header,
                                 const char* object_space_name, const char* path_name,
                                 size_t* length);

// Reads the fixed fields of a header from count bytes (at least 8): 0, with
// *header_size 192 (version 3) or 184 (version 2); 1 magic wrong; 2 version
// neither 2 nor 3 (header->version holds it); 3 fewer bytes than the
// version's header needs.
int tevParseDetailHdr(const unsigned char* bytes, size_t count, TevObjectDetailHeader* header,
                      size_t* header_size);

// The four numbers of a header text, as 32-bit values (a number of 2^31 or
// more written unsigned gives the same bits). The count of numbers read
// from the front, at most 4.
int tevParseHdrText(const char* text, int32_t numbers[4]);

// Writes the bytes whole to the medium: the count written, or a negative
// value when the medium failed.
long tevWriteToMedium(const TevHeaderMedium* medium, const void* bytes, size_t length);
// Reads up to length bytes, fewer only at the end of the medium's data:
// the count, or a negative value.
long tevReadFromMedium(const TevHeaderMedium* medium, void* buffer, size_t length);

// Reads the header at the medium's position, skips the names and checks
// the header text against the part's detail row. True when it matches; the
// medium then stands at the part's first data byte.
bool tevReadDetailHdrFrom(const zarHandle* handle, const TevHeaderMedium* medium,
                          const TevObjectDetail* detail);

// Puts the part size into bytes 32 to 39 of the header at the start of a
// FILE part, leaving the file position where it was. 0; 3.
int tevRewriteHdrPartSize(int fd, int64_t part_size);
