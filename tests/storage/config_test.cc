#include "storage/command/config.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "tests/storage/config_env.h"

namespace {

using tevtest::ConfigEnv;

// An environment value of a case that removes the variable.
const char kUnset[] = "<unset>";

struct Case {
  const char* name;
  std::string server;  // etc/zuconfig; empty: no file
  std::string sm;      // etc/tevconfig; empty: no file
  std::vector<std::pair<std::string, std::string>> env;
  std::function<void(const TevConfig&, const ConfigEnv&)> check;
};

std::string Dir(const ConfigEnv& e, const std::string& rel) { return e.install().Path(rel); }

std::vector<Case> Cases() {
  return {
      {"defaults", "", "", {},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.actLogPath, Dir(e, "act.log").c_str());  // BAR_ACT_LOG of the fixture
         EXPECT_STREQ(c.debugLogPath, "/tmp/bar_dbug.log");
         EXPECT_EQ(c.debugLevel, 0);
         EXPECT_EQ(c.traceThreshold, 137);
         EXPECT_EQ(c.debugHandle, -1);
         EXPECT_EQ(c.lockTimeout, 300);
         EXPECT_EQ(c.xferBufSize, 128);
         EXPECT_EQ(c.childWait, 60);
         EXPECT_EQ(c.setFlags, 0);
         EXPECT_STREQ(c.dbsPoolName, "DBSPOOL");
         EXPECT_STREQ(c.logPoolName, "LOGPOOL");
         EXPECT_STREQ(c.extPoolName, "EXTPOOL");
         EXPECT_EQ(c.dbsPoolId * 100 + c.logPoolId * 10 + c.extPoolId, 123);
         EXPECT_STREQ(c.catalogDir, Dir(e, "etc/tev/").c_str());
         EXPECT_STREQ(c.tablePaths[0], Dir(e, "etc/tev/device").c_str());
         EXPECT_STREQ(c.tablePaths[8], Dir(e, "etc/tev/pool").c_str());
         EXPECT_STREQ(c.serverConfigPath, Dir(e, "etc/zuconfig").c_str());
         EXPECT_STREQ(c.smConfigPath, Dir(e, "etc/tevconfig").c_str());
         EXPECT_EQ(c.stderrHandle, -1);
         EXPECT_GE(c.actLogHandle, 3);
       }},
      {"activity log: environment over file over BAR", "BAR_ACT_LOG /srv/bar\n",
       "TEV_ACT_LOG=/srv/file_tev\n", {{"TEV_ACT_LOG", "@env.log"}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.actLogPath, Dir(e, "env.log").c_str());
         EXPECT_EQ(c.setFlags, CFG_SET_TEV_ACT_LOG | CFG_SET_BAR_ACT_LOG);
       }},
      {"activity log: storage-manager file over server file", "TEV_ACT_LOG @server.log\n",
       "TEV_ACT_LOG @sm.log\n", {},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.actLogPath, Dir(e, "sm.log").c_str());
       }},
      {"activity log: BAR value without any TEV one", "BAR_ACT_LOG @barfile.log\n", "", {},
       [](const TevConfig& c, const ConfigEnv& e) {
         // The environment's BAR_ACT_LOG (fixture) wins over the file's.
         EXPECT_STREQ(c.actLogPath, Dir(e, "act.log").c_str());
         EXPECT_EQ(c.setFlags, CFG_SET_BAR_ACT_LOG);
       }},
      {"BAR values of the files when the environment sets none",
       "BAR_ACT_LOG @srv_act.log\nBAR_DEBUG_LOG @srv_dbg.log\n", "BAR_DEBUG 4\n",
       {{"BAR_ACT_LOG", kUnset}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.actLogPath, Dir(e, "srv_act.log").c_str());
         EXPECT_STREQ(c.debugLogPath, Dir(e, "srv_dbg.log").c_str());
         EXPECT_EQ(c.debugLevel, 4);
         EXPECT_EQ(c.traceThreshold, 134);
         EXPECT_EQ(c.setFlags, CFG_SET_BAR_ACT_LOG | CFG_SET_BAR_DEBUG_LOG | CFG_SET_BAR_DEBUG);
         EXPECT_GE(c.debugHandle, 3);
         EXPECT_TRUE(e.install().Exists("srv_act.log"));
         EXPECT_TRUE(e.install().Exists("srv_dbg.log"));
       }},
      {"TEV_DEBUG 0 in file beats BAR_DEBUG 5", "", "TEV_DEBUG 0\n",
       {{"BAR_DEBUG", "5"}, {"BAR_DEBUG_LOG", "@dbg.log"}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_EQ(c.debugLevel, 0);
         EXPECT_EQ(c.debugHandle, -1);
         EXPECT_FALSE(e.install().Exists("dbg.log"));
         EXPECT_EQ(c.setFlags, CFG_SET_TEV_DEBUG);
       }},
      {"BAR_DEBUG from the environment when no TEV_DEBUG", "", "BAR_DEBUG 2\n",
       {{"BAR_DEBUG", "3"}, {"BAR_DEBUG_LOG", "@dbg.log"}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_EQ(c.debugLevel, 3);
         EXPECT_EQ(c.traceThreshold, 135);
         EXPECT_STREQ(c.debugLogPath, Dir(e, "dbg.log").c_str());
         EXPECT_TRUE(e.install().Exists("dbg.log"));
         EXPECT_GE(c.debugHandle, 3);
       }},
      {"level 12 stored as 9", "", "", {{"TEV_DEBUG", "12"}, {"TEV_DEBUG_LOG", "@d.log"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.debugLevel, 9);
         EXPECT_EQ(c.traceThreshold, 129);
       }},
      {"level 1", "", "", {{"TEV_DEBUG", " +1x"}, {"TEV_DEBUG_LOG", "@d.log"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.debugLevel, 1);
         EXPECT_EQ(c.traceThreshold, 137);
       }},
      {"negative level stays", "", "", {{"TEV_DEBUG", "-4"}, {"TEV_DEBUG_LOG", "@d.log"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.debugLevel, -4);
         EXPECT_EQ(c.traceThreshold, 137);
         EXPECT_GE(c.debugHandle, 3);
       }},
      {"key forms", "",
       "  TEV_DEBUG_LOG = $TARVELONDIR\\rel/d.log   # trailing comment\n"
       "TEV_DEBUGX 7\nTEV_DEBUG\t6\ntev_debug 8\nCHILDWAIT=-9\n#TEV_DEBUG 1\n\n",
       {},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.debugLogPath, Dir(e, "rel/d.log").c_str());
         EXPECT_EQ(c.debugLevel, 6);
         EXPECT_EQ(c.childWait, -9);
       }},
      {"expansion refused leaves the value", "",
       "TEV_ACT_LOG $TARVELONDIRX/a.log\nBAR_BSALIB_PATH $TARVELONDIR/" + std::string(130, 'l') + "\n",
       {},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_STREQ(c.actLogPath, "$TARVELONDIRX/a.log");
         EXPECT_EQ(std::string(c.bsaLibPath), "$TARVELONDIR/" + std::string(130, 'l'));
       }},
      {"expansion of a value at the end of a full-length line",
       "", "BAR_BSALIB_PATH" + std::string(2017, ' ') + "$TARVELONDIR/b\n", {},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.bsaLibPath, Dir(e, "b").c_str());
       }},
      {"catalog path from file gets a separator", "", "TEV_CATALOG_PATH /data/cat\\\n", {},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_STREQ(c.catalogDir, "/data/cat\\/");
         EXPECT_STREQ(c.tablePaths[3], "/data/cat\\/object_path");
       }},
      {"catalog path: over-long values ignored, separator still added", "",
       "TEV_CATALOG_PATH /" + std::string(1000, 'f') + "\n",
       {{"TEV_CATALOG_PATH", "/" + std::string(960, 'e')}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.catalogDir, Dir(e, "etc/tev/").c_str());
       }},
      {"catalog path of 960 from the environment", "", "TEV_CATALOG_PATH /file\n",
       {{"TEV_CATALOG_PATH", std::string(960, 'e')}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(std::string(c.catalogDir), std::string(960, 'e') + "/");
         EXPECT_EQ(std::string(c.tablePaths[5]), std::string(960, 'e') + "/object_detail");
       }},
      {"environment numbers only when positive", "", "", 
       {{"TEV_LOCK_TIMEOUT", "0"}, {"TEV_QA_LIMIT_WRT", "-5"}, {"TEV_EXPORT_BUF_SIZE", "77"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.lockTimeout, 300);
         EXPECT_EQ(c.writeLimit, 0);
         EXPECT_EQ(c.exportBufSize, 77);
       }},
      {"lock time-out taken", "", "", {{"TEV_LOCK_TIMEOUT", "45"}},
       [](const TevConfig& c, const ConfigEnv&) { EXPECT_EQ(c.lockTimeout, 45); }},
      {"pool names cut to 23", "TEV_DBS_POOL ABCDEFGHIJKLMNOPQRSTUVWX\n",
       "TEV_LOG_POOL short\nTEV_EXT_POOL = x y\n", {},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_STREQ(c.dbsPoolName, "ABCDEFGHIJKLMNOPQRSTUVW");
         EXPECT_STREQ(c.logPoolName, "short");
         EXPECT_STREQ(c.extPoolName, "x y");
       }},
      {"transfer buffer bounds: 0 refused", "", "BAR_XFER_BUF_SIZE 0\n", {},
       [](const TevConfig& c, const ConfigEnv&) { EXPECT_EQ(c.xferBufSize, 128); }},
      {"transfer buffer bounds: too large refused", "BAR_XFER_BUF_SIZE 64\n",
       "BAR_XFER_BUF_SIZE 4194304\n", {},
       [](const TevConfig& c, const ConfigEnv&) { EXPECT_EQ(c.xferBufSize, 64); }},
      {"transfer buffer bounds: largest taken", "", "BAR_XFER_BUF_SIZE 4194303\n", {},
       [](const TevConfig& c, const ConfigEnv&) { EXPECT_EQ(c.xferBufSize, 4194303); }},
      {"BAR keys of the environment set no flag", "", "",
       {{"BAR_DEBUG", "2"}, {"BAR_DEBUG_LOG", "@b.log"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.setFlags, 0);
         EXPECT_EQ(c.debugLevel, 2);
       }},
      {"file names from ZUCONFIG and TEV_CONFIG", "", "",
       {{"ZUCONFIG", "srv.cfg"}, {"TEV_CONFIG", "sm.cfg"}},
       [](const TevConfig& c, const ConfigEnv& e) {
         EXPECT_STREQ(c.serverConfigPath, Dir(e, "etc/srv.cfg").c_str());
         EXPECT_STREQ(c.smConfigPath, Dir(e, "etc/sm.cfg").c_str());
       }},
      // The line reader takes 2047 bytes at a time: the rest, read as a
      // line of its own, would set TEV_DEBUG.
      {"rest of an over-long line is no key", "",
       "ROOTFILEDIR /" + std::string(2047 - 13, 'r') + "TEV_DEBUG 5\nTEV_ACT_LOG /" +
           std::string(1100, 'p') + "\n",
       {{"TEV_DEBUG_LOG", "@d.log"}},
       [](const TevConfig& c, const ConfigEnv&) {
         EXPECT_EQ(c.debugLevel, 0);
         EXPECT_EQ(c.setFlags & CFG_SET_TEV_DEBUG, 0);
         EXPECT_EQ(std::strlen(c.rootFileDir), 1024u);
         EXPECT_EQ(std::strlen(c.actLogPath), 1024u);  // cut to the field
       }},
  };
}

