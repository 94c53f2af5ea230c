// LVARCHAR and variable opaque columns longer than any default buffer,
// fetched from the test server into a named descriptor after DESCRIBE, into
// var values of host type 121, and into a program-built description: each
// value must arrive whole, byte for byte.
#include <stdlib.h>

#include "sqlruntime/descriptors.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/hostvalues.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

// A 3000-byte text and 2500 bytes running through every byte value.
const std::string kText = [] {
  std::string s;
  for (int i = 0; i < 3000; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}();
const std::string kBytes = [] {
  std::string s;
  for (int i = 0; i < 2500; ++i) s += static_cast<char>(i * 7 % 256);
  return s;
}();

std::string VarColumn(const std::string& v) {
  return "00" + sqli_test::Int32Hex(static_cast<int>(v.size())) + sqli_test::Hex(v.data(), v.size());
}

// Table tl: LVARCHAR lv and a variable opaque op, one row.
std::string Table() {
  return "\"caps\": \"20\", \"tables\": {\"tl\": {\"columns\": [{\"name\": \"lv\", \"type\": 40, \"length\": 2048, "
         "\"xid\": 1, \"tname\": \"lvarchar\"}, {\"name\": \"op\", \"type\": 40, \"length\": 2048, \"xid\": 300, "
         "\"tname\": \"blobish\"}], \"rows\": [\"" +
         VarColumn(kText) + VarColumn(kBytes) + "\"]}}";
}

std::string VarBytes(SqliVarValue* v) {
  int32_t n = zel_var_getlen(&v);
  char* d = zel_var_getdata(&v);
  if (n <= 0 || d == nullptr) return "";
  return std::string(d, static_cast<size_t>(n));
}

class LvarFetchTest : public ExchangeTest {
 protected:
  void TearDown() override {
    zel_lvar_alloc(0);
    sqli_desc_dealloc("dl");
    ExchangeTest::TearDown();
  }
  SqliCursor* OpenDynamic() {
    SqliCursor* s = sqli_prep(1, "s1", "select * from tl", nullptr, nullptr, 0, 0, 0);
    EXPECT_NE(s, nullptr) << sqlca.sqlcode;
    SqliCursor* c = sqli_curs_locate(1, "c1", 0);
    EXPECT_EQ(0, sqli_curs_decl_dynm(1, c, "c1", s, 0, 0));
    c = sqli_curs_locate(1, "c1", 0);
    EXPECT_EQ(0, sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0)) << sqlca.sqlcode;
    return c;
  }
  SqliFetchSpec spec_{0, SQLI_FETCH_NEXT, 0};
};

TEST_F(LvarFetchTest, NamedDescriptorAfterDescribe) {
  Start(Table());
  SqliCursor* s = sqli_prep(1, "s1", "select * from tl", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr) << sqlca.sqlcode;
  ASSERT_EQ(0, sqli_desc_alloc("dl", 2));
  ASSERT_EQ(0, sqli_describe_stmt(1, s, nullptr, "dl")) << sqlca.sqlcode;
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_decl_dynm(1, c, "c1", s, 0, 0));
  c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(0, sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0)) << sqlca.sqlcode;
  ASSERT_EQ(0, zel_lvar_alloc(1));
  ASSERT_EQ(0, sqli_curs_fetch(1, c, nullptr, nullptr, "dl", &spec_)) << sqlca.sqlcode;
  SqliDescriptor* d = sqli_desc_table_find("dl");
  ASSERT_NE(d, nullptr);
  // The LVARCHAR item holds its text in a var value, NUL included in the length.
  SqliValueItem& lv = d->items[0];
  ASSERT_NE(lv.data, nullptr);
  std::string got = VarBytes(reinterpret_cast<SqliVarValue*>(lv.data));
  ASSERT_EQ(got.size(), kText.size() + 1);
  EXPECT_EQ(got.substr(0, kText.size()), kText);
  EXPECT_EQ(got.back(), '\0');
  // The opaque item holds its bytes in a var value.
  SqliValueItem& op = d->items[1];
  ASSERT_NE(op.data, nullptr);
  EXPECT_EQ(VarBytes(reinterpret_cast<SqliVarValue*>(op.data)), kBytes);
  EXPECT_EQ(100, sqli_curs_fetch(1, c, nullptr, nullptr, "dl", &spec_));
  EXPECT_EQ(0, sqli_curs_close(1, c));
}

