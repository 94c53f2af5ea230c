// Text and number conversion: the defined cases (grouping, decimal comma,
// sentinels, refusals), and random texts against the C library's strtol,
// strtoul, strtoull and strtod (value, end and errno).
#include <errno.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "locale/format/gl_numconv.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::DeDe;
using fmttest::EnUs;
using fmttest::GroupingSwap;
using fmttest::Narrow;
using fmttest::TextSwap;
using fmttest::W;

struct Read {
  uint64_t value;
  int32_t end;  // characters taken, -1 for no end
  int err;      // errno
  int32_t error;
};

Read ReadL(GlLocale *loc, const std::string &s, int base, int grouping) {
  auto w = W(s);
  GlWchar *end = nullptr;
  loc->error = 0;
  errno = 12345;
  int32_t v = gl_wcstol(loc, w.data(), &end, base, grouping);
  return {static_cast<uint64_t>(static_cast<int64_t>(v)), static_cast<int32_t>(end - w.data()),
          errno, loc->error};
}

Read ReadULL(GlLocale *loc, const std::string &s, int base, int grouping) {
  auto w = W(s);
  GlWchar *end = nullptr;
  loc->error = 0;
  errno = 12345;
  uint64_t v = gl_wcstoull(loc, w.data(), &end, base, grouping);
  return {v, static_cast<int32_t>(end - w.data()), errno, loc->error};
}

double ReadD(GlLocale *loc, const std::string &s, int grouping, int32_t *end_at) {
  auto w = W(s);
  GlWchar *end = nullptr;
  loc->error = 0;
  double v = gl_wcstod(loc, w.data(), &end, grouping);
  *end_at = static_cast<int32_t>(end - w.data());
  return v;
}

TEST(NumConvTest, IntegerCases) {
  GlLocale *loc = EnUs();
  Read r = ReadL(loc, "  -42xyz", 10, 0);
  EXPECT_EQ(static_cast<uint64_t>(-42), r.value);
  EXPECT_EQ(5, r.end);
  EXPECT_EQ(0, r.err);  // errno is set to 0 first
  {
    TextSwap neg(&loc->numeric.num_negative_sign, "neg");
    r = ReadL(loc, "neg42", 10, 0);
    EXPECT_EQ(static_cast<uint64_t>(-42), r.value);
    EXPECT_EQ(5, r.end);
  }
  // Nothing taken: the end stands after the spaces.
  r = ReadL(loc, "   z", 10, 0);
  EXPECT_EQ(0u, r.value);
  EXPECT_EQ(3, r.end);

  r = ReadULL(loc, "0x1f", 0, 0);
  EXPECT_EQ(31u, r.value);
  r = ReadULL(loc, "017", 0, 0);
  EXPECT_EQ(15u, r.value);
  r = ReadULL(loc, "+0x1f", 0, 0);  // a sign makes base 0 read base 10
  EXPECT_EQ(0u, r.value);
  EXPECT_EQ(2, r.end);
  r = ReadULL(loc, "18446744073709551615", 10, 0);
  EXPECT_EQ(UINT64_MAX, r.value);
  EXPECT_EQ(0, r.err);
  r = ReadULL(loc, "184467440737095516159", 10, 0);
  EXPECT_EQ(UINT64_MAX, r.value);
  EXPECT_EQ(ERANGE, r.err);
  EXPECT_EQ(20, r.end);  // the number ends at the digit that overflows
  r = ReadULL(loc, "-1", 10, 0);
  EXPECT_EQ(UINT64_MAX, r.value);
  EXPECT_EQ(0, r.err);
  r = ReadULL(loc, "12", 37, 0);
  EXPECT_EQ(0u, r.value);
  EXPECT_EQ(EINVAL, r.err);

  // 255 characters or more are refused by the unsigned readers.
  std::string long_text(255, '1');
  r = ReadULL(loc, long_text, 10, 0);
  EXPECT_EQ(UINT64_MAX, r.value);
  EXPECT_EQ(7, r.error);
  auto w = W(long_text);
  EXPECT_EQ(2147483647u, gl_wcstoul(loc, w.data(), nullptr, 10, 0));
  EXPECT_EQ(7, loc->error);
  w = W(std::string(253, '0') + "7");
  EXPECT_EQ(7u, gl_wcstoul(loc, w.data(), nullptr, 10, 0));
  // gl_wcstol copies up to a full working text and still converts.
  w = W(std::string(300, '0') + "7");
  errno = 0;
  EXPECT_EQ(0, gl_wcstol(loc, w.data(), nullptr, 10, 0));
  EXPECT_EQ(14, loc->error);
}

