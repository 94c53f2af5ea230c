// Statement execution against the python3 test server: the messages of
// each call as the server logged them, the statement kinds it described,
// DATABASE with its redirect to a second server, and the process stop
// on -25594.
#include "sqlruntime/execute.h"

#include <cstring>

#include "sqlruntime/connection.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/hostvalues.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;
using sqli_test::H16;
using sqli_test::Str;

SqliValueItem IntItem(int32_t* v) {
  SqliValueItem it{};
  it.type = 102;
  it.length = 4;
  it.data = reinterpret_cast<char*>(v);
  it.ind_type = -1;
  return it;
}

class ExecTest : public ExchangeTest {
 protected:
  void StartT1(const std::string& extra = "", const std::string& caps = "00") {
    Start("\"caps\": \"" + caps + "\", \"tables\": {" + sqli_test::Table100(3) + "}" +
          (extra.empty() ? "" : ", " + extra));
  }
  SqliCursor* Prepare(const char* name, const char* text) {
    SqliCursor* s = sqli_prep(1, name, text, nullptr, nullptr, 0, 0, 0);
    EXPECT_NE(s, nullptr) << text << " " << sqlca.sqlcode;
    return s;
  }
  std::string store_;
};

TEST_F(ExecTest, ExecuteImmediateTwoExchangesOrOneWithDeferredPrepare) {
  store_ = sqli_test::Install().Path("exec_store.json");
  StartT1("\"store\": \"" + store_ + "\"");
  ASSERT_EQ(sqli_exec_immed("create table t2 (a int, b char(5))"), 0) << sqlca.sqlcode;
  auto codes = Codes();
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_EQ(codes[0], "2,22,49,12");
  EXPECT_EQ(codes[1], "4,7,11,12");
  std::string stored = tevtest::ReadFile(store_);
  EXPECT_NE(stored.find("\"t2\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
                        "{\"name\": \"b\", \"type\": 0, \"length\": 5}]"),
            std::string::npos)
      << stored;
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);

  // With DEFERRED_PREPARE and the server's capability: one exchange.
  StartT1("", "02");
  ASSERT_EQ(sqli_defprep_set(1), 0);
  ASSERT_EQ(sqli_exec_immed("create table t3 (a int)"), 0) << sqlca.sqlcode;
  ASSERT_EQ(Codes().size(), 1u);
  EXPECT_EQ(LastCodes(), "2,111,49,7,11,12");
  // Without the capability the describe reply comes first.
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  StartT1();
  ASSERT_EQ(sqli_exec_immed("create table t4 (a int)"), 0) << sqlca.sqlcode;
  EXPECT_EQ(Codes(), (std::vector<std::string>{"2,22,49,12", "4,7,11,12"}));
  EXPECT_EQ(sqli_exec_immed(nullptr), -202);
}

TEST_F(ExecTest, ExecuteErrorsSendNothing) {
  StartT1();
  SqliCursor* s = Prepare("s1", "update t1 set b = ? where a = ?");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, 4);
  int32_t v[3] = {1, 2, 3};
  SqliValueItem items[3] = {IntItem(&v[0]), IntItem(&v[1]), IntItem(&v[2])};
  SqliDescriptor three{3, items, nullptr, 3};
  size_t before = Codes().size();
  EXPECT_EQ(sqli_exec(1, s, &three, nullptr, nullptr, nullptr, nullptr, nullptr, 0), -254);
  EXPECT_EQ(Codes().size(), before) << "nothing of the execution went";
  EXPECT_EQ(sqli_exec(1, s, nullptr, "nosuch", nullptr, nullptr, nullptr, nullptr, 0), -469);
  // A statement with a cursor declared on it.
  SqliCursor* q = Prepare("s2", "select * from t1");
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(sqli_curs_decl_dynm(1, c, "c1", q, 0, 0), 0);
  EXPECT_EQ(sqli_exec(1, q, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), -765);
  EXPECT_EQ(Codes().size(), before + 1);  // only the second PREPARE
  // A statement that was never prepared.
  SqliCursor* never = sqli_curs_locate(1, "s3", 1);
  EXPECT_EQ(sqli_exec(1, never, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), -410);
}

