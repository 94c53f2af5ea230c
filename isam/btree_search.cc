// Searching and stepping in a B-tree. Entry offsets count from byte 2 of a
// node (its entry area). The path holds one level per node from the root
// down; levels are checked on the way so that a damaged tree (a loop of
// child pointers, wrong level bytes) is refused instead of overrunning the
// path.

#include <cstring>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {
namespace {

// Entries of an index without compression all have this size.
int FixedSize(const IsamKeyDesc& kd) {
  return kd.keylen + (kd.flags & IS_DUPS ? is_dupwidth() : 0) + 4;
}

void PutAtEdge(IsamPathLevel& level, int dir) {
  int at = dir == BT_FORWARD ? level.used : 0;
  level.offset = static_cast<uint16_t>(at);
  level.next = static_cast<uint16_t>(at);
}

// Reads the root; its level gives the tree's height.
IsamBuffer* ReadRoot(const IsamKeyDesc& kd, int* level) {
  IsamBuffer* b = bt_readnode(static_cast<uint32_t>(kd.root), -1);
  if (b == nullptr) return nullptr;
  if (b->level >= IS_MAXLEVELS) {
    is_release(b);
    is_damage();
    return nullptr;
  }
  *level = b->level;
  return b;
}

int StepAt(const IsamKeyDesc& kd, int d, int dir) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  IsamPathLevel& level = pos.path[d];
  bool forward = dir == BT_FORWARD;
  int flag = forward ? END_AFTER_LAST : END_BEFORE_FIRST;
  int endpoint = -1;
  bool edge = forward ? level.next >= level.used : level.offset == 0;
  if (!edge) {
    if (forward) {
      level.offset = level.next;
    } else {
      endpoint = level.offset;
    }
  } else {
    if (d == 0) {
      pos.endflags = static_cast<uint16_t>(flag);
      if (d == pos.leafdepth) PutAtEdge(level, dir);
      return flag;
    }
    int r = StepAt(kd, d - 1, dir);
    if (r != 0) {
      if (r > 0 && d == pos.leafdepth) PutAtEdge(level, dir);
      return r;
    }
    level.node = static_cast<uint32_t>(st.curkey.pointer);
    level.offset = 0;
    level.next = 0;
    endpoint = 0;
  }
  IsamBuffer* b = bt_readnode(level.node, pos.leafdepth - d);
  if (b == nullptr) return -1;
  int used = b->used - 2;
  const unsigned char* area = b->data + 2;
  level.used = static_cast<uint16_t>(used);
  if (used == 0) {
    is_release(b);
    if (d != 0) return is_damage();  // only the root may be empty
    pos.endflags = END_EMPTY;
    return END_EMPTY;
  }
  int next;
  if (forward) {
    next = is_entryat(area, level.offset, used, &st.curkey, kd);
  } else {
    if (endpoint == 0 || endpoint > used) endpoint = used;
    int off = is_lastentry(area, endpoint, used, &st.curkey, kd);
    next = off < 0 ? -1 : off + st.curkey.entrylen;
    if (off >= 0) level.offset = static_cast<uint16_t>(off);
  }
  is_release(b);
  if (next < 0) return is_damage();
  level.next = static_cast<uint16_t>(next);
  return 0;
}

int StepRecords(int dir) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  int64_t rn = st.curkey.pointer;
  if (dir == BT_FORWARD) {
    ++rn;
    if (rn > is_hdrget32(HDR_LASTREC)) {
      // Another process may have added records since the header was read.
      if (!(st.curfile->flags & SF_HDRDIRTY) && is_readheader() != 0) return -1;
      if (rn > is_hdrget32(HDR_LASTREC)) {
        pos.endflags = END_AFTER_LAST;
        return END_AFTER_LAST;
      }
    }
    // Numbers past the end of the ".dat" file hold no record: the step goes
    // to the end at once rather than through every number up to the last.
    if (rn > dataslots(rn)) {
      pos.endflags = END_AFTER_LAST;
      return END_AFTER_LAST;
    }
  } else {
    --rn;
    if (rn <= 0) {
      pos.endflags = END_BEFORE_FIRST;
      return END_BEFORE_FIRST;
    }
  }
  st.curkey.pointer = static_cast<int32_t>(rn);
  return 0;
}

}  // namespace

