#include "storage/datapath/smpartfile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

TEST(PartFile, CreatesOnlyWhatDoesNotExist) {
  tevtest::TempInstall dir;
  const mode_t old_mask = umask(007);
  const std::string deep = dir.Path("dev/a/b/c/obj.1.1");
  int fd = openSubDir(deep.c_str(), O_RDWR, 0660);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(write(fd, "abc", 3), 3);
  close(fd);
  struct stat st;
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  ASSERT_EQ(stat(dir.Path("dev/a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // An existing part is never opened, let alone cut.
  EXPECT_EQ(openSubDir(deep.c_str(), O_RDWR | O_TRUNC, 0660), SM_PART_FILE_EXISTS);
  EXPECT_EQ(tevtest::ReadFile(deep), "abc");
  dir.WriteFile("plain", "x");
  EXPECT_EQ(openSubDir(dir.Path("plain/obj.1.1").c_str(), O_RDWR, 0660), -1);
  EXPECT_EQ(openSubDir(nullptr, O_RDWR, 0660), -1);
  fd = openSubDir(dir.Path("dev/a/b/c/obj.2.1").c_str(), O_RDWR, 0660);
  EXPECT_GE(fd, 0);
  close(fd);
  umask(old_mask);
}

// Writers racing for one name: exactly one creates it.
TEST(PartFile, OneWinnerAmongRacingWriters) {
  tevtest::TempInstall dir;
  for (int round = 0; round < 20; ++round) {
    const std::string path = dir.Path("race/obj." + std::to_string(round) + ".1");
    std::atomic<int> winners{0}, exists{0}, go{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        while (go.load() == 0) {
        }
        int fd = openSubDir(path.c_str(), O_RDWR, 0660);
        if (fd >= 0) {
          ++winners;
          close(fd);
        } else if (fd == SM_PART_FILE_EXISTS) {
          ++exists;
        }
      });
    }
    go = 1;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_EQ(exists.load(), 7);
  }
}

}  // namespace
