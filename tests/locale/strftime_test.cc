// Time formatting: the engine's own rules where it departs from strftime,
// room and errors, eras and alternate digits (ja_jp.sjis and a hand-made
// fixture), the expansion bound, and the mended faults of the multibyte
// front and the calendar conversion.
#include <string.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/format/gl_numconv.h"
#include "locale/format/gl_strftime.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::EnUs;
using fmttest::JaJp;
using fmttest::W;

GlTimeRecord Record(int year, int month, int mday, int hour = 9, int minute = 5,
                    int second = 3) {
  GlTimeRecord r = {};
  r.fraction = 123456;
  r.second = second;
  r.minute = minute;
  r.hour = hour;
  r.mday = mday;
  r.month = month - 1;
  r.year = year - 1900;
  r.wday = 4;
  r.yday = 63;
  return r;
}

// The text, or "!" and the error number.
std::string Format(GlLocale *loc, const std::string &fmt, GlTimeRecord rec, int32_t size = 256,
                   bool interval = false) {
  std::vector<char> buf(static_cast<size_t>(size) + 8, 'Z');
  int32_t n = interval ? gl_mbsfinterval(loc, buf.data(), size, fmt.c_str(), &rec)
                       : gl_mbsftime(loc, buf.data(), size, fmt.c_str(), &rec);
  if (n <= 0 && loc->error != 0) return "!" + std::to_string(loc->error);
  return std::string(buf.data(), static_cast<size_t>(n > 0 ? n : 0));
}

struct RuleCase {
  const char *format;
  const char *want;
};

TEST(StrftimeTest, EngineRules) {
  GlLocale *loc = EnUs();
  GlTimeRecord rec = Record(2026, 3, 5);
  const RuleCase cases[] = {
      {"%u %w", "04 04"},
      {"%R|%T", "9:5|9:5:3"},
      {"%.2R", "09:05"},
      {"%H:%M:%S", "09:05:03"},
      {"%e|%.2e|%3e|%-3e|", " 5|05|  5| 5 |"},
      {"%C %g %D", "20 20 03/05/26"},
      {"%iY %iy %iF", "2026 26 .12"},
      {"%F|%F0|%F3|%F5|%.8F|%8F|%-8F|", "123456||123|12345|12345600|  123456|123456  |"},
      {"%I %p %j %m %y %Y %%", "09 AM 064 03 26 2026 %"},
      {"%n%t", "\n\t"},
      {"%a %A %b %h %B", "Thu Thursday Mar Mar March"},
      {"%-6a|%6a|%.2A|%010d", "Thu   |   Thu|Th|0000000005"},
      {"%EY %Ex %Od %OY", "2026 03/05/2026 05 2026"},  // no eras, no alternate digits
      {"%1$d %*d %.*d", "05 05 05"},                   // nothing read for '$' and '*'
      {"%x|%X|%r|%c", "03/05/2026|09:05:03 AM|09:05:03 AM|Thu 05 Mar 2026 09:05:03 AM"},
      {"%F6", "!22"},
      {"%.!d", "!45"},
      {"%G", "!22"}, {"%U", "!22"}, {"%V", "!22"}, {"%W", "!22"}, {"%z", "!22"},
      {"%Z", "!22"}, {"%k", "!22"}, {"%l", "!22"}, {"%s", "!22"}, {"%iX", "!22"},
      {"abc%", "!15"},
  };
  for (const RuleCase &c : cases) {
    EXPECT_EQ(c.want, Format(loc, c.format, rec)) << c.format;
  }
  rec.hour = 0;
  EXPECT_EQ("12 AM", Format(loc, "%I %p", rec));
  rec.hour = 12;
  EXPECT_EQ("12 PM", Format(loc, "%I %p", rec));
  rec.wday = 0;
  EXPECT_EQ("07 00", Format(loc, "%u %w", rec));
  rec = Record(500, 1, 1);
  EXPECT_EQ("5 0500 00", Format(loc, "%C %Y %y", rec));
  rec.year = 5 - 1900;
  EXPECT_EQ("0005", Format(loc, "%Y", rec));
  rec = Record(2026, 3, 5);
  rec.fraction = 1234;
  EXPECT_EQ("0012 .00", Format(loc, "%F4 %iF", rec));
}

