// PREPARE, DECLARE, OPEN, the fetch-buffer exchange, CLOSE and FREE
// against the python3 test server and its in-memory tables: the bytes of
// the requests (built independently by python3's struct), the describe
// reply, and the messages of each exchange as the server logged them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// Bytes built by python3 from an expression over struct.
std::string Py(const std::string& expr) {
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  auto r = tevtest::RunProgram(tevtest::Python(),
                               {"-c", "import struct,sys\np=lambda b: b + (b'\\0' if len(b) % 2 else b'')\n"
                                      "h=lambda v: struct.pack('>h', v)\ni=lambda v: struct.pack('>i', v)\n"
                                      "sys.stdout.write((" + expr + ").hex())"},
                               o);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

std::string Col(const std::string& name, int type, int length, const std::string& extra = "") {
  return "{\"name\": \"" + name + "\", \"type\": " + std::to_string(type) + ", \"length\": " +
         std::to_string(length) + extra + "}";
}

std::string IntHex(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(v));
  return b;
}

// A row of table t1: INTEGER a, CHAR(90) b, CHAR(6) c (100 bytes).
std::string Row(int a, const std::string& b) {
  std::string text = b;
  text.resize(90, ' ');
  return IntHex(a) + sqli_test::Hex(text.data(), text.size()) + sqli_test::Hex("cccccc", 6);
}

std::string Table(int rows) {
  std::string out = "\"tables\": {\"t1\": {\"columns\": [" + Col("a", 2, 4) + ", " + Col("b", 0, 90) + ", " +
                    Col("c", 0, 6) + "], \"rows\": [";
  for (int i = 0; i < rows; ++i) out += std::string(i ? ", " : "") + "\"" + Row(i + 1, "row" + std::to_string(i)) + "\"";
  return out + "]}}";
}

class StmtTest : public SqliTest {
 protected:
  void Start(const std::string& config) {
    server_ = std::make_unique<Server>(config);
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    sqli_stmt_table_free();
    SqliRuntime* rt = sqli_runtime_get();
    rt->options = static_cast<uint16_t>(rt->options & ~(SQLI_OPT_DEFPREP | SQLI_OPT_AUTOFREE | SQLI_OPT_AUTOFREE_OFF));
    unsetenv("OPTOFC");
    unsetenv("DELIMIDENT");
    unsetenv("FET_BUF_SIZE");
    SqliTest::TearDown();
  }
  // The message codes of each SQL exchange so far.
  std::vector<std::string> Codes() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("codes ", 0) == 0) out.push_back(l.substr(6));
    }
    return out;
  }
  std::string LastRequest() const {
    auto r = server_->Requests();
    return r.empty() ? "" : r.back();
  }
  SqliCursor* Declare(const char* name, const char* text, int32_t bits = 0) {
    SqliCursor* c = sqli_curs_locate(1, name, 0);
    const char* pieces[] = {text, nullptr};
    EXPECT_EQ(sqli_curs_decl_stat(1, c, name, pieces, nullptr, nullptr, bits, nullptr, nullptr, nullptr, nullptr, 0), 0);
    // DECLARE may have made the record anew.
    return sqli_curs_locate(1, name, 0);
  }
  std::unique_ptr<Server> server_;
};

TEST_F(StmtTest, PrepareBytesMatchPython) {
  Start("\"caps\": \"20\", " + Table(1));
  struct Case {
    const char* text;
    int marks;
  } cases[] = {
      {"select a from t1", 0},
      {"select a, b from t1   ", 0},
      {"select a from t1 where a = ?", 1},
      {"select a from t1 where a = 1 or a = ? or a = ? ", 2},
  };
  for (const Case& k : cases) {
    std::string t = k.text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    SqliCursor* s = sqli_prep(1, "s1", k.text, nullptr, nullptr, 0, 0, 0);
    std::string expect = Py("h(2)+h(" + std::to_string(k.marks) + ")+h(" + std::to_string(t.size()) + ")+p(b'" + t +
                            "')+h(22)+h(49)+h(12)");
    EXPECT_EQ(LastRequest(), expect) << k.text;
    ASSERT_NE(s, nullptr) << k.text;
    EXPECT_EQ(s->kind, 2);
    EXPECT_EQ(s->flags & (SQLI_CF_PREPARED | SQLI_CF_DYNAMIC), SQLI_CF_PREPARED | SQLI_CF_DYNAMIC);
    sqli_curs_free(1, s);
  }
}

