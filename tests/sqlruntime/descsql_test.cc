// Dynamic SQL through system descriptors against the test server:
// DESCRIBE into an allocated descriptor, FETCH USING SQL DESCRIPTOR with
// GET DESCRIPTOR, and an INSERT fed by SET DESCRIPTOR and EXECUTE.
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

}  // namespace
