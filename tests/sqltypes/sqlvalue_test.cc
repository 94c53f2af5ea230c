// Type tables, null forms, host variables, scalar conversions, unload text
// and comparison of SqlValues, checked against the tables of the type
// system written out here row by row.

#include "sqltypes/sqlvalue.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread_state.h"
#include "sqltypes/bigint.h"
#include "sqltypes/date.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/value_null.h"
#include "tests/sqltypes/sql_env.h"

namespace {

class SqlValueTest : public ::testing::Test {
 protected:
  void SetUp() override { sqltest::UseBuildTree(); }
};

SqlValue Int(int type, int32_t v) {
  SqlValue s{};
  s.v_type = static_cast<uint16_t>(type);
  s.v.i4 = v;
  return s;
}

SqlValue Text(int type, const char* t) {
  SqlValue s{};
  s.v_type = static_cast<uint16_t>(type);
  s.v.text.ptr = const_cast<char*>(t);
  s.v.text.len = static_cast<int32_t>(strlen(t));
  return s;
}

SqlValue Dbl(double x) {
  SqlValue s{};
  s.v_type = SQLFLOAT;
  s.v.f8 = x;
  return s;
}

SqlValue Flt(float x) {
  SqlValue s{};
  s.v_type = SQLSMFLOAT;
  s.v.f4 = x;
  return s;
}

SqlValue Dec(int type, const char* text, int precword) {
  SqlValue s{};
  s.v_type = static_cast<uint16_t>(type);
  s.v_len = static_cast<uint16_t>(precword);
  EXPECT_EQ(0, deccvasc(text, static_cast<int>(strlen(text)), &s.v.dec));
  return s;
}

SqlValue Null(int type) {
  SqlValue s{};
  s.v_type = static_cast<uint16_t>(type);
  s.v_ind = -1;
  return s;
}

TEST_F(SqlValueTest, TypeTableRows) {
  // code, name, host code, memory size for n = 10, offset 5 aligned, width for n = 10
  struct Row {
    int code;
    const char* name;
    int host, size, align;
    int width;
  } rows[] = {
      {0, "char", 100, 11, 5, 10},         {1, "smallint", 101, 2, 6, 6},
      {2, "integer", 102, 4, 8, 11},       {3, "float", 105, 8, 8, 14},
      {4, "smallfloat", 104, 4, 8, 14},    {6, "serial", 102, 4, 8, 11},
      {7, "date", 110, 4, 8, 10},          {11, "byte", 113, 112, 8, 10},
      {12, "text", 113, 112, 8, 10},       {13, "varchar", 114, 11, 5, 10},
      {15, "nchar", 100, 11, 5, 10},       {16, "nvarchar", 114, 11, 5, 10},
      {17, "int8", 117, 12, 8, 20},        {18, "serial8", 117, 12, 8, 20},
      {19, "set", 118, 120, 8, 10},        {20, "multiset", 118, 120, 8, 10},
      {21, "list", 118, 120, 8, 10},       {22, "row", 123, 120, 8, 10},
      {23, "collection", 118, 120, 8, 10}, {40, "variable udt", 121, 10, 0, 10},
      {41, "fixed udt", 120, 10, 0, 10},   {42, "", 117, 0, 5, 0},
      {43, "lvarchar", 119, 10, 5, 10},    {44, "send/receive", 121, 0, 5, 0},
      {45, "boolean", 122, 1, 5, 1},       {46, "import/export", -1, 0, 5, 0},
      {47, "import/export binary", -1, 0, 5, 0},
      {52, "bigint", 125, 8, 8, 20},       {53, "bigserial", 125, 8, 8, 20},
      {9, "", -1, 0, 5, 0},                {30, "", -1, 0, 5, 0},
      {50, "", -1, 0, 5, 0},
  };
  for (const Row& r : rows) {
    EXPECT_STREQ(r.name, rtypname(r.code)) << r.code;
    EXPECT_EQ(r.host, rtypsqltohost(r.code)) << r.code;
    EXPECT_EQ(r.size, rtypmsize(r.code, 10)) << r.code;
    EXPECT_EQ(r.align, rtypalign(5, r.code)) << r.code;
    EXPECT_EQ(r.width, rtypwidth(r.code, 10)) << r.code;
  }
  // Sizes of the fixed-size types whatever n says; varchar keeps the low byte.
  EXPECT_EQ(22, rtypmsize(5, 0x1002));
  EXPECT_EQ(24, rtypmsize(10, 0));
  EXPECT_EQ(5, rtypmsize(13, 0x104));
  EXPECT_EQ(255, rtypwidth(13, 300));
  EXPECT_EQ(24, rtypwidth(3, static_cast<int>(0x80000000u)));
  // Flag bits are not removed: no size, the offset unchanged.
  EXPECT_EQ(0, rtypmsize(0x100 | 2, 10));
  EXPECT_EQ(5, rtypalign(5, 0x100 | 2));
  EXPECT_STREQ("integer", rtypname(0x100 | 2));
  // Names of extended ids.
  EXPECT_STREQ("lvarchar", rtypxname(9, 43));
  EXPECT_STREQ("integer", rtypxname(2, 43));
  EXPECT_STREQ("bson", rtypxname(9, 26));
  EXPECT_STREQ("", rtypxname(9, 99));
}

TEST_F(SqlValueTest, HostCodeMappings) {
  const int host_to_sql[26] = {0, 1,  2,  2,  4,  3,  -1, 5,  0,  0,  7,  8,  10,
                               11, 13, 14, 11, 17, 23, 43, 41, 40, 45, 22, 43, 52};
  for (int h = 100; h <= 125; h++) EXPECT_EQ(host_to_sql[h - 100], rtyphosttosql(h)) << h;
  EXPECT_EQ(2, rtyphosttosql(102));
  EXPECT_EQ(-1, rtyphosttosql(126));
  EXPECT_EQ(-1, rtyphosttosql(99));
  EXPECT_EQ(17, rtyphosttosql(17));
  EXPECT_EQ(103, rtypsqltohost(102));
  EXPECT_EQ(60, rtypsqltohost(60));
  // Host codes: sizes and alignments.
  struct H {
    int code, size, align;
  } hosts[] = {{100, 11, 5}, {101, 2, 6},   {102, 4, 8},   {103, 8, 8},  {104, 4, 8},
               {105, 8, 8},  {106, 0, 5},   {107, 22, 6},  {108, 10, 5}, {109, 11, 5},
               {110, 4, 8},  {111, 22, 6},  {112, 24, 6},  {113, 112, 8}, {114, 11, 5},
               {115, 24, 6}, {116, 11, 8},  {117, 12, 8},  {118, 120, 5}, {119, 10, 5},
               {120, 10, 0}, {121, 10, 0},  {122, 1, 5},   {123, 120, 5}, {124, 10, 5},
               {125, 8, 8}};
  for (const H& h : hosts) {
    EXPECT_EQ(h.size, rtypmsize(h.code, 10)) << h.code;
    EXPECT_EQ(h.align, rtypalign(5, h.code)) << h.code;
  }
}

TEST_F(SqlValueTest, DisplayWidths) {
  EXPECT_EQ(19, rtypwidth(SQLDTIME, 0x0E0A));       // YEAR TO SECOND
  EXPECT_EQ(23, rtypwidth(SQLDTIME, 0x110D));       // YEAR TO FRACTION(3)
  EXPECT_EQ(21, rtypwidth(SQLDTIME, 0x0F0B));       // YEAR TO FRACTION(1)
  EXPECT_EQ(5, rtypwidth(SQLDTIME, 0x0468));        // HOUR TO MINUTE
  EXPECT_EQ(13, rtypwidth(SQLINTERVAL, 0x094A));    // DAY(3) TO SECOND
  EXPECT_EQ(10, rtypwidth(SQLDECIMAL, 0x0802));     // DECIMAL(8,2)
  EXPECT_EQ(11, rtypwidth(SQLDECIMAL, 0x0808));     // p = s
  EXPECT_EQ(15, rtypwidth(SQLDECIMAL, 0x08FF));     // floating
  EXPECT_EQ(11, rtypwidth(SQLMONEY, 0x0802));       // "$" in front
}

// rsetnull writes the null form and nothing beyond it; risnull sees it.
TEST_F(SqlValueTest, NullFormsWithGuardBytes) {
  struct Case {
    int code;
    int offset, bytes;  // the bytes rsetnull may change
  } cases[] = {
      {100, 0, 1}, {101, 0, 2}, {102, 0, 4}, {103, 0, 8}, {104, 0, 4}, {105, 0, 8},
      {107, 0, 22}, {108, 0, 1}, {109, 0, 1}, {110, 0, 4}, {111, 0, 22}, {112, 2, 22},
      {113, 40, 4}, {114, 0, 1}, {115, 2, 22}, {116, 0, 1}, {117, 0, 12},
      {118, static_cast<int>(offsetof(SqliCollection, cl_flags)), 4}, {119, 0, 1},
      {121, 0, 2}, {122, 0, 1}, {124, 0, 2}, {125, 0, 8},
      {SQLDATE, 0, 4}, {SQLINT, 0, 4}, {SQLSERIAL, 0, 4}, {SQLDECIMAL, 0, 22},
      {SQLBIGINT, 0, 8}, {SQLINT8, 0, 12}, {SQLSET, static_cast<int>(offsetof(SqliCollection, cl_flags)), 4},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> area(160, 0x58);  // no null flag bit set
    char* var = reinterpret_cast<char*>(area.data()) + 8;
    EXPECT_EQ(0, risnull(c.code, var)) << c.code;
    EXPECT_EQ(0, rsetnull(c.code, var)) << c.code;
    for (int i = 0; i < 160; i++) {
      const int rel = i - 8;
      if (rel < c.offset || rel >= c.offset + c.bytes) {
        ASSERT_EQ(0x58, area[static_cast<size_t>(i)]) << c.code << " byte " << rel;
      }
    }
    EXPECT_EQ(1, risnull(c.code, var)) << c.code;
  }
  // 120 and 123 are left as they are; 106 is never null.
  for (int code : {120, 123, 106, static_cast<int>(SQLROW)}) {
    std::vector<unsigned char> area(160, 0x5A);
    EXPECT_EQ(0, rsetnull(code, reinterpret_cast<char*>(area.data())));
    EXPECT_EQ(std::vector<unsigned char>(160, 0x5A), area) << code;
  }
  // A row is tested for its flag.
  SqliCollection row{};
  row.cl_flags = COLL_ISNULL;
  EXPECT_EQ(1, risnull(123, reinterpret_cast<char*>(&row)));
  EXPECT_EQ(0, risnull(120, reinterpret_cast<char*>(&row)));
  // The 4-byte null of 102 against the 8-byte one of 103.
  int64_t eight = 0;
  rsetnull(103, reinterpret_cast<char*>(&eight));
  EXPECT_EQ(INT32_MIN, eight);
  int32_t four = 0;
  rsetnull(102, reinterpret_cast<char*>(&four));
  EXPECT_EQ(INT32_MIN, four);
}

TEST_F(SqlValueTest, StoredNullTest) {
  struct Case {
    int type;
    std::vector<unsigned char> bytes;
    int rc, ind;
  } cases[] = {
      {SQLCHAR, {0}, 0, -1},          {SQLCHAR, {'a'}, 0, 0},        {SQLCHAR, {}, -1, 0},
      {SQLSMINT, {0x80, 0}, 0, -1},   {SQLSMINT, {0x80, 1}, 0, 0},   {SQLSMINT, {0x80}, -1, 0},
      {SQLINT, {0x80, 0, 0, 0}, 0, -1}, {SQLDATE, {0x80, 0, 0, 0}, 0, -1},
      {SQLSERIAL, {0x80, 0, 0}, -1, 0}, {SQLINT, {0, 0, 0, 0}, 0, 0},
      {SQLFLOAT, std::vector<unsigned char>(8, 0xFF), 0, -1},
      {SQLFLOAT, std::vector<unsigned char>(7, 0xFF), -1, 0},
      {SQLSMFLOAT, {0xFF, 0xFF, 0xFF, 0xFF}, 0, -1}, {SQLSMFLOAT, {0xFF, 0xFF, 0xFF, 0xFE}, 0, 0},
      {SQLDECIMAL, {0, 0, 0}, 0, -1}, {SQLMONEY, {0x80, 0, 0}, 0, 0}, {SQLDTIME, {0, 0}, 0, -1},
      {SQLINTERVAL, {}, -1, 0},
      {SQLVCHAR, {1, 0}, 0, -1}, {SQLNVCHAR, {1, 0, 0}, 0, 0}, {SQLVCHAR, {}, -1, 0},
      {SQLINT8, std::vector<unsigned char>(10, 0), 0, -1},
      {SQLSERIAL8, std::vector<unsigned char>(9, 0), -1, 0},
      {SQLLVARCHAR, {0, 0, 1}, 0, 1}, {SQLLVARCHAR, {0, 0, 2}, 0, 0}, {SQLLVARCHAR, {0, 0}, -1, 0},
      {SQLBOOL, {1, 0}, 0, -1}, {SQLBOOL, {0, 1}, 0, 0}, {SQLBOOL, {1}, -1, 0},
      {SQLBIGINT, {0x80, 0, 0, 0, 0, 0, 0, 0}, 0, -1}, {SQLBIGSERIAL, {0x80, 0, 0, 0, 0, 0, 0, 1}, 0, 0},
      {SQLBIGINT, {0x80, 0, 0, 0, 0, 0, 0}, -1, 0},
      {SQLBYTES, {}, 0, 0},
  };
  for (const Case& c : cases) {
    int16_t ind = 99;
    const int rc = zelcdc_valisnull(c.bytes.data(), static_cast<int>(c.bytes.size()), c.type, &ind);
    EXPECT_EQ(c.rc, rc) << c.type << " n=" << c.bytes.size();
    if (rc == 0) {
      EXPECT_EQ(c.ind, ind) << c.type << " n=" << c.bytes.size();
    }
  }
  EXPECT_EQ(-1, zelcdc_valisnull("a", 1, SQLCHAR, nullptr));
}

// Each host variable comes back unchanged through an SqlValue.
TEST_F(SqlValueTest, HostVariablesRoundTrip) {
  struct Case {
    int code;
    std::vector<unsigned char> bytes;
    int len;
  };
  auto raw = [](const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::vector<unsigned char>(b, b + n);
  };
  int16_t i2 = -1234;
  int32_t i4 = 123456789;
  int64_t i8x = -4;  // an 8-byte variable holding a 32-bit value
  float f = 1.5f;
  double d = -2.25e300;
  Decimal dec;
  deccvasc("-12345.678", 10, &dec);
  Decimal mon;
  deccvasc("99.95", 5, &mon);
  DateTimeValue dt{static_cast<int16_t>(0x0E0A), {}};
  ASSERT_EQ(0, dtcvasc("2024-03-05 10:20:30", &dt));
  IntervalValue in{static_cast<int16_t>(0x094A), {}};
  ASSERT_EQ(0, incvasc("12 03:04:05", &in));
  Int8Value i8;
  biginttozel_int8(-9000000000000000000LL, &i8);
  int64_t big = 9000000000000000001LL;
  int32_t date = 45000;
  unsigned char b = 1;
  std::vector<Case> cases = {
      {100, raw("hello\0", 6), 6}, {101, raw(&i2, 2), 0},      {102, raw(&i4, 4), 0},
      {103, raw(&i8x, 8), 0},      {104, raw(&f, 4), 0},       {105, raw(&d, 8), 0},
      {107, raw(&dec, 22), 0x10FF}, {108, raw("abc ", 4), 4},  {109, raw("abc\0", 4), 4},
      {110, raw(&date, 4), 0},     {111, raw(&mon, 22), 0x0802}, {112, raw(&dt, 24), 0x0E0A},
      {114, raw("vc\0", 3), 3},    {115, raw(&in, 24), 0x094A}, {116, raw("by  ", 4), 4},
      {117, raw(&i8, 12), 0},      {119, raw("lv\0", 3), 3},   {122, raw(&b, 1), 1},
      {125, raw(&big, 8), 0},      {SQLINT, raw(&i4, 4), 0},   {SQLDATE, raw(&date, 4), 0},
  };
  for (Case& c : cases) {
    SqlValue v;
    ASSERT_EQ(0, rhosttoval(c.bytes.data(), c.code, &v, c.len, nullptr)) << c.code;
    std::vector<unsigned char> back(c.bytes.size(), 0xEE);
    int16_t ind = 99;
    EXPECT_EQ(0, rvaltohost(&v, back.data(), c.code, c.len, &ind)) << c.code;
    if (c.code == 117) {  // the record's two padding bytes are not part of it
      c.bytes.resize(10);
      back.resize(10);
    }
    EXPECT_EQ(c.bytes, back) << c.code;
    EXPECT_EQ(0, ind) << c.code;
  }
  // Fixed binary area, collection and variable binary record.
  unsigned char fixed[6] = {1, 2, 3, 4, 5, 6};
  SqlValue v;
  ASSERT_EQ(0, rhosttoval(fixed, 120, &v, 6, nullptr));
  v.v_type = SQLUDTFIXED;
  unsigned char fixed_back[6] = {};
  EXPECT_EQ(0, rvaltohost(&v, fixed_back, 120, 6, nullptr));
  EXPECT_EQ(0, memcmp(fixed, fixed_back, 6));
  EXPECT_EQ(-1821, rvaltohost(&v, fixed_back, 120, 5, nullptr));

  SqliCollection coll{};
  coll.cl_magic = 0xdbdbdbdb;
  coll.cl_cardinality = 3;
  coll.cl_flags = COLL_OWNS_DATA | COLL_OWNS_TYPEINFO | 0x200;
  ASSERT_EQ(0, rhosttoval(&coll, 118, &v, 0, nullptr));
  SqliCollection copy;
  memset(&copy, 0xEE, sizeof copy);
  EXPECT_EQ(0, rvaltohost(&v, &copy, 118, 0, nullptr));
  EXPECT_EQ(3, copy.cl_cardinality);
  EXPECT_EQ(0x200u, copy.cl_flags);  // the copy owns nothing
  SqlValue notcoll = Int(SQLINT, 1);
  EXPECT_EQ(-9602, rvaltohost(&notcoll, &copy, 118, 0, nullptr));
}

TEST_F(SqlValueTest, HostLengthWordsAndIndicators) {
  int32_t x = 7;
  SqlValue v;
  ASSERT_EQ(0, rhosttoval(&x, SQLINT, &v, 0, nullptr));
  EXPECT_EQ(0x0500, v.v_len);
  int64_t x8 = 7;  // host code 103 is an 8-byte variable
  ASSERT_EQ(0, rhosttoval(&x8, 103, &v, 0, nullptr));
  EXPECT_EQ(0x0A00, v.v_len);
  EXPECT_EQ(7, v.v.i4);
  // A negative indicator makes the value null; a missing variable without
  // one is refused, as is an unknown code.
  int16_t ind = -1;
  ASSERT_EQ(0, rhosttoval(nullptr, 101, &v, 0, &ind));
  EXPECT_EQ(-1, v.v_ind);
  EXPECT_EQ(-1, rhosttoval(nullptr, 101, &v, 0, nullptr));
  EXPECT_EQ(-1, rhosttoval(&x, 106, &v, 0, nullptr));
  EXPECT_EQ(-1, rhosttoval(&x, 200, &v, 0, nullptr));
  // A null value writes the null form and the indicator -1.
  SqlValue n = Null(SQLINT);
  int16_t out = 0;
  EXPECT_EQ(0, rvaltohost(&n, &x, SQLINT, 0, &out));
  EXPECT_EQ(-1, out);
  EXPECT_EQ(INT32_MIN, x);
}

TEST_F(SqlValueTest, TextTargets) {
  SqlValue v = Text(SQLCHAR, "abcdef");
  char area[16];
  int16_t ind = 0;
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&v, area, 100, 4, &ind));
  EXPECT_STREQ("abc", area);
  EXPECT_EQ(6, ind);
  memset(area, 'x', sizeof area);
  EXPECT_EQ(-1235, rvaltohost(&v, area, 100, 1, &ind));
  EXPECT_STREQ("", area);
  EXPECT_EQ(-1235, rvaltohost(&v, area, 100, -3, &ind));
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&v, area, 100, 0, &ind));  // no limit
  EXPECT_STREQ("abcdef", area);
  EXPECT_EQ(0, ind);
  // 108: a character area without NUL; 109: trailing blanks dropped; 114:
  // ended after the value's own length.
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&v, area, 108, 8, &ind));
  EXPECT_EQ(0, memcmp(area, "abcdef  x", 9));
  SqlValue blanks = Text(SQLCHAR, "ab   ");
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&blanks, area, 109, 10, &ind));
  EXPECT_STREQ("ab", area);
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&v, area, 114, 10, &ind));
  EXPECT_STREQ("abcdef", area);
  // A number into a text area: rendered right there, failure indicator 1.
  SqlValue num = Int(SQLINT, 12345);
  memset(area, 'x', sizeof area);
  EXPECT_EQ(0, rvaltohost(&num, area, 100, 8, &ind));
  EXPECT_STREQ("12345  ", area);
  EXPECT_EQ(-1207, rvaltohost(&num, area, 100, 4, &ind));
  EXPECT_EQ(1, ind);
  // 116: a byte area from CHAR, blank-padded; too short gives -1235.
  SqlValue by = Text(SQLCHAR, "xy");
  EXPECT_EQ(0, rvaltohost(&by, area, 116, 5, &ind));
  EXPECT_EQ(0, memcmp(area, "xy   ", 5));
  EXPECT_EQ(-1235, rvaltohost(&by, area, 116, 1, &ind));
  EXPECT_EQ(-1269, rvaltohost(&num, area, 116, 5, &ind));
}

