#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "isam/bigendian.h"
#include "isam/call_frame.h"
#include "isam/records.h"
#include "isam/collation.h"
#include "isam/header.h"
#include "isam/thread_state.h"
#include "tests/isam/isfd_fixture.h"
#include "tests/support/test_support.h"
#include "tests/isam/lock_probe.h"

namespace {

using isamtest::HasLock;

class FileCallTest : public isamtest::IsfdTest {
 protected:
  void Patch(int off, std::initializer_list<unsigned char> bytes) {
    int fd = open(idx_.c_str(), O_RDWR | O_CLOEXEC);
    std::string b(bytes.begin(), bytes.end());
    ASSERT_EQ(pwrite(fd, b.data(), b.size(), off), static_cast<ssize_t>(b.size()));
    close(fd);
  }
  unsigned char HeaderByte(int off) { return static_cast<unsigned char>(Bytes(idx_)[off]); }
  bool Exists(const std::string& p) { return access(p.c_str(), F_OK) == 0; }
  // A key on the 4-byte integer at byte 0.
  static IsamKeyDesc IntKey(int flags) {
    IsamKeyDesc kd = {};
    kd.flags = static_cast<int16_t>(flags);
    kd.nparts = 1;
    kd.parts[0] = {0, 4, 2};
    return kd;
  }
};

TEST_F(FileCallTest, OpenModeWords) {
  struct Case {
    int mode;
    int err;          // 0: the open succeeds
    const char* status;
    int lockmode;     // kept in the isfd's mode word
  } cases[] = {
      {IS_INOUT | IS_MANULOCK, 0, "00/00", IS_MANULOCK},
      {IS_INPUT | 0x300, 0, "00/00", IS_AUTOLOCK},
      {IS_INOUT | 0x500, 0, "00/00", IS_EXCLLOCK},
      {IS_INOUT | IS_VARLEN | IS_ANYFORM | IS_MANULOCK, 0, "00/00", IS_MANULOCK},
      {IS_INOUT | 0xC00, EBADARG, "90/37", 0},
      {IS_INOUT, EBADARG, "90/37", 0},
      {IS_INOUT | 0x100, EBADARG, "90/37", 0},
      {3 | IS_MANULOCK, EBADARG, "90/37", 0},
      {IS_INOUT | IS_TRANS | IS_MANULOCK, EBADARG, "90/37", 0},
      {IS_INOUT | IS_NOLOG | IS_MANULOCK, EBADARG, "90/37", 0},
      {IS_INOUT | IS_VARLEN | IS_MANULOCK, EBADARG, "90/39", 0},
  };
  for (const Case& c : cases) {
    int fd = isopen(name_.c_str(), c.mode);
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(iserrno, c.err);
    EXPECT_EQ(Status(), c.status);
    if (c.err == 0) {
      ASSERT_GE(fd, 0);
      EXPECT_EQ(isam::is_openfile(fd)->mode & 0xFF00, c.lockmode);
      EXPECT_EQ(isrecsize, 20);
      EXPECT_TRUE(HasLock(idx_, c.lockmode == IS_EXCLLOCK ? isamtest::kOpenExclusive
                                                           : isamtest::kOpenShared));
      ASSERT_EQ(isclose(fd), 0);
    } else {
      EXPECT_EQ(fd, -1);
    }
    EXPECT_TRUE(isamtest::LocksOn(idx_).empty());  // nothing left behind
  }
}

TEST_F(FileCallTest, HeaderChecksOfOpen) {
  struct Case {
    int off;
    std::initializer_list<unsigned char> bytes;
    bool resetlock;
    int err;
  } cases[] = {
      {isam::HDR_LOCKMETHOD, {0, 0}, false, 0},
      {isam::HDR_LOCKMETHOD, {0, 5}, false, EUNSUPPORTED},
      {isam::HDR_LOCKMETHOD, {0, 5}, true, 0},
      {isam::HDR_LOCKMETHOD, {0, 7}, true, 0},
      {isam::HDR_LOCKMETHOD, {0, 2}, true, EUNSUPPORTED},
      {isam::HDR_LOCKMETHOD, {0, 9}, true, EBADFILE},
      {isam::HDR_LOCKMETHOD, {0xFF, 0xFF}, true, EBADFILE},
      {isam::HDR_NODESIZE, {0x04, 0x00}, false, EUNSUPPORTED},  // 1024
      {isam::HDR_NODESIZE, {0x07, 0xFF}, false, EBADFILE},      // 2047
      {isam::HDR_NODESIZE, {0x08, 0x00}, false, EUNSUPPORTED},  // 2048
      {isam::HDR_DUPWIDTH, {3}, false, EBADFILE},               // node size field odd
      {1024 + 1021, {0x00}, false, EBADFILE},                   // key-description node mark
  };
  std::string pristine = Bytes(idx_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.off);
    tevtest::WriteFile(idx_, pristine);
    Patch(c.off, c.bytes);
    if (c.resetlock) setenv("RESETLOCK", "", 1);
    int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
    unsetenv("RESETLOCK");
    EXPECT_EQ(iserrno, c.err);
    if (c.err == 0) {
      ASSERT_GE(fd, 0);
      ASSERT_EQ(isclose(fd), 0);
      EXPECT_EQ(HeaderByte(isam::HDR_LOCKMETHOD + 1), 8);  // rewritten to 8
    } else {
      EXPECT_EQ(Status(), "90/90");
    }
  }
}

