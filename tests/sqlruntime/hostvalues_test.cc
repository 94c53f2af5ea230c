// Host values without a server: PUT values stored into row bytes and rows
// unpacked into host variables, against the stored forms Python builds
// (tests/sqlruntime/sqli_values.py) on random values of every built-in
// host type; the fetch edge cases (blank padding and cuts, nulls, 64-bit
// sign extension, target count mismatches, indicator variables); the
// shared rules (wire sizes, memory sizes, descriptor-name table).
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "sqlruntime/cursor.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/requests.h"
#include "sqltypes/value_null.h"
#include "sqltypes/datetime.h"
#include "sqltypes/decimal_text.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Hex;
using sqli_test::SqliTest;

std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

// A connection record of the runtime's own, current for the test, so that
// the rules see its properties (float format 1, ANSI mode on demand).
class FakeConnection {
 public:
  explicit FakeConnection(bool ansi = false) {
    std::memset(&stream_, 0, sizeof stream_);
    std::memset(&conn_, 0, sizeof conn_);
    stream_.float_format = 1;
    conn_.stream = &stream_;
    conn_.props[1] = ansi ? 1 : 0;
    sqli_runtime_get()->current = &conn_;
  }
  ~FakeConnection() { sqli_runtime_get()->current = nullptr; }
  SqliConnection* get() { return &conn_; }

 private:
  SqliMessageStream stream_;
  SqliConnection conn_;
};

// A cursor holding one row of the given columns.
struct OneRow {
  std::vector<SqliColumnDesc> cols;
  std::string row;
  SqliCursor c{};
  OneRow(std::vector<std::pair<int, int>> types, const std::string& bytes) : row(bytes) {
    for (auto [t, w] : types) {
      SqliColumnDesc d{};
      d.type = static_cast<int16_t>(t);
      d.length = w;
      cols.push_back(d);
    }
    c.columns = cols.data();
    c.column_count = static_cast<int16_t>(cols.size());
    c.buffer = reinterpret_cast<unsigned char*>(row.data());
    c.buffer_size = static_cast<int32_t>(row.size());
    c.position = c.buffer;
  }
};

SqliValueItem Item(int type, int length, void* data, int16_t* ind = nullptr) {
  SqliValueItem it{};
  it.type = static_cast<int16_t>(type);
  it.length = length;
  it.data = static_cast<char*>(data);
  it.indicator = ind;
  it.ind_type = -1;
  return it;
}

struct Case {
  int host, hlen;
  std::string text, bind, stored;
  int ctype, clen;
};

std::vector<Case> PythonCases(int seed, int n) {
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {tevtest::SourceDir() + "/tests/sqlruntime/sqli_values.py", "gen", std::to_string(seed), std::to_string(n)},
      {{{"PATH", "/usr/bin:/bin"}}, "", "", 120});
  std::vector<Case> out;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    // The value text of DATETIME holds a blank: split from both ends.
    std::vector<std::string> f;
    std::istringstream ls(line);
    for (std::string w; ls >> w;) f.push_back(w);
    if (f.size() < 7) continue;
    Case c;
    c.host = std::stoi(f[0]);
    c.hlen = std::stoi(f[1]);
    size_t k = f.size();
    c.stored = Unhex(f[k - 1]);
    c.clen = std::stoi(f[k - 2]);
    c.ctype = std::stoi(f[k - 3]);
    c.bind = Unhex(f[k - 4]);
    for (size_t i = 2; i < k - 4; ++i) c.text += (i > 2 ? " " : "") + f[i];
    out.push_back(c);
  }
  return out;
}

// The host variable of a case, in memory as the program holds it.
struct HostVar {
  alignas(16) unsigned char bytes[128] = {};
  int length = 0;
};

HostVar MakeHost(const Case& k) {
  HostVar h;
  h.length = k.hlen;
  switch (k.host) {
    case 101: { int16_t v = static_cast<int16_t>(std::stoi(k.text)); std::memcpy(h.bytes, &v, 2); break; }
    case 102: case 110: { int32_t v = std::stoi(k.text); std::memcpy(h.bytes, &v, 4); break; }
    case 103: { int64_t v = std::stoll(k.text); std::memcpy(h.bytes, &v, 8); break; }
    case 104: {
      std::string b = Unhex(k.text);
      uint32_t u = 0;
      for (unsigned char ch : b) u = (u << 8) | ch;
      std::memcpy(h.bytes, &u, 4);
      break;
    }
    case 105: {
      std::string b = Unhex(k.text);
      uint64_t u = 0;
      for (unsigned char ch : b) u = (u << 8) | ch;
      std::memcpy(h.bytes, &u, 8);
      break;
    }
    case 107: case 111: {
      Decimal d{};
      EXPECT_EQ(deccvasc(k.text.c_str(), static_cast<int>(k.text.size()), &d), 0) << k.text;
      std::memcpy(h.bytes, &d, sizeof d);
      break;
    }
    case 100: case 109: case 114: {
      std::string s = Unhex(k.text);
      std::memcpy(h.bytes, s.data(), s.size());
      break;
    }
    case 108: {
      std::string s = Unhex(k.text);
      s.resize(static_cast<size_t>(k.hlen), ' ');
      std::memcpy(h.bytes, s.data(), s.size());
      break;
    }
    case 117: {
      long long v = std::stoll(k.text);
      Int8Value x{};
      unsigned long long m = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
      x.low = static_cast<uint32_t>(m);
      x.high = static_cast<uint32_t>(m >> 32);
      x.sign = v < 0 ? -1 : 1;
      std::memcpy(h.bytes, &x, sizeof x);
      break;
    }
    case 125: { int64_t v = std::stoll(k.text); std::memcpy(h.bytes, &v, 8); break; }
    case 112: {
      DateTimeValue dt{};
      dt.dt_qual = static_cast<int16_t>(k.hlen);
      EXPECT_EQ(dtcvasc(k.text.c_str(), &dt), 0) << k.text;
      std::memcpy(h.bytes, &dt, sizeof dt);
      break;
    }
  }
  return h;
}

