// Statements on collection host variables through the statement calls a
// program makes (PREPARE, EXECUTE, DECLARE, OPEN, FETCH, PUT, FLUSH, CLOSE,
// FREE, the statement without a cursor and the singleton SELECT), with a
// connection to the test server open: every change is checked by reading
// the elements back against a plain list model, and the server's log shows
// that none of these statements reached it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sqlruntime/collections.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/insert_cursor.h"
#include "tests/sqlruntime/coll_fixture.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using namespace coll_test;
using sqli_test::Server;
using sqli_test::SqliTest;

const char* const kText[] = {"statement on a collection variable", nullptr};

// A collection host variable as generated code passes it (host type 118
// with its top bit) and a row host variable (123).
SqliValueItem CollIn(SqliCollection* c, bool row = false) {
  SqliValueItem it{};
  it.type = static_cast<int16_t>(row ? 123 : (118 | 0x8000));
  it.data = reinterpret_cast<char*>(c);
  it.ind_type = -1;
  return it;
}

SqliValueItem IntVar(int32_t* p, int16_t* ind = nullptr) {
  SqliValueItem it{};
  it.type = 102;
  it.length = 4;
  it.data = reinterpret_cast<char*>(p);
  it.indicator = ind;
  it.ind_type = -1;
  return it;
}

SqliValueItem TextVar(char* p, int32_t length, int16_t* ind) {
  SqliValueItem it{};
  it.type = 114;
  it.length = length;
  it.data = p;
  it.indicator = ind;
  it.ind_type = -1;
  return it;
}

// A value description over items the caller keeps.
SqliDescriptor Desc(std::vector<SqliValueItem>& items) {
  return SqliDescriptor{static_cast<int16_t>(items.size()), items.data(), nullptr,
                        static_cast<int32_t>(items.size())};
}

void* Word(intptr_t v) { return reinterpret_cast<void*>(v); }

class CollRouteTest : public SqliTest {
 protected:
  void SetUp() override {
    SqliTest::SetUp();
    server_ = std::make_unique<Server>("");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(0, sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1));
    sqli_sqlca_reset(sqli_runtime_get());
    requests_ = server_->Requests().size();
  }
  void TearDown() override {
    // Freeing the statement table detaches every cursor still open, so
    // that the program can free its variables.
    sqli_stmt_table_free();
    for (SqliCollection*& c : made_) EXPECT_EQ(0, zel_cl_dealloc(&c));
    EXPECT_EQ(requests_, server_->Requests().size()) << "a collection statement reached the server";
    sqli_defprep_set(0);
    SqliTest::TearDown();
  }
  SqliCollection* New(std::initializer_list<E> l) {
    made_.push_back(Make(l));
    return made_.back();
  }
  // A collection of INTEGER filled by INSERT statements without a cursor.
  SqliCollection* IntColl(uint16_t kind, const std::vector<int32_t>& values) {
    SqliCollection* c = New({{0, kind, 0, nullptr}, {1, SQLINT, 4, nullptr}});
    for (int32_t v : values) {
      store_.push_back(v);
      std::vector<SqliCollValue> list{V(&store_.back(), SQLINT, 4), End()};
      EXPECT_EQ(0, Run(c, SQLI_CK_INSERT, list));
    }
    return c;
  }
  // A statement without a cursor on the variable (sqli_stmt).
  int32_t Run(SqliCollection* c, int32_t kind, std::vector<SqliCollValue>& values, SqliCursor* cursor = nullptr,
              const char* names = nullptr, int16_t host = static_cast<int16_t>(118 | 0x8000)) {
    SqliValueItem var = CollIn(c);
    var.type = host;
    return sqli_stmt(1, nullptr, kText, 1, &var, nullptr, values.empty() ? nullptr : values.data(),
                     const_cast<char*>(names), cursor, Word(kind), Word(0), 1);
  }
  SqliCursor* Prep(const char* name, int32_t kind, std::vector<SqliCollValue>* values, const char* names = nullptr,
                   int32_t position = 0) {
    return sqli_prep(1, name, kText[0], values != nullptr ? values->data() : nullptr, const_cast<char*>(names), kind,
                     position, 1);
  }
  int32_t Exec(SqliCursor* s, std::vector<SqliValueItem> ins, SqliItemList* out = nullptr) {
    SqliDescriptor d = Desc(ins);
    return sqli_exec(1, s, &d, nullptr, nullptr, out, nullptr, nullptr, 0);
  }
  int32_t Open(SqliCursor* k, std::vector<SqliValueItem> ins) {
    SqliDescriptor d = Desc(ins);
    return sqli_curs_open(1, k, ins.empty() ? nullptr : &d, nullptr, nullptr, 0, 0);
  }
  int32_t Fetch(SqliCursor* k, SqliDescriptor* out = nullptr, const char* name = nullptr) {
    return sqli_curs_fetch(1, k, nullptr, out, name, nullptr);
  }
  int32_t Put(SqliCursor* k, std::vector<SqliValueItem> ins) {
    SqliDescriptor d = Desc(ins);
    return sqli_curs_put(1, k, ins.empty() ? nullptr : &d, nullptr);
  }
  // DECLARE of a cursor on a prepared statement.
  SqliCursor* DeclareOn(const char* name, SqliCursor* stmt) {
    SqliCursor* k = sqli_curs_locate(1, name, 0);
    EXPECT_EQ(0, sqli_curs_decl_dynm(1, k, name, stmt, 0, 1));
    return k;
  }

  std::unique_ptr<Server> server_;
  size_t requests_ = 0;
  std::vector<SqliCollection*> made_;
  std::deque<int32_t> store_;
};

