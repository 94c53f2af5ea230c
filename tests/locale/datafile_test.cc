// The data-file search: GL_PATH, the installation tree, absolute names and
// the TARVELONDIR limit, with their debug lines and error numbers.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_datafile.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"
#include "tests/support/test_support.h"

namespace {

struct Obj {
  int32_t error = 0;
};

class DataFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The log switches are read at the first message of the process.
    setenv("LXRDEBUG", "on", 1);
    unsetenv("LXRLOG");
  }
  void SetUp() override {
    unsetenv("GL_PATH");
    setenv("TARVELONDIR", dir_.path().c_str(), 1);
    dir_.WriteFile("lxr/lc11/default.lco", "v11");
    dir_.WriteFile("lxr/lc/only.lco", "plain");
    dir_.WriteFile("lxr/etc/locmap", "map");
    dir_.WriteFile("a/x.lco", "a");
    dir_.WriteFile("b/x.lco", "b");
    dir_.WriteFile("b/y.lco", "by");
  }
  void TearDown() override {
    unsetenv("GL_PATH");
    unsetenv("TARVELONDIR");
  }

  // Runs one search, returning the file's text ("" when none), the
  // reported directory and the debug lines.
  struct Result {
    std::string content, dir, log;
    int32_t error;
  };
  Result Search(const std::string &name, const char *kind, const char *version,
                int32_t start_error = 0) {
    Obj o;
    o.error = start_error;
    char *dir = nullptr;
    testing::internal::CaptureStdout();
    GlFile *f = _gl_open_locale_file(&o, name.c_str(), &dir, kind, version, &_gl_hook_file_ops);
    fflush(stdout);
    Result r;
    r.log = testing::internal::GetCapturedStdout();
    if (f != nullptr) {
      char buf[64] = {0};
      size_t n = fread(buf, 1, sizeof buf - 1, static_cast<FILE *>(f));
      r.content.assign(buf, n);
      _gl_ext_fclose(f);
    }
    if (dir != nullptr) r.dir = dir;
    _gl_free(dir);
    r.error = o.error;
    return r;
  }
  std::string P(const std::string &rel) { return dir_.Path(rel); }

  tevtest::TempInstall dir_;
};

TEST_F(DataFileTest, InstallationTreeVersionedThenPlain) {
  Result r = Search("default.lco", "lc", "11", 5);
  EXPECT_EQ("v11", r.content);
  EXPECT_EQ(dir_.path() + "/lxr/lc11", r.dir);
  EXPECT_EQ("LXR: Opened: " + dir_.path() + "/lxr/lc11/default.lco\n", r.log);
  EXPECT_EQ(5, r.error);  // a successful search leaves the number as it was

  r = Search("only.lco", "lc", "11");
  EXPECT_EQ("plain", r.content);
  EXPECT_EQ(0, r.error);  // no 8 left over from the versioned attempt
  EXPECT_EQ(dir_.path() + "/lxr/lc", r.dir);
  EXPECT_EQ("LXR: Could not open: " + dir_.path() + "/lxr/lc11/only.lco\n" +
                "LXR: Opened: " + dir_.path() + "/lxr/lc/only.lco\n",
            r.log);

  r = Search("locmap", "etc", nullptr);
  EXPECT_EQ("map", r.content);
  EXPECT_EQ("LXR: Opened: " + dir_.path() + "/lxr/etc/locmap\n", r.log);

  r = Search("missing.lco", "lc", "");
  EXPECT_EQ("", r.content);
  EXPECT_EQ(GL_ENOFILE, r.error);
  EXPECT_EQ("LXR: Could not open: " + dir_.path() + "/lxr/lc/missing.lco\n", r.log);
}

TEST_F(DataFileTest, DefaultInstallationDirectory) {
  unsetenv("TARVELONDIR");
  Result r = Search("default.lco", "lc", "11");
  EXPECT_EQ("LXR: Could not open: /usr/tarvelon//lxr/lc11/default.lco\n"
            "LXR: Could not open: /usr/tarvelon//lxr/lc/default.lco\n",
            r.log);
  EXPECT_EQ(GL_ENOFILE, r.error);
  setenv("TARVELONDIR", "", 1);  // empty counts as unset
  EXPECT_EQ(r.log, Search("default.lco", "lc", "11").log);
}

