// Conversion specifications and integer fields: the parser's cases, the
// writer's departures from printf, a differential against the C library's
// snprintf, and grouping against "%'d" in en_US and en_IN.
#include <locale.h>
#include <stdio.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "locale/format/gl_fmtspec.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::EnUs;
using fmttest::GroupingSwap;
using fmttest::Narrow;
using fmttest::TextSwap;
using fmttest::W;

struct ParseCase {
  const char *text;  // after '%'
  int32_t rc;
  uint32_t flags;
  int32_t width;
  int32_t precision;
  int32_t justify;
  char pad;
  char next;  // the character the cursor stops on
};

TEST(FmtSpecTest, ParseCases) {
  GlLocale *loc = EnUs();
  const ParseCase cases[] = {
      {"0-5d", 0, GL_FMT_ZERO, 0, -1, 0, '0', '-'},  // the flags stop after '0'
      {"-05d", 0, GL_FMT_LEFT, 5, -1, -1, ' ', 'd'},
      {".d", 0, 0, 0, 0, 0, ' ', 'd'},
      {".5d", 0, 0, 0, 5, 0, ' ', 'd'},
      {"'+ #12.3x", 0, GL_FMT_GROUP | GL_FMT_PLUS | GL_FMT_SPACE | GL_FMT_ALT, 12, 3, 0, ' ', 'x'},
      {"*d", 0, GL_FMT_SUPPRESS, 0, -1, 0, ' ', 'd'},
      {".*d", 0, 0, 0, -1, 0, ' ', 'd'},  // no argument list: nothing read
      {"3$-4d", 0, GL_FMT_LEFT, 4, -1, -1, ' ', 'd'},
      {"12", 0, 0, 12, -1, 0, ' ', '\0'},
      {"2147483647d", 0, 0, 2147483647, -1, 0, ' ', 'd'},
      {".!d", -1, 0, 0, -1, 0, ' ', '.'},
      {"2147483648d", -1, 0, 0, -1, 0, ' ', '2'},
      {".99999999999d", -1, 0, 0, -1, 0, ' ', '.'},
  };
  for (const ParseCase &c : cases) {
    SCOPED_TRACE(c.text);
    auto w = W(c.text);
    const GlWchar *p = w.data();
    GlFormatSpec spec;
    _gl_fmtspec_preset(&spec);
    loc->error = 0;
    int32_t argpos = 0;
    ASSERT_EQ(c.rc, _gl_parse_fmtspec(loc, &p, &spec, &argpos, nullptr));
    if (c.rc != 0) {
      EXPECT_EQ(45, loc->error);
      continue;
    }
    EXPECT_EQ(c.flags, spec.flags);
    EXPECT_EQ(c.width, spec.width);
    EXPECT_EQ(c.precision, spec.precision);
    EXPECT_EQ(c.justify, spec.justify);
    EXPECT_EQ(static_cast<GlWchar>(c.pad), spec.pad);
    EXPECT_EQ(static_cast<GlWchar>(static_cast<unsigned char>(c.next)), *p);
    if (c.text[1] == '$') {
      EXPECT_EQ(3, argpos);
    }
  }
}

// Parses "%..." with an argument list.
int32_t ParseWithArgs(GlLocale *loc, const char *text, GlFormatSpec *spec, ...) {
  va_list ap;
  va_start(ap, spec);
  auto w = W(text);
  const GlWchar *p = w.data();
  _gl_fmtspec_preset(spec);
  spec->flags = GL_FMT_ARGWIDTH;
  int32_t rc = _gl_parse_fmtspec(loc, &p, spec, nullptr, &ap);
  va_end(ap);
  return rc;
}

TEST(FmtSpecTest, StarReadsTheArgumentList) {
  GlLocale *loc = EnUs();
  GlFormatSpec spec;
  ASSERT_EQ(0, ParseWithArgs(loc, "*.*d", &spec, 7, 3));
  EXPECT_EQ(7, spec.width);
  EXPECT_EQ(3, spec.precision);
  EXPECT_EQ(0u, spec.flags & GL_FMT_SUPPRESS);
  ASSERT_EQ(0, ParseWithArgs(loc, "*d", &spec, -6));
  EXPECT_EQ(6, spec.width);
  EXPECT_EQ(-1, spec.justify);
}

// Writes one field; the text, or "!" and the error number.
std::string Field(GlLocale *loc, uint64_t mag, int neg, int base, int32_t width, int32_t prec,
                  uint32_t flags, int32_t capacity = 200) {
  GlWchar buf[256];
  GlWchar *out = buf;
  int32_t count = 0;
  loc->error = 0;
  if (_gl_put_uint64_field(loc, mag, neg, base, &count, capacity, &out, width, prec, flags) != 0) {
    EXPECT_EQ(0, count);
    EXPECT_EQ(buf, out);
    return "!" + std::to_string(loc->error);
  }
  *out = 0;
  EXPECT_EQ(count, out - buf);
  return Narrow(buf);
}

