// The check utility's course: open and lock the pair, check the dictionary
// and file sizes, the collation, the records, the indexes and the free
// lists, make the repairs the operator chose, and sum up.

#include "isam/check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/call_frame.h"
#include "isam/check_state.h"
#include "isam/collation.h"
#include "isam/header.h"
#include "isam/locks.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr int kOwnLockMethod = 8;
constexpr int64_t kMaxNumber = 0x7FFFFFFF;

std::string PairName(const char* path) {
  std::string name = path;
  size_t len = name.size();
  if (len >= 4 && (name.compare(len - 4, 4, ".dat") == 0 || name.compare(len - 4, 4, ".idx") == 0)) {
    name.resize(len - 4);
  }
  return name;
}

// The header as it stands in the file, judged by the dictionary check
// rather than by the library's own header check.
int ReadRawHeader(IsamSharedFile* sf) {
  ssize_t got = pread(sf->idxfd, sf->header, kHeaderSize, 0);
  if (got < 0) return is_fail(errno, 65);
  if (got < kHeaderSize) return is_fail(EBADFILE);
  return 0;
}

// Size of a regular file, 0 for anything else.
int64_t RegularSize(int fd) {
  struct stat sb;
  if (fd < 0 || fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) return 0;
  return sb.st_size;
}

int64_t Larger(int64_t header, int64_t fromsize) {
  int64_t v = header > fromsize ? header : fromsize;
  return v > kMaxNumber ? kMaxNumber : v;
}

// The highest slot of the ".dat" file beyond the header's last record
// number that is marked active; the zeros that fill the file's last block
// are no records.
int64_t LastActiveSlot(int64_t slots) {
  int64_t last = is_hdrget32(HDR_LASTREC);
  for (int64_t n = slots > kMaxNumber ? kMaxNumber : slots; n > last; --n) {
    if (datatest(n) == 1) return n;
  }
  is_state().iserrno = 0;
  return 0;
}

// The chain of key-description nodes: each node in range, met once, and
// marked in use.
int KeyDescChain() {
  CheckState& c = ck();
  c.worknodes.ClearAll();
  uint32_t node = is_hdrget32(HDR_KEYDESCNODE);
  while (node != 0) {
    if (node < 1 || node > c.nodecount) {
      ck_error("bad index node in key descriptors");
      return -1;
    }
    if (c.worknodes.Get(node) || c.inuse.Get(node)) {
      ck_error("duplicate index node in key descriptors");
      return -1;
    }
    c.worknodes.Set(node);
    c.inuse.Set(node);
    IsamBuffer* b = is_readbuffer(node);
    if (b == nullptr) {
      ck_iserror();
      return 0;
    }
    node = ldu32(b->data + 2);
    is_release(b);
  }
  return 0;
}

// Asks the collation source for the current collation name; -1 when the
// checks must end.
int Collation() {
  IsamThreadState& st = is_state();
  const unsigned char* hdr = st.curfile->header;
  if (hdr[HDR_COLLFLAG] == 0) return 0;
  char name[128] = {};
  if (is_collationsource == nullptr || is_collationsource(name, sizeof name) != 0) {
    is_fail(ELOCALELOAD);
    ck_iserror();
    return -1;
  }
  size_t len = strnlen(name, sizeof name);
  const char* filename = reinterpret_cast<const char*>(hdr + HDR_COLLNAME);
  if (len == 0 || len > kCollNameSize || std::memcmp(name, filename, len) != 0) {
    ck_print("\nCLIENT_LOCALE does not match ISAM file collation.");
    ck_print("\nISAM file collation is %.*s.", kCollNameSize, filename);
    ck_print("\n\n");
    return -1;
  }
  return 0;
}

void Summary(bool varlen) {
  CheckState& c = ck();
  int64_t nodes = c.inuse.Count(c.nodecount);
  int64_t recs = c.active.Count(c.reccount);
  ck_print("%ld index node(s) used, %ld free -- ", static_cast<long>(nodes),
           static_cast<long>(c.nodecount - nodes));
  ck_print("%ld data record(s) used, %ld free.", static_cast<long>(recs),
           static_cast<long>(c.reccount - recs));
  if (varlen) {
    int64_t pages = c.tails.Count(c.nodecount);
    ck_print("\n%ld index pages are used for variable length record storage.",
             static_cast<long>(pages));
    if (pages > 0) {
      ck_print("\n%ld bytes are free in those pages, an average of %ld bytes per page.",
               static_cast<long>(c.tailfree), static_cast<long>(c.tailfree / pages));
    }
  }
  ck_print("\n\n");
}

// The checks and repairs on the opened, locked pair; -1 when they ended
// early.
int CheckPair() {
  IsamThreadState& st = is_state();
  if (ck_dictionary() != 0) return -1;
  if (Collation() != 0) return -1;
  if (is_recbuffer(st.curfile->maxlen) != 0) {
    st.iserrno = 0;
    ck_error("cannot allocate main memory");
    return -1;
  }
  ck_records();
  if (ck().varlen) ck_tailpages();
  if (ck_indexes() != 0) return -1;
  ck_reclist();
  if (ck().varlen) ck_spacelists();
  ck_nodelist();
  ck_repairs();
  ck_indexactions();
  return 0;
}

}  // namespace

