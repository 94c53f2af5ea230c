#include "storage/command/sm_trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/command/config.h"
#include "isam/isam.h"
#include "storage/command/trace_file.h"
#include "tests/storage/config_env.h"

namespace {

using tevtest::ConfigEnv;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// " YYYY-MM-DD HH:MM:SS pid[tid]  0 text": returns the text, or "<bad>".
std::string TextOfStampedLine(const std::string& line) {
  struct tm t {};
  if (line.size() < 21 || line[0] != ' ' || line[20] != ' ') return "<bad>";
  const char* end = strptime(line.c_str() + 1, "%Y-%m-%d %H:%M:%S", &t);
  if (end != line.c_str() + 20) return "<bad>";
  time_t stamp = mktime(&t);
  if (std::labs(static_cast<long>(stamp - time(nullptr))) > 5) return "<bad>";
  std::string prefix = std::to_string(getpid()) + "[" + std::to_string(gettid()) + "]  0 ";
  if (line.compare(21, prefix.size(), prefix) != 0) return "<bad>";
  return line.substr(21 + prefix.size());
}

// Loads the configuration with the activity log (and optionally a debug log
// at the given level) in the temporary installation; with interactive set,
// standard error goes to err.log while the logs are set up.
void Load(ConfigEnv& e, int level, bool interactive) {
  e.Set("TEV_ACT_LOG", e.install().Path("act.log"));
  e.Set("TEV_DEBUG_LOG", e.install().Path("debug.log"));
  e.Set("TEV_DEBUG", std::to_string(level));
  int saved = dup(2);
  if (interactive) {
    int err = open(e.install().Path("err.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    dup2(err, 2);
    close(err);
  }
  int rc = zarLoadConfig(interactive ? 1 : 0);
  dup2(saved, 2);
  close(saved);
  ASSERT_EQ(rc, 0);
}

TEST(Trace, ActivityLogLayoutAndKinds) {
  ConfigEnv e;
  Load(e, 0, true);
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "only the log %d", 1);
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", "path 100%d\\x");
  errno = ENOENT;
  iserrno = 111;
  SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_ISAM, "isam failed  \t");
  errno = EACCES;
  iserrno = 0;
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_OS, "os failed\n");

  std::vector<std::string> act = Lines(e.install().ReadFile("act.log"));
  ASSERT_EQ(act.size(), 8u) << e.install().ReadFile("act.log");
  EXPECT_EQ(TextOfStampedLine(act[0]), "The configuration is loaded.");
  EXPECT_EQ(TextOfStampedLine(act[1]), "only the log 1");
  EXPECT_EQ(TextOfStampedLine(act[2]), "path 100%d\\x");
  EXPECT_EQ(TextOfStampedLine(act[3]), "isam failed");
  EXPECT_EQ(act[4], " \t\t\t\t  ISAM Error = 111.");
  EXPECT_EQ(act[5], " \t\t\t\t  OS Error = 2 (No such file or directory).");
  EXPECT_EQ(TextOfStampedLine(act[6]), "os failed");
  EXPECT_EQ(act[7], " \t\t\t\t  OS Error = 13 (Permission denied).");

  // Standard error gets destinations other than 256, without time or prefix.
  EXPECT_EQ(e.install().ReadFile("err.log"),
            " path 100%d\\x\n isam failed\n \t\t\t\t  ISAM Error = 111.\n"
            " \t\t\t\t  OS Error = 2 (No such file or directory).\n");
  EXPECT_FALSE(e.install().Exists("debug.log"));
}

TEST(Trace, DebugLogThreshold) {
  {
    ConfigEnv e;
    Load(e, 0, false);
    SM_TRACE(2048, "never");
    EXPECT_EQ(zarGetConfig()->debugHandle, -1);
    EXPECT_FALSE(e.install().Exists("debug.log"));
  }
  {
    ConfigEnv e;
    Load(e, 3, false);  // threshold 135
    for (int level : {129, 134, 135, 136, 137}) SM_TRACE(level, "level %d", level);
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "act");  // also traced at 136
    std::vector<std::string> dbg = Lines(e.install().ReadFile("debug.log"));
    ASSERT_EQ(dbg.size(), 5u) << e.install().ReadFile("debug.log");
    // The configuration's own 87023 comes first.
    EXPECT_NE(TextOfStampedLine(dbg[0]).find("The configuration is loaded."), std::string::npos);
    std::string here = std::string(__FILE_NAME__) + ":";
    EXPECT_EQ(TextOfStampedLine(dbg[1]).rfind(here, 0), 0u) << dbg[1];
    EXPECT_NE(dbg[1].find(" level 135"), std::string::npos);
    EXPECT_NE(dbg[2].find(" level 136"), std::string::npos);
    EXPECT_NE(dbg[3].find(" level 137"), std::string::npos);
    EXPECT_NE(dbg[4].find(" act"), std::string::npos);
    EXPECT_EQ(sm_get_debug_level(), 3);
    EXPECT_EQ(sm_get_debug_handle(), zarGetConfig()->debugHandle);
  }
  {
    ConfigEnv e;
    Load(e, 9, false);
    SM_TRACE(129, "bytes");
    std::string dbg = e.install().ReadFile("debug.log");
    EXPECT_NE(dbg.find(" bytes\n"), std::string::npos) << dbg;
  }
}

