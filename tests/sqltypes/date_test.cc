#include "sqltypes/date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "locale/format/gl_timeinfo.h"
#include "tests/sqltypes/sql_env.h"

namespace {

class DateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sqltest::UseBuildTree(); }
};

// Every valid DATE against the civil calendar of the standard library:
// day 0 is 1899-12-31.
TEST_F(DateTest, EveryDateAgreesWithTheCivilCalendar) {
  using namespace std::chrono;
  const sys_days zero = sys_days{year{1899} / December / 31};
  for (int32_t d = DATE_MIN; d <= DATE_MAX; d++) {
    const year_month_day ymd{zero + days{d}};
    int16_t mdy[3];
    ASSERT_EQ(rjulmdy(d, mdy), 0) << d;
    ASSERT_EQ(mdy[2], static_cast<int>(ymd.year())) << d;
    ASSERT_EQ(mdy[0], static_cast<unsigned>(ymd.month())) << d;
    ASSERT_EQ(mdy[1], static_cast<unsigned>(ymd.day())) << d;
    int32_t back = 0;
    ASSERT_EQ(rmdyjul(mdy, &back), 0) << d;
    ASSERT_EQ(back, d);
    ASSERT_EQ(rdayofweek(d), static_cast<int>(weekday{zero + days{d}}.c_encoding())) << d;
  }
}

TEST_F(DateTest, EdgeCases) {
  struct Case {
    int16_t m, d, y;
    int rc;
    int32_t date;
  } cases[] = {
      {12, 31, 1899, 0, 0},   {1, 1, 1900, 0, 1},      {2, 29, 2000, 0, 36584},
      {2, 29, 1900, -1206, 0}, {13, 1, 2000, -1205, 0}, {1, 1, 10000, -1204, 0},
      {1, 1, 1, 0, -693594},  {12, 31, 9999, 0, 2958464}, {0, 0, 0, 0, DATE_NULL},
      {1, 0, 2000, -1206, 0}, {4, 31, 2000, -1206, 0}, {1, 1, 0, -1204, 0},
  };
  for (const Case& c : cases) {
    int16_t mdy[3] = {c.m, c.d, c.y};
    int32_t date = 0;
    EXPECT_EQ(rmdyjul(mdy, &date), c.rc) << c.m << "/" << c.d << "/" << c.y;
    if (c.rc == 0) {
      EXPECT_EQ(date, c.date);
    }
  }
  int16_t mdy[3] = {9, 9, 9};
  EXPECT_EQ(rjulmdy(2958465, mdy), -1210);
  EXPECT_EQ(mdy[0] | mdy[1] | mdy[2], 0);
  EXPECT_EQ(rjulmdy(DATE_MIN - 1, mdy), -1210);
  EXPECT_EQ(rjulmdy(DATE_NULL, mdy), 0);
  EXPECT_EQ(mdy[0] | mdy[1] | mdy[2], 0);
  EXPECT_EQ(rdayofweek(0), 0);
  EXPECT_EQ(rdayofweek(1), 1);
  EXPECT_EQ(rdayofweek(DATE_NULL), 0);
  EXPECT_EQ(rleapyear(2000), 1);
  EXPECT_EQ(rleapyear(1900), 0);
  EXPECT_EQ(rleapyear(2024), 1);
  EXPECT_EQ(rleapyear(2023), 0);
}

TEST_F(DateTest, NoZeroMdyRefusesTheNullTriple) {
  setenv("ZEL_NOZEROMDY", "1", 1);
  int16_t mdy[3] = {0, 0, 0};
  int32_t date = 5;
  EXPECT_EQ(rmdyjul(mdy, &date), -1206);
  unsetenv("ZEL_NOZEROMDY");
}

