// File pairs, open-file records and shared-file records of a thread.

#include "isam/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "base/os_accounts.h"
#include "isam/buffer_pool.h"
#include "isam/bigendian.h"
#include "isam/locks.h"
#include "isam/ofd_lock.h"
#include "isam/thread_state.h"

namespace isam {

int is_checkname(const char* name) {
  if (name == nullptr) return is_fail(EFILENAME);
  size_t len = std::strlen(name);
  if (len >= 123 || len == 0 || name[len - 1] == '/') return is_fail(EFILENAME);
  return 0;
}

std::string is_idxname(const std::string& name) { return name + ".idx"; }
std::string is_datname(const std::string& name) { return name + ".dat"; }

int is_osopen(const char* path, int flags, int perm) {
  int fd = open(path, flags | O_CLOEXEC, perm);
  if (fd < 0) return -1;
  int saved = errno;
  // The open marker shows other processes that the file is in use; the
  // answer does not matter (a write-only descriptor cannot take it).
  is_ofdlock(fd, F_RDLCK, kOpenMarkerByte, 1, false);
  errno = saved;
  return fd;
}

int is_createfile(const char* path) {
  for (int attempt = 0;; ++attempt) {
    int fd = is_osopen(path, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      close(fd);
      return 0;
    }
    if (errno == EMFILE && attempt == 0) {
      is_closeidle();
      continue;
    }
    return is_fail(errno);
  }
}

int is_allocfd() {
  IsamThreadState& st = is_state();
  for (int i = 0; i < IS_MAXFILES; ++i) {
    if (!st.openfiles[i]) {
      st.openfiles[i].reset(new (std::nothrow) IsamOpenFile);
      if (!st.openfiles[i]) return is_fail(EBADMEMORY);
    }
    IsamOpenFile* of = st.openfiles[i].get();
    if (of->flags & OF_INUSE) continue;
    *of = IsamOpenFile{};
    of->pid = static_cast<uint16_t>(getpid());
    // The accounts layer's 16-bit id, never the system uid cut to 16 bits
    // (which would name another account).
    of->uid = tv_getuid();
    of->flags = OF_INUSE;
    return i;
  }
  return is_fail(ETOOMANYFILES);
}

IsamOpenFile* is_openfile(int isfd) {
  if (isfd < 0 || isfd >= IS_MAXFILES) return nullptr;
  IsamOpenFile* of = is_state().openfiles[isfd].get();
  return of != nullptr && (of->flags & OF_INUSE) ? of : nullptr;
}

void is_freefd(IsamOpenFile* of) {
  if (of->shared != nullptr) is_releasefiles(of->shared);
  of->shared = nullptr;
  of->flags = 0;
}

namespace {

bool Usable(const IsamSharedFile* sf, const std::string& name) {
  return sf->refcount > 0 && !(sf->flags & SF_ERASING) && sf->name == name;
}

// Opens with one retry after closing idle data files when the process is
// out of descriptors; -1 with errno.
int OpenWithRetry(const std::string& path, int flags) {
  int fd = is_osopen(path.c_str(), flags, 0600);
  if (fd < 0 && errno == EMFILE) {
    is_closeidle();
    fd = is_osopen(path.c_str(), flags, 0600);
  }
  return fd;
}

void FreshStamp(IsamSharedFile* sf) {
  IsamThreadState& st = is_state();
  if (sf->stamp != st.usestamp || st.usestamp == 0) sf->stamp = ++st.usestamp;
}

}  // namespace

IsamSharedFile* is_openfiles(const std::string& name, int mode) {
  IsamThreadState& st = is_state();
  std::string idx = is_idxname(name);
  struct stat sb;
  for (auto& slot : st.sharedfiles) {
    if (!slot) break;
    if (Usable(slot.get(), name)) {
      if (stat(idx.c_str(), &sb) != 0) {
        is_fail(errno);
        return nullptr;
      }
      ++slot->refcount;
      return slot.get();
    }
  }
  if (stat(idx.c_str(), &sb) != 0) {
    is_fail(errno);
    return nullptr;
  }
  IsamSharedFile* chosen = nullptr;
  for (int pass = 0; pass < 2 && chosen == nullptr; ++pass) {
    if (pass == 1) is_closeidle();
    for (auto& slot : st.sharedfiles) {
      if (!slot) {
        slot.reset(new (std::nothrow) IsamSharedFile);
        if (!slot) {
          is_fail(EBADMEMORY);
          return nullptr;
        }
      }
      if (slot->refcount == -1) {
        chosen = slot.get();
        break;
      }
      if (Usable(slot.get(), name)) {
        ++slot->refcount;
        return slot.get();
      }
    }
  }
  if (chosen == nullptr) {
    is_fail(ETOOMANYFILES);
    return nullptr;
  }
  *chosen = IsamSharedFile{};
  chosen->idxfd = OpenWithRetry(idx, O_RDWR);
  if (chosen->idxfd < 0) {
    is_fail(errno, 17);
    return nullptr;
  }
  ++st.nopenpairs;
  int datflags = O_RDWR;
  std::string dat = is_datname(name);
  chosen->datfd = OpenWithRetry(dat, datflags);
  if (chosen->datfd < 0 && errno == EACCES && mode == 0) {
    datflags = O_RDONLY;
    chosen->datfd = OpenWithRetry(dat, datflags);
  }
  if (chosen->datfd < 0) {
    is_fail(errno, 18);
    close(chosen->idxfd);
    chosen->idxfd = -1;
    --st.nopenpairs;
    return nullptr;
  }
  chosen->name = name;
  chosen->datflags = datflags;
  chosen->dev = static_cast<int32_t>(sb.st_dev);
  chosen->ino = static_cast<int32_t>(sb.st_ino & 0xFFFF);
  chosen->refcount = 1;
  FreshStamp(chosen);
  return chosen;
}

void is_releasefiles(IsamSharedFile* sf) {
  if (--sf->refcount > 0) return;
  IsamThreadState& st = is_state();
  --st.nopenpairs;
  // The close has written what it could and reported what it could not.
  int err = st.iserrno, io = st.isiocode;
  is_dropbuffers(sf);
  st.iserrno = err;
  st.isiocode = io;
  if (sf->auditfd >= 0) close(sf->auditfd);
  if (sf->idxfd >= 0) {
    is_lockforget(sf->idxfd);  // closing drops the descriptor's locks
    is_lockclearlists(sf);
    is_unmapheader(sf);
    is_unmapfile(&sf->idxmap);
    close(sf->idxfd);
  }
  is_unmapfile(&sf->datmap);
  if (sf->datfd >= 0) close(sf->datfd);
  sf->auditfd = sf->idxfd = sf->datfd = -1;
  sf->dev = sf->ino = -1;
  sf->refcount = -1;
  sf->flags = 0;
  if (st.curfile == sf) st.curfile = nullptr;
}

void is_closeidle() {
  IsamThreadState& st = is_state();
  int count = 0;
  for (;;) {
    count = 0;
    IsamSharedFile* victim = nullptr;
    bool victim_unused = false;
    uint16_t oldest = 0;
    for (auto& slot : st.sharedfiles) {
      if (!slot || slot->refcount == -1) continue;
      IsamSharedFile* sf = slot.get();
      ++count;
      uint16_t age = static_cast<uint16_t>(st.usestamp - sf->stamp);
      if (sf->refcount == 0) {
        if (!victim_unused || age > oldest) {
          victim = sf;
          victim_unused = true;
          oldest = age;
        }
      } else if (!victim_unused && sf->datfd >= 0 && !(sf->flags & SF_ERASING)) {
        if (victim == nullptr || age > oldest) {
          victim = sf;
          oldest = age;
        }
      }
    }
    if (victim == nullptr) break;
    if (victim_unused) {
      is_releasefiles(victim);
      continue;
    }
    is_flushbuffers(victim);
    is_unmapfile(&victim->datmap);
    close(victim->datfd);
    victim->datfd = -1;
    if (victim->auditfd >= 0) {
      close(victim->auditfd);
      victim->auditfd = -1;
      victim->flags &= ~SF_AUDITOPEN;
    }
  }
  st.nopenpairs = count;
}

int is_usefile(IsamSharedFile* sf) {
  IsamThreadState& st = is_state();
  st.curfile = sf;
  if (sf->datfd < 0) {
    sf->datfd = OpenWithRetry(is_datname(sf->name), sf->datflags);
    if (sf->datfd < 0) {
      int err = errno;
      if (err == ENOENT) std::memcpy(st.isstatus_b, "35", 2);
      return is_fail(err, 18);
    }
  }
  FreshStamp(sf);
  int n = sf->nodesize + 1;
  if (n < 128 || n > kBlockSize) return is_fail(EBADFILE);
  TailParams& t = st.tail;
  t.n = n;
  t.e = n - 26;
  t.s = n - 7;
  t.p = n - 30;
  t.w = t.e / 5 + 1;
  return 0;
}

int is_takefigures(IsamSharedFile* sf) {
  const unsigned char* hdr = sf->header;
  int nodesize = ld16(hdr + HDR_NODESIZE);
  int minlen = ld16(hdr + HDR_RECLEN);
  int maxlen = ld16(hdr + HDR_MAXRECLEN);
  if (minlen < 1 || minlen > 32511) return is_fail(EBADFILE);
  if (maxlen != 0 && (maxlen <= minlen || maxlen > 32511)) return is_fail(EBADFILE);
  sf->nodesize = static_cast<int16_t>(nodesize);
  sf->minlen = static_cast<int16_t>(minlen);
  sf->maxlen = static_cast<int16_t>(maxlen == 0 ? minlen : maxlen);
  sf->varlen = maxlen != 0 ? 1 : 0;
  return 0;
}

int is_recbuffer(int n) {
  IsamThreadState& st = is_state();
  if (n < st.reccap) return 0;
  int cap = (n + 256) / 256 * 256;
  st.cache_isfd = -1;
  st.cache_recnum = -1;
  st.recbuf.reset();
  st.reccap = 0;
  st.recbuf.reset(new (std::nothrow) unsigned char[cap]);
  if (!st.recbuf) return is_fail(ENOMEM);
  st.reccap = cap;
  return 0;
}

}  // namespace isam
