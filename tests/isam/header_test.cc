// The dictionary header of a new pair, its checks on reading, file naming,
// and the sharing of a pair between opens of one thread.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "isam/isam.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::is_state;

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// The 117 header bytes of a new file, laid out field by field.
std::string ExpectedHeader(int minlen, int maxlen) {
  std::string h(117, '\0');
  auto put = [&h](int off, std::vector<int> bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) h[off + i] = static_cast<char>(bytes[i]);
  };
  put(0, {0xFE, 0x53, 2, 2, 4, 4});
  put(6, {0x03, 0xFF});
  put(10, {7, 4});
  put(13, {minlen >> 8, minlen & 0xFF});
  put(15, {0, 0, 0, 2});
  put(37, {0, 0, 0, 2});
  put(45, {0, 0, 0, 1});
  put(53, {0, 8});
  put(59, {maxlen >> 8, maxlen & 0xFF});
  return h;
}

using HeaderTest = PairTest;

TEST_F(HeaderTest, NewPairHasExactHeaderAndKeyDescriptionNode) {
  struct Case {
    const char* name;
    int minlen, maxlen;
  } cases[] = {{"fixed", 100, 0}, {"var", 20, 1000}};
  for (const Case& c : cases) {
    isam::IsamSharedFile* sf = Make(c.name, c.minlen, c.maxlen);
    ASSERT_NE(sf, nullptr) << c.name << " " << Errno();
    Close(sf);
    std::string idx = Bytes(Name(c.name) + ".idx");
    ASSERT_EQ(idx.size(), 2048u) << c.name;
    EXPECT_EQ(Hex(idx.substr(0, 117)), Hex(ExpectedHeader(c.minlen, c.maxlen))) << c.name;
    EXPECT_EQ(idx.substr(117, 1024 - 117), std::string(1024 - 117, '\0'));
    std::string node2 = idx.substr(1024);
    std::string want(1024, '\0');
    want[1] = 6;
    want[1021] = static_cast<char>(0xFF);
    want[1022] = 0x7E;
    EXPECT_EQ(Hex(node2), Hex(want)) << c.name;
    EXPECT_EQ(Bytes(Name(c.name) + ".dat"), "");

    sf = Open(c.name);
    ASSERT_NE(sf, nullptr) << Errno();
    EXPECT_EQ(sf->minlen, c.minlen);
    EXPECT_EQ(sf->maxlen, c.maxlen ? c.maxlen : c.minlen);
    EXPECT_EQ(sf->varlen, c.maxlen ? 1 : 0);
    EXPECT_EQ(sf->nodesize, 1023);
    Close(sf);
  }
}

TEST_F(HeaderTest, CollationNameIsStoredWithItsFlag) {
  std::string name = Name("coll");
  ASSERT_EQ(isam::is_createpair(name), 0);
  isam::IsamSharedFile* sf = isam::is_openfiles(name, IS_INOUT);
  ASSERT_NE(sf, nullptr);
  ASSERT_EQ(isam::is_initpair(sf, 10, 0, "en_us.8859-1"), 0);
  ASSERT_EQ(isam::is_flushfile(), 0);
  Close(sf);
  std::string h = Bytes(name + ".idx").substr(0, 117);
  EXPECT_EQ(h[19], 1);
  EXPECT_EQ(h.substr(81), std::string("en_us.8859-1") + std::string(36 - 12, '\0'));
}

