// The B-tree of an index: its edge cases, and a long random run against an
// ordered model with structural checks after every split and node free.

#include <unistd.h>

#include <chrono>
#include <tuple>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/btree_node.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "isam/records.h"
#include "tests/isam/check_fixture.h"
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
  isam::is_hdrput32(isam::HDR_LASTREC, 5);
  // The ".dat" file reaches three slots of 201 bytes: the numbers past them
  // hold no record, and a step forward from the third ends there.
  ASSERT_EQ(ftruncate(sf_->datfd, 3 * 201), 0);
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


// The model: entries ordered by (key, duplicate number) under the index's
// own key comparison; a probe compares over its first n key bytes only.
struct ModelKey {
  std::string key;
  int32_t dupno;
};
struct Probe {
  const std::string* key;
  int n;
};
const IsamKeyDesc* g_kd = nullptr;
int KeyCmp(const std::string& a, const std::string& b, int n) {
  IsamKeyEntry x, y;
  std::memcpy(x.key, a.data(), a.size());
  std::memcpy(y.key, b.data(), b.size());
  return isam::is_keycompare(x, y, *g_kd, n);
}
struct ModelLess {
  using is_transparent = void;
  bool operator()(const ModelKey& a, const ModelKey& b) const {
    int c = KeyCmp(a.key, b.key, 0);
    return c != 0 ? c < 0 : a.dupno < b.dupno;
  }
  bool operator()(const ModelKey& a, const Probe& p) const { return KeyCmp(a.key, *p.key, p.n) < 0; }
  bool operator()(const Probe& p, const ModelKey& a) const { return KeyCmp(a.key, *p.key, p.n) > 0; }
};
using Model = std::multimap<ModelKey, int32_t, ModelLess>;

struct Config {
  const char* name;
  int flags;
  std::vector<IsamKeyPart> parts;
  int ops;
};

class BtreeModelTest : public BtreeTest, public ::testing::WithParamInterface<Config> {};

