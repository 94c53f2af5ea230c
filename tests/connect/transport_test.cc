// The transport layer and the socket driver against python3 peers and a
// second process of this project, on 127.0.0.1 and ::1.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <vector>

#include "connect/driver.h"
#include "connect/tcp.h"
#include "tests/connect/connect_fixture.h"

namespace {

using connect_test::Address;
using connect_test::ConnectDirect;
using connect_test::EnsureLayer;
using connect_test::Hex;
using connect_test::Ipv6Loopback;
using connect_test::Peer;
using connect_test::RunClient;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureLayer(); }
};

// A port on which nothing listens.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

int Receive(AsfControlBlock* cb, std::string* out) {
  AsfPacketBuffer* buf = nullptr;
  int rc = tl_recv(cb, &buf);
  if (rc == 0) {
    out->assign(buf->position, buf->left);
    asf_buffer_put(cb->assoc, ASF_BF_RECV, buf);
  }
  return rc;
}

int SendText(AsfControlBlock* cb, const std::string& text) {
  AsfPacketBuffer* send = cb->assoc->buffers[ASF_BUF_SEND];
  std::memcpy(send->position, text.data(), text.size());
  send->left = static_cast<uint32_t>(text.size());
  return tl_send(cb, send);
}

int FdOf(AsfControlBlock* cb) {
  int fds[2] = {-1, -1};
  AsfTlAttribute q = {12, fds};
  return tl_attribute(cb, &q) == 0 ? fds[0] : -1;
}

TEST_F(TransportTest, ResolveAddressTexts) {
  const struct {
    const char* text;
    int error;  // 0: resolves
    int port;
    int family;
    const char* message;
  } cases[] = {
      {"127.0.0.1|1234|soctcp", 0, 1234, 2, ""},
      {"127.0.0.1|   5678|soctcp", 0, 5678, 2, ""},
      {"127.0.0.1|0080|soctcp", 0, 80, 2, ""},
      {"127.0.0.1||soctcp", 0, 0, 2, ""},
      {"*127.0.0.1|9|soctcp", 0, 9, 2, ""},
      {"localhost|7|soctcp", 0, 7, 2, ""},
      {"127.0.0.1|soctcp", -25591, 0, 0, ""},
      {"nobars", -25591, 0, 0, ""},
      {"no-such-host.invalid|1|soctcp", -930, 0, 0, "no-such-host.invalid"},
      {"127.0.0.1|no-such-service-x|soctcp", -931, 0, 0, "no-such-service-x"},
  };
  for (const auto& c : cases) {
    AsfControlBlock cb{};
    AsfAddress out{};
    int rc = tcp_resolve(c.text, &out, &cb, nullptr, 0);
    if (c.error == 0) {
      ASSERT_EQ(rc, 0) << c.text << " " << cb.error;
      EXPECT_EQ(ntohs(out.sock.port), c.port) << c.text;
      // A name may come back as an IPv4-mapped IPv6 address.
      bool mapped = out.sock.family == 23 && out.sock.addr[10] == 0xff && out.sock.addr[11] == 0xff;
      EXPECT_EQ(mapped ? 2 : out.sock.family, c.family) << c.text;
      EXPECT_EQ(out.sock.addr[mapped ? 12 : 0], 127) << c.text;
    } else {
      EXPECT_EQ(rc, -1) << c.text;
      EXPECT_EQ(cb.error, c.error) << c.text;
      EXPECT_STREQ(cb.text, c.message) << c.text;
    }
  }
  if (tcp_address_family() == 23) {
    AsfControlBlock cb{};
    AsfAddress out{};
    ASSERT_EQ(tcp_resolve("::1|22|soctcp", &out, &cb, nullptr, 0), 0);
    EXPECT_EQ(out.sock.family, 23);
    EXPECT_EQ(out.sock.addr[15], 1);
  }
}

