#include "base/os_accounts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/accounts.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

const char kServer[] = "tvtest";
const std::string kUsers = std::string("HKLM\\SOFTWARE\\Tarvelon\\Velkor\\") + kServer +
                           "\\Security\\Users";

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = dir_.Path("reg");
    setenv("TARVELON_REGISTRY", registry_.c_str(), 1);
    setenv("ZIVEVODAREVEZO", kServer, 1);
    host_ = tvp::ComputerName();
  }
  void TearDown() override {
    unsetenv("TARVELON_REGISTRY");
    unsetenv("ZIVEVODAREVEZO");
  }
  std::map<std::string, std::string> Env() const {
    return {{"TARVELON_REGISTRY", registry_}, {"ZIVEVODAREVEZO", kServer}};
  }
  std::vector<std::string> EnvList() const {
    return {"TARVELON_REGISTRY=" + registry_, std::string("ZIVEVODAREVEZO=") + kServer};
  }
  tevtest::RunResult Tool(const std::vector<std::string>& args) {
    tevtest::RunOptions opts;
    opts.env = Env();
    return tevtest::RunProgram(tevtest::BuiltProgram("tvreg"), args, opts);
  }
  void Seed(uint32_t seed) {
    ASSERT_EQ(0, Tool({"set", kUsers, "UIDSeed", "dword", std::to_string(seed)}).exit_code);
  }
  std::string Get(const std::string& key, const std::string& name) {
    tevtest::RunResult r = Tool({"get", key, name});
    return r.exit_code == 0 ? r.out.substr(0, r.out.size() - 1) : "<missing>";
  }
  bool LockKeyExists() {
    HKEY key;
    std::string path = kUsers.substr(5) + "\\Lock";
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0) return false;
    RegCloseKey(key);
    return true;
  }

  tevtest::TempInstall dir_;
  std::string registry_;
  std::string host_;
  std::string probe_ = tevtest::BuiltProgram("accounts_probe");
};

TEST_F(AccountsTest, SecurityStartUpNeedsTheServerName) {
  tevtest::RunOptions without;
  without.env = {{"TARVELON_REGISTRY", registry_}};
  EXPECT_EQ("1\n", tevtest::RunProgram(probe_, {"userinit"}, without).out);
  tevtest::RunOptions with;
  with.env = Env();
  tevtest::RunResult r = tevtest::RunProgram(probe_, {"userinit"}, with);
  tvp::Account me;
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByUid(geteuid(), &me));
  EXPECT_EQ("0\n" + std::to_string(geteuid()) + " " + me.name + "\n", r.out) << r.err;
}

TEST_F(AccountsTest, AdministratorTestPerProcess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another account";
  ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
  tevtest::RunOptions opts;
  opts.env = Env();
  EXPECT_EQ("1\n", tevtest::RunProgram(probe_, {"isadmin"}, opts).out);
  for (const auto& [groups, expected] : std::vector<std::pair<std::string, std::string>>{
           {"--clear-groups", "0\n"}, {"--groups=27", "1\n"}}) {
    tevtest::RunResult r = tevtest::RunProgram(
        "/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", groups, probe_, "isadmin"}, opts);
    EXPECT_EQ(expected, r.out) << groups << r.err;
  }
}

TEST_F(AccountsTest, ConcurrentAllocationsGetDistinctIds) {
  Seed(1000);
  std::vector<tevtest::Child> children;
  for (int i = 0; i < 8; ++i) {
    children.emplace_back(std::vector<std::string>{probe_, "enter", "user" + std::to_string(i)},
                          EnvList());
  }
  std::set<std::string> ids;
  for (tevtest::Child& child : children) {
    std::string line = child.ReadLine();
    ASSERT_EQ("0 ", line.substr(0, 2)) << line;
    ids.insert(line.substr(2));
  }
  EXPECT_EQ((std::set<std::string>{"1001", "1002", "1003", "1004", "1005", "1006", "1007", "1008"}),
            ids);
  EXPECT_EQ("1008", Get(kUsers, "UIDSeed"));
  for (int i = 0; i < 8; ++i) {
    std::string qualified = host_ + "\\user" + std::to_string(i);
    std::string id = Get(kUsers + "\\Usernames", qualified);
    EXPECT_EQ(qualified, Get(kUsers + "\\Usernames", "UID" + id));
  }
  EXPECT_FALSE(LockKeyExists());
  // A name met again keeps its id.
  tevtest::RunOptions opts;
  opts.env = Env();
  std::string again = tevtest::RunProgram(probe_, {"enter", "USER3"}, opts).out;
  EXPECT_EQ("0 " + Get(kUsers + "\\Usernames", host_ + "\\user3") + "\n", again);
  EXPECT_EQ("1008", Get(kUsers, "UIDSeed"));
}

