// The number and money conversions of the locale compared with the C
// library's strfmon, snprintf and strtod in the same locale (compiled with
// localedef into a temporary directory). Included by one test program per
// client locale: the client locale is settled once per process.
#pragma once

#include <gtest/gtest.h>
#include <locale.h>
#include <math.h>
#include <monetary.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>

#include "base/client_locale.h"
#include "base/thread_state.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"
#include "tests/sqltypes/sql_env.h"

// The C library keeps the search path it splits out of LOCPATH for good.
extern "C" __attribute__((visibility("default"), used)) const char*
__lsan_default_suppressions() {
  return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace moneytest {

// A C-library locale made with localedef ("de_DE", "ISO-8859-1"); the
// directory is removed when the program ends.
class GlibcLocale {
 public:
  GlibcLocale(const std::string& source, const std::string& charmap) {
    char tmpl[] = "/tmp/money_locale_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    const std::string name = source + "." + charmap;
    const std::string cmd = "localedef --no-warnings=ascii -i " + source + " -f " + charmap +
                            " " + dir_ + "/" + name + " >/dev/null 2>&1";
    if (system(cmd.c_str()) < 0) return;
    setenv("LOCPATH", dir_.c_str(), 1);
    loc_ = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    unsetenv("LOCPATH");
  }
  ~GlibcLocale() {
    if (loc_ != static_cast<locale_t>(nullptr)) freelocale(loc_);
    if (!dir_.empty()) {
      const std::string cmd = "rm -rf " + dir_;
      if (system(cmd.c_str()) < 0) return;
    }
  }
  locale_t get() const { return loc_; }

 private:
  std::string dir_;
  locale_t loc_ = static_cast<locale_t>(nullptr);
};

inline std::string Snprintf(locale_t loc, const char* fmt, double x) {
  const locale_t old = uselocale(loc);
  char buf[512];
  snprintf(buf, sizeof buf, fmt, x);
  uselocale(old);
  return buf;
}

inline std::string Strfmon(locale_t loc, const char* fmt, double x) {
  char buf[256];
  const ssize_t n = strfmon_l(buf, sizeof buf, loc, fmt, x);
  return n < 0 ? std::string("<error>") : std::string(buf, static_cast<size_t>(n));
}

// Random amounts with two decimals, as doubles exactly representable
// enough for both sides to round alike.
inline double RandomAmount(std::mt19937_64& rng) {
  const long long cents = static_cast<long long>(rng() % 100000000000ULL);
  const double x = static_cast<double>(cents) / 100.0;
  return rng() % 3 == 0 ? -x : x;
}

// Money formats, both directions, against strfmon.
inline void MoneyAgainstStrfmon(locale_t loc, int cases) {
  std::mt19937_64 rng(20261210);
  int failed = 0;
  for (int i = 0; i < cases; i++) {
    const double x = RandomAmount(rng);
    Decimal d;
    ASSERT_EQ(deccvdbl(x, &d), 0);
    // The money scanner groups digits only under the "'" flag, where the
    // formatter groups unless "^" is given: each text is read back with
    // the scanner's spelling of its format.
    const char* const reads[] = {"%'n", "%n", "%'.2n"};
    int k = 0;
    for (const char* fmt : {"%n", "%^n", "%.2n"}) {
      const char* read = reads[k++];
      char out[256];
      ASSERT_EQ(zel_gl_format_money(out, sizeof out, &d, fmt), 0) << fmt << " " << x;
      const std::string expected = Strfmon(loc, fmt, x);
      if (out != expected && failed++ < 10) ADD_FAILURE() << fmt << " " << x << ": " << out
                                                          << " / " << expected;
      Decimal back;
      ASSERT_EQ(zel_gl_convert_money(&back, out, read), 0) << read << " " << out;
      double y = 0;
      ASSERT_EQ(dectodbl(&back, &y), 0);
      if (fabs(y - x) > 0.001 && failed++ < 10) ADD_FAILURE() << out << " read as " << y;
    }
  }
  EXPECT_EQ(failed, 0);
}

// Without a format: Decimals round-trip through the thread's conventions.
inline void MoneyRoundTrip(int cases) {
  const char* sep = rmoneyformat()->decimal_sep;
  std::mt19937_64 rng(7);
  for (int i = 0; i < cases; i++) {
    char digits[40];
    const long long units = static_cast<long long>(rng() % 10000000000000ULL);
    snprintf(digits, sizeof digits, "%s%lld%s%02d", rng() % 2 ? "-" : "", units / 100, sep,
             static_cast<int>(units % 100));
    Decimal d;
    ASSERT_EQ(deccvasc(digits, static_cast<int>(strlen(digits)), &d), 0);
    char money[96];
    ASSERT_EQ(zel_gl_format_money(money, sizeof money, &d, nullptr), 0) << digits;
    Decimal back;
    ASSERT_EQ(zel_gl_convert_money(&back, money, nullptr), 0) << money;
    ASSERT_EQ(deccmp(&d, &back), 0) << digits << " -> " << money;
  }
}

// Doubles by random formats against snprintf, and number text against
// strtod.
inline void DoublesAgainstTheCLibrary(locale_t loc, int cases) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> mant(-10.0, 10.0);
  int failed = 0;
  for (int i = 0; i < cases; i++) {
    const double x = mant(rng) * pow(10.0, static_cast<int>(rng() % 40) - 20);
    std::string fmt = "%";
    const char* flags[] = {"", " ", "#", "+", "-", "+#"};
    fmt += flags[rng() % 6];
    if (rng() % 2) fmt += std::to_string(rng() % 30);
    if (rng() % 2) fmt += "." + std::to_string(rng() % 18);
    fmt += "eEfgG"[rng() % 5];
    if (rng() % 4 == 0) fmt = "<" + fmt + ">";
    char out[400];
    ASSERT_EQ(zel_gl_format_double(out, sizeof out, x, fmt.c_str()), 0) << fmt;
    const std::string expected = Snprintf(loc, fmt.c_str(), x);
    if (out != expected && failed++ < 10) ADD_FAILURE() << fmt << " " << x << ": " << out
                                                        << " / " << expected;
    // The same text read back with a format, compared with strtod.
    char text[64];
    ASSERT_EQ(zel_gl_format_double(text, sizeof text, x, "%.17g"), 0);
    double got = 0;
    ASSERT_EQ(zel_gl_convert_double(&got, text, "%lf"), 0) << text;
    const double want = strtod_l(text, nullptr, loc);
    if (got != want && failed++ < 10) ADD_FAILURE() << text << ": " << got << " / " << want;
  }
  EXPECT_EQ(failed, 0);
}

}  // namespace moneytest
