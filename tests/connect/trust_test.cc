// Trust files and the peer trust check: .netrc (python3's netrc the oracle
// where no key repeats), hosts.equiv rules, asf_trust_check and
// chkInternet, and .netrc passwords taken by the name service.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/os_accounts.h"
#include "connect/asfns.h"
#include "connect/asfutil.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/test_support.h"

namespace {

std::string CurrentUser() {
  struct passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "";
}

// Runs code with the current directory set to dir.
struct InDir {
  explicit InDir(const std::string& dir) {
    if (getcwd(old, sizeof old) == nullptr) old[0] = '\0';
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InDir() {
    if (old[0] != '\0' && chdir(old) != 0) ADD_FAILURE() << "chdir back";
  }
  char old[4096];
};

std::string PythonNetrc(const std::string& path, const std::string& host) {
  std::string code =
      "import netrc,sys\n"
      "a=netrc.netrc(sys.argv[1]).authenticators(sys.argv[2])\n"
      "print('none' if a is None else '%s %s' % (a[0], a[2]))\n";
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", code, path, host},
                                             {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  std::string out = r.out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(Netrc, AgreesWithPythonWhereNoKeyRepeats) {
  tevtest::TempInstall dir;
  struct File {
    std::string text;
    std::string host;
  } files[] = {
      {"machine alpha login al password apw\nmachine beta login bl password bpw\n", "beta"},
      {"machine alpha\n  login al\n  account acct\n  password apw\n", "alpha"},
      {"machine a.example.com password only\n", "a.example.com"},
      {"macdef init\ncd /tmp\nmachine fake login x password y\n\nmachine real login r password rp\n",
       "real"},
      {"machine alpha login al password apw\n", "gamma"},
  };
  InDir in(dir.path());
  for (const File& f : files) {
    dir.WriteFile(".netrc", f.text);
    std::string expected = PythonNetrc(dir.Path(".netrc"), f.host);
    char login[513], password[513];
    ASSERT_EQ(netrc_open(f.host.c_str(), "req", login, password), 0);
    std::string got = password[0] == '\0' && std::string(login) == "req"
                          ? "none"
                          : std::string(login) + " " + password;
    // Python gives an empty login for a machine without one; ours is the
    // request's user.
    if (expected.rfind(" ", 0) == 0) expected = "req" + expected;
    EXPECT_EQ(got, expected) << f.text;
  }
}

TEST(Netrc, FirstLoginAndPasswordWinAndMacrosAreSkipped) {
  tevtest::TempInstall dir;
  InDir in(dir.path());
  struct Case {
    const char* text;
    const char* login;
    const char* password;
  } cases[] = {
      {"machine h login one password p1 password p2 login two\n", "one", "p1"},
      {"macdef m\nmachine h login bad password bad\n\nmachine h login good password ok\n", "good", "ok"},
      {"machine other login o password op machine h password hp\n", "req", "hp"},
      {"machine h login l\nmachine x password xp\n", "l", ""},
  };
  for (const Case& c : cases) {
    dir.WriteFile(".netrc", c.text);
    char login[513], password[513];
    ASSERT_EQ(netrc_open("h", "req", login, password), 0);
    EXPECT_STREQ(login, c.login) << c.text;
    EXPECT_STREQ(password, c.password) << c.text;
  }
  std::remove(dir.Path(".netrc").c_str());
  char login[513], password[513];
  EXPECT_EQ(netrc_open("h", "req", login, password), -1);
}

TEST(HostsEquiv, Rules) {
  tevtest::TempInstall dir;
  struct Case {
    const char* text;
    const char* host;
    const char* user;
    int trusted;
  } cases[] = {
      {"-bad.example\n+\n", "bad.example", "joe", 0},
      {"-bad.example\n+\n", "Good.Example", "joe", 1},
      {"good.example +\n", "GOOD.example", "anyone", 1},
      {"good.example -joe\ngood.example\n", "good.example", "JOE", 0},
      {"good.example -joe\ngood.example\n", "good.example", "ann", 1},
      {"good.example ann\n", "good.example", "joe", 0},
      {"good.example|ann\n", "good.example", "Ann", 1},
      {"# good.example\n", "good.example", "joe", 0},
      {"other.example\n", "good.example", "joe", 0},
      {"good.example\n", "good.example  ", "joe", 1},
      {"good.example " "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n+\n", "good.example", "x", 1},
  };
  for (const Case& c : cases) {
    dir.WriteFile("hosts.equiv", c.text);
    EXPECT_EQ(hostsequiv_read(dir.Path("hosts.equiv").c_str(), c.host, c.user), c.trusted)
        << c.text << " / " << c.host << " " << c.user;
  }
  EXPECT_EQ(hostsequiv_read(dir.Path("none").c_str(), "h", "u"), 0);
  // The check consults the file only for a non-zero user id and flag bit 0.
  dir.WriteFile("hosts.equiv", "+\n");
  asf_set_hostsequiv_path(dir.Path("hosts.equiv").c_str());
  uint8_t on = 1, off = 2;
  EXPECT_EQ(hostsequiv_check("u", 5, nullptr, "h", &on), 1);
  EXPECT_EQ(hostsequiv_check("u", 0, nullptr, "h", &on), 0);
  EXPECT_EQ(hostsequiv_check("u", 5, nullptr, "h", &off), 0);
  asf_set_hostsequiv_path(nullptr);
}

// A registry where accounts get their ids, as a server has one.
void SeedAccounts(const tevtest::TempInstall& dir) {
  setenv("TARVELON_REGISTRY", dir.Path("reg").c_str(), 1);
  setenv("ZIVEVODAREVEZO", "tvtest", 1);
  ASSERT_EQ(connect_test::SeedAccountIds(dir.Path("reg")), 0);
}

TEST(TrustCheck, CodesOfTheCheckAndOfChkInternet) {
  tevtest::TempInstall dir;
  SeedAccounts(dir);
  std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());
  OsUserEntry* account = os_userbyname(user.c_str());
  ASSERT_NE(account, nullptr);
  const int32_t account_uid = account->pw_uid;
  dir.WriteFile("trusting", "remote.example " + user + "\n");
  dir.WriteFile("refusing", "-remote.example\n+\n");
  AsfIdentity declared_far{};
  char far[] = "203.0.113.9";
  declared_far.text88 = far;
  AsfIdentity declared_same{};
  char same[] = "127.0.0.1";
  declared_same.text88 = same;
  struct Case {
    const char* equiv;
    const char* password;
    const char* host;
    uint8_t flags;
    int password_flag;
    const AsfIdentity* identity;
    int code;
  } cases[] = {
      {"trusting", nullptr, nullptr, 1, 1, nullptr, -954},
      {"trusting", "surely-not-the-password", "remote.example", 1, 1, nullptr, -951},
      {"refusing", nullptr, "remote.example", 1, 0, nullptr, 0},
      {"refusing", nullptr, "LOCALHOST", 1, 1, nullptr, 0},
      {"trusting", nullptr, "remote.example", 1, 1, nullptr, 0},
      {"refusing", nullptr, "remote.example", 1, 1, nullptr, -956},
      {"trusting", nullptr, "remote.example", 2, 1, nullptr, -956},
      {"trusting", nullptr, "localhost", 1, 1, &declared_far, -956},
      {"trusting", nullptr, "localhost", 1, 1, &declared_same, 0},
  };
  for (const Case& c : cases) {
    asf_set_hostsequiv_path(dir.Path(c.equiv).c_str());
    int32_t uid = -5, gid = -5;
    char message[64] = "x";
    int code = asf_trust_check(user.c_str(), c.password, c.host, &c.flags, &uid, &gid, message,
                               c.identity, c.password_flag);
    EXPECT_EQ(code, c.code) << c.equiv << " " << (c.host ? c.host : "-");
    if (code == 0) {
      EXPECT_EQ(uid, account_uid);
    }
    AsfPeerCred peer{1, const_cast<char*>(user.c_str()), const_cast<char*>(c.password), 0};
    char* text = nullptr;
    EXPECT_EQ(chkInternet(&peer, c.host, c.identity, &c.flags, nullptr, c.password_flag, &uid,
                          &gid, &text),
              c.code);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    std::free(text);
  }
  asf_set_hostsequiv_path(nullptr);
}

TEST(TrustCheck, NameServiceTakesNetrcPasswordsForForeignHosts) {
  tevtest::TempInstall dir;
  InDir in(dir.path());
  char self[256] = {};
  gethostname(self, sizeof self - 1);
  dir.WriteFile(".netrc", "machine farhost login remote password secret\n"
                          "machine " + std::string(self) + " login near password np\n");
  dir.WriteFile("sqlhosts", "far vqsoctcp farhost 1\nnorc vqsoctcp farhost 1 r=0\n"
                            "near vqsoctcp " + std::string(self) + " 1\n");
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  setenv("TARVELONSQLHOSTS", dir.Path("sqlhosts").c_str(), 1);
  unsetenv("ZEL_NETRC_LOOKUP");
  struct Case {
    const char* target;
    int32_t kind;
    const char* password;
    int32_t out_kind;
    const char* user;
    const char* out_password;
    bool lookup_set = false;
  } cases[] = {
      {"@far", 1, nullptr, 1, "remote", "secret"},
      {"@near", 1, nullptr, 1, "joe", nullptr},
      {"@near", 1, nullptr, 1, "near", "np", true},
      {"@far", 1, "given", 1, "joe", "given"},
      {"@norc", 1, nullptr, 1, "joe", nullptr},
      {"@far", 16, nullptr, 16, "joe", nullptr},
  };
  for (const Case& c : cases) {
    if (c.lookup_set) setenv("ZEL_NETRC_LOOKUP", "", 1);
    else unsetenv("ZEL_NETRC_LOOKUP");
    char user[] = "joe";
    std::string pw = c.password != nullptr ? c.password : "";
    AsfCredentials cred{c.kind, user, c.password != nullptr ? pw.data() : nullptr, 1, 77};
    std::string text = c.target;
    AsfTarget target{3, text.data()};
    AsfServerList* list = nullptr;
    AsfControlBlock cb{};
    uint32_t flags = 0;
    ASSERT_EQ(asfns_resolve(&cb, 1, &cred, &target, &list, nullptr, &flags), 0) << cb.error;
    const AsfServerEntry& e = list->entries[0];
    EXPECT_EQ(e.cred_kind, c.out_kind) << c.target;
    EXPECT_STREQ(e.user, c.user) << c.target;
    if (c.out_password == nullptr) EXPECT_EQ(e.password, nullptr);
    else EXPECT_STREQ(e.password, c.out_password);
    EXPECT_EQ(e.word2, c.kind == 16 ? 77 : 0);
    asf_free_server_list(list);
  }
  unsetenv("ZEL_NETRC_LOOKUP");
  unsetenv("TARVELONSQLHOSTS");
}

}  // namespace