TEST_F(HeaderTest, DamagedHeadersAreRefused) {
  struct Case {
    const char* what;
    int off;
    std::vector<int> bytes;
    bool resetlock;
    int want;  // iserrno of the header check, 0 when it passes
  } cases[] = {
      {"node size 2048", 6, {0x08, 0x00}, false, EUNSUPPORTED},
      {"node size 2047", 6, {0x07, 0xFF}, false, EBADFILE},
      {"node size 1024 passes the header check", 6, {0x04, 0x00}, false, 0},
      {"node size 126", 6, {0x00, 0x7E}, false, EBADFILE},
      {"node size 127", 6, {0x00, 0x7F}, false, 0},
      {"lock method 3", 53, {0, 3}, false, EUNSUPPORTED},
      {"lock method 3 with RESETLOCK", 53, {0, 3}, true, 0},
      {"lock method 0", 53, {0, 0}, false, 0},
      {"lock method 9", 53, {0, 9}, false, EBADFILE},
      {"lock method -1", 53, {0xFF, 0xFF}, false, EBADFILE},
      {"magic", 1, {0x54}, false, EBADFILE},
      {"format byte", 5, {5}, false, EBADFILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    isam::IsamSharedFile* sf = Make("dmg", 20, 100);
    ASSERT_NE(sf, nullptr);
    for (size_t i = 0; i < c.bytes.size(); ++i) {
      unsigned char b = static_cast<unsigned char>(c.bytes[i]);
      ASSERT_EQ(pwrite(sf->idxfd, &b, 1, c.off + static_cast<off_t>(i)), 1);
    }
    if (c.resetlock) setenv("RESETLOCK", "", 1);
    is_state().iserrno = 0;
    is_state().curfile = sf;
    int rc = isam::is_readheader();
    unsetenv("RESETLOCK");
    EXPECT_EQ(rc, c.want == 0 ? 0 : -1);
    EXPECT_EQ(Errno(), c.want);
    isam::is_releasefiles(sf);
    unlink((Name("dmg") + ".idx").c_str());
    unlink((Name("dmg") + ".dat").c_str());
  }
}

TEST_F(HeaderTest, ShortHeaderAndBadLengthsAreDamage) {
  isam::IsamSharedFile* sf = Make("short", 20, 100);
  ASSERT_NE(sf, nullptr);
  ASSERT_EQ(ftruncate(sf->idxfd, 50), 0);
  EXPECT_EQ(isam::is_loadpair(sf), -1);
  EXPECT_EQ(Errno(), EBADFILE);
  isam::is_dropbuffers(sf);
  isam::is_releasefiles(sf);

  struct Case {
    const char* what;
    int off;
    int hi, lo;
  } cases[] = {{"minimum 0", 13, 0, 0},
               {"maximum below minimum", 59, 0, 10},
               {"maximum beyond the limit", 59, 0x7F, 0x00},
               {"node size field 1024", 6, 0x04, 0x00}};
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string base = "len" + std::to_string(i++);
    sf = Make(base, 20, 100);
    ASSERT_NE(sf, nullptr);
    unsigned char b[2] = {static_cast<unsigned char>(c.hi), static_cast<unsigned char>(c.lo)};
    ASSERT_EQ(pwrite(sf->idxfd, b, 2, c.off), 2);
    is_state().iserrno = 0;
    EXPECT_EQ(isam::is_loadpair(sf), -1);
    EXPECT_EQ(Errno(), EBADFILE);
    isam::is_releasefiles(sf);
  }
}

TEST_F(HeaderTest, NamesAreChecked) {
  std::string dir = "/tmp/";
  struct Case {
    std::string name;
    int rc;
  } cases[] = {{dir + std::string(122 - dir.size(), 'a'), 0},
               {dir + std::string(123 - dir.size(), 'a'), -1},
               {"tables/", -1},
               {"", -1},
               {"t", 0}};
  for (const Case& c : cases) {
    is_state().iserrno = 0;
    EXPECT_EQ(isam::is_checkname(c.name.c_str()), c.rc) << c.name.size();
    EXPECT_EQ(Errno(), c.rc ? EFILENAME : 0);
  }
  EXPECT_EQ(isam::is_idxname("a/b"), "a/b.idx");
  EXPECT_EQ(isam::is_datname("a/b"), "a/b.dat");
}

