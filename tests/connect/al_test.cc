// Association set-up through the service call: two processes (the test
// server al_server and this client), accept authentication, failover over
// python3 peers, redirection, skipped entries, the dynamic listener,
// special accept and the hand-over of associations across an exec.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "connect/asf_flatten.h"
#include "connect/asfapi_internal.h"
#include "connect/asfns.h"
#include "tests/connect/al_fixture.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

std::string CurrentUser() {
  struct passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "";
}

// A port nobody listens on: bound, never listened on, closed.
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

class Al : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(connect_test::SeedAccountIds(dir.Path("reg")), 0);
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    setenv("TARVELONSQLHOSTS", dir.Path("sqlhosts").c_str(), 1);
    unsetenv("ZIVEVODAREVEZO");
    unsetenv("DBPATH");
    unsetenv("TARVELONFAILOVERTIME");
    if (asf_global_get() == nullptr) {
      AsfControlBlock cb{};
      ASSERT_EQ(al_test::Init(&cb), 0) << cb.error;
    }
  }
  void TearDown() override { unsetenv("TARVELONSQLHOSTS"); }

  void Hosts(const std::string& text) { dir.WriteFile("sqlhosts", text); }
  std::vector<std::string> Env() {
    return {"PATH=/usr/bin:/bin", "TARVELONDIR=" + tevtest::BuildTree(),
            "TARVELONSQLHOSTS=" + dir.Path("sqlhosts"), "HOME=" + dir.path(),
            "TARVELON_REGISTRY=" + dir.Path("reg"), "ZIVEVODAREVEZO=tvtest"};
  }
  std::string Server() { return tevtest::BuiltProgram("al_server"); }

  tevtest::TempInstall dir;
};

std::string Next(tevtest::Child& c, const std::string& prefix) {
  for (;;) {
    std::string line = c.ReadLine();
    if (line.empty() || line.rfind(prefix, 0) == 0) return line;
  }
}

// A python3 peer with one listener per description "name:mode[:arg]".
struct Multi {
  explicit Multi(const std::vector<std::string>& listeners)
      : child(Args(listeners), {"PATH=/usr/bin:/bin"}) {
    std::istringstream in(child.ReadLine());
    int p;
    while (in >> p) ports.push_back(p);
  }
  static std::vector<std::string> Args(const std::vector<std::string>& listeners) {
    std::vector<std::string> a = {tevtest::Python(), tevtest::SourceDir() + "/tests/connect/peer.py",
                                  "multi", "127.0.0.1"};
    a.insert(a.end(), listeners.begin(), listeners.end());
    return a;
  }
  // The names of the "request" lines, up to the line that starts with stop.
  std::vector<std::string> Requests(const std::string& stop) {
    std::vector<std::string> out;
    for (;;) {
      std::string line = child.ReadLine();
      if (line.empty() || line.rfind(stop, 0) == 0) return out;
      if (line.rfind("request ", 0) == 0) {
        std::istringstream in(line.substr(8));
        std::string name;
        in >> name;
        out.push_back(name);
        std::cout << "  " << line << "\n";
      }
    }
  }
  tevtest::Child child;
  std::vector<int> ports;
};

