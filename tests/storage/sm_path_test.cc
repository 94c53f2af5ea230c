#include "storage/command/sm_path.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "tests/support/test_support.h"

namespace {

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(SmPath, MkdirpMakesEveryLevelAndAcceptsExisting) {
  tevtest::TempInstall t;
  std::string deep = t.Path("a/b//c/");
  EXPECT_EQ(sm_mkdirp(deep.c_str(), 0), 0);
  EXPECT_TRUE(IsDir(t.Path("a/b/c")));
  EXPECT_EQ(sm_mkdirp(deep.c_str(), 0), 0);  // already there
  EXPECT_EQ(sm_mkdirp(t.path().c_str(), 0), 0);
}

TEST(SmPath, MkdirpRefusesPlainFileInTheWay) {
  tevtest::TempInstall t;
  t.WriteFile("plain", "x");
  EXPECT_EQ(sm_mkdirp(t.Path("plain").c_str(), 0), -1);
  EXPECT_EQ(sm_mkdirp(t.Path("plain/sub").c_str(), 0), -1);
  EXPECT_EQ(sm_mkdirp("", 0), -1);
  EXPECT_EQ(sm_mkdirp("/proc/no/such/place", 0), -1);
}

TEST(SmPath, Dirname) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a/b/c", "a/b"}, {"a/b/", "a"},  {"/x", "/"},     {"x", "."},   {"/", "/"},
      {"a/b//", "a"},   {"a//b", "a/"}, {"/usr/lib", "/usr"}, {"./f", "."}, {"", "."},
  };
  for (const Case& c : cases) {
    std::string buf = c.in;
    EXPECT_STREQ(sm_dirname(buf.data()), c.out) << c.in;
  }
  EXPECT_EQ(sm_dirname(nullptr), nullptr);
}

}  // namespace
