// Key descriptions on disk. A key-description node:
//
//   bytes    content
//   0-1      bytes used, counting these and the next four (6 when empty)
//   2-5      next key-description node, 0 for the last
//   6...     entries back to back; an entry never spans two nodes
//   N-3      0xFF
//   N-2      0x7E
//
// One entry, big-endian:
//
//   bytes    content
//   0-1      entry length: 7 + 5 x number of parts
//   2-5      root node of the index (0 without parts)
//   6        flags >> 1: the compression bits
//   7+5k     part k: length (16 bits; bit 15 of part 0 is IS_DUPS),
//            start (16 bits), type (1 byte, 0x80 descending)
//
// The first node of the chain is named in header bytes 15-18; the index
// number of a description is its place in the chain, counting from 1.

#include "isam/key_desc.h"

#include <cstring>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/header.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {
namespace {

constexpr unsigned char kDescType = 0xFF;
constexpr unsigned char kDescLevel = 0x7E;

// Entries must stay below this used count (1021 for 1024-byte nodes).
int UsedLimit() { return is_state().curfile->nodesize - 2; }

// Reads a node of the chain and checks its marks and used count.
IsamBuffer* ChainNode(uint32_t node) {
  if (node < 2 || node > is_lastnode()) {
    is_damage();
    return nullptr;
  }
  IsamBuffer* b = is_readbuffer(node);
  if (b == nullptr) return nullptr;
  if (b->type != kDescType || b->level != kDescLevel || b->used < 6 || b->used > UsedLimit()) {
    is_release(b);
    is_damage();
    return nullptr;
  }
  return b;
}

int RequiredLength(int type) {
  switch (type) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 8;
    case 4: return 4;
    case 13: return 8;
    default: return -1;  // any length
  }
}

void AddIndexCount(int delta) {
  unsigned char* h = is_state().curfile->header + HDR_NINDEXES;
  st16(static_cast<uint32_t>(ld16(h) + delta), h);
  is_headerdirty();
}

// Walks the chain. For each node, visit(buffer, node) may look at the
// entries; it returns 1 to stop with the buffer still held, 0 to go on.
// The held buffer (or nullptr at the end of the chain) is returned in *held
// with its node number; -1 on a damaged or unreadable chain.
template <typename Visit>
int WalkChain(Visit visit, IsamBuffer** held, uint32_t* heldnode, uint32_t* lastnode) {
  uint32_t node = is_hdrget32(HDR_KEYDESCNODE);
  uint32_t limit = is_lastnode();
  *held = nullptr;
  for (uint32_t steps = 0; node != 0; ++steps) {
    if (steps > limit) return is_damage();  // a loop in the chain
    IsamBuffer* b = ChainNode(node);
    if (b == nullptr) return -1;
    *lastnode = node;
    int r = visit(b, node);
    if (r < 0) {
      is_release(b);
      return -1;
    }
    if (r > 0) {
      *held = b;
      *heldnode = node;
      return 0;
    }
    node = ldu32(b->data + 2);
    is_release(b);
  }
  return 0;
}

}  // namespace

namespace {

// A description read from the file is used to copy key bytes out of
// records and to compare them: its parts must lie inside the record and
// fit the key, as when it was added.
bool StoredSound(const IsamKeyDesc& got, int minlen) {
  if (got.nparts == 0) return true;
  IsamKeyDesc copy = got;
  IsamThreadState& st = is_state();
  int saved = st.iserrno;
  bool sound = is_checkkeydesc(&copy, minlen) == 0;
  st.iserrno = saved;
  return sound;
}

}  // namespace

int is_freesizetype(int type) {
  switch (type) {
    case 7: case 16: case 32: case 48: case 64: case 80: case 96: case 112:
      return 1;
    default:
      return 0;
  }
}

int is_samekeydesc(const IsamKeyDesc& a, const IsamKeyDesc& b) {
  if (a.nparts != b.nparts) return -1;
  for (int i = 0; i < a.nparts && i < IS_MAXPARTS; ++i) {
    const IsamKeyPart& x = a.parts[i];
    const IsamKeyPart& y = b.parts[i];
    if (x.start != y.start || x.len != y.len || x.type != y.type) return -1;
  }
  return 0;
}

