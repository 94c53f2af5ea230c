// CONNECT, DISCONNECT and SET CONNECTION against the python3 test server:
// the connection state rules, claims, leave checks and the small
// connection services.
#include <algorithm>

#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

SqliConnection* Current() { return sqli_runtime_get()->current; }

int32_t Connect(const char* target, const char* name, int32_t concurrent = 1) {
  return sqli_connect_open(nullptr, SQLI_CONN_NAMED, target, name, nullptr, concurrent);
}

class ConnectTest : public SqliTest {};

TEST_F(ConnectTest, ConnectionStateRules) {
  Server server("\"caps\": \"\"");
  ASSERT_TRUE(server.ready());
  // DISCONNECT ALL with no connection: -1807 only in close mode 0.
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_ALL, nullptr, 0, 0), -1807);
  EXPECT_EQ(sqlexit(), 0);
  EXPECT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, nullptr, "x", nullptr, 1), -1804);
  EXPECT_EQ(Connect("@srv1", ""), -1805);
  ASSERT_EQ(Connect("@srv1", "a"), 0);
  SqliConnection* a = Current();
  EXPECT_EQ(Connect("@srv1", "a"), -1802);
  EXPECT_EQ(Current(), a);
  ASSERT_EQ(Connect("@srv1", "b"), 0);
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "a", 0), 0);
  EXPECT_EQ(Current(), a);
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "zz", 0), -1803);
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "b", 1), -1813);
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_CURRENT, nullptr, 1), 0);
  EXPECT_EQ(Current(), nullptr);
  // After CONNECT no implicit connection is opened.
  EXPECT_EQ(sqli_conn_ensure(), -1811);
  sqli_sqlca_reset(sqli_runtime_get());
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_CURRENT, nullptr, 0, 0), -1803);
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "zz", 0, 0), -1803);
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "a", 0, 0), 0);
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "b", 0, 0), 0);
  EXPECT_EQ(sqli_conn_mode(), 0);
  EXPECT_EQ(sqli_get_thread_connected(), 0);
  // After the last DISCONNECT a statement opens the implicit connection.
  sqli_sqlca_reset(sqli_runtime_get());
  ASSERT_EQ(sqli_conn_ensure(), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqli_conn_mode(), 1);
  EXPECT_EQ(sqli_conn_is_implicit(), 1);
  EXPECT_EQ(Current(), sqli_conn_default());
  EXPECT_EQ(Current()->db_open, 1);
  EXPECT_EQ(Connect("@srv1", "n"), 0);  // CONNECT is allowed in mode 1
  EXPECT_EQ(sqli_connect_open(nullptr, SQLI_CONN_DBOPEN, nullptr, nullptr, nullptr, 1), -1811);
  // Without OPTOFC the server cannot be asked: a connection with a
  // database open is not let go in close mode 0, and nothing is closed.
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_ALL, nullptr, 0, 0), -1800);
  EXPECT_NE(sqli_conn_default(), nullptr);
  EXPECT_NE(sqli_conn_list(), nullptr);
  EXPECT_EQ(sqlexit(), 0);
  EXPECT_EQ(sqli_conn_default(), nullptr);
  EXPECT_EQ(sqli_conn_list(), nullptr);
  EXPECT_EQ(sqli_conn_mode(), 0);
}

TEST_F(ConnectTest, TapeUtilityConnection) {
  Server server("\"caps\": \"\"");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_TAPE, nullptr, nullptr, nullptr, 1), 0) << sqlca.sqlcode;
  EXPECT_STREQ(Current()->name, "__NULL_ZQTAPE__");
  EXPECT_NE(sqli_conn_find("__NULL_ZQTAPE__"), nullptr);
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_TAPE, nullptr, 0, 0), 0);
  EXPECT_EQ(sqli_conn_find("__NULL_ZQTAPE__"), nullptr);
}

TEST_F(ConnectTest, LeaveCheckAndDormantClaims) {
  Server server("\"caps\": \"80\", \"leave\": 1");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "a", 1), 0);
  SqliConnection* a = Current();
  ASSERT_EQ(Connect("@srv1", "b", 0), 0);
  SqliConnection* b = Current();
  size_t before = server.Requests().size();
  // Leaving b (concurrent 0) asks its server first, which refuses.
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "a", 0), -1801);
  EXPECT_EQ(Current(), b);
  std::vector<std::string> req = server.Requests();
  ASSERT_GT(req.size(), before);
  EXPECT_EQ(req.back(), "0054000c");
  b->concurrent = 1;
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "a", 0), 0);
  EXPECT_EQ(Current(), a);
  // A dormant connection in use elsewhere cannot be claimed.
  b->dormant = 1;
  b->in_use = 1;
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "b", 0), -1802);
  b->in_use = 0;
  EXPECT_EQ(sqli_connect_set(SQLI_CONN_NAMED, "b", 0), 0);
  EXPECT_EQ(b->in_use, 1);
  EXPECT_EQ(sqli_setdormant(0), 0);
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 2, 0);
}

