// Bind values and the input type check on a real connection to the python3
// test server, whose log shows the request bytes: random values of every
// built-in host type against the wire forms Python builds
// (tests/sqlruntime/sqli_values.py), the null and indicator rules, decimals
// the server cannot take, floats sent as decimals, text caps, and the
// type-check request.
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/requests.h"
#include "sqltypes/datetime.h"
#include "sqltypes/decimal_text.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::H16;
using sqli_test::Hex;
using sqli_test::Server;
using sqli_test::SqliTest;

std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

SqliValueItem Item(int type, int length, void* data, int16_t* ind = nullptr) {
  SqliValueItem it{};
  it.type = static_cast<int16_t>(type);
  it.length = length;
  it.data = static_cast<char*>(data);
  it.indicator = ind;
  it.ind_type = -1;
  return it;
}

class BindTest : public SqliTest {
 protected:
  void SetUp() override {
    SqliTest::SetUp();
    server_ = std::make_unique<Server>("\"caps\": \"\", \"inject\": {\"999\": \"000c\"}");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
    s_ = sqli_runtime_get()->current->stream;
    s_->float_format = 1;
  }
  // Sends what write() puts after code 999 and gives those bytes as hex.
  template <typename F>
  std::string Exchange(F write) {
    sqli_msg_put_short(999, s_);
    write();
    sqli_msg_put_short(12, s_);
    EXPECT_EQ(sqli_msg_flush(s_), 0);
    EXPECT_EQ(sqli_msg_get_short(s_), 12);
    std::string r = server_->Requests().back();
    EXPECT_EQ(r.substr(0, 4), "03e7");
    EXPECT_EQ(r.substr(r.size() - 4), "000c");
    return r.substr(4, r.size() - 8);
  }
  std::string Bind(SqliValueItem it) {
    return Exchange([&] { sqli_bind_item(&it, s_); });
  }
  std::unique_ptr<Server> server_;
  SqliMessageStream* s_ = nullptr;
};

TEST_F(BindTest, RandomValuesOfEveryTypeMatchPythonWireForms) {
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(), {tevtest::SourceDir() + "/tests/sqlruntime/sqli_values.py", "gen", "5", "1000"},
      {{{"PATH", "/usr/bin:/bin"}}, "", "", 120});
  // One request per host type: the values in order.
  std::map<int, std::vector<std::pair<std::string, std::string>>> by_type;  // text, bind hex
  std::map<int, int> lengths;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream ls(line);
    for (std::string w; ls >> w;) f.push_back(w);
    if (f.size() < 7) continue;
    int host = std::stoi(f[0]);
    lengths[host] = std::stoi(f[1]);
    std::string text;
    for (size_t i = 2; i + 4 < f.size(); ++i) text += (i > 2 ? " " : "") + f[i];
    by_type[host].push_back({text, f[f.size() - 4]});
  }
  ASSERT_EQ(by_type.size(), 13u);
  for (auto& [host, values] : by_type) {
    ASSERT_EQ(values.size(), 1000u);
    std::vector<std::vector<unsigned char>> vars;
    std::string want;
    for (auto& [text, hex] : values) {
      std::vector<unsigned char> v(128);
      switch (host) {
        case 101: { int16_t x = static_cast<int16_t>(std::stoi(text)); std::memcpy(v.data(), &x, 2); break; }
        case 102: case 110: { int32_t x = std::stoi(text); std::memcpy(v.data(), &x, 4); break; }
        case 103: case 125: { int64_t x = std::stoll(text); std::memcpy(v.data(), &x, 8); break; }
        case 104: case 105: {
          std::string b = Unhex(text);
          uint64_t u = 0;
          for (unsigned char ch : b) u = (u << 8) | ch;
          if (host == 104) {
            uint32_t u4 = static_cast<uint32_t>(u);
            std::memcpy(v.data(), &u4, 4);
          } else {
            std::memcpy(v.data(), &u, 8);
          }
          break;
        }
        case 107: case 111: {
          Decimal d{};
          ASSERT_EQ(deccvasc(text.c_str(), static_cast<int>(text.size()), &d), 0);
          std::memcpy(v.data(), &d, sizeof d);
          break;
        }
        case 100: case 114: {
          std::string s = Unhex(text);
          std::memcpy(v.data(), s.data(), s.size());
          break;
        }
        case 117: {
          long long x = std::stoll(text);
          Int8Value i8{};
          unsigned long long m = x < 0 ? 0ULL - static_cast<unsigned long long>(x) : static_cast<unsigned long long>(x);
          i8.low = static_cast<uint32_t>(m);
          i8.high = static_cast<uint32_t>(m >> 32);
          i8.sign = x < 0 ? -1 : 1;
          std::memcpy(v.data(), &i8, sizeof i8);
          break;
        }
        case 112: {
          DateTimeValue dt{};
          dt.dt_qual = static_cast<int16_t>(lengths[host]);
          ASSERT_EQ(dtcvasc(text.c_str(), &dt), 0) << text;
          std::memcpy(v.data(), &dt, sizeof dt);
          break;
        }
      }
      vars.push_back(v);
      want += hex;
    }
    std::string got = Exchange([&] {
      for (auto& v : vars) {
        SqliValueItem it = Item(host, lengths[host], v.data());
        ASSERT_EQ(sqli_bind_item(&it, s_), 0) << host;
      }
    });
    if (got != want) {
      size_t at = 0;
      while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
      ADD_FAILURE() << "host type " << host << " differs at " << at / 2 << ": "
                    << got.substr(at > 20 ? at - 20 : 0, 60) << " wanted " << want.substr(at > 20 ? at - 20 : 0, 60);
    }
  }
}

