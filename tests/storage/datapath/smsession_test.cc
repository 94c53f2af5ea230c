#include "storage/datapath/smsession.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "isam/isam.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smcatalog.h"
#include "storage/datapath/smtranid.h"
#include "tests/storage/config_env.h"

namespace {

using tevtest::ConfigEnv;

class Sessions : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("TEV_LOCK_TIMEOUT", "30");
    ASSERT_EQ(zarLoadConfig(0), 0);
  }
  void TearDown() override { destroy_bsa_handles(0); }

  std::string ActivityLog() const { return env_.install().ReadFile("act.log"); }

  // The session table as its dump function writes it with '|'.
  static std::string SessionRows() {
    FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(smcDumpSessionTab(f, '|'), 0);
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(f);
    return text;
  }

  // lock_sessid of the lock row, read big-endian from its bytes.
  static int32_t LockOwner(zarHandle* h) {
    unsigned char row[36];
    EXPECT_EQ(smcReadLockRow(h, row), 0);
    return static_cast<int32_t>(uint32_t{row[28]} << 24 | uint32_t{row[29]} << 16 |
                                uint32_t{row[30]} << 8 | row[31]);
  }

  // Opens a session on a catalog that may have to be created first and
  // releases what the creation kept.
  zarHandle* Open() {
    zarHandle* h = nullptr;
    int created = 0;
    EXPECT_EQ(zarOpenSession(&h, 0, &created), 0);
    if (h != nullptr && created) {
      zarCatalogUnlockTables(h);
      EXPECT_EQ(smcReleaseCatalogLock(h), 0);
    }
    return h;
  }

  std::map<std::string, std::string> ChildEnv() const {
    return {{"TARVELONDIR", env_.install().path()},
            {"ZIVEVODAREVEZO", "tests"},
            {"BAR_ACT_LOG", env_.install().Path("act.log")},
            {"TEV_LOCK_TIMEOUT", "30"},
            {"PATH", "/usr/bin:/bin"}};
  }

  ConfigEnv env_;
};

