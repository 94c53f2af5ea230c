// Insert, update and delete of one record across the indexes of its file.
// Indexes change first and the data file last, so that a failure part way
// can put every index back as it was; the audit trail records what was done.

#include "isam/record_ops.h"

#include <cstring>
#include <vector>

#include "isam/audit.h"
#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "isam/locks.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr int kMaxSetAside = 4;

// Every index of the current file, in number order.
int AllIndexes(std::vector<IsamKeyDesc>* out) {
  int n = static_cast<int>(ld16(is_state().curfile->header + HDR_NINDEXES) & 0x7FFF);
  out->resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (is_findkeydesc(&(*out)[static_cast<size_t>(i)], i + 1) < 0) return is_damage();
  }
  return 0;
}

IsamKeyEntry KeyOf(const unsigned char* record, const IsamKeyDesc& kd, int32_t recnum) {
  IsamKeyEntry e;
  is_buildkey(record, &e, kd);
  e.pointer = recnum;
  return e;
}

// Record locks taken for a change: a transaction lock through an isfd with
// the transaction bit, else only a test for another process's lock.
int ChangeLockMode() { return (is_state().curopen->mode & IS_TRANS) ? RL_NOWAIT : RL_TEST; }

// Runs f and keeps the first error: undo work must not hide the error that
// made it necessary.
template <typename F>
void KeepingError(F f) {
  IsamThreadState& st = is_state();
  int err = st.iserrno, io = st.isiocode;
  f();
  st.iserrno = err;
  st.isiocode = io;
}

struct KeyChange {
  const IsamKeyDesc* kd;
  IsamKeyEntry old;
  IsamKeyEntry now;
};

// Puts back the key changes of an update, last first.
void UndoChanges(const std::vector<KeyChange>& done) {
  for (auto it = done.rbegin(); it != done.rend(); ++it) {
    IsamKeyEntry now = it->now, old = it->old;
    is_deletekey(now, *it->kd);
    is_insertkey(&old, *it->kd);
  }
}

}  // namespace

void is_accessstatus(const char* code) {
  IsamThreadState& st = is_state();
  if (st.iserrno != ENOTOPEN || st.isstatus_a[1] != '4') return;
  st.isstatus_a[0] = '9';
  st.isstatus_a[1] = '0';
  st.isstatus_b[0] = code[0];
  st.isstatus_b[1] = code[1];
}

int is_reclength() {
  IsamThreadState& st = is_state();
  const IsamSharedFile* sf = st.curfile;
  if (!sf->varlen) return sf->minlen;
  if (st.isrecsize < sf->minlen || st.isrecsize > sf->maxlen) {
    st.isstatus_b[0] = '4';
    st.isstatus_b[1] = '4';
    return is_fail(EBADARG);
  }
  return st.isrecsize;
}

int64_t is_newrecnum() {
  IsamThreadState& st = is_state();
  int64_t aside[kMaxSetAside];
  int naside = 0;
  int64_t result = -1;
  for (;;) {
    int64_t n = freetake(FREE_RECORD);
    if (n < 0) break;
    int present = datatest(n);
    if (present < 0) {
      KeepingError([&] { freeput(n, FREE_RECORD); });
      break;
    }
    if (present == 1) continue;  // a listed number in use: it leaves the list
    if (is_lockrecord(n, ChangeLockMode()) != 0) {
      if (st.iserrno != ERECLOCKED) {
        KeepingError([&] { freeput(n, FREE_RECORD); });
        break;
      }
      aside[naside++] = n;
      if (naside == kMaxSetAside) break;
      continue;
    }
    result = n;
    break;
  }
  // Numbers set aside go back, last first, so that the last-number field
  // comes down again when they were taken from the end.
  KeepingError([&] {
    for (int i = naside - 1; i >= 0; --i) freeput(aside[i], FREE_RECORD);
  });
  if (result > 0 && st.iserrno == ERECLOCKED) st.iserrno = 0;
  return result;
}

int is_insert(const unsigned char* record, int len) {
  IsamThreadState& st = is_state();
  if (is_auditopen() != 0) return -1;
  std::vector<IsamKeyDesc> indexes;
  if (AllIndexes(&indexes) != 0) return -1;
  int64_t n = is_newrecnum();
  if (n < 0) return -1;
  int32_t recnum = static_cast<int32_t>(n);
  size_t done = 0;
  bool ok = true;
  for (; done < indexes.size(); ++done) {
    IsamKeyEntry e = KeyOf(record, indexes[done], recnum);
    if (is_insertkey(&e, indexes[done]) != 0) {
      ok = false;
      break;
    }
  }
  if (ok && datawrite(recnum, record, len) != 0) {
    ok = false;
    KeepingError([&] { datafree(recnum); });
  }
  if (!ok) {
    KeepingError([&] {
      for (size_t i = 0; i < done; ++i) is_deletekey(KeyOf(record, indexes[i], recnum), indexes[i]);
      freeput(recnum, FREE_RECORD);
    });
    return -1;
  }
  st.isrecnum = recnum;
  return is_auditwrite(AUDIT_ADD, recnum, record, len);
}

