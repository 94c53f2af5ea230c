// Long, short and per-category locale specifications: the composite test,
// the long form of a short specification, the short specification and one
// category of a long form, and a file-name form turned back into a
// specification when its six files exist.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_lc_longspec.h"
#include "locale/core/gl_registry.h"
#include "tests/support/test_support.h"

namespace {

struct Obj {
  int32_t error = 0;
};

constexpr int32_t kUntouched = 99;

const char kRegistry[] =
    "8859-1 819\n"
    "latin-1 819\n"
    "utf8 57372\n"
    "sjis 57350\n"
    "aaaaaaaaaaaaaaaaaaaaa 1234\n";

// Six groups in the long form's order, each with its own value.
std::string Long(const std::string &ctype, const std::string &collate, const std::string &numeric,
                 const std::string &monetary, const std::string &time, const std::string &msg) {
  return "GL_CTYPE = " + ctype + " ; GL_COLLATE = " + collate + " ; GL_NUMERIC = " + numeric +
         " ; GL_MONETARY = " + monetary + " ; GL_TIME = " + time + " ; GL_MESSAGES = " + msg;
}
std::string Long(const std::string &all) { return Long(all, all, all, all, all, all); }

class LcLongSpecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gl_free_registry_cache();
    dir_.WriteFile("registry", kRegistry);
    reg_ = dir_.Path("registry");
  }
  void TearDown() override { gl_free_registry_cache(); }
  const char *reg() const { return reg_.c_str(); }

  tevtest::TempInstall dir_;
  std::string reg_;
};

// Expected result: 0 with the output, -1 with an error (kUntouched: the
// error number stays as it was).
struct Case {
  std::string in;
  int32_t rc;
  int32_t error;
  std::string out;
};

void Check(const Case &c, int32_t rc, const Obj &o, const char *out) {
  SCOPED_TRACE(c.in.substr(0, 60));
  EXPECT_EQ(c.rc, rc);
  if (c.rc == 0) {
    EXPECT_EQ(c.out, out);
  } else {
    EXPECT_EQ(c.error, o.error);
  }
}

TEST_F(LcLongSpecTest, IsLcSpec) {
  const Case cases[] = {
      {"GL_CTYPE = en_us", 0, 0, ""},
      {"GL_CTYPE = en_us ; ", 0, 0, ""},
      {"GL_TIME = fr_fr.8859-1@euro ; GL_CTYPE = en_us.8859-1", 0, 0, ""},
      {Long("en_us.whatever"), 0, 0, ""},  // no registry look-up
      {"en_us.8859-1", -1, 7, ""},
      {"GL_CTYPE = ger_de.8859-1", -1, 7, ""},
      {"GL_CTYPE = en_us;8859-1", -1, 7, ""},
      {"GL_CTYPE = en_us.8859-1;", -1, 7, ""},
      {"GL_CTYPE = en_us.8859-1@eu;", -1, 7, ""},
      {"GL_CTYPE = en_us#", -1, 7, ""},
      {"GL_CTYPE = en_us.8859-1  ", -1, 7, ""},
      {"GL_CTYPE = en_us ; GL_CTYPE = en_us", -1, 7, ""},
      {"GL_CTYPE = en_us ; junk", -1, 7, ""},
      {"GL_CTYPE=en_us", -1, 7, ""},
      {"GL_CTYPE = 1n_us", -1, kUntouched, ""},
      {"GL_CTYPE = en_u1", -1, kUntouched, ""},
      {"", -1, 7, ""},
      {"GL_CTYPE = en_us" + std::string(270, 'x'), -1, 7, ""},  // over 285 characters
  };
  for (const Case &c : cases) {
    Obj o{kUntouched};
    Check(c, gl_is_lc_spec(&o, c.in.c_str()), o, "");
  }
  Obj o;
  EXPECT_EQ(-1, gl_is_lc_spec(&o, nullptr));
  EXPECT_EQ(7, o.error);
}

