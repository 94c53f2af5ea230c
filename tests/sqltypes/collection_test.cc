// Collections against a list model: random sequences of inserts, updates,
// deletes, seeks, walks and folds with several cursors attached.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread_state.h"
#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "tests/sqltypes/sql_env.h"

namespace {

using Bytes = std::string;

// Description: entry 0 the collection, entry 1 its element.
CollTypeInfo* Describe(int kind, int elem, int length) {
  CollTypeInfo* info = coll_typeinfo_alloc(2);
  info->ti_entry[0].seqno = 1;
  info->ti_entry[0].type = static_cast<uint16_t>(kind);
  info->ti_entry[1].seqno = 2;
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = static_cast<uint16_t>(elem);
  info->ti_entry[1].length = static_cast<int16_t>(length);
  return info;
}

uint32_t Be32(const Bytes& b, size_t at) {
  return (uint32_t{static_cast<unsigned char>(b[at])} << 24) |
         (uint32_t{static_cast<unsigned char>(b[at + 1])} << 16) |
         (uint32_t{static_cast<unsigned char>(b[at + 2])} << 8) | static_cast<unsigned char>(b[at + 3]);
}
void PutBe32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; i++) b->push_back(static_cast<char>(v >> (24 - 8 * i)));
}

// The element hashes as the data layout defines them, written out here
// once more.
uint32_t ModelHash(int elem, const Bytes& e) {
  if (elem == SQLVCHAR) {
    uint32_t h = 0;
    for (char ch : e) {
      if (ch == '\0') break;
      h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(ch)));
      if (uint32_t g = h & 0xF0000000u) h = h ^ (g >> 24) ^ g;
    }
    return h % 211;
  }
  Bytes padded = e;
  while (padded.size() % 4) padded.push_back('\0');
  uint32_t h = 0;
  for (size_t i = 0; i < padded.size(); i += 4) h ^= Be32(padded, i);
  return h;
}

struct Model {
  int kind, elem;
  std::vector<Bytes> v;
  struct Cur {
    int pos = 0;
    bool deleted = false;
  };
  std::vector<Cur> cur;
  int64_t len = 0;

  int card() const { return static_cast<int>(v.size()); }
  bool fixed() const { return elem != SQLVCHAR; }
  static Bytes Trim(const Bytes& e) {  // a VARCHAR element's text without trailing blanks
    Bytes t = e.substr(1, static_cast<unsigned char>(e[0]));
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  }
  bool Equal(const Bytes& a, const Bytes& b) const {
    return elem == SQLVCHAR ? Trim(a) == Trim(b) : a == b;
  }
  // Another element (not number skip) equal to x.
  bool Dup(const Bytes& x, int skip) const {
    for (int i = 0; i < card(); i++)
      if (i + 1 != skip && Equal(v[i], x)) return true;
    return false;
  }
  uint32_t Hash() const {
    uint32_t h = 0;
    for (const Bytes& e : v) h ^= ModelHash(elem, e);
    return h;
  }
  void Reseek(Cur* c, int pos) {
    c->pos = pos;
    if (pos >= 1 && pos <= card()) c->deleted = false;
  }
  Bytes Packed() const {
    Bytes out;
    for (const Bytes& e : v) out += e;
    if (fixed()) return out;
    PutBe32(&out, 0xFFFFFFFFu);
    std::vector<uint32_t> offs;
    uint32_t o = 0;
    for (const Bytes& e : v) {
      offs.push_back(o);
      o += static_cast<uint32_t>(e.size());
    }
    for (auto it = offs.rbegin(); it != offs.rend(); ++it) PutBe32(&out, *it);
    return out;
  }
};

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override { sqltest::UseBuildTree(); }
};

Bytes RandomElem(std::mt19937& rng, int elem) {
  Bytes e;
  if (elem == SQLINT) {
    const uint32_t x = rng() % 8;  // few values: duplicates matter in SETs
    PutBe32(&e, x * 0x01010101u);
  } else if (elem == SQLDECIMAL) {
    // DECIMAL(8,2) stored in 5 bytes: a few positive values.
    const int d = static_cast<int>(rng() % 6);
    e = Bytes("\xc1", 1) + static_cast<char>(d + 1) + static_cast<char>(d * 7 % 100) + Bytes(2, '\0');
  } else {
    static const char* words[] = {"", "a", "ab", "ab ", "abc", "zz", "zz  ", "hello"};
    Bytes w = words[rng() % 8];
    e = static_cast<char>(w.size()) + w;
  }
  return e;
}

