// PUT and FLUSH of insert cursors against the python3 test server: rows
// stay on the client until the buffer is full, a FLUSH, CLOSE or an error
// sends them; the server logs each row it received (compared with rows
// built here from the column layout) and keeps them in its table.
#include "sqlruntime/insert_cursor.h"

#include "sqlruntime/blobs.h"

#include <cstring>

#include "sqlruntime/connection.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;
using sqli_test::Row100;

// The two host variables of a t1 row: a 32-bit integer and a string.
struct RowVars {
  int32_t a = 0;
  char b[97] = {};
  SqliValueItem items[2] = {};
  SqliDescriptor desc{};
  RowVars() {
    items[0].type = 102;
    items[0].length = 4;
    items[0].data = reinterpret_cast<char*>(&a);
    items[0].ind_type = -1;
    items[1].type = 100;
    items[1].length = sizeof b;
    items[1].data = b;
    items[1].ind_type = -1;
    desc.count = 2;
    desc.items = items;
    desc.max_count = 2;
  }
  SqliDescriptor* Set(int i) {
    a = i;
    std::snprintf(b, sizeof b, "row%d", i);
    return &desc;
  }
};

std::string Rows(int from, int to) {
  std::string out = std::to_string(to - from + 1);
  for (int i = from; i <= to; ++i) out += " " + Row100(i);
  return out;
}

class PutTest : public ExchangeTest {
 protected:
  SqliCursor* OpenInsert(const std::string& caps = "00") {
    Start("\"caps\": \"" + caps + "\", \"tables\": {" + sqli_test::Table100(0) + "}");
    SqliCursor* c = Declare("i1", "insert into t1");
    EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
    return c;
  }
  RowVars v_;
};

TEST_F(PutTest, FullBufferSendsFortyRowsWithTheFortieth) {
  SqliCursor* c = OpenInsert();
  ASSERT_EQ(c->row_size, 100);
  ASSERT_EQ(c->rows_in_buffer, 40) << "free slots of a 4,096-byte buffer";
  size_t before = Codes().size();
  for (int i = 1; i <= 39; ++i) ASSERT_EQ(sqli_curs_put(1, c, v_.Set(i), nullptr), 0) << i << " " << sqlca.sqlcode;
  EXPECT_EQ(Codes().size(), before) << "39 rows held";
  EXPECT_EQ(sqli_put_held(c), 39);
  ASSERT_EQ(sqli_curs_put(1, c, v_.Set(40), nullptr), 0);
  ASSERT_EQ(Codes().size(), before + 1);
  EXPECT_EQ(LastCodes(), "4,17,12");
  ASSERT_EQ(Puts().size(), 1u);
  EXPECT_EQ(Puts()[0], Rows(1, 40));
  EXPECT_EQ(sqlca.sqlerrd[2], 40);
  EXPECT_EQ(c->rows_in_buffer, 40);
  // FLUSH after three more sends those three.
  for (int i = 41; i <= 43; ++i) ASSERT_EQ(sqli_curs_put(1, c, v_.Set(i), nullptr), 0);
  ASSERT_EQ(sqli_curs_flush(1, c), 0);
  EXPECT_EQ(LastCodes(), "4,17,12");
  EXPECT_EQ(Puts().back(), Rows(41, 43));
  EXPECT_EQ(sqlca.sqlerrd[2], 3);
  size_t n = Codes().size();
  ASSERT_EQ(sqli_curs_flush(1, c), 0);
  EXPECT_EQ(Codes().size(), n) << "nothing held, nothing sent";
}

TEST_F(PutTest, CloseAndFreeSendHeldRowsFirst) {
  SqliCursor* c = OpenInsert();
  for (int i = 1; i <= 2; ++i) ASSERT_EQ(sqli_curs_put(1, c, v_.Set(i), nullptr), 0);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(LastCodes(), "4,17,10,11,12");
  EXPECT_EQ(Puts().back(), Rows(1, 2));
  // Opened again: one row held, then FREE.
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(sqli_curs_put(1, c, v_.Set(3), nullptr), 0);
  ASSERT_EQ(sqli_curs_free(1, c), 0);
  EXPECT_EQ(Puts().back(), Rows(3, 3));
  EXPECT_EQ(Puts().size(), 2u);
}

