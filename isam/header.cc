// Dictionary header, the first 117 bytes of the ".idx" file (node 1 begins
// with it). Integers are big-endian; 16-bit fields are signed.
//
//   bytes    field                                        new file
//   0-1      magic FE 53                                  FE 53
//   2-5      format bytes 02 02 04 04                     02 02 04 04
//   6-7      node size field: node size less one          1023
//   8-9      number of indexes                            0
//   10       compression kinds allowed (dup/lead/trail)   7
//   11       width of duplicate numbers, 2 or 4           4
//   12       not used                                     0
//   13-14    record length (minimum of a variable file)   as built
//   15-18    first key-description node                   2
//   19       collation flag                               0 or 1
//   20-24    not used                                     0
//   25-28    head of the free-record list                 0
//   29-32    head of the free-node list                   0
//   33-36    last record number used                      0
//   37-40    last node number used                        2
//   41-44    change count                                 0
//   45-48    next unique id                               1
//   49-52    audit node, bit 31 while auditing            0
//   53-54    lock method                                  8
//   55-58    not used                                     0
//   59-60    maximum record length; 0 for fixed length    as built
//   61-80    class-list heads of classes 0 to 4           0
//   81-116   collation locale name, NUL-padded            as built

#include "isam/header.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "isam/bigendian.h"
#include "isam/env.h"
#include "isam/thread_state.h"

namespace isam {

void is_fillheader(unsigned char* hdr, int minlen, int maxlen, const char* collname) {
  std::memset(hdr, 0, kHeaderSize);
  static const unsigned char kMagic[6] = {0xFE, 0x53, 0x02, 0x02, 0x04, 0x04};
  std::memcpy(hdr + HDR_MAGIC, kMagic, sizeof kMagic);
  st16(1023, hdr + HDR_NODESIZE);
  hdr[HDR_COMPRESSION] = 7;
  hdr[HDR_DUPWIDTH] = 4;
  st16(static_cast<uint32_t>(minlen), hdr + HDR_RECLEN);
  st32(2, hdr + HDR_KEYDESCNODE);
  st32(2, hdr + HDR_LASTNODE);
  st32(1, hdr + HDR_UNIQUEID);
  st16(8, hdr + HDR_LOCKMETHOD);
  st16(static_cast<uint32_t>(maxlen), hdr + HDR_MAXRECLEN);
  if (collname != nullptr && collname[0] != '\0') {
    hdr[HDR_COLLFLAG] = 1;
    std::strncpy(reinterpret_cast<char*>(hdr + HDR_COLLNAME), collname, kCollNameSize - 1);
  }
}

namespace {

// The mapping covers one page; it is made only for a regular file that holds
// at least a whole first node, so that the header bytes lie inside the file.
// A file that cannot be mapped is read with pread as before.
void MapHeader(IsamSharedFile* sf) {
  struct stat sb;
  void* p = MAP_FAILED;
  if (fstat(sf->idxfd, &sb) == 0 && S_ISREG(sb.st_mode)) {
    // A pair being built may not have its first node written yet: it is
    // mapped at a later call.
    if (sb.st_size < 1024) return;
    p = mmap(nullptr, kHeaderSize, PROT_READ, MAP_SHARED, sf->idxfd, 0);
  }
  if (p == MAP_FAILED) {
    sf->hdrnomap = true;
    return;
  }
  sf->hdrmap = static_cast<const unsigned char*>(p);
}

}  // namespace

void is_unmapheader(IsamSharedFile* sf) {
  if (sf->hdrmap != nullptr) munmap(const_cast<unsigned char*>(sf->hdrmap), kHeaderSize);
  sf->hdrmap = nullptr;
  sf->hdrnomap = false;
}

int is_readheader() {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  unsigned char* hdr = sf->header;
  if (sf->hdrmap == nullptr && !sf->hdrnomap) MapHeader(sf);
  if (sf->hdrmap != nullptr) {
    std::memcpy(hdr, sf->hdrmap, kHeaderSize);
  } else {
    ssize_t got = pread(sf->idxfd, hdr, kHeaderSize, 0);
    if (got < 0) return is_fail(errno, 65);
    if (got < kHeaderSize) return is_fail(EBADFILE);
  }
  static const unsigned char kMagic[6] = {0xFE, 0x53, 0x02, 0x02, 0x04, 0x04};
  if (std::memcmp(hdr, kMagic, sizeof kMagic) != 0) return is_fail(EBADFILE);
  int nodesize = ld16(hdr + HDR_NODESIZE);
  if (nodesize > 1024) return is_fail(nodesize % 2 == 0 ? EUNSUPPORTED : EBADFILE);
  if (nodesize < 127) return is_fail(EBADFILE);
  int method = ld16(hdr + HDR_LOCKMETHOD);
  if (method != 0 && method != 8 && is_getenv("RESETLOCK") == nullptr) {
    return is_fail(method >= 1 && method <= 8 ? EUNSUPPORTED : EBADFILE);
  }
  return 0;
}

int is_writeheader() {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  ssize_t put = pwrite(sf->idxfd, sf->header, kHeaderSize, 0);
  if (put != kHeaderSize) return is_fail(put < 0 ? errno : EIO, 81);
  sf->flags &= ~SF_HDRDIRTY;
  return 0;
}

void is_headerdirty() { is_state().curfile->flags |= SF_HDRDIRTY; }

uint32_t is_hdrget32(int off) { return ldu32(is_state().curfile->header + off); }

uint32_t is_lastnode() {
  uint32_t last = is_hdrget32(HDR_LASTNODE);
  uint32_t check = is_state().checknodes;
  return check > last ? check : last;
}

void is_hdrput32(int off, uint32_t v) {
  st32(v, is_state().curfile->header + off);
  is_headerdirty();
}

}  // namespace isam
