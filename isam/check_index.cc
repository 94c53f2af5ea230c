// The check of the key descriptions and of every index's B-tree: node and
// record pointers, the order of the keys, and the listing of the nodes.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "isam/bigendian.h"
#include "isam/btree_node.h"
#include "isam/buffer_pool.h"
#include "isam/check.h"
#include "isam/check_state.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "isam/position.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

// (key, duplicate number) of a before b.
bool Before(const IsamKeyEntry& a, const IsamKeyEntry& b, const IsamKeyDesc& kd) {
  int cmp = is_keycompare(a, b, kd, 0);
  return cmp < 0 || (cmp == 0 && a.dupno < b.dupno);
}

void ListKeyPart(const unsigned char* p, const IsamKeyPart& part) {
  switch (part.type & 0xF) {
    case 0:
    case 7: {
      std::string text(reinterpret_cast<const char*>(p), static_cast<size_t>(part.len));
      ck_print("%s ", text.c_str());
      break;
    }
    case 1:
      ck_print("%d ", ld16(p));
      break;
    case 2:
      ck_print("%ld ", static_cast<long>(ld32(p)));
      break;
    case 3: {
      double d;
      std::memcpy(&d, p, sizeof d);
      ck_print("%f ", d);
      break;
    }
    case 4: {
      float f;
      std::memcpy(&f, p, sizeof f);
      ck_print("%f ", static_cast<double>(f));
      break;
    }
    default:
      break;
  }
}

void ListEntry(const IsamKeyEntry& e, const IsamKeyDesc& kd) {
  ck_print("%3o  %4d  %4d  %4ld  %6ld  %4d  %4d  ", e.flags, e.entrylen, e.stored,
           static_cast<long>(e.dupno), static_cast<long>(e.pointer), e.lead, e.trail);
  int off = 0;
  for (int i = 0; i < kd.nparts; ++i) {
    const IsamKeyPart& part = kd.parts[i];
    if (part.len < 0 || off + part.len > IS_MAXKEYLEN) break;
    ListKeyPart(e.key + off, part);
    off += part.len;
  }
  ck_print("\n");
}

struct Walker {
  const IsamKeyDesc& kd;
  IsamKeyEntry prev;
  bool haveprev = false;

  // Whether the entry holds the key of the record it points at, built and
  // compared as an insert and an update do (an update that leaves a key
  // comparing equal keeps the old entry).
  bool KeyOfRecord(const IsamKeyEntry& e, int64_t r) {
    IsamThreadState& st = is_state();
    if (dataread(r, st.recbuf.get()) < 0) {
      st.iserrno = 0;
      st.isiocode = 0;
      return false;
    }
    IsamKeyEntry built;
    is_buildkey(st.recbuf.get(), &built, kd);
    return is_keycompare(built, e, kd, 0) == 0;
  }

  void Order(const IsamKeyEntry& e) {
    if (haveprev && Before(e, prev, kd)) ck().disorder = true;
  }

  // Walks the subtree at node, depth levels below the root; expect is the
  // level byte the node must have (-1 for the root).
  void Walk(int64_t node, int depth, int expect, const IsamKeyEntry* sep) {
    CheckState& c = ck();
    if (node < 1 || node > c.nodecount) {
      ++c.badnodes;
      return;
    }
    if (c.worknodes.Get(node) || c.inuse.Get(node)) {
      ++c.dupnodes;
      return;
    }
    c.worknodes.Set(node);
    ++c.walked;
    if (depth > c.deepest) c.deepest = depth;
    IsamBuffer* b = is_readbuffer(static_cast<uint32_t>(node));
    if (b == nullptr) {
      c.damaged = true;
      ck_print("Error in reading index file\n");
      ck_iserror();
      return;
    }
    std::vector<unsigned char> image(b->data, b->data + c.n);
    int used = b->used;
    int type = b->type;
    int level = b->level;
    is_release(b);
    NodeEntries entries;
    if (used - 2 < 0 || used - 2 > c.n - 5 || type != 0 || level >= IS_MAXLEVELS ||
        (expect >= 0 && level != expect) ||
        bt_decode(image.data() + 2, used - 2, kd, &entries) != 0) {
      is_state().iserrno = 0;
      ck_error("bad b-tree node (%ld) format", static_cast<long>(node));
      c.damaged = true;
      return;
    }
    if (isck_listing != 0) {
      ck_print("btree level: %d, node: %ld, used: %d\n", depth, static_cast<long>(node), used - 2);
      ck_print("flag totln keyln dupnm recptr  leadc tailc key\n");
    }
    size_t count = entries.list.size();
    for (size_t i = 0; i < count; ++i) {
      const IsamKeyEntry& e = entries.list[i];
      if (level > 0) {
        bool last = i + 1 == count;
        if (!last) Order(e);
        Walk(static_cast<uint32_t>(e.pointer), depth + 1, level - 1, last ? sep : &e);
        if (isck_listing != 0) {
          ck_print("btree level: %d\n", depth);
          ListEntry(e, kd);
        }
        continue;
      }
      Order(e);
      prev = e;
      haveprev = true;
      int64_t r = static_cast<uint32_t>(e.pointer);
      if (r < 1 || r > c.reccount || !c.active.Get(r) || !KeyOfRecord(e, r)) {
        ++c.badrecptrs;
      } else if (c.workrecs.Get(r)) {
        ++c.duprecptrs;
      } else {
        c.workrecs.Set(r);
      }
      if (isck_listing != 0) ListEntry(e, kd);
    }
    // A leaf's keys lie at or below the separator that leads to it.
    if (level == 0 && count > 0 && sep != nullptr && Before(*sep, entries.list[count - 1], kd)) {
      c.disorder = true;
    }
  }
};

