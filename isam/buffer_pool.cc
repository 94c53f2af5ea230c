// Buffer pool. Node n of a pair's ".idx" file lies at byte (n - 1) x node
// size, where the node size is the header's field plus one; data block k of
// the ".dat" file lies at byte k x 1024 and has the pool number k | 2^31.
//
// Each buffer is found through a hash of (block + inode) over n / 3 buckets
// and reused least recently used first. A node's used count (bytes 0-1, bit
// 15 ignored), type byte (node size - 3) and level byte (node size - 2, bit 7
// ignored) are kept beside the data while the buffer is handed out and put
// back into the image when a modified buffer is released.

#include "isam/buffer_pool.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "isam/bigendian.h"
#include "isam/block_map.h"
#include "isam/env.h"
#include "isam/files.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

IsamBufferPool& Pool() { return is_state().pool; }

bool IsNode(const IsamBuffer* b) { return (b->block & kDataBlock) == 0; }

int NodeSize(const IsamSharedFile* sf) { return sf->nodesize + 1; }

void LruRemove(IsamBuffer* b) {
  b->lprev->lnext = b->lnext;
  b->lnext->lprev = b->lprev;
  b->lnext = b->lprev = nullptr;
}

void LruAppend(IsamBuffer* b) {
  IsamBuffer& head = Pool().lru;
  b->lprev = head.lprev;
  b->lnext = &head;
  head.lprev->lnext = b;
  head.lprev = b;
}

uint32_t Bucket(uint32_t block, const IsamSharedFile* sf) {
  uint32_t ino = static_cast<uint32_t>(sf->ino) & 0xFFFFu;
  return (block + ino) % static_cast<uint32_t>(Pool().nbuckets);
}

void Unhash(IsamBuffer* b) {
  if (b->owner == nullptr) return;
  if (b->hprev != nullptr) {
    b->hprev->hnext = b->hnext;
  } else {
    Pool().buckets[Bucket(b->block, b->owner)] = b->hnext;
  }
  if (b->hnext != nullptr) b->hnext->hprev = b->hprev;
  b->hnext = b->hprev = nullptr;
  b->owner = nullptr;
}

void Hash(IsamBuffer* b, IsamSharedFile* owner, uint32_t block) {
  b->owner = owner;
  b->block = block;
  IsamBuffer*& head = Pool().buckets[Bucket(block, owner)];
  b->hprev = nullptr;
  b->hnext = head;
  if (head != nullptr) head->hprev = b;
  head = b;
}

// The descriptor, byte offset and length of a buffer's place on disk; false
// when the node size cannot be held in a buffer.
bool Place(const IsamBuffer* b, int* fd, off_t* off, size_t* len, IsamFileMap** map = nullptr) {
  IsamSharedFile* sf = b->owner;
  if (map != nullptr) *map = IsNode(b) ? &sf->idxmap : &sf->datmap;
  if (IsNode(b)) {
    int n = NodeSize(sf);
    if (n > kBlockSize || n < 1 || b->block == 0) return false;
    *fd = sf->idxfd;
    *off = static_cast<off_t>(b->block - 1) * n;
    *len = static_cast<size_t>(n);
  } else {
    *fd = sf->datfd;
    *off = static_cast<off_t>(b->block & ~kDataBlock) * kBlockSize;
    *len = kBlockSize;
  }
  return true;
}

// The ".dat" file reaches at least `end` bytes once a block ending there is
// written: the slots it covers need no fstat to be known (the file only
// grows). Same count as the data file's slot test.
void NoteDataEnd(IsamSharedFile* sf, int64_t end) {
  const int64_t L = sf->minlen;
  const int64_t z = L + (sf->varlen ? 7 : 1);
  const int64_t slots = end > L ? (end - L + z - 1) / z : 0;
  if (slots > sf->datslots) sf->datslots = slots;
}

// Writes a buffer's image; the modified flag is left to the caller.
int WriteOut(IsamBuffer* b) {
  int fd;
  off_t off;
  size_t len;
  if (!Place(b, &fd, &off, &len)) return is_fail(EBADFILE, 81);
  if (fd < 0) return is_fail(EBADF, 81);
  ssize_t put = pwrite(fd, b->data, len, off);
  if (put < 0) return is_fail(errno, 81);
  if (static_cast<size_t>(put) != len) return is_fail(ENOSPC, 81);
  const int64_t end = static_cast<int64_t>(off) + static_cast<int64_t>(len);
  if (IsNode(b)) {
    is_mapgrown(&b->owner->idxmap, end);
  } else {
    NoteDataEnd(b->owner, end);
    is_mapgrown(&b->owner->datmap, end);
  }
  return 0;
}

}  // namespace

