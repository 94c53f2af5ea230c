// FETCH against the python3 test server: rows come in batches that fill
// the fetch buffer, later FETCHes are served from it (the server's log
// shows no exchange), scroll positions inside the buffered window are
// local, and under OPTOFC the OPEN travels with the first FETCH.
#include "sqlruntime/fetch.h"

#include "sqlruntime/connection.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;
using sqli_test::Py;

// The row number last handed out.
int32_t Current(const SqliCursor* c) { return c->last_row - c->rows_in_buffer; }

class FetchTest : public ExchangeTest {
 protected:
  int32_t Fetch(SqliCursor* c, int32_t direction = SQLI_FETCH_NEXT, int32_t position = 0) {
    SqliFetchSpec spec{position, direction, 0};
    return sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec);
  }
  SqliCursor* OpenOn(int rows, int32_t bits) {
    Start("\"caps\": \"20\", \"tables\": {" + sqli_test::Table100(rows) + "}");
    SqliCursor* c = Declare("c1", "select * from t1", bits);
    EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
    return c;
  }
};

TEST_F(FetchTest, TenRowsInOneExchangeThenHundredWithoutOne) {
  // The fourth row carries a row warning.
  Start("\"caps\": \"20\", \"row_warnings\": {\"3\": 256}, \"tables\": {" + sqli_test::Table100(10) + "}");
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  size_t before = Codes().size();
  for (int i = 1; i <= 10; ++i) {
    ASSERT_EQ(Fetch(c), 0) << "row " << i;
    EXPECT_EQ(c->rows_in_buffer, 10 - i);
    EXPECT_EQ(c->position - c->buffer, 100 * i);
    EXPECT_EQ(sqlca.sqlwarn.sqlwarn4, i == 4 ? 'W' : ' ') << "row " << i;
  }
  ASSERT_EQ(Codes().size(), before + 1);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(9)+h(4096)+h(12)"));
  EXPECT_EQ(Fetch(c), 100);
  EXPECT_EQ(Fetch(c), 100);
  EXPECT_EQ(Codes().size(), before + 1) << "the batch ended with the done reply";
}

TEST_F(FetchTest, LargeFetchBufferBringsAMegabyteInOneRequest) {
  setenv("FET_BUF_SIZE", "1048576", 1);
  const int rows = 1048576 / 100;
  Start("\"caps\": \"20000000000000" "01\", \"tables\": {" + sqli_test::Table100(rows) + "}");
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(c->buffer_size, 1048576);
  size_t before = Codes().size();
  int got = 0;
  while (Fetch(c) == 0) ++got;
  EXPECT_EQ(sqlca.sqlcode, 100);
  EXPECT_EQ(got, rows);
  ASSERT_EQ(Codes().size(), before + 1);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(9)+i(1048576)+h(12)"));
}

TEST_F(FetchTest, DefaultBufferTakesFortyRowsPerExchange) {
  SqliCursor* c = OpenOn(100, 0);
  size_t before = Codes().size();
  for (int i = 1; i <= 100; ++i) ASSERT_EQ(Fetch(c), 0) << i;
  EXPECT_EQ(Fetch(c), 100);
  // 4,096 bytes hold 40 rows of 100: 40, 40, 20.
  EXPECT_EQ(Codes().size(), before + 3);
}

TEST_F(FetchTest, Errors) {
  SqliCursor* c = OpenOn(3, 0);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_PRIOR), -482) << "not a scroll cursor";
  EXPECT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, 1), -482);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(Fetch(c), -400) << "closed";
  SqliCursor* ins = Declare("c2", "insert into t1");
  ASSERT_EQ(sqli_curs_open(1, ins, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(Fetch(ins), -488) << "an insert cursor";
  SqliCursor* sel = Declare("c3", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, sel, nullptr, nullptr, nullptr, 1, 0), 0);
  SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
  EXPECT_EQ(sqli_curs_fetch(1, sel, nullptr, nullptr, "nosuch", &spec), -469);
}

TEST_F(FetchTest, ScrollPriorAfterFirstFetchAsksAndGivesHundred) {
  SqliCursor* c = OpenOn(10, 0x20);
  size_t before = Codes().size();
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(23)+h(1)+i(0)+h(4096)+h(12)"));
  EXPECT_EQ(c->first_row, 1);
  EXPECT_EQ(c->last_row, 10);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_PRIOR), 100);
  EXPECT_EQ(Codes().size(), before + 2) << "PRIOR went to the server";
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(23)+h(2)+i(0)+h(4096)+h(12)"));
  // The former window is kept: the next row still comes from the buffer.
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(Current(c), 2);
  EXPECT_EQ(Codes().size(), before + 2);
}

