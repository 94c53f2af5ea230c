// The registry shared between processes: writers killed midway, racing
// creators, other accounts, and volatile keys held by live processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

class RegistryProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = dir_.Path("reg");
    setenv("TARVELON_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override { unsetenv("TARVELON_REGISTRY"); }

  std::vector<std::string> Env() const { return {"TARVELON_REGISTRY=" + registry_}; }

  tevtest::TempInstall dir_;
  std::string registry_;
  std::string probe_ = tevtest::BuiltProgram("platform_probe");
};

// Starts the next round from a hive without the writer's key.
void DeleteWriterKey() { ASSERT_EQ(0, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "W")); }

TEST_F(RegistryProcessTest, KilledWritersLeaveTheOldOrTheNewHive) {
  const unsigned seed = 20261210;
  printf("seed %u\n", seed);
  std::mt19937 random(seed);
  int checked = 0;
  for (int round = 0; round < 25; ++round) {
    tevtest::Child writer({probe_, "writer"}, Env());
    // The kill comes at a random instant after the first stored change, so
    // that a slow, loaded machine still kills every writer midway.
    std::string first = writer.ReadLine();
    ASSERT_FALSE(first.empty()) << "the writer stored nothing, round " << round;
    usleep(random() % 40000);
    writer.Kill();
    std::string reported = first + "\n" + writer.ReadAll();
    writer.Wait();
    // The last counter the writer saw stored.
    size_t end = reported.rfind('\n');
    long committed = 0;
    if (end != std::string::npos) {
      size_t start = reported.rfind('\n', end - 1);
      committed = std::stol(reported.substr(start == std::string::npos ? 0 : start + 1));
    }

    HKEY key;
    int32_t rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "W", 0, KEY_READ, &key);
    if (rc == 2 && committed == 0) continue;  // killed before its first change
    ASSERT_EQ(0, rc) << "round " << round;
    char counter[32] = {};
    uint32_t size = sizeof counter;
    rc = RegQueryValueExA(key, "counter", nullptr, nullptr,
                          reinterpret_cast<unsigned char*>(counter), &size);
    if (rc == 2 && committed == 0) {  // killed before its first counter
      RegCloseKey(key);
      DeleteWriterKey();
      continue;
    }
    ASSERT_EQ(0, rc) << "round " << round;
    std::string fill(70000, '\0');
    size = static_cast<uint32_t>(fill.size());
    ASSERT_EQ(0, RegQueryValueExA(key, "fill", nullptr, nullptr,
                                  reinterpret_cast<unsigned char*>(fill.data()), &size));
    RegCloseKey(key);
    long stored = atol(counter);
    // Every later round starts counting again from 1; what this round's
    // writer reported stored must still be there.
    EXPECT_GE(stored, committed) << "round " << round;
    ASSERT_EQ(65536u, size);
    fill.resize(size);
    char last = fill[0];
    EXPECT_EQ(std::string(65536, last), fill);
    EXPECT_TRUE(last == 'a' + stored % 26 || last == 'a' + (stored + 1) % 26);
    ++checked;
    DeleteWriterKey();
  }
  printf("%d of 25 rounds killed a writer after its first change\n", checked);
  EXPECT_EQ(25, checked);
}

TEST_F(RegistryProcessTest, RacingCreatorsSeeOneNewKey) {
  std::vector<tevtest::Child> children;
  for (int i = 0; i < 8; ++i) children.emplace_back(std::vector<std::string>{probe_, "create", "Race\\Key"}, Env());
  int created = 0, opened = 0;
  for (tevtest::Child& child : children) {
    std::string line = child.ReadLine();
    created += line == "1";
    opened += line == "2";
  }
  EXPECT_EQ(1, created);
  EXPECT_EQ(7, opened);
}

