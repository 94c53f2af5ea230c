// UPDATE of elements and fields that are themselves collections or rows:
// the element under a cursor, every element, and the fields of a row
// variable, each change compared with a plain list model by reading the
// whole value back through a cursor.
#include <algorithm>
#include <deque>
#include <optional>
#include <random>
#include <set>

#include "sqlruntime/descriptors.h"
#include "tests/sqlruntime/coll_fixture.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using namespace coll_test;
using sqli_test::SqliTest;

using Inner = std::optional<std::vector<int32_t>>;  // nullopt: a null element

class CollNestedTest : public CollectionsFixture<SqliTest> {
 protected:
  // A variable the runtime fills with a fetched nested value.
  SqliCollection* Bare() {
    SqliCollection* c = nullptr;
    EXPECT_EQ(0, sqli_cl_alloc(0, &c, nullptr));
    made_.push_back(c);
    return c;
  }
  int32_t* Int(int32_t v) {
    ints_.push_back(v);
    return &ints_.back();
  }
  // A constructor of the given kind over integers, with its end item.
  std::vector<SqliCollValue> Ctor(int16_t kind, const std::vector<int32_t>& values) {
    std::vector<SqliCollValue> out{V(nullptr, kind, 1, 1)};
    for (int32_t v : values) out.push_back(V(Int(v), SQLINT, 4));
    out.push_back(M(-1));
    return out;
  }
  // Reads a collection of integer collections element by element.
  std::vector<Inner> ReadLists(SqliCollection* c) {
    std::vector<Inner> out;
    SqliCollection* into = Bare();
    int16_t ind = 0;
    SqliValueItem o = Out(118, 0, into, &ind);
    SqliValueItem var = Var(c);
    SqliCursor st = Record();
    EXPECT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 1, &o, nullptr, nullptr, SQLI_CK_SELECT, 0));
    EXPECT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
    while (sqli_coll_fetch(&st, 0, nullptr, nullptr) == 0) {
      if (ind == -1) out.push_back(std::nullopt);
      else out.push_back(Ints(into));
    }
    EXPECT_EQ(100, sqlca.sqlcode);
    EXPECT_EQ(0, sqli_coll_close(&st));
    sqli_coll_free(&st);
    return out;
  }
  std::deque<int32_t> ints_;
};

std::vector<SqliCollValue> Cat(std::initializer_list<std::vector<SqliCollValue>> parts) {
  std::vector<SqliCollValue> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A cursor over a variable, stepped onto element n (1-based).
struct Cursor {
  SqliValueItem var;
  SqliCursor st = Record();
  Cursor(SqliCollection* c, int n) : var(Var(c)) {
    EXPECT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 0, nullptr, nullptr, nullptr, SQLI_CK_SELECT, 0));
    EXPECT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
    for (int i = 0; i < n; ++i) EXPECT_EQ(0, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  }
  int32_t Update(std::vector<SqliCollValue> values, const char* names = nullptr) {
    values.push_back(End());
    return sqli_coll_stmt(1, &var, values.data(), names, st.coll, SQLI_CK_UPDATE, 0);
  }
  ~Cursor() {
    sqli_coll_close(&st);
    sqli_coll_free(&st);
  }
};