int is_poolsize(const char* value) {
  if (value == nullptr) return 16;
  long n = 0;
  for (const char* p = value; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > 1000000) break;
  }
  return n >= 4 && n <= 32766 ? static_cast<int>(n) : 16;
}

void is_initbuffers() {
  IsamBufferPool& pool = Pool();
  pool.lru.lnext = pool.lru.lprev = &pool.lru;
  int n = is_poolsize(is_getenv("ISAMBUFS"));
  pool.nbuffers = n;
  pool.nbuckets = n / 3;
  pool.modified.clear();
  pool.buckets.reset(new (std::nothrow) IsamBuffer*[pool.nbuckets]);
  pool.buffers.reset(new (std::nothrow) IsamBuffer[n]);
  pool.area.reset(new (std::nothrow) unsigned char[static_cast<size_t>(n) * kBlockSize]);
  if (!pool.buckets || !pool.buffers || !pool.area) is_fatal("cannot allocate buffers");
  for (int i = 0; i < pool.nbuckets; ++i) pool.buckets[i] = nullptr;
  for (int i = 0; i < n; ++i) {
    IsamBuffer& b = pool.buffers[i];
    b.data = pool.area.get() + static_cast<size_t>(i) * kBlockSize;
    b.flags = BUF_BUSY;
    is_release(&b);
  }
  pool.ready = true;
}

namespace {

// Keeps one entry for each buffer that is still modified.
void CompactModified(IsamBufferPool& pool) {
  for (IsamBuffer* b : pool.modified) b->flags &= ~BUF_LISTED;
  size_t kept = 0;
  for (IsamBuffer* b : pool.modified) {
    if ((b->flags & BUF_MODIFIED) && !(b->flags & BUF_LISTED)) {
      b->flags |= BUF_LISTED;
      pool.modified[kept++] = b;
    }
  }
  pool.modified.resize(kept);
}

}  // namespace

IsamBuffer* is_getbuffer(uint32_t block) {
  IsamBufferPool& pool = Pool();
  if (!pool.ready) is_initbuffers();
  IsamSharedFile* f = is_state().curfile;
  IsamBuffer* b = pool.buckets[Bucket(block, f)];
  while (b != nullptr && !(b->block == block && b->owner == f)) b = b->hnext;
  if (b == nullptr) {
    b = pool.lru.lnext;
    if (b == &pool.lru) is_fatal("no more buffers");
    if (b->flags & BUF_MODIFIED) {
      // A buffer whose write fails stays modified in the pool, so that its
      // change is not lost; the caller gets the error.
      if (WriteOut(b) != 0) return nullptr;
      b->flags &= ~BUF_MODIFIED;
    }
    Unhash(b);
    Hash(b, f, block);
    b->flags = 0;
  }
  if (b->flags & BUF_BUSY) is_fatal("buffer not free");
  b->flags |= BUF_BUSY;
  LruRemove(b);
  return b;
}

IsamBuffer* is_readbuffer(uint32_t block) {
  IsamBuffer* b = is_getbuffer(block);
  if (b == nullptr || (b->flags & BUF_VALID)) return b;
  int fd;
  off_t off;
  size_t len;
  IsamFileMap* map;
  if (!Place(b, &fd, &off, &len, &map)) {
    is_release(b);
    is_fail(EBADFILE, 65);
    return nullptr;
  }
  ssize_t got;
  if (is_mapread(map, fd, off, len, b->data)) {
    got = static_cast<ssize_t>(len);
  } else {
    got = fd < 0 ? -1 : pread(fd, b->data, len, off);
  }
  if (got < 0) {
    is_fail(fd < 0 ? EBADF : errno, 65);
    is_release(b);
    return nullptr;
  }
  if (static_cast<size_t>(got) < len) {
    if (IsNode(b)) {
      // A node beyond the end of the ".idx" file: the file is damaged.
      is_fail(EBADFILE, 65);
      is_release(b);
      return nullptr;
    }
    std::memset(b->data + got, 0, len - static_cast<size_t>(got));
  }
  if (IsNode(b)) {
    b->used = ldu16(b->data) & 0x7FFF;
    b->type = b->data[len - 3];
    b->level = b->data[len - 2] & 0x7F;
  }
  b->flags |= BUF_VALID;
  return b;
}