TEST_F(PutTest, Errors) {
  SqliCursor* c = OpenInsert();
  ASSERT_EQ(sqli_curs_put(1, c, v_.Set(1), nullptr), 0);
  // A value that cannot be converted: the held row goes, the failing one
  // is dropped.
  v_.Set(2);
  v_.items[0].type = 100;
  char bad[] = "not a number";
  v_.items[0].data = bad;
  v_.items[0].length = sizeof bad;
  size_t before = Codes().size();
  EXPECT_LT(sqli_curs_put(1, c, &v_.desc, nullptr), 0);
  int32_t err = sqlca.sqlcode;
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  EXPECT_EQ(Codes().size(), before + 1);
  EXPECT_EQ(Puts().back(), Rows(1, 1));
  EXPECT_EQ(sqli_put_held(c), 0);
  // A value without data that is not null.
  RowVars w;
  w.Set(3);
  w.items[1].data = nullptr;
  EXPECT_EQ(sqli_curs_put(1, c, &w.desc, nullptr), -419);
  EXPECT_EQ(Codes().size(), before + 1);
  (void)err;
  SqliDescriptor none{};
  EXPECT_EQ(sqli_curs_put(1, c, &none, nullptr), -418) << "no values";
  EXPECT_EQ(sqli_curs_put(1, c, nullptr, "nosuch"), -469);
  // A SELECT cursor.
  SqliCursor* s = Declare("s1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, s, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(sqli_curs_flush(1, s), -417);
  EXPECT_EQ(sqli_curs_put(1, s, v_.Set(1), nullptr), -488);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(sqli_curs_put(1, c, v_.Set(1), nullptr), -413);
  EXPECT_EQ(sqli_curs_flush(1, c), -422);
}

TEST_F(PutTest, OneValueTooFewOnExtendedTypesSendsNothing) {
  SqliCursor* c = OpenInsert("20");
  ASSERT_EQ(sqli_curs_put(1, c, v_.Set(1), nullptr), 0);
  size_t before = Codes().size();
  v_.desc.count = 1;
  EXPECT_EQ(sqli_curs_put(1, c, &v_.desc, nullptr), -254);
  EXPECT_EQ(Codes().size(), before);
  EXPECT_EQ(sqli_put_held(c), 1);
  ASSERT_EQ(sqli_curs_flush(1, c), 0);
  EXPECT_EQ(Puts().back(), Rows(1, 1));
}

TEST_F(PutTest, CommitSendsHeldRowsAndRollbackDropsThem) {
  SqliCursor* c = OpenInsert();
  SqliCursor* s = Declare("s1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, s, nullptr, nullptr, nullptr, 1, 0), 0);
  SqliCursor* h = Declare("s2", "select * from t1", 0x1000);
  ASSERT_EQ(sqli_curs_open(1, h, nullptr, nullptr, nullptr, 1, 0), 0);
  for (int i = 1; i <= 2; ++i) ASSERT_EQ(sqli_curs_put(1, c, v_.Set(i), nullptr), 0);
  ASSERT_EQ(sqli_exec_immed("commit work"), 0) << sqlca.sqlcode;
  auto codes = Codes();
  // The rows first, then each cursor without hold closes, then the COMMIT.
  ASSERT_GE(codes.size(), 5u);
  EXPECT_EQ(codes[codes.size() - 4], "4,17,12");
  EXPECT_EQ(Puts().back(), Rows(1, 2));
  EXPECT_EQ(codes.back(), "4,7,11,12");
  EXPECT_EQ(c->flags & SQLI_CF_OPEN, 0u);
  EXPECT_EQ(s->flags & SQLI_CF_OPEN, 0u);
  EXPECT_NE(h->flags & SQLI_CF_OPEN, 0u) << "a cursor with hold stays open";
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(sqli_curs_put(1, c, v_.Set(3), nullptr), 0);
  ASSERT_EQ(sqli_exec_immed("rollback work"), 0);
  EXPECT_EQ(Puts().size(), 1u) << "the held row was dropped";
  EXPECT_EQ(c->flags & SQLI_CF_OPEN, 0u);
}

TEST_F(PutTest, RowsPutComeBackByFetch) {
  SqliCursor* c = OpenInsert();
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(sqli_curs_put(1, c, v_.Set(i * 11), nullptr), 0);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  int32_t a = 0;
  char b[97] = {};
  SqliValueItem out[2] = {};
  out[0] = v_.items[0];
  out[0].data = reinterpret_cast<char*>(&a);
  out[1] = v_.items[1];
  out[1].data = b;
  SqliItemList outs{2, out};
  SqliCursor* s = Declare("s1", "select * from t1", 0, nullptr, &outs);
  ASSERT_EQ(sqli_curs_open(1, s, nullptr, nullptr, nullptr, 1, 0), 0);
  SqliFetchSpec next{0, 1, 0};
  for (int i = 1; i <= 5; ++i) {
    ASSERT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &next), 0) << i << " " << sqlca.sqlcode;
    EXPECT_EQ(a, i * 11);
    // CHAR(96) into a string of 97: blank-padded to the column's length.
    EXPECT_EQ(std::string(b), ("row" + std::to_string(i * 11)) + std::string(96 - 3 - std::to_string(i * 11).size(), ' '));
  }
  EXPECT_EQ(sqli_curs_fetch(1, s, nullptr, nullptr, nullptr, &next), 100);
}

