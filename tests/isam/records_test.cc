// Record slots, free lists and the tail storage of variable-length records.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "isam/bigendian.h"
#include "isam/isam.h"
#include "isam/records.h"
#include "isam/tail_page.h"
#include "tests/isam/child.h"
#include "tests/isam/check_fixture.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::IsamBuffer;
using isam::is_state;

std::string Pattern(int len, int seed) {
  std::string s(static_cast<size_t>(len), '\0');
  for (int i = 0; i < len; ++i) s[i] = static_cast<char>('a' + (i * 7 + seed * 13) % 26);
  return s;
}

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

struct Piece {
  uint32_t node;
  int slot;
  int len;
};

class RecordsTest : public PairTest {
 protected:
  isam::IsamSharedFile* sf_ = nullptr;

  void MakeFile(int minlen, int maxlen = 0) {
    sf_ = Make("rec", minlen, maxlen);
    ASSERT_NE(sf_, nullptr) << Errno();
  }

  std::string Read(int64_t n) {
    std::string buf(static_cast<size_t>(sf_->maxlen), '\0');
    int len = isam::dataread(n, reinterpret_cast<unsigned char*>(buf.data()));
    if (len < 0) return "<error " + std::to_string(Errno()) + ">";
    return buf.substr(0, static_cast<size_t>(len));
  }

  void Write(int64_t n, const std::string& rec) {
    ASSERT_EQ(isam::datawrite(n, U(rec), static_cast<int>(rec.size())), 0) << Errno();
  }

  uint32_t TailPointer(int64_t n) {
    unsigned char t[7];
    EXPECT_EQ(isam::datatrailer(n, t), 7);
    return isam::ldu32(t + 3);
  }

  // The pieces of a chain, in order.
  std::vector<Piece> Chain(uint32_t ptr) {
    std::vector<Piece> out;
    while (ptr != 0 && out.size() < 100) {
      IsamBuffer* g = isam::tailpage(isam::tp_node(ptr));
      if (g == nullptr) {
        ADD_FAILURE() << "not a tail page: " << isam::tp_node(ptr);
        break;
      }
      int slot = isam::tp_slot(ptr);
      out.push_back({isam::tp_node(ptr), slot, isam::pg_slotlen(g, slot)});
      int64_t next = isam::tailnext(g);
      isam::is_release(g);
      ptr = next > 0 ? static_cast<uint32_t>(next) : 0;
    }
    return out;
  }

  // Walks the class lists: every page stands on the list of its class,
  // once, with back links to the page before it (the head's back link is
  // not kept). Returns the pages found.
  std::set<uint32_t> CheckClassLists() {
    std::set<uint32_t> seen;
    const isam::TailParams& t = is_state().tail;
    for (int cls = 1; cls <= 4; ++cls) {
      uint32_t prev = 0;
      uint32_t node = isam::is_hdrget32(isam::HDR_CLASSHEADS + 4 * cls);
      while (node != 0) {
        EXPECT_TRUE(seen.insert(node).second) << "page " << node << " twice on the lists";
        if (seen.size() > 100000) break;
        IsamBuffer* g = isam::tailpage(node);
        if (g == nullptr) {
          ADD_FAILURE() << "bad page " << node;
          return seen;
        }
        EXPECT_EQ(g->data[isam::TP_CLASS], cls) << node;
        EXPECT_EQ((isam::pg_free(g) - 1) / t.w, cls) << node;
        if (prev != 0) {
          EXPECT_EQ(isam::pg_prev(g), prev) << node;
        }
        prev = node;
        node = isam::pg_next(g);
        isam::is_release(g);
      }
    }
    EXPECT_EQ(isam::is_hdrget32(isam::HDR_CLASSHEADS), 0u);
    return seen;
  }