TEST(StrftimeTest, FieldChecksAndIntervalMode) {
  GlLocale *loc = EnUs();
  struct {
    int GlTimeRecord::*field;
    int value;
    const char *format;
    int error;
  } bad[] = {
      {&GlTimeRecord::fraction, 1000000, "%F", 23}, {&GlTimeRecord::second, 61, "%S", 24},
      {&GlTimeRecord::minute, 60, "%M", 25},        {&GlTimeRecord::hour, 24, "%H", 26},
      {&GlTimeRecord::mday, 0, "%d", 27},           {&GlTimeRecord::mday, 100, "%e", 27},
      {&GlTimeRecord::wday, 7, "%a", 28},           {&GlTimeRecord::yday, 366, "%j", 29},
      {&GlTimeRecord::month, 12, "%B", 30},         {&GlTimeRecord::year, 8100, "%Y", 31},
      {&GlTimeRecord::second, 61, "%T", 24},        {&GlTimeRecord::month, -1, "%m", 30},
  };
  for (const auto &b : bad) {
    GlTimeRecord rec = Record(2026, 3, 5);
    rec.*b.field = b.value;
    EXPECT_EQ("!" + std::to_string(b.error), Format(loc, b.format, rec)) << b.format;
  }
  // %y tests nothing; a leap second is allowed.
  GlTimeRecord rec = Record(2026, 3, 5);
  rec.second = 60;
  EXPECT_EQ("60", Format(loc, "%S", rec));
  // Interval mode: %d takes 0 and negative days with the locale's sign.
  rec.mday = 0;
  EXPECT_EQ("00", Format(loc, "%d", rec, 256, true));
  rec.mday = -5;
  EXPECT_EQ("-05", Format(loc, "%d", rec, 256, true));
  EXPECT_EQ("!27", Format(loc, "%d", rec));
  rec.mday = 100;
  EXPECT_EQ("!27", Format(loc, "%d", rec, 256, true));
}

TEST(StrftimeTest, Room) {
  GlLocale *loc = EnUs();
  GlTimeRecord rec = Record(2026, 3, 5);
  EXPECT_EQ("abcde", Format(loc, "abcde", rec, 6));
  EXPECT_EQ("!14", Format(loc, "abcde", rec, 5));
  EXPECT_EQ("x2026", Format(loc, "x%Y", rec, 6));
  EXPECT_EQ("!14", Format(loc, "x%Y", rec, 5));  // no room for the terminator
  EXPECT_EQ("!41", Format(loc, "x%Y", rec, 4));  // the year field failed
  EXPECT_EQ("!14", Format(loc, "x%d", rec, 3));
  EXPECT_EQ("!14", Format(loc, "%x", rec, 10));  // the sub-format's room
  EXPECT_EQ("03/05/2026", Format(loc, "%x", rec, 11));
  // Nothing is stored on failure.
  char buf[8];
  memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(0, gl_mbsftime(loc, buf, 5, "abcde", &rec));
  EXPECT_EQ(std::string(8, 'Z'), std::string(buf, 8));
  // A format of more than 256 characters and a longer output.
  std::string longfmt = std::string(300, 'x') + "%Y";
  EXPECT_EQ(std::string(300, 'x') + "2026", Format(loc, longfmt, rec, 400));
  std::string longer = std::string(1500, 'y') + "%d";
  EXPECT_EQ(std::string(1500, 'y') + "05", Format(loc, longer, rec, 2000));
  // A null format: 0 and no error; the wide engine reports 15.
  loc->error = 0;
  EXPECT_EQ(0, gl_mbsftime(loc, buf, 8, nullptr, &rec));
  EXPECT_EQ(0, loc->error);
  GlTimeFields f;
  _gl_time_to_fields(&rec, rec.month, &f);
  GlWchar wbuf[8];
  EXPECT_EQ(0, _gl_wcsftime_internal(loc, wbuf, 8, nullptr, &f, nullptr, nullptr, 1));
  EXPECT_EQ(15, loc->error);
  // The record comes back unchanged, reserved fields included.
  GlTimeRecord r2 = Record(2026, 3, 5);
  r2.reserved_wide = 77;
  r2.reserved = 9;
  GlTimeRecord copy = r2;
  Format(loc, "%c", r2);
  EXPECT_EQ(0, memcmp(&copy, &r2, sizeof copy));
  // An empty format gives an empty text and no error.
  EXPECT_EQ("", Format(loc, "", rec));
}

