// Locale specifications: parsing, file names, message directories,
// conversion-object names, pieces and normal forms.
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_registry.h"
#include "tests/support/test_support.h"

namespace {

struct Obj {
  int32_t error = 0;
};

constexpr int32_t kUntouched = 99;

// A registry with a code-set name of the longest length allowed (21).
const char kRegistry[] =
    "8859-1 819\n"
    "utf8 57372\n"
    "sjis 57350\n"
    "abcdefghijklmnopqrstu 1234\n";

class LcSpecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gl_free_registry_cache();  // every look-up scans the file at reg_
    dir_.WriteFile("registry", kRegistry);
    reg_ = dir_.Path("registry");
  }
  void TearDown() override { gl_free_registry_cache(); }
  const char *reg() const { return reg_.c_str(); }

  tevtest::TempInstall dir_;
  std::string reg_;
};

const std::string kSix =
    "GL_CTYPE = en_us.8859-1 ; GL_COLLATE = fr_fr.8859-1 ; GL_TIME = de_de.8859-1@euro ; "
    "GL_MONETARY = EN_GB.8859-1 ; GL_NUMERIC = ger_de.8859-1 ; GL_MESSAGES = ja_jp.819";
const std::string kSixNorm =
    "GL_CTYPE = en_US.819 ; GL_COLLATE = fr_FR.819 ; GL_TIME = de_DE.819@euro ; "
    "GL_MONETARY = en_GB.819 ; GL_NUMERIC = ger_DE.819 ; GL_MESSAGES = ja_JP.819";

TEST(LcKeyword, ComparesTheKeywordsOwnLength) {
  struct {
    const char *text;
    int32_t number, length;
  } cases[] = {
      {"GL_CTYPE = x", 1, 8},  {"GL_CTYPEX", 1, 8},      {"GL_COLLATE", 2, 10},
      {"GL_TIME", 3, 7},       {"GL_MONETARY", 4, 11},   {"GL_NUMERIC", 5, 10},
      {"GL_MESSAGES", 6, 11},  {"gl_ctype", 0, 0},       {"GL_", 0, 0},
      {"", 0, 0},
  };
  for (const auto &c : cases) {
    int32_t len = -1;
    EXPECT_EQ(c.number, _gl_lc_category_keyword(c.text, &len)) << c.text;
    EXPECT_EQ(c.length, len) << c.text;
  }
}

