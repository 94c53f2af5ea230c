// Modules between the project's client and server: the test server
// (al_server) accepts with module authentication, the client connects on
// an entry naming the test module, and a python3 relay between them
// records the bytes on the wire.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "connect/asfutil.h"
#include "connect/csm.h"
#include "connect/csm_config.h"
#include "tests/connect/al_fixture.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

const std::string kModule = std::string(TEV_CSM_DIR) + "/csm_test_module.so";

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// What the test module puts on the wire for a packet: a 4-byte length and
// the data XORed with the key, computed here from the module's rule.
std::string Encoded(const std::string& data, unsigned char key) {
  std::string out(4, '\0');
  size_t n = data.size();
  for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((n >> (24 - 8 * k)) & 0xff);
  for (char c : data) out.push_back(static_cast<char>(static_cast<unsigned char>(c) ^ key));
  return out;
}

std::string Next(tevtest::Child& c, const std::string& prefix) {
  for (;;) {
    std::string line = c.ReadLine();
    if (line.empty() || line.rfind(prefix, 0) == 0) return line;
  }
}

class CsmAl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(connect_test::SeedAccountIds(dir.Path("reg")), 0);
    dir.WriteFile("concsm.cfg", "xor(\"" + kModule + "\", \"log=" + dir.Path("module.log") +
                                    "\", \"key=90\")\n");
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    setenv("TARVELONSQLHOSTS", dir.Path("sqlhosts").c_str(), 1);
    setenv("TARVELONCONCSMCFG", dir.Path("concsm.cfg").c_str(), 1);
    unsetenv("ZIVEVODAREVEZO");
    unsetenv("DBPATH");
    if (asf_global_get() == nullptr) {
      AsfControlBlock cb{};
      ASSERT_EQ(al_test::Init(&cb), 0) << cb.error;
    }
  }
  void TearDown() override {
    csm_unload_config();
    unsetenv("TARVELONCONCSMCFG");
    unsetenv("TARVELONSQLHOSTS");
  }
  std::vector<std::string> Env() {
    return {"PATH=/usr/bin:/bin", "TARVELONDIR=" + tevtest::BuildTree(),
            "TARVELONSQLHOSTS=" + dir.Path("sqlhosts"), "TARVELONCONCSMCFG=" + dir.Path("concsm.cfg"),
            "HOME=" + dir.path(), "TARVELON_REGISTRY=" + dir.Path("reg"), "ZIVEVODAREVEZO=tvtest"};
  }
  // Starts the test server on a module entry: its port.
  std::string StartServer(tevtest::Child** out, const std::string& csm = "xor",
                          const std::string& type = "dwsoctcp") {
    dir.WriteFile("sqlhosts", "lsrv " + type + " 127.0.0.1 0 csm=(" + csm + ")\n");
    // The module names no user: the trust check decides (a peer on this
    // host is trusted).
    server = new tevtest::Child({tevtest::BuiltProgram("al_server"), "serve", "lsrv", "16777216", "8"}, Env());
    *out = server;
    std::string port = Next(*server, "port ");
    return port.empty() ? "" : port.substr(5);
  }

  // Starts the relay to the port: its own port.
  std::string StartRelay(const std::string& port) {
    relay = new tevtest::Child({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/csm_relay.py", port,
                                dir.Path("wire.log")},
                               {"PATH=/usr/bin:/bin"});
    return relay->ReadLine();
  }
  // The chunks the relay saw, one "c>s <hex>" or "s>c <hex>" each.
  std::vector<std::string> Wire() {
    std::istringstream lines(tevtest::ReadFile(dir.Path("wire.log")));
    std::vector<std::string> seen;
    for (std::string line; std::getline(lines, line);) seen.push_back(line);
    return seen;
  }
  ~CsmAl() override {
    delete relay;
    delete server;
  }

  tevtest::TempInstall dir;
  tevtest::Child* server = nullptr;
  tevtest::Child* relay = nullptr;
};

// Where `needle` first appears in the wire chunks from chunk `from` on,
// in the direction `tag`: the chunk's index, or -1.
int Find(const std::vector<std::string>& wire, const std::string& tag, const std::string& needle, int from) {
  for (int i = from; i < static_cast<int>(wire.size()); ++i) {
    if (wire[i].rfind(tag + " ", 0) == 0 && wire[i].find(needle, 4) != std::string::npos) return i;
  }
  return -1;
}