// Swaps the time texts the engine reads, restoring them afterwards.
class TimeSwap {
 public:
  explicit TimeSwap(GlLocale *loc) : loc_(loc), saved_(loc->time) {}
  ~TimeSwap() { loc_->time = saved_; }
  TimeSwap(const TimeSwap &) = delete;
  TimeSwap &operator=(const TimeSwap &) = delete;
  GlWchar *Wide(const std::string &s) {
    wides_.push_back(W(s));
    return wides_.back().data();
  }
  char *Multi(const std::string &s) {
    multis_.push_back(s + std::string(4, '\0'));
    return multis_.back().data();
  }

 private:
  GlLocale *loc_;
  GlTimeInfo saved_;
  std::deque<std::vector<GlWchar>> wides_;
  std::deque<std::string> multis_;
};

TEST(StrftimeTest, SubFormats) {
  GlLocale *loc = EnUs();
  GlTimeRecord rec = Record(2026, 3, 5);
  {
    TimeSwap s(loc);
    loc->time.d_t_fmt_wc = s.Wide("");
    EXPECT_EQ("[]", Format(loc, "[%c]", rec));  // an empty locale format writes nothing
    loc->time.d_t_fmt_wc = nullptr;
    EXPECT_EQ("[]", Format(loc, "[%c]", rec));
  }
  {
    TimeSwap s(loc);
    loc->time.am_pm[0] = s.Multi("");
    loc->time.t_fmt_ampm_wc = s.Wide("%p");
    EXPECT_EQ("[]", Format(loc, "[%p]", rec));  // a plain empty string field is fine
    EXPECT_EQ('!', Format(loc, "[%r]", rec)[0]);  // a sub-format that writes nothing fails
  }
}

// The hand-made fixture: ten alternate digits and four eras.
//   0  +:1:2001/01/08:2010/12/31  Alpha / A  "%EC %Ey"
//   1  +:100:2005/01/01:+*        Beta  / B  "%Eg-%Ey"   (overlaps era 0)
//   2  +:1:1900/01/01:1900/12/31  ""    / "" ""
//   3  -:1:2000/12/31:-*          Before/ BC "%Ey %EC"   (counts backwards)
class EraFixture {
 public:
  explicit EraFixture(GlLocale *loc, int digits = 10) : loc_(loc), swap_(loc) {
    Add(+1, 1, {2001, 1, 8}, {2010, 12, 31}, 0, "Alpha", "A", "%EC %Ey");
    Add(+1, 100, {2005, 1, 1}, {0, 0, 0}, +1, "Beta", "B", "%Eg-%Ey");
    Add(+1, 1, {1900, 1, 1}, {1900, 12, 31}, 0, "", "", "");
    Add(-1, 1, {2000, 12, 31}, {0, 0, 0}, -1, "Before", "BC", "%Ey %EC");
    for (auto &e : eras_) pointers_.push_back(&e);
    loc->time.era_records = pointers_.data();
    loc->time.era_count = static_cast<int32_t>(eras_.size());
    for (int i = 0; i < digits; ++i) {
      std::string d = digits == 10 ? std::string(1, static_cast<char>('a' + i))
                                   : "<" + std::to_string(i) + ">";
      alt_mb_.push_back(swap_.Multi(d));
      alt_wc_.push_back(swap_.Wide(d));
    }
    loc->time.alt_digits = alt_mb_.data();
    loc->time.alt_digits_wc = alt_wc_.data();
    loc->time.alt_digits_count = digits;
    loc->time.era_d_fmt_wc = swap_.Wide("%EY/%Om");
    loc->time.era_t_fmt_wc = swap_.Wide("%OH.%OM");
    loc->time.era_d_t_fmt_wc = swap_.Wide("");
  }

