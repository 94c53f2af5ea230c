// Tail pages: ".idx" nodes holding pieces of the tails of variable-length
// records. N is the node size; E = N - 26, S = N - 7, P = N - 30,
// W = E / 5 + 1.
//
//   bytes          field
//   0-1            0
//   2-3            marker "~&"
//   4-7            next page in its class list
//   8-11           previous page in its class list
//   12-13          free bytes (data plus directory), E when empty
//   14-15          offset of the first free data byte, 23 when empty
//   16-19          continuation pointer (slot << 24 | node)
//   20             flags: bit 0 when bytes 16-19 hold a continuation
//   21             number of directory entries, 0..255
//   22             class: 1..4 on that list, 0 on none, 255 not yet filed
//   23..           piece data, packed upwards
//   S-4i..S-4i+3   directory entry of slot i: length, offset (16-bit each)
//   N-3            0x7C
//   N-2, N-1       0
//
// The data is always packed: the free bytes are exactly the room between
// the first free byte and the lowest directory entry, and every piece lies
// between byte 23 and the first free byte. A page that breaks this is
// damaged and refused before any byte is moved.

#include "isam/tail_page.h"

#include <algorithm>
#include <cstring>

#include "isam/bigendian.h"
#include "isam/header.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

const TailParams& Tp() { return is_state().tail; }

unsigned char* Dir(IsamBuffer* g, int slot) { return g->data + Tp().s - 4 * slot; }
const unsigned char* Dir(const IsamBuffer* g, int slot) { return g->data + Tp().s - 4 * slot; }

void SetFree(IsamBuffer* g, int v) { st16(static_cast<uint32_t>(v), g->data + TP_FREE); }
void SetFirstFree(IsamBuffer* g, int v) { st16(static_cast<uint32_t>(v), g->data + TP_FIRSTFREE); }
void SetSlot(IsamBuffer* g, int slot, int len, int off) {
  st16(static_cast<uint32_t>(len), Dir(g, slot));
  st16(static_cast<uint32_t>(off), Dir(g, slot) + 2);
}

bool HasEmptySlot(const IsamBuffer* g) {
  for (int i = 0; i < pg_count(g); ++i) {
    if (pg_slotlen(g, i) == 0) return true;
  }
  return false;
}

uint32_t ClassHead(int cls) { return is_hdrget32(HDR_CLASSHEADS + 4 * cls); }
void SetClassHead(int cls, uint32_t node) { is_hdrput32(HDR_CLASSHEADS + 4 * cls, node); }

// Sets one link field of a neighbouring page.
int SetLink(uint32_t node, int field, uint32_t value) {
  IsamBuffer* b = tailpage(node);
  if (b == nullptr) return -1;
  st32(value, b->data + field);
  is_releasedirty(b);
  return 0;
}

}  // namespace

int pg_count(const IsamBuffer* g) { return g->data[TP_COUNT]; }
int pg_free(const IsamBuffer* g) { return ld16(g->data + TP_FREE); }
int pg_firstfree(const IsamBuffer* g) { return ldu16(g->data + TP_FIRSTFREE); }
int pg_slotlen(const IsamBuffer* g, int slot) { return ldu16(Dir(g, slot)); }
int pg_slotoff(const IsamBuffer* g, int slot) { return ldu16(Dir(g, slot) + 2); }
uint32_t pg_next(const IsamBuffer* g) { return ldu32(g->data + TP_NEXT); }
uint32_t pg_prev(const IsamBuffer* g) { return ldu32(g->data + TP_PREV); }

bool pg_sound(const IsamBuffer* g) {
  const TailParams& t = Tp();
  if (g->data[TP_MARKER] != '~' || g->data[TP_MARKER + 1] != '&') return false;
  int count = pg_count(g);
  int dirlow = t.n - 3 - 4 * count;
  int first = pg_firstfree(g);
  if (first < TP_DATA || first > dirlow || pg_free(g) != dirlow - first) return false;
  for (int i = 0; i < count; ++i) {
    int len = pg_slotlen(g, i);
    int off = pg_slotoff(g, i);
    if (len > 0 && (off < TP_DATA || off + len > first)) return false;
  }
  return true;
}

int slotalloc(IsamBuffer* g, int len) {
  int count = pg_count(g);
  int slot = 0;
  while (slot < count && pg_slotlen(g, slot) != 0) ++slot;
  int cost = len;
  if (slot == count) {
    if (count >= 255) return is_damage();
    cost += 4;
  }
  if (pg_free(g) < cost) return is_damage();
  if (slot == count) g->data[TP_COUNT] = static_cast<unsigned char>(count + 1);
  int first = pg_firstfree(g);
  SetSlot(g, slot, len, first);
  SetFirstFree(g, first + len);
  SetFree(g, pg_free(g) - cost);
  return slot;
}

