#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace tevtest {
namespace {

TEST(RunProgram, CapturesExitOutputAndCleanEnvironment) {
  RunOptions opt;
  opt.env = {{"ONLY", "this"}};
  opt.stdin_data = "fed\n";
  RunResult r = RunProgram("/bin/sh", {"-c", "env; cat; echo oops >&2; exit 3"}, opt);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.out.find("ONLY=this\n"), std::string::npos);
  EXPECT_EQ(r.out.find("PATH="), std::string::npos);
  EXPECT_NE(r.out.find("fed\n"), std::string::npos);
  EXPECT_EQ(r.err, "oops\n");
}

TEST(RunProgram, ReportsSignalAndTimeout) {
  RunOptions opt;
  opt.timeout_seconds = 1;
  RunResult r = RunProgram("/bin/sleep", {"30"}, opt);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_EQ(r.signal, 9);
}

TEST(TempInstall, LaysOutAndRemovesTree) {
  std::string where;
  {
    TempInstall t;
    where = t.path();
    EXPECT_TRUE(t.Exists("etc"));
    t.WriteFile("etc/sub/x.rc", "A=1\n");
    EXPECT_EQ(t.ReadFile("etc/sub/x.rc"), "A=1\n");
  }
  EXPECT_EQ(ReadFile(where + "/etc/sub/x.rc"), "");
}

}  // namespace
}  // namespace tevtest