TEST_F(CsmAl, ClientAndServerTalkThroughTheModuleWithPacketsTransformedOnTheWire) {
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv);
  ASSERT_FALSE(port.empty());
  tevtest::Child relay({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/csm_relay.py", port,
                        dir.Path("wire.log")},
                       {"PATH=/usr/bin:/bin"});
  std::string relay_port = relay.ReadLine();
  ASSERT_FALSE(relay_port.empty());
  dir.WriteFile("sqlhosts", "lsrv dwsoctcp 127.0.0.1 0 csm=(xor)\nsrv dwsoctcp 127.0.0.1 " + relay_port +
                                " csm=(xor)\n");

  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.os_error << " " << cb.text;
  ASSERT_TRUE(csm_has_chain(c.assoc));
  EXPECT_TRUE(csm_encodes(c.assoc));
  EXPECT_TRUE(csm_decodes(c.assoc));
  EXPECT_EQ(Next(*srv, "special "), "special rc=0 error=0 os=0 text=");
  EXPECT_EQ(Next(*srv, "respond "), "respond rc=0 state=1");
  ASSERT_EQ(al_test::Send(&cb, "secret-one"), 0) << cb.error;
  EXPECT_EQ(al_test::Recv(&cb), "Rsecret-one");
  EXPECT_EQ(Next(*srv, "got "), "got secret-one");
  ASSERT_EQ(al_test::Abort(&cb), 0) << cb.error;
  EXPECT_EQ(Next(*srv, "end ").rfind("end error", 0), 0u);
  relay.Wait();

  // On the wire: the hello exchange in the clear, then each packet as its
  // length and the XORed bytes, never the data itself.
  std::string wire = tevtest::ReadFile(dir.Path("wire.log"));
  std::istringstream lines(wire);
  std::vector<std::string> seen;
  for (std::string line; std::getline(lines, line);) seen.push_back(line);
  ASSERT_GE(seen.size(), 4u) << wire;
  EXPECT_EQ(seen[0], "c>s " + Hex("HELLO key=90"));
  EXPECT_EQ(seen[1], "s>c " + Hex("WELCOME"));
  EXPECT_EQ(seen[2], "c>s " + Hex(Encoded("secret-one", 90)));
  EXPECT_EQ(seen[3], "s>c " + Hex(Encoded("Rsecret-one", 90)));
  EXPECT_EQ(wire.find(Hex("secret-one")), std::string::npos);

  // Both ends' chains were aborted with the layer's reason.
  std::string log = tevtest::ReadFile(dir.Path("module.log"));
  EXPECT_EQ(log, "abort ASF_ASSOCABORT service request.\nabort ASF_ASSOCABORT service request.\n");
}

TEST_F(CsmAl, ConnectFailuresOfTheModuleFrameworkReachTheCaller) {
  dir.WriteFile("concsm.cfg", "xor(\"" + kModule + "\", \"log=" + dir.Path("module.log") + "\", \"key=90\")\n" +
                                  "five(\"" + kModule + "\", \"\", \"first=5\")\n" +
                                  "nine(\"" + kModule + "\", \"\", \"first=9\")\n" +
                                  "odd(\"" + kModule + "\", \"fail failcode=-6000\")\n" +
                                  "other(\"" + kModule + "\")\n" +
                                  "old(\"" + kModule + "\", \"v2\")\n" +
                                  "refuses(\"" + kModule + "\", \"fail count=" + dir.Path("count") + "\")\n" +
                                  "both xor other\n");
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv);
  ASSERT_FALSE(port.empty());
  std::string hosts = "lsrv dwsoctcp 127.0.0.1 0 csm=(xor)\n";
  for (const char* m : {"five", "nine", "odd", "both", "old", "refuses", "nosuch", "xor"}) {
    hosts += std::string("s") + m + " dwsoctcp 127.0.0.1 " + port + " csm=(" + m + ")\n";
  }
  dir.WriteFile("sqlhosts", hosts);
  struct Case {
    const char* server;
    int32_t error;
    std::string text;
  } cases[] = {
      {"@sfive", -14513, ""},          // result 5 before anything was sent
      {"@snine", -14506, "nine : 9"},  // a result code the framework does not know
      {"@sodd", -5000, "the test module refuses"},  // a module error outside -5013..-5001
      {"@sboth", -14500, "-14500"},    // two modules in one chain
      {"@sold", -14504, "2: old"},     // the entry table's version left at 2
      {"@srefuses", -5003, "the test module refuses"},
      {"@srefuses", -5003, "the test module refuses"},  // stored, csm_init not called again
      {"@snosuch", -14502, "nosuch"},
  };
  for (const Case& k : cases) {
    al_test::ClientRecords c("joe", "pw");
    AsfControlBlock cb{};
    cb.timeout_ms = 10000;
    EXPECT_EQ(c.Connect(&cb, k.server), -1) << k.server;
    EXPECT_EQ(cb.error, k.error) << k.server;
    if (!k.text.empty()) {
      EXPECT_EQ(std::string(cb.text), k.text) << k.server;
    }
    if (c.assoc != nullptr) {
      EXPECT_FALSE(csm_has_chain(c.assoc));
      cb.assoc = c.assoc;
      al_test::Abort(&cb);
    }
  }
  EXPECT_EQ(tevtest::ReadFile(dir.Path("count")), "init version=3 services=1\n");
}