TEST_F(SqlValueTest, NumericTargets) {
  SqlValue big = Dbl(1e300);
  float f = 0;
  int16_t ind = 0;
  EXPECT_EQ(-1222, rvaltohost(&big, &f, 104, 0, &ind));
  EXPECT_EQ(1, ind);
  SqlValue tiny = Dbl(1e-46);
  EXPECT_EQ(-1222, rvaltohost(&tiny, &f, 104, 0, &ind));
  SqlValue ok = Dbl(0.5);
  EXPECT_EQ(0, rvaltohost(&ok, &f, 104, 0, &ind));
  EXPECT_EQ(0.5f, f);
  // 103 sign-extends into eight bytes; 102 writes four.
  SqlValue neg = Int(SQLINT, -5);
  int64_t eight = 0x1111111111111111LL;
  EXPECT_EQ(0, rvaltohost(&neg, &eight, 103, 0, &ind));
  EXPECT_EQ(-5, eight);
  unsigned char four[8];
  memset(four, 0x77, sizeof four);
  EXPECT_EQ(0, rvaltohost(&neg, four, 102, 0, &ind));
  EXPECT_EQ(0x77, four[4]);
  int32_t got4;
  memcpy(&got4, four, 4);
  EXPECT_EQ(-5, got4);
}

