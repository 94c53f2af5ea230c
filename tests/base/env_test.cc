// Environment resolution, driven through env_probe with a clean process
// environment, a temporary installation directory and a temporary home.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/base/locale_files.h"
#include "tests/support/test_support.h"

namespace {

using tevtest::RunResult;
using tevtest::TempInstall;

class EnvProbe : public ::testing::Test {
 protected:
  EnvProbe() { basetest::InstallLocaleFiles(install_); }
  // Runs the probe; sys and user are the contents of the system and user
  // files (no file when empty).
  RunResult Probe(const std::vector<std::string>& names, std::map<std::string, std::string> env = {},
                  const std::string& sys = "", const std::string& user = "") {
    Place(install_.Path("etc/tarvelon.rc"), sys);
    Place(home_.Path(".tarvelon"), user);
    if (!env.count("TARVELONDIR")) env["TARVELONDIR"] = install_.path();
    std::vector<std::string> args = {"--home", home_.path()};
    args.insert(args.end(), names.begin(), names.end());
    tevtest::RunOptions opt;
    opt.env = env;
    RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("env_probe"), args, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  }
  static void Place(const std::string& path, const std::string& content) {
    if (content.empty()) {
      ::unlink(path.c_str());
    } else {
      tevtest::WriteFile(path, content);
    }
  }
  std::map<std::string, std::string> Values(const RunResult& r) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < r.out.size()) {
      size_t nl = r.out.find('\n', pos);
      std::string line = r.out.substr(pos, nl - pos);
      pos = nl + 1;
      size_t eq = line.find('=');
      out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
  }

  TempInstall install_;
  TempInstall home_;
};

TEST_F(EnvProbe, DefaultsWithoutFilesOrEnvironment) {
  auto v = Values(Probe({"DBPATH", "DBTEMP", "DBDATE", "TERM", "NODEFDAC", "NOTAVARIABLE"}));
  EXPECT_EQ(v["DBPATH"], ".|0");
  EXPECT_EQ(v["DBTEMP"], "/tmp|0");
  EXPECT_EQ(v["DBDATE"], "(none)|0");
  EXPECT_EQ(v["TERM"], "dumb|0");
  EXPECT_EQ(v["NODEFDAC"], "no|0");
  EXPECT_EQ(v["NOTAVARIABLE"], "(none)|0");
}

TEST_F(EnvProbe, ProcessBeatsUserBeatsSystemFile) {
  auto r = Probe({"DBDATE", "DBMONEY", "DBTEMP", "DBTIME", "DBLANG"},
                 {{"DBTEMP", ""}, {"DBLANG", "proc"}},
                 "DBDATE sys\nDBMONEY sys\nDBTEMP sys\nDBTIME sys\nDBLANG sys\n",
                 "DBDATE user\nDBMONEY user1\nDBMONEY user2\n");
  auto v = Values(r);
  EXPECT_EQ(v["DBDATE"], "user|0");
  EXPECT_EQ(v["DBMONEY"], "user2|0");  // the later line of one file
  EXPECT_EQ(v["DBTEMP"], "|0");        // an empty process value counts
  EXPECT_EQ(v["DBTIME"], "sys|0");
  EXPECT_EQ(v["DBLANG"], "proc|0");
  EXPECT_EQ(r.err, "");
}

TEST_F(EnvProbe, FileSyntax) {
  auto v = Values(Probe({"DBPATH", "DBMONEY", "DBDATE", "DBTIME", "DBPRINT", "DBLANG", "DBDELIMITER"}, {},
                        "DBPATH /data\r\n"
                        "#DBTIME commented\n"
                        "DBMONEY $#1\n"
                        "\n"
                        " DBPRINT indented\n"
                        "NOTAVARIABLE x\n"
                        "DBDATE\n"
                        "DBDELIMITER \t ,  \n"
                        "DBLANG unterminated"));
  EXPECT_EQ(v["DBPATH"], "/data\r|0");       // CR LF leaves the CR in the value
  EXPECT_EQ(v["DBTIME"], "(none)|0");        // comment
  EXPECT_EQ(v["DBMONEY"], "$#1|0");          // '#' later in a line is data
  EXPECT_EQ(v["DBPRINT"], "lpr|0");          // a leading blank names nothing
  EXPECT_EQ(v["DBDATE"], "|0");              // a name alone sets the empty value
  EXPECT_EQ(v["DBDELIMITER"], ",  |0");      // trailing blanks are kept
  EXPECT_EQ(v["DBLANG"], "(none)|0");        // last line without a newline
}

