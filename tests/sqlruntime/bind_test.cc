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

// A host variable of the type holding the value text Python wrote.
void Fill(int host, int length, const std::string& text, unsigned char* out) {
  switch (host) {
    case 101: { int16_t x = static_cast<int16_t>(std::stoi(text)); std::memcpy(out, &x, 2); break; }
    case 102: case 110: { int32_t x = std::stoi(text); std::memcpy(out, &x, 4); break; }
    case 103: case 125: { int64_t x = std::stoll(text); std::memcpy(out, &x, 8); break; }
    case 104: case 105: {
      std::string b = Unhex(text);
      uint64_t u = 0;
      for (unsigned char ch : b) u = (u << 8) | ch;
      if (host == 104) {
        uint32_t u4 = static_cast<uint32_t>(u);
        std::memcpy(out, &u4, 4);
      } else {
        std::memcpy(out, &u, 8);
      }
      break;
    }
    case 107: case 111: {
      Decimal d{};
      EXPECT_EQ(deccvasc(text.c_str(), static_cast<int>(text.size()), &d), 0);
      std::memcpy(out, &d, sizeof d);
      break;
    }
    case 100: case 109: case 114: {
      std::string s = Unhex(text);
      std::memcpy(out, s.data(), s.size());
      break;
    }
    case 108: {
      std::string s = Unhex(text);
      s.resize(static_cast<size_t>(length), ' ');
      std::memcpy(out, s.data(), s.size());
      break;
    }
    case 117: {
      long long x = std::stoll(text);
      Int8Value i8{};
      unsigned long long m = x < 0 ? 0ULL - static_cast<unsigned long long>(x) : static_cast<unsigned long long>(x);
      i8.low = static_cast<uint32_t>(m);
      i8.high = static_cast<uint32_t>(m >> 32);
      i8.sign = x < 0 ? -1 : 1;
      std::memcpy(out, &i8, sizeof i8);
      break;
    }
    case 112: {
      DateTimeValue dt{};
      dt.dt_qual = static_cast<int16_t>(length);
      EXPECT_EQ(dtcvasc(text.c_str(), &dt), 0) << text;
      std::memcpy(out, &dt, sizeof dt);
      break;
    }
  }
}

class BindTest : public SqliTest {
 protected:
  // Runs write() after code 999 on a connection to a fresh server that
  // reads `expected` bytes after the code: what the server read, as hex, or
  // "shorter" / "longer" when the request did not have that size.
  template <typename F>
  std::string Exchange(size_t expected, F write, bool ansi = false, bool as_decimals = false) {
    Server server("\"caps\": \"\", \"raw\": " + std::to_string(expected));
    EXPECT_TRUE(server.ready());
    EXPECT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
    SqliConnection* c = sqli_runtime_get()->current;
    if (c == nullptr) return "no connection";
    s_ = c->stream;
    s_->float_format = 1;
    c->props[1] = ansi ? 1 : 0;
    c->props[3] = as_decimals ? 1 : 0;
    sqli_sqlca_reset(sqli_runtime_get());
    sqli_msg_put_short(999, s_);
    write();
    code_ = sqlca.sqlcode;
    sqli_msg_put_short(12, s_);
    sqli_msg_flush(s_);
    std::string got;
    bool seen = false;
    for (int i = 0; i < 500 && !seen; ++i) {
      for (const std::string& l : server.Lines()) {
        if (l.rfind("request 03e7", 0) == 0) got = l.substr(12, l.size() - 16), seen = true;
        if (l.rfind("expected 12", 0) == 0) got = "longer", seen = true;
      }
      if (!seen) usleep(10000);
    }
    // A request of the expected size leaves the server ready for the exit.
    if (seen && got != "longer") sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
    server.Stop();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
    return seen ? got : "shorter";
  }
  // One host variable bound: what went, given the bytes expected.
  std::string Bind(SqliValueItem it, const std::string& want, bool ansi = false, bool as_decimals = false) {
    return Exchange(want.size() / 2, [&] { rc_ = sqli_bind_item(&it, s_); }, ansi, as_decimals);
  }
  // Several host variables bound in one request, each against its bytes.
  void ExpectBinds(std::vector<std::pair<SqliValueItem, std::string>> cases, bool as_decimals = false) {
    size_t total = 0;
    for (auto& k : cases) total += k.second.size() / 2;
    std::string got = Exchange(
        total, [&] {
          for (auto& k : cases) sqli_bind_item(&k.first, s_);
        },
        false, as_decimals);
    ASSERT_EQ(got.size(), total * 2) << got;
    size_t at = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(got.substr(at, cases[i].second.size()), cases[i].second) << "value " << i;
      at += cases[i].second.size();
    }
  }
  SqliMessageStream* s_ = nullptr;
  int32_t code_ = 0;
  int32_t rc_ = 0;
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
  ASSERT_EQ(by_type.size(), 15u);
  // Every value of every type in one request, then each type's run compared.
  std::vector<std::pair<int, std::vector<std::vector<unsigned char>>>> all;
  std::vector<std::string> wants;
  size_t total = 0;
  for (auto& [host, values] : by_type) {
    ASSERT_EQ(values.size(), 1000u);
    std::vector<std::vector<unsigned char>> vars;
    std::string want;
    for (auto& [text, hex] : values) {
      std::vector<unsigned char> v(128);
      Fill(host, lengths[host], text, v.data());
      vars.push_back(v);
      want += hex;
    }
    total += want.size() / 2;
    all.push_back({host, std::move(vars)});
    wants.push_back(want);
  }
  std::string got = Exchange(total, [&] {
    for (auto& [host, vars] : all) {
      for (auto& v : vars) {
        SqliValueItem it = Item(host, lengths[host], v.data());
        ASSERT_EQ(sqli_bind_item(&it, s_), 0) << host;
      }
    }
  });
  ASSERT_EQ(got.size(), total * 2) << got.substr(0, 100);
  size_t at = 0;
  for (size_t k = 0; k < all.size(); ++k) {
    const std::string& want = wants[k];
    std::string part = got.substr(at, want.size());
    at += want.size();
    if (part != want) {
      size_t i = 0;
      while (i < part.size() && part[i] == want[i]) ++i;
      ADD_FAILURE() << "host type " << all[k].first << " differs at " << i / 2 << ": "
                    << part.substr(i > 20 ? i - 20 : 0, 60) << " wanted " << want.substr(i > 20 ? i - 20 : 0, 60);
    }
  }
}

