// The number formatting and scanning engines and the integer field readers:
// their edge cases as tables, in the generated en_us and de_de locales.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/format/gl_intscan.h"
#include "locale/format/gl_printf.h"
#include "locale/format/gl_scanf.h"
#include "locale/core/gl_width.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::DeDe;
using fmttest::EnUs;
using fmttest::JaJp;
using fmttest::Narrow;
using fmttest::TextSwap;
using fmttest::W;

// The result of one gl_mbsprintf call: its text, or "-1/<error>".
template <typename... A>
std::string Mb(GlLocale *loc, int32_t size, const char *format, A... args) {
  char out[512];
  memset(out, 'X', sizeof out);
  loc->error = 0;
  int32_t r = gl_mbsprintf(loc, out, size, format, args...);
  if (r < 0) return "-1/" + std::to_string(loc->error);
  EXPECT_EQ(static_cast<size_t>(r), strlen(out)) << format;
  return out;
}

template <typename... A>
std::string Wc(GlLocale *loc, int32_t size, const char *format, A... args) {
  GlWchar out[512];
  loc->error = 0;
  auto f = W(format);
  int32_t r = gl_wcsprintf(loc, out, size, f.data(), args...);
  if (r < 0) return "-1/" + std::to_string(loc->error);
  return Narrow(out);
}