  // Entries and container nodes of a free list.
  std::vector<uint32_t> FreeList(int kind, std::vector<uint32_t>* containers = nullptr) {
    std::vector<uint32_t> out;
    uint32_t node = isam::is_hdrget32(kind == isam::FREE_RECORD ? isam::HDR_FREERECS
                                                               : isam::HDR_FREENODES);
    while (node != 0 && out.size() < 100000) {
      if (containers) containers->push_back(node);
      IsamBuffer* b = isam::is_readbuffer(node);
      if (b == nullptr) break;
      for (int off = 6; off < b->used; off += 4) out.push_back(isam::ldu32(b->data + off));
      node = isam::ldu32(b->data + 2);
      isam::is_release(b);
    }
    return out;
  }
};

TEST_F(RecordsTest, FixedLengthSlotsLieAtTheirOffsets) {
  MakeFile(100);
  for (int n = 1; n <= 12; ++n) Write(n, Pattern(100, n));
  std::string dat = Bytes(Name("rec.dat"));
  ASSERT_EQ(dat.size(), 2048u);  // written in whole blocks
  EXPECT_EQ(dat.substr(202, 100), Pattern(100, 3));  // record 3 at 202
  EXPECT_EQ(dat[302], 0x0A);                          // its flag at 302
  unsigned char t[101];
  EXPECT_EQ(isam::datatrailer(3, t), 1);
  EXPECT_EQ(t[0], 0x0A);
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(Read(n), Pattern(100, n)) << n;  // slots 10, 11 cross 1024

  EXPECT_EQ(isam::datafree(3), 0);
  EXPECT_EQ(isam::datatest(3), 0);
  EXPECT_EQ(isam::datatest(4), 1);
  EXPECT_EQ(isam::datatest(500), 0);  // beyond the end: a free slot
  is_state().iserrno = 0;
  EXPECT_EQ(isam::dataread(3, t), -1);
  EXPECT_EQ(Errno(), 0);  // a deleted record is no error of its own
  dat = Bytes(Name("rec.dat"));
  EXPECT_EQ(dat.substr(202, 101), std::string(101, '\0'));
}

TEST_F(RecordsTest, TrailerAcrossABlockBoundary) {
  MakeFile(20, 200);
  // Slot size 27: record 38 starts at 999, its flag at 1019, and its
  // trailer's last two bytes lie in block 1.
  Write(38, Pattern(20, 1));
  Write(38, Pattern(150, 2));
  EXPECT_EQ(Read(38), Pattern(150, 2));
  std::string dat = Bytes(Name("rec.dat"));
  ASSERT_GE(dat.size(), 1026u);
  EXPECT_EQ(dat[1019], 0x0A);
  EXPECT_EQ(isam::ld16(U(dat) + 1020), 130);
  uint32_t ptr = isam::ldu32(U(dat) + 1022);
  EXPECT_EQ(ptr, TailPointer(38));
  EXPECT_NE(ptr, 0u);
  Write(39, Pattern(60, 3));
  Write(38, Pattern(20, 4));
  EXPECT_EQ(Read(38), Pattern(20, 4));
  EXPECT_EQ(Read(39), Pattern(60, 3));
  EXPECT_EQ(TailPointer(38), 0u);
}

TEST_F(RecordsTest, VariableRecordsSplitIntoPieces) {
  MakeFile(20, 3000);
  const isam::TailParams& t = is_state().tail;
  EXPECT_EQ(t.e, 998);
  EXPECT_EQ(t.s, 1017);
  EXPECT_EQ(t.p, 994);
  EXPECT_EQ(t.w, 200);

  Write(1, Pattern(20, 1));
  Write(2, Pattern(1014, 2));
  Write(3, Pattern(1015, 3));
  std::string dat = Bytes(Name("rec.dat"));
  EXPECT_EQ(dat.substr(27, 20), Pattern(20, 2));  // record 2 at 27
  EXPECT_EQ(dat.substr(21, 6), std::string(6, '\0'));  // record 1: no tail

  std::vector<Piece> two = Chain(TailPointer(2));
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].len, 994);
  EXPECT_EQ(two[0].slot, 0);
  std::vector<Piece> three = Chain(TailPointer(3));
  ASSERT_EQ(three.size(), 2u);
  EXPECT_EQ(three[0].len, 994);
  EXPECT_EQ(three[1].len, 1);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Read(n), Pattern(n == 1 ? 20 : 1012 + n, n));

  IsamBuffer* g = isam::tailpage(two[0].node);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->data[20] & 1, 0);  // alone, no continuation
  EXPECT_EQ(isam::pg_free(g), 0);
  EXPECT_EQ(g->data[isam::TP_CLASS], 0);
  isam::is_release(g);
  ASSERT_EQ(isam::is_flushfile(), 0);
  std::string page = Bytes(Name("rec.idx")).substr((two[0].node - 1) * 1024, 1024);
  EXPECT_EQ(page.substr(0, 4), std::string("\0\0~&", 4));
  EXPECT_EQ(static_cast<unsigned char>(page[1021]), 0x7C);
  EXPECT_EQ(page[1022], 0);
  EXPECT_EQ(isam::ldu16(U(page) + 1017), 994);  // slot 0's entry at S
  EXPECT_EQ(isam::ldu16(U(page) + 1019), 23);
}

