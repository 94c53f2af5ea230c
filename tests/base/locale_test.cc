// The client locale start-up, the date format, the name lists and the
// conversion front. Start-ups run in locale_probe processes with a clean
// environment (the start-up happens once per process); the calls that need
// no fresh start-up run here, after the start-up of locale_tree.cc.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "base/client_locale.h"
#include "base/cvt.h"
#include "base/locale_hooks.h"
#include "base/locale_state.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "tests/support/test_support.h"

namespace {

// Runs the probe with TARVELONDIR at the build tree plus env; returns its
// lines keyed by their first word (a repeated word gets "#2", "#3" ...).
std::map<std::string, std::string> Probe(const std::vector<std::string>& args,
                                         std::map<std::string, std::string> env = {}) {
  tevtest::RunOptions opt;
  opt.env = std::move(env);
  if (!opt.env.count("TARVELONDIR")) opt.env["TARVELONDIR"] = tevtest::BuildTree();
  tevtest::RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("locale_probe"), args, opt);
  EXPECT_EQ(0, r.exit_code) << r.out << r.err;
  std::map<std::string, std::string> out;
  size_t pos = 0;
  while (pos < r.out.size()) {
    const size_t nl = r.out.find('\n', pos);
    const std::string line = r.out.substr(pos, nl - pos);
    pos = nl == std::string::npos ? r.out.size() : nl + 1;
    const size_t sp = line.find(' ');
    std::string key = line.substr(0, sp);
    for (int n = 2; out.count(key); n++) key = line.substr(0, sp) + "#" + std::to_string(n);
    out[key] = sp == std::string::npos ? "" : line.substr(sp + 1);
  }
  return out;
}

TEST(LocaleStartUp, DefaultsLoadEnUsAndPutClientLocale) {
  auto v = Probe({"init", "env", "CLIENT_LOCALE", "env", "DB_LOCALE", "state", "status", "zel",
                  "upshift", "add", "upshift", "r\xe9sum\xe9", "date", "msg", "88300"});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ("CLIENT_LOCALE=en_US.8859-1", v["env"]);
  EXPECT_EQ("DB_LOCALE=(none)", v["env#2"]);
  EXPECT_EQ("ctype=en_US.819 time=en_us/0333.lco db_is_client=1 c2d=0 d2c=0 fs=0 dbnls=0",
            v["state"]);
  EXPECT_EQ("0 0 1", v["status"]);
  EXPECT_EQ("0 0", v["zel"]);
  EXPECT_EQ("ADD", v["upshift"]);
  EXPECT_EQ("R\xc9SUM\xc9", v["upshift#2"]);  // Latin-1 letters through the locale
  EXPECT_EQ("%m/%d/%iY order 2 1 3 kind 0 explicit 1 known 1 gregorian 1", v["date"]);
  EXPECT_EQ(0u, v["msg"].find("0 ")) << v["msg"];
}

TEST(LocaleStartUp, ClientLocaleNamedPutsDbLocale) {
  auto v = Probe({"init", "env", "DB_LOCALE", "state"}, {{"CLIENT_LOCALE", "en_us.8859-1"}});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ("DB_LOCALE=en_US.819", v["env"]);
  EXPECT_EQ(0u, v["state"].find("ctype=en_US.819 ")) << v["state"];

  // A DB_LOCALE of the same code set makes no converter; DBNLS puts the
  // LC_* variables instead of DB_LOCALE.
  v = Probe({"init", "state", "env", "LC_CTYPE", "env", "LC_TIME", "env", "DB_LOCALE"},
            {{"CLIENT_LOCALE", "en_us.8859-1"}, {"DB_LOCALE", "en_us.819"}, {"DBNLS", "1"}});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ("ctype=en_US.819 time=en_us/0333.lco db_is_client=1 c2d=0 d2c=0 fs=0 dbnls=1",
            v["state"]);
  EXPECT_EQ("LC_CTYPE=en_US.819", v["env"]);
  EXPECT_EQ("LC_TIME=en_US.819", v["env#2"]);
  EXPECT_EQ("DB_LOCALE=en_us.819", v["env#3"]);
}