TEST_F(CsmAl, APendingNegotiationInputIsDecodedBeforeAnythingIsRead) {
  // The server's module sends its first packet behind its answer; the
  // client's module completes with result 2, and the first receive
  // decodes that packet without reading.
  dir.WriteFile("concsm.cfg", "xor(\"" + kModule + "\", \"\", \"key=90\")\n" +
                                  "pend(\"" + kModule + "\", \"\", \"key=90 pending\")\n");
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv, "pend");
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "lsrv dwsoctcp 127.0.0.1 0 csm=(pend)\nsrv dwsoctcp 127.0.0.1 " + port +
                                " csm=(xor)\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  EXPECT_EQ(al_test::Recv(&cb), "greeting");
  ASSERT_EQ(al_test::Send(&cb, "after"), 0) << cb.error;
  EXPECT_EQ(al_test::Recv(&cb), "Rafter");
  EXPECT_EQ(Next(*srv, "got "), "got after");
  EXPECT_EQ(al_test::Abort(&cb), 0);
}

TEST_F(CsmAl, ABlockedSendHoldsItsOutputAndRefusesAnotherPacket) {
  tevtest::Child peer({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/csm_stall.py"},
                      {"PATH=/usr/bin:/bin"});
  std::string port = peer.ReadLine();
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "srv dwsoctcp 127.0.0.1 " + port + " csm=(xor)\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  // The peer reads nothing more: sends without waiting fill the socket
  // until one would block.
  std::string first(32768, 'a'), second(32768, 'b');
  AsfPacketBuffer a{first.data(), static_cast<uint32_t>(first.size()), 0, 0, first.data(),
                    static_cast<uint32_t>(first.size()), 0};
  cb.timeout_ms = 0;
  int rc = 0;
  for (int k = 0; k < 4096 && rc == 0; ++k) rc = csm_send(&cb, &a);
  ASSERT_EQ(rc, -1);
  EXPECT_EQ(cb.error, ASF_TIMEOUT);
  // Another packet while the first is held: refused, and the chain is
  // closed to further sends.
  AsfPacketBuffer b{second.data(), static_cast<uint32_t>(second.size()), 0, 0, second.data(),
                    static_cast<uint32_t>(second.size()), 0};
  EXPECT_EQ(csm_send(&cb, &b), -1);
  EXPECT_EQ(cb.error, -28084);
  EXPECT_EQ(csm_send(&cb, &a), -1);
  EXPECT_EQ(cb.error, -28087);
  cb.timeout_ms = 10000;
  EXPECT_EQ(al_test::Abort(&cb), 0);
}

TEST_F(CsmAl, SessionLayerAssociationsNegotiateTransformAndCloseThroughTheModule) {
  // A multiplexing server type: the server replies 110, the modules
  // negotiate over session packets, the server's answer (111) comes
  // through the chain, and an orderly release runs the close exchange.
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv, "xor", "vqsoctcp");
  ASSERT_FALSE(port.empty());
  std::string relay_port = StartRelay(port);
  ASSERT_FALSE(relay_port.empty());
  dir.WriteFile("sqlhosts", "lsrv vqsoctcp 127.0.0.1 0 csm=(xor)\nsrv vqsoctcp 127.0.0.1 " + relay_port +
                                " csm=(xor)\n");
  // No user in the request: the server takes its own user, whom the trust
  // check accepts from this host.
  al_test::ClientRecords c("", "");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.os_error << " " << cb.text;
  ASSERT_TRUE(csm_has_chain(c.assoc));
  ASSERT_NE(c.cred_answer, nullptr);  // the server's answer arrived after the negotiation
  EXPECT_EQ(static_cast<SqliConnCred*>(c.cred_answer)->kind, 2);
  EXPECT_EQ(Next(*srv, "special "), "special rc=0 error=0 os=0 text=");
  EXPECT_EQ(Next(*srv, "respond "), "respond rc=0 state=1");
  for (const char* text : {"secret-one", "secret-two"}) {
    ASSERT_EQ(al_test::Send(&cb, text), 0) << cb.error;
    EXPECT_EQ(al_test::Recv(&cb), std::string("R") + text);
    EXPECT_EQ(Next(*srv, "got "), std::string("got ") + text);
  }
  EXPECT_EQ(al_test::Release(&cb), 0) << cb.error << " " << cb.text;
  // The server's module answered the close and ended its side; the
  // server closes its chain in order.
  EXPECT_EQ(Next(*srv, "end "), "end error -14507 0");
  EXPECT_EQ(Next(*srv, "release "), "release rc=0 error=0 os=0 text=");
  relay->Wait();

  std::vector<std::string> wire = Wire();
  std::string all;
  for (const std::string& w : wire) all += w + "\n";
  // In order, inside the session packets: the request, the 110 reply,
  // the hello exchange, the answer (111 and acceptance 0 0, XORed behind
  // its length), the packets XORed, the close exchange in the clear.
  int at = Find(wire, "s>c", "006e", 0);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "c>s", Hex("HELLO key=90"), at);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "s>c", Hex("WELCOME"), at);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "s>c", "5a355a5a", at);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "c>s", Hex(Encoded("secret-one", 90)), at);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "s>c", Hex(Encoded("Rsecret-one", 90)), at);
  ASSERT_GE(at, 0) << all;
  at = Find(wire, "c>s", Hex("BYE"), at);
  ASSERT_GE(at, 0) << all;
  EXPECT_GE(Find(wire, "s>c", Hex("BYE-OK"), at), 0) << all;
  EXPECT_EQ(all.find(Hex("secret")), std::string::npos);

  // Both chains were closed, neither aborted.
  std::string log = tevtest::ReadFile(dir.Path("module.log"));
  EXPECT_NE(log.find("close confirmed\n"), std::string::npos) << log;
  EXPECT_NE(log.find("close answered\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("abort"), std::string::npos) << log;

  // A server that refuses after the modules agreed: its answer carries
  // the refusal, the client's connect fails with it.
  dir.WriteFile("sqlhosts", "lsrv vqsoctcp 127.0.0.1 0 csm=(xor)\nsrv vqsoctcp 127.0.0.1 " + port + " csm=(xor)\n");
  al_test::ClientRecords refused("", "", "refused");
  AsfControlBlock rcb{};
  rcb.timeout_ms = 10000;
  EXPECT_EQ(refused.Connect(&rcb, "@srv"), -1);
  EXPECT_EQ(rcb.error, ASF_REFUSED);
  EXPECT_EQ(rcb.os_error, -951);
  EXPECT_EQ(Next(*srv, "respond "), "respond rc=0 error=0 os=0 text=");
}

TEST_F(CsmAl, ControlMessagesDuringTransferAndAModuleThatEndsTheExchange) {
  dir.WriteFile("concsm.cfg", "xor(\"" + kModule + "\", \"log=" + dir.Path("module.log") + "\", \"key=90\")\n" +
                                  "ctl(\"" + kModule + "\", \"log=" + dir.Path("module.log") +
                                  "\", \"key=90 ctl quit\")\n");
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv);
  ASSERT_FALSE(port.empty());
  std::string relay_port = StartRelay(port);
  ASSERT_FALSE(relay_port.empty());
  dir.WriteFile("sqlhosts", "lsrv dwsoctcp 127.0.0.1 0 csm=(xor)\nsrv dwsoctcp 127.0.0.1 " + relay_port +
                                " csm=(ctl)\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  // The first send asks the peer (result 3 waits for its answer, which
  // the peer's decode gives with result 4) before the packet goes.
  ASSERT_EQ(al_test::Send(&cb, "first"), 0) << cb.error << " " << cb.text;
  EXPECT_EQ(Next(*srv, "got "), "got first");
  EXPECT_EQ(al_test::Recv(&cb), "Rfirst");
  ASSERT_EQ(al_test::Send(&cb, "second"), 0) << cb.error;
  EXPECT_EQ(al_test::Recv(&cb), "Rsecond");

  // The module ends the exchange on an outgoing packet: the packet cannot
  // go, and the chain takes no more.
  EXPECT_EQ(al_test::Send(&cb, "quit"), -1);
  EXPECT_EQ(cb.error, -14509);
  EXPECT_EQ(al_test::Send(&cb, "later"), -1);
  EXPECT_EQ(cb.error, -28087);
  EXPECT_EQ(al_test::Abort(&cb), 0);
  relay->Wait();

  std::vector<std::string> wire = Wire();
  std::vector<std::string> expected = {
      "c>s " + Hex("HELLO key=90 ctl quit"), "s>c " + Hex("WELCOME"), "c>s " + Hex("PING"),
      "s>c " + Hex("PONG"), "c>s " + Hex(Encoded("first", 90)), "s>c " + Hex(Encoded("Rfirst", 90)),
      "c>s " + Hex(Encoded("second", 90)), "s>c " + Hex(Encoded("Rsecond", 90))};
  ASSERT_GE(wire.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(wire[i], expected[i]) << i;
  EXPECT_EQ(wire.size(), expected.size());  // "quit" never reached the wire
}

TEST_F(CsmAl, TheModuleAtEitherEndReleasesABufferItGaveOut) {
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv);
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "srv dwsoctcp 127.0.0.1 " + port + " csm=(xor)\n");
  auto buffer = [](const std::string& text) {
    auto* b = static_cast<CsmBuffer*>(std::calloc(1, sizeof(CsmBuffer)));
    b->data = std::malloc(text.size());
    std::memcpy(b->data, text.data(), text.size());
    b->length = static_cast<int64_t>(text.size());
    return b;
  };
  // Without a chain.
  AsfControlBlock none{};
  EXPECT_EQ(csm_release_buffer(&none, nullptr, 0), -1);
  EXPECT_EQ(none.error, -14576);

  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  struct Case {
    int32_t end;
    bool with_buffer;
    int32_t error;
  } cases[] = {{2, true, -14579}, {-1, true, -14579}, {0, false, -14510}, {0, true, 0}, {1, true, 0}};
  int released = 0;
  for (const Case& k : cases) {
    CsmBuffer* b = k.with_buffer ? buffer("release-me " + std::to_string(k.end)) : nullptr;
    cb.error = 0;
    int rc = csm_release_buffer(&cb, b, k.end);
    EXPECT_EQ(rc, k.error == 0 ? 0 : -1) << k.end;
    EXPECT_EQ(cb.error, k.error) << k.end;
    if (rc != 0 && b != nullptr) {
      std::free(b->data);
      std::free(b);
    }
    if (rc == 0) ++released;
  }
  EXPECT_EQ(released, 2);
  EXPECT_EQ(al_test::Abort(&cb), 0);
  std::string log = tevtest::ReadFile(dir.Path("module.log"));
  EXPECT_NE(log.find("release release-me 0\nrelease release-me 1\n"), std::string::npos) << log;
}