// Fitting a DECIMAL to a narrower host precision rounds a copy: the
// caller's value is the same for the next conversion.
TEST_F(SqlValueTest, DecimalFitLeavesTheValue) {
  SqlValue v = Dec(SQLDECIMAL, "123.456", 0x0603);
  Decimal out;
  EXPECT_EQ(0, rvaltohost(&v, &out, 107, 0x0501, nullptr));
  char text[32] = {};
  dectoasc(&out, text, 10, -1);
  EXPECT_STREQ("123.5     ", text);
  EXPECT_EQ(0, rvaltohost(&v, &out, 107, 0x0603, nullptr));
  memset(text, 0, sizeof text);
  dectoasc(&out, text, 10, -1);
  EXPECT_STREQ("123.456   ", text);
  // A value too wide for the host precision.
  EXPECT_EQ(-1226, rvaltohost(&v, &out, 107, 0x0301, nullptr));
  // 22 and the value's own word copy it as it is.
  EXPECT_EQ(0, rvaltohost(&v, &out, 107, 22, nullptr));
  EXPECT_EQ(0, deccmp(&out, &v.v.dec));
}

TEST_F(SqlValueTest, VariableBinaryRecords) {
  const char data[] = "0123456789";
  SqlValue v = Text(SQLLVARCHAR, data);
  SqliVarBinary rec{};
  rec.vb_flags = VB_NULL;  // the library may not grow it
  char small[4];
  rec.vb_data = small;
  rec.vb_size = 4;
  EXPECT_EQ(-1821, rvaltohost(&v, &rec, 124, 0, nullptr));
  rec.vb_flags = VB_OWNED | VB_NULL;
  rec.vb_data = nullptr;
  rec.vb_size = 0;
  EXPECT_EQ(0, rvaltohost(&v, &rec, 124, 0, nullptr));
  ASSERT_NE(nullptr, rec.vb_data);
  EXPECT_EQ(11, rec.vb_len);
  EXPECT_EQ(11, rec.vb_size);
  EXPECT_STREQ(data, rec.vb_data);
  EXPECT_EQ(VB_OWNED, rec.vb_flags);
  // Back into an SqlValue: the record's buffer and length.
  SqlValue back;
  ASSERT_EQ(0, rhosttoval(&rec, 124, &back, 0, nullptr));
  EXPECT_EQ(rec.vb_data, back.v.text.ptr);
  free(rec.vb_data);
  SqlValue udt = Text(SQLUDTVAR, "zz");
  SqliVarBinary r2{};
  EXPECT_EQ(-1260, rvaltohost(&udt, &r2, 124, 0, nullptr));
  EXPECT_EQ(-1260, rvaltohost(&v, &r2, 121, 0, nullptr));
}

