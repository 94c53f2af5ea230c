// Choosing the current index and positioning in it (isstart), and reading
// records by position or key (isread), with the record locks a read may
// take. An index without parts is the record-number order: its "entries"
// are record numbers, held in the pointer of the current key entry.

#include <cstring>

#include "isam/btree.h"
#include "isam/call_frame.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/locks.h"
#include "isam/record_ops.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr uint16_t kPositionFlags =
    POS_START_PENDING | POS_POSITIONED | POS_READ | POS_CURRENT_DELETED;

bool KeyMode(int mode) { return mode >= IS_EQUAL && mode <= IS_GREATER_EQUAL; }

// The header's last record number, read again when n lies beyond it
// (another process may have added records since).
int64_t LastRecord(int64_t n) {
  IsamThreadState& st = is_state();
  if (n > is_hdrget32(HDR_LASTREC) && !(st.curfile->flags & SF_HDRDIRTY)) {
    if (is_readheader() != 0) return -1;
  }
  return is_hdrget32(HDR_LASTREC);
}

// Puts the record-number position on n.
void AtRecord(int64_t n) {
  IsamThreadState& st = is_state();
  st.curkey = IsamKeyEntry{};
  st.curkey.pointer = static_cast<int32_t>(n);
  st.pos.depth = 0;
  st.pos.leafdepth = 0;
  st.pos.endflags = 0;
}

int PositionRecords(int mode) {
  IsamThreadState& st = is_state();
  int64_t n = 1;
  int64_t last = 0;
  if (KeyMode(mode)) {
    n = static_cast<int64_t>(st.isrecnum) + (mode == IS_GREATER ? 1 : 0);
    if ((last = LastRecord(n)) < 0) return -1;
    if (n > last) return is_fail(ENORECORD);
    if (n < 1) n = 1;
  } else if (mode == IS_LAST) {
    if (!(st.curfile->flags & SF_HDRDIRTY) && is_readheader() != 0) return -1;
    last = is_hdrget32(HDR_LASTREC);
    n = last;  // the number after the last holds no record
  } else {
    last = is_hdrget32(HDR_LASTREC);
  }
  // Numbers past the end of the ".dat" file hold no record; the search for
  // a present record starts or ends there.
  int64_t slots = dataslots(last);
  if (last > slots) last = slots;
  if (mode == IS_LAST) n = last;
  st.pos.flags &= ~kPositionFlags;
  if (mode == IS_EQUAL) {
    int present = datatest(n);
    if (present < 0) return -1;
    if (present == 0) return is_fail(ENORECORD);
  } else {
    int step = mode == IS_LAST ? -1 : 1;
    for (;; n += step) {
      if (n < 1 || n > last) {
        if (mode == IS_FIRST || mode == IS_LAST) {
          n = 0;
          break;
        }
        return is_fail(EENDFILE);
      }
      int present = datatest(n);
      if (present < 0) return -1;
      if (present == 1) break;
    }
  }
  AtRecord(n);
  return 0;
}

int PositionIndex(const IsamKeyDesc& kd, const unsigned char* record, int keylen, int mode) {
  IsamThreadState& st = is_state();
  int rc = 0;
  if (KeyMode(mode)) {
    if (record == nullptr) return is_fail(EBADARG);
    IsamKeyEntry k;
    is_buildkey(record, &k, kd);
    rc = is_search(&k, kd, keylen, mode == IS_GREATER ? BT_GREATER : BT_EXACT);
    if (rc >= 0) {
      if (st.pos.endflags != 0) {
        rc = is_fail(ENORECORD);
      } else if (mode == IS_EQUAL && is_keycompare(st.curkey, k, kd, keylen) != 0) {
        rc = is_fail(ENORECORD);
      }
    }
  } else {
    rc = is_firstlast(kd, mode == IS_LAST ? 1 : 0);
  }
  st.pos.flags &= ~kPositionFlags;
  return rc < 0 ? -1 : 0;
}