int is_search(IsamKeyEntry* k, const IsamKeyDesc& kd, int n, int mode) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  IsamKeyEntry& cur = st.curkey;
  pos.depth = 0;
  pos.endflags = 0;
  bool dups = (kd.flags & IS_DUPS) != 0;
  bool fixed = (kd.flags & kCompressionFlags) == 0;
  uint32_t node = static_cast<uint32_t>(kd.root);
  int level = -1;
  for (int d = 0;; ++d) {
    IsamBuffer* b = d == 0 ? ReadRoot(kd, &level) : bt_readnode(node, level);
    if (b == nullptr) {
      pos.depth = -1;
      return -1;
    }
    int used = b->used - 2;
    const unsigned char* area = b->data + 2;
    IsamPathLevel& path = pos.path[d];
    path.node = node;
    path.offset = 0;
    path.next = 0;
    path.used = static_cast<uint16_t>(used);
    pos.depth = static_cast<int16_t>(d);
    if (used == 0) {
      is_release(b);
      if (d != 0) {
        pos.depth = -1;
        return is_damage();
      }
      pos.endflags = END_EMPTY;
      pos.leafdepth = 0;
      return 0;
    }
    bool leaf = level == 0;
    bool refused = false;
    // 1 when the entry in cur counts as greater than k.
    auto greater = [&]() {
      int c = is_keycompare(cur, *k, kd, n);
      if (c != 0) return c > 0;
      if (mode == BT_GREATER) return false;
      if (mode == BT_EXACT) return !(dups && cur.dupno < k->dupno);
      if (k->dupno <= cur.dupno) k->dupno = cur.dupno + 1;
      if (leaf) {
        if (dups) {
          pos.flags |= POS_DUPLICATE;
        } else {
          refused = true;
        }
      }
      return false;
    };
    int found = -1, foundnext = 0, lastoff = 0, off = 0;
    bool damaged = false;
    bool done = false;  // the raw search below settled the node
    int start = 0;
    if (fixed && mode != BT_INSERT && kd.keylen >= 0 && kd.keylen <= IS_MAXKEYLEN) {
      // Entries of one size that hold their whole key: compare them where
      // they lie and decode only the entry the search stops on. The probes
      // are those of the decoding search below, so the result is the same.
      int size = FixedSize(kd);
      int count = used / size;
      int dupw = dups ? is_dupwidth() : 0;
      // A key of one integer or byte part over its whole length is
      // compared inline; other keys part by part.
      const IsamKeyPart& p0 = kd.parts[0];
      int ptype = p0.type & 0x7F;
      int whole = kd.nparts == 1 && p0.len == kd.keylen && (n <= 0 || n >= kd.keylen)
                      ? (ptype == 2 && p0.len == 4   ? 2
                         : ptype == 1 && p0.len == 2 ? 1
                         : ptype == 0                ? 3
                                                     : 0)
                      : 0;
      bool desc = (p0.type & IS_DESCENDING) != 0;
      auto compare = [&](const unsigned char* e) {
        int c;
        switch (whole) {
          case 2: {
            int32_t x = ld32(e), y = ld32(k->key);
            c = x < y ? -1 : x > y ? 1 : 0;
            break;
          }
          case 1: {
            int16_t x = ld16(e), y = ld16(k->key);
            c = x < y ? -1 : x > y ? 1 : 0;
            break;
          }
          case 3:
            c = std::memcmp(e, k->key, static_cast<size_t>(kd.keylen));
            break;
          default:
            return is_keycmpbytes(e, k->key, kd, n);
        }
        return desc ? -c : c;
      };
      auto greater_at = [&](int at) {
        int c = compare(area + at);
        if (c != 0) return c > 0;
        if (mode == BT_GREATER) return false;
        if (!dups) return true;
        const unsigned char* d = area + at + kd.keylen;
        int32_t dupno = dupw == 2 ? ld16(d) : ld32(d);
        return !(dupno < k->dupno);
      };
      if (used % size != 0) {
        damaged = true;
      } else {
        if (count > 3) {
          int low = 0, high = count - 1;
          while (high - low > 2) {
            int mid = (low + high) / 2;
            if (greater_at(mid * size)) {
              high = mid;
            } else {
              low = mid + 1;
            }
          }
          start = low * size;
        }
        for (off = start; off < used; off += size) {
          if (greater_at(off)) {
            found = off;
            break;
          }
          lastoff = off;
        }
        done = true;
        int at = found >= 0 ? found : lastoff;
        int next = is_getentry(area, at, used, &cur, kd);
        if (next < 0) {
          damaged = true;
        } else if (found >= 0) {
          foundnext = next;
        }
      }
    } else if (fixed) {
      int size = FixedSize(kd);
      int count = used / size;
      if (used % size != 0) {
        damaged = true;
      } else if (count > 3) {
        int low = 0, high = count - 1;
        while (high - low > 2) {
          int mid = (low + high) / 2;
          if (is_getentry(area, mid * size, used, &cur, kd) < 0) {
            damaged = true;
            break;
          }
          if (greater()) {
            high = mid;
          } else {
            low = mid + 1;
          }
          if (refused) break;
        }
        start = low * size;
      }
    }
    for (off = start; !done && !damaged && !refused && off < used;) {
      int next = is_getentry(area, off, used, &cur, kd);
      if (next < 0) {
        damaged = true;
        break;
      }
      if (greater()) {
        found = off;
        foundnext = next;
        break;
      }
      if (refused) break;
      lastoff = off;
      off = next;
    }
    is_release(b);
    if (damaged || refused) {
      pos.depth = -1;
      return refused ? is_fail(EDUPLICATE) : is_damage();
    }
    if (found >= 0) {
      path.offset = static_cast<uint16_t>(found);
      path.next = static_cast<uint16_t>(foundnext);
    } else {
      path.offset = static_cast<uint16_t>(lastoff);
      path.next = static_cast<uint16_t>(used);
    }
    if (!leaf) {
      if (d + 1 >= IS_MAXLEVELS) {
        pos.depth = -1;
        return is_damage();
      }
      node = static_cast<uint32_t>(cur.pointer);
      --level;
      continue;
    }
    pos.leafdepth = static_cast<int16_t>(d);
    if (found < 0) {
      if (mode == BT_INSERT) {
        path.offset = static_cast<uint16_t>(used);
      } else if (is_step(kd, BT_FORWARD) < 0) {
        return -1;
      }
    }
    return d;
  }
}