// The bytes one host variable binds to.
#define EXPECT_BIND(item, want, ...) EXPECT_EQ(Bind(item, want, ##__VA_ARGS__), want)

TEST_F(BindTest, NullAndIndicatorRules) {
  int16_t v = -5;
  int16_t neg = -1, zero = 0, pos = 3;
  int32_t i = 77;
  char empty[4] = "";
  int32_t inull = INT32_MIN;
  // The indicator variable, read as a SMALLINT, when there is no pointer.
  SqliValueItem by_variable = Item(102, 4, &i);
  char ind_text[3] = "-1";
  by_variable.ind_type = 100;
  by_variable.ind_length = 3;
  by_variable.ind_data = ind_text;
  char text[8] = "abcdef";
  ExpectBinds({
      {Item(101, 2, &v), "000100000500fffb"},
      {Item(102, 4, &i, &neg), "0002ffff0000"},
      // Indicator 0: an empty text stays a text; an INTEGER holding its
      // null form is null. Without an indicator the empty text is null.
      {Item(100, 4, empty, &zero), "000000000000" "0000"},
      {Item(100, 4, empty), "0000ffff0000"},
      {Item(102, 4, &inull, &zero), "0002ffff0000"},
      // A positive indicator means not null whatever the value.
      {Item(102, 4, &inull, &pos), "000200000a0080000000"},
      {by_variable, "0002ffff0000"},
      // The host length cuts type 100, type 108 takes its length, 109 its string.
      {Item(100, 3, text), "000000000000" + sqli_test::Str("abc")},
      {Item(108, 2, text), "000000000000" + sqli_test::Str("ab")},
      {Item(109, 2, text), "000000000000" + sqli_test::Str("abcdef")},
  });
}

TEST_F(BindTest, DecimalsOutOfRangeAndFloatsAsDecimals) {
  Decimal d{}, wide{}, negative{};
  ASSERT_EQ(deccvasc("1.5", 3, &d), 0);
  wide = d;
  wide.ndigits = 17;  // no Decimal has that many digit bytes: the null decimal goes
  negative = d;
  negative.ndigits = -1;
  double f8 = 1.5;
  float f4 = -2.25f;
  ExpectBinds({
      {Item(107, 0x0502, &d), "000500000502" "0003c1013200"},
      {Item(107, 0x0502, &wide), "000500000502" "ffff"},
      {Item(111, 0x0502, &negative), "000800000502" "ffff"},
      {Item(105, 8, &f8), "000300000000" "3ff8000000000000"},
      {Item(104, 4, &f4), "000400000000" "c0100000"},
  });
  // With the fourth database property: 1.5 as digits 1, 50; -2.25 as
  // exponent 1, digits 2, 25 complemented to 97, 75.
  ExpectBinds({
      {Item(105, 8, &f8), "000500000000" "0003c1013200"},
      {Item(104, 4, &f4), "000500000000" "00033e614b00"},
  }, true);
}