TEST_F(LcLongSpecTest, ShortToLong) {
  const Case cases[] = {
      {"EN_US", 0, 0, Long("en_us")},
      {"en_us.8859-1", 0, 0, Long("en_us.8859-1")},
      {"De_De.UTF8@Euro", 0, 0, Long("de_de.utf8@euro")},
      {"en_us.8859-1 ; anything", 0, 0, Long("en_us.8859-1")},
      {"en_us@euro", -1, 7, ""},
      {"en_us.", -1, 7, ""},
      {"en_us.#1", -1, 7, ""},
      {"en_us;", -1, 7, ""},
      {"en_us ", -1, 7, ""},
      {"en-us", -1, 7, ""},
      {"1n_us", -1, 7, ""},
      {"ger_de.8859-1", -1, 7, ""},
      {"en_us.8859-1;", -1, 7, ""},
      {"en_us.nosuchset", -1, 7, ""},             // the registry's error
      {"en_us." + std::string(22, 'a'), -1, 7, ""},  // a code-set name over 21
      {"", -1, 7, ""},
  };
  for (const Case &c : cases) {
    Obj o{kUntouched};
    char out[400] = "untouched";
    Check(c, gl_lc_short2lc_long(&o, c.in.c_str(), out, reg()), o, out);
  }
  // A value of 33 characters fits; the long form of it does not (over 285).
  Obj o;
  char out[400];
  std::string value = "en_us." + std::string(21, 'a') + "@abcde";
  EXPECT_EQ(-1, gl_lc_short2lc_long(&o, value.c_str(), out, reg()));
  EXPECT_EQ(7, o.error);
  // A null output.
  EXPECT_EQ(-1, gl_lc_short2lc_long(&o, "en_us", nullptr, reg()));
  EXPECT_EQ(7, o.error);
}

TEST_F(LcLongSpecTest, LongToShort) {
  const std::string mixed =
      Long("EN_us.8859-1@Euro", "en_US.8859-1@EURO", "en_US.8859-1@EURO", "en_US.8859-1@EURO",
           "en_US.8859-1@EURO", "en_US.8859-1@EURO");
  const Case cases[] = {
      {mixed, 0, 0, "en_us.8859-1@euro"},
      {Long("en_us"), 0, 0, "en_us"},
      {Long("en_us") + " ; ", 0, 0, "en_us"},
      {Long("en_us.utf8"), 0, 0, "en_us.utf8"},
      // Groups in any order, found by their keywords.
      {"GL_MESSAGES = en_us.8859-1 ; GL_TIME = en_us.8859-1 ; GL_CTYPE = en_us.8859-1 ; "
       "GL_NUMERIC = en_us.8859-1 ; GL_MONETARY = en_us.8859-1 ; GL_COLLATE = en_us.8859-1",
       0, 0, "en_us.8859-1"},
      {Long("en_us.8859-1", "en_us.latin-1", "en_us.8859-1", "en_us.8859-1", "en_us.8859-1",
            "en_us.8859-1"),
       -1, 7, ""},  // one code set, two names
      {Long("en_us.8859-1", "fr_fr.8859-1", "en_us.8859-1", "en_us.8859-1", "en_us.8859-1",
            "en_us.8859-1"),
       -1, 7, ""},
      {Long("en_us.8859-1@euro", "en_us.8859-1", "en_us.8859-1@euro", "en_us.8859-1@euro",
            "en_us.8859-1@euro", "en_us.8859-1@euro"),
       -1, 7, ""},
      {Long("en_us", "en_us.8859-1", "en_us", "en_us", "en_us", "en_us"), -1, 7, ""},
      {Long("en_us.8859-1;"), -1, 7, ""},
      {Long("1n_us"), -1, kUntouched, ""},
      {"GL_CTYPE = en_us.8859-1 ; GL_COLLATE = en_us.8859-1", -1, 7, ""},  // four missing
      {"", -1, 7, ""},
  };
  for (const Case &c : cases) {
    Obj o{kUntouched};
    char out[64] = "untouched";
    Check(c, gl_lc_spec2lc_short(&o, c.in.c_str(), out, reg()), o, out);
  }
  // The value is written before the code-set look-up fails.
  Obj o;
  char out[64] = "untouched";
  EXPECT_EQ(-1, gl_lc_spec2lc_short(&o, Long("en_us.nosuchset").c_str(), out, reg()));
  EXPECT_STREQ("en_us.nosuchset", out);
  // Over the work area.
  EXPECT_EQ(-1, gl_lc_spec2lc_short(&o, (Long("en_us") + std::string(200, ' ')).c_str(), out,
                                    reg()));
  EXPECT_EQ(7, o.error);
}

