#include "sqltypes/datetime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "tests/sqltypes/sql_env.h"

namespace {

constexpr int kYearToDay = TU_ENCODE(8, TU_YEAR, TU_DAY);
constexpr int kYearToSecond = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int kYearToF3 = TU_ENCODE(17, TU_YEAR, TU_F3);
constexpr int kYearToF5 = TU_ENCODE(19, TU_YEAR, TU_F5);
constexpr int kHourToMinute = TU_ENCODE(4, TU_HOUR, TU_MINUTE);
constexpr int kDay3ToSecond = TU_ENCODE(9, TU_DAY, TU_SECOND);
constexpr int kYearToMonth = TU_ENCODE(6, TU_YEAR, TU_MONTH);

class DatetimeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sqltest::UseBuildTree(); }
};

DateTimeValue Dt(int qual, const char* text) {
  DateTimeValue v{static_cast<int16_t>(qual), {}};
  EXPECT_EQ(dtcvasc(text, &v), 0) << text;
  return v;
}

IntervalValue Iv(int qual, const char* text) {
  IntervalValue v{static_cast<int16_t>(qual), {}};
  EXPECT_EQ(incvasc(text, &v), 0) << text;
  return v;
}

std::string Text(const DateTimeValue& v) {
  char out[64];
  EXPECT_EQ(dttoasc(&v, out), 0);
  return out;
}

std::string Text(const IntervalValue& v) {
  char out[64];
  EXPECT_EQ(intoasc(&v, out), 0);
  return out;
}

TEST_F(DatetimeTest, QualifierEncodingAndChecks) {
  EXPECT_EQ(kYearToSecond, 0x0E0A);
  EXPECT_EQ(kYearToF5, 0x130F);
  EXPECT_EQ(TU_ENCODE(15, TU_DAY, TU_SECOND), 0x0F4A);
  EXPECT_EQ(dtchkqual(0, kYearToSecond), 0);
  EXPECT_EQ(dtchkqual(1, TU_ENCODE(15, TU_DAY, TU_SECOND)), 0);
  EXPECT_EQ(dtchkqual(1, TU_ENCODE(12, TU_FRAC, TU_F1)), 0);  // FRACTION TO FRACTION(1)
  const int bad[][2] = {{0, 0}, {0, TU_ENCODE(6, TU_YEAR, TU_MONTH) + 0x100},  // year of 5 digits
                        {0, TU_ENCODE(5, TU_DAY, TU_SECOND)},  // DAY(−1)
                        {1, TU_ENCODE(8, TU_YEAR, TU_DAY)},    // year to day interval
                        {0, TU_ENCODE(4, TU_MINUTE, TU_HOUR)}, {0, TU_ENCODE(3, 1, 3)}};
  for (const auto& b : bad) EXPECT_EQ(dtchkqual(b[0], b[1]), -1268) << std::hex << b[1];
  EXPECT_EQ(rgeterror(), -1268);
}

TEST_F(DatetimeTest, StandardTextEdgeCases) {
  struct Case {
    int kind, qual;
    const char* text;
    int rc;
  } cases[] = {
      {0, kYearToDay, "2024-02-30", -1263},
      {0, kYearToDay, "2023-02-29", -1263},
      {0, kYearToDay, "2024-02-29", 0},
      {0, kYearToF3, "2024-03-05 10:20:30", 0},
      {0, kYearToF3, "2024-03-05 10:20:30.1234", -1264},
      {0, kYearToF3, "2024-03-05 10:20", -1263},
      {1, kDay3ToSecond, "1234 01:02:03", -1261},
      {0, kYearToDay, "2024-03-05 x", -1262},
      {0, kYearToDay, "2024-03-05  7x", -1264},
      {0, kYearToDay, "2024/03/05", -1262},
      {0, kHourToMinute, "24:00", -1263},
      {0, kHourToMinute, "   ", 0},
      {1, TU_ENCODE(3, TU_FRAC, TU_F3), "1.5", -1263},
      // First fields hold at most 18 digits, whatever the qualifier says.
      {1, TU_ENCODE(30, TU_SECOND, TU_SECOND), "1234567890123456789", -1261},
      {1, TU_ENCODE(30, TU_SECOND, TU_SECOND), "99999999999999999", 0},
      {1, TU_ENCODE(3, TU_FRAC, TU_F3), "0 5", -1271},
  };
  for (const Case& c : cases) {
    int rc;
    if (c.kind == 0) {
      DateTimeValue v{static_cast<int16_t>(c.qual), {}};
      rc = dtcvasc(c.text, &v);
    } else {
      IntervalValue v{static_cast<int16_t>(c.qual), {}};
      rc = incvasc(c.text, &v);
    }
    EXPECT_EQ(rc, c.rc) << c.text;
  }
  EXPECT_EQ(Text(Dt(kYearToF3, "2024-03-05 10:20:30")), "2024-03-05 10:20:30.000");
  EXPECT_EQ(Text(Dt(kYearToDay, "024-03-05")), "0024-03-05");
  EXPECT_EQ(Text(Dt(TU_ENCODE(4, TU_MONTH, TU_DAY), "03-05")), "03-05");
  EXPECT_EQ(Text(Dt(kHourToMinute, "10:20")), "10:20");
  EXPECT_EQ(Text(Iv(kDay3ToSecond, "-5 3:4:5")), "  -5 03:04:05");
  EXPECT_EQ(Text(Iv(kDay3ToSecond, "5 03:04:05")), "   5 03:04:05");
  EXPECT_EQ(Text(Iv(kDay3ToSecond, "0 03:04:05")), "   0 03:04:05");
  EXPECT_EQ(Text(Iv(TU_ENCODE(3, TU_FRAC, TU_F3), ".123")), " .123");
  EXPECT_EQ(Text(Iv(TU_ENCODE(3, TU_FRAC, TU_F3), "-.123")), "-.123");
}