int is_firstlast(const IsamKeyDesc& kd, int last) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  pos.endflags = 0;
  pos.depth = 0;
  uint32_t node = static_cast<uint32_t>(kd.root);
  int level = -1;
  for (int d = 0; d < IS_MAXLEVELS; ++d) {
    IsamBuffer* b = d == 0 ? ReadRoot(kd, &level) : bt_readnode(node, level);
    if (b == nullptr) {
      pos.depth = -1;
      return -1;
    }
    int used = b->used - 2;
    const unsigned char* area = b->data + 2;
    IsamPathLevel& path = pos.path[d];
    path.node = node;
    path.used = static_cast<uint16_t>(used);
    pos.depth = static_cast<int16_t>(d);
    pos.leafdepth = static_cast<int16_t>(d);
    if (used == 0) {
      is_release(b);
      path.offset = path.next = 0;
      if (d != 0) {
        pos.depth = -1;
        return is_damage();
      }
      pos.endflags = END_EMPTY;
      return 0;
    }
    int off = 0, next;
    if (last) {
      off = is_lastentry(area, used, used, &st.curkey, kd);
      next = off < 0 ? -1 : off + st.curkey.entrylen;
    } else {
      next = is_getentry(area, 0, used, &st.curkey, kd);
    }
    is_release(b);
    if (next < 0) {
      pos.depth = -1;
      return is_damage();
    }
    path.offset = static_cast<uint16_t>(off);
    path.next = static_cast<uint16_t>(next);
    if (level == 0) {
      if (last) {
        PutAtEdge(path, BT_FORWARD);
        pos.endflags = END_AFTER_LAST;
      }
      return 0;
    }
    node = static_cast<uint32_t>(st.curkey.pointer);
    --level;
  }
  pos.depth = -1;
  return is_damage();
}