TEST_F(ExecTest, ExecuteSendsValuesAndChecksTheirCount) {
  StartT1();
  SqliCursor* s = Prepare("s1", "update t1 set b = ? where a = ?");
  int32_t v[2] = {-5, 7};
  SqliValueItem items[2] = {IntItem(&v[0]), IntItem(&v[1])};
  SqliDescriptor two{2, items, nullptr, 2};
  ASSERT_EQ(sqli_exec(1, s, &two, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(LastCodes(), "4,5,7,12");
  // Two INTEGER values: type word 2, indicator 0, then the value.
  bool logged = false;
  for (const std::string& l : server_->Lines()) logged |= l == "bind 2/0/fffffffb 2/0/00000007";
  EXPECT_TRUE(logged) << server_->Log();
}

TEST_F(ExecTest, DescribeGivesTheKind) {
  StartT1();
  SqliCursor* ins = Prepare("s1", "insert into t1");
  EXPECT_EQ(sqli_describe_stmt(1, ins, nullptr, nullptr), 6);
  SqliCursor* sel = Prepare("s2", "select * from t1");
  SqliDescriptor* d = nullptr;
  ASSERT_EQ(sqli_describe_stmt(1, sel, &d, nullptr), 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->count, 2);
  EXPECT_EQ(d->items[0].type, 2);
  EXPECT_EQ(d->items[0].length, 4);
  EXPECT_STREQ(d->items[0].name, "a");
  EXPECT_EQ(d->items[1].type, 0);
  EXPECT_EQ(d->items[1].length, 96);
  EXPECT_STREQ(d->items[1].name, "b");
  std::free(d);
  EXPECT_EQ(sqli_describe_stmt(1, sel, nullptr, "nosuch"), -469);
  SqliCursor* never = sqli_curs_locate(1, "s3", 1);
  EXPECT_EQ(sqli_describe_stmt(1, never, &d, nullptr), -410);
  // A prepare kept on the client has not reached the server.
  sqli_sqlca_reset(sqli_runtime_get());
  ASSERT_EQ(sqli_defprep_set(1), 0);
  SqliCursor* later = Prepare("s4", "select * from t1");
  EXPECT_EQ(sqli_describe_stmt(1, later, &d, nullptr), -1826);
}

TEST_F(ExecTest, SingletonSelectIsOneMessage) {
  StartT1("", "20");
  int32_t key = 2;
  SqliValueItem in = IntItem(&key);
  int32_t a = 0;
  char b[97] = {};
  SqliValueItem out[2] = {IntItem(&a), {}};
  out[1].type = 100;
  out[1].length = sizeof b;
  out[1].data = b;
  out[1].ind_type = -1;
  const char* text[] = {"select a, b from t1 where a = ?", nullptr};
  ASSERT_EQ(sqli_slct(1, 1, text, 1, &in, 2, out, 0, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
  ASSERT_EQ(Codes().size(), 1u);
  EXPECT_EQ(LastCodes(), "1,22,5,100,16,11,12");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(std::string(b).substr(0, 4), "row1");
  // No row: 100.
  const char* none[] = {"select a from t1 where a = 99", nullptr};
  EXPECT_EQ(sqli_slct(1, 1, none, 0, nullptr, 1, out, 0, nullptr, nullptr, 0), 100);
}

TEST_F(ExecTest, ProcedureWarningGivesTooFewOrTooManyColumns) {
  auto cols = [](int n) {
    std::string out = "[";
    for (int i = 0; i < n; ++i) out += std::string(i ? ", " : "") + sqli_test::Col("c" + std::to_string(i), 2, 4);
    return out + "]";
  };
  StartT1("\"procs\": {\"p2\": {\"columns\": " + cols(2) + ", \"rows\": [\"0000000100000002\"], \"warn\": 4}, " +
          "\"p4\": {\"columns\": " + cols(4) + ", \"rows\": [\"00000001000000020000000300000004\"], \"warn\": 4}}");
  int32_t v[3] = {};
  SqliValueItem out[3] = {IntItem(&v[0]), IntItem(&v[1]), IntItem(&v[2])};
  const char* p2[] = {"execute procedure p2()", nullptr};
  EXPECT_EQ(sqli_proc_exec(1, nullptr, p2, 0, nullptr, 3, out, 0, 1), -685);
  EXPECT_EQ(LastCodes(), "1,22,59,11,12");
  const char* p4[] = {"execute procedure p4()", nullptr};
  EXPECT_EQ(sqli_proc_exec(1, nullptr, p4, 0, nullptr, 3, out, 0, 0), -684);
  EXPECT_EQ(LastCodes(), "1,22,59,12") << "kept on the server without the release flag";
}

TEST_F(ExecTest, StatementWithoutCursorSendsItsTextEachTime) {
  StartT1();
  int16_t pair[2] = {0, 0};
  const char* text[] = {"create table t5 (a int)", nullptr};
  ASSERT_EQ(sqli_stmt(1, pair, text, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0)
      << sqlca.sqlcode;
  EXPECT_EQ(LastCodes(), "1,22,7,11,12");
  EXPECT_EQ(pair[0], 8);
  EXPECT_EQ(pair[1], -1);
  const char* again[] = {"create table t6 (a int)", nullptr};
  ASSERT_EQ(sqli_stmt(1, pair, again, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(Codes(), (std::vector<std::string>{"1,22,7,11,12", "1,22,7,11,12"}));
  EXPECT_EQ(sqli_stmt(1, pair, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), -410);
}

TEST_F(ExecTest, DatabaseFreesTheStatementTable) {
  StartT1();
  SqliCursor* c = Declare("c1", "select * from t1");
  ASSERT_NE(c->flags & SQLI_CF_TEXT, 0u);
  ASSERT_EQ(sqli_db_open("db1", 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(LastCodes(), "36,12");
  EXPECT_EQ(LastRequest(), "0024" + Str("db1") + "0000000c");
  EXPECT_EQ(sqli_runtime_get()->current->db_open, 1);
  SqliCursor* again = sqli_curs_locate(1, "c1", 0);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->flags, 0u) << "a new, undeclared record";
  // A database statement run without a cursor does the same.
  Declare("c2", "select * from t1");
  int16_t pair[2] = {0, 0};
  const char* text[] = {"database db2", nullptr};
  ASSERT_EQ(sqli_stmt(1, pair, text, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(pair[0], 1);
  EXPECT_EQ(sqli_curs_locate(1, "c2", 0)->flags, 0u);
  ASSERT_EQ(sqli_db_close(), 0);
  EXPECT_EQ(LastCodes(), "37,12");
  EXPECT_EQ(sqli_runtime_get()->current->db_open, 0);
}

TEST_F(ExecTest, StopOn25594) {
  StartT1("\"fail\": {\"a = 99\": -25594}");
  SqliCursor* s = Prepare("s1", "delete from t1 where a = 99");
  ASSERT_NE(s, nullptr);
  EXPECT_EXIT(sqli_exec(1, s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
              ::testing::ExitedWithCode(255), "Program stopped by -25594(.|\n)*sqlcode:-25594");
}

// Two servers: DATABASE on srv1 answered with the redirect reply naming srv2.
class DbRedirectTest : public ExchangeTest {
 protected:
  void StartBoth() {
    std::string reply = "0056" + Str("srv2") + Str("db2") + H16(2) + "00000000" + Str("") + Str("") + "000c";
    first_ = std::make_unique<sqli_test::Server>("\"caps\": \"80\", \"inject\": {\"36\": \"" + reply + "\"}");
    std::string one = Hosts();
    second_ = std::make_unique<sqli_test::Server>("\"caps\": \"80\"");
    std::string two = Hosts();
    ASSERT_TRUE(first_->ready());
    ASSERT_TRUE(second_->ready());
    sqli_test::Install().WriteFile("etc/sqlhosts", one + "\nsrv2" + two.substr(4) + "\n");
  }
  static std::string Hosts() {
    std::string line = tevtest::ReadFile(sqli_test::Install().Path("etc/sqlhosts"));
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }
  int Accepted(const sqli_test::Server& s) const {
    int n = 0;
    for (const std::string& l : s.Lines()) n += l == "accept";
    return n;
  }
  std::unique_ptr<sqli_test::Server> first_, second_;
};

TEST_F(DbRedirectTest, ImplicitConnectionFollowsNamedOneIsTold) {
  StartBoth();
  ASSERT_EQ(sqli_db_open("db1", 0), 0) << sqlca.sqlcode << " " << sqlca.sqlerrm;
  SqliConnection* now = sqli_runtime_get()->current;
  ASSERT_NE(now, nullptr);
  EXPECT_STREQ(now->target, "db2@srv2");
  EXPECT_EQ(Accepted(*second_), 1);
  EXPECT_EQ(now->db_open, 1);
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);

  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqli_db_open("db1", 0), -1808);
  EXPECT_STREQ(sqlca.sqlerrm, "@srv2");
  EXPECT_STREQ(sqli_runtime_get()->current->target, "@srv1");
  EXPECT_EQ(Accepted(*second_), 1) << "the named connection stays";
}

TEST_F(ExecTest, DescribeIntoANamedDescriptorThenFetchUsingIt) {
  StartT1();
  SqliCursor* sel = Prepare("s1", "select * from t1");
  SqliValueItem small_items[1] = {};
  SqliDescriptor small{0, small_items, nullptr, 1};
  SqliValueItem items[4] = {};
  SqliDescriptor d{0, items, nullptr, 4};
  ASSERT_NE(sqli_desc_table_add("small", &small), 0);
  ASSERT_NE(sqli_desc_table_add("d1", &d), 0);
  EXPECT_EQ(sqli_describe_stmt(1, sel, nullptr, "small"), -479) << "room for one column of two";
  ASSERT_EQ(sqli_describe_stmt(1, sel, nullptr, "d1"), 0) << sqlca.sqlcode;
  ASSERT_EQ(d.count, 2);
  EXPECT_EQ(items[0].type, 2);
  EXPECT_STREQ(items[0].name, "a");
  EXPECT_EQ(items[1].type, 0);
  EXPECT_EQ(items[1].length, 96);
  ASSERT_NE(items[0].data, nullptr);
  ASSERT_NE(items[1].data, nullptr);
  // The descriptor's own areas take the rows.
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  ASSERT_EQ(sqli_curs_decl_dynm(1, c, "c1", sel, 0, 0), 0);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0);
  SqliFetchSpec next{0, SQLI_FETCH_NEXT, 0};
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, "d1", &next), 0) << sqlca.sqlcode;
    int32_t a = 0;
    std::memcpy(&a, items[0].data, 4);
    EXPECT_EQ(a, i);
    EXPECT_EQ(std::string(items[1].data, 4), "row" + std::to_string(i));
  }
  EXPECT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, "d1", &next), 100);
  sqli_desc_table_remove("d1");
  sqli_desc_table_remove("small");
  for (SqliValueItem& it : items) {
    if (it.flags & SQLI_IF_DATA_OWNED) std::free(it.data);
    if (it.flags & SQLI_IF_NAME_OWNED) std::free(it.name);
    if (it.flags & SQLI_IF_TYPE_NAME_OWNED) std::free(it.type_name);
    if (it.flags & SQLI_IF_OWNER_OWNED) std::free(it.owner_name);
  }
}

TEST_F(ExecTest, CreateProcedureFromAFile) {
  StartT1();
  std::string file = sqli_test::Install().Path("proc.sql");
  const std::string text = "create procedure p1() return 1; end procedure";
  tevtest::WriteFile(file, text);
  ASSERT_EQ(sqli_proc_create(file.c_str()), 0) << sqlca.sqlcode;
  EXPECT_EQ(LastCodes(), "1,22,7,12");
  EXPECT_EQ(LastRequest(), sqli_test::Py("h(1)+h(0)+h(" + std::to_string(text.size()) + ")+p(b'" + text +
                                         "')+h(22)+h(7)+h(12)"));
  size_t before = Codes().size();
  EXPECT_EQ(sqli_proc_create("/nonexistent/proc.sql"), -461);
  EXPECT_EQ(Codes().size(), before);
}

}  // namespace
