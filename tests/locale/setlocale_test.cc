// Creating locales, setting their categories from names, composite names
// and the environment, and the cache of whole locales. The locale files are
// the generated ones of the build, copied into a temporary installation
// tree beside a few renamed copies.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_lc_cache.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"
#include "tests/support/test_support.h"

namespace {

using tevtest::TempInstall;

// A name of exactly 33 characters, and one a character longer.
const std::string kName33 = "abcdefghijklmnopqrstuvwxyz012.lco";
const std::string kName34 = kName33 + "X";

const char *const kEnvNames[] = {"GL_ALL",      "GL_CTYPE", "GL_COLLATE", "GL_NUMERIC",
                                 "GL_MONETARY", "GL_TIME",  "GL_MESSAGES", "GL_LANG",
                                 "GL_PATH"};

// The locale part of an installation tree: the registry, "default.lco",
// en_us in 8859-1 ("0333") and UTF-8 ("e01c"), and 8859-1 copies named
// "b.lco" and kName33.
void CopyLocaleFiles(const TempInstall &dir) {
  const std::string from = tevtest::BuildTree() + "/lxr/";
  std::string latin1 = tevtest::ReadFile(from + "lc11/en_us/0333.lco");
  ASSERT_FALSE(latin1.empty());
  dir.WriteFile("lxr/cm3/registry", tevtest::ReadFile(from + "cm3/registry"));
  dir.WriteFile("lxr/lc11/default.lco", tevtest::ReadFile(from + "lc11/default.lco"));
  dir.WriteFile("lxr/lc11/en_us/0333.lco", latin1);
  dir.WriteFile("lxr/lc11/en_us/e01c.lco", tevtest::ReadFile(from + "lc11/en_us/e01c.lco"));
  dir.WriteFile("lxr/lc11/b.lco", latin1);
  dir.WriteFile("lxr/lc11/" + kName33, latin1);
}

struct Unloader {
  void operator()(GlLocale *loc) const { gl_lc_unload(loc); }
};
using LocalePtr = std::unique_ptr<GlLocale, Unloader>;

std::string Take(char *s) {
  std::string r = s != nullptr ? s : "NULL";
  gl_destroystring(s);
  return r;
}

// The result string of category 1 with one name per category.
std::string All(const std::vector<std::string> &names) {
  static const char *const kw[] = {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC",
                                   "GL_MONETARY", "GL_TIME", "GL_MESSAGES"};
  std::string r;
  for (size_t i = 0; i < 6; ++i) r += std::string(kw[i]) + " = " + names[i] + " ; ";
  return r;
}
std::string All(const std::string &name) { return All(std::vector<std::string>(6, name)); }

class SetLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new TempInstall;
    CopyLocaleFiles(*tree_);
  }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override {
    setenv("TARVELONDIR", tree_->path().c_str(), 1);
    for (const char *v : kEnvNames) unsetenv(v);
  }
  void TearDown() override {
    for (const char *v : kEnvNames) unsetenv(v);
  }

  static LocalePtr Null() {
    GlLocale *loc = nullptr;
    EXPECT_EQ(0, gl_create_null_locale_4(&loc));
    return LocalePtr(loc);
  }
  static LocalePtr Created() {
    GlLocale *loc = nullptr;
    EXPECT_EQ(0, gl_createlocale_4(&loc)) << loc->error;
    return LocalePtr(loc);
  }

  static TempInstall *tree_;
};

TempInstall *SetLocaleTest::tree_ = nullptr;