TEST_F(TransportTest, SameHostAndPeerDescriptions) {
  EXPECT_EQ(tcp_same_host("*", "any.host.example"), 0);
  EXPECT_EQ(tcp_same_host("localhost", "127.0.0.1"), 0);
  EXPECT_EQ(tcp_same_host("127.0.0.1", "127.0.0.2"), -1);
  std::string a(300, 'a'), b(300, 'b');
  EXPECT_EQ(tcp_same_host(a.c_str(), b.c_str()), -1);
  EXPECT_EQ(tcp_same_host(a.c_str(), a.c_str()), 0);

  AsfDriver d{};
  std::strcpy(d.protocol_name, "soctcp");
  const struct {
    const char* text;
    int32_t mode;
    int kind;
    const char* expected;
  } cases[] = {
      {"0.0.0.0|5|soctcp", 0, 8, "WILDCARD|5|soctcp"},
      {"127.0.0.1|6|soctcp", 0, 8, "localhost|6|soctcp"},
      {"192.0.2.7|7|soctcp", 0x100, 2, "192.0.2.7|7|soctcp"},
  };
  for (const auto& c : cases) {
    AsfControlBlock cb{};
    cb.mode = c.mode;
    AsfAddress peer{};
    ASSERT_EQ(tcp_resolve(c.text, &peer, &cb, &d, 0), 0);
    AsfAddressBlock* out = nullptr;
    ASSERT_EQ(tcp_describe_peer(&peer, &out, &d, &cb), 0);
    EXPECT_EQ(out->kind, c.kind);
    EXPECT_STREQ(out->text, c.expected);
    asf_free_address_block(out);
  }
}

TEST_F(TransportTest, ProtocolOfAnAddress) {
  const AsfProtocolEntry* table = nullptr;
  tl_protocol_table(&table);
  int soctcp = tl_find_protocol("host|svc|soctcp");
  ASSERT_GE(soctcp, 0);
  EXPECT_STREQ(table[soctcp].name, "soctcp");
  EXPECT_EQ(table[soctcp].id, 1);
  EXPECT_EQ(tl_find_protocol("host|svc|soctcpx"), -1);
  EXPECT_EQ(tl_find_protocol("hostsoctcp"), -1);
  EXPECT_STREQ(table[tl_find_protocol("a|b|socssl")].kind_name, "socket");

  for (const char* text : {"127.0.0.1|1|soctcpx", "no-protocol"}) {
    AsfControlBlock cb{};
    AsfAssociation* a = asf_assoc_new(&cb, ASF_INITIATOR, nullptr);
    cb.assoc = a;
    std::string t = text;
    AsfTransportRequest tr{{1, t.data()}, nullptr};
    EXPECT_EQ(tl_connect(&cb, &tr), -1);
    EXPECT_EQ(cb.error, -25507);
    EXPECT_EQ(tl_listen(&cb, &tr, 0), -1);
    EXPECT_EQ(cb.error, -25507);
    asf_assoc_destroy(a);
  }
}

// The loopback hosts a test runs on: ::1 only where it can be bound.
std::vector<std::string> LoopbackHosts() {
  std::vector<std::string> hosts = {"127.0.0.1"};
  if (tcp_address_family() == 23 && Ipv6Loopback()) hosts.push_back("::1");
  return hosts;
}

TEST_F(TransportTest, TimeOutsOfAReceive) {
  for (const std::string& host : LoopbackHosts()) {
  SCOPED_TRACE(host);
  Peer peer(host, "silent");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address(host, peer.port()), nullptr);
  ASSERT_NE(a, nullptr);
  std::string got;
  for (int32_t timeout : {0, 500}) {
    cb.timeout_ms = timeout;
    EXPECT_EQ(Receive(&cb, &got), -1);
    EXPECT_EQ(cb.error, 6) << timeout;
    EXPECT_NE(a->buffers[ASF_BUF_RECV], nullptr);  // the buffer went back
  }
  EXPECT_NE(a->driver->flags & DRV_NONBLOCKING, 0u);
  // A send without a time-out switches the socket back to blocking.
  cb.timeout_ms = -1;
  EXPECT_EQ(SendText(&cb, "x"), 0);
  EXPECT_EQ(a->driver->flags & DRV_NONBLOCKING, 0u);
  EXPECT_EQ(tl_close(&cb, 0), 0);
  asf_assoc_destroy(a);
  }
}

TEST_F(TransportTest, ReceiveAfterThePeerClosed) {
  for (const std::string& host : LoopbackHosts()) {
  SCOPED_TRACE(host);
  Peer peer(host, "close");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address(host, peer.port()), nullptr);
  ASSERT_NE(a, nullptr);
  peer.Stop();
  AsfPacketBuffer* buf = a->buffers[ASF_BUF_RECV];
  std::string got;
  EXPECT_EQ(Receive(&cb, &got), -1);
  EXPECT_EQ(cb.error, -25582);
  EXPECT_EQ(buf->left, 0u);
  tl_close(&cb, 0);
  asf_assoc_destroy(a);
  }
}