TEST_F(Al, ConnectSendReceiveReleaseAndAbortBetweenTwoProcesses) {
  Hosts("lsrv vqsoctcp 127.0.0.1 0\n");
  tevtest::Child server({Server(), "serve", "lsrv", "0", "2"}, Env());
  std::string port = Next(server, "port ");
  ASSERT_FALSE(port.empty());
  Hosts("lsrv vqsoctcp 127.0.0.1 0\nsrv vqsoctcp 127.0.0.1 " + port.substr(5) + "\n");

  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error << " " << cb.os_error;
  EXPECT_EQ(c.area[0], 0);
  ASSERT_NE(c.assoc, nullptr);
  EXPECT_EQ(cb.assoc, c.assoc);
  EXPECT_EQ(c.assoc->state->state, ASF_ST_ESTABLISHED);
  EXPECT_EQ(asf_global_get()->clients, c.assoc);
  // The server's record and reply stay readable in the request and belong
  // to the association, which frees them with its state.
  ASSERT_NE(c.server_record, nullptr);
  EXPECT_EQ(c.server_record, c.assoc->state->conn_record);
  ASSERT_NE(c.cred_answer, nullptr);
  EXPECT_EQ(static_cast<SqliConnCred*>(c.cred_answer)->kind, 2);
  EXPECT_EQ(c.cred_answer, c.assoc->state->credential);
  EXPECT_EQ(c.option_list, c.assoc->state->option_list);
  // The kept copy of the entry hides its password; the caller's is wiped.
  ASSERT_NE(c.assoc->state->server_entry, nullptr);
  EXPECT_STREQ(c.assoc->state->server_entry->server_name, "srv");
  EXPECT_NE(std::string(c.assoc->state->server_entry->password, 3), "pw1");
  EXPECT_EQ(c.password, std::string(3, '\0'));
  std::string accept = Next(server, "accept ");
  EXPECT_NE(accept.find("user=joe program=sqlexec"), std::string::npos) << accept;
  EXPECT_EQ(Next(server, "respond "), "respond rc=0 state=1");
  ASSERT_EQ(al_test::Send(&cb, "hello"), 0) << cb.error;
  EXPECT_EQ(al_test::Recv(&cb), "Rhello");
  EXPECT_EQ(Next(server, "got "), "got hello");
  ASSERT_EQ(al_test::Release(&cb), 0) << cb.error;
  EXPECT_EQ(c.area[0], 1);
  EXPECT_EQ(cb.assoc, nullptr);
  EXPECT_EQ(asf_global_get()->clients, nullptr);
  EXPECT_EQ(Next(server, "end ").rfind("end error", 0), 0u);

  // A second association, ended by an abort at once.
  al_test::ClientRecords d("joe", "pw2");
  AsfControlBlock cb2{};
  cb2.timeout_ms = 10000;
  ASSERT_EQ(d.Connect(&cb2, "@srv"), 0) << cb2.error;
  ASSERT_EQ(al_test::Send(&cb2, "again"), 0);
  EXPECT_EQ(al_test::Recv(&cb2), "Ragain");
  ASSERT_EQ(al_test::Abort(&cb2), 0) << cb2.error;
  EXPECT_EQ(cb2.assoc, nullptr);
  EXPECT_EQ(asf_global_get()->clients, nullptr);
  EXPECT_EQ(Next(server, "done"), "done");
}

TEST_F(Al, AcceptAuthenticatesThePeer) {
  std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());
  dir.WriteFile("hosts.equiv", "+ " + user + "\n");
  Hosts("lsrv vqsoctcp 127.0.0.1 0\n");
  tevtest::Child server({Server(), "serve", "lsrv", "1", "2", dir.Path("hosts.equiv")}, Env());
  std::string port = Next(server, "port ");
  ASSERT_FALSE(port.empty());
  Hosts("lsrv vqsoctcp 127.0.0.1 0\nsrv vqsoctcp 127.0.0.1 " + port.substr(5) + "\n");

  // A wrong password: the logon refuses it, the server refuses the peer.
  al_test::ClientRecords bad(user, "surely-not-the-password");
  AsfControlBlock cb{};
  cb.timeout_ms = 20000;
  EXPECT_EQ(bad.Connect(&cb, "@srv"), -1);
  EXPECT_EQ(cb.error, ASF_REFUSED);
  // A refused connect leaves the association closed to its caller.
  EXPECT_EQ(bad.area[0], 1);
  ASSERT_NE(bad.assoc, nullptr);
  EXPECT_EQ(bad.assoc->state->state, ASF_ST_FAILED);
  std::string failed = Next(server, "accept failed");
  EXPECT_NE(failed.find("error=8 os=-951 text=" + user + "@"), std::string::npos) << failed;
  cb.assoc = bad.assoc;
  EXPECT_EQ(al_test::Abort(&cb), 0);

  // No password from a program allowed to go without: trusted.
  al_test::ClientRecords good(user, "", "srvqorv");
  AsfControlBlock cb2{};
  cb2.timeout_ms = 20000;
  ASSERT_EQ(good.Connect(&cb2, "@srv"), 0) << cb2.error << " " << cb2.os_error;
  std::string accepted = Next(server, "accept user=");
  EXPECT_NE(accepted.find("program=srvqorv"), std::string::npos) << accepted;
  EXPECT_EQ(accepted.find("uid=-1"), std::string::npos) << accepted;
  ASSERT_EQ(al_test::Send(&cb2, "x"), 0);
  EXPECT_EQ(al_test::Recv(&cb2), "Rx");
  EXPECT_EQ(al_test::Release(&cb2), 0);
}