TEST_F(SetLocaleTest, CreateLoadsTheDefaultFile) {
  LocalePtr loc = Created();
  EXPECT_EQ(0, loc->error);
  EXPECT_EQ(1, loc->single_byte);
  for (int c = 0; c < GL_NCATEGORIES; ++c) {
    EXPECT_STREQ("8859-1", loc->codesets[c]);
    EXPECT_EQ(static_cast<uint32_t>('d'), loc->wnames[c][0]);
  }
  EXPECT_EQ(All("default.lco"), Take(gl_setlocale_4(loc.get(), GL_ALL, nullptr)));
  EXPECT_EQ("default.lco", Take(gl_setlocale_4(loc.get(), GL_COLLATE, nullptr)));
  // Asking changes nothing.
  EXPECT_EQ("default.lco", Take(gl_setlocale_4(loc.get(), GL_COLLATE, nullptr)));
  for (int32_t bad : {0, 8, -1}) {
    loc->error = 0;
    EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), bad, nullptr))) << bad;
    EXPECT_EQ(GL_EBADARG, loc->error);
    loc->error = 0;
    EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), bad, "b.lco"))) << bad;
    EXPECT_EQ(GL_EBADARG, loc->error);
  }
}

TEST_F(SetLocaleTest, CreateFromDirectory) {
  // The directory is tried first and ends with its own separator.
  TempInstall own;
  std::string data = tevtest::ReadFile(tevtest::BuildTree() + "/lxr/lc11/en_us/e01c.lco");
  own.WriteFile("default.lco", data);
  GlLocale *loc = nullptr;
  ASSERT_EQ(0, gl_createlocale2_4(&loc, (own.path() + "/").c_str()));
  EXPECT_STREQ("utf8", loc->codesets[0]);
  gl_lc_unload(loc);
  // Without the file there (or without the separator) the search finds it.
  for (std::string dir : {own.path(), own.path() + "/none/", std::string()}) {
    ASSERT_EQ(0, gl_createlocale2_4(&loc, dir.c_str())) << dir;
    EXPECT_STREQ("8859-1", loc->codesets[0]) << dir;
    EXPECT_STREQ("default.lco", loc->names[5]);
    gl_lc_unload(loc);
  }
  // 116 characters are allowed, 117 are not.
  std::string longest = own.path() + "/" + std::string(114 - own.path().size(), 'd') + "/";
  ASSERT_EQ(116u, longest.size());
  ASSERT_EQ(0, gl_createlocale2_4(&loc, longest.c_str()));
  gl_lc_unload(loc);
  ASSERT_EQ(-1, gl_createlocale2_4(&loc, (longest + "e").c_str()));
  EXPECT_TRUE(_gl_is_error_locale(loc));
  EXPECT_EQ(GL_ENOFILE, loc->error);
  gl_lc_unload(loc);  // ignored

  // No default file anywhere: the static object of error 8.
  TempInstall empty;
  setenv("TARVELONDIR", empty.path().c_str(), 1);
  EXPECT_EQ(-1, gl_createlocale_4(&loc));
  EXPECT_TRUE(_gl_is_error_locale(loc));
  EXPECT_EQ(GL_ENOFILE, loc->error);
  // A broken default file: the partly loaded object is the caller's.
  empty.WriteFile("lxr/lc11/default.lco", "FILE_TYPE=locale_object\nCOMPILER_VERSION=10\n");
  EXPECT_EQ(-1, gl_createlocale_4(&loc));
  EXPECT_FALSE(_gl_is_error_locale(loc));
  EXPECT_EQ(GL_EVERSION, loc->error);
  gl_lc_unload(loc);
}

