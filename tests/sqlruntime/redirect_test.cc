// A server redirecting the client to another server: two python3 test
// servers, the first answering a request with the redirect reply naming
// the second. The implicit connection follows it; an explicit connection
// is told where the database went and stays where it is.
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

SqliConnection* Current() { return sqli_runtime_get()->current; }

using sqli_test::H16;
using sqli_test::Str;

// Reply 86: server, database, kind, flags, two further texts; then 12.
std::string Redirect(const std::string& server, const std::string& db, int kind) {
  return "0056" + Str(server) + Str(db) + H16(kind) + "00000000" + Str("") + Str("") + "000c";
}

// The sqlhosts line the fixture wrote for the last server started.
std::string HostsLine() {
  std::string line = tevtest::ReadFile(sqli_test::Install().Path("etc/sqlhosts"));
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

// Two servers, "srv1" answering request 998 with `reply`, "srv2" plain.
class RedirectTest : public SqliTest {
 protected:
  void Start(const std::string& reply, const std::string& second_config = "\"caps\": \"80\"") {
    first_ = std::make_unique<Server>("\"caps\": \"80\", \"inject\": {\"998\": \"" + reply + "\"}");
    std::string one = HostsLine();
    second_ = std::make_unique<Server>(second_config);
    std::string two = HostsLine();
    ASSERT_TRUE(first_->ready());
    ASSERT_TRUE(second_->ready());
    ASSERT_EQ(two.rfind("srv1 ", 0), 0u);
    sqli_test::Install().WriteFile("etc/sqlhosts", one + "\nsrv2" + two.substr(4) + "\n");
  }
  // Sends request 998 on the current connection and reads the replies.
  int32_t Ask() {
    sqli_msg_put_short(998, Current()->stream);
    return sqli_reply_loop(nullptr, 0);
  }
  int Accepted(const Server& s) const {
    int n = 0;
    for (const std::string& l : s.Lines()) n += l == "accept";
    return n;
  }
  std::unique_ptr<Server> first_, second_;
};

TEST_F(RedirectTest, ImplicitConnectionMovesToTheNewServer) {
  Start(Redirect("srv2", "db2", 2));
  ASSERT_EQ(sqli_conn_ensure(), 0) << sqlca.sqlcode;
  SqliConnection* old = Current();
  ASSERT_EQ(Ask(), 0);
  EXPECT_EQ(sqli_runtime_get()->redirect_pending, 1);
  ASSERT_EQ(sqli_conn_redirect(), 0) << sqlca.sqlcode << " " << sqlca.sqlerrm;
  EXPECT_EQ(sqli_runtime_get()->redirect_pending, 0);
  SqliConnection* now = Current();
  ASSERT_NE(now, nullptr);
  EXPECT_NE(now, old);
  EXPECT_EQ(now, sqli_conn_default());
  EXPECT_EQ(sqli_conn_mode(), 1);
  EXPECT_EQ(sqli_conn_is_implicit(), 1);
  EXPECT_STREQ(now->target, "db2@srv2");
  EXPECT_STREQ(now->server_name, "srv2");
  EXPECT_EQ(now->caps[0], 0x80);
  EXPECT_EQ(sqli_get_thread_connected(), 1);
  // The old server saw its connection end; the new
  // one had the start-up exchanges and now answers requests.
  EXPECT_TRUE(first_->WaitFor("closed")) << first_->Log();
  EXPECT_EQ(Accepted(*second_), 1);
  std::vector<std::string> req = second_->Requests();
  ASSERT_FALSE(req.empty());
  EXPECT_EQ(req.front().substr(0, 4), "007e");  // capability exchange
  sqli_msg_put_short(995, Current()->stream);
  EXPECT_EQ(sqli_reply_loop(nullptr, 0), 0);
  EXPECT_EQ(second_->Requests().back(), "03e3000c");
  // No second redirection without a new reply.
  EXPECT_EQ(sqli_conn_redirect(), 0);
  EXPECT_EQ(Current(), now);
}

TEST_F(RedirectTest, UnreachableNewServerKeepsTheOldConnection) {
  Start(Redirect("nosuch", "db2", 2));
  ASSERT_EQ(sqli_conn_ensure(), 0) << sqlca.sqlcode;
  SqliConnection* old = Current();
  ASSERT_EQ(Ask(), 0);
  EXPECT_LT(sqli_conn_redirect(), 0);
  EXPECT_EQ(Current(), old);
  EXPECT_EQ(sqli_conn_default(), old);
  // The old connection still works.
  sqli_sqlca_reset(sqli_runtime_get());
  sqli_msg_put_short(995, Current()->stream);
  EXPECT_EQ(sqli_reply_loop(nullptr, 0), 0);
}

TEST_F(RedirectTest, FailedStartUpOnTheNewServerGives1809) {
  // The new server asks for the local-file handshake and names a file
  // that cannot be read.
  Start(Redirect("srv2", "db2", 2),
        "\"caps\": \"80000000000000 10\", \"local\": {\"file\": \"/nonexistent/first\"}");
  ASSERT_EQ(sqli_conn_ensure(), 0) << sqlca.sqlcode;
  ASSERT_EQ(Ask(), 0);
  EXPECT_EQ(sqli_conn_redirect(), -1809);
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(sqli_conn_default(), nullptr);
}

TEST_F(RedirectTest, TapeUtilityRedirectOnlyTouchesTheNewServer) {
  Start(Redirect("srv2", "db2", 5));
  ASSERT_EQ(sqli_conn_ensure(), 0) << sqlca.sqlcode;
  SqliConnection* old = Current();
  ASSERT_EQ(Ask(), 0);
  EXPECT_EQ(sqli_conn_redirect(), 0) << sqlca.sqlcode;
  EXPECT_EQ(Current(), old);
  EXPECT_EQ(sqli_conn_default(), old);
  EXPECT_EQ(Accepted(*second_), 1);
  EXPECT_TRUE(second_->WaitFor("closed")) << second_->Log();
  EXPECT_TRUE(second_->Requests().empty());  // no start-up exchange there
}

TEST_F(RedirectTest, ExplicitConnectionIsToldTheServer) {
  // A redirection naming only a database: the server the client reaches
  // for it (the default server, srv1) is named in sqlerrm.
  Start(Redirect("", "db2", 1));
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv2", "c2", nullptr, 1), 0) << sqlca.sqlcode;
  SqliConnection* c2 = Current();
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  ASSERT_EQ(Ask(), 0);
  int before = Accepted(*first_);
  EXPECT_EQ(sqli_conn_redirect(), -1808);
  EXPECT_STREQ(sqlca.sqlerrm, "srv1");
  EXPECT_EQ(sqli_runtime_get()->redirect.kind, 2);
  EXPECT_EQ(Accepted(*first_), before + 1);
  EXPECT_EQ(sqli_conn_find("c1"), Current());
  EXPECT_EQ(sqli_conn_find("c2"), c2);
  EXPECT_EQ(sqli_conn_mode(), 2);
}

}  // namespace
