// The repairs the check utility makes when the operator agrees: the free
// lists made afresh, and indexes deleted or remade from the records.

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/buffer_pool.h"
#include "isam/check_state.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "isam/records.h"
#include "isam/tail_page.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

void RebuildNodeList() {
  CheckState& c = ck();
  ck_print("Recreating index node free list.\n");
  // A node past the end of the ".idx" file holds nothing that could be
  // kept: the last node number is the highest in use inside the file, or
  // the root of an index to be remade.
  int64_t highest = c.inuse.Last(c.filenodes);
  if (c.remaderoot > highest) highest = c.remaderoot;
  if (highest < 1) highest = 1;
  is_hdrput32(HDR_LASTNODE, static_cast<uint32_t>(highest));
  is_hdrput32(HDR_FREENODES, 0);
  for (int64_t n = highest - 1; n >= 2; --n) {
    if (c.inuse.Get(n)) continue;
    if (freeput(n, FREE_NODE) != 0) {
      ck_iserror();
      return;
    }
  }
}

void RebuildSpaceLists() {
  CheckState& c = ck();
  for (int cls = 0; cls <= 4; ++cls) is_hdrput32(HDR_CLASSHEADS + 4 * cls, 0);
  for (int64_t n = c.tails.Next(0); n != 0; n = c.tails.Next(n)) {
    IsamBuffer* g = tailpage(static_cast<uint32_t>(n));
    if (g == nullptr) {
      ck_error("Rpage read failed while making variable length storage free lists.");
      ck_iserror();
      continue;
    }
    if (pagereset(g) != 0) {
      ck_error("Addition failed while making variable length storage free lists.");
      ck_iserror();
    }
  }
}

void RebuildRecordList() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  ck_print("Recreating data record free list.\n");
  int64_t highest = c.active.Last(c.reccount);
  // Slots still marked active whose records cannot be read are cleared, so
  // that every active slot can be read and the numbers on the list are free
  // in the data file too. What they held is lost already.
  for (int64_t r = c.badrecs.Next(0); r != 0; r = c.badrecs.Next(r)) {
    ck_print("Clearing unreadable data record %ld; its contents are lost.\n", static_cast<long>(r));
    if (datadrop(r) != 0) ck_iserror();
  }
  is_hdrput32(HDR_LASTREC, static_cast<uint32_t>(highest));
  is_hdrput32(HDR_FREERECS, 0);
  for (int64_t r = highest - 1; r >= 1; --r) {
    if (c.active.Get(r)) continue;
    if (freeput(r, FREE_RECORD) != 0) {
      ck_iserror();
      return;
    }
  }
  st.iserrno = 0;
}

void DeleteIndex(int i) {
  ck_print("Deleting index %d.\n", i);
  IsamKeyDesc kd = {};
  if (is_findkeydesc(&kd, i) < 0 || is_delkeydesc(&kd) != 0) {
    if (is_state().iserrno == 0) is_state().iserrno = EBADKEYDESC;
    ck_iserror();
  }
}

void RecreateIndex(int i) {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  ck_print("Recreating index %d.\n", i);
  IsamKeyDesc kd = {};
  st.iserrno = 0;
  if (is_findkeydesc(&kd, i) < 0) {
    st.iserrno = 0;
    ck_error("cannot find key for index");
    return;
  }
  IsamBuffer* root = is_newbuffer(static_cast<uint32_t>(kd.root));
  if (root == nullptr) {
    ck_iserror();
    return;
  }
  is_nodesetused(root, 2);
  is_nodesettype(root, 0);
  is_nodesetlevel(root, 0);
  is_releasedirty(root);
  for (int64_t r = c.active.Next(0); r != 0; r = c.active.Next(r)) {
    st.iserrno = 0;
    if (dataread(r, st.recbuf.get()) < 0) {
      ck_iserror();
      continue;
    }
    IsamKeyEntry e;
    is_buildkey(st.recbuf.get(), &e, kd);
    e.pointer = static_cast<int32_t>(r);
    if (is_insertkey(&e, kd) != 0) {
      if (st.iserrno == EDUPLICATE) {
        st.iserrno = 0;
        ck_error("duplicate key value, record %ld", static_cast<long>(r));
      } else {
        ck_iserror();
      }
    }
  }
  st.pos.depth = -1;
}

}  // namespace

void ck_repairs() {
  CheckState& c = ck();
  if (c.noderepair == REPAIR_CHOSEN) {
    RebuildNodeList();
    c.nodelistunsafe = false;
  }
  // The other repairs take nodes from the free-node list: a list known to
  // hand out nodes in use is not drawn on.
  if (c.nodelistunsafe && (c.spacerepair == REPAIR_CHOSEN || c.recrepair == REPAIR_CHOSEN)) {
    ck_error("index node free list is damaged: other free lists not recreated.");
    return;
  }
  if (c.spacerepair == REPAIR_CHOSEN) RebuildSpaceLists();
  if (c.recrepair == REPAIR_CHOSEN) RebuildRecordList();
}

void ck_indexactions() {
  CheckState& c = ck();
  for (size_t i = c.actions.size(); i-- > 1;) {
    if (c.actions[i] == ACTION_NONE) continue;
    if (c.actions[i] == ACTION_RECREATE && c.nodelistunsafe) {
      ck_error("index node free list is damaged: index %d not remade.", static_cast<int>(i));
      continue;
    }
    if (c.actions[i] == ACTION_DELETE) DeleteIndex(static_cast<int>(i));
    if (c.actions[i] == ACTION_RECREATE) RecreateIndex(static_cast<int>(i));
  }
}

}  // namespace isam