// "@name" in a value stands for a file of the temporary installation.
std::string Resolve(const ConfigEnv& e, const std::string& v) {
  return !v.empty() && v[0] == '@' ? e.install().Path(v.substr(1)) : v;
}

TEST(Config, PrecedenceAndValues) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ConfigEnv e;
    std::string server = c.server, sm = c.sm;
    for (std::string* text : {&server, &sm}) {
      for (size_t at; (at = text->find('@')) != std::string::npos;) {
        size_t end = text->find('\n', at);
        text->replace(at, end - at, Resolve(e, text->substr(at, end - at)));
      }
    }
    std::string server_name = "zuconfig", sm_name = "tevconfig";
    for (const auto& [k, v] : c.env) {
      if (v == kUnset) {
        unsetenv(k.c_str());
        continue;
      }
      e.Set(k, Resolve(e, v));
      if (k == "ZUCONFIG") server_name = v;
      if (k == "TEV_CONFIG") sm_name = v;
    }
    if (!server.empty()) e.install().WriteFile("etc/" + server_name, server);
    if (!sm.empty()) e.install().WriteFile("etc/" + sm_name, sm);
    ASSERT_EQ(zarLoadConfig(0), 0);
    const TevConfig* cfg = zarGetConfig();
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->loaded, 1);
    c.check(*cfg, e);
  }
}