int slotresize(IsamBuffer* g, int s, int a) {
  int count = pg_count(g);
  if (s >= count || a < 0) return is_damage();
  int d = pg_slotlen(g, s);
  if (a > d + pg_free(g)) return is_damage();
  if (a == d) return 0;
  int off = pg_slotoff(g, s);
  int end = off + d;
  int h = pg_firstfree(g);
  unsigned char* p = g->data;
  int moved;
  if (a < d) {
    moved = d - a;
    std::memmove(p + off + a, p + end, static_cast<size_t>(h - end));
    std::memset(p + h - moved, 0, static_cast<size_t>(moved));
    SetSlot(g, s, a, a == 0 ? 0 : off);
  } else {
    moved = d;
    if (d > 0) {
      std::memmove(p + off, p + end, static_cast<size_t>(h - end));
      std::memset(p + h - d, 0, static_cast<size_t>(d));
    }
    SetSlot(g, s, a, h - d);
  }
  SetFree(g, pg_free(g) - (a - d));
  SetFirstFree(g, h + (a - d));
  if (d > 0) {
    for (int i = 0; i < count; ++i) {
      if (i == s || pg_slotlen(g, i) == 0) continue;
      int o = pg_slotoff(g, i);
      if (o >= end) SetSlot(g, i, pg_slotlen(g, i), o - moved);
    }
  }
  return 0;
}

int slotstore(IsamBuffer* g, int s, const unsigned char* bytes, int len) {
  if (s >= pg_count(g)) return is_damage();
  int slen = pg_slotlen(g, s);
  int off = pg_slotoff(g, s);
  if (off < TP_DATA || off + slen > pg_firstfree(g) || slen < len) return is_damage();
  std::memcpy(g->data + off, bytes, static_cast<size_t>(len));
  std::memset(g->data + off + len, 0, static_cast<size_t>(slen - len));
  return 0;
}

int slotfree(IsamBuffer* g, int s) {
  if (slotresize(g, s, 0) != 0) return -1;
  int count = pg_count(g);
  while (count > 0 && pg_slotlen(g, count - 1) == 0) {
    std::memset(Dir(g, count - 1), 0, 4);
    --count;
    SetFree(g, pg_free(g) + 4);
  }
  g->data[TP_COUNT] = static_cast<unsigned char>(count);
  return 0;
}

int slotcopy(const IsamBuffer* g, int s, unsigned char* buf, int len) {
  int n = std::min(len, pg_slotlen(g, s));
  std::memcpy(buf, g->data + pg_slotoff(g, s), static_cast<size_t>(n));
  return n;
}

int tailsetnext(uint32_t cont, IsamBuffer* g) {
  if (pg_count(g) != 1 || pg_slotlen(g, 0) != Tp().p) return is_damage();
  st32(cont, g->data + TP_CONT);
  g->data[TP_FLAGS] |= 1;
  return 0;
}

void tailclearnext(IsamBuffer* g) {
  st32(0, g->data + TP_CONT);
  g->data[TP_FLAGS] &= static_cast<unsigned char>(~1);
}

IsamBuffer* tailpage(uint32_t node) {
  if (node < 2 || node > 0xFFFFFF || node > is_lastnode()) {
    is_damage();
    return nullptr;
  }
  IsamBuffer* g = is_readbuffer(node);
  if (g == nullptr) return nullptr;
  if (!pg_sound(g)) {
    is_release(g);
    is_damage();
    return nullptr;
  }
  return g;
}

int64_t tailnext(IsamBuffer* g) {
  if (!(g->data[TP_FLAGS] & 1)) return 0;
  uint32_t cont = ldu32(g->data + TP_CONT);
  if (cont == 0 || pg_count(g) != 1 || pg_slotlen(g, 0) != Tp().p) return is_damage();
  return cont;
}

