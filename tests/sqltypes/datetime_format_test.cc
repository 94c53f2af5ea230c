#include "sqltypes/datetime_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "locale/core/gl_ext.h"
#include "tests/sqltypes/sql_env.h"

namespace {

constexpr int kYearToSecond = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int kYearToF5 = TU_ENCODE(19, TU_YEAR, TU_F5);
constexpr int kYearToDay = TU_ENCODE(8, TU_YEAR, TU_DAY);
constexpr int kHourToMinute = TU_ENCODE(4, TU_HOUR, TU_MINUTE);

class DatetimeFormatTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sqltest::UseBuildTree();
    for (const char* v : {"DBTIME", "GL_DATETIME", "ZEL_DATETIME_DOT_IN_FRACTION", "USE_DTENV"})
      unsetenv(v);
    ASSERT_EQ(rglinit(), 0);
  }
};

std::string Translate(const char* format, int mode, int dot, int* rc) {
  char* out = nullptr;
  *rc = dtfmttogl(format, mode, &out, dot);
  std::string s = out != nullptr ? out : "";
  free(out);
  return s;
}

TEST_F(DatetimeFormatTest, TranslationForTheLocaleLibrary) {
  struct Case {
    const char* in;
    int mode, dot;
    const char* out;
  } cases[] = {
      {"%Y-%m", 1, 0, "%04Y-%02m"},
      {"%Y-%m-%d %H:%M:%S", 0, 0, "%04Y-%02m-%02d %02H:%02M:%02S"},
      {"%.3S", 0, 0, "%3S"},            // parsing: the precision becomes the width
      {"%.3S", 1, 0, "%02.3S"},         // formatting keeps it
      {"%5.3S", 0, 0, "%5S"},
      {"%-d", 1, 0, "%-02d"},
      {"%F", 1, 0, "%F2"},
      {"%F", 1, 1, "%iF2"},
      {"%F3", 1, 1, "%iF3"},
      {"%.F", 1, 0, "%.F2"},
      {"%1F", 1, 0, "%1F"},
      {"%Y-%m-%dC1", 1, 0, "%Eg%04.4Ey-%m-%d"},  // era forms: no widths
      {"%y/%mJ2", 1, 0, "%EC%02.2Ey/%m"},
      {"%Y %yj1", 0, 0, "%Eg%Ey %Eg%Ey"},
      {"a%%b %b", 1, 0, "a%%b %b"},
  };
  for (const Case& c : cases) {
    int rc = 0;
    EXPECT_EQ(Translate(c.in, c.mode, c.dot, &rc), c.out) << c.in;
    EXPECT_EQ(rc, 0) << c.in;
  }
  int rc = 0;
  Translate("%Y-%", 1, 0, &rc);
  EXPECT_EQ(rc, -1276);
  Translate("%12", 1, 0, &rc);
  EXPECT_EQ(rc, -1275);
  Translate("%.3-", 1, 0, &rc);
  EXPECT_EQ(rc, -1275);
  char* out = nullptr;
  EXPECT_EQ(dtfmttogl(nullptr, 0, &out, 0), -1272);
}

TEST_F(DatetimeFormatTest, UnitsAFormatCovers) {
  struct Case {
    const char* format;
    int qual;
  } cases[] = {
      {"%H:%M", kHourToMinute},
      {"%D", kYearToDay},
      {"%x", TU_ENCODE(16, TU_YEAR, TU_F2)},
      {"abc", 0},
      {"%%Y", 0},
      {"%Y-%m-%d %H:%M:%S%F5", kYearToF5},
      {"%S%F", TU_ENCODE(4, TU_SECOND, TU_F2)},
      {"%M %3F", TU_ENCODE(7, TU_MINUTE, TU_F3)},
      {"%M %.4F", TU_ENCODE(8, TU_MINUTE, TU_F4)},
      {"%b %d", TU_ENCODE(4, TU_MONTH, TU_DAY)},
      {"%EC%Ey", TU_ENCODE(16, TU_YEAR, TU_F2)},
      {"%Ey", TU_ENCODE(4, TU_YEAR, TU_YEAR)},
      {"%OM:%OS", TU_ENCODE(4, TU_MINUTE, TU_SECOND)},
      {"%R", kHourToMinute},
      {"%T", TU_ENCODE(6, TU_HOUR, TU_SECOND)},
      {"%A %p", TU_ENCODE(10, TU_YEAR, TU_HOUR)},
      {"%M %R", TU_ENCODE(4, TU_HOUR, TU_MINUTE)},
  };
  for (const Case& c : cases) EXPECT_EQ(dtfmtqual(c.format), c.qual) << c.format;
  EXPECT_EQ(dtfmtqual("%S%F7"), -1275);
  EXPECT_EQ(dtfmtqual("%H%"), -1276);
}