TEST(Config, LoadRefusals) {
  {
    ConfigEnv e;
    unsetenv("ZIVEVODAREVEZO");
    EXPECT_EQ(zarLoadConfig(0), 4);
  }
  {
    ConfigEnv e;
    unsetenv("TARVELONDIR");
    EXPECT_EQ(zarLoadConfig(0), 88131);
    EXPECT_EQ(zarGetConfig(), nullptr);
  }
  {
    ConfigEnv e;
    e.Set("TARVELONDIR", "/" + std::string(955, 'i'));  // no room for the table paths
    EXPECT_EQ(zarLoadConfig(0), 88131);
  }
}

TEST(Config, GlUseGluKeepsTheLocaleFromMakingTheGlueRecord) {
  // The flag is process-wide and stays set: the cases that leave it clear
  // come first.
  const uint32_t& flags = rgllocstate()->flags;
  ASSERT_EQ(flags & RGL_FLAG_NO_GLU, 0u);
  for (const auto& [value, interactive] : std::vector<std::pair<const char*, int>>{
           {nullptr, 0}, {"0", 0}, {"-1", 0}, {"abc", 0}, {"1", 1}}) {
    ConfigEnv e;
    if (value != nullptr) e.Set("GL_USEGLU", value);
    zarLoadConfig(interactive);
    EXPECT_EQ(flags & RGL_FLAG_NO_GLU, 0u) << (value ? value : "unset") << ' ' << interactive;
  }
  ConfigEnv e;
  e.Set("GL_USEGLU", "2");
  zarLoadConfig(0);
  EXPECT_EQ(flags & RGL_FLAG_NO_GLU, static_cast<uint32_t>(RGL_FLAG_NO_GLU));
}

