#include "sqltypes/decimal.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

Decimal Dec(int sign, int exponent, std::vector<int> digits) {
  Decimal d;
  memset(&d, 0, sizeof d);
  d.sign = static_cast<int16_t>(sign);
  d.exponent = static_cast<int16_t>(exponent);
  d.ndigits = static_cast<int16_t>(digits.size());
  for (size_t i = 0; i < digits.size(); i++) d.digits[i] = static_cast<uint8_t>(digits[i]);
  return d;
}

// "sign exponent: digits" for readable failures.
std::string Show(const Decimal& d) {
  std::string s = std::to_string(d.sign) + " " + std::to_string(d.exponent) + ":";
  for (int i = 0; i < d.ndigits && i < DEC_MAXDIGITS; i++) s += " " + std::to_string(d.digits[i]);
  return s;
}

std::string Hex(const char* p, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(p[i]));
    s += b;
  }
  return s;
}

Decimal FromLong(int32_t v) {
  Decimal d;
  EXPECT_EQ(deccvlong(v, &d), 0);
  return d;
}

TEST(DecimalNorm, RoundsOnlyOnTheSeventeenthByte) {
  // Seventeen 99s: the carry runs out of the first byte into the spare one.
  uint8_t space[1 + 18];
  space[0] = 0;
  memset(space + 1, 99, 17);
  space[18] = 0;
  Decimal d;
  EXPECT_EQ(decnorm(&d, DEC_POS, 3, space + 1, 18), 0);
  EXPECT_EQ(Show(d), "1 4: 1");

  // A seventeenth byte of 49 leaves the first sixteen; the eighteenth is
  // never looked at.
  uint8_t more[1 + 18] = {0, 12, 34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 56, 49, 99};
  EXPECT_EQ(decnorm(&d, DEC_NEG, 0, more + 1, 18), 0);
  EXPECT_EQ(Show(d), "0 0: 12 34 0 0 0 0 0 0 0 0 0 0 0 0 0 56");

  // Leading zero bytes lower the exponent; exponents out of range are
  // clamped with the digits kept.
  uint8_t lead[1 + 3] = {0, 0, 0, 7};
  EXPECT_EQ(decnorm(&d, DEC_POS, -63, lead + 1, 3), -1201);
  EXPECT_EQ(Show(d), "1 -64: 7");
  uint8_t big[1 + 1] = {0, 5};
  EXPECT_EQ(decnorm(&d, DEC_POS, 64, big + 1, 1), -1200);
  EXPECT_EQ(Show(d), "1 63: 5");

  uint8_t none[1 + 2] = {};
  EXPECT_EQ(decnorm(&d, DEC_NEG, 5, none + 1, 2), 0);
  EXPECT_EQ(Show(d), "1 -64:");
  EXPECT_EQ(decnorm(&d, DEC_NULLSIGN, 5, none + 1, 2), 0);
  EXPECT_EQ(Show(d), "-1 0:");
}