TEST_F(CollNestedTest, ListElementsThatAreListsAreReplacedWhole) {
  SqliCollection* c = New({{0, SQLLIST, 0, nullptr}, {1, SQLLIST, 0, nullptr}, {2, SQLINT, 4, nullptr}});
  std::vector<Inner> model{std::vector<int32_t>{1, 2}, std::vector<int32_t>{3}, std::vector<int32_t>{4, 5, 6}};
  for (const Inner& in : model) ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, Ctor(SQLLIST, *in)));
  ASSERT_EQ(model, ReadLists(c));

  // The element under a cursor: by a constructor, a host variable, a null.
  SqliCollection* host = New({{0, SQLLIST, 0, nullptr}, {1, SQLINT, 4, nullptr}});
  for (int32_t v : {9, 8}) ASSERT_EQ(0, Stmt(host, SQLI_CK_INSERT, {V(Int(v), SQLINT, 4)}));
  {
    Cursor k(c, 2);
    ASSERT_EQ(0, k.Update(Ctor(SQLLIST, {7, 8})));
    model[1] = std::vector<int32_t>{7, 8};
    ASSERT_EQ(0, sqli_coll_fetch(&k.st, 0, nullptr, nullptr));
    ASSERT_EQ(0, k.Update({V(host, SQLCOLLECTION, 0)}));
    model[2] = std::vector<int32_t>{9, 8};
    // Values that do not fit a LIST element leave it as it was.
    EXPECT_EQ(-1818, k.Update({V(Int(1), SQLINT, 4)}));
    EXPECT_EQ(-1818, k.Update(Ctor(SQLSET, {1})));
    EXPECT_EQ(-505, k.Update(Cat({Ctor(SQLLIST, {1}), {M(-5)}, Ctor(SQLLIST, {2})})));
  }
  ASSERT_EQ(model, ReadLists(c));
  {
    Cursor k(c, 1);
    ASSERT_EQ(0, k.Update({M(-2)}));
    model[0] = std::nullopt;
  }
  ASSERT_EQ(model, ReadLists(c));
  // The host variable keeps its own elements.
  EXPECT_EQ((std::vector<int32_t>{9, 8}), Ints(host));

  // Every element at once, then random single updates against the model.
  ASSERT_EQ(0, Stmt(c, SQLI_CK_UPDATE_ALL, Ctor(SQLLIST, {0, 1})));
  for (Inner& in : model) in = std::vector<int32_t>{0, 1};
  ASSERT_EQ(model, ReadLists(c));
  EXPECT_EQ(-1818, Stmt(c, SQLI_CK_UPDATE_ALL, {V(Int(3), SQLINT, 4)}));
  ASSERT_EQ(model, ReadLists(c));
  std::mt19937 rng(4711);
  for (int round = 0; round < 25; ++round) {
    const int n = static_cast<int>(rng() % model.size()) + 1;
    std::vector<int32_t> in;
    for (unsigned i = rng() % 4; i > 0; --i) in.push_back(static_cast<int32_t>(rng() % 100));
    {
      Cursor k(c, n);
      if (rng() % 5 == 0) {
        ASSERT_EQ(0, k.Update({M(-2)}));
        model[static_cast<size_t>(n - 1)] = std::nullopt;
      } else {
        ASSERT_EQ(0, k.Update(Ctor(SQLLIST, in)));
        model[static_cast<size_t>(n - 1)] = in;
      }
    }
    ASSERT_EQ(model, ReadLists(c)) << "round " << round;
  }
  ASSERT_EQ(0, Stmt(c, SQLI_CK_UPDATE_ALL, {M(-2)}));
  for (Inner& in : model) in = std::nullopt;
  ASSERT_EQ(model, ReadLists(c));
}

// ROW(a INTEGER, b VARCHAR(10), l LIST(INTEGER)) as the model reads it.
struct Row {
  int32_t a;
  std::string b;
  Inner l;
  bool operator==(const Row&) const = default;
};

class RowElementsTest : public CollNestedTest {
 protected:
  SqliCollection* Rows() {
    return New({{0, SQLLIST, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "a"}, {2, SQLVCHAR, 10, "b"},
                {2, SQLLIST, 0, "l"}, {3, SQLINT, 4, nullptr}});
  }
  std::vector<SqliCollValue> RowCtor(const Row& r) {
    texts_.push_back(r.b);
    char* b = texts_.back().data();
    return Cat({{V(nullptr, SQLROW, 1, 1), V(Int(r.a), SQLINT, 4), M(-4), V(b, SQLCHAR, static_cast<int16_t>(r.b.size() + 1)),
                 M(-4)},
                Ctor(SQLLIST, *r.l),
                {M(-1)}});
  }
  char* Text(const std::string& s) {
    texts_.push_back(s);
    return texts_.back().data();
  }
  std::vector<Row> Read(SqliCollection* c) {
    std::vector<Row> out;
    int32_t a = 0;
    char b[16] = {};
    SqliCollection* l = Bare();
    int16_t ia = 0, ib = 0, il = 0;
    SqliValueItem outs[3] = {Out(102, 4, &a, &ia), Out(114, 16, b, &ib), Out(118, 0, l, &il)};
    SqliValueItem var = Var(c);
    SqliCursor st = Record();
    EXPECT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 3, outs, nullptr, nullptr, SQLI_CK_SELECT, 0));
    EXPECT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
    while (sqli_coll_fetch(&st, 0, nullptr, nullptr) == 0) {
      Row r{a, b, std::nullopt};
      if (il != -1) r.l = Ints(l);
      out.push_back(r);
    }
    EXPECT_EQ(100, sqlca.sqlcode);
    sqli_coll_close(&st);
    sqli_coll_free(&st);
    return out;
  }
  std::deque<std::string> texts_;
};