// What a fetch into the same host type gives back: the host bytes, with
// CHAR texts blank-padded to the column.
std::string Expected(const Case& k, const HostVar& h) {
  size_t n = static_cast<size_t>(rtypmsize(k.host, k.hlen));
  if (k.host == 100) {
    std::string s = Unhex(k.text);
    s.resize(static_cast<size_t>(k.clen), ' ');
    s.push_back('\0');
    return s;
  }
  if (k.host == 114 || k.host == 109) return Unhex(k.text) + std::string(1, '\0');
  if (k.host == 108) {
    std::string s = Unhex(k.text);
    s.resize(static_cast<size_t>(k.hlen), ' ');
    return s;
  }
  if (k.host == 103) n = 8;
  if (k.host == 117) n = 10;  // the sign, low and high halves, not the padding
  if (k.host == 107 || k.host == 111 || k.host == 112) return "";
  return std::string(reinterpret_cast<const char*>(h.bytes), n);
}

class HostValuesTest : public SqliTest {};

TEST_F(HostValuesTest, PutStoresAndFetchesBackRandomValuesOfEveryType) {
  FakeConnection conn;
  std::vector<Case> cases = PythonCases(46, 1000);
  ASSERT_EQ(cases.size(), 15000u);
  int failures = 0;
  for (const Case& k : cases) {
    if (failures > 10) break;
    HostVar h = MakeHost(k);
    SqliValueItem in = Item(k.host, h.length, h.bytes);
    std::string row(k.stored.size(), '\x55');
    ASSERT_EQ(sqli_put_store(nullptr, &in, reinterpret_cast<unsigned char*>(row.data()), k.ctype, k.clen, 0, 0, 0),
              0)
        << k.host << " " << k.text;
    if (row != k.stored) {
      ++failures;
      ADD_FAILURE() << "store " << k.host << " " << k.text << ": " << Hex(row.data(), row.size()) << " wanted "
                    << Hex(k.stored.data(), k.stored.size());
      continue;
    }
    OneRow r({{k.ctype, k.clen}}, k.stored);
    HostVar out;
    int16_t ind = 7;
    SqliValueItem target = Item(k.host, h.length, out.bytes, &ind);
    ASSERT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), 0) << k.host << " " << k.text;
    EXPECT_EQ(ind, 0) << k.host << " " << k.text;
    std::string want = Expected(k, h);
    if (k.host == 107 || k.host == 111) {
      Decimal a, b;
      std::memcpy(&a, h.bytes, sizeof a);
      std::memcpy(&b, out.bytes, sizeof b);
      if (deccmp(&a, &b) != 0) {
        ++failures;
        ADD_FAILURE() << "fetch " << k.host << " " << k.text;
      }
    } else if (k.host == 112) {
      DateTimeValue a, b;
      std::memcpy(&a, h.bytes, sizeof a);
      std::memcpy(&b, out.bytes, sizeof b);
      if (a.dt_qual != b.dt_qual || deccmp(&a.dt_dec, &b.dt_dec) != 0) {
        ++failures;
        ADD_FAILURE() << "fetch " << k.host << " " << k.text;
      }
    } else if (std::string(reinterpret_cast<char*>(out.bytes), want.size()) != want) {
      ++failures;
      ADD_FAILURE() << "fetch " << k.host << " " << k.text << ": " << Hex(out.bytes, want.size());
    }
  }
}

TEST_F(HostValuesTest, CharColumnIntoShortAndLongTextTargets) {
  FakeConnection conn;
  struct Row { int len; std::string text; int16_t ind; bool warn; } table[] = {
      {11, std::string("abc") + std::string(7, ' '), 0, false},
      {5, "abc ", 10, true},
      {1, "", 10, true},
  };
  for (const Row& t : table) {
    sqli_sqlca_reset(sqli_runtime_get());
    OneRow r({{SQLCHAR, 10}}, "abc       ");
    char buf[16];
    std::memset(buf, 'Z', sizeof buf);
    int16_t ind = 99;
    SqliValueItem target = Item(100, t.len, buf, &ind);
    ASSERT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), 0);
    EXPECT_EQ(std::string(buf), t.text) << t.len;
    EXPECT_EQ(ind, t.ind) << t.len;
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn0 == 'W', t.warn) << t.len;
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn1 == 'W', t.warn) << t.len;
  }
}