TEST_F(LcSpecTest, FileNames) {
  struct {
    std::string spec;
    const char *dir;
    int32_t rc;
    std::string out;  // or the error number when rc is -1
    int32_t error;
  } cases[] = {
      {"en_us.8859-1", nullptr, 0, "en_us/0333.lco", 0},
      {"EN_us.UTF8@euro", nullptr, 0, "en_us/e01ceuro.lco", 0},
      {"ger_de.8859-1", nullptr, 0, "ger_de/0333.lco", 0},
      {"en_us.8859-1@", nullptr, 0, "en_us/0333.lco", 0},
      {"en_us.8859-1@EuR4", nullptr, 0, "en_us/0333EuR4.lco", 0},
      {"en_us.abcdefghijklmnopqrstu", nullptr, 0, "en_us/04d2.lco", 0},
      {"en_us.8859-1", "/opt/loc", 0, "en_us/0333.lco", 0},  // no prefix for a short one
      {"GL_CTYPE = en_us.8859-1 ; GL_COLLATE = fr_fr.8859-1", nullptr, 0,
       "GL_CTYPE = en_us/0333.lco ; GL_COLLATE = fr_fr/0333.lco", 0},
      {"GL_CTYPE = en_us.8859-1 ; ", nullptr, 0, "GL_CTYPE = en_us/0333.lco ; ", 0},
      {"GL_CTYPE = en_us.8859-1 ; GL_TIME = de_de.8859-1@x", "/opt/loc", 0,
       "GL_CTYPE = /opt/loc\xFF" "en_us/0333.lco ; GL_TIME = /opt/loc\xFF" "de_de/0333x.lco", 0},
      {"GL_CTYPE = en_us.8859-1", "", 0, "GL_CTYPE = en_us/0333.lco", 0},
      {"en_us", nullptr, -1, "", GL_ESHORT},
      {"en_us.8859-1@abcde", nullptr, -1, "", GL_ESHORT},
      {"en_us.abcdefghijklmnopqrstuv", nullptr, -1, "", GL_ESHORT},
      {"en_us.#819", nullptr, -1, "", GL_ESHORT},
      {"e_us.8859-1", nullptr, -1, "", GL_ESHORT},
      {"en_usa.8859-1", nullptr, -1, "", GL_ESHORT},
      {"en_us.nosuchset", nullptr, -1, "", GL_ESHORT},
      {"en_us.8859-1 ", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1 ; GL_CTYPE = en_us.8859-1", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1 ; GL_COLLATE = ja_jp.sjis", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPE=en_us.8859-1", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPEX = en_us.8859-1", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1 ; junk", nullptr, -1, "", GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1;GL_TIME = en_us.8859-1", nullptr, -1, "", GL_ESHORT},
  };
  for (const auto &c : cases) {
    Obj o;
    char out[512] = {};
    EXPECT_EQ(c.rc, gl_lc_spec2lc_fname(&o, c.spec.c_str(), out, reg(), c.dir)) << c.spec;
    EXPECT_EQ(c.error, o.error) << c.spec;
    if (c.rc == 0) {
      EXPECT_EQ(c.out, out) << c.spec;
    }
  }
  // A null object is allowed.
  char out[64];
  EXPECT_EQ(-1, gl_lc_spec2lc_fname(nullptr, "en_us", out, reg(), nullptr));
  EXPECT_EQ(0, gl_lc_spec2lc_fname(nullptr, "en_us.utf8", out, reg(), nullptr));
}

TEST_F(LcSpecTest, OnlyTheFirst285CharactersTakePart) {
  // Six groups of exactly 285 characters: what follows them is not seen.
  const char *keywords[] = {"GL_CTYPE", "GL_COLLATE", "GL_TIME", "GL_MONETARY", "GL_NUMERIC",
                            "GL_MESSAGES"};
  std::string spec;
  for (int i = 0; i < 6; ++i) {
    spec += std::string(keywords[i]) + " = " + (i == 0 ? "aa" : "aaa") +
            "_bb.abcdefghijklmnopqrstu" + (i < 5 ? "@abcd" : "") + " ; ";
  }
  ASSERT_EQ(285u, spec.size());
  Obj o;
  char out[512];
  EXPECT_EQ(0, gl_lc_spec2lc_fname(&o, (spec + "junk").c_str(), out, reg(), nullptr));
  EXPECT_EQ(0x4d2, gl_lc_spec2cs_num(&o, (spec + "junk").c_str(), reg()));
  EXPECT_EQ(0, o.error);
  // One character less, and the junk is read.
  spec.erase(0, 1);
  spec.insert(0, "G");
  spec.erase(spec.size() - 1);
  EXPECT_EQ(-1, gl_lc_spec2lc_fname(&o, (spec + "junk").c_str(), out, reg(), nullptr));
  EXPECT_EQ(GL_ESHORT, o.error);
}

