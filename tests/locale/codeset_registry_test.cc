// The code-set registry in its three states, and CCSIDs.
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_registry.h"
#include "tests/support/test_support.h"

namespace {

struct Obj {
  int32_t error = 0;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("GL_PATH");
    setenv("TARVELONDIR", dir_.path().c_str(), 1);
    gl_free_registry_cache();
  }
  void TearDown() override {
    gl_free_registry_cache();
    unsetenv("TARVELONDIR");
  }
  std::string Write(const std::string &content, const std::string &rel = "reg") {
    dir_.WriteFile(rel, content);
    return dir_.Path(rel);
  }
  tevtest::TempInstall dir_;
};

const char kRegistry[] =
    "# code sets of this installation\n"
    "\n"
    "  Latin-1 819 # a comment after the number\n"
    "utf8\t57372 trailing words\n"
    "wrap 65537\n"
    "#utf8 1\n"
    "abcdefghijklmnopqrstu 5\n";

TEST_F(RegistryTest, CachedLookups) {
  Obj o;
  gl_cache_registry(&o, Write(kRegistry).c_str());
  EXPECT_EQ(0, o.error);
  ASSERT_NE(nullptr, _gl_registry_list);
  EXPECT_EQ(nullptr, _gl_registry_fallback);
  struct {
    const char *name;
    uint16_t number;
    int32_t error;
  } cases[] = {
      {"latin-1", 819, 0},
      {"LATIN-1", 819, 0},
      {"UTF8", 0xe01c, 0},
      {"wrap", 1, 0},                          // modulo 65536
      {"abcdefghijklmnopqrstuvwxy", 5, 0},     // the first 21 characters count
      {"819", 819, 0},                         // an unlisted all-digit name
      {"57344", 0xe000, 0},
      {"70000", 0xe000, GL_ESHORT},
      {"sjis", 0xe000, GL_ESHORT},             // not in this file: no fallback
      {"", 0xe000, GL_ESHORT},
  };
  for (auto &c : cases) {
    o.error = 0;
    EXPECT_EQ(c.number, gl_cs_name2cs_num(&o, c.name, "/ignored")) << c.name;
    EXPECT_EQ(c.error, o.error) << c.name;
  }
  // The list keeps the file's order.
  EXPECT_STREQ("latin-1", _gl_registry_list->name);
  EXPECT_STREQ("utf8", _gl_registry_list->next->name);
}

TEST_F(RegistryTest, FailedCacheFallsBackToTheBuiltInTable) {
  struct {
    std::string content;
    int32_t error;
  } cases[] = {
      {"", GL_EMISSING},             // no such file (path not written)
      {"utf8 57372", GL_EFORMAT},    // last line without its line end
      {"utf8 x\n", GL_EFORMAT},
      {"utf8\n", GL_EFORMAT},
  };
  for (auto &c : cases) {
    Obj o;
    std::string path = c.content.empty() ? dir_.Path("absent") : Write(c.content);
    gl_cache_registry(&o, path.c_str());
    EXPECT_EQ(c.error, o.error) << c.content;
    EXPECT_EQ(nullptr, _gl_registry_list);
    EXPECT_EQ(_gl_default_registry, _gl_registry_fallback);
    o.error = 0;
    EXPECT_EQ(0xe01c, gl_cs_name2cs_num(&o, "utf8", nullptr));
    EXPECT_EQ(819, gl_cs_name2cs_num(&o, "c", nullptr));
    EXPECT_EQ(0xe006, gl_cs_name2cs_num(&o, "Shift-JIS", nullptr));
    EXPECT_EQ(29709, gl_cs_name2cs_num(&o, "ccsid28709", nullptr));
    EXPECT_EQ(737, gl_cs_name2cs_num(&o, "greek", nullptr));
    EXPECT_EQ(819, gl_cs_name2cs_num(&o, "819", nullptr));
    EXPECT_EQ(0, o.error);
  }
  // A file without entries is the uncached state.
  Obj o;
  gl_cache_registry(&o, Write("# nothing\n\n").c_str());
  EXPECT_EQ(nullptr, _gl_registry_list);
  EXPECT_EQ(nullptr, _gl_registry_fallback);
}

