// Time parsing: the engine's rules as one table of cases, round trips of
// random records through the time formatter (en_us, de_de, ja_jp with eras
// and alternate digits, the hebrew and islamic calendars), a hand-made era
// list, and the C library's strptime on texts of its own strftime.
#define _GNU_SOURCE 1
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_trie.h"
#include "locale/format/gl_strftime.h"
#include "locale/format/gl_strptime.h"
#include "locale/format/gl_timeinfo.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::DeDe;
using fmttest::EnUs;
using fmttest::JaJp;
using fmttest::W;
using fmttest::Whole;

constexpr int kKeep = -9999;  // the field is not looked at

// A record of a gregorian date and time; weekday and day of the year from
// the C library's timegm.
GlTimeRecord Record(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int frac = 0) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  time_t t = timegm(&tm);
  gmtime_r(&t, &tm);
  GlTimeRecord r = {};
  r.fraction = frac;
  r.second = s;
  r.minute = mi;
  r.hour = h;
  r.mday = d;
  r.month = mo - 1;
  r.year = y - 1900;
  r.wday = tm.tm_wday;
  r.yday = tm.tm_yday;
  return r;
}

uint64_t Seed() {
  const char *s = getenv("TEV_SEED");
  uint64_t seed = s != nullptr ? strtoull(s, nullptr, 10) : std::random_device{}();
  printf("seed %llu (TEV_SEED)\n", static_cast<unsigned long long>(seed));
  return seed;
}

std::string Format(GlLocale *loc, const std::string &format, const GlTimeRecord &rec) {
  char out[512];
  GlTimeRecord r = rec;
  int32_t n = gl_mbsftime(loc, out, sizeof out, format.c_str(), &r);
  return n > 0 ? std::string(out, static_cast<size_t>(n)) : "!" + std::to_string(loc->error);
}

std::vector<GlWchar> Widen(GlLocale *loc, const std::string &s) {
  std::vector<GlWchar> w(s.size() + 1);
  int32_t n = loc->mbstowcs(loc, w.data(), s.c_str(), static_cast<int32_t>(w.size()));
  w.resize(n >= 0 ? static_cast<size_t>(n) + 1 : 1);
  w.back() = 0;
  return w;
}

// Parses text; the number of bytes consumed, or -1 (error in loc->error).
int Parse(GlLocale *loc, const std::string &text, const char *format, GlTimeRecord *rec,
          int century = 'R', GlCurrDate today = {0, 0, 0}) {
  *_gl_ext_errno(loc) = 0;
  char *end = gl_mbsptime_internal(loc, text.c_str(), format, rec, today, century);
  return end == nullptr ? -1 : static_cast<int>(end - text.c_str());
}

// The same text through the wide entry: the characters consumed, or -1.
int ParseWide(GlLocale *loc, const std::string &text, const std::string &format,
              GlTimeRecord *rec) {
  std::vector<GlWchar> wt = Widen(loc, text), wf = Widen(loc, format);
  GlWchar *end = gl_wcsptime(loc, wt.data(), wf.data(), rec, 'R');
  return end == nullptr ? -1 : static_cast<int>(end - wt.data());
}

std::string Show(const GlTimeRecord &r) {
  char b[160];
  snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%06d wday %d yday %d", r.year + 1900,
           r.month + 1, r.mday, r.hour, r.minute, r.second, r.fraction, r.wday, r.yday);
  return b;
}

// Every field but isdst and the reserved ones.
bool SameFields(const GlTimeRecord &a, const GlTimeRecord &b) {
  return a.fraction == b.fraction && a.second == b.second && a.minute == b.minute &&
         a.hour == b.hour && a.mday == b.mday && a.month == b.month && a.year == b.year &&
         a.wday == b.wday && a.yday == b.yday;
}

// The caller's record of the table: 2001-02-03 04:05:06.000007, wday and
// yday deliberately wrong so that only validation fills them.
GlTimeRecord Defaults() {
  GlTimeRecord r = Record(2001, 2, 3, 4, 5, 6, 7);
  r.wday = 5;
  r.yday = 77;
  r.reserved_wide = 123456789;
  r.reserved = 42;
  return r;
}

struct Case {
  const char *format;
  std::string text;
  int consumed;  // bytes, or -1 for a failure with error
  int error;
  // Expected fields (kKeep: the default's value).
  int year = kKeep, month = kKeep, mday = kKeep, hour = kKeep, minute = kKeep, second = kKeep,
      fraction = kKeep, wday = kKeep, yday = kKeep;
};

