// CONNECT, DISCONNECT and SET CONNECTION against the python3 test server:
// the start-up exchanges at each protocol level, the capability bits, the
// environment message, the local-file and PAM handshakes, the connection
// state rules and the connection-level replies.
#include <algorithm>

#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

const char* kCaps126 = "007e0009fffedffe74aa6213c000000c";

bool HasPrefix(const std::vector<std::string>& v, const std::string& prefix) {
  return std::any_of(v.begin(), v.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

SqliConnection* Current() { return sqli_runtime_get()->current; }

int32_t Connect(const char* target, const char* name, int32_t concurrent = 1) {
  return sqli_connect_open(nullptr, SQLI_CONN_NAMED, target, name, nullptr, concurrent);
}

class ConnectTest : public SqliTest {};

TEST_F(ConnectTest, Level316WithoutCapabilities) {
  Server server("\"caps\": \"\"");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", nullptr), 0) << sqlca.sqlcode;
  SqliConnection* c = Current();
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->name, "@srv1");  // no AS name: the target
  EXPECT_EQ(c->level, 316);
  EXPECT_EQ(c->db_open, 0);
  EXPECT_STREQ(c->server_name, "srv1");
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn4, 'W');  // no OPTOFC capability
  EXPECT_EQ(c->props[3], 1);
  std::vector<std::string> req = server.Requests();
  ASSERT_EQ(req.size(), 1u) << server.Log();
  EXPECT_EQ(req[0], kCaps126);
  EXPECT_EQ(zel_isuvq(), 0);
  EXPECT_STREQ(zel_getcur_conn_name(), "@srv1");
  ASSERT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "@srv1", 0, 0), 0);
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(sqli_conn_mode(), 0);
  EXPECT_TRUE(server.WaitFor("closed"));
  EXPECT_FALSE(HasPrefix(server.Requests(), "0038"));  // no exit message
  EXPECT_FALSE(HasPrefix(server.Requests(), "0051"));  // no environment
}

TEST_F(ConnectTest, LongCapabilityReplyKeepsSixteenAndStaysAligned) {
  Server server("\"caps\": \"000102030405060708090a0b0c0d0e0f10111213\", \"caps_len\": 20");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("db1@srv1", "c1"), 0) << sqlca.sqlcode;
  const unsigned char want[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(std::memcmp(Current()->caps, want, 16), 0);
  EXPECT_EQ(Current()->db_open, 1);
}

// Python reads the environment message as logged and computes its total
// length word from the variables it carries.
std::string CheckEnvMessage(const std::string& hex) {
  std::string script = R"(
import struct, sys
b = bytes.fromhex(sys.argv[1])
code, six, total, ln, lv = struct.unpack('>hhhhh', b[:10])
at = 10
t = 4
names = 0
while True:
    n = struct.unpack('>H', b[at:at + 2])[0]; at += 2
    name = b[at:at + n]; at += n + (n & 1)
    v = struct.unpack('>H', b[at:at + 2])[0]; at += 2
    at += v + (v & 1)
    if n == 0 and v == 0:
        break
    names += 1
    t += (n + (n & 1)) + (v + (v & 1)) + 4
t += 2
end = struct.unpack('>h', b[at:at + 2])[0]
print(code, six, total, t, names, end)
)";
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", script, hex},
                                             {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  std::string out = r.out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST_F(ConnectTest, OptofcCapabilitySendsEnvironmentAndExit) {
  setenv("PDQPRIORITY", "abc", 1);
  Server server("\"caps\": \"80\"");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "c1"), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn4, ' ');
  std::vector<std::string> req = server.Requests();
  ASSERT_EQ(req.size(), 2u) << server.Log();
  ASSERT_EQ(req[1].substr(0, 8), "00510006");
  std::string check = CheckEnvMessage(req[1]);
  std::istringstream in(check);
  int code, six, total, computed, names, end;
  in >> code >> six >> total >> computed >> names >> end;
  EXPECT_EQ(code, 81);
  EXPECT_EQ(total, computed) << check;
  EXPECT_GE(names, 2);  // at least DBPATH and PDQPRIORITY
  EXPECT_EQ(end, 12);
  ASSERT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0), 0) << sqlca.sqlcode;
  EXPECT_TRUE(server.WaitFor("request 0038")) << server.Log();
  unsetenv("PDQPRIORITY");
}

TEST_F(ConnectTest, OversizedEnvironmentGives1832) {
  std::string big(17000, 'v');
  setenv("PDQPRIORITY", big.c_str(), 1);
  setenv("SHELL", big.c_str(), 1);
  Server server("\"caps\": \"80\"");
  ASSERT_TRUE(server.ready());
  EXPECT_EQ(Connect("@srv1", "c1"), -1832);
  EXPECT_FALSE(HasPrefix(server.Requests(), "0051"));
  unsetenv("PDQPRIORITY");
  setenv("SHELL", "/bin/sh", 1);
}

