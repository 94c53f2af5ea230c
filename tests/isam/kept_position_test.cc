// A reader stepping through an index keeps its place between calls; it must
// never hand out a record as it stood before another process (or another
// isfd of the same process) changed it. The change count in the header is
// what tells the reader that its kept place and buffers are stale.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "isam/isam.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kLen = 40;

IsamKeyDesc ById() {
  IsamKeyDesc k = {};
  k.nparts = 1;
  k.parts[0] = {0, 4, 2};
  return k;
}

// Every tenth record shares its group key, so that the duplicate index
// has runs of equal keys across leaves.
IsamKeyDesc ByGroup() {
  IsamKeyDesc k = {};
  k.flags = IS_DUPS;
  k.nparts = 1;
  k.parts[0] = {4, 4, 2};
  return k;
}

void Put32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

uint32_t Get32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void Make(uint32_t id, unsigned char mark, unsigned char* r) {
  std::memset(r, mark, kLen);
  Put32(id, r);
  Put32(id / 10, r + 4);
}

// In a child process: rewrites record `rewrite` with the given mark and
// deletes record `gone`; exits 0 when both worked.
void ChangeElsewhere(const std::string& name, uint32_t rewrite, uint32_t gone, unsigned char mark) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    unsigned char r[kLen];
    Put32(rewrite, r);
    bool ok = fd >= 0 && isread(fd, r, IS_EQUAL) == 0;
    Make(rewrite, mark, r);
    ok = ok && isrewcurr(fd, r) == 0;
    Put32(gone, r);
    ok = ok && isread(fd, r, IS_EQUAL) == 0 && isdelcurr(fd) == 0 && isclose(fd) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

class KeptPositionTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    name_ = dir_.Path("kept");
    IsamKeyDesc a = ById(), b = ByGroup();
    int fd = isbuild(name_.c_str(), kLen, &a, IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(isaddindex(fd, &b), 0);
    unsigned char r[kLen];
    // Enough records for several leaves in both indexes, in id order so
    // that the duplicates of a group stand in id order too.
    for (uint32_t i = 0; i < 600; ++i) {
      Make(i, 'o', r);
      ASSERT_EQ(iswrite(fd, r), 0);
    }
    ASSERT_EQ(isclose(fd), 0);
  }

  tevtest::TempInstall dir_;
  std::string name_;
};

// Parameter: 0 steps in the unique index, 1 in the duplicate index (both
// list the ids in ascending order).
TEST_P(KeptPositionTest, StepsSeeChangesOfAnotherProcessAndAnotherIsfd) {
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  IsamKeyDesc k = GetParam() == 0 ? ById() : ByGroup();
  unsigned char r[kLen];
  ASSERT_EQ(isstart(fd, &k, 0, r, IS_FIRST), 0);
  for (int i = 0; i < 250; ++i) ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  uint32_t at = Get32(r);
  ASSERT_EQ(at, 249u);

  // Another process rewrites the next record and deletes the one after.
  ChangeElsewhere(name_, at + 1, at + 2, 'N');
  ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  EXPECT_EQ(Get32(r), at + 1);
  EXPECT_EQ(r[kLen - 1], 'N');
  ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  EXPECT_EQ(Get32(r), at + 3);
  EXPECT_EQ(r[kLen - 1], 'o');

  // Then it rewrites the record before and deletes the one after: stepping
  // back gives the new image, stepping on passes over the deleted one.
  ChangeElsewhere(name_, at + 1, at + 4, 'M');
  ASSERT_EQ(isread(fd, r, IS_PREVIOUS), 0);
  EXPECT_EQ(Get32(r), at + 1);
  EXPECT_EQ(r[kLen - 1], 'M');
  ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  EXPECT_EQ(Get32(r), at + 3);
  ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  EXPECT_EQ(Get32(r), at + 5);

  // A second isfd of this process changes the next record.
  int other = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(other, 0);
  Put32(at + 6, r);
  ASSERT_EQ(isread(other, r, IS_EQUAL), 0);
  Make(at + 6, 'S', r);
  ASSERT_EQ(isrewcurr(other, r), 0);
  ASSERT_EQ(isread(fd, r, IS_NEXT), 0);
  EXPECT_EQ(Get32(r), at + 6);
  EXPECT_EQ(r[kLen - 1], 'S');
  ASSERT_EQ(isclose(other), 0);

  // Unchanged, the rest of the scan goes on in order to the end.
  uint32_t last = at + 6;
  int count = 0;
  while (isread(fd, r, IS_NEXT) == 0) {
    EXPECT_EQ(Get32(r), last + 1);
    last = Get32(r);
    ++count;
  }
  EXPECT_EQ(iserrno, EENDFILE);
  EXPECT_EQ(last, 599u);
  ASSERT_EQ(isclose(fd), 0);
}