TEST_F(SetLocaleTest, NamesAndCompositeNames) {
  const std::string latin1 = "en_us/0333.lco";
  const std::string composite = All({latin1, "b.lco", latin1, "b.lco", kName33, "default.lco"});
  struct Case {
    int32_t category;
    std::string text, result;
  } cases[] = {
      {GL_ALL, latin1, All(latin1)},
      {GL_ALL, composite, composite},
      // No blanks around "=", groups in another order, other text around.
      {GL_ALL,
       "x GL_MESSAGES=b.lco GL_TIME=b.lco GL_MONETARY=b.lco GL_NUMERIC=b.lco "
       "GL_COLLATE=\tb.lco GL_CTYPE  =  b.lco",
       All("b.lco")},
      {GL_TIME, "GL_TIME=b.lco", "b.lco"},
      {GL_TIME, composite, kName33},
      {GL_COLLATE, "b.lco", "b.lco"},
      // A name is cut after 33 characters, and the cut name is the file.
      {GL_CTYPE, "GL_CTYPE = " + kName34 + " ; ", kName33},
      {GL_CTYPE, kName33, kName33},
      // "native" is the default file under its own name.
      {GL_ALL, "native", All("native")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    LocalePtr loc = Created();
    EXPECT_EQ(c.result, Take(gl_setlocale_4(loc.get(), c.category, c.text.c_str())));
    EXPECT_EQ(0, loc->error);
    if (c.category != GL_ALL) {
      EXPECT_EQ(c.result, loc->names[c.category - 2]);
      EXPECT_EQ(static_cast<uint32_t>(c.result[0]), loc->wnames[c.category - 2][0]);
    }
  }
}

TEST_F(SetLocaleTest, BadNames) {
  struct Case {
    int32_t category;
    std::string text;
    int32_t error;
  } cases[] = {
      {GL_CTYPE, "missing.lco", GL_ENOFILE},
      {GL_CTYPE, std::string(128, 'n'), GL_ENOFILE},  // no room for the name
      {GL_CTYPE, "GL_CTYPE b.lco", GL_ENOFILE},       // keyword without "="
      {GL_CTYPE, "GL_CTYPE =  ", GL_ENOFILE},         // "=" and no name
      {GL_CTYPE, std::string(312, 'n'), GL_EBADARG},
      {GL_ALL, "GL_CTYPE = " + std::string(301, 'n'), GL_EBADARG},
      // Another code set than LC_CTYPE's.
      {GL_TIME, "en_us/e01c.lco", GL_ECTYPECS},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    LocalePtr loc = Created();
    loc->error = GL_EFORMAT;  // a number left over from earlier stands for nothing
    EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), c.category, c.text.c_str())));
    EXPECT_EQ(c.error, loc->error);
    // A file that opened emptied its category before it failed; the others
    // stay as they were.
    std::vector<std::string> names(6, "default.lco");
    if (c.error == GL_ECTYPECS) names[c.category - 2] = "";
    EXPECT_EQ(All(names), Take(gl_setlocale_4(loc.get(), GL_ALL, nullptr)));
  }
  // 311 characters are accepted (and name no file).
  LocalePtr loc = Created();
  EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), GL_CTYPE, std::string(311, 'n').c_str())));
  EXPECT_EQ(GL_ENOFILE, loc->error);
}

TEST_F(SetLocaleTest, FailureLeavesEarlierCategoriesSet) {
  // Only LC_CTYPE and LC_TIME are named: LC_COLLATE takes the whole text,
  // finds no file and ends the call.
  LocalePtr loc = Null();
  EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), GL_ALL,
                                        "GL_CTYPE = en_us/0333.lco ; GL_TIME = b.lco ; ")));
  EXPECT_EQ(GL_ENOFILE, loc->error);
  EXPECT_STREQ("en_us/0333.lco", loc->names[0]);
  EXPECT_STREQ("8859-1", loc->codesets[0]);
  for (int c = 1; c < GL_NCATEGORIES; ++c) EXPECT_STREQ("", loc->names[c]) << c;

  // A UTF-8 LC_CTYPE before 8859-1 categories: LC_COLLATE fails with 58.
  loc = Created();
  EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), GL_ALL,
                                        All({"en_us/e01c.lco", "b.lco", "b.lco", "b.lco",
                                             "b.lco", "b.lco"})
                                            .c_str())));
  EXPECT_EQ(GL_ECTYPECS, loc->error);
  EXPECT_STREQ("utf8", loc->codesets[0]);
  EXPECT_STREQ("default.lco", loc->names[5]);
}

TEST_F(SetLocaleTest, RefreshFailureStillReturnsTheNames) {
  // LC_CTYPE alone changes code set: the call stands, the refresh's 12
  // stays in the locale.
  LocalePtr loc = Created();
  EXPECT_EQ("en_us/e01c.lco", Take(gl_setlocale_4(loc.get(), GL_CTYPE, "en_us/e01c.lco")));
  EXPECT_EQ(GL_ECODESET, loc->error);
  EXPECT_EQ(0, loc->single_byte);
  // Setting the rest to UTF-8 mends it.
  EXPECT_EQ(All("en_us/e01c.lco"), Take(gl_setlocale_4(loc.get(), GL_ALL, "en_us/e01c.lco")));
  EXPECT_EQ(0, loc->error);
}

