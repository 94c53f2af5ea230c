// Insert into a B-tree. A node's entries are decoded, the new one put in
// place and the node laid out afresh; when it no longer fits, it splits:
// the entries up to the split entry go to a new node (the left half), the
// rest stay in the old node (the right half), and a separator with the
// split entry's key, pointing to the new node, goes one level up. The root
// keeps its node number: when it splits, both halves move to new nodes and
// the root gets the two entries that point to them, one level higher.

#include <cstring>

#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {
namespace {

int MaxEntry(const IsamKeyDesc& kd) {
  return kd.keylen + 2 + (kd.flags & IS_DUPS ? is_dupwidth() : 0) + 4;
}

int IndexOf(const NodeEntries& node, int offset) {
  for (size_t i = 0; i < node.offsets.size(); ++i) {
    if (node.offsets[i] == offset) return static_cast<int>(i);
  }
  return offset >= 0 && node.list.empty() ? 0 : -1;
}

// Writes an image to a node taken from the free-node list, at once.
int WriteNewNode(uint32_t node, const unsigned char* image, int bytes, int level) {
  IsamBuffer* b = is_newbuffer(node);
  if (b == nullptr) return -1;
  bt_store(b, image, bytes, level);
  b = is_getbuffer(node);
  if (b == nullptr) return -1;
  return is_writebuffer(b);
}

}  // namespace

namespace {

// Entries of an index without compression all have one size, so an entry
// that fits is put in place without laying the node out afresh. True when
// done (the buffer is released modified); false leaves b to the caller.
bool PutFixedSize(IsamBuffer* b, int used, int at, const IsamKeyEntry& ins,
                  const IsamKeyDesc& kd, int level, int limit) {
  if ((kd.flags & kCompressionFlags) != 0) return false;
  IsamKeyEntry e = ins, none;
  e.flags = 0;
  is_compress(&none, &e, kd, KC_FIRST);
  int size = e.entrylen;
  if (size <= 0 || used % size != 0 || used + size > limit) return false;
  int off = at >= used ? used : at;
  if (off % size != 0) return false;
  unsigned char* area = b->data + 2;
  if (level > 0 && off == used - size) {
    // The key of a branch node's last entry is never searched; when the
    // new entry goes before it, it takes the new key.
    IsamKeyEntry last;
    if (is_getentry(area, off, used, &last, kd) < 0) return false;
    std::memcpy(last.key, ins.key, IS_MAXKEYLEN);
    is_compress(&none, &last, kd, KC_FIRST);
    is_putentry(last, area, off, kd);
  }
  std::memmove(area + off + size, area + off, static_cast<size_t>(used - off));
  is_putentry(e, area, off, kd);
  is_nodesetused(b, static_cast<uint16_t>(used + size + 2));
  is_releasedirty(b);
  return true;
}

}  // namespace