TEST_F(PutTest, VariableRowsGoInOne133OrOne17Each) {
  // INTEGER a, LVARCHAR lv: rows of their values' own sizes.
  const std::string table =
      "\"tables\": {\"t9\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, {\"name\": \"lv\", "
      "\"type\": 40, \"length\": 2048, \"xid\": 1, \"tname\": \"lvarchar\"}], \"rows\": []}}";
  for (const char* caps : {"200000000002", "20"}) {
    Start(std::string("\"caps\": \"") + caps + "\", " + table);
    SqliCursor* c = Declare("i9", "insert into t9");
    ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
    ASSERT_GT(c->variable_columns, 0);
    const char* texts[] = {"x", "a longer value"};
    for (int i = 0; i < 2; ++i) {
      RowVars v;
      v.Set(i + 1);
      std::snprintf(v.b, sizeof v.b, "%s", texts[i]);
      ASSERT_EQ(sqli_curs_put(1, c, &v.desc, nullptr), 0) << caps << " " << sqlca.sqlcode;
    }
    ASSERT_EQ(sqli_curs_flush(1, c), 0) << sqlca.sqlcode;
    // Stored: INTEGER, then null flag, 32-bit length and the bytes.
    auto row = [](int a, const std::string& t) {
      return sqli_test::Int32Hex(a) + "00" + sqli_test::Int32Hex(static_cast<int>(t.size())) +
             sqli_test::Hex(t.data(), t.size());
    };
    auto puts = Puts();
    if (std::string(caps) == "20") {
      ASSERT_EQ(puts.size(), 2u) << server_->Log();
      EXPECT_EQ(puts[0], "1 " + row(1, texts[0]));
      EXPECT_EQ(puts[1], "1 " + row(2, texts[1]));
    } else {
      ASSERT_EQ(puts.size(), 1u) << server_->Log();
      EXPECT_EQ(puts[0], "2 " + row(1, texts[0]) + " " + row(2, texts[1]));
    }
    EXPECT_EQ(sqlca.sqlerrd[2], 2);
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(PutTest, TextValueGoesAtOnceWithItsRow) {
  Start("\"caps\": \"00\", \"tables\": {\"t7\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
        "{\"name\": \"t\", \"type\": 12, \"length\": 56}], \"rows\": []}}");
  SqliCursor* c = Declare("i7", "insert into t7");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0) << sqlca.sqlcode;
  ASSERT_EQ(c->row_size, 60);
  int32_t a = 5;
  char text[] = "hello text";
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer = text;
  loc.buffer_size = 10;
  loc.size = 10;
  loc.type = 12;
  SqliValueItem items[2] = {};
  items[0].type = 102, items[0].length = 4, items[0].data = reinterpret_cast<char*>(&a), items[0].ind_type = -1;
  items[1].type = 113, items[1].length = sizeof loc, items[1].data = reinterpret_cast<char*>(&loc);
  items[1].ind_type = -1;
  SqliDescriptor d{2, items, nullptr, 2};
  size_t before = Codes().size();
  ASSERT_EQ(sqli_curs_put(1, c, &d, nullptr), 0) << sqlca.sqlcode;
  ASSERT_EQ(Codes().size(), before + 1) << "no waiting for a full buffer";
  EXPECT_EQ(LastCodes(), "4,17,41,39,39,12");
  ASSERT_EQ(Puts().size(), 1u);
  EXPECT_EQ(Puts()[0].substr(0, 10), "1 00000005");
  bool value = false;
  for (const std::string& l : server_->Lines()) value |= l == "value " + sqli_test::Hex(text, 10);
  EXPECT_TRUE(value) << server_->Log();
}

}  // namespace