void RunSequence(int kind, int elem, int length, unsigned seed, int steps) {
  SCOPED_TRACE("kind " + std::to_string(kind) + " elem " + std::to_string(elem) + " seed " +
               std::to_string(seed));
  std::mt19937 rng(seed);
  Model m{kind, elem, {}, {}, 0};
  // Initial packed data.
  const int n0 = static_cast<int>(rng() % 5);
  for (int i = 0; i < n0; i++) {
    Bytes e = RandomElem(rng, elem);
    if (kind == SQLSET && m.Dup(e, 0)) continue;
    m.v.push_back(e);
  }
  Bytes packed = m.Packed();
  std::vector<char> buf(packed.begin(), packed.end());
  buf.resize(buf.size() + 8);
  CollTypeInfo* info = Describe(kind, elem, length);
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, packed.empty() ? nullptr : buf.data(),
                             static_cast<int32_t>(packed.size())));
  m.len = static_cast<int64_t>(packed.size());
  const int ncur = 1 + static_cast<int>(rng() % 3);
  std::vector<CollCursor> curs(static_cast<size_t>(ncur));
  m.cur.resize(static_cast<size_t>(ncur));
  for (auto& k : curs) ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  ASSERT_EQ(-9987, zel_coll_curs_attach(&c, &curs[0]));

  for (int step = 0; step < steps; step++) {
    SCOPED_TRACE("step " + std::to_string(step));
    const int op = static_cast<int>(rng() % 20);
    const int ci = static_cast<int>(rng() % static_cast<unsigned>(ncur));
    if (getenv("COLL_TRACE") != nullptr) {
      fprintf(stderr, "step %d op %d cursor %d card %d:", step, op, ci, m.card());
      for (auto& o : m.cur) fprintf(stderr, " %d%s", o.pos, o.deleted ? "d" : "");
      fprintf(stderr, " log:");
      for (CollChangeLog* e = c.cl_log; e; e = e->ch_next)
        fprintf(stderr, " %d/%d/%x", e->ch_rownum, e->ch_modtype, e->ch_flag);
      fprintf(stderr, "\n");
    }
    CollCursor* k = &curs[static_cast<size_t>(ci)];
    Model::Cur& mc = m.cur[static_cast<size_t>(ci)];
    if (op < 5) {  // insert: append, positioned, -5999
      Bytes e = RandomElem(rng, elem);
      const int which = op % 3;
      int pos = which == 0 ? 0 : which == 1 ? 1 + static_cast<int>(rng() % static_cast<unsigned>(m.card() + 1)) : -5999;
      const int rc = zel_coll_insert(&c, e.data(), static_cast<int32_t>(e.size()), pos);
      if (pos > 0 && kind != SQLLIST) {
        ASSERT_EQ(-9980, rc);
        continue;
      }
      Model::Cur& c1 = m.cur[0];
      if (pos == -5999 && c1.pos == 0) {
        if (m.card() > 0) m.Reseek(&c1, 1);
        else c1.pos = 1;
      }
      if (kind == SQLSET && m.Dup(e, 0)) {
        ASSERT_EQ(0, rc);
        continue;
      }
      ASSERT_EQ(0, rc);
      m.len += static_cast<int64_t>(e.size());
      const bool append = pos == 0 || c1.pos == 0 || c1.pos > m.card();
      if (append) {
        m.v.push_back(e);
        m.Reseek(&c1, m.card());
      } else {
        const int at = c1.pos;
        m.v.insert(m.v.begin() + (at - 1), e);
        for (size_t j = 0; j < m.cur.size(); j++) {
          Model::Cur& o = m.cur[j];
          if (j == 0) m.Reseek(&o, o.pos);
          else if (o.pos >= at) m.Reseek(&o, o.pos + 1);
          else if (o.pos > 0) m.Reseek(&o, o.pos);
        }
      }
    } else if (op < 8) {  // update through a cursor or by number
      Bytes e = RandomElem(rng, elem);
      const bool nth = op == 7;
      const int pos = nth ? static_cast<int>(rng() % static_cast<unsigned>(m.card() + 2)) : mc.pos;
      const int rc = nth ? zel_coll_update_nth(&c, pos, e.data(), static_cast<int32_t>(e.size()))
                         : zel_coll_update(&c, k, e.data(), static_cast<int32_t>(e.size()));
      if (pos < 1 || pos > m.card()) {
        ASSERT_EQ(100, rc);
        continue;
      }
      bool other = false;
      for (size_t j = 0; j < m.cur.size(); j++)
        if ((nth || static_cast<int>(j) != ci) && m.cur[j].pos == pos) other = true;
      if (kind == SQLSET && m.Dup(e, pos)) {
        // The update becomes a delete of the element under the cursor.
        if (!nth && mc.deleted) {
          ASSERT_EQ(-9983, rc);
          continue;
        }
        if (other) {
          ASSERT_EQ(-9981, rc);
          continue;
        }
        ASSERT_EQ(0, rc);
        m.len -= static_cast<int64_t>(m.v[static_cast<size_t>(pos - 1)].size());
        m.v.erase(m.v.begin() + (pos - 1));
        if (!nth) {
          m.Reseek(&mc, pos);
          mc.deleted = true;
        }
        for (size_t j = 0; j < m.cur.size(); j++)
          if ((nth || static_cast<int>(j) != ci) && m.cur[j].pos > pos) m.Reseek(&m.cur[j], m.cur[j].pos - 1);
        continue;
      }
      if (other) {
        ASSERT_EQ(-9982, rc);
        continue;
      }
      ASSERT_EQ(0, rc);
      m.len += static_cast<int64_t>(e.size()) - static_cast<int64_t>(m.v[static_cast<size_t>(pos - 1)].size());
      m.v[static_cast<size_t>(pos - 1)] = e;
      for (auto& o : m.cur)
        if (o.pos > 0) m.Reseek(&o, o.pos);
    } else if (op < 10) {  // delete one, rarely all
      const bool all = op == 9 && rng() % 4 == 0;
      const int rc = zel_coll_delete(&c, k, all ? 1 : 0);
      if (all) {
        bool zero = false;
        for (size_t j = 0; j < m.cur.size(); j++)
          if (static_cast<int>(j) != ci && m.cur[j].pos == 0) zero = true;
        if (zero) {
          ASSERT_EQ(-9981, rc);
          continue;
        }
        ASSERT_EQ(0, rc);
        m.v.clear();
        m.len = 0;
        for (auto& o : m.cur) o = Model::Cur{};
        continue;
      }
      if (mc.deleted) {
        ASSERT_EQ(-9983, rc);
        continue;
      }
      if (mc.pos < 1 || mc.pos > m.card()) {
        ASSERT_EQ(100, rc);
        continue;
      }
      bool other = false;
      for (size_t j = 0; j < m.cur.size(); j++)
        if (static_cast<int>(j) != ci && m.cur[j].pos == mc.pos) other = true;
      if (other) {
        ASSERT_EQ(-9981, rc);
        continue;
      }
      ASSERT_EQ(0, rc);
      const int pos = mc.pos;
      m.len -= static_cast<int64_t>(m.v[static_cast<size_t>(pos - 1)].size());
      m.v.erase(m.v.begin() + (pos - 1));
      m.Reseek(&mc, pos);
      mc.deleted = true;
      for (size_t j = 0; j < m.cur.size(); j++)
        if (static_cast<int>(j) != ci && m.cur[j].pos > pos) m.Reseek(&m.cur[j], m.cur[j].pos - 1);
    } else if (op < 14) {  // seek
      const int whence = static_cast<int>(rng() % 3);
      const int n = static_cast<int>(rng() % 7) - 3 + (whence == CSEEK_SET ? 3 : 0);
      const int rc = cursor_seek(k, n, whence);
      const int target = whence == CSEEK_SET ? n : whence == CSEEK_CUR ? mc.pos + n : m.card() + n;
      if (m.card() == 0 || target < 1 || target > m.card()) {
        ASSERT_EQ(100, rc);
        continue;
      }
      ASSERT_EQ(0, rc);
      mc.pos = target;
      mc.deleted = false;
    } else if (op < 18) {  // next
      char* p = nullptr;
      int32_t n = 0;
      const int rc = zel_coll_next(&c, k, &p, &n);
      int want = 0;
      if (mc.pos == 0) {
        if (m.card() == 0) want = 100;
        else m.Reseek(&mc, 1);
      } else if (mc.deleted) {
        mc.deleted = false;
      } else if (mc.pos + 1 > m.card()) {
        want = 100;
      } else {
        m.Reseek(&mc, mc.pos + 1);
      }
      if (want == 0 && (mc.pos < 1 || mc.pos > m.card())) want = 100;
      ASSERT_EQ(want, rc);
      if (rc == 0) {
        ASSERT_EQ(m.v[static_cast<size_t>(mc.pos - 1)], Bytes(p, static_cast<size_t>(n)));
      }
    } else {  // fold
      const bool log = c.cl_log != nullptr;
      ASSERT_EQ(0, zel_coll_tuple(&c));
      ASSERT_EQ(nullptr, c.cl_log);
      if (log) {
        for (auto& o : m.cur) m.Reseek(&o, o.pos);
        const Bytes want = m.Packed();
        if (m.card() == 0) {
          EXPECT_EQ(0, c.cl_datalen);
        } else {
          ASSERT_EQ(static_cast<int32_t>(want.size()), c.cl_datalen);
          EXPECT_EQ(want, Bytes(c.cl_data, static_cast<size_t>(c.cl_datalen)));
        }
        m.len = static_cast<int64_t>(m.card() == 0 ? 0 : want.size());
      }
    }

    // After every step: the visible elements, the counters and the cursors.
    ASSERT_EQ(m.card(), c.cl_cardinality);
    ASSERT_EQ(m.len, c.cl_len);
    ASSERT_EQ(m.Hash(), static_cast<uint32_t>(c.cl_hashvalue));
    CollCursor walk;
    ASSERT_EQ(0, zel_coll_curs_attach(&c, &walk));
    std::vector<Bytes> seen;
    for (;;) {
      char* p = nullptr;
      int32_t n = 0;
      const int rc = zel_coll_next(&c, &walk, &p, &n);
      if (rc == 100) break;
      ASSERT_EQ(0, rc);
      seen.emplace_back(p, static_cast<size_t>(n));
    }
    ASSERT_EQ(0, zel_coll_curs_detach(&c, &walk));
    ASSERT_EQ(m.v, seen);
    for (size_t j = 0; j < curs.size(); j++) {
      ASSERT_EQ(m.cur[j].pos, curs[j].cc_pos) << "cursor " << j;
      ASSERT_EQ(m.cur[j].deleted, (curs[j].cc_flags & CC_DELETED) != 0) << "cursor " << j;
      if (m.cur[j].pos >= 1 && m.cur[j].pos <= m.card()) {
        // The element under the cursor, read through a copy that stays put.
        CollCursor copy = curs[j];
        copy.cc_flags |= CC_DELETED;
        char* p = nullptr;
        int32_t n = 0;
        ASSERT_EQ(0, zel_coll_next(&c, &copy, &p, &n)) << "cursor " << j;
        ASSERT_EQ(m.v[static_cast<size_t>(m.cur[j].pos - 1)], Bytes(p, static_cast<size_t>(n)));
      }
    }
  }
  ASSERT_EQ(-9984, zel_coll_free(&c));
  for (auto& k : curs) ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(-1, zel_coll_curs_detach(&c, &curs[0]));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