TEST(LocaleStartUp, DbnlsLoadsTheLcVariables) {
  auto v = Probe({"init", "state"}, {{"DBNLS", "2"}, {"LANG", "en_us.8859-1"}});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ(0u, v["state"].find("ctype=en_US.819 ")) << v["state"];
  EXPECT_NE(std::string::npos, v["state"].find("dbnls=2")) << v["state"];
}

// Failed start-ups: the mapped error, the fixed message text that stands in
// for the message files, the start-up status words, and zel_gl_init's -1.
TEST(LocaleStartUp, FailuresAndTheirMessages) {
  struct Case {
    std::map<std::string, std::string> env;
    int error;
    const char* text;
  };
  const std::string long_spec = "en_us.8859-1" + std::string(286 - 12, 'x');
  // A tree with the locale files but no ICU wrapper registered.
  tevtest::TempInstall no_wrapper;
  for (const char* rel : {"lxr/cm3/registry", "lxr/lc11/default.lco", "lxr/lc11/en_us/0333.lco"}) {
    no_wrapper.WriteFile(rel, tevtest::ReadFile(tevtest::BuildTree() + "/" + rel));
  }
  const Case cases[] = {
      {{{"CLIENT_LOCALE", long_spec}}, -23101, "Unable to load locale categories."},
      {{{"CLIENT_LOCALE", long_spec.substr(0, 285)}}, -23101, "Unable to load locale categories."},
      {{{"CLIENT_LOCALE", "fr_fr.8859-1"}}, -23101, "Unable to load locale categories."},
      // No ICU wrapper registered: the locale library cannot start its back
      // end (its error 8).
      {{{"GL_USEGLU", "1"}, {"TARVELONDIR", no_wrapper.path()}},
       -23101,
       "Unable to load locale categories."},
      {{{"DBNLS", "1"}, {"LC_CTYPE", "0abc"}}, -23109, "Unable to load locale categories."},
      {{{"DB_LOCALE", "ja_jp.sjis"}},
       -23104,
       "Error opening required code-set conversion object file."},
      // The test locale's code set makes "A" the lead byte of a character.
      {{{"CLIENT_LOCALE", "xx_yy.tst"}}, -34394, "Unable to load locale categories."},
      {{{"DBDATE", "MDY3"}},
       -1212,
       "Date conversion format must contain a month, day, and year component."},
  };
  for (const Case& c : cases) {
    auto v = Probe({"init", "msg", "88300", "status", "zel"}, c.env);
    const std::string what = c.env.begin()->first + "=" + c.env.begin()->second.substr(0, 20);
    EXPECT_EQ(std::to_string(c.error) + " " + std::to_string(c.error), v["init"]) << what;
    EXPECT_EQ(std::to_string(c.error) + " " + c.text, v["msg"]) << what;
    // The state made during the failed start-up stays published.
    EXPECT_EQ("-1280 -1281 1", v["status"]) << what;
    EXPECT_EQ(0u, v["zel"].find("-1 ")) << what << ' ' << v["zel"];
  }
  // A wrapper that is registered but cannot be loaded switches the ICU back
  // end off; GL_USEGLU (here from the system environment file) then asks
  // for a glue record that does not exist.
  tevtest::TempInstall tree;
  for (const char* rel : {"lxr/cm3/registry", "lxr/lc11/default.lco", "lxr/lc11/en_us/0333.lco"}) {
    tree.WriteFile(rel, tevtest::ReadFile(tevtest::BuildTree() + "/" + rel));
  }
  tree.WriteFile("lxr/etc/64-dllregistry.48", "glu.so\n");
  tree.WriteFile("lxr/dll/glu.so", "not a library");
  tree.WriteFile("etc/tarvelon.rc", "GL_USEGLU 2\n");
  auto v = Probe({"init", "msg", "88300"}, {{"TARVELONDIR", tree.path()}});
  EXPECT_EQ("-23102 -23102", v["init"]);
  EXPECT_EQ("-23102 Memory allocation failed during locale processing.", v["msg"]);
  tree.WriteFile("etc/tarvelon.rc", "GL_USEGLU 0\n");
  EXPECT_EQ("0 0", Probe({"init"}, {{"TARVELONDIR", tree.path()}})["init"]);
}