TEST_F(DateTest, TextUnderTheDefaultFormatAndMasks) {
  char out[64];
  strcpy(out, "left over");
  ASSERT_EQ(rdatestr(36584, out), 0);
  EXPECT_STREQ(out, "02/29/2000");
  // The buffer is emptied first, also when the date cannot be written.
  strcpy(out, "left over");
  EXPECT_EQ(rdatestr(DATE_MAX + 1, out), -1210);
  EXPECT_STREQ(out, "");
  struct Case {
    int32_t date;
    const char* mask;
    int rc;
    const char* text;
  } cases[] = {
      {36584, "mm/dd/yyyy", 0, "02/29/2000"},
      {36584, "DDD, MMM dd YY", 0, "Tue, Feb 29 00"},
      {36584, "Ww yyy-Mm-dD", 0, "Tue 2000-02-29"},
      {1, "(yyyy) 100%", 0, "(1900) 100%"},
      {36584, nullptr, -1212, ""},
  };
  for (const Case& c : cases) {
    char text[64] = "";
    EXPECT_EQ(rfmtdate(c.date, c.mask, text), c.rc) << (c.mask ? c.mask : "(null)");
    EXPECT_STREQ(text, c.text) << (c.mask ? c.mask : "(null)");
  }
  // An all-blank mask writes nothing.
  strcpy(out, "kept");
  EXPECT_EQ(rfmtdate(1, "   ", out), 0);
  EXPECT_STREQ(out, "kept");
}

TEST_F(DateTest, LocaleFormatHandsOverTheDayOfTheYear) {
  // 1 March 2024 is day 60 counted from 0, printed by %j as 061.
  struct Case {
    int32_t date;
    const char* text;
  } cases[] = {{45351, "061"}, {45349, "059"}, {45350, "060"}, {45716, "060"}};
  for (const Case& c : cases) {
    char out[16];
    ASSERT_EQ(zel_gl_format_date(out, sizeof out, &c.date, "%j"), 0);
    EXPECT_STREQ(out, c.text) << c.date;
  }
  char small[4];
  int32_t d = 36584;
  EXPECT_EQ(zel_gl_format_date(small, sizeof small, &d, nullptr), -1);
  char out[32];
  d = DATE_MAX + 1;
  EXPECT_EQ(zel_gl_format_date(out, sizeof out, &d, "%j"), -1);
}

// The century rule with today pinned in 2024.
TEST_F(DateTest, CenturyRules) {
  struct Case {
    const char* rule;
    int m, d, yy, century;
  } cases[] = {
      {"F", 12, 31, 24, 20}, {"F", 6, 15, 24, 21}, {"F", 1, 1, 24, 21},
      {"P", 6, 15, 24, 19},  {"P", 1, 1, 24, 20},  {"C", 2, 29, 0, 20},
      {"C", 1, 1, 80, 19},   {"C", 1, 1, 60, 20},  {"R", 1, 1, 99, 20},
      {"X", 1, 1, 99, 20},
  };
  gl_set_current_time(15, 6, 2024);
  for (const Case& c : cases) {
    sqltest::OnNewThread([&] {
      setenv("DBCENTURY", c.rule, 1);
      EXPECT_EQ(rgetcentury(c.m, c.d, c.yy), c.century)
          << c.rule << " " << c.m << "/" << c.d << "/" << c.yy;
    });
  }
  unsetenv("DBCENTURY");
  gl_reset_time();
}

TEST_F(DateTest, NameListsFromTheMessageFile) {
  ASSERT_EQ(rdatenamesinit(), 0);
  int n = 0;
  const char* const* days = rdatenames(1200, &n);
  ASSERT_NE(days, nullptr);
  ASSERT_EQ(n, 7);
  EXPECT_STREQ(days[0], "Sun");
  EXPECT_STREQ(days[6], "Sat");
  const char* const* months = rdatenames(1201, &n);
  ASSERT_EQ(n, 12);
  EXPECT_STREQ(months[11], "Dec");
  const char* const* units = rdatenames(1207, &n);
  ASSERT_EQ(n, 6);
  EXPECT_STREQ(units[5], "seconds");
}

}  // namespace