TEST_F(HostValuesTest, StoredNullFormsFetchAsNull) {
  FakeConnection conn;
  struct Null { int ctype, clen; std::string stored; int host; } table[] = {
      {SQLCHAR, 4, std::string("\0   ", 4), 100},
      {SQLVCHAR, 10, std::string("\x01\0", 2) + std::string(9, '\0'), 114},
      {SQLSMINT, 2, std::string("\x80\0", 2), 101},
      {SQLINT, 4, std::string("\x80\0\0\0", 4), 102},
      {SQLFLOAT, 8, std::string(8, '\xff'), 105},
      {SQLSMFLOAT, 4, std::string(4, '\xff'), 104},
      {SQLBIGINT, 8, std::string("\x80\0\0\0\0\0\0\0", 8), 125},
      {SQLINT8, 10, std::string(10, '\0'), 117},
      {SQLDECIMAL, 0x1002, std::string(9, '\0'), 107},
  };
  for (const Null& t : table) {
    OneRow r({{t.ctype, t.clen}}, t.stored);
    alignas(16) char buf[64];
    std::memset(buf, 'Z', sizeof buf);
    int16_t ind = 99;
    SqliValueItem target = Item(t.host, t.host == 107 ? 0x1002 : 20, buf, &ind);
    EXPECT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), 0) << t.ctype;
    EXPECT_EQ(ind, -1) << t.ctype;
    EXPECT_EQ(risnull(t.host, buf), 1) << t.ctype;
    // Without an indicator a null needs one when asked (mode 0x4).
    OneRow r2({{t.ctype, t.clen}}, t.stored);
    SqliValueItem bare = Item(t.host, t.host == 107 ? 0x1002 : 20, buf);
    EXPECT_EQ(sqli_row_unpack(&r2.c, 1, &bare, nullptr, 0x4), -467) << t.ctype;
  }
}

TEST_F(HostValuesTest, IntegerIntoEightByteVariableIsSignExtended) {
  FakeConnection conn;
  OneRow r({{SQLINT, 4}}, std::string("\xff\xff\xff\xff", 4));
  int64_t v = 0x1234;
  SqliValueItem target = Item(103, 8, &v);
  ASSERT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), 0);
  EXPECT_EQ(static_cast<uint64_t>(v), 0xFFFFFFFFFFFFFFFFull);
}

TEST_F(HostValuesTest, TargetCountMismatchWarnsAndFailsUnderAnsi) {
  for (bool ansi : {false, true}) {
    FakeConnection conn(ansi);
    sqli_sqlca_reset(sqli_runtime_get());
    OneRow r({{SQLSMINT, 2}, {SQLSMINT, 2}}, std::string("\x00\x07\x00\x08", 4));
    int16_t a = 0;
    SqliValueItem target = Item(101, 2, &a);
    int32_t rc = sqli_row_unpack(&r.c, 1, &target, nullptr, 0);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn3, 'W');
    EXPECT_EQ(rc, ansi ? -485 : 0);
    if (ansi) {
      EXPECT_EQ(sqlca.sqlcode, -485);
    }
  }
}

TEST_F(HostValuesTest, IndicatorVariables) {
  // Read: each integer width, and a text indicator through a conversion.
  int16_t i2 = -1;
  int32_t i4 = 12;
  int64_t i8 = -5;
  EXPECT_EQ(sqli_ind_read(101, &i2, 2), -1);
  EXPECT_EQ(sqli_ind_read(102, &i4, 4), 12);
  EXPECT_EQ(sqli_ind_read(103, &i8, 8), -5);
  EXPECT_EQ(sqli_ind_read(100, "42", 3), 42);
  EXPECT_EQ(sqli_ind_read(101, &i2, 0), 0);
  // Write: a CHAR(2) indicator holds "-1" but not a cut length of 300.
  char text[3] = {};
  EXPECT_EQ(sqli_ind_write(-1, 100, text, 3), 0);
  EXPECT_STREQ(text, "-1");
  EXPECT_EQ(sqli_ind_write(300, 100, text, 3), -456);
  EXPECT_EQ(sqli_ind_write(70000, 101, &i2, 2), -456);
  EXPECT_EQ(sqli_ind_write(70000, 102, &i4, 4), 0);
  EXPECT_EQ(i4, 70000);
  // A fetched cut that the indicator variable cannot hold ends the row.
  FakeConnection conn;
  OneRow r({{SQLCHAR, 500}}, std::string(500, 'q'));
  char buf[8];
  char ind_text[2] = {};
  SqliValueItem target = Item(100, 8, buf);
  target.ind_type = 100;
  target.ind_length = 2;
  target.ind_data = ind_text;
  EXPECT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), -456);
  EXPECT_EQ(sqlca.sqlcode, -456);
}