TEST_F(HeaderTest, CreatingAnExistingFileFailsAndLeavesIt) {
  std::string path = Name("exists.idx");
  tevtest::WriteFile(path, "keep me");
  EXPECT_EQ(isam::is_createfile(path.c_str()), -1);
  EXPECT_EQ(Errno(), 17);
  EXPECT_EQ(Bytes(path), "keep me");

  // A pair whose ".dat" file exists: the ".idx" made for it is removed.
  tevtest::WriteFile(Name("half.dat"), "x");
  EXPECT_EQ(isam::is_createpair(Name("half")), -1);
  EXPECT_EQ(Errno(), 17);
  EXPECT_EQ(is_state().isiocode, 34);
  EXPECT_FALSE(dir_.Exists("half.idx"));
  EXPECT_EQ(Bytes(Name("half.dat")), "x");
}

TEST_F(HeaderTest, OpeningAPairTwiceSharesOneRecord) {
  isam::IsamSharedFile* sf = Make("twice", 20);
  ASSERT_NE(sf, nullptr);
  isam::IsamSharedFile* again = isam::is_openfiles(Name("twice"), IS_INOUT);
  ASSERT_EQ(again, sf);
  EXPECT_EQ(sf->refcount, 2);
  int idxfd = sf->idxfd;
  isam::is_releasefiles(sf);
  EXPECT_EQ(sf->refcount, 1);
  EXPECT_GE(fcntl(idxfd, F_GETFD), 0);
  EXPECT_EQ(fcntl(idxfd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  isam::is_releasefiles(sf);
  EXPECT_EQ(sf->refcount, -1);
  EXPECT_EQ(fcntl(idxfd, F_GETFD), -1);

  is_state().iserrno = 0;
  EXPECT_EQ(isam::is_openfiles(Name("missing"), IS_INOUT), nullptr);
  EXPECT_EQ(Errno(), 2);
}

TEST_F(HeaderTest, OpenFileSlotsAndWorkBuffer) {
  int a = isam::is_allocfd();
  int b = isam::is_allocfd();
  ASSERT_GE(a, 0);
  EXPECT_EQ(b, a + 1);
  isam::IsamOpenFile* of = isam::is_openfile(a);
  ASSERT_NE(of, nullptr);
  EXPECT_EQ(of->pid, static_cast<uint16_t>(getpid()));
  isam::is_freefd(of);
  EXPECT_EQ(isam::is_openfile(a), nullptr);
  EXPECT_EQ(isam::is_allocfd(), a);
  isam::is_freefd(isam::is_openfile(a));
  isam::is_freefd(isam::is_openfile(b));
  EXPECT_EQ(isam::is_openfile(-1), nullptr);
  EXPECT_EQ(isam::is_openfile(256), nullptr);

  isam::IsamThreadState& st = is_state();
  ASSERT_EQ(isam::is_recbuffer(1000), 0);
  EXPECT_EQ(st.reccap, 1024);
  st.cache_recnum = 7;
  ASSERT_EQ(isam::is_recbuffer(1023), 0);
  EXPECT_EQ(st.cache_recnum, 7);  // large enough already: kept
  ASSERT_EQ(isam::is_recbuffer(1024), 0);
  EXPECT_EQ(st.reccap, 1280);
  EXPECT_EQ(st.cache_recnum, -1);
}

TEST(IsamStatus, CodesFollowTheErrorNumber) {
  struct Case {
    int err;
    const char* preset_b;
    const char* a;
    const char* b;
  } cases[] = {
      {0, "35", "00", "00"},    {EDUPLICATE, "00", "22", "22"}, {ENORECORD, "46", "23", "23"},
      {EENDFILE, "00", "10", "10"}, {ENOCURRENT, "00", "21", "43"}, {ENOCURRENT, "46", "21", "46"},
      {EBADFILE, "00", "90", "90"}, {EBADARG, "37", "90", "37"},
  };
  for (const Case& c : cases) {
    isam::IsamThreadState& st = is_state();
    st.iserrno = c.err;
    st.isstatus_b[0] = c.preset_b[0];
    st.isstatus_b[1] = c.preset_b[1];
    isam::is_setstatus();
    EXPECT_EQ(std::string(st.isstatus_a, 2), c.a) << c.err;
    EXPECT_EQ(std::string(st.isstatus_b, 2), c.b) << c.err;
  }
  is_state().iserrno = 0;
}

}  // namespace
}  // namespace isamtest