TEST_F(RowElementsTest, NamedFieldsOfTheCurrentAndOfEveryElement) {
  SqliCollection* c = Rows();
  std::vector<Row> model{{1, "one", std::vector<int32_t>{1}}, {2, "two", std::vector<int32_t>{2, 2}},
                         {3, "three", std::vector<int32_t>{}}};
  for (const Row& r : model) ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, RowCtor(r)));
  ASSERT_EQ(model, Read(c));
  const std::string la = NameList({"l", "a"});
  const std::string b = NameList({"b"});
  const std::string a = NameList({"a"});
  {
    Cursor k(c, 2);
    // Fields named out of order; the unnamed one keeps its value.
    ASSERT_EQ(0, k.Update(Cat({Ctor(SQLLIST, {9, 8, 7}), {M(-5), V(Int(20), SQLINT, 4)}}), la.data()));
    model[1].l = std::vector<int32_t>{9, 8, 7};
    model[1].a = 20;
    // A second change of the same element keeps the first.
    ASSERT_EQ(0, k.Update({V(Text("zwei"), SQLCHAR, 5)}, b.data()));
    model[1].b = "zwei";
    EXPECT_EQ(-1816, k.Update({V(Int(1), SQLINT, 4)}, NameList({"zz"}).data()));
    EXPECT_EQ(-236, k.Update({V(Int(1), SQLINT, 4), M(-5), V(Int(2), SQLINT, 4)}, a.data()));
    EXPECT_EQ(-1818, k.Update({V(Int(1), SQLINT, 4), M(-5), V(Int(2), SQLINT, 4)}, la.data()));
    EXPECT_EQ(-1818, k.Update(Ctor(SQLLIST, {1}), a.data()));
    ASSERT_EQ(0, sqli_coll_fetch(&k.st, 0, nullptr, nullptr));
    ASSERT_EQ(0, k.Update({M(-2), M(-5), V(Int(30), SQLINT, 4)}, la.data()));
    model[2].l = std::nullopt;
    model[2].a = 30;
  }
  ASSERT_EQ(model, Read(c));
  // Every element: the named fields change, the others stay per element.
  ASSERT_EQ(0, Stmt(c, SQLI_CK_UPDATE_ALL, {V(Int(0), SQLINT, 4)}, a.data()));
  for (Row& r : model) r.a = 0;
  ASSERT_EQ(model, Read(c));
  ASSERT_EQ(0, Stmt(c, SQLI_CK_UPDATE_ALL, Ctor(SQLLIST, {5}), NameList({"l"}).data()));
  for (Row& r : model) r.l = std::vector<int32_t>{5};
  ASSERT_EQ(model, Read(c));
  // Without names every field is given, in order.
  const Row all{4, "four", std::vector<int32_t>{4, 4}};
  std::vector<SqliCollValue> whole = RowCtor(all);
  ASSERT_EQ(0, Stmt(c, SQLI_CK_UPDATE_ALL, std::vector<SqliCollValue>(whole.begin() + 1, whole.end() - 1)));
  for (Row& r : model) r = all;
  ASSERT_EQ(model, Read(c));
  EXPECT_EQ(-505, Stmt(c, SQLI_CK_UPDATE_ALL, {V(Int(1), SQLINT, 4), M(-5), V(Int(2), SQLINT, 4)}, a.data()));
  EXPECT_EQ(-1816, Stmt(c, SQLI_CK_UPDATE_ALL, {V(Int(1), SQLINT, 4)}, NameList({"zz"}).data()));
  EXPECT_EQ(-1818, Stmt(c, SQLI_CK_UPDATE_ALL, {V(Int(1), SQLINT, 4)}, NameList({"l"}).data()));
  ASSERT_EQ(model, Read(c));
}

TEST_F(CollNestedTest, CollectionFieldsOfARowVariable) {
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "a"}, {1, SQLSET, 0, "s"}, {2, SQLINT, 4, nullptr}});
  // The row has no data yet: UPDATE inserts the fields.
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, Cat({{V(Int(1), SQLINT, 4), M(-4)}, Ctor(SQLSET, {3, 1, 3})}), nullptr, 0, 123));
  auto read = [&](int32_t* a, std::optional<std::set<int32_t>>* s) {
    SqliCollection* into = Bare();
    int16_t ia = 0, is = 0;
    SqliValueItem outs[2] = {Out(102, 4, a, &ia), Out(118, 0, into, &is)};
    SqliValueItem var = Var(r, 123);
    ASSERT_EQ(0, sqli_coll_slct(&var, 2, outs, nullptr));
    if (is == -1) {
      s->reset();
    } else {
      std::vector<int32_t> got = Ints(into);
      *s = std::set<int32_t>(got.begin(), got.end());
      ASSERT_EQ(got.size(), (*s)->size());  // a SET holds each value once
    }
  };
  int32_t a = 0;
  std::optional<std::set<int32_t>> s;
  read(&a, &s);
  EXPECT_EQ(1, a);
  EXPECT_EQ((std::set<int32_t>{1, 3}), s);
  const std::string sn = NameList({"s"});
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, Ctor(SQLSET, {5, 6}), sn.data(), 0, 123));
  read(&a, &s);
  EXPECT_EQ(1, a);
  EXPECT_EQ((std::set<int32_t>{5, 6}), s);
  SqliCollection* host = New({{0, SQLSET, 0, nullptr}, {1, SQLINT, 4, nullptr}});
  ASSERT_EQ(0, Stmt(host, SQLI_CK_INSERT, {V(Int(42), SQLINT, 4)}));
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, {V(host, SQLCOLLECTION, 0)}, sn.data(), 0, 123));
  read(&a, &s);
  EXPECT_EQ((std::set<int32_t>{42}), s);
  // Values of the wrong kind change nothing.
  EXPECT_EQ(-1818, Stmt(r, SQLI_CK_UPDATE_ALL, Ctor(SQLLIST, {7}), sn.data(), 0, 123));
  EXPECT_EQ(-1818, Stmt(r, SQLI_CK_UPDATE_ALL, Ctor(SQLSET, {7}), NameList({"a"}).data(), 0, 123));
  read(&a, &s);
  EXPECT_EQ(1, a);
  EXPECT_EQ((std::set<int32_t>{42}), s);
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL, {M(-2), M(-5), V(Int(8), SQLINT, 4)}, NameList({"s", "a"}).data(), 0, 123));
  read(&a, &s);
  EXPECT_EQ(8, a);
  EXPECT_FALSE(s.has_value());
}

