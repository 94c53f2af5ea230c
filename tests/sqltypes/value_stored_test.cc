// Stored forms: every type written by rvaltodata against Python's struct
// and decimal, read back by rdataval; NOT NULL, ANSI and multibyte cuts.
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/value_stored.h"
#include "tests/locale/lco_fixture.h"
#include "tests/sqltypes/sql_env.h"
#include "tests/support/test_support.h"

namespace {

std::string Hex(const unsigned char* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

SqlValue Int(int type, int64_t x) {
  SqlValue v;
  memset(&v, 0, sizeof v);
  v.v_type = static_cast<uint16_t>(type);
  if (type == SQLBIGINT) v.v.i8 = x;
  else v.v.i4 = static_cast<int32_t>(x);
  return v;
}

SqlValue Text(int type, const std::string& s) {
  SqlValue v;
  memset(&v, 0, sizeof v);
  v.v_type = static_cast<uint16_t>(type);
  v.v.text.ptr = const_cast<char*>(s.data());
  v.v.text.len = static_cast<int32_t>(s.size());
  return v;
}

SqlValue Null(int type) {
  SqlValue v;
  memset(&v, 0, sizeof v);
  v.v_type = static_cast<uint16_t>(type);
  v.v_ind = -1;
  return v;
}

class ClientLocale {
 public:
  explicit ClientLocale(GlLocale* loc) {
    EXPECT_GE(rglinit(), 0);
    saved_ = rgllocstate()->client;
    rgllocstate()->client = loc;
  }
  ~ClientLocale() { rgllocstate()->client = saved_; }

 private:
  GlLocale* saved_;
};

class StoredTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqltest::UseBuildTree();
    rsetansi(0);
    rsetmode(0);
  }
  void TearDown() override {
    rsetansi(0);
    rsetmode(0);
  }
};

TEST_F(StoredTest, FixedEdgeCases) {
  unsigned char b[64];
  SqlValue v = Int(SQLINT, 5);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLINT, 4));
  EXPECT_EQ("00000005", Hex(b, 4));
  v = Null(SQLINT);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLINT, 4));
  EXPECT_EQ("80000000", Hex(b, 4));
  EXPECT_EQ(-1225, rvaltodata(&v, b, SQLINT | STORE_NOTNULL, 4));
  EXPECT_EQ(-1225, rgeterror());

  // CHAR(4): blanks, or NULs with the data flag 0x20.
  std::string ab = "ab";
  v = Text(SQLCHAR, ab);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLCHAR, 4));
  EXPECT_EQ(std::string("ab  "), std::string(reinterpret_cast<char*>(b), 4));
  v.v.text.flags = SQLV_PADNUL;
  ASSERT_EQ(0, rvaltodata(&v, b, SQLCHAR, 4));
  EXPECT_EQ("61620000", Hex(b, 4));

  // Null VARCHAR(10) and its load.
  v = Null(SQLVCHAR);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLVCHAR, 10));
  EXPECT_EQ("01" + std::string(20, '0'), Hex(b, 11));
  SqlValue out;
  memset(&out, 0, sizeof out);
  ASSERT_EQ(0, rdataval(b, SQLVCHAR, 10, &out));
  EXPECT_LT(out.v_ind, 0);

  // BOOLEAN true and null.
  const std::string t = "t";
  v = Text(SQLCHAR, t);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLBOOL, 1));
  EXPECT_EQ("000000000101", Hex(b, 6));
  v = Null(SQLBOOL);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLBOOL, 1));
  EXPECT_EQ("0100000000", Hex(b, 5));

  // Slots without an operation.
  v = Int(SQLINT, 1);
  EXPECT_EQ(-1285, rvaltodata(&v, b, 9, 4));
  EXPECT_EQ(-1285, rvaltodata(&v, b, 42, 4));
  EXPECT_EQ(-1285, rdataval(b, SQLCOLLECTION, 4, &out));
  // BYTE value into INTEGER, INTEGER into BYTE.
  SqlValue lob = Null(SQLBYTES);
  lob.v_ind = 0;
  EXPECT_EQ(-608, rvaltodata(&lob, b, SQLINT, 4));
  EXPECT_EQ(-608, rvaltodata(&v, b, SQLBYTES, 56));
}