TEST_F(RegistryTest, BuiltInTableHoldsEveryListedPair) {
  int pairs = 0;
  for (const GlRegistryPair *p = _gl_default_registry; p->name != nullptr; ++p) {
    ++pairs;
    EXPECT_LT(strlen(p->name), 22u);
    EXPECT_NE(0xe000, p->number);
  }
  EXPECT_EQ(123, pairs);
}

TEST_F(RegistryTest, UncachedLookupsScanTheFile) {
  Obj o;
  std::string path = Write(kRegistry);
  EXPECT_EQ(0xe01c, gl_cs_name2cs_num(&o, "utf8", path.c_str()));
  EXPECT_EQ(5, gl_cs_name2cs_num(&o, "ABCDEFGHIJKLMNOPQRSTU", path.c_str()));
  EXPECT_EQ(0, o.error);
  EXPECT_EQ(1234, gl_cs_name2cs_num(&o, "1234", path.c_str()));  // not listed: digits

  // The installed registry through the search.
  Write("sjis 57350\n", "lxr/cm3/registry");
  EXPECT_EQ(0xe006, gl_cs_name2cs_num(&o, "sjis", nullptr));
  gl_cache_registry(&o, nullptr);
  EXPECT_EQ(0, o.error);
  ASSERT_NE(nullptr, _gl_registry_list);
  EXPECT_EQ(0xe006, gl_cs_name2cs_num(&o, "sjis", "/no/such/file"));
  gl_free_registry_cache();

  // No file: 15, and digits are not tried.
  o.error = 0;
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(&o, "819", dir_.Path("absent").c_str()));
  EXPECT_EQ(GL_EMISSING, o.error);
  o.error = 0;
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(&o, "819", ""));
  EXPECT_EQ(GL_EMISSING, o.error);

  // Skipping the line of another name runs into the end of the file.
  o.error = 0;
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(&o, "zzz", Write("aaa 1").c_str()));
  EXPECT_EQ(GL_EFORMAT, o.error);
  o.error = 0;
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(&o, "aaa", Write("aaa 1").c_str()));
  EXPECT_EQ(GL_EFORMAT, o.error);
  // A 22-character name ends the reading: the name falls to digits (error 7).
  o.error = 0;
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(&o, "utf8", Write("abcdefghijklmnopqrstuv 1\nutf8 57372\n").c_str()));
  EXPECT_EQ(GL_ESHORT, o.error);
  // A NULL object records nothing.
  EXPECT_EQ(0xe000, gl_cs_name2cs_num(nullptr, "x", dir_.Path("absent").c_str()));
}

TEST(CcsidTest, BothDirections) {
  struct {
    uint16_t number, ccsid;
  } pairs[] = {{0xe005, 1202}, {0xe006, 943}, {0xe007, 33722}, {0xe008, 950}, {0xe00c, 949},
               {0xe00d, 1383}, {0xe01c, 1208}, {0xe01d, 874}, {0xe01f, 964}, {0xe026, 878},
               {0xe029, 1051}, {0xe02c, 848}, {0xe02f, 923}, {0xe030, 1234}};
  for (auto &p : pairs) {
    EXPECT_EQ(p.ccsid, gl_cs_nums2ccsid(nullptr, p.number)) << std::hex << p.number;
    EXPECT_EQ(p.number, gl_ccsid2cs_nums(nullptr, p.ccsid)) << p.ccsid;
  }
  EXPECT_EQ(921, gl_cs_nums2ccsid(nullptr, 0xe02e));
  EXPECT_EQ(921, gl_ccsid2cs_nums(nullptr, 921));
  EXPECT_EQ(0, gl_cs_nums2ccsid(nullptr, 0xe004));
  EXPECT_EQ(0, gl_cs_nums2ccsid(nullptr, 0xe000));
  EXPECT_EQ(819, gl_cs_nums2ccsid(nullptr, 819));
  EXPECT_EQ(0, gl_ccsid2cs_nums(nullptr, 0xe005));
  EXPECT_EQ(1200, gl_ccsid2cs_nums(nullptr, 1200));  // the other byte order's member
  EXPECT_EQ(1232, gl_ccsid2cs_nums(nullptr, 1232));
  EXPECT_EQ(819, gl_ccsid2cs_nums(nullptr, 819));
}

}  // namespace