TEST_F(CsmAl, NegotiationVariantsAndTheInstanceFlags) {
  // The server's module answers every variant; the client's entry chooses
  // how its module negotiates and what its instance transforms.
  dir.WriteFile("concsm.cfg", "xor(\"" + kModule + "\", \"\", \"key=90\")\n" +
                                  "slow(\"" + kModule + "\", \"\", \"key=90 slow\")\n" +
                                  "nostart(\"" + kModule + "\", \"nostart\", \"key=90 encode-only\")\n" +
                                  "half(\"" + kModule + "\", \"\", \"key=90 encode-only\")\n");
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv);
  ASSERT_FALSE(port.empty());
  struct Case {
    const char* csm;
    bool decodes;
    std::string reply;  // what the client's receive gives for "ping"
  } cases[] = {
      {"slow", true, "Rping"},      // result 4 sends the hello, 5 waits for the answer
      {"nostart", true, "Rping"},   // no start-instance slot: both directions
      {"half", false, Encoded("Rping", 90)},  // encode only: the server's packet arrives as sent
  };
  std::string hosts = "lsrv dwsoctcp 127.0.0.1 0 csm=(xor)\n";
  for (const Case& k : cases) hosts += std::string("s") + k.csm + " dwsoctcp 127.0.0.1 " + port + " csm=(" + k.csm + ")\n";
  dir.WriteFile("sqlhosts", hosts);
  for (const Case& k : cases) {
    al_test::ClientRecords c("joe", "pw");
    AsfControlBlock cb{};
    cb.timeout_ms = 10000;
    ASSERT_EQ(c.Connect(&cb, std::string("@s") + k.csm), 0) << k.csm << " " << cb.error << " " << cb.text;
    EXPECT_TRUE(csm_encodes(c.assoc)) << k.csm;
    EXPECT_EQ(csm_decodes(c.assoc) != 0, k.decodes) << k.csm;
    ASSERT_EQ(al_test::Send(&cb, "ping"), 0) << k.csm << " " << cb.error;
    EXPECT_EQ(Next(*srv, "got "), "got ping") << k.csm;
    EXPECT_EQ(al_test::Recv(&cb), k.reply) << k.csm;
    EXPECT_EQ(al_test::Abort(&cb), 0);
  }
}