TEST_F(Al, PythonClientAgainstTheProjectsListener) {
  Hosts("lsrv vqsoctcp 127.0.0.1 0\n");
  tevtest::Child server({Server(), "serve", "lsrv", "0", "1"}, Env());
  std::string port = Next(server, "port ");
  ASSERT_FALSE(port.empty());
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {tevtest::SourceDir() + "/tests/connect/peer.py", "sl-client", "127.0.0.1", port.substr(5),
       "binary", "joe"},
      {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  // A type 2 reply: accepted.
  EXPECT_NE(r.out.find("reply "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.find("reply ") + 6 + 4, 2), "02") << r.out;
  EXPECT_NE(Next(server, "accept user=joe").find("program=sqlexec"), std::string::npos);
}

TEST_F(Al, FailoverPassesOverAGroup) {
  int closed = ClosedPort();
  Multi peers({"silent:silent", "refuse:refuse", "good:answer"});
  ASSERT_EQ(peers.ports.size(), 3u);
  auto line = [](const std::string& name, int port) {
    return name + " vqsoctcp 127.0.0.1 " + std::to_string(port) + " g=grp\n";
  };
  Hosts("grp group - -\n" + line("closed", closed) + line("silent", peers.ports[0]) +
        line("refuse", peers.ports[1]));
  // Every entry down: three failover passes (up to the entry that last
  // answered), then one ordinary pass.
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  EXPECT_EQ(c.Connect(&cb, "@grp"), -1);
  EXPECT_EQ(cb.error, ASF_REFUSED) << cb.os_error;
  EXPECT_EQ(c.area[0], 1);
  std::vector<std::string> order = peers.Requests("end refuse");
  // The silent peer's connections end as the client moves on; the list
  // of requests up to the last refusal shows the passes.
  std::vector<std::string> expected;
  for (int pass = 0; pass < 4; ++pass) {
    expected.push_back("silent");
    expected.push_back("refuse");
  }
  std::vector<std::string> got;
  for (const std::string& n : order) got.push_back(n);
  while (got.size() < expected.size()) {
    std::vector<std::string> more = peers.Requests("end refuse");
    if (more.empty()) break;
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_EQ(got, expected);
  if (c.assoc != nullptr) {
    cb.assoc = c.assoc;
    al_test::Abort(&cb);
  }
}

TEST_F(Al, FailoverReachesTheGoodPeerInOrder) {
  int closed = ClosedPort();
  Multi peers({"silent:silent", "refuse:refuse", "good:answer"});
  auto line = [](const std::string& name, int port) {
    return name + " vqsoctcp 127.0.0.1 " + std::to_string(port) + " g=grp\n";
  };
  Hosts("grp group - -\n" + line("closed", closed) + line("silent", peers.ports[0]) +
        line("refuse", peers.ports[1]) + line("good", peers.ports[2]));
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 60000;
  ASSERT_EQ(c.Connect(&cb, "@grp"), 0) << cb.error << " " << cb.os_error;
  EXPECT_STREQ(c.assoc->state->server_entry->server_name, "good");
  ASSERT_EQ(al_test::Send(&cb, "ping"), 0);
  EXPECT_EQ(al_test::Recv(&cb), "Rping");
  EXPECT_EQ(peers.Requests("data good"), (std::vector<std::string>{"silent", "refuse", "good"}));
  EXPECT_EQ(al_test::Release(&cb), 0);
}

TEST_F(Al, MultiplexedEntriesShareOneConnection) {
  tevtest::Child peer({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/peer.py", "sl-server",
                       "127.0.0.1", "muxa"},
                      {"PATH=/usr/bin:/bin"});
  std::string port = peer.ReadLine();
  Hosts("mx vqsoctcp 127.0.0.1 " + port + " m=1\n");
  al_test::ClientRecords a("joe", "pw"), b("joe", "pw");
  AsfControlBlock ca{}, cb{};
  ca.timeout_ms = cb.timeout_ms = 10000;
  ASSERT_EQ(a.Connect(&ca, "@mx"), 0) << ca.error << " " << ca.os_error;
  ASSERT_EQ(b.Connect(&cb, "@mx"), 0) << cb.error << " " << cb.os_error;
  EXPECT_NE(a.assoc, b.assoc);
  EXPECT_EQ(a.assoc->transport, b.assoc->transport);
  EXPECT_EQ(Next(peer, "accept "), "accept 1");
  EXPECT_EQ(Next(peer, "open slot "), "open slot 1");
  ASSERT_EQ(al_test::Send(&cb, "two"), 0);
  EXPECT_EQ(al_test::Recv(&cb), "Rtwo");
  ASSERT_EQ(al_test::Send(&ca, "one"), 0);
  EXPECT_EQ(al_test::Recv(&ca), "Rone");
  EXPECT_EQ(al_test::Release(&cb), 0);
  EXPECT_EQ(al_test::Release(&ca), 0);
}

TEST_F(Al, OneEntryIsRetriedUntilItsServerListens) {
  // The server listens only after the first attempt failed: the loop
  // waits and tries the same entry again within the budget.
  tevtest::Child late({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/peer.py", "late",
                       "127.0.0.1", "1.5", "good:answer"},
                      {"PATH=/usr/bin:/bin"});
  std::string port = late.ReadLine();
  ASSERT_FALSE(port.empty());
  Hosts("one vqsoctcp 127.0.0.1 " + port + "\n");
  al_test::ClientRecords c("joe", "pw"), d("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@one", 3), 0) << cb.error << " " << cb.os_error;
  EXPECT_EQ(late.ReadLine(), "listening");
  EXPECT_EQ(al_test::Release(&cb), 0);
  // Without retries the first refusal ends the connect.
  Hosts("two vqsoctcp 127.0.0.1 " + std::to_string(ClosedPort()) + "\n");
  AsfControlBlock cb2{};
  cb2.timeout_ms = 10000;
  EXPECT_EQ(d.Connect(&cb2, "@two", 0), -1);
  EXPECT_EQ(cb2.error, -908);
  EXPECT_STREQ(cb2.text, "two");
}

TEST_F(Al, RedirectionIsTriedAtOnce) {
  Multi good({"good:answer"});
  std::string text = "moved=127.0.0.1|" + std::to_string(good.ports[0]);
  Multi redirect({"redir:redirect:" + text});
  Hosts("rd vqsoctcp 127.0.0.1 " + std::to_string(redirect.ports[0]) + "\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@rd"), 0) << cb.error << " " << cb.os_error;
  const AsfServerEntry* e = c.assoc->state->server_entry;
  EXPECT_STREQ(e->server_name, "moved");
  EXPECT_EQ(std::string(e->address), "127.0.0.1|" + std::to_string(good.ports[0]) + "|soctcp");
  EXPECT_EQ(redirect.Requests("end redir"), (std::vector<std::string>{"redir"}));
  EXPECT_EQ(al_test::Release(&cb), 0);
  EXPECT_EQ(good.Requests("end good"), (std::vector<std::string>{"good"}));
}