TEST_F(SetLocaleTest, EnvironmentChoosesNamesOfAnEmptyText) {
  struct Case {
    std::vector<std::pair<const char *, std::string>> env;
    std::vector<std::string> names;
  } cases[] = {
      {{}, std::vector<std::string>(6, "default.lco")},
      {{{"GL_ALL", "b.lco"}, {"GL_TIME", kName33}, {"GL_LANG", "native"}},
       std::vector<std::string>(6, "b.lco")},
      {{{"GL_TIME", "b.lco"}},
       {"default.lco", "default.lco", "default.lco", "default.lco", "b.lco", "default.lco"}},
      {{{"GL_ALL", ""}, {"GL_TIME", "b.lco"}, {"GL_CTYPE", ""}, {"GL_LANG", kName33}},
       {kName33, kName33, kName33, kName33, "b.lco", kName33}},
      {{{"GL_MESSAGES", "native"}, {"GL_NUMERIC", "en_us/0333.lco"}},
       {"default.lco", "default.lco", "en_us/0333.lco", "default.lco", "default.lco",
        "native"}},
  };
  for (const Case &c : cases) {
    for (const char *v : kEnvNames) unsetenv(v);
    std::string trace;
    for (auto &[k, v] : c.env) {
      setenv(k, v.c_str(), 1);
      trace += std::string(k) + "=" + v + " ";
    }
    SCOPED_TRACE(trace);
    LocalePtr loc = Null();
    EXPECT_EQ(All(c.names), Take(gl_setlocale_4(loc.get(), GL_ALL, "")));
    EXPECT_EQ(0, loc->error);
    EXPECT_EQ(c.names[4], Take(gl_setlocale_4(loc.get(), GL_TIME, nullptr)));
  }
  // More than 33 characters from the environment: error 8.
  for (const char *v : kEnvNames) unsetenv(v);
  setenv("GL_LANG", kName34.c_str(), 1);
  LocalePtr loc = Created();
  EXPECT_EQ("NULL", Take(gl_setlocale_4(loc.get(), GL_MONETARY, "")));
  EXPECT_EQ(GL_ENOFILE, loc->error);
  EXPECT_STREQ("default.lco", loc->names[GL_MONETARY - 2]);
}