TEST_F(Sessions, NoCreateOnEmptyDirectoryLeavesNothing) {
  const std::string before = ActivityLog();
  zarHandle* h = nullptr;
  int created = 7;
  EXPECT_EQ(zarOpenSession(&h, 1, &created), 88114);
  EXPECT_EQ(created, 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(ActivityLog(), before);
  zarHandle* found = nullptr;
  for (uint32_t n = 1; n < 50; ++n) EXPECT_EQ(find_bsa_handle(n, &found, "t.cc", 1), 6);
  EXPECT_FALSE(env_.install().Exists("etc/tev/lock.idx"));
}

TEST_F(Sessions, CreateRegisterAndClose) {
  zarHandle* h = nullptr;
  int created = 0;
  ASSERT_EQ(zarOpenSession(&h, 0, &created), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(created, 1);
  const std::string dir = env_.install().Path("etc/tev/");
  std::string log = ActivityLog();
  EXPECT_NE(log.find("No catalog was found in " + dir), std::string::npos) << log;
  EXPECT_NE(log.find("A new catalog was created in " + dir), std::string::npos) << log;
  EXPECT_LT(log.find("No catalog was found"), log.find("A new catalog was created"));
  const int32_t sid = h->sessionId;
  EXPECT_EQ(sid, 1);
  EXPECT_NE(log.find("Session 1 opened."), std::string::npos) << log;
  EXPECT_EQ(h->config, zarGetConfig());

  // The creator still owns the catalog lock until it lets go.
  EXPECT_EQ(LockOwner(h), sid);
  zarCatalogUnlockTables(h);
  ASSERT_EQ(smcReleaseCatalogLock(h), 0);
  EXPECT_EQ(LockOwner(h), 0);

  EXPECT_EQ(SessionRows(), std::to_string(sid) + "|" + std::to_string(getpid()) + "|\n");
  const uint32_t number = h->handleNumber;
  zarHandle* found = nullptr;
  ASSERT_EQ(find_bsa_handle(number, &found, "t.cc", 1), 0);
  EXPECT_EQ(found, h);

  ASSERT_EQ(zarCloseSession(h), 0);
  EXPECT_NE(ActivityLog().find("Session 1 closed."), std::string::npos);
  EXPECT_EQ(SessionRows(), "");
  EXPECT_EQ(find_bsa_handle(number, &found, "t.cc", 1), 6);

  // The next session of the same catalog: no creation, the next id, the
  // lock free again after the open.
  h = nullptr;
  ASSERT_EQ(zarOpenSession(&h, 1, &created), 0);
  EXPECT_EQ(created, 0);
  EXPECT_EQ(h->sessionId, 2);
  EXPECT_EQ(h->handleNumber, number + 1);
  EXPECT_EQ(LockOwner(h), 0);
  EXPECT_EQ(zarCloseSession(h), 0);
  EXPECT_EQ(SessionRows(), "");
}

TEST_F(Sessions, EmptyOpenTransactionKeepsTheSessionOpen) {
  zarHandle* h = Open();
  ASSERT_NE(h, nullptr);
  const std::string row = std::to_string(h->sessionId) + "|" + std::to_string(getpid()) + "|\n";
  h->transactionId = 1;
  EXPECT_EQ(zarCloseSession(h), 32);
  zarHandle* found = nullptr;
  EXPECT_EQ(find_bsa_handle(h->handleNumber, &found, "t.cc", 1), 0);
  EXPECT_EQ(SessionRows(), row);
  EXPECT_EQ(h->transactionId, 1);

  h->transactionId = 0;
  EXPECT_EQ(zarCloseSession(h), 0);
  EXPECT_EQ(SessionRows(), "");
  EXPECT_EQ(zarCloseSession(nullptr), 22);
}

// A catalog directory holding only some tables cannot be opened or
// created over: 88115, logged, and no handle.
TEST_F(Sessions, IncompleteCatalogIsRefused) {
  zarHandle* h = Open();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(zarCloseSession(h), 0);
  ASSERT_EQ(unlink(env_.install().Path("etc/tev/pool.idx").c_str()), 0);
  ASSERT_EQ(unlink(env_.install().Path("etc/tev/pool.dat").c_str()), 0);
  int created = 0;
  h = nullptr;
  EXPECT_EQ(zarOpenSession(&h, 0, &created), 88115);
  EXPECT_EQ(h, nullptr);
  zarHandle* found = nullptr;
  EXPECT_EQ(find_bsa_handle(1, &found, "t.cc", 1), 6);
  EXPECT_NE(ActivityLog().find("The catalog is incomplete"), std::string::npos);
}

void PutBigEndian(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// A commit whose transaction inserted no object row leaves the session's
// volume rows marked as they are.
TEST_F(Sessions, EmptyCommitTouchesNoVolumeRow) {
  zarHandle* h = Open();
  ASSERT_NE(h, nullptr);
  const int fd = h->tableFd[SMC_TAB_VOLUME];
  unsigned char row[472] = {};
  PutBigEndian(row + 0, static_cast<uint32_t>(h->sessionId));  // vol_sessionid
  PutBigEndian(row + 4, 1);                                     // vol_txid
  PutBigEndian(row + 8, 77);                                    // vol_volid
  ASSERT_EQ(iswrite(fd, row), 0) << iserrno;

  h->transactionId = 1;
  EXPECT_EQ(zarDeleteTxn(h), 0);

  unsigned char back[472] = {};
  IsamKeyDesc key{};
  ASSERT_EQ(isindexinfo(fd, &key, 1), 0);
  PutBigEndian(back + 8, 77);
  ASSERT_EQ(isstart(fd, &key, 0, back, IS_EQUAL), 0) << iserrno;
  ASSERT_EQ(isread(fd, back, IS_CURRENT), 0) << iserrno;
  EXPECT_EQ(back[11], 77);
  EXPECT_EQ(back[7], 1) << "the transaction mark was cleared";
  h->transactionId = 0;
  EXPECT_EQ(zarCloseSession(h), 0);
}

// Failures of the catalog open or creation leave no handle, and are
// logged: a catalog path through a plain file cannot be opened (88100 and
// the open's code); a catalog whose first table cannot be built (a
// dangling link in its place) cannot be created (88102 and 3).
TEST(SessionOpenFailures, LeaveNoHandle) {
  const struct {
    const char* name;
    int expected;
    const char* logged;
  } cases[] = {{"through a plain file", 19, "Cannot open the catalog."},
               {"creation fails", 3, "Cannot create the catalog in "}};
  for (const auto& c : cases) {
    ConfigEnv env;
    std::string dir;
    if (c.expected == 19) {
      env.install().WriteFile("plainfile", "x");
      dir = env.install().Path("plainfile/tev/");
      env.Set("TEV_CATALOG_PATH", dir);
    } else {
      dir = env.install().Path("etc/tev/");
      env.install().MakeDir("etc/tev");
      ASSERT_EQ(symlink("/nonexistent/lock.idx", (dir + "lock.idx").c_str()), 0);
    }
    ASSERT_EQ(zarLoadConfig(0), 0);
    zarHandle* h = nullptr;
    int created = 0;
    EXPECT_EQ(zarOpenSession(&h, 0, &created), c.expected) << c.name;
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(created, 0);
    zarHandle* found = nullptr;
    EXPECT_EQ(find_bsa_handle(1, &found, "t.cc", 1), 6);
    const std::string log = env.install().ReadFile("act.log");
    const std::string text = c.expected == 3 ? c.logged + dir : c.logged;
    EXPECT_NE(log.find(text), std::string::npos) << c.name << "\n" << log;
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A process's handles are numbered 1, 2, ... and never reused.
TEST_F(Sessions, HandleNumbersOfAFreshProcess) {
  tevtest::RunOptions opts;
  opts.env = ChildEnv();
  const auto r = tevtest::RunProgram(tevtest::BuiltProgram("session_driver"), {"3"}, opts);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"session 1 handle 1 created 1",
                                                    "session 2 handle 2 created 0",
                                                    "session 3 handle 3 created 0"}));
}

// Eight processes opening and closing sessions at once get distinct
// session ids and leave no session row behind.
TEST_F(Sessions, ConcurrentProcesses) {
  zarHandle* h = Open();  // the catalog exists before the processes start
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(zarCloseSession(h), 0);

  constexpr int kProcesses = 8, kCycles = 3;
  std::vector<tevtest::RunResult> results(kProcesses);
  std::vector<std::thread> threads;
  tevtest::RunOptions opts;
  opts.env = ChildEnv();
  for (int i = 0; i < kProcesses; ++i) {
    threads.emplace_back([&, i] {
      results[i] = tevtest::RunProgram(tevtest::BuiltProgram("session_driver"),
                                       {std::to_string(kCycles)}, opts);
    });
  }
  for (auto& t : threads) t.join();
  std::set<int> ids;
  for (const auto& r : results) {
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), size_t{kCycles}) << r.out;
    for (const auto& line : lines) {
      int sid = 0;
      unsigned handle = 0;
      int created = -1;
      ASSERT_EQ(std::sscanf(line.c_str(), "session %d handle %u created %d", &sid, &handle, &created), 3);
      EXPECT_EQ(created, 0);
      EXPECT_TRUE(ids.insert(sid).second) << "session id " << sid << " given twice";
    }
  }
  EXPECT_EQ(ids.size(), size_t{kProcesses * kCycles});
  EXPECT_EQ(*ids.begin(), 2);  // the first session above was 1
  EXPECT_EQ(*ids.rbegin(), 1 + kProcesses * kCycles);
  EXPECT_EQ(SessionRows(), "");
}

}  // namespace