TEST(Config, KeyMatchAndExpand) {
  struct Match {
    const char* line;
    int matched;
    const char* value;
  } matches[] = {
      {"TEV_DEBUG 5", 1, "5"},      {"TEV_DEBUG=5", 1, "5"},   {"TEV_DEBUG = 5", 1, "5"},
      {" \tTEV_DEBUG\t=\t5", 1, "5"}, {"TEV_DEBUG==5", 1, "=5"}, {"TEV_DEBUG5", 0, nullptr},
      {"TEV_DEBUG_LOG x", 0, nullptr}, {"tev_debug 5", 0, nullptr}, {"TEV_DEBUG", 0, nullptr},
  };
  for (const Match& m : matches) {
    std::string line = m.line;
    char* cursor = line.data();
    EXPECT_EQ(zarConfigKeyMatch(&cursor, "TEV_DEBUG", 9), m.matched) << m.line;
    if (m.matched) {
      EXPECT_STREQ(cursor, m.value) << m.line;
    } else {
      EXPECT_EQ(cursor, line.data());
    }
  }

  ConfigEnv e;
  e.Set("TARVELONDIR", "/opt/tv");
  char buf[256];
  struct Expand {
    const char* in;
    int rc;
    const char* out;
  } expands[] = {
      {"$TARVELONDIR/log/a", 0, "/opt/tv/log/a"},
      {"$TARVELONDIR\\a", 0, "/opt/tv/a"},
      {"$TARVELONDIR", -210, "$TARVELONDIR"},
      {"$TARVELONDIRX/a", -210, "$TARVELONDIRX/a"},
      {"$HOME/a", -210, "$HOME/a"},
  };
  for (const Expand& x : expands) {
    std::snprintf(buf, sizeof buf, "%s", x.in);
    EXPECT_EQ(zarConfigExpandDir(buf), x.rc) << x.in;
    EXPECT_STREQ(buf, x.out);
  }
  // 7 + 119 + 2 = 128 fits; one more does not.
  std::string fits = "$TARVELONDIR/" + std::string(119, 'a');
  std::snprintf(buf, sizeof buf, "%s", fits.c_str());
  EXPECT_EQ(zarConfigExpandDir(buf), 0);
  EXPECT_EQ(std::string(buf), "/opt/tv/" + std::string(119, 'a'));
  std::string too_long = fits + "a";
  std::snprintf(buf, sizeof buf, "%s", too_long.c_str());
  EXPECT_EQ(zarConfigExpandDir(buf), -210);
  unsetenv("TARVELONDIR");
  std::snprintf(buf, sizeof buf, "$TARVELONDIR/a");
  EXPECT_EQ(zarConfigExpandDir(buf), -3);
}