TEST_F(SetLocaleTest, CacheSharesWholeLocales) {
  EXPECT_EQ(nullptr, *_gl_lc_cache_head());
  GlLocale *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(0, gl_lc_load(&a, "en_us.8859-1", nullptr, nullptr)) << a->error;
  ASSERT_EQ(0, gl_lc_load(&b, "en_us.8859-1", nullptr, nullptr));
  EXPECT_EQ(a, b);
  GlLcNode *node = _gl_lc_cache_find(a);
  ASSERT_NE(nullptr, node);
  EXPECT_STREQ("en_us/0333.lco", node->name);
  EXPECT_EQ(2, node->count);
  EXPECT_STREQ("en_us/0333.lco", a->names[GL_TIME - 2]);
  EXPECT_EQ(0, a->error);

  // A cached locale is not changed in place, but can be asked.
  EXPECT_EQ("NULL", Take(gl_setlocale_4(a, GL_CTYPE, "b.lco")));
  EXPECT_EQ(GL_EBADARG, a->error);
  a->error = 0;
  EXPECT_EQ("en_us/0333.lco", Take(gl_setlocale_4(a, GL_CTYPE, nullptr)));

  // Another name, and the same name from a directory, are entries of their
  // own; the newest comes first.
  ASSERT_EQ(0, gl_lc_load(&c, "b.lco", nullptr, nullptr));
  EXPECT_NE(a, c);
  GlLocale *d = nullptr;
  std::string dir = tree_->Path("lxr/lc11");
  ASSERT_EQ(0, gl_lc_load(&d, "en_us.8859-1", nullptr, dir.c_str()));
  EXPECT_NE(a, d);
  EXPECT_EQ(d, (*_gl_lc_cache_head())->loc);
  EXPECT_EQ(c, (*_gl_lc_cache_head())->next->loc);

  gl_lc_unload(a);
  EXPECT_EQ(1, node->count);
  gl_lc_unload(b);
  EXPECT_EQ(nullptr, _gl_lc_cache_find(a));
  gl_lc_unload(c);
  gl_lc_unload(d);
  EXPECT_EQ(nullptr, *_gl_lc_cache_head());

  // A specification that does not load is not cached; the object is the
  // caller's to free.
  EXPECT_EQ(-1, gl_lc_load(&a, "fr_fr.8859-1", nullptr, nullptr));
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(GL_ENOFILE, a->error);
  EXPECT_EQ(nullptr, _gl_lc_cache_find(a));
  gl_lc_unload(a);
  EXPECT_EQ(-1, gl_lc_load(&a, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, a);
  EXPECT_EQ(nullptr, *_gl_lc_cache_head());
}

TEST_F(SetLocaleTest, ClientStartUpSequence) {
  // What the client base services do with the default specification.
  const char *spec = "en_us.8859-1";
  char fname[64];
  ASSERT_EQ(0, gl_lc_spec2lc_fname(nullptr, spec, fname, nullptr, nullptr));
  std::string composite;
  for (const char *kw :
       {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC", "GL_MONETARY", "GL_TIME", "GL_MESSAGES"}) {
    composite += std::string(kw) + " = " + fname + " ; ";
  }
  LocalePtr loc = Null();
  loc->error = 0;
  EXPECT_EQ(composite, Take(gl_setlocale_4(loc.get(), GL_ALL, composite.c_str())));
  EXPECT_EQ(0, loc->error);
  std::string ctype = Take(gl_setlocale_4(loc.get(), GL_CTYPE, nullptr));
  EXPECT_EQ("en_us/0333.lco", ctype);

  // "A" stays a single byte.
  const char *abc = "ABCDE";
  EXPECT_EQ(abc + 1, gl_full_mbsnext(loc.get(), abc));
  EXPECT_EQ(819, gl_lc_spec2cs_num(loc.get(), spec, nullptr));
  char lt[8], cs[8], mod[8], back[24], dname[64];
  ASSERT_EQ(0, gl_lc_fname2lc_pieces(loc.get(), ctype.c_str(), lt, cs, mod));
  ASSERT_EQ(0, gl_lc_pieces2lc_spec(loc.get(), lt, cs, mod, back));
  EXPECT_STREQ("en_US.819", back);
  ASSERT_EQ(0, gl_lc_spec2msg_dname(loc.get(), spec, dname, nullptr, nullptr));
  EXPECT_STREQ("en_us/0333", dname);
}

// --- The ICU back end and the debug log, in fresh processes ---------------

class SetLocaleGluTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CopyLocaleFiles(dir_);
    dir_.WriteFile("lxr/etc/icudt.dat", "data");
    dir_.WriteFile("lxr/etc/locmap", "map");
    dir_.WriteFile("lxr/etc/64-dllregistry.48", "glu.so\n");
    dir_.WriteFile("lxr/dll/glu.so", tevtest::ReadFile(FAKE_GLU_LIB));
  }

  tevtest::RunResult Probe(const std::vector<std::string> &steps, const std::string &useglu,
                           std::map<std::string, std::string> extra = {}) {
    tevtest::RunOptions opt;
    opt.env = {{"TARVELONDIR", dir_.path()}, {"LXRDEBUG", "on"}};
    if (!useglu.empty()) opt.env["GL_USEGLU"] = useglu;
    for (auto &[k, v] : extra) opt.env[k] = v;
    std::vector<std::string> args{"2"};
    args.insert(args.end(), steps.begin(), steps.end());
    tevtest::RunResult r = tevtest::RunProgram(SETLOCALE_PROBE, args, opt);
    EXPECT_EQ(0, r.exit_code) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("\nend\n")) << r.out;
    return r;
  }

  static int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

  TempInstall dir_;
};