TEST(StrptimeTest, EdgeCases) {
  GlLocale *loc = EnUs();
  const std::string long_tail(300, 'x');
  const std::string long_format = "%d" + long_tail;
  const Case cases[] = {
      // A blank and more text after the date: the position of the blank.
      {"%d.%m.%Y", "24.12.2023 and more", 10, 0, 2023, 11, 24, kKeep, kKeep, kKeep, kKeep, 0, 357},
      // The default width is a maximum; a format blank matches any blanks.
      {"%H:%M", "9:05", 4, 0, kKeep, kKeep, kKeep, 9, 5, kKeep, kKeep, kKeep, kKeep},
      {"%H : %M", "9:05", 4, 0, kKeep, kKeep, kKeep, 9, 5, kKeep, kKeep, kKeep, kKeep},
      {"%H %M", "09     05", 9, 0, kKeep, kKeep, kKeep, 9, 5, kKeep, kKeep, kKeep, kKeep},
      {"%Y", "12345", 4, 0, 1234, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      // Full and abbreviated month names.
      {"%b", "June", 4, 0, kKeep, 5, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%b", "Jun 7", 3, 0, kKeep, 5, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%B %d", "july 4", 6, 0, kKeep, 6, 4, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      // 12-hour clock.
      {"%I %p", "12 AM", 5, 0, kKeep, kKeep, kKeep, 0, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%I %p", "12 PM", 5, 0, kKeep, kKeep, kKeep, 12, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%I %p", "07 PM", 5, 0, kKeep, kKeep, kKeep, 19, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%I", "12", 2, 0, kKeep, kKeep, kKeep, 12, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%p", "XM", -1, 46},
      // Leap seconds.
      {"%M:%S", "59:60", 5, 0, kKeep, kKeep, kKeep, kKeep, 59, 59, kKeep, kKeep, kKeep},
      {"%M:%S", "30:60", -1, 24},
      {"%d/%m/%Y %M:%S", "31/12/2016 59:60", 16, 0, 2016, 11, 31, kKeep, 59, 59, kKeep, 6, 365},
      {"%d/%m/%Y %M:%S", "15/12/2016 59:60", -1, 24},
      // Ranges and validation.
      {"%m", "13", -1, 30},
      {"%m", "00", -1, 30},
      {"%d/%m/%Y", "31/04/2023", -1, 27},
      {"%d/%m/%Y", "29/02/2023", -1, 27},
      {"%d/%m/%Y", "29/02/2024", 10, 0, 2024, 1, 29, kKeep, kKeep, kKeep, kKeep, 4, 59},
      {"%d/%m", "31/04", 5, 0, kKeep, 3, 31, kKeep, kKeep, kKeep, kKeep, 5, 77},
      {"%a %d.%m.%Y", "Sun 24.12.2023", 14, 0, 2023, 11, 24, kKeep, kKeep, kKeep, kKeep, 0, 357},
      {"%a %d.%m.%Y", "Mon 24.12.2023", -1, 38},
      {"%A", "Thursday", 8, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 4, kKeep},
      {"%H", "24", -1, 26},
      {"%H", "x", -1, 36},
      {"%d", "-5", -1, 37},
      {"%d", "0", -1, 27},
      {"%j", "366", 3, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 365},
      {"%j", "367", -1, 29},
      {"%u", "7", 1, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 0, kKeep},
      {"%w", "7", -1, 9},
      // A month number and a name: the later wins.
      {"%m %b", "03 May", 6, 0, kKeep, 4, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%b %m", "May 03", 6, 0, kKeep, 2, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      // Years: century and two-digit year, %iY.
      {"%C %y", "19 87", 5, 0, 1987, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%C", "19", 2, 0, 1900, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%iY", "2023", 4, 0, 2023, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%iY", "202345", 4, 0, 2023, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%iY", "x", -1, 41},
      // Fractions.
      {"%F3", "12345", 3, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 123000, kKeep, kKeep},
      {"%F", "1234567891", 10, 0, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, 123456, kKeep, kKeep},
      {"%S%iF", "07.25", 5, 0, kKeep, kKeep, kKeep, kKeep, kKeep, 7, 250000, kKeep, kKeep},
      {"%S%iF", "07,25", -1, 47},
      {"%F7", "1234567", -1, 22},
      {"%F", "x", -1, 33},
      // Literals compare exactly; %n needs a space.
      {"T%H", "t10", -1, 46},
      {"T%H", "T10", 3, 0, kKeep, kKeep, kKeep, 10, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%H%n%M", "10\t\n 30", 7, 0, kKeep, kKeep, kKeep, 10, 30, kKeep, kKeep, kKeep, kKeep},
      {"%H%n%M", "1030", -1, 46},
      {"%%%H", "%10", 3, 0, kKeep, kKeep, kKeep, 10, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%%", "x", -1, 22},
      // Sub-formats; E and O without eras and alternate digits act alone.
      {"%T", "23:59:58", 8, 0, kKeep, kKeep, kKeep, 23, 59, 58, kKeep, kKeep, kKeep},
      {"%D", "12/24/23", 8, 0, 2023, 11, 24, kKeep, kKeep, kKeep, kKeep, 0, 357},
      {"%r", "xx", -1, 22},
      {"%Om/%Od/%EY", "12/24/2023", 10, 0, 2023, 11, 24, kKeep, kKeep, kKeep, kKeep, 0, 357},
      {"%q", "1", -1, 22},
      {"%Ek", "1", -1, 22},
      {"%", "1", -1, 15},
      // Specifications: a width limits the digits, a precision needs them.
      {"%3Y", "20234", 3, 0, 202, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
      {"%.2H", "5", -1, 36},
      // A text of more than 256 characters.
      {long_format.c_str(), "09" + long_tail, 302, 0, kKeep, kKeep, 9, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.format).substr(0, 20) + " on " + c.text.substr(0, 20));
    GlTimeRecord rec = Defaults();
    const GlTimeRecord before = rec;
    int got = Parse(loc, c.text, c.format, &rec);
    EXPECT_EQ(c.consumed, got);
    if (c.consumed < 0) {
      EXPECT_EQ(c.error, loc->error);
      EXPECT_EQ(0, memcmp(&before, &rec, sizeof rec)) << Show(rec);
      continue;
    }
    auto want = [](int v, int dflt) { return v == kKeep ? dflt : v; };
    EXPECT_EQ(want(c.year, before.year + 1900), rec.year + 1900);
    EXPECT_EQ(want(c.month, before.month), rec.month);
    EXPECT_EQ(want(c.mday, before.mday), rec.mday);
    EXPECT_EQ(want(c.hour, before.hour), rec.hour);
    EXPECT_EQ(want(c.minute, before.minute), rec.minute);
    EXPECT_EQ(want(c.second, before.second), rec.second);
    EXPECT_EQ(want(c.fraction, before.fraction), rec.fraction);
    EXPECT_EQ(want(c.wday, before.wday), rec.wday);
    EXPECT_EQ(want(c.yday, before.yday), rec.yday);
    EXPECT_EQ(before.reserved_wide, rec.reserved_wide);
    EXPECT_EQ(before.reserved, rec.reserved);
  }
  // A NULL format.
  GlTimeRecord rec = Defaults();
  EXPECT_EQ(nullptr, gl_mbsptime(loc, "1", nullptr, &rec, 'R'));
  EXPECT_EQ(15, loc->error);
}

TEST(StrptimeTest, TwoDigitYears) {
  GlLocale *loc = EnUs();
  GlCurrDate june2023 = {6, 1, 2023};
  struct {
    const char *format, *text;
    int mode;
    int year;
  } cases[] = {
      {"%y", "05", 'R', 2005},  // the century of today
      {"%y", "99", 'R', 2099},
      {"%y", "99", 'P', 1999},  // the past
      {"%y", "30", 'F', 2030},  // the future
      {"%d/%m/%y", "02/06/23", 'F', 2023},
      {"%d/%m/%y", "01/06/23", 'F', 2123},  // today itself is not in the future
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.text + " " + static_cast<char>(c.mode));
    GlTimeRecord rec = Defaults();
    ASSERT_GE(Parse(loc, c.text, c.format, &rec, c.mode, june2023), 0) << loc->error;
    EXPECT_EQ(c.year, rec.year + 1900);
  }
}

// Random records, formats of random conversions and separators.
std::string RandomFormat(std::mt19937_64 &rng, bool ampm, const std::vector<std::string> &seps) {
  auto pick = [&](std::initializer_list<const char *> l) {
    std::vector<const char *> v(l);
    return std::string(v[rng() % v.size()]);
  };
  std::vector<std::string> parts = {pick({"%d", "%e"}), pick({"%m", "%b", "%B"}), "%Y", "%M",
                                    "%S"};
  if (ampm && rng() % 2 == 0) {
    parts.push_back("%I");
    parts.push_back("%p");
  } else {
    parts.push_back("%H");
  }
  if (rng() % 2 == 0) parts.push_back("%F3");
  if (rng() % 2 == 0) parts.push_back(pick({"%a", "%A"}));
  if (rng() % 3 == 0) parts.push_back("%j");
  std::shuffle(parts.begin(), parts.end(), rng);
  std::string f;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) f += seps[rng() % seps.size()];
    f += parts[i];
  }
  return f;
}

GlTimeRecord RandomRecord(std::mt19937_64 &rng, int from = 1000, int to = 9999) {
  int y = from + static_cast<int>(rng() % static_cast<uint64_t>(to - from + 1));
  int m = 1 + static_cast<int>(rng() % 12);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int d = 1 + static_cast<int>(rng() % static_cast<uint64_t>(kDays[m - 1] + (m == 2 && leap)));
  return Record(y, m, d, static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                static_cast<int>(rng() % 60), static_cast<int>(rng() % 1000) * 1000);
}

void RoundTrips(GlLocale *loc, bool ampm, const std::vector<std::string> &seps, int count) {
  std::mt19937_64 rng(Seed());
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    GlTimeRecord rec = RandomRecord(rng);
    std::string format = RandomFormat(rng, ampm, seps);
    std::string text = Format(loc, format, rec);
    ASSERT_NE('!', text[0]) << format << " " << text;
    // A format without the fraction leaves the caller's 0.
    if (format.find("%F3") == std::string::npos) rec.fraction = 0;
    GlTimeRecord got = {};
    got.mday = 1;
    int n = Parse(loc, text, format.c_str(), &got);
    GlTimeRecord wide = {};
    wide.mday = 1;
    int wn = ParseWide(loc, text, format, &wide);
    if (n != static_cast<int>(text.size()) || !SameFields(rec, got) ||
        wn != static_cast<int>(Widen(loc, text).size()) - 1 || !SameFields(rec, wide)) {
      if (++failed <= 5) {
        ADD_FAILURE() << format << " [" << text << "] want " << Show(rec) << " got " << Show(got)
                      << " (" << n << ", error " << loc->error << ") wide " << Show(wide);
      }
    }
  }
  printf("%d passed, %d failed\n", count - failed, failed);
}

TEST(StrptimeTest, RoundTripEnUs) {
  RoundTrips(EnUs(), true, {" ", "/", "-", ", ", " : ", "T", "  "}, 3000);
}

TEST(StrptimeTest, RoundTripDeDe) {
  // No am/pm strings in de_DE.
  RoundTrips(DeDe(), false, {" ", ".", "-", ", ", " um "}, 3000);
}

TEST(StrptimeTest, RoundTripJaJp) {
  RoundTrips(JaJp(), true, {" ", "/", "\x94\x4e" /* 年 */, "\x8c\x8e" /* 月 */, ":"}, 3000);
}

// Eras and alternate digits of ja_jp.sjis: the text names the era, the
// era year and the day, month and hour in alternate digits.
TEST(StrptimeTest, ErasAndAlternateDigitsJaJp) {
  GlLocale *loc = JaJp();
  const GlTimeInfo &ti = loc->time;
  ASSERT_GT(ti.era_count, 2);
  ASSERT_EQ(100, ti.alt_digits_count);
  std::mt19937_64 rng(Seed());
  std::vector<GlTimeRecord> dates;
  for (int i = 0; i < 1500; ++i) dates.push_back(RandomRecord(rng));
  // The first day of every era and a day later in its first year.
  for (int32_t i = 0; i < ti.era_count; ++i) {
    const GlEraRecord *e = ti.era_records[i];
    if (e->direction != 1 || e->start_year < 1000) continue;
    dates.push_back(Record(e->start_year, e->start_month, e->start_day, 9));
    dates.push_back(Record(e->start_year, 12, 31, 23));
  }
  dates.push_back(Record(2019, 6, 1, 11));  // the first year of the present era
  dates.push_back(Record(2021, 3, 10, 11));
  const char *formats[] = {
      "%EC%Ey\x94\x4e%m\x8c\x8e%d\x93\xfa %H",          // %EC%Ey年%m月%d日
      "%EY%Om\x8c\x8e%Od\x93\xfa %OH",                   // %EY%Om月%Od日 %OH
      "%Od\x93\xfa/%Om\x8c\x8e/%EY/%OH",
      "%EC %Ey/%Om/%Od/%OH",
  };
  int failed = 0, total = 0;
  for (const GlTimeRecord &rec : dates) {
    for (const char *format : formats) {
      ++total;
      std::string text = Format(loc, format, rec);
      GlTimeRecord got = {};
      got.mday = 1;
      int n = Parse(loc, text, format, &got);
      bool same = got.year == rec.year && got.month == rec.month && got.mday == rec.mday &&
                  got.hour == rec.hour;
      if (text[0] == '!' || n != static_cast<int>(text.size()) || !same) {
        if (++failed <= 5) {
          ADD_FAILURE() << format << " [" << text << "] want " << Show(rec) << " got "
                        << Show(got) << " (" << n << ", error " << loc->error << ")";
        }
      }
    }
  }
  printf("%d passed, %d failed\n", total - failed, failed);
}

TEST(StrptimeTest, AlternateDigitsTakeTheLongestWord) {
  GlLocale *loc = JaJp();
  const GlTimeInfo &ti = loc->time;
  // Every value 1-59 written as the locale's digit alone reads back whole.
  for (int v = 1; v < 60; ++v) {
    std::string text = ti.alt_digits[v];
    GlTimeRecord rec = Defaults();
    ASSERT_EQ(static_cast<int>(text.size()), Parse(loc, text, "%OS", &rec)) << v;
    EXPECT_EQ(v, rec.second) << v;
  }
  // %Om on the digit for 1 is January.
  GlTimeRecord rec = Defaults();
  std::string one = ti.alt_digits[1];
  ASSERT_GE(Parse(loc, one, "%Om", &rec), 0);
  EXPECT_EQ(0, rec.month);
  // Digits accumulate in base 100.
  std::string y = std::string(ti.alt_digits[20]) + ti.alt_digits[11];
  int32_t v = 0;
  std::vector<GlWchar> w = Widen(loc, y);
  const GlWchar *p = w.data();
  ASSERT_EQ(0, _gl_ptime_alt_number(loc, &p, -1, 1, &v));
  EXPECT_EQ(2011, v);
  p = w.data();
  ASSERT_EQ(0, _gl_ptime_alt_number(loc, &p, 1, 1, &v));  // a width of one digit
  EXPECT_EQ(20, v);
  p = w.data();
  EXPECT_EQ(-1, _gl_ptime_alt_number(loc, &p, -1, 3, &v));  // the precision is not met
}

// A hand-made era list on en_us: two eras named Alpha, one Beta.
//   0  +:1:2020/01/01:+*          Beta
//   1  +:1:2010/01/01:2019/12/31  Alpha
//   2  +:1:2000/01/01:2004/12/31  Alpha
class EraFixture {
 public:
  explicit EraFixture(GlLocale *loc) : loc_(loc), saved_(loc->time) {
    Add(1, 2020, 0, 1, "Beta");
    Add(1, 2010, 2019, 0, "Alpha");
    Add(1, 2000, 2004, 0, "Alpha");
    for (auto &e : eras_) pointers_.push_back(&e);
    loc->time.era_records = pointers_.data();
    loc->time.era_count = static_cast<int32_t>(eras_.size());
    loc->time.tries[GL_TRIE_ERA_NAME] = nullptr;
    loc->time.tries[GL_TRIE_ERA_NAME2] = nullptr;
    for (size_t i = 0; i < eras_.size(); ++i) {
      EXPECT_EQ(0, _gl_trie_insert(loc, &trie_, eras_[i].name, static_cast<int32_t>(i)));
    }
    loc->time.tries[GL_TRIE_ERA_NAME] = trie_;
  }
  ~EraFixture() {
    loc_->time = saved_;
    Free(trie_);
  }
  EraFixture(const EraFixture &) = delete;
  EraFixture &operator=(const EraFixture &) = delete;

 private:
  void Add(int offset, int start, int end, int end_kind, const char *name) {
    GlEraRecord e = {};
    e.direction = 1;
    e.offset = offset;
    e.start_day = e.start_month = 1;
    e.start_year = start;
    e.end_day = 31;
    e.end_month = 12;
    e.end_year = end;
    e.end_kind = end_kind;
    names_.push_back(name);
    e.name = names_.back().data();
    e.name2 = names_.back().data();
    eras_.push_back(e);
  }
  static void Free(GlTrieNode *n) {
    while (n != nullptr) {
      GlTrieNode *next = n->next_sibling;
      Free(n->first_child);
      free(n);
      n = next;
    }
  }
  GlLocale *loc_;
  GlTimeInfo saved_;
  GlTrieNode *trie_ = nullptr;
  std::deque<std::string> names_;
  std::vector<GlEraRecord> eras_;
  std::vector<GlEraRecord *> pointers_;
};

GlTimeRecord g_now;
int FixedNow(GlTimeRecord *rec) {
  *rec = g_now;
  return 0;
}

TEST(StrptimeTest, ErasOfAFixtureList) {
  GlLocale *loc = EnUs();
  EraFixture fx(loc);
  struct {
    const char *text;
    int year;  // 0: error 42
  } cases[] = {
      {"Alpha 3 06/01", 2002},   // the era the name gives
      {"Alpha 6 06/01", 2015},   // past its end: the earlier era of the name
      {"Alpha 12 06/01", 0},     // no era of the name holds it
      {"Beta 3 06/01", 2022},
      {"Gamma 3 06/01", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    GlTimeRecord rec = Defaults();
    GlTimeRecord before = rec;
    int n = Parse(loc, c.text, "%EC %Ey %m/%d", &rec);
    if (c.year == 0) {
      EXPECT_EQ(-1, n);
      EXPECT_EQ(42, loc->error);
      EXPECT_EQ(0, memcmp(&before, &rec, sizeof rec));
    } else {
      EXPECT_EQ(static_cast<int>(strlen(c.text)), n) << loc->error;
      EXPECT_EQ(c.year, rec.year + 1900);
      EXPECT_EQ(Record(c.year, 6, 1).wday, rec.wday);
    }
  }
  // %Ey alone takes the era of the current time.
  g_now = Record(2022, 5, 5);
  ASSERT_EQ(0, gl_setextfunc(nullptr, GL_EXT_CURRTIME, reinterpret_cast<GlExtFunc>(FixedNow)));
  GlTimeRecord rec = Defaults();
  EXPECT_EQ(5, Parse(loc, "7 6/1", "%Ey %m/%d", &rec)) << loc->error;
  EXPECT_EQ(2026, rec.year + 1900);
  g_now = Record(2012, 5, 5);
  rec = Defaults();
  EXPECT_EQ(5, Parse(loc, "7 6/1", "%Ey %m/%d", &rec)) << loc->error;
  EXPECT_EQ(2016, rec.year + 1900);
  gl_setextfunc(nullptr, GL_EXT_CURRTIME, nullptr);
}

// Dates of the hebrew and islamic calendars: formatted in the local
// calendar, read back to the gregorian date they came from.
void LocalCalendarRoundTrips(GlLocale *loc, const char *const *formats, size_t nformats) {
  std::mt19937_64 rng(Seed());
  int failed = 0, total = 0;
  for (int i = 0; i < 2000; ++i) {
    GlTimeRecord rec = RandomRecord(rng, 1000, 6000);
    for (size_t k = 0; k < nformats; ++k) {
      ++total;
      std::string text = Format(loc, formats[k], rec);
      GlTimeRecord got = {};
      got.mday = 1;
      int n = Parse(loc, text, formats[k], &got);
      if (text[0] == '!' || n != static_cast<int>(text.size()) || got.year != rec.year ||
          got.month != rec.month || got.mday != rec.mday || got.hour != rec.hour) {
        if (++failed <= 5) {
          ADD_FAILURE() << formats[k] << " [" << text << "] want " << Show(rec) << " got "
                        << Show(got) << " (" << n << ", error " << loc->error << ")";
        }
      }
    }
  }
  printf("%d passed, %d failed\n", total - failed, failed);
}

TEST(StrptimeTest, LocalCalendarsKeepTheDefaultDate) {
  // A text of the time alone keeps the caller's date; a day alone takes
  // the month and year of the caller's date in the local calendar.
  for (const char *file : {"he_il/0394.lco", "ar_sa/0441.lco"}) {
    SCOPED_TRACE(file);
    GlLocale *loc = Whole(file);
    GlTimeRecord rec = Record(2024, 5, 1, 8, 9, 10);
    const GlTimeRecord before = rec;
    ASSERT_EQ(5, Parse(loc, "13:14", "%H:%M", &rec)) << loc->error;
    EXPECT_EQ(before.year, rec.year);
    EXPECT_EQ(before.month, rec.month);
    EXPECT_EQ(before.mday, rec.mday);
    EXPECT_EQ(13, rec.hour);
    EXPECT_EQ(14, rec.minute);
    // The local day of 1 May 2024, five days on, is 6 May 2024.
    std::string day = Format(loc, "%d", Record(2024, 5, 6));
    rec = before;
    ASSERT_EQ(2, Parse(loc, day, "%d", &rec)) << loc->error;
    EXPECT_EQ(2024 - 1900, rec.year);
    EXPECT_EQ(4, rec.month);
    EXPECT_EQ(6, rec.mday);
  }
}

TEST(StrptimeTest, HebrewAndIslamicDates) {
  const char *formats[] = {"%d %B %Y %H", "%e/%m/%Y %H", "%Y-%b-%d %H"};
  {
    SCOPED_TRACE("he_il");
    LocalCalendarRoundTrips(Whole("he_il/0394.lco"), formats, 3);
  }
  {
    SCOPED_TRACE("ar_sa");
    LocalCalendarRoundTrips(Whole("ar_sa/0441.lco"), formats, 3);
  }
}

// The C library's strptime on texts of its own strftime, in the same
// locales compiled with localedef.
TEST(StrptimeTest, AgainstTheCLibrary) {
  struct {
    GlLocale *loc;
    const char *source;
    bool ampm;
  } locales[] = {{EnUs(), "en_US", true}, {DeDe(), "de_DE", false}};
  std::mt19937_64 rng(Seed());
  for (const auto &l : locales) {
    locale_t c = fmttest::Glibc(l.source, "ISO-8859-1");
    if (c == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "localedef failed";
    int failed = 0;
    const int count = 3000;
    for (int i = 0; i < count; ++i) {
      GlTimeRecord rec = RandomRecord(rng);
      std::string format;
      std::vector<std::string> parts = {"%d", "%e", "%m", "%Y", "%H", "%M", "%S", "%j",
                                        "%a", "%A", "%b", "%B", "%R", "%T"};
      if (l.ampm) parts.insert(parts.end(), {"%I %p", "%I %p"});
      size_t n = 2 + rng() % 4;
      for (size_t k = 0; k < n; ++k) {
        if (k > 0) format += " ";
        format += parts[rng() % parts.size()];
      }
      struct tm tm = {};
      tm.tm_year = rec.year;
      tm.tm_mon = rec.month;
      tm.tm_mday = rec.mday;
      tm.tm_hour = rec.hour;
      tm.tm_min = rec.minute;
      tm.tm_sec = rec.second;
      tm.tm_wday = rec.wday;
      tm.tm_yday = rec.yday;
      char text[256];
      if (strftime_l(text, sizeof text, format.c_str(), &tm, c) == 0) continue;
      struct tm want = {};
      want.tm_mday = 1;
      const char *cend = strptime_l(text, format.c_str(), &want, c);
      GlTimeRecord got = {};
      got.mday = 1;
      int used = Parse(l.loc, text, format.c_str(), &got);
      bool same = cend != nullptr && used == static_cast<int>(cend - text) &&
                  got.year == want.tm_year && got.hour == want.tm_hour &&
                  got.minute == want.tm_min && got.second == want.tm_sec;
      // The C library completes the month and day from %j; this parser
      // keeps the day of the year as read.
      auto has = [&](const char *c) { return format.find(c) != std::string::npos; };
      bool date = (has("%d") || has("%e")) && (has("%m") || has("%b") || has("%B"));
      if (has("%j")) same = same && got.yday == want.tm_yday;
      if (!has("%j") || date) same = same && got.month == want.tm_mon && got.mday == want.tm_mday;
      if (!same && ++failed <= 5) {
        ADD_FAILURE() << l.source << " " << format << " [" << text << "] C library "
                      << (cend == nullptr ? -1 : cend - text) << " " << want.tm_year + 1900 << "-"
                      << want.tm_mon + 1 << "-" << want.tm_mday << " " << want.tm_hour << ":"
                      << want.tm_min << ":" << want.tm_sec << " got " << used << " "
                      << Show(got) << " error " << l.loc->error;
      }
    }
    printf("%s: %d passed, %d failed\n", l.source, count - failed, failed);
  }
}

}  // namespace