TEST(FmtSpecTest, WriterCases) {
  GlLocale *loc = EnUs();
  TextSwap plus(&loc->numeric.num_positive_sign, "+");
  EXPECT_EQ("010", Field(loc, 8, 0, 8, 0, -1, GL_FMT_ALT));
  EXPECT_EQ("00", Field(loc, 0, 0, 8, 0, -1, GL_FMT_ALT));
  EXPECT_EQ("00000x1f", Field(loc, 31, 0, 16, 8, -1, GL_FMT_ALT | GL_FMT_ZERO));
  EXPECT_EQ("0X1F", Field(loc, 31, 0, 16, 0, -1, GL_FMT_ALT | GL_FMT_UPPER));
  EXPECT_EQ("0", Field(loc, 0, 0, 10, 0, 0, 0));
  EXPECT_EQ("123456", Field(loc, 123456, 0, 10, 3, -1, 0));  // never truncated
  EXPECT_EQ("-0042 ", Field(loc, 42, 1, 10, 6, 4, GL_FMT_LEFT));
  EXPECT_EQ("-00042", Field(loc, 42, 1, 10, 6, -1, GL_FMT_ZERO));
  EXPECT_EQ("  +42", Field(loc, 42, 0, 10, 5, -1, GL_FMT_PLUS));
  EXPECT_EQ(" 42", Field(loc, 42, 0, 10, 0, -1, GL_FMT_SPACE));
  EXPECT_EQ("z", Field(loc, 35, 0, 36, 0, -1, 0));
  EXPECT_EQ("!9", Field(loc, 35, 0, 37, 0, -1, 0));
  EXPECT_EQ("18446744073709551615", Field(loc, UINT64_MAX, 0, 10, 0, -1, 0));
  // Room: 5 characters fit into capacity 5, not into 4; a huge width is
  // refused without overflow.
  EXPECT_EQ("   42", Field(loc, 42, 0, 10, 5, -1, 0, 5));
  EXPECT_EQ("!14", Field(loc, 42, 0, 10, 5, -1, 0, 4));
  EXPECT_EQ("!14", Field(loc, 42, 0, 10, INT32_MAX, INT32_MAX, GL_FMT_ZERO));
  {
    TextSwap two(&loc->numeric.num_positive_sign, "pl");
    EXPECT_EQ("  7", Field(loc, 7, 0, 10, 0, -1, GL_FMT_SPACE));
  }
  {
    TextSwap none(&loc->numeric.num_positive_sign, "");
    EXPECT_EQ("7", Field(loc, 7, 0, 10, 0, -1, GL_FMT_SPACE));
  }
}

TEST(FmtSpecTest, GroupingCases) {
  GlLocale *loc = EnUs();
  TextSwap sep(&loc->numeric.thousands_sep, ",");
  {
    GroupingSwap g(loc->numeric.grouping, {3, 2});
    EXPECT_EQ("123", Field(loc, 123, 0, 10, 0, -1, GL_FMT_GROUP));
    EXPECT_EQ("1,234", Field(loc, 1234, 0, 10, 0, -1, GL_FMT_GROUP));
    EXPECT_EQ("1,23,456", Field(loc, 123456, 0, 10, 0, -1, GL_FMT_GROUP));
    EXPECT_EQ("12,34,567", Field(loc, 1234567, 0, 10, 0, -1, GL_FMT_GROUP));
  }
  {
    GroupingSwap g(loc->numeric.grouping, {3});
    EXPECT_EQ("1,234,567", Field(loc, 1234567, 0, 10, 0, -1, GL_FMT_GROUP));
    EXPECT_EQ("-001,234", Field(loc, 1234, 1, 10, 0, 6, GL_FMT_GROUP));
  }
  {
    GroupingSwap g(loc->numeric.grouping, {3, 0});  // 0 repeats the size before
    EXPECT_EQ("1,234,567", Field(loc, 1234567, 0, 10, 0, -1, GL_FMT_GROUP));
  }
  {
    GroupingSwap g(loc->numeric.grouping, {3, -1});  // -1 ends the grouping
    EXPECT_EQ("1234,567", Field(loc, 1234567, 0, 10, 0, -1, GL_FMT_GROUP));
  }
  {
    GroupingSwap g(loc->numeric.grouping, {});
    EXPECT_EQ("1234567", Field(loc, 1234567, 0, 10, 0, -1, GL_FMT_GROUP));
  }
  {
    TextSwap wide_sep(&loc->numeric.thousands_sep, "::");
    GroupingSwap g(loc->numeric.grouping, {3});
    EXPECT_EQ("  1::234", Field(loc, 1234, 0, 10, 8, -1, GL_FMT_GROUP));
  }
}

