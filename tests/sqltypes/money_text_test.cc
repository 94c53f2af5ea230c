// Money and number text in the default client locale (en_us.8859-1).
#include "tests/sqltypes/money_oracle.h"

namespace {

class MoneyTextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sqltest::UseBuildTree();
    unsetenv("IGNORE_UNDERFLOW");
    ASSERT_EQ(rglinit(), 0);
  }
};

TEST_F(MoneyTextTest, MoneyTextAndPlainText) {
  char out[64];
  rmondec("  $1,234.50", 11, out);
  EXPECT_STREQ(out, "1,234.50");
  rmondec("  $1,234.50", 6, out);  // the length counts from the text's start
  EXPECT_STREQ(out, "1,2");
  rmondec("   ", 3, out);
  EXPECT_STREQ(out, "");
  rmondecexttab("DM1.234,50", 10, out, "DM,");
  EXPECT_STREQ(out, "1.234,50");
  rmondecexttab("1.234,50 EUR", 12, out, ",EUR");
  EXPECT_STREQ(out, "1.234,50 ");
  rnum2money("-1,234.50", out, nullptr, 0);
  EXPECT_STREQ(out, "$-1,234.50");
  rnum2money("1234,5", out, ",EUR", 0);
  EXPECT_STREQ(out, "1234,5EUR");
  rnum2money("1234,5", out, ",EUR", 1);
  EXPECT_STREQ(out, "1234,5");
  EXPECT_EQ(rmoneyscale(), 2);
  EXPECT_EQ(rmoneyfrontlen(), 1);
  EXPECT_EQ(rmoneybacklen(), 0);
  // rmondec and rnum2money are inverse on random amounts, for several
  // settings.
  std::mt19937_64 rng(3);
  for (const char* setting : {"$.", "DM,", ".EUR", ",kr", "US$."}) {
    for (int i = 0; i < 300; i++) {
      char plain[40], money[80], again[160];
      const bool comma = strchr(setting, ',') != nullptr;
      snprintf(plain, sizeof plain, "%s%llu%c%02u", rng() % 2 ? "-" : "",
               static_cast<unsigned long long>(rng() % 1000000000ULL), comma ? ',' : '.',
               static_cast<unsigned>(rng() % 100));
      rnum2money(plain, money, setting, 0);
      rmondecexttab(money, static_cast<int>(strlen(money)), again, setting);
      ASSERT_STREQ(again, plain) << setting << " " << money;
    }
  }
}

TEST_F(MoneyTextTest, DbmoneyDecimalComma) {
  char same[16] = "1234.5";
  EXPECT_EQ(rnumlocalize(same, 3, 0), 0);  // a "." separator: nothing to do
  EXPECT_STREQ(same, "1234.5");
  sqltest::OnNewThread([] {
    setenv("DBMONEY", "DM,", 1);
    char text[32] = "-1234.125";
    ASSERT_EQ(rnumlocalize(text, 9, 0), 0);
    EXPECT_STREQ(text, "-1234,125");
    strcpy(text, "-1234.125");
    ASSERT_EQ(rnumlocalize(text, 6, 0), 0);  // cut at the separator
    EXPECT_STREQ(text, "-1234");
    strcpy(text, "-1234.125");
    EXPECT_EQ(rnumlocalize(text, 6, 1), -1273);
    EXPECT_EQ(rnumlocalize(text, 4, 0), -1273);
    EXPECT_STREQ(text, "-1234.125");
    Decimal d;
    ASSERT_EQ(deccvasc("1234,5", 6, &d), 0);
    char out[80];
    ASSERT_EQ(zel_gl_format_money(out, sizeof out, &d, nullptr), 0);
    EXPECT_STREQ(out, "DM1234,50");
    Decimal back;
    ASSERT_EQ(zel_gl_convert_money(&back, "  DM1.234,50", nullptr), 0);
    EXPECT_EQ(deccmp(&d, &back), 0);
    moneytest::MoneyRoundTrip(500);
  });
  unsetenv("DBMONEY");
}

