// External-function slots, support routines, the debug log and the time
// record copies.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_support.h"
#include "locale/format/gl_time.h"
#include "tests/support/test_support.h"

namespace {

struct Obj {
  int32_t error = 0;
};

int g_malloc_calls;
void *CountingMalloc(uint64_t size) {
  ++g_malloc_calls;
  return malloc(size);
}
int g_fgetc_calls;
int FakeFgetc(GlFile *) {
  ++g_fgetc_calls;
  return 'x';
}
intptr_t FakeUCA() { return 42; }

// Every test starts and ends with an empty, disabled table.
class ExtTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    Obj o;
    for (int i = 0; i < GL_EXT_NSLOTS; ++i) gl_setextfunc(&o, i, nullptr);
    _gl_reset_ext_func();
    g_malloc_calls = g_fgetc_calls = 0;
  }
};

TEST_F(ExtTest, BadIndexIsError9AndChangesNothing) {
  for (int idx : {21, -1, 1000}) {
    Obj o;
    EXPECT_EQ(-1, gl_setextfunc(&o, idx, reinterpret_cast<GlExtFunc>(CountingMalloc))) << idx;
    EXPECT_EQ(GL_EBADARG, o.error);
    EXPECT_EQ(0, _gl_ext_table()->enabled);
  }
}

TEST_F(ExtTest, SlotsRouteToInstalledOrDefault) {
  Obj o;
  ASSERT_EQ(0, gl_setextfunc(&o, GL_EXT_MALLOC, reinterpret_cast<GlExtFunc>(CountingMalloc)));
  void *p = _gl_ext_malloc(16);
  EXPECT_EQ(1, g_malloc_calls);
  _gl_ext_free(p);  // the run-time free serves slot 8

  // _gl_malloc(0) never reaches the slot; _gl_free(NULL) calls nothing.
  EXPECT_EQ(nullptr, _gl_malloc(0));
  EXPECT_EQ(1, g_malloc_calls);
  _gl_free(nullptr);

  // Reset: defaults everywhere; one further set re-enables every slot.
  _gl_reset_ext_func();
  free(_gl_ext_malloc(8));
  EXPECT_EQ(1, g_malloc_calls);
  ASSERT_EQ(0, gl_setextfunc(&o, GL_EXT_FGETC, reinterpret_cast<GlExtFunc>(FakeFgetc)));
  free(_gl_ext_malloc(8));
  EXPECT_EQ(2, g_malloc_calls);
  EXPECT_EQ('x', _gl_ext_fgetc(nullptr));
  EXPECT_EQ(1, g_fgetc_calls);

  // Emptying one slot keeps the table on and the others installed.
  ASSERT_EQ(0, gl_setextfunc(&o, GL_EXT_FGETC, nullptr));
  EXPECT_EQ(1, _gl_ext_table()->enabled);
  FILE *f = tmpfile();
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(EOF, _gl_ext_fgetc(f));
  fclose(f);
  EXPECT_EQ(1, g_fgetc_calls);
  free(_gl_ext_malloc(8));
  EXPECT_EQ(3, g_malloc_calls);
}

TEST_F(ExtTest, ErrnoUcaAndContextForms) {
  Obj o;
  EXPECT_EQ(&o.error, _gl_ext_errno(&o));
  EXPECT_EQ(-1, _gl_ext_UCA());
  gl_setextfunc(&o, GL_EXT_UCA, reinterpret_cast<GlExtFunc>(FakeUCA));
  EXPECT_EQ(42, _gl_ext_UCA());
  gl_setextfunc(&o, GL_EXT_MALLOC, reinterpret_cast<GlExtFunc>(CountingMalloc));
  void *p = _gl_ext1_malloc(nullptr, 4);
  p = _gl_ext1_realloc(nullptr, p, 64);
  _gl_ext1_free(nullptr, p);
  _gl_ext1_free(nullptr, _gl_ext1_calloc(nullptr, 2, 8));
  EXPECT_EQ(1, g_malloc_calls);
}

TEST_F(ExtTest, PutenvKeepsItsOwnCopy) {
  std::string assignment = "GL_EXT_TEST_VAR=abc";
  ASSERT_EQ(0, _gl_ext_putenv(assignment.data()));
  assignment.assign(assignment.size(), 'z');  // the caller's buffer changes
  EXPECT_STREQ("abc", _gl_ext_getenv("GL_EXT_TEST_VAR"));
  char unset[] = "GL_EXT_TEST_VAR";
  ASSERT_EQ(0, _gl_ext_putenv(unset));
  EXPECT_EQ(nullptr, _gl_ext_getenv("GL_EXT_TEST_VAR"));
}

TEST_F(ExtTest, CurrdateAndCurrtimeFillTheirRecords) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  GlCurrDate d{};
  ASSERT_EQ(0, _gl_ext_currdate(&d));
  EXPECT_EQ(tm.tm_year + 1900, d.year);
  EXPECT_GE(d.month, 1);
  EXPECT_LE(d.month, 12);
  GlTimeRecord r;
  r.reserved = 7;
  r.reserved_wide = 7;
  r.fraction = 7;
  ASSERT_EQ(0, _gl_ext_currtime(&r));
  EXPECT_EQ(tm.tm_year, r.year);
  EXPECT_EQ(0, r.fraction);
  EXPECT_EQ(0, r.reserved);
  EXPECT_EQ(0, r.reserved_wide);
  EXPECT_GE(r.yday, 0);
  EXPECT_LE(r.yday, 365);
}