// Processes that meet one new account at once agree on one id for it.
TEST_F(AccountsTest, ConcurrentAllocationsOfOneNameAgree) {
  Seed(6000);
  std::vector<tevtest::Child> children;
  for (int i = 0; i < 6; ++i) {
    children.emplace_back(std::vector<std::string>{probe_, "enter", "shared"}, EnvList());
  }
  for (tevtest::Child& child : children) EXPECT_EQ("0 6001", child.ReadLine());
  EXPECT_EQ("6001", Get(kUsers, "UIDSeed"));
}

TEST_F(AccountsTest, AllocationFailuresReleaseTheLock) {
  UserRecord* record = nullptr;
  EXPECT_EQ(OS_ERR_NO_NEW_UID, os_userenter("unseeded", host_.c_str(), &record));
  EXPECT_FALSE(LockKeyExists());
  Seed(0xFFFF);
  EXPECT_EQ(OS_ERR_NO_NEW_UID, os_userenter("late", host_.c_str(), &record));
  EXPECT_FALSE(LockKeyExists());
  EXPECT_EQ("65535", Get(kUsers, "UIDSeed"));
  EXPECT_EQ(OS_ERR_BAD_NAME, os_userenter(std::string(80, 'n').c_str(), "abc", &record));
  EXPECT_EQ(OS_ERR_BAD_NAME, os_userenter(nullptr, "abc", &record));
}

// The only case that waits: 51 tries 100 ms apart.
TEST_F(AccountsTest, LockHeldByALiveProcessGivesUpAfterItsTries) {
  Seed(1000);
  tevtest::Child holder({probe_, "hold-lock"}, EnvList());
  ASSERT_EQ("held", holder.ReadLine());
  UserRecord* record = nullptr;
  EXPECT_EQ(OS_ERR_MAP_LOCK, os_userenter("waiter", host_.c_str(), &record));
  EXPECT_EQ("1000", Get(kUsers, "UIDSeed"));
  holder.Kill();
  holder.Wait();
  // The lock of a process that has ended counts as released.
  EXPECT_EQ(0, os_userenter("waiter", host_.c_str(), &record));
  EXPECT_EQ(1001, record->uid);
}