// Random integer specifications against snprintf in the C locale, with
// the locale's positive sign "+". Left out, as the writer defines them
// otherwise: '0' with a precision (zeros pad here), 0 with precision 0
// (written as 0 here), '#' with 0, and '#' with '0' in base 16 (the pad
// zeros stand before "0x" here).
TEST(FmtSpecTest, MatchesSnprintf) {
  GlLocale *loc = EnUs();
  TextSwap plus(&loc->numeric.num_positive_sign, "+");
  TextSwap minus(&loc->numeric.num_negative_sign, "-");
  std::mt19937_64 rng(20261210);
  const int64_t edges[] = {0, 1, -1, 7, 8, 31, 255, INT32_MAX, INT32_MIN, 1000000};
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    char conv = "doxX"[rng() % 4];
    std::string flags;
    if (rng() % 3 == 0) flags += '-';
    if (conv == 'd' && rng() % 3 == 0) flags += '+';
    if (conv == 'd' && rng() % 4 == 0) flags += ' ';
    if (conv != 'd' && rng() % 3 == 0) flags += '#';
    if (rng() % 3 == 0) flags += '0';
    int width = rng() % 3 == 0 ? -1 : static_cast<int>(rng() % 22);
    int prec = rng() % 2 == 0 ? -1 : static_cast<int>(rng() % 14);
    int64_t value = rng() % 4 == 0 ? edges[rng() % 10] : static_cast<int32_t>(rng());
    if (rng() % 3 == 0) value %= 1000;
    uint32_t uvalue = static_cast<uint32_t>(value);
    bool zero_flag = flags.find('0') != std::string::npos && flags.find('-') == std::string::npos;
    bool alt = flags.find('#') != std::string::npos;
    if (zero_flag && prec >= 0) continue;
    if (prec == 0 && (conv == 'd' ? value == 0 : uvalue == 0)) continue;
    if (alt && uvalue == 0) continue;
    if (alt && zero_flag && conv != 'o') continue;
    std::string spec = flags + (width >= 0 ? std::to_string(width) : "") +
                       (prec >= 0 ? "." + std::to_string(prec) : "");
    std::string printf_fmt = "%" + spec + conv;
    char want[128];
    if (conv == 'd') {
      snprintf(want, sizeof want, printf_fmt.c_str(), static_cast<int>(value));
    } else {
      snprintf(want, sizeof want, printf_fmt.c_str(), uvalue);
    }
    auto w = W(spec + conv);
    const GlWchar *p = w.data();
    GlFormatSpec s;
    _gl_fmtspec_preset(&s);
    ASSERT_EQ(0, _gl_parse_fmtspec(loc, &p, &s, nullptr, nullptr)) << printf_fmt;
    ASSERT_EQ(static_cast<GlWchar>(conv), *p) << printf_fmt;
    uint32_t f = s.flags | (conv == 'X' ? GL_FMT_UPPER : 0);
    int base = conv == 'd' ? 10 : conv == 'o' ? 8 : 16;
    bool neg = conv == 'd' && value < 0;
    uint64_t mag = conv == 'd' ? (neg ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value))
                               : uvalue;
    EXPECT_EQ(want, Field(loc, mag, neg, base, s.width, s.precision, f)) << printf_fmt << " " << value;
    ++compared;
  }
  EXPECT_GT(compared, 10000);
}

// "%'d" of the C library in en_US (groups of 3) and en_IN (3, then 2),
// the latter standing against a locale with the grouping list {3, 2}.
TEST(FmtSpecTest, GroupingMatchesTheCLibrary) {
  GlLocale *loc = EnUs();
  TextSwap sep(&loc->numeric.thousands_sep, ",");
  TextSwap minus(&loc->numeric.num_negative_sign, "-");
  struct Oracle {
    const char *source;
    std::vector<int32_t> grouping;
  } oracles[] = {{"en_US", {3, 3}}, {"en_IN", {3, 2}}};
  std::mt19937 rng(7);
  for (const Oracle &o : oracles) {
    SCOPED_TRACE(o.source);
    locale_t c = fmttest::Glibc(o.source, "UTF-8");
    ASSERT_NE(c, static_cast<locale_t>(nullptr)) << "localedef " << o.source;
    GroupingSwap g(loc->numeric.grouping, o.grouping);
    locale_t old = uselocale(c);
    for (int i = 0; i < 3000; ++i) {
      int32_t value = static_cast<int32_t>(rng());
      value >>= rng() % 31;
      int width = static_cast<int>(rng() % 20);
      char want[64];
      snprintf(want, sizeof want, "%'*d", width, value);
      bool neg = value < 0;
      uint64_t mag = neg ? static_cast<uint64_t>(-static_cast<int64_t>(value)) : value;
      EXPECT_EQ(want, Field(loc, mag, neg, 10, width, -1, GL_FMT_GROUP)) << value;
    }
    uselocale(old);
  }
}

}  // namespace