TEST(LocaleStartUp, AMissingLocaleFileIsRetriedUnderOs) {
  tevtest::TempInstall tree;
  const std::string latin1 = tevtest::ReadFile(tevtest::BuildTree() + "/lxr/lc11/en_us/0333.lco");
  tree.WriteFile("lxr/cm3/registry", tevtest::ReadFile(tevtest::BuildTree() + "/lxr/cm3/registry"));
  tree.WriteFile("lxr/lc11/en_us/0333.lco", latin1);
  tree.WriteFile("lxr/lc11/os/fr_fr.8859-1", latin1);
  auto v = Probe({"init", "state"},
                 {{"TARVELONDIR", tree.path()}, {"CLIENT_LOCALE", "fr_fr.8859-1"}});
  EXPECT_EQ("0 0", v["init"]);
  // Loaded from "os/...": the category name stays as given.
  EXPECT_EQ(0u, v["state"].find("ctype=fr_fr.8859-1 time=os/fr_fr.8859-1 ")) << v["state"];
}

TEST(LocaleStartUp, DbnlsRebuildsTheByteTablesFromTheCLibrary) {
  // Without DBNLS the built-in classes stay; with it the C library's "C"
  // locale decides: 'A' is printable, 0x80 and 0xB0 have no class.
  EXPECT_EQ("0 41 88 02 10", Probe({"nls"})["nls"]);
  EXPECT_EQ("0 c1 88 00 00", Probe({"nls"}, {{"DBNLS", "1"}})["nls"]);
}

TEST(LocaleStartUp, ConverterRoadUtf8ClientLatin1Database) {
  // "é" is C3 A9 in UTF-8 and E9 in Latin-1.
  auto v = Probe({"init", "state", "cvt", "c2d", "16", "61c3a962", "cvt", "d2c", "16", "61e962",
                  "cvt", "c2d", "2", "c3a9c3a9c3a9", "cvt", "c2d", "16", "61ff62", "needed",
                  "en_us.utf8", "en_us.8859-1", "needed", "en_us.8859-1", "en_us.819", "needed",
                  "en_us.8859-1", "zz_zz.nothing", "upshift", "r\xc3\xa9sum\xc3\xa9"},
                 {{"CLIENT_LOCALE", "en_us.utf8"}, {"DB_LOCALE", "en_us.8859-1"}});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ(0u, v["state"].find("ctype=en_US.57372 ")) << v["state"];
  EXPECT_NE(std::string::npos, v["state"].find("db_is_client=0 c2d=1 d2c=1 fs=0"))
      << v["state"];
  EXPECT_EQ("3 0 61e962 0", v["cvt"]);
  EXPECT_EQ("4 0 61c3a962 0", v["cvt#2"]);
  EXPECT_EQ("2 1 e9e9 0", v["cvt#3"]);        // the output was full: what fitted
  EXPECT_EQ("-1 0 - -23103", v["cvt#4"]);     // FF is no UTF-8
  EXPECT_EQ("1", v["needed"]);
  EXPECT_EQ("0", v["needed#2"]);
  EXPECT_EQ("-1", v["needed#3"]);
  EXPECT_EQ("R\xc3\x89SUM\xc3\x89", v["upshift"]);  // case through the UTF-8 locale
}