TEST(NumConvTest, GroupedIntegers) {
  GlLocale *loc = EnUs();  // separator ',', groups of 3
  Read r = ReadL(loc, "1,234,567", 10, 1);
  EXPECT_EQ(1234567u, r.value);
  EXPECT_EQ(9, r.end);
  r = ReadL(loc, "-1,234", 10, 1);
  EXPECT_EQ(static_cast<uint64_t>(-1234), r.value);
  EXPECT_EQ(6, r.end);
  r = ReadL(loc, "1234567", 10, 1);
  EXPECT_EQ(2147483647u, r.value);
  EXPECT_EQ(7, r.error);
  r = ReadL(loc, "12,34", 10, 1);  // a separator off a group boundary ends the number
  EXPECT_EQ(12u, r.value);
  EXPECT_EQ(2, r.end);
  r = ReadL(loc, "1,234 and more", 10, 1);  // a grouped number must end the text
  EXPECT_EQ(7, r.error);
  r = ReadULL(loc, "18,446,744,073,709,551,615", 10, 1);
  EXPECT_EQ(UINT64_MAX, r.value);
  EXPECT_EQ(26, r.end);
  {
    GroupingSwap g(loc->numeric.grouping, {3, 2});
    r = ReadL(loc, "12,34,567", 10, 1);
    EXPECT_EQ(1234567u, r.value);
    r = ReadL(loc, "1,234,567", 10, 1);
    EXPECT_EQ(7, r.error);
  }
  const char *text = "1,234";
  char *end = nullptr;
  EXPECT_EQ(1234, gl_mbstol(loc, text, &end, 10, 1));
  EXPECT_EQ(text + 5, end);
}

TEST(NumConvTest, MultibyteSentinels) {
  GlLocale *loc = EnUs();
  char *end = nullptr;
  loc->error = 0;
  EXPECT_EQ(2147483647, gl_mbstol(loc, "", &end, 10, 0));
  EXPECT_EQ(6, loc->error);
  EXPECT_EQ(nullptr, end);
  for (const char *s : {"99999999999", "-99999999999"}) {
    loc->error = 0;
    EXPECT_EQ(2147483647, gl_mbstol(loc, s, nullptr, 10, 0)) << s;
    EXPECT_EQ(6, loc->error) << s;
  }
  loc->error = 0;
  EXPECT_EQ(4294967295u, gl_mbstoul(loc, "4294967296", nullptr, 10, 0));
  EXPECT_EQ(6, loc->error);
  loc->error = 0;
  EXPECT_EQ(2147483647.0, gl_mbstod(loc, "1e999", nullptr, 0));
  EXPECT_EQ(6, loc->error);
  const char *text = "  -77 rest";
  EXPECT_EQ(-77, gl_mbstol(loc, text, &end, 10, 0));
  EXPECT_EQ(text + 5, end);
}

TEST(NumConvTest, DecimalComma) {
  GlLocale *loc = DeDe();  // decimal point ',', separator '.', groups of 3
  int32_t end = 0;
  EXPECT_EQ(3.25, ReadD(loc, "3,25", 0, &end));
  EXPECT_EQ(4, end);
  EXPECT_EQ(3.0, ReadD(loc, "3.25", 0, &end));
  EXPECT_EQ(1, end);
  EXPECT_EQ(1234.5, ReadD(loc, "1.234,5", 1, &end));
  EXPECT_EQ(7, end);
  EXPECT_EQ(-1234567.25, ReadD(loc, " -1.234.567,25e0", 1, &end));
  EXPECT_EQ(16, end);
  EXPECT_EQ(0.5, ReadD(loc, ",5", 0, &end));
  EXPECT_EQ(0.0, ReadD(loc, "1234,5", 1, &end));  // missing separator
  EXPECT_EQ(7, loc->error);
  EXPECT_EQ(0, end);
  EXPECT_EQ(0.0, ReadD(loc, "abc", 0, &end));
  EXPECT_EQ(0, end);
  EXPECT_EQ(0.0, ReadD(loc, ",", 0, &end));
  EXPECT_EQ(46, loc->error);
  EXPECT_EQ(25.0, ReadD(loc, "2,5e1", 0, &end));
  EXPECT_EQ(2.0, ReadD(loc, "2e+", 0, &end));  // no digit after the exponent sign
  EXPECT_EQ(1, end);
  // A working text longer than 255 characters is cut, not overrun.
  std::string huge = "1," + std::string(400, '5') + "e5";
  double v = ReadD(loc, huge, 0, &end);
  EXPECT_EQ(14, loc->error);
  EXPECT_GT(v, 1.5);
  // Monetary conventions read the monetary decimal point.
  auto w = W("12,50");
  EXPECT_EQ(12.5, gl_wcstod_num_mon(loc, w.data(), nullptr, 0, 1));
}