// The user table lives as long as the process: each test seeds ids of its
// own so that tables and maps of earlier tests do not meet.
TEST_F(AccountsTest, RecordsCountRegistrations) {
  Seed(5000);
  UserRecord *first = nullptr, *second = nullptr;
  ASSERT_EQ(0, os_userenter("twice", host_.c_str(), &first));
  ASSERT_EQ(0, os_userenter("TWICE", host_.c_str(), &second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(2u, first->refs);
  uint16_t uid = first->uid;
  ASSERT_NE(nullptr, os_userbyuid(uid));
  EXPECT_STREQ("twice", os_userbyuid(uid)->pw_name);
  EXPECT_EQ(0, os_userrelease(uid));
  EXPECT_EQ(0, os_userrelease(uid));
  EXPECT_EQ(OS_ERR_UID_NOT_IN_TABLE, os_userrelease(uid));
  // Still in the map, so still named.
  ASSERT_NE(nullptr, os_userbyuid(uid));
  EXPECT_STREQ("twice", os_userbyuid(uid)->pw_name);
}

TEST_F(AccountsTest, NamesOfIdsAndIdsOfNames) {
  ASSERT_EQ(0, os_userinit());
  EXPECT_EQ(geteuid(), tv_geteuid());
  EXPECT_EQ(tv_getuid(), tv_geteuid());
  tvp::Account me;
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByUid(geteuid(), &me));
  OsUserEntry* entry = os_userbyuid(tv_geteuid());
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(me.name, entry->pw_name);
  EXPECT_EQ(me.home, entry->pw_dir);
  EXPECT_STREQ(" ", entry->pw_passwd);
  // The process's own account keeps its id, also by name.
  entry = os_userbyname(me.name.c_str());
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(tv_geteuid(), entry->pw_uid);
  // The current record is never removed.
  EXPECT_EQ(0, os_userrelease(tv_geteuid()));
  EXPECT_EQ(0, os_userrelease(tv_geteuid()));
  EXPECT_NE(nullptr, os_userbyuid(tv_geteuid()));

  Seed(3000);
  ASSERT_EQ(0, Tool({"set", kUsers + "\\Usernames", "UID2000", "sz", "FARAWAY\\ghost"}).exit_code);
  entry = os_userbyuid(2000);
  ASSERT_NE(nullptr, entry);
  EXPECT_STREQ("ghost", entry->pw_name);
  EXPECT_EQ(2000, entry->pw_uid);
  EXPECT_EQ(nullptr, os_userbyuid(2001));

  // An account of this machine without an id gets one from the map.
  entry = os_userbyname("nobody");
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(3001, entry->pw_uid);
  EXPECT_STREQ("nobody", entry->pw_name);
  EXPECT_EQ(3001, os_userbyname(("\\\\" + host_ + "\\nobody").c_str())->pw_uid);

  // A mapped account that no longer exists loses both directions of its
  // mapping; an unmapped one leaves the map alone.
  const std::string gone = host_ + "\\no-such-account-x";
  ASSERT_EQ(0, Tool({"set", kUsers + "\\Usernames", gone, "dword", "2500"}).exit_code);
  ASSERT_EQ(0, Tool({"set", kUsers + "\\Usernames", "UID2500", "sz", gone}).exit_code);
  EXPECT_EQ(nullptr, os_userbyname("no-such-account-x"));
  EXPECT_EQ("<missing>", Get(kUsers + "\\Usernames", gone));
  EXPECT_EQ("<missing>", Get(kUsers + "\\Usernames", "UID2500"));
  EXPECT_EQ(nullptr, os_userbyname("another-missing-x"));
  EXPECT_EQ("3001", Get(kUsers, "UIDSeed"));
}

TEST_F(AccountsTest, QualifyingNames) {
  const std::string n65(65, 'n'), n66(66, 'n'), q83 = "D\\" + std::string(81, 'q');
  struct Case {
    std::string name;
    const char* domain;
    std::string expected;  // "" when refused
  };
  const std::vector<Case> cases = {
      {"\\\\DOM\\alice", nullptr, "DOM\\alice"},
      {"\\DOM\\alice", "ignored", "DOM\\alice"},
      {"alice", "DOM", "DOM\\alice"},
      {"root", nullptr, host_ + "\\root"},
      {"no-such-account-x", nullptr, host_ + "\\no-such-account-x"},
      {n65, "D", "D\\" + n65},
      {n66, "D", ""},
      {"alice", "ABCDEFGHIJKLMNOPQ", ""},  // 17 characters
      {q83, nullptr, q83},
      {q83 + "x", nullptr, ""},
  };
  for (const Case& c : cases) {
    char out[OS_QUALIFIED_NAME_MAX + 1] = {};
    int32_t ok = os_qualifyname(c.name.c_str(), c.domain, out);
    EXPECT_EQ(c.expected.empty() ? 0 : 1, ok) << c.name;
    if (ok) {
      EXPECT_EQ(c.expected, out) << c.name;
    }
  }
}

TEST_F(AccountsTest, LogonChecksPasswordsAndRegisters) {
  Seed(4000);
  uint16_t uid = 0;
  char name[80] = "root";
  EXPECT_EQ(86, os_logonuser(name, nullptr, nullptr, &uid, 1));
  EXPECT_EQ(1, uid);
  std::string qualified = "\\\\" + host_ + "\\root";
  snprintf(name, sizeof name, "%s", qualified.c_str());
  EXPECT_EQ(1326, os_logonuser(name, nullptr, "surely-not-the-password", &uid, 1));
  EXPECT_STREQ("root", name);
  EXPECT_EQ(1, uid);
  snprintf(name, sizeof name, "nobody");
  EXPECT_EQ(1326, os_logonuser(name, "ELSEWHERE", "pw", &uid, 1));

  snprintf(name, sizeof name, "%s\\nobody", host_.c_str());
  ASSERT_EQ(0, os_logonuser(name, nullptr, nullptr, &uid, 0));
  EXPECT_STREQ("nobody", name);
  EXPECT_EQ(4001, uid);
  snprintf(name, sizeof name, "%s", std::string(70, 'x').c_str());
  EXPECT_EQ(OS_ERR_BAD_NAME, os_logonuser(name, nullptr, nullptr, &uid, 0));
  EXPECT_EQ(1, uid);
}

}  // namespace