TEST_F(StoredTest, NotNullForEveryType) {
  unsigned char b[600];
  for (int t : {SQLCHAR, SQLSMINT, SQLINT, SQLFLOAT, SQLSMFLOAT, SQLDECIMAL, SQLSERIAL, SQLDATE,
                SQLMONEY, SQLDTIME, SQLBYTES, SQLTEXT, SQLVCHAR, SQLINTERVAL, SQLNCHAR,
                SQLNVCHAR, SQLINT8, SQLSERIAL8, SQLSET, SQLMULTISET, SQLLIST, SQLROW,
                SQLUDTVAR, SQLUDTFIXED, SQLLVARCHAR, SQLBOOL, SQLBIGINT, SQLBIGSERIAL}) {
    SqlValue v = Null(t);
    const int len = t == SQLDTIME ? 0x0E0A : t == SQLINTERVAL ? 0x0F4A : t == SQLDECIMAL ? 0x0802 : 8;
    EXPECT_EQ(-1225, rvaltodata(&v, b, t | STORE_NOTNULL, len)) << t;
  }
}

TEST_F(StoredTest, AnsiCuts) {
  unsigned char b[64];
  rsetansi(1);
  std::string s = "abcdef";
  SqlValue v = Text(SQLCHAR, s);
  EXPECT_EQ(-1279, rvaltodata(&v, b, SQLCHAR, 4));
  std::string blanks = "ab    ";
  v = Text(SQLCHAR, blanks);
  EXPECT_EQ(0, rvaltodata(&v, b, SQLCHAR, 4));
  // VARCHAR(4): five bytes are cut, six refused.
  std::string five = "abcde";
  v = Text(SQLVCHAR, five);
  EXPECT_EQ(0, rvaltodata(&v, b, SQLVCHAR, 4));
  EXPECT_EQ("0461626364", Hex(b, 5));
  v = Text(SQLVCHAR, s);
  EXPECT_EQ(-1279, rvaltodata(&v, b, SQLVCHAR, 4));
  v = Text(SQLLVARCHAR, s);
  v.v_type = SQLCHAR;
  EXPECT_EQ(-1279, rvaltodata(&v, b, SQLLVARCHAR, 4));
  rsetansi(0);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLLVARCHAR, 4));
  EXPECT_EQ("000000000461626364", Hex(b, 9));
  // An LVARCHAR value is never cut.
  v.v_type = SQLLVARCHAR;
  ASSERT_EQ(0, rvaltodata(&v, b, SQLLVARCHAR, 4));
  EXPECT_EQ("0000000006616263646566", Hex(b, 11));
}

TEST_F(StoredTest, TuplePadding) {
  UdtTupleType integer{SQLINT, 0, 4};
  EXPECT_EQ(6, udt_tup_off(&integer, 6));
  UdtTupleType fixed{SQLUDTFIXED, 0, 8};
  EXPECT_EQ(5, udt_tup_off(&fixed, 3));
  UdtTupleType set{SQLSET, 0x4, 4};
  EXPECT_EQ(4, udt_tup_off(&set, 4));  // a full step when already aligned
  UdtTupleType none{SQLINT, 0, 0};
  EXPECT_EQ(3, udt_tup_off(&none, 17));
}