int is_insertentry(const IsamKeyEntry& e, const IsamKeyDesc& kd) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  thread_local NodeEntries node;
  unsigned char left[kBlockSize];
  unsigned char right[kBlockSize];
  int limit = bt_arealimit();
  IsamKeyEntry ins = e;
  for (int d = pos.depth; d >= 0; --d) {
    IsamPathLevel& path = pos.path[d];
    int level = pos.leafdepth - d;
    IsamBuffer* b = bt_readnode(path.node, level);
    if (b == nullptr) return -1;
    int used = b->used - 2;
    if (PutFixedSize(b, used, path.offset, ins, kd, level, limit)) return 0;
    if (bt_decode(b->data + 2, used, kd, &node) != 0) {
      is_release(b);
      return -1;
    }
    int at = path.offset >= used ? static_cast<int>(node.list.size()) : IndexOf(node, path.offset);
    if (at < 0) {
      is_release(b);
      return is_damage();
    }
    // The key of a branch node's last entry is never searched; when the
    // new entry goes before it, it takes the new key.
    if (level > 0 && at == static_cast<int>(node.list.size()) - 1) {
      std::memcpy(node.list[static_cast<size_t>(at)].key, ins.key, IS_MAXKEYLEN);
    }
    ins.flags = 0;
    node.list.insert(node.list.begin() + at, ins);
    int count = static_cast<int>(node.list.size());
    int total = bt_layout(node.list, 0, count, nullptr, kd, false);
    if (total <= limit) {
      bt_layout(node.list, 0, count, left, kd, false);
      bt_store(b, left, total, level);
      return 0;
    }
    is_release(b);

    // Split: the first entry whose end reaches the middle, or, when
    // appending after the last key of the index, the last old entry.
    int split;
    if (level == 0 && at == count - 1 && is_atindexend()) {
      split = count - 2;
    } else {
      int half = limit / 2;
      split = 0;
      for (int end = 0; split < count; ++split) {
        end = bt_layout(node.list, 0, split + 1, nullptr, kd, false);
        if (end >= half) break;
      }
      if (split > count - 2) split = count - 2;
    }
    int lbytes = bt_layout(node.list, 0, split + 1, nullptr, kd, level > 0);
    int rbytes = bt_layout(node.list, split + 1, count, nullptr, kd, false);
    if (lbytes > limit || rbytes > limit) return is_damage();
    bt_layout(node.list, 0, split + 1, left, kd, level > 0);
    bt_layout(node.list, split + 1, count, right, kd, false);
    int64_t fresh = freetake(FREE_NODE);
    if (fresh < 0) return -1;
    if (WriteNewNode(static_cast<uint32_t>(fresh), left, lbytes, level) != 0) return -1;
    IsamKeyEntry sep = node.list[static_cast<size_t>(split)];
    sep.flags = 0;
    sep.pointer = static_cast<int32_t>(fresh);
    if (d == 0) {
      if (level + 1 >= IS_MAXLEVELS) return is_fail(EFBIG);
      int64_t moved = freetake(FREE_NODE);
      if (moved < 0) return -1;
      if (WriteNewNode(static_cast<uint32_t>(moved), right, rbytes, level) != 0) return -1;
      IsamKeyEntry to_right = sep;
      to_right.pointer = static_cast<int32_t>(moved);
      std::vector<IsamKeyEntry> root{sep, to_right};
      int bytes = bt_layout(root, 0, 2, left, kd, true);
      b = bt_readnode(path.node, level);
      if (b == nullptr) return -1;
      bt_store(b, left, bytes, level + 1);
      return 0;
    }
    b = bt_readnode(path.node, level);
    if (b == nullptr) return -1;
    bt_store(b, right, rbytes, level);
    ins = sep;
  }
  return 0;
}

int is_insertkey(IsamKeyEntry* e, const IsamKeyDesc& kd) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  if (kd.nparts == 0) {
    pos.depth = -1;
    return 0;
  }
  IsamKeyEntry k = *e;
  k.flags = 0;
  int rc = 0;
  if (is_search(&k, kd, 0, BT_INSERT) < 0) {
    rc = -1;
  } else if (pos.path[pos.leafdepth].offset == 0 && pos.endflags != END_EMPTY) {
    // At the start of a leaf the entry before lies in the previous leaf:
    // an equal key there counts as well.
    int r = is_step(kd, BT_BACKWARD);
    if (r == 0 && is_keycompare(st.curkey, k, kd, 0) == 0) {
      if (!(kd.flags & IS_DUPS)) {
        rc = is_fail(EDUPLICATE);
      } else {
        pos.flags |= POS_DUPLICATE;
        if (k.dupno <= st.curkey.dupno) k.dupno = st.curkey.dupno + 1;
      }
    }
    if (r < 0 || (rc == 0 && is_step(kd, BT_FORWARD) < 0)) rc = -1;
  }
  if (rc == 0 && pos.leafdepth >= IS_MAXLEVELS - 1) {
    // A tree of the deepest height takes an entry only while its root
    // could take a separator without splitting.
    IsamBuffer* root = bt_readnode(static_cast<uint32_t>(kd.root), -1);
    if (root == nullptr) {
      rc = -1;
    } else {
      int room = bt_arealimit() - (root->used - 2);
      is_release(root);
      if (room < 2 * MaxEntry(kd)) rc = is_fail(EFBIG);
    }
  }
  if (rc == 0) {
    pos.depth = pos.leafdepth;
    rc = is_insertentry(k, kd);
    if (rc == 0) e->dupno = (kd.flags & IS_DUPS) ? k.dupno : 0;
  }
  pos.depth = -1;
  return rc;
}

}  // namespace isam
