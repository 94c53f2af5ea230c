#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "isam/bigendian.h"
#include "isam/header.h"
#include "isam/tail_page.h"
#include "isam/thread_state.h"
#include "tests/isam/check_fixture.h"
#include "tests/isam/isam_fixture.h"

namespace {

using isam::ld16;
using isamtest::RunCheck;

IsamKeyDesc IntKey(int flags, int start = 0) {
  IsamKeyDesc kd = {};
  kd.flags = static_cast<int16_t>(flags);
  kd.nparts = 1;
  kd.parts[0] = {static_cast<int16_t>(start), 4, 2};
  return kd;
}

class CheckTest : public isamtest::PairTest {
 protected:
  void TearDown() override {
    for (int i = 0; i < IS_MAXFILES; ++i) {
      if (isam::is_openfile(i) != nullptr) isclose(i);
    }
    PairTest::TearDown();
  }

  // A new pair open exclusively: fixed records of reclen bytes, or
  // variable ones of minlen..reclen bytes.
  int Build(const std::string& base, int reclen, IsamKeyDesc kd, int minlen = 0) {
    name_ = Name(base);
    idx_ = name_ + ".idx";
    dat_ = name_ + ".dat";
    int mode = IS_INOUT | IS_EXCLLOCK;
    if (minlen > 0) {
      isrecsize = minlen;
      mode |= IS_VARLEN;
    }
    int fd = isbuild(name_.c_str(), reclen, &kd, mode);
    EXPECT_GE(fd, 0) << iserrno;
    return fd;
  }

  // Writes a record through the record call; its record number.
  int64_t Insert(int fd, const std::string& rec) {
    isrecsize = static_cast<int>(rec.size());
    EXPECT_EQ(iswrite(fd, rec.data()), 0) << iserrno;
    return isrecnum;
  }

  void Remove(int fd, int64_t n) { EXPECT_EQ(isdelrec(fd, static_cast<int>(n)), 0) << iserrno; }

  static std::string IntRecord(int32_t key, int len, char fill = 'x') {
    std::string rec(static_cast<size_t>(len), fill);
    isam::st32(static_cast<uint32_t>(key), reinterpret_cast<unsigned char*>(&rec[0]));
    return rec;
  }

  void Patch(const std::string& path, int64_t off, const std::string& bytes) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  std::string Files() { return Bytes(idx_) + "|" + Bytes(dat_); }

