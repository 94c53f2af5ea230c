// Mutex handles: re-entrant ownership within a process, exclusion between
// threads, and named mutexes against another process that takes the same
// lock file with python3's own flock.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/os_files.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint32_t kForever = 0xFFFFFFFFu;

uint32_t TryFromOtherThread(void* h) {
  uint32_t rc = 0;
  std::thread t([&] {
    rc = os_waitobject(h, 0);
    if (rc == 0) os_releasemutex(h);
  });
  t.join();
  return rc;
}

TEST(OsMutexTest, UnnamedIsReentrantAndOwnedByOneThread) {
  void* h = os_createmutex(nullptr, 0, nullptr);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(0u, os_waitobject(h, kForever));
  EXPECT_EQ(0u, os_waitobject(h, 0));  // again on the owning thread
  EXPECT_EQ(258u, TryFromOtherThread(h));
  EXPECT_EQ(1, os_releasemutex(h));
  EXPECT_EQ(258u, TryFromOtherThread(h));  // still held once
  EXPECT_EQ(1, os_releasemutex(h));
  EXPECT_EQ(0, os_releasemutex(h));  // not owned any more
  EXPECT_EQ(288u, os_getlasterror());
  EXPECT_EQ(0u, TryFromOtherThread(h));

  // A thread that does not own it cannot release it.
  ASSERT_EQ(0u, os_waitobject(h, kForever));
  int32_t foreign = -1;
  std::thread([&] { foreign = os_releasemutex(h); }).join();
  EXPECT_EQ(0, foreign);
  EXPECT_EQ(1, os_releasemutex(h));
  EXPECT_EQ(1, os_closehandle(h));

  // Created owned.
  void* owned = os_createmutex(nullptr, 1, "");
  ASSERT_NE(nullptr, owned);
  EXPECT_EQ(258u, TryFromOtherThread(owned));
  EXPECT_EQ(1, os_releasemutex(owned));
  EXPECT_EQ(1, os_closehandle(owned));
  EXPECT_EQ(0, os_releasemutex(nullptr));
}

TEST(OsMutexTest, ExcludesThreadsOnAnUnguardedCounter) {
  void* h = os_createmutex(nullptr, 0, nullptr);
  ASSERT_NE(nullptr, h);
  long counter = 0;  // plain: a lapse in exclusion shows as a lost update
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(0u, os_waitobject(h, kForever));
        ASSERT_EQ(0u, os_waitobject(h, kForever));
        long v = counter;
        counter = v + 1;
        os_releasemutex(h);
        os_releasemutex(h);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(80000, counter);
  os_closehandle(h);
}

// A python3 process that takes an exclusive flock on `path`, says "held",
// and lets it go when its standard input closes.
struct PythonHolder {
  pid_t pid = -1;
  int to_child = -1;
  explicit PythonHolder(const std::string& path) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      std::string py = tevtest::Python();
      std::string code =
          "import fcntl,sys\nf=open(sys.argv[1],'a')\nfcntl.flock(f,fcntl.LOCK_EX)\n"
          "print('held',flush=True)\nsys.stdin.read()\n";
      execl(py.c_str(), py.c_str(), "-c", code.c_str(), path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_child = in[1];
    char buf[5] = {};
    size_t got = 0;
    while (got < 5) {
      ssize_t n = read(out[0], buf + got, 5 - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    close(out[0]);
    held = got == 5 && std::string(buf, 4) == "held";
  }
  void Release() {
    if (to_child >= 0) close(to_child);
    to_child = -1;
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    pid = -1;
  }
  ~PythonHolder() { Release(); }
  bool held = false;
};

// Asks python3 whether the flock on `path` can be had now.
std::string PythonTries(const std::string& path) {
  tevtest::RunOptions options;
  auto r = tevtest::RunProgram(tevtest::Python(),
                               {"-c",
                                "import fcntl,sys\nf=open(sys.argv[1],'a')\ntry:\n"
                                " fcntl.flock(f,fcntl.LOCK_EX|fcntl.LOCK_NB)\n print('free')\n"
                                "except BlockingIOError:\n print('busy')\n",
                                path},
                               options);
  return r.out;
}

TEST(OsMutexTest, NamedCrossesProcessesThroughItsLockFile) {
  tevtest::TempInstall dir;
  const char* old = getenv("TMPDIR");
  std::string saved = old != nullptr ? old : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  const std::string file = dir.Path("tvmutex.zu_test_lock");

  void* a = os_createmutex(nullptr, 0, "zu_test_lock");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(0u, os_getlasterror());
  void* b = os_createmutex(nullptr, 0, "zu_test_lock");  // the same mutex
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(183u, os_getlasterror());
  EXPECT_EQ("free\n", PythonTries(file));

  ASSERT_EQ(0u, os_waitobject(a, kForever));
  ASSERT_EQ(0u, os_waitobject(b, kForever));  // re-entrant through either handle
  EXPECT_EQ("busy\n", PythonTries(file));
  EXPECT_EQ(258u, TryFromOtherThread(b));
  EXPECT_EQ(1, os_releasemutex(a));
  EXPECT_EQ("busy\n", PythonTries(file));
  EXPECT_EQ(1, os_releasemutex(b));
  EXPECT_EQ("free\n", PythonTries(file));

  {
    PythonHolder other(file);
    ASSERT_TRUE(other.held);
    EXPECT_EQ(258u, os_waitobject(a, 0));
    EXPECT_EQ(0, os_releasemutex(a));  // the failed wait left it unowned
    EXPECT_EQ(258u, TryFromOtherThread(a));
    other.Release();
    EXPECT_EQ(0u, os_waitobject(a, kForever));
    EXPECT_EQ("busy\n", PythonTries(file));
    EXPECT_EQ(1, os_releasemutex(a));
  }

  // Closing every handle while owning it lets the other processes in.
  ASSERT_EQ(0u, os_waitobject(a, kForever));
  EXPECT_EQ(1, os_closehandle(a));
  EXPECT_EQ("busy\n", PythonTries(file));
  EXPECT_EQ(1, os_closehandle(b));
  EXPECT_EQ("free\n", PythonTries(file));

  if (old != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace
