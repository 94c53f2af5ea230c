// Collection values sent whole to the test server: a SET of ROW values
// bound into an INSERT reaches it in the complex form that it checks on
// its own (names 128 bytes wide with long identifiers, else 18), it keeps
// the value as received, and a SELECT brings it back element by element.
#include <deque>

#include "sqlruntime/collections.h"
#include "sqlruntime/execute.h"
#include "tests/sqlruntime/coll_fixture.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using namespace coll_test;
using sqli_test::ExchangeTest;

struct Elem {
  int32_t a;
  std::string name;
  bool operator==(const Elem& o) const { return a == o.a && name == o.name; }
};

class CollSendTest : public ExchangeTest {
 protected:
  void TearDown() override {
    for (SqliCollection*& c : made_) zel_cl_dealloc(&c);
    ExchangeTest::TearDown();
  }
  void StartWith(const std::string& caps) {
    store_ = sqli_test::Install().Path("collsend_" + caps + ".json");
    Start("\"caps\": \"" + caps + "\", \"store\": \"" + store_ +
          "\", \"tables\": {\"t5\": {\"columns\": [{\"name\": \"s\", \"type\": 19, \"length\": 4}], \"rows\": []}}");
  }
  // A SET of ROW(a INTEGER, <field> VARCHAR(30)) holding the elements.
  SqliCollection* SetOfRows(const char* field, const std::vector<Elem>& elems) {
    SqliCollection* c = Make({{0, SQLSET, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "a"},
                              {2, SQLVCHAR, 30, field}});
    made_.push_back(c);
    for (const Elem& e : elems) {
      ints_.push_back(e.a);
      texts_.push_back(e.name);
      EXPECT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(nullptr, SQLROW, 1, 1), V(&ints_.back(), SQLINT, 4), M(-4),
                                            V(texts_.back().data(), SQLCHAR, static_cast<int16_t>(texts_.back().size() + 1)),
                                            M(-1)}));
    }
    return c;
  }
  // The elements read back through a collection cursor, fields by name.
  std::vector<Elem> Elements(SqliCollection* c, const char* field) {
    std::vector<Elem> out;
    SqliValueItem var = Var(c);
    int32_t a = 0;
    char name[40] = {};
    int16_t ia = 0, in = 0;
    SqliValueItem outs[2]{};
    outs[0].type = 102; outs[0].length = 4; outs[0].data = reinterpret_cast<char*>(&a); outs[0].indicator = &ia;
    outs[1].type = 114; outs[1].length = 40; outs[1].data = name; outs[1].indicator = &in;
    outs[0].ind_type = outs[1].ind_type = -1;
    std::string names = NameList({"a", field});
    SqliCursor st = Record();
    EXPECT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 2, outs, nullptr, names.data(), SQLI_CK_SELECT, 0));
    EXPECT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
    while (sqli_coll_fetch(&st, 0, nullptr, nullptr) == 0) out.push_back({a, name});
    EXPECT_EQ(100, sqlca.sqlcode);
    sqli_coll_close(&st);
    sqli_coll_free(&st);
    return out;
  }
  std::vector<std::string> Complex() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("complex ", 0) == 0) out.push_back(l.substr(8));
    }
    return out;
  }
  std::vector<SqliCollection*> made_;
  std::deque<int32_t> ints_;
  std::deque<std::string> texts_;
  std::string store_;
};

const std::vector<Elem> kElems = {{1, "one"}, {22, "twenty-two"}, {-3, ""}, {40000, "forty thousand"}};

TEST_F(CollSendTest, SetOfRowsGoesInTheComplexFormAndComesBack) {
  for (const char* caps : {"0020", "00"}) {
    SCOPED_TRACE(caps);
    StartWith(caps);
    SqliCollection* c = SetOfRows("name", kElems);
    ASSERT_EQ(kElems, Elements(c, "name"));
    SqliCursor* s = sqli_prep(1, "s1", "insert into t5", nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(s, nullptr) << sqlca.sqlcode;
    SqliValueItem in = Var(c);
    SqliDescriptor one{1, &in, nullptr, 1};
    ASSERT_EQ(0, sqli_exec(1, s, &one, nullptr, nullptr, nullptr, nullptr, nullptr, 0)) << sqlca.sqlcode;
    std::vector<std::string> seen = Complex();
    ASSERT_EQ(1u, seen.size()) << server_->Log();
    const std::string width = std::string(caps) == "0020" ? "128" : "18";
    EXPECT_EQ(0u, seen[0].rfind("ok N=" + width + " F=4 len=" + std::to_string(c->cl_len), 0)) << seen[0];

    // The value as the server keeps it, fetched into a fresh variable.
    SqliCollection* back = nullptr;
    ASSERT_EQ(0, sqli_cl_alloc(0, &back, nullptr));
    made_.push_back(back);
    const char* text[] = {"select s from t5", nullptr};
    int16_t ind = 5;
    SqliValueItem out = Var(back);
    out.indicator = &ind;
    ASSERT_EQ(0, sqli_slct(1, 0, text, 0, nullptr, 1, &out, 0, nullptr, nullptr, 0)) << sqlca.sqlcode;
    EXPECT_EQ(0, ind);
    EXPECT_EQ(static_cast<int32_t>(kElems.size()), zel_cl_card(back, nullptr));
    EXPECT_EQ(kElems, Elements(back, "name"));
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(CollSendTest, LongFieldNamesNeedLongIdentifiers) {
  const char* longname = "a_field_name_of_24_bytes";
  StartWith("00");
  SqliCollection* c = SetOfRows(longname, kElems);
  SqliCursor* s = sqli_prep(1, "s1", "insert into t5", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  SqliValueItem in = Var(c);
  SqliDescriptor one{1, &in, nullptr, 1};
  EXPECT_EQ(-253, sqli_exec(1, s, &one, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(Complex().empty());
  for (const std::string& l : server_->Lines()) EXPECT_EQ(std::string::npos, l.find("bind")) << l;
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  // A server with long identifiers takes it.
  StartWith("0020");
  s = sqli_prep(1, "s1", "insert into t5", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(0, sqli_exec(1, s, &one, nullptr, nullptr, nullptr, nullptr, nullptr, 0)) << sqlca.sqlcode;
  ASSERT_EQ(1u, Complex().size());
  EXPECT_EQ(0u, Complex()[0].rfind("ok N=128", 0));
}

}  // namespace
