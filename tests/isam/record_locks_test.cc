// Record locks taken by reads, and changes of records that another process
// holds locked. The other process holds the record's lock byte of the
// ".idx" file through a descriptor of its own.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "tests/isam/lock_probe.h"
#include "tests/isam/record_fixture.h"

namespace {

using isamtest::Peer;
using isamtest::Rec;
using isamtest::RecordTest;

constexpr off_t kRecordLock = 0x40000000;

bool LockByte(const std::string& idx, off_t byte, int* fd) {
  *fd = open(idx.c_str(), O_RDWR | O_CLOEXEC);
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_start = byte;
  fl.l_len = 1;
  return *fd >= 0 && fcntl(*fd, F_OFD_SETLK, &fl) == 0;
}

class RecordLockTest : public RecordTest {
 protected:
  std::string Idx() const { return rname_ + ".idx"; }
  // Whether some other owner holds record n's lock (adjacent locks of one
  // owner merge in the kernel's list, so ask the kernel instead).
  bool Locked(int n) const {
    int fd = open(Idx().c_str(), O_RDWR | O_CLOEXEC);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_start = kRecordLock + n;
    fl.l_len = 1;
    bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    close(fd);
    return held;
  }
  // Another process holding record n's lock until the peer is finished.
  std::unique_ptr<Peer> Hold(int n) {
    std::string idx = Idx();
    return std::make_unique<Peer>([idx, n] {
      int fd;
      return LockByte(idx, kRecordLock + n, &fd) ? 0 : 1;
    });
  }
};

TEST_F(RecordLockTest, LockSkipAndPositioningReads) {
  std::vector<int> nums = Write({{1, 1}, {2, 1}, {3, 1}});
  auto holder = Hold(nums[1]);
  ASSERT_EQ(holder->result(), 0);

  EXPECT_EQ(Read(IS_FIRST | IS_LOCK), 1);
  EXPECT_TRUE(Locked(nums[0]));
  // A moving read that meets the lock stays where it was.
  EXPECT_EQ(Read(IS_NEXT | IS_LOCK), -ERECLOCKED);
  EXPECT_EQ(Status(), "90/90");
  EXPECT_EQ(Read(IS_CURRENT), 1);
  // With IS_SKIPLOCK it moves onto the locked record, and past it next.
  EXPECT_EQ(Read(IS_NEXT | IS_LOCK | IS_SKIPLOCK), -ERECLOCKED);
  EXPECT_EQ(isrecnum, nums[1]);
  EXPECT_EQ(Read(IS_NEXT), 3);
  // A positioning read moves onto it too.
  Rec k(2, 0);
  EXPECT_EQ(Read(IS_EQUAL | IS_LOCK, &k), -ERECLOCKED);
  EXPECT_EQ(Read(IS_NEXT), 3);
  // Skip and wait bits without IS_LOCK change nothing.
  EXPECT_EQ(Read(IS_EQUAL | IS_SKIPLOCK, &k), 2);
  // Changing it is refused; reading it without a lock is not.
  EXPECT_EQ(isrewcurr(fd_, Rec(2, 9).b), -1);
  EXPECT_EQ(iserrno, ERECLOCKED);
  EXPECT_EQ(isdelrec(fd_, nums[1]), -1);
  EXPECT_EQ(iserrno, ERECLOCKED);

  holder.reset();
  EXPECT_EQ(Read(IS_EQUAL | IS_LOCK, &k), 2);
  EXPECT_TRUE(Locked(nums[1]));
  EXPECT_EQ(isdelcurr(fd_), 0);  // the delete gives its lock back
  EXPECT_FALSE(Locked(nums[1]));
  ASSERT_EQ(isrelease(), 0);
  EXPECT_FALSE(Locked(nums[0]));
}

TEST_F(RecordLockTest, WaitingReadGetsTheRecordOnceItIsFree) {
  std::vector<int> nums = Write({{1, 1}, {2, 1}});
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::string idx = Idx();
  pid_t pid = fork();
  if (pid == 0) {
    int fd;
    bool ok = LockByte(idx, kRecordLock + nums[1], &fd);
    char c = ok ? 1 : 0;
    if (write(ready[1], &c, 1) != 1) _exit(2);
    usleep(200000);
    _exit(0);  // the lock goes with the process
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 1);
  EXPECT_EQ(Read(IS_FIRST), 1);
  EXPECT_EQ(Read(IS_NEXT | IS_LOCK | IS_WAIT), 2);
  EXPECT_TRUE(Locked(nums[1]));
  int status;
  waitpid(pid, &status, 0);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(RecordLockTest, AutomaticLocksLastOneCall) {
  std::vector<int> nums = Write({{1, 1}, {2, 1}});
  ASSERT_EQ(isclose(fd_), 0);
  fd_ = Open(IS_AUTOLOCK);
  ASSERT_GE(fd_, 0);
  EXPECT_EQ(Read(IS_FIRST), 1);
  EXPECT_TRUE(Locked(nums[0]));
  EXPECT_EQ(Read(IS_NEXT), 2);
  EXPECT_FALSE(Locked(nums[0]));
  EXPECT_TRUE(Locked(nums[1]));
  // A rewrite keeps the lock of the read before it and uses its image.
  Rec r(2, 7, "new");
  ASSERT_EQ(isrewcurr(fd_, r.b), 0) << iserrno;
  EXPECT_TRUE(Locked(nums[1]));
  // A start with IS_KEEPLOCK keeps it as well; one without does not.
  IsamKeyDesc kd = isamtest::IntKeyAt(0, 0);
  ASSERT_EQ(isstart(fd_, &kd, 0, nullptr, IS_FIRST | IS_KEEPLOCK), 0);
  EXPECT_TRUE(Locked(nums[1]));
  ASSERT_EQ(isstart(fd_, &kd, 0, nullptr, IS_FIRST), 0);
  EXPECT_FALSE(Locked(nums[1]));
}

TEST_F(RecordLockTest, NewNumbersLockedElsewhereAreSetAside) {
  std::vector<int> nums = Write({{1, 1}, {2, 1}, {3, 1}});
  ASSERT_EQ(isdelrec(fd_, nums[2]), 0);  // the last number: the file ends at 2
  ASSERT_EQ(isdelrec(fd_, nums[0]), 0);  // on the free list
  auto holder = Hold(nums[0]);
  ASSERT_EQ(holder->result(), 0);
  auto holder3 = Hold(3);
  ASSERT_EQ(holder3->result(), 0);
  Write({{4, 9}});
  EXPECT_EQ(isrecnum, 4);  // 1 and 3 set aside
  EXPECT_EQ(Status(), "00/00");
  holder3.reset();  // the later peer holds a copy of the earlier one's pipe
  holder.reset();
  std::vector<int> later = Write({{5, 1}, {6, 1}});
  std::sort(later.begin(), later.end());
  EXPECT_EQ(later, (std::vector<int>{1, 3}));
}

}  // namespace