TEST_F(CollRouteTest, PreparedChangesAgainstAListModel) {
  SqliCollection* c = IntColl(SQLLIST, {});
  SqliValueItem var = CollIn(c);
  int32_t x = 0;
  int16_t xi = 0;
  std::vector<SqliCollValue> hole{M(-3), End()};
  SqliCursor* ins = Prep("ins", SQLI_CK_INSERT, &hole);
  ASSERT_NE(nullptr, ins);
  SqliCursor* ins2 = Prep("ins_at_2", SQLI_CK_INSERT, &hole, nullptr, 2);
  ASSERT_NE(nullptr, ins2);
  std::vector<int32_t> model;
  std::mt19937 rng(108);
  for (int i = 0; i < 30; ++i) {
    x = static_cast<int32_t>(rng() % 1000);
    const bool second = !model.empty() && rng() % 2 == 0;
    ASSERT_EQ(0, Exec(second ? ins2 : ins, {var, IntVar(&x, &xi)})) << i;
    if (second) model.insert(model.begin() + 1, x);
    else model.push_back(x);
    ASSERT_EQ(model, Ints(c)) << i;
  }
  // A null input stores the null INTEGER; the next run binds afresh.
  xi = -1;
  ASSERT_EQ(0, Exec(ins, {var, IntVar(&x, &xi)}));
  model.push_back(INT_MIN);
  xi = 0;
  x = 5;
  ASSERT_EQ(0, Exec(ins, {var, IntVar(&x, &xi)}));
  model.push_back(5);
  ASSERT_EQ(model, Ints(c));

  // Placeholders and inputs must pair: two placeholders, three or one
  // inputs after the variable.
  std::vector<SqliCollValue> two{M(-3), M(-5), M(-3), End()};
  SqliCursor* pair = Prep("ins_two", SQLI_CK_INSERT, &two);
  ASSERT_NE(nullptr, pair);
  int32_t a = 11, b = 12, d = 13;
  EXPECT_EQ(-236, Exec(pair, {var, IntVar(&a), IntVar(&b), IntVar(&d)}));
  EXPECT_EQ(-236, Exec(pair, {var, IntVar(&a)}));
  ASSERT_EQ(model, Ints(c));
  ASSERT_EQ(0, Exec(pair, {var, IntVar(&a), IntVar(&b)}));
  model.push_back(11);
  model.push_back(12);
  ASSERT_EQ(model, Ints(c));

  // UPDATE of all elements of a LIST; of a SET {1, 2, 3} it leaves {7}.
  SqliCursor* upd = Prep("upd", SQLI_CK_UPDATE_ALL, &hole);
  int32_t seven = 7;
  ASSERT_EQ(0, Exec(upd, {var, IntVar(&seven)}));
  EXPECT_EQ(std::vector<int32_t>(model.size(), 7), Ints(c));
  SqliCollection* s = IntColl(SQLSET, {1, 2, 3});
  ASSERT_EQ(0, Exec(upd, {CollIn(s), IntVar(&seven)}));
  EXPECT_EQ((std::vector<int32_t>{7}), Ints(s));
  // DELETE of all elements, prepared without values.
  SqliCursor* del = Prep("del", SQLI_CK_DELETE_ALL, nullptr);
  ASSERT_EQ(0, Exec(del, {var}));
  EXPECT_TRUE(Ints(c).empty());
  // PREPARE again under the same name replaces the statement.
  ASSERT_EQ(upd, Prep("upd", SQLI_CK_DELETE_ALL, nullptr));
  ASSERT_EQ(0, Exec(upd, {CollIn(s)}));
  EXPECT_TRUE(Ints(s).empty());
  for (SqliCursor* st : {ins, ins2, pair, upd, del}) EXPECT_EQ(0, sqli_curs_free(1, st));
}