// Positions in the current index: keylen key bytes of the key built from
// record for the key modes, the first or last entry for IS_FIRST and
// IS_LAST. The entry reached becomes the current one, unread.
int Position(const unsigned char* record, int keylen, int mode) {
  IsamThreadState& st = is_state();
  const IsamKeyDesc& kd = st.curopen->keydesc;
  st.pos.depth = -1;
  st.pos.endflags = 0;
  int rc = kd.nparts == 0 ? PositionRecords(mode) : PositionIndex(kd, record, keylen, mode);
  if (rc != 0) {
    st.pos.flags &= ~kPositionFlags;
    return -1;
  }
  st.pos.saved = st.curkey;
  st.pos.flags |= POS_POSITIONED;
  st.isrecnum = st.curkey.pointer;
  return 0;
}

// The lock bits of a read as they count: automatic locking adds IS_LOCK.
// -1 when the combination is refused.
int LockBits(int mode) {
  int bits = mode & 0xFF00;
  if (is_state().curopen->mode & IS_AUTOLOCK) bits |= IS_LOCK;
  switch (bits) {
    case 0:
    case IS_LOCK:
    case IS_SKIPLOCK:
    case IS_LOCK | IS_SKIPLOCK:
    case IS_WAIT:
    case IS_LOCK | IS_WAIT:
      return bits;
    default:
      return -1;
  }
}

int Direction(int mode) {
  return mode == IS_LAST || mode == IS_PREVIOUS ? BT_BACKWARD : BT_FORWARD;
}

// The outcome of one pass of a read.
enum ReadResult { RD_DONE, RD_WAIT };

// Finds the current position again for the reads that move from it.
// 0, or -1 with the error.
int Resume(const IsamKeyDesc& kd, int mode) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  if (pos.flags & POS_START_PENDING) {
    if (Position(nullptr, 0, IS_FIRST) != 0) return -1;
    return 1;  // fresh position: nothing to find again
  }
  if (kd.nparts != 0) {
    if (is_refind(kd, mode) != 0) {
      if (st.iserrno == 0) is_fail(ENOCURRENT);
      return -2;
    }
    return 0;
  }
  if (!(pos.flags & POS_POSITIONED)) {
    is_fail(ENOCURRENT);
    return -2;
  }
  if (pos.saved.pointer == 0) return Position(nullptr, 0, IS_FIRST) != 0 ? -1 : 1;
  AtRecord(pos.saved.pointer);
  return 0;
}

// Steps in dir; 0, or -1 with 110 at an end or the step's error.
int Step(const IsamKeyDesc& kd, int dir) {
  int r = is_step(kd, dir);
  if (r < 0) return -1;
  if (r > 0) return is_fail(EENDFILE);
  return 0;
}

ReadResult ReadPass(int isfd, unsigned char* record, int mode, int bits, bool second) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  const IsamPosition before = pos;
  const IsamKeyDesc& kd = st.curopen->keydesc;
  bool records = kd.nparts == 0;
  auto restore = [&]() { pos = before; };

  // Position, or find the position again.
  if (mode == IS_FIRST || mode == IS_LAST || KeyMode(mode)) {
    if (Position(record, 0, mode) != 0) return RD_DONE;
  } else {
    int r = Resume(kd, mode);
    if (r == -1) return RD_DONE;
    if (r == -2) {
      restore();
      return RD_DONE;
    }
  }

  // Move.
  int moved = 0;
  if (mode == IS_LAST && !records) {
    moved = is_step(kd, BT_BACKWARD);
  } else if (mode == IS_PREVIOUS && !second && (!records || (pos.flags & POS_READ))) {
    moved = is_step(kd, BT_BACKWARD);
  } else if (mode == IS_NEXT && ((pos.flags & POS_READ) || pos.endflags == END_BEFORE_FIRST)) {
    moved = is_step(kd, BT_FORWARD);
  }
  if (moved < 0) {
    restore();
    return RD_DONE;
  }
  pos.flags &= ~(POS_READ | POS_CURRENT_DELETED);
  if (pos.endflags != 0 || (records && st.curkey.pointer <= 0)) {
    is_fail(EENDFILE);
    pos.flags &= ~POS_POSITIONED;
    return RD_DONE;
  }

  // Read, stepping over entries whose record is gone.
  int got;
  for (;;) {
    st.iserrno = 0;
    got = dataread(st.curkey.pointer, record);
    if (got >= 0) break;
    if (st.iserrno == 0) {
      if (mode == IS_CURRENT) {
        is_fail(ENOCURRENT);
      } else if (mode == IS_EQUAL) {
        is_fail(ENORECORD);
      } else if (Step(kd, Direction(mode)) == 0) {
        continue;
      }
    }
    restore();
    return RD_DONE;
  }
  pos.saved = st.curkey;
  int32_t n = st.curkey.pointer;

  bool locked = false;
  if (bits & IS_LOCK) {
    if (is_lockrecord(n, RL_NOWAIT | RL_READ) == 0) {
      locked = true;
    } else if (st.iserrno != ERECLOCKED) {
      restore();
      return RD_DONE;
    } else if (bits & IS_WAIT) {
      st.iserrno = 0;
      return RD_WAIT;
    } else if ((bits & IS_SKIPLOCK) || mode == IS_FIRST || mode == IS_LAST || KeyMode(mode)) {
      pos.flags |= POS_READ | POS_POSITIONED;
      st.isrecnum = n;
      st.isrecsize = got;
      return RD_DONE;
    } else {
      restore();
      return RD_DONE;
    }
  }

  if (is_dupstatus(kd, Direction(mode)) != 0) return RD_DONE;
  pos.flags |= POS_READ | POS_POSITIONED;
  st.isrecnum = n;
  st.isrecsize = got;
  if (locked && got <= st.reccap) {
    std::memcpy(st.recbuf.get(), record, static_cast<size_t>(got));
    st.fetchedlen = got;
    st.cache_isfd = isfd;
    st.cache_recnum = n;
  }
  return RD_DONE;
}