INSTANTIATE_TEST_SUITE_P(Indexes, KeptPositionTest, ::testing::Values(0, 1));

}  // namespace

// Records over three data blocks: a reader that has them in its pool must
// see another process's rewrite of every block and its delete, and what it
// writes itself must reach a process that opens the file afterwards.
TEST(KeptBlocksTest, RecordsOverSeveralBlocksFollowAnotherProcess) {
  constexpr int kBig = 2500;
  tevtest::TempInstall dir;
  const std::string name = dir.Path("big");
  IsamKeyDesc k = ById();
  auto fill = [](uint32_t id, unsigned char mark, unsigned char* r) {
    std::memset(r, mark, kBig);
    Put32(id, r);
  };
  int fd = isbuild(name.c_str(), kBig, &k, IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  unsigned char r[kBig];
  for (uint32_t i = 0; i < 20; ++i) {
    fill(i, 'o', r);
    ASSERT_EQ(iswrite(fd, r), 0);
  }
  // Every record read once, so that its blocks stand in the pool.
  for (uint32_t i = 0; i < 20; ++i) {
    Put32(i, r);
    ASSERT_EQ(isread(fd, r, IS_EQUAL), 0);
  }

  pid_t pid = fork();
  if (pid == 0) {
    int cfd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    unsigned char c[kBig];
    bool ok = cfd >= 0;
    for (uint32_t id : {5u, 6u}) {
      Put32(id, c);
      ok = ok && isread(cfd, c, IS_EQUAL) == 0;
      fill(id, 'N', c);
      ok = ok && isrewcurr(cfd, c) == 0;
    }
    Put32(7, c);
    ok = ok && isread(cfd, c, IS_EQUAL) == 0 && isdelcurr(cfd) == 0 && isclose(cfd) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  unsigned char want[kBig];
  for (uint32_t id : {5u, 6u}) {
    Put32(id, r);
    ASSERT_EQ(isread(fd, r, IS_EQUAL), 0);
    fill(id, 'N', want);
    EXPECT_EQ(std::memcmp(r, want, kBig), 0) << id;
  }
  Put32(7, r);
  EXPECT_NE(isread(fd, r, IS_EQUAL), 0);
  EXPECT_EQ(iserrno, ENORECORD);

  Put32(8, r);
  ASSERT_EQ(isread(fd, r, IS_EQUAL), 0);
  fill(8, 'P', r);
  ASSERT_EQ(isrewcurr(fd, r), 0);
  ASSERT_EQ(isclose(fd), 0);
  pid = fork();
  if (pid == 0) {
    int cfd = isopen(name.c_str(), IS_INPUT | IS_MANULOCK);
    unsigned char c[kBig], w[kBig];
    Put32(8, c);
    bool ok = cfd >= 0 && isread(cfd, c, IS_EQUAL) == 0;
    std::memset(w, 'P', kBig);
    Put32(8, w);
    ok = ok && std::memcmp(c, w, kBig) == 0 && isclose(cfd) == 0;
    _exit(ok ? 0 : 1);
  }
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