void is_prefetchdata(uint64_t first, uint64_t last) {
  constexpr int kMost = 8;
  IsamBufferPool& pool = Pool();
  if (!pool.ready || last <= first || last - first >= kMost) return;
  // The record code holds a few blocks at a time besides these; keep a
  // margin so that a prefetch can never run the pool dry.
  const int n = static_cast<int>(last - first + 1);
  if (pool.nbuffers - n < 8) return;
  IsamSharedFile* f = is_state().curfile;
  if (f->datfd < 0 || last + 1 >= kDataBlock) return;
  // Blocks the mapping holds are copied from it one by one at no cost of a
  // system call.
  if (static_cast<int64_t>(last + 1) * kBlockSize <= f->datmap.valid) return;
  // The span from the first missing block to the last missing one.
  int lo = -1, hi = -1;
  for (int i = 0; i < n; ++i) {
    const uint32_t block = static_cast<uint32_t>(first + i) | kDataBlock;
    IsamBuffer* b = pool.buckets[Bucket(block, f)];
    while (b != nullptr && !(b->block == block && b->owner == f)) b = b->hnext;
    if (b != nullptr && (b->flags & BUF_BUSY)) return;
    if (b == nullptr || !(b->flags & BUF_VALID)) {
      if (lo < 0) lo = i;
      hi = i;
    }
  }
  if (lo < 0 || hi == lo) return;
  IsamBuffer* got[kMost] = {};
  struct iovec iov[kMost];
  static thread_local unsigned char scratch[kBlockSize];
  int held = 0;
  bool ok = true;
  for (int i = lo; i <= hi; ++i) {
    IsamBuffer* b = is_getbuffer(static_cast<uint32_t>(first + i) | kDataBlock);
    if (b == nullptr) {
      ok = false;
      break;
    }
    got[held] = b;
    // A block the pool holds already keeps its image.
    iov[held].iov_base = (b->flags & BUF_VALID) ? scratch : b->data;
    iov[held].iov_len = kBlockSize;
    ++held;
  }
  if (ok) {
    const off_t off = static_cast<off_t>(first + static_cast<uint64_t>(lo)) * kBlockSize;
    const ssize_t r = preadv(f->datfd, iov, held, off);
    for (int i = 0; r >= 0 && i < held; ++i) {
      IsamBuffer* b = got[i];
      if (b->flags & BUF_VALID) continue;
      // Bytes beyond the end of the file read as zeros, as a single block
      // read gives them.
      const ssize_t have = r - static_cast<ssize_t>(i) * kBlockSize;
      const size_t keep = have <= 0 ? 0 : have >= kBlockSize ? kBlockSize : static_cast<size_t>(have);
      std::memset(b->data + keep, 0, kBlockSize - keep);
      b->flags |= BUF_VALID;
    }
  }
  for (int i = 0; i < held; ++i) is_release(got[i]);
}

int is_writedata(uint64_t first, uint64_t last) {
  constexpr int kMost = 8;
  IsamBufferPool& pool = Pool();
  if (!pool.ready || last < first || last - first >= kMost) return 0;
  IsamSharedFile* f = is_state().curfile;
  IsamBuffer* run[kMost];
  int n = 0;
  bool together = true;
  for (uint64_t k = first; k <= last; ++k) {
    const uint32_t block = static_cast<uint32_t>(k) | kDataBlock;
    IsamBuffer* b = pool.buckets[Bucket(block, f)];
    while (b != nullptr && !(b->block == block && b->owner == f)) b = b->hnext;
    if (b == nullptr || !(b->flags & BUF_MODIFIED) || (b->flags & BUF_BUSY)) continue;
    if (n > 0 && run[n - 1]->block + 1 != block) together = false;
    run[n++] = b;
  }
  int rc = 0;
  if (n > 1 && together && f->datfd >= 0) {
    struct iovec iov[kMost];
    for (int i = 0; i < n; ++i) iov[i] = {run[i]->data, kBlockSize};
    const off_t off = static_cast<off_t>(run[0]->block & ~kDataBlock) * kBlockSize;
    const size_t len = static_cast<size_t>(n) * kBlockSize;
    const ssize_t put = pwritev(f->datfd, iov, n, off);
    if (put < 0) {
      rc = is_fail(errno, 81);
    } else if (static_cast<size_t>(put) != len) {
      rc = is_fail(ENOSPC, 81);
    } else {
      NoteDataEnd(f, static_cast<int64_t>(off) + static_cast<int64_t>(len));
      is_mapgrown(&f->datmap, static_cast<int64_t>(off) + static_cast<int64_t>(len));
    }
  } else {
    for (int i = 0; i < n; ++i) {
      if (WriteOut(run[i]) != 0) rc = -1;
    }
  }
  for (int i = 0; i < n; ++i) run[i]->flags &= ~BUF_MODIFIED;
  return rc;
}

