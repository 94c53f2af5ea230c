// Dynamic SQL through system descriptors against the test server:
// DESCRIBE into an allocated descriptor, FETCH USING SQL DESCRIPTOR with
// GET DESCRIPTOR, and an INSERT fed by SET DESCRIPTOR and EXECUTE.
#include <sstream>

#include "sqlruntime/descriptors.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

SqliDescField F(int16_t field, void* data, int16_t type, int32_t length) {
  SqliDescField f{};
  f.data = data;
  f.field = field;
  f.host_type = type;
  f.host_length = length;
  return f;
}

struct Fields {
  std::vector<SqliDescField> v;
  Fields(std::initializer_list<SqliDescField> l) : v(l) { v.push_back(F(0, nullptr, 0, 0)); }
  SqliDescField* get() { return v.data(); }
};

class DescSqlTest : public ExchangeTest {
 protected:
  void TearDown() override {
    for (const char* n : {"small", "dd", "din"}) sqli_desc_dealloc(n);
    ExchangeTest::TearDown();
  }
};

TEST_F(DescSqlTest, DescribeFetchAndGetThroughADescriptor) {
  Start("\"caps\": \"20\", \"tables\": {" + sqli_test::Table100(3) + "}");
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr) << sqlca.sqlcode;
  ASSERT_EQ(0, sqli_desc_alloc("small", 1));
  EXPECT_EQ(-479, sqli_describe_stmt(1, s, nullptr, "small"));
  ASSERT_EQ(0, sqli_desc_alloc("dd", 4));
  ASSERT_EQ(0, sqli_describe_stmt(1, s, nullptr, "dd")) << sqlca.sqlcode;
  int16_t count = 0;
  Fields cf{};
  cf.v[0] = F(0, &count, 101, 2);
  ASSERT_EQ(0, sqli_desc_get(0, "dd", -1, cf.get(), 0));
  EXPECT_EQ(2, count);
  int16_t t1 = -9, t2 = -9;
  int32_t l1 = 0, l2 = 0;
  char n1[8] = {}, n2[8] = {};
  Fields g1{F(SQLI_DF_TYPE, &t1, 101, 2), F(SQLI_DF_LENGTH, &l1, 102, 4), F(SQLI_DF_NAME, n1, 100, 8)};
  Fields g2{F(SQLI_DF_TYPE, &t2, 101, 2), F(SQLI_DF_LENGTH, &l2, 102, 4), F(SQLI_DF_NAME, n2, 100, 8)};
  ASSERT_EQ(0, sqli_desc_get(0, "dd", 1, g1.get(), 0));
  ASSERT_EQ(0, sqli_desc_get(0, "dd", 2, g2.get(), 0));
  EXPECT_EQ(SQLINT, t1 & 0xFF);
  EXPECT_EQ(4, l1);
  EXPECT_STREQ("a", n1);
  EXPECT_EQ(SQLCHAR, t2 & 0xFF);
  EXPECT_EQ(96, l2);
  EXPECT_STREQ("b", n2);

  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_decl_dynm(1, c, "c1", s, 0, 0));
  c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0)) << sqlca.sqlcode;
  SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
  for (int row = 1; row <= 3; ++row) {
    ASSERT_EQ(0, sqli_curs_fetch(1, c, nullptr, nullptr, "dd", &spec)) << sqlca.sqlcode;
    int32_t a = 0;
    int16_t ia = -5, ib = -5;
    char b[120] = {};
    Fields gd{F(SQLI_DF_INDICATOR, &ia, 101, 2), F(SQLI_DF_DATA, &a, 102, 4)};
    ASSERT_EQ(0, sqli_desc_get(0, "dd", 1, gd.get(), 0));
    Fields gb{F(SQLI_DF_DATA, b, 109, 120), F(SQLI_DF_INDICATOR, &ib, 101, 2)};
    ASSERT_EQ(0, sqli_desc_get(0, "dd", 2, gb.get(), 0));
    EXPECT_EQ(row, a);
    EXPECT_EQ(0, ia);
    EXPECT_EQ("row" + std::to_string(row), std::string(b));
  }
  EXPECT_EQ(100, sqli_curs_fetch(1, c, nullptr, nullptr, "dd", &spec));
  EXPECT_EQ(0, sqli_curs_close(1, c));
}

