#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "isam/call_frame.h"
#include "isam/locks.h"
#include "tests/isam/isfd_fixture.h"
#include "tests/isam/lock_probe.h"

namespace {

using isamtest::HasLock;
using isamtest::kOpenExclusive;
using isamtest::kOpenShared;
using isamtest::kWholeFile;
using isamtest::Peer;

class LockTest : public isamtest::IsfdTest {
 protected:
  // Runs f inside a call frame of isfd.
  template <typename F>
  void InCall(int isfd, int access, F f) {
    ASSERT_EQ(isam::is_callbegin(isfd, access), 0);
    f();
    isam::is_callend();
  }
  // Whether another owner could take the range now.
  bool Free(short type, off_t start, off_t len) {
    int fd = open(idx_.c_str(), O_RDWR | O_CLOEXEC);
    struct flock fl = {};
    fl.l_type = type;
    fl.l_start = start;
    fl.l_len = len;
    bool ok = fcntl(fd, F_OFD_SETLK, &fl) == 0;
    close(fd);
    return ok;
  }
};

TEST_F(LockTest, EachLockTakesItsRangeOfTheIndexFile) {
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  int idxfd = isam::is_openfile(fd)->shared->idxfd;
  EXPECT_TRUE(HasLock(idx_, kOpenShared));
  EXPECT_FALSE(HasLock(idx_, "READ 0-1073741822"));  // no call in progress
  InCall(fd, isam::AC_READ, [&] { EXPECT_TRUE(HasLock(idx_, "READ 0-1073741822")); });
  InCall(fd, isam::AC_WRITE | isam::AC_HDREXCL,
         [&] { EXPECT_TRUE(HasLock(idx_, "WRITE 0-1073741822")); });
  InCall(fd, isam::AC_NONE, [&] {
    EXPECT_EQ(isam::is_lockrecord(5, isam::RL_NOWAIT), 0);
    EXPECT_TRUE(HasLock(idx_, "WRITE 1073741829-1073741829"));
  });
  EXPECT_EQ(isam::is_heldlocks(idxfd), 2);
  ASSERT_EQ(islock(fd), 0);
  EXPECT_TRUE(HasLock(idx_, kWholeFile));
  EXPECT_EQ(isam::is_heldlocks(idxfd), 3);
  // Releasing the whole file also forgets the record lock inside it.
  ASSERT_EQ(isunlock(fd), 0);
  EXPECT_FALSE(HasLock(idx_, kWholeFile));
  EXPECT_FALSE(HasLock(idx_, "WRITE 1073741829-1073741829"));
  EXPECT_EQ(isam::is_heldlocks(idxfd), 1);
  EXPECT_EQ(isam::is_openfile(fd)->shared->translocks, nullptr);
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_FALSE(HasLock(idx_, kOpenShared));
  EXPECT_EQ(isam::is_heldlocks(idxfd), 0);
}

TEST_F(LockTest, SecondExclusiveOpenInTheThreadUpgradesAndCloseDowngrades) {
  int a = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(a, 0);
  int b = isopen(name_.c_str(), IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(b, 0) << iserrno;
  EXPECT_TRUE(HasLock(idx_, kOpenExclusive));
  EXPECT_FALSE(HasLock(idx_, kOpenShared));
  int c = isopen(name_.c_str(), IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(c, 0);
  ASSERT_EQ(isclose(c), 0);
  EXPECT_TRUE(HasLock(idx_, kOpenExclusive));  // b still open exclusively
  ASSERT_EQ(isclose(b), 0);
  EXPECT_TRUE(HasLock(idx_, kOpenShared));
  EXPECT_FALSE(HasLock(idx_, kOpenExclusive));
  EXPECT_EQ(isflush(a), 0);
  EXPECT_EQ(isam::is_openfile(a)->shared->exclopens, 0);
}

TEST_F(LockTest, AnotherProcessKeepsOutExclusiveOpensAndLocks) {
  std::string name = name_;
  Peer peer([name] {
    int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    if (fd < 0) return 1;
    isam::is_callbegin(fd, isam::AC_NONE);
    int rc = isam::is_lockrecord(5, isam::RL_NOWAIT);
    isam::is_callend();
    return rc == 0 ? 0 : 2;
  });
  ASSERT_EQ(peer.result(), 0);
  int a = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(a, 0);
  EXPECT_EQ(isopen(name_.c_str(), IS_INOUT | IS_EXCLLOCK), -1);
  EXPECT_EQ(iserrno, EFILELOCKED);
  EXPECT_EQ(Status(), "90/90");
  EXPECT_EQ(isamtest::LocksOn(idx_).count(kOpenShared), 2u);  // ours is kept
  InCall(a, isam::AC_NONE, [&] {
    EXPECT_EQ(isam::is_lockrecord(5, isam::RL_NOWAIT), -1);
    EXPECT_EQ(iserrno, ERECLOCKED);
    iserrno = 0;
    EXPECT_EQ(isam::is_lockrecord(5, isam::RL_TEST), -1);
    EXPECT_EQ(iserrno, ERECLOCKED);
    iserrno = 0;
    EXPECT_EQ(isam::is_lockrecord(6, isam::RL_TEST), 0);
    EXPECT_FALSE(HasLock(idx_, "WRITE 1073741830-1073741830"));  // a test takes nothing
  });
  EXPECT_EQ(islock(a), -1);
  EXPECT_EQ(iserrno, ERECLOCKED);
  peer.Finish();
  EXPECT_EQ(islock(a), 0);
  int b = isopen(name_.c_str(), IS_INOUT | IS_EXCLLOCK);
  EXPECT_GE(b, 0);
}

TEST_F(LockTest, HeaderLockSharedForReadingCallsExclusiveForChangingOnes) {
  struct Case {
    int access;
    bool shared_free;
  } cases[] = {{isam::AC_READ, true}, {isam::AC_WRITE | isam::AC_HDREXCL, false}};
  for (const Case& c : cases) {
    std::string name = name_;
    int access = c.access;
    Peer peer([name, access] {
      int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
      return fd >= 0 && isam::is_callbegin(fd, access) == 0 ? 0 : 1;
    });
    ASSERT_EQ(peer.result(), 0);
    EXPECT_EQ(Free(F_RDLCK, 0, isam::kHeaderLockLen), c.shared_free) << c.access;
    EXPECT_FALSE(Free(F_WRLCK, 0, isam::kHeaderLockLen)) << c.access;
    peer.Finish();
    EXPECT_TRUE(Free(F_WRLCK, 0, isam::kHeaderLockLen));
  }
  // A writer waits for the header lock, then goes on.
  std::string name = name_;
  Peer peer([name] {
    int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    return fd >= 0 && isam::is_callbegin(fd, isam::AC_READ) == 0 ? 0 : 1;
  });
  ASSERT_EQ(peer.result(), 0);
  int rc = -2;
  std::thread writer([&] {
    int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    rc = fd < 0 ? -3 : isflush(fd);
    if (fd >= 0) isclose(fd);
  });
  peer.Finish();
  writer.join();
  EXPECT_EQ(rc, 0);
}

TEST_F(LockTest, ChangeInAnotherProcessDropsCachedNodes) {
  int a = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(a, 0);
  unsigned char before = 0;
  uint32_t changes = 0;
  InCall(a, isam::AC_READ, [&] {
    isam::IsamBuffer* b = isam::is_readbuffer(2);
    ASSERT_NE(b, nullptr);
    before = b->data[100];
    isam::is_release(b);
    changes = isam::is_hdrget32(isam::HDR_CHANGES);
  });
  // Another spelling of the name: the child opens its own descriptors.
  std::string other = dir_.Path(".") + "/t";
  Peer peer([other] {
    int fd = isopen(other.c_str(), IS_INOUT | IS_MANULOCK);
    if (fd < 0 || isam::is_callbegin(fd, isam::AC_WRITE | isam::AC_HDREXCL) != 0) return 1;
    isam::IsamBuffer* b = isam::is_readbuffer(2);
    if (b == nullptr) return 2;
    b->data[100] ^= 0x5A;
    isam::is_releasedirty(b);
    if (isam::is_callend() != 0) return 3;
    return isclose(fd) == 0 ? 0 : 4;
  });
  ASSERT_EQ(peer.result(), 0);
  peer.Finish();
  InCall(a, isam::AC_READ, [&] {
    EXPECT_EQ(isam::is_hdrget32(isam::HDR_CHANGES), changes + 1);
    isam::IsamBuffer* b = isam::is_readbuffer(2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->data[100], before ^ 0x5A);
    isam::is_release(b);
  });
  // A call that changes nothing leaves the count alone.
  ASSERT_EQ(isflush(a), 0);
  InCall(a, isam::AC_READ, [&] { EXPECT_EQ(isam::is_hdrget32(isam::HDR_CHANGES), changes + 1); });
}

int g_tries = 0;
std::vector<int> g_sleeps;
int AlwaysDeadlock(int, int, struct flock*) {
  ++g_tries;
  errno = EDEADLK;
  return -1;
}
void RecordSleep(int ms) { g_sleeps.push_back(ms); }

TEST_F(LockTest, DeadlockReportsAreTriedAgainAsConfigured) {
  struct Case {
    const char* count;
    const char* sleep;
    int tries;
    std::vector<int> sleeps;
  } cases[] = {
      {"3", "500", 4, {500, 500, 500}},
      {"0x2", "010", 3, {8, 8}},
      {"-4", "-1", 1, {}},
      {nullptr, nullptr, 1, {}},
      {"1", nullptr, 2, {}},
  };
  int fd = open(idx_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  auto saved_prim = isam::is_lockprimitive;
  auto saved_sleep = isam::is_locksleep;
  isam::is_lockprimitive = AlwaysDeadlock;
  isam::is_locksleep = RecordSleep;
  for (const Case& c : cases) {
    if (c.count) setenv("ISAM_DEADLOCK_COUNT", c.count, 1); else unsetenv("ISAM_DEADLOCK_COUNT");
    if (c.sleep) setenv("ISAM_DEADLOCK_SLEEP", c.sleep, 1); else unsetenv("ISAM_DEADLOCK_SLEEP");
    isam::is_lockresetsettings();
    g_tries = 0;
    g_sleeps.clear();
    isam::IsamLockRequest req;
    req.type = isam::LK_EXCLUSIVE;
    req.start = isam::kRecordLockBase + 1;
    req.length = 1;
    EXPECT_EQ(isam::is_lockretry(fd, isam::LK_SET, &req, idx_.c_str()), -1);
    EXPECT_EQ(errno, EDEADLK);
    EXPECT_EQ(g_tries, c.tries) << (c.count ? c.count : "unset");
    EXPECT_EQ(g_sleeps, c.sleeps) << (c.count ? c.count : "unset");
  }
  isam::is_lockprimitive = saved_prim;
  isam::is_locksleep = saved_sleep;
  unsetenv("ISAM_DEADLOCK_COUNT");
  unsetenv("ISAM_DEADLOCK_SLEEP");
  isam::is_lockresetsettings();
  close(fd);
}

int g_calls = 0;
int (*g_real)(int, int, struct flock*) = nullptr;
int CountingLock(int fd, int cmd, struct flock* fl) {
  ++g_calls;
  return g_real(fd, cmd, fl);
}

TEST_F(LockTest, RecordLockListsAnswerForTheThreadsOwnLocks) {
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  isam::IsamSharedFile* sf = isam::is_openfile(fd)->shared;
  InCall(fd, isam::AC_NONE, [&] {
    ASSERT_EQ(isam::is_lockrecord(7, isam::RL_NOWAIT), 0);
    ASSERT_EQ(isam::is_lockrecord(8, isam::RL_NOWAIT | isam::RL_READ), 0);
    g_real = isam::is_lockprimitive;
    isam::is_lockprimitive = CountingLock;
    g_calls = 0;
    EXPECT_EQ(isam::is_lockrecord(7, isam::RL_TEST), 0);
    EXPECT_EQ(isam::is_lockrecord(7, isam::RL_NOWAIT), 0);
    // A transaction lock on a read-locked record moves it between lists.
    EXPECT_EQ(isam::is_lockrecord(8, isam::RL_NOWAIT), 0);
    EXPECT_EQ(g_calls, 0);
    isam::is_lockprimitive = g_real;
    ASSERT_NE(sf->translocks, nullptr);
    EXPECT_EQ(sf->translocks->recnum, 8);
    EXPECT_EQ(sf->readlocks, nullptr);
    // Unlocking a record that is not held does nothing.
    EXPECT_EQ(isam::is_lockrecord(9, isam::RL_UNLOCK), 0);
  });
  // Another thread is another owner.
  int other = 0, other_errno = 0;
  std::string name = name_;
  std::thread t([&] {
    int f = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    other = islock(f);
    other_errno = iserrno;
    isclose(f);
  });
  t.join();
  EXPECT_EQ(other, -1);
  EXPECT_EQ(other_errno, ERECLOCKED);
}

TEST_F(LockTest, UnlockOfATransactionIsfdReleasesOnlyReadLocks) {
  int fd = isopen(name_.c_str(), IS_INOUT | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  isam::is_openfile(fd)->mode |= IS_TRANS;  // as a file built with IS_TRANS
  InCall(fd, isam::AC_NONE, [&] {
    ASSERT_EQ(isam::is_lockrecord(7, isam::RL_NOWAIT), 0);
    ASSERT_EQ(isam::is_lockrecord(9, isam::RL_NOWAIT | isam::RL_READ), 0);
  });
  ASSERT_EQ(isunlock(fd), 0);
  EXPECT_TRUE(HasLock(idx_, "WRITE 1073741831-1073741831"));
  EXPECT_FALSE(HasLock(idx_, "WRITE 1073741833-1073741833"));
  // Without transaction locks, release drops every lock at once.
  InCall(fd, isam::AC_NONE, [&] {
    ASSERT_EQ(isam::is_lockrecord(7, isam::RL_UNLOCK), 0);
    ASSERT_EQ(isam::is_lockrecord(9, isam::RL_WAIT | isam::RL_READ), 0);
  });
  ASSERT_EQ(isrelease(), 0);
  EXPECT_FALSE(HasLock(idx_, "WRITE 1073741833-1073741833"));
}

TEST_F(LockTest, LockCallsDependOnTheLockMode) {
  int ex = isopen(name_.c_str(), IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(ex, 0);
  EXPECT_EQ(islock(ex), 0);
  EXPECT_FALSE(HasLock(idx_, kWholeFile));
  InCall(ex, isam::AC_NONE, [&] { EXPECT_EQ(isam::is_lockrecord(3, isam::RL_NOWAIT), 0); });
  EXPECT_FALSE(HasLock(idx_, "WRITE 1073741827-1073741827"));
  ASSERT_EQ(isclose(ex), 0);
  int au = isopen(name_.c_str(), IS_INOUT | IS_AUTOLOCK);
  ASSERT_GE(au, 0);
  EXPECT_EQ(islock(au), -1);
  EXPECT_EQ(iserrno, ENOMANUALLOCK);
  EXPECT_EQ(isunlock(au), -1);
  EXPECT_EQ(iserrno, ENOMANUALLOCK);
  // Automatic locking drops the record locks of the call before.
  InCall(au, isam::AC_NONE, [&] { ASSERT_EQ(isam::is_lockrecord(3, isam::RL_NOWAIT), 0); });
  EXPECT_TRUE(HasLock(idx_, "WRITE 1073741827-1073741827"));
  InCall(au, isam::AC_READ | isam::AC_KEEPAUTO, [] {});
  EXPECT_TRUE(HasLock(idx_, "WRITE 1073741827-1073741827"));
  InCall(au, isam::AC_READ, [] {});
  EXPECT_FALSE(HasLock(idx_, "WRITE 1073741827-1073741827"));
}

}  // namespace