TEST_F(CollectionTest, AgreesWithListModel) {
  const unsigned base = getenv("COLL_SEED") != nullptr
                            ? static_cast<unsigned>(atol(getenv("COLL_SEED")))
                            : static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("base seed " + std::to_string(base));
  for (int kind : {SQLLIST, SQLSET, SQLMULTISET}) {
    for (int i = 0; i < 200; i++) {
      RunSequence(kind, SQLINT, 4, base + static_cast<unsigned>(i), 60);
      if (HasFatalFailure()) return;
      RunSequence(kind, SQLDECIMAL, 8 * 256 + 2, base + 7919u * static_cast<unsigned>(i), 60);
      if (HasFatalFailure()) return;
      RunSequence(kind, SQLVCHAR, 10, base + 104729u * static_cast<unsigned>(i), 60);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(CollectionTest, VariableLayoutAndSeeks) {
  // Three elements of 2, 3 and 1 bytes: 22 bytes, offsets 5, 2, 0 reversed.
  // Offsets: element 3 at 5, element 2 at 2, element 1 at 0.
  Bytes layout = Bytes("ab", 2) + "cde" + "f";
  PutBe32(&layout, 0xFFFFFFFFu);
  PutBe32(&layout, 5);
  PutBe32(&layout, 2);
  PutBe32(&layout, 0);
  ASSERT_EQ(22u, layout.size());
  CollTypeInfo* info = Describe(SQLLIST, SQLCHAR, 3);
  info->ti_entry[1].type = SQLLVARCHAR;  // variable size
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, layout.data(), 22));
  EXPECT_EQ(3, c.cl_cardinality);
  EXPECT_EQ(304 + 414 * 2, c.cl_typelen);
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  char* p = nullptr;
  int32_t n;
  ASSERT_EQ(0, zel_coll_next(&c, &k, &p, &n));
  p = nullptr;
  ASSERT_EQ(0, zel_coll_next(&c, &k, &p, &n));
  EXPECT_EQ("cde", Bytes(p, static_cast<size_t>(n)));
  // Delete element 2: the next is the former element 3, then the end.
  ASSERT_EQ(0, zel_coll_delete(&c, &k, 0));
  p = nullptr;
  ASSERT_EQ(0, zel_coll_next(&c, &k, &p, &n));
  EXPECT_EQ("f", Bytes(p, static_cast<size_t>(n)));
  p = nullptr;
  EXPECT_EQ(100, zel_coll_next(&c, &k, &p, &n));
  ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

TEST_F(CollectionTest, SeekEdgeCasesAndInsertFold) {
  CollTypeInfo* info = Describe(SQLLIST, SQLINT, 4);
  Bytes data;
  for (uint32_t x : {1u, 2u, 3u, 4u, 5u}) PutBe32(&data, x);
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, data.data(), 20));
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  ASSERT_EQ(0, cursor_seek(&k, -1, CSEEK_END));
  EXPECT_EQ(4, k.cc_pos);
  ASSERT_EQ(0, cursor_seek(&k, 3, CSEEK_SET));
  ASSERT_EQ(0, cursor_seek(&k, -2, CSEEK_CUR));
  EXPECT_EQ(1, k.cc_pos);
  EXPECT_EQ(100, cursor_seek(&k, 6, CSEEK_SET));
  EXPECT_EQ(1, k.cc_pos);
  ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(0, zel_coll_free(&c));

  // Insert at 1 of {10, 20}, fold: {new, 10, 20}.
  Bytes two;
  PutBe32(&two, 10);
  PutBe32(&two, 20);
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, two.data(), 8));
  Bytes x;
  PutBe32(&x, 99);
  ASSERT_EQ(0, zel_coll_insert(&c, x.data(), 4, 1));
  ASSERT_EQ(0, zel_coll_tuple(&c));
  EXPECT_EQ(3, c.cl_cardinality);
  EXPECT_EQ(nullptr, c.cl_log);
  EXPECT_EQ(x + two, Bytes(c.cl_data, 12));
  // Wrong element size, insert position into a SET.
  EXPECT_EQ(-9973, zel_coll_insert(&c, x.data(), 3, 0));
  ASSERT_EQ(0, zel_coll_free(&c));
  info->ti_entry[0].type = SQLSET;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, two.data(), 8));
  EXPECT_EQ(-9980, zel_coll_insert(&c, x.data(), 4, 1));
  // Equal value into a SET: 0, nothing changes.
  ASSERT_EQ(0, zel_coll_insert(&c, two.data(), 4, 0));
  EXPECT_EQ(2, c.cl_cardinality);
  EXPECT_EQ(nullptr, c.cl_log);
  // NOT NULL element type.
  info->ti_entry[1].type = SQLINT | SQL_NOTNULL_FLAG;
  Bytes null;
  PutBe32(&null, 0x80000000u);
  EXPECT_EQ(-9978, zel_coll_insert(&c, null.data(), 4, 0));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

