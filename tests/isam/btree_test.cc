// The B-tree of an index: its edge cases, and a long random run against an
// ordered model with structural checks after every split and node free.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::IsamKeyEntry;
using isam::is_state;

IsamKeyDesc Desc(int flags, std::vector<IsamKeyPart> parts) {
  IsamKeyDesc kd{};
  kd.flags = static_cast<int16_t>(flags);
  kd.nparts = static_cast<int16_t>(parts.size());
  for (size_t i = 0; i < parts.size(); ++i) kd.parts[i] = parts[i];
  return kd;
}

struct Entry {
  std::string key;
  int32_t dupno;
  int32_t rec;
};

class BtreeTest : public PairTest {
 protected:
  void Build(IsamKeyDesc kd, int reclen = 200, const std::string& name = "bt") {
    sf_ = Make(name, reclen);
    ASSERT_NE(sf_, nullptr) << Errno();
    kd_ = kd;
    ASSERT_EQ(isam::is_addkeydesc(&kd_), 0) << Errno();
    root_ = kd_.root;
  }

  IsamKeyEntry Key(const std::string& key, int32_t rec = 0) const {
    IsamKeyEntry e;
    std::memcpy(e.key, key.data(), std::min<size_t>(key.size(), IS_MAXKEYLEN));
    e.pointer = rec;
    return e;
  }
  std::string KeyOf(const IsamKeyEntry& e) const {
    return std::string(reinterpret_cast<const char*>(e.key), static_cast<size_t>(kd_.keylen));
  }

  int Insert(const std::string& key, int32_t rec, int32_t* dupno = nullptr) {
    IsamKeyEntry e = Key(key, rec);
    int rc = isam::is_insertkey(&e, kd_);
    if (dupno != nullptr) *dupno = e.dupno;
    return rc;
  }
  int Delete(const std::string& key, int32_t rec) {
    return isam::is_deletekey(Key(key, rec), kd_);
  }

  // The current entry, or nullptr at an end.
  const IsamKeyEntry* Current() const {
    const isam::IsamPosition& pos = is_state().pos;
    return pos.endflags != 0 || pos.depth < 0 ? nullptr : &is_state().curkey;
  }

  std::vector<Entry> Forward() {
    std::vector<Entry> out;
    EXPECT_EQ(isam::is_firstlast(kd_, 0), 0);
    for (const IsamKeyEntry* c = Current(); c != nullptr;) {
      out.push_back({KeyOf(*c), c->dupno, c->pointer});
      if (isam::is_step(kd_, isam::BT_FORWARD) != 0) break;
    }
    return out;
  }

  struct Shape {
    int height = -1;
    std::vector<std::vector<int>> fill;  // bytes used per node, per level from the root
    int nodes = 0;
  };

  int Compare(const Entry& a, const Entry& b) const {
    int c = isam::is_keycompare(Key(a.key), Key(b.key), kd_, 0);
    if (c != 0 || !(kd_.flags & IS_DUPS)) return c;
    return a.dupno < b.dupno ? -1 : a.dupno > b.dupno;
  }

