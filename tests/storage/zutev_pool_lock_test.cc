// The pool delete against the catalog lock held by another process: it
// gives up with the lock's code, keeps the pool, and still runs the
// release, which leaves the other owner's lock in place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/zutev.h"
#include "storage/datapath/smhandle.h"
#include "tests/storage/catalog_handle.h"
#include "tests/storage/config_env.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

class PoolLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("AFDEBUG");
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    for (const char* dir : {"msg", "lxr"}) {
      ASSERT_EQ(symlink((tevtest::BuildTree() + "/" + dir).c_str(), in.Path(dir).c_str()), 0);
    }
    dir_ = in.Path("cat");
    env_->Set("TEV_CATALOG_PATH", dir_);
    env_->Set("TEV_LOCK_TIMEOUT", "2");
    env_->Set("TEV_DEBUG", "2");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    ASSERT_EQ(zarLoadConfig(0), 0);

    zarHandle* maker = tevtest::NewCatalogHandle();
    ASSERT_EQ(zarCatalogCreate(maker), 0);
    ASSERT_EQ(smcReleaseCatalogLock(maker), 0);
    ASSERT_EQ(zarCloseDatabase(maker), 0);
    tevtest::FreeCatalogHandle(maker);

    h_ = tevtest::NewCatalogHandle();
    ASSERT_EQ(zarOpenDatabase(h_), 0);
    ASSERT_EQ(zarGetTEVid(h_), 0);
    h_->sessionId = 5;
    TevPool pool{};
    std::snprintf(pool.pool_name, sizeof pool.pool_name, "victim");
    ASSERT_EQ(zarInsertPool(h_, &pool), 0);
  }
  void TearDown() override {
    if (h_ != nullptr) zarCloseDatabase(h_);
    tevtest::FreeCatalogHandle(h_);
  }

  // The owner session of the lock row, read from the bytes of its slot
  // (37 bytes with the active mark; the owner at offset 28, big-endian).
  int32_t LockOwner() const {
    const std::string raw = tevtest::ReadFile(dir_ + "/lock.dat");
    for (size_t at = 0; at + 37 <= raw.size(); at += 37) {
      if (raw[at + 36] != 0x0A) continue;
      uint32_t v = 0;
      for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(raw[at + 28 + i]);
      return static_cast<int32_t>(v);
    }
    return -99;
  }
  bool PoolExists() {
    TevPool pool{};
    return zarGetPoolId(h_, "victim", &pool) == 0;
  }
  std::unique_ptr<tevtest::Child> HoldLock(int32_t session) const {
    std::vector<std::string> env;
    for (const char* name : {"TARVELONDIR", "ZIVEVODAREVEZO", "BAR_ACT_LOG", "TEV_CATALOG_PATH",
                             "TEV_LOCK_TIMEOUT", "PATH", "HOME", "TMPDIR", "TARVELON_REGISTRY",
                             "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    }
    return std::make_unique<tevtest::Child>(
        std::vector<std::string>{tevtest::BuiltProgram("catalog_driver"), "open", "gettevid",
                                 "setsession", std::to_string(session), "lock", "ready"},
        env);
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  std::string dir_;
  zarHandle* h_ = nullptr;
};

TEST_F(PoolLockTest, DeleteGivesUpWithTheLockCodeAndStillReleases) {
  auto holder = HoldLock(6);
  std::string line;
  do {
    line = holder->ReadLine();
  } while (!line.empty() && !line.starts_with("lock"));
  ASSERT_EQ(line, "lock 0");
  ASSERT_EQ(LockOwner(), 6);

  ZutevPoolRecord record{0, "victim"};
  EXPECT_EQ(zutevDeletePool(h_, &record), 19);
  EXPECT_TRUE(PoolExists());
  // The release ran and was refused: the holder keeps its lock.
  const std::string debug = env_->install().ReadFile("debug.log");
  EXPECT_NE(debug.find("Attempt to unlock the catalog when we are not the owner."),
            std::string::npos)
      << debug;
  EXPECT_EQ(LockOwner(), 6);
  holder.reset();

  // The lock row outlives its holder: free it as session 6, and the same
  // call deletes the pool and lets the lock go again.
  h_->sessionId = 6;
  ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  h_->sessionId = 5;
  ASSERT_EQ(LockOwner(), 0);
  EXPECT_EQ(zutevDeletePool(h_, &record), 0);
  EXPECT_FALSE(PoolExists());
  EXPECT_EQ(LockOwner(), 0);
}

}  // namespace
