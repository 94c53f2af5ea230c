// Making a new file pair, and adding an index to a file.

#include <unistd.h>

#include <cstring>
#include <vector>

#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/buffer_pool.h"
#include "isam/call_frame.h"
#include "isam/collation.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/locks.h"
#include "isam/pair_setup.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

// The key description as the file will hold it: a collated part allows no
// compression, and a description without parts has no length or flags.
IsamKeyDesc Prepared(const IsamKeyDesc* key, bool* collated) {
  IsamKeyDesc kd = key != nullptr ? *key : IsamKeyDesc{};
  *collated = kd.nparts > 0 && is_hascollated(kd);
  if (*collated) kd.flags = static_cast<int16_t>(kd.flags & ~kCompressionFlags);
  if (kd.nparts == 0) {
    kd.keylen = 0;
    kd.flags = 0;
  }
  return kd;
}

// Gives every node of an index back to the free-node list, from the root
// down through the child pointers of the nodes above the leaves.
int FreeTree(uint32_t node, const IsamKeyDesc& kd, int depth) {
  if (depth >= IS_MAXLEVELS) return is_damage();
  IsamBuffer* b = bt_readnode(node, -1);
  if (b == nullptr) return -1;
  std::vector<uint32_t> children;
  if (b->level > 0) {
    NodeEntries entries;
    if (bt_decode(b->data + 2, b->used - 2, kd, &entries) != 0) {
      is_release(b);
      return -1;
    }
    for (const IsamKeyEntry& e : entries.list) children.push_back(static_cast<uint32_t>(e.pointer));
  }
  is_release(b);
  int rc = 0;
  for (uint32_t child : children) {
    if (FreeTree(child, kd, depth + 1) != 0) rc = -1;
  }
  if (freeput(node, FREE_NODE) != 0) rc = -1;
  return rc;
}

// Puts the key of every record of the file into the new index.
int FillIndex(IsamKeyDesc* kd) {
  IsamThreadState& st = is_state();
  uint32_t last = is_hdrget32(HDR_LASTREC);
  for (uint32_t n = 1; n <= last; ++n) {
    st.iserrno = 0;
    if (dataread(n, st.recbuf.get()) < 0) {
      if (st.iserrno != 0) return -1;
      continue;  // no record with this number
    }
    IsamKeyEntry e;
    is_buildkey(st.recbuf.get(), &e, *kd);
    e.pointer = static_cast<int32_t>(n);
    if (is_insertkey(&e, *kd) != 0) return -1;
  }
  return 0;
}

// A build that failed after it created the pair: nothing of it stays, so
// that a later build of the same name can succeed.
int BuildFailed(IsamOpenFile* of, const std::string& name) {
  IsamThreadState& st = is_state();
  int err = st.iserrno, io = st.isiocode;
  if (of != nullptr) {
    if (of->shared != nullptr) {
      st.curfile = of->shared;
      is_flushbuffers(of->shared);
      is_hdrunlock();
    }
    is_freefd(of);
  }
  if (!name.empty()) {
    unlink(is_idxname(name).c_str());
    unlink(is_datname(name).c_str());
  }
  st.iserrno = err != 0 ? err : EBADFILE;
  st.isiocode = io;
  is_failstatus(false);
  return -1;
}

}  // namespace

}  // namespace isam

using namespace isam;

int isbuild(const char* name, int reclen, IsamKeyDesc* key, int mode) {
  IsamThreadState& st = is_state();
  is_callreset();
  mode &= 0xFFFF;
  int minlen = reclen;
  if (reclen <= 0 || reclen > 32511) return is_fail(EBADRECLEN), BuildFailed(nullptr, "");
  if (mode & IS_VARLEN) {
    minlen = st.isrecsize;
    if (minlen <= 0 || minlen >= reclen) return is_fail(EBADRECLEN), BuildFailed(nullptr, "");
  }
  if (is_recbuffer(reclen) != 0 || is_checkname(name) != 0) return BuildFailed(nullptr, "");
  bool collated = false;
  IsamKeyDesc kd = Prepared(key, &collated);
  if (kd.nparts != 0 && is_checkkeydesc(&kd, minlen) != 0) return BuildFailed(nullptr, "");

  is_hdrunlock();
  int isfd = is_allocfd();
  if (isfd < 0) return BuildFailed(nullptr, "");
  IsamOpenFile* of = is_openfile(isfd);
  of->mode = static_cast<uint16_t>(mode & 0xFF);
  int lockmode = is_lockmode(mode);
  if (lockmode < 0) return is_fail(EBADARG), BuildFailed(of, "");

  if (is_createpair(name) != 0) return BuildFailed(of, "");
  IsamSharedFile* sf = is_openfiles(name, mode & 3);
  if (sf == nullptr) return BuildFailed(of, name);
  of->shared = sf;
  of->mode |= static_cast<uint16_t>(lockmode);
  st.curopen = of;
  st.curfile = sf;
  st.pos = IsamPosition{};
  st.pos.flags = POS_START_PENDING;
  if (is_lockheader(1) != 0 || is_lockopen(lockmode) != 0) return BuildFailed(of, name);

  char collname[kCollNameSize + 1] = {};
  if (collated) {
    if (is_collationsource(collname, sizeof collname) != 0) {
      return is_fail(ELOCALELOAD), BuildFailed(of, name);
    }
    collname[kCollNameSize - 1] = '\0';
  }
  if (is_initpair(sf, minlen, (mode & IS_VARLEN) ? reclen : 0, collated ? collname : nullptr) != 0) {
    return BuildFailed(of, name);
  }
  if (is_addkeydesc(&kd) != 0) {
    if (st.iserrno == 0) st.iserrno = EBADKEYDESC;
    return BuildFailed(of, name);
  }
  of->keydesc = kd;
  if (is_callend() != 0) return BuildFailed(of, name);
  return isfd;
}

int isaddindex(int isfd, IsamKeyDesc* key) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_READ | AC_WRITE | AC_HDREXCL) != 0) return -1;
  IsamSharedFile* sf = st.curfile;
  bool collated = false;
  IsamKeyDesc kd = Prepared(key, &collated);
  bool added = false;
  do {
    if (!(st.curopen->mode & IS_EXCLLOCK)) {
      is_fail(ENOTEXCLUSIVE);
      break;
    }
    if (key == nullptr || is_checkkeydesc(&kd, sf->minlen) != 0) {
      is_fail(EBADKEYDESC);
      break;
    }
    if (((kd.flags & kCompressionFlags) >> 1) & ~sf->header[HDR_COMPRESSION]) {
      is_fail(EBADKEYDESC);
      break;
    }
    bool wantname = collated && sf->header[HDR_COLLFLAG] == 0;
    if (is_addkeydesc(&kd) != 0) break;
    added = true;
    st.cache_isfd = -1;
    st.cache_recnum = -1;
    IsamPosition saved = st.pos;
    int rc = FillIndex(&kd);
    st.pos = saved;
    st.pos.depth = -1;  // the path is found again by its key
    if (rc != 0) {
      // Undo all of it: the nodes of the new index and its description.
      int err = st.iserrno;
      if (kd.root > 0) FreeTree(static_cast<uint32_t>(kd.root), kd, 0);
      IsamKeyDesc gone = kd;
      is_delkeydesc(&gone);
      st.iserrno = err;
      break;
    }
    if (wantname) is_setcollation();
  } while (false);
  if (st.iserrno == 0 && !added) st.iserrno = EBADKEYDESC;
  return is_callend();
}