TEST_F(StoredTest, LargeObjectDescriptor) {
  LargeObjectDesc d;
  memset(&d, 0, sizeof d);
  d.field1 = 0x0102;
  d.field32[6] = 0x0A0B0C0D;
  d.field6 = 1;
  d.field8 = -1;
  d.field11 = 0x11223344;
  SqlValue v = Null(SQLBYTES);
  v.v_ind = 0;
  v.v.loc.desc = d;
  unsigned char b[56];
  ASSERT_EQ(0, rvaltodata(&v, b, SQLTEXT, 56));
  std::string want = "0102" + std::string(4 + 6 * 8, '0') + "0a0b0c0d" + std::string(12, '0') +
                     "0001" + "ffffffff" + std::string(16, '0') + "11223344";
  EXPECT_EQ(want, Hex(b, 56));
  SqlValue out;
  memset(&out, 0, sizeof out);
  ASSERT_EQ(0, rdataval(b, SQLTEXT, 56, &out));
  EXPECT_LT(out.v_ind, 0);  // null flag at offset 38
  EXPECT_EQ(0, memcmp(&out.v.loc.desc, &d, sizeof d));
  v = Null(SQLBYTES);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLBYTES, 56));
  EXPECT_EQ(1, b[39]);
}

// Random values of every scalar type, stored and compared with Python.
TEST_F(StoredTest, AgreesWithPythonStruct) {
  const unsigned seed = static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 rng(seed);
  std::ostringstream lines;
  unsigned char b[64];
  int cases = 0;
  auto emit = [&](const std::string& kind, const std::string& value, size_t n) {
    lines << kind << ' ' << value << ' ' << Hex(b, n) << '\n';
    cases++;
  };
  for (int i = 0; i < 400; i++) {
    const int64_t x = static_cast<int64_t>(rng());
    SqlValue v = Int(SQLINT, static_cast<int16_t>(x));
    if (v.v.i4 == INT16_MIN) v.v.i4 = 7;
    ASSERT_EQ(0, rvaltodata(&v, b, SQLSMINT, 2));
    emit("smallint", std::to_string(v.v.i4), 2);
    SqlValue back;
    memset(&back, 0, sizeof back);
    ASSERT_EQ(0, rdataval(b, SQLSMINT, 2, &back));
    EXPECT_EQ(v.v.i4, back.v.i4);
    EXPECT_EQ(0x0500, back.v_len);

    v = Int(SQLINT, static_cast<int32_t>(x));
    if (v.v.i4 == INT32_MIN) v.v.i4 = 1;
    ASSERT_EQ(0, rvaltodata(&v, b, SQLINT, 4));
    emit("integer", std::to_string(v.v.i4), 4);
    ASSERT_EQ(0, rdataval(b, SQLINT, 4, &back));
    EXPECT_EQ(v.v.i4, back.v.i4);
    EXPECT_EQ(0x0A00, back.v_len);

    v = Int(SQLBIGINT, x == INT64_MIN ? 3 : x);
    ASSERT_EQ(0, rvaltodata(&v, b, SQLBIGINT, 8));
    emit("bigint", std::to_string(v.v.i8), 8);
    ASSERT_EQ(0, rdataval(b, SQLBIGINT, 8, &back));
    EXPECT_EQ(v.v.i8, back.v.i8);
    // INT8 from the same BIGINT value.
    ASSERT_EQ(0, rvaltodata(&v, b, SQLINT8, 10));
    emit("int8", std::to_string(v.v.i8), 10);
    ASSERT_EQ(0, rdataval(b, SQLINT8, 10, &back));
    EXPECT_EQ(0x1300, back.v_len);
    EXPECT_EQ(v.v.i8, zel_int8tobigint(&back.v.int8));

    // Floats under both mode words.
    const double dv = std::ldexp(static_cast<double>(static_cast<int32_t>(x)), static_cast<int>(x % 40) - 20);
    for (int mode : {0, 1}) {
      rsetmode(mode);
      SqlValue f;
      memset(&f, 0, sizeof f);
      f.v_type = SQLFLOAT;
      f.v.f8 = dv;
      ASSERT_EQ(0, rvaltodata(&f, b, SQLFLOAT, 8));
      char text[64];
      snprintf(text, sizeof text, "%.17g", dv);
      emit(mode ? "float1" : "float", text, 8);
      ASSERT_EQ(0, rdataval(b, SQLFLOAT, 8, &back));
      EXPECT_EQ(dv, back.v.f8);
      ASSERT_EQ(0, rvaltodata(&f, b, SQLSMFLOAT, 4));
      snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(dv)));
      emit(mode ? "smallfloat1" : "smallfloat", text, 4);
      ASSERT_EQ(0, rdataval(b, SQLSMFLOAT, 4, &back));
      EXPECT_EQ(static_cast<float>(dv), back.v.f4);
      EXPECT_EQ(0x08FF, back.v_len);
    }
    rsetmode(0);

    // DECIMAL(p,s) with a value that fits.
    const int p = 1 + static_cast<int>(rng() % 30);
    const int s = static_cast<int>(rng() % (p + 1));
    std::string digits;
    for (int k = 0; k < p; k++) digits += static_cast<char>('0' + rng() % 10);
    std::string text = (rng() & 1 ? "-" : "") + digits.substr(0, p - s) + (s ? "." + digits.substr(p - s) : "");
    if (p == s) text = (text[0] == '-' ? "-0" : "0") + text.substr(text[0] == '-' ? 1 : 0);
    SqlValue d = Text(SQLCHAR, text);
    const int word = p * 256 + s;
    ASSERT_EQ(0, rvaltodata(&d, b, SQLDECIMAL, word)) << text;
    emit("decimal:" + std::to_string(p) + ":" + std::to_string(s), text, static_cast<size_t>((p + (s & 1) + 3) / 2));
    ASSERT_EQ(0, rdataval(b, SQLDECIMAL, word, &back));
    EXPECT_EQ(word, back.v_len);
    Decimal want;
    ASSERT_EQ(0, deccvasc(text.c_str(), static_cast<int>(text.size()), &want));
    EXPECT_EQ(0, deccmp(&want, &back.v.dec)) << text;

    // VARCHAR(m) and LVARCHAR of random bytes (no NUL, not all blank).
    std::string raw;
    const int n = static_cast<int>(rng() % 30);
    for (int k = 0; k < n; k++) raw += static_cast<char>('!' + rng() % 90);
    const int m = 1 + static_cast<int>(rng() % 25);
    SqlValue t = Text(SQLVCHAR, raw);
    ASSERT_EQ(0, rvaltodata(&t, b, SQLVCHAR, m));
    emit("varchar:" + std::to_string(m), raw.empty() ? "-" : Hex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size()), static_cast<size_t>(m + 1));
    ASSERT_EQ(0, rdataval(b, SQLVCHAR, m, &back));
    EXPECT_EQ(raw.substr(0, static_cast<size_t>(m)), std::string(back.v.text.ptr, static_cast<size_t>(back.v.text.len)));
    unsigned char big[80];
    t.v_type = SQLLVARCHAR;
    ASSERT_EQ(0, rvaltodata(&t, big, SQLLVARCHAR, 0));
    if (!raw.empty()) {
      lines << "lvarchar " << Hex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size()) << ' '
            << Hex(big, raw.size() + 5) << '\n';
      cases++;
    }
    back.v_type = SQLLVARCHAR;
    ASSERT_EQ(0, rdataval(big, SQLLVARCHAR, 0, &back));
    EXPECT_EQ(raw, std::string(back.v.text.ptr, static_cast<size_t>(back.v.text.len)));
  }
  std::string input = lines.str();
  tevtest::RunOptions opt;
  opt.env = {{"PATH", "/usr/bin:/bin"}};
  opt.stdin_data = input;
  auto r = tevtest::RunProgram("/usr/bin/python3",
                               {tevtest::SourceDir() + "/tests/sqltypes/stored_oracle.py"}, opt);
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(std::to_string(cases) + " passed, 0 failed")) << r.out;
}

