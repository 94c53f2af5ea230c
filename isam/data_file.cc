// Record slots of the ".dat" file. With minimum record length L (the record
// length of a fixed-length file), the slot size Z is L + 1, or L + 7 for
// variable-length records; record n (from 1) starts at byte (n - 1) x Z:
//
//   bytes       field
//   0..L-1      the record's bytes (the fixed part of a variable record)
//   L           flag: 0x0A active, 0x00 free or deleted
//   L+1..L+2    variable only: tail length T, 0 .. maximum - L
//   L+3..L+6    variable only: tail pointer (slot << 24 | node), 0 for none
//
// The file is read and written in 1024-byte blocks through the buffer pool;
// a slot, and its trailer, may cross a block boundary. Data blocks are
// written through at once.

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr unsigned char kActive = 0x0A;

uint32_t DataBlock(uint64_t k) { return static_cast<uint32_t>(k) | kDataBlock; }

// The data blocks that hold a slot's trailer.
struct TrailerBlocks {
  IsamBuffer* first = nullptr;   // holds the flag byte
  IsamBuffer* second = nullptr;  // holds the end of the trailer, if it crosses
  int off = 0;                   // flag byte's offset in the first block
  int infirst = 0;               // trailer bytes in the first block
  // A record over a few blocks is written as one run when it is given back
  // (blocks low..high); single blocks are written at once.
  bool batch = false;
  uint64_t low = 0, high = 0;

  void Get(unsigned char* out, int len) const {
    std::memcpy(out, first->data + off, static_cast<size_t>(infirst));
    if (len > infirst) std::memcpy(out + infirst, second->data, static_cast<size_t>(len - infirst));
  }
  void Put(const unsigned char* in, int len) {
    std::memcpy(first->data + off, in, static_cast<size_t>(infirst));
    if (len > infirst) std::memcpy(second->data, in + infirst, static_cast<size_t>(len - infirst));
  }
  // Gives both blocks back; the first is written when it changed.
  int Release(bool first_changed, bool second_changed) {
    int rc = 0;
    if (first != nullptr) {
      if (!first_changed) {
        is_release(first);
      } else if (batch) {
        is_releasedirty(first);
      } else if (is_writebuffer(first) != 0) {
        rc = -1;
      }
    }
    if (second != nullptr) {
      if (!second_changed) {
        is_release(second);
      } else if (batch) {
        is_releasedirty(second);
      } else if (is_writebuffer(second) != 0) {
        rc = -1;
      }
    }
    first = second = nullptr;
    if (batch && is_writedata(low, high) != 0) rc = -1;
    return rc;
  }
};

}  // namespace