TEST_F(LcSpecTest, CodeSetNumbers) {
  struct {
    const char *spec;
    uint16_t number;
    int32_t error;
  } cases[] = {
      {"en_us.8859-1", 819, 0},
      {"utf8", 0xe01c, 0},
      {"8859-1", 819, 0},
      {"819", 819, 0},
      {"EN_us.UTF8@euro", 0xe01c, 0},
      {"GL_CTYPE = en_us.8859-1 ; ", 819, 0},
      {"GL_CTYPE = en_us.utf8 ; GL_COLLATE = fr_fr.UTF8@x ; GL_MESSAGES = ja_jp.utf8 ; ",
       0xe01c, 0},
      {"en_us", GL_CS_UNKNOWN, GL_ESHORT},
      {"en_us.8859-1 junk", GL_CS_UNKNOWN, GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1", GL_CS_UNKNOWN, GL_ESHORT},  // no final " ; "
      {"GL_CTYPE = en_us.8859-1 ; GL_CTYPE = en_us.8859-1 ; ", GL_CS_UNKNOWN, GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1 ; GL_COLLATE = ja_jp.sjis ; ", GL_CS_UNKNOWN, GL_ESHORT},
      {"GL_CTYPE = en_us.8859-1 ; junk", GL_CS_UNKNOWN, GL_ESHORT},
      {"GL_CTYPE = en_us.nosuch ; ", GL_CS_UNKNOWN, GL_ESHORT},
  };
  for (const auto &c : cases) {
    Obj o;
    EXPECT_EQ(c.number, gl_lc_spec2cs_num(&o, c.spec, reg())) << c.spec;
    EXPECT_EQ(c.error, o.error) << c.spec;
  }
}

TEST_F(LcSpecTest, RegistryErrorsBecomeSeven) {
  std::string missing = dir_.Path("no-registry");
  Obj o;
  char out[64];
  EXPECT_EQ(-1, gl_lc_spec2lc_fname(&o, "en_us.utf8", out, missing.c_str(), nullptr));
  EXPECT_EQ(GL_ESHORT, o.error);
  // A bare code-set name keeps the registry's own error.
  o.error = 0;
  EXPECT_EQ(GL_CS_UNKNOWN, gl_lc_spec2cs_num(&o, "utf8", missing.c_str()));
  EXPECT_EQ(GL_EMISSING, o.error);
  o.error = 0;
  EXPECT_EQ(GL_CS_UNKNOWN,
            gl_lc_spec2cs_num(&o, "GL_CTYPE = en_us.utf8 ; ", missing.c_str()));
  EXPECT_EQ(GL_ESHORT, o.error);
}

TEST_F(LcSpecTest, MessageDirectories) {
  struct {
    const char *spec;
    const char *dir;
    int32_t rc;
    const char *out;
    int32_t error;
  } cases[] = {
      {"en_us.8859-1", nullptr, 0, "en_us/0333", 0},
      {"en_us.8859-1@euro", nullptr, 0, "en_us/0333", 0},
      {"ger_de.utf8", nullptr, 0, "ger_de/e01c", 0},
      {"GL_CTYPE = en_us.8859-1 ; GL_MESSAGES = de_de.8859-1", nullptr, 0, "de_de/0333", 0},
      {"GL_MESSAGES = de_de.8859-1@a ; GL_CTYPE = en_us.8859-1 ; ", nullptr, 0, "de_de/0333", 0},
      // The directory prefix is not part of the name.
      {"GL_CTYPE = en_us.8859-1 ; GL_MESSAGES = de_de.8859-1", "/opt/loc", 0, "de_de/0333", 0},
      {"en_us.8859-1", "/opt/loc", 0, "en_us/0333", 0},
      {"GL_CTYPE = en_us.8859-1 ; GL_TIME = de_de.8859-1", nullptr, -1, "", GL_ESHORT},
      {"en_us", nullptr, -1, "", GL_ESHORT},
  };
  for (const auto &c : cases) {
    Obj o;
    char out[64] = {};
    EXPECT_EQ(c.rc, gl_lc_spec2msg_dname(&o, c.spec, out, reg(), c.dir)) << c.spec;
    EXPECT_EQ(c.error, o.error) << c.spec;
    if (c.rc == 0) {
      EXPECT_STREQ(c.out, out) << c.spec;
    }
  }
}

TEST_F(LcSpecTest, MessageDirectoryRefusesAnOverlongFileNameForm) {
  // Six groups, each prefixed with a 60-character directory, need more
  // than the intermediate area holds: refused, never overrun.
  std::string dir(60, 'd');
  std::string spec;
  for (const char *k : {"GL_CTYPE", "GL_COLLATE", "GL_TIME", "GL_MONETARY", "GL_NUMERIC",
                        "GL_MESSAGES"}) {
    spec += std::string(k) + " = en_us.819 ; ";
  }
  Obj o;
  char out[64];
  EXPECT_EQ(-1, gl_lc_spec2msg_dname(&o, spec.c_str(), out, reg(), dir.c_str()));
  EXPECT_EQ(GL_ENOFILE, o.error);
  // The same without a directory fits.
  o.error = 0;
  EXPECT_EQ(0, gl_lc_spec2msg_dname(&o, spec.c_str(), out, reg(), nullptr));
  EXPECT_STREQ("en_us/0333", out);
}

TEST(LcNames, ConversionObjectFileNames) {
  char out[64];
  gl_cs_nums2cv_fname(nullptr, 819, 0xe01c, out, nullptr);
  EXPECT_STREQ("0333e01c.cvo", out);
  gl_cs_nums2cv_fname(nullptr, 0xffff, 0, out, "");
  EXPECT_STREQ("ffff0000.cvo", out);
  gl_cs_nums2cv_fname(nullptr, 1, 2, out, "/d");
  EXPECT_STREQ("/d\xFF" "00010002.cvo", out);
}

TEST(LcNames, FileNamesToPieces) {
  struct {
    const char *fname;
    int32_t rc;
    const char *lt, *cs, *mod;
    int32_t error;
  } cases[] = {
      {"en_us/0333.lco", 0, "en_US", "819", "", 0},
      {"en_us\\e01ceuro.lco", 0, "en_US", "57372", "euro", 0},
      {"ger_de/0333.lco", 0, "ger_DE", "819", "", 0},
      {"EN_us/E01C", 0, "en_US", "57372", "", 0},
      {"en_us/e01cabcdef.lco", 0, "en_US", "57372", "abcd", 0},
      {"en_us/33.lco", 0, "en_US", "51", "", 0},  // a short number leaves no modifier
      {"en_us.0333", -1, "", "", "", kUntouched},
      {"en_us", -1, "", "", "", kUntouched},
      {"en_us/x333", -1, "", "", "", GL_ESHORT},
      {"e_us/0333", -1, "", "", "", GL_ESHORT},
      {"en_u/0333", -1, "", "", "", GL_ESHORT},
  };
  for (const auto &c : cases) {
    Obj o{kUntouched};
    char lt[8] = {}, cs[8] = {}, mod[8] = {};
    EXPECT_EQ(c.rc, gl_lc_fname2lc_pieces(&o, c.fname, lt, cs, mod)) << c.fname;
    if (c.rc == 0) {
      EXPECT_STREQ(c.lt, lt) << c.fname;
      EXPECT_STREQ(c.cs, cs) << c.fname;
      EXPECT_STREQ(c.mod, mod) << c.fname;
    } else {
      EXPECT_EQ(c.error, o.error) << c.fname;
    }
  }
}

TEST(LcNames, PiecesToSpecifications) {
  struct {
    const char *lt, *cs, *mod;
    int32_t rc;
    const char *out;
  } cases[] = {
      {"en_US", "819", nullptr, 0, "en_US.819"},
      {"en_US", "57372", "euro", 0, "en_US.57372@euro"},
      {"ger_DE", "819", "", 0, "ger_DE.819"},
      {"en_US.x", "819", "abcdef", 0, "en_US.819@abcd"},
      {"en_US", "123456", nullptr, 0, "en_US.12345"},
      {"en_US", "", nullptr, -1, ""},
      {"en_US", nullptr, nullptr, -1, ""},
      {"en_US", "8z9", nullptr, -1, ""},
      {"e_US", "819", nullptr, -1, ""},
  };
  for (const auto &c : cases) {
    Obj o;
    char out[32] = {};
    EXPECT_EQ(c.rc, gl_lc_pieces2lc_spec(&o, c.lt, c.cs, c.mod, out)) << c.lt;
    if (c.rc == 0) {
      EXPECT_STREQ(c.out, out) << c.lt;
    } else {
      EXPECT_EQ(GL_ESHORT, o.error) << c.lt;
    }
  }
}

TEST_F(LcSpecTest, NormalForms) {
  struct {
    std::string spec;
    int32_t rc;
    std::string out;
    int32_t error;
  } cases[] = {
      {"en_us.8859-1", 0, "en_US.819", 0},
      {"EN_us.UTF8@euro", 0, "en_US.57372@euro", 0},
      {"en_us", -1, "", GL_ESHORT},
      {kSix, 0, kSixNorm, 0},
      {kSix + " ; ", 0, kSixNorm + " ; ", 0},
      {kSix + " ; anything after", 0, kSixNorm + " ; ", 0},
      // A keyword may repeat; all six groups are read.
      {"GL_CTYPE = en_us.819 ; GL_CTYPE = en_us.819 ; GL_CTYPE = en_us.819 ; "
       "GL_CTYPE = en_us.819 ; GL_CTYPE = en_us.819 ; GL_CTYPE = fr_fr.8859-1 ; ",
       0,
       "GL_CTYPE = en_US.819 ; GL_CTYPE = en_US.819 ; GL_CTYPE = en_US.819 ; "
       "GL_CTYPE = en_US.819 ; GL_CTYPE = en_US.819 ; GL_CTYPE = fr_FR.819 ; ",
       0},
      {"GL_CTYPE = en_us.819 ; GL_COLLATE = en_us.819 ; ", -1, "", GL_ESHORT},
      // A missing " ; " after one of the first five groups leaves the
      // error number as it was.
      {"GL_CTYPE = en_us.819 ; GL_COLLATE = en_us.819", -1, "", kUntouched},
      {"GL_CTYPE = en_us.819 ; GL_COLLATE = en_us.utf8 ; ", -1, "", GL_ESHORT},
      {"GL_CTYPE = en_us ; ", -1, "", GL_ESHORT},
      {"GL_CTYPE en_us.819 ; ", -1, "", GL_ESHORT},
  };
  for (const auto &c : cases) {
    Obj o{kUntouched};
    char out[512] = {};
    EXPECT_EQ(c.rc, gl_lc_spec2lc_norm(&o, c.spec.c_str(), out, reg())) << c.spec;
    if (c.rc == 0) {
      EXPECT_EQ(c.out, out) << c.spec;
    } else {
      EXPECT_EQ(c.error, o.error) << c.spec;
    }
  }
  Obj o;
  char out[64];
  EXPECT_EQ(0, _gl_lc_short_spec2lc_short_norm(&o, "ger_de.utf8@Ab1", out, reg()));
  EXPECT_STREQ("ger_DE.57372@Ab1", out);
  EXPECT_EQ(-1, _gl_lc_short_spec2lc_short_norm(&o, "GL_CTYPE = en_us.819", out, reg()));
}

TEST_F(LcSpecTest, PieceConversionAdvancesOnlyOnSuccess) {
  const char *spec = "en_us.utf8@eu ; rest";
  const char *in = spec;
  char buf[32];
  char *out = buf;
  uint16_t cs = 0;
  ASSERT_EQ(1, _gl_lc_piece2fname(nullptr, &in, &out, &cs, reg()));
  EXPECT_EQ(spec + 13, in);
  EXPECT_EQ(std::string("en_us/e01ceu.lco"), std::string(buf, out));
  EXPECT_EQ(0xe01c, cs);

  const char *bad = "en_us.nosuch";
  in = bad;
  out = buf;
  cs = 0;
  EXPECT_EQ(0, _gl_lc_piece2fname(nullptr, &in, &out, &cs, reg()));
  EXPECT_EQ(bad, in);
  EXPECT_EQ(buf, out);
  EXPECT_EQ(GL_CS_UNKNOWN, cs);  // stored: a code-set name was read
}

}  // namespace