TEST_F(StmtTest, DescribeGivesColumnsRowSizeAndFetchBuffer) {
  struct Case {
    const char* caps;
    const char* fet;
    int32_t buffer;
  } cases[] = {
      {"20", nullptr, 4096},
      {"20000000000000" "01", "2000000", 1048576},
      {"20", "2000000", 32767},
      {"20", "100", 4096},
  };
  for (const Case& k : cases) {
    if (k.fet != nullptr) setenv("FET_BUF_SIZE", k.fet, 1);
    else unsetenv("FET_BUF_SIZE");
    Start(std::string("\"caps\": \"") + k.caps + "\", " + Table(1));
    SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->kind, 2);
    EXPECT_EQ(s->id, 1);
    EXPECT_EQ(s->row_size, 100);
    ASSERT_EQ(s->column_count, 3);
    EXPECT_EQ(s->buffer_size, k.buffer) << k.caps << " " << (k.fet ? k.fet : "-");
    EXPECT_STREQ(s->names + s->columns[1].name_offset, "b");
    EXPECT_EQ(s->columns[1].start, 4);
    EXPECT_EQ(s->columns[2].length, 6);
    EXPECT_EQ(s->columns[0].flags & SQLI_COL_NULLABLE, SQLI_COL_NULLABLE);
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(StmtTest, DescribeExtendedColumns) {
  // Distinct INTEGER (0x802), opaque ids 1 and 5, a NOT NULL column; 32-bit
  // name offsets with byte 6 bit 0x20, lean built-ins with 0x40.
  std::string cols = "\"tables\": {\"t2\": {\"columns\": [" + Col("d", 0x802, 4, ", \"xid\": 9, \"tname\": \"dint\"") +
                     ", " + Col("lv", 40, 8, ", \"xid\": 1, \"owner\": \"sys\", \"tname\": \"lvarchar\"") + ", " +
                     Col("bo", 41, 2, ", \"xid\": 5, \"tname\": \"boolean\"") + ", " + Col("nn", 0x102, 4) +
                     "], \"rows\": []}}";
  for (const char* caps : {"20", "20000000000020", "20000000000060"}) {
    Start(std::string("\"caps\": \"") + caps + "\", " + cols);
    SqliCursor* s = sqli_prep(1, "s2", "select * from t2", nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(s, nullptr) << caps;
    ASSERT_EQ(s->column_count, 4);
    const SqliColumnDesc* c = s->columns;
    EXPECT_EQ(c[0].type & 0xFF, 40);
    EXPECT_EQ(c[0].xvalue, 2);
    EXPECT_EQ(c[0].source_length, 4);
    EXPECT_EQ(c[0].flags & (SQLI_COL_DISTINCT_BUILTIN | SQLI_COL_DISTINCT), SQLI_COL_DISTINCT_BUILTIN | SQLI_COL_DISTINCT);
    EXPECT_EQ(c[1].type & 0xFF, 43);
    EXPECT_STREQ(c[1].owner_name, "sys");
    EXPECT_STREQ(c[1].type_name, "lvarchar");
    EXPECT_EQ(c[2].type & 0xFF, 45);
    EXPECT_EQ(c[3].flags & SQLI_COL_NULLABLE, 0);
    EXPECT_EQ(c[3].start, 14);
    EXPECT_STREQ(s->names + c[3].name_offset, "nn");
    // The distinct column counts as type 40 too.
    EXPECT_EQ(s->variable_columns, 3);
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(StmtTest, LongTextNeedsTheCapability) {
  // "select" + blanks + " a from t1": trailing blanks never count.
  auto text_of = [](size_t n) { return "select" + std::string(n - 16, ' ') + " a from t1"; };
  Start("\"caps\": \"20\", " + Table(1));
  std::string t = text_of(65535);
  ASSERT_NE(sqli_prep(1, "s1", t.c_str(), nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(LastRequest().substr(0, 12), Py("h(2)+h(0)+struct.pack('>H', 65535)"));
  size_t before = server_->Requests().size();
  t = text_of(65536);
  EXPECT_EQ(sqli_prep(1, "s2", t.c_str(), nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(sqlca.sqlcode, -460);
  EXPECT_EQ(server_->Requests().size(), before);
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);

  Start("\"caps\": \"20000000000000" "02\", " + Table(1));
  ASSERT_NE(sqli_prep(1, "s2", t.c_str(), nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(LastRequest().substr(0, 16), Py("h(2)+h(0)+i(65536)"));
  EXPECT_EQ(LastRequest().substr(16 + 2 * 65536), "00160031000c") << "even text, no pad";
}

TEST_F(StmtTest, NamesFoldUnlessDelimident) {
  Start("\"caps\": \"20\"");
  SqliCursor* a = sqli_curs_locate(1, "MyCur", 0);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->name, "mycur");
  EXPECT_EQ(sqli_curs_locate(1, "MYCUR   ", 0), a);
  EXPECT_NE(sqli_curs_locate(1, "mycur", 1), a) << "a statement name is another record";
  EXPECT_EQ(sqli_curs_locate(1, "mycur", 2), sqli_curs_locate(1, "mycur", 2));
  EXPECT_EQ(sqli_curs_locate(1, "1bad", 0), nullptr);
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);

  setenv("DELIMIDENT", "y", 1);
  Start("\"caps\": \"20\"");
  SqliCursor* b = sqli_curs_locate(1, "MyCur  ", 0);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->name, "MyCur");
  EXPECT_NE(sqli_curs_locate(1, "mycur", 0), b);
  EXPECT_EQ(sqli_curs_locate(1, "MyCur", 0), b);
}

TEST_F(StmtTest, TextCursorExchanges) {
  Start("\"caps\": \"20\", " + Table(3));
  SqliCursor* c = Declare("c1", "select * from t1");
  EXPECT_EQ(Codes().size(), 0u) << "DECLARE sends nothing";
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,22,49,12", "4,3,6,12"}));
  EXPECT_EQ(c->flags & (SQLI_CF_OPEN | SQLI_CF_OPENED | SQLI_CF_NOMORE), SQLI_CF_OPEN | SQLI_CF_OPENED);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(Codes().back(), "4,9,12");
  EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+h(9)+h(4096)+h(12)"));
  EXPECT_EQ(c->rows_in_buffer, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c->buffer) + 104, 4), "row1");
  EXPECT_EQ(sqli_test::Hex(c->buffer, 300), Row(1, "row0") + Row(2, "row1") + Row(3, "row2"));
  c->rows_in_buffer = 0;  // all read
  size_t n = Codes().size();
  EXPECT_EQ(sqli_curs_fetch_buffer(c), 100) << "no more rows after the done reply";
  EXPECT_EQ(Codes().size(), n);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(Codes().back(), "4,10,11,12");
  // A static cursor's statement went with CLOSE: OPEN sends the text again.
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  auto codes = Codes();
  EXPECT_EQ(codes[codes.size() - 2], "1,22,49,12");
  // DECLARE again with another text closes first.
  Declare("c1", "select a from t1");
  EXPECT_EQ(Codes().back(), "4,10,11,12");
  ASSERT_EQ(sqli_curs_free(1, sqli_curs_locate(1, "c1", 0)), 0);
}

TEST_F(StmtTest, DeferredPrepareOpensInOneExchange) {
  Start("\"caps\": \"22\", " + Table(2));
  ASSERT_EQ(sqli_defprep_set(1), 0);
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,111,49,3,6,12"}));
  EXPECT_EQ(c->id, 1);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(c->rows_in_buffer, 2);
  // Without the server's capability: 22 in place of 111, still one message.
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  Start("\"caps\": \"20\", " + Table(2));
  c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,22,49,3,6,12"}));
}

TEST_F(StmtTest, DeferredPrepareKindsFromFirstWord) {
  Start("\"caps\": \"22\"");
  ASSERT_EQ(sqli_defprep_set(1), 0);
  struct Case {
    const char* text;
    int kind;
  } cases[] = {{"  SELECT a from t", 2}, {"\t\nInsert into t values (1)", 6}, {"execute procedure p()", 56},
               {"update t set a = 1", -1}, {"selectx from t", -1}, {"", -1}};
  for (const Case& k : cases) {
    SqliCursor* s = sqli_prep(1, "st", k.text, nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(s, nullptr) << k.text;
    EXPECT_EQ(s->kind, k.kind) << k.text;
    EXPECT_NE(s->flags & SQLI_CF_DEFERRED, 0u);
  }
  EXPECT_EQ(Codes().size(), 0u);
}

TEST_F(StmtTest, PrepareOverAPreparedNameReleasesFirst) {
  Start("\"caps\": \"20\", " + Table(1));
  ASSERT_NE(sqli_prep(1, "s1", "select a from t1", nullptr, nullptr, 0, 0, 0), nullptr);
  ASSERT_NE(sqli_prep(1, "s1", "select b from t1", nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"2,22,49,12", "4,11,12", "2,22,49,12"}));
}

TEST_F(StmtTest, CursorOnAPreparedStatement) {
  Start("\"caps\": \"20\", " + Table(2));
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(sqli_curs_decl_dynm(1, c, "c1", s, 0, 0), 0);
  EXPECT_EQ(c->id, s->id);
  EXPECT_NE(s->flags & SQLI_CF_HAS_CURSOR, 0u);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,6,12");
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(c->rows_in_buffer, 2);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(Codes().back(), "4,10,12") << "the prepared statement stays";
  size_t n = Codes().size();
  EXPECT_EQ(sqli_curs_free(1, s), 0);
  EXPECT_EQ(Codes().size(), n) << "FREE of a statement with a cursor sends nothing";
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(c->rows_in_buffer, 2);
}

TEST_F(StmtTest, OptofcOpenTravelsWithTheFirstFetch) {
  setenv("OPTOFC", "1", 1);
  Start("\"caps\": \"a0\", \"close_at_end\": 1, " + Table(2));
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,22,49,12"})) << "the OPEN itself is recorded";
  EXPECT_EQ(c->deferred_open, 1);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  EXPECT_EQ(Codes().back(), "4,3,6,4,9,12");
  EXPECT_EQ(c->deferred_open, 2);
  EXPECT_EQ(c->rows_in_buffer, 2);
  EXPECT_NE(c->flags & SQLI_CF_SERVER_CLOSED, 0u);
  size_t n = Codes().size();
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(Codes().size(), n) << "the server closed it already";
}

TEST_F(StmtTest, OptofcNeedsExactlyOne) {
  setenv("OPTOFC", "1 ", 1);
  Start("\"caps\": \"a0\", " + Table(1));
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,22,49,12", "4,3,6,12"}));
}

TEST_F(StmtTest, AutofreeAddsCode108) {
  Start("\"caps\": \"30\", " + Table(1));
  ASSERT_EQ(sqli_autofree_set(1, nullptr, 2), 0);
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,108,6,12");
  EXPECT_NE(c->flags & SQLI_CF_AUTOFREED, 0u);
  ASSERT_EQ(sqli_curs_close(1, c), 0);
  EXPECT_EQ(Codes().back(), "4,10,12") << "the server frees the statement";
  EXPECT_EQ(sqli_runtime_get()->current->last_cursor_flags, SQLI_FREED_MARKER);
  // Without the capability the option adds nothing.
  sqli_stmt_table_free();
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  Start("\"caps\": \"20\", " + Table(1));
  c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,6,12");
}

TEST_F(StmtTest, AutofreeSetErrors) {
  Start("\"caps\": \"30\", " + Table(1));
  EXPECT_EQ(sqli_autofree_set(1, nullptr, 0), -404);
  SqliCursor* bare = sqli_curs_locate(1, "bare", 0);
  EXPECT_EQ(sqli_autofree_set(1, bare, 0), -404);
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(sqli_autofree_set(1, s, 0), -276);
  SqliCursor* c = Declare("c1", "select * from t1");
  EXPECT_EQ(sqli_autofree_set(1, c, 0), 0);
  EXPECT_EQ(c->flags & (SQLI_CF_AUTOFREE_ON | SQLI_CF_AUTOFREE_OFF), SQLI_CF_AUTOFREE_ON);
  EXPECT_EQ(sqli_autofree_set(1, c, 1), 0);
  EXPECT_EQ(c->flags & (SQLI_CF_AUTOFREE_ON | SQLI_CF_AUTOFREE_OFF), SQLI_CF_AUTOFREE_OFF);
}

TEST_F(StmtTest, ScrollAndHoldCursors) {
  Start("\"caps\": \"20\", " + Table(1));
  SqliCursor* c = Declare("c1", "select * from t1", SQLI_CF_SCROLL | SQLI_CF_HOLD);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,24,43,6,12");
}

TEST_F(StmtTest, FreeOfAnOpenCursorReleasesItsStatement) {
  Start("\"caps\": \"20\", " + Table(1));
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  ASSERT_EQ(sqli_curs_free(1, c), 0);
  EXPECT_EQ(Codes().back(), "4,10,4,11,12");
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_EQ(sqli_curs_free(1, s), 0);
  EXPECT_EQ(Codes().back(), "4,11,12");
}

TEST_F(StmtTest, ServerErrorFreesThePreparedRecord) {
  Start("\"caps\": \"20\", " + Table(1));
  EXPECT_EQ(sqli_prep(1, "s1", "select * from nosuch", nullptr, nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(sqlca.sqlcode, -206);
  EXPECT_EQ(sqli_runtime_get()->current->last_cursor_flags, SQLI_FREED_MARKER);
}

TEST_F(StmtTest, FetchRequestWidthsByCapability) {
  struct Case {
    const char* caps;
    const char* body;
  } cases[] = {
      {"20", "h(9)+h(4096)"},
      {"20000000000000" "01", "h(9)+i(4096)"},
      {"2040", "h(9)+h(4096)+h(0)"},
      {"2080000000000001", "h(9)+i(4096)+h(0)"},
  };
  for (const Case& k : cases) {
    Start(std::string("\"caps\": \"") + k.caps + "\", " + Table(1));
    SqliCursor* c = Declare("c1", "select * from t1");
    ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
    ASSERT_EQ(sqli_curs_fetch_buffer(c), 0) << k.caps;
    EXPECT_EQ(LastRequest(), Py("h(4)+h(1)+" + std::string(k.body) + "+h(12)")) << k.caps;
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(StmtTest, StatementTextFromAFile) {
  Start("\"caps\": \"20\", " + Table(1));
  std::string dir = sqli_test::Install().Path("textfile_" + std::to_string(getpid()));
  for (const char* text : {"select a from t1", "select * from t1;"}) {
    tevtest::WriteFile(dir, text);
    std::string name = dir + "   ";
    ASSERT_EQ(sqli_req_text_file(name.c_str(), sqli_runtime_get()), 0);
    sqli_req_code(SQLI_REQ_DESCRIBE);
    sqli_reply_loop(nullptr, 0);
    EXPECT_EQ(LastRequest(), Py("h(1)+h(0)+h(" + std::to_string(std::strlen(text)) + ")+p(b'" + text + "')+h(22)+h(12)"));
  }
  EXPECT_EQ(sqli_req_text_file((dir + "-missing").c_str(), sqli_runtime_get()), -461);
}

TEST_F(StmtTest, InsertCursorIsNotOpenedWithModeOne) {
  setenv("OPTOFC", "1", 1);
  Start("\"caps\": \"b0\", " + Table(1));
  ASSERT_EQ(sqli_autofree_set(1, nullptr, 2), 0);
  SqliCursor* c = Declare("ic", "insert into t1 values (?)");
  EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), -416);
  EXPECT_EQ(c->kind, 6);
  // Another open mode opens it at once: no OPTOFC deferral, no AUTOFREE.
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,6,12");
  EXPECT_EQ(c->deferred_open, 0);
}

TEST_F(StmtTest, RedeclaringAPreparedCursorMakesItAnew) {
  Start("\"caps\": \"20\", " + Table(1));
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(sqli_curs_decl_dynm(1, c, "c1", s, 0, 0), 0);
  ASSERT_EQ(c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC), SQLI_CF_TEXT | SQLI_CF_DYNAMIC);
  size_t n = Codes().size();
  c = Declare("c1", "select a from t1");
  EXPECT_EQ(Codes().size(), n) << "the statement stays with s1";
  EXPECT_EQ(c->flags & SQLI_CF_DYNAMIC, 0u);
  EXPECT_EQ(c->id, -1);
  EXPECT_EQ(c->related, nullptr);
  EXPECT_EQ(s->flags & SQLI_CF_HAS_CURSOR, 0u);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  EXPECT_EQ(Codes().back(), "4,3,6,12");
}

TEST_F(StmtTest, TheTableGoesWithTheConnection) {
  Start("\"caps\": \"20\", " + Table(2));
  SqliCursor* s = sqli_prep(1, "s1", "select * from t1", nullptr, nullptr, 0, 0, 0);
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(sqli_curs_decl_dynm(1, c, "c1", s, 0, 0), 0);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
  Declare("c2", "select a from t1");
  ASSERT_NE(sqli_runtime_get()->statement_list, nullptr);
  // The records go with the connection (the leak checker sees the rest).
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  EXPECT_EQ(sqli_runtime_get()->statement_list, nullptr);
}

TEST_F(StmtTest, UnknownInputDescriptor) {
  Start("\"caps\": \"20\", " + Table(1));
  SqliCursor* c = Declare("c1", "select * from t1");
  EXPECT_EQ(sqli_curs_open(1, c, nullptr, "d1", nullptr, 1, 0), -469);
  EXPECT_EQ(c->flags & SQLI_CF_OPEN, 0u);
}

}  // namespace