TEST_F(DescSqlTest, SetDescriptorFeedsAnInsert) {
  std::string store = sqli_test::Install().Path("descsql_store.json");
  Start("\"caps\": \"20\", \"store\": \"" + store + "\", \"tables\": {" + sqli_test::Table100(0) + "}");
  ASSERT_EQ(0, sqli_desc_alloc("din", 2));
  int16_t count = 2, ti = SQLINT, tc = SQLCHAR;
  int32_t a = 314, len = 96;
  char b[] = "set by descriptor";
  Fields cf{};
  cf.v[0] = F(0, &count, 101, 2);
  ASSERT_EQ(0, sqli_desc_set(0, "din", -1, cf.get(), 0));
  Fields s1{F(SQLI_DF_TYPE, &ti, 101, 2), F(SQLI_DF_DATA, &a, 102, 4)};
  Fields s2{F(SQLI_DF_TYPE, &tc, 101, 2), F(SQLI_DF_LENGTH, &len, 102, 4), F(SQLI_DF_DATA, b, 100, sizeof b)};
  ASSERT_EQ(0, sqli_desc_set(0, "din", 1, s1.get(), 0));
  ASSERT_EQ(0, sqli_desc_set(0, "din", 2, s2.get(), 0));
  SqliCursor* s = sqli_prep(1, "s1", "insert into t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(0, sqli_exec(1, s, nullptr, "din", nullptr, nullptr, nullptr, nullptr, 0)) << sqlca.sqlcode;
  std::string text = "set by descriptor";
  text.resize(96, ' ');
  std::string want = sqli_test::Int32Hex(314) + sqli_test::Hex(text.data(), text.size());
  std::string stored = tevtest::ReadFile(store);
  EXPECT_NE(std::string::npos, stored.find(want)) << stored;
}

// One column of every built-in type, its value and forms computed by
// descsql_types.py from the types' own rules.
struct TypeCase {
  std::string name;
  int type = 0, length = 0;
  std::string stored, null_stored;  // hex
  int host = 0, host_length = 0;
  std::string expect;               // hex the host variable begins with
  int set_host = 0;
  std::string set_data;             // hex
};

std::string Unhex(const std::string& h) {
  std::string out;
  if (h == "-") return out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<TypeCase> TypeCases() {
  auto r = tevtest::RunProgram(tevtest::Python(), {tevtest::SourceDir() + "/tests/sqlruntime/descsql_types.py"});
  EXPECT_EQ(0, r.exit_code) << r.err;
  std::vector<TypeCase> out;
  std::istringstream in(r.out);
  TypeCase c;
  while (in >> c.name >> c.type >> c.length >> c.stored >> c.null_stored >> c.host >> c.host_length >> c.expect >>
         c.set_host >> c.set_data) {
    if (c.stored == "-") c.stored.clear();
    out.push_back(c);
  }
  return out;
}

std::string Columns(const std::vector<TypeCase>& cases) {
  std::string cols;
  for (const TypeCase& c : cases) {
    std::string col = sqli_test::Col(c.name, c.type, c.length);
    const size_t size = c.stored.size() / 2;
    const bool variable = c.type == SQLLVARCHAR || c.type == SQLBOOL;
    if (!variable && size != static_cast<size_t>(c.length)) {
      col.insert(col.size() - 1, ", \"size\": " + std::to_string(size));
    }
    cols += (cols.empty() ? "" : ", ") + col;
  }
  return cols;
}

TEST_F(DescSqlTest, EveryBuiltInTypeThroughDescriptors) {
  const std::vector<TypeCase> cases = TypeCases();
  ASSERT_EQ(18u, cases.size());
  std::string row, nulls;
  for (const TypeCase& c : cases) {
    row += c.stored;
    nulls += c.null_stored;
  }
  const std::string cols = Columns(cases);
  std::string store = sqli_test::Install().Path("descsql_types_store.json");
  Start("\"caps\": \"20\", \"store\": \"" + store + "\", \"tables\": {\"t1\": {\"columns\": [" + cols +
        "], \"rows\": [\"" + row + "\", \"" + nulls + "\"]}, \"t2\": {\"columns\": [" + cols + "], \"rows\": []}}");
  const int n = static_cast<int>(cases.size());

  // DESCRIBE: one item per column with the column's type and length.
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr) << sqlca.sqlcode;
  ASSERT_EQ(0, sqli_desc_alloc("small", n - 1));
  EXPECT_EQ(-479, sqli_describe_stmt(1, s, nullptr, "small"));
  ASSERT_EQ(0, sqli_desc_alloc("dd", n));
  ASSERT_EQ(0, sqli_describe_stmt(1, s, nullptr, "dd")) << sqlca.sqlcode;
  int16_t count = 0;
  Fields cf{};
  cf.v[0] = F(0, &count, 101, 2);
  ASSERT_EQ(0, sqli_desc_get(0, "dd", -1, cf.get(), 0));
  EXPECT_EQ(n, count);
  for (int i = 0; i < n; ++i) {
    const TypeCase& c = cases[static_cast<size_t>(i)];
    int16_t type = -9;
    int32_t length = -9;
    char name[32] = {};
    Fields g{F(SQLI_DF_TYPE, &type, 101, 2), F(SQLI_DF_LENGTH, &length, 102, 4), F(SQLI_DF_NAME, name, 100, 32)};
    ASSERT_EQ(0, sqli_desc_get(0, "dd", i + 1, g.get(), 0)) << c.name;
    EXPECT_EQ(c.type, type & 0xFF) << c.name;
    EXPECT_EQ(c.length, length) << c.name;
    EXPECT_EQ(c.name, std::string(name));
  }

  // FETCH USING SQL DESCRIPTOR, then GET DESCRIPTOR of each value.
  SqliCursor* k = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_decl_dynm(1, k, "c1", s, 0, 0));
  k = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_open(1, k, nullptr, nullptr, nullptr, 1, 0)) << sqlca.sqlcode;
  SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
  ASSERT_EQ(0, sqli_curs_fetch(1, k, nullptr, nullptr, "dd", &spec)) << sqlca.sqlcode;
  for (int i = 0; i < n; ++i) {
    const TypeCase& c = cases[static_cast<size_t>(i)];
    std::string buf(static_cast<size_t>(c.host_length) + 8, '\x7e');
    int16_t ind = -5;
    Fields g{F(SQLI_DF_INDICATOR, &ind, 101, 2), F(SQLI_DF_DATA, buf.data(), static_cast<int16_t>(c.host), c.host_length)};
    ASSERT_EQ(0, sqli_desc_get(0, "dd", i + 1, g.get(), 0)) << c.name << " " << sqlca.sqlcode;
    EXPECT_EQ(0, ind) << c.name;
    const std::string want = Unhex(c.expect);
    EXPECT_EQ(sqli_test::Hex(want.data(), want.size()), sqli_test::Hex(buf.data(), want.size())) << c.name;
  }
  ASSERT_EQ(0, sqli_curs_fetch(1, k, nullptr, nullptr, "dd", &spec)) << sqlca.sqlcode;
  for (int i = 0; i < n; ++i) {
    int16_t ind = 0;
    Fields g{F(SQLI_DF_INDICATOR, &ind, 101, 2)};
    ASSERT_EQ(0, sqli_desc_get(0, "dd", i + 1, g.get(), 0));
    EXPECT_EQ(-1, ind) << cases[static_cast<size_t>(i)].name;
  }
  EXPECT_EQ(100, sqli_curs_fetch(1, k, nullptr, nullptr, "dd", &spec));
  EXPECT_EQ(0, sqli_curs_close(1, k));

  // SET DESCRIPTOR feeds an INSERT: the server stores the row as it would
  // be stored from a literal, and a row of nulls after it.
  ASSERT_EQ(0, sqli_desc_alloc("din", n));
  count = static_cast<int16_t>(n);
  ASSERT_EQ(0, sqli_desc_set(0, "din", -1, cf.get(), 0));
  std::vector<std::string> data;
  for (const TypeCase& c : cases) data.push_back(Unhex(c.set_data));
  for (int i = 0; i < n; ++i) {
    const TypeCase& c = cases[static_cast<size_t>(i)];
    int16_t type = static_cast<int16_t>(c.type);
    int32_t length = c.length;
    std::string& d = data[static_cast<size_t>(i)];
    Fields f{F(SQLI_DF_TYPE, &type, 101, 2), F(SQLI_DF_LENGTH, &length, 102, 4),
             F(SQLI_DF_DATA, d.data(), static_cast<int16_t>(c.set_host), static_cast<int32_t>(d.size()))};
    ASSERT_EQ(0, sqli_desc_set(0, "din", i + 1, f.get(), 0)) << c.name << " " << sqlca.sqlcode;
  }
  SqliCursor* ins = sqli_prep(1, "s2", "insert into t2", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(ins, nullptr);
  ASSERT_EQ(0, sqli_exec(1, ins, nullptr, "din", nullptr, nullptr, nullptr, nullptr, 0)) << sqlca.sqlcode;
  for (int i = 0; i < n; ++i) {
    int16_t minus1 = -1;
    Fields f{F(SQLI_DF_INDICATOR, &minus1, 101, 2)};
    ASSERT_EQ(0, sqli_desc_set(0, "din", i + 1, f.get(), 0));
  }
  ASSERT_EQ(0, sqli_exec(1, ins, nullptr, "din", nullptr, nullptr, nullptr, nullptr, 0)) << sqlca.sqlcode;
  const std::string stored = tevtest::ReadFile(store);
  const size_t t2 = stored.find("\"t2\"");
  ASSERT_NE(std::string::npos, t2) << stored;
  EXPECT_NE(std::string::npos, stored.find("\"rows\": [\"" + row + "\", \"" + nulls + "\"]", t2)) << stored.substr(t2);
}

}  // namespace