TEST_F(BindTest, LongTextIsCappedAndRefusedUnderAnsi) {
  std::string big(40000, 'x');
  std::string capped = "000000000000" + H16(32767) + Hex(big.data(), 32767) + "00";
  SqliValueItem it = Item(100, 40001, big.data());
  EXPECT_BIND(it, capped);
  EXPECT_EQ(rc_, 0);
  EXPECT_EQ(code_, 0);
  // Under ANSI mode the value still goes whole (the request stays readable)
  // and the error is set.
  EXPECT_BIND(it, capped, true);
  EXPECT_EQ(rc_, -1279);
  EXPECT_EQ(code_, -1279);
  // VARCHAR is not capped.
  EXPECT_BIND(Item(114, 40001, big.data()), "000d00000000" + H16(40000) + Hex(big.data(), 40000));
}

TEST_F(BindTest, BindRequestCountsLargeValuesAndRefusesBadFloats) {
  int16_t a = 1;
  SqliLocator loc{};
  loc.kind = 1;
  loc.type = SQLTEXT;
  loc.open_flags = 0x20;
  SqliValueItem items[2] = {Item(101, 2, &a), Item(113, 112, &loc)};
  SqliItemList list{2, items};
  SqliRuntime* rt = sqli_runtime_get();
  std::string desc(112, '0');
  desc.replace(76, 4, "0010");  // the in-memory mark at offset 38
  std::string want = "0005" "0002" "000100000500" "0001" "000c00000000" + desc;
  int32_t rc = -9;
  EXPECT_EQ(Exchange(want.size() / 2, [&] { rc = sqli_req_bind(SQLI_REQ_BIND, &list, nullptr, rt); }), want);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(rt->large_value_count, 1);
  // A null locator is no large value.
  loc.indicator = -1;
  want = "0005" "0002" "000100000500" "0001" "000cffff0000";
  EXPECT_EQ(Exchange(want.size() / 2, [&] { rc = sqli_req_bind(SQLI_REQ_BIND, &list, nullptr, rt); }), want);
  EXPECT_EQ(rt->large_value_count, 0);
  double nan = std::numeric_limits<double>::quiet_NaN();
  SqliValueItem bad = Item(105, 8, &nan);
  SqliItemList one{1, &bad};
  EXPECT_EQ(Exchange(0, [&] { rc = sqli_req_bind(SQLI_REQ_BIND, &one, nullptr, rt); }), "");
  EXPECT_EQ(rc, -1223);
  EXPECT_EQ(code_, -1223);
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
  // An LVARCHAR target: everything goes, its length without the NUL and
  // with empty type and owner names.
  cols[1].type = SQLLVARCHAR;
  items[1].type = 119;
  std::string want = "0064" "0001" "0002" "0002" "00000004" "002b" "0000" "0000" "0000000a";
  int32_t rc = -9;
  EXPECT_EQ(Exchange(want.size() / 2,
                     [&] { rc = sqli_req_type_check(&c, 2, items, 0x1D, &nothing, sqli_runtime_get()); }),
            want);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(nothing, 0);
  // Flag 0x08 kept the items, marked as checked.
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

TEST_F(BindTest, SqlValuesBindByTheirOwnTypes) {
  SqlValue i{}, f{}, b{}, n{}, c{};
  i.v_type = SQLINT;
  i.v.i4 = -2;
  f.v_type = SQLFLOAT;
  f.v.f8 = 1.5;
  // A fixed opaque value whose attribute word is 5 is a BOOLEAN.
  unsigned char yes = 1;
  b.v_type = SQLUDTFIXED;
  b.v_attr = 5;
  b.v.text.ptr = reinterpret_cast<char*>(&yes);
  b.v.text.len = 1;
  n.v_type = SQLDECIMAL;
  n.v_ind = -1;
  char text[] = "hi!";
  c.v_type = SQLCHAR;
  c.v.text.ptr = text;
  c.v.text.len = 3;
  std::string want = "000200000a00fffffffe" "000300000000" "3ff8000000000000" "002d00000000" "0000000101"
                     "00" "0005ffff0000" "000000000000" "0003" "68692100";
  int32_t rc = 0;
  EXPECT_EQ(Exchange(want.size() / 2, [&] {
              for (SqlValue* v : {&i, &f, &b, &n, &c}) rc |= sqli_bind_value(v, 0, s_);
            }),
            want);
  EXPECT_EQ(rc, 0);
  // Floats as decimals.
  want = "000500000000" "0003c1013200";
  EXPECT_EQ(Exchange(want.size() / 2, [&] { rc = sqli_bind_value(&f, 1, s_); }), want);
}

}  // namespace