// Every value type against every scalar conversion: the result code.
TEST_F(SqlValueTest, ConversionMatrix) {
  Decimal dec;
  deccvasc("12.5", 4, &dec);
  SqlValue d = {};
  d.v_type = SQLDECIMAL;
  d.v.dec = dec;
  SqlValue lob = {};
  lob.v_type = SQLBYTES;
  unsigned char one = 1;
  SqlValue boolean = {};
  boolean.v_type = SQLBOOL;
  boolean.v.text.ptr = reinterpret_cast<char*>(&one);
  boolean.v.text.len = 1;
  SqlValue dt = {};
  dt.v_type = SQLDTIME;
  dt.v_len = 0x0E0A;
  SqlValue udt = Text(SQLUDTFIXED, "ab");
  struct Case {
    const char* name;
    SqlValue v;
    int i4, i2, big, dbl, dec, i8;
  } cases[] = {
      {"smallint", Int(SQLSMINT, 7), 0, 0, 0, 0, 0, 0},
      {"smallint -32768", Int(SQLSMINT, -32768), 0, -1214, 0, 0, 0, 0},
      {"integer", Int(SQLINT, 40000), 0, -1214, 0, 0, 0, 0},
      {"date", Int(SQLDATE, 1), 0, 0, 0, 0, 0, 0},
      {"float", Dbl(3.75), 0, 0, 0, 0, 0, 0},
      {"float nan", Dbl(NAN), -1223, -1223, -1223, 0, -1223, -1223},
      {"smallfloat", Flt(-2.5f), 0, 0, 0, 0, 0, 0},
      {"decimal", d, 0, 0, 0, 0, 0, 0},
      {"text", Text(SQLCHAR, " 42 "), 0, 0, 0, 0, 0, 0},
      {"text bad", Text(SQLVCHAR, "4x"), -1213, -1213, -1213, -1213, -1213, -1213},
      {"byte", lob, -608, -608, -608, -608, -608, -608},
      {"boolean", boolean, -1260, -1260, -1260, -1260, -1260, -1260},
      {"udt", udt, -1260, -1260, -1260, -1260, -1260, -1260},
      {"datetime", dt, -1260, -1260, -1260, -1260, -1260, -1260},
  };
  for (Case& c : cases) {
    int32_t i4;
    int16_t i2;
    int64_t big;
    double x;
    Decimal out;
    Int8Value i8;
    EXPECT_EQ(c.i4, rvaltoint4(&c.v, &i4)) << c.name;
    EXPECT_EQ(c.i4, rgeterror()) << c.name;
    EXPECT_EQ(c.i2, rvaltoint2(&c.v, &i2)) << c.name;
    EXPECT_EQ(c.big, rvaltobigint(&c.v, &big)) << c.name;
    EXPECT_EQ(c.dbl, rvaltodbl(&c.v, &x)) << c.name;
    EXPECT_EQ(c.dec, rvaltodec(&c.v, &out)) << c.name;
    EXPECT_EQ(c.i8, rvaltoint8(&c.v, &i8)) << c.name;
  }
  // Null values give each null form.
  SqlValue n = Null(SQLINT);
  int32_t i4 = 0;
  int16_t i2 = 0;
  int64_t big = 0;
  double x = 0;
  Decimal out;
  Int8Value i8{1, 1, 1};
  EXPECT_EQ(0, rvaltoint4(&n, &i4));
  EXPECT_EQ(INT32_MIN, i4);
  EXPECT_EQ(0, rvaltoint2(&n, &i2));
  EXPECT_EQ(-32768, i2);
  EXPECT_EQ(0, rvaltobigint(&n, &big));
  EXPECT_EQ(BIGINT_NULL, big);
  EXPECT_EQ(0, rvaltodbl(&n, &x));
  uint64_t bits;
  memcpy(&bits, &x, 8);
  EXPECT_EQ(~0ull, bits);
  EXPECT_EQ(0, rvaltodec(&n, &out));
  EXPECT_EQ(DEC_NULLSIGN, out.sign);
  EXPECT_EQ(0, rvaltoint8(&n, &i8));
  EXPECT_EQ(0, i8.sign);
  // Blank text counts as null for rvaltodblblank.
  SqlValue blank = Text(SQLCHAR, "   ");
  int flag = 0;
  EXPECT_EQ(0, rvaltodblblank(&blank, &x, &flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(0.0, x);
  SqlValue num = Text(SQLCHAR, "2.5");
  EXPECT_EQ(0, rvaltodblblank(&num, &x, &flag));
  EXPECT_EQ(0, flag);
  EXPECT_EQ(2.5, x);
}

TEST_F(SqlValueTest, DatesBooleansAndDatetimes) {
  int32_t d = 0, today = 0;
  SqlValue t = Text(SQLCHAR, "Today");
  EXPECT_EQ(0, rvaltodate(&t, &d, nullptr));
  rtoday(&today);
  EXPECT_EQ(today, d);
  SqlValue n = Text(SQLCHAR, "null");
  EXPECT_EQ(0, rvaltodate(&n, &d, nullptr));
  EXPECT_EQ(DATE_NULL, d);
  SqlValue s = Text(SQLCHAR, "02/29/2000");
  EXPECT_EQ(0, rvaltodate(&s, &d, nullptr));
  EXPECT_EQ(36584, d);
  SqlValue far = Int(SQLINT, 2958465);
  EXPECT_EQ(-1210, rvaltodate(&far, &d, nullptr));
  // A DBDATE-style format for one call reads the text in its order.
  SqlValue ymd = Text(SQLCHAR, "2000-02-29");
  EXPECT_EQ(0, rvaltodate(&ymd, &d, "Y4MD-"));
  EXPECT_EQ(36584, d);
  SqlValue mdy = Text(SQLCHAR, "2000-02-29");
  EXPECT_NE(0, rvaltodate(&mdy, &d, "MDY4/"));
  SqlValue dt = {};
  dt.v_type = SQLDTIME;
  dt.v_len = 0x0E0A;
  DateTimeValue dv{static_cast<int16_t>(0x0E0A), {}};
  ASSERT_EQ(0, dtcvasc("2000-02-29 12:00:00", &dv));
  dt.v.dec = dv.dt_dec;
  EXPECT_EQ(0, rvaltodate(&dt, &d, nullptr));
  EXPECT_EQ(36584, d);
  // DATE to DATETIME and back out as text.
  SqlValue date = Int(SQLDATE, 36584);
  DateTimeValue out;
  EXPECT_EQ(0, rvaltodt(&date, &out, 0x0804));
  char text[40];
  ASSERT_EQ(0, dttoasc(&out, text));
  EXPECT_STREQ("2000-02-29", text);
  // DATETIME cut to YEAR TO DAY; text into an INTERVAL; DECIMAL as the
  // interval's digits.
  EXPECT_EQ(0, rvaltodt(&dt, &out, 0x0804));
  ASSERT_EQ(0, dttoasc(&out, text));
  EXPECT_STREQ("2000-02-29", text);
  SqlValue it = Text(SQLCHAR, "5 10:00:00");
  IntervalValue iv;
  EXPECT_EQ(0, rvaltoinv(&it, &iv, 0x094A));
  ASSERT_EQ(0, intoasc(&iv, text));
  EXPECT_STREQ("   5 10:00:00", text);  // a sign column and three day digits
  SqlValue i4 = Int(SQLINT, 3);
  EXPECT_EQ(-1260, rvaltoinv(&i4, &iv, 0x094A));
  unsigned char b = 0;
  SqlValue tt = Text(SQLCHAR, "t");
  EXPECT_EQ(0, rvaltobool(&tt, &b));
  EXPECT_EQ(1, b);
  SqlValue ff = Text(SQLCHAR, "F");
  EXPECT_EQ(0, rvaltobool(&ff, &b));
  EXPECT_EQ(0, b);
  SqlValue yes = Text(SQLCHAR, "yes");
  EXPECT_EQ(-1260, rvaltobool(&yes, &b));
  EXPECT_EQ(-1260, rvaltobool(&i4, &b));
  SqlValue nb = Null(SQLBOOL);
  EXPECT_EQ(0, rvaltobool(&nb, &b));
  EXPECT_EQ(0xFF, b);
}

TEST_F(SqlValueTest, UnloadTextEdges) {
  char field[100];
  SqlValue i = Int(SQLINT, 12345);
  EXPECT_EQ(-1207, rvaltotext(&i, field, 3, 1));
  EXPECT_EQ(0, memcmp(field, "***", 3));
  unsigned char one = 1;
  SqlValue t = {};
  t.v_type = SQLBOOL;
  t.v.text.ptr = reinterpret_cast<char*>(&one);
  t.v.text.len = 1;
  memset(field, 'x', sizeof field);
  EXPECT_EQ(0, rvaltotext(&t, field, 3, 1));
  EXPECT_EQ(0, memcmp(field, "t  x", 4));
  EXPECT_EQ(0, rvaltotext(&t, field, 0, 1));
  EXPECT_STREQ("t", field);
  SqlValue n = Null(SQLINT);
  memset(field, 'x', sizeof field);
  EXPECT_EQ(0, rvaltotext(&n, field, 4, 1));
  EXPECT_EQ(0, memcmp(field, "    x", 5));
  EXPECT_EQ(0, rvaltotext(&n, field, 0, 1));
  EXPECT_STREQ("", field);
  EXPECT_EQ(0, rvaltotext(&i, field, 8, 0));
  EXPECT_EQ(0, memcmp(field, "   12345", 8));
  SqlValue inf = Dbl(INFINITY);
  EXPECT_EQ(-1223, rvaltotext(&inf, field, 20, 1));
  SqlValue small = Dbl(0.1);
  EXPECT_EQ(0, rvaltotext(&small, field, 0, 1));
  EXPECT_STREQ("0.1", field);
  SqlValue date = Int(SQLDATE, 36584);
  EXPECT_EQ(0, rvaltotext(&date, field, 0, 1));
  EXPECT_STREQ("02/29/2000", field);
  SqlValue udt = Text(SQLUDTFIXED, "ab");
  EXPECT_EQ(-1260, rvaltotext(&udt, field, 10, 1));
}

TEST_F(SqlValueTest, CompareByClassRules) {
  struct Case {
    const char* name;
    SqlValue a, b;
    int op, rc, want;
  };
  DateTimeValue dv{static_cast<int16_t>(0x0804), {}};
  ASSERT_EQ(0, dtcvasc("2000-02-29", &dv));
  SqlValue dt = {};
  dt.v_type = SQLDTIME;
  dt.v_len = 0x0804;
  dt.v.dec = dv.dt_dec;
  IntervalValue ym{static_cast<int16_t>(0x0602), {}};
  ASSERT_EQ(0, incvasc("1-02", &ym));
  SqlValue inv_ym = {};
  inv_ym.v_type = SQLINTERVAL;
  inv_ym.v_len = 0x0602;
  inv_ym.v.dec = ym.in_dec;
  IntervalValue ds{static_cast<int16_t>(0x094A), {}};
  ASSERT_EQ(0, incvasc("5 00:00:00", &ds));
  SqlValue inv_ds = {};
  inv_ds.v_type = SQLINTERVAL;
  inv_ds.v_len = 0x094A;
  inv_ds.v.dec = ds.in_dec;
  SqlValue big = {};
  big.v_type = SQLBIGINT;
  big.v.i8 = 5000000000LL;
  SqlValue i8 = {};
  i8.v_type = SQLINT8;
  biginttozel_int8(5000000000LL, &i8.v.int8);
  std::vector<Case> cases = {
      {"char=varchar padded", Text(SQLCHAR, "abc"), Text(SQLVCHAR, "abc  "), 46, 0, 1},
      {"char<char", Text(SQLCHAR, "ab"), Text(SQLCHAR, "abc"), 49, 0, 1},
      {"char as number", Text(SQLCHAR, "12"), Int(SQLINT, 12), 46, 0, 1},
      {"char 012 = 12 as numbers", Text(SQLCHAR, "012"), Int(SQLSMINT, 12), 46, 0, 1},
      {"char vs date", Text(SQLCHAR, "02/29/2000"), Int(SQLDATE, 36584), 46, 0, 1},
      {"char vs date later", Text(SQLCHAR, "03/01/2000"), Int(SQLDATE, 36584), 51, 0, 1},
      {"smallfloat 0.1 = float 0.1", Flt(0.1f), Dbl(0.1), 46, 0, 1},
      {"float 0.1 = decimal 0.1 as doubles", Dbl(0.1), Dec(SQLDECIMAL, "0.1", 0x10FF), 46, 0, 1},
      {"decimal vs money", Dec(SQLDECIMAL, "1.50", 0x0502), Dec(SQLMONEY, "1.5", 0x0802), 46, 0, 1},
      {"datetime vs date", dt, Int(SQLDATE, 36584), 46, 0, 1},
      {"datetime vs date earlier", dt, Int(SQLDATE, 36585), 49, 0, 1},
      {"interval vs interval", inv_ds, inv_ds, 48, 0, 1},
      {"interval year-month vs day-time", inv_ym, inv_ds, 46, -1266, -1},
      {"bigint vs int8", big, i8, 46, 0, 1},
      {"int8 vs integer", i8, Int(SQLINT, 7), 51, 0, 1},
      {"integer vs smallint", Int(SQLINT, -3), Int(SQLSMINT, 2), 49, 0, 1},
      {"smallint vs smallint", Int(SQLSMINT, 2), Int(SQLSMINT, 2), 47, 0, 0},
      {"text not a number", Text(SQLCHAR, "x"), Int(SQLINT, 1), 46, -1213, -1},
      {"nan left is smaller", Dbl(NAN), Dbl(1.0), 49, 0, 1},
      {"nan right: left smaller", Dbl(1.0), Dbl(NAN), 50, 0, 0},
      {"unknown operator: c != 0", Int(SQLINT, 1), Int(SQLINT, 2), 99, 0, 1},
  };
  for (Case& c : cases) {
    SqlValue r;
    memset(&r, 0x5A, sizeof r);
    const int rc = rvalcompare(c.op, &c.a, &c.b, &r);
    EXPECT_EQ(c.rc, rc) << c.name;
    if (c.rc == 0) {
      EXPECT_EQ(SQLSMINT, r.v_type) << c.name;
      EXPECT_EQ(0, r.v_ind) << c.name;
      EXPECT_EQ(c.want, r.v.i4) << c.name;
    }
  }
  // Null operands give a null result.
  SqlValue a = Null(SQLINT), b = Int(SQLINT, 1), r;
  EXPECT_EQ(0, rvalcompare(46, &a, &b, &r));
  EXPECT_EQ(-1, r.v_ind);
  EXPECT_EQ(0, r.v.i4);
  // The result may be an operand.
  SqlValue x = Int(SQLINT, 4), y = Int(SQLINT, 4);
  EXPECT_EQ(0, rvalcompare(46, &x, &y, &x));
  EXPECT_EQ(1, x.v.i4);
}

TEST_F(SqlValueTest, MoneyTextLosesItsSymbolAndSeparatorsFirst) {
  // en_us.8859-1: "$" in front, "," between thousands; the plain reader
  // refuses both, the money reader takes them.
  SqlValue t = Text(SQLCHAR, "  $1,234.50");
  Decimal money, plain;
  ASSERT_EQ(0, rvaltomon(&t, &money));
  char text[32];
  ASSERT_EQ(0, dectoasc(&money, text, 31, -1));
  text[31] = 0;
  EXPECT_EQ("1234.5", std::string(text, strcspn(text, " ")));
  EXPECT_EQ(-1213, rvaltodec(&t, &plain));
  SqlValue n = Int(SQLINT, 7);
  ASSERT_EQ(0, rvaltomon(&n, &money));
  double x = 0;
  ASSERT_EQ(0, dectodbl(&money, &x));
  EXPECT_EQ(7.0, x);
}

TEST_F(SqlValueTest, DatetimeTextAndWidthFollowTheClientFormatUnderUseDtenv) {
  sqltest::OnNewThread([] {
    setenv("USE_DTENV", "1", 1);
    setenv("DBTIME", "%d/%m/%Y %H:%M", 1);
    SqlValue v = {};
    v.v_type = SQLDTIME;
    v.v_len = 0x0E0A;
    DateTimeValue dv{static_cast<int16_t>(0x0E0A), {}};
    ASSERT_EQ(0, dtcvasc("05/03/2024 10:20", &dv));
    v.v.dec = dv.dt_dec;
    char field[100];
    EXPECT_EQ(0, rvaltotext(&v, field, 0, 1));
    EXPECT_STREQ("05/03/2024 10:20", field);
    EXPECT_EQ(16, rtypwidth(SQLDTIME, 0x0E0A));
    unsetenv("DBTIME");
  });
  unsetenv("USE_DTENV");
}

}  // namespace
