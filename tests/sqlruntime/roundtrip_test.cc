// Values on their way to the server and back: rows PUT through an insert
// cursor (each value in its natural host type) reach the python3 test
// server's table in their stored form, and fetched back into every host
// type of the same SQL type they come back equal to the literal they were
// made from. Large values (TEXT, BYTE) travel from a memory locator and a
// file and come back into both kinds of target.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sqlruntime/blobs.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/insert_cursor.h"
#include "sqltypes/datetime.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/int8.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

// One host variable's memory, large enough for every fixed host type.
struct Var {
  alignas(8) char bytes[80];
  int16_t ind = 0;
};

bool TextHost(int host) { return host == 100 || host == 108 || host == 109 || host == 114; }

// The host value of a literal (the test's own parsing: C library calls for
// numbers, the data-type parsers for decimals, datetimes and intervals).
void Make(int host, int length, const char* lit, Var* v) {
  std::memset(v->bytes, 0, sizeof v->bytes);
  switch (host) {
    case 100: case 109: case 114: std::snprintf(v->bytes, sizeof v->bytes, "%s", lit); break;
    case 108: {
      std::memset(v->bytes, ' ', static_cast<size_t>(length));
      std::memcpy(v->bytes, lit, std::strlen(lit));
      break;
    }
    case 101: { int16_t x = static_cast<int16_t>(std::strtol(lit, nullptr, 10)); std::memcpy(v->bytes, &x, 2); break; }
    case 102: case 110: { int32_t x = static_cast<int32_t>(std::strtol(lit, nullptr, 10)); std::memcpy(v->bytes, &x, 4); break; }
    case 103: case 125: { int64_t x = std::strtoll(lit, nullptr, 10); std::memcpy(v->bytes, &x, 8); break; }
    case 104: { float x = std::strtof(lit, nullptr); std::memcpy(v->bytes, &x, 4); break; }
    case 105: { double x = std::strtod(lit, nullptr); std::memcpy(v->bytes, &x, 8); break; }
    case 107: case 111: {
      Decimal d;
      ASSERT_EQ(deccvasc(lit, static_cast<int>(std::strlen(lit)), &d), 0) << lit;
      std::memcpy(v->bytes, &d, sizeof d);
      break;
    }
    case 112: {
      DateTimeValue dt{};
      dt.dt_qual = static_cast<int16_t>(length);
      ASSERT_EQ(dtcvasc(lit, &dt), 0) << lit;
      std::memcpy(v->bytes, &dt, sizeof dt);
      break;
    }
    case 115: {
      IntervalValue in{};
      in.in_qual = static_cast<int16_t>(length);
      ASSERT_EQ(incvasc(lit, &in), 0) << lit;
      std::memcpy(v->bytes, &in, sizeof in);
      break;
    }
    case 117: {
      Int8Value x{};
      ASSERT_EQ(zel_int8cvasc(lit, static_cast<int>(std::strlen(lit)), &x), 0) << lit;
      std::memcpy(v->bytes, &x, sizeof x);
      break;
    }
    default: FAIL() << "host type " << host;
  }
}