TEST_F(Al, ConnectRefusalsBeforeAnyAttempt) {
  int closed = ClosedPort();
  Hosts("srv vqsoctcp 127.0.0.1 " + std::to_string(closed) + "\n");
  setenv("ZIVEVODAREVEZO", "srv", 1);
  setenv("DBPATH", "//nothere", 1);
  // The skipped entry is the last: its code is the connect's error.
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 5000;
  EXPECT_EQ(c.Connect(&cb, "db"), -1);
  EXPECT_EQ(cb.error, -25559);
  EXPECT_STREQ(cb.text, "nothere");
  EXPECT_EQ(c.area[0], 1);
  unsetenv("DBPATH");
  unsetenv("ZIVEVODAREVEZO");
  // A user without a password from an ordinary program.
  al_test::ClientRecords n("joe", "");
  AsfControlBlock cb2{};
  EXPECT_EQ(n.Connect(&cb2, "@srv"), -1);
  EXPECT_EQ(cb2.error, -952);
  AsfControlBlock cb3{};
  EXPECT_EQ(n.Connect(&cb3, "@nosuch"), -1);
  EXPECT_EQ(cb3.error, -952);
  al_test::ClientRecords u("joe", "pw");
  EXPECT_EQ(u.Connect(&cb3, "@nosuch"), -1);
  EXPECT_EQ(cb3.error, -25555);
  EXPECT_STREQ(cb3.text, "nosuch");
}