TEST_F(HostValuesTest, PutNullFormsAndRefusals) {
  FakeConnection conn;
  int16_t neg = -1;
  char text[8] = "abc";
  unsigned char row[16];
  // A null CHAR: first byte 0, then blanks.
  SqliValueItem it = Item(100, 8, text, &neg);
  ASSERT_EQ(sqli_put_store(nullptr, &it, row, SQLCHAR, 4, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 4), "00202020");
  // A null VARCHAR: length 1, a zero byte, zeros to the column length.
  std::memset(row, 0x55, sizeof row);
  ASSERT_EQ(sqli_put_store(nullptr, &it, row, SQLVCHAR, 5, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 6), "010000000000");
  // Indicator 0 keeps an empty text; an INTEGER holding its null form is null.
  int16_t zero = 0;
  char empty[4] = "";
  SqliValueItem e = Item(100, 4, empty, &zero);
  ASSERT_EQ(sqli_put_store(nullptr, &e, row, SQLCHAR, 3, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 3), "202020");
  int32_t inull = INT32_MIN;
  SqliValueItem n = Item(102, 4, &inull, &zero);
  ASSERT_EQ(sqli_put_store(nullptr, &n, row, SQLINT, 4, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 4), "80000000");
  // A Decimal too wide for its column; one with a bad digit count.
  Decimal d{};
  ASSERT_EQ(deccvasc("123456.5", 8, &d), 0);
  SqliValueItem dv = Item(107, 0x0602, &d);
  EXPECT_EQ(sqli_put_store(nullptr, &dv, row, SQLDECIMAL, 0x0502, 0, 0, 0), -1);
  EXPECT_EQ(sqlca.sqlcode, -1226);
  d.ndigits = 17;
  EXPECT_EQ(sqli_put_store(nullptr, &dv, row, SQLDECIMAL, 0x1002, 0, 0, 0), -1);
  EXPECT_EQ(sqlca.sqlcode, -415);
  // An unknown host type; a 64-bit value that an INTEGER cannot hold.
  SqliValueItem bad = Item(99, 4, &inull);
  EXPECT_EQ(sqli_put_store(nullptr, &bad, row, SQLINT, 4, 0, 0, 0), -1);
  EXPECT_EQ(sqlca.sqlcode, -415);
  int64_t big = 5000000000LL;
  SqliValueItem b = Item(103, 8, &big);
  EXPECT_EQ(sqli_put_store(nullptr, &b, row, SQLINT, 4, 0, 0, 0), -1);
  // Host type 102 stored into a BIGINT column goes through a conversion.
  int32_t small = -3;
  SqliValueItem s = Item(102, 4, &small);
  ASSERT_EQ(sqli_put_store(nullptr, &s, row, SQLBIGINT, 8, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 8), "fffffffffffffffd");
}

TEST_F(HostValuesTest, WireAndMemorySizes) {
  struct W { int type, host_len, qual, size, word; } table[] = {
      {SQLCHAR, 30, 0, 30, 30},     {SQLSMINT, 0, 0, 2, 2},        {SQLINT, 0, 0, 4, 4},
      {SQLDATE, 0, 0, 4, 4},        {SQLFLOAT, 0, 0, 8, 8},        {SQLBIGINT, 0, 0, 8, 8},
      {SQLDECIMAL, 0x1004, 0, 18, 8447}, {SQLMONEY, 0, 0, 18, 8447}, {SQLDTIME, 0, 0x0E0A, 8, 0x0E0A},
      {SQLINTERVAL, 0, 0x0B23, 7, 0x0B23}, {SQLTEXT, 0, 0, 56, 56}, {SQLVCHAR, 40, 0, 41, 40},
      {SQLVCHAR, 300, 0, 256, 255}, {SQLINT8, 0, 0, 10, 10},      {SQLLVARCHAR, 0, 0, 0, 0},
      {SQLSET, 0, 0, 0, 0},
  };
  for (const W& w : table) {
    int32_t word = -9;
    EXPECT_EQ(sqli_wire_size(w.type, 0, 0, 0, w.qual, w.host_len, &word), w.size) << w.type;
    EXPECT_EQ(word, w.word) << w.type;
  }
  // Stored sizes of row columns.
  struct S { int type, word; std::string bytes; int size; } stored[] = {
      {SQLDECIMAL, 0x1004, "", 9}, {SQLMONEY, 0x0A02, "", 6},   {SQLDTIME, 0x0E0A, "", 8},
      {SQLVCHAR, 0x0528, "", 41},  {SQLCHAR, 20, "", 20},        {SQLINT8, 10, "", 10},
      {SQLLVARCHAR, 0, std::string("\0\0\0\0\3abc", 8), 8},  {SQLLVARCHAR, 0, std::string("\0\0\0", 3), -1},
      {SQLSET, 0, std::string("\0\0\0\2xy", 6), 6},        {SQLBOOL, 0, std::string("\0\xff\xff\xff\xff", 5), -1},
  };
  for (const S& s : stored) {
    EXPECT_EQ(sqli_stored_size(s.type, s.word, reinterpret_cast<const unsigned char*>(s.bytes.data()),
                               static_cast<int32_t>(s.bytes.size())),
              s.size)
        << s.type;
  }
  // A distinct DECIMAL(10,2) column over DECIMAL takes its source length.
  int32_t word = 0;
  EXPECT_EQ(sqli_wire_size(SQLDECIMAL, 1, SQLDECIMAL, 0x0A02, 0, 0, &word), 6);
  EXPECT_EQ(word, 0x0A02);
  EXPECT_EQ(sqli_host_msize(100, 21), 21);
  EXPECT_EQ(sqli_host_msize(107, 0), 22);
  EXPECT_EQ(sqli_host_msize(112, 0), 24);
}

TEST_F(HostValuesTest, DescriptorNameTable) {
  SqliDescriptor a{}, b{};
  std::string names[20];
  for (int i = 0; i < 20; ++i) {
    names[i] = "desc" + std::to_string(i);
    ASSERT_EQ(sqli_desc_table_add(names[i].c_str(), i % 2 ? &a : &b), 1);
  }
  names[3][0] = 'X';  // the table keeps its own copy of the name
  EXPECT_EQ(sqli_desc_table_find("desc3"), &a);
  EXPECT_EQ(sqli_desc_table_find("desc4"), &b);
  EXPECT_EQ(sqli_desc_table_remove("desc3"), &a);
  EXPECT_EQ(sqli_desc_table_find("desc3"), nullptr);
  EXPECT_EQ(sqli_desc_table_remove("desc3"), nullptr);
  for (int i = 0; i < 20; ++i) sqli_desc_table_remove(("desc" + std::to_string(i)).c_str());
  EXPECT_EQ(sqli_desc_table_find("desc4"), nullptr);
}