TEST_F(DatetimeTest, TwoDigitYearTakesItsCenturyFromTheRule) {
  sqltest::OnNewThread([] {
    setenv("DBTODAY", "2024-06-15 12:00:00", 1);
    setenv("DBCENTURY", "F", 1);
    EXPECT_EQ(Text(Dt(kYearToDay, "24-12-31")), "2024-12-31");
    EXPECT_EQ(Text(Dt(kYearToDay, "24-06-15")), "2124-06-15");
    EXPECT_EQ(Text(Dt(kYearToDay, "1-01-01")), "2101-01-01");
  });
  unsetenv("DBTODAY");
  unsetenv("DBCENTURY");
}

TEST_F(DatetimeTest, ArithmeticEdgeCases) {
  const IntervalValue month = Iv(kYearToMonth, "0-01");
  struct Add {
    int dq;
    const char* dt;
    int iq;
    const char* inv;
    bool subtract;
    int rc;
    const char* result;
  } adds[] = {
      {kYearToDay, "2024-01-31", kYearToMonth, "0-01", false, 0, "2024-02-29"},
      {kYearToDay, "2023-01-31", kYearToMonth, "0-01", false, 0, "2023-02-28"},
      {kYearToDay, "2024-12-15", kYearToMonth, "0-01", false, 0, "2025-01-15"},
      {kYearToDay, "2024-03-31", kYearToMonth, "0-01", true, 0, "2024-02-29"},
      {kYearToDay, "2024-01-15", kYearToMonth, "0-11", false, 0, "2024-12-15"},
      {kYearToDay, "2024-01-15", kYearToMonth, "-0-01", false, 0, "2023-12-15"},
      {kHourToMinute, "23:30", kHourToMinute, "1:00", false, -1267, nullptr},
      {TU_ENCODE(4, TU_DAY, TU_HOUR), "31 23", TU_ENCODE(2, TU_HOUR, TU_HOUR), "1", false,
       -1267, nullptr},
      {kYearToDay, "2024-12-31", TU_ENCODE(3, TU_DAY, TU_DAY), "1", false, 0, "2025-01-01"},
      {TU_ENCODE(4, TU_MONTH, TU_DAY), "12-31", TU_ENCODE(3, TU_DAY, TU_DAY), "1", false, -1267,
       nullptr},
      {kYearToDay, "9999-12-31", TU_ENCODE(3, TU_DAY, TU_DAY), "1", false, -1204, nullptr},
      {kYearToSecond, "2024-02-29 23:59:59", kDay3ToSecond, "0 00:00:01", false, 0,
       "2024-03-01 00:00:00"},
      {kYearToDay, "2024-01-01", kDay3ToSecond, "1 00:00:00", false, -1266, nullptr},
  };
  for (const Add& a : adds) {
    DateTimeValue d = Dt(a.dq, a.dt), out{};
    IntervalValue i = Iv(a.iq, a.inv);
    const IntervalValue before = i;
    const int rc = a.subtract ? dtsubinv(&d, &i, &out) : dtaddinv(&d, &i, &out);
    EXPECT_EQ(rc, a.rc) << a.dt << " + " << a.inv;
    // The interval is never changed, not even for the length of the call.
    EXPECT_EQ(memcmp(&before, &i, sizeof i), 0);
    if (rc == 0) {
      EXPECT_EQ(Text(out), a.result) << a.dt << " + " << a.inv;
    } else {
      EXPECT_EQ(out.dt_dec.sign, DEC_NULLSIGN);
    }
  }
  (void)month;
  // DATETIME minus DATETIME.
  IntervalValue diff{static_cast<int16_t>(TU_ENCODE(9, TU_DAY, TU_SECOND)), {}};
  DateTimeValue x = Dt(kYearToSecond, "2024-03-01 00:00:00"), y = Dt(kYearToSecond, "2024-02-28 12:00:00");
  ASSERT_EQ(dtsub(&x, &y, &diff), 0);
  EXPECT_EQ(Text(diff), "   1 12:00:00");
  ASSERT_EQ(dtsub(&y, &x, &diff), 0);
  EXPECT_EQ(Text(diff), "  -1 12:00:00");
  // Interval conversions.
  IntervalValue dh = Iv(TU_ENCODE(4, TU_DAY, TU_HOUR), "3 12");
  IntervalValue hm{static_cast<int16_t>(kHourToMinute), {}};
  ASSERT_EQ(invextend(&dh, &hm), 0);
  EXPECT_EQ(Text(hm), " 84:00");
  IntervalValue h1m{static_cast<int16_t>(TU_ENCODE(3, TU_HOUR, TU_MINUTE)), {}};
  EXPECT_EQ(invextend(&dh, &h1m), -1265);
  EXPECT_EQ(h1m.in_dec.sign, DEC_NULLSIGN);
  IntervalValue hs = Iv(TU_ENCODE(6, TU_HOUR, TU_SECOND), "1:02:03");
  ASSERT_EQ(invextend(&hs, &hm), 0);
  EXPECT_EQ(Text(hm), "  1:02");
  IntervalValue ym = Iv(kYearToMonth, "1-02"), ds{static_cast<int16_t>(kDay3ToSecond), {}};
  EXPECT_EQ(invextend(&ym, &ds), -1266);
  // DATETIME conversions.
  DateTimeValue f5 = Dt(kYearToF5, "2024-03-05 10:20:30.12345");
  DateTimeValue ym2{static_cast<int16_t>(TU_ENCODE(12, TU_YEAR, TU_MINUTE)), {}};
  ASSERT_EQ(dtextend(&f5, &ym2), 0);
  EXPECT_EQ(Text(ym2), "2024-03-05 10:20");
  DateTimeValue year = Dt(TU_ENCODE(4, TU_YEAR, TU_YEAR), "2024"), ymd{kYearToDay, {}};
  ASSERT_EQ(dtextend(&year, &ymd), 0);
  EXPECT_EQ(Text(ymd), "2024-01-01");
}