TEST_F(DatetimeFormatTest, LocaleErrorsMapToSqlCodes) {
  GlLocale* loc = rgllocstate()->client;
  ASSERT_NE(loc, nullptr);
  const int table[][2] = {{3, -1211},   {12, -23108}, {14, -1273}, {15, -1276}, {22, -1276},
                          {32, -1263},  {33, -1277},  {37, -1277}, {41, -1277}, {42, -1236},
                          {43, -1237},  {44, -1263},  {46, -1277}, {47, -1271}, {9, -1263}};
  for (const auto& t : table) {
    *_gl_ext_errno(loc) = t[0];
    EXPECT_EQ(rglerrtosql(), t[1]) << t[0];
  }
  *_gl_ext_errno(loc) = 0;
}

TEST_F(DatetimeFormatTest, PictureFormats) {
  struct Case {
    const char* picture;
    int rc;
    const char* out;
  } cases[] = {
      {"YYYY-MM-DD HH24:MI:SS", 0, "%iY-%m-%e %H:%M:%S"},
      {"Q", -5853, ""},
      {"XX", -5854, ""},
      {"\"at\" HH", 0, "at %I"},
      {"\"a\"\"b\"", 0, "ab"},
      {"dy, dd month yy hh12:mi am", 0, "%a, %e %B %iy %I:%M %p"},
      {"Mon RR", 0, "%b %iy"},
      {"DDD", -5853, ""},
      {"sssss", -5853, ""},
      {"B.C.", -5853, ""},
      {"b.cx", -5853, ""},  // "B.C." is compared over three characters
      {"\"open", -5854, ""},
      {"2024", -5854, ""},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    char out[64] = "x";
    EXPECT_EQ(zel_to_gl_datetime(c.picture, out, sizeof out), c.rc) << c.picture;
    if (c.rc == 0) {
      EXPECT_STREQ(out, c.out) << c.picture;
    }
  }
  char small[8];
  EXPECT_EQ(zel_to_gl_datetime("YYYY-MM-DD", small, sizeof small), -5855);
  EXPECT_EQ(zel_to_gl_datetime("YYYY", small, 0), -5855);
  EXPECT_EQ(zel_to_gl_datetime("YYYY", nullptr, 8), -5855);
  // A translation longer than the work area is refused, never cut or
  // written past it.
  std::string big;
  for (int i = 0; i < 600; i++) big += "MI";
  std::string out(4096, 'x');
  EXPECT_EQ(zel_to_gl_datetime(big.c_str(), out.data(), static_cast<int>(out.size())), -5855);
  std::string quoted = "\"" + std::string(1100, 'a') + "\"";
  EXPECT_EQ(zel_to_gl_datetime(quoted.c_str(), out.data(), static_cast<int>(out.size())), -5855);
  std::string fits = "\"" + std::string(1007, 'a') + "\"";
  EXPECT_EQ(zel_to_gl_datetime(fits.c_str(), out.data(), static_cast<int>(out.size())), 0);
  EXPECT_EQ(strlen(out.c_str()), 1007u);
}

DateTimeValue Value(int qual, const char* text) {
  DateTimeValue v{static_cast<int16_t>(qual), {}};
  EXPECT_EQ(dtcvasc(text, &v), 0) << text;
  return v;
}

std::string Standard(const DateTimeValue& v) {
  char out[90];
  EXPECT_EQ(dttoasc(&v, out), 0);
  return out;
}