std::string TrimBlanks(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Whether a fetched host value equals the literal's host value.
bool Same(int host, int length, const Var& got, const char* lit) {
  Var want;
  Make(host, length, lit, &want);
  switch (host) {
    case 100: case 109: case 114: return TrimBlanks(got.bytes) == lit;
    case 108: return std::memcmp(got.bytes, want.bytes, static_cast<size_t>(length)) == 0;
    case 101: return std::memcmp(got.bytes, want.bytes, 2) == 0;
    case 102: case 110: case 104: return std::memcmp(got.bytes, want.bytes, 4) == 0;
    case 103: case 125: case 105: return std::memcmp(got.bytes, want.bytes, 8) == 0;
    case 107: case 111:
      return deccmp(reinterpret_cast<const Decimal*>(got.bytes), reinterpret_cast<const Decimal*>(want.bytes)) == 0;
    case 112: case 115: {
      // Qualifier, then the digits.
      int16_t q1, q2;
      std::memcpy(&q1, got.bytes, 2);
      std::memcpy(&q2, want.bytes, 2);
      const size_t at = offsetof(DateTimeValue, dt_dec);
      return q1 == q2 && deccmp(reinterpret_cast<const Decimal*>(got.bytes + at),
                                reinterpret_cast<const Decimal*>(want.bytes + at)) == 0;
    }
    case 117:
      return zel_int8cmp(reinterpret_cast<const Int8Value*>(got.bytes),
                         reinterpret_cast<const Int8Value*>(want.bytes)) == 0;
  }
  return false;
}

struct Target {
  int host;
  int length;
};

struct Case {
  const char* name;
  int sql_type;
  int length;  // the column's length word
  int size;    // its stored size in a row
  int put_host;
  std::vector<const char*> rows;  // nullptr: null
  std::vector<Target> targets;
};

// Column qualifiers: DATETIME YEAR TO SECOND, INTERVAL DAY TO SECOND.
const int kYearToSecond = TU_ENCODE(14, TU_YEAR, TU_SECOND);
const int kDayToSecond = TU_ENCODE(8, TU_DAY, TU_SECOND);

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"char", 0, 10, 10, 100, {"abc", "", "0123456789", "a b", nullptr}, {{100, 11}, {108, 10}, {109, 11}}},
      {"smallint", 1, 2, 2, 101, {"-32767", "32767", "0", "-1", nullptr}, {{101, 2}}},
      {"integer", 2, 4, 4, 102, {"-2147483647", "2147483647", "-1", "0", nullptr}, {{102, 4}, {103, 8}}},
      {"smallfloat", 4, 4, 4, 104, {"0.5", "-1.25", "3.40282347e+38", "1.17549435e-38", "1e-45", nullptr},
       {{104, 4}}},
      {"float", 3, 8, 8, 105,
       {"0.1", "-1e308", "1.7976931348623157e308", "4.9406564584124654e-324", "-0", nullptr},
       {{105, 8}}},
      {"decimal", 5, 0x1004, 9, 107, {"-123456789012.3456", "0.0001", "0", "999999999999.9999", nullptr},
       {{107, 0x1004}}},
      {"money", 8, 0x0A02, 6, 111, {"12345678.90", "-0.01", "0", nullptr}, {{111, 0x0A02}}},
      // Day numbers from Python's datetime: 0001-01-01, 1899-12-31,
      // 1900-03-01, 2026-12-11, 9999-12-31.
      {"date", 7, 4, 4, 110, {"-693594", "0", "60", "46366", "2958464", nullptr}, {{110, 4}}},
      {"datetime", 10, kYearToSecond, 8, 112,
       {"0001-01-01 00:00:00", "9999-12-31 23:59:59", "2026-12-11 10:20:30", nullptr},
       {{112, kYearToSecond}}},
      {"interval", 14, kDayToSecond, 6, 115, {"5 10:20:30", "-99 23:59:59", "0 00:00:00", nullptr},
       {{115, kDayToSecond}}},
      {"varchar", 13, 20, 21, 114, {"abc", "", "twenty characters!!!", " lead", nullptr}, {{114, 21}, {100, 21}}},
      {"int8", 17, 10, 10, 117, {"9223372036854775807", "-9223372036854775807", "0", "-1", nullptr}, {{117, 12}}},
      {"bigint", 52, 8, 8, 125, {"9223372036854775807", "-9223372036854775807", "0", "-1", nullptr},
       {{125, 8}}},
  };
  return cases;
}

class RoundTripTest : public ExchangeTest {
 protected:
  void StartTables() {
    std::string tables;
    for (const Case& k : Cases()) {
      if (!tables.empty()) tables += ", ";
      tables += "\"t_" + std::string(k.name) + "\": {\"columns\": [{\"name\": \"v\", \"type\": " +
                std::to_string(k.sql_type) + ", \"length\": " + std::to_string(k.length) + ", \"size\": " +
                std::to_string(k.size) + "}], \"rows\": []}";
    }
    Start("\"caps\": \"00\", \"tables\": {" + tables + "}");
  }
};

