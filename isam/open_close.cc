// Opening and closing an isfd, and writing a file's changes out.

#include <cstring>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/call_frame.h"
#include "isam/env.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/keydesc_check.h"
#include "isam/locks.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

void SetStatusB(const char* code) {
  IsamThreadState& st = is_state();
  st.isstatus_b[0] = code[0];
  st.isstatus_b[1] = code[1];
}

int RefuseMode() {
  SetStatusB("37");
  is_fail(EBADARG);
  is_failstatus(true);
  return -1;
}

// Checks what this library must understand before it uses the file:
// 171 when a newer format may be meant (even node size field), else 105.
int Validate(IsamSharedFile* sf) {
  const unsigned char* hdr = sf->header;
  int field = ld16(hdr + HDR_NODESIZE);
  bool sound = hdr[0] == 0xFE && hdr[1] == 0x53 && field >= 127 && field <= 1023 &&
               (hdr[HDR_DUPWIDTH] == 2 || hdr[HDR_DUPWIDTH] == 4);
  if (sound) {
    int saved = is_state().iserrno;
    sound = is_keydescreadable() == 0;
    is_state().iserrno = saved;
  }
  if (sound) return 0;
  return is_fail(field % 2 == 0 ? EUNSUPPORTED : EBADFILE);
}

// Lock method 8 is this library's; 0 (never set) becomes 8, and so do the
// methods 3, 4, 5 and 7 when RESETLOCK is set.
int TakeLockMethod(IsamSharedFile* sf) {
  int method = ld16(sf->header + HDR_LOCKMETHOD);
  if (method == 8) return 0;
  bool reset = is_getenv("RESETLOCK") != nullptr;
  if (method == 0 || (reset && (method == 3 || method == 4 || method == 5 || method == 7))) {
    st16(8, sf->header + HDR_LOCKMETHOD);
    is_headerdirty();
    return 0;
  }
  return is_fail(method >= 1 && method <= 7 ? EUNSUPPORTED : EBADFILE);
}

}  // namespace

}  // namespace isam

using namespace isam;

int isopen(const char* name, int mode) {
  IsamThreadState& st = is_state();
  is_callreset();
  mode &= 0xFFFF;
  if (mode & (IS_TRANS | IS_NOLOG)) return RefuseMode();
  is_hdrunlock();
  if (is_checkname(name) != 0) {
    is_failstatus(true);
    return -1;
  }
  int isfd = is_allocfd();
  if (isfd < 0) {
    is_failstatus(true);
    return -1;
  }
  IsamOpenFile* of = is_openfile(isfd);
  of->mode = static_cast<uint16_t>(mode & 0xFF);
  int lockmode = is_lockmode(mode);
  if (lockmode < 0 || (mode & 3) == 3) {
    is_freefd(of);
    return RefuseMode();
  }
  IsamSharedFile* sf = is_openfiles(name, mode & 3);
  if (sf == nullptr) {
    if (st.iserrno == ENOENT) SetStatusB("35");
    if (st.iserrno == EACCES) SetStatusB("37");
    is_freefd(of);
    is_failstatus(true);
    return -1;
  }
  of->shared = sf;

  int access = (mode & 3) == IS_INPUT ? AC_READ : (mode & 3) == IS_OUTPUT ? AC_WRITE : AC_READ | AC_WRITE;
  if (mode & IS_ANYFORM) access |= AC_NOCOLL;
  bool framed = false;
  bool openlocked = false;
  int rc = -1;
  do {
    if (is_callbegin(isfd, access) != 0) break;
    framed = true;
    of->mode |= static_cast<uint16_t>(lockmode);
    if (is_lockopen(lockmode) != 0) break;
    openlocked = true;
    if ((sf->varlen != 0) != ((mode & IS_VARLEN) != 0) && !(mode & IS_ANYFORM)) {
      SetStatusB("39");
      is_fail(EBADARG);
      break;
    }
    if (is_recbuffer(sf->maxlen) != 0) break;
    if (Validate(sf) != 0 || TakeLockMethod(sf) != 0) break;
    if (ld16(sf->header + HDR_LOCKMETHOD) == 8) st.pos.flags |= POS_START_PENDING;
    // The primary index is the current index of a new isfd (record-number
    // order for a pair that has no index yet).
    // A damaged description of it makes the open fail.
    int saved = st.iserrno;
    st.iserrno = 0;
    if (is_findkeydesc(&of->keydesc, 1) < 0) {
      if (st.iserrno != 0) break;
      of->keydesc = IsamKeyDesc{};
    }
    st.iserrno = saved;
    st.isrecsize = sf->maxlen;
    rc = 0;
  } while (false);
  if (rc == 0) {
    if (is_callend() == 0) return isfd;
  }
  // Give back what was taken: the open lock, the frame, the header lock and
  // the slot.
  int err = st.iserrno;
  char statusb[2] = {st.isstatus_b[0], st.isstatus_b[1]};
  if (openlocked) is_lockopen(0);
  if (framed && rc == 0) {
    // The frame already ended.
  } else if (framed) {
    is_callend();
  }
  is_hdrunlock();
  is_freefd(of);
  st.iserrno = err;
  st.isstatus_b[0] = statusb[0];
  st.isstatus_b[1] = statusb[1];
  is_failstatus(true);
  return -1;
}

int isclose(int isfd) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_HDREXCL) != 0) {
    if (st.iserrno == ENOTOPEN) {
      st.isstatus_b[0] = '4';
      st.isstatus_b[1] = '2';
    }
    return -1;
  }
  IsamOpenFile* of = st.curopen;
  IsamSharedFile* sf = st.curfile;
  if (st.cache_isfd == isfd) {
    st.cache_isfd = -1;
    st.cache_recnum = -1;
  }
  if (!(of->flags & OF_HDRLOCK)) is_lockheader(1);
  is_lockfile(0);
  is_lockopen(0);
  int rc = is_callend(false);
  if (is_flushbuffers(sf) != 0 && rc == 0) {
    is_setstatus();
    rc = -1;
  }
  is_hdrunlock();
  is_freefd(of);
  return rc;
}

int isflush(int isfd) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_WRITE | AC_HDREXCL) != 0) return -1;
  IsamSharedFile* sf = st.curfile;
  int rc = is_callend();
  if (is_flushbuffers(sf) != 0 && rc == 0) {
    is_setstatus();
    rc = -1;
  }
  return rc;
}