int is_hascollated(const IsamKeyDesc& kd) {
  for (int i = 0; i < kd.nparts && i < IS_MAXPARTS; ++i) {
    if ((kd.parts[i].type & 0x7F) == 7) return 1;
  }
  return 0;
}

int is_checkkeydesc(IsamKeyDesc* kd, int reclen) {
  if (kd->nparts < 1 || kd->nparts > IS_MAXPARTS) return is_fail(EBADKEYDESC);
  int keylen = 0;
  for (int i = 0; i < kd->nparts; ++i) {
    const IsamKeyPart& part = kd->parts[i];
    if (part.start < 0 || part.start > reclen || part.len < 0 || part.len > reclen ||
        part.start + part.len > reclen) {
      return is_fail(EBADKEYDESC);
    }
    // The type is stored in one byte.
    if (part.type < 0 || part.type > 0xFF) return is_fail(EBADKEYDESC);
    int type = part.type & 0x7F;
    if (!is_freesizetype(type)) {
      if (type > 13) return is_fail(EBADKEYDESC);
      int need = RequiredLength(type);
      if (need >= 0 && part.len != need) return is_fail(EBADKEYDESC);
    }
    keylen += part.len;
  }
  if (keylen > IS_MAXKEYLEN) return is_fail(EBADKEYDESC);
  kd->keylen = static_cast<int16_t>(keylen);
  return 0;
}

void is_putkeydesc(const IsamKeyDesc& kd, unsigned char* out) {
  int nparts = kd.nparts;
  st16(static_cast<uint32_t>(is_keydesclen(nparts)), out);
  st32(static_cast<uint32_t>(kd.root), out + 2);
  out[6] = static_cast<unsigned char>((kd.flags >> 1) & 0x7F);
  for (int i = 0; i < nparts; ++i) {
    unsigned char* p = out + 7 + 5 * i;
    uint32_t len = static_cast<uint16_t>(kd.parts[i].len) & 0x7FFF;
    if (i == 0 && (kd.flags & IS_DUPS)) len |= 0x8000;
    st16(len, p);
    st16(static_cast<uint32_t>(kd.parts[i].start), p + 2);
    p[4] = static_cast<unsigned char>(kd.parts[i].type);
  }
}

int is_getkeydesc(const unsigned char* in, int room, IsamKeyDesc* kd) {
  if (room < 2) return -1;
  int len = ldu16(in);
  if (len < 7 || len > room || (len - 7) % 5 != 0 || (len - 7) / 5 > IS_MAXPARTS) return -1;
  *kd = IsamKeyDesc{};
  kd->nparts = static_cast<int16_t>((len - 7) / 5);
  kd->root = ldu32(in + 2);
  kd->flags = static_cast<int16_t>(in[6] * 2);
  int keylen = 0;
  for (int i = 0; i < kd->nparts; ++i) {
    const unsigned char* p = in + 7 + 5 * i;
    uint16_t plen = ldu16(p);
    if (i == 0 && (plen & 0x8000)) {
      kd->flags = static_cast<int16_t>(kd->flags | IS_DUPS);
      plen &= 0x7FFF;
    }
    kd->parts[i].len = static_cast<int16_t>(plen);
    kd->parts[i].start = ld16(p + 2);
    kd->parts[i].type = p[4];
    keylen += plen;
  }
  if (kd->nparts == 0) {
    kd->parts[0].start = 0;
    kd->parts[0].len = 2;
    kd->parts[0].type = 1;
  }
  kd->keylen = static_cast<int16_t>(keylen);
  return 0;
}