TEST_F(RoundTripTest, EveryTypeComesBackEqual) {
  StartTables();
  for (const Case& k : Cases()) {
    SCOPED_TRACE(k.name);
    const std::string table = "t_" + std::string(k.name);
    // PUT every row through one insert cursor; CLOSE sends them.
    const std::string ins = "i_" + std::string(k.name);
    SqliCursor* c = Declare(ins.c_str(), ("insert into " + table).c_str());
    ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
    ASSERT_EQ(c->row_size, k.size);
    for (const char* lit : k.rows) {
      Var v;
      SqliValueItem item{};
      item.type = static_cast<int16_t>(k.put_host);
      item.length = TextHost(k.put_host) ? (k.put_host == 108 ? k.length : 32) : k.length;
      item.data = v.bytes;
      item.indicator = &v.ind;
      item.ind_type = -1;
      if (lit != nullptr) Make(k.put_host, k.length, lit, &v);
      v.ind = lit != nullptr ? 0 : -1;
      SqliDescriptor d{1, &item, nullptr, 1};
      ASSERT_EQ(sqli_curs_put(1, c, &d, nullptr), 0) << (lit ? lit : "null") << " " << sqlca.sqlcode;
    }
    ASSERT_EQ(sqli_curs_close(1, c), 0) << sqlca.sqlcode;
    ASSERT_EQ(Puts().back().substr(0, 2), std::to_string(k.rows.size()) + " ");

    // Fetched into each matching host type.
    for (const Target& t : k.targets) {
      SCOPED_TRACE(t.host);
      Var v;
      SqliValueItem out{};
      out.type = static_cast<int16_t>(t.host);
      out.length = t.length;
      out.data = v.bytes;
      out.indicator = &v.ind;
      out.ind_type = -1;
      SqliItemList outs{1, &out};
      const std::string cur = "s_" + std::string(k.name) + std::to_string(t.host);
      SqliCursor* s = Declare(cur.c_str(), ("select * from " + table).c_str(), 0, nullptr, &outs);
      ASSERT_EQ(sqli_curs_open(1, s, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
      SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
      for (const char* lit : k.rows) {
        std::memset(v.bytes, 0x5A, sizeof v.bytes);
        // A DATETIME or INTERVAL target names the qualifier it wants.
        if (t.host == 112 || t.host == 115) {
          int16_t q = static_cast<int16_t>(t.length);
          std::memcpy(v.bytes, &q, 2);
        }
        v.ind = 99;
        ASSERT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
        if (lit == nullptr) {
          EXPECT_EQ(v.ind, -1);
          continue;
        }
        EXPECT_EQ(v.ind, 0) << lit;
        EXPECT_TRUE(Same(t.host, t.length, v, lit)) << lit << " came back as " << sqli_test::Hex(v.bytes, 24);
      }
      EXPECT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &spec), 100);
      ASSERT_EQ(sqli_curs_close(1, s), 0);
    }
  }
}

// Bytes of every value 0..255, so that no byte is lost or changed.
std::string AllBytes(size_t n, int seed) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((i * 31 + static_cast<size_t>(seed)) & 0xFF));
  return out;
}

std::string ValuesLogged(const sqli_test::Server& server) {
  std::string out;
  for (const std::string& l : server.Lines()) {
    if (l.rfind("value ", 0) == 0) out += l.substr(6) + "\n";
  }
  return out;
}