TEST_P(BtreeModelTest, AgreesWithAnOrderedModel) {
  const Config& cfg = GetParam();
  Build(Desc(cfg.flags, cfg.parts));
  g_kd = &kd_;
  const bool dups = cfg.flags & IS_DUPS;
  const int keylen = kd_.keylen;
  unsigned seed = static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
  if (const char* s = std::getenv("BTREE_SEED")) seed = static_cast<unsigned>(std::atoi(s));
  std::printf("%s: seed %u (BTREE_SEED reruns it)\n", cfg.name, seed);
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

  // A pool of distinct keys: character parts of letters and blanks (for
  // both compressions), numbers from a small range.
  std::vector<std::string> pool;
  for (int i = 0; i < 600; ++i) {
    std::string k;
    for (int p = 0; p < kd_.nparts; ++p) {
      const IsamKeyPart& part = kd_.parts[p];
      std::string bytes(static_cast<size_t>(part.len), ' ');
      if ((part.type & 0x7F) == 0) {
        int sig = pick(part.len + 1);
        for (int j = 0; j < sig; ++j) bytes[j] = "aab"[pick(3)];
      } else {
        for (int j = 0; j < part.len; ++j) {
          bytes[j] = static_cast<char>(j + 1 < part.len ? 0 : pick(5));
        }
      }
      k += bytes;
    }
    pool.push_back(k);
  }
  auto any_key = [&]() -> const std::string& {
    return pool[static_cast<size_t>(pick(static_cast<int>(pool.size())))];
  };

  Model model;
  std::vector<std::pair<std::string, int32_t>> live;  // for picking deletes
  int32_t nextrec = 1;
  // Node numbers change hands only when a node splits or is freed.
  auto signature = [&]() {
    uint32_t head = isam::is_hdrget32(isam::HDR_FREENODES);
    int listed = 0;
    if (head != 0) {
      isam::IsamBuffer* b = isam::is_readbuffer(head);
      if (b != nullptr) {
        listed = b->used;
        isam::is_release(b);
      }
    }
    return std::make_tuple(isam::is_hdrget32(isam::HDR_LASTNODE), head, listed);
  };
  int structural = 0;
  auto check_all = [&](bool contents) {
    std::vector<Entry> leaves;
    Check(&leaves);
    if (HasFatalFailure()) return;
    ++structural;
    if (!contents) return;
    ASSERT_EQ(leaves.size(), model.size());
    size_t i = 0;
    for (const auto& [k, rec] : model) {
      ASSERT_EQ(leaves[i].key, k.key);
      ASSERT_EQ(leaves[i].dupno, k.dupno);
      ASSERT_EQ(leaves[i].rec, rec);
      ++i;
    }
  };
  auto expect_at = [&](Model::iterator it, bool before) {
    const IsamKeyEntry* c = Current();
    if (before || it == model.end()) {
      ASSERT_EQ(c, nullptr);
      return;
    }
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(KeyOf(*c), it->first.key);
    ASSERT_EQ(c->dupno, it->first.dupno);
    ASSERT_EQ(c->pointer, it->second);
  };
  auto insert = [&](const std::string& k) {
    int32_t rec = nextrec++;
    int32_t dupno = -1;
    auto lo = model.lower_bound(Probe{&k, 0});
    auto hi = model.upper_bound(Probe{&k, 0});
    int rc = Insert(k, rec, &dupno);
    if (!dups && lo != hi) {
      ASSERT_EQ(rc, -1);
      ASSERT_EQ(Errno(), EDUPLICATE);
      return;
    }
    ASSERT_EQ(rc, 0) << "insert errno " << Errno();
    if (lo != hi) {
      ASSERT_GT(dupno, std::prev(hi)->first.dupno);
    }
    model.emplace(ModelKey{k, dupno}, rec);
    live.emplace_back(k, rec);
  };

  for (int op = 0; op < cfg.ops; ++op) {
    int what = pick(100);
    auto before = signature();
    // Grow towards about 1500 entries, then hover.
    bool grow = model.size() < 1500 ? what < 55 : what < 35;
    if (grow) {
      insert(any_key());
      if (HasFatalFailure()) return;
    } else if (what < 80) {
      if (live.empty()) continue;
      if (pick(20) == 0) {
        ASSERT_EQ(Delete(any_key(), nextrec + 5), -1);
        ASSERT_EQ(Errno(), ENORECORD);
        continue;
      }
      size_t i = static_cast<size_t>(pick(static_cast<int>(live.size())));
      auto [k, rec] = live[i];
      live[i] = live.back();
      live.pop_back();
      ASSERT_EQ(Delete(k, rec), 0) << "delete errno " << Errno();
      auto lo = model.lower_bound(Probe{&k, 0});
      while (lo->second != rec) ++lo;
      model.erase(lo);
    } else {
      // Position, then step a few times either way.
      Model::iterator it;
      bool bef = false;
      int how = pick(4);
      if (how < 2) {
        const std::string& k = any_key();
        int n = pick(3) == 0 ? 1 + pick(keylen) : 0;
        int mode = how == 0 ? isam::BT_EXACT : isam::BT_GREATER;
        IsamKeyEntry e = Key(k);
        ASSERT_GE(isam::is_search(&e, kd_, n, mode), 0);
        it = mode == isam::BT_EXACT ? model.lower_bound(Probe{&k, n})
                                    : model.upper_bound(Probe{&k, n});
      } else {
        bool last = how == 3;
        ASSERT_EQ(isam::is_firstlast(kd_, last ? 1 : 0), 0);
        it = last ? model.end() : model.begin();
      }
      expect_at(it, false);
      if (HasFatalFailure()) return;
      // The position found again after a change elsewhere.
      if (pick(4) == 0 && Current() != nullptr) {
        isam::IsamPosition& pos = is_state().pos;
        pos.saved = is_state().curkey;
        pos.flags = isam::POS_POSITIONED | isam::POS_READ;
        ModelKey saved = it->first;
        insert(any_key());
        if (HasFatalFailure()) return;
        is_state().curkey = IsamKeyEntry{};
        ASSERT_EQ(isam::is_refind(kd_, 2), 0);
        it = model.lower_bound(saved);
        expect_at(it, false);
        if (HasFatalFailure()) return;
        EXPECT_TRUE(is_state().pos.flags & isam::POS_READ);
      }
      for (int s = pick(6); s > 0; --s) {
        bool fwd = pick(3) != 0;
        int r = isam::is_step(kd_, fwd ? isam::BT_FORWARD : isam::BT_BACKWARD);
        ASSERT_GE(r, 0);
        if (fwd) {
          if (bef) {
            bef = false;
            it = model.begin();
          } else if (it != model.end()) {
            ++it;
          }
        } else if (!bef) {
          if (it == model.begin()) {
            bef = true;
          } else {
            --it;
          }
        }
        expect_at(it, bef);
        if (HasFatalFailure()) return;
      }
    }
    if (signature() != before) {
      check_all(false);
      if (HasFatalFailure()) return;
    }
    if (op % 5000 == 4999) {
      check_all(true);
      if (HasFatalFailure()) return;
    }
  }
  check_all(true);
  std::printf("%s: %d operations, %zu entries at the end, %d structural checks\n", cfg.name,
              cfg.ops, model.size(), structural);

  // The records the entries point at are written, the other numbers go on
  // the free-record list, and the check utility finds the pair sound.
  std::set<int32_t> used;
  for (const auto& [k, rec] : model) {
    std::string record = k.key;
    record.resize(200, ' ');
    ASSERT_EQ(isam::datawrite(rec, reinterpret_cast<const unsigned char*>(record.data()), 200), 0);
    used.insert(rec);
  }
  isam::is_hdrput32(isam::HDR_LASTREC, static_cast<uint32_t>(nextrec - 1));
  for (int32_t n = nextrec - 1; n >= 1; --n) {
    if (used.count(n) == 0) {
      ASSERT_EQ(isam::freeput(n, isam::FREE_RECORD), 0);
    }
  }
  Close(sf_);
  sf_ = nullptr;
  ExpectCleanCheck(Name("bt"));
}

INSTANTIATE_TEST_SUITE_P(
    Indexes, BtreeModelTest,
    ::testing::Values(
        Config{"compressed_dups", IS_DUPS | IS_DUPCOMP | IS_LEADCOMP | IS_TRAILCOMP,
               {{0, 24, 0}, {24, 4, 2 | IS_DESCENDING}}, 40000},
        Config{"unique_fixed", 0, {{0, 8, 13}, {8, 40, 0}}, 25000},
        Config{"dups_fixed", IS_DUPS, {{0, 2, 1 | IS_DESCENDING}, {2, 30, 0}}, 25000},
        Config{"lead_long_keys", IS_LEADCOMP | IS_DUPS, {{0, 110, 0}}, 15000}),
    [](const ::testing::TestParamInfo<Config>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace isamtest