TEST_F(CollRouteTest, DeferredPrepareKeepsCollectionStatementsOnTheClient) {
  ASSERT_EQ(0, sqli_defprep_set(1));
  SqliCollection* c = IntColl(SQLLIST, {1});
  std::vector<SqliCollValue> hole{M(-3), End()};
  SqliCursor* ins = Prep("dins", SQLI_CK_INSERT, &hole, nullptr, 1);
  ASSERT_NE(nullptr, ins);
  int32_t x = 9;
  ASSERT_EQ(0, Exec(ins, {CollIn(c), IntVar(&x)}));
  EXPECT_EQ((std::vector<int32_t>{9, 1}), Ints(c));
}

TEST_F(CollRouteTest, DeclaredCursorFetchesUpdatesAndDeletes) {
  SqliCollection* c = IntColl(SQLLIST, {3, 1, 2});
  int32_t x = 0;
  int16_t xi = 0;
  SqliValueItem in[1] = {CollIn(c)};
  SqliValueItem out[1] = {IntVar(&x, &xi)};
  SqliItemList inl{1, in}, outl{1, out};
  SqliCursor* k = sqli_curs_locate(1, "k1", 0);
  EXPECT_EQ(-1828, sqli_curs_decl_stat(1, k, "k1", kText, &inl, &outl, 0x20, nullptr, nullptr, Word(2), nullptr, 1));
  ASSERT_EQ(0, sqli_curs_decl_stat(1, k, "k1", kText, &inl, &outl, 0, nullptr, nullptr, Word(2), nullptr, 1));
  EXPECT_EQ(-259, sqli_curs_close(1, k));
  EXPECT_EQ(-400, Fetch(k));
  ASSERT_EQ(0, Open(k, {}));
  EXPECT_EQ(-9987, Open(k, {}));
  std::vector<int32_t> got;
  while (Fetch(k) == 0) got.push_back(x);
  EXPECT_EQ(100, sqlca.sqlcode);
  EXPECT_EQ((std::vector<int32_t>{3, 1, 2}), got);
  EXPECT_EQ(2, x);  // past the end the output stays
  EXPECT_EQ(-488, Put(k, {IntVar(&x)}));
  EXPECT_EQ(-469, Fetch(k, nullptr, "no_such_descriptor"));
  ASSERT_EQ(0, sqli_curs_close(1, k));
  EXPECT_EQ(-259, sqli_curs_close(1, k));

  // UPDATE and DELETE of the element under the cursor, as statements
  // without a cursor of their own that name it.
  ASSERT_EQ(0, Open(k, {}));
  ASSERT_EQ(0, Fetch(k));
  ASSERT_EQ(0, Fetch(k));
  EXPECT_EQ(1, x);
  int32_t eight = 8;
  std::vector<SqliCollValue> val{V(&eight, SQLINT, 4), End()};
  ASSERT_EQ(0, Run(c, SQLI_CK_UPDATE, val, k));
  ASSERT_EQ(0, Fetch(k));
  std::vector<SqliCollValue> none;
  ASSERT_EQ(0, Run(c, SQLI_CK_DELETE, none, k));
  ASSERT_EQ(0, sqli_curs_close(1, k));
  EXPECT_EQ((std::vector<int32_t>{3, 8}), Ints(c));

  // DECLARE again while open: the old cursor leaves the collection, so a
  // new OPEN attaches and the variable can be freed after FREE.
  ASSERT_EQ(0, Open(k, {}));
  ASSERT_EQ(0, sqli_curs_decl_stat(1, k, "k1", kText, &inl, &outl, 0, nullptr, nullptr, Word(2), nullptr, 1));
  k = sqli_curs_locate(1, "k1", 0);
  ASSERT_EQ(0, Open(k, {}));
  ASSERT_EQ(0, Fetch(k));
  EXPECT_EQ(3, x);
  ASSERT_EQ(0, sqli_curs_free(1, k));
  SqliCollection* gone = c;
  made_.erase(std::find(made_.begin(), made_.end(), c));
  EXPECT_EQ(0, zel_cl_dealloc(&gone));
  EXPECT_EQ(nullptr, gone);
}