 private:
  struct Date {
    int y, m, d;
  };
  void Add(int dir, int offset, Date start, Date end, int end_kind, const char *name,
           const char *name2, const char *format) {
    GlEraRecord e = {};
    e.direction = dir;
    e.offset = offset;
    e.start_year = start.y, e.start_month = start.m, e.start_day = start.d;
    e.end_year = end.y, e.end_month = end.m, e.end_day = end.d;
    e.end_kind = end_kind;
    e.name = swap_.Multi(name);
    e.name2 = swap_.Multi(name2);
    e.format = swap_.Multi(format);
    e.format_wc = swap_.Wide(format);
    eras_.push_back(e);
  }
  GlLocale *loc_;
  TimeSwap swap_;
  std::vector<GlEraRecord> eras_;
  std::vector<GlEraRecord *> pointers_;
  std::vector<char *> alt_mb_;
  std::vector<GlWchar *> alt_wc_;
};

TEST(StrftimeTest, ErasOfTheFixture) {
  GlLocale *loc = EnUs();
  EraFixture fx(loc);
  struct {
    int y, m, d;
    const char *want;  // "%EC|%Eg|%Ey|%EY|%Oy"
  } cases[] = {
      {2001, 1, 8, "Alpha|A|01|Alpha 01|ab"},     // the start date: the offset
      {2002, 1, 7, "Alpha|A|01|Alpha 01|ab"},     // the day before the anniversary
      {2002, 1, 8, "Alpha|A|02|Alpha 02|ac"},     // the anniversary
      {2006, 6, 1, "Alpha|A|06|Alpha 06|ag"},     // two eras hold it: the first wins
      {2011, 1, 1, "Beta|B|106|B-106|bag"},       // past era 0's end
      {2000, 12, 31, "Before|BC|01|01 Before|ab"},
      {2000, 6, 1, "Before|BC|01|01 Before|ab"},
      {1999, 12, 31, "Before|BC|02|02 Before|ac"},
      {1500, 1, 1, "Before|BC|501|501 Before|fab"},
      {2001, 1, 7, "!9"},                         // between eras
      {1900, 5, 5, "||01||ab"},                   // empty names; an empty era format
  };
  for (const auto &c : cases) {
    GlTimeRecord rec = Record(c.y, c.m, c.d);
    std::string got;
    int k = 0;
    for (const char *f : {"%EC", "%Eg", "%Ey", "%EY", "%Oy"}) {
      std::string one = Format(loc, f, rec);
      if (one == "!9") {  // no era: every conversion fails alike
        got = one;
        break;
      }
      got += (k++ == 0 ? "" : "|") + one;
    }
    EXPECT_EQ(c.want, got) << c.y << "-" << c.m << "-" << c.d;
  }
  GlTimeRecord rec = Record(2026, 3, 5);
  EXPECT_EQ("!22", Format(loc, "%Ed", rec));
  EXPECT_EQ("B-121/ad", Format(loc, "%Ex", rec));
  EXPECT_EQ("aj.af", Format(loc, "%EX", rec));
  EXPECT_EQ("[]", Format(loc, "[%Ec]", rec));
  EXPECT_EQ("!22", Format(loc, "%O", rec));
  EXPECT_EQ("!22", Format(loc, "%Oq", rec));
}

// Era years by anniversary against a model that steps through the years.
TEST(StrftimeTest, EraYearsByAnniversary) {
  GlLocale *loc = EnUs();
  EraFixture fx(loc);
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    int y = 2005 + static_cast<int>(rng() % 200), m = 1 + static_cast<int>(rng() % 12),
        d = 1 + static_cast<int>(rng() % 28);
    // Era 1 holds every date from 2011 on (era 0 before): count the
    // anniversaries of its start date 2005-01-01 that have passed.
    int start_y = y < 2011 ? 2001 : 2005, start_m = 1, start_d = y < 2011 ? 8 : 1;
    int offset = y < 2011 ? 1 : 100;
    int anniversaries = 0;
    for (int k = 1;; ++k) {
      int ay = start_y + k;
      if (ay > y || (ay == y && (start_m > m || (start_m == m && start_d > d)))) break;
      ++anniversaries;
    }
    if (y < 2011 && y == 2001 && (m == 1 && d < 8)) continue;
    GlTimeRecord rec = Record(y, m, d);
    EXPECT_EQ(std::to_string(offset + anniversaries), Format(loc, "%.1Ey", rec))
        << y << "-" << m << "-" << d;
  }
}