bool HostIsLoopback() {
  char h[256] = {};
  gethostname(h, sizeof h - 1);
  addrinfo hints{}, *res = nullptr;
  hints.ai_family = AF_INET;
  if (getaddrinfo(h, nullptr, &hints, &res) != 0 || res == nullptr) return false;
  bool loop = (ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr) >> 24) == 127;
  freeaddrinfo(res);
  return loop;
}

TEST_F(Al, DynamicListenerReportsAPortAndWritesItsFile) {
  if (!HostIsLoopback()) GTEST_SKIP() << "the host name is not a loopback address";
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  dir.MakeDir("QORVTMP");
  Hosts("dyn vqsoctcp 127.0.0.1 0\n");
  static unsigned char area[2];
  char buffer[512];
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  AsfRequest r;
  asf_request_init(ASF_LISTEN, &r);
  std::strcpy(buffer, "@dyn");
  r.body.listen.mode = 3;
  r.body.listen.flag_area = area;
  r.body.listen.target.kind = 3;
  r.body.listen.target.text = buffer;
  r.body.listen.info.level = 61;
  r.body.listen.info.word = 1;
  std::memcpy(r.body.listen.info.protocol, "soctcp", 6);
  int rc = asf_service_request(&cb, &r);
  std::string file = dir.ReadFile("QORVTMP/.dynamic_listener");
  EXPECT_EQ(chdir(cwd), 0);
  ASSERT_EQ(rc, 0) << cb.error;
  EXPECT_EQ(r.body.listen.target.kind, 1);
  std::string text = buffer;
  EXPECT_EQ(file, text);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  ASSERT_EQ(text.rfind(std::string(host) + "|", 0), 0u) << text;
  int port = std::atoi(text.c_str() + std::strlen(host) + 1);
  EXPECT_GE(port, 20480);
  EXPECT_LE(port, 40959);
  EXPECT_EQ(text.substr(text.size() - 8), "|soctcp\n");
  asf_assoc_destroy(r.body.listen.listener);
}

TEST_F(Al, SpecialAcceptChecksTheProgram) {
  struct Case {
    const char* program;
    int32_t error;
    int32_t os;
  } cases[] = {{"smx", 0, 0}, {"kyraccept", 0, 0}, {"sqlexec", ASF_SETUP_FAILED, -25539}};
  for (const Case& k : cases) {
    AsfControlBlock cb{};
    static unsigned char area[2];
    AsfAssociation* a = asf_assoc_new(&cb, ASF_RESPONDER, nullptr);
    a->user = area;
    a->state->kind = ASF_RESPONDER;
    a->state->flag_area = area;
    a->state->auth_mode = 0;
    a->state->server_entry = static_cast<AsfServerEntry*>(std::calloc(1, sizeof(AsfServerEntry)));
    a->state->server_entry->options.security = 8;
    auto* rec = static_cast<AsfConnRecord*>(std::calloc(1, sizeof(AsfConnRecord)));
    std::strcpy(rec->program, k.program);
    rec->cred_kind = 1;
    rec->user = strdup("joe");
    AsfRequest r;
    asf_request_init(ASF_SPECIAL_ACCEPT, &r);
    r.body.accept.conn_record = rec;
    cb.assoc = a;
    cb.mode = 1;
    int rc = asf_service_request(&cb, &r);
    EXPECT_EQ(rc, k.error == 0 ? 0 : -1) << k.program;
    EXPECT_EQ(cb.error, k.error) << k.program;
    EXPECT_EQ(cb.os_error, k.os) << k.program;
    asf_assoc_destroy(a);
  }
}

