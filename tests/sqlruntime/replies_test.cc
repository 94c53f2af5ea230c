// The reply loop against the python3 test server: error replies, the
// first error of an exchange, unknown replies, server exit, transaction
// events and the redirect record.
#include <algorithm>

#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

SqliConnection* Current() { return sqli_runtime_get()->current; }

int32_t Connect(const char* target, const char* name, int32_t concurrent = 1) {
  return sqli_connect_open(nullptr, SQLI_CONN_NAMED, target, name, nullptr, concurrent);
}

// Error replies read by the reply loop after a request the server answers
// with injected bytes.
class ReplyTest : public SqliTest {
 protected:
  int32_t Exchange(const std::string& reply, const char* caps = "20") {
    server_ = std::make_unique<Server>(std::string("\"caps\": \"") + caps + "\", \"inject\": {\"998\": \"" +
                                       reply + "\"}");
    EXPECT_TRUE(server_->ready());
    EXPECT_EQ(Connect("@srv1", "r"), 0);
    sqli_sqlca_reset(sqli_runtime_get());
    sqli_msg_put_short(998, Current()->stream);
    sqli_reply_loop(nullptr, 0);
    return sqlca.sqlcode;
  }
  std::unique_ptr<Server> server_;
};

using sqli_test::H16;
using sqli_test::Str;


TEST_F(ReplyTest, Error619ChangesNothing) {
  EXPECT_EQ(Exchange("000d" + H16(-619) + H16(5) + H16(9) + Str("param") + "000c"), 0);
  EXPECT_EQ(sqlca.sqlerrd[1], 0);
  EXPECT_STREQ(sqlca.sqlerrm, "");
  EXPECT_NE(Current(), nullptr);
}

TEST_F(ReplyTest, Error368HasNoParameter) {
  EXPECT_EQ(Exchange("000d" + H16(-368) + H16(4) + H16(2) + "000c"), -368);
  EXPECT_EQ(sqlca.sqlerrd[1], 4);
  EXPECT_EQ(sqlca.sqlerrd[4], 2);
  EXPECT_NE(Current(), nullptr);
}

TEST_F(ReplyTest, FirstErrorOfTheExchangeIsReported) {
  std::string e1 = "000d" + H16(-201) + H16(0) + H16(0) + Str("one");
  std::string e2 = "000d" + H16(-206) + H16(0) + H16(0) + Str("two");
  EXPECT_EQ(Exchange(e1 + e2 + "000c"), -201);
  EXPECT_STREQ(sqlca.sqlerrm, "one");
  EXPECT_STREQ(zel_get_msg_param(), "two");
}

TEST_F(ReplyTest, ZeroCodeWithExtendedTypesAddsServerState) {
  EXPECT_EQ(Exchange("000d" + H16(0) + H16(0) + H16(0) + Str("") + "5859393939" + "00" + Str("server says") + "000c"), 0);
  EXPECT_STREQ(sqli_status.sqlstate, "XY999");
  SqliDiagArea* d = sqli_runtime_get()->diag;
  ASSERT_GE(d->count, 1);
  EXPECT_STREQ(d->entries[d->count - 1].sqlstate, "XY999");
  EXPECT_STREQ(d->entries[d->count - 1].message, "server says");
}

TEST_F(ReplyTest, EmptyServerMessageTakes1824) {
  EXPECT_EQ(Exchange("000d" + H16(0) + H16(0) + H16(0) + Str("") + "5859393938" + "00" + Str("") + "000c"), 0);
  SqliDiagArea* d = sqli_runtime_get()->diag;
  ASSERT_GE(d->count, 1);
  EXPECT_STREQ(d->entries[d->count - 1].message, "The server reported an error without a text.\n");
}

TEST_F(ReplyTest, ZeroCodeWithoutExtendedTypesIs407) {
  EXPECT_EQ(Exchange("000d" + H16(0) + H16(0) + H16(0) + Str("") + "000c", ""), -407);
}

TEST_F(ReplyTest, LongParameterIsCutAndTheStreamStaysInStep) {
  std::string param(1001, 'p');
  param[498] = 'E';
  EXPECT_EQ(Exchange("000d" + H16(-206) + H16(0) + H16(0) + Str(param) + "000c"), -206);
  std::string kept = zel_get_msg_param();
  EXPECT_EQ(kept.size(), 499u);
  EXPECT_EQ(kept.back(), 'E');
  EXPECT_EQ(std::strlen(sqlca.sqlerrm), 71u);
  EXPECT_NE(Current(), nullptr);  // the end code was read in step
  // The connection still works.
  sqli_sqlca_reset(sqli_runtime_get());
  sqli_msg_put_short(998, Current()->stream);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(sqlca.sqlcode, -206);
}

TEST_F(ReplyTest, LongServerMessageIsCutAndTheStreamStaysInStep) {
  std::string msg(9001, 'm');
  msg[8190] = 'E';
  EXPECT_EQ(Exchange("000d" + H16(0) + H16(0) + H16(0) + Str("") + "5859393937" + "00" + Str(msg) + "000c"), 0);
  ASSERT_NE(Current(), nullptr);  // the end code was read in step
  SqliDiagArea* d = sqli_runtime_get()->diag;
  ASSERT_GE(d->count, 1);
  const SqliDiagEntry& e = d->entries[d->count - 1];
  EXPECT_STREQ(e.sqlstate, "XY997");
  EXPECT_EQ(std::strlen(e.message), 8191u);
  EXPECT_EQ(e.message[8190], 'E');
}

TEST_F(ReplyTest, UnknownReplyClosesWith408) {
  EXPECT_EQ(Exchange(H16(200) + "000c"), -408);
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(sqli_conn_find("r"), nullptr);
}

TEST_F(ReplyTest, ServerExitIsAnsweredAndCloses) {
  EXPECT_EQ(Exchange("0038"), 0);
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(server_->WaitFor("request 0038")) << server_->Log();
}

TEST_F(ReplyTest, TransactionEvent) {
  EXPECT_EQ(Exchange("0063000100020003000c"), 0);
  SqliXactEvent ev{};
  EXPECT_EQ(zel_xactevent(&ev), 0);
  EXPECT_EQ(ev.event, 0x00010002);
  EXPECT_EQ(ev.value, 3);
  EXPECT_EQ(zel_xactevent(&ev), -1822);
}

TEST_F(ReplyTest, RedirectRecord) {
  EXPECT_EQ(Exchange("0056" + Str("srv9") + Str("db9") + H16(2) + "00000003" + Str("") + Str("x") + "000c"), 0);
  SqliRuntime* rt = sqli_runtime_get();
  EXPECT_EQ(rt->redirect_pending, 1);
  EXPECT_STREQ(rt->redirect.server, "srv9");
  EXPECT_STREQ(rt->redirect.option_arg, "db9");
  EXPECT_EQ(rt->redirect.kind, 2);
  EXPECT_EQ(rt->redirect.flags, 3u);
  EXPECT_EQ(rt->redirect.name, nullptr);
  EXPECT_STREQ(rt->redirect.mode_arg, "x");
  // An explicit connection may not follow it to another server.
  EXPECT_EQ(sqli_conn_redirect(), -1808);
  EXPECT_STREQ(sqlca.sqlerrm, "@srv9");
  EXPECT_EQ(rt->redirect_pending, 0);
}

}  // namespace