TEST(NumberFormatting, EdgeCases) {
  GlLocale *en = EnUs();
  GlLocale *de = DeDe();
  const GlWchar wide_y = 'y';
  const GlWchar wide_text[] = {'w', 'i', 'd', 'e', 0};
  struct Case {
    std::string got, want;
  } cases[] = {
      {Mb(en, 64, ""), ""},
      {Mb(en, 1, ""), ""},
      {Mb(en, 1, "a"), "-1/14"},
      {Mb(en, 2, "a"), "a"},
      {Mb(en, 64, "%%"), "%"},
      // Nothing of one conversion carries over to the next.
      {Mb(en, 64, "%-5d|%d", 1, 2), "1    |2"},
      {Mb(en, 64, "%d %d", -1, 2), "-1 2"},
      {Mb(en, 64, "%+d %d", 1, 2), "+1 2"},
      {Mb(en, 64, "%hhd", 200), "-56"},
      {Mb(en, 64, "%hd %hu", 70000, 70000), "4464 4464"},
      {Mb(en, 64, "%d", INT32_MIN), "-2147483648"},
      {Mb(en, 64, "%lld", static_cast<long long>(INT64_MIN)), "-9223372036854775808"},
      {Mb(en, 64, "%lld|%d", 1LL << 40, 7), "1099511627776|7"},
      {Mb(en, 64, "%p", reinterpret_cast<void *>(0x1234abcdULL)), "000000001234ABCD"},
      {Mb(en, 64, "%p", reinterpret_cast<void *>(0x771234abcdULL)), "000000001234ABCD"},
      {Mb(en, 64, "%10p", reinterpret_cast<void *>(0xabcdULL)), "000000ABCD"},
      {Mb(en, 64, "%q %b %b", 7, 5, -5), "13 101 -101"},
      {Mb(en, 64, "%.d %.0d", 0, 0), "0 0"},
      {Mb(en, 64, "%#010x", 31), "0000000x1f"},
      {Mb(en, 64, "%#o %#o", 8, 0), "010 00"},
      {Mb(en, 64, "%'d", 1234567), "1,234,567"},
      {Mb(de, 64, "%'d", -1234567), "-1.234.567"},
      {Mb(en, 64, "%5s|", "abcdefgh"), "abcde|"},
      {Mb(en, 64, "%-5s|%5s|", "ab", "cd"), "ab   |   cd|"},
      {Mb(en, 64, "%.2s|%s", "abcdefgh", "xyz"), "ab|xyz"},
      {Mb(en, 64, "%ls", wide_text), "wide"},
      {Mb(en, 64, "%c|%3c|%-3c|", "xyz", "a", "b"), "x|  a|b  |"},
      {Mb(en, 64, "%lc", wide_y), "y"},
      {Mb(en, 64, "%c", ""), "-1/0"},
      {Mb(en, 64, "%s", static_cast<const char *>(nullptr)), "-1/2"},
      {Mb(en, 64, "%ls", static_cast<const GlWchar *>(nullptr)), "-1/2"},
      {Mb(de, 64, "%.1f", 1.5), "1,5"},
      {Mb(de, 64, "%'.2f", 1234567.891), "1.234.567,89"},
      {Mb(en, 64, "%'.2f", 1234567.891), "1,234,567.89"},
      {Mb(en, 64, "%'15.2f|", 1234567.891), "   1,234,567.89|"},
      {Mb(en, 64, "%e", 1e5), "1.000000e+05"},
      {Mb(en, 64, "%e", 1e105), "1.000000e+105"},
      {Mb(de, 64, "%E", -2.5e-7), "-2,500000E-07"},
      {Mb(en, 64, "%+.1f % .1f", 2.0, 2.0), "+2.0  2.0"},
      {Mb(en, 64, "%08.2f", -3.25), "-0003.25"},
      {Mb(en, 64, "%6f|%-6f|%6f", INFINITY, INFINITY, -INFINITY), "   Inf|Inf   |-Inf"},
      {Mb(en, 64, "%5f", NAN), "  NaN"},
      {Mb(en, 64, "%100f", 1.0), "-1/14"},
      {Mb(en, 200, "%99f", 1.0), std::string(91, ' ') + "1.000000"},
      // A run-time text past its 127-character area fails instead of
      // overrunning it.
      {Mb(en, 512, "%f", 1e200), "-1/14"},
      {Mb(en, 512, "%.200f", 1.0), "-1/14"},
      {Mb(en, 64, "%y", 1), "-1/22"},
      {Mb(en, 64, "%5"), "-1/15"},
      {Mb(en, 64, "%.!d", 1), "-1/45"},
      {Mb(en, 64, "%*d|%-*d|", 4, 1, 3, 2), "   1|2  |"},
      {Mb(en, 6, "%d", 12345), "12345"},
      {Mb(en, 5, "%d", 12345), "-1/14"},
      {Wc(en, 64, "%5.2f|%s", 3.14159, "x"), " 3.14|x"},
      {Wc(en, 5, "%d", 12345), "-1/14"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(cases[i].want, cases[i].got) << "case " << i;
  }
}

// A decimal point two columns wide: the run-time width shrinks so that the
// field keeps its display width.
TEST(NumberFormatting, TwoColumnDecimalPointKeepsTheFieldWidth) {
  GlLocale *ja = JaJp();
  GlText saved = ja->numeric.decimal_point;
  char mb[] = "\x81\x44\0\0\0";  // the full-width full stop of Shift_JIS
  GlWchar wc[] = {0x8144, 0};
  ja->numeric.decimal_point.mb = mb;
  ja->numeric.decimal_point.wc = wc;
  ASSERT_EQ(2, gl_wcwidth(ja, 0x8144));
  char out[64];
  ASSERT_EQ(6, gl_mbsprintf(ja, out, sizeof out, "%6.1f", 1.5));
  EXPECT_STREQ("  1\x81\x44" "5", out);
  EXPECT_EQ(6, gl_mbswidth(ja, out, 6));
  ja->numeric.decimal_point = saved;
}

// Every integer letter of the scan engine is signed, i reads base 10, and
// the '-' and '0' flags keep white space in front of the field.
TEST(NumberScanning, EdgeCases) {
  GlLocale *en = EnUs();
  int32_t a = -7, b = -7;
  int16_t h = 0;
  double d = 0;
  char s[32];
  GlWchar ws[8];

  en->error = 0;
  EXPECT_EQ(2, gl_mbsscanf(en, "12 34", "%d %d", &a, &b));
  EXPECT_EQ(12, a);
  EXPECT_EQ(34, b);
  EXPECT_EQ(1, gl_mbsscanf(en, "12 x", "%d %d", &a, &b));
  EXPECT_EQ(-1, gl_mbsscanf(en, "b5", "a%d", &a));
  EXPECT_EQ(22, en->error);
  EXPECT_EQ(1, gl_mbsscanf(en, "1 2", "%*d %d", &a));
  EXPECT_EQ(2, a);
  EXPECT_EQ(1, gl_mbsscanf(en, "abc 7", "%*s %d", &a));
  EXPECT_EQ(7, a);
  EXPECT_EQ(-1, gl_mbsscanf(en, "-5", "%u", &a));
  EXPECT_EQ(22, en->error);
  EXPECT_EQ(0, gl_mbsscanf(en, "-5", "%*u"));
  EXPECT_EQ(1, gl_mbsscanf(en, "-5", "%d", &a));
  EXPECT_EQ(-5, a);
  {
    TextSwap minus(&en->numeric.num_negative_sign, "~~");
    EXPECT_EQ(1, gl_mbsscanf(en, "~~5", "%d", &a));
    EXPECT_EQ(-5, a);
  }
  EXPECT_EQ(1, gl_mbsscanf(en, "70000", "%hd", &h));
  EXPECT_EQ(4464, h);
  EXPECT_EQ(1, gl_mbsscanf(en, "4294967297", "%ld", &a));
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, gl_mbsscanf(en, "12345", "%3d%d", &a, &b));
  EXPECT_EQ(123, a);
  EXPECT_EQ(45, b);
  EXPECT_EQ(1, gl_mbsscanf(en, "ff", "%x", &a));
  EXPECT_EQ(255, a);
  EXPECT_EQ(0, gl_mbsscanf(en, "ff", "%2x", &a));
  EXPECT_EQ(1, gl_mbsscanf(en, "0x1f", "%i", &a));
  EXPECT_EQ(0, a);  // base 10: the 0 only
  EXPECT_EQ(1, gl_mbsscanf(en, "2.5", "%f", &d));
  EXPECT_EQ(2.5, d);
  EXPECT_EQ(1, gl_mbsscanf(en, "1,234.5", "%'f", &d));
  EXPECT_EQ(1234.5, d);
  EXPECT_EQ(1, gl_mbsscanf(en, "1,234.5", "%f", &d));
  EXPECT_EQ(1.0, d);
  EXPECT_EQ(0, gl_mbsscanf(en, " 2.5", "%-f", &d));
  strcpy(s, "unchanged");
  EXPECT_EQ(1, gl_mbsscanf(en, " abc", "%-s", s));
  EXPECT_STREQ("", s);
  EXPECT_EQ(1, gl_mbsscanf(en, " 42", "%-d", &a));
  EXPECT_EQ(42, a);
  EXPECT_EQ(-1, gl_mbsscanf(en, "5", "%lld", &a));
  EXPECT_EQ(22, en->error);
  EXPECT_EQ(1, gl_mbsscanf(en, "abc def", "%s", s));
  EXPECT_STREQ("abc", s);
  EXPECT_EQ(1, gl_mbsscanf(en, "abc def", "%2s", s));
  EXPECT_STREQ("ab", s);
  EXPECT_EQ(1, gl_mbsscanf(en, "xyz", "%ls", ws));
  EXPECT_EQ(std::string("xyz"), Narrow(ws));
  EXPECT_EQ(0, gl_mbsscanf(en, "anything", ""));
  EXPECT_EQ(2, gl_mbsscanf(en, "q!r", "%c%%%c", s, s + 1));  // "%%" takes any character
  EXPECT_EQ('q', s[0]);
  EXPECT_EQ('r', s[1]);
  EXPECT_EQ(1, gl_mbsscanf(en, "x", "%c%c", s, s + 1));  // the second meets the end
  EXPECT_EQ(1, gl_mbsscanf(en, "x", "%c%%", s));
  EXPECT_EQ(-1, gl_mbsscanf(en, "abcd", "%3.1c", s));
  EXPECT_EQ(22, en->error);
  EXPECT_EQ(1, gl_mbsscanf(en, "abcd", "%3c", s));
  EXPECT_STREQ("abc", s);
  EXPECT_EQ(-1, gl_mbsscanf(en, "5", "%"));
  EXPECT_EQ(15, en->error);
  EXPECT_EQ(-1, gl_mbsscanf(en, "5", "%w", &a));
  EXPECT_EQ(22, en->error);
  // A floating field that does not fill its precision: error 45.
  EXPECT_EQ(0, gl_mbsscanf(en, "1.5", "%.5f", &d));
  EXPECT_EQ(45, en->error);
  EXPECT_EQ(1, gl_mbsscanf(en, "1.5  x", "%.5f", &d));
  // Out of range values go on with error 6.
  EXPECT_EQ(1, gl_mbsscanf(en, "99999999999999999999", "%d", &a));
  EXPECT_EQ(6, en->error);
  // Wide entries.
  auto in = W("-17 2.5");
  auto fmt = W("%x %f");
  EXPECT_EQ(2, gl_wcsscanf(en, in.data(), fmt.data(), &a, &d));
  EXPECT_EQ(-23, a);
  EXPECT_EQ(2.5, d);
}