IsamBuffer* is_newbuffer(uint32_t block) {
  IsamBuffer* b = is_getbuffer(block);
  if (b == nullptr) return nullptr;
  std::memset(b->data, 0, kBlockSize);
  b->used = 0;
  b->type = 0;
  b->level = 0;
  b->flags |= BUF_VALID | BUF_MODIFIED;
  return b;
}

void is_release(IsamBuffer* b) {
  if (b == nullptr) return;
  if (!(b->flags & BUF_BUSY)) is_fatal("buffer not busy");
  b->flags &= ~BUF_BUSY;
  if ((b->flags & BUF_MODIFIED) && b->owner != nullptr) {
    if (IsNode(b)) {
      int n = NodeSize(b->owner);
      if (n <= kBlockSize && n >= 3) {
        st16(b->used, b->data);
        b->data[n - 3] = b->type;
        b->data[n - 2] = b->level;
      }
    }
    b->owner->flags |= SF_BUFMODIFIED;
    if (!(b->flags & BUF_LISTED)) {
      IsamBufferPool& pool = Pool();
      if (pool.modified.size() >= 2 * static_cast<size_t>(pool.nbuffers)) CompactModified(pool);
      b->flags |= BUF_LISTED;
      pool.modified.push_back(b);
    }
  }
  LruAppend(b);
}

void is_releasedirty(IsamBuffer* b) {
  b->flags |= BUF_MODIFIED | BUF_VALID;
  is_release(b);
}

int is_writebuffer(IsamBuffer* b) {
  b->flags |= BUF_MODIFIED | BUF_VALID;
  if (b->flags & BUF_BUSY) is_release(b);
  int rc = WriteOut(b);
  b->flags &= ~BUF_MODIFIED;
  return rc;
}

int is_flushbuffers(IsamSharedFile* sf) {
  IsamBufferPool& pool = Pool();
  if (!pool.ready) return 0;
  int rc = 0;
  for (size_t i = 0; i < pool.modified.size(); ++i) {
    IsamBuffer* b = pool.modified[i];
    if (!(b->flags & BUF_BUSY) && b->owner == sf && (b->flags & BUF_MODIFIED)) {
      if (is_writebuffer(b) != 0) rc = -1;
    }
  }
  CompactModified(pool);
  return rc;
}

int is_dropbuffers(IsamSharedFile* sf) {
  IsamBufferPool& pool = Pool();
  if (!pool.ready) return 0;
  bool lost = false;
  for (int i = 0; i < pool.nbuffers; ++i) {
    IsamBuffer* b = &pool.buffers[i];
    if (!(b->flags & BUF_BUSY) && b->owner == sf) {
      // A modified buffer here is one whose write failed earlier; the file
      // has changed under it since, so it can only be given up.
      if (b->flags & BUF_MODIFIED) lost = true;
      Unhash(b);
      b->flags = 0;
    }
  }
  return lost ? is_fail(EIO, 81) : 0;
}

void is_fatal(const char* message) {
  static const char kHead[] = "\r\nFatal system error: ";
  std::string text = kHead;
  text += message;
  text += "\r\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(2, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  std::abort();
}

void is_nodesetused(IsamBuffer* b, uint16_t used) {
  b->used = used & 0x7FFF;
  st16(b->used, b->data);
}

void is_nodesettype(IsamBuffer* b, unsigned char type) {
  b->type = type;
  b->data[b->owner->nodesize + 1 - 3] = type;
}

void is_nodesetlevel(IsamBuffer* b, unsigned char level) {
  b->level = level & 0x7F;
  b->data[b->owner->nodesize + 1 - 2] = b->level;
}

}  // namespace isam