TEST_F(DataFileTest, GlPathEntriesInOrder) {
  setenv("GL_PATH", (P("a") + ";;" + P("b")).c_str(), 1);
  Result r = Search("x.lco", "lc", "11");
  EXPECT_EQ("a", r.content);
  EXPECT_EQ(P("a"), r.dir);
  r = Search("y.lco", "lc", "11", 6);
  EXPECT_EQ("by", r.content);
  EXPECT_EQ(6, r.error);
  EXPECT_EQ("LXR: Could not open: " + P("a") + "/y.lco\nLXR: Opened: " + P("b") + "/y.lco\n", r.log);
  r = Search("z.lco", "lc", "11");
  EXPECT_EQ(GL_ENOFILE, r.error);
  EXPECT_EQ(P("b"), r.dir);

  // Only separators: nothing is tried and the number stays.
  setenv("GL_PATH", ";;;", 1);
  r = Search("x.lco", "lc", "11", 6);
  EXPECT_EQ("", r.content);
  EXPECT_EQ("", r.log);
  EXPECT_EQ(6, r.error);

  // Empty: the installation tree.
  setenv("GL_PATH", "", 1);
  EXPECT_EQ("v11", Search("default.lco", "lc", "11").content);
}

TEST_F(DataFileTest, AbsoluteAndMarkedNames) {
  setenv("GL_PATH", P("a").c_str(), 1);
  Result r = Search(P("b/y.lco"), "lc", "11");
  EXPECT_EQ("by", r.content);
  EXPECT_EQ("/", r.dir);
  // Drive-letter forms are absolute too; c:x.lco is searched.
  r = Search("c:/nowhere/x.lco", "lc", "11");
  EXPECT_EQ("LXR: Could not open: c:/nowhere/x.lco\n", r.log);
  r = Search("c:x.lco", "lc", "11");
  EXPECT_EQ("LXR: Could not open: " + P("a") + "/c:x.lco\n", r.log);

  // 0xFF stands for the separator; one attempt, no directory.
  std::string marked = P("b") + "\xFF" + "y.lco";
  r = Search(marked, "lc", "11");
  EXPECT_EQ("by", r.content);
  EXPECT_EQ("", r.dir);
}

TEST_F(DataFileTest, InstallDirLongerThan256FailsEverySearch) {
  std::string d256(256, 'd');
  setenv("TARVELONDIR", d256.c_str(), 1);
  EXPECT_EQ(GL_ENOFILE, Search("default.lco", "lc", "11").error);  // not refused: just absent
  EXPECT_NE(std::string::npos, Search("default.lco", "lc", "11").log.find("Could not open"));

  setenv("TARVELONDIR", (d256 + "d").c_str(), 1);
  setenv("GL_PATH", P("b").c_str(), 1);
  for (std::string name : {std::string("y.lco"), P("b/y.lco")}) {
    Result r = Search(name, "lc", "11");
    EXPECT_EQ("", r.content) << name;
    EXPECT_EQ(GL_ENOFILE, r.error);
    EXPECT_EQ("LXR: Environment variable TARVELONDIR cannot be greater than 256 characters\n", r.log);
  }
}

TEST_F(DataFileTest, FindDirAndRuntimeSet) {
  Obj o;
  testing::internal::CaptureStdout();
  char *d = _gl_find_data_dir(&o, "locmap", "etc", nullptr);
  char *none = _gl_find_data_dir(&o, "nothing", "etc", nullptr);
  GlFile *f = _gl_open_data_file_rt(&o, "default.lco", "lc", "11");
  char *rt = _gl_find_data_dir_rt(&o, "default.lco", "lc", "11");
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(dir_.path() + "/lxr/etc", std::string(d));
  _gl_free(d);
  EXPECT_EQ(nullptr, none);
  ASSERT_NE(nullptr, f);
  fclose(static_cast<FILE *>(f));
  ASSERT_NE(nullptr, rt);
  free(rt);
}

}  // namespace
