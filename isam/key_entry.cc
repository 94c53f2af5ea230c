// Key entries of an index node, fields in this order:
//
//   field             bytes       present when
//   leading count     1           IS_LEADCOMP: key bytes shared with the
//                                 entry before it in the node
//   trailing count    1           IS_TRAILCOMP: trailing blanks not stored
//   key bytes         keylen - leading - trailing
//   duplicate number  2 or 4      IS_DUPS (header byte 11; 2 reads signed)
//   pointer           4           record number in a leaf, child node above;
//                                 bit 31: the next entry repeats this key
//
// With IS_DUPCOMP an entry that repeats the key of the entry before it in
// the same node (marked by that entry's bit 31) holds only the duplicate
// number and the pointer. The first entry of a node is never such an
// entry and has leading count 0.

#include <cstring>

#include "isam/bigendian.h"
#include "isam/header.h"
#include "isam/key_entry.h"
#include "isam/thread_state.h"

namespace isam {
namespace {

int TrailingBlanks(const unsigned char* key, int len) {
  int n = 0;
  while (n < len && key[len - 1 - n] == ' ') ++n;
  return n;
}

int SharedPrefix(const unsigned char* a, const unsigned char* b, int len) {
  int n = 0;
  while (n < len && a[n] == b[n]) ++n;
  return n;
}

int TailWidth(const IsamKeyDesc& kd) { return (kd.flags & IS_DUPS ? is_dupwidth() : 0) + 4; }

}  // namespace

int is_dupwidth() {
  IsamSharedFile* sf = is_state().curfile;
  return sf != nullptr && sf->header[HDR_DUPWIDTH] == 2 ? 2 : 4;
}

void is_compress(IsamKeyEntry* p, IsamKeyEntry* e, const IsamKeyDesc& kd, int mode) {
  int keylen = kd.keylen;
  if ((kd.flags & IS_DUPCOMP) &&
      (mode == KC_FORCEDUP ||
       (mode == KC_NORMAL &&
        std::memcmp(p->key, e->key, static_cast<size_t>(keylen)) == 0))) {
    e->flags |= KE_REPEATS_PREVIOUS;
    e->stored = 0;
    e->lead = 0;
    e->trail = 0;
    e->entrylen = 0;
    if (mode == KC_NORMAL) p->flags |= KE_NEXT_REPEATS;
  } else {
    e->flags &= ~KE_REPEATS_PREVIOUS;
    if (mode == KC_NORMAL) p->flags &= ~KE_NEXT_REPEATS;
    int len = keylen;
    e->trail = 0;
    e->lead = 0;
    if (kd.flags & IS_TRAILCOMP) {
      e->trail = static_cast<uint16_t>(TrailingBlanks(e->key, keylen));
      len = keylen - e->trail + 1;
    }
    if (kd.flags & IS_LEADCOMP) {
      int lead = 0;
      if (mode != KC_FIRST) {
        // The previous entry's significant bytes: without its trailing
        // blanks.
        int psig = (p->flags & KE_REPEATS_PREVIOUS) ? keylen - TrailingBlanks(p->key, keylen)
                                                    : keylen - p->trail;
        int limit = len - 1;
        if (limit > psig) limit = psig;
        lead = SharedPrefix(p->key, e->key, limit > 0 ? limit : 0);
      }
      e->lead = static_cast<uint16_t>(lead);
      len = len + 1 - lead;
    }
    e->stored = static_cast<uint16_t>(keylen - e->lead - e->trail);
    e->entrylen = static_cast<uint16_t>(len);
  }
  e->entrylen = static_cast<uint16_t>(e->entrylen + TailWidth(kd));
}

int is_putentry(const IsamKeyEntry& e, unsigned char* area, int off, const IsamKeyDesc& kd) {
  bool dup = (e.flags & KE_REPEATS_PREVIOUS) != 0 && off > 0;
  if (off > 0) {
    if (dup) {
      area[off - 4] |= 0x80;
    } else {
      area[off - 4] &= 0x7F;
    }
  }
  unsigned char* p = area + off;
  if (!dup) {
    if (kd.flags & IS_LEADCOMP) *p++ = static_cast<unsigned char>(e.lead);
    if (kd.flags & IS_TRAILCOMP) *p++ = static_cast<unsigned char>(e.trail);
    std::memcpy(p, e.key + e.lead, e.stored);
    p += e.stored;
  }
  if (kd.flags & IS_DUPS) {
    if (is_dupwidth() == 2) {
      st16(static_cast<uint32_t>(e.dupno), p);
      p += 2;
    } else {
      st32(static_cast<uint32_t>(e.dupno), p);
      p += 4;
    }
  }
  uint32_t ptr = static_cast<uint32_t>(e.pointer) & 0x7FFFFFFF;
  if (e.flags & KE_NEXT_REPEATS) ptr |= 0x80000000u;
  st32(ptr, p);
  p += 4;
  return static_cast<int>(p - area);
}

int is_getentry(const unsigned char* area, int off, int end, IsamKeyEntry* e,
                const IsamKeyDesc& kd) {
  int keylen = kd.keylen;
  if (off < 0 || keylen < 0 || keylen > IS_MAXKEYLEN) return -1;
  bool dup = off >= 4 && (area[off - 4] & 0x80) != 0;
  int p = off;
  if (dup) {
    e->flags = KE_REPEATS_PREVIOUS;
    e->stored = 0;
    e->lead = 0;
    e->trail = 0;
  } else {
    int lead = 0, trail = 0;
    if (kd.flags & IS_LEADCOMP) {
      if (p >= end) return -1;
      lead = area[p++];
    }
    if (kd.flags & IS_TRAILCOMP) {
      if (p >= end) return -1;
      trail = area[p++];
    }
    // Counts that overrun the key, or a first entry that leans on an entry
    // before it, mark a damaged node.
    int stored = keylen - lead - trail;
    if (stored < 0 || (off == 0 && lead != 0) || p + stored > end) return -1;
    std::memcpy(e->key + lead, area + p, static_cast<size_t>(stored));
    std::memset(e->key + lead + stored, ' ', static_cast<size_t>(trail));
    p += stored;
    e->flags = 0;
    e->stored = static_cast<uint16_t>(stored);
    e->lead = static_cast<uint16_t>(lead);
    e->trail = static_cast<uint16_t>(trail);
  }
  if (p + TailWidth(kd) > end) return -1;
  if (kd.flags & IS_DUPS) {
    if (is_dupwidth() == 2) {
      e->dupno = ld16(area + p);
      p += 2;
    } else {
      e->dupno = ld32(area + p);
      p += 4;
    }
  } else {
    e->dupno = 0;
  }
  uint32_t ptr = ldu32(area + p);
  p += 4;
  if (ptr & 0x80000000u) e->flags |= KE_NEXT_REPEATS;
  e->pointer = static_cast<int32_t>(ptr & 0x7FFFFFFF);
  e->entrylen = static_cast<uint16_t>(p - off);
  return p;
}

int is_lastentry(const unsigned char* area, int limit, int end, IsamKeyEntry* e,
                 const IsamKeyDesc& kd) {
  if (limit > end) limit = end;
  if (limit <= 0) return -1;
  if ((kd.flags & kCompressionFlags) == 0) {
    int size = kd.keylen + TailWidth(kd);
    int off = ((limit - 1) / size) * size;
    return is_getentry(area, off, end, e, kd) < 0 ? -1 : off;
  }
  int off = 0;
  for (;;) {
    int next = is_getentry(area, off, end, e, kd);
    if (next < 0) return -1;
    if (next >= limit) return off;
    off = next;
  }
}

int is_entryat(const unsigned char* area, int off, int end, IsamKeyEntry* e,
               const IsamKeyDesc& kd) {
  if ((kd.flags & kCompressionFlags) == 0) return is_getentry(area, off, end, e, kd);
  int at = 0;
  for (;;) {
    int next = is_getentry(area, at, end, e, kd);
    if (next < 0 || at >= off) return at == off ? next : -1;
    at = next;
  }
}

}  // namespace isam