TEST_F(CollectionTest, InsertedThenUpdatedThenDeleted) {
  CollTypeInfo* info = Describe(SQLLIST, SQLVCHAR, 10);
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, nullptr, 0));
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  ASSERT_EQ(0, zel_coll_insert(&c, "\x01" "a", 2, 0));
  ASSERT_EQ(1, k.cc_pos);
  ASSERT_EQ(0, zel_coll_update(&c, &k, "\x02" "bc", 3));
  ASSERT_NE(nullptr, c.cl_log);
  EXPECT_EQ(CH_INSERT, c.cl_log->ch_modtype);  // still an insert
  ASSERT_EQ(0, zel_coll_delete(&c, &k, 0));
  EXPECT_EQ(nullptr, c.cl_log);  // its entry is gone altogether
  EXPECT_EQ(0, c.cl_cardinality);
  ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

// Blocks that are not 8-byte aligned: the data starts 4 bytes in.
void* MisalignedAlloc(size_t n) {
  auto* p = static_cast<char*>(malloc(n + 8));
  return p == nullptr ? nullptr : p + 4;
}
void MisalignedFree(void* p) { free(static_cast<char*>(p) - 4); }

TEST_F(CollectionTest, MisalignedBlocks) {
  const CollAllocator saved = coll_allocator;
  coll_allocator = {MisalignedAlloc, MisalignedFree};
  CollTypeInfo* info = Describe(SQLLIST, SQLVCHAR, 10);
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, nullptr, 0));
  ASSERT_EQ(0, zel_coll_insert(&c, "\x01" "q", 2, 0));
  ASSERT_EQ(0, zel_coll_tuple(&c));
  EXPECT_NE(0u, c.cl_flags & COLL_DATA_SHIFTED);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(c.cl_data) % 8);
  ASSERT_EQ(0, zel_coll_insert(&c, "\x01" "r", 2, 0));
  ASSERT_EQ(0, zel_coll_tuple(&c));
  EXPECT_EQ(2, c.cl_cardinality);
  ASSERT_EQ(0, zel_coll_free(&c));  // steps back 4 bytes before freeing
  coll_allocator = saved;
  free(info);
}

}  // namespace