// The C library's answers, brought to this library's sizes: a 32-bit long.
struct Expect {
  uint64_t value;
  int32_t end;
  int err;
};

Expect CStrtol(const std::string &s, int base) {
  char *e = nullptr;
  errno = 0;
  long long v = strtoll(s.c_str(), &e, base);
  int err = errno;
  if (v > INT32_MAX) v = INT32_MAX, err = ERANGE;
  if (v < INT32_MIN) v = INT32_MIN, err = ERANGE;
  return {static_cast<uint64_t>(v), static_cast<int32_t>(e - s.c_str()), err};
}

Expect CStrtoul32(const std::string &s, int base) {
  char *e = nullptr;
  errno = 0;
  unsigned long long v = strtoull(s.c_str(), &e, base);
  int err = errno;
  size_t i = s.find_first_not_of(" \t\n\v\f\r");
  bool negative = i != std::string::npos && s[i] == '-' && e != s.c_str();
  uint64_t magnitude = negative ? 0 - v : v;
  if (err == ERANGE || magnitude > UINT32_MAX) return {UINT32_MAX, static_cast<int32_t>(e - s.c_str()), ERANGE};
  uint32_t r = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
  return {r, static_cast<int32_t>(e - s.c_str()), err};
}

int32_t AfterSpaces(const std::string &s) {
  size_t i = s.find_first_not_of(" \t\n\v\f\r");
  return static_cast<int32_t>(i == std::string::npos ? s.size() : i);
}

std::string RandomText(std::mt19937 &rng, const char *alphabet) {
  std::string s;
  int n = static_cast<int>(rng() % 14);
  size_t a = strlen(alphabet);
  for (int i = 0; i < n; ++i) s += alphabet[rng() % a];
  if (rng() % 4 == 0) s = std::to_string(static_cast<uint64_t>(rng()) * rng()) + s;
  if (rng() % 5 == 0) s = " " + s;
  if (rng() % 6 == 0) s = "-" + s;
  return s;
}

TEST(NumConvTest, IntegersMatchTheCLibrary) {
  GlLocale *loc = EnUs();
  std::mt19937 rng(42);
  const int bases[] = {0, 2, 8, 10, 16, 36};
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string s = RandomText(rng, " +-0123456789abcdefxXzZ");
    int base = bases[rng() % 6];
    SCOPED_TRACE("'" + s + "' base " + std::to_string(base));
    int32_t spaces = AfterSpaces(s);

    Expect want = CStrtol(s, base);
    Read got = ReadL(loc, s, base, 0);
    EXPECT_EQ(want.value, got.value);
    EXPECT_EQ(want.err, got.err);
    EXPECT_EQ(want.end == 0 ? spaces : want.end, got.end);

    want = CStrtoul32(s, base);
    auto w = W(s);
    GlWchar *wend = nullptr;
    uint32_t ul = gl_wcstoul(loc, w.data(), &wend, base, 0);
    EXPECT_EQ(want.value, ul);
    EXPECT_EQ(want.err, errno);
    EXPECT_EQ(want.end == 0 ? spaces : want.end, wend - w.data());

    // The 64-bit reader: base 0 with a sign reads base 10, no digits is
    // EINVAL with the end after the sign, an overflow ends the number.
    size_t first = s.find_first_not_of(" \t\n\v\f\r");
    bool sign = first != std::string::npos && (s[first] == '-' || s[first] == '+');
    char *e = nullptr;
    errno = 0;
    uint64_t ull = strtoull(s.c_str(), &e, base == 0 && sign ? 10 : base);
    int err = errno;
    got = ReadULL(loc, s, base, 0);
    EXPECT_EQ(ull, got.value);
    if (e == s.c_str()) {
      EXPECT_EQ(EINVAL, got.err);
      EXPECT_EQ(spaces + (sign ? 1 : 0), got.end);
    } else {
      EXPECT_EQ(err, got.err);
      if (err != ERANGE) {
        EXPECT_EQ(e - s.c_str(), got.end);
      }
    }

    if (!s.empty()) {
      Expect l = CStrtol(s, base);
      char *mend = nullptr;
      loc->error = 0;
      int32_t m = gl_mbstol(loc, s.c_str(), &mend, base, 0);
      EXPECT_EQ(l.err == ERANGE ? 2147483647 : static_cast<int32_t>(l.value), m);
      if (l.err != ERANGE) {
        EXPECT_EQ(l.end == 0 ? spaces : l.end, mend - s.c_str());
      }
      Expect u = CStrtoul32(s, base);
      uint32_t mu = gl_mbstoul(loc, s.c_str(), nullptr, base, 0);
      EXPECT_EQ(u.err == ERANGE ? 4294967295u : u.value, mu);
    }
    ++compared;
  }
  EXPECT_EQ(4000, compared);
}

