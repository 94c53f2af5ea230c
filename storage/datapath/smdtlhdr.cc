// The object detail header.
//
// Integers are little-endian (unlike the big-endian catalog rows).
// Version 3, as written (192 bytes, then the names):
//   offset size  field
//   0      4     magic 0x4F474143 ("CAGO")
//   4      4     header version, 3
//   8      8     copy id
//   16     4     object kind: one character, then NULs
//   20     4     object version
//   24     4     part number, from 1
//   28     4     0xFFFFFFFF
//   32     8     part size; 0 as written, filled in when a FILE part ends
//   40     4     pool id
//   44     28    pool name, NUL-terminated, zero-filled
//   72     4     volume id
//   76     4     0
//   80     8     create time of the object, seconds since 1970
//   88     96    text "%ld %d %d %d:" of volume id, copy id high word, copy
//                id low word, part number (signed 32-bit), zero-filled
//   184    4     n1, length of the object-space name with its NUL
//   188    4     n2, length of the path name with its NUL
//   192    n1    object-space name
//   192+n1 n2    path name
// Version 2 (184 bytes, still read): bytes 0-75 as above; 76 a 4-byte
// create time; 80 the text; 176 n1; 180 n2; the names from 184.
//
// A reader trusts only the magic, the version, the text and the name
// lengths; the binary fields are for people and tools. The name lengths
// come from the medium: the names are skipped in bounded chunks, never
// allocated by them.
#include "storage/datapath/smdtlhdr.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/msgfile.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smtape.h"

