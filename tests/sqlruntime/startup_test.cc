// The start-up exchanges of a connection against the python3 test server:
// each protocol level, the capability bits, the environment message and
// the local-file and PAM handshakes.
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
      {"V7.22", "V7.22", 0xB8, 0},  // compared byte by byte: "V" sorts above "9"
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
    EXPECT_EQ(c->stream->float_format, (r.caps[1] & 0x10) ? 1u : 0u);
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
  Server server("\"caps\": \"0000000000000010\", \"local\": {\"file\": \"" + first + "\"}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(Connect("@srv1", "c1"), 0) << sqlca.sqlcode;
  EXPECT_EQ(tevtest::ReadFile(second), "the second line\n");
  EXPECT_TRUE(server.WaitFor("second " + second));
  EXPECT_TRUE(HasPrefix(server.Requests(), "0080000c"));
}

TEST_F(ConnectTest, UnreadableLocalFileGives1809) {
  std::string missing = sqli_test::Install().Path("no_such_file");
  Server server("\"caps\": \"0000000000000010\", \"local\": {\"file\": \"" + missing + "\"}");
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

}  // namespace
