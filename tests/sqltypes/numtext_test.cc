// Decimal text, the money format, INT8 and BIGINT, and the null forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "sqltypes/bigint.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/int8.h"
#include "sqltypes/moneyfmt.h"
#include "sqltypes/value_null.h"
#include "tests/sqltypes/sql_env.h"

namespace {

class NumTextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sqltest::UseBuildTree(); }
};

Decimal Dec(const char* text) {
  Decimal d;
  EXPECT_EQ(deccvasc(text, static_cast<int>(strlen(text)), &d), 0) << text;
  return d;
}

std::string Field(const Decimal& d, int length, int decimals, int* rc) {
  char buf[64];
  memset(buf, '#', sizeof buf);
  *rc = dectoasc(&d, buf, length, decimals);
  EXPECT_EQ(buf[length], '#') << "dectoasc wrote past its field";
  return std::string(buf, length);
}

TEST_F(NumTextTest, DecimalTextEdgeCases) {
  Decimal d;
  EXPECT_EQ(deccvasc("  ", 2, &d), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  EXPECT_EQ(deccvasc("1e127", 5, &d), -1200);
  EXPECT_EQ(d.sign, DEC_POS);  // every failure leaves zero
  EXPECT_EQ(d.ndigits, 0);
  EXPECT_EQ(deccvasc("1e-131", 6, &d), -1201);
  int32_t v = 0;
  d = Dec("0x1F");
  ASSERT_EQ(dectolong(&d, &v), 0);
  EXPECT_EQ(v, 31);
  d = Dec("-0x1F");
  ASSERT_EQ(dectolong(&d, &v), 0);
  EXPECT_EQ(v, -31);
  d = Dec("0x80000000");
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  d = Dec(".5");
  EXPECT_EQ(d.exponent, 0);
  EXPECT_EQ(d.digits[0], 50);
  EXPECT_EQ(deccvasc(".", 1, &d), -1213);
  EXPECT_EQ(deccvasc("1.2.3", 5, &d), -1213);
  d = Dec("1,234.5");
  ASSERT_EQ(dectolong(&d, &v), 0);
  EXPECT_EQ(v, 1234);
  d = Dec("12,345,678");
  ASSERT_EQ(dectolong(&d, &v), 0);
  EXPECT_EQ(v, 12345678);
  EXPECT_EQ(deccvasc("1,23", 4, &d), -1213);
  EXPECT_EQ(deccvasc("12,34,567", 9, &d), -1213);
  EXPECT_EQ(deccvasc("1.5,0", 5, &d), -1213);
  // Only `length` bytes are read.
  d = Dec("12");
  EXPECT_EQ(deccvasc("12345", 2, &d), 0);
  ASSERT_EQ(dectolong(&d, &v), 0);
  EXPECT_EQ(v, 12);

  int rc = 0;
  EXPECT_EQ(Field(Dec("123.456"), 5, 2, &rc), "123.5");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Field(Dec("0.00001"), 6, -1, &rc), "1e-05 ");
  EXPECT_EQ(Field(Dec("0.00001"), 4, -1, &rc), "****");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(Field(Dec("123"), 7, -1, &rc), "123.0  ");
  EXPECT_EQ(Field(Dec("-0.001"), 6, 2, &rc), "0.00  ");
  Decimal null;
  decsetnull(&null);
  EXPECT_EQ(Field(null, 3, 2, &rc), "   ");
  EXPECT_EQ(dectoasc(&null, nullptr, -1, 0), -1);

  // The unload form and a chosen fill byte.
  struct Unl {
    const char* value;
    int length, decimals;
    const char* field;  // NULs shown as '|'
  } unl[] = {{"0.5", 8, 4, "0.5|    "},     {"-0.0001", 8, 2, "-0.00|  "},
             {"0", 6, 1, "0.0|  "},        {"12.5", 8, 3, "12.500  "},
             {"-12.5", 8, 1, "-12.5   "},  {"0.000", 8, 3, "0.00|   "}};
  for (const Unl& u : unl) {
    char buf[16];
    memset(buf, '#', sizeof buf);
    Decimal x = Dec(u.value);
    ASSERT_EQ(dectounl(&x, buf, u.length, u.decimals), 0) << u.value;
    std::string got(buf, u.length);
    for (char& ch : got) ch = ch == '\0' ? '|' : ch;
    EXPECT_EQ(got, u.field) << u.value;
  }
  char filled[4] = {'#', '#', '#', '#'};
  ASSERT_EQ(decfmtfield(&null, filled, 4, 2, '*', nullptr), 0);
  EXPECT_EQ(std::string(filled, 4), "*###");
  Decimal money = Dec("1234.5");
  ASSERT_EQ(decfmtfield(&money, filled, 4, 0, ' ', "DM,"), 0);
  EXPECT_EQ(std::string(filled, 4), "1235");
  char comma[8];
  ASSERT_EQ(decfmtfield(&money, comma, 7, 2, ' ', "DM,"), 0);
  EXPECT_EQ(std::string(comma, 7), "1234,50");

  int pos = 0, sign = 0;
  Decimal e = Dec("0.125");
  EXPECT_STREQ(dececvt(&e, 2, &pos, &sign), "13");
  EXPECT_EQ(pos, 0);
  Decimal f = Dec("-9.996");
  EXPECT_STREQ(decfcvt(&f, 2, &pos, &sign), "1000");
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(sign, 1);

  int64_t l = 0;
  EXPECT_EQ(rstol("2147483647", &l), 0);
  EXPECT_EQ(l, 2147483647);
  EXPECT_EQ(rstol("2147483648", &l), -1215);
  EXPECT_EQ(rstol("-2147483648", &l), -1215);
  EXPECT_EQ(rstol(" 12 ", &l), 0);
  EXPECT_EQ(l, 12);

  double x = 0;
  d = Dec("-1234.5e-3");
  ASSERT_EQ(dectodbl(&d, &x), 0);
  EXPECT_EQ(x, -1.2345);
  float fl = 0;
  ASSERT_EQ(dectoflt(&null, &fl), 0);
  uint32_t bits;
  memcpy(&bits, &fl, sizeof bits);
  EXPECT_EQ(bits, 0xFFFFFFFFu);
}