namespace {

Bytes Int4(uint32_t x) {
  Bytes b;
  PutBe32(&b, x);
  return b;
}

TEST_F(CollectionTest, RowFieldsBuildAndFold) {
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_entry[0].type = SQLROW;
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = SQLINT;
  info->ti_entry[1].length = 4;
  info->ti_entry[2].level_no = 1;
  info->ti_entry[2].type = SQLVCHAR;
  info->ti_entry[2].length = 10;
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, nullptr, 0));
  EXPECT_EQ(0, c.cl_isfixed);
  const Bytes a = Int4(0x01020304);
  ASSERT_EQ(0, zel_coll_insert(&c, a.data(), 4, 0));
  EXPECT_EQ(-9989, zel_coll_tuple(&c));  // one field of two
  const Bytes b("\x02hi", 3);
  ASSERT_EQ(0, zel_coll_insert(&c, b.data(), 3, 0));
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  ASSERT_EQ(0, cursor_seek(&k, 1, CSEEK_SET));
  EXPECT_EQ(-9974, zel_coll_delete(&c, &k, 0));
  ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(0, zel_coll_tuple(&c));
  Bytes want = a + b;
  PutBe32(&want, 0xFFFFFFFFu);
  PutBe32(&want, 4);
  PutBe32(&want, 0);
  ASSERT_EQ(static_cast<int32_t>(want.size()), c.cl_datalen);
  EXPECT_EQ(want, Bytes(c.cl_data, want.size()));
  EXPECT_EQ(ModelHash(SQLINT, a) ^ ModelHash(SQLVCHAR, b), static_cast<uint32_t>(c.cl_hashvalue));
  const Bytes b2("\x03xyz", 4);
  ASSERT_EQ(0, zel_coll_update_nth(&c, 2, b2.data(), 4));
  ASSERT_EQ(0, zel_coll_tuple(&c));
  EXPECT_EQ(a + b2, Bytes(c.cl_data, 8));
  // Field descriptions; a field number asked of a collection.
  CollTypeInfo* sub = nullptr;
  EXPECT_EQ(-9969, zel_coll_subtypeinfo(&c, &sub, 3));
  ASSERT_EQ(0, zel_coll_free(&c));
  CollTypeInfo* list = coll_typeinfo_alloc(2);
  list->ti_entry[0].type = SQLLIST;
  list->ti_entry[1].type = SQLINT;
  list->ti_entry[1].level_no = 1;
  list->ti_entry[1].length = 4;
  ASSERT_EQ(0, zel_coll_init(&c, list, 1, nullptr, 0));
  EXPECT_EQ(-9972, zel_coll_subtypeinfo(&c, &sub, 1));
  ASSERT_EQ(0, zel_coll_subtypeinfo(&c, &sub, 0));
  EXPECT_EQ(1, sub->ti_count);
  EXPECT_EQ(SQLINT, sub->ti_entry[0].type);
  free(sub);
  ASSERT_EQ(0, zel_coll_free(&c));
  free(list);
  free(info);
}