int is_update(int32_t recnum, const unsigned char* old, int oldlen, const unsigned char* now,
              int nowlen) {
  IsamThreadState& st = is_state();
  if (is_auditopen() != 0) return -1;
  std::vector<IsamKeyDesc> indexes;
  if (AllIndexes(&indexes) != 0) return -1;
  const IsamKeyDesc& current = st.curopen->keydesc;
  std::vector<KeyChange> done;
  bool ok = true;
  // Indexes without duplicates first: only they can refuse the new keys.
  for (int pass = 0; ok && pass < 2; ++pass) {
    for (const IsamKeyDesc& kd : indexes) {
      if (kd.nparts == 0 || ((kd.flags & IS_DUPS) != 0) != (pass == 1)) continue;
      KeyChange c{&kd, KeyOf(old, kd, recnum), KeyOf(now, kd, recnum)};
      if (is_keycompare(c.old, c.now, kd, 0) == 0) continue;
      if (is_insertkey(&c.now, kd) != 0) {
        ok = false;
        break;
      }
      if (is_deletekey(c.old, kd) != 0) {
        KeepingError([&] { is_deletekey(c.now, kd); });
        ok = false;
        break;
      }
      done.push_back(c);
    }
  }
  if (ok && datawrite(recnum, now, nowlen) != 0) ok = false;
  if (!ok) {
    KeepingError([&] { UndoChanges(done); });
    return -1;
  }
  // The position follows the record to its new key in the current index.
  for (const KeyChange& c : done) {
    if (is_samekeydesc(*c.kd, current) == 0 && st.pos.saved.pointer == recnum) st.pos.saved = c.now;
  }
  if (is_auditwrite(AUDIT_BEFORE, recnum, old, oldlen) != 0) return -1;
  return is_auditwrite(AUDIT_AFTER, recnum, now, nowlen);
}

int is_delete(int32_t recnum, const unsigned char* image, int len) {
  IsamThreadState& st = is_state();
  if (is_auditopen() != 0) return -1;
  std::vector<IsamKeyDesc> indexes;
  if (AllIndexes(&indexes) != 0) return -1;
  for (size_t i = 0; i < indexes.size(); ++i) {
    if (is_deletekey(KeyOf(image, indexes[i], recnum), indexes[i]) != 0) {
      KeepingError([&] {
        for (size_t j = 0; j < i; ++j) {
          IsamKeyEntry e = KeyOf(image, indexes[j], recnum);
          is_insertkey(&e, indexes[j]);
        }
      });
      return -1;
    }
  }
  if ((st.pos.flags & POS_POSITIONED) && st.pos.saved.pointer == recnum) {
    st.pos.flags |= POS_CURRENT_DELETED;
  }
  // The trail has the record before it is gone; a failed audit write does
  // not stop the delete.
  int rc = is_auditwrite(AUDIT_DELETE, recnum, image, len);
  if (datafree(recnum) != 0) return -1;
  is_lockrecord(recnum, RL_UNLOCK);
  if (freeput(recnum, FREE_RECORD) != 0) return -1;
  return rc;
}

int is_fetchcurrent(int32_t recnum) {
  IsamThreadState& st = is_state();
  bool current = recnum == 0;
  if (current) {
    const uint16_t need = POS_POSITIONED | POS_READ;
    if ((st.pos.flags & need) != need) return is_fail(ENOCURRENT);
    recnum = st.pos.saved.pointer;
  } else if (recnum < 1 || static_cast<uint32_t>(recnum) > is_hdrget32(HDR_LASTREC)) {
    return is_fail(ENORECORD);
  }
  st.isrecnum = recnum;
  if (is_lockrecord(recnum, ChangeLockMode()) != 0) return -1;
  bool cached = st.cache_isfd == st.curisfd && st.cache_recnum == recnum;
  st.cache_isfd = -1;
  st.cache_recnum = -1;
  if (cached) return 0;
  int got = dataread(recnum, st.recbuf.get());
  if (got < 0) {
    if (st.iserrno == 0) is_fail(current ? ENOCURRENT : ENORECORD);
    return -1;
  }
  st.fetchedlen = got;
  return 0;
}

}  // namespace isam