TEST_F(MoneyTextTest, LocaleMoneyErrors) {
  Decimal d;
  ASSERT_EQ(deccvasc("12.5", 4, &d), 0);
  char out[80];
  EXPECT_EQ(zel_gl_format_money(out, sizeof out, &d, "%n %n"), -1);
  EXPECT_EQ(rgetglerror(), 22);
  EXPECT_EQ(zel_gl_convert_money(&d, "12", "%n and %n"), -1);
  EXPECT_EQ(rgetglerror(), 22);
  EXPECT_EQ(zel_gl_convert_money(&d, "1x2", nullptr), -1);
  EXPECT_EQ(rgetglerror(), 9);
  EXPECT_EQ(zel_gl_convert_money(&d, "1e200", nullptr), -1);
  EXPECT_EQ(rgetglerror(), 14);
  // A long text is read whole, never cut or copied past a fixed buffer.
  std::string big = "$" + std::string(300, '0') + "1.25";
  ASSERT_EQ(zel_gl_convert_money(&d, big.c_str(), nullptr), 0);
  double x = 0;
  ASSERT_EQ(dectodbl(&d, &x), 0);
  EXPECT_EQ(x, 1.25);
  // The field is too small for the value.
  ASSERT_EQ(deccvasc("123456789", 9, &d), 0);
  EXPECT_EQ(zel_gl_format_money(out, 6, &d, nullptr), -1);
  EXPECT_EQ(rgetglerror(), 9);
}

TEST_F(MoneyTextTest, DoubleFormats) {
  char out[400];
  EXPECT_EQ(zel_gl_format_double(out, sizeof out, 1.5, "%d"), -415);
  EXPECT_EQ(zel_gl_format_double(out, sizeof out, 1.5, "%f %f"), -415);
  EXPECT_EQ(zel_gl_format_double(out, sizeof out, 1.5, "no conversion"), -415);
  EXPECT_EQ(zel_gl_format_double(out, 5, 1.5, "%f"), -1207);
  ASSERT_EQ(zel_gl_format_double(out, 9, 1.5, "%f"), 0);
  EXPECT_STREQ(out, "1.500000");
  ASSERT_EQ(zel_gl_format_double(out, sizeof out, 2.5, "%%%lG%%"), 0);
  EXPECT_STREQ(out, "%2.5%");
}

TEST_F(MoneyTextTest, AgainstTheCLibrary) {
  moneytest::GlibcLocale glibc("en_US", "ISO-8859-1");
  ASSERT_NE(glibc.get(), static_cast<locale_t>(nullptr));
  moneytest::MoneyAgainstStrfmon(glibc.get(), 400);
  moneytest::DoublesAgainstTheCLibrary(glibc.get(), 3000);
}

}  // namespace

namespace {

TEST_F(MoneyTextTest, LocaleNumberFormats) {
  Decimal d;
  char out[64];
  // Formats by kind: floating, integer, unusable.
  struct Kind {
    const char* format;
    int rc;
  } kinds[] = {{"%e", 0}, {"<%+ #12.3G>", 0}, {"%%%d%%", 0}, {"%'x", 0},
               {"abc", 22}, {"%s", 22},     {"%d %d", 22}, {"%%", 22}};
  for (const Kind& k : kinds) {
    ASSERT_EQ(deccvasc("12", 2, &d), 0);
    const int rc = zel_gl_format_number(out, sizeof out, &d, k.format);
    if (k.rc == 0) {
      EXPECT_EQ(rc, 0) << k.format;
    } else {
      EXPECT_EQ(rc, -1) << k.format;
      Decimal e;
      EXPECT_EQ(zel_gl_convert_number(&e, "12", k.format), -1) << k.format;
      EXPECT_EQ(rgetglerror(), k.rc) << k.format;
    }
  }
  ASSERT_EQ(zel_gl_convert_number(&d, "-32768", "%d"), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  ASSERT_EQ(zel_gl_format_number(out, sizeof out, &d, "%d"), 0);
  EXPECT_STREQ(out, "-32768");
  ASSERT_EQ(zel_gl_convert_number(&d, "40000", "%d"), 0);
  EXPECT_EQ(zel_gl_format_number(out, sizeof out, &d, "%d"), -1);
  EXPECT_EQ(rgetglerror(), 9);
  ASSERT_EQ(zel_gl_convert_number(&d, "-32767", "%d"), 0);
  ASSERT_EQ(zel_gl_format_number(out, sizeof out, &d, "[%6d]"), 0);
  EXPECT_STREQ(out, "[-32767]");
  ASSERT_EQ(zel_gl_convert_number(&d, "2.5e3", "%e"), 0);
  ASSERT_EQ(zel_gl_format_number(out, sizeof out, &d, "%.1f"), 0);
  EXPECT_STREQ(out, "2500.0");
  ASSERT_EQ(zel_gl_convert_number(&d, " 123.25 ", nullptr), 0);
  ASSERT_EQ(zel_gl_format_number(out, 12, &d, nullptr), 0);
  EXPECT_STREQ(out, "123.25");
  EXPECT_EQ(zel_gl_convert_number(&d, "12x", nullptr), -1);
  EXPECT_EQ(rgetglerror(), 9);
  EXPECT_EQ(zel_gl_convert_number(&d, "x", "%d"), -1);
}

}  // namespace