TEST_F(CollNestedTest, CursorOnARowVariableFillsEveryOutputInOneFetch) {
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "a"}, {1, SQLVCHAR, 10, "b"}, {1, SQLSET, 0, "s"},
                           {2, SQLINT, 4, nullptr}});
  char word[] = "hello";
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL,
                    Cat({{V(Int(12), SQLINT, 4), M(-4), V(word, SQLCHAR, 6), M(-4)}, Ctor(SQLSET, {4, 5})}), nullptr, 0,
                    123));
  int32_t a = 0;
  char b[16] = {};
  SqliCollection* s = Bare();
  int16_t ia = 5, ib = 5, is = 5;
  SqliValueItem outs[3] = {Out(102, 4, &a, &ia), Out(114, 16, b, &ib), Out(118, 0, s, &is)};
  SqliValueItem var = Var(r, 123);
  SqliCursor st = Record();
  ASSERT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 3, outs, nullptr, nullptr, SQLI_CK_SELECT, 0));
  ASSERT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  EXPECT_EQ(12, a);
  EXPECT_STREQ("hello", b);
  EXPECT_EQ((std::vector<int32_t>{4, 5}), Ints(s));
  EXPECT_EQ(0, ia + ib + is);
  // The row is one row: the next FETCH finds the end and leaves the outputs.
  a = -1;
  EXPECT_EQ(100, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  EXPECT_EQ(-1, a);
  ASSERT_EQ(0, sqli_coll_close(&st));
  sqli_coll_free(&st);

  // By name list: each field to the output in its name's place.
  const std::string ba = NameList({"b", "a"});
  char b2[16] = {};
  int32_t a2 = 0;
  SqliValueItem named[2] = {Out(114, 16, b2, &ib), Out(102, 4, &a2, &ia)};
  SqliCursor sn = Record();
  ASSERT_EQ(0, sqli_coll_decl(&sn, nullptr, nullptr, 1, &var, 2, named, nullptr, ba.data(), SQLI_CK_SELECT, 0));
  ASSERT_EQ(0, sqli_coll_open(&sn, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_fetch(&sn, 0, nullptr, nullptr));
  EXPECT_STREQ("hello", b2);
  EXPECT_EQ(12, a2);
  EXPECT_EQ(100, sqli_coll_fetch(&sn, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_close(&sn));
  sqli_coll_free(&sn);

  // Fewer outputs than fields: each FETCH goes on from the next field.
  SqliCollection* three = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "x"}, {1, SQLINT, 4, "y"}, {1, SQLINT, 4, "z"}});
  ASSERT_EQ(0, Stmt(three, SQLI_CK_UPDATE_ALL, {V(Int(7), SQLINT, 4), M(-4), V(Int(8), SQLINT, 4), M(-4), V(Int(9), SQLINT, 4)},
                    nullptr, 0, 123));
  SqliValueItem tv = Var(three, 123);
  SqliValueItem one = Out(102, 4, &a, &ia);
  SqliCursor s1 = Record();
  ASSERT_EQ(0, sqli_coll_decl(&s1, nullptr, nullptr, 1, &tv, 1, &one, nullptr, nullptr, SQLI_CK_SELECT, 0));
  ASSERT_EQ(0, sqli_coll_open(&s1, 0, nullptr, nullptr));
  std::vector<int32_t> got;
  while (sqli_coll_fetch(&s1, 0, nullptr, nullptr) == 0) got.push_back(a);
  EXPECT_EQ(100, sqlca.sqlcode);
  EXPECT_EQ((std::vector<int32_t>{7, 8, 9}), got);
  ASSERT_EQ(0, sqli_coll_close(&s1));
  sqli_coll_free(&s1);
}

}  // namespace
