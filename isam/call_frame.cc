#include "isam/call_frame.h"

#include "isam/audit.h"
#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/collation.h"
#include "isam/header.h"
#include "isam/locks.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

// A failure before the call's work began.
int BeginFailed() {
  IsamThreadState& st = is_state();
  st.isstatus_a[0] = '9';
  if (st.isstatus_b[0] == '0') st.isstatus_b[0] = '9';
  is_hdrunlock();
  return -1;
}

// A node size field outside what this library reads: even values may be a
// newer format (171), odd ones are damage (105).
int CheckNodeSize() {
  int field = ld16(is_state().curfile->header + HDR_NODESIZE);
  if (field >= 127 && field <= 1023) return 0;
  return is_fail(field % 2 == 0 ? EUNSUPPORTED : EBADFILE);
}

}  // namespace

void is_callreset() {
  IsamThreadState& st = is_state();
  st.iserrno = 0;
  st.isiocode = 0;
  st.isstatus_a[0] = st.isstatus_a[1] = '0';
  st.isstatus_b[0] = st.isstatus_b[1] = '0';
}

int is_callbegin(int isfd, int access) {
  IsamThreadState& st = is_state();
  is_callreset();
  IsamOpenFile* of = is_openfile(isfd);
  if (of == nullptr || of->shared == nullptr) {
    is_fail(ENOTOPEN);
    st.isstatus_a[0] = '9';
    if (st.isstatus_b[0] == '0') st.isstatus_b[0] = '9';
    return -1;
  }
  IsamSharedFile* sf = of->shared;
  st.curisfd = isfd;
  st.curopen = of;
  st.curfile = sf;
  sf->flags &= ~SF_BUFMODIFIED;
  of->pos.flags &= ~POS_DUPLICATE;

  int have = of->mode & 3;
  if (((access & AC_READ) && have == IS_OUTPUT) || ((access & AC_WRITE) && have == IS_INPUT)) {
    is_fail(ENOTOPEN);
    st.isstatus_a[1] = '4';
    return BeginFailed();
  }

  if (sf->exclopens == 0 && !(of->flags & OF_HDRLOCK)) {
    if (is_lockheader((access & AC_HDREXCL) ? 1 : 2) != 0) return BeginFailed();
    if (is_readheader() != 0) return BeginFailed();
  }
  // A pair opened just now takes its figures from the header it read.
  if (sf->nodesize == 0 && (CheckNodeSize() != 0 || is_takefigures(sf) != 0)) {
    return BeginFailed();
  }

  st.pos = of->pos;

  if (sf->header[HDR_COLLFLAG] != 0 && !(access & AC_NOCOLL) && is_checkcollation() != 0) {
    return BeginFailed();
  }

  uint32_t changes = ldu32(sf->header + HDR_CHANGES);
  if (changes != of->changes) {
    of->changes = changes;
    if (changes != sf->changes) {
      sf->changes = changes;
      is_auditforget(sf);
      // Changes an earlier call could not write are lost: say so. The
      // saved path is stale either way.
      if (is_dropbuffers(sf) != 0) {
        of->pos.depth = -1;
        return BeginFailed();
      }
    }
    st.pos.depth = -1;
  } else if (st.pos.depth >= 0) {
    st.curkey = st.pos.saved;
  }

  if (is_usefile(sf) != 0) return BeginFailed();

  if ((of->mode & IS_AUTOLOCK) && !(access & AC_KEEPAUTO)) is_lockfile(0);
  return 0;
}

int is_callend(bool release_header) {
  IsamThreadState& st = is_state();
  IsamOpenFile* of = st.curopen;
  IsamSharedFile* sf = st.curfile;
  if (of != nullptr && sf != nullptr) {
    of->pos = st.pos;
    int saved = st.iserrno;
    if (sf->flags & SF_BUFMODIFIED) {
      ++sf->changes;
      of->changes = sf->changes;
      st32(sf->changes, sf->header + HDR_CHANGES);
      is_headerdirty();
      // Others read the file as soon as the header lock goes: everything
      // this call changed must be on disk by then.
      if (sf->exclopens == 0) is_flushbuffers(sf);
      sf->flags &= ~SF_BUFMODIFIED;
    }
    if (sf->flags & SF_HDRDIRTY) is_writeheader();
    if (saved != 0) st.iserrno = saved;
  }
  is_setstatus();
  if (release_header) is_hdrunlock();
  return st.iserrno == 0 ? 0 : -1;
}

int is_lockmode(int mode) {
  switch (mode & 0xFF00) {
    case IS_AUTOLOCK:
    case IS_MANULOCK:
    case IS_EXCLLOCK:
      return mode & 0xFF00;
    case 0x300:
      return IS_AUTOLOCK;
    case 0x500:
      return IS_EXCLLOCK;
    default:
      return -1;
  }
}

void is_failstatus(bool keep_second) {
  IsamThreadState& st = is_state();
  st.isstatus_a[0] = '9';
  st.isstatus_a[1] = '0';
  if (!keep_second || st.isstatus_b[0] == '0') {
    st.isstatus_b[0] = '9';
    st.isstatus_b[1] = '0';
  }
}

}  // namespace isam