void SetStatusB(const char* code) {
  IsamThreadState& st = is_state();
  st.isstatus_b[0] = code[0];
  st.isstatus_b[1] = code[1];
}

}  // namespace

}  // namespace isam

using namespace isam;

int isstart(int isfd, IsamKeyDesc* key, int keylen, void* record, int mode) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_READ | ((mode & IS_KEEPLOCK) ? AC_KEEPAUTO : 0)) != 0) {
    is_accessstatus("47");
    return -1;
  }
  int m = mode & 0xFF;
  IsamOpenFile* of = st.curopen;
  do {
    if ((mode & 0xFF00 & ~IS_KEEPLOCK) != 0 || m > IS_GREATER_EQUAL ||
        (m >= IS_NEXT && m <= IS_CURRENT) || key == nullptr || (keylen < 0 && KeyMode(m))) {
      is_fail(EBADARG);
      break;
    }
    if (is_samekeydesc(*key, of->keydesc) != 0) {
      IsamKeyDesc chosen{};
      if (key->nparts > 0) {
        chosen = *key;
        if (is_findkeydesc(&chosen, 0) < 0) {
          if (st.iserrno == 0) is_fail(EBADKEYDESC);
          break;
        }
        if (keylen < 0 || keylen > chosen.keylen) {
          is_fail(EBADARG);
          break;
        }
      }
      of->keydesc = chosen;
    }
    key->flags = of->keydesc.flags;
    Position(static_cast<const unsigned char*>(record), keylen, m);
  } while (false);
  return is_callend();
}

int isread(int isfd, void* record, int mode) {
  IsamThreadState& st = is_state();
  int m = mode & 0xFF;
  bool second = false;
  int rc;
  for (;;) {
    if (is_callbegin(isfd, AC_READ) != 0) {
      is_accessstatus("47");
      rc = -1;
      break;
    }
    int bits = LockBits(mode);
    if (bits < 0 || m > IS_GREATER_EQUAL || record == nullptr) {
      is_fail(EBADARG);
      rc = is_callend();
      break;
    }
    st.isrecsize = 0;
    if (ReadPass(isfd, static_cast<unsigned char*>(record), m, bits, second) == RD_DONE) {
      rc = is_callend();
      break;
    }
    // Another process holds the record: wait for it without the header
    // lock, give it back at once and read again.
    int32_t n = st.pos.saved.pointer;
    is_callend();
    if (is_lockrecord(n, RL_WAIT | RL_READ) != 0) {
      is_setstatus();
      rc = -1;
      break;
    }
    is_lockrecord(n, RL_UNLOCK);
    mode = m | bits;
    second = true;
  }
  if ((st.iserrno == ENOCURRENT && m == IS_NEXT) ||
      ((st.iserrno == EENDFILE || st.iserrno == ENOCURRENT) && st.prev_read_errno == EENDFILE)) {
    SetStatusB("46");
  }
  st.prev_read_errno = st.iserrno;
  return rc;
}