  std::string name_, idx_, dat_;
};

// The ten-record file: records with keys 1..10, then 3 deleted.
TEST_F(CheckTest, SoundFixedFileTranscript) {
  int fd = Build("t", 20, IntKey(0));
  for (int k = 1; k <= 10; ++k) Insert(fd, IntRecord(k, 20));
  Remove(fd, 2);
  Remove(fd, 5);
  Remove(fd, 9);
  ASSERT_EQ(isclose(fd), 0);
  auto r = RunCheck({name_ + ".dat"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Checking dictionary and file sizes.\n"
            "Index file node size = 1024\n"
            "Current Halvik index file node size = 1024\n"
            "Checking data file records.\n"
            "Checking indexes and key descriptions.\n"
            "Index 1 = unique key  (0,4,2) \n"
            "    1 index node(s) used -- 1 index b-tree level(s) used\n"
            "Checking data record and index node free lists.\n"
            "4 index node(s) used, 0 free -- 7 data record(s) used, 3 free.\n\n");
}


// Node n of a file with 1024-byte nodes.
constexpr int64_t Node(int n) { return (n - 1) * 1024LL; }

// The ten-record file of the transcript (keys 1..10, records 2, 5 and 9
// deleted): node 2 holds the key description, node 3 the index (a leaf of
// 8-byte entries: key, record number), node 4 the free-record list.
class DamageTest : public CheckTest {
 protected:
  void MakeTen() {
    int fd = Build("t", 20, IntKey(0));
    for (int k = 1; k <= 10; ++k) Insert(fd, IntRecord(k, 20));
    Remove(fd, 2);
    Remove(fd, 5);
    Remove(fd, 9);
    ASSERT_EQ(isclose(fd), 0);
  }
};

struct Damage {
  const char* name;
  int64_t offset;     // in the ".idx" file
  std::string bytes;
  std::vector<std::string> findings;   // printed, in this order
  std::vector<std::string> questions;  // asked, in this order
};

std::string Be32s(uint32_t v) {
  unsigned char b[4];
  isam::st32(v, b);
  return std::string(reinterpret_cast<char*>(b), 4);
}

TEST_F(DamageTest, FindingsQuestionsAndRepairs) {
  const Damage cases[] = {
      {"record missing from the free list", isam::HDR_FREERECS, Be32s(0),
       {"3 missing data record pointer(s)", "1 missing index node pointer(s)"},
       {"Fix data record free list ? ", "Fix index node free list ? "}},
      {"key out of order", Node(3) + 2, Be32s(99),
       {"index out of order"}, {"Delete index ? ", "Remake index ? "}},
      {"index points at a deleted record", Node(3) + 2 + 4, Be32s(5),
       {"1 bad data record pointer(s)", "1 missing data record pointer(s)"},
       {"Delete index ? ", "Remake index ? "}},
      {"index points past the records", Node(3) + 2 + 4, Be32s(999),
       {"1 bad data record pointer(s)", "1 missing data record pointer(s)"},
       {"Delete index ? ", "Remake index ? "}},
      {"index node used count too large", Node(3), std::string("\x07\xD0", 2),
       {"bad b-tree node (3) format"}, {"Delete index ? ", "Remake index ? "}},
      {"index root out of range", Node(2) + 6 + 2, Be32s(77),
       {"1 bad index node pointer(s)", "7 missing data record pointer(s)"},
       {"Delete index ? "}},
      {"more key descriptions than counted", isam::HDR_NINDEXES, std::string("\0\0", 2),
       {"bad number of indexes"}, {"Fix number ? "}},
      {"free-node list holds the index root", isam::HDR_FREENODES, Be32s(3),
       {"1 duplicate index node pointer(s)"}, {"Fix index node free list ? "}},
      {"last record number too low", isam::HDR_LASTREC, Be32s(6),
       {"4 duplicate data record pointer(s)"}, {"Fix data record free list ? "}},
      {"free-record list node out of range", isam::HDR_FREERECS, Be32s(4000),
       {"bad index node", "3 missing data record pointer(s)", "1 missing index node pointer(s)"},
       {"Fix data record free list ? ", "Fix index node free list ? "}},
      {"free-record list node is the index", isam::HDR_FREERECS, Be32s(3),
       {"duplicate index node", "3 missing data record pointer(s)",
        "1 missing index node pointer(s)"},
       {"Fix data record free list ? ", "Fix index node free list ? "}},
      {"free-record list format", Node(4), std::string("\x03\xFF", 2),
       {"bad data record free list format", "3 missing data record pointer(s)"},
       {"Fix data record free list ? ", "Fix index node free list ? "}},
      {"free-record list entry out of range", Node(4) + 6, Be32s(500),
       {"1 bad data record pointer(s)", "1 missing data record pointer(s)"},
       {"Fix data record free list ? "}},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.name);
    MakeTen();
    Patch(idx_, d.offset, d.bytes);
    std::string before = Files();

    // Answering no changes nothing.
    auto no = RunCheck({name_}, "n\nn\nn\nn\nn\n");
    EXPECT_EQ(no.exit_code, 0) << no.out;
    EXPECT_EQ(Files(), before);
    size_t at = 0;
    for (const std::string& f : d.findings) {
      size_t pos = no.out.find("\nERROR: " + f + "\n", at);
      EXPECT_NE(pos, std::string::npos) << f << " in\n" << no.out;
      if (pos != std::string::npos) at = pos;
    }
    // A refused repair asks no follow-up question of its own.
    EXPECT_NE(no.out.find(d.questions[0] + "\n"), std::string::npos) << no.out;

    // Answering yes repairs, and a second check is clean.
    auto yes = RunCheck({"-y", name_});
    EXPECT_EQ(yes.exit_code, 0) << yes.out;
    for (const std::string& q : d.questions) {
      EXPECT_NE(yes.out.find(q + "yes\n\n"), std::string::npos) << q << " in\n" << yes.out;
    }
    isamtest::ExpectCleanCheck(name_);
    ASSERT_EQ(unlink(idx_.c_str()), 0);
    ASSERT_EQ(unlink(dat_.c_str()), 0);
  }
}


TEST_F(DamageTest, DictionaryFailuresEndTheCheck) {
  struct Case {
    const char* name;
    int64_t offset;
    std::string bytes;
    std::string error;
  } cases[] = {
      {"bad magic", 0, std::string("\xFE\x54", 2), "bad magic number"},
      // A 1025-byte node would overrun the 1024-byte buffers.
      {"node size field 1024", isam::HDR_NODESIZE, std::string("\x04\x00", 2),
       "bad index record size"},
      {"node size field 2047", isam::HDR_NODESIZE, std::string("\x07\xFF", 2),
       "bad index record size"},
      {"node size field 126", isam::HDR_NODESIZE, std::string("\x00\x7E", 2),
       "bad index record size"},
      {"duplicate number width 3", isam::HDR_DUPWIDTH, std::string("\x03", 1),
       "bad index record size"},
      {"record length 0", isam::HDR_RECLEN, std::string("\0\0", 2), "bad data record size"},
      {"maximum length negative", isam::HDR_MAXRECLEN, std::string("\xFF\xF0", 2),
       "bad data record maximum size"},
      {"key-description chain out of range", isam::HDR_KEYDESCNODE, Be32s(90),
       "bad index node in key descriptors"},
      {"key-description chain loops", Node(2) + 2, Be32s(2),
       "duplicate index node in key descriptors"},
      {"key description does not fit the record", Node(2) + 6 + 7, std::string("\x00\x30", 2),
       "bad key description format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeTen();
    Patch(idx_, c.offset, c.bytes);
    std::string before = Files();
    auto r = RunCheck({"-y", name_});
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_EQ(r.err, "result: -1\n");
    EXPECT_NE(r.out.find("\nERROR: " + c.error + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(Files(), before);
    ASSERT_EQ(unlink(idx_.c_str()), 0);
    ASSERT_EQ(unlink(dat_.c_str()), 0);
  }
}

TEST_F(DamageTest, RepairsDoNotDrawOnADamagedNodeList) {
  MakeTen();
  // The free-node list names the index root, and the free-record list is
  // lost: rebuilding the record list would take the root for a list node.
  Patch(idx_, isam::HDR_FREENODES, Be32s(3));
  Patch(idx_, isam::HDR_FREERECS, Be32s(0));
  std::string before = Files();
  auto r = RunCheck({name_}, "y\nn\n");
  EXPECT_NE(r.out.find("Fix data record free list ? \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Fix index node free list ? \n\nERROR: index node free list is damaged: "
                       "other free lists not recreated.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Files(), before);
  r = RunCheck({"-y", name_});
  EXPECT_NE(r.out.find("Recreating index node free list.\nRecreating data record free list.\n"),
            std::string::npos)
      << r.out;
  isamtest::ExpectCleanCheck(name_);
}

TEST_F(DamageTest, CollationOfTheFile) {
  MakeTen();
  Patch(idx_, isam::HDR_COLLFLAG, std::string("\x01", 1));
  Patch(idx_, isam::HDR_COLLNAME, std::string("de_DE.8859-1\0", 13));
  auto r = RunCheck({name_}, "", "de_DE.8859-1");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  r = RunCheck({name_}, "", "fr_FR.8859-1");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Current Halvik index file node size = 1024\n"
                       "\nCLIENT_LOCALE does not match ISAM file collation."
                       "\nISAM file collation is de_DE.8859-1.\n\n"),
            std::string::npos)
      << r.out;
  r = RunCheck({name_});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("\nThe collation locale cannot be loaded.\n"), std::string::npos) << r.out;
}

TEST_F(DamageTest, LockMethod) {
  MakeTen();
  // 0 becomes 8 without a question, and is written back.
  Patch(idx_, isam::HDR_LOCKMETHOD, std::string("\0\0", 2));
  auto r = RunCheck({name_});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.find("? "), std::string::npos) << r.out;
  EXPECT_EQ(Bytes(idx_).substr(isam::HDR_LOCKMETHOD, 2), std::string("\0\x08", 2));

  // Another method asks; no ends the check, yes sets 8.
  Patch(idx_, isam::HDR_LOCKMETHOD, std::string("\0\x03", 2));
  std::string before = Files();
  r = RunCheck({name_}, "no\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("force locking method to agree ? \n\nERROR: locking method used by the "
                       "file disagrees with current method.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Files(), before);
  r = RunCheck({name_}, "y\n");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Bytes(idx_).substr(isam::HDR_LOCKMETHOD, 2), std::string("\0\x08", 2));
  isamtest::ExpectCleanCheck(name_);
}

TEST_F(DamageTest, AnswersAreReadALineOfNineAtATime) {
  MakeTen();
  Patch(idx_, isam::HDR_NINDEXES, std::string("\0\0", 2));
  std::string before = Files();
  // Neither "maybe" nor an empty line is an answer; the tenth character of
  // a long line is read as the next answer; end of input is no.
  auto r = RunCheck({name_}, "maybe\n\nabcdefghino\n");
  EXPECT_NE(r.out.find("Fix number ? \nAnswer yes or no ? \nAnswer yes or no ? \n"
                       "Answer yes or no ? \n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Files(), before);
  r = RunCheck({name_}, "");
  EXPECT_NE(r.out.find("Fix number ? \n"), std::string::npos);
  EXPECT_EQ(Files(), before);
  r = RunCheck({name_}, "Yes please\n");
  EXPECT_EQ(ld16(reinterpret_cast<const unsigned char*>(Bytes(idx_).data()) + isam::HDR_NINDEXES), 1);
}

TEST_F(DamageTest, FileOpenInAnotherProcess) {
  MakeTen();
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  auto r = RunCheck({name_ + ".idx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "\nThe file is locked by another process.\n");
  ASSERT_EQ(isclose(fd), 0);
  r = RunCheck({Name("nothing")});
  EXPECT_EQ(r.out, "\nERROR: cannot open Halvik file\n");
  EXPECT_EQ(r.err, "result: -1\n");
}


TEST_F(CheckTest, ListingPrintsNodesAndEntries) {
  // An index on a 32-bit integer and a double, with duplicates.
  IsamKeyDesc kd = {};
  kd.flags = IS_DUPS;
  kd.nparts = 2;
  kd.parts[0] = {0, 4, 2};
  kd.parts[1] = {4, 8, 3};
  int fd = Build("t", 20, kd);
  for (int k : {-7, 3, 3}) {
    std::string rec = IntRecord(k, 20);
    double d = k * 1.25;
    std::memcpy(&rec[4], &d, sizeof d);
    Insert(fd, rec);
  }
  ASSERT_EQ(isclose(fd), 0);
  auto r = RunCheck({"-l", name_});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Index 1 = duplicates  (0,4,2) (4,8,3) \n"
                       "btree level: 0, node: 3, used: 60\n"
                       "flag totln keyln dupnm recptr  leadc tailc key\n"
                       "  0    20    12     0       1     0     0  -7 -8.750000 \n"
                       "  0    20    12     0       2     0     0  3 3.750000 \n"
                       "  0    20    12     1       3     0     0  3 3.750000 \n"
                       "    1 index node(s) used -- 1 index b-tree level(s) used\n"),
            std::string::npos)
      << r.out;
}

TEST_F(CheckTest, ListingWalksBranchNodes) {
  int fd = Build("t", 200, IntKey(0));
  for (int k = 1; k <= 150; ++k) Insert(fd, IntRecord(k, 200));
  ASSERT_EQ(isclose(fd), 0);
  auto r = RunCheck({"-l", name_});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("btree level: 0, node: 3, used: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("btree level: 1, node: "), std::string::npos);
  EXPECT_NE(r.out.find("\nbtree level: 0\n  0     8     4     0  "), std::string::npos);
  EXPECT_NE(r.out.find("index b-tree level(s) used"), std::string::npos);
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos);
}

// Variable-length records of 10..3000 bytes: tail pages and class lists.
class VariableTest : public CheckTest {
 protected:
  void MakeVariable() {
    int fd = Build("v", 3000, IntKey(0), 10);
    for (int k = 1; k <= 12; ++k) Insert(fd, IntRecord(k, 10 + (k * 397) % 2990, 'a' + k));
    Remove(fd, 4);
    ASSERT_EQ(isclose(fd), 0);
  }
  // The tail pages of the ".idx" file.
  std::vector<int> TailPages() {
    std::string idx = Bytes(idx_);
    std::vector<int> pages;
    for (size_t n = 1; n * 1024 <= idx.size(); ++n) {
      const char* node = idx.data() + (n - 1) * 1024;
      if (node[2] == '~' && node[3] == '&' && node[1021] == 0x7C) pages.push_back(static_cast<int>(n));
    }
    return pages;
  }
};

TEST_F(VariableTest, SoundFileSummary) {
  MakeVariable();
  auto r = RunCheck({name_});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  size_t pages = TailPages().size();
  EXPECT_NE(r.out.find("11 data record(s) used, 1 free.\n" + std::to_string(pages) +
                       " index pages are used for variable length record storage.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" bytes are free in those pages, an average of "), std::string::npos);
}

TEST_F(VariableTest, CorruptTailPageAndWrongClass) {
  struct Case {
    const char* name;
    int field;          // offset in the page
    std::string bytes;  // written at every page, or at the first only
    bool first_only;
    std::vector<std::string> findings;
    const char* question;
  } cases[] = {
      {"free bytes beyond an empty page", isam::TP_FREE, std::string("\x7F\x00", 2), true,
       {"Corrupt variable length record storage page", "bad data record"},
       "Fix data record free list ? "},
      {"class byte of another class", isam::TP_CLASS, std::string("\x04", 1), false, {},
       "Fix variable length storage free lists ? "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeVariable();
    std::vector<int> pages = TailPages();
    ASSERT_FALSE(pages.empty());
    for (int page : pages) {
      // A page on a class list (a class byte 1..4) is patched.
      unsigned char cls = static_cast<unsigned char>(Bytes(idx_)[Node(page) + isam::TP_CLASS]);
      if (cls == 0 || cls > 4 || (!c.first_only && cls == 4)) continue;
      Patch(idx_, Node(page) + c.field, c.bytes);
      if (c.first_only) break;
    }
    std::string before = Files();
    auto no = RunCheck({name_}, "n\nn\nn\nn\n");
    EXPECT_EQ(no.exit_code, 0);
    EXPECT_EQ(Files(), before);
    for (const std::string& f : c.findings) EXPECT_NE(no.out.find(f), std::string::npos) << no.out;
    EXPECT_NE(no.out.find(c.question), std::string::npos) << no.out;
    auto yes = RunCheck({"-y", name_});
    EXPECT_EQ(yes.exit_code, 0) << yes.out;
    isamtest::ExpectCleanCheck(name_);
    ASSERT_EQ(unlink(idx_.c_str()), 0);
    ASSERT_EQ(unlink(dat_.c_str()), 0);
  }
}


TEST_F(VariableTest, BackLinkOfAListHeadIsNotJudged) {
  MakeVariable();
  // The library leaves the back link of a page that became a list head as
  // it was; only the links behind the head must be right.
  std::string idx = Bytes(idx_);
  int head = 0, second = 0;
  for (int cls = 1; cls <= 4 && second == 0; ++cls) {
    head = static_cast<int>(isam::ldu32(
        reinterpret_cast<const unsigned char*>(idx.data()) + isam::HDR_CLASSHEADS + 4 * cls));
    if (head != 0) {
      second = static_cast<int>(isam::ldu32(
          reinterpret_cast<const unsigned char*>(idx.data()) + Node(head) + isam::TP_NEXT));
    }
  }
  ASSERT_NE(second, 0) << "no class list of two pages";
  Patch(idx_, Node(head) + isam::TP_PREV, Be32s(5));
  isamtest::ExpectCleanCheck(name_);
  Patch(idx_, Node(second) + isam::TP_PREV, Be32s(5));
  auto r = RunCheck({"-y", name_});
  EXPECT_NE(r.out.find("Fix variable length storage free lists ? yes\n\n"), std::string::npos)
      << r.out;
  isamtest::ExpectCleanCheck(name_);
}

}  // namespace