int32_t g_last;
void Note(int32_t v) { g_last = v; }
void Other(int32_t v) { g_last = 100 + v; }

TEST_F(ConnectTest, BreakCallbackArguments) {
  EXPECT_EQ(sqlbreakcallback(10, Note), -437);
  Server server("\"caps\": \"\"");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "a"), 0);
  EXPECT_EQ(sqlbreakcallback(-2, nullptr), -435);
  EXPECT_EQ(sqlbreakcallback(5, nullptr), -436);
  EXPECT_EQ(sqlbreakcallback(10, Note), 0);
  EXPECT_EQ(sqlbreakcallback(-1, Other), -438);
  EXPECT_EQ(Current()->break_callback, Note);  // the old one stays
  EXPECT_EQ(sqlbreakcallback(-1, nullptr), 0);
  EXPECT_EQ(Current()->break_callback, nullptr);
  EXPECT_EQ(Current()->break_timeout, -1);
}

TEST_F(ConnectTest, ServerOwner) {
  {
    Server server("\"caps\": \"\"");
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(Connect("@srv1", "a"), 0);
    char owner[129];
    EXPECT_EQ(zel_getserowner(owner), 0);
    EXPECT_STREQ(owner, "tarvelon");
    EXPECT_EQ(zel_xactevent(nullptr), -554);
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 0, 0);
  }
  std::string owner_text(200, 'o');
  owner_text[127] = 'L';
  Server server("\"caps\": \"20\", \"owner\": \"" + owner_text + "\"");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "a"), 0);
  EXPECT_EQ(zel_isuvq(), 9);
  char owner[129];
  std::memset(owner, 'x', sizeof owner);
  EXPECT_EQ(zel_getserowner(owner), 0) << sqlca.sqlcode;
  EXPECT_EQ(std::strlen(owner), 128u);
  EXPECT_EQ(owner[127], 'L');
  EXPECT_EQ(server.Requests().back(), "006d000c");
  SqliXactEvent ev{};
  EXPECT_EQ(zel_xactevent(&ev), -1822);
  EXPECT_EQ(zel_xactevent(nullptr), -1822);
}

TEST_F(ConnectTest, RetryAndTimeoutSettings) {
  struct {
    const char* value;
    int32_t retry;
  } retries[] = {{nullptr, 1}, {"0", 0}, {"abc", 1}, {"-3", 1}, {"00", 1}, {"4", 4}};
  for (const auto& r : retries) {
    if (r.value == nullptr) unsetenv("TARVELONCONRETRY");
    else setenv("TARVELONCONRETRY", r.value, 1);
    EXPECT_EQ(sqli_conn_retry_count(), r.retry) << (r.value ? r.value : "unset");
  }
  unsetenv("TARVELONCONRETRY");
  struct {
    const char* value;
    int32_t ms;
  } times[] = {{nullptr, 60000}, {"0", 60000}, {"-1", -1}, {"5", 5000}};
  for (const auto& t : times) {
    if (t.value == nullptr) unsetenv("TARVELONCONTIME");
    else setenv("TARVELONCONTIME", t.value, 1);
    EXPECT_EQ(sqli_conn_timeout_ms(), t.ms) << (t.value ? t.value : "unset");
  }
  unsetenv("TARVELONCONTIME");
}

TEST_F(ConnectTest, RefusedByTheServer) {
  Server server("\"status\": -951, \"secondary\": 3, \"text\": \"joe\\u0000\", \"text_code\": 77");
  ASSERT_TRUE(server.ready());
  EXPECT_EQ(Connect("@srv1", "a"), -951);
  EXPECT_EQ(sqlca.sqlerrd[1], 3);
  EXPECT_EQ(sqlca.sqlerrd[4], 77);
  EXPECT_STREQ(sqlca.sqlerrm, "joe");
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(sqli_conn_find("a"), nullptr);
}

}  // namespace