int dataxfer(int mode, int64_t recnum, unsigned char* buf, int len) {
  IsamThreadState& st = is_state();
  const IsamSharedFile* sf = st.curfile;
  const int L = sf->minlen;
  const bool var = sf->varlen != 0;
  const int maxtail = sf->maxlen - L;
  if (mode == DX_WRITE && (len < L || len > sf->maxlen)) is_fatal("dataxfer: arg tlen out of range");
  if (recnum < 1 || recnum > 0x7FFFFFFF) return is_fail(EBADARG);
  const int tl = var ? 7 : 1;
  const uint64_t start = static_cast<uint64_t>(recnum - 1) * static_cast<uint64_t>(L + tl);
  const uint64_t flagpos = start + static_cast<uint64_t>(L);
  const uint64_t e = flagpos / kBlockSize;
  if (e + 1 >= kDataBlock) return is_fail(EBADARG);  // block numbers stay below bit 31
  TrailerBlocks tb;
  tb.off = static_cast<int>(flagpos % kBlockSize);
  tb.infirst = std::min(tl, kBlockSize - tb.off);

  // A fixed-length record read whose slot lies in one block: one buffer,
  // one copy.
  if (mode == DX_READ && !var && start / kBlockSize == e) {
    IsamBuffer* b = is_readbuffer(DataBlock(e));
    if (b == nullptr) return -1;
    bool active = b->data[tb.off] == kActive;
    if (active) std::memcpy(buf, b->data + start % kBlockSize, static_cast<size_t>(L));
    is_release(b);
    return active ? L : -1;
  }

  // The record bytes, in chunks that end at block boundaries; every block
  // but the flag byte's is given back as soon as its chunk is done.
  bool bytes_changed = false;
  if (mode == DX_READ || mode == DX_WRITE || mode == DX_CLEAR || mode == DX_DROP) {
    tb.low = start / kBlockSize;
    tb.high = tb.infirst < tl ? e + 1 : e;
    tb.batch = mode != DX_READ && tb.high > tb.low && tb.high - tb.low < 8;
    is_prefetchdata(tb.low, tb.high);
    for (int done = 0; done < L;) {
      uint64_t pos = start + static_cast<uint64_t>(done);
      uint64_t k = pos / kBlockSize;
      int off = static_cast<int>(pos % kBlockSize);
      int chunk = std::min(L - done, kBlockSize - off);
      bool whole = off == 0 && chunk == kBlockSize;
      IsamBuffer* b = whole && mode != DX_READ ? is_getbuffer(DataBlock(k))
                                               : is_readbuffer(DataBlock(k));
      if (b == nullptr) {
        // Blocks already done go out as they would have one by one.
        if (tb.batch) is_writedata(tb.low, tb.high);
        return -1;
      }
      if (mode == DX_READ) {
        std::memcpy(buf + done, b->data + off, static_cast<size_t>(chunk));
      } else if (mode == DX_WRITE) {
        std::memcpy(b->data + off, buf + done, static_cast<size_t>(chunk));
      } else {
        std::memset(b->data + off, 0, static_cast<size_t>(chunk));
      }
      done += chunk;
      if (k == e) {
        tb.first = b;
        bytes_changed = mode != DX_READ;
      } else if (mode == DX_READ) {
        is_release(b);
      } else if (tb.batch) {
        is_releasedirty(b);
      } else if (is_writebuffer(b) != 0) {
        return -1;
      }
    }
  }
  if (tb.first == nullptr && (tb.first = is_readbuffer(DataBlock(e))) == nullptr) return -1;
  if (tb.infirst < tl && (tb.second = is_readbuffer(DataBlock(e + 1))) == nullptr) {
    tb.Release(bytes_changed, false);
    return -1;
  }

  unsigned char old[7];
  tb.Get(old, tl);
  if (mode == DX_TEST) {
    tb.Release(false, false);
    return old[0] == kActive ? 1 : 0;
  }
  if (mode == DX_TRAILER) {
    std::memcpy(buf, old, static_cast<size_t>(tl));
    tb.Release(false, false);
    return tl;
  }
  if (mode == DX_READ && old[0] != kActive) {
    tb.Release(false, false);
    return -1;
  }
  if (mode == DX_DROP) {
    const unsigned char none[7] = {};
    tb.Put(none, tl);
    return tb.Release(true, tl > tb.infirst);
  }
  int tail = 0;
  uint32_t ptr = 0;
  if (var) {
    tail = ld16(old + 1);
    ptr = ldu32(old + 3);
    if (tail < 0 || tail > maxtail || (tail > 0 && ptr == 0)) {
      tb.Release(bytes_changed, false);
      return is_damage();
    }
  }
  if (mode == DX_READ) {
    int got = tail > 0 ? tailread(ptr, buf + L, tail) : 0;
    tb.Release(false, false);
    if (got != tail) return is_damage();
    return L + tail;
  }

  unsigned char now[7] = {};
  now[0] = mode == DX_WRITE ? kActive : 0;
  if (var) {
    int newtail = mode == DX_WRITE ? len - L : 0;
    int64_t newptr = 0;
    if (mode == DX_WRITE && ptr != 0) {
      newptr = tailrewrite(ptr, buf + L, newtail);
    } else if (mode == DX_WRITE && newtail > 0) {
      newptr = tailstore(buf + L, newtail);
    } else if (mode == DX_CLEAR && ptr != 0) {
      newptr = tailfree(ptr) != 0 ? -1 : 0;
    }
    if (newptr < 0) {
      tb.Release(bytes_changed, false);
      return -1;
    }
    st16(static_cast<uint32_t>(newtail), now + 1);
    st32(static_cast<uint32_t>(newptr), now + 3);
  }
  tb.Put(now, tl);
  bool first_changed =
      tb.off != 0 || std::memcmp(old, now, static_cast<size_t>(tb.infirst)) != 0;
  bool second_changed =
      tl > tb.infirst &&
      std::memcmp(old + tb.infirst, now + tb.infirst, static_cast<size_t>(tl - tb.infirst)) != 0;
  return tb.Release(first_changed, second_changed);
}

int64_t dataslots(int64_t n) {
  IsamSharedFile* sf = is_state().curfile;
  if (n <= sf->datslots) return sf->datslots;
  struct stat sb;
  if (sf->datfd < 0 || fstat(sf->datfd, &sb) != 0 || !S_ISREG(sb.st_mode)) return INT64_MAX;
  const int L = sf->minlen;
  const int64_t z = L + (sf->varlen ? 7 : 1);
  // Slot k (from 1) reaches the file when its flag byte, at (k - 1) x z + L,
  // lies before the end. The file only grows, so the number is kept.
  int64_t size = sb.st_size;
  sf->datslots = size > L ? (size - L + z - 1) / z : 0;
  return sf->datslots;
}

int datatest(int64_t recnum) { return dataxfer(DX_TEST, recnum, nullptr, 0); }
int dataread(int64_t recnum, unsigned char* buf) { return dataxfer(DX_READ, recnum, buf, 0); }
int datawrite(int64_t recnum, const unsigned char* buf, int len) {
  return dataxfer(DX_WRITE, recnum, const_cast<unsigned char*>(buf), len);
}
int datafree(int64_t recnum) { return dataxfer(DX_CLEAR, recnum, nullptr, 0); }
int datatrailer(int64_t recnum, unsigned char* buf) {
  return dataxfer(DX_TRAILER, recnum, buf, 0);
}
int datadrop(int64_t recnum) { return dataxfer(DX_DROP, recnum, nullptr, 0); }

}  // namespace isam