TEST_F(FileCallTest, StatusOfCallsOnBadIsfds) {
  EXPECT_EQ(isclose(-1), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);
  EXPECT_EQ(isflush(256), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);
  int fd = isopen(name_.c_str(), IS_INPUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(isflush(fd), -1);  // needs write access
  EXPECT_EQ(iserrno, ENOTOPEN);
  EXPECT_EQ(Status(), "94/90");
  EXPECT_EQ(isclose(fd), 0);
  EXPECT_EQ(isclose(fd), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);
  EXPECT_EQ(Status(), "90/42");
  EXPECT_EQ(isopen(Name("missing").c_str(), IS_INOUT | IS_MANULOCK), -1);
  EXPECT_EQ(iserrno, ENOENT);
  EXPECT_EQ(Status(), "90/35");
}

TEST_F(FileCallTest, NameLengthLimit) {
  std::string base = Name("");
  std::string n122 = base + std::string(122 - base.size(), 'x');
  EXPECT_EQ(isopen(n122.c_str(), IS_INOUT | IS_MANULOCK), -1);
  EXPECT_EQ(iserrno, ENOENT);
  EXPECT_EQ(isopen((n122 + "x").c_str(), IS_INOUT | IS_MANULOCK), -1);
  EXPECT_EQ(iserrno, EFILENAME);
  EXPECT_EQ(isopen((name_ + "/").c_str(), IS_INOUT | IS_MANULOCK), -1);
  EXPECT_EQ(iserrno, EFILENAME);
}

TEST_F(FileCallTest, SecondOpenSharesThePairAndFailedOpenGivesBackItsLock) {
  int a = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  int b = isopen(name_.c_str(), IS_INPUT | IS_MANULOCK);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(isam::is_openfile(a)->shared, isam::is_openfile(b)->shared);
  // The exclusive open succeeds in taking its lock, then fails on the
  // record form: the lock turns back to shared.
  EXPECT_EQ(isopen(name_.c_str(), IS_INOUT | IS_VARLEN | IS_EXCLLOCK), -1);
  EXPECT_EQ(Status(), "90/39");
  EXPECT_TRUE(HasLock(idx_, isamtest::kOpenShared));
  EXPECT_FALSE(HasLock(idx_, isamtest::kOpenExclusive));
  EXPECT_EQ(isam::is_openfile(a)->shared->exclopens, 0);
  ASSERT_EQ(isclose(b), 0);
  EXPECT_EQ(isflush(a), 0);
}

TEST_F(FileCallTest, BuildLimitsAndNewFile) {
  std::string n = Name("b");
  struct Case {
    int reclen, recsize, mode, err;
  } cases[] = {
      {0, 0, IS_INOUT | IS_EXCLLOCK, EBADRECLEN},
      {32512, 0, IS_INOUT | IS_EXCLLOCK, EBADRECLEN},
      {100, 100, IS_INOUT | IS_EXCLLOCK | IS_VARLEN, EBADRECLEN},
      {100, 0, IS_INOUT | IS_EXCLLOCK | IS_VARLEN, EBADRECLEN},
      {100, 0, IS_INOUT | 0xC00, EBADARG},
      {32511, 0, IS_INOUT | IS_EXCLLOCK, 0},
      {100, 20, IS_INOUT | IS_EXCLLOCK | IS_VARLEN | IS_TRANS, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reclen);
    isrecsize = c.recsize;
    IsamKeyDesc kd = IntKey(0);
    int fd = isbuild(n.c_str(), c.reclen, &kd, c.mode);
    EXPECT_EQ(iserrno, c.err);
    if (c.err != 0) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(Status(), "90/90");
      EXPECT_FALSE(Exists(n + ".idx"));
      continue;
    }
    ASSERT_GE(fd, 0);
    ASSERT_EQ(isclose(fd), 0);
    std::string hdr = Bytes(n + ".idx");
    const auto* h = reinterpret_cast<const unsigned char*>(hdr.data());
    // The build's own change (the key-description node) is counted once.
    EXPECT_EQ(isam::ldu32(h + isam::HDR_CHANGES), 1u);
    EXPECT_EQ(isam::ld16(h + isam::HDR_NINDEXES), 1);
    ASSERT_EQ(iserase(n.c_str()), 0);
  }
  // An existing pair is never overwritten.
  IsamKeyDesc kd = IntKey(0);
  std::string before = Bytes(idx_);
  EXPECT_EQ(isbuild(name_.c_str(), 20, &kd, IS_INOUT | IS_EXCLLOCK), -1);
  EXPECT_EQ(iserrno, EEXIST);
  EXPECT_EQ(isiocode, 33);
  EXPECT_EQ(Bytes(idx_), before);
}