TEST_F(BindTest, NullAndIndicatorRules) {
  int16_t v = -5;
  EXPECT_EQ(Bind(Item(101, 2, &v)), "000100000500fffb");
  int16_t neg = -1, zero = 0, pos = 3;
  int32_t i = 77;
  EXPECT_EQ(Bind(Item(102, 4, &i, &neg)), "0002ffff0000");
  // Indicator 0: an empty text stays a text; an INTEGER holding its null
  // form is null. Without an indicator the empty text is null too.
  char empty[4] = "";
  EXPECT_EQ(Bind(Item(100, 4, empty, &zero)), "000000000000" "0000");
  EXPECT_EQ(Bind(Item(100, 4, empty)), "0000ffff0000");
  int32_t inull = INT32_MIN;
  EXPECT_EQ(Bind(Item(102, 4, &inull, &zero)), "0002ffff0000");
  // A positive indicator means not null whatever the value.
  EXPECT_EQ(Bind(Item(102, 4, &inull, &pos)), "000200000a0080000000");
  // The indicator variable, read as a SMALLINT, when there is no pointer.
  SqliValueItem it = Item(102, 4, &i);
  char ind_text[3] = "-1";
  it.ind_type = 100;
  it.ind_length = 3;
  it.ind_data = ind_text;
  EXPECT_EQ(Bind(it), "0002ffff0000");
  // Text: host length cuts type 100, type 108 takes its length, 109 its string.
  char text[8] = "abcdef";
  EXPECT_EQ(Bind(Item(100, 3, text)), "000000000000" + sqli_test::Str("abc"));
  EXPECT_EQ(Bind(Item(108, 2, text)), "000000000000" + sqli_test::Str("ab"));
  EXPECT_EQ(Bind(Item(109, 2, text)), "000000000000" + sqli_test::Str("abcdef"));
}

TEST_F(BindTest, DecimalsOutOfRangeAndFloatsAsDecimals) {
  Decimal d{};
  ASSERT_EQ(deccvasc("1.5", 3, &d), 0);
  EXPECT_EQ(Bind(Item(107, 0x0502, &d)), "000500000502" "0003c1013200");
  d.ndigits = 17;  // no Decimal has that many digit bytes: the null decimal goes
  EXPECT_EQ(Bind(Item(107, 0x0502, &d)), "000500000502" "ffff");
  d.ndigits = -1;
  EXPECT_EQ(Bind(Item(111, 0x0502, &d)), "000800000502" "ffff");
  double f8 = 1.5;
  float f4 = -2.25f;
  EXPECT_EQ(Bind(Item(105, 8, &f8)), "000300000000" "3ff8000000000000");
  sqli_runtime_get()->current->props[3] = 1;
  EXPECT_EQ(Bind(Item(105, 8, &f8)), "000500000000" "0003c1013200");
  // -2.25: exponent 1, digits 2, 25, complemented to 97, 75.
  EXPECT_EQ(Bind(Item(104, 4, &f4)), "000500000000" "00033e614b00");
  sqli_runtime_get()->current->props[3] = 0;
}