TEST_F(Al, LookupResolvesThroughTheCallersEnvironment) {
  Hosts("one vqsoctcp 127.0.0.1 1\ntwo vqsoctcp 127.0.0.2 2\n");
  char n0[] = "ZIVEVODAREVEZO", v0[] = "two";
  char* names[1] = {n0};
  char* values[1] = {v0};
  AsfOptionList env{1, names, values};
  struct Case {
    int32_t mode;
    int32_t kind;
    const char* text;
    const char* server;
  } cases[] = {{0, 3, "@one", "one"}, {0, 7, nullptr, "two"}, {1, 3, "@one", nullptr}};
  for (const Case& c : cases) {
    AsfRequest r;
    asf_request_init(ASF_LOOKUP, &r);
    std::string text = c.text != nullptr ? c.text : "";
    r.body.lookup.mode = c.mode;
    r.body.lookup.target.kind = c.kind;
    r.body.lookup.target.text = c.text != nullptr ? text.data() : nullptr;
    r.body.lookup.env_list = &env;
    AsfControlBlock cb{};
    cb.mode = 1;
    ASSERT_EQ(asf_service_request(&cb, &r), 0) << cb.error;
    auto* list = static_cast<AsfServerList*>(r.body.lookup.server_list);
    if (c.server == nullptr) {
      EXPECT_EQ(list, nullptr);
      continue;
    }
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_STREQ(list->entries[0].server_name, c.server);
    asf_free_server_list(list);
  }
}

TEST_F(Al, HandOverWithoutProgramAbortsEverything) {
  Multi peer({"good:answer"});
  Hosts("srv vqsoctcp 127.0.0.1 " + std::to_string(peer.ports[0]) + "\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error;
  AsfRequest h;
  asf_request_init(ASF_HANDOVER, &h);
  AsfControlBlock hcb{};
  hcb.mode = 1;
  ASSERT_EQ(asf_service_request(&hcb, &h), 0) << hcb.error;
  // The layer is gone and the peer sees the connection end.
  EXPECT_EQ(asf_global_get(), nullptr);
  EXPECT_EQ(std::getenv("ASF_C"), nullptr);
  std::string end;
  for (std::string l = peer.child.ReadLine(); !l.empty(); l = peer.child.ReadLine()) {
    if (l.rfind("end good", 0) == 0) {
      end = l;
      break;
    }
  }
  EXPECT_FALSE(end.empty());
  AsfControlBlock icb{};
  EXPECT_EQ(al_test::Init(&icb), 0);
}

TEST_F(Al, DamagedHandOverFailsTheTakeOver) {
  struct Case {
    std::string bytes;
    int32_t error;
  } cases[] = {
      {std::string(10, 'x'), -406},
      {std::string("\x1c\0\0\0\1\0\0\0", 8) + std::string(20, '\0') + std::string(300, '\x7f'), -25546},
      {std::string("\x1b\0\0\0", 4) + std::string(60, '\0'), -25597},
  };
  for (const Case& c : cases) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
    close(fds[1]);
    setenv("ASF_C", std::to_string(fds[0]).c_str(), 1);
    static unsigned char area[2];
    AsfInitBody body{};
    body.client_user = area;
    AsfControlBlock cb{};
    EXPECT_EQ(al_test::Init(&cb, 0x10015, &body), -1);
    EXPECT_EQ(cb.error, c.error);
    EXPECT_EQ(body.client_out, nullptr);
    EXPECT_EQ(asf_global_get()->clients, nullptr);
    // The descriptor was read and closed.
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
    unsetenv("ASF_C");
  }
}