int ck_dictionary() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  unsigned char* hdr = sf->header;
  ck_print("Checking dictionary and file sizes.\n");
  if (hdr[0] != 0xFE || hdr[1] != 0x53) {
    ck_error("bad magic number");
    return -1;
  }
  int field = ld16(hdr + HDR_NODESIZE);
  ck_print("Index file node size = %d\n", field + 1);
  ck_print("Current Halvik index file node size = %d\n", kBlockSize);
  // Nodes are read into 1024-byte buffers: a field of 1024 (a 1025-byte
  // node) is refused with every larger one.
  if (field < 127 || field > kBlockSize - 1 ||
      (hdr[HDR_DUPWIDTH] != 2 && hdr[HDR_DUPWIDTH] != 4)) {
    ck_error("bad index record size");
    return -1;
  }
  int method = ld16(hdr + HDR_LOCKMETHOD);
  if (method == 0) {
    st16(kOwnLockMethod, hdr + HDR_LOCKMETHOD);
    is_headerdirty();
  } else if (method != kOwnLockMethod) {
    if (ck_ask("force locking method to agree ")) {
      st16(kOwnLockMethod, hdr + HDR_LOCKMETHOD);
      is_headerdirty();
    } else {
      ck_error("locking method used by the file disagrees with current method.");
      return -1;
    }
  }
  if (ld16(hdr + HDR_RECLEN) <= 0) {
    ck_error("bad data record size");
    return -1;
  }
  if (ld16(hdr + HDR_MAXRECLEN) < 0 || is_takefigures(sf) != 0) {
    st.iserrno = 0;
    ck_error("bad data record maximum size");
    return -1;
  }
  if (is_usefile(sf) != 0) {
    ck_iserror();
    return -1;
  }
  c.n = field + 1;
  c.varlen = sf->varlen != 0;

  int slot = sf->minlen + (c.varlen ? 7 : 1);
  c.datrecords = RegularSize(sf->datfd) / slot;
  c.filenodes = RegularSize(sf->idxfd) / c.n;
  c.nodecount = Larger(is_hdrget32(HDR_LASTNODE), c.filenodes);
  c.reccount = Larger(is_hdrget32(HDR_LASTREC), LastActiveSlot(c.datrecords));
  // The library's node readers accept every node up to the node count while
  // the check runs, so that a last node number set too low hides no node.
  st.checknodes = static_cast<uint32_t>(c.nodecount);
  int nidx = ld16(hdr + HDR_NINDEXES);
  // Only numbers inside the files can be in use; the bitmaps are sized from
  // the files, not from header fields.
  bool ok = c.inuse.Reset(c.nodecount, c.filenodes) && c.tails.Reset(c.nodecount, c.filenodes) &&
            c.badtails.Reset(c.nodecount, c.filenodes) &&
            c.worknodes.Reset(c.nodecount, c.filenodes) &&
            c.active.Reset(c.reccount, c.datrecords) && c.badrecs.Reset(c.reccount, c.datrecords) &&
            c.workrecs.Reset(c.reccount, c.datrecords);
  try {
    c.actions.assign(static_cast<size_t>(nidx < 0 ? 0 : nidx) + 4, ACTION_NONE);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    ck_error("cannot allocate main memory");
    return -1;
  }
  c.inuse.Set(1);
  uint32_t audit = is_hdrget32(HDR_AUDITNODE) & 0x7FFFFFFF;
  if (audit != 0) c.inuse.Set(audit);
  return KeyDescChain();
}

}  // namespace isam

using namespace isam;

int ischeck(const char* path) {
  IsamThreadState& st = is_state();
  is_callreset();
  st.checknodes = 0;
  ck() = CheckState{};
  if (path == nullptr) path = "";
  std::string name = PairName(path);
  IsamSharedFile* sf = nullptr;
  int isfd = is_allocfd();
  IsamOpenFile* of = isfd >= 0 ? is_openfile(isfd) : nullptr;
  if (of != nullptr) {
    of->mode = static_cast<uint16_t>(IS_INOUT | IS_EXCLLOCK);
    if (is_checkname(name.c_str()) == 0) sf = is_openfiles(name, IS_INOUT);
  }
  if (sf == nullptr) {
    if (of != nullptr) is_freefd(of);
    is_callreset();
    ck_error("cannot open Halvik file");
    return -1;
  }
  of->shared = sf;
  st.curopen = of;
  st.curfile = sf;
  st.pos = IsamPosition{};
  if (is_lockheader(1) != 0 || is_lockopen(IS_EXCLLOCK) != 0) {
    ck_iserror();
    is_hdrunlock();
    is_freefd(of);
    return -1;
  }
  is_hdrunlock();
  // Nodes kept from an earlier use of the pair may be out of date.
  is_flushbuffers(sf);
  is_dropbuffers(sf);
  if (ReadRawHeader(sf) != 0) {
    ck_iserror();
    is_lockopen(0);
    is_freefd(of);
    return -1;
  }
  int rc = CheckPair();
  // The end of the call: the changes are counted and written under the
  // header lock, and the pair is let go.
  st.iserrno = 0;
  st.isiocode = 0;
  is_lockheader(1);
  is_lockopen(0);
  if (is_callend(false) != 0) ck_iserror();
  if (is_flushbuffers(sf) != 0) ck_iserror();
  is_hdrunlock();
  is_freefd(of);
  st.curopen = nullptr;
  st.checknodes = 0;
  Summary(ck().varlen);
  return rc;
}