TEST_F(HostValuesTest, CheckFloatsAndInputDescription) {
  float f = std::numeric_limits<float>::infinity();
  double d = std::numeric_limits<double>::quiet_NaN();
  SqliValueItem items[2] = {Item(105, 8, &d), Item(104, 4, &f)};
  EXPECT_EQ(sqli_check_floats(2, items, nullptr), -1223);
  EXPECT_EQ(sqli_check_floats(1, items + 1, nullptr), -1222);
  d = 1.5;
  int16_t neg = -1;
  items[1].indicator = &neg;  // a null value is not looked at
  EXPECT_EQ(sqli_check_floats(2, items, nullptr), 0);

  SqliCursor c{};
  SqliValueItem coll = Item(118, 0, nullptr);
  coll.type = static_cast<int16_t>(118 | 0x8000);
  c.inputs = &coll;
  c.input_count = 1;
  EXPECT_EQ(sqli_check_input_desc(&c, nullptr), 1);
  coll.type = 118;
  EXPECT_EQ(sqli_check_input_desc(&c, nullptr), -1);
  EXPECT_EQ(sqlca.sqlcode, -1817);
  SqliValueItem row = Item(123, 0, nullptr);
  SqliDescriptor desc{1, &row, nullptr, 1};
  c.flags = SQLI_CF_DYNAMIC;
  EXPECT_EQ(sqli_check_input_desc(&c, &desc), 1);
  desc.count = 0;
  EXPECT_EQ(sqli_check_input_desc(&c, &desc), -1);
}

// The variable form: null flag byte, 32-bit big-endian length, the bytes.
std::string VarForm(const std::string& bytes, bool null = false) {
  std::string out(1, null ? '\x01' : '\0');
  uint32_t n = static_cast<uint32_t>(bytes.size());
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  return out + bytes;
}

TEST_F(HostValuesTest, VariableFormsAndTheirTargets) {
  FakeConnection conn;
  // LVARCHAR into a NUL-terminated target: cut with the indicator set.
  {
    OneRow r({{SQLLVARCHAR, 0}}, VarForm("hello world"));
    char buf[6];
    int16_t ind = 0;
    SqliValueItem target = Item(119, 6, buf, &ind);
    ASSERT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), 0);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(ind, 11);
  }
  // Into a var holder of type 124 that the runtime owns: grown to fit.
  {
    OneRow r({{SQLLVARCHAR, 0}, {SQLLVARCHAR, 0}}, VarForm("hello world") + VarForm("", true));
    SqliVarValue a{SQLI_VV_OWNED, 0, 0, nullptr}, b{SQLI_VV_OWNED, 0, 0, nullptr};
    int16_t ia = 5, ib = 5;
    SqliValueItem targets[2] = {Item(124, 0, &a, &ia), Item(124, 0, &b, &ib)};
    ASSERT_EQ(sqli_row_unpack(&r.c, 2, targets, nullptr, 0), 0);
    ASSERT_NE(a.data, nullptr);
    EXPECT_STREQ(a.data, "hello world");
    EXPECT_EQ(a.length, 12);
    EXPECT_EQ(ia, 0);
    EXPECT_NE(b.flags & SQLI_VV_NULL, 0);
    EXPECT_EQ(ib, -1);
    free(a.data);
    free(b.data);
    // A holder the program allocated too small is refused.
    OneRow r2({{SQLLVARCHAR, 0}}, VarForm("hello world"));
    char small[4];
    SqliVarValue c{0, 0, 4, small};
    SqliValueItem t2 = Item(124, 0, &c);
    EXPECT_EQ(sqli_row_unpack(&r2.c, 1, &t2, nullptr, 0), -1821);
  }
  // BOOLEAN into a boolean byte; null as 0xFF.
  {
    OneRow r({{SQLBOOL, 0}, {SQLBOOL, 0}}, VarForm("\x01") + VarForm("", true));
    unsigned char a = 9, b = 9;
    int16_t ia = 0, ib = 0;
    SqliValueItem targets[2] = {Item(122, 1, &a, &ia), Item(122, 1, &b, &ib)};
    ASSERT_EQ(sqli_row_unpack(&r.c, 2, targets, nullptr, 0), 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0xFF);
    EXPECT_EQ(ib, -1);
  }
  // A fixed opaque value longer than its target.
  {
    OneRow r({{SQLUDTFIXED, 0}}, VarForm("12345678"));
    char buf[4];
    SqliValueItem target = Item(120, 4, buf);
    EXPECT_EQ(sqli_row_unpack(&r.c, 1, &target, nullptr, 0), -1821);
  }
  // PUT: LVARCHAR and BOOLEAN in the variable form.
  char text[8] = "abc";
  unsigned char row[32];
  SqliValueItem lv = Item(119, 8, text);
  ASSERT_EQ(sqli_put_store(nullptr, &lv, row, SQLLVARCHAR, 0, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 8), Hex(VarForm("abc").data(), 8));
  // Other built-in values into an LVARCHAR column go as their text.
  char ctext[8] = "abc";
  SqliValueItem ch = Item(100, 8, ctext);
  ASSERT_EQ(sqli_put_store(nullptr, &ch, row, SQLLVARCHAR, 0, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 8), Hex(VarForm("abc").data(), 8));
  int16_t seven = -7;
  SqliValueItem sm = Item(101, 2, &seven);
  ASSERT_EQ(sqli_put_store(nullptr, &sm, row, SQLLVARCHAR, 0, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 7), Hex(VarForm("-7").data(), 7));
  unsigned char yes = 1;
  SqliValueItem bo = Item(122, 1, &yes);
  ASSERT_EQ(sqli_put_store(nullptr, &bo, row, SQLBOOL, 0, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 6), "000000000101");
}

