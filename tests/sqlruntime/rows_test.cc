// Rows of the fetch-buffer exchange landing in the cursor's buffer: fixed
// and variable rows, row warnings, rows of a wrong length; and the replies
// that carry counts and values, read whole so that the next statement
// works.
#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

using sqli_test::H16;
std::string H32(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(v));
  return b;
}
std::string Bytes(size_t n, int seed) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((i * 7 + seed) & 0xFF));
  return out;
}

class RowsTest : public SqliTest {
 protected:
  void Start(const std::string& config) {
    server_ = std::make_unique<Server>(config);
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    sqli_stmt_table_free();
    SqliTest::TearDown();
  }
  SqliCursor* Open(const char* text) {
    SqliCursor* c = sqli_curs_locate(1, "c1", 0);
    const char* pieces[] = {text, nullptr};
    EXPECT_EQ(sqli_curs_decl_stat(1, c, "c1", pieces, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
    return c;
  }
  std::unique_ptr<Server> server_;
};

std::string IntTable(int rows, const std::string& extra = "") {
  std::string out = "\"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}], \"rows\": [";
  for (int i = 0; i < rows; ++i) out += std::string(i ? ", " : "") + "\"" + H32(i * 3) + "\"";
  return out + extra + "]}}";
}

TEST_F(RowsTest, FetchBufferHoldsAsManyRowsAsFit) {
  // 4-byte rows, a 4,096-byte buffer: 1,024 rows per exchange.
  Start("\"caps\": \"20\", " + IntTable(2500));
  SqliCursor* c = Open("select a from t");
  int total = 0, exchanges = 0;
  for (;;) {
    int32_t rc = sqli_curs_fetch_buffer(c);
    if (rc == 100) break;
    ASSERT_EQ(rc, 0);
    ++exchanges;
    for (int i = 0; i < c->rows_in_buffer; ++i) {
      const unsigned char* p = c->buffer + 4 * i;
      int v = (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
      ASSERT_EQ(v, (total + i) * 3);
    }
    total += c->rows_in_buffer;
    c->rows_in_buffer = 0;
  }
  EXPECT_EQ(total, 2500);
  EXPECT_EQ(exchanges, 3);
  EXPECT_EQ(sqlca.sqlerrd[2], 2500);
}

TEST_F(RowsTest, VariableRowsGrowTheBufferAndFillTheIndex) {
  std::string r1 = Bytes(2000, 1), r2 = Bytes(2001, 2), r3 = Bytes(101, 3);
  auto hex = [](const std::string& b) { return sqli_test::Hex(b.data(), b.size()); };
  Start("\"caps\": \"20\", \"fetch_all\": 1, \"tables\": {\"v\": {\"columns\": [{\"name\": \"o\", \"type\": 40, "
        "\"length\": 8, \"xid\": 77}], \"rows\": [\"" +
        hex(r1) + "\", \"" + hex(r2) + "\", \"" + hex(r3) + "\"]}}");
  SqliCursor* c = Open("select o from v");
  ASSERT_EQ(c->variable_columns, 1);
  ASSERT_EQ(c->buffer_size, 4096);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(c->rows_in_buffer, 3);
  EXPECT_EQ(c->buffer_size, 4112) << "4,102 bytes rounded up to a multiple of 1,028";
  ASSERT_NE(c->row_index, nullptr);
  EXPECT_EQ(c->row_index->last, 2);
  EXPECT_EQ(c->row_index->total, 4102);
  EXPECT_EQ(c->row_index->lengths[0], 2000);
  EXPECT_EQ(c->row_index->lengths[1], 2001);
  EXPECT_EQ(c->row_index->lengths[2], 101);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c->buffer), 4102), r1 + r2 + r3);
}

TEST_F(RowsTest, TupleWarnings) {
  Start("\"caps\": \"20\", \"row_warnings\": {\"0\": 3}, " + IntTable(3));
  SqliCursor* c = Open("select a from t");
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn1, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn2, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn3, ' ');
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);

  Start("\"caps\": \"20\", \"row_warnings\": {\"1\": 256}, " + IntTable(3));
  c = Open("select a from t");
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(c->rows_in_buffer, 3);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, ' ');
  SqliCursorEntry* e = sqli_curs_entry(c);
  ASSERT_NE(e, nullptr);
  ASSERT_NE(e->warnings.bitmap, nullptr);
  EXPECT_EQ(e->warnings.bitmap[0], 0x02) << "only row 1's bit";
  EXPECT_EQ(e->warnings.marked, 1);
}

TEST_F(RowsTest, FixedRowOfAnotherLengthGives403) {
  Start("\"caps\": \"20\", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}], "
        "\"rows\": [\"00000001\", \"000000020000\", \"00000003\"]}}");
  SqliCursor* c = Open("select a from t");
  EXPECT_EQ(sqli_curs_fetch_buffer(c), -403);
  EXPECT_EQ(c->rows_in_buffer, 2);
  EXPECT_EQ(sqli_test::Hex(c->buffer, 8), "0000000100000003");
  // The stream kept its place: the next statement works.
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
}