TEST_F(EnvProbe, EnvIgnoreSkipsFileLinesOnly) {
  const std::string sys = "DBPATH /sys\nDBDATE sysdate\n";
  const std::string user = "DBPATH /user\n";
  auto v = Values(Probe({"DBPATH", "DBDATE"}, {{"ENVIGNORE", ":DBPATH::"}}, sys, user));
  EXPECT_EQ(v["DBPATH"], ".|0");
  EXPECT_EQ(v["DBDATE"], "sysdate|0");
  v = Values(Probe({"DBPATH"}, {{"ENVIGNORE", "DBPATH"}, {"DBPATH", "/proc"}}));
  EXPECT_EQ(v["DBPATH"], "/proc|0");
}

TEST_F(EnvProbe, TooLongProcessValueWarnsOncePerProcess) {
  std::string ok = "/" + std::string(255, 'a');
  auto v = Values(Probe({"TARVELONDIR@23"}, {{"TARVELONDIR", ok}}));
  EXPECT_EQ(v["TARVELONDIR@23"], ok + "|0");

  std::string bad = "/" + std::string(256, 'a');
  auto r = Probe({"TARVELONDIR", "TARVELONDIR@23", "DBPATH"}, {{"TARVELONDIR", bad}});
  v = Values(r);
  EXPECT_EQ(v["TARVELONDIR"], "(none)|-4");
  EXPECT_EQ(v["TARVELONDIR@23"], "(none)|-4");
  EXPECT_EQ(v["DBPATH"], ".|0");
  EXPECT_EQ(r.err,
            "WARNING: \n"
            "Environment variable TARVELONDIR is too long (maximum is 256 characters).\n"
            "File: osenv, line: 1599, status: -4.\n");
}

TEST_F(EnvProbe, TooLongFileValueStopsThatFile) {
  const std::string sys = "# settings\n\nDBDATE before\nZIVEVODAREVEZO " + std::string(129, 'z') +
                          "\nDBMONEY after\n";
  auto r = Probe({"--cold", "DBDATE", "DBDATE", "DBMONEY", "DBTIME"}, {}, sys, "DBTIME fromuser\n");
  const std::string path = install_.Path("etc/tarvelon.rc");
  EXPECT_EQ(r.out,
            "DBDATE=(none)|0\n"  // the load that met the value fails its lookup
            "DBDATE=before|0\n"
            "DBMONEY=(none)|0\n"
            "DBTIME=fromuser|0\n");
  EXPECT_EQ(r.err, path + ", line 4:\n"
                   "WARNING: \n"
                   "Environment variable ZIVEVODAREVEZO is too long (maximum is 128 characters).\n"
                   "File: osenv, line: 2224, status: -4.\n"
                   "Remaining lines of file " + path + " will not be processed.\n");
  // 128 bytes are accepted.
  r = Probe({"ZIVEVODAREVEZO"}, {}, "ZIVEVODAREVEZO " + std::string(128, 'z') + "\n");
  EXPECT_EQ(Values(r)["ZIVEVODAREVEZO"], std::string(128, 'z') + "|0");
  EXPECT_EQ(r.err, "");
}

TEST_F(EnvProbe, RowArgument) {
  auto v = Values(Probe({"DBDATE@300", "DBDATE@-1", "DBDATE@6"}, {}, "DBDATE fromfile\n"));
  EXPECT_EQ(v["DBDATE@300"], "(none)|0");
  EXPECT_EQ(v["DBDATE@-1"], "fromfile|0");
  EXPECT_EQ(v["DBDATE@6"], "fromfile|0");
}

TEST_F(EnvProbe, DbnlsMapsLangOntoLcVariables) {
  const std::vector<std::string> lc = {"LC_COLLATE", "LC_CTYPE", "LC_MONETARY", "LC_NUMERIC", "LC_TIME"};
  auto v = Values(Probe(lc, {{"DBNLS", "1"}}, "", "LANG fr_fr.8859-1\n"));
  for (const auto& n : lc) EXPECT_EQ(v[n], "fr_fr.8859-1|0") << n;

  v = Values(Probe(lc, {{"DBNLS", "1"}}));
  for (const auto& n : lc) EXPECT_EQ(v[n], "en_us.8859-1|0") << n;

  // A file's LC_CTYPE is kept; an empty process LC_TIME takes LANG and is
  // put into the process environment.
  v = Values(Probe({"LC_CTYPE", "LC_TIME"}, {{"DBNLS", "2"}, {"LANG", "de_de.8859-1"}, {"LC_TIME", ""}},
                   "LC_CTYPE ja_jp.ujis\n"));
  EXPECT_EQ(v["LC_CTYPE"], "ja_jp.ujis|0");
  EXPECT_EQ(v["LC_TIME"], "de_de.8859-1|0");

  // DBNLS from a file: "2" turns the mapping on, "3" does not.
  v = Values(Probe({"LC_COLLATE"}, {}, "DBNLS 2\n"));
  EXPECT_EQ(v["LC_COLLATE"], "en_us.8859-1|0");
  v = Values(Probe({"LC_COLLATE"}, {}, "DBNLS 3\nLANG x\n"));
  EXPECT_EQ(v["LC_COLLATE"], "(none)|0");
}

