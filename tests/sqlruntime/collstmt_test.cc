// INSERT, UPDATE and DELETE on collection and row host variables, each
// change compared with a plain list model by reading the elements back.
#include <algorithm>
#include <deque>
#include <random>

#include "sqlruntime/descriptors.h"
#include "sqltypes/value_stored.h"
#include "tests/sqlruntime/coll_fixture.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using namespace coll_test;
using sqli_test::SqliTest;

class CollStmtTest : public CollectionsFixture<SqliTest> {
 protected:
  SqliCollection* List(uint16_t kind, std::vector<int32_t> values) {
    SqliCollection* c = New({{0, kind, 0, nullptr}, {1, SQLINT, 4, nullptr}});
    for (int32_t& v : values) {
      store_.push_back(v);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      int32_t* p = &store_[store_.size() - values.size() + i];
      EXPECT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(p, SQLINT, 4)}));
    }
    return c;
  }
  std::deque<int32_t> store_;
};

TEST_F(CollStmtTest, InsertsAtPositionsAgainstAListModel) {
  // Random positioned inserts into a LIST, checked against std::vector.
  std::mt19937 rng(47);
  SqliCollection* c = List(SQLLIST, {1, 2, 3});
  std::vector<int32_t> model{1, 2, 3};
  int32_t nine = 9;
  ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(&nine, SQLINT, 4)}, nullptr, 2));
  model.insert(model.begin() + 1, 9);
  ASSERT_EQ(model, Ints(c));
  for (int i = 0; i < 40; ++i) {
    int32_t v = static_cast<int32_t>(rng() % 1000);
    int32_t pos = static_cast<int32_t>(rng() % (model.size() + 2));  // 0: the end
    ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(&v, SQLINT, 4)}, nullptr, pos));
    if (pos == 0 || pos > static_cast<int32_t>(model.size())) model.push_back(v);
    else model.insert(model.begin() + (pos - 1), v);
    ASSERT_EQ(model, Ints(c)) << i;
  }
  int32_t card_null = -1;
  EXPECT_EQ(static_cast<int32_t>(model.size()), zel_cl_card(c, &card_null));
  EXPECT_EQ(0, card_null);
  // A SET has no positions.
  SqliCollection* s = List(SQLSET, {1, 2, 3});
  EXPECT_EQ(-9980, Stmt(s, SQLI_CK_INSERT, {V(&nine, SQLINT, 4)}, nullptr, 2));
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), Ints(s));
}

TEST_F(CollStmtTest, UpdateAndDeleteOfAllElements) {
  int32_t seven = 7;
  SqliCollection* s = List(SQLSET, {1, 2, 3});
  ASSERT_EQ(0, Stmt(s, SQLI_CK_UPDATE_ALL, {V(&seven, SQLINT, 4)}));
  EXPECT_EQ((std::vector<int32_t>{7}), Ints(s));
  SqliCollection* l = List(SQLLIST, {1, 2, 3});
  ASSERT_EQ(0, Stmt(l, SQLI_CK_UPDATE_ALL, {V(&seven, SQLINT, 4)}));
  EXPECT_EQ((std::vector<int32_t>{7, 7, 7}), Ints(l));
  SqliCollection* m = List(SQLMULTISET, {4, 4, 5});
  ASSERT_EQ(0, Stmt(m, SQLI_CK_DELETE_ALL, {}));
  EXPECT_TRUE(Ints(m).empty());
  int32_t isnull = -1;
  EXPECT_EQ(0, zel_cl_card(m, &isnull));
  // UPDATE of all elements of an empty collection inserts the value.
  ASSERT_EQ(0, Stmt(m, SQLI_CK_UPDATE_ALL, {V(&seven, SQLINT, 4)}));
  EXPECT_EQ((std::vector<int32_t>{7}), Ints(m));
  // Two values for one element: the counts differ.
  EXPECT_EQ(-505, Stmt(l, SQLI_CK_UPDATE_ALL, {V(&seven, SQLINT, 4), M(-5), V(&seven, SQLINT, 4)}));
  EXPECT_EQ((std::vector<int32_t>{7, 7, 7}), Ints(l));
}

TEST_F(CollStmtTest, RowVariables) {
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "a"}, {1, SQLVCHAR, 10, "b"}});
  int32_t one = 1;
  char text[] = "hi";
  EXPECT_EQ(-1825, Stmt(r, SQLI_CK_INSERT, {V(&one, SQLINT, 4)}, nullptr, 0, 123));
  EXPECT_EQ(-1825, Stmt(r, SQLI_CK_DELETE_ALL, {}, nullptr, 0, 123));
  // UPDATE of a row without data inserts its fields.
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, {V(&one, SQLINT, 4), M(-4), V(text, SQLCHAR, 3)}, nullptr, 0, 123));
  std::vector<std::string> raw = Raw(r);
  ASSERT_EQ(2u, raw.size());
  EXPECT_EQ(1, Be32(raw[0].data()));
  // VARCHAR(10) elements keep their room: a length byte and 10 bytes.
  EXPECT_EQ(std::string("\x02hi", 3), raw[1].substr(0, 3));
  EXPECT_EQ(11u, raw[1].size());
  // A named field replaced, the other kept.
  char text2[] = "there";
  std::string names = NameList({"b"});
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, {V(text2, SQLCHAR, 6)}, names.data(), 0, 123));
  raw = Raw(r);
  ASSERT_EQ(2u, raw.size());
  EXPECT_EQ(1, Be32(raw[0].data()));
  EXPECT_EQ(std::string("\x05there", 6), raw[1].substr(0, 6));
  std::string bad = NameList({"zz"});
  EXPECT_EQ(-505, Stmt(r, SQLI_CK_UPDATE_ALL, {V(text2, SQLCHAR, 6), M(-5), V(text2, SQLCHAR, 6)}, names.data(), 0, 123));
  EXPECT_EQ(-1816, Stmt(r, SQLI_CK_UPDATE_ALL, {V(text2, SQLCHAR, 6)}, bad.data(), 0, 123));
}

TEST_F(CollStmtTest, BooleanFromCharLeavesTheProgramsVariableAlone) {
  SqliCollection* b = New({{0, SQLLIST, 0, nullptr}, {1, SQLBOOL, 1, nullptr}});
  char one[1] = {1};  // a one-byte host variable holding 1
  char empty[1] = {0};
  ASSERT_EQ(0, Stmt(b, SQLI_CK_INSERT, {V(one, SQLCHAR, 1)}));
  ASSERT_EQ(0, Stmt(b, SQLI_CK_INSERT, {V(empty, SQLCHAR, 1)}));
  EXPECT_EQ(1, one[0]);
  EXPECT_EQ(0, empty[0]);
  // Stored BOOLEAN: null flag, 4-byte length 1, then 't' or 'f'... read
  // back through the value loader of the data types.
  std::vector<std::string> raw = Raw(b);
  ASSERT_EQ(2u, raw.size());
  unsigned char t = 9, f = 9;
  SqlValue v{};
  ASSERT_EQ(0, rdataval(raw[0].data(), SQLBOOL, static_cast<int>(raw[0].size()), &v));
  ASSERT_EQ(0, rvaltobool(&v, &t));
  ASSERT_EQ(0, rdataval(raw[1].data(), SQLBOOL, static_cast<int>(raw[1].size()), &v));
  ASSERT_EQ(0, rvaltobool(&v, &f));
  EXPECT_EQ(1, t);
  EXPECT_EQ(0, f);
}

