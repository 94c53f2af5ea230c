// Delete from a B-tree. The entry is taken out of its node and the node
// laid out afresh. A node left without entries is freed and its entry
// removed from the level above; the root is never freed and becomes an
// empty leaf. Nodes that still hold entries are neither merged nor
// rebalanced, and separators above stay as they are.

#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

int is_removeentry(const IsamKeyDesc& kd) {
  IsamPosition& pos = is_state().pos;
  thread_local NodeEntries node;
  unsigned char image[kBlockSize];
  for (int d = pos.depth; d >= 0; --d) {
    IsamPathLevel& path = pos.path[d];
    int level = pos.leafdepth - d;
    IsamBuffer* b = bt_readnode(path.node, level);
    if (b == nullptr) return -1;
    if (bt_decode(b->data + 2, b->used - 2, kd, &node) != 0) {
      is_release(b);
      return -1;
    }
    int at = -1;
    for (size_t i = 0; i < node.offsets.size(); ++i) {
      if (node.offsets[i] == path.offset) at = static_cast<int>(i);
    }
    if (at < 0) {
      is_release(b);
      return is_damage();
    }
    node.list.erase(node.list.begin() + at);
    int count = static_cast<int>(node.list.size());
    if (count > 0) {
      int bytes = bt_layout(node.list, 0, count, image, kd, false);
      bt_store(b, image, bytes, level);
      return 0;
    }
    bt_store(b, image, 0, 0);
    if (d == 0) return 0;
    if (freeput(path.node, FREE_NODE) != 0) return -1;
  }
  return 0;
}

int is_deletekey(const IsamKeyEntry& e, const IsamKeyDesc& kd) {
  IsamThreadState& st = is_state();
  IsamPosition& pos = st.pos;
  if (kd.nparts == 0) return 0;
  IsamKeyEntry k = e;
  k.dupno = 0;
  int rc = 0;
  if (is_search(&k, kd, 0, BT_EXACT) < 0) {
    rc = -1;
  } else {
    for (;;) {
      if (pos.endflags != 0 || is_keycompare(st.curkey, e, kd, 0) != 0) {
        rc = is_fail(ENORECORD);
        break;
      }
      if (st.curkey.pointer == e.pointer) {
        pos.depth = pos.leafdepth;
        rc = is_removeentry(kd);
        break;
      }
      if (is_step(kd, BT_FORWARD) < 0) {
        rc = -1;
        break;
      }
    }
  }
  pos.depth = -1;
  return rc;
}

}  // namespace isam