TEST_F(RecordsTest, RewritesBetweenOneAndThreePiecesKeepTheLastSlot) {
  MakeFile(20, 3000);
  Write(1, Pattern(20 + 100, 1));
  std::vector<Piece> one = Chain(TailPointer(1));
  ASSERT_EQ(one.size(), 1u);

  Write(1, Pattern(20 + 2 * 994 + 100, 2));
  std::vector<Piece> three = Chain(TailPointer(1));
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[2].node, one[0].node);
  EXPECT_EQ(three[2].slot, one[0].slot);
  EXPECT_EQ(Read(1), Pattern(20 + 2 * 994 + 100, 2));

  uint32_t lastnode = isam::is_hdrget32(isam::HDR_LASTNODE);
  Write(1, Pattern(20 + 50, 3));
  std::vector<Piece> back = Chain(TailPointer(1));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].node, one[0].node);
  EXPECT_EQ(back[0].slot, one[0].slot);
  EXPECT_EQ(Read(1), Pattern(70, 3));
  // The two full-piece pages went back to the free-node list (or lowered
  // the last node number).
  std::vector<uint32_t> freed = FreeList(isam::FREE_NODE);
  EXPECT_EQ(freed.size() + (lastnode - isam::is_hdrget32(isam::HDR_LASTNODE)), 2u);

  // Growing a middle chain where the last piece must move: the last full
  // page is relinked to it.
  Write(2, Pattern(20 + 900, 4));  // fills most of the last piece's page
  Write(1, Pattern(20 + 994 + 500, 5));
  EXPECT_EQ(Read(1), Pattern(20 + 994 + 500, 5));
  Write(1, Pattern(20 + 3 * 994 - 20, 6));
  EXPECT_EQ(Read(1), Pattern(20 + 3 * 994 - 20, 6));
  Write(1, Pattern(20 + 994 + 994, 7));
  EXPECT_EQ(Read(1), Pattern(20 + 994 + 994, 7));
  EXPECT_EQ(Read(2), Pattern(920, 4));
  CheckClassLists();

  ASSERT_EQ(isam::datafree(1), 0);
  ASSERT_EQ(isam::datafree(2), 0);
  EXPECT_EQ(TailPointer(1), 0u);
  CheckClassLists();
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(isam::is_hdrget32(isam::HDR_CLASSHEADS + 4 * c), 0u);
}

TEST_F(RecordsTest, PagesAreFiledByFreeSpace) {
  MakeFile(20, 3000);
  const isam::TailParams& t = is_state().tail;
  // A piece of len bytes leaves E - 4 - len free bytes.
  struct Case {
    int piece;
    int cls;
  } cases[] = {{t.e - 4 - t.w, 0}, {t.e - 4 - (t.w + 1), 1}, {1, 4}};
  int n = 1;
  for (const Case& c : cases) {
    Write(n, Pattern(20 + c.piece, n));
    uint32_t node = isam::tp_node(TailPointer(n));
    IsamBuffer* g = isam::tailpage(node);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->data[isam::TP_CLASS], c.cls) << c.piece;
    isam::is_release(g);
    std::set<uint32_t> listed = CheckClassLists();
    EXPECT_EQ(listed.count(node), c.cls ? 1u : 0u) << c.piece;
    ASSERT_EQ(isam::datafree(n), 0);  // the page's only piece: the page is freed
    EXPECT_EQ(CheckClassLists().size(), 0u);
    ++n;
  }
}