TEST(LocaleStartUp, DateFormatSources) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* date;
  };
  const Case cases[] = {
      {{{"GL_DATE", "%d.%m.%Y"}}, "%d.%m.%Y order 0 0 0 kind 0 explicit 0"},
      // DBDATE wins over GL_DATE.
      {{{"GL_DATE", "%d.%m.%Y"}, {"DBDATE", "Y4MD-"}}, "%iY-%m-%d order 3 2 1 kind 0 explicit 1"},
      // A locale other than en_us gives its own format.
      {{{"CLIENT_LOCALE", "de_de.8859-1"}}, "%d.%m.%Y order 0 0 0 kind 0 explicit 0"},
  };
  for (const Case& c : cases) {
    auto v = Probe({"init", "date"}, c.env);
    EXPECT_EQ("0 0", v["init"]);
    EXPECT_EQ(0u, v["date"].find(c.date)) << v["date"];
  }
}

TEST(LocaleStartUp, GregorianMonthListsStartWithEnglish) {
  auto v = Probe({"init", "names", "full", "names", "abbr"}, {{"CLIENT_LOCALE", "de_de.8859-1"}});
  EXPECT_EQ("0 0", v["init"]);
  EXPECT_EQ(
      "full january february march april may june july august september october november "
      "december | januar februar m\xe4rz april mai juni juli august september oktober november "
      "dezember |",
      v["names"]);
  EXPECT_EQ(0u, v["names#2"].find("abbr jan feb mar apr may jun jul aug sep oct nov dec | "))
      << v["names#2"];
}

// --- In this process, after the start-up -------------------------------