TEST(DecimalArith, EdgeCases) {
  Decimal half = Dec(1, 0, {50}), mhalf = Dec(0, 0, {50}), r;
  EXPECT_EQ(decadd(&half, &mhalf, &r), 0);
  EXPECT_EQ(Show(r), "1 -64:");

  Decimal one = FromLong(1), two = FromLong(2), three = FromLong(3);
  EXPECT_EQ(decdiv(&one, &three, &r), 0);
  EXPECT_EQ(Show(r), "1 0: 33 33 33 33 33 33 33 33 33 33 33 33 33 33 33 33");
  EXPECT_EQ(decdiv(&two, &three, &r), 0);
  EXPECT_EQ(Show(r), "1 0: 66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 67");

  Decimal zero;
  decsetzero(&zero);
  EXPECT_EQ(decdiv(&one, &zero, &r), -1202);
  EXPECT_EQ(Show(r), "1 -64:");

  // The result may be an operand.
  Decimal a = FromLong(1234), b = FromLong(-34);
  EXPECT_EQ(decsub(&a, &b, &a), 0);
  EXPECT_EQ(Show(a), "1 2: 12 68");
  EXPECT_EQ(decmul(&a, &a, &a), 0);
  EXPECT_EQ(Show(a), "1 4: 1 60 78 24");

  // Null in, null out, and no error.
  Decimal null;
  decsetnull(&null);
  for (auto op : {decadd, decsub, decmul, decdiv}) {
    EXPECT_EQ(op(&null, &one, &r), 0);
    EXPECT_EQ(r.sign, DEC_NULLSIGN);
    EXPECT_EQ(op(&one, &null, &r), 0);
    EXPECT_EQ(r.sign, DEC_NULLSIGN);
  }
  EXPECT_EQ(deccmp(&null, &one), -2);
  EXPECT_EQ(deccmp(&one, &null), -2);

  // Records the arithmetic cannot trust are refused, the result untouched.
  Decimal seven = FromLong(7);
  for (Decimal bad : {Dec(1, 0, {100}), Dec(2, 0, {1}), Dec(1, 0, {})}) {
    if (bad.ndigits == 0) bad.ndigits = 40;
    for (auto op : {decadd, decsub, decmul, decdiv}) {
      r = seven;
      EXPECT_EQ(op(&bad, &one, &r), -1) << Show(bad);
      EXPECT_EQ(op(&one, &bad, &r), -1) << Show(bad);
      EXPECT_EQ(deccmp(&r, &seven), 0);
    }
    EXPECT_EQ(deccmp(&bad, &one), -2);
    EXPECT_EQ(decround(&bad, 0), -1);
    EXPECT_EQ(dectrunc(&bad, 0), -1);
  }

  // Overflow keeps the digits at exponent 63.
  Decimal huge = Dec(1, 63, {99});
  EXPECT_EQ(decadd(&huge, &huge, &r), -1200);
  EXPECT_EQ(Show(r), "1 63: 1 98");
}

TEST(DecimalRound, RoundAndTruncate) {
  struct Case {
    Decimal in;
    bool round;
    int places;
    const char* want;
  } cases[] = {
      {Dec(1, 1, {2, 50}), true, 0, "1 1: 3"},            // 2.5 -> 3
      {Dec(0, 1, {2, 50}), true, 0, "0 1: 3"},            // -2.5 -> -3
      {Dec(0, 1, {2, 59}), false, 1, "0 1: 2 50"},        // -2.59 -> -2.5
      {Dec(1, 2, {12, 34}), true, -2, "1 2: 12"},         // 1234 -> 1200
      {Dec(1, 2, {12, 34}), false, -1, "1 2: 12 30"},     // 1234 -> 1230
      {Dec(1, 2, {12, 34}), false, -3, "1 2: 10"},        // 1234 -> 1000
      {Dec(1, 2, {12, 34}), false, -4, "1 -64:"},         // 1234 -> 0
      {Dec(1, 2, {99, 99}), true, -3, "1 3: 1"},          // 9999 -> 10000
      {Dec(1, 0, {49, 99}), true, 2, "1 0: 50"},          // .4999 -> .50
      {Dec(1, 0, {49, 99}), true, 0, "1 -64:"},           // .4999 -> 0
      {Dec(1, 1, {1, 23}), true, 5, "1 1: 1 23"},         // nothing to round
      {Dec(1, 1, {1, 23}), false, 1, "1 1: 1 20"},
      {Dec(1, 63, {5}), true, -200, "1 -64:"},            // far above the value
      {Dec(1, -64, {1}), true, 127, "1 -64:"},            // .01 * 100^-64 -> 0
  };
  for (const Case& c : cases) {
    Decimal d = c.in;
    EXPECT_EQ(c.round ? decround(&d, c.places) : dectrunc(&d, c.places), 0)
        << Show(c.in) << " " << c.places;
    EXPECT_EQ(Show(d), c.want) << Show(c.in) << (c.round ? " round " : " trunc ") << c.places;
  }

  // Rounding up past the largest exponent: -1200, value unchanged.
  Decimal top = Dec(1, 63, {99});
  EXPECT_EQ(decround(&top, -126), -1200);
  EXPECT_EQ(Show(top), "1 63: 99");

  Decimal null;
  decsetnull(&null);
  EXPECT_EQ(decround(&null, 2), 0);
  EXPECT_EQ(dectrunc(&null, 2), 0);
  EXPECT_EQ(null.sign, DEC_NULLSIGN);
}