TEST_F(NumTextTest, NumberTextToDouble) {
  double x = 0;
  ASSERT_EQ(zel_gl_convert_double(&x, "   ", "%e"), 0);
  uint64_t bits;
  memcpy(&bits, &x, sizeof bits);
  EXPECT_EQ(bits, ~0ULL);
  ASSERT_EQ(zel_gl_convert_double(&x, "0x10", nullptr), 0);
  EXPECT_EQ(x, 16);
  EXPECT_EQ(zel_gl_convert_double(&x, "1e", nullptr), -1213);
  EXPECT_EQ(zel_gl_convert_double(&x, "1.5abc", nullptr), -1213);
  EXPECT_EQ(zel_gl_convert_double(&x, "1e999", nullptr), -1223);
  EXPECT_EQ(zel_gl_convert_double(&x, "-1,234.5e1", nullptr), -1213);
  ASSERT_EQ(zel_gl_convert_double(&x, "-1234.5e1", nullptr), 0);
  EXPECT_EQ(x, -12345);
  ASSERT_EQ(rstod("2.5E-3", &x), 0);
  EXPECT_EQ(x, 0.0025);
}

TEST_F(NumTextTest, SeparatorSubstitution) {
  char out[8];
  EXPECT_EQ(rsepsubst("1,234.5", ".", 1, ";", 1, out, sizeof out), 0);
  EXPECT_STREQ(out, "1234;5");
  EXPECT_EQ(rsepsubst("12345", ".", 1, ",", 1, out, 3), -1273);
}