TEST_F(CsmAl, ASessionBelowLevel61CannotTakeAModuleAccept) {
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv, "xor", "vqsoctcp");
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "srv vqsoctcp 127.0.0.1 " + port + " csm=(xor)\n");
  al_test::ClientRecords c("", "");
  c.rec.info.level = 60;
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  EXPECT_EQ(c.Connect(&cb, "@srv"), -1);
  EXPECT_EQ(Next(*srv, "special "), "special rc=-1 error=8 os=-25564 text=");
  if (c.assoc != nullptr) {
    cb.assoc = c.assoc;
    al_test::Abort(&cb);
  }
}

TEST_F(CsmAl, AModuleWithoutNegotiationStepsCompletesAtOnce) {
  dir.WriteFile("concsm.cfg", "bare(\"" + kModule + "\", \"nosteps\")\n");
  tevtest::Child* srv = nullptr;
  std::string port = StartServer(&srv, "bare");
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "srv dwsoctcp 127.0.0.1 " + port + " csm=(bare)\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  ASSERT_EQ(al_test::Send(&cb, "ping"), 0) << cb.error;
  EXPECT_EQ(Next(*srv, "got "), "got ping");
  EXPECT_EQ(al_test::Recv(&cb), "Rping");
  // No step made an instance: no module can release a buffer.
  CsmBuffer b{};
  EXPECT_EQ(csm_release_buffer(&cb, &b, 1), -1);
  EXPECT_EQ(cb.error, -14577);
  EXPECT_EQ(al_test::Abort(&cb), 0);
}

TEST_F(CsmAl, ANegotiationCompleteWithResult2BeforeAnyInputLeavesNothingToDecode) {
  // The connect step says result 2 at once: there is no last input, so
  // the first receive reads from the peer (who sends nothing: time-out 0
  // gives code 6) in place of decoding nothing.
  dir.WriteFile("concsm.cfg", "two(\"" + kModule + "\", \"\", \"first=2\")\n");
  tevtest::Child peer({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/csm_stall.py"},
                      {"PATH=/usr/bin:/bin"});
  std::string port = peer.ReadLine();
  ASSERT_FALSE(port.empty());
  dir.WriteFile("sqlhosts", "srv dwsoctcp 127.0.0.1 " + port + " csm=(two)\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.text;
  cb.timeout_ms = 0;
  EXPECT_EQ(al_test::Recv(&cb), "error 6 0");
  cb.timeout_ms = 10000;
  EXPECT_EQ(al_test::Abort(&cb), 0);
}

}  // namespace