// Sends and receives under time-outs against a socket of the test: data
// already waiting is delivered, a full send buffer ends in a time-out that
// loses and repeats nothing, and a closed peer is reported as closed.
TEST_F(TransportTest, SendAndReceiveUnderTimeOuts) {
  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(lfd, 1), 0);
  socklen_t slen = sizeof sa;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sa), &slen);
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", ntohs(sa.sin_port)), nullptr);
  ASSERT_NE(a, nullptr);
  int pfd = accept(lfd, nullptr, nullptr);
  ASSERT_GE(pfd, 0);
  timeval bound{10, 0};  // a lost byte fails the test instead of hanging it
  setsockopt(pfd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);

  std::string got;
  for (int32_t timeout : {0, 300}) {
    std::string text = "waiting " + std::to_string(timeout);
    ASSERT_EQ(send(pfd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    // Give the bytes time to arrive for the time-out of 0.
    pollfd p{FdOf(&cb), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    cb.timeout_ms = timeout;
    EXPECT_EQ(Receive(&cb, &got), 0) << timeout << " " << cb.error;
    EXPECT_EQ(got, text);
  }

  // The peer reads nothing: packets go out until the socket is full.
  auto pattern = [](uint64_t i) { return static_cast<char>((i * 7 + i / 251) & 0xff); };
  uint64_t sent = 0;
  AsfPacketBuffer* buf = a->buffers[ASF_BUF_SEND];
  ASSERT_NE(buf, nullptr);
  int timeouts = 0;
  for (int k = 0; k < 100000 && timeouts == 0; ++k) {
    cb.timeout_ms = k % 2 == 0 ? 0 : 50;
    buf->position = buf->data;
    for (uint32_t i = 0; i < buf->size; ++i) buf->data[i] = pattern(sent + i);
    buf->left = buf->size;
    int rc = tl_send(&cb, buf);
    sent += buf->size - (rc == 0 ? 0 : buf->left);
    if (rc != 0) {
      EXPECT_EQ(cb.error, ASF_TIMEOUT);
      ++timeouts;
    }
  }
  ASSERT_EQ(timeouts, 1);
  // What was reported sent arrives once, in order; nothing more.
  std::string all(sent, '\0');
  uint64_t have = 0;
  while (have < sent) {
    ssize_t n = recv(pfd, all.data() + have, sent - have, 0);
    ASSERT_GT(n, 0) << "after " << have << " of " << sent;
    have += static_cast<uint64_t>(n);
  }
  for (uint64_t i = 0; i < sent; ++i) {
    ASSERT_EQ(all[i], pattern(i)) << i;
  }
  char extra;
  EXPECT_EQ(recv(pfd, &extra, 1, MSG_DONTWAIT), -1);
  // With room again the rest of the packet goes out under the time-out.
  cb.timeout_ms = 300;
  uint32_t rest = buf->left;
  ASSERT_EQ(tl_send(&cb, buf), 0) << cb.error;
  std::string tail(rest, '\0');
  have = 0;
  while (have < rest) {
    ssize_t n = recv(pfd, tail.data() + have, rest - have, 0);
    ASSERT_GT(n, 0);
    have += static_cast<uint64_t>(n);
  }
  for (uint32_t i = 0; i < rest; ++i) {
    ASSERT_EQ(tail[i], pattern(sent + i)) << i;
  }

  // A closed peer is reported as closed under a time-out, not as one.
  close(pfd);
  cb.timeout_ms = 300;
  EXPECT_EQ(Receive(&cb, &got), -1);
  EXPECT_EQ(cb.error, -25582);
  tl_close(&cb, 0);
  asf_assoc_destroy(a);
  close(lfd);
}

TEST_F(TransportTest, StartingDrivers) {
  auto start = [](std::vector<AsfDriverConfig> entries, AsfControlBlock* cb) {
    AsfRequest r;
    asf_request_init(ASF_INIT, &r);
    r.body.init.entry_count = static_cast<int32_t>(entries.size());
    r.body.init.entries = entries.empty() ? nullptr : entries.data();
    return tl_init_drivers(cb, &r);
  };
  auto entry = [](const char* name, int32_t enable) {
    AsfDriverConfig e{};
    std::strncpy(e.name, name, 8);
    e.value1 = enable;
    return e;
  };
  AsfControlBlock cb{};
  EXPECT_EQ(start({}, &cb), -1);
  EXPECT_EQ(cb.error, -25563);
  EXPECT_EQ(start({entry("sqlmux", 1), entry("soctcp", 1), entry("socssl", 0)}, &cb), 0);
  EXPECT_EQ(start({entry("nosuch", 1)}, &cb), -1);
  EXPECT_EQ(cb.error, -25507);
  // "socssl" started by name loads the security toolkit, which this
  // program's library search path does not hold.
  AsfControlBlock ssl{};
  EXPECT_EQ(start({entry("socssl", 1)}, &ssl), -1);
  EXPECT_EQ(ssl.error, -28016);
  EXPECT_STREQ(ssl.text, "8.0.50.75");
  // A pipe connect names another host: refused before anything starts.
  AsfControlBlock pcb{};
  AsfAssociation* a = asf_assoc_new(&pcb, ASF_INITIATOR, nullptr);
  pcb.assoc = a;
  char text[] = "host|svc|ipcpip";
  AsfTransportRequest tr{{1, text}, nullptr};
  EXPECT_EQ(tl_connect(&pcb, &tr), -1);
  EXPECT_EQ(pcb.error, -25591);
  asf_assoc_destroy(a);
}

TEST_F(TransportTest, OptionsOfTheServerEntry) {
  AsfServerEntry entry{};
  entry.options.kl_flags = 1 | 2;  // k=1, l=0
  EXPECT_EQ(tcp_option_bits(&entry.options), 0x1Fu);
  AsfServerOptions short_linger{};
  short_linger.kl_flags = 4;
  EXPECT_EQ(tcp_option_bits(&short_linger), 0x2Du);

  Peer peer("127.0.0.1", "echo");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), nullptr, &entry);
  ASSERT_NE(a, nullptr);
  int fd = FdOf(&cb);
  struct linger lg{};
  socklen_t len = sizeof lg;
  ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, &len), 0);
  EXPECT_EQ(lg.l_onoff, 1);
  EXPECT_EQ(lg.l_linger, 0);
  int on = 0;
  len = sizeof on;
  getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &len);
  EXPECT_EQ(on, 1);
  getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(a->driver->options_applied, 0x14u);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  tl_close(&cb, 0);
  asf_assoc_destroy(a);
}

