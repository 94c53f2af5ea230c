// Registry helpers on a store seeded with the registry's admin tool; the
// records exchanged with callers are built independently with python3's
// struct.
#include "base/reg_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

class Reg : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TARVELON_REGISTRY", dir.Path("reg").c_str(), 1);
    setenv("ZIVEVODAREVEZO", "srv", 1);
  }
  void TearDown() override { unsetenv("TARVELON_REGISTRY"); }
  int Tool(const std::vector<std::string>& args, std::string* out = nullptr) {
    tevtest::RunOptions o;
    o.env = {{"TARVELON_REGISTRY", dir.Path("reg")}};
    tevtest::RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("tvreg"), args, o);
    if (out != nullptr) *out = r.out;
    return r.exit_code;
  }
  std::string Get(const std::string& key, const std::string& name) {
    std::string out;
    if (Tool({"get", key, name}, &out) != 0) return "<missing>";
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // Bytes built by python3's struct from an expression.
  std::vector<unsigned char> Py(const std::string& expr) {
    tevtest::RunResult r = tevtest::RunProgram(
        tevtest::Python(), {"-c", "import struct,sys\nsys.stdout.write((" + expr + ").hex())"},
        {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < r.out.size(); i += 2) {
      out.push_back(static_cast<unsigned char>(std::stoi(r.out.substr(i, 2), nullptr, 16)));
    }
    return out;
  }
  tevtest::TempInstall dir;
};

const std::string kEntry = "struct.pack('<i129s257s19s19s257s3x', 688, %s, %s, %s, %s, %s)";

std::string Entry(const std::string& name, const std::string& host, const std::string& svc,
                  const std::string& proto, const std::string& opts) {
  auto q = [](const std::string& s) { return "b'" + s + "'"; };
  std::string e = kEntry;
  for (const std::string& v : {q(name), q(host), q(svc), q(proto), q(opts)}) {
    e.replace(e.find("%s"), 2, v);
  }
  return e;
}

TEST_F(Reg, SqlHostsEntriesRoundTripAndRefusals) {
  std::vector<unsigned char> two = Py(Entry("srv", "h1.example", "9088", "onsoctcp", "k=0") + "+" +
                                      Entry("grp", "-", "-", "group", ""));
  ASSERT_EQ(two.size(), 2u * 688);
  ASSERT_EQ(QorvRegSqlHostsEx2(nullptr, 2, 40, 2, two.data()), 0);
  EXPECT_EQ(Get("HKLM\\Software\\Tarvelon\\SQLHOSTS\\srv", "HOST"), "h1.example");
  EXPECT_EQ(Get("HKLM\\SOFTWARE\\TARVELON\\SQLHOSTS\\srv", "PROTOCOL"), "onsoctcp");
  // The empty options of grp delete (never write) the value.
  EXPECT_EQ(Get("HKLM\\Software\\Tarvelon\\SQLHOSTS\\grp", "OPTIONS"), "<missing>");
  std::vector<unsigned char> read = Py(Entry("srv", "", "", "", ""));
  ASSERT_EQ(QorvRegSqlHostsEx2("", 1, 40, 1, read.data()), 0);
  EXPECT_EQ(std::vector<unsigned char>(read.begin(), read.end()),
            std::vector<unsigned char>(two.begin(), two.begin() + 688));
  // A first size field of 687 touches nothing; other refusals.
  std::vector<unsigned char> bad = Py(Entry("new", "h", "s", "p", "o"));
  bad[0] = 687 & 0xFF;
  bad[1] = 687 >> 8;
  EXPECT_EQ(QorvRegSqlHostsEx2(nullptr, 2, 40, 1, bad.data()), 87);
  EXPECT_EQ(Get("HKLM\\Software\\Tarvelon\\SQLHOSTS\\new", "HOST"), "<missing>");
  EXPECT_EQ(QorvRegSqlHostsEx2(nullptr, 3, 40, 1, read.data()), 87);
  EXPECT_EQ(QorvRegSqlHostsEx2(nullptr, 1, 41, 1, read.data()), 87);
  EXPECT_EQ(QorvRegSqlHostsEx2(nullptr, 1, 40, 0, read.data()), 87);
  EXPECT_EQ(QorvRegSqlHostsEx2("otherbox", 1, 40, 1, read.data()), -2);
  // The older 95-byte form.
  std::vector<unsigned char> old = Py("struct.pack('19s19s19s19s19s', b'srv', b'', b'', b'', b'')");
  ASSERT_EQ(QorvRegSqlHostsEx(nullptr, 1, 40, 1, old.data()), 0);
  EXPECT_EQ(old, Py("struct.pack('19s19s19s19s19s', b'srv', b'h1.example', b'9088', b'onsoctcp', b'k=0')"));
  // Delete.
  ASSERT_EQ(QorvRegSqlHostsEx2(nullptr, 4, 40, 1, read.data()), 0);
  EXPECT_EQ(Get("HKLM\\Software\\Tarvelon\\SQLHOSTS\\srv", "HOST"), "<missing>");
}

TEST_F(Reg, EnumerationsFollowTheSizeQueryProtocol) {
  for (const char* name : {"a", "bb", "ccc"}) {
    ASSERT_EQ(Tool({"set", std::string("HKLM\\Software\\Tarvelon\\SQLHOSTS\\") + name, "HOST", "sz", "h"}), 0);
  }
  uint32_t length = 123, count = 9;
  EXPECT_EQ(QorvRegSqlHostsEnum(nullptr, 40, nullptr, &length, &count), 0);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(count, 3u);
  char buf[16];
  length = 9;
  EXPECT_EQ(QorvRegSqlHostsEnum(nullptr, 40, buf, &length, &count), 234);
  EXPECT_EQ(length, 10u);
  length = 10;
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(QorvRegSqlHostsEnum(nullptr, 40, buf, &length, &count), 0);
  EXPECT_EQ(std::string(buf, 10), std::string("a\0bb\0ccc\0\0", 10));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(QorvRegSqlHostsEnum(nullptr, 40, buf, nullptr, &count), 87);
  EXPECT_EQ(QorvRegSqlHostsEnum(nullptr, 41, buf, &length, &count), 87);
}

TEST_F(Reg, GroupsAndTheirMembers) {
  const std::string base = "HKLM\\Software\\Tarvelon\\SQLHOSTS\\";
  ASSERT_EQ(Tool({"set", base + "g1", "PROTOCOL", "sz", "group"}), 0);
  ASSERT_EQ(Tool({"mkkey", base + "g1\\m1"}), 0);
  ASSERT_EQ(Tool({"mkkey", base + "g1\\m2"}), 0);
  ASSERT_EQ(Tool({"mkkey", base + "g1\\gone"}), 0);
  ASSERT_EQ(Tool({"set", base + "m1", "HOST", "sz", "host1"}), 0);
  ASSERT_EQ(Tool({"set", base + "m2", "SERVICE", "sz", "77"}), 0);
  ASSERT_EQ(Tool({"set", base + "plain", "PROTOCOL", "sz", "onsoctcp"}), 0);
  uint32_t n = 0;
  EXPECT_EQ(QorvRegNoGroups(nullptr, &n), 0);
  EXPECT_EQ(n, 1u);
  uint32_t length = 0;
  EXPECT_EQ(QorvRegGroupsEnum(nullptr, nullptr, &length, &n), 0);
  EXPECT_EQ(length, 4u);
  HKEY root = nullptr;
  ASSERT_EQ(QorvOpenRegSubHive(HKEY_LOCAL_MACHINE, 40, 1, &root), 0);
  EXPECT_EQ(QorvRegGetNoGroupMembers(root, "g1"), 3);
  EXPECT_EQ(QorvRegGetNoGroupMembers(root, "plain"), 0);
  std::vector<unsigned char> entries = Py("struct.pack('<i684x', 688) * 4");
  uint32_t count = 4;
  EXPECT_EQ(QorvRegGetGroupMembersEx2(root, "g1", entries.data(), &count), 0);
  ASSERT_EQ(count, 2u);
  std::vector<unsigned char> expected =
      Py(Entry("m1", "host1", "", "", "") + "+" + Entry("m2", "", "77", "", ""));
  EXPECT_EQ(std::vector<unsigned char>(entries.begin(), entries.begin() + 2 * 688), expected);
  count = 4;
  EXPECT_EQ(QorvRegGetGroupMembersEx2(root, "plain", entries.data(), &count), -1);
  EXPECT_EQ(count, 0u);
  RegCloseKey(root);
}

TEST_F(Reg, NetrcEntriesScrambleTheirPasswords) {
  std::string rec = "struct.pack('<i257s33s19s2s1x', 316, %s)";
  auto make = [&](const std::string& fields) {
    std::string e = rec;
    e.replace(e.find("%s"), 2, fields);
    return Py(e);
  };
  std::vector<unsigned char> e = make("b'far.example', b'joe', b'secret', b'x'");
  ASSERT_EQ(e.size(), 316u);
  ASSERT_EQ(QorvRegNetrcEx(2, e.data()), 0);
  // The stored text: "EP" and 18 numbers, each byte of the password (zero
  // after it) XOR the user name as key (zero after it).
  std::vector<unsigned char> want = Py(
      "b'EP' + ''.join('%3d' % (a ^ b) for a, b in zip(b'secret'.ljust(18, b'\\0'), "
      "b'joe'.ljust(18, b'\\0'))).encode()");
  EXPECT_EQ(Get("HKCU\\Software\\Tarvelon\\NETRC\\far.example", "PASSWORD"),
            std::string(want.begin(), want.end()));
  std::vector<unsigned char> back = make("b'far.example', b'', b'', b''");
  ASSERT_EQ(QorvRegNetrcEx(1, back.data()), 0);
  EXPECT_EQ(back, e);
  // Flag 'Y': the scrambled empty text, read back as an empty password.
  std::vector<unsigned char> y = make("b'ask.example', b'ann', b'hidden', b'Y'");
  ASSERT_EQ(QorvRegNetrcEx(2, y.data()), 0);
  std::vector<unsigned char> y_back = make("b'ask.example', b'', b'', b''");
  ASSERT_EQ(QorvRegNetrcEx(1, y_back.data()), 0);
  EXPECT_EQ(y_back, make("b'ask.example', b'ann', b'', b'Y'"));
  uint32_t length = 0, count = 0;
  EXPECT_EQ(QorvRegNetrcEnum(nullptr, &length, &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(length, std::string("ask.example").size() + std::string("far.example").size() + 3);
  e[0] = 0;
  EXPECT_EQ(QorvRegNetrcEx(1, e.data()), 87);
  EXPECT_EQ(QorvRegNetrcEx(4, back.data()), 0);
  EXPECT_EQ(QorvRegNetrcEx(1, back.data()), -2);
}

TEST_F(Reg, EnPScramblesAndUnscrambles) {
  char out[64], plain[32];
  EnP(out, const_cast<char*>(""), "key", 1);
  std::vector<unsigned char> want =
      Py("b'EP' + ''.join('%3d' % b for b in b'key'.ljust(18, b'\\0')).encode()");
  EXPECT_EQ(std::string(out), std::string(want.begin(), want.end()));
  EXPECT_STREQ(EnP(out, plain, "key", 2), "");
  // Every mode but 2 scrambles, reading no further than the text.
  char shortp[] = "ab";
  char out7[64];
  EnP(out7, shortp, "k", 7);
  EnP(out, shortp, "k", 1);
  EXPECT_STREQ(out7, out);
  EXPECT_STREQ(EnP(out, plain, "k", 2), "ab");
  // A long text is cut to 18; a short or damaged text reads as empty.
  EnP(out, const_cast<char*>("0123456789abcdefghijkl"), "", 1);
  EXPECT_STREQ(EnP(out, plain, "", 2), "0123456789abcdefgh");
  EXPECT_STREQ(EnP(const_cast<char*>("EP 12"), plain, "k", 2), "");
  std::string damaged = out;
  damaged[10] = 'x';
  EXPECT_STREQ(EnP(damaged.data(), plain, "", 2), "");
}

TEST_F(Reg, InstalledServersAndServerInformation) {
  const std::string line = "HKLM\\Software\\Tarvelon\\Velkor\\";
  for (const char* s : {"alpha", "1bad", "*x", "-y", ".z", "Users", "CurrentVersion", "beta", "gamma"}) {
    ASSERT_EQ(Tool({"mkkey", line + s + "\\Environment"}), 0);
  }
  char buf[64];
  uint32_t count = 0;
  EXPECT_EQ(QorvGetInstalledServerNames(buf, sizeof buf, &count), 1);
  EXPECT_STREQ(buf, "alpha\nbeta\ngamma\n");
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(QorvGetInstalledServerNames(buf, 12, &count), 1);
  EXPECT_STREQ(buf, "alpha\nbeta\n");
  EXPECT_EQ(count, 2u);

  std::vector<unsigned char> info(888, 0xAA);
  EXPECT_EQ(QorvGetServerInfo("nosuch", info.data()), 0);
  std::vector<unsigned char> unknown = Py(
      "struct.pack('<iii12xi4x4x', 0, -1, -1, -1)[:40]");
  EXPECT_EQ(std::vector<unsigned char>(info.begin(), info.begin() + 12),
            std::vector<unsigned char>(unknown.begin(), unknown.begin() + 12));
  for (size_t at : {40u, 295u, 550u, 805u, 869u}) {
    EXPECT_STREQ(reinterpret_cast<char*>(info.data() + at), "<Unknown>") << at;
  }
  ASSERT_EQ(Tool({"set", line + "alpha\\Environment", "ZUCONFIG", "sz", "zuconfig.alpha"}), 0);
  ASSERT_EQ(Tool({"set", line + "alpha\\Environment", "TARVELONDIR", "sz", "/opt/t"}), 0);
  ASSERT_EQ(Tool({"set", "HKLM\\SOFTWARE\\TARVELON\\SQLHOSTS\\alpha", "HOST", "sz", "alphahost"}), 0);
  EXPECT_EQ(qvQorvGetServerInfo("alpha", info.data()), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(info.data() + 40), "/opt/t");
  EXPECT_STREQ(reinterpret_cast<char*>(info.data() + 295), "zuconfig.alpha");
  EXPECT_STREQ(reinterpret_cast<char*>(info.data() + 550), "<Unknown>");
  EXPECT_STREQ(reinterpret_cast<char*>(info.data() + 869), "alphahost");
  int32_t qv;
  std::memcpy(&qv, info.data() + 4, 4);
  EXPECT_EQ(qv, 1);
  char dirbuf[32];
  EXPECT_EQ(QorvGetQorvDirForServer("alpha", dirbuf, sizeof dirbuf), 1);
  EXPECT_STREQ(dirbuf, "/opt/t");
  EXPECT_EQ(QorvGetQorvDirForServer("beta", dirbuf, sizeof dirbuf), 0);
}

TEST_F(Reg, ServerEnvironmentValues) {
  const std::string env = "HKLM\\Software\\Tarvelon\\Velkor\\srv\\Environment";
  ASSERT_EQ(Tool({"set", env, "B", "sz", "old"}), 0);
  const char list[] = "A=1\0B=\0C\0D=4";
  EXPECT_EQ(QorvRegSetEnv(HKEY_LOCAL_MACHINE, list, 4), -1);
  EXPECT_EQ(Get(env, "A"), "1");
  EXPECT_EQ(Get(env, "B"), "<missing>");
  EXPECT_EQ(Get(env, "D"), "<missing>");
  EXPECT_EQ(QorvRegSetEnv(HKEY_LOCAL_MACHINE, list, 0), 0);
  char buf[32];
  uint32_t length = sizeof buf;
  EXPECT_EQ(QorvRegGetEnv(HKEY_LOCAL_MACHINE, "A", buf, &length), 0);
  EXPECT_STREQ(buf, "1");
  length = sizeof buf;
  EXPECT_EQ(QorvRegGetEnv(HKEY_LOCAL_MACHINE, "none", buf, &length), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(QorvRegGetEnv(HKEY_LOCAL_MACHINE, nullptr, buf, &length), 87);
  ASSERT_EQ(Tool({"set", env, "E", "sz", "five"}), 0);
  uint32_t count = 0;
  length = 0;
  EXPECT_EQ(QorvRegGetEnvEnum(HKEY_LOCAL_MACHINE, nullptr, &length, &count), 0);
  EXPECT_EQ(length, 12u);
  length = sizeof buf;
  EXPECT_EQ(QorvRegGetEnvEnum(HKEY_LOCAL_MACHINE, buf, &length, &count), 0);
  EXPECT_EQ(std::string(buf, 12), std::string("A=1\0E=five\0\0", 12));
  setenv("ZIVEVODAREVEZO", "other", 1);
  EXPECT_EQ(QorvRegGetEnv(HKEY_LOCAL_MACHINE, "A", buf, &length), -2);
}

void* Grow(void* old, uint32_t size, void** out) {
  void* p = std::realloc(old, size);
  *out = p;
  return p;
}

TEST_F(Reg, ServerEnvironmentRecord) {
  const std::string env = "HKLM\\Software\\Tarvelon\\Velkor\\srv\\Environment";
  const std::string long_name(40, 'z');
  struct Seed {
    const char* name;
    std::string value;
  } seeds[] = {{"DBPATH", "/a:/b"},       {"ZIVEVODAREVEZO", long_name}, {"SERVERNUM", "12"},
               {"CASESENSITIVE", "Y"},    {"DBANSIWARN", "y"},          {"DBENVTEXT1", "sixteen"},
               {"TARVELONDIR", "/opt/t"}, {"PDQPRIORITY", "42"}};
  for (const Seed& sd : seeds) ASSERT_EQ(Tool({"set", env, sd.name, "sz", sd.value}), 0) << sd.name;
  void* record = nullptr;
  ASSERT_EQ(QorvRegEnv(HKEY_LOCAL_MACHINE, 1, &record, Grow), 0);
  auto* r = static_cast<unsigned char*>(record);
  auto text = [&](size_t at) { return std::string(reinterpret_cast<char*>(r + at)); };
  EXPECT_EQ(text(355), "/a:/b");
  EXPECT_EQ(text(0), "");  // too long for the short field
  EXPECT_EQ(text(2400), long_name);
  EXPECT_EQ(text(148), "12");
  EXPECT_EQ(r[354], 'Y');
  EXPECT_EQ(text(1132), "y");
  EXPECT_EQ(text(173), "/opt/t");
  EXPECT_EQ(text(1883), "42");
  const char* t16 = nullptr;
  const char* t15 = nullptr;
  std::memcpy(&t16, r + 616, sizeof t16);
  std::memcpy(&t15, r + 624, sizeof t15);
  ASSERT_NE(t16, nullptr);
  EXPECT_EQ(t16, reinterpret_cast<char*>(r + 2824));
  EXPECT_STREQ(t16, "sixteen");
  EXPECT_EQ(t15, nullptr);
  // Written back with changes: one character in lower case, the long
  // value kept, an emptied field deleted.
  r[354] = 'N';
  r[355] = '\0';
  std::strcpy(reinterpret_cast<char*>(r + 148), "7");
  ASSERT_EQ(QorvRegEnv(HKEY_LOCAL_MACHINE, 2, &record, Grow), 0);
  EXPECT_EQ(Get(env, "CASESENSITIVE"), "n");
  EXPECT_EQ(Get(env, "DBPATH"), "<missing>");
  EXPECT_EQ(Get(env, "ZIVEVODAREVEZO"), long_name);
  EXPECT_EQ(Get(env, "SERVERNUM"), "7");
  EXPECT_EQ(Get(env, "DBENVTEXT1"), "sixteen");
  std::free(record);
  EXPECT_EQ(QorvRegEnv(HKEY_LOCAL_MACHINE, 3, &record, Grow), 87);
  setenv("ZIVEVODAREVEZO", "nosuch", 1);
  record = nullptr;
  EXPECT_EQ(QorvRegEnv(HKEY_LOCAL_MACHINE, 1, &record, Grow), -2);
  std::free(record);
}

TEST_F(Reg, ProtocolList) {
  char list[32] = "onsoctcp\0onsocssl\0ontlitcp";
  uint32_t length = sizeof list, count = 2;
  ASSERT_EQ(QorvRegProtocolEnum(2, list, &length, &count), 0);
  EXPECT_EQ(Get("HKCU\\Software\\Tarvelon\\NETRC", "PROTOCOLS"), "onsoctcp;onsocssl;ontlitcp");
  EXPECT_EQ(std::string(list, 27), std::string("onsoctcp\0onsocssl\0ontlitcp", 27));
  char back[32];
  length = sizeof back;
  count = 99;
  ASSERT_EQ(QorvRegProtocolEnum(1, back, &length, &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(back, 27), std::string(list, 27));
  EXPECT_EQ(QorvRegProtocolEnum(3, back, &length, &count), 87);
}

}  // namespace
