// The library's four kinds of lock on the current file, and the lists of
// record numbers that a thread holds locked on each file pair.

#include "isam/locks.h"

#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include "isam/thread_state.h"

namespace isam {

namespace {

// List entries come from a per-thread pool that grows by 32 at a time.
struct EntryPool {
  std::vector<std::unique_ptr<IsamLockEntry[]>> chunks;
  IsamLockEntry* free = nullptr;
};
thread_local EntryPool t_entries;

int ListAdd(IsamLockEntry** list, int32_t recnum) {
  EntryPool& pool = t_entries;
  if (pool.free == nullptr) {
    std::unique_ptr<IsamLockEntry[]> chunk(new (std::nothrow) IsamLockEntry[32]);
    if (!chunk) return -1;
    for (int i = 0; i < 32; ++i) {
      chunk[i].next = pool.free;
      pool.free = &chunk[i];
    }
    pool.chunks.push_back(std::move(chunk));
  }
  IsamLockEntry* e = pool.free;
  pool.free = e->next;
  e->recnum = recnum;
  e->next = *list;
  *list = e;
  return 0;
}

bool ListRemove(IsamLockEntry** list, int32_t recnum) {
  for (IsamLockEntry** p = list; *p != nullptr; p = &(*p)->next) {
    if ((*p)->recnum == recnum) {
      IsamLockEntry* e = *p;
      *p = e->next;
      e->next = t_entries.free;
      t_entries.free = e;
      return true;
    }
  }
  return false;
}

bool ListHas(const IsamLockEntry* list, int32_t recnum) {
  for (; list != nullptr; list = list->next) {
    if (list->recnum == recnum) return true;
  }
  return false;
}

void ListClear(IsamLockEntry** list) {
  while (*list != nullptr) ListRemove(list, (*list)->recnum);
}

int Lock(int cmd, int16_t type, int32_t start, int32_t length, bool retry) {
  IsamSharedFile* sf = is_state().curfile;
  IsamLockRequest req;
  req.type = type;
  req.start = start;
  req.length = length;
  const char* path = sf->name.c_str();
  return retry ? is_lockretry(sf->idxfd, cmd, &req, path) : is_lockctl(sf->idxfd, cmd, &req, path);
}

// A refused record or whole-file lock.
int Refused() {
  IsamThreadState& st = is_state();
  if (errno == ENOLCK) return is_fail(ENOLOCKS);
  if (st.iserrno == 0) st.iserrno = ERECLOCKED;
  return -1;
}

bool ExclusiveOpen(const IsamOpenFile* of) { return (of->mode & IS_EXCLLOCK) != 0; }

}  // namespace

int is_lockheader(int flag) {
  IsamThreadState& st = is_state();
  int16_t type = flag == 0 ? LK_UNLOCK : flag == 1 ? LK_EXCLUSIVE : LK_SHARED;
  if (Lock(LK_SETWAIT, type, 0, kHeaderLockLen, true) != 0) return is_fail(errno, 97);
  if (flag == 0) {
    st.curopen->flags &= ~OF_HDRLOCK;
  } else {
    st.curopen->flags |= OF_HDRLOCK;
  }
  return 0;
}

void is_hdrunlock() {
  IsamOpenFile* of = is_state().curopen;
  if (of != nullptr && (of->flags & OF_HDRLOCK) && of->shared != nullptr) is_lockheader(0);
}

int is_lockopen(int mode) {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  if (mode == IS_EXCLLOCK) {
    if (sf->exclopens == 0 && Lock(LK_SET, LK_EXCLUSIVE, kOpenLockByte, 1, false) != 0) {
      return is_fail(EFILELOCKED);
    }
    ++sf->exclopens;
    return 0;
  }
  if (mode != 0) {
    if (sf->refcount > 1) return 0;
    if (Lock(LK_SET, LK_SHARED, kOpenLockByte, 1, false) != 0) return is_fail(EFILELOCKED);
    return 0;
  }
  if (ExclusiveOpen(st.curopen)) {
    if (sf->exclopens <= 1) {
      // With other isfds of the file still open the lock turns shared in
      // place, leaving no moment in which another process could take it.
      if (sf->refcount > 1) {
        Lock(LK_SET, LK_SHARED, kOpenLockByte, 1, false);
      } else {
        Lock(LK_SET, LK_UNLOCK, kOpenLockByte, 1, false);
      }
    }
    --sf->exclopens;
    return 0;
  }
  if (sf->refcount <= 1) Lock(LK_SET, LK_UNLOCK, kOpenLockByte, 1, false);
  return 0;
}

int is_lockrecord(int64_t recnum, int mode) {
  IsamThreadState& st = is_state();
  IsamOpenFile* of = st.curopen;
  IsamSharedFile* sf = st.curfile;
  if (sf->filelocks > 0 || sf->exclopens > 0 || ExclusiveOpen(of)) return 0;
  // A record number beyond the whole-file range would lock bytes of the
  // open lock; such numbers cannot be locked.
  if (recnum < 1 || recnum >= kFileLockLen) return is_fail(ENOLOCKS);
  int32_t n = static_cast<int32_t>(recnum);
  if (mode == RL_UNLOCK) {
    if (!ListRemove(&sf->readlocks, n) && !ListRemove(&sf->translocks, n)) return 0;
    Lock(LK_SET, LK_UNLOCK, kRecordLockBase + n, 1, false);
    return 0;
  }
  bool readlock = (mode & RL_READ) != 0;
  int base = mode & 7;
  if (ListHas(sf->translocks, n)) {
    of->flags |= OF_RECLOCKS;
    return 0;
  }
  if (ListHas(sf->readlocks, n)) {
    if (!readlock && base != RL_TEST) {
      ListRemove(&sf->readlocks, n);
      ListAdd(&sf->translocks, n);  // cannot fail: an entry was just freed
    }
    of->flags |= OF_RECLOCKS;
    return 0;
  }
  int cmd = base == RL_WAIT ? LK_SETWAIT : base == RL_TEST ? LK_TEST : LK_SET;
  IsamLockRequest req;
  req.type = LK_EXCLUSIVE;
  req.start = kRecordLockBase + n;
  req.length = 1;
  if (is_lockretry(sf->idxfd, cmd, &req, sf->name.c_str()) != 0) return Refused();
  if (cmd == LK_TEST) return req.type == LK_UNLOCK ? 0 : is_fail(ERECLOCKED);
  if (ListAdd(readlock ? &sf->readlocks : &sf->translocks, n) != 0) {
    Lock(LK_SET, LK_UNLOCK, kRecordLockBase + n, 1, false);
    return is_fail(EBADMEMORY);
  }
  of->flags |= OF_RECLOCKS;
  sf->flags |= SF_LOCKS;
  return 0;
}

int is_lockfile(int flag) {
  IsamThreadState& st = is_state();
  IsamOpenFile* of = st.curopen;
  IsamSharedFile* sf = st.curfile;
  if (ExclusiveOpen(of)) return 0;
  if (flag == 0) {
    if (!(of->flags & (OF_FILELOCK | OF_RECLOCKS))) return 0;
    bool mine = (of->flags & OF_FILELOCK) != 0;
    // While another isfd of the thread holds the whole-file lock the range
    // stays locked: the record locks it covers are only forgotten.
    bool others = sf->filelocks > (mine ? 1 : 0);
    if (!others) {
      Lock(LK_SET, LK_UNLOCK, kRecordLockBase, kFileLockLen, false);
      sf->flags &= ~SF_LOCKS;
    }
    ListClear(&sf->translocks);
    ListClear(&sf->readlocks);
    if (mine) --sf->filelocks;
    of->flags &= ~(OF_FILELOCK | OF_RECLOCKS);
    return 0;
  }
  if (sf->filelocks == 0 && sf->exclopens == 0) {
    if (Lock(LK_SET, LK_EXCLUSIVE, kRecordLockBase, kFileLockLen, true) != 0) return Refused();
    sf->flags |= SF_LOCKS;
  }
  if (!(of->flags & OF_FILELOCK)) ++sf->filelocks;
  of->flags |= OF_FILELOCK;
  return 0;
}

void is_lockclearlists(IsamSharedFile* sf) {
  ListClear(&sf->translocks);
  ListClear(&sf->readlocks);
}

int is_releaselocks() {
  IsamSharedFile* sf = is_state().curfile;
  if (sf->translocks != nullptr) {
    std::vector<int32_t> numbers;
    for (IsamLockEntry* e = sf->readlocks; e != nullptr; e = e->next) numbers.push_back(e->recnum);
    for (int32_t n : numbers) is_lockrecord(n, RL_UNLOCK);
    // Numbers that a whole-file lock covers are only forgotten.
    ListClear(&sf->readlocks);
    return 0;
  }
  if (sf->readlocks != nullptr) return is_lockfile(0);
  return 0;
}

}  // namespace isam
