#include "platform/accounts.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/logon.h"
#include "tests/support/test_support.h"

namespace {

TEST(AccountsTest, LooksUpAccountsByIdAndName) {
  tvp::Account account;
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByUid(0, &account));
  EXPECT_EQ("root", account.name);
  EXPECT_EQ(0u, account.gid);
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByName("nobody", &account));
  EXPECT_EQ(65534u, account.uid);
  EXPECT_EQ(tvp::Lookup::kNotFound, tvp::AccountByName("no-such-account-x", &account));
  EXPECT_EQ(tvp::Lookup::kNotFound, tvp::AccountByName("", &account));
  EXPECT_EQ(tvp::Lookup::kNotFound, tvp::AccountByUid(4000000000u, &account));
}

TEST(AccountsTest, AdministratorsByAccountGroups) {
  tvp::Account account;
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByUid(0, &account));
  EXPECT_TRUE(tvp::AccountIsAdministrator(account));
  ASSERT_EQ(tvp::Lookup::kFound, tvp::AccountByName("nobody", &account));
  EXPECT_FALSE(tvp::AccountIsAdministrator(account));
}

// Each case in its own process: the administrator test looks at the
// process's own ids and groups.
TEST(AccountsTest, ProcessAdministratorByUidAndGroups) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another account";
  const std::string probe = tevtest::BuiltProgram("platform_probe");
  struct Case {
    std::vector<std::string> setpriv;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, "1\n"},
      {{"--reuid=65534", "--regid=65534", "--clear-groups"}, "0\n"},
      {{"--reuid=65534", "--regid=65534", "--groups=27"}, "1\n"},  // sudo
      {{"--reuid=65534", "--regid=65534", "--groups=0"}, "1\n"},
      {{"--reuid=65534", "--regid=0", "--clear-groups"}, "1\n"},
      {{"--reuid=65534", "--regid=65534", "--groups=100"}, "0\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.setpriv;
    args.push_back(probe);
    args.push_back("isadmin");
    tevtest::RunResult r = c.setpriv.empty() ? tevtest::RunProgram(probe, {"isadmin"})
                                             : tevtest::RunProgram("/usr/bin/setpriv", args);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ(c.expected, r.out) << (c.setpriv.empty() ? "as root" : c.setpriv.back());
  }
}

TEST(AccountsTest, ComputerNameIsTheHostsFirstLabel) {
  tevtest::RunResult r = tevtest::RunProgram("/bin/hostname", {"-s"});
  ASSERT_EQ(0, r.exit_code);
  std::string expected = r.out.substr(0, r.out.find('\n')).substr(0, 15);
  EXPECT_EQ(expected, tvp::ComputerName());
}

TEST(AccountsTest, PasswordCheckRefusesWithoutDelay) {
  EXPECT_EQ(86, tvp::CheckPassword("root", nullptr));
  EXPECT_EQ(1326, tvp::CheckPassword("no-such-account-x", "secret"));
  EXPECT_EQ(1326, tvp::CheckPassword("root", "surely-not-the-password"));
  EXPECT_EQ(1326, tvp::CheckPassword("", "secret"));
}

}  // namespace