TEST_F(RecordsTest, A256thSlotIsRefused) {
  // 255 entries never fit a 1024-byte page with data; a page claiming them
  // with none empty is refused all the same.
  MakeFile(20, 3000);
  Write(1, Pattern(21, 1));
  IsamBuffer* g = isam::tailpage(isam::tp_node(TailPointer(1)));
  ASSERT_NE(g, nullptr);
  std::string saved(reinterpret_cast<char*>(g->data), 1024);
  for (int s = 254; s >= 0; --s) isam::st16(1, g->data + is_state().tail.s - 4 * s);
  g->data[isam::TP_COUNT] = 255;
  isam::st16(1000, g->data + isam::TP_FREE);
  is_state().iserrno = 0;
  EXPECT_EQ(isam::slotalloc(g, 1), -1);
  EXPECT_EQ(Errno(), EBADFILE);
  std::memcpy(g->data, saved.data(), 1024);
  isam::is_release(g);
  EXPECT_EQ(Read(1), Pattern(21, 1));
}

TEST_F(RecordsTest, FreeListsHold253NumbersPerNode) {
  MakeFile(10);
  EXPECT_EQ(isam::freetake(isam::FREE_RECORD), 1);  // empty list: last + 1
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_LASTREC), 1u);
  ASSERT_EQ(isam::freeput(1, isam::FREE_RECORD), 0);  // the last number
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_LASTREC), 0u);
  EXPECT_EQ(FreeList(isam::FREE_RECORD).size(), 0u);

  for (int i = 0; i < 600; ++i) ASSERT_EQ(isam::freetake(isam::FREE_RECORD), i + 1);
  for (int i = 1; i <= 254; ++i) ASSERT_EQ(isam::freeput(i, isam::FREE_RECORD), 0);
  std::vector<uint32_t> containers;
  std::vector<uint32_t> entries = FreeList(isam::FREE_RECORD, &containers);
  ASSERT_EQ(containers.size(), 2u);  // the 254th number started a new node
  EXPECT_EQ(entries.size(), 254u);
  IsamBuffer* b = isam::is_readbuffer(containers[1]);
  EXPECT_EQ(b->used, 6 + 4 * 253);
  EXPECT_EQ(b->type, 0xFF);
  EXPECT_EQ(b->level, 0x7F);
  isam::is_release(b);
  ASSERT_EQ(isam::is_flushfile(), 0);
  std::string node = Bytes(Name("rec.idx")).substr((containers[0] - 1) * 1024, 1024);
  EXPECT_EQ(isam::ldu16(U(node)), 10);
  EXPECT_EQ(isam::ldu32(U(node) + 2), containers[1]);
  EXPECT_EQ(isam::ldu32(U(node) + 6), 254u);
  EXPECT_EQ(static_cast<unsigned char>(node[1021]), 0xFF);
  EXPECT_EQ(node[1022], 0x7F);

  // Taken back last in, first out; an emptied node goes to the node list.
  EXPECT_EQ(isam::freetake(isam::FREE_RECORD), 254);
  for (int i = 253; i >= 1; --i) ASSERT_EQ(isam::freetake(isam::FREE_RECORD), i);
  EXPECT_EQ(isam::freetake(isam::FREE_RECORD), 601);
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_FREERECS), 0u);
  // Both emptied list nodes (4, then 3) were the last node in turn: each
  // lowered the last node number instead of being listed.
  EXPECT_EQ(containers, (std::vector<uint32_t>{4, 3}));
  EXPECT_EQ(FreeList(isam::FREE_NODE).size(), 0u);
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_LASTNODE), 2u);
}