// Built-in pool names resolve without a catalog (added pools are resolved
// against a real catalog in the catalog tests).
TEST(Config, PoolsFromConfig) {
  ConfigEnv e;
  e.install().WriteFile("etc/tevconfig", "TEV_DBS_POOL EXTPOOL\nTEV_LOG_POOL LOGPOOL\n");
  ASSERT_EQ(zarLoadConfig(0), 0);
  TevConfig* cfg = zarGetConfig();
  EXPECT_EQ(zarLoadPoolsFromConfig(nullptr, cfg), 0);
  EXPECT_EQ(cfg->dbsPoolId, 3);
  EXPECT_EQ(cfg->logPoolId, 2);
}

// With no configuration file and nothing in the environment beyond the
// installation directory, both logs take their default paths in /tmp, and
// no debug log is opened. The load runs in a child with a /tmp of its own
// (a private mount namespace), so the default activity log it opens is
// checked there and never touches the machine's /tmp.
TEST(Config, DefaultLogPathsWhenNothingSetsThem) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /tmp";
  ConfigEnv e;
  unsetenv("BAR_ACT_LOG");
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(pipefd[0]);
    std::string report;
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", 0, "size=1m") != 0) {
      _exit(77);
    }
    int rc = zarLoadConfig(0);
    const TevConfig* c = zarGetConfig();
    struct stat sb;
    report = "rc=" + std::to_string(rc);
    if (c != nullptr) {
      report += " act=" + std::string(c->actLogPath) + " debug=" + std::string(c->debugLogPath) +
                " level=" + std::to_string(c->debugLevel) + " handle=" +
                std::to_string(c->debugHandle) + " flags=" + std::to_string(c->setFlags);
    }
    report += std::string(" actfile=") + (stat("/tmp/bar_act.log", &sb) == 0 ? "yes" : "no");
    report += std::string(" dbgfile=") + (stat("/tmp/bar_dbug.log", &sb) == 0 ? "yes" : "no");
    ssize_t n = write(pipefd[1], report.data(), report.size());
    _exit(n == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(pipefd[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(got,
            "rc=0 act=/tmp/bar_act.log debug=/tmp/bar_dbug.log level=0 handle=-1 flags=0 "
            "actfile=yes dbgfile=no");
}

}  // namespace