TEST_F(LvarFetchTest, VarValueOutputsOfType121) {
  Start(Table());
  SqliCursor* c = OpenDynamic();
  ASSERT_EQ(0, zel_lvar_alloc(1));
  SqliVarValue* a = nullptr;
  SqliVarValue* b = nullptr;
  ASSERT_EQ(0, zel_var_init(&a));
  ASSERT_EQ(0, zel_var_init(&b));
  int16_t ia = 5, ib = 5;
  SqliValueItem out[2] = {};
  out[0].type = 121, out[0].data = reinterpret_cast<char*>(a), out[0].indicator = &ia, out[0].ind_type = -1;
  out[1].type = 121, out[1].data = reinterpret_cast<char*>(b), out[1].indicator = &ib, out[1].ind_type = -1;
  SqliDescriptor desc{2, out, nullptr, 2};
  ASSERT_EQ(0, sqli_curs_fetch(1, c, nullptr, &desc, nullptr, &spec_)) << sqlca.sqlcode;
  EXPECT_EQ(VarBytes(a), kText);
  EXPECT_EQ(VarBytes(b), kBytes);
  EXPECT_EQ(0, zel_var_isnull(&b));
  EXPECT_EQ(ia, 0);
  EXPECT_EQ(ib, 0);
  zel_var_dealloc(&a);
  zel_var_dealloc(&b);
  free(a);
  free(b);
  EXPECT_EQ(0, sqli_curs_close(1, c));
}

TEST_F(LvarFetchTest, ProgramOwnedVarValueTooSmallIsRefused) {
  // With the runtime's LVARCHAR allocation off, a var value whose area the
  // program owns is not grown: too small gives -1821, large enough takes
  // the bytes.
  Start(Table());
  SqliCursor* c = OpenDynamic();
  ASSERT_EQ(0, zel_lvar_alloc(0));
  static char small[100], big[4000];
  SqliVarValue a{0, 0, sizeof small, small};
  SqliVarValue b{0, 0, sizeof big, big};
  SqliValueItem out[2] = {};
  out[0].type = 121, out[0].data = reinterpret_cast<char*>(&a), out[0].ind_type = -1;
  out[1].type = 121, out[1].data = reinterpret_cast<char*>(&b), out[1].ind_type = -1;
  SqliDescriptor desc{2, out, nullptr, 2};
  EXPECT_EQ(-1821, sqli_curs_fetch(1, c, nullptr, &desc, nullptr, &spec_));
  EXPECT_EQ(a.data, small);
  EXPECT_EQ(0, sqli_curs_close(1, c));
  c = OpenDynamic();
  out[0].data = reinterpret_cast<char*>(&b);
  SqliVarValue b2{0, 0, sizeof big, nullptr};
  static char big2[4000];
  b2.data = big2;
  out[1].data = reinterpret_cast<char*>(&b2);
  ASSERT_EQ(0, sqli_curs_fetch(1, c, nullptr, &desc, nullptr, &spec_)) << sqlca.sqlcode;
  EXPECT_EQ(b.data, big);
  EXPECT_EQ(std::string(b.data, static_cast<size_t>(b.length)), kText);
  EXPECT_EQ(std::string(b2.data, static_cast<size_t>(b2.length)), kBytes);
  EXPECT_EQ(0, sqli_curs_close(1, c));
}

TEST_F(LvarFetchTest, ProgramBuiltDescriptionGetsTextNotVarValue) {
  // An LVARCHAR output without area in a description the program built (no
  // descriptor name): with the runtime's allocation on it receives a
  // NUL-terminated text buffer of the runtime's, never a var value.
  Start(Table());
  SqliCursor* c = OpenDynamic();
  ASSERT_EQ(0, zel_lvar_alloc(1));
  SqliVarValue* b = nullptr;
  ASSERT_EQ(0, zel_var_init(&b));
  SqliValueItem out[2] = {};
  out[0].type = SQLLVARCHAR, out[0].ind_type = -1;
  out[1].type = 121, out[1].data = reinterpret_cast<char*>(b), out[1].ind_type = -1;
  SqliDescriptor desc{2, out, nullptr, 2};
  ASSERT_EQ(0, sqli_curs_fetch(1, c, nullptr, &desc, nullptr, &spec_)) << sqlca.sqlcode;
  ASSERT_NE(out[0].data, nullptr);
  EXPECT_EQ(out[0].flags & SQLI_IF_LVAR_POINTER, 0);
  EXPECT_EQ(out[0].length, static_cast<int32_t>(kText.size()) + 1);
  EXPECT_EQ(std::string(out[0].data), kText);
  EXPECT_EQ(VarBytes(b), kBytes);
  free(out[0].data);
  zel_var_dealloc(&b);
  free(b);
  EXPECT_EQ(0, sqli_curs_close(1, c));
}

}  // namespace
