// The platform layer: descriptors, temporary and home directories, and the
// per-thread last-error cells.

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/file_io.h"
#include "platform/home_dir.h"
#include "platform/last_error.h"
#include "platform/temp_dir.h"
#include "tests/support/test_support.h"

namespace {

TEST(FileIo, DescriptorsCloseOnExecAndRead) {
  tevtest::TempInstall dir;
  dir.WriteFile("f", "hello");
  tvp::UniqueFd fd(tvp::Open(dir.Path("f").c_str(), O_RDONLY));
  ASSERT_TRUE(fd.valid());
  EXPECT_TRUE(fcntl(fd.get(), F_GETFD) & FD_CLOEXEC);
  char buf[8];
  EXPECT_EQ(tvp::Read(fd.get(), buf, sizeof buf), 5);
  EXPECT_EQ(tvp::Read(fd.get(), buf, sizeof buf), 0);
  int raw = fd.release();
  EXPECT_EQ(tvp::Close(raw), 0);
  EXPECT_EQ(tvp::Open(dir.Path("missing").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(TempDir, TmpdirElseTmpWithTrailingSlash) {
  const char* saved = std::getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  struct Case {
    const char* value;  // null: unset
    const char* want;
  };
  const Case cases[] = {{nullptr, "/tmp/"}, {"", "/tmp/"}, {"/var/x", "/var/x/"}, {"/var/y/", "/var/y/"}};
  for (const Case& c : cases) {
    if (c.value) {
      setenv("TMPDIR", c.value, 1);
    } else {
      unsetenv("TMPDIR");
    }
    EXPECT_EQ(tvp::TempDir(), c.want) << (c.value ? c.value : "unset");
  }
  if (saved) {
    setenv("TMPDIR", keep.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST(HomeDir, FromPasswordDatabaseNotHome) {
  setenv("HOME", "/nowhere/else", 1);
  std::string home;
  ASSERT_TRUE(tvp::HomeDir(&home));
  struct passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(home, pw->pw_dir);
  tvp::SetHomeDirForTesting("/test/home");
  ASSERT_TRUE(tvp::HomeDir(&home));
  EXPECT_EQ(home, "/test/home");
  tvp::SetHomeDirForTesting(nullptr);
}

TEST(LastError, PerThread) {
  tvp::SetLastError(5);
  tvp::SetLastSocketError(10054);
  std::thread([] {
    EXPECT_EQ(tvp::LastError(), 0u);
    EXPECT_EQ(tvp::LastSocketError(), 0);
    tvp::SetLastError(2);
  }).join();
  EXPECT_EQ(tvp::LastError(), 5u);
  EXPECT_EQ(tvp::LastSocketError(), 10054);
}

}  // namespace