TEST_F(FetchTest, ScrollPositionsInsideTheWindowAreLocal) {
  SqliCursor* c = OpenOn(10, 0x20);
  for (int i = 1; i <= 10; ++i) ASSERT_EQ(Fetch(c), 0);
  size_t before = Codes().size();
  ASSERT_EQ(before, 3u);  // prepare, open, one batch
  ASSERT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, 3), 0);
  EXPECT_EQ(Current(c), 3);
  EXPECT_EQ(c->rows_in_buffer, 7) << "rows 4 to 10 unread";
  EXPECT_EQ(c->position - c->buffer, 300);
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(Current(c), 4);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_PRIOR), 0);
  EXPECT_EQ(Current(c), 3);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_CURRENT), 0);
  EXPECT_EQ(Current(c), 3);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_RELATIVE, 4), 0);
  EXPECT_EQ(Current(c), 7);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_FIRST), 0);
  EXPECT_EQ(Current(c), 1);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_RELATIVE, 0), 0) << "RELATIVE 0 is CURRENT";
  EXPECT_EQ(Current(c), 1);
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(Current(c), 2);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_RELATIVE, -5), 100) << "before the first row";
  EXPECT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, 0), 100);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, -3), 100);
  EXPECT_EQ(Codes().size(), before) << "all of it from the buffer";
  // LAST always asks; a position outside the window too.
  ASSERT_EQ(Fetch(c, SQLI_FETCH_LAST), 0);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(23)+h(4)+i(0)+h(4096)+h(12)"));
  EXPECT_EQ(Current(c), 10);
  EXPECT_EQ(Codes().size(), before + 1);
  ASSERT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, 4), 0);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(23)+h(6)+i(4)+h(4096)+h(12)"));
  EXPECT_EQ(Current(c), 4);
  EXPECT_EQ(c->rows_in_buffer, 6);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_ABSOLUTE, 11), 100) << "beyond the last row";
  ASSERT_EQ(Fetch(c), 0) << "the window before the failed request stays";
  EXPECT_EQ(Current(c), 5);
}

TEST_F(FetchTest, ScrollCurrentWithoutWindow) {
  SqliCursor* c = OpenOn(3, 0x20);
  EXPECT_EQ(Fetch(c, SQLI_FETCH_CURRENT), -423);
  size_t before = Codes().size();
  EXPECT_EQ(Fetch(c, SQLI_FETCH_RELATIVE, 0), -423);
  EXPECT_EQ(Codes().size(), before);
}

TEST_F(FetchTest, ScrollPositionFromHostVariable) {
  SqliCursor* c = OpenOn(10, 0x20);
  int64_t where = 6;
  SqliValueItem item{};
  item.type = 103;
  item.length = 8;
  item.data = reinterpret_cast<char*>(&where);
  SqliItemList pos{1, &item};
  SqliFetchSpec spec{2, SQLI_FETCH_ABSOLUTE, 0};
  ASSERT_EQ(sqli_curs_fetch(1, c, &pos, nullptr, nullptr, &spec), 0);
  EXPECT_EQ(Current(c), 6);
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(23)+h(6)+i(6)+h(4096)+h(12)"));
}

TEST_F(FetchTest, OptofcOpenAndFetchAreOneExchange) {
  setenv("OPTOFC", "1", 1);
  Start("\"caps\": \"a0\", \"tables\": {" + sqli_test::Table100(3) + "}");
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  size_t before = Codes().size();
  ASSERT_EQ(Fetch(c), 0);
  ASSERT_EQ(Codes().size(), before + 1);
  EXPECT_EQ(LastCodes(), "4,3,6,4,9,12");
  EXPECT_EQ(c->deferred_open, 2);
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(c->deferred_open, 3);
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(Fetch(c), 100);
  EXPECT_EQ(Codes().size(), before + 1);
  // A FETCH on a cursor whose OPEN was never recorded.
  SqliCursor* d = Declare("c2", "select * from t1");
  EXPECT_EQ(Fetch(d), -400);
}