TEST_F(RecordsTest, DamagedStorageIsAnErrorNotACrash) {
  MakeFile(20, 3000);
  Write(1, Pattern(20 + 300, 1));
  Write(2, Pattern(20 + 1500, 2));
  uint32_t ptr = TailPointer(1);
  uint32_t node = isam::tp_node(ptr);
  ASSERT_EQ(isam::is_flushfile(), 0);
  const off_t page = static_cast<off_t>(node - 1) * 1024;
  struct Case {
    const char* what;
    off_t off;  // in the ".idx" file, or -1 - offset in the ".dat" file
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"marker", page + 2, {'X'}},
      {"slot offset past the data", page + 1017 + 2, {0x03, 0xF0}},
      {"slot length past the data", page + 1017, {0x03, 0xF0}},
      {"free bytes", page + 12, {0x03, 0xE6}},
      {"first free byte in the directory", page + 14, {0x03, 0xFF}},
      {"slot number beyond the directory", -1 - (20 + 3), {0x05}},
      {"tail length beyond the maximum", -1 - (20 + 1), {0x7F, 0x00}},
      {"negative tail length", -1 - (20 + 1), {0xFF, 0x00}},
      {"tail without pointer", -1 - (20 + 3), {0, 0, 0, 0}},
      {"pointer at the header", -1 - (20 + 3), {0, 0, 0, 1}},
      {"pointer beyond the last node", -1 - (20 + 3), {0, 0, 0x10, 0}},
      {"continuation flag without pointer", -2, {}},
  };
  std::string idx0 = Bytes(Name("rec.idx"));
  std::string dat0 = Bytes(Name("rec.dat"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tevtest::WriteFile(Name("rec.idx"), idx0);
    tevtest::WriteFile(Name("rec.dat"), dat0);
    isam::is_dropbuffers(sf_);
    if (c.off == -2) {
      // The first piece of record 2 is a full page: cut its link.
      uint32_t p2 = TailPointer(2);
      unsigned char zero[4] = {};
      ASSERT_EQ(pwrite(sf_->idxfd, zero, 4, (isam::tp_node(p2) - 1) * 1024 + 16), 4);
    } else if (c.off >= 0) {
      ASSERT_EQ(pwrite(sf_->idxfd, c.bytes.data(), c.bytes.size(), c.off),
                static_cast<ssize_t>(c.bytes.size()));
    } else {
      ASSERT_EQ(pwrite(sf_->datfd, c.bytes.data(), c.bytes.size(), -1 - c.off),
                static_cast<ssize_t>(c.bytes.size()));
    }
    isam::is_dropbuffers(sf_);
    int64_t rec = c.off == -2 ? 2 : 1;
    is_state().iserrno = 0;
    std::string got = Read(rec);
    EXPECT_EQ(got, "<error 105>");
    is_state().iserrno = 0;
    EXPECT_EQ(isam::datawrite(rec, U(Pattern(20 + 700, 9)), 720), -1);
    EXPECT_EQ(Errno(), EBADFILE);
    is_state().iserrno = 0;
    isam::is_flushbuffers(sf_);
    isam::is_dropbuffers(sf_);
  }
}

TEST_F(RecordsTest, WriteLengthOutOfRangeIsFatal) {
  MakeFile(20, 100);
  ChildResult r = RunChild([] {
    std::string big(101, 'x');
    isam::datawrite(1, U(big), 101);
    return 0;
  });
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(r.err, "\r\nFatal system error: dataxfer: arg tlen out of range\r\n");
}