TEST_F(DatetimeTest, ScalingAndDividingIntervals) {
  IntervalValue v = Iv(kDay3ToSecond, "1 12:00:00"), out{static_cast<int16_t>(kDay3ToSecond), {}};
  ASSERT_EQ(invmuldbl(&v, 2.5, &out), 0);
  EXPECT_EQ(Text(out), "   3 18:00:00");
  ASSERT_EQ(invdivdbl(&v, 4, &out), 0);
  EXPECT_EQ(Text(out), "   0 09:00:00");
  EXPECT_EQ(invdivdbl(&v, 0, &out), -1202);
  double q = 0;
  IntervalValue h = Iv(TU_ENCODE(2, TU_HOUR, TU_HOUR), "6");
  ASSERT_EQ(invdivinv(&v, &h, &q), 0);
  EXPECT_EQ(q, 6.0);
}

TEST_F(DatetimeTest, QualifierNamesAndResultTypes) {
  struct Name {
    int kind, qual;
    const char* text;
  } names[] = {
      {10, kYearToSecond, "year to second"},
      {10, TU_ENCODE(9, TU_HOUR, TU_F3), "hour to fraction(3)"},
      {14, TU_ENCODE(11, TU_DAY, TU_SECOND), "day(5) to second"},
      {14, TU_ENCODE(8, TU_DAY, TU_SECOND), "day to second"},
      {14, TU_ENCODE(8, TU_YEAR, TU_DAY), ""},
  };
  for (const Name& n : names) {
    char out[64];
    const int len = dtqualname(n.kind, n.qual, out);
    EXPECT_EQ(std::string(out, len), n.text);
  }
  // rtypresult: words, operator codes 46-51 compare, 58 +, 59 -, 60 *, 61 /.
  struct Type {
    int lw, rw, op, lt, rt, result;
  } types[] = {
      {10 << 8 | 2, 8 << 8 | 4, 58, 5, 5, 16 << 8 | 4},       // DECIMAL(10,2) + DECIMAL(8,4)
      {5 << 8, 5 << 8, 61, 5, 5, 16 << 8 | 255},              // DECIMAL(5,0) / DECIMAL(5,0)
      {5 << 8, 5 << 8, 60, 5, 5, 10 << 8},                    // DECIMAL(5,0) * DECIMAL(5,0)
      {20 << 8 | 10, 20 << 8 | 10, 60, 5, 5, 32 << 8 | 255},  // precision 32: floating
      {5 << 8 | 2, 0, 58, 5, 3, 17 << 8 | 255},               // beside a FLOAT
      {kYearToSecond, kYearToSecond, 59, 10, 10, TU_ENCODE(14, TU_DAY, TU_SECOND)},
      {kYearToDay, kHourToMinute, 48, 10, 10, TU_ENCODE(12, TU_YEAR, TU_MINUTE)},
      {kYearToSecond, 0, 59, 10, 7, TU_ENCODE(14, TU_DAY, TU_SECOND)},  // minus a DATE
      {0, kYearToSecond, 58, 7, 10, kYearToDay},  // a DATE plus
      {kDay3ToSecond, 0, 60, 14, 3, TU_ENCODE(15, TU_DAY, TU_SECOND)},
      {TU_ENCODE(3, TU_FRAC, TU_F3), 0, 60, 14, 2, TU_ENCODE(12, TU_SECOND, TU_F3)},
      {TU_ENCODE(4, TU_DAY, TU_HOUR), TU_ENCODE(6, TU_HOUR, TU_SECOND), 46, 14, 14,
       TU_ENCODE(8, TU_DAY, TU_SECOND)},
      {0, kDay3ToSecond, 60, 2, 14, TU_ENCODE(15, TU_DAY, TU_SECOND)},
  };
  for (const Type& t : types)
    EXPECT_EQ(rtypresult(t.lw, t.rw, t.op, t.lt, t.rt), t.result)
        << std::hex << t.lw << " " << t.rw << " op " << std::dec << t.op;
  EXPECT_STREQ(rtuname(TU_YEAR), "year");
  EXPECT_STREQ(rtuname(TU_SECOND), "second");
  EXPECT_STREQ(rtuname(TU_F3), "fraction");
}