int NoCollation(char*, int) { return -1; }

TEST_F(FileCallTest, FailedBuildLeavesNothingBehind) {
  // No collation name to be had: a collated key cannot be built.
  auto saved = isam::is_collationsource;
  isam::is_collationsource = NoCollation;
  std::string n = Name("c");
  IsamKeyDesc kd = {};
  kd.nparts = 1;
  kd.parts[0] = {0, 10, 7};
  EXPECT_EQ(isbuild(n.c_str(), 20, &kd, IS_INOUT | IS_EXCLLOCK), -1);
  EXPECT_EQ(iserrno, ELOCALELOAD);
  EXPECT_FALSE(Exists(n + ".idx"));
  EXPECT_FALSE(Exists(n + ".dat"));
  isam::is_collationsource = saved;
  kd.parts[0].type = 0;
  int fd = isbuild(n.c_str(), 20, &kd, IS_INOUT | IS_EXCLLOCK);
  EXPECT_GE(fd, 0);
}

TEST_F(FileCallTest, DefaultCollationIsTheClientLocale) {
  // The client locale of the base services names the collation: the
  // default one of the installation tree here.
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  std::string n = Name("clientcoll");
  IsamKeyDesc kd = {};
  kd.nparts = 1;
  kd.parts[0] = {0, 10, 7};
  int fd = isbuild(n.c_str(), 20, &kd, IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0) << iserrno;
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_EQ(Bytes(n + ".idx").substr(isam::HDR_COLLNAME, 10), std::string("en_US.819\0", 10));
  fd = isopen(n.c_str(), IS_INOUT | IS_MANULOCK);
  EXPECT_GE(fd, 0) << iserrno;
  if (fd >= 0) isclose(fd);
}

int Collation(char* name, int size) {
  std::snprintf(name, static_cast<size_t>(size), "%s", std::getenv("TEST_COLLATION"));
  return 0;
}