TEST_F(ConnectTest, Level0VersionExchange) {
  struct {
    const char* version;
    const char* stored;
    unsigned char byte0, byte1;
  } rows[] = {
      {"5.00", "5.00", 0, 0},
      {"9.03.UC1", "9.03", 0xB8, 0},
      {"SQ7.30.X", "7.30", 0xC2, 0x40},
      {"V7.22", "V7.22", 0, 0},
      {"7.23", "7.23", 0xC2, 0},
      {"6.5", "6.5", 0x80, 0},
  };
  for (const auto& r : rows) {
    Server server(std::string("\"level\": 0, \"version\": \"") + r.version + "\"");
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(Connect("@srv1", "c1"), 0) << r.version << " " << sqlca.sqlcode;
    SqliConnection* c = Current();
    EXPECT_EQ(c->level, 0);
    EXPECT_STREQ(c->server_version, r.stored) << r.version;
    EXPECT_EQ(c->caps[0], r.byte0) << r.version;
    EXPECT_EQ(c->caps[1], r.byte1) << r.version;
    EXPECT_EQ(server.Requests().at(0), "0035000c");
    if (std::string(r.version) == "5.00") {
      EXPECT_EQ(c->stream->float_format, 0u);
      EXPECT_EQ(c->unpadded_varchar, 0);
    }
    ASSERT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0), 0) << sqlca.sqlcode;
  }
}

TEST_F(ConnectTest, OlderLevelsComputeCapabilities) {
  struct {
    int level;
    const char* version;
    unsigned char caps[5];
  } rows[] = {
      {312, "9.0312", {0xBC, 0xBE, 0x80, 0x03, 0x00}},
      {302, "9.0302", {0xB8, 0, 0, 0, 0}},
      {309, "9.0309", {0xB8, 0, 0, 0, 0}},
      {315, "9.0315", {0xBC, 0xBE, 0x80, 0x03, 0xE0}},
  };
  for (const auto& r : rows) {
    Server server("\"level\": " + std::to_string(r.level));
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(Connect("@srv1", "c1"), 0) << r.level << " " << sqlca.sqlcode;
    SqliConnection* c = Current();
    EXPECT_STREQ(c->server_version, r.version);
    EXPECT_EQ(std::memcmp(c->caps, r.caps, 5), 0) << r.level << ": " << sqli_test::Hex(c->caps, 5);
    EXPECT_EQ(c->stream->float_format, (r.caps[1] & 0x10) ? 1u : 2u);
    EXPECT_TRUE(server.Requests().empty() || server.Requests()[0].rfind("0051", 0) == 0);
    ASSERT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0), 0) << sqlca.sqlcode;
    // Byte 0 bit 0x80: the exit message at DISCONNECT.
    EXPECT_TRUE(server.WaitFor("request 0038")) << server.Log();
  }
}

TEST_F(ConnectTest, LocalFileHandshake) {
  tevtest::TempInstall& in = sqli_test::Install();
  std::string first = in.Path("local_first"), second = in.Path("local_second");
  in.WriteFile("local_first", second + "\nthe second line\nnot this\n");
  Server server("\"caps\": \"00000000000000100\", \"local\": {\"file\": \"" + first + "\"}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "c1"), 0) << sqlca.sqlcode;
  EXPECT_EQ(tevtest::ReadFile(second), "the second line\n");
  EXPECT_TRUE(server.WaitFor("second " + second));
  EXPECT_TRUE(HasPrefix(server.Requests(), "0080000c"));
}

TEST_F(ConnectTest, UnreadableLocalFileGives1809) {
  std::string missing = sqli_test::Install().Path("no_such_file");
  Server server("\"caps\": \"00000000000000100\", \"local\": {\"file\": \"" + missing + "\"}");
  ASSERT_TRUE(server.ready());
  EXPECT_EQ(Connect("@srv1", "c1"), -1809);
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(sqli_conn_find("c1"), nullptr);
  EXPECT_EQ(sqli_conn_mode(), 0);
  EXPECT_TRUE(server.WaitFor("closed"));
}

std::vector<std::string> g_pam;
int Pam(const char* text, char* answer, int32_t type) {
  g_pam.push_back(std::to_string(type) + ":" + text);
  std::snprintf(answer, 512, "ans%d", type);
  return 0;
}

TEST_F(ConnectTest, PamChallenges) {
  Server server("\"caps\": \"0000000000080000\", \"pam\": [[1, \"Password: \"], [2, \"Code\"], [3, \"Note\"]]");
  ASSERT_TRUE(server.ready());
  g_pam.clear();
  EXPECT_EQ(zel_pam_callback(Pam), 0);
  ASSERT_EQ(Connect("@srv1", "c1"), 0) << sqlca.sqlcode;
  EXPECT_EQ(g_pam, (std::vector<std::string>{"1:Password: ", "2:Code", "3:Note"}));
  EXPECT_TRUE(server.WaitFor("answer 2 ans2"));
  std::string log = server.Log();
  EXPECT_NE(log.find("answer 1 ans1"), std::string::npos);
  EXPECT_EQ(log.find("answer 3"), std::string::npos);
  sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0);
  zel_pam_callback(nullptr);
  Server again("\"caps\": \"0000000000080000\", \"pam\": [[1, \"Password: \"]]");
  ASSERT_TRUE(again.ready());
  EXPECT_EQ(Connect("@srv1", "c1"), -1809);
}

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
  EXPECT_EQ(sqli_connect_close(SQLI_CONN_ALL, nullptr, 0, 0), 0);
  EXPECT_EQ(sqli_conn_default(), nullptr);
  EXPECT_EQ(sqli_conn_list(), nullptr);
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

std::string H16(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", v & 0xFFFF);
  return b;
}

std::string Str(const std::string& text) {
  std::string out = H16(static_cast<int>(text.size())) + sqli_test::Hex(text.data(), text.size());
  if (text.size() & 1) out += "00";
  return out;
}

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