TEST_F(Al, ClientAssociationIsHandedOverToAStartedProgram) {
  Multi peer({"good:answer"});
  Hosts("srv vqsoctcp 127.0.0.1 " + std::to_string(peer.ports[0]) + "\n");
  tevtest::Child client({Server(), "client", "@srv"}, Env());
  EXPECT_EQ(Next(client, "connect "), "connect rc=0 error=0 os=0 text=");
  EXPECT_EQ(Next(client, "reply "), "reply Rone");
  EXPECT_EQ(Next(client, "handover "), "handover rc=0 error=0 os=0 text=");
  std::string taken = Next(client, "take-client ");
  EXPECT_EQ(taken, "take-client rc=0 error=0 os=0 text= state=1 closed=0") << taken;
  EXPECT_EQ(Next(client, "reply "), "reply Rtwo");
  EXPECT_EQ(Next(client, "release "), "release rc=0 closed=1");
  std::vector<std::string> data;
  for (;;) {
    std::string l = peer.child.ReadLine();
    if (l.empty() || l.rfind("end", 0) == 0) break;
    if (l.rfind("data ", 0) == 0) data.push_back(l);
  }
  EXPECT_EQ(data, (std::vector<std::string>{"data good one", "data good two"}));
}

TEST_F(Al, ServerAssociationIsHandedOverAndTwoClientsAreRefused) {
  Hosts("lsrv vqsoctcp 127.0.0.1 0\n");
  tevtest::Child server({Server(), "serve", "lsrv", "0", "1"}, Env());
  std::string port = Next(server, "port ");
  ASSERT_FALSE(port.empty());
  Hosts("lsrv vqsoctcp 127.0.0.1 0\nsrv vqsoctcp 127.0.0.1 " + port.substr(5) + "\n");
  al_test::ClientRecords c("joe", "pw");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@srv"), 0) << cb.error;
  ASSERT_EQ(al_test::Send(&cb, "handover"), 0);
  EXPECT_EQ(Next(server, "handover "), "handover rc=0 error=0 os=0 text=");
  EXPECT_EQ(Next(server, "take "), "take rc=0 error=0 os=0 text= assoc=yes state=1");
  EXPECT_EQ(al_test::Recv(&cb), "Rtaken");
  ASSERT_EQ(al_test::Send(&cb, "more"), 0);
  EXPECT_EQ(al_test::Recv(&cb), "Rmore");

  // Two client associations in this process: the hand-over refuses.
  al_test::ClientRecords d("joe", "pw");
  Multi peer({"good:answer"});
  Hosts("srv2 vqsoctcp 127.0.0.1 " + std::to_string(peer.ports[0]) + "\n");
  AsfControlBlock cb2{};
  cb2.timeout_ms = 10000;
  ASSERT_EQ(d.Connect(&cb2, "@srv2"), 0) << cb2.error;
  AsfRequest h;
  asf_request_init(ASF_HANDOVER, &h);
  h.body.flags.flags = 1;
  AsfControlBlock hcb{};
  hcb.mode = 1;
  EXPECT_EQ(asf_service_request(&hcb, &h), -1);
  EXPECT_EQ(hcb.error, -25548);
  unsetenv("ASF_G");
  unsetenv("ASF_S");
  unsetenv("ASF_C");
  unsetenv("ASF_L");
  // Nothing of the client list went: both still work.
  ASSERT_EQ(al_test::Send(&cb2, "still"), 0);
  EXPECT_EQ(al_test::Recv(&cb2), "Rstill");
  EXPECT_EQ(al_test::Release(&cb2), 0);
  EXPECT_EQ(al_test::Release(&cb), 0);
  EXPECT_EQ(Next(server, "done"), "done");
}

}  // namespace