TEST_F(FileCallTest, CollationCheck) {
  auto saved = isam::is_collationsource;
  isam::is_collationsource = Collation;
  setenv("TEST_COLLATION", "de_de.8859-1", 1);
  std::string n = Name("coll");
  IsamKeyDesc kd = {};
  kd.flags = IS_LEADCOMP;
  kd.nparts = 1;
  kd.parts[0] = {0, 10, 7};
  int fd = isbuild(n.c_str(), 20, &kd, IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  IsamKeyDesc got = {};
  ASSERT_EQ(isindexinfo(fd, &got, 1), 0);
  EXPECT_EQ(got.flags & IS_LEADCOMP, 0);  // a collated key is never compressed
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_EQ(Bytes(n + ".idx").substr(isam::HDR_COLLNAME, 13), std::string("de_de.8859-1\0", 13));
  struct Case {
    const char* current;
    int mode;
    int err;
  } cases[] = {{"de_de.8859-1", IS_INOUT | IS_MANULOCK, 0},
               {"fr_fr.8859-1", IS_INOUT | IS_MANULOCK, ECOLLATION},
               {"fr_fr.8859-1", IS_INOUT | IS_MANULOCK | IS_ANYFORM, 0}};
  for (const Case& c : cases) {
    setenv("TEST_COLLATION", c.current, 1);
    fd = isopen(n.c_str(), c.mode);
    EXPECT_EQ(iserrno, c.err) << c.current;
    if (fd >= 0) isclose(fd);
  }
  isam::is_collationsource = saved;
  unsetenv("TEST_COLLATION");
}

TEST_F(FileCallTest, IndexInfo) {
  std::string n = Name("v");
  isrecsize = 8;
  IsamKeyDesc kd = IntKey(IS_DUPS);
  int fd = isbuild(n.c_str(), 300, &kd, IS_INOUT | IS_EXCLLOCK | IS_VARLEN);
  ASSERT_GE(fd, 0);
  // Ten record numbers used, three given back.
  ASSERT_EQ(isam::is_callbegin(fd, isam::AC_WRITE), 0);
  isam::is_hdrput32(isam::HDR_LASTREC, 10);
  for (int r : {2, 5, 7}) ASSERT_EQ(isam::freeput(r, isam::FREE_RECORD), 0);
  ASSERT_EQ(isam::is_callend(), 0);
  IsamDictInfo info = {};
  ASSERT_EQ(isindexinfo(fd, &info, 0), 0);
  EXPECT_EQ(static_cast<uint16_t>(info.nindexes), 0x8001);
  EXPECT_EQ(info.reclen, 300);
  EXPECT_EQ(info.nodesize, 1023);
  EXPECT_EQ(info.nrecords, 7);
  EXPECT_EQ(isrecsize, 8);
  IsamKeyDesc got = {};
  ASSERT_EQ(isindexinfo(fd, &got, 1), 0);
  EXPECT_EQ(got.nparts, 1);
  EXPECT_EQ(got.flags & IS_DUPS, IS_DUPS);
  EXPECT_EQ(got.parts[0].len, 4);
  EXPECT_EQ(isindexinfo(fd, &got, 2), -1);
  EXPECT_EQ(iserrno, EBADARG);
  EXPECT_EQ(isindexinfo(fd, &got, -1), -1);
  EXPECT_EQ(iserrno, EBADARG);
}

TEST_F(FileCallTest, AddIndexFillsFromRecordsAndUndoesOnDuplicate) {
  std::string n = Name("a");
  IsamKeyDesc none = {};
  int fd = isbuild(n.c_str(), 20, &none, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  // Records 1..50 with a unique int at 0 and a value at 4 that repeats.
  ASSERT_EQ(isam::is_callbegin(fd, isam::AC_WRITE), 0);
  for (int r = 1; r <= 50; ++r) {
    unsigned char rec[20] = {};
    isam::st32(static_cast<uint32_t>(1000 - r), rec);
    isam::st32(static_cast<uint32_t>(r % 7), rec + 4);
    ASSERT_EQ(isam::datawrite(r, rec, 20), 0);
  }
  isam::is_hdrput32(isam::HDR_LASTREC, 50);
  ASSERT_EQ(isam::is_callend(), 0);
  ASSERT_EQ(isflush(fd), 0);

  IsamKeyDesc dup = {};
  dup.nparts = 1;
  dup.parts[0] = {4, 4, 2};
  EXPECT_EQ(isaddindex(fd, &dup), -1);
  EXPECT_EQ(iserrno, EDUPLICATE);
  IsamDictInfo info = {};
  ASSERT_EQ(isindexinfo(fd, &info, 0), 0);
  EXPECT_EQ(info.nindexes, 1);
  // Every node the failed index took is back on the free-node list.
  ASSERT_EQ(isflush(fd), 0);
  std::string after = Bytes(n + ".idx");
  const auto* h = reinterpret_cast<const unsigned char*>(after.data());
  uint32_t lastnode = isam::ldu32(h + isam::HDR_LASTNODE);
  ASSERT_EQ(isam::is_callbegin(fd, isam::AC_READ), 0);
  EXPECT_EQ(isam::freecount(isam::FREE_NODE) + 2, static_cast<int64_t>(lastnode))
      << "only the header and key-description nodes stay in use";
  isam::is_callend();

  IsamKeyDesc uniq = IntKey(0);
  ASSERT_EQ(isaddindex(fd, &uniq), 0) << iserrno;
  EXPECT_EQ(isaddindex(fd, &uniq), -1);
  EXPECT_EQ(iserrno, EKEYEXISTS);
  dup.flags = IS_DUPS;
  ASSERT_EQ(isaddindex(fd, &dup), 0);
  ASSERT_EQ(isindexinfo(fd, &info, 0), 0);
  EXPECT_EQ(info.nindexes, 3);
  // Only an exclusive open may add an index.
  ASSERT_EQ(isclose(fd), 0);
  fd = isopen(n.c_str(), IS_INOUT | IS_MANULOCK);
  IsamKeyDesc more = {};
  more.nparts = 1;
  more.parts[0] = {8, 4, 0};
  EXPECT_EQ(isaddindex(fd, &more), -1);
  EXPECT_EQ(iserrno, ENOTEXCLUSIVE);
}

TEST_F(FileCallTest, EraseAndRename) {
  std::string other = Name("r");
  ASSERT_EQ(isrename(name_.c_str(), other.c_str()), 0);
  EXPECT_FALSE(Exists(idx_));
  int fd = isopen(other.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isclose(fd), 0);
  // The target exists: nothing moves.
  isam::IsamSharedFile* sf = Make("t", 20);
  ASSERT_NE(sf, nullptr);
  Close(sf);
  EXPECT_EQ(isrename(name_.c_str(), other.c_str()), -1);
  EXPECT_EQ(iserrno, EEXIST);
  EXPECT_EQ(Status(), "90/90");
  EXPECT_TRUE(Exists(idx_));
  // Only the data file's name is taken: the index file is moved back.
  ASSERT_EQ(iserase(other.c_str()), 0);
  EXPECT_FALSE(Exists(other + ".idx"));
  EXPECT_FALSE(Exists(other + ".dat"));
  tevtest::WriteFile(other + ".dat", "");
  EXPECT_EQ(isrename(name_.c_str(), other.c_str()), -1);
  EXPECT_EQ(iserrno, EEXIST);
  EXPECT_TRUE(Exists(idx_));
  EXPECT_TRUE(Exists(name_ + ".dat"));
  EXPECT_FALSE(Exists(other + ".idx"));
  // Erase: missing pair, then a pair open in another process.
  EXPECT_EQ(iserase(Name("missing").c_str()), -1);
  EXPECT_EQ(iserrno, ENOENT);
  EXPECT_EQ(Status(), "90/90");
  std::string name = name_;
  isamtest::Peer peer([name] { return isopen(name.c_str(), IS_INOUT | IS_MANULOCK) >= 0 ? 0 : 1; });
  ASSERT_EQ(peer.result(), 0);
  EXPECT_EQ(iserase(name_.c_str()), -1);
  EXPECT_EQ(iserrno, EFILELOCKED);
  EXPECT_TRUE(Exists(idx_));
  peer.Finish();
  EXPECT_EQ(iserase(name_.c_str()), 0);
  EXPECT_FALSE(Exists(idx_));
  EXPECT_FALSE(Exists(name_ + ".dat"));
}

}  // namespace

TEST_F(FileCallTest, DamagedStoredKeyDescriptionIsRefused) {
  // Node 2 holds the descriptions of index 1 (bytes 6-17) and index 2
  // (bytes 18-29): length (2), root (4), flags (1), then the part: length
  // (2), start (2), type (1).
  constexpr int kPart1 = 1024 + 6 + 7;
  constexpr int kPart2 = 1024 + 18 + 7;
  struct Case {
    const char* what;
    int off;
    std::initializer_list<unsigned char> bytes;
  } cases[] = {
      {"start past the record", kPart2 + 2, {0x03, 0xE8}},
      {"negative start", kPart2 + 2, {0xFF, 0xF0}},
      {"length past the record", kPart2, {0x00, 0x78}},
      {"length wrong for the type", kPart2 + 4, {3}},
      {"unknown type", kPart2 + 4, {14}},
  };
  std::string n = Name("k");
  IsamKeyDesc kd = IntKey(0);
  int fd = isbuild(n.c_str(), 20, &kd, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  IsamKeyDesc second = IntKey(IS_DUPS);
  second.parts[0].start = 4;
  ASSERT_EQ(isaddindex(fd, &second), 0);
  ASSERT_EQ(isclose(fd), 0);
  idx_ = n + ".idx";
  std::string pristine = Bytes(idx_);
  unsigned char record[20] = {0, 0, 0, 7};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tevtest::WriteFile(idx_, pristine);
    Patch(c.off, c.bytes);
    fd = isopen(n.c_str(), IS_INOUT | IS_MANULOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(iswrite(fd, record), -1);
    EXPECT_EQ(iserrno, EBADFILE);
    IsamKeyDesc got = {};
    EXPECT_EQ(isindexinfo(fd, &got, 2), -1);
    EXPECT_EQ(iserrno, EBADFILE);
    ASSERT_EQ(isclose(fd), 0);
  }
  // A damaged primary description makes the open fail.
  tevtest::WriteFile(idx_, pristine);
  Patch(kPart1 + 2, {0x03, 0xE8});
  EXPECT_EQ(isopen(n.c_str(), IS_INOUT | IS_MANULOCK), -1);
  EXPECT_EQ(iserrno, EBADFILE);
  EXPECT_TRUE(isamtest::LocksOn(idx_).empty());
}