  // Walks the tree from the root, checking levels, fill and order; the
  // leaf entries in order go to *leaves.
  void Walk(uint32_t node, int level, int depth, Shape* shape, std::vector<Entry>* leaves,
            const Entry* high) {
    ASSERT_LT(depth, isam::IS_MAXLEVELS);
    isam::IsamBuffer* b = isam::is_readbuffer(node);
    ASSERT_NE(b, nullptr) << node;
    int used = b->used - 2;
    int nodelevel = b->level;
    std::vector<unsigned char> area(b->data + 2, b->data + 2 + used);
    isam::is_release(b);
    if (level >= 0) {
      ASSERT_EQ(nodelevel, level) << "node " << node;
    } else {
      shape->height = nodelevel + 1;
    }
    ASSERT_LE(used, isam::bt_arealimit());
    if (depth > 0) {
      ASSERT_GT(used, 0) << "empty node " << node << " below the root";
    }
    if (static_cast<int>(shape->fill.size()) <= depth) shape->fill.resize(depth + 1);
    shape->fill[depth].push_back(used);
    shape->nodes++;
    isam::NodeEntries entries;
    ASSERT_EQ(isam::bt_decode(area.data(), used, kd_, &entries), 0);
    for (size_t i = 0; i < entries.list.size(); ++i) {
      const IsamKeyEntry& e = entries.list[i];
      Entry ent{KeyOf(e), e.dupno, e.pointer};
      bool last = i + 1 == entries.list.size();
      if (nodelevel == 0) {
        if (!leaves->empty()) {
          ASSERT_LT(Compare(leaves->back(), ent), 0) << "order at node " << node;
        }
        if (high != nullptr) {
          ASSERT_LE(Compare(ent, *high), 0) << "above the separator at node " << node;
        }
        leaves->push_back(ent);
      } else {
        const Entry* bound = last ? high : &ent;
        Walk(static_cast<uint32_t>(e.pointer), nodelevel - 1, depth + 1, shape, leaves, bound);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }

  Shape Check(std::vector<Entry>* leaves) {
    Shape shape;
    EXPECT_EQ(kd_.root, root_);
    Walk(static_cast<uint32_t>(kd_.root), -1, 0, &shape, leaves, nullptr);
    return shape;
  }

  isam::IsamSharedFile* sf_ = nullptr;
  IsamKeyDesc kd_{};
  int64_t root_ = 0;
};

std::string Num(int i, int width) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%0*d", width, i);
  return buf;
}

TEST_F(BtreeTest, AscendingInsertsFillLeftNodesAndKeepTheRoot) {
  Build(Desc(0, {{0, 40, 0}}));
  for (int i = 0; i < 700; ++i) ASSERT_EQ(Insert(Num(i, 40), i + 1), 0) << i << " errno " << Errno() << " io " << is_state().isiocode;
  std::vector<Entry> leaves;
  Shape shape = Check(&leaves);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(leaves.size(), 700u);
  EXPECT_EQ(shape.height, 3);
  // Every leaf but the last is full: no further 44-byte entry fits.
  const std::vector<int>& leaf = shape.fill.back();
  for (size_t i = 0; i + 1 < leaf.size(); ++i) EXPECT_GT(leaf[i] + 44, 1019) << i;
  for (int i = 0; i < 700; ++i) EXPECT_EQ(leaves[i].rec, i + 1);
}

TEST_F(BtreeTest, RandomInsertsSplitNearTheMiddle) {
  Build(Desc(0, {{0, 40, 0}}));
  std::mt19937 rng(7);
  std::vector<int> order(400);
  for (int i = 0; i < 400; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int i : order) ASSERT_EQ(Insert(Num(i, 40), i + 1), 0);
  std::vector<Entry> leaves;
  Shape shape = Check(&leaves);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(leaves.size(), 400u);
  for (int used : shape.fill.back()) EXPECT_GE(used, 44 * 11) << "a leaf below half full";
}

TEST_F(BtreeTest, RootSplitRaisesTheLevel) {
  Build(Desc(0, {{0, 100, 0}}));
  int i = 0;
  while (Check(&*std::make_unique<std::vector<Entry>>()).height == 1) {
    ASSERT_EQ(Insert(Num(i, 100), i + 1), 0);
    ++i;
  }
  EXPECT_EQ(i, 10);  // nine 104-byte entries fill a node
  isam::IsamBuffer* b = isam::is_readbuffer(static_cast<uint32_t>(root_));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->level, 1);
  EXPECT_EQ(b->used, 2 + 2 * 104);
  isam::is_release(b);
  IsamKeyDesc stored{};
  ASSERT_EQ(isam::is_findkeydesc(&stored, 1), 1);
  EXPECT_EQ(stored.root, root_);
}