TEST_F(TransportTest, RefusedConnectsAndTheIpv4Retry) {
  int port = ClosedPort();
  struct {
    std::string host;
    int attempts;
  } cases[] = {{"127.0.0.1", 1}, {"::ffff:127.0.0.1", 1}, {"::1", 2}};
  for (const auto& c : cases) {
    if (c.host.find(':') != std::string::npos && (tcp_address_family() != 23 || !Ipv6Loopback())) {
      continue;
    }
    AsfControlBlock cb{};
    cb.timeout_ms = 2000;
    AsfAssociation* a = asf_assoc_new(&cb, ASF_INITIATOR, nullptr);
    cb.assoc = a;
    asf_session_attach(&cb, 0, "raw", "soctcp");
    std::string text = Address(c.host, port);
    AsfTransportRequest tr{{1, text.data()}, nullptr};
    int32_t before = tcp_connect_attempts();
    EXPECT_EQ(tl_connect(&cb, &tr), -1) << c.host;
    EXPECT_EQ(cb.error, -908) << c.host;
    EXPECT_EQ(cb.os_error, ECONNREFUSED) << c.host;
    EXPECT_EQ(tcp_connect_attempts() - before, c.attempts) << c.host;
    EXPECT_EQ(a->transport->state, TL_FAILED);
    EXPECT_NE(a->transport->flags & 4u, 0u);
    asf_assoc_destroy(a);
  }
}