// Random inserts, rewrites and deletes of variable-length records against
// an in-memory model; the storage is checked for consistency along the way.
class RecordsModelTest : public RecordsTest {
 public:
  void Run(int ops, uint32_t seed) {
    std::printf("model seed %u, %d operations\n", seed, ops);
    MakeFile(20, 3000);
    std::mt19937 rng(seed);
    std::map<int64_t, std::string> model;
    auto length = [&rng] {
      int kind = static_cast<int>(rng() % 10);
      if (kind < 5) return 20 + static_cast<int>(rng() % 200);
      if (kind < 8) return 20 + static_cast<int>(rng() % 1100);
      return 20 + static_cast<int>(rng() % 2981);
    };
    for (int op = 0; op < ops; ++op) {
      int what = static_cast<int>(rng() % 10);
      if (model.empty() || what < 4) {
        int64_t n = isam::freetake(isam::FREE_RECORD);
        ASSERT_GT(n, 0);
        ASSERT_EQ(model.count(n), 0u);
        std::string rec = Pattern(length(), static_cast<int>(rng() % 1000));
        Write(n, rec);
        model[n] = rec;
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        if (what < 8) {
          std::string rec = Pattern(length(), static_cast<int>(rng() % 1000));
          Write(it->first, rec);
          it->second = rec;
        } else {
          ASSERT_EQ(isam::datafree(it->first), 0);
          ASSERT_EQ(isam::freeput(it->first, isam::FREE_RECORD), 0);
          model.erase(it);
        }
      }
      if (op % 2500 == 2499 || op == ops - 1) {
        Check(model);
        if (HasFatalFailure() || HasFailure()) return;
      }
    }
    // Everything survives writing out and reading back from disk.
    ASSERT_EQ(isam::is_flushfile(), 0);
    isam::is_dropbuffers(sf_);
    ASSERT_EQ(isam::is_loadpair(sf_), 0);
    Check(model);
    // The check utility finds the pair sound.
    Close(sf_);
    sf_ = nullptr;
    ExpectCleanCheck(Name("rec"));
  }

  void Check(const std::map<int64_t, std::string>& model) {
    std::set<uint32_t> used;
    for (const auto& [n, rec] : model) {
      ASSERT_EQ(Read(n), rec) << "record " << n;
      for (const Piece& p : Chain(TailPointer(n))) used.insert(p.node);
    }
    // Every page on a list is in use, and every page in use with room
    // enough stands on the list of its class.
    std::set<uint32_t> listed = CheckClassLists();
    for (uint32_t node : listed) EXPECT_EQ(used.count(node), 1u) << node;
    const isam::TailParams& tp = is_state().tail;
    for (uint32_t node : used) {
      IsamBuffer* g = isam::tailpage(node);
      ASSERT_NE(g, nullptr);
      int f = isam::pg_free(g);
      int cls = f > 0 ? (f - 1) / tp.w : 0;
      EXPECT_EQ(listed.count(node), cls > 0 ? 1u : 0u) << node;
      isam::is_release(g);
    }
    // Nodes 3..last are each a tail page in use or on the free-node list.
    std::vector<uint32_t> containers;
    std::vector<uint32_t> freenodes = FreeList(isam::FREE_NODE, &containers);
    std::vector<uint32_t> reccontainers;
    std::vector<uint32_t> freerecs = FreeList(isam::FREE_RECORD, &reccontainers);
    std::multiset<uint32_t> all(used.begin(), used.end());
    all.insert(freenodes.begin(), freenodes.end());
    all.insert(containers.begin(), containers.end());
    all.insert(reccontainers.begin(), reccontainers.end());
    uint32_t last = isam::is_hdrget32(isam::HDR_LASTNODE);
    EXPECT_EQ(all.size(), last - 2);
    for (uint32_t node = 3; node <= last; ++node) EXPECT_EQ(all.count(node), 1u) << node;
    // Record numbers: each in use or free, once.
    std::multiset<int64_t> recs(freerecs.begin(), freerecs.end());
    for (const auto& kv : model) recs.insert(kv.first);
    uint32_t lastrec = isam::is_hdrget32(isam::HDR_LASTREC);
    EXPECT_EQ(recs.size(), lastrec);
    for (uint32_t n = 1; n <= lastrec; ++n) EXPECT_EQ(recs.count(n), 1u) << n;
  }
};

TEST_F(RecordsModelTest, TenThousandRandomOperations) { Run(10000, 20261210); }

TEST_F(RecordsModelTest, FourBuffersAreEnough) {
  // A thread of its own sets up its pool with the smallest size allowed.
  setenv("ISAMBUFS", "4", 1);
  std::thread t([this] {
    Run(1500, 7);
    if (sf_ != nullptr) Close(sf_);
  });
  t.join();
  unsetenv("ISAMBUFS");
}

}  // namespace
}  // namespace isamtest