TEST_F(SetLocaleGluTest, CategoriesShareOneIcuLocale) {
  auto r = Probe({"set:1:en_us/0333.lco"}, "1");
  EXPECT_NE(std::string::npos, r.out.find("set 1 result=" + All("en_us/0333.lco") + " error=0"))
      << r.out;
  const std::string each = " 1:en_US.819";
  EXPECT_NE(std::string::npos, r.out.find("icu" + each + each + each + each + each + each +
                                          " kind=3"))
      << r.out;
  // One ICU locale opened and reused by the five other categories, closed
  // once with the object.
  EXPECT_EQ(1, Count(r.out, "fake: lc_open en_US.819"));
  // Each category takes it over from every earlier one of its name.
  EXPECT_EQ(0 + 1 + 2 + 3 + 4 + 5,
            Count(r.out, "LXR: set_categories_glu: glu_locale not loaded but reused"));
  EXPECT_EQ(1, Count(r.out, "LXR: set_categories_glu: glu_locale loaded into category"));
  EXPECT_EQ(1, Count(r.out, "fake: lc_close en_US.819"));
  for (const char *line :
       {"LXR: gl_setlocale: Begin", "LXR: gl_setlocale: Calling gl_init_glu",
        "LXR: gl_setlocale: Calling set_categories", "LXR: gl_setlocale: End",
        "LXR: Begin: set_categories_glu", "LXR: locale_name = en_us/0333.lco",
        "LXR: ll_tt = en_US", "LXR: csnum = 819", "LXR: lc_norm = en_US.819",
        "LXR: End: set_categories_glu"}) {
    EXPECT_NE(std::string::npos, r.out.find(line)) << line;
  }
}

TEST_F(SetLocaleGluTest, CollationGoesToTheWrapper) {
  struct Case {
    const char *status;
    int error;
  } cases[] = {{"0", 0}, {"17", 17}, {"-3", 0}};
  for (const Case &c : cases) {
    auto r = Probe({"set:1:en_us/0333.lco", "coll"}, "1", {{"FAKE_GLU_COLL_STATUS", c.status}});
    const std::string e = " error=" + std::to_string(c.error);
    for (const std::string &line : std::vector<std::string>{
             "fake: ucs32coll en_US.819", "fake: ucs32xfrm en_US.819",
          "fake: mbsCollBound en_US.819 upper", "fake: mbsSortKeyCollBound en_US.819 lower",
          "wcscoll r=-1" + e, "wcsxfrm r=7" + e, "keybound r=9" + e}) {
      EXPECT_NE(std::string::npos, r.out.find(line)) << c.status << ": " << line << "\n" << r.out;
    }
    // The wrapper's bound is returned as it gave it.
    EXPECT_NE(std::string::npos, r.out.find("bound r=3" + e + " out=ab~")) << r.out;
  }
}

TEST_F(SetLocaleGluTest, WhenIcuDoesNotServe) {
  // Not wanted, not asked for, a name that is no specification, "native".
  struct Case {
    std::string useglu, useloc, text, log;
  } cases[] = {
      {"", "1", "en_us/0333.lco", "glu_locale NOT used as not required"},
      {"1", "0", "en_us/0333.lco", "glu_locale NOT used as not required"},
      {"1", "1", "b.lco", "glu_locale NOT used as couldn't workout normilized"},
      {"1", "1", "native", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.useglu + "/" + c.useloc + "/" + c.text);
    auto r = Probe({"set:1:" + c.text}, c.useglu, {{"FAKE_GLU_USELOC", c.useloc}});
    EXPECT_NE(std::string::npos, r.out.find("set 1 result=" + All(c.text) + " error=0"));
    EXPECT_NE(std::string::npos, r.out.find("icu 0:- 0:- 0:- 0:- 0:- 0:- kind=")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("kind=3"));
    EXPECT_EQ(0, Count(r.out, "fake: lc_open"));
    // Not wanted: the wrapper is never even loaded.
    if (c.useglu.empty()) {
      EXPECT_EQ(0, Count(r.out, "fake:"));
    }
    if (!c.log.empty()) {
      EXPECT_EQ(6, Count(r.out, "LXR: set_categories_glu: " + c.log));
    } else {
      EXPECT_EQ(0, Count(r.out, "set_categories_glu"));
    }
  }
}