TEST_F(RoundTripTest, TextAndByteFromFilesAndLocatorsComeBackWhole) {
  Start("\"caps\": \"00\", \"tables\": {\"tb\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
        "{\"name\": \"x\", \"type\": 12, \"length\": 56}, {\"name\": \"y\", \"type\": 11, \"length\": 56}], "
        "\"rows\": []}}");
  const std::string dir = sqli_test::Install().Path("roundtrip_" + std::to_string(getpid()));
  mkdir(dir.c_str(), 0700);
  // Row 1: both values from files (host type 116); row 2: a TEXT value
  // from a file and a BYTE value from a memory locator (113); row 3: a
  // null TEXT and an empty BYTE value.
  const std::string text1 = "first text value\n" + std::string(2500, 't'), bytes1 = AllBytes(3001, 1);
  const std::string text2 = "second", bytes2 = AllBytes(1024, 7);
  const std::string tf1 = dir + "/t1", bf1 = dir + "/b1", tf2 = dir + "/t2", empty = dir + "/empty";
  tevtest::WriteFile(tf1, text1);
  tevtest::WriteFile(bf1, bytes1);
  tevtest::WriteFile(tf2, text2);
  tevtest::WriteFile(empty, "");

  SqliCursor* c = Declare("ib", "insert into tb");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
  int32_t a = 0;
  int16_t ind[3] = {0, 0, 0};
  std::string names[2];
  SqliLocator loc{};
  SqliValueItem items[3] = {};
  items[0].type = 102, items[0].length = 4, items[0].data = reinterpret_cast<char*>(&a);
  for (int i = 0; i < 3; ++i) items[i].indicator = &ind[i], items[i].ind_type = -1;
  SqliDescriptor d{3, items, nullptr, 3};
  auto file = [&](int i, const std::string& name) {
    names[i - 1] = name;
    items[i].type = 116;
    items[i].data = names[i - 1].data();
    items[i].length = static_cast<int32_t>(name.size());
    ind[i] = 0;
  };
  struct Sent {
    std::string x, y;  // the values, "" with null_x for a null one
    bool null_x;
  };
  std::vector<Sent> sent = {{text1, bytes1, false}, {text2, bytes2, false}, {"", "", true}};
  a = 1;
  file(1, tf1);
  file(2, bf1);
  ASSERT_EQ(sqli_curs_put(1, c, &d, nullptr), 0) << sqlca.sqlcode;
  EXPECT_EQ(LastCodes(), "4,17,41,39,39,39,39,39,39,39,39,12") << "the row and its values at once";
  a = 2;
  file(1, tf2);
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer = const_cast<char*>(bytes2.data());
  loc.buffer_size = loc.size = static_cast<int32_t>(bytes2.size());
  loc.type = 11;
  items[2].type = 113, items[2].data = reinterpret_cast<char*>(&loc), items[2].length = sizeof loc;
  ASSERT_EQ(sqli_curs_put(1, c, &d, nullptr), 0) << sqlca.sqlcode;
  a = 3;
  ind[1] = -1;
  file(2, empty);
  ASSERT_EQ(sqli_curs_put(1, c, &d, nullptr), 0) << sqlca.sqlcode;
  ind[1] = 0;
  ASSERT_EQ(sqli_curs_close(1, c), 0) << sqlca.sqlcode;
  // The server received every non-null value whole, in order.
  EXPECT_EQ(ValuesLogged(*server_), Hex(text1) + "\n" + Hex(bytes1) + "\n" + Hex(text2) + "\n" + Hex(bytes2) +
                                        "\n" + "\n");
  // The rows hold the descriptors: the third TEXT one says null.
  ASSERT_EQ(Puts().size(), 3u);
  EXPECT_EQ(Puts()[2].substr(2 + 8 + 76, 4), "0001") << Puts()[2];

  // Back into a memory locator (TEXT) and a file (BYTE), then the other
  // way round.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    SqliLocator mem{};
    mem.kind = SQLI_LOC_MEMORY;
    mem.buffer_size = -1;
    const std::string out_file = dir + "/out" + std::to_string(round);
    std::string out_name = out_file;
    SqliValueItem out[3] = {};
    int16_t oind[3] = {99, 99, 99};
    int32_t oa = 0;
    out[0].type = 102, out[0].length = 4, out[0].data = reinterpret_cast<char*>(&oa);
    const int mem_col = round == 0 ? 1 : 2, file_col = round == 0 ? 2 : 1;
    out[mem_col].type = 113, out[mem_col].data = reinterpret_cast<char*>(&mem), out[mem_col].length = sizeof mem;
    out[file_col].type = 116, out[file_col].data = out_name.data();
    out[file_col].length = static_cast<int32_t>(out_name.size());
    for (int i = 0; i < 3; ++i) out[i].indicator = &oind[i], out[i].ind_type = -1;
    SqliItemList outs{3, out};
    const std::string cur = "sb" + std::to_string(round);
    SqliCursor* s = Declare(cur.c_str(), "select * from tb", 0, nullptr, &outs);
    ASSERT_EQ(sqli_curs_open(1, s, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
    SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
    for (size_t r = 0; r < sent.size(); ++r) {
      SCOPED_TRACE(r);
      ASSERT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
      EXPECT_EQ(oa, static_cast<int32_t>(r + 1));
      const std::string& want_mem = mem_col == 1 ? sent[r].x : sent[r].y;
      const std::string& want_file = file_col == 1 ? sent[r].x : sent[r].y;
      const bool null_mem = mem_col == 1 && sent[r].null_x, null_file = file_col == 1 && sent[r].null_x;
      EXPECT_EQ(oind[mem_col], null_mem ? -1 : 0);
      EXPECT_EQ(oind[file_col], null_file ? -1 : 0);
      if (!null_mem) {
        EXPECT_EQ(Hex(std::string(mem.buffer == nullptr ? "" : mem.buffer, static_cast<size_t>(mem.size))),
                  Hex(want_mem));
      }
      if (!null_file) {
        EXPECT_EQ(Hex(tevtest::ReadFile(out_file)), Hex(want_file));
      }
    }
    EXPECT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &spec), 100);
    ASSERT_EQ(sqli_curs_close(1, s), 0);
    if (mem.memory_flags & 0x01) std::free(mem.buffer);
  }
}

}  // namespace