// en_us.utf8: a character cut at the field's end, checked against Python's
// UTF-8 decoder.
TEST_F(StoredTest, MultibyteCutCharacters) {
  ClientLocale utf(lcotest::Generated("utf8"));
  std::mt19937 rng(12345);
  const std::vector<std::string> chars = {"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  std::ostringstream cases;
  for (int i = 0; i < 300; i++) {
    std::string s;
    const int k = 1 + static_cast<int>(rng() % 6);
    for (int j = 0; j < k; j++) s += chars[rng() % chars.size()];
    const int n = 1 + static_cast<int>(rng() % (s.size() + 2));
    unsigned char b[64];
    SqlValue v = Text(SQLCHAR, s);
    ASSERT_EQ(0, rvaltodata(&v, b, SQLCHAR, n));
    const std::string chr(reinterpret_cast<char*>(b), static_cast<size_t>(n));
    v = Text(SQLVCHAR, s);
    ASSERT_EQ(0, rvaltodata(&v, b, SQLVCHAR, n));
    const std::string vch(reinterpret_cast<char*>(b + 1), static_cast<size_t>(n));
    EXPECT_EQ(std::min<int>(n, static_cast<int>(s.size())), b[0]);
    v = Text(SQLCHAR, s);
    ASSERT_EQ(0, rvaltodata(&v, b, SQLLVARCHAR, n));
    const uint32_t lv = (uint32_t{b[1]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 8) | b[4];
    cases << Hex(reinterpret_cast<const unsigned char*>(s.data()), s.size()) << ' ' << n << ' '
          << Hex(reinterpret_cast<const unsigned char*>(chr.data()), chr.size()) << ' '
          << Hex(reinterpret_cast<const unsigned char*>(vch.data()), vch.size()) << ' ' << lv << '\n';
  }
  // Expected: the longest prefix of whole characters within n bytes, blanks
  // after it (CHAR, VARCHAR); its length (LVARCHAR, when cut).
  const char* script = R"(
import sys
bad = 0
for line in sys.stdin:
    s, n, chr_, vch, lv = line.split()
    s = bytes.fromhex(s); n = int(n)
    k = min(n, len(s))
    while True:
        try:
            s[:k].decode('utf-8'); break
        except UnicodeDecodeError:
            k -= 1
    want = s[:k] + b' ' * (n - k)
    if want.hex() != chr_ or want.hex() != vch or int(lv) != k:
        bad += 1; print('bad', line.strip())
print('mismatches', bad)
)";
  tevtest::RunOptions opt;
  opt.env = {{"PATH", "/usr/bin:/bin"}};
  opt.stdin_data = cases.str();
  auto r = tevtest::RunProgram("/usr/bin/python3", {"-c", script}, opt);
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("mismatches 0")) << r.out;

  // Invalid bytes: -202 for CHAR and VARCHAR; none under attributes 19 and 18.
  std::string bad = "ab\xff";
  unsigned char b[16];
  SqlValue v = Text(SQLCHAR, bad);
  EXPECT_EQ(-202, rvaltodata(&v, b, SQLCHAR, 4));
  v.v_attr = 19;
  EXPECT_EQ(0, rvaltodata(&v, b, SQLCHAR, 4));
  v = Text(SQLVCHAR, bad);
  EXPECT_EQ(-202, rvaltodata(&v, b, SQLVCHAR, 4));
  v.v_attr = 18;
  EXPECT_EQ(0, rvaltodata(&v, b, SQLVCHAR, 4));
  v = Text(SQLCHAR, bad);
  EXPECT_EQ(0, rvaltodata(&v, b, SQLLVARCHAR, 2));
}

TEST_F(StoredTest, DatetimeIntervalAndMoneySizes) {
  unsigned char b[32];
  std::string dt = "2024-03-05 10:20:30";
  SqlValue v = Text(SQLCHAR, dt);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLDTIME, 0x0E0A));  // 14 digits: 8 bytes
  SqlValue back;
  memset(&back, 0, sizeof back);
  ASSERT_EQ(0, rdataval(b, SQLDTIME, 0x0E0A, &back));
  EXPECT_EQ("c7141803050a141e", Hex(b, 8));
  std::string m = "12.345";
  v = Text(SQLCHAR, m);
  ASSERT_EQ(0, rvaltodata(&v, b, SQLMONEY, 0x0502));  // rounds to 12.35; 4 bytes
  EXPECT_EQ("c10c2300", Hex(b, 4));
  std::string big = "123456";
  v = Text(SQLCHAR, big);
  EXPECT_EQ(-1226, rvaltodata(&v, b, SQLDECIMAL, 0x0502));
}

}  // namespace