TEST_F(HostValuesTest, TargetsThatCannotTakeTheColumn) {
  FakeConnection conn;
  int16_t v = 0;
  // No data area.
  OneRow r({{SQLSMINT, 2}}, std::string("\0\1", 2));
  SqliValueItem none = Item(101, 2, nullptr);
  EXPECT_EQ(sqli_row_unpack(&r.c, 1, &none, nullptr, 0), -402);
  // A BYTE column into a number.
  OneRow b({{SQLBYTES, 56}}, std::string(56, '\0'));
  SqliValueItem num = Item(101, 2, &v);
  EXPECT_EQ(sqli_row_unpack(&b.c, 1, &num, nullptr, 0), -608);
  // A checked LVARCHAR item that the target's length does not match.
  OneRow l({{SQLLVARCHAR, 0}}, VarForm("abc"));
  SqliValueItem check = Item(SQLLVARCHAR, 10, nullptr);
  check.flags = SQLI_IF_CHECK;
  l.c.check_items = &check;
  l.c.check_count = 1;
  l.c.flags = SQLI_CF_CHECK_SENT;
  char buf[40];
  SqliValueItem target = Item(119, 30, buf);
  EXPECT_EQ(sqli_row_unpack(&l.c, 1, &target, nullptr, 0), -1820);
  target.length = 11;  // ten characters and the NUL
  EXPECT_EQ(sqli_row_unpack(&l.c, 1, &target, nullptr, 0), 0);
  EXPECT_STREQ(buf, "abc");
  // A row too short for its columns is reported, not read past.
  OneRow shortrow({{SQLCHAR, 10}}, "abc");
  SqliValueItem t3 = Item(100, 11, buf);
  EXPECT_EQ(sqli_row_unpack(&shortrow.c, 1, &t3, nullptr, 0), -403);
}

TEST_F(HostValuesTest, OtherTextTargetsAndConvertedNumbers) {
  FakeConnection conn;
  // Type 108 takes the column without a NUL; 109 with the blank-strings
  // option cuts trailing blanks, keeping one byte; without the option it
  // goes through the value conversion.
  {
    OneRow r({{SQLCHAR, 6}, {SQLCHAR, 6}, {SQLCHAR, 6}}, "ab    " "ab    " "      ");
    char fixed[6], trimmed[8], blank[8];
    SqliValueItem targets[3] = {Item(108, 6, fixed), Item(109, 8, trimmed), Item(109, 8, blank)};
    SqliRuntime* rt = sqli_runtime_get();
    rt->options |= SQLI_OPT_BLANKS_NOT_NULL;
    ASSERT_EQ(sqli_row_unpack(&r.c, 3, targets, nullptr, 0), 0);
    rt->options &= static_cast<uint16_t>(~SQLI_OPT_BLANKS_NOT_NULL);
    EXPECT_EQ(std::string(fixed, 6), "ab    ");
    EXPECT_STREQ(trimmed, "ab");
    EXPECT_STREQ(blank, " ");
  }
  // A DECIMAL(16,4) column into a DECIMAL(5,1) variable: rounded by the
  // value conversion (1234.56 to 1234.6); a SMALLINT into a double.
  {
    Decimal d{};
    ASSERT_EQ(deccvasc("1234.56", 7, &d), 0);
    std::string stored(9, '\0');
    SqliValueItem in = Item(107, 0x1004, &d);
    ASSERT_EQ(sqli_put_store(nullptr, &in, reinterpret_cast<unsigned char*>(stored.data()), SQLDECIMAL, 0x1004,
                             0, 0, 0),
              0);
    OneRow r({{SQLDECIMAL, 0x1004}, {SQLSMINT, 2}}, stored + std::string("\xff\xfe", 2));
    Decimal out{};
    double x = 0;
    SqliValueItem targets[2] = {Item(107, 0x0501, &out), Item(105, 8, &x)};
    ASSERT_EQ(sqli_row_unpack(&r.c, 2, targets, nullptr, 0), 0);
    char text[32];
    ASSERT_EQ(dectoasc(&out, text, sizeof text - 1, -1), 0);
    text[sizeof text - 1] = 0;
    EXPECT_EQ(std::string(text).substr(0, 6), "1234.6");
    EXPECT_EQ(x, -2.0);
  }
}