namespace {

void StoreLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void StoreLe64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t LoadLe32(const unsigned char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint64_t LoadLe64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Length of a name with its NUL; a name fills at most its 1,024 bytes.
uint32_t NameLength(const char* name) {
  return static_cast<uint32_t>(strnlen(name, 1023) + 1);
}

// Reads and drops count bytes of the medium. False when it ends first.
bool SkipBytes(const TevHeaderMedium* medium, uint64_t count) {
  unsigned char chunk[4096];
  while (count > 0) {
    size_t want = count < sizeof chunk ? static_cast<size_t>(count) : sizeof chunk;
    long got = tevReadFromMedium(medium, chunk, want);
    if (got != static_cast<long>(want)) {
      sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_OS, SM_MSG(88028), static_cast<int>(want),
               static_cast<int>(got));
      return false;
    }
    count -= want;
  }
  return true;
}

// Whole reads (pread) or writes (pwrite) at an offset, retried across
// interruptions.
template <typename Io>
bool WholeAt(Io io, int fd, unsigned char* buf, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = io(fd, buf + done, n - done, at + static_cast<off_t>(done));
    if (r > 0) {
      done += static_cast<size_t>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int64_t tevObjectCreateTime(const XbsaObjectDescriptor* object) {
  struct tm fields {};
  fields.tm_sec = object->createTime[0];
  fields.tm_min = object->createTime[1];
  fields.tm_hour = object->createTime[2];
  fields.tm_mday = object->createTime[3];
  fields.tm_mon = object->createTime[4];
  fields.tm_year = object->createTime[5];
  fields.tm_wday = object->createTime[6];
  fields.tm_yday = object->createTime[7];
  fields.tm_isdst = object->createTime[8];
  return static_cast<int64_t>(mktime(&fields));
}

void tevFillDetailHdr(TevObjectDetailHeader* header, const XbsaObjectDescriptor* object,
                      uint32_t object_version, int32_t part_number, int32_t pool_id,
                      const char* pool_name, uint32_t volume_id) {
  *header = TevObjectDetailHeader{};
  header->magic = TEV_DTLHDR_MAGIC;
  header->version = TEV_DTLHDR_VERSION;
  header->copyId = (static_cast<uint64_t>(object->copyId.high) << 32) | object->copyId.low;
  header->objectKind[0] = object->objectKind[0];
  header->objectVersion = object_version;
  header->partNumber = part_number;
  header->poolId = pool_id;
  if (pool_name != nullptr) {
    std::strncpy(header->poolName, pool_name, sizeof header->poolName - 1);
  }
  header->volumeId = volume_id;
  header->createTime = tevObjectCreateTime(object);
  // Signed 32-bit words, as every reader parses them back.
  std::snprintf(header->text, TEV_DTLHDR_TEXT_SIZE, "%ld %d %d %d:",
                static_cast<long>(static_cast<int32_t>(volume_id)),
                static_cast<int32_t>(object->copyId.high), static_cast<int32_t>(object->copyId.low),
                part_number);
  header->objectSpaceNameLength = NameLength(object->objectSpaceName);
  header->pathNameLength = NameLength(object->pathName);
}

unsigned char* tevBuildDetailHdr(const TevObjectDetailHeader* header,
                                 const char* object_space_name, const char* path_name,
                                 size_t* length) {
  if (header == nullptr || object_space_name == nullptr || path_name == nullptr ||
      length == nullptr) {
    return nullptr;
  }
  const uint32_t n1 = header->objectSpaceNameLength, n2 = header->pathNameLength;
  if (n1 == 0 || n2 == 0 || n1 > 1024 || n2 > 1024) return nullptr;
  const size_t total = TEV_DTLHDR_SIZE + size_t{n1} + n2;
  auto* b = static_cast<unsigned char*>(std::calloc(1, total));
  if (b == nullptr) return nullptr;
  StoreLe32(b + 0, header->magic);
  StoreLe32(b + 4, header->version);
  StoreLe64(b + 8, header->copyId);
  b[16] = static_cast<unsigned char>(header->objectKind[0]);
  StoreLe32(b + 20, header->objectVersion);
  StoreLe32(b + 24, static_cast<uint32_t>(header->partNumber));
  StoreLe32(b + 28, 0xFFFFFFFFu);
  StoreLe64(b + 32, static_cast<uint64_t>(header->partSize));
  StoreLe32(b + 40, static_cast<uint32_t>(header->poolId));
  std::memcpy(b + 44, header->poolName, strnlen(header->poolName, TEV_DTLHDR_POOL_SIZE - 1));
  StoreLe32(b + 72, header->volumeId);
  StoreLe64(b + 80, static_cast<uint64_t>(header->createTime));
  std::memcpy(b + 88, header->text, strnlen(header->text, TEV_DTLHDR_TEXT_SIZE - 1));
  StoreLe32(b + 184, n1);
  StoreLe32(b + 188, n2);
  // Each name is cut to its length, its last byte the NUL.
  std::memcpy(b + TEV_DTLHDR_SIZE, object_space_name, strnlen(object_space_name, n1 - 1));
  std::memcpy(b + TEV_DTLHDR_SIZE + n1, path_name, strnlen(path_name, n2 - 1));
  *length = total;
  return b;
}

int tevParseDetailHdr(const unsigned char* b, size_t count, TevObjectDetailHeader* h,
                      size_t* header_size) {
  *h = TevObjectDetailHeader{};
  if (count < 8) return 3;
  h->magic = LoadLe32(b);
  h->version = LoadLe32(b + 4);
  if (h->magic != TEV_DTLHDR_MAGIC) return 1;
  if (h->version != 2 && h->version != 3) return 2;
  const size_t size = h->version == 3 ? TEV_DTLHDR_SIZE : TEV_DTLHDR_V2_SIZE;
  if (count < size) return 3;
  h->copyId = LoadLe64(b + 8);
  h->objectKind[0] = static_cast<char>(b[16]);
  h->objectVersion = LoadLe32(b + 20);
  h->partNumber = static_cast<int32_t>(LoadLe32(b + 24));
  h->partSize = static_cast<int64_t>(LoadLe64(b + 32));
  h->poolId = static_cast<int32_t>(LoadLe32(b + 40));
  std::memcpy(h->poolName, b + 44, TEV_DTLHDR_POOL_SIZE - 1);
  h->volumeId = LoadLe32(b + 72);
  const size_t text_at = h->version == 3 ? 88 : 80;
  const size_t names_at = h->version == 3 ? 184 : 176;
  h->createTime = h->version == 3 ? static_cast<int64_t>(LoadLe64(b + 80))
                                  : static_cast<int32_t>(LoadLe32(b + 76));
  std::memcpy(h->text, b + text_at, TEV_DTLHDR_TEXT_SIZE);  // text[96] stays NUL
  h->objectSpaceNameLength = LoadLe32(b + names_at);
  h->pathNameLength = LoadLe32(b + names_at + 4);
  *header_size = size;
  return 0;
}

int tevParseHdrText(const char* text, int32_t numbers[4]) {
  int n = 0;
  const char* p = text;
  while (n < 4) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(p, &end, 10);
    if (end == p || errno != 0 || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) break;
    numbers[n++] = static_cast<int32_t>(static_cast<uint32_t>(v));
    p = end;
  }
  return n;
}

long tevWriteToMedium(const TevHeaderMedium* medium, const void* bytes, size_t length) {
  switch (medium->type) {
    case TEV_MEDIUM_FILE:
      return static_cast<long>(sm_write_all(medium->descriptor, bytes, length));
    case TEV_MEDIUM_STDIO:
    case TEV_MEDIUM_CLOUD:
      // The filter takes the block whole or not at all.
      return write_to_filter(medium->filterId, bytes, length) == 0 ? static_cast<long>(length)
                                                                  : -1;
    case TEV_MEDIUM_TAPE:
      return tape_write(medium->mount, bytes, length);
    default:
      return -1;
  }
}

long tevReadFromMedium(const TevHeaderMedium* medium, void* buffer, size_t length) {
  switch (medium->type) {
    case TEV_MEDIUM_FILE:
      return static_cast<long>(sm_read_all(medium->descriptor, buffer, length));
    case TEV_MEDIUM_STDIO:
    case TEV_MEDIUM_CLOUD: {
      size_t count = 0;
      if (read_from_filter(medium->filterId, buffer, length, &count) != 0) return -1;
      return static_cast<long>(count);
    }
    case TEV_MEDIUM_TAPE:
      return tape_read(medium->mount, buffer, length);
    default:
      return -1;
  }
}

bool tevReadDetailHdrFrom(const zarHandle* handle, const TevHeaderMedium* medium,
                          const TevObjectDetail* detail) {
  if (handle == nullptr || medium == nullptr || detail == nullptr) return false;
  unsigned char b[TEV_DTLHDR_SIZE];
  const long count = tevReadFromMedium(medium, b, sizeof b);
  TevObjectDetailHeader h;
  size_t size = 0;
  int parsed = count >= 8 ? tevParseDetailHdr(b, static_cast<size_t>(count), &h, &size) : 3;
  if (parsed == 3) {
    sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_OS, SM_MSG(88028), TEV_DTLHDR_SIZE,
             static_cast<int>(count));
    return false;
  }
  if (parsed == 1) {
    SM_TRACE(137, "readDetailHdr: Invalid Object header (0x%x != 0x%x)", h.magic,
             TEV_DTLHDR_MAGIC);
    return false;
  }
  if (parsed == 2) {
    SM_TRACE(137, "Header version %d is invalid, should be $d or lower.",
             static_cast<int>(h.version));
    return false;
  }
  int32_t numbers[4] = {};
  if (tevParseHdrText(h.text, numbers) < 4) {
    SM_TRACE(136, "Bad Header: '%s'", h.text);
    SM_TRACE(137, "Invalid number of fields in old header");
    return false;
  }

  // Bytes read past the header (a version-2 header is 8 bytes shorter)
  // are the first bytes of the names, and of the data when the names are
  // shorter than that.
  uint64_t names = uint64_t{h.objectSpaceNameLength} + h.pathNameLength;
  const size_t surplus = static_cast<size_t>(count) - size;
  if (surplus > 0) {
    if (medium->type == TEV_MEDIUM_FILE) {
      if (lseek(medium->descriptor, -static_cast<off_t>(surplus), SEEK_CUR) < 0) return false;
    } else if (names >= surplus) {
      names -= surplus;
    } else {
      // The data's first bytes go back to the filter for the first read.
      const size_t data = surplus - static_cast<size_t>(names);
      if (unread_from_filter(medium->filterId, b + size + names, data) != 0) return false;
      names = 0;
    }
  }
  if (!SkipBytes(medium, names)) return false;

  SM_TRACE(129, "zarHndl(0x%x) cmp,tst id(%d) (%d), msl(%d) (%d), lsl(%d) (%d) Seq(%d) (%d)\n",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)),
           static_cast<int32_t>(detail->volumeId), numbers[0],
           static_cast<int32_t>(detail->copyId.high), numbers[1],
           static_cast<int32_t>(detail->copyId.low), numbers[2], detail->partNumber, numbers[3]);
  if (numbers[0] == static_cast<int32_t>(detail->volumeId) &&
      numbers[1] == static_cast<int32_t>(detail->copyId.high) &&
      numbers[2] == static_cast<int32_t>(detail->copyId.low) && numbers[3] == detail->partNumber) {
    return true;
  }
  sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_ISAM, "%s", SM_MSG(88040));
  return false;
}

int tevRewriteHdrPartSize(int fd, int64_t part_size) {
  unsigned char b[TEV_DTLHDR_SIZE];
  // Positioned reads and writes leave the file position as it was.
  if (!WholeAt(pread, fd, b, sizeof b, 0)) {
    sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_OS, SM_MSG(88028), TEV_DTLHDR_SIZE, -1);
    return 3;
  }
  StoreLe64(b + 32, static_cast<uint64_t>(part_size));
  if (!WholeAt(pwrite, fd, b, sizeof b, 0)) {
    sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_OS, SM_MSG(88029), TEV_DTLHDR_SIZE, -1);
    return 3;
  }
  SM_TRACE(131, "%s: Re-writing the header. size = %ld", "updateDetailHdr",
           static_cast<long>(part_size));
  return 0;
}