TEST_F(EnvProbe, ConnectionSnapshot) {
  auto r = Probe({"--conn", "/db/path"}, {{"DB_LOCALE", "en_us.utf8"}, {"DBMONEY", "$"}},
                 "DBDATE Y4MD-\n");
  // The locale start-up put the default CLIENT_LOCALE into the process
  // environment.
  EXPECT_EQ(r.out,
            "conn 0\n"
            "pair DBPATH=/db/path\n"
            "pair DBDATE=Y4MD-\n"
            "pair DBMONEY=$\n"
            "pair CLIENT_LOCALE=en_US.8859-1\n"
            "pair NODEFDAC=no\n"
            "pair DB_LOCALE=en_us.utf8\n");
}

// An account without a home directory has no user file: a ".tarvelon" in
// the current directory (whoever owns it) is not read in its place.
TEST_F(EnvProbe, NoHomeDirectoryMeansNoUserFile) {
  TempInstall cwd;
  cwd.WriteFile(".tarvelon", "DBTEMP /from/user/file\n");
  tevtest::RunOptions opt;
  opt.env = {{"TARVELONDIR", install_.path()}};
  opt.cwd = cwd.path();
  RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("env_probe"),
                                    {"--home", "", "DBTEMP"}, opt);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Values(r)["DBTEMP"], "/tmp|0");  // the built-in default
  // The same file in a home directory is read.
  home_.WriteFile(".tarvelon", "DBTEMP /from/user/file\n");
  r = tevtest::RunProgram(tevtest::BuiltProgram("env_probe"), {"--home", home_.path(), "DBTEMP"},
                          opt);
  EXPECT_EQ(Values(r)["DBTEMP"], "/from/user/file|0");
}

// The current user's name: empty until os_userinit registers the account,
// then the host name (its first label), a backslash and the account name as
// the password database gives them, on every thread.
TEST_F(EnvProbe, UserNameOnceTheAccountIsRegistered) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string domain(host);
  domain = domain.substr(0, domain.find('.')).substr(0, 15);
  struct passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  std::string want = domain + "\\" + pw->pw_name;
  auto v = Values(Probe({"--user"}, {{"ZIVEVODAREVEZO", "tvtest"}}));
  EXPECT_EQ(v["user before"], "");
  EXPECT_EQ(v["user init"], "0");
  EXPECT_EQ(v["user after"], want);
  EXPECT_EQ(v["user thread"], want);

  v = Values(Probe({"--user"}));  // no ZIVEVODAREVEZO: nobody registered
  EXPECT_EQ(v["user init"], "1");
  EXPECT_EQ(v["user after"], "");
}

// Domain and name share the 80-byte buffer with its NUL: 79 bytes fit; a
// longer pair leaves the name empty rather than cut it into another
// account's name. The probe runs with a host name and a password file of
// its own (new UTS and mount namespaces).
TEST_F(EnvProbe, UserNameThatDoesNotFitIsLeftEmpty) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for namespaces";
  if (tevtest::RunProgram("/usr/bin/unshare", {"--mount", "--uts", "/bin/true"}).exit_code != 0) {
    GTEST_SKIP() << "no namespaces here";
  }
  const std::string domain = "hostfifteenchrs";  // 15 characters, the most kept
  for (size_t len : {63u, 64u}) {
    std::string name(len, 'u');
    tevtest::TempInstall etc;
    // The password file names uid 0 first with the long name.
    std::string passwd = tevtest::ReadFile("/etc/passwd");
    etc.WriteFile("passwd", name + ":x:0:0::/root:/bin/sh\n" + passwd);
    tevtest::RunOptions opts;
    opts.env = {{"ZIVEVODAREVEZO", "tvtest"}, {"TARVELONDIR", install_.path()}};
    RunResult r = tevtest::RunProgram(
        "/usr/bin/unshare",
        {"--mount", "--uts", "/bin/sh", "-c",
         "hostname " + domain + " && mount --bind \"$0\" /etc/passwd && exec \"$@\"",
         etc.Path("passwd"), tevtest::BuiltProgram("env_probe"), "--user"},
        opts);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto v = Values(r);
    EXPECT_EQ(v["user init"], "0") << len;
    EXPECT_EQ(v["user after"], len == 63 ? domain + "\\" + name : "") << len;
  }
}

}  // namespace