TEST_F(SetLocaleGluTest, IcuLocaleThatFailsToOpen) {
  auto r = Probe({"set:2:en_us/0333.lco"}, "1", {{"FAKE_GLU_OPEN_STATUS", "5"}});
  // The wrapper's status is the error number.
  EXPECT_NE(std::string::npos, r.out.find("set 2 result=NULL error=5")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("icu 0:- 0:- 0:- 0:- 0:- 0:- kind=")) << r.out;
  EXPECT_EQ(1, Count(r.out, "LXR: set_categories_glu: Falure to Load ICU locale"));
  // The handle the wrapper gave beside its failure is closed at once.
  EXPECT_EQ(1, Count(r.out, "fake: lc_close en_US.819"));
}

TEST_F(SetLocaleGluTest, CacheDump) {
  auto r = Probe({"dump", "load:en_us.8859-1", "load:b.lco", "load:en_us.8859-1", "dump"}, "");
  EXPECT_NE(std::string::npos, r.out.find("LXR: *** No lc nodes saved"));
  // The third load is the first one's object.
  std::string loads;
  for (size_t p = r.out.find("load rc="); p != std::string::npos; p = r.out.find("load rc=", p + 1)) {
    loads += r.out.substr(p, r.out.find('\n', p) - p + 1);
  }
  EXPECT_EQ("load rc=0 #0\nload rc=0 #1\nload rc=0 #0\n", loads);
  size_t list = r.out.find("LXR: *** The lc node list");
  ASSERT_NE(std::string::npos, list) << r.out;
  std::string rest = r.out.substr(list);
  for (const char *line : {"LXR:     0\n", "LXR:         name: b.lco\n", "LXR:         count:  1\n",
                           "LXR:     1\n", "LXR:         name: en_us/0333.lco\n",
                           "LXR:         count:  2\n", "LXR:         loc:  0x"}) {
    EXPECT_NE(std::string::npos, rest.find(line)) << line << rest;
  }
  EXPECT_LT(rest.find("name: b.lco"), rest.find("name: en_us/0333.lco"));
  EXPECT_EQ(3, Count(r.out, "LXR: freeing locale 0x"));
}

}  // namespace

// The display-width map with the stand-in wrapper serving a UTF-8 locale:
// U+E000 listed with 2, U+E001 with 0, U+E002 with no digit; U+E003 not
// listed; then without the map file.
TEST_F(SetLocaleGluTest, PrivateUseWidthMap) {
  dir_.WriteFile("lxr/etc/pua.map", "PUA widths:\n\xee\x80\x80\t2\n\xee\x80\x81 0\n\xee\x80\x82 -\n");
  const std::vector<std::string> steps = {"set:2:en_us/e01c.lco", "width:ee8080", "width:ee8081",
                                          "width:ee8082", "width:ee8083"};
  auto r = Probe(steps, "1", {{"ZEL_PUA_DISPLAY_MAPPING", "1"}});
  EXPECT_NE(std::string::npos, r.out.find("width ee8080 w=2 error=0")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("width ee8081 w=-1 error=7")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("width ee8082 w=1 error=0")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("width ee8083 w=-1 error=7")) << r.out;
  auto unset = Probe(steps, "1");
  EXPECT_NE(std::string::npos, unset.out.find("width ee8080 w=-1 error=7")) << unset.out;
  remove(dir_.Path("lxr/etc/pua.map").c_str());
  auto missing = Probe(steps, "1", {{"ZEL_PUA_DISPLAY_MAPPING", "1"}});
  EXPECT_NE(std::string::npos, missing.out.find("width ee8080 w=-1 error=7")) << missing.out;
}
