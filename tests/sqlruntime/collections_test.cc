// Collection and row host-variable records (allocation, cardinality,
// release with the server's copy freed), the binding checks, and reading
// elements with a singleton SELECT and with client-side cursors.
#include <deque>

#include "sqlruntime/collections.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/hostvalues.h"
#include "tests/sqlruntime/coll_fixture.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using namespace coll_test;
using sqli_test::Server;
using sqli_test::SqliTest;

class CollectionsTest : public CollectionsFixture<SqliTest> {
 protected:
  SqliCollection* Ints(uint16_t kind, std::initializer_list<int32_t> values) {
    SqliCollection* c = New({{0, kind, 0, nullptr}, {1, SQLINT, 4, nullptr}});
    for (int32_t v : values) {
      store_.push_back(v);
      EXPECT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(&store_.back(), SQLINT, 4)}));
    }
    return c;
  }
  std::deque<int32_t> store_;
};

TEST_F(CollectionsTest, RecordsWithoutTypesAndNullValues) {
  SqliCollection* bare = nullptr;
  ASSERT_EQ(0, sqli_cl_alloc(0, &bare, nullptr));
  made_.push_back(bare);
  EXPECT_EQ(COLL_MAGIC, bare->cl_magic == 0 ? COLL_MAGIC : bare->cl_magic);
  EXPECT_EQ(nullptr, bare->cl_typeinfo);
  // Every statement on a value without a type description: -1815.
  int32_t x = 1;
  int16_t ind = 0;
  SqliValueItem out = Out(102, 4, &x, &ind);
  SqliValueItem var = Var(bare);
  EXPECT_EQ(-1815, sqli_coll_slct(&var, 1, &out, nullptr));
  EXPECT_EQ(-1815, Stmt(bare, SQLI_CK_INSERT, {V(&x, SQLINT, 4)}));
  EXPECT_EQ(-1815, Stmt(bare, SQLI_CK_UPDATE_ALL, {V(&x, SQLINT, 4)}));
  SqliCursor st = Record();
  EXPECT_EQ(-1815, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 1, &out, nullptr, nullptr, SQLI_CK_SELECT, 0));
  sqli_coll_free(&st);
  EXPECT_EQ(-1815, sqli_coll_check_typed(1, &var));
  // A null pointer must be marked null.
  SqliValueItem none = Var(nullptr);
  EXPECT_EQ(-1814, sqli_coll_check_typed(1, &none));
  int16_t minus1 = -1;
  none.indicator = &minus1;
  EXPECT_EQ(0, sqli_coll_check_typed(1, &none));

  // Cardinality: a null record is refused, a null value is 0 with flag 1,
  // and the sqlca is left alone.
  int32_t flag = 5;
  sqlca.sqlcode = -12345;
  EXPECT_EQ(-1814, zel_cl_card(nullptr, &flag));
  EXPECT_EQ(5, flag);
  SqliCollection* c = Ints(SQLLIST, {1, 2});
  sqlca.sqlcode = -12345;
  EXPECT_EQ(2, zel_cl_card(c, &flag));
  EXPECT_EQ(0, flag);
  SqliCollection* n = New({{0, SQLSET, 0, nullptr}, {1, SQLINT, 4, nullptr}});
  n->cl_flags |= COLL_ISNULL;
  sqlca.sqlcode = -12345;
  EXPECT_EQ(0, zel_cl_card(n, &flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(-12345, sqlca.sqlcode);

  // Release of a null pointer changes nothing and succeeds.
  SqliCollection* gone = nullptr;
  EXPECT_EQ(0, zel_cl_dealloc(&gone));
  EXPECT_EQ(nullptr, gone);
  EXPECT_EQ(0, zel_cl_dealloc(nullptr));
}

TEST_F(CollectionsTest, NameLengthsForServersWithoutLongIdentifiers) {
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "a_field_name_of_19x"}});
  SqliValueItem var = Var(r, 123);
  // No connection: no long-identifier capability.
  EXPECT_EQ(-253, sqli_coll_check_idlen(1, &var));
  SqliCollection* ok = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "eighteen_chars_abc"}});
  SqliValueItem var2 = Var(ok, 123);
  EXPECT_EQ(0, sqli_coll_check_idlen(1, &var2));
  char* text = sqli_coll_typetext(ok);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ("row(eighteen_chars_abc integer)", text);
  free(text);
}

