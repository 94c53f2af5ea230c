#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/call_frame.h"
#include "isam/check.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/records.h"
#include "isam/thread_state.h"
#include "tests/isam/check_fixture.h"
#include "tests/isam/isam_fixture.h"

namespace {

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

  // Writes a record under a new number with its keys in every index, as
  // the record calls do.
  int64_t Insert(int fd, const std::string& rec) {
    isam::IsamThreadState& st = isam::is_state();
    EXPECT_EQ(isam::is_callbegin(fd, isam::AC_READ | isam::AC_WRITE | isam::AC_HDREXCL), 0);
    int64_t n = isam::freetake(isam::FREE_RECORD);
    EXPECT_GT(n, 0);
    auto* bytes = reinterpret_cast<const unsigned char*>(rec.data());
    EXPECT_EQ(isam::datawrite(n, bytes, static_cast<int>(rec.size())), 0) << st.iserrno;
    for (int i = 1;; ++i) {
      IsamKeyDesc kd = {};
      if (isam::is_findkeydesc(&kd, i) < 0) break;
      if (kd.nparts == 0) continue;
      isam::IsamKeyEntry e;
      isam::is_buildkey(bytes, &e, kd);
      e.pointer = static_cast<int32_t>(n);
      EXPECT_EQ(isam::is_insertkey(&e, kd), 0) << st.iserrno;
    }
    st.iserrno = 0;
    EXPECT_EQ(isam::is_callend(), 0);
    return n;
  }

  // Deletes record n with its keys and gives its number back.
  void Remove(int fd, int64_t n) {
    isam::IsamThreadState& st = isam::is_state();
    EXPECT_EQ(isam::is_callbegin(fd, isam::AC_READ | isam::AC_WRITE | isam::AC_HDREXCL), 0);
    ASSERT_GE(isam::dataread(n, st.recbuf.get()), 0);
    for (int i = 1;; ++i) {
      IsamKeyDesc kd = {};
      if (isam::is_findkeydesc(&kd, i) < 0) break;
      if (kd.nparts == 0) continue;
      isam::IsamKeyEntry e;
      isam::is_buildkey(st.recbuf.get(), &e, kd);
      e.pointer = static_cast<int32_t>(n);
      EXPECT_EQ(isam::is_deletekey(e, kd), 0);
    }
    EXPECT_EQ(isam::datafree(n), 0);
    EXPECT_EQ(isam::freeput(n, isam::FREE_RECORD), 0);
    st.iserrno = 0;
    EXPECT_EQ(isam::is_callend(), 0);
  }

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
  static std::string Be32(uint32_t v) {
    unsigned char b[4];
    isam::st32(v, b);
    return std::string(reinterpret_cast<char*>(b), 4);
  }
  static std::string Be16(uint32_t v) {
    unsigned char b[2];
    isam::st16(v, b);
    return std::string(reinterpret_cast<char*>(b), 2);
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

}  // namespace
