// Money formatting and parsing: the layout table, the edge cases on two
// small hand-written monetary sections ("$", grouping {3}, "." and ",", an
// empty positive sign and "-", sign positions 1 and 1, then 1 and 0), and
// amounts written and read back in those and the generated locales.
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "locale/format/gl_fmon.h"
#include "locale/format/gl_pmon.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::DeDe;
using fmttest::EnUs;
using fmttest::Narrow;
using fmttest::TextSwap;
using fmttest::W;

// The generated en_us file with its LC_MONETARY section replaced.
GlLocale *WithMonetary(const std::string &section) {
  static std::map<std::string, lcotest::LocalePtr> made;
  auto it = made.find(section);
  if (it != made.end()) return it->second.get();
  EnUs();  // the build tree is in use
  std::string path = tevtest::BuildTree() + "/lxr/lc11/en_us/0333.lco";
  FILE *f = fopen(path.c_str(), "re");
  EXPECT_NE(nullptr, f) << path;
  std::string text;
  char buf[4096];
  for (size_t n; f != nullptr && (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  if (f != nullptr) fclose(f);
  size_t from = text.find("### LC_MONETARY\n");
  size_t to = text.find("### LC_TIME\n");
  EXPECT_NE(std::string::npos, from);
  text = text.substr(0, from) + "### LC_MONETARY\n" + section + text.substr(to);
  FILE *g = lcotest::Stream(text);
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  EXPECT_EQ(0, _gl_lco_read_all(g, loc)) << loc->error;
  fclose(g);
  EXPECT_EQ(0, _gl_locale_refresh(loc));
  return made.emplace(section, lcotest::LocalePtr(loc)).first->second.get();
}

// int_curr_symbol "USD ", "$", ".", ",", {3}, "", "-", 2 and 2 fraction
// digits, cs_precedes 1, sep_by_space 0, then the sign positions.
const char kMoney[] =
    "4 55534420\n1 24\n1 2e\n1 2c\n1 3\n0\n1 2d\n2\n2\n1\n0\n1\n0\n1\n";
GlLocale *Fmon() { return WithMonetary(std::string(kMoney) + "1\n"); }
GlLocale *Pmon() { return WithMonetary(std::string(kMoney) + "0\n"); }

template <typename... A>
std::string Fm(GlLocale *loc, int32_t size, const char *format, A... args) {
  char out[600];
  loc->error = 0;
  int32_t r = gl_mbsfmon(loc, out, size, format, args...);
  if (r < 0) return "-1/" + std::to_string(loc->error);
  EXPECT_EQ(static_cast<size_t>(r), strlen(out));
  return out;
}

TEST(MoneyLayout, EveryCellOfBothTables) {
  // The pieces: ( S V G _ ) as codes 1 2 3 4 5 6.
  const char *const table[2][5][3] = {
      {{"(VS)", "(V_S)", "(VS)"}, {"GVS", "GV_S", "GVS"}, {"VSG", "V_SG", "VS_G"},
       {"VGS", "V_GS", "VG_S"}, {"VSG", "V_SG", "VS_G"}},
      {{"(SV)", "(S_V)", "(SV)"}, {"GSV", "GS_V", "G_SV"}, {"SVG", "S_VG", "SVG"},
       {"GSV", "GS_V", "G_SV"}, {"SGV", "SG_V", "S_GV"}},
  };
  const std::string codes = " (SVG_)";
  for (int cs = 0; cs < 2; ++cs) {
    for (int posn = 0; posn < 5; ++posn) {
      for (int sep = 0; sep < 3; ++sep) {
        int32_t layout[7];
        ASSERT_EQ(0, _gl_money_layout(layout, cs, posn, sep));
        std::string got;
        for (int i = 0; i < 7 && layout[i] != 0; ++i) got += codes[layout[i]];
        EXPECT_EQ(table[cs][posn][sep], got) << cs << posn << sep;
      }
    }
  }
  int32_t layout[7];
  const int32_t outside[][3] = {{2, 1, 0}, {-1, 1, 0}, {1, 5, 0}, {1, -1, 0},
                                {0, 0, 3}, {0, 0, -1}, {127, 127, 127}};
  for (const auto &o : outside) {
    EXPECT_EQ(-1, _gl_money_layout(layout, o[0], o[1], o[2]));
    EXPECT_EQ(0, layout[0]);
  }
}

TEST(MoneyFormatting, EdgeCases) {
  GlLocale *m = Fmon();
  struct Case {
    std::string got, want;
  } cases[] = {
      {Fm(m, 64, "%n", 1234.567), "$1,234.57"},
      {Fm(m, 64, "%^n", 1234.567), "$1234.57"},
      {Fm(m, 64, "%.0n", 1234.567), "$1,235"},
      {Fm(m, 64, "%i", 5.0), "USD 5.00"},
      // Alignment by left precision over both layouts.
      {Fm(m, 64, "%#5n", 12.5), " $    12.50"},
      {Fm(m, 64, "%=*#5n", 12.5), " $****12.50"},
      {Fm(m, 64, "%#5n", -12.5), "-$    12.50"},
      {Fm(m, 64, "%#3n", 12345.0), " $12,345.00"},
      {Fm(m, 64, "%(n", -3.0), "($3.00)"},
      {Fm(m, 64, "%n", -3.0), "-$3.00"},
      {Fm(m, 64, "%(n %n", -3.0, -3.0), "($3.00) -$3.00"},
      {Fm(m, 64, "%+(n", -3.0), "($3.00)"},
      {Fm(m, 64, "%(+n", -3.0), "-$3.00"},
      {Fm(m, 64, "%n", 9.995), "$10.00"},
      {Fm(m, 64, "%n", 0.125), "$0.13"},
      {Fm(m, 64, "%n", 999.999), "$1,000.00"},
      {Fm(m, 64, "%n", -0.0), "$0.00"},
      {Fm(m, 64, "%!n", 5.0), "5.00"},
      {Fm(m, 64, "%-12n|", 5.0), "$5.00       |"},
      {Fm(m, 64, "%12n|", -5.0), "      -$5.00|"},
      {Fm(m, 64, "%n|%n", 1.0, 2.0), "$1.00|$2.00"},
      {Fm(m, 64, "a%%b"), "a%b"},
      {Fm(m, 64, "%d", 1.0), "-1/20"},
      {Fm(m, 5, "%n", 5.0), "-1/14"},  // the terminator needs room too
      {Fm(m, 6, "%n", 5.0), "$5.00"},
      {Fm(m, 3, "abc"), "-1/14"},
      // What the work areas cannot hold fails instead of losing pieces.
      {Fm(m, 600, "%n", 1e250), "-1/14"},
      {Fm(m, 600, "%#300n", 1.0), "-1/14"},
      {Fm(m, 600, "%.300n", 1.0), "-1/14"},
      {Fm(m, 600, "%300n", 1.0), "-1/14"},
      // 1e150 prints as 150 digits: with 49 separators, ".00" and "$", 203.
      {std::to_string(Fm(m, 600, "%n", 1e150).size()), "203"},
      {Fm(m, 600, "%n", 1e200), "-1/14"},  // grouped, past its work area
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(cases[i].want, cases[i].got) << "case " << i;
  }
  // Fraction digits the locale does not give count as 2.
  int32_t saved = m->numeric.frac_digits;
  m->numeric.frac_digits = INT_MAX;
  EXPECT_EQ("$1.50", Fm(m, 64, "%n", 1.5));
  m->numeric.frac_digits = saved;
  // A value without digits to show, and a locale without valid sign and
  // symbol positions (the positive layout falls back to sign, symbol,
  // value) never give a text without its amount.
  EXPECT_EQ("-1/9", Fm(m, 64, "%n", static_cast<double>(INFINITY)));
  EXPECT_EQ("-1/9", Fm(m, 64, "%n", static_cast<double>(NAN)));
  saved = m->numeric.p_cs_precedes;
  m->numeric.p_cs_precedes = INT_MAX;
  EXPECT_EQ("$5.00", Fm(m, 64, "%n", 5.0));
  m->numeric.p_cs_precedes = saved;
  // The wide entry.
  GlWchar out[64];
  auto f = W("%n");
  EXPECT_EQ(6, gl_wcsfmon(m, out, 64, f.data(), -3.0));
  EXPECT_EQ("-$3.00", Narrow(out));
}

TEST(MoneyFormatting, GermanAmounts) {
  GlLocale *de = DeDe();
  EXPECT_EQ("1.234,57 EUR", Fm(de, 64, "%n", 1234.567));
  EXPECT_EQ("-1.234,57 EUR", Fm(de, 64, "%n", -1234.567));
}

struct ParseResult {
  bool ok;
  double value;
  long consumed;
  int32_t error;
};

ParseResult Parse(GlLocale *loc, const char *text, const char *format) {
  double v = -999;
  loc->error = 0;
  char *end = gl_mbspmon(loc, text, format, &v);
  if (end == nullptr) return {false, v, -1, loc->error};
  return {true, v, end - text, 0};
}

TEST(MoneyParsing, EdgeCases) {
  GlLocale *m = Pmon();
  struct Case {
    const char *text, *format;
    bool ok;
    double value;
    long consumed;
    int32_t error;
  } cases[] = {
      {"$12.50", "%n", true, 12.5, 6, 0},
      {"($12.50)", "%n", true, -12.5, 8, 0},
      {"12.50", "%n", true, 12.5, 5, 0},
      {"abc", "%n", false, 0, -1, 9},
      {"$3", "%x", false, 0, -1, 22},
      {"%$3", "%%%n", true, 3, 3, 0},
      {"#$3", "%%%n", false, 0, -1, 22},
      {"$12.50rest", "%5n", true, 12.5, 5, 0},
      {"$1,234.50", "%'n", true, 1234.5, 9, 0},
      {"$1,234.50", "%n", true, 1, 2, 0},
      {"  $7.25", "%n", true, 7.25, 7, 0},
      {"USD 4.00", "%i", true, 4, 8, 0},
      {"$3", "%", false, 0, -1, 22},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.format);
    ParseResult r = Parse(m, c.text, c.format);
    ASSERT_EQ(c.ok, r.ok);
    if (c.ok) {
      EXPECT_EQ(c.value, r.value);
      EXPECT_EQ(c.consumed, r.consumed);
    } else {
      EXPECT_EQ(c.error, r.error);
    }
  }
  {
    TextSwap plus(&m->numeric.positive_sign, "+");
    ParseResult r = Parse(m, "$12.50", "%n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(12.5, r.value);
  }
  // Two conversions with widths each count their width from 0.
  double a = 0, b = 0;
  const char *text = "$1.5$2.5";
  char *end = gl_mbspmon(m, text, "%4n%4n", &a, &b);
  ASSERT_NE(nullptr, end);
  EXPECT_EQ(8, end - text);
  EXPECT_EQ(1.5, a);
  EXPECT_EQ(2.5, b);
  // The wide entry.
  auto wt = W("($0.75)");
  auto wf = W("%n");
  GlWchar *wend = gl_wcspmon(m, wt.data(), wf.data(), &a);
  ASSERT_NE(nullptr, wend);
  EXPECT_EQ(7, wend - wt.data());
  EXPECT_EQ(-0.75, a);
}

// Amounts of whole cents written with %n (and %(n where the negative
// layout has parentheses) read back with %'n to the same amount.
TEST(MoneyParsing, RoundTrip) {
  unsigned seed = std::random_device{}();
  printf("seed %u\n", seed);
  std::mt19937_64 rng(seed);
  struct Where {
    const char *name;
    GlLocale *loc;
    const char *format;
  } where[] = {{"fixture 1", Fmon(), "%n"}, {"fixture 0", Pmon(), "%n"},
               {"fixture 0", Pmon(), "%(n"}, {"en_us", EnUs(), "%n"},
               {"de_de", DeDe(), "%n"}};
  for (const Where &w : where) {
    for (int i = 0; i < 400; ++i) {
      int64_t cents = static_cast<int64_t>(rng() % 100000000000ULL);
      if (rng() % 8 == 0) cents %= 1000;
      if (rng() % 2 == 0) cents = -cents;
      double x = static_cast<double>(cents) / 100.0;
      char text[128];
      w.loc->error = 0;
      ASSERT_GE(gl_mbsfmon(w.loc, text, sizeof text, w.format, x), 0) << w.name;
      double back = 0;
      char *end = gl_mbspmon(w.loc, text, "%'n", &back);
      ASSERT_NE(nullptr, end) << w.name << " " << text << " error " << w.loc->error;
      EXPECT_EQ(strlen(text), static_cast<size_t>(end - text)) << w.name << " " << text;
      EXPECT_EQ(x, back) << w.name << " " << w.format << " " << text;
    }
  }
}

}  // namespace