TEST_F(BindTest, LongTextIsCappedAndRefusedUnderAnsi) {
  std::string big(40000, 'x');
  SqliValueItem it = Item(100, 40001, big.data());
  std::string got = Bind(it);
  EXPECT_EQ(got.substr(0, 16), "000000000000" + H16(32767));
  EXPECT_EQ(got.size(), 16 + 2 * 32768u);
  EXPECT_EQ(sqlca.sqlcode, 0);
  sqli_runtime_get()->current->props[1] = 1;
  int32_t rc = 0;
  got = Exchange([&] { rc = sqli_bind_item(&it, s_); });
  EXPECT_EQ(rc, -1279);
  EXPECT_EQ(sqlca.sqlcode, -1279);
  EXPECT_EQ(got.size(), 16 + 2 * 32768u);  // the request stays readable
  sqli_runtime_get()->current->props[1] = 0;
  // VARCHAR is not capped.
  SqliValueItem vc = Item(114, 40001, big.data());
  got = Bind(vc);
  EXPECT_EQ(got.substr(0, 16), "000d00000000" + H16(40000));
}

TEST_F(BindTest, BindRequestCountsLargeValuesAndRefusesBadFloats) {
  int16_t a = 1;
  SqliLocator loc{};
  loc.kind = 1;
  loc.type = SQLTEXT;
  loc.open_flags = 0x20;
  loc.indicator = 0;
  SqliValueItem items[2] = {Item(101, 2, &a), Item(113, 112, &loc)};
  SqliItemList list{2, items};
  SqliRuntime* rt = sqli_runtime_get();
  std::string got = Exchange([&] { ASSERT_EQ(sqli_req_bind(SQLI_REQ_BIND, &list, nullptr, rt), 0); });
  std::string desc(112, '0');
  desc.replace(76, 4, "0010");  // the in-memory mark at offset 38
  EXPECT_EQ(got, "0005" "0002" "000100000500" "0001" "000c00000000" + desc);
  EXPECT_EQ(rt->large_value_count, 1);
  double nan = std::numeric_limits<double>::quiet_NaN();
  SqliValueItem bad = Item(105, 8, &nan);
  SqliItemList one{1, &bad};
  EXPECT_EQ(sqli_req_bind(SQLI_REQ_BIND, &one, nullptr, rt), -1223);
  EXPECT_EQ(sqlca.sqlcode, -1223);
}

TEST_F(BindTest, TypeCheckSendsOnlyWhatIsNotBuiltIn) {
  SqliCursor c{};
  SqliColumnDesc cols[2] = {};
  cols[0].type = SQLINT;
  cols[0].length = 4;
  cols[1].type = SQLCHAR;
  cols[1].length = 10;
  c.columns = cols;
  c.column_count = 2;
  int32_t i = 0;
  char text[11] = "abc";
  SqliValueItem items[2] = {Item(102, 4, &i), Item(100, 11, text)};
  int32_t nothing = 0;
  EXPECT_EQ(sqli_req_type_check(&c, 2, items, 0x1D, &nothing, sqli_runtime_get()), 0);
  EXPECT_EQ(nothing, 1);
  // An LVARCHAR target: everything goes, the text length without its NUL.
  cols[1].type = SQLLVARCHAR;
  items[1].type = 119;
  std::string got = Exchange([&] {
    ASSERT_EQ(sqli_req_type_check(&c, 2, items, 0x1D, &nothing, sqli_runtime_get()), 0);
  });
  EXPECT_EQ(nothing, 0);
  EXPECT_EQ(got, "0064" "0001" "0002" "0002" "00000004" "002b" "0000" "0000" "0000000a");
  // Kind 0x08 kept the items, marked as checked.
  ASSERT_EQ(c.check_count, 2);
  EXPECT_EQ(c.check_items[1].type, SQLLVARCHAR);
  EXPECT_EQ(c.check_items[1].length, 10);
  EXPECT_NE(c.check_items[1].flags & SQLI_IF_CHECK, 0);
  EXPECT_EQ(c.check_items[1].ind_type, 1);
  EXPECT_EQ(c.variable_columns, 1);
  c.check_items = sqli_item_array_make(c.check_items, c.check_count, 0);
  // An item without a type.
  items[0].type = -1;
  EXPECT_EQ(sqli_req_type_check(&c, 2, items, 0x1D, &nothing, sqli_runtime_get()), -402);
}

}  // namespace