TEST_F(BtreeTest, DuplicatesAreNumberedInOrder) {
  Build(Desc(IS_DUPS | IS_DUPCOMP, {{0, 4, 0}}));
  for (int rec : {10, 20, 30}) {
    int32_t dupno = -1;
    ASSERT_EQ(Insert("same", rec, &dupno), 0);
    EXPECT_EQ(dupno, rec / 10 - 1);
  }
  ASSERT_EQ(Insert("samf", 40), 0);
  std::vector<Entry> all = Forward();
  ASSERT_EQ(all.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(all[i].dupno, i);
    EXPECT_EQ(all[i].rec, (i + 1) * 10);
  }
  // The duplicate flag from the entry's neighbours.
  IsamKeyEntry k = Key("same");
  ASSERT_GE(isam::is_search(&k, kd_, 0, isam::BT_EXACT), 0);
  is_state().pos.flags = 0;
  ASSERT_EQ(isam::is_dupstatus(kd_, isam::BT_FORWARD), 0);
  EXPECT_TRUE(is_state().pos.flags & isam::POS_DUPLICATE);
  is_state().pos.flags = 0;
  ASSERT_EQ(isam::is_dupstatus(kd_, isam::BT_BACKWARD), 0);
  EXPECT_FALSE(is_state().pos.flags & isam::POS_DUPLICATE);
}

TEST_F(BtreeTest, EqualKeyAtTheEndOfThePreviousLeafIsFound) {
  for (int flags : {0, static_cast<int>(IS_DUPS)}) {
    SCOPED_TRACE(flags);
    Build(Desc(flags, {{0, 100, 0}}), 200, "bt" + std::to_string(flags));
    // Ascending inserts put the leaf boundary right after key 8.
    for (int i = 0; i < 12; ++i) ASSERT_EQ(Insert(Num(i * 2, 100), i + 1), 0);
    std::vector<Entry> leaves;
    Shape shape = Check(&leaves);
    ASSERT_EQ(shape.fill.size(), 2u);
    int boundary = shape.fill[1][0] / 104;  // entries in the first leaf
    std::string twin = Num((boundary - 1) * 2, 100);
    int32_t dupno = -1;
    int rc = Insert(twin, 99, &dupno);
    if (flags & IS_DUPS) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(dupno, 1);
    } else {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(Errno(), EDUPLICATE);
    }
  }
}

TEST_F(BtreeTest, DeletingEveryKeyLeavesAnEmptyRootLeaf) {
  Build(Desc(IS_DUPS | IS_LEADCOMP, {{0, 60, 0}}));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Insert(Num(i % 97, 60), i + 1), 0);
  EXPECT_EQ(Delete(Num(5, 60), 7), -1);
  EXPECT_EQ(Errno(), ENORECORD);
  EXPECT_EQ(Delete(Num(500, 60), 1), -1);
  EXPECT_EQ(Errno(), ENORECORD);
  uint32_t lastnode = isam::is_hdrget32(isam::HDR_LASTNODE);
  for (int i = 299; i >= 0; i -= 2) ASSERT_EQ(Delete(Num(i % 97, 60), i + 1), 0) << i;
  for (int i = 0; i < 300; i += 2) ASSERT_EQ(Delete(Num(i % 97, 60), i + 1), 0) << i;
  isam::IsamBuffer* b = isam::is_readbuffer(static_cast<uint32_t>(root_));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->used, 2);
  EXPECT_EQ(b->level, 0);
  isam::is_release(b);
  IsamKeyEntry k = Key("x");
  EXPECT_EQ(isam::is_search(&k, kd_, 0, isam::BT_EXACT), 0);
  EXPECT_EQ(is_state().pos.endflags, isam::END_EMPTY);
  EXPECT_EQ(isam::is_firstlast(kd_, 0), 0);
  EXPECT_EQ(is_state().pos.endflags, isam::END_EMPTY);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_FORWARD), isam::END_EMPTY);
  // Every other node went back to the free-node list and is used again.
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Insert(Num(i % 97, 60), i + 1), 0);
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_LASTNODE), lastnode);
}