TEST_F(CollRouteTest, CursorOnAPreparedStatementWithANameList) {
  // LIST of ROW(id INTEGER, label VARCHAR(12)).
  SqliCollection* c = New({{0, SQLLIST, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "id"},
                           {2, SQLVCHAR, 12, "label"}});
  const std::vector<std::pair<int32_t, std::string>> model{{4, "bolts"}, {7, "nuts"}, {1, "washers"}};
  std::deque<std::string> texts;
  for (const auto& [id, label] : model) {
    store_.push_back(id);
    texts.push_back(label);
    std::vector<SqliCollValue> row{V(nullptr, SQLROW, 1, 1), V(&store_.back(), SQLINT, 4), M(-4),
                                   V(texts.back().data(), SQLCHAR, static_cast<int16_t>(label.size() + 1)), M(-1),
                                   End()};
    ASSERT_EQ(0, Run(c, SQLI_CK_INSERT, row));
  }
  std::string names = NameList({"label", "id"});
  SqliCursor* sel = Prep("rsel", SQLI_CK_SELECT, nullptr, names.data());
  ASSERT_NE(nullptr, sel);
  SqliCursor* k = DeclareOn("rk", sel);
  ASSERT_NE(nullptr, k);
  // On a prepared statement the variable comes with OPEN.
  int32_t notcoll = 0;
  EXPECT_EQ(-1817, Open(k, {IntVar(&notcoll)}));
  EXPECT_EQ(-1817, Open(k, {}));
  ASSERT_EQ(0, Open(k, {CollIn(c)}));
  char label[16];
  int32_t id = 0;
  int16_t il = 0, ii = 0;
  std::vector<SqliValueItem> outs{TextVar(label, sizeof label, &il), IntVar(&id, &ii)};
  SqliDescriptor od = Desc(outs);
  std::vector<std::pair<int32_t, std::string>> got;
  while (Fetch(k, &od) == 0) got.emplace_back(id, label);
  EXPECT_EQ(100, sqlca.sqlcode);
  EXPECT_EQ(model, got);
  ASSERT_EQ(0, sqli_curs_close(1, k));
  // The statement freed, its cursor keeps its own copy.
  ASSERT_EQ(0, sqli_curs_free(1, sel));
  ASSERT_EQ(0, Open(k, {CollIn(c)}));
  ASSERT_EQ(0, Fetch(k, &od));
  EXPECT_EQ(4, id);
  EXPECT_STREQ("bolts", label);
  ASSERT_EQ(0, sqli_curs_free(1, k));  // open: FREE detaches it

  // A statement without text is unknown; a missing cursor record -404.
  SqliCursor* bare = sqli_curs_locate(1, "bare", 1);
  SqliCursor* k2 = sqli_curs_locate(1, "rk2", 0);
  EXPECT_EQ(-481, sqli_curs_decl_dynm(1, k2, "rk2", bare, 0, 1));
  SqliCursor* sel2 = Prep("rsel2", SQLI_CK_SELECT, nullptr);
  ASSERT_NE(nullptr, sel2);
  sqli_sqlca_reset(sqli_runtime_get());
  EXPECT_EQ(-404, sqli_curs_decl_dynm(1, nullptr, "rk2", sel2, 0, 1));
  EXPECT_EQ(-1828, sqli_curs_decl_dynm(1, k2, "rk2", sel2, 0x1000, 1));

  // DECLARE on a text over a cursor declared on a prepared statement: the
  // record is freed and made anew, and the statement loses its cursor.
  SqliCursor* k3 = DeclareOn("rk3", sel2);
  EXPECT_NE(0u, sel2->flags & SQLI_CF_HAS_CURSOR);
  SqliValueItem in[1] = {CollIn(c)};
  SqliItemList inl{1, in};
  ASSERT_EQ(0, sqli_curs_decl_stat(1, k3, "rk3", kText, &inl, nullptr, 0, nullptr, names.data(), Word(2), nullptr, 1));
  EXPECT_EQ(0u, sel2->flags & SQLI_CF_HAS_CURSOR);
  k3 = sqli_curs_locate(1, "rk3", 0);
  EXPECT_EQ(0u, k3->flags & SQLI_CF_DYNAMIC);
  ASSERT_EQ(0, Open(k3, {}));
  ASSERT_EQ(0, Fetch(k3, &od));
  EXPECT_EQ(4, id);
  EXPECT_STREQ("bolts", label);
}

