// An index node:
//
//   bytes    content
//   0-1      bytes used, counting these two (bit 15 ignored)
//   2...     key entries (key_entry.cc), at most node size field - 4 bytes
//   N-3      type byte: 0
//   N-2      level: 0 for a leaf, one more per level above (bit 7 ignored)
//   N-1      not used

#include "isam/btree_node.h"

#include <cstring>

#include "isam/thread_state.h"

namespace isam {

int bt_arealimit() { return is_state().curfile->nodesize - 4; }

IsamBuffer* bt_readnode(uint32_t node, int level) {
  if (node < 2 || node > is_lastnode()) {
    is_damage();
    return nullptr;
  }
  IsamBuffer* b = is_readbuffer(node);
  if (b == nullptr) return nullptr;
  if (b->type != 0 || b->used < 2 || b->used - 2 > bt_arealimit() ||
      (level >= 0 && b->level != level)) {
    is_release(b);
    is_damage();
    return nullptr;
  }
  return b;
}

int bt_decode(const unsigned char* area, int used, const IsamKeyDesc& kd, NodeEntries* out) {
  out->list.clear();
  out->offsets.clear();
  IsamKeyEntry e;
  for (int off = 0; off < used;) {
    int next = is_getentry(area, off, used, &e, kd);
    if (next < 0) return is_damage();
    out->list.push_back(e);
    out->offsets.push_back(off);
    off = next;
  }
  return 0;
}

int bt_layout(const std::vector<IsamKeyEntry>& list, int from, int to, unsigned char* area,
              const IsamKeyDesc& kd, bool forcelast) {
  IsamKeyEntry prev;
  IsamKeyEntry e;
  int off = 0;
  for (int i = from; i < to; ++i) {
    e = list[static_cast<size_t>(i)];
    e.flags &= ~KE_NEXT_REPEATS;
    int mode = i == from ? KC_FIRST : (forcelast && i == to - 1 ? KC_FORCEDUP : KC_NORMAL);
    is_compress(&prev, &e, kd, mode);
    if (area != nullptr) {
      is_putentry(e, area, off, kd);
    }
    off += e.entrylen;
    prev = e;
  }
  return off;
}

void bt_store(IsamBuffer* b, const unsigned char* image, int bytes, int level) {
  std::memset(b->data + 2, 0, static_cast<size_t>(bt_arealimit()));
  std::memcpy(b->data + 2, image, static_cast<size_t>(bytes));
  is_nodesetused(b, static_cast<uint16_t>(bytes + 2));
  is_nodesettype(b, 0);
  is_nodesetlevel(b, static_cast<unsigned char>(level));
  is_releasedirty(b);
}

}  // namespace isam