TEST_F(CollectionsTest, SingletonSelect) {
  int32_t x = -1;
  int16_t ind = 5;
  SqliValueItem out = Out(102, 4, &x, &ind);
  SqliValueItem one = Var(Ints(SQLLIST, {41}));
  ASSERT_EQ(0, sqli_coll_slct(&one, 1, &out, nullptr));
  EXPECT_EQ(41, x);
  EXPECT_EQ(0, ind);
  SqliValueItem two = Var(Ints(SQLLIST, {10, 20}));
  EXPECT_EQ(-284, sqli_coll_slct(&two, 1, &out, nullptr));
  EXPECT_EQ(10, x);  // the first element is delivered
  SqliValueItem empty = Var(Ints(SQLLIST, {}));
  x = 99;
  EXPECT_EQ(100, sqli_coll_slct(&empty, 1, &out, nullptr));
  EXPECT_EQ(99, x);
  SqliValueItem notcoll = Out(102, 4, &x, &ind);
  EXPECT_EQ(-1817, sqli_coll_slct(&notcoll, 1, &out, nullptr));
  SqliValueItem nullvar = Var(nullptr);
  EXPECT_EQ(-1814, sqli_coll_slct(&nullvar, 1, &out, nullptr));
}

TEST_F(CollectionsTest, CursorsFetchToTheEndAndLeaveTheOutputs) {
  SqliCollection* c = Ints(SQLLIST, {3, 1, 2});
  SqliValueItem var = Var(c);
  int32_t x = 0;
  int16_t ind = 0;
  SqliValueItem out = Out(102, 4, &x, &ind);
  SqliCursor st = Record();
  ASSERT_EQ(0, sqli_coll_decl(&st, nullptr, nullptr, 1, &var, 1, &out, nullptr, nullptr, SQLI_CK_SELECT, 0));
  EXPECT_EQ(-259, sqli_coll_close(&st));  // never opened
  EXPECT_EQ(-400, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
  EXPECT_EQ(-9987, sqli_coll_open(&st, 0, nullptr, nullptr));  // already attached
  std::vector<int32_t> got;
  while (sqli_coll_fetch(&st, 0, nullptr, nullptr) == 0) got.push_back(x);
  EXPECT_EQ(100, sqlca.sqlcode);
  EXPECT_EQ((std::vector<int32_t>{3, 1, 2}), got);
  EXPECT_EQ(2, x);  // 100 leaves the outputs as they were
  EXPECT_EQ(-488, sqli_coll_put(&st, 1, &var, nullptr));  // not an insert cursor
  EXPECT_EQ(-469, sqli_coll_fetch(&st, 0, nullptr, "no_such_descriptor"));
  ASSERT_EQ(0, sqli_coll_close(&st));
  EXPECT_EQ(-259, sqli_coll_close(&st));
  // An update and a delete of the element under the cursor.
  ASSERT_EQ(0, sqli_coll_open(&st, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  int32_t eight = 8;
  std::vector<SqliCollValue> vals{V(&eight, SQLINT, 4), End()};
  ASSERT_EQ(0, sqli_coll_stmt(1, &var, vals.data(), nullptr, st.coll, SQLI_CK_UPDATE, 0));
  ASSERT_EQ(0, sqli_coll_fetch(&st, 0, nullptr, nullptr));
  ASSERT_EQ(0, sqli_coll_stmt(1, &var, nullptr, nullptr, st.coll, SQLI_CK_DELETE, 0));
  ASSERT_EQ(0, sqli_coll_close(&st));
  ASSERT_EQ(0, zel_coll_tuple(c));
  EXPECT_EQ((std::vector<int32_t>{3, 8}), coll_test::Ints(c));
  sqli_coll_free(&st);

  // An insert cursor: PUT binds the placeholder and appends.
  SqliCursor ins = Record();
  std::vector<SqliCollValue> hole{M(-3), End()};
  ASSERT_EQ(0, sqli_coll_decl(&ins, nullptr, nullptr, 1, &var, 0, nullptr, hole.data(), nullptr, SQLI_CK_INSERT, 0));
  EXPECT_EQ(-413, sqli_coll_put(&ins, 1, &out, nullptr));
  ASSERT_EQ(0, sqli_coll_open(&ins, 0, nullptr, nullptr));
  x = 5;
  ASSERT_EQ(0, sqli_coll_put(&ins, 1, &out, nullptr));
  ASSERT_EQ(0, sqli_coll_close(&ins));
  sqli_coll_free(&ins);
  EXPECT_EQ((std::vector<int32_t>{3, 8, 5}), coll_test::Ints(c));
}

TEST_F(CollectionsTest, VarcharIsCutToTheOutputWithItsFullLengthAsIndicator) {
  SqliCollection* c = New({{0, SQLLIST, 0, nullptr}, {1, SQLVCHAR, 20, nullptr}});
  char ten[] = "abcdefghij";
  ASSERT_EQ(0, Stmt(c, SQLI_CK_INSERT, {V(ten, SQLCHAR, 11)}));
  char out[6];
  std::memset(out, 'z', sizeof out);
  int16_t ind = 0;
  SqliValueItem o = Out(SQLVCHAR, 6, out, &ind);
  SqliValueItem var = Var(c);
  ASSERT_EQ(0, sqli_coll_slct(&var, 1, &o, nullptr));
  EXPECT_STREQ("abcde", out);
  EXPECT_EQ(10, ind);
  // Room for all of it: indicator 0.
  char big[32];
  SqliValueItem ob = Out(114, 32, big, &ind);
  ASSERT_EQ(0, sqli_coll_slct(&var, 1, &ob, nullptr));
  EXPECT_STREQ("abcdefghij", big);
  EXPECT_EQ(0, ind);
}

TEST_F(CollectionsTest, RowFieldsReachScalarOutputsByNameList) {
  SqliCollection* r = New({{0, SQLROW, 0, nullptr}, {1, SQLINT, 4, "id"}, {1, SQLVCHAR, 12, "label"},
                           {1, SQLINT, 4, "qty"}});
  int32_t id = 4, qty = 30;
  char label[] = "bolts";
  ASSERT_EQ(0, Stmt(r, SQLI_CK_UPDATE_ALL,
                    {V(&id, SQLINT, 4), M(-4), V(label, SQLCHAR, 6), M(-4), V(&qty, SQLINT, 4)}, nullptr, 0, 123));
  int32_t q = 0, i = 0;
  char l[16] = {};
  int16_t iq = 9, il = 9, ii = 9;
  SqliValueItem outs[2] = {Out(102, 4, &q, &iq), Out(114, 16, l, &il)};
  std::string names = NameList({"qty", "label  "});  // trailing blanks are no part of a name
  SqliValueItem var = Var(r, 123);
  ASSERT_EQ(0, sqli_coll_slct(&var, 2, outs, names.data()));
  EXPECT_EQ(30, q);
  EXPECT_STREQ("bolts", l);
  SqliValueItem all[3] = {Out(102, 4, &i, &ii), Out(114, 16, l, &il), Out(102, 4, &q, &iq)};
  ASSERT_EQ(0, sqli_coll_slct(&var, 3, all, nullptr));
  EXPECT_EQ(4, i);
  std::string bad = NameList({"nope"});
  EXPECT_EQ(-1816, sqli_coll_slct(&var, 1, outs, bad.data()));
  // A collection of rows: each element's named field.
  SqliCollection* lr = New({{0, SQLLIST, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "id"},
                            {2, SQLVCHAR, 12, "label"}});
  ASSERT_EQ(0, Stmt(lr, SQLI_CK_INSERT, {V(nullptr, SQLROW, 1, 1), V(&id, SQLINT, 4), M(-4), V(label, SQLCHAR, 6), M(-1)}));
  std::string only = NameList({"label"});
  SqliValueItem o1 = Out(114, 16, l, &il);
  std::memset(l, 0, sizeof l);
  SqliValueItem lvar = Var(lr);
  ASSERT_EQ(0, sqli_coll_slct(&lvar, 1, &o1, only.data()));
  EXPECT_STREQ("bolts", l);
}

TEST_F(CollectionsTest, DescribeIntoADescriptor) {
  // DESCRIBE of a prepared collection statement whose cursor is open.
  Server server("");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(0, sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1));
  const size_t requests = server.Requests().size();
  // LIST of ROW(id INTEGER, label VARCHAR(12)): four entries, two fields.
  SqliCollection* lr = New({{0, SQLLIST, 0, nullptr}, {1, SQLROW, 0, nullptr}, {2, SQLINT, 4, "id"},
                            {2, SQLVCHAR, 12, "label"}});
  SqliValueItem var = Var(lr, static_cast<int16_t>(118 | 0x8000));  // a collection host variable
  SqliDescriptor using_var{1, &var, nullptr, 1};
  SqliCursor* st = sqli_prep(1, "cd_stmt", "select * from table(?)", nullptr, nullptr, SQLI_CK_SELECT, 0, 1);
  ASSERT_NE(nullptr, st);
  SqliCursor* k = sqli_curs_locate(1, "cd_cursor", 0);
  ASSERT_EQ(0, sqli_curs_decl_dynm(1, k, "cd_cursor", st, 0, 1));
  ASSERT_EQ(0, sqli_desc_alloc("cd_small", 3));
  ASSERT_EQ(0, sqli_desc_alloc("cd", 4));
  EXPECT_EQ(-259, sqli_describe_stmt(1, st, nullptr, "cd"));
  ASSERT_EQ(0, sqli_curs_open(1, k, &using_var, nullptr, nullptr, 0, 0));
  EXPECT_EQ(-469, sqli_describe_stmt(1, st, nullptr, "nope"));
  EXPECT_EQ(-479, sqli_describe_stmt(1, st, nullptr, "cd_small"));
  ASSERT_EQ(0, sqli_describe_stmt(1, st, nullptr, "cd"));
  SqliDescriptor* d = sqli_desc_table_find("cd");
  ASSERT_EQ(2, d->count);
  EXPECT_EQ(SQLINT, d->items[0].type);
  EXPECT_STREQ("id", d->items[0].name);
  EXPECT_EQ(SQLVCHAR, d->items[1].type);
  EXPECT_EQ(12, d->items[1].length);
  EXPECT_STREQ("label", d->items[1].name);
  // Described again: the earlier names are freed.
  ASSERT_EQ(0, sqli_describe_stmt(1, st, nullptr, "cd"));
  // Into a new value description, sized by the type description.
  SqliDescriptor* made = nullptr;
  ASSERT_EQ(0, sqli_describe_stmt(1, st, &made, nullptr));
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(4, made->max_count);
  ASSERT_EQ(2, made->count);
  EXPECT_EQ(SQLINT, made->items[0].type);
  EXPECT_STREQ("label", made->items[1].name);
  std::free(made);
  // Closed again, there is no open collection to describe.
  ASSERT_EQ(0, sqli_curs_close(1, k));
  EXPECT_EQ(-259, sqli_describe_stmt(1, st, nullptr, "cd"));
  EXPECT_EQ(0, sqli_curs_free(1, k));
  EXPECT_EQ(0, sqli_curs_free(1, st));
  EXPECT_EQ(0, sqli_desc_dealloc("cd"));
  EXPECT_EQ(0, sqli_desc_dealloc("cd_small"));
  // Nothing of it reached the server.
  EXPECT_EQ(requests, server.Requests().size());
}

TEST_F(CollectionsTest, ReleaseAsksTheServerToFreeItsCopy) {
  Server server("");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(0, sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1));
  SqliCollection* c = Make({{0, SQLSET, 0, nullptr}, {1, SQLINT, 4, nullptr}});
  SqliCollection* local = Make({{0, SQLSET, 0, nullptr}, {1, SQLINT, 4, nullptr}});
  c->cl_handle = 0x1234;
  ASSERT_EQ(0, zel_cl_dealloc(&c));
  EXPECT_EQ(nullptr, c);
  ASSERT_EQ(0, zel_cl_dealloc(&local));  // no handle: nothing is sent
  EXPECT_TRUE(server.WaitFor("collection free 4660"));
  int frees = 0;
  for (const std::string& l : server.Lines()) frees += l.rfind("collection free", 0) == 0;
  EXPECT_EQ(1, frees);
}

}  // namespace