TEST_F(BtreeTest, SteppingOffEitherEndAndBack) {
  Build(Desc(0, {{0, 4, 2}}));
  for (int i = 1; i <= 300; ++i) {
    std::string k(4, '\0');
    isam::st32(static_cast<uint32_t>(i), reinterpret_cast<unsigned char*>(k.data()));
    ASSERT_EQ(Insert(k, i), 0);
  }
  ASSERT_EQ(isam::is_firstlast(kd_, 0), 0);
  EXPECT_EQ(is_state().curkey.pointer, 1);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), isam::END_BEFORE_FIRST);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), isam::END_BEFORE_FIRST);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_FORWARD), 0);
  EXPECT_EQ(is_state().curkey.pointer, 1);
  ASSERT_EQ(isam::is_firstlast(kd_, 1), 0);
  EXPECT_EQ(is_state().pos.endflags, isam::END_AFTER_LAST);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_FORWARD), isam::END_AFTER_LAST);
  EXPECT_EQ(isam::is_atindexend(), 1);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), 0);
  EXPECT_EQ(is_state().curkey.pointer, 300);
  for (int i = 299; i >= 1; --i) {
    ASSERT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), 0);
    ASSERT_EQ(is_state().curkey.pointer, i);
  }
}

TEST_F(BtreeTest, RecordNumberOrderSteps) {
  Build(Desc(0, {}));
  isam::is_hdrput32(isam::HDR_LASTREC, 3);
  is_state().pos.depth = 0;
  is_state().pos.endflags = 0;
  is_state().curkey.pointer = 2;
  EXPECT_EQ(isam::is_step(kd_, isam::BT_FORWARD), 0);
  EXPECT_EQ(is_state().curkey.pointer, 3);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_FORWARD), isam::END_AFTER_LAST);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), 0);
  EXPECT_EQ(is_state().curkey.pointer, 2);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), 0);
  EXPECT_EQ(isam::is_step(kd_, isam::BT_BACKWARD), isam::END_BEFORE_FIRST);
  IsamKeyEntry e = Key("", 5);
  EXPECT_EQ(isam::is_insertkey(&e, kd_), 0);
  EXPECT_EQ(isam::is_deletekey(e, kd_), 0);
}

TEST_F(BtreeTest, DamagedTreesAreRefused) {
  Build(Desc(0, {{0, 100, 0}}));
  for (int i = 0; i < 30; ++i) ASSERT_EQ(Insert(Num(i, 100), i + 1), 0);
  isam::IsamBuffer* b = isam::is_readbuffer(static_cast<uint32_t>(root_));
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->level, 1);
  std::vector<unsigned char> saved(b->data, b->data + 1024);
  struct Case {
    const char* what;
    void (*damage)(isam::IsamBuffer* b, uint32_t root);
  } cases[] = {
      {"child points at the root", [](isam::IsamBuffer* b, uint32_t root) {
         for (int off = 100; off < b->used - 2; off += 104) isam::st32(root, b->data + 2 + off);
       }},
      {"root level beyond the path", [](isam::IsamBuffer* b, uint32_t) {
         isam::is_nodesetlevel(b, 12);
       }},
      {"counts overrunning the key", [](isam::IsamBuffer* b, uint32_t) {
         isam::is_nodesetused(b, 2 + 50);
       }},
  };
  isam::is_release(b);
  for (const Case& c : cases) {
    b = isam::is_readbuffer(static_cast<uint32_t>(root_));
    ASSERT_NE(b, nullptr);
    c.damage(b, static_cast<uint32_t>(root_));
    isam::is_releasedirty(b);
    is_state().iserrno = 0;
    IsamKeyEntry k = Key(Num(25, 100));
    EXPECT_EQ(isam::is_search(&k, kd_, 0, isam::BT_EXACT), -1) << c.what;
    EXPECT_EQ(Errno(), EBADFILE) << c.what;
    EXPECT_EQ(is_state().pos.depth, -1);
    is_state().iserrno = 0;
    EXPECT_EQ(Insert(Num(99, 100), 99), -1) << c.what;
    EXPECT_EQ(Errno(), EBADFILE) << c.what;
    b = isam::is_readbuffer(static_cast<uint32_t>(root_));
    ASSERT_NE(b, nullptr);
    std::memcpy(b->data, saved.data(), 1024);
    isam::is_nodesetused(b, isam::ldu16(saved.data()));
    isam::is_nodesetlevel(b, 1);
    isam::is_releasedirty(b);
  }
  std::vector<Entry> leaves;
  Check(&leaves);
  EXPECT_EQ(leaves.size(), 30u);
}

}  // namespace
}  // namespace isamtest