TEST_F(LcLongSpecTest, OneCategory) {
  const std::string spec = Long("en_us.latin-1", "fr_fr.8859-1", "en_us.latin-1", "en_us.latin-1",
                                "en_us.latin-1", "de_de.8859-1@euro");
  struct {
    std::string spec;
    int32_t category, rc, error;
    std::string out;
  } cases[] = {
      {spec, 3, 0, 0, "fr_fr.8859-1"},
      {spec, 2, 0, 0, "en_us.latin-1"},
      {spec, 7, 0, 0, "de_de.8859-1@euro"},
      {spec, 9, 0, 0, "untouched"},  // no such category: nothing written
      {spec, 1, 0, 0, "untouched"},
      {Long("EN_US", "fr_fr", "en_us", "en_us", "en_us", "en_us"), 2, 0, 0, "en_us"},
      {Long("en_us", "fr_fr.8859-1", "en_us", "en_us", "en_us", "en_us"), 2, 0, 0, "en_us"},
      {Long("en_us", "fr_fr.8859-1", "en_us", "en_us", "en_us", "en_us"), 3, -1, 7, ""},
      {Long("en_us.8859-1", "ja_jp.sjis", "en_us.8859-1", "en_us.8859-1", "en_us.8859-1",
            "en_us.8859-1"),
       2, -1, 7, ""},
      {Long("en_us.8859-1", "en_us.nosuchset", "en_us.8859-1", "en_us.8859-1", "en_us.8859-1",
            "en_us.8859-1"),
       2, -1, 7, ""},  // the registry's error
      {Long("en_us.8859-1;x"), 2, -1, 7, ""},
      {Long("en_us.#"), 2, -1, 7, ""},
      {Long("en_u1"), 2, -1, kUntouched, ""},
      {"xx " + Long("en_us"), 2, -1, 7, ""},  // not beginning with a keyword
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.spec.substr(0, 60) + " " + std::to_string(c.category));
    Obj o{kUntouched};
    char out[64] = "untouched";
    EXPECT_EQ(c.rc, gl_lc_spec2category(&o, c.spec.c_str(), c.category, out, reg()));
    if (c.rc == 0) {
      EXPECT_EQ(c.out, out);
    } else {
      EXPECT_EQ(c.error, o.error);
    }
  }
  // A value over 33 characters.
  Obj o;
  char out[64];
  std::string big = "en_us.8859-1@abcd" + std::string(20, 'x');
  EXPECT_EQ(-1, gl_lc_spec2category(&o, Long(big).c_str(), 2, out, reg()));
  EXPECT_EQ(7, o.error);
}

int OpenDescriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