TEST_F(DatetimeFormatTest, ParseAndFormatByFormat) {
  DateTimeValue v{kYearToSecond, {}};
  EXPECT_EQ(dtcvfmtasc("2024-03-05 10:20:30 x", "%Y-%m-%d %H:%M:%S", &v), -1263);
  EXPECT_EQ(dtcvfmtasc("", "%Y-%m-%d", &v), -1272);
  EXPECT_EQ(dtcvfmtasc(nullptr, "%Y-%m-%d", &v), -1272);
  ASSERT_EQ(dtcvfmtasc("05/03/2024 10:20:30  ", "%d/%m/%Y %H:%M:%S", &v), 0);
  EXPECT_EQ(Standard(v), "2024-03-05 10:20:30");
  // Cut to the format's last unit, then extended to the out qualifier.
  ASSERT_EQ(dtcvfmtasc("2024-03-05 10:20:30", "%Y-%m-%d %H:%M:%S", &v), 0);
  DateTimeValue day{kYearToDay, {}};
  ASSERT_EQ(dtcvfmtasc("2024-03-05 10:20:30", "%Y-%m-%d %H:%M:%S", &day), 0);
  EXPECT_EQ(Standard(day), "2024-03-05");
  DateTimeValue f5{kYearToF5, {}};
  ASSERT_EQ(dtcvfmtasc("2024-03-05 10:20:30.12345", "%Y-%m-%d %H:%M:%S.%F5", &f5), 0);
  EXPECT_EQ(Standard(f5), "2024-03-05 10:20:30.12345");
  EXPECT_EQ(dtcvfmtasc("2024-02-30", "%Y-%m-%d", &day), -1263);

  char out[81];
  const DateTimeValue when = Value(kYearToF5, "2024-03-05 14:20:30.12345");
  ASSERT_EQ(dttofmtasc(&when, out, 80, "%A %d %B %Y, %I:%M %p"), 0);
  EXPECT_STREQ(out, "Tuesday 05 March 2024, 02:20 PM");
  ASSERT_EQ(dttofmtasc(&when, out, 80, "%H:%M:%S%F3 %j"), 0);
  EXPECT_STREQ(out, "14:20:30123 065");
  DateTimeValue null_value{kYearToSecond, {}};
  null_value.dt_dec.sign = DEC_NULLSIGN;
  strcpy(out, "x");
  EXPECT_EQ(dttofmtasc(&null_value, out, 80, "%Y"), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(dttofmtasc(&when, nullptr, 80, "%Y"), -1273);
  ASSERT_EQ(dttofmtasc(&when, out, 80, "no fields"), 0);
  EXPECT_STREQ(out, "no fields");
  // The default: the locale's own date-and-time format.
  ASSERT_EQ(dttofmtasc(&when, out, 80, nullptr), 0);
  EXPECT_STREQ(out, "Tue 05 Mar 2024 02:20:30 PM");
}

TEST_F(DatetimeFormatTest, FormatChosenInOrder) {
  const DateTimeValue when = Value(kYearToF5, "2024-03-05 14:20:30.12345");
  char out[81];
  setenv("GL_DATETIME", "%d.%m.%Y %H:%M %F", 1);
  ASSERT_EQ(dttofmtasc(&when, out, 80, nullptr), 0);
  EXPECT_STREQ(out, "05.03.2024 14:20 12");
  // dttoasc hands over to the format while GL_DATETIME is set.
  ASSERT_EQ(dttoasc(&when, out), 0);
  EXPECT_STREQ(out, "05.03.2024 14:20 12");
  setenv("DBTIME", "%Y/%m/%d", 1);
  ASSERT_EQ(dttofmtasc(&when, out, 80, nullptr), 0);
  EXPECT_STREQ(out, "2024/03/05");
  ASSERT_EQ(dttofmtasc(&when, out, 80, "%H"), 0);
  EXPECT_STREQ(out, "14");
  unsetenv("DBTIME");
  unsetenv("GL_DATETIME");
  ASSERT_EQ(dttoasc(&when, out), 0);
  EXPECT_STREQ(out, "2024-03-05 14:20:30.12345");
}

TEST_F(DatetimeFormatTest, StandardTextUnderUseDtenv) {
  sqltest::OnNewThread([] {
    setenv("USE_DTENV", "1", 1);
    setenv("DBTIME", "%d/%m/%Y %H:%M", 1);
    DateTimeValue v = Value(kYearToSecond, "05/03/2024 10:20");
    unsetenv("DBTIME");
    EXPECT_EQ(Standard(v), "2024-03-05 10:20:00");
    // A failed read leaves the caller's value as it was.
    EXPECT_NE(dtcvasc("2024-03-05 10:20:30", &v), 0);
    EXPECT_EQ(Standard(v), "2024-03-05 10:20:00");
  });
  unsetenv("USE_DTENV");
}

TEST_F(DatetimeFormatTest, ExportedLocaleForms) {
  DateTimeValue v{};
  ASSERT_EQ(zel_gl_convert_datetime(&v, "05.03.2024 10:20", "%d.%m.%Y %H:%M"), 0);
  EXPECT_EQ(v.dt_qual, TU_ENCODE(12, TU_YEAR, TU_MINUTE));
  EXPECT_EQ(Standard(v), "2024-03-05 10:20");
  EXPECT_EQ(zel_gl_convert_datetime(&v, "05.03.2024", "%d.%m.%Y %H:%M"), -1);
  EXPECT_EQ(zel_gl_convert_datetime(&v, "2024", "%Y %F9"), -1);
  EXPECT_EQ(*_gl_ext_errno(rgllocstate()->client), 22);
  char out[64];
  // The digits are read as YEAR TO the format's last unit, whatever the
  // value's qualifier says.
  const DateTimeValue when = Value(kYearToSecond, "2024-03-05 10:20:30");
  ASSERT_EQ(zel_gl_format_datetime(out, sizeof out, &when, "%Y-%m-%d %H:%M:%S %a %j"), 0);
  EXPECT_STREQ(out, "2024-03-05 10:20:30 Tue 065");
  const DateTimeValue hm = Value(kHourToMinute, "10:20");
  ASSERT_EQ(zel_gl_format_datetime(out, sizeof out, &hm, "%H:%M"), 0);
  EXPECT_STREQ(out, "10:20");
}

IntervalValue Interval(int qual, const char* text) {
  IntervalValue v{static_cast<int16_t>(qual), {}};
  EXPECT_EQ(incvasc(text, &v), 0) << text;
  return v;
}

std::string IntervalText(const IntervalValue& v) {
  char out[64];
  EXPECT_EQ(intoasc(&v, out), 0);
  return out;
}

TEST_F(DatetimeFormatTest, IntervalFormats) {
  char out[64];
  const IntervalValue hm = Interval(kHourToMinute, "5:07");
  ASSERT_EQ(intofmtasc(&hm, out, sizeof out, "%H:%M"), 0);
  EXPECT_STREQ(out, "05:07");
  EXPECT_EQ(intofmtasc(&hm, out, sizeof out, "%H %p"), -1276);
  EXPECT_EQ(intofmtasc(&hm, out, 3, "%H:%M"), -1273);
  EXPECT_EQ(intofmtasc(&hm, nullptr, 30, "%H:%M"), -1273);
  const IntervalValue neg = Interval(TU_ENCODE(15, TU_DAY, TU_F5), "-0 13:04:05.12345");
  ASSERT_EQ(intofmtasc(&neg, out, sizeof out, "%d days %I:%M:%S%F3"), 0);
  EXPECT_STREQ(out, "-00 days 01:04:05.123");
  ASSERT_EQ(intofmtasc(&neg, out, sizeof out, "%5d|%-4H|%%"), 0);
  EXPECT_STREQ(out, "-    0|13  |%");
  const IntervalValue ym = Interval(TU_ENCODE(6, TU_YEAR, TU_MONTH), "-123-04");
  ASSERT_EQ(intofmtasc(&ym, out, sizeof out, "%Y years %m months"), 0);
  EXPECT_STREQ(out, "-0123 years 04 months");

  IntervalValue v{TU_ENCODE(15, TU_DAY, TU_F5), {}};
  ASSERT_EQ(incvfmtasc("-3 days 4:05:06.789", "%d days %H:%M:%S%F3", &v), 0);
  EXPECT_EQ(IntervalText(v), "   -3 04:05:06.78900");
  IntervalValue hs{TU_ENCODE(6, TU_HOUR, TU_SECOND), {}};
  ASSERT_EQ(incvfmtasc("  1234h5m", "%Hh%Mm", &hs), -1265);  // HOUR(2) cannot hold 1234
  IntervalValue h9{TU_ENCODE(13, TU_HOUR, TU_SECOND), {}};
  ASSERT_EQ(incvfmtasc("  1234h5m", "%Hh%Mm", &h9), 0);
  EXPECT_EQ(IntervalText(h9), "      1234:05:00");
  struct Bad {
    const char* text;
    const char* format;
    int rc;
  } bad[] = {
      {"", "%H", -1272},
      {"5 x", "%H y", -1277},
      {"5:07", "%H:%M%F", -1271},
      {"5:07.1", "%H:%M%F7", -1275},
      {"5", "%b", -1276},
      {"5 5", "%H %q", -1276},
      {"5:07 extra", "%H:%M", -1277},
      {"1234567890", "%H", -1263},
      {"5:071", "%H:%Mx", -1263},
      {"5:071", "%H:%M2", -1277},
  };
  for (const Bad& b : bad) {
    IntervalValue w{kHourToMinute, {}};
    EXPECT_EQ(incvfmtasc(b.text, b.format, &w), b.rc) << b.text << " / " << b.format;
  }
}

}  // namespace