TEST_F(DatetimeTest, CurrentTimeInAnyQualifier) {
  DateTimeValue v{0, {}};
  ASSERT_EQ(dtcurrent(&v), 0);
  EXPECT_EQ(v.dt_qual, kYearToF3);
  DateTimeValue f5{kYearToF5, {}};
  ASSERT_EQ(dtcurrent(&f5), 0);
  const std::string t = Text(f5);
  EXPECT_EQ(t.substr(t.size() - 2), "00");  // a millisecond clock
}

// DBTODAY moves every current time of the thread: the first request runs
// from that moment, later ones on with the clock.
TEST_F(DatetimeTest, DbtodayShiftsTheThreadsClock) {
  sqltest::OnNewThread([] {
    setenv("DBTODAY", "2000-01-01 00:00:00", 1);
    int32_t today = 0;
    rtoday(&today);
    EXPECT_EQ(today, 36525);
    DateTimeValue now{kYearToSecond, {}};
    ASSERT_EQ(dtcurrent(&now), 0);
    const std::string t = Text(now);
    EXPECT_EQ(t.substr(0, 14), "2000-01-01 00:") << t;
    EXPECT_EQ(rgeterror(), 0);
  });
  // A value that is no DATETIME leaves the clock unshifted.
  sqltest::OnNewThread([] {
    setenv("DBTODAY", "not a date", 1);
    int32_t today = 0;
    rtoday(&today);
    EXPECT_GT(today, 45000);
  });
  unsetenv("DBTODAY");
}

// A fixed current time of the thread stands in for the clock.
TEST_F(DatetimeTest, FixedCurrentTimeWinsOverTheClock) {
  sqltest::OnNewThread([] {
    DateTimeValue fixed = Dt(kYearToF5, "1999-12-31 23:59:59.99900");
    ThreadRuntimeRecord* tr = rthreadrec();
    ASSERT_NE(tr, nullptr);
    tr->fixed_current_time = &fixed.dt_dec;
    DateTimeValue now{kYearToSecond, {}};
    ASSERT_EQ(dtcurrent(&now), 0);
    EXPECT_EQ(Text(now), "1999-12-31 23:59:59");
    tr->fixed_current_time = nullptr;
  });
}

}  // namespace