TEST_F(CollectionTest, ErrorCodes) {
  SqliCollection none;
  memset(&none, 0, sizeof none);
  CollCursor k;
  memset(&k, 0, sizeof k);
  char* p = nullptr;
  int32_t n;
  EXPECT_EQ(-9976, zel_coll_insert(&none, "abcd", 4, 0));
  EXPECT_EQ(-9976, zel_coll_next(&none, &k, &p, &n));
  EXPECT_EQ(-9976, zel_coll_seek(&none, &k, 1));
  EXPECT_EQ(-9976, zel_coll_update(&none, &k, "abcd", 4));
  EXPECT_EQ(-9976, zel_coll_update_nth(&none, 1, "abcd", 4));
  EXPECT_EQ(-9976, zel_coll_delete(&none, &k, 0));
  EXPECT_EQ(-9976, zel_coll_tuple(&none));
  EXPECT_EQ(-1, zel_coll_init(nullptr, nullptr, 0, nullptr, 0));

  CollTypeInfo* info = Describe(SQLLIST, SQLINT, 4);
  Bytes data = Int4(1) + Int4(2) + Int4(3);
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, data.data(), 12));
  ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
  EXPECT_EQ(-9984, zel_coll_free(&c));
  // Readable only in order.
  c.cl_flags |= COLL_INORDER;
  EXPECT_EQ(-9944, zel_coll_seek(&c, &k, 2));
  EXPECT_EQ(0, zel_coll_seek(&c, &k, 1));
  c.cl_flags &= ~static_cast<uint32_t>(COLL_INORDER);
  // A hash that no longer matches the elements after a fold.
  const Bytes x = Int4(9);
  ASSERT_EQ(0, zel_coll_insert(&c, x.data(), 4, 0));
  c.cl_hashvalue ^= 0x55;
  EXPECT_EQ(-9977, zel_coll_tuple(&c));
  EXPECT_EQ(4, c.cl_cardinality);  // the new data stays
  EXPECT_EQ(data + x, Bytes(c.cl_data, 16));
  // Fixed element size 0 in a description.
  ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
  ASSERT_EQ(0, zel_coll_free(&c));
  info->ti_entry[1].length = 0;
  EXPECT_EQ(-9986, zel_coll_init(&c, info, 1, data.data(), 12));
  // Variable data without its end marker.
  info->ti_entry[1].type = SQLVCHAR;
  info->ti_entry[1].length = 10;
  Bytes junk(12, 'x');
  EXPECT_EQ(-9986, zel_coll_init(&c, info, 1, junk.data(), 12));
  free(info);
}