TEST_F(HostValuesTest, TypeCheckSavesPutTypesAndChecksQualifiers) {
  FakeConnection conn;
  SqliCursor c{};
  char text[8] = "abc";
  DateTimeValue dt{};
  SqliValueItem items[2] = {Item(119, 8, text), Item(112, 0x0E0A, &dt)};
  int32_t nothing = -1;
  // The first PUT's kind: nothing written, the types kept (the LVARCHAR
  // marked variable) and the qualifier checked.
  ASSERT_EQ(sqli_req_type_check(&c, 2, items, 0x1A, &nothing, sqli_runtime_get()), 0);
  ASSERT_EQ(c.check_count, 2);
  EXPECT_EQ(c.check_items[0].type, SQLLVARCHAR);
  EXPECT_EQ(c.check_items[0].length, 7);
  EXPECT_EQ(c.check_items[0].ind_type, 1);
  EXPECT_EQ(c.check_items[1].type, SQLDTIME);
  EXPECT_EQ(c.check_items[1].length, 0x0E0A);
  // A check of PUT values leaves the rows' described layout alone.
  EXPECT_EQ(c.variable_columns, 0);
  // A qualifier that is none.
  items[1].length = 0x0E0F;
  EXPECT_EQ(sqli_req_type_check(&c, 2, items, 0x1A, &nothing, sqli_runtime_get()), -1268);
  c.check_items = sqli_item_array_make(c.check_items, c.check_count, 0);
  c.check_count = 0;
  // No items: nothing to send.
  EXPECT_EQ(sqli_req_type_check(&c, 0, nullptr, 0x1D, &nothing, sqli_runtime_get()), 0);
  EXPECT_EQ(nothing, 1);
}

TEST_F(HostValuesTest, DamagedRowsAreReportedNeverReadPast) {
  FakeConnection conn;
  // Random bytes as rows of random columns, each fetched into a host
  // variable of a fitting or unfitting type: a result, never a crash.
  struct Col { int type, word, host, hlen; } kinds[] = {
      {SQLCHAR, 12, 100, 8},     {SQLVCHAR, 10, 114, 11},  {SQLSMINT, 2, 101, 2},  {SQLINT, 4, 103, 8},
      {SQLFLOAT, 8, 105, 8},     {SQLDECIMAL, 0x1004, 107, 0x0802}, {SQLDTIME, 0x0E0A, 100, 30},
      {SQLLVARCHAR, 0, 119, 16}, {SQLUDTFIXED, 0, 120, 4}, {SQLBOOL, 0, 122, 1},   {SQLINT8, 10, 117, 12},
      {SQLBIGINT, 8, 100, 30},   {SQLMONEY, 0x0A02, 105, 8},
  };
  std::mt19937 rng(46);
  for (int round = 0; round < 400; ++round) {
    int ncols = 1 + static_cast<int>(rng() % 3);
    std::vector<std::pair<int, int>> types;
    std::vector<Col> picked;
    for (int i = 0; i < ncols; ++i) {
      picked.push_back(kinds[rng() % (sizeof kinds / sizeof kinds[0])]);
      types.push_back({picked.back().type, picked.back().word});
    }
    std::string bytes(rng() % 40, '\0');
    for (char& ch : bytes) ch = static_cast<char>(rng() & 0xFF);
    OneRow r(types, bytes);
    std::vector<std::vector<char>> areas;
    std::vector<SqliValueItem> targets;
    std::vector<int16_t> inds(static_cast<size_t>(ncols));
    for (int i = 0; i < ncols; ++i) {
      areas.emplace_back(64, 'Z');
      targets.push_back(Item(picked[static_cast<size_t>(i)].host, picked[static_cast<size_t>(i)].hlen,
                             areas.back().data(), &inds[static_cast<size_t>(i)]));
    }
    int32_t rc = sqli_row_unpack(&r.c, ncols, targets.data(), nullptr, 0);
    EXPECT_LE(rc, 0);
  }
}

// What one column's move leaves behind: the result, the target's bytes,
// the indicator, the status and the truncation warnings.
struct Moved {
  int32_t rc, sqlcode;
  std::string bytes;
  int16_t ind;
  char warn0, warn1;
  bool operator==(const Moved&) const = default;
};

// Moves a one-column row by the straight moves, or by the general rules
// (a cursor marked as type-checked without check items takes the general
// moves and reads the columns in their own forms).
Moved MoveOne(int ctype, int clen, const std::string& stored, int host, int hlen, int mode, bool general,
              bool with_ind = true) {
  sqli_sqlca_reset(sqli_runtime_get());
  OneRow r({{ctype, clen}}, stored);
  if (general) r.c.flags |= SQLI_CF_CHECK_SENT;
  alignas(16) char buf[96];
  std::memset(buf, 'Z', sizeof buf);
  int16_t ind = 77;
  SqliValueItem target = Item(host, hlen, buf, with_ind ? &ind : nullptr);
  Moved m;
  m.rc = sqli_row_unpack(&r.c, 1, &target, nullptr, mode);
  m.sqlcode = sqlca.sqlcode;
  m.bytes.assign(buf, sizeof buf);
  m.ind = ind;
  m.warn0 = sqlca.sqlwarn.sqlwarn0;
  m.warn1 = sqlca.sqlwarn.sqlwarn1;
  return m;
}

std::string Be32Text(int32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (24 - 8 * i)) & 0xFF);
  return out;
}