int is_step(const IsamKeyDesc& kd, int dir) {
  IsamPosition& pos = is_state().pos;
  int flag = dir == BT_FORWARD ? END_AFTER_LAST : END_BEFORE_FIRST;
  if (pos.endflags & flag) return pos.endflags;
  pos.endflags = 0;
  if (pos.depth < 0) {
    pos.endflags = static_cast<uint16_t>(flag);
    return flag;
  }
  if (kd.nparts == 0) return StepRecords(dir);
  int r = StepAt(kd, pos.depth, dir);
  if (r < 0) pos.depth = -1;
  return r;
}

int is_refind(const IsamKeyDesc& kd, int readmode) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  if (!(pos.flags & POS_POSITIONED)) return -1;
  if ((pos.flags & POS_CURRENT_DELETED) && readmode == 4) return -1;
  if (pos.depth >= 0 || kd.nparts == 0) return 0;
  IsamKeyEntry k = pos.saved;
  if (is_search(&k, kd, 0, BT_EXACT) < 0) return -1;
  if (pos.endflags != 0 || is_keycompare(st.curkey, pos.saved, kd, 0) != 0 ||
      st.curkey.pointer != pos.saved.pointer) {
    pos.flags &= ~(POS_READ | POS_CURRENT_DELETED);
  }
  return 0;
}

int is_dupstatus(const IsamKeyDesc& kd, int dir) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  if (!(kd.flags & IS_DUPS) || pos.depth < 0) return 0;
  const IsamPathLevel& level = pos.path[pos.depth];
  if ((kd.flags & IS_DUPCOMP) && pos.endflags == 0) {
    if (dir == BT_FORWARD && level.next < level.used) {
      if (st.curkey.flags & KE_NEXT_REPEATS) pos.flags |= POS_DUPLICATE;
      return 0;
    }
    if (dir == BT_BACKWARD && level.offset > 0 && level.offset < level.used) {
      if (st.curkey.flags & KE_REPEATS_PREVIOUS) pos.flags |= POS_DUPLICATE;
      return 0;
    }
  }
  if (pos.endflags == 0 && (kd.flags & kCompressionFlags) == 0 && kd.keylen >= 0 &&
      kd.keylen <= IS_MAXKEYLEN && pos.depth == pos.leafdepth) {
    // Entries of one size: a neighbour in the same leaf is compared where
    // it lies, without stepping there and back.
    int size = FixedSize(kd);
    int at = dir == BT_FORWARD ? level.next : level.offset - size;
    if (at >= 0 && at + size <= level.used && level.offset < level.used) {
      IsamBuffer* b = bt_readnode(level.node, 0);
      if (b == nullptr) return -1;
      bool same = b->used - 2 == level.used &&
                  is_keycmpbytes(b->data + 2 + at, st.curkey.key, kd, 0) == 0;
      bool fits = b->used - 2 == level.used;
      is_release(b);
      if (fits) {
        if (same) pos.flags |= POS_DUPLICATE;
        return 0;
      }
    }
  }
  IsamPosition saved = pos;
  IsamKeyEntry savedkey = st.curkey;
  int r = is_step(kd, dir);
  bool dup = r == 0 && is_keycompare(st.curkey, savedkey, kd, 0) == 0;
  pos = saved;
  st.curkey = savedkey;
  if (r < 0) return -1;
  if (dup) pos.flags |= POS_DUPLICATE;
  return 0;
}

int is_atindexend() {
  const IsamPosition& pos = is_state().pos;
  if (pos.depth < 0) return 0;
  for (int d = 0; d < pos.leafdepth; ++d) {
    if (pos.path[d].next < pos.path[d].used) return 0;
  }
  const IsamPathLevel& leaf = pos.path[pos.leafdepth];
  return leaf.offset >= leaf.used ? 1 : 0;
}

}  // namespace isam