TEST_F(CollRouteTest, InsertCursorsPutAndFlush) {
  SqliCollection* c = IntColl(SQLLIST, {1});
  std::vector<int32_t> model{1};
  std::vector<SqliCollValue> hole{M(-3), End()};
  SqliCursor* pins = Prep("pins", SQLI_CK_INSERT, &hole);
  ASSERT_NE(nullptr, pins);
  SqliCursor* k = DeclareOn("pk", pins);
  int32_t x = 0;
  EXPECT_EQ(-413, Put(k, {IntVar(&x)}));
  EXPECT_EQ(-422, sqli_curs_flush(1, k));
  // The insert cursor opens with the variable alone: PUT gives the values.
  ASSERT_EQ(0, Open(k, {CollIn(c)}));
  for (int32_t v : {20, 30, 40}) {
    x = v;
    ASSERT_EQ(0, Put(k, {IntVar(&x)}));
    model.push_back(v);
  }
  EXPECT_EQ(model, Ints(c));
  EXPECT_EQ(-418, Put(k, {}));
  EXPECT_EQ(-236, Put(k, {IntVar(&x), IntVar(&x)}));
  EXPECT_EQ(-469, sqli_curs_put(1, k, nullptr, "no_such_descriptor"));
  // Nothing is held back: FLUSH changes nothing.
  ASSERT_EQ(0, sqli_curs_flush(1, k));
  EXPECT_EQ(model, Ints(c));
  ASSERT_EQ(0, sqli_curs_close(1, k));
  EXPECT_EQ(-422, sqli_curs_flush(1, k));

  // FLUSH of a select cursor on a prepared statement: not an insert cursor.
  SqliCursor* sel = Prep("psel", SQLI_CK_SELECT, nullptr);
  SqliCursor* sk = DeclareOn("psk", sel);
  ASSERT_EQ(0, Open(sk, {CollIn(c)}));
  EXPECT_EQ(-417, sqli_curs_flush(1, sk));
  ASSERT_EQ(0, sqli_curs_close(1, sk));

  // A cursor declared on a text names its host variable in the value list:
  // PUT inserts what the variable holds at the time.
  int32_t y = 0;
  std::vector<SqliCollValue> host{V(&y, SQLINT, 4), End()};
  SqliValueItem in[1] = {CollIn(c)};
  SqliItemList inl{1, in};
  SqliCursor* tk = sqli_curs_locate(1, "tk", 0);
  ASSERT_EQ(0, sqli_curs_decl_stat(1, tk, "tk", kText, &inl, nullptr, 0, host.data(), nullptr, Word(SQLI_CK_INSERT),
                                   nullptr, 1));
  ASSERT_EQ(0, Open(tk, {}));
  for (int32_t v : {50, 60}) {
    y = v;
    ASSERT_EQ(0, Put(tk, {}));
    model.push_back(v);
  }
  ASSERT_EQ(0, sqli_curs_flush(1, tk));
  ASSERT_EQ(0, sqli_curs_close(1, tk));
  EXPECT_EQ(model, Ints(c));
}

TEST_F(CollRouteTest, SingletonSelect) {
  int32_t x = -1;
  int16_t xi = 5;
  SqliValueItem out = IntVar(&x, &xi);
  struct Case {
    std::vector<int32_t> values;
    int32_t code;
    int32_t delivered;
  } cases[] = {{{41}, 0, 41}, {{10, 20}, -284, 10}, {{}, 100, 99}};
  std::vector<SqliCollValue> hole{M(-3), End()};
  SqliCursor* sel = Prep("one", SQLI_CK_SELECT, nullptr);
  ASSERT_NE(nullptr, sel);
  for (const Case& k : cases) {
    SqliValueItem var = CollIn(IntColl(SQLLIST, k.values));
    x = 99;
    EXPECT_EQ(k.code, sqli_slct(1, 1, kText, 1, &var, 1, &out, 0, nullptr, nullptr, 1)) << k.values.size();
    EXPECT_EQ(k.delivered, x);
    // The same through EXECUTE of a prepared SELECT ... INTO.
    x = 99;
    SqliItemList into{1, &out};
    EXPECT_EQ(k.code, Exec(sel, {var}, &into)) << k.values.size();
    EXPECT_EQ(k.delivered, x);
  }
  SqliValueItem notcoll = IntVar(&x);
  EXPECT_EQ(-1817, sqli_slct(1, 1, kText, 1, &notcoll, 1, &out, 0, nullptr, nullptr, 1));
  EXPECT_EQ(-1817, sqli_slct(1, 1, kText, 0, nullptr, 1, &out, 0, nullptr, nullptr, 1));
  // A ROW variable's fields by name.
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "id"}, {1, SQLINT, 4, "qty"}});
  int32_t id = 3, qty = 30;
  std::vector<SqliCollValue> fields{V(&id, SQLINT, 4), M(-4), V(&qty, SQLINT, 4), End()};
  ASSERT_EQ(0, Run(r, SQLI_CK_UPDATE_ALL, fields, nullptr, nullptr, 123));
  std::string names = NameList({"qty"});
  SqliValueItem rv = CollIn(r, true);
  ASSERT_EQ(0, sqli_slct(1, 1, kText, 1, &rv, 1, &out, 0, nullptr, names.data(), 1));
  EXPECT_EQ(30, x);
}