// Replies injected as the answer of a request code 998.
class ReplyBodyTest : public RowsTest {
 protected:
  int32_t Exchange(const std::string& reply, const std::string& caps = "20") {
    if (server_ == nullptr) Start("\"caps\": \"" + caps + "\", \"inject\": {\"998\": \"" + reply + "\"}");
    sqli_sqlca_reset(sqli_runtime_get());
    sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
    sqli_reply_loop(nullptr, 0);
    return sqlca.sqlcode;
  }
  // A second exchange on the same connection must still work.
  void StillInStep() {
    ASSERT_NE(sqli_runtime_get()->current, nullptr);
    sqli_sqlca_reset(sqli_runtime_get());
    sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
    sqli_reply_loop(nullptr, 0);
    EXPECT_NE(sqli_runtime_get()->current, nullptr);
  }
};

TEST_F(ReplyBodyTest, DoneBody) {
  EXPECT_EQ(Exchange("000f" + H16(0x113) + H32(42) + H32(7) + H32(9) + "000c"), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 42);
  EXPECT_EQ(sqlca.sqlerrd[5], 7);
  EXPECT_EQ(sqlca.sqlerrd[1], 9);
  EXPECT_STREQ(sqlca.sqlerrm, "IGNORE");
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn1, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn2, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn5, ' ') << "bit 0x10 dropped while DBANSIWARN is unset";
  EXPECT_EQ(sqli_dbansiwarn_unset(), 1);
}

TEST_F(ReplyBodyTest, AnsiWarningAloneGivesNoWarning) {
  EXPECT_EQ(Exchange("000f" + H16(0x10) + H32(0) + H32(0) + H32(0) + "000c"), 0);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, ' ');
}

TEST_F(ReplyBodyTest, CountsSerialsAndEvents) {
  // 55; 94 INT8 (sign 1, low 5, high 1); 99; 101; 25.
  std::string r = "0037" + H32(11) + H32(33) + "005e" + "0001" + H32(5) + H32(1) + "0063" + H16(2) + H16(3) +
                  H16(4) + "0065" + H32(17) + "0019" + H32(3) + "000c";
  EXPECT_EQ(Exchange(r), 0);
  EXPECT_EQ(sqlca.sqlerrd[0], 11);
  EXPECT_EQ(sqlca.sqlerrd[3], 33);
  SqliRuntime* rt = sqli_runtime_get();
  EXPECT_EQ(rt->last_serial8.low, 5u);
  EXPECT_EQ(rt->last_serial8.high, 1u);
  EXPECT_EQ(rt->last_serial8.sign, 1);
  SqliXactEvent ev{};
  ASSERT_EQ(zel_xactevent(&ev), 0);
  EXPECT_EQ(ev.event, (2 << 16) | 3);
  EXPECT_EQ(ev.value, 4);
  StillInStep();
}

TEST_F(ReplyBodyTest, SerialWithBigint) {
  // Byte 6 bit 0x02: a BIGINT follows the INT8.
  EXPECT_EQ(Exchange("005e0001" + H32(5) + H32(0) + "ffffffffffffff85" + "000c", "20000000000002"), 0);
  EXPECT_EQ(sqli_runtime_get()->last_bigserial, -123);
  StillInStep();
}

TEST_F(ReplyBodyTest, ExtraRecordReadWhole) {
  std::string entry = "05" + H16(1) + H32(2);  // byte, int16, int32
  std::string r = "0068" + std::string("0001") + H32(1) + H32(0) + H32(4) + "07" + H32(8) + "0001" + H32(9) +
                  H32(0) + H32(10) + H16(2) + entry + entry + H16(1) + entry + "000c";
  EXPECT_EQ(Exchange(r), 0);
  StillInStep();
}

TEST_F(ReplyBodyTest, ExtraRecordWithExtraFields) {
  std::string entry = "05" + H16(1) + H32(2) + H32(3) + H16(4) + H16(5);
  std::string r = "0068" + std::string("0001") + H32(1) + H32(0) + H32(4) + "07" + H32(8) + "0001" + H32(9) +
                  H32(0) + H32(10) + H16(1) + entry + H16(0) + "000c";
  EXPECT_EQ(Exchange(r, "30"), 0);
  StillInStep();
}

TEST_F(ReplyBodyTest, ValueListOfAnotherCountIsSkipped) {
  // Two values where no output is expected: -254, and the stream stays in
  // step (INTEGER 7, CHAR "abc", a null SMALLINT).
  std::string r = "0067" + H16(3) + H16(2) + H16(0) + H16(4) + H32(7) + H16(0) + H16(0) + H16(3) + "0003" +
                  "61626300" + H16(1) + H16(-1) + "000c";
  EXPECT_EQ(Exchange(r), -254);
  StillInStep();
  EXPECT_EQ(sqlca.sqlcode, -254) << "the same reply again";
}

}  // namespace