// A LIST of SETs of INTEGER: nested packed values through insert, fold,
// equality and every copy form.
TEST_F(CollectionTest, NestedValuesFoldAndCopy) {
  CollTypeInfo* inner_info = Describe(SQLSET, SQLINT, 4);
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_entry[0].type = SQLLIST;
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = SQLSET;
  info->ti_entry[2].level_no = 2;
  info->ti_entry[2].type = SQLINT;
  info->ti_entry[2].length = 4;
  std::vector<Bytes> sets = {Int4(1) + Int4(2), Int4(7), Int4(3) + Int4(4) + Int4(5)};
  SqliCollection outer;
  ASSERT_EQ(0, zel_coll_init(&outer, info, 1, nullptr, 0));
  uint32_t hash = 0;
  for (const Bytes& s : sets) {
    SqliCollection in;
    ASSERT_EQ(0, zel_coll_init(&in, inner_info, 1, const_cast<char*>(s.data()), static_cast<int32_t>(s.size())));
    hash ^= static_cast<uint32_t>(in.cl_hashvalue);
    alignas(8) char ref[32], inl[64];
    zel_coll_puthdr(&in, ref + 1);  // at an odd address
    const int w = collcopy(ref + 1, inl + 3, nullptr, 0, CF_INLINE);
    ASSERT_EQ(static_cast<int>(coll_hdr_pad(inl + 3) + 8 + s.size()), w);
    ASSERT_EQ(0, zel_coll_insert(&outer, inl + 3, w, 0));
    ASSERT_EQ(0, zel_coll_free(&in));
  }
  const char null[3] = {0, 1, 1};
  ASSERT_EQ(0, zel_coll_insert(&outer, null, 3, 0));
  EXPECT_EQ(hash, static_cast<uint32_t>(outer.cl_hashvalue));
  ASSERT_EQ(0, zel_coll_tuple(&outer));
  EXPECT_EQ(hash, static_cast<uint32_t>(outer.cl_hashvalue));
  EXPECT_EQ(4, outer.cl_cardinality);
  // Each nested flags word on a multiple of 8 from the start of the data.
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&outer, &k));
  for (size_t i = 0; i < 4; i++) {
    char* p = nullptr;
    int32_t n;
    ASSERT_EQ(0, zel_coll_next(&outer, &k, &p, &n));
    if (i == 3) {
      EXPECT_EQ(Bytes(null, 3), Bytes(p, 3));
      continue;
    }
    const int b = coll_hdr_pad(p);
    EXPECT_EQ(0, (p + b - outer.cl_data) % 8);
    EXPECT_EQ(sets[i], Bytes(p + b + 8, sets[i].size()));
    // Through a caller's buffer: a reference header to the same content.
    alignas(8) char buf[32];
    char* out = buf + 5;
    CollCursor back = k;
    back.cc_flags |= CC_DELETED;
    ASSERT_EQ(0, zel_coll_next(&outer, &back, &out, &n));
    SqliCollection in;
    ASSERT_EQ(0, zel_coll_init(&in, inner_info, 1, nullptr, 0));
    ASSERT_EQ(0, zel_coll_put_col(&in, out));
    EXPECT_EQ(static_cast<int>(sets[i].size() / 4), in.cl_cardinality);
    EXPECT_EQ(sets[i], Bytes(in.cl_data, sets[i].size()));
    ASSERT_EQ(0, zel_coll_free(&in));
  }
  ASSERT_EQ(0, zel_coll_curs_detach(&outer, &k));
  // Copies between the forms keep the elements.
  alignas(8) char hdr[32], inl[512], img[256], back[512];
  zel_coll_puthdr(&outer, hdr + 2);
  const int w1 = collcopy(hdr + 2, inl + 1, nullptr, 1, CF_INLINE);
  ASSERT_GT(w1, 0);
  const int w2 = collcopy(inl + 1, img + 6, info, 1, CF_IMAGE);
  ASSERT_EQ(coll_hdr_pad(img + 6) + 8 + 120, w2);
  const int w3 = collcopy(img + 6, back + 4, nullptr, 1, CF_INLINE);
  ASSERT_EQ(outer.cl_datalen + coll_hdr_pad(back + 4) + 8, w3);
  EXPECT_EQ(Bytes(outer.cl_data, static_cast<size_t>(outer.cl_datalen)),
            Bytes(back + 4 + coll_hdr_pad(back + 4) + 8, static_cast<size_t>(outer.cl_datalen)));
  EXPECT_EQ(-9875, collcopy(inl + 1, img, nullptr, 1, CF_IMAGE));
  // Equal to itself read back; not equal once a nested value differs.
  SqliCollection again;
  ASSERT_EQ(0, zel_coll_init(&again, info, 1, nullptr, 0));
  ASSERT_EQ(0, zel_coll_put_col(&again, back + 4));
  int isnull = 0;
  EXPECT_EQ(0, zel_coll_equal(&outer, &again, nullptr, &isnull));
  const Bytes other = Int4(1) + Int4(3);
  SqliCollection in;
  ASSERT_EQ(0, zel_coll_init(&in, inner_info, 1, const_cast<char*>(other.data()), 8));
  alignas(8) char ref[32];
  zel_coll_puthdr(&in, ref);
  ASSERT_EQ(0, zel_coll_update_nth(&again, 1, ref, 26));
  EXPECT_EQ(-1, zel_coll_equal(&outer, &again, nullptr, &isnull));
  ASSERT_EQ(0, zel_coll_free(&in));
  ASSERT_EQ(0, zel_coll_free(&again));
  ASSERT_EQ(0, zel_coll_free(&outer));
  free(info);
  free(inner_info);
}

}  // namespace