TEST_F(CollStmtTest, PlaceholdersAndInputsMustPair) {
  int32_t a = 1, b2 = 2, c3 = 3;
  std::vector<SqliCollValue> values{M(-3), M(-5), M(-3), End()};
  SqliValueItem ins[3]{};
  int32_t* data[3] = {&a, &b2, &c3};
  for (int i = 0; i < 3; ++i) {
    ins[i].type = 102;
    ins[i].length = 4;
    ins[i].data = reinterpret_cast<char*>(data[i]);
    ins[i].ind_type = -1;
  }
  SqliCollValue* pristine = nullptr;
  int32_t n = 0;
  sqli_sqlca_reset(sqli_runtime_get());
  EXPECT_EQ(-1, sqli_coll_bind_values(3, ins, values.data(), SQLI_CK_INSERT, &pristine, &n));
  EXPECT_EQ(-236, sqlca.sqlcode);
  EXPECT_EQ(-1, sqli_coll_bind_values(3, ins, values.data(), SQLI_CK_UPDATE_ALL, &pristine, &n));
  EXPECT_EQ(-505, sqlca.sqlcode);
  // Two inputs fill the two placeholders, and again after a rebinding.
  ASSERT_EQ(0, sqli_coll_bind_values(2, ins, values.data(), SQLI_CK_INSERT, &pristine, &n));
  EXPECT_EQ(2, values[0].type);
  EXPECT_EQ(reinterpret_cast<char*>(&b2), values[2].data);
  ASSERT_EQ(0, sqli_coll_bind_values(2, ins + 1, values.data(), SQLI_CK_INSERT, &pristine, &n));
  EXPECT_EQ(reinterpret_cast<char*>(&c3), values[2].data);
  SqliCollection* l = List(SQLLIST, {});
  SqliValueItem var = Var(l);
  ASSERT_EQ(0, sqli_coll_stmt(1, &var, values.data(), nullptr, nullptr, SQLI_CK_INSERT, 0));
  EXPECT_EQ((std::vector<int32_t>{2, 3}), Ints(l));
  free(pristine);
}

TEST_F(CollStmtTest, NamedFieldsOfRowElements) {
  // LIST of ROW(a INTEGER, b VARCHAR(10), c INTEGER).
  SqliCollection* c = New({{0, SQLLIST, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "a"},
                           {2, SQLVCHAR, 10, "b"}, {2, SQLINT, 4, "c"}});
  int32_t five = 5;
  char word[] = "xy";
  std::string names = NameList({"c", "b"});
  ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(&five, SQLINT, 4), M(-5), V(word, SQLCHAR, 3)}, names.data()));
  // Read back through SELECT with all three fields: a is null.
  int32_t a = 77, cc = 0;
  char b[16] = {};
  int16_t ia = 0, ib = 0, ic = 0;
  SqliValueItem outs[3]{};
  outs[0] = SqliValueItem{};
  outs[0].type = 102; outs[0].length = 4; outs[0].data = reinterpret_cast<char*>(&a); outs[0].indicator = &ia;
  outs[1].type = 114; outs[1].length = 16; outs[1].data = b; outs[1].indicator = &ib;
  outs[2].type = 102; outs[2].length = 4; outs[2].data = reinterpret_cast<char*>(&cc); outs[2].indicator = &ic;
  for (auto& o : outs) o.ind_type = -1;
  SqliValueItem var = Var(c);
  ASSERT_EQ(0, sqli_coll_slct(&var, 3, outs, nullptr));
  EXPECT_EQ(-1, ia);
  EXPECT_STREQ("xy", b);
  EXPECT_EQ(5, cc);
  // Errors: a name that is no field, a constructor for a scalar, values
  // left after a constructor's fields.
  std::string bad = NameList({"zz"});
  EXPECT_EQ(-1816, Stmt(c, SQLI_CK_INSERT, {V(&five, SQLINT, 4)}, bad.data()));
  EXPECT_EQ(-236, Stmt(c, SQLI_CK_INSERT, {V(&five, SQLINT, 4)}, names.data()));
  SqliCollection* ints = List(SQLLIST, {});
  EXPECT_EQ(-1818, Stmt(ints, SQLI_CK_INSERT, {V(nullptr, SQLSET, 1, 1), V(&five, SQLINT, 4), M(-1)}));
  EXPECT_EQ(-1819, Stmt(c, SQLI_CK_INSERT, {V(nullptr, SQLROW, 1, 1), V(&five, SQLINT, 4), M(-4), V(word, SQLCHAR, 3),
                                           M(-4), V(&five, SQLINT, 4), M(-4), V(&five, SQLINT, 4), M(-1)}));
  int32_t card_null = 0;
  EXPECT_EQ(1, zel_cl_card(c, &card_null));  // nothing half-inserted
  EXPECT_TRUE(Ints(ints).empty());
}

}  // namespace