TEST(Trace, MessageFormsAndLineEnds) {
  ConfigEnv e;
  std::string path = e.install().Path("t.log");
  int64_t h;
  ASSERT_EQ(open_trace_file(path.c_str(), 10, &h, "TAG", 0), 0);
  ASSERT_GE(h, 3);
  char arg1[] = "first\n\n";
  const char* arg2 = "second";
  trace_message(h, 10, 0, "copy %1 to %2 (100%%) done", arg1, arg2);
  EXPECT_STREQ(arg1, "first\n\n");  // the caller's text stays as it was
  trace_message(h, 10, 0, "%2-%1-%2", "a", "b");
  trace_message(h, 10, 0, "%1 then %9", "x", nullptr, nullptr, nullptr, nullptr, nullptr,
                nullptr, nullptr, nullptr);
  trace_message(h, 10, 0, "%s=%d", "key", 5);
  trace_message(h, 10, 0, "blanks at end \t \t");
  trace_message(h, 10, 0, "own newline\n");
  trace_message(h, 9, 0, "below the file's level");
  trace_message(h, 10, ENOENT, "with os error");
  trace_message(-1, 10, 0, "no handle");
  trace_message(h, 10, 0, nullptr);
  set_trace_level(h, 20);
  trace_message(h, 19, 0, "level raised");
  set_trace_level(-1, 0);
  EXPECT_EQ(tevtest::ReadFile(path),
            " TAG copy first to second (100%) done\n"
            " TAG b-a-b\n"
            " TAG x then\n"
            " TAG key=5\n"
            " TAG blanks at end\n"
            " TAG own newline\n"
            " TAG with os error\n"
            "No such file or directory\n");

  // A file opened on this thread writes nothing from another.
  std::thread([h] { trace_message(h, 100, 0, "other thread"); }).join();
  EXPECT_EQ(tevtest::ReadFile(path).find("other thread"), std::string::npos);

  // A file that cannot be created: handle -1 and the errno.
  int64_t bad = 0;
  EXPECT_EQ(open_trace_file("/proc/no/such/dir/x.log", 0, &bad, nullptr, 0), ENOENT);
  EXPECT_EQ(bad, -1);
}

TEST(Trace, TimestampTexts) {
  const char* old_tz = std::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  char buf[32];
  // The full 64-bit time: past 2038 the date stays right.
  EXPECT_EQ(format_timestamp_text((int64_t{1} << 31) + 3600, buf, sizeof buf), 26);
  EXPECT_STREQ(buf, "2038-01-19 04:14:08.000000");
  EXPECT_EQ(format_timestamp_text(0, buf, 20), 0);  // no room for the fraction
  EXPECT_STREQ(buf, "1970-01-01 00:00:00");
  EXPECT_EQ(format_timestamp_text(0, buf, 10), 0);
  EXPECT_STREQ(buf, "");
  if (old_tz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
  EXPECT_EQ(get_timestamp_text(buf, sizeof buf), 26);
}

TEST(Trace, WithoutConfiguration) {
  // A failed load leaves no configuration: the accessors say so. (In a
  // child, so that the other tests keep theirs.)
  pid_t child = fork();
  if (child == 0) {
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(devnull, 2);
    unsetenv("TARVELONDIR");
    setenv("ZIVEVODAREVEZO", "tests", 1);
    bool ok = zarLoadConfig(0) == 88131 && zarGetConfig() == nullptr &&
              sm_get_debug_level() == -1 && sm_get_debug_handle() == -1;
    SM_TRACE(2048, "dropped");
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Eight processes append 20,000 lines each to one log at once; every line
// must come out whole.
TEST(Trace, ConcurrentWritersLeaveWholeLines) {
  ConfigEnv e;
  std::string path = e.install().Path("shared.log");
  constexpr int kWriters = 8;
  constexpr int kLines = 20000;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      int64_t h;
      if (open_trace_file(path.c_str(), 0, &h, "w", 0) != 0 || h < 0) _exit(2);
      for (int i = 0; i < kLines; ++i) {
        // Lengths vary so that torn writes would show.
        trace_message(h, 1, 0, "%d %d %.*s|", w, i, (i * 37 + w) % 300, std::string(300, 'a' + w).c_str());
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<int> next(kWriters, 0);
  int bad = 0;
  for (const std::string& line : Lines(tevtest::ReadFile(path))) {
    int w = -1, i = -1, used = 0;
    if (std::sscanf(line.c_str(), " w %d %d %n", &w, &i, &used) != 2 || w < 0 || w >= kWriters ||
        i != next[w] || line.substr(used) != std::string((i * 37 + w) % 300, 'a' + w) + "|") {
      if (++bad < 5) ADD_FAILURE() << "bad line: " << line.substr(0, 80);
      continue;
    }
    ++next[w];
  }
  for (int w = 0; w < kWriters; ++w) EXPECT_EQ(next[w], kLines) << "writer " << w;
  EXPECT_EQ(bad, 0);
}

}  // namespace