namespace {

// ROWs of INTEGER and VARCHAR fields: built field by field, changed through
// cursors and by number, walked and folded, against a list model.
TEST_F(CollectionTest, RowsAgreeWithListModel) {
  const unsigned seed = static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; round++) {
    const int nf = 1 + static_cast<int>(rng() % 4);
    CollTypeInfo* info = coll_typeinfo_alloc(nf + 1);
    info->ti_entry[0].type = SQLROW;
    std::vector<int> types;
    for (int f = 1; f <= nf; f++) {
      const int t = rng() % 2 ? SQLINT : SQLVCHAR;
      types.push_back(t);
      info->ti_entry[f].level_no = 1;
      info->ti_entry[f].type = static_cast<uint16_t>(t);
      info->ti_entry[f].length = static_cast<int16_t>(t == SQLINT ? 4 : 10);
    }
    auto value = [&](int f) { return RandomElem(rng, types[static_cast<size_t>(f - 1)]); };
    SqliCollection c;
    ASSERT_EQ(0, zel_coll_init(&c, info, 1, nullptr, 0));
    std::vector<Bytes> model;
    int64_t len = 0;
    CollCursor k;
    ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
    int kpos = 0;
    for (int f = 1; f <= nf; f++) {
      Bytes e = value(f);
      ASSERT_EQ(0, zel_coll_insert(&c, e.data(), static_cast<int32_t>(e.size()), 0));
      model.push_back(e);
      len += static_cast<int64_t>(e.size());
      kpos = f;  // the inserting cursor stands on the new field
      if (f < nf) {
        ASSERT_EQ(-9989, zel_coll_tuple(&c));
      }
    }
    for (int step = 0; step < 20; step++) {
      const int op = static_cast<int>(rng() % 5);
      if (op == 0) {
        const int n = static_cast<int>(rng() % static_cast<unsigned>(nf + 2));
        Bytes e = n >= 1 && n <= nf ? value(n) : value(1);
        const int rc = zel_coll_update_nth(&c, n, e.data(), static_cast<int32_t>(e.size()));
        if (n < 1 || n > nf) {
          ASSERT_EQ(100, rc);
        } else if (n == kpos) {
          ASSERT_EQ(-9982, rc);
        } else {
          ASSERT_EQ(0, rc);
          len += static_cast<int64_t>(e.size()) - static_cast<int64_t>(model[static_cast<size_t>(n - 1)].size());
          model[static_cast<size_t>(n - 1)] = e;
        }
      } else if (op == 1) {
        const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(nf));
        ASSERT_EQ(0, cursor_seek(&k, n, CSEEK_SET));
        kpos = n;
        Bytes e = value(n);
        ASSERT_EQ(0, zel_coll_update(&c, &k, e.data(), static_cast<int32_t>(e.size())));
        len += static_cast<int64_t>(e.size()) - static_cast<int64_t>(model[static_cast<size_t>(n - 1)].size());
        model[static_cast<size_t>(n - 1)] = e;
      } else if (op == 2) {
        ASSERT_EQ(-9974, zel_coll_delete(&c, &k, 0));
      } else if (op == 3) {
        char* p = nullptr;
        int32_t n;
        const int rc = zel_coll_next(&c, &k, &p, &n);
        if (kpos >= nf) {
          ASSERT_EQ(100, rc);
        } else {
          ASSERT_EQ(0, rc);
          kpos++;
          ASSERT_EQ(model[static_cast<size_t>(kpos - 1)], Bytes(p, static_cast<size_t>(n)));
        }
      } else {
        const bool log = c.cl_log != nullptr;
        ASSERT_EQ(0, zel_coll_tuple(&c));
        if (log) {
          Bytes want;
          for (const Bytes& e : model) want += e;
          PutBe32(&want, 0xFFFFFFFFu);
          uint32_t off = 0;
          std::vector<uint32_t> offs;
          for (const Bytes& e : model) {
            offs.push_back(off);
            off += static_cast<uint32_t>(e.size());
          }
          for (auto it = offs.rbegin(); it != offs.rend(); ++it) PutBe32(&want, *it);
          ASSERT_EQ(want, Bytes(c.cl_data, static_cast<size_t>(c.cl_datalen)));
          len = static_cast<int64_t>(want.size());
        }
      }
      uint32_t hash = 0;
      for (int f = 1; f <= nf; f++)
        hash ^= ModelHash(types[static_cast<size_t>(f - 1)], model[static_cast<size_t>(f - 1)]);
      ASSERT_EQ(nf, c.cl_cardinality);
      ASSERT_EQ(len, c.cl_len);
      ASSERT_EQ(hash, static_cast<uint32_t>(c.cl_hashvalue));
      ASSERT_EQ(kpos, k.cc_pos);
    }
    ASSERT_EQ(0, zel_coll_curs_detach(&c, &k));
    ASSERT_EQ(0, zel_coll_free(&c));
    free(info);
  }
}

}  // namespace

namespace {

// SETs of SETs: equal whatever the order of the outer and inner elements;
// a nested duplicate is found and not inserted.
TEST_F(CollectionTest, NestedSetEqualityAndDuplicates) {
  CollTypeInfo* inner_info = Describe(SQLSET, SQLINT, 4);
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_entry[0].type = SQLSET;
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = SQLSET;
  info->ti_entry[2].level_no = 2;
  info->ti_entry[2].type = SQLINT;
  info->ti_entry[2].length = 4;
  auto build = [&](SqliCollection* outer, const std::vector<std::vector<uint32_t>>& sets) {
    ASSERT_EQ(0, zel_coll_init(outer, info, 1, nullptr, 0));
    for (const auto& s : sets) {
      Bytes d;
      for (uint32_t x : s) PutBe32(&d, x);
      SqliCollection in;
      ASSERT_EQ(0, zel_coll_init(&in, inner_info, 1, d.data(), static_cast<int32_t>(d.size())));
      alignas(8) char ref[32];
      zel_coll_puthdr(&in, ref);
      ASSERT_EQ(0, zel_coll_insert(outer, ref, 26, 0));
      ASSERT_EQ(0, zel_coll_free(&in));
    }
    ASSERT_EQ(0, zel_coll_tuple(outer));
  };
  SqliCollection a, b, d;
  build(&a, {{1, 2}, {7}, {3, 4, 5}});
  build(&b, {{7}, {5, 3, 4}, {2, 1}});
  build(&d, {{7}, {5, 3, 4}, {2, 9}});
  EXPECT_EQ(3, a.cl_cardinality);
  int isnull = 0;
  EXPECT_EQ(0, zel_coll_equal(&a, &b, nullptr, &isnull));
  EXPECT_EQ(-1, zel_coll_equal(&a, &d, nullptr, &isnull));
  // {2, 1} is already there (as {1, 2}): not inserted again.
  zel_coll_free(&d);
  build(&d, {{1, 2}, {2, 1}, {1, 2, 3}});
  EXPECT_EQ(2, d.cl_cardinality);
  zel_coll_free(&a);
  zel_coll_free(&b);
  zel_coll_free(&d);
  free(info);
  free(inner_info);
}

}  // namespace