TEST(StrftimeTest, AlternateDigits) {
  GlLocale *loc = EnUs();
  GlTimeRecord rec = Record(2026, 1, 5, 13, 7, 9);
  {
    EraFixture ten(loc, 10);
    EXPECT_EQ("af", Format(loc, "%Od", rec));
    EXPECT_EQ(" f", Format(loc, "%Oe", rec));
    rec.mday = 15;
    EXPECT_EQ("bf", Format(loc, "%Oe", rec));
    rec.mday = 5;
    EXPECT_EQ("ab", Format(loc, "%Om", rec));
    EXPECT_EQ("b", Format(loc, "%.1Om", rec));
    EXPECT_EQ("bd.ah|ab|ah", Format(loc, "%OH.%OM|%OI|%OM", rec));
    EXPECT_EQ("bd:h|bd:h:j", Format(loc, "%OR|%OT", rec));
    EXPECT_EQ("ae|ae|age", Format(loc, "%Ou|%Ow|%Oj", rec));
    EXPECT_EQ("b/f/cg|ca", Format(loc, "%OD|%OC", rec));
    EXPECT_EQ("   af|af   |aaaaf", Format(loc, "%5Od|%-5Od|%05Od", rec));
    EXPECT_EQ("aaaf", Format(loc, "%.4Od", rec));
    // Room: the whole number or nothing.
    EXPECT_EQ("!14", Format(loc, "%Od", rec, 2));
  }
  {
    EraFixture hundred(loc, 100);
    EXPECT_EQ("<0><5>", Format(loc, "%Od", rec));
    EXPECT_EQ("<5>", Format(loc, "%Oe", rec));
    rec.mday = 31;
    EXPECT_EQ("<31>", Format(loc, "%Oe", rec));
    // A fill by display width: units of the zero string, blanks left over,
    // the blanks first.
    EXPECT_EQ(" <0><31>", Format(loc, "%08Oe", rec));
    EXPECT_EQ("<31>    ", Format(loc, "%-8Oe", rec));  // '-' pads with blanks
  }
}

TEST(StrftimeTest, ErasAndDigitsOfJapanese) {
  GlLocale *loc = JaJp();
  const std::string reiwa = "\x97\xdf\x98\x61", heisei = "\x95\xbd\x90\xac";
  const std::string nen = "\x94\x4e", gan = "\x8c\xb3", zero = "\x81\x5a", five = "\x8c\xdc";
  GlTimeRecord rec = Record(2026, 3, 5);
  EXPECT_EQ(reiwa, Format(loc, "%EC", rec));
  EXPECT_EQ("08", Format(loc, "%Ey", rec));
  EXPECT_EQ(reiwa + "08" + nen, Format(loc, "%EY", rec));
  EXPECT_EQ(zero + five, Format(loc, "%Od", rec));
  EXPECT_EQ(five, Format(loc, "%Oe", rec));
  EXPECT_EQ("!22", Format(loc, "%Ed", rec));
  rec = Record(2019, 6, 1);
  EXPECT_EQ(reiwa + gan + nen, Format(loc, "%EY", rec));
  rec = Record(1995, 7, 7);
  EXPECT_EQ(heisei + "07" + nen, Format(loc, "%EY", rec));
  // The bound of every era's own format covers the longest.
  int32_t bound = gl_mbsfmtexpand(loc, 1, "%EY");
  EXPECT_GE(bound, static_cast<int32_t>((reiwa + "08" + nen).size()));
}