TEST_F(LcLongSpecTest, FileNamesBackToASpecification) {
  dir_.MakeDir("lc");
  dir_.MakeDir("lc/en_us");
  dir_.MakeDir("lc/fr_fr");
  dir_.WriteFile("lc/en_us/0333.lco", "x");
  dir_.WriteFile("lc/en_us/0333euro.lco", "x");
  dir_.WriteFile("lc/en_us/0333ab.lco", "x");
  dir_.WriteFile("lc/fr_fr/0333.lco", "x");
  const std::string lc = dir_.Path("lc");
  const std::string fspec =
      "GL_CTYPE = en_us\\0333.lco ; GL_COLLATE = en_us\\0333euro.lco ; GL_NUMERIC = "
      "en_us/0333.lco ; GL_MONETARY = EN_US\\0333.lco ; GL_TIME = en_us\\0333ab.lco ; "
      "GL_MESSAGES = fr_fr\\0333.lco";
  const std::string want =
      "GL_CTYPE = en_us.819 ; GL_COLLATE = en_us.819@euro ; GL_NUMERIC = en_us.819 ; "
      "GL_MONETARY = en_us.819 ; GL_TIME = en_us.819@ab ; GL_MESSAGES = fr_fr.819";
  Obj o;
  char out[400] = "";
  ASSERT_EQ(0, gl_lc_fname2lc_spec(&o, fspec.c_str(), out, lc.c_str())) << o.error;
  EXPECT_EQ(want, out);

  // One file missing: error 15 and no descriptor left open, with a
  // directory and through the data-file search.
  std::string missing = fspec;
  missing.replace(missing.find("fr_fr"), 5, "de_de");
  int before = OpenDescriptors();
  o.error = 0;
  EXPECT_EQ(-1, gl_lc_fname2lc_spec(&o, missing.c_str(), out, lc.c_str()));
  EXPECT_EQ(15, o.error);
  EXPECT_EQ(before, OpenDescriptors());

  dir_.MakeDir("lxr");
  dir_.MakeDir("lxr/lc11");
  dir_.MakeDir("lxr/lc11/en_us");
  dir_.MakeDir("lxr/lc11/fr_fr");
  for (const char *f : {"en_us/0333.lco", "en_us/0333euro.lco", "en_us/0333ab.lco",
                        "fr_fr/0333.lco"}) {
    dir_.WriteFile(std::string("lxr/lc11/") + f, "x");
  }
  const char *saved = getenv("TARVELONDIR");
  std::string saved_value = saved != nullptr ? saved : "";
  const char *saved_path = getenv("GL_PATH");
  std::string saved_path_value = saved_path != nullptr ? saved_path : "";
  setenv("TARVELONDIR", dir_.path().c_str(), 1);
  unsetenv("GL_PATH");
  o.error = 0;
  EXPECT_EQ(0, gl_lc_fname2lc_spec(&o, fspec.c_str(), out, nullptr)) << o.error;
  EXPECT_EQ(want, out);
  before = OpenDescriptors();
  EXPECT_EQ(-1, gl_lc_fname2lc_spec(&o, missing.c_str(), out, nullptr));
  EXPECT_EQ(15, o.error);
  EXPECT_EQ(before, OpenDescriptors());
  if (saved != nullptr) {
    setenv("TARVELONDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TARVELONDIR");
  }
  if (saved_path != nullptr) setenv("GL_PATH", saved_path_value.c_str(), 1);

  // Malformed forms.
  const Case cases[] = {
      {"", -1, 7, ""},
      {"GL_CTYPE = en_us\\0333.lco", -1, 7, ""},  // five categories missing
      {std::string(fspec).replace(fspec.find("en_us\\0333ab"), 5, "eng_us"), -1, 7, ""},
      {std::string(fspec).replace(fspec.find("fr_fr\\"), 6, "fr_fr."), -1, 7, ""},
      {std::string(fspec).replace(fspec.find("en_us\\0333ab"), 2, "1n"), -1, kUntouched, ""},
      {fspec + std::string(200, ' '), -1, 7, ""},  // over 310 characters
  };
  for (const Case &c : cases) {
    Obj e{kUntouched};
    Check(c, gl_lc_fname2lc_spec(&e, c.in.c_str(), out, lc.c_str()), e, out);
  }
  // Three-letter languages when all six have them.
  dir_.MakeDir("lc/ger_de");
  dir_.WriteFile("lc/ger_de/0333.lco", "x");
  std::string three;
  for (const char *kw : {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC", "GL_MONETARY", "GL_TIME",
                         "GL_MESSAGES"}) {
    three += (three.empty() ? "" : " ; ") + std::string(kw) + " = ger_de\\0333.lco";
  }
  ASSERT_EQ(0, gl_lc_fname2lc_spec(&o, three.c_str(), out, lc.c_str())) << o.error;
  EXPECT_EQ(0, strncmp(out, "GL_CTYPE = ger_de.819 ; GL_COLLATE = ger_de.819", 47)) << out;
}

}  // namespace