TEST(DateFormat, DbdateNotation) {
  struct Case {
    const char* dbdate;
    int result;
    const char* format;
    int order[3];
    int kind;
  };
  const Case cases[] = {
      {"MDY4/", 0, "%m/%d/%iY", {2, 1, 3}, 0},
      {"MDY4", 0, "%m/%d/%iY", {2, 1, 3}, 0},
      {"DMY2.", 0, "%d.%m.%iy", {1, 2, 3}, 0},
      {"Y4MD-", 0, "%iY-%m-%d", {3, 2, 1}, 0},
      {"DMY40", 0, "%d%m%iY", {1, 2, 3}, 0},
      {"MDNY", 0, "%m/%d/%Eg%02.2Ey", {2, 1, 3}, 1},
      {"MDY3/C1", 0, "%m/%d/%Eg%03.3Ey", {2, 1, 3}, 2},
      {"mdy4/c2", 0, "%m/%d/%EC%04.4Ey", {2, 1, 3}, 2},
      {"DMEY,", 0, "%d,%m,%EC%02.2Ey", {1, 2, 3}, 3},
      {"MDYY/J1", 0, "%m/%d/%Eg%02.2Ey", {2, 1, 3}, 1},
      {"MDY4x", 0, "%m/%d/%iY", {2, 1, 3}, 0},  // another separator is skipped
      {"MDY3", -1212, nullptr, {0, 0, 0}, 0},     // width 3 needs the C suffix
      {"MDY3C1", -1212, nullptr, {0, 0, 0}, 0},   // C fills the separator place
      {"", -1212, nullptr, {0, 0, 0}, 0},
      {"MDY", -1212, nullptr, {0, 0, 0}, 0},      // year without a width
      {"MD", -1212, nullptr, {0, 0, 0}, 0},       // no year
      {"MMY4", -1212, nullptr, {0, 0, 0}, 0},     // a field twice
      {"MDY4/X1", -1212, nullptr, {0, 0, 0}, 0},
      {"MDY4/C1x", -1212, nullptr, {0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    char buf[19];
    char* out = nullptr;
    int32_t kind = -1;
    int32_t order[3] = {0, 0, 0};
    ASSERT_EQ(c.result, rdbdate2lxrfmt(c.dbdate, &out, &kind, order, buf)) << c.dbdate;
    if (c.result != 0) continue;
    EXPECT_EQ(buf, out);
    EXPECT_STREQ(c.format, out) << c.dbdate;
    EXPECT_EQ(c.kind, kind) << c.dbdate;
    for (int i = 0; i < 3; i++) EXPECT_EQ(c.order[i], order[i]) << c.dbdate;
  }
  char* out = nullptr;
  int32_t kind = 0;
  int32_t order[3];
  EXPECT_EQ(-1218, rdbdate2lxrfmt("MDY4", nullptr, &kind, order, nullptr));
  ASSERT_EQ(0, rdbdate2lxrfmt("Y4MD-", &out, &kind, order, nullptr));  // a new allocation
  EXPECT_STREQ("%iY-%m-%d", out);
  std::free(out);
}

TEST(DateFormat, ExplicitTextsAndTheEnUsLocale) {
  ClientLocaleState* st = rgllocstate();
  char buf[32];
  // An empty DBDATE is refused and changes nothing; an absent one falls
  // through to GL_DATE.
  ASSERT_EQ(0, nogetenv_getlxrfmt("DMY4-", nullptr, buf, 1));
  EXPECT_STREQ("%d-%m-%iY", st->date_format);
  EXPECT_EQ(-1212, nogetenv_getlxrfmt("", "%Y", buf, 1));
  EXPECT_STREQ("%d-%m-%iY", st->date_format);
  ASSERT_EQ(0, nogetenv_getlxrfmt(nullptr, "%Y %m %d", nullptr, 1));
  EXPECT_STREQ("%Y %m %d", st->date_format);
  EXPECT_EQ(0, st->date_explicit);
  // Neither: the en_us client locale gives the built-in format.
  ASSERT_EQ(0, nogetenv_getlxrfmt(nullptr, nullptr, nullptr, 1));
  EXPECT_STREQ("%m/%d/%iY", st->date_format);
  EXPECT_EQ(1, st->date_explicit);
  EXPECT_EQ(2, st->date_order[0]);
}

TEST(LocaleHooks, InstalledSlotsAndTheirBehaviour) {
  const GlExtFuncTable* t = _gl_ext_table();
  ASSERT_NE(0, t->enabled);
  for (int i = 0; i < GL_EXT_NSLOTS; i++) EXPECT_NE(nullptr, t->slots[i]) << i;
  EXPECT_EQ(t->slots[GL_EXT_FGETC], t->slots[GL_EXT_GETC]);
  EXPECT_EQ(reinterpret_cast<GlExtFunc>(cl_ext_getenv), t->slots[GL_EXT_GETENV]);

  int32_t object = 5;
  EXPECT_EQ(&object, cl_ext_errno(&object));
  EXPECT_NE(nullptr, cl_ext_errno(nullptr));

  char good[] = "TEV_HOOK_TEST=value=with=equals";
  EXPECT_EQ(0, cl_ext_putenv(good));
  EXPECT_STREQ("value=with=equals", std::getenv("TEV_HOOK_TEST"));
  char bad[] = "TEV_HOOK_TEST";
  EXPECT_EQ(-1, cl_ext_putenv(bad));
  std::string long_name = std::string(81, 'N') + "=x";
  EXPECT_EQ(-1, cl_ext_putenv(long_name.data()));
  unsetenv("TEV_HOOK_TEST");

  GlTimeRecord rec;
  std::memset(&rec, 0x5a, sizeof rec);
  const time_t before = std::time(nullptr);
  ASSERT_EQ(0, cl_ext_currtime(&rec));
  struct tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(0, rec.fraction);
  EXPECT_EQ(0, rec.reserved_wide);
  EXPECT_EQ(0, rec.reserved);
  EXPECT_EQ(local.tm_year, rec.year);
  EXPECT_EQ(local.tm_yday, rec.yday);

  GlCurrDate date{};
  ASSERT_EQ(0, cl_ext_currdate(&date));
  // The clock may pass midnight between the two readings.
  const time_t after = std::time(nullptr);
  struct tm now{};
  localtime_r(&after, &now);
  EXPECT_TRUE((date.year == local.tm_year + 1900 && date.month == local.tm_mon + 1 &&
               date.day == local.tm_mday) ||
              (date.year == now.tm_year + 1900 && date.month == now.tm_mon + 1 &&
               date.day == now.tm_mday));

  // Locale files opened through the hook never leak into child programs.
  GlFile* opened = cl_ext_fopen("/dev/null", "r");
  ASSERT_NE(nullptr, opened);
  EXPECT_NE(0, fcntl(fileno(static_cast<FILE*>(opened)), F_GETFD) & FD_CLOEXEC);
  cl_ext_fclose(opened);

  // One byte goes through fputc; more through fwrite.
  FILE* f = std::tmpfile();
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(1, cl_ext_fwrite("a", 1, 1, f));
  EXPECT_EQ(2, cl_ext_fwrite("bcde", 2, 1, f) + cl_ext_fwrite("xy", 1, 1, f));
  EXPECT_EQ(4, cl_ext_ftell(f));
  std::fclose(f);
}

TEST(LocaleStartUp, OnceDoneItReturnsZeroAndClearsTheErrorWord) {
  rsetglerror(-5);
  EXPECT_EQ(0, rglinit());
  EXPECT_EQ(0, rgetglerror());
  rsetglerror(-5);
  EXPECT_EQ(0, zel_gl_init());
  EXPECT_EQ(0, rgetglerror());
}

TEST(LocaleStartUp, ErrorMapping) {
  const std::pair<int32_t, int32_t> cases[] = {
      {-8, -23110}, {-3, -23110}, {-1, -23110}, {-2, -23102}, {3, -23102},   {8, -23101},
      {9, -23101},  {11, -23101}, {21, -23101}, {12, -23115}, {58, -23115}, {7, 7},
      {-23109, -23109}};
  for (const auto& [in, out] : cases) {
    rsetglerror(in);
    EXPECT_EQ(out, rglmaperror()) << in;
    EXPECT_EQ(out, rgetglerror()) << in;
  }
  rsetglerror(0);
}

TEST(NlsTables, WithoutDbnlsTheHighBytesKeepTheirBuiltInClasses) {
  unsetenv("DBNLS");
  EXPECT_EQ(0, rnlsinit());
  EXPECT_EQ(NLS_PUNCT, rnls_classtab[0xB0 + 1]);
  EXPECT_EQ(NLS_LOWER, rnls_classtab[0x80 + 1]);
  EXPECT_EQ(0, rnlsinit());  // once per thread
}

TEST(Conversion, WithoutAConverterBytesAreCopiedWithinTheCallersSize) {
  char dst[4];
  std::memset(dst, '#', sizeof dst);
  int32_t truncated = -1;
  // A copy returns 0, not the count, and never writes past the size.
  EXPECT_EQ(0, cvt_tobuf(nullptr, "abcdefgh", nullptr, dst, 4, &truncated));
  EXPECT_EQ(1, truncated);
  EXPECT_EQ(0, std::memcmp(dst, "abc", 4));
  const int32_t two = 2;
  EXPECT_EQ(0, cvt_tobuf(nullptr, "xyz", &two, dst, 4, &truncated));
  EXPECT_EQ(0, truncated);
  EXPECT_EQ(0, std::memcmp(dst, "xyc", 3));

  const int32_t zero = 0, negative = -3;
  rsetglerror(0);
  EXPECT_EQ(-1, cvt_tobuf(nullptr, "abc", &zero, dst, 4, &truncated));
  EXPECT_EQ(-23112, rgetglerror());
  EXPECT_EQ(-1, cvt_tobuf(nullptr, "abc", nullptr, dst, 0, &truncated));
  EXPECT_EQ(-1, cvt_tobuf(nullptr, nullptr, nullptr, dst, 4, &truncated));
  EXPECT_EQ(-1, cvt_inplace(nullptr, dst, &negative, 4, &truncated));

  char* made = nullptr;
  EXPECT_EQ(0, cvt_newbuf(nullptr, "hello", nullptr, &made));
  ASSERT_NE(nullptr, made);
  EXPECT_STREQ("hello", made);
  std::free(made);
  CvtGrowBuf grow{0, nullptr};
  EXPECT_EQ(0, cvt_togrowbuf(nullptr, "grown", nullptr, &grow));
  EXPECT_STREQ("grown", grow.data);
  EXPECT_GE(grow.size, 6);
  std::free(grow.data);

  EXPECT_EQ(10, cvt_explen(nullptr, 10));
  EXPECT_EQ(6, cvt_needlen(nullptr, "hello", nullptr));
  const int32_t seven = 7;
  EXPECT_EQ(7, cvt_needlen(nullptr, "hello", &seven));
  EXPECT_EQ(-1, cvt_needlen(nullptr, "hello", &negative));
}

TEST(Conversion, Utf8ToLatin1ConverterInProcess) {
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  GlConverter* to_latin1 = nullptr;
  GlConverter* to_utf8 = nullptr;
  ASSERT_EQ(1, gl_cv_load(&to_latin1, "en_us.8859-1", "en_us.utf8", nullptr, nullptr));
  ASSERT_EQ(1, gl_cv_load(&to_utf8, "en_us.utf8", "en_us.8859-1", nullptr, nullptr));
  const double factor = gl_iconv_expansion(to_utf8);
  EXPECT_EQ(static_cast<int32_t>(std::ceil(10 * factor)), cvt_explen(to_utf8, 10));

  // In place: the text grows within its buffer and stays terminated.
  char text[16] = "a\xe9z";
  int32_t truncated = -1;
  EXPECT_EQ(4, cvt_inplace(to_utf8, text, nullptr, sizeof text, &truncated));
  EXPECT_EQ(0, truncated);
  EXPECT_STREQ("a\xc3\xa9z", text);
  // And shrinks back, without the old tail.
  EXPECT_EQ(3, cvt_inplace(to_latin1, text, nullptr, sizeof text, &truncated));
  EXPECT_STREQ("a\xe9z", text);

  char* made = nullptr;
  const int32_t n = cvt_newbuf(to_utf8, "\xe9\xe9", nullptr, &made);
  ASSERT_NE(nullptr, made);
  EXPECT_STREQ("\xc3\xa9\xc3\xa9", made);
  EXPECT_GE(n, 4);
  std::free(made);
  EXPECT_EQ(-1, cvt_newbuf(to_latin1, "\xff", nullptr, &made));
  EXPECT_EQ(nullptr, made);
  EXPECT_EQ(-23103, rgetglerror());

  CvtGrowBuf grow{1, static_cast<char*>(std::malloc(1))};
  const int32_t three = 3;
  EXPECT_EQ(6, cvt_togrowbuf(to_utf8, "\xe9\xe9\xe9", &three, &grow));
  EXPECT_EQ(0, std::memcmp(grow.data, "\xc3\xa9\xc3\xa9\xc3\xa9", 6));
  std::free(grow.data);
  // The exported calls between named locales.
  EXPECT_EQ(gl_cv_outbuflen(to_utf8, 10), zel_gl_cv_outbuflen("en_us.utf8", "en_us.8859-1", 10));
  EXPECT_EQ(10, zel_gl_cv_outbuflen("en_us.8859-1", "en_us.819", 10));
  EXPECT_EQ(-1, zel_gl_cv_outbuflen("en_us.8859-1", "zz_zz.nothing", 10));
  char out[8] = {0};
  char* cursor = out;
  int32_t out_left = 8;
  const char* in = "\xe9x";
  int32_t in_left = 2;
  EXPECT_EQ(0, zel_gl_cv_mconv(nullptr, &cursor, &out_left, "en_us.utf8", &in, &in_left,
                               "en_us.8859-1"));
  EXPECT_EQ(3, cursor - out);
  EXPECT_EQ(5, out_left);
  EXPECT_EQ(0, in_left);
  EXPECT_EQ(0, std::memcmp(out, "\xc3\xa9x", 3));
  unsigned char* table = nullptr;
  ASSERT_EQ(0, zel_gl_cv_sb2sb_table("en_us.8859-1", "en_us.819", &table));
  EXPECT_EQ(0xE9, table[0xE9]);
  EXPECT_EQ(-1, zel_gl_cv_sb2sb_table("en_us.8859-1", "zz_zz.nothing", &table));

  gl_cv_unload(to_latin1);
  gl_cv_unload(to_utf8);
  unsetenv("TARVELONDIR");
}

}  // namespace