TEST(DecimalInteger, Conversions) {
  Decimal d;
  EXPECT_EQ(deccvlong(INT32_MIN, &d), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  EXPECT_EQ(deccvint(-32768, &d), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  EXPECT_EQ(deccvint(-32767, &d), 0);
  EXPECT_EQ(Show(d), "0 3: 3 27 67");
  EXPECT_EQ(deccvlong(INT32_MAX, &d), 0);
  EXPECT_EQ(Show(d), "1 5: 21 47 48 36 47");

  struct Case {
    Decimal in;
    int rc;
    int32_t want;
  } longs[] = {
      {Dec(1, 5, {21, 47, 48, 36, 47}), 0, INT32_MAX},
      {Dec(0, 5, {21, 47, 48, 36, 47}), 0, -INT32_MAX},
      {Dec(1, 5, {21, 47, 48, 36, 48}), -1200, 7},       // 2147483648
      {Dec(0, 5, {21, 47, 48, 36, 48}), -1200, 7},       // -2147483648
      {Dec(1, 5, {21, 47, 48, 36, 47, 50}), -1200, 7},   // 2147483647.5
      {Dec(1, 6, {1}), -1200, 7},
      {Dec(0, 2, {12, 34, 99}), 0, -1234},               // toward zero
      {Dec(1, 0, {99}), 0, 0},
      {Dec(1, 3, {5}), 0, 50000},                        // missing bytes are 0
      {Dec(-1, 0, {}), 0, INT32_MIN},
  };
  for (const Case& c : longs) {
    int32_t out = 7;
    EXPECT_EQ(dectolong(&c.in, &out), c.rc) << Show(c.in);
    EXPECT_EQ(out, c.want) << Show(c.in);
  }

  int i = 7;
  Decimal v = FromLong(32767);
  EXPECT_EQ(dectoint(&v, &i), 0);
  EXPECT_EQ(i, 32767);
  v = FromLong(-32768);
  EXPECT_EQ(dectoint(&v, &i), -1200);
  EXPECT_EQ(i, 32767);
  decsetnull(&v);
  EXPECT_EQ(dectoint(&v, &i), 0);
  EXPECT_EQ(i, -32768);
}

TEST(DecimalStored, FixedForms) {
  char buf[8];
  Decimal d = FromLong(-1);
  EXPECT_EQ(stdecimal(&d, buf, 3), 0);
  EXPECT_EQ(Hex(buf, 3), "3E6300");

  decsetnull(&d);
  EXPECT_EQ(stdecimal(&d, buf, 5), 0);
  EXPECT_EQ(Hex(buf, 5), "0000000000");
  decsetzero(&d);
  EXPECT_EQ(zel_stdecimal(&d, buf, 5), 0);
  EXPECT_EQ(Hex(buf, 5), "8000000000");

  const char nulls[2] = {0, 0};
  EXPECT_EQ(lddecimal(nulls, 2, &d), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  EXPECT_EQ(lddecimal(nulls, 0, &d), -1);

  // -12.3456 keeps its trailing zero byte; the last non-zero byte is 100-d.
  d = Dec(0, 1, {12, 34, 56});
  EXPECT_EQ(stdecimal(&d, buf, 6), 0);
  EXPECT_EQ(Hex(buf, 6), "3E57412C0000");
  Decimal back;
  EXPECT_EQ(lddecimal(buf, 6, &back), 0);
  EXPECT_EQ(Show(back), "0 1: 12 34 56");

  // Too few digit bytes: rounded half up on the first one that does not fit.
  d = Dec(1, 1, {12, 34, 56});
  EXPECT_EQ(stdecimal(&d, buf, 3), 0);
  EXPECT_EQ(Hex(buf, 3), "C10C23");
  d = Dec(1, 62, {99, 99, 50});
  EXPECT_EQ(stdecimal(&d, buf, 3), 0);
  EXPECT_EQ(Hex(buf, 3), "FF0100");  // carry out: 1 at exponent 63

  // Refused: an invalid record, and a length below 1.
  Decimal bad = Dec(1, 0, {100});
  EXPECT_EQ(stdecimal(&bad, buf, 4), -1);
  bad = Dec(1, 64, {1});
  EXPECT_EQ(stdecimal(&bad, buf, 4), -1);
  bad = Dec(7, 0, {1});
  EXPECT_EQ(stdecimal(&bad, buf, 4), -1);
  d = FromLong(5);
  EXPECT_EQ(stdecimal(&d, buf, 0), -1);
}

TEST(DecimalStored, NeverWritesAWrongValue) {
  // A carry out of the first digit byte at exponent 63 has nowhere to go:
  // -1200, and the buffer is left as it was.
  char buf[4] = {'x', 'x', 'x', 'x'};
  Decimal d = Dec(1, 63, {99, 99, 99, 50});
  EXPECT_EQ(stdecimal(&d, buf, 4), -1200);
  EXPECT_EQ(std::string(buf, 4), "xxxx");
  d.sign = DEC_NEG;
  EXPECT_EQ(stdecimal(&d, buf, 4), -1200);
  EXPECT_EQ(std::string(buf, 4), "xxxx");
  d.sign = DEC_POS;
  char five[5];
  EXPECT_EQ(stdecimal(&d, five, 5), 0);  // it fits in five

  // A negative value at exponent 63 beginning with 99 and with more digits
  // would be stored as two zero bytes, the null form.
  d = Dec(0, 63, {99, 5});
  EXPECT_EQ(stdecimal(&d, buf, 4), -1200);
  EXPECT_EQ(std::string(buf, 4), "xxxx");
  d = Dec(0, 63, {99});  // alone it stores as 00 01: not null
  EXPECT_EQ(stdecimal(&d, buf, 4), 0);
  Decimal back;
  EXPECT_EQ(lddecimal(buf, 4, &back), 0);
  EXPECT_EQ(Show(back), "0 63: 99");
}

TEST(DecimalStored, ReaderChecksTheBytes) {
  Decimal d = FromLong(77);
  const unsigned char bad[] = {0xC1, 0x64, 0x00};  // digit byte 100
  EXPECT_EQ(lddecimal(reinterpret_cast<const char*>(bad), 3, &d), -1);
  EXPECT_EQ(Show(d), "1 1: 77");
  // Seventeen digit bytes are read and the seventeenth rounds; an
  // eighteenth is never read.
  unsigned char wide[22];
  memset(wide, 0, sizeof wide);
  wide[0] = 0xC0;
  for (int i = 1; i <= 17; i++) wide[i] = 99;
  wide[18] = 0xFF;
  EXPECT_EQ(lddecimal(reinterpret_cast<const char*>(wide), 22, &d), 0);
  EXPECT_EQ(Show(d), "1 1: 1");
}

// Stored forms of one length sort as the values do.
TEST(DecimalStored, ByteOrderIsValueOrder) {
  const unsigned seed = 5101;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int biased[] = {0, 1, 49, 50, 51, 98, 99};
  auto random_value = [&](int room) {
    if (pick(0, 19) == 0) {
      Decimal z;
      decsetzero(&z);
      return z;
    }
    int n = pick(1, room);
    std::vector<int> digits(n);
    for (int& x : digits) x = pick(0, 1) ? biased[pick(0, 6)] : pick(0, 99);
    if (digits[0] == 0) digits[0] = pick(1, 99);
    if (digits[n - 1] == 0) digits[n - 1] = pick(1, 99);
    int exponent = pick(0, 3) == 0 ? (pick(0, 1) ? pick(-64, -60) : pick(59, 63)) : pick(-3, 3);
    Decimal d = Dec(pick(0, 1), exponent, digits);
    // Leave out the forms the writer refuses (see NeverWritesAWrongValue).
    if (d.sign == DEC_NEG && exponent == 63 && digits[0] == 99) d.digits[0] = 98;
    return d;
  };
  for (int length : {2, 5, 9, 17, 22}) {
    for (int i = 0; i < 3000; i++) {
      Decimal a = random_value(length - 1 < 16 ? length - 1 : 16);
      Decimal b = pick(0, 9) == 0 ? a : random_value(length - 1 < 16 ? length - 1 : 16);
      char sa[22], sb[22];
      ASSERT_EQ(stdecimal(&a, sa, length), 0) << Show(a);
      ASSERT_EQ(stdecimal(&b, sb, length), 0) << Show(b);
      int m = memcmp(sa, sb, length);
      m = (m > 0) - (m < 0);
      ASSERT_EQ(m, deccmp(&a, &b)) << Show(a) << " vs " << Show(b) << " length " << length;
    }
  }
}

TEST(DecimalDouble, DigitsAndSpecialValues) {
  Decimal d;
  EXPECT_EQ(deccvdbl(0.1, &d), 0);  // 17 digits: 0.10000000000000001
  EXPECT_EQ(Show(d), "1 0: 10 0 0 0 0 0 0 0 10");
  EXPECT_EQ(deccvdbl(-123.45, &d), 0);
  EXPECT_EQ(Show(d), "0 2: 1 23 45");
  EXPECT_EQ(deccvdbl(0.00012, &d), 0);  // odd decimal exponent below zero
  EXPECT_EQ(Show(d), "1 -1: 1 20");
  EXPECT_EQ(deccvflt(static_cast<double>(0.1f), &d), 0);  // 9 digits
  EXPECT_EQ(Show(d), "1 0: 10 0 0 0 10");
  EXPECT_EQ(deccvdbl(0.0, &d), 0);
  EXPECT_EQ(Show(d), "1 -64:");

  double null_double;
  memset(&null_double, 0xFF, sizeof null_double);
  EXPECT_EQ(deccvdbl(null_double, &d), 0);
  EXPECT_EQ(d.sign, DEC_NULLSIGN);
  EXPECT_EQ(deccvdbl(__builtin_nan(""), &d), -1223);
  EXPECT_EQ(deccvdbl(__builtin_inf(), &d), -1223);
  EXPECT_EQ(deccvdbl(1e300, &d), -1200);
  EXPECT_EQ(d.exponent, 63);
}

TEST(DecimalDouble, Prec16IsReadOncePerThread) {
  auto convert = [](const char* env, std::string* out) {
    std::thread t([&] {
      if (env) setenv("ZEL_USE_PREC_16", env, 1);
      Decimal d;
      deccvdbl(0.1, &d);
      *out = Show(d);
      unsetenv("ZEL_USE_PREC_16");
      deccvdbl(0.1, &d);  // not read again
      *out += " | " + Show(d);
    });
    t.join();
  };
  std::string s;
  convert("1", &s);
  EXPECT_EQ(s, "1 0: 10 | 1 0: 10");
  convert("yes", &s);
  EXPECT_EQ(s, "1 0: 10 0 0 0 0 0 0 0 10 | 1 0: 10 0 0 0 0 0 0 0 10");
}

TEST(DecimalPrecision, Words) {
  struct Case {
    Decimal in;
    int word, decl;
  } cases[] = {
      {Dec(1, 0, {5}), 1 << 8 | 2, 2 << 8 | 2},            // 0.05
      {Dec(1, 2, {1, 23, 45}), 5 << 8 | 2, 5 << 8 | 2},    // 123.45
      {Dec(1, 2, {12}), 4 << 8, 4 << 8},                   // 1200
      {Dec(1, 2, {10}), 4 << 8, 4 << 8},                   // 1000
      {Dec(1, 1, {1, 20}), 2 << 8 | 1, 2 << 8 | 1},        // 1.2
      {Dec(1, 17, {99}), 32 << 8, 32 << 8},                // capped at 32
      {Dec(1, -64, {}), 0, 0},
      {Dec(-1, 0, {}), 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decprecword(&c.in), c.word) << Show(c.in);
    EXPECT_EQ(decdeclprec(&c.in), c.decl) << Show(c.in);
  }
}

}  // namespace