int is_findkeydesc(IsamKeyDesc* kd, int n, bool as_stored) {
  IsamSharedFile* sf = is_state().curfile;
  IsamKeyDesc want = *kd;
  if (n <= 0 && want.nparts != 0 && is_checkkeydesc(&want, sf->minlen) != 0) return -1;
  int index = 0;
  int found = 0;
  int at = 0;
  IsamKeyDesc got;
  auto visit = [&](IsamBuffer* b, uint32_t) -> int {
    for (int off = 6; off < b->used;) {
      if (is_getkeydesc(b->data + off, b->used - off, &got) != 0) return is_damage();
      ++index;
      if (n > 0 ? index == n : is_samekeydesc(got, want) == 0) {
        if (!as_stored && !StoredSound(got, sf->minlen)) return is_damage();
        found = index;
        at = off;
        return 1;
      }
      off += is_keydesclen(got.nparts);
    }
    return 0;
  };
  IsamBuffer* b = nullptr;
  uint32_t node = 0, last = 0;
  if (WalkChain(visit, &b, &node, &last) != 0) return -1;
  if (b == nullptr) return -1;
  if (n > 0) {
    *kd = got;
  } else {
    kd->flags = got.flags;
    kd->keylen = got.keylen;
    kd->root = got.root;
  }
  if (n >= 0) {
    is_release(b);
    return found;
  }
  int len = is_keydesclen(got.nparts);
  int used = b->used;
  std::memmove(b->data + at, b->data + at + len, static_cast<size_t>(used - at - len));
  std::memset(b->data + used - len, 0, static_cast<size_t>(len));
  is_nodesetused(b, static_cast<uint16_t>(used - len));
  if (is_writebuffer(b) != 0) return -1;
  AddIndexCount(-1);
  return found;
}

int is_addkeydesc(IsamKeyDesc* kd) {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  if (kd->nparts != 0) {
    if (is_checkkeydesc(kd, sf->minlen) != 0) return -1;
  } else {
    kd->keylen = 0;
    kd->flags = 0;
  }
  int len = is_keydesclen(kd->nparts);
  int limit = UsedLimit();
  bool exists = false;
  IsamKeyDesc got;
  uint32_t room_node = 0;
  auto visit = [&](IsamBuffer* b, uint32_t node) -> int {
    for (int off = 6; off < b->used;) {
      if (is_getkeydesc(b->data + off, b->used - off, &got) != 0) return is_damage();
      if (is_samekeydesc(got, *kd) == 0) {
        exists = true;
        return 1;
      }
      off += is_keydesclen(got.nparts);
    }
    if (room_node == 0 && b->used + len < limit) room_node = node;
    return 0;
  };
  IsamBuffer* held = nullptr;
  uint32_t heldnode = 0, last = 0;
  if (WalkChain(visit, &held, &heldnode, &last) != 0) return -1;
  if (exists) {
    is_release(held);
    return is_fail(EKEYEXISTS);
  }
  if (last == 0) return is_damage();  // no chain at all

  // The root and, when no node has room, a new chain node.
  int64_t root = 0;
  if (kd->nparts != 0) {
    root = freetake(FREE_NODE);
    if (root < 0) return -1;
  }
  int64_t fresh = 0;
  if (room_node == 0) {
    fresh = freetake(FREE_NODE);
    if (fresh < 0) {
      if (root > 0) freeput(root, FREE_NODE);
      return -1;
    }
  }
  if (root > 0) {
    IsamBuffer* b = is_newbuffer(static_cast<uint32_t>(root));
    if (b == nullptr) return -1;
    is_nodesetused(b, 2);
    is_nodesettype(b, 0);
    is_nodesetlevel(b, 0);
    is_releasedirty(b);
  }
  kd->root = root;
  IsamBuffer* b = nullptr;
  if (room_node == 0) {
    IsamBuffer* tail = ChainNode(last);
    if (tail == nullptr) return -1;
    st32(static_cast<uint32_t>(fresh), tail->data + 2);
    is_releasedirty(tail);
    b = is_newbuffer(static_cast<uint32_t>(fresh));
    if (b == nullptr) return -1;
    is_nodesetused(b, 6);
    is_nodesettype(b, kDescType);
    is_nodesetlevel(b, kDescLevel);
  } else {
    b = ChainNode(room_node);
    if (b == nullptr) return -1;
  }
  is_putkeydesc(*kd, b->data + b->used);
  is_nodesetused(b, static_cast<uint16_t>(b->used + len));
  is_releasedirty(b);
  AddIndexCount(1);
  return 0;
}

int is_delkeydesc(IsamKeyDesc* kd) {
  int saved = is_state().iserrno;
  if (is_checkkeydesc(kd, is_state().curfile->minlen) != 0) return -1;
  is_state().iserrno = 0;
  if (is_findkeydesc(kd, -1) < 0) {
    if (is_state().iserrno == 0) return is_fail(EBADKEYDESC);
    return -1;
  }
  is_state().iserrno = saved;
  return 0;
}

}  // namespace isam
