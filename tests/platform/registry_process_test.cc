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
#include "tests/support/test_support.h"

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // the child's standard output
};

Child Spawn(const std::vector<std::string>& args, const std::string& registry) {
  int fds[2];
  EXPECT_EQ(0, pipe2(fds, O_CLOEXEC));
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    dup2(fds[1], 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::string env_registry = "TARVELON_REGISTRY=" + registry;
    char* envp[] = {const_cast<char*>(env_registry.c_str()), nullptr};
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  close(fds[1]);
  child.out = fds[0];
  return child;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

std::string ReadAll(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

int Finish(Child& child) {
  int status = 0;
  waitpid(child.pid, &status, 0);
  close(child.out);
  return status;
}

class RegistryProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = dir_.Path("reg");
    setenv("TARVELON_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override { unsetenv("TARVELON_REGISTRY"); }

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
    Child writer = Spawn({probe_, "writer"}, registry_);
    usleep(1000 + random() % 40000);
    kill(writer.pid, SIGKILL);
    std::string reported = ReadAll(writer.out);
    Finish(writer);
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
  EXPECT_GT(checked, 0);
}

TEST_F(RegistryProcessTest, RacingCreatorsSeeOneNewKey) {
  std::vector<Child> children;
  for (int i = 0; i < 8; ++i) children.push_back(Spawn({probe_, "create", "Race\\Key"}, registry_));
  int created = 0, opened = 0;
  for (Child& child : children) {
    std::string line = ReadLine(child.out);
    created += line == "1";
    opened += line == "2";
    Finish(child);
  }
  EXPECT_EQ(1, created);
  EXPECT_EQ(7, opened);
}

TEST_F(RegistryProcessTest, VolatileKeyLastsWhileItsProcessLives) {
  Child holder = Spawn({probe_, "hold", "Users\\Lock"}, registry_);
  ASSERT_EQ("1", ReadLine(holder.out));
  ASSERT_EQ("held", ReadLine(holder.out));
  HKEY key;
  uint32_t disposition = 0;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Users\\Lock", 0, nullptr,
                               REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(key);
  kill(holder.pid, SIGKILL);
  Finish(holder);
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
