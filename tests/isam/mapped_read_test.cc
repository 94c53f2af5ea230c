// The buffer pool fills its buffers from mappings of the pair's files. A
// mapping must follow a file that grows under it (records added by another
// process beyond what was mapped), and a file cut short under an open pair
// by another program must give an error, never end the process.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "isam/isam.h"
#include "tests/isam/child.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kLen = 100;

IsamKeyDesc ById() {
  IsamKeyDesc k = {};
  k.nparts = 1;
  k.parts[0] = {0, 4, 2};
  return k;
}

void Put32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

void Make(uint32_t id, unsigned char* r) {
  Put32(id, r);
  for (int i = 4; i < kLen; ++i) r[i] = static_cast<unsigned char>(id * 7u + static_cast<uint32_t>(i));
}

// Keys in a scattered order, so that neighbours in the key lie apart in
// the data file.
uint32_t Scattered(uint32_t i, uint32_t n) { return (i * 7919u) % n; }

class MappedReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = dir_.Path("mapped");
    IsamKeyDesc a = ById();
    int fd = isbuild(name_.c_str(), kLen, &a, IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(isclose(fd), 0);
  }

  // In a child process: adds records from..to-1 in scattered order.
  void AddElsewhere(uint32_t from, uint32_t to) {
    isamtest::ChildResult c = isamtest::RunChild([&]() {
      int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
      if (fd < 0) return 1;
      unsigned char r[kLen];
      for (uint32_t i = 0; i < to - from; ++i) {
        Make(from + Scattered(i, to - from), r);
        if (iswrite(fd, r) != 0) return 2;
      }
      return isclose(fd) == 0 ? 0 : 3;
    });
    ASSERT_EQ(c.exit_code, 0) << c.err;
  }

  tevtest::TempInstall dir_;
  std::string name_;
};

// Both files grow to several times what the reader had mapped while it
// keeps the pair open; every record the other process added reads back
// whole, by key and in key order.
TEST_F(MappedReadTest, ReaderFollowsFilesGrownByAnotherProcess) {
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  unsigned char r[kLen], want[kLen];
  uint32_t total = 0;
  for (uint32_t upto : {200u, 12000u, 40000u}) {
    AddElsewhere(total, upto);
    total = upto;
    for (uint32_t i = 0; i < total; i += 37) {
      Put32(i, r);
      ASSERT_EQ(isread(fd, r, IS_EQUAL), 0) << i << " " << iserrno;
      Make(i, want);
      ASSERT_EQ(std::memcmp(r, want, kLen), 0) << i;
    }
  }
  IsamKeyDesc k = ById();
  ASSERT_EQ(isstart(fd, &k, 0, r, IS_FIRST), 0);
  uint32_t count = 0;
  while (isread(fd, r, IS_NEXT) == 0) {
    Make(count, want);
    ASSERT_EQ(std::memcmp(r, want, kLen), 0) << count;
    ++count;
  }
  EXPECT_EQ(iserrno, EENDFILE);
  EXPECT_EQ(count, total);
  EXPECT_EQ(isclose(fd), 0);
}

// Another program cuts the data file, then the index file, while the pair
// is open and has been read through its mappings: the reads of what was
// cut away fail with an error in a process that goes on.
TEST_F(MappedReadTest, FilesCutUnderAnOpenPairGiveErrors) {
  AddElsewhere(0, 20000);
  for (const char* which : {".dat", ".idx"}) {
    SCOPED_TRACE(which);
    isamtest::ChildResult c = isamtest::RunChild([&]() {
      int fd = isopen(name_.c_str(), IS_INPUT | IS_EXCLLOCK);
      if (fd < 0) return 1;
      unsigned char r[kLen];
      for (uint32_t i = 0; i < 20000; i += 3) {
        Put32(i, r);
        if (isread(fd, r, IS_EQUAL) != 0) return 2;
      }
      const std::string path = name_ + which;
      if (truncate(path.c_str(), 4096) != 0) return 3;
      int failed = 0;
      for (uint32_t i = 1; i < 20000; i += 2) {
        Put32(i, r);
        if (isread(fd, r, IS_EQUAL) != 0) {
          if (iserrno == 0) return 4;
          ++failed;
        }
      }
      isclose(fd);
      return failed > 0 ? 0 : 5;
    });
    EXPECT_EQ(c.signal, 0) << c.err;
    EXPECT_EQ(c.exit_code, 0) << c.err;
    // Build the pair again for the second file.
    iserase(name_.c_str());
    SetUp();
    AddElsewhere(0, 20000);
  }
}

}  // namespace