// Whether an index's root can be made an empty leaf again.
bool RootUsable(int64_t root) {
  CheckState& c = ck();
  return root >= 2 && root <= c.nodecount && !c.inuse.Get(root);
}

void CheckIndex(int i, const IsamKeyDesc& kd) {
  CheckState& c = ck();
  ck_print("Index %d = %s  ", i, (kd.flags & IS_DUPS) ? "duplicates" : "unique key");
  for (int p = 0; p < kd.nparts; ++p) {
    ck_print("(%d,%d,%d) ", kd.parts[p].start, kd.parts[p].len, kd.parts[p].type);
  }
  ck_print("\n");
  c.worknodes.ClearAll();
  c.workrecs.ClearAll();
  c.ResetCounters();
  if (kd.nparts > 0) {
    Walker w{kd, IsamKeyEntry{}};
    w.Walk(kd.root, 0, -1, nullptr);
  }
  ck_print("    %ld index node(s) used -- %d index b-tree level(s) used\n",
           static_cast<long>(c.walked), c.deepest + 1);
  if (kd.nparts == 0) return;
  int64_t missing = 0;
  for (int64_t r = c.active.Next(0); r != 0; r = c.active.Next(r)) {
    if (!c.workrecs.Get(r)) ++missing;
  }
  bool finding = false;
  auto count = [&](int64_t n, const char* text) {
    if (n == 0) return;
    ck_error(text, static_cast<long>(n));
    finding = true;
  };
  count(c.badnodes, "%ld bad index node pointer(s)");
  count(c.dupnodes, "%ld duplicate index node pointer(s)");
  count(c.badrecptrs, "%ld bad data record pointer(s)");
  count(c.duprecptrs, "%ld duplicate data record pointer(s)");
  count(missing, "%ld missing data record pointer(s)");
  if (c.disorder) {
    ck_error("index out of order");
    finding = true;
  }
  auto keepnodes = [&]() {
    for (int64_t n = c.worknodes.Next(0); n != 0; n = c.worknodes.Next(n)) c.inuse.Set(n);
  };
  if (!finding && !c.damaged) {
    keepnodes();
    return;
  }
  if (!ck_ask("Delete index ")) {
    keepnodes();
    return;
  }
  c.actions[static_cast<size_t>(i)] = ACTION_DELETE;
  // Remaking needs the root node to start from again.
  if (RootUsable(kd.root) && ck_ask("Remake index ")) {
    c.actions[static_cast<size_t>(i)] = ACTION_RECREATE;
    c.inuse.Set(kd.root);
    if (kd.root > c.remaderoot) c.remaderoot = kd.root;
  }
}

}  // namespace

int ck_indexes() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  ck_print("Checking indexes and key descriptions.\n");
  int nidx = ld16(st.curfile->header + HDR_NINDEXES);
  int i = 1;
  for (;; ++i) {
    IsamKeyDesc kd = {};
    st.iserrno = 0;
    if (is_findkeydesc(&kd, i, true) < 0) {
      if (st.iserrno == 0) break;
      if (st.iserrno == EBADKEYDESC) {
        st.iserrno = 0;
        ck_error("bad key description format");
      } else {
        // Without every description the nodes of the indexes are unknown.
        ck_iserror();
      }
      return -1;
    }
    IsamKeyDesc checked = kd;
    if (kd.nparts > 0 && is_checkkeydesc(&checked, st.curfile->minlen) != 0) {
      st.iserrno = 0;
      ck_error("bad key description format");
      return -1;
    }
    if (static_cast<size_t>(i) >= c.actions.size()) c.actions.resize(static_cast<size_t>(i) + 1);
    CheckIndex(i, kd);
  }
  if (i != nidx + 1) {
    ck_error("bad number of indexes");
    if (ck_ask("Fix number ")) {
      unsigned char* h = st.curfile->header + HDR_NINDEXES;
      st16(static_cast<uint32_t>(i - 1), h);
      is_headerdirty();
    }
  }
  return 0;
}

}  // namespace isam