// DBMONEY, and the separators of a locale with a decimal comma, each on a
// thread of its own (the format is set up once per thread).
TEST_F(NumTextTest, MoneyFormatFromDbmoney) {
  struct Case {
    const char* dbmoney;
    const char* front;
    const char* back;
    const char* decimal;
    const char* thousands;
  } cases[] = {
      {"$,", "$", "", ",", "."},
      {".DM", "", "DM", ".", ","},
      {"DM", "DM", "", ".", ","},
      {"US1$.", "US*$", "", ".", ","},
      {"EUR,5E", "EUR", "E", ",", "."},
  };
  for (const Case& c : cases) {
    char front[32], back[32];
    DbMoneyFormat f;
    rmoneyparse(c.dbmoney, front, back, &f);
    EXPECT_STREQ(front, c.front) << c.dbmoney;
    EXPECT_STREQ(back, c.back) << c.dbmoney;
    EXPECT_STREQ(f.decimal_sep, c.decimal) << c.dbmoney;
    EXPECT_STREQ(f.mon_decimal_sep, c.decimal) << c.dbmoney;
    EXPECT_STREQ(f.thousands_sep, c.thousands) << c.dbmoney;
    EXPECT_STREQ(f.mon_thousands_sep, c.thousands) << c.dbmoney;
  }
  sqltest::OnNewThread([] {
    setenv("DBMONEY", "$,", 1);
    Decimal d;
    ASSERT_EQ(deccvasc("1.234,5", 7, &d), 0);
    int32_t v = 0;
    ASSERT_EQ(dectolong(&d, &v), 0);
    EXPECT_EQ(v, 1234);
    char buf[8];
    ASSERT_EQ(dectoasc(&d, buf, 7, 2), 0);
    EXPECT_EQ(std::string(buf, 7), "1234,50");
    EXPECT_EQ(rmoneystate(), 1);
    EXPECT_STREQ(rmoneyfront(), "$");
  });
  unsetenv("DBMONEY");
  sqltest::OnNewThread([] {
    EXPECT_EQ(rmoneyformat()->p_cs_precedes, 1);
    EXPECT_STREQ(rmoneyfront(), "$");
    EXPECT_EQ(rmoneystate(), 2);
  });
}

TEST_F(NumTextTest, BigintAndInt8EdgeCases) {
  unsigned char b[8];
  stbigint(-2, b);
  EXPECT_EQ(memcmp(b, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 8), 0);
  const unsigned char s8[10] = {0, 1, 0, 0, 0, 5, 0, 0, 0, 0};
  Int8Value i8{};
  ldint8(s8, &i8);
  EXPECT_EQ(i8.low, 5u);
  EXPECT_EQ(i8.high, 0u);
  EXPECT_EQ(i8.sign, 1);
  unsigned char back[10];
  stint8(&i8, back);
  EXPECT_EQ(memcmp(back, s8, 10), 0);

  Int8Value a{}, c{}, r{};
  int64_t v = 0;
  biginttozel_int8(INT64_MAX, &a);
  biginttozel_int8(1, &c);
  r = {9, 9, 9};
  EXPECT_EQ(zel_int8add(&a, &c, &r), -1284);
  EXPECT_EQ(r.low, 9u);  // untouched
  biginttozel_int8(-INT64_MAX, &a);
  biginttozel_int8(-1, &c);
  EXPECT_EQ(zel_int8add(&a, &c, &r), -1284);
  biginttozel_int8(-7, &a);
  biginttozel_int8(2, &c);
  ASSERT_EQ(zel_int8div(&a, &c, &r), 0);
  ASSERT_EQ(bigintcvzel_int8(&r, &v), 0);
  EXPECT_EQ(v, -3);
  biginttozel_int8(0, &c);
  EXPECT_EQ(zel_int8div(&a, &c, &r), -1202);
  Int8Value null{0, 0, 0};
  EXPECT_EQ(zel_int8cmp(&a, &null), -2);
  Int8Value huge{0, 0x80000000u, 1};
  EXPECT_EQ(bigintcvzel_int8(&huge, &v), -1284);
  EXPECT_EQ(deccvint8(&huge, nullptr), -1284);

  int n = 0;
  biginttozel_int8(32768, &a);
  EXPECT_EQ(zel_int8toint(&a, &n), -1214);
  biginttozel_int8(-32767, &a);
  EXPECT_EQ(zel_int8toint(&a, &n), 0);
  EXPECT_EQ(n, -32767);

  char field[8];
  biginttozel_int8(42, &a);
  memset(field, '#', sizeof field);
  ASSERT_EQ(zel_int8toasc(&a, field, 6), 0);
  EXPECT_EQ(std::string(field, 7), "42    #");
  double dv = 0;
  biginttozel_int8(-(INT64_C(1) << 40), &a);
  ASSERT_EQ(zel_int8todbl(&a, &dv), 0);
  EXPECT_EQ(dv, -std::ldexp(1.0, 40));
  ASSERT_EQ(zel_int8cvdbl(-1e15 - 0.5, &r), 0);
  ASSERT_EQ(bigintcvzel_int8(&r, &v), 0);
  EXPECT_EQ(v, -1000000000000000);
  EXPECT_EQ(zel_int8cvdbl(INFINITY, &r), -1223);
  ASSERT_EQ(zel_int8cvdbl(-2.9, &r), 0);
  EXPECT_EQ(r.low, 2u);
  EXPECT_EQ(r.sign, -1);

  Decimal d = Dec("9223372036854775807.9");
  ASSERT_EQ(bigintcvdec(&d, &v), 0);
  EXPECT_EQ(v, INT64_MAX);
  d = Dec("9223372036854775808");
  EXPECT_EQ(bigintcvdec(&d, &v), -1284);
  int16_t s16 = 0;
  EXPECT_EQ(biginttoint2(32768, &s16), -1214);
  int32_t s32 = 0;
  EXPECT_EQ(biginttoint4(INT64_C(2147483648), &s32), -1284);
  EXPECT_EQ(bigintcvdbl(NAN, &v), -1284);
  EXPECT_EQ(bigintcvdbl(9223372036854775808.0, &v), -1284);
}

