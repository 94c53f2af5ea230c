#include "sqltypes/datetime_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

namespace {

TEST(ZelLocaltime, AgreesWithTheCLibrary) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  std::mt19937_64 rng(8104);
  std::uniform_int_distribution<int64_t> when(-5'000'000'000LL, 10'000'000'000LL);
  for (int i = 0; i < 2000; i++) {
    int64_t t = i == 0 ? 0 : i == 1 ? 2147483648LL : when(rng);
    struct tm got{}, want{};
    ASSERT_EQ(zel_localtime(&t, &got), &got);
    time_t tt = static_cast<time_t>(t);
    ASSERT_NE(localtime_r(&tt, &want), nullptr);
    ASSERT_EQ(got.tm_year, want.tm_year) << t;
    ASSERT_EQ(got.tm_yday, want.tm_yday) << t;
    ASSERT_EQ(got.tm_hour, want.tm_hour) << t;
    ASSERT_EQ(got.tm_sec, want.tm_sec) << t;
    ASSERT_EQ(got.tm_isdst, want.tm_isdst) << t;
  }
  unsetenv("TZ");
  tzset();
}

TEST(ZelLocaltime, UnconvertibleAndNullArguments) {
  int64_t huge = INT64_MAX;
  struct tm out{};
  ASSERT_EQ(zel_localtime(&huge, &out), &out);
  EXPECT_EQ(out.tm_sec, -1);
  EXPECT_EQ(out.tm_year, -1);
  EXPECT_EQ(out.tm_isdst, -1);
  EXPECT_EQ(zel_localtime(nullptr, &out), nullptr);
  EXPECT_EQ(zel_localtime(&huge, nullptr), nullptr);
}

TEST(DtGetCurrent, YearToFractionOfTheLocalClock) {
  // The precise clock on both sides: time() may run a tick behind it.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t before = ts.tv_sec;
  Decimal d{};
  ASSERT_EQ(dtgetcurrent(&d), 0);
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t after = ts.tv_sec;
  ASSERT_EQ(d.sign, 1);
  ASSERT_EQ(d.exponent, 7);
  ASSERT_GE(d.ndigits, 7);
  uint8_t b[16] = {0};
  for (int i = 0; i < d.ndigits; i++) b[i] = d.digits[i];
  struct tm t{};
  t.tm_year = (b[0] - 19) * 100 + b[1];
  t.tm_mon = b[2] - 1;
  t.tm_mday = b[3];
  t.tm_hour = b[4];
  t.tm_min = b[5];
  t.tm_sec = b[6];
  t.tm_isdst = -1;
  time_t got = mktime(&t);
  EXPECT_GE(got, before - 1);
  EXPECT_LE(got, after);
  EXPECT_EQ(b[8] % 10, 0);  // milliseconds: the fourth fraction digit is 0
  EXPECT_EQ(b[9], 0);
}

}  // namespace