TEST_F(TransportTest, ListenerDescribesLoopbackPeersAndTakesBothFamilies) {
  bool v6 = tcp_address_family() == 23 && Ipv6Loopback();
  AsfControlBlock lcb{};
  AsfAssociation* listener = asf_assoc_new(&lcb, ASF_LISTENER, nullptr);
  lcb.assoc = listener;
  char text[] = "*|0|soctcp";
  AsfTransportRequest tr{{1, text}, nullptr};
  ASSERT_EQ(tl_listen(&lcb, &tr, 0), 0) << lcb.error;
  EXPECT_EQ(listener->transport->state, TL_LISTENING);
  int port = ntohs(listener->driver->second.sock.port);
  ASSERT_GT(port, 0);
  std::vector<std::string> hosts = {"127.0.0.1"};
  if (v6) hosts.push_back("::1");
  for (const std::string& host : hosts) {
    std::string reply;
    std::thread client([&] { reply = RunClient(host, port, "hi"); });
    AsfControlBlock acb{};
    AsfAssociation* conn = asf_assoc_new(&acb, ASF_RESPONDER, nullptr);
    acb.assoc = conn;
    acb.timeout_ms = -1;
    asf_session_attach(&acb, 0, "raw", "soctcp");
    AsfAddressBlock* peer = nullptr;
    lcb.assoc = listener;
    ASSERT_EQ(tl_accept(&lcb, conn, &peer), 0) << lcb.error;
    int client_port = ntohs(conn->driver->second.sock.port);
    EXPECT_EQ(peer->kind, 8);
    EXPECT_EQ(std::string(peer->text), "localhost|" + std::to_string(client_port) + "|soctcp")
        << host;
    asf_free_address_block(peer);
    std::string got;
    ASSERT_EQ(Receive(&acb, &got), 0);
    EXPECT_EQ(got, "hi");
    ASSERT_EQ(SendText(&acb, "back"), 0);
    client.join();
    EXPECT_EQ(reply, "reply " + Hex("back") + "\n") << host;
    tl_close(&acb, 0);
    asf_assoc_destroy(conn);
  }
  lcb.assoc = listener;
  EXPECT_EQ(tl_listen(&lcb, nullptr, 1), 0);
  EXPECT_EQ(tl_close(&lcb, 512), 0);
  asf_assoc_destroy(listener);
}

TEST_F(TransportTest, TwoProcessesOfTheProject) {
  tevtest::Child server({tevtest::BuiltProgram("connect_probe"), "serve"}, {"PATH=/usr/bin:/bin"});
  int port = std::atoi(server.ReadLine().c_str());
  ASSERT_GT(port, 0);
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", port), nullptr);
  ASSERT_NE(a, nullptr);
  int local_port = ntohs(a->driver->second.sock.port);
  ASSERT_EQ(SendText(&cb, "ping"), 0);
  std::string got;
  ASSERT_EQ(Receive(&cb, &got), 0);
  EXPECT_EQ(got, "Pping");
  EXPECT_EQ(server.ReadLine(), "peer localhost|" + std::to_string(local_port) + "|soctcp");
  EXPECT_EQ(server.ReadLine(), "served ping");
  tl_close(&cb, 0);
  asf_assoc_destroy(a);
  EXPECT_EQ(server.Wait(), 0);
}