TEST(NumberScanning, DecimalCommaAndGrouping) {
  GlLocale *de = DeDe();
  double d = 0;
  EXPECT_EQ(1, gl_mbsscanf(de, "1.234.567,5", "%'f", &d));
  EXPECT_EQ(1234567.5, d);
  EXPECT_EQ(1, gl_mbsscanf(de, "3,25", "%f", &d));
  EXPECT_EQ(3.25, d);
}

struct FieldCase {
  const char *in;
  int32_t base, width, precision;
  int32_t rc;
  uint32_t value;
  int32_t negative;
  int32_t consumed;
};

TEST(IntegerFieldReaders, WidthsAndPrecisions) {
  GlLocale *en = EnUs();
  const FieldCase cases[] = {
      {"-42", 10, 0, -1, 0, 42, 1, 3},
      {"1234", 10, 3, -1, 0, 123, 0, 3},
      {"ff", 16, 2, -1, -1, 0, 0, 0},
      {"ff", 16, 0, -1, 0, 255, 0, 2},
      {"  12", 10, 4, -1, 0, 12, 0, 4},     // spaces use up the width
      {"  12", 10, 2, -1, -1, 0, 0, 2},     // and the width runs out
      {"12  ", 10, 0, 4, 0, 12, 0, 4},      // blanks make up the precision
      {"12 x", 10, 0, 4, -1, 0, 0, 3},      // not enough blanks
      {"12", 10, 0, 2, 0, 12, 0, 2},
      {"-7 ", 10, 0, 3, 0, 7, 1, 3},        // the sign counts one
      {"7\n\n9", 10, 3, 3, 0, 7, 0, 3},    // spaces after the digits, one column each
      {"7   9", 10, 3, 3, -1, 0, 0, 4},     // blanks are skipped free and count nothing
      {"7\t\t9", 10, 3, -1, 0, 7, 0, 3},
      {"-", 10, 1, -1, -1, 0, 1, 1},        // the sign takes the whole width
      {"x", 10, 0, -1, -1, 0, 0, 0},
      {"99999999999", 10, 0, -1, 0, 4294967295u, 0, 11},
  };
  for (const FieldCase &c : cases) {
    SCOPED_TRACE(std::string(c.in) + " w" + std::to_string(c.width) + " p" +
                 std::to_string(c.precision));
    auto w = W(c.in);
    const GlWchar *p = w.data();
    uint32_t v = 0;
    int32_t neg = 0;
    en->error = 0;
    ASSERT_EQ(c.rc, _gl_scan_uint_field(en, &v, &neg, c.base, &p, c.width, c.precision));
    EXPECT_EQ(c.consumed, p - w.data());
    if (c.rc == 0) {
      EXPECT_EQ(c.value, v);
      EXPECT_EQ(c.negative, neg);
    }
  }
  // Past 64 bits: error 6, and the field still succeeds.
  auto big = W("99999999999999999999");
  const GlWchar *p = big.data();
  uint64_t v = 0;
  int32_t neg = 0;
  en->error = 0;
  EXPECT_EQ(0, _gl_scan_uint64_field(en, &v, &neg, 10, &p, 0, -1));
  EXPECT_EQ(6, en->error);
  EXPECT_EQ(UINT64_MAX, v);
  // The same with a width beyond the stack buffer.
  p = big.data();
  en->error = 0;
  EXPECT_EQ(0, _gl_scan_uint64_field(en, &v, &neg, 10, &p, 80, -1));
  EXPECT_EQ(6, en->error);
  EXPECT_EQ(UINT64_MAX, v);
}

TEST(IntegerFieldReaders, TwoColumnBlankUsesTwoColumnsOfTheWidth) {
  GlLocale *ja = JaJp();
  // The ideographic space of Shift_JIS, 0x8140, is a two-column space.
  ASSERT_EQ(2, gl_wcwidth(ja, 0x8140));
  GlWchar in[] = {0x8140, '1', '2', '3', 0};
  const GlWchar *p = in;
  uint32_t v = 0;
  int32_t neg = 0;
  ASSERT_EQ(0, _gl_scan_uint_field(ja, &v, &neg, 10, &p, 4, -1));
  EXPECT_EQ(12u, v);  // two columns left for digits
  EXPECT_EQ(3, p - in);
}

}  // namespace