TEST(NumConvTest, DoublesMatchTheCLibrary) {
  GlLocale *loc = EnUs();
  locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  std::mt19937 rng(99);
  for (int i = 0; i < 6000; ++i) {
    std::string s = RandomText(rng, " +-0123456789..eEa");
    if (rng() % 3 == 0) s += "e" + std::to_string(static_cast<int>(rng() % 700) - 350);
    SCOPED_TRACE("'" + s + "'");
    char *e = nullptr;
    errno = 0;
    double want = strtod_l(s.c_str(), &e, c);
    int err = errno;
    auto w = W(s);
    GlWchar *wend = nullptr;
    loc->error = 0;
    double got = gl_wcstod(loc, w.data(), &wend, 0);
    EXPECT_EQ(want, got);
    EXPECT_EQ(err, errno);
    EXPECT_EQ(e - s.c_str(), wend - w.data());
    if (!s.empty()) {
      char *mend = nullptr;
      double m = gl_mbstod(loc, s.c_str(), &mend, 0);
      EXPECT_EQ(err == ERANGE ? 2147483647.0 : want, m);
    }
  }
  freelocale(c);
}

// Integers to text in every base: read back by the C library's strtol;
// grouped decimal text against "%'d" in de_DE.
TEST(NumConvTest, IntegerToText) {
  GlLocale *loc = DeDe();
  locale_t de = fmttest::Glibc("de_DE", "ISO-8859-1");
  ASSERT_NE(de, static_cast<locale_t>(nullptr));
  std::mt19937 rng(5);
  GlWchar buf[256];
  char mb[256];
  std::vector<int32_t> values = {0, 1, -1, INT32_MIN, INT32_MAX, -1234};
  for (int i = 0; i < 400; ++i) values.push_back(static_cast<int32_t>(rng()) >> (rng() % 31));
  for (int32_t v : values) {
    for (int base = 2; base <= 36; ++base) {
      ASSERT_GE(gl_ltowcs(loc, buf, 256, v, base, 0), 1);
      std::string text = Narrow(buf);
      EXPECT_EQ(v, strtoll(text.c_str(), nullptr, base)) << text << " base " << base;
      EXPECT_EQ(std::string::npos, text.find_first_of("abcdefghijklmnopqrstuvwxyz")) << text;
      EXPECT_TRUE(text == "0" || text[text[0] == '-' ? 1 : 0] != '0') << text;
      uint32_t u = static_cast<uint32_t>(v);
      gl_ultowcs(loc, buf, 256, u, base, 0);
      EXPECT_EQ(u, strtoull(Narrow(buf).c_str(), nullptr, base));
    }
    char want[64];
    locale_t old = uselocale(de);
    snprintf(want, sizeof want, "%'d", v);
    uselocale(old);
    gl_ltowcs(loc, buf, 256, v, 10, 1);
    EXPECT_EQ(want, Narrow(buf));
    EXPECT_EQ(static_cast<int32_t>(strlen(want)), gl_ltombs(loc, mb, sizeof mb, v, 10, 1));
    EXPECT_STREQ(want, mb);
  }
  // The defined cases.
  gl_ltowcs(loc, buf, 256, -1234, 10, 1);
  EXPECT_EQ("-1.234", Narrow(buf));
  gl_ltowcs(loc, buf, 256, -1234, 16, 0);
  EXPECT_EQ("-4D2", Narrow(buf));
  EXPECT_EQ(0, gl_ltowcs(loc, buf, 256, 5, 1, 0));
  EXPECT_EQ("", Narrow(buf));
  gl_ltowcs(loc, buf, 256, INT32_MIN, 10, 0);
  EXPECT_EQ("-2147483648", Narrow(buf));
  gl_ultowcs(loc, buf, 256, 4294967295u, 10, 1);
  EXPECT_EQ("4.294.967.295", Narrow(buf));
  // Too small: cut without grouping, empty with it.
  gl_ltowcs(loc, buf, 4, 123456, 10, 0);
  EXPECT_EQ("123", Narrow(buf));
  gl_ltowcs(loc, buf, 7, 123456, 10, 1);
  EXPECT_EQ("", Narrow(buf));
  gl_ltowcs(loc, buf, 8, 123456, 10, 1);
  EXPECT_EQ("123.456", Narrow(buf));
  EXPECT_EQ(21, gl_ltombs(loc, mb, sizeof mb, 1234567, 2, 0));
  EXPECT_STREQ("100101101011010000111", mb);
}

}  // namespace