IsamBuffer* pagefind(int len) {
  const TailParams& t = Tp();
  uint32_t rejected = 0;
  for (int tries = 0; tries < 64; ++tries) {
    uint32_t head = 0;
    for (int cls = len / t.w + 1; cls <= 4 && head == 0; ++cls) {
      uint32_t h = ClassHead(cls);
      if (h != 0 && h != rejected) head = h;
    }
    if (head == 0) {
      int64_t node = freetake(FREE_NODE);
      if (node < 0) return nullptr;
      if (node > 0xFFFFFF) {
        is_damage();
        return nullptr;
      }
      IsamBuffer* g = is_newbuffer(static_cast<uint32_t>(node));
      if (g == nullptr) return nullptr;
      g->data[TP_MARKER] = '~';
      g->data[TP_MARKER + 1] = '&';
      SetFree(g, t.e);
      SetFirstFree(g, TP_DATA);
      g->data[TP_CLASS] = kTailClassNone;
      is_nodesetused(g, 0);
      is_nodesettype(g, 0x7C);
      is_nodesetlevel(g, 0);
      return g;
    }
    IsamBuffer* g = tailpage(head);
    if (g == nullptr) return nullptr;
    int f = pg_free(g);
    if (f < len) {
      // The page's class is stale: file it where it belongs and look again.
      if (pagerefile(g) != 0) return nullptr;
      continue;
    }
    if ((f >= len + 4 && pg_count(g) < 255) || HasEmptySlot(g)) return g;
    is_release(g);
    rejected = head;
  }
  is_damage();
  return nullptr;
}

int pagerefile(IsamBuffer* g) {
  const TailParams& t = Tp();
  int count = pg_count(g);
  int f = pg_free(g);
  int m;
  if (count == 0 || f == t.e - 4 * count) {
    m = 5;
  } else if (count == 255 && !HasEmptySlot(g)) {
    m = 0;
  } else {
    m = f > 0 ? (f - 1) / t.w : 0;
  }
  int old = g->data[TP_CLASS];
  if (old < 5 && old == m) {
    is_releasedirty(g);
    return 0;
  }
  uint32_t self = g->block;
  uint32_t next = pg_next(g);
  uint32_t prev = pg_prev(g);
  if (old >= 1 && old <= 4) {
    if (ClassHead(old) == self) {
      SetClassHead(old, next);
    } else {
      if (prev == 0 || prev == self || next == self) {
        is_releasedirty(g);
        return is_damage();
      }
      if ((next != 0 && SetLink(next, TP_PREV, prev) != 0) || SetLink(prev, TP_NEXT, next) != 0) {
        is_releasedirty(g);
        return -1;
      }
    }
  }
  if (m == 5) {
    is_release(g);
    return freeput(self, FREE_NODE);
  }
  g->data[TP_CLASS] = static_cast<unsigned char>(m);
  st32(0, g->data + TP_NEXT);
  st32(0, g->data + TP_PREV);
  if (m >= 1) {
    uint32_t head = ClassHead(m);
    if (head == self) {
      is_releasedirty(g);
      return is_damage();
    }
    st32(head, g->data + TP_NEXT);
    if (head != 0 && SetLink(head, TP_PREV, self) != 0) {
      is_releasedirty(g);
      return -1;
    }
    SetClassHead(m, self);
  }
  is_releasedirty(g);
  return 0;
}

int64_t piecestore(const unsigned char* bytes, int len, uint32_t cont, IsamBuffer* g, int s,
                   int flags) {
  const TailParams& t = Tp();
  bool owned = g == nullptr || (flags & PS_OWN);
  auto fail = [&](bool changed) -> int64_t {
    if (g != nullptr && owned) {
      if (changed) is_releasedirty(g);
      else is_release(g);
    }
    return is_damage();
  };
  if (len < 1 || len > t.p) return fail(false);
  if (g != nullptr) {
    if (s >= pg_count(g)) return fail(false);
    int d = pg_slotlen(g, s);
    if (d + pg_free(g) < len) {
      if ((flags & (PS_OWN | PS_MOVE)) != (PS_OWN | PS_MOVE)) return fail(false);
      if (slotfree(g, s) != 0) return fail(false);
      if (pg_free(g) >= len + 4) {
        s = slotalloc(g, len);
        if (s < 0) return fail(true);
      } else {
        if (pagerefile(g) != 0) return -1;
        g = nullptr;
      }
    } else if (len != d && !(!(flags & PS_MOVE) && d >= len)) {
      if (slotresize(g, s, len) != 0) return fail(false);
    }
  }
  if (g == nullptr) {
    g = pagefind(len);
    if (g == nullptr) return -1;
    owned = true;
    s = slotalloc(g, len);
    if (s < 0) return fail(false);
  }
  if (slotstore(g, s, bytes, len) != 0) return fail(true);
  if (cont != 0 && tailsetnext(cont, g) != 0) return fail(true);
  uint32_t node = g->block;
  if (owned) {
    if (pagerefile(g) != 0) return -1;
  } else {
    g->flags |= BUF_MODIFIED;
  }
  return (static_cast<int64_t>(s) << 24) | node;
}

int pagereset(IsamBuffer* g) {
  g->data[TP_CLASS] = kTailClassNone;
  return pagerefile(g);
}

}  // namespace isam