TEST(SupportTest, DigitCounts) {
  struct {
    int32_t v, base, want;
  } cases[] = {{0, 10, 1}, {-12345, 10, 5}, {255, 16, 2}, {INT32_MIN, 10, 10}, {INT32_MIN, 2, 32},
               {INT32_MAX, 10, 10}, {9, 10, 1}, {10, 10, 2}, {-1, 10, 1}};
  for (auto &c : cases) EXPECT_EQ(c.want, _gl_ndigits(c.v, c.base)) << c.v << " base " << c.base;
  EXPECT_EQ(10, _gl_undigits(4294967295u, 10));
  EXPECT_EQ(8, _gl_undigits(4294967295u, 16));
  EXPECT_EQ(1, _gl_undigits(0, 10));
}

TEST(SupportTest, LinesAndCountedCharacters) {
  EXPECT_EQ(1, _gl_line_incomplete("abc"));
  EXPECT_EQ(0, _gl_line_incomplete("abc\n"));
  EXPECT_EQ(0, _gl_line_incomplete(""));
  char line[] = "ab\n";
  EXPECT_EQ(0, _gl_chop_newline(line));
  EXPECT_STREQ("ab", line);
  EXPECT_EQ(1, _gl_chop_newline(line));

  struct {
    int len;
    std::vector<unsigned char> in;
    int delta;
    std::vector<unsigned char> want;
  } cases[] = {
      {2, {0x12, 0xFF}, 1, {0x13, 0x00}},
      {2, {0x13, 0x00}, -1, {0x12, 0xFF}},
      {3, {0x00, 0xFF, 0xFF}, 1, {0x01, 0x00, 0x00}},
      {2, {0xFF, 0xFF}, 1, {0x00, 0x00}},  // carry out of the first byte dropped
      {2, {0x00, 0x00}, -1, {0xFF, 0xFF}},
      {2, {0x12, 0x34}, 0x0101, {0x13, 0x35}},
      {1, {0x41}, 0, {0x41}},
  };
  for (auto &c : cases) {
    GlCountedChar in{c.len, {}}, out{};
    std::copy(c.in.begin(), c.in.end(), in.bytes);
    _gl_cchar_add(&in, c.delta, &out);
    GlCountedChar want{c.len, {}};
    std::copy(c.want.begin(), c.want.end(), want.bytes);
    EXPECT_EQ(1, _gl_cchar_equal(&out, &want)) << std::hex << _gl_cchar_value(&in) << " + " << c.delta;
  }
  GlCountedChar a{3, {0xE4, 0xB8, 0xAD}}, b{2, {0xE4, 0xB8}};
  EXPECT_EQ(0xE4B8ADu, _gl_cchar_value(&a));
  EXPECT_EQ(0, _gl_cchar_equal(&a, &b));
}

// The log switches are read once per process, so each case runs in a child.
struct LogRun {
  std::string file, out;
};
LogRun RunLogInChild(const char *lxrlog, const char *lxrdebug) {
  tevtest::TempInstall dir;
  std::string out_path = dir.Path("stdout.txt");
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(2);
    FILE *o = freopen(out_path.c_str(), "w", stdout);
    if (o == nullptr) _exit(2);
    unsetenv("LXRLOG");
    unsetenv("LXRDEBUG");
    if (lxrlog) setenv("LXRLOG", lxrlog, 1);
    if (lxrdebug) setenv("LXRDEBUG", lxrdebug, 1);
    _gl_debug_log("first");
    _gl_debug_log("second");
    fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {dir.ReadFile("lxr.log"), dir.ReadFile("stdout.txt")};
}

TEST(DebugLogTest, SwitchesOnTwoLettersInAnyCase) {
  for (const char *on : {"on", "ON", "oN", "onward"}) {
    LogRun r = RunLogInChild(on, nullptr);
    EXPECT_EQ(0u, r.file.find("----\nLXR log started ")) << on;
    EXPECT_NE(std::string::npos, r.file.find("\n----\nfirst\nsecond\n")) << on;
    EXPECT_EQ("", r.out);
  }
  for (const char *off : {"o", "of", "off", "", "no"}) {
    LogRun r = RunLogInChild(off, off);
    EXPECT_EQ("", r.file) << off;
    EXPECT_EQ("", r.out) << off;
  }
  LogRun r = RunLogInChild(nullptr, "On");
  EXPECT_EQ("", r.file);
  EXPECT_EQ("LXR: first\nLXR: second\n", r.out);
}

TEST(TimeRecordTest, CopiesCarryEveryFieldButMonthName) {
  GlTimeRecord rec{999999, 61, -5, 24, 0, 14, 8100, 9, 400, 1, INT64_MIN + 3, -77};
  GlTimeFields f;
  _gl_time_to_fields(&rec, rec.month, &f);
  EXPECT_EQ(14, f.month_name);
  EXPECT_EQ(8100, f.year);
  EXPECT_EQ(INT64_MIN + 3, f.reserved_wide);
  f.month_name = 12;  // the hebrew conversion sets them apart
  GlTimeRecord back{};
  _gl_fields_to_time(&f, &back);
  auto fields = [](const GlTimeRecord &r) {
    return std::vector<int64_t>{r.fraction, r.second, r.minute, r.hour, r.mday, r.month,
                                r.year, r.wday, r.yday, r.isdst, r.reserved_wide, r.reserved};
  };
  EXPECT_EQ(fields(rec), fields(back));
  EXPECT_EQ(14, back.month);
  EXPECT_EQ(offsetof(GlTimeRecord, reserved_wide), 40u);
}

}  // namespace