TEST_F(FetchTest, TypeCheckOncePerOpenOnExtendedTypesOnly) {
  // INTEGER a, LVARCHAR lv: variable rows; the LVARCHAR column makes the
  // output types go to the server.
  auto row = [](int a, const std::string& t) {
    return "\"" + sqli_test::Int32Hex(a) + "00" + sqli_test::Int32Hex(static_cast<int>(t.size())) +
           sqli_test::Hex(t.data(), t.size()) + "\"";
  };
  const std::string table =
      "\"tables\": {\"t9\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, {\"name\": \"lv\", "
      "\"type\": 40, \"length\": 2048, \"xid\": 1, \"tname\": \"lvarchar\"}], \"rows\": [" +
      row(1, "x") + ", " + row(2, "a longer value") + ", " + row(3, "") + "]}}";
  for (const char* caps : {"20", "00"}) {
    const bool xtypes = std::string(caps) == "20";
    Start(std::string("\"caps\": \"") + caps + "\", " + table);
    int32_t a = 0;
    char lv[40] = {};
    SqliValueItem out[2] = {};
    out[0].type = 102, out[0].length = 4, out[0].data = reinterpret_cast<char*>(&a), out[0].ind_type = -1;
    out[1].type = 119, out[1].length = sizeof lv, out[1].data = lv, out[1].ind_type = -1;
    SqliItemList outs{2, out};
    SqliCursor* c = Declare("c9", "select * from t9", 0, nullptr, &outs);
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << caps;
      size_t before = Codes().size();
      const char* want[] = {"x", "a longer value", ""};
      for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Fetch(c), 0) << caps << " row " << i << " " << sqlca.sqlcode;
        EXPECT_EQ(a, i + 1);
        EXPECT_STREQ(lv, want[i]);
      }
      EXPECT_EQ(Fetch(c), 100);
      ASSERT_EQ(Codes().size(), before + 1) << caps;
      EXPECT_EQ(LastCodes(), xtypes ? "4,100,9,12" : "4,9,12") << caps;
      ASSERT_EQ(sqli_curs_close(1, c), 0);
    }
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(FetchTest, VariableColumnIntoFixedTargetArrivesInTheCheckedForm) {
  // INTEGER a, LVARCHAR lv fetched into INTEGER and a fixed host string on
  // an extended-types connection: the check asks the LVARCHAR as CHAR(19),
  // the rows come fixed in that form and are read in it.
  auto row = [](int a, const std::string& t) {
    return "\"" + sqli_test::Int32Hex(a) + "00" + sqli_test::Int32Hex(static_cast<int>(t.size())) +
           sqli_test::Hex(t.data(), t.size()) + "\"";
  };
  const std::string longer = "a value longer than the target";
  Start("\"caps\": \"20\", \"tables\": {\"t9\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
        "{\"name\": \"lv\", \"type\": 40, \"length\": 2048, \"xid\": 1, \"tname\": \"lvarchar\"}], \"rows\": [" +
        row(1, "x") + ", " + row(2, longer) + ", " + row(3, "") + "]}}");
  int32_t a = 0;
  char text[20] = {};
  SqliValueItem out[2] = {};
  out[0].type = 102, out[0].length = 4, out[0].data = reinterpret_cast<char*>(&a), out[0].ind_type = -1;
  out[1].type = 100, out[1].length = sizeof text, out[1].data = text, out[1].ind_type = -1;
  SqliItemList outs{2, out};
  SqliCursor* c = Declare("c9", "select * from t9", 0, nullptr, &outs);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  // The server's CHAR(19): the value blank-padded or cut to 19 bytes.
  const std::string want[] = {"x" + std::string(18, ' '), longer.substr(0, 19), std::string(19, ' ')};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Fetch(c), 0) << "row " << i;
    EXPECT_EQ(a, i + 1);
    EXPECT_EQ(std::string(text), want[i]) << "row " << i;
  }
  EXPECT_EQ(Fetch(c), 100);
  EXPECT_EQ(LastCodes(), "4,100,9,12");
  EXPECT_EQ(c->row_size, 4 + 19);
  EXPECT_EQ(c->variable_columns, 0);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
}

TEST_F(FetchTest, OptofcAutofreeCursorClosedByTheServerGoesAtItsEnd) {
  setenv("OPTOFC", "1", 1);
  Start("\"caps\": \"d0\", \"close_at_end\": 1, \"tables\": {" + sqli_test::Table100(2) + "}");
  ASSERT_EQ(sqli_autofree_set(1, nullptr, 2), 0);
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  ASSERT_EQ(Fetch(c), 0);
  EXPECT_EQ(LastCodes(), "4,3,108,6,4,9,12");
  EXPECT_NE(c->flags & SQLI_CF_SERVER_CLOSED, 0u);
  ASSERT_EQ(Fetch(c), 0);
  size_t before = Codes().size();
  EXPECT_EQ(Fetch(c), 100);
  EXPECT_EQ(Codes().size(), before);
  // The server freed it at its end: the client record went too.
  SqliCursor* again = sqli_curs_locate(1, "c1", 0);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->flags, 0u);
}

}  // namespace