TEST(StrftimeTest, ExpansionBound) {
  GlLocale *loc = EnUs();
  EXPECT_EQ(10, gl_mbsfmtexpand(loc, 1, "%d/%m/%Y"));
  EXPECT_EQ(-1, gl_mbsfmtexpand(loc, 2, "%d"));
  auto w = W("%d/%m/%Y");
  EXPECT_EQ(10, gl_wcsfmtexpand(loc, 1, w.data()));
  EXPECT_EQ(9, gl_mbsfmtexpand(loc, 1, "%A"));  // "Wednesday"
  EXPECT_EQ(12, gl_mbsfmtexpand(loc, 1, "%12a"));
  EXPECT_EQ(8, gl_mbsfmtexpand(loc, 1, "%T"));
  // A failing conversion: the bound so far, with the error number.
  EXPECT_EQ(3, gl_mbsfmtexpand(loc, 1, "abc%Q"));
  EXPECT_EQ(22, loc->error);

  // Random formats and records in three locales: the bound is never
  // below what is written.
  const char *convs[] = {"%a", "%A", "%b", "%B", "%c", "%C", "%d", "%D", "%e", "%F", "%iF",
                         "%iY", "%iy", "%H", "%I", "%j", "%m", "%M", "%p", "%r", "%R", "%S",
                         "%T", "%u", "%w", "%x", "%X", "%y", "%Y", "%EC", "%Ey", "%EY", "%Ex",
                         "%Ec", "%EX", "%Od", "%Oe", "%OH", "%OT", "%OD", "%Oy", "%%", "x",
                         "\x94\x4e", "%5d", "%-8B", "%.3F", "%07Y", "%.1Od", "%9Oe"};
  std::mt19937 rng(11);
  for (GlLocale *l : {EnUs(), fmttest::DeDe(), JaJp()}) {
    for (int i = 0; i < 3000; ++i) {
      std::string fmt;
      for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
        const char *c = convs[rng() % (sizeof convs / sizeof convs[0])];
        if (l != JaJp() && c[0] == '\x94') continue;
        fmt += c;
      }
      GlTimeRecord rec = Record(1000 + static_cast<int>(rng() % 9000),
                                1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28),
                                static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                                static_cast<int>(rng() % 60));
      rec.wday = static_cast<int>(rng() % 7);
      rec.fraction = static_cast<int>(rng() % 1000000);
      char buf[1024];
      l->error = 0;
      int32_t n = gl_mbsftime(l, buf, sizeof buf, fmt.c_str(), &rec);
      if (n <= 0) continue;
      EXPECT_GE(gl_mbsfmtexpand(l, 1, fmt.c_str()), n) << fmt << " -> " << std::string(buf, n);
    }
  }
}

// The multibyte text must fit with its terminator, or nothing is stored.
TEST(StrftimeTest, MultibyteResultThatDoesNotFit) {
  GlLocale *loc = JaJp();
  GlTimeRecord rec = Record(2026, 3, 5);
  const std::string thursday = "\x96\xd8\x97\x6a\x93\xfa";  // three characters, six bytes
  EXPECT_EQ(thursday, Format(loc, "%A", rec, 7));
  char buf[16];
  memset(buf, 'Z', sizeof buf);
  loc->error = 0;
  EXPECT_EQ(0, gl_mbsftime(loc, buf, 5, "%A", &rec));  // 4 wide characters fit, 7 bytes do not
  EXPECT_EQ(14, loc->error);
  EXPECT_EQ(std::string(16, 'Z'), std::string(buf, 16));
}

// A date the locale's calendar cannot show fails with an error number.
TEST(StrftimeTest, FailedCalendarConversion) {
  GlLocale *he = fmttest::Whole("he_il/0394.lco");
  ASSERT_EQ(2, he->time.calendar);
  GlTimeRecord rec = Record(2026, 3, 5);
  EXPECT_NE('!', Format(he, "%d %m %Y", rec)[0]);
  // 25 March 2024 is 15 Adar II 5784, a leap year: %B takes the name by
  // month_name (Adar II, the 14th name), %m shows the month (the 7th).
  rec = Record(2024, 3, 25, 9, 5, 3);
  EXPECT_EQ("15 07 5784 \xe0\xe3\xf8 \xe1 09:05:03.123", Format(he, "%d %m %Y %B %H:%M:%S%iF3", rec));
  rec.year = 0 - 1900;  // before the first day of the hebrew range
  std::string r = Format(he, "%Y", rec);
  ASSERT_EQ('!', r[0]);
  EXPECT_NE("!0", r);
}

}  // namespace

namespace {

// A locale whose categories are all null formats nothing and never faults.
TEST(StrftimeTest, NullLocale) {
  GlLocale *loc = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&loc));
  GlTimeRecord rec = Record(2026, 3, 5);
  char buf[32];
  EXPECT_EQ(0, gl_mbsftime(loc, buf, sizeof buf, "%Y %B", &rec));
  EXPECT_NE(0, loc->error);
  EXPECT_EQ(2147483647, gl_mbstol(loc, "12", nullptr, 10, 0));
  gl_lc_unload(loc);
}

}  // namespace