TEST_F(NumTextTest, NullFormsAndSmallIntegers) {
  struct Case {
    int type;
    size_t size;  // bytes written
  } cases[] = {{101, 2}, {2, 4}, {102, 4}, {103, 8}, {110, 4}, {7, 4}, {104, 4}, {3, 8},
               {5, sizeof(Decimal)}, {125, 8}, {122, 1}, {17, 12}, {0, 1}};
  for (const Case& c : cases) {
    unsigned char buf[40];
    memset(buf, 0x55, sizeof buf);
    ASSERT_EQ(rsetnull(c.type, reinterpret_cast<char*>(buf)), 0);
    EXPECT_EQ(risnull(c.type, reinterpret_cast<char*>(buf)), 1) << c.type;
    // Nothing is written past the variable (Int8Value has 2 padding bytes).
    for (size_t i = c.size; i < sizeof buf; i++) ASSERT_EQ(buf[i], 0x55) << c.type << " " << i;
  }
  int32_t zero = 0;
  EXPECT_EQ(risnull(2, reinterpret_cast<char*>(&zero)), 0);
  EXPECT_EQ(risnull(106, reinterpret_cast<char*>(&zero)), 0);
  EXPECT_EQ(risnull(126, reinterpret_cast<char*>(&zero)), 0);

  struct Stoi {
    const char* text;
    int rc;
    int value;
  } stoi[] = {{" 32767", 0, 32767}, {"32768", -1214, 0}, {"-32768", -1214, 0},
              {"", 0, -32768},      {"12a", -1213, 0},   {"3", 0, 3}, {"-7 \n", 0, -7}};
  for (const Stoi& s : stoi) {
    int out = 99;
    EXPECT_EQ(rstoi(s.text, &out), s.rc) << s.text;
    EXPECT_EQ(out, s.rc == 0 ? s.value : 99) << s.text;
  }
  int32_t out4 = 0;
  EXPECT_EQ(rstoi4("2147483648", &out4), -1214);
  ASSERT_EQ(rstoi4(nullptr, &out4), 0);
  EXPECT_EQ(out4, INT32_MIN);
  ASSERT_EQ(rstoi4("-2147483647", &out4), 0);
  EXPECT_EQ(out4, -2147483647);
}

}  // namespace