TEST_F(TransportTest, HandOverToAStartedProgram) {
  Peer peer("127.0.0.1", "echo");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), nullptr);
  ASSERT_NE(a, nullptr);
  int fd = FdOf(&cb);
  std::vector<uint32_t> memory(2056 / 4);
  AsfArena* arena = asf_arena_new(0, 1, memory.data(), 2056);
  ASSERT_EQ(tl_export(&cb, arena), 0) << cb.error;
  EXPECT_EQ(a->transport->state, TL_EXPORTED);
  EXPECT_EQ(arena->used, 28 + 32);
  std::string block(reinterpret_cast<const char*>(memory.data()), static_cast<size_t>(arena->used));
  asf_arena_free(arena);
  // The close after an export leaves the socket to the program.
  ASSERT_EQ(tl_close(&cb, 0), 0);
  EXPECT_EQ(a->transport, nullptr);
  ASSERT_GE(fcntl(fd, F_GETFD), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

  tevtest::Child child({tevtest::BuiltProgram("connect_probe"), "import", Hex(block)},
                       {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(child.ReadLine(), "reply " + Hex("Rchild"));
  EXPECT_EQ(peer.ReadLine(), "got " + Hex("child"));
  EXPECT_EQ(child.Wait(), 0);
  close(fd);
  asf_assoc_destroy(a);
}

TEST_F(TransportTest, DamagedHandOverBlockIsRefused) {
  // A block that names a protocol outside the table, and one that is cut.
  int32_t words[8] = {2, 6, 7, 0, 1, 4096, 1, 0};
  AsfControlBlock cb{};
  AsfAssociation* a = asf_assoc_new(&cb, ASF_INITIATOR, nullptr);
  cb.assoc = a;
  AsfArena* arena = asf_arena_new(0, 1, words, 28);
  EXPECT_EQ(tl_import(&cb, arena), -1);
  EXPECT_EQ(a->transport, nullptr);
  asf_arena_free(arena);
  words[2] = 2;  // soctcp, but the driver block is missing
  arena = asf_arena_new(0, 1, words, 28);
  EXPECT_EQ(tl_import(&cb, arena), -1);
  EXPECT_EQ(a->transport, nullptr);
  asf_arena_free(arena);
  asf_assoc_destroy(a);
}

TEST(AddressFamilyTest, Ipv6CanBeSwitchedOff) {
  tevtest::TempInstall plain;
  tevtest::TempInstall marked;
  marked.WriteFile("etc/ZEL_DISABLE_IPV6", "");
  const std::string probe = tevtest::BuiltProgram("connect_probe");
  auto run = [&](const std::map<std::string, std::string>& env) {
    tevtest::RunOptions o;
    o.env = env;
    o.env["PATH"] = "/usr/bin:/bin";
    return tevtest::RunProgram(probe, {"family"}, o).out;
  };
  EXPECT_EQ(run({{"TARVELONDIR", plain.path()}, {"ZEL_DISABLE_IPV6", ""}}),
            "family 2 size 16 len23 16\n");
  EXPECT_EQ(run({{"TARVELONDIR", marked.path()}}), "family 2 size 16 len23 16\n");
  int fd = socket(AF_INET6, SOCK_STREAM, 0);
  if (fd >= 0) {
    close(fd);
    EXPECT_EQ(run({{"TARVELONDIR", plain.path()}}), "family 23 size 28 len23 28\n");
  }
}

// drv_wait's time-outs, seen through its select seam.
std::vector<timeval> g_waits;
int64_t g_now = 100;
int g_interrupts = 0;
int RecordingSelect(int, fd_set*, fd_set*, fd_set*, timeval* tv) {
  g_waits.push_back(tv != nullptr ? *tv : timeval{-1, -1});
  if (g_interrupts > 0) {
    --g_interrupts;
    g_now += 2;  // two seconds went by before the signal
    errno = EINTR;
    return -1;
  }
  return 0;
}
int64_t FakeClock() { return g_now; }

TEST(DriverWaitTest, TimeOutsAndInterruptions) {
  drv_set_wait_hooks(RecordingSelect, FakeClock);
  const struct {
    int32_t seconds, ms;
    long sec, usec;
  } cases[] = {{0, 250, 0, 250000}, {0, 2500, 2, 0}, {0, 1999, 1, 0}, {0, 999, 0, 999000},
               {3, 0, 3, 0}};
  for (const auto& c : cases) {
    g_waits.clear();
    EXPECT_EQ(drv_wait(0, c.seconds, c.ms, 1), 0);
    ASSERT_EQ(g_waits.size(), 1u);
    EXPECT_EQ(g_waits[0].tv_sec, c.sec) << c.ms;
    EXPECT_EQ(g_waits[0].tv_usec, c.usec) << c.ms;
  }
  // After a signal only the seconds left are waited for.
  g_waits.clear();
  g_interrupts = 1;
  EXPECT_EQ(drv_wait(0, 0, 5000, 2), 0);
  ASSERT_EQ(g_waits.size(), 2u);
  EXPECT_EQ(g_waits[0].tv_sec, 5);
  EXPECT_EQ(g_waits[1].tv_sec, 3);
  // Once they are spent the interrupted result stands.
  g_waits.clear();
  g_interrupts = 2;
  EXPECT_EQ(drv_wait(0, 0, 3000, 2), -1);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(g_waits.size(), 2u);
  // A sub-second wait is repeated whole.
  g_waits.clear();
  g_interrupts = 1;
  EXPECT_EQ(drv_wait(0, 0, 300, 4), 0);
  ASSERT_EQ(g_waits.size(), 2u);
  EXPECT_EQ(g_waits[1].tv_usec, 300000);
  EXPECT_EQ(drv_wait(0, 0, 300, 9), -1);
  drv_set_wait_hooks(nullptr, nullptr);
}

}  // namespace