TEST_F(CollRouteTest, ErrorsOfTheStatementCalls) {
  SqliCollection* c = IntColl(SQLLIST, {1, 2});
  SqliValueItem var = CollIn(c);
  // PREPARE: a bad name; a statement without a kind cannot run.
  EXPECT_EQ(nullptr, Prep("1 bad name", SQLI_CK_INSERT, nullptr));
  EXPECT_EQ(-481, sqlca.sqlcode);
  SqliCursor* kindless = Prep("kindless", 0, nullptr);
  ASSERT_NE(nullptr, kindless);
  EXPECT_EQ(-404, Exec(kindless, {var}));
  // EXECUTE: no variable; an unknown descriptor.
  std::vector<SqliCollValue> hole{M(-3), End()};
  SqliCursor* ins = Prep("e_ins", SQLI_CK_INSERT, &hole);
  EXPECT_EQ(-1817, sqli_exec(1, ins, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(-469, sqli_exec(1, ins, nullptr, "no_such_descriptor", nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(-418, sqli_coll_exec(ins, 0, nullptr, nullptr, 0, nullptr, nullptr));
  // DECLARE without a record.
  SqliValueItem in[1] = {var};
  SqliItemList inl{1, in};
  EXPECT_EQ(-404, sqli_curs_decl_stat(1, nullptr, "k", kText, &inl, nullptr, 0, nullptr, nullptr, Word(2), nullptr, 1));
  // OPEN and FETCH with unknown descriptors; a named descriptor works.
  SqliCursor* k = sqli_curs_locate(1, "ek", 0);
  int32_t x = 0;
  SqliValueItem out[1] = {IntVar(&x)};
  SqliItemList outl{1, out};
  ASSERT_EQ(0, sqli_curs_decl_stat(1, k, "ek", kText, &inl, &outl, 0, nullptr, nullptr, Word(2), nullptr, 1));
  EXPECT_EQ(-469, sqli_curs_open(1, k, nullptr, "no_such_descriptor", nullptr, 0, 0));
  ASSERT_EQ(0, Open(k, {}));
  EXPECT_EQ(-469, Fetch(k, nullptr, "no_such_descriptor"));
  ASSERT_EQ(0, sqli_desc_alloc("route_out", 1));
  SqliDescriptor* d = sqli_desc_table_find("route_out");
  ASSERT_NE(nullptr, d);
  d->items[0].type = 102;
  d->items[0].length = 4;
  d->items[0].data = reinterpret_cast<char*>(&x);
  ASSERT_EQ(0, Fetch(k, nullptr, "route_out"));
  EXPECT_EQ(1, x);
  d->items[0].data = nullptr;
  EXPECT_EQ(0, sqli_desc_dealloc("route_out"));
  // A cursor declared without its variable has nothing to open.
  SqliCursor* nk = sqli_curs_locate(1, "nk", 0);
  ASSERT_EQ(0, sqli_curs_decl_stat(1, nk, "nk", kText, nullptr, &outl, 0, nullptr, nullptr, Word(2), nullptr, 1));
  EXPECT_EQ(-1817, Open(nk, {}));
  // A variable without a type description.
  SqliCollection* bare = nullptr;
  ASSERT_EQ(0, sqli_cl_alloc(0, &bare, nullptr));
  made_.push_back(bare);
  SqliValueItem bin[1] = {CollIn(bare)};
  SqliItemList binl{1, bin};
  EXPECT_EQ(-1815, sqli_curs_decl_stat(1, nk, "nk", kText, &binl, &outl, 0, nullptr, nullptr, Word(2), nullptr, 1));
  EXPECT_EQ(-1815, Exec(ins, {CollIn(bare), IntVar(&x)}));
}

}  // namespace