TEST_F(HostValuesTest, StraightMovesGiveWhatTheGeneralRulesGive) {
  FakeConnection conn;
  struct Col { int ctype, clen; std::string stored; };
  const std::string varchar = std::string("\x0b") + "hello world" + std::string(29, '\0');
  const std::vector<Col> texts = {
      {SQLCHAR, 10, "abc       "},
      {SQLCHAR, 10, "abcdefghij"},
      {SQLNCHAR, 4, "ab  "},
      {SQLCHAR, 4, std::string("\0   ", 4)},  // null
      {SQLVCHAR, 40, varchar},
      {SQLNVCHAR, 40, varchar},
      {SQLVCHAR, 10, std::string("\x00", 1) + std::string(10, '\0')},         // empty
      {SQLVCHAR, 10, std::string("\x01\x00", 2) + std::string(9, '\0')},      // null
      {SQLVCHAR, 4, std::string("\x09", 1) + "abcd"},                          // length past the column
      {SQLVCHAR, 0, std::string("\x00", 1)},
      {SQLCHAR, 12, "abc"},                    // rows cut short
      {SQLVCHAR, 40, std::string("\x05", 1) + "ab"},
      {SQLCHAR, 0, ""},
  };
  // Host lengths around the column width: no room, one byte, cuts, exact
  // fits and padding; CHAR and NCHAR descriptor types as well as 100.
  const int hosts[] = {100, SQLCHAR, SQLNCHAR, 114, 109};
  for (const Col& col : texts) {
    for (int host : hosts) {
      for (int hlen : {0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 41, 60}) {
        for (int mode : {0, 0x2, 0x4}) {
          for (bool with_ind : {true, false}) {
            Moved fast = MoveOne(col.ctype, col.clen, col.stored, host, hlen, mode, false, with_ind);
            Moved slow = MoveOne(col.ctype, col.clen, col.stored, host, hlen, mode, true, with_ind);
            EXPECT_TRUE(fast == slow) << col.ctype << "/" << col.clen << " into " << host << "/" << hlen << " mode "
                                      << mode << " ind " << with_ind << ": rc " << fast.rc << " vs " << slow.rc
                                      << ", ind " << fast.ind << " vs " << slow.ind << ", "
                                      << Hex(fast.bytes.data(), 16) << " vs " << Hex(slow.bytes.data(), 16);
          }
        }
      }
    }
  }
  // INTEGER, SERIAL and DATE into 4- and 8-byte targets, the null form included.
  for (int ctype : {int{SQLINT}, int{SQLSERIAL}, int{SQLDATE}}) {
    for (int32_t v : {0, 1, -1, 45000, INT32_MAX, INT32_MIN, INT32_MIN + 1}) {
      for (int host : {102, 103, 110, 101, int{SQLINT}, int{SQLDATE}, int{SQLSERIAL}}) {
        for (int mode : {0, 0x4}) {
          // A length word other than 4, or a row cut short, is a damaged row.
          for (int clen : {4, 2, 8}) {
            std::string stored = Be32Text(v).substr(0, clen == 8 ? 3 : 4);
            Moved fast = MoveOne(ctype, clen, stored, host, host == 103 ? 8 : 4, mode, false, mode == 0);
            Moved slow = MoveOne(ctype, clen, stored, host, host == 103 ? 8 : 4, mode, true, mode == 0);
            EXPECT_TRUE(fast == slow) << ctype << "/" << clen << " " << v << " into " << host << " mode " << mode;
          }
        }
      }
    }
  }
}

TEST_F(HostValuesTest, StraightDecimalMovesGiveWhatTheGeneralRulesGive) {
  FakeConnection conn;
  // Random stored forms, valid or not (digit bytes past 99, zeros, the
  // null form, both signs), of DECIMAL and MONEY columns of several
  // precisions, into 107 and 111 of the column's length, of the size of
  // the decimal form, and of precisions that must fit the value.
  std::mt19937 rng(4646);
  const int words[] = {0x0A02, 0x1002, 0x1004, 0x0502, 0x2010, 0x0300, 0x2000, 0x1E00};
  const int hlens[] = {22, 0x0A02, 0x0502, 0x0302, 0x1004, 0x2000, 0x0100, 0, 7};
  int mismatches = 0;
  for (int round = 0; round < 4000 && mismatches < 10; ++round) {
    int w = words[rng() % (sizeof words / sizeof words[0])];
    int size = ((w & 1) + ((w >> 8) & 0xFF) + 3) / 2;
    std::string stored(static_cast<size_t>(size), '\0');
    int shape = static_cast<int>(rng() % 8);
    stored[0] = static_cast<char>(shape == 0 ? 0 : (rng() & 0xFF));
    for (int i = 1; i < size; ++i) {
      unsigned d = shape == 1 ? rng() % 256 : rng() % 100;
      if (shape >= 5 && rng() % 3 == 0) d = 0;  // leading, trailing and inner zero digits
      stored[static_cast<size_t>(i)] = static_cast<char>(d);
    }
    int ctype = rng() % 4 == 0 ? SQLMONEY : SQLDECIMAL;
    int host = rng() % 4 == 0 ? (ctype == SQLDECIMAL ? 111 : 107) : (ctype == SQLDECIMAL ? 107 : 111);
    int hlen = hlens[rng() % (sizeof hlens / sizeof hlens[0])];
    if (rng() % 4 == 0) hlen = w;
    Moved fast = MoveOne(ctype, w, stored, host, hlen, 0, false);
    Moved slow = MoveOne(ctype, w, stored, host, hlen, 0, true);
    if (!(fast == slow)) {
      ++mismatches;
      ADD_FAILURE() << ctype << "/" << std::hex << w << " " << Hex(stored.data(), stored.size()) << " into " << std::dec
                    << host << "/" << hlen << ": rc " << fast.rc << " vs " << slow.rc << ", "
                    << Hex(fast.bytes.data(), 22) << " vs " << Hex(slow.bytes.data(), 22);
    }
  }
}

}  // namespace