TEST_F(RegistryProcessTest, VolatileKeyLastsWhileItsProcessLives) {
  tevtest::Child holder({probe_, "hold", "Users\\Lock"}, Env());
  ASSERT_EQ("1", holder.ReadLine());
  ASSERT_EQ("held", holder.ReadLine());
  HKEY key;
  uint32_t disposition = 0;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Users\\Lock", 0, nullptr,
                               REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(key);
  holder.Kill();
  holder.Wait();
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Users\\Lock", 0, nullptr,
                               REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  RegCloseKey(key);
}

TEST_F(RegistryProcessTest, AdminToolSeedsShowsAndDeletes) {
  const std::string tool = tevtest::BuiltProgram("tvreg");
  tevtest::RunOptions opts;
  opts.env = {{"TARVELON_REGISTRY", registry_}};
  const std::string users = "HKLM\\SOFTWARE\\Tarvelon\\Velkor\\x\\Security\\Users";
  struct Step {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
  };
  const std::vector<Step> steps = {
      {{"set", users, "UIDSeed", "dword", "1000"}, 0, ""},
      {{"set", users + "/Usernames", "host\\alice", "dword", "0x3e9"}, 0, ""},
      {{"set", users + "/Usernames", "UID1001", "sz", "host\\alice"}, 0, ""},
      {{"set", "HKLM/Bin", "b", "binary", "00ff10"}, 0, ""},
      {{"get", "hklm/software/tarvelon/velkor/X/security/users", "uidseed"}, 0, "1000\n"},
      {{"get", users + "\\Usernames", "UID1001"}, 0, "host\\alice\n"},
      {{"get", "HKLM\\Bin", "b"}, 0, "00ff10\n"},
      {{"dump", users},
       0,
       "[" + users + "]\n\"UIDSeed\"=dword:1000\n\n[" + users +
           "\\Usernames]\n\"host\\alice\"=dword:1001\n\"UID1001\"=sz:\"host\\\\alice\"\n\n"},
      {{"get", users, "missing"}, 1, ""},
      {{"del", "HKLM\\SOFTWARE"}, 0, ""},
      {{"get", users, "UIDSeed"}, 1, ""},
      {{"set", users, "v", "dword", "4294967296"}, 2, ""},
      {{"set", "HKXX\\A", "v", "sz", "a"}, 2, ""},
      {{"frobnicate"}, 2, ""},
  };
  for (const Step& step : steps) {
    tevtest::RunResult r = tevtest::RunProgram(tool, step.args, opts);
    std::string shown;
    for (const std::string& a : step.args) shown += a + " ";
    EXPECT_EQ(step.exit_code, r.exit_code) << shown << r.err;
    if (step.exit_code == 0) {
      EXPECT_EQ(step.out, r.out) << shown;
    }
  }
}

TEST_F(RegistryProcessTest, OtherAccountsReadTheMachineHiveButCannotChangeIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another account";
  ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
  const std::string tool = tevtest::BuiltProgram("tvreg");
  tevtest::RunOptions opts;
  opts.env = {{"TARVELON_REGISTRY", registry_}};
  ASSERT_EQ(0, tevtest::RunProgram(tool, {"set", "HKLM\\A", "v", "sz", "root's"}, opts).exit_code);
  const std::vector<std::string> as_nobody = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                              tool};
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> all = as_nobody;
    all.insert(all.end(), args.begin(), args.end());
    return tevtest::RunProgram("/usr/bin/setpriv", all, opts);
  };
  tevtest::RunResult read = run({"get", "HKLM\\A", "v"});
  EXPECT_EQ(0, read.exit_code) << read.err;
  EXPECT_EQ("root's\n", read.out);
  tevtest::RunResult write = run({"set", "HKLM\\A", "v", "sz", "nobody's"});
  EXPECT_EQ(3, write.exit_code);
  EXPECT_NE(std::string::npos, write.err.find("registry error 5")) << write.err;
  EXPECT_EQ("root's\n", tevtest::RunProgram(tool, {"get", "HKLM\\A", "v"}, opts).out);
}

}  // namespace
