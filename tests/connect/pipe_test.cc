// The pipe driver: a connect starts the test server (al_server) as a child
// on two pipes and the association's life cycle runs over them; refusals
// before any process starts; the child's exec failure; time-outs and end
// of file on the pipe; export and a close that keeps the descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/driver.h"
#include "connect/pipe.h"
#include "tests/connect/al_fixture.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

std::string HostName() {
  char host[256];
  rhostname(host, sizeof host);
  return host;
}

class PipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(connect_test::SeedAccountIds(dir.Path("reg")), 0);
    // The started server inherits this environment.
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    setenv("TARVELONSQLHOSTS", dir.Path("sqlhosts").c_str(), 1);
    setenv("TARVELON_REGISTRY", dir.Path("reg").c_str(), 1);
    setenv("ZIVEVODAREVEZO", "tvtest", 1);
    setenv("AL_SERVER_LOG", dir.Path("server.log").c_str(), 1);
    if (asf_global_get() == nullptr) {
      AsfControlBlock cb{};
      ASSERT_EQ(al_test::Init(&cb), 0) << cb.error;
    }
  }
  void TearDown() override {
    unsetenv("TARVELONSQLHOSTS");
    unsetenv("AL_SERVER_LOG");
  }

  void Hosts(const std::string& text) { dir.WriteFile("sqlhosts", text); }
  std::string Server() { return tevtest::BuiltProgram("al_server"); }
  std::string Log() { return dir.ReadFile("server.log"); }
  // The started server's process id, from its first log line.
  pid_t ServerPid() {
    std::string log = Log();
    size_t at = log.find(" pid=");
    return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + 5);
  }

  tevtest::TempInstall dir;
};

TEST_F(PipeTest, LifeCycleOverAStartedServer) {
  std::string host = HostName();
  Hosts("psrv vqipcpip " + host + " " + Server() + "\n");
  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@psrv"), 0) << cb.error << " " << cb.os_error << " " << cb.text;
  ASSERT_NE(c.assoc, nullptr);
  EXPECT_EQ(c.assoc->state->state, ASF_ST_ESTABLISHED);
  // File name, server name of the entry, host part.
  EXPECT_NE(Log().find("started al_server psrv " + host + " pid="), std::string::npos) << Log();

  cb.timeout_ms = -1;
  ASSERT_EQ(al_test::Send(&cb, "one"), 0) << cb.error;
  EXPECT_EQ(al_test::Recv(&cb), "Rone");

  // An interrupt wakes the server, whose handler sets the interrupt byte.
  AsfRequest r;
  asf_request_init(ASF_INTERRUPT, &r);
  ASSERT_EQ(asf_service_request(&cb, &r), 0) << cb.error;
  ASSERT_EQ(al_test::Send(&cb, "irq?"), 0);
  EXPECT_EQ(al_test::Recv(&cb), "Rirq?66");

  pid_t pid = ServerPid();
  EXPECT_EQ(al_test::Release(&cb), 0) << cb.error;
  // The server sees the end and finishes.
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(Log().find("done"), std::string::npos) << Log();
}

TEST_F(PipeTest, HostBeginningWithAmpersandIsAccepted) {
  Hosts("asrv vqipcpip &elsewhere " + Server() + "\n");
  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@asrv"), 0) << cb.error << " " << cb.text;
  EXPECT_NE(Log().find("started al_server asrv &elsewhere"), std::string::npos) << Log();
  pid_t pid = ServerPid();
  EXPECT_EQ(al_test::Release(&cb), 0);
  waitpid(pid, nullptr, 0);
}

TEST_F(PipeTest, RefusalsBeforeAnyProcessStarts) {
  dir.WriteFile("noexec", "#!/bin/sh\nexit 0\n");
  chmod(dir.Path("noexec").c_str(), 0644);
  struct Case {
    std::string host, program;
    int32_t error;
  } cases[] = {
      {"another-host.invalid", Server(), -25591},
      {HostName(), dir.Path("noexec"), -25584},
      {HostName(), dir.Path("missing"), -25584},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.host + " " + k.program);
    Hosts("psrv vqipcpip " + k.host + " " + k.program + "\n");
    al_test::ClientRecords c("joe", "pw1");
    AsfControlBlock cb{};
    cb.timeout_ms = 5000;
    EXPECT_EQ(c.Connect(&cb, "@psrv"), -1);
    EXPECT_EQ(cb.error, k.error);
    if (k.error == -25584) {
      EXPECT_NE(std::string(cb.text).find(k.program), std::string::npos) << cb.text;
    }
    EXPECT_EQ(Log(), "");
  }
  // The address needs a program part.
  AsfControlBlock cb{};
  AsfAddress out{};
  EXPECT_EQ(pipe_resolve((HostName() + "||ipcpip").c_str(), &out, &cb, nullptr, 0), -1);
  EXPECT_EQ(cb.error, -25591);
  EXPECT_EQ(pipe_resolve((HostName() + "|/bin/x").c_str(), &out, &cb, nullptr, 0), -1);
  // The first argument word is the path after its last "/".
  AsfControlBlock ok{};
  EXPECT_EQ(pipe_resolve("h|/usr/lib/srv|ipcpip", &out, &ok, nullptr, 0), 0);
  EXPECT_STREQ(out.text, "/usr/lib/srv");
}

// A program that cannot be run: the child says so on its standard error
// and ends with exit code 1; the connect fails on the closed pipe.
TEST_F(PipeTest, ExecFailureIsReportedByTheChild) {
  dir.WriteFile("garbage", "\x01\x02 not a program\n");
  chmod(dir.Path("garbage").c_str(), 0755);
  Hosts("gsrv vqipcpip " + HostName() + " " + dir.Path("garbage") + "\n");
  int saved = dup(2);
  int err = open(dir.Path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  dup2(err, 2);
  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 5000;
  int rc = c.Connect(&cb, "@gsrv");
  dup2(saved, 2);
  close(saved);
  close(err);
  EXPECT_EQ(rc, -1);
  EXPECT_NE(dir.ReadFile("stderr").find("_pipe connect: Error execing '" + dir.Path("garbage") + "'\n"),
            std::string::npos)
      << dir.ReadFile("stderr");
  int status = 0;
  pid_t pid = waitpid(-1, &status, 0);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

// A started server with four or more command-line words takes them, joined
// by blanks, as its first receive; words that do not fit the 4,096-byte
// buffer fail the receive instead of overrunning it.
TEST_F(PipeTest, CommandLineWordsAreTheFirstReceive) {
  std::string host = HostName();
  Hosts("psrv vqipcpip " + host + " " + Server() + "\n");
  auto run = [&](const std::string& word) {
    tevtest::RunOptions o;
    o.env = {{"PATH", "/usr/bin:/bin"}, {"TARVELONDIR", tevtest::BuildTree()},
             {"TARVELONSQLHOSTS", dir.Path("sqlhosts")}, {"TARVELON_REGISTRY", dir.Path("reg")},
             {"ZIVEVODAREVEZO", "tvtest"}, {"AL_SERVER_LOG", dir.Path("words.log")}};
    o.timeout_seconds = 30;
    dir.WriteFile("words.log", "");
    tevtest::RunProgram(Server(), {"pipe", "psrv", host, word}, o);
    return dir.ReadFile("words.log");
  };
  std::string log = run(std::string(5000, 'w'));
  EXPECT_NE(log.find("accept failed error=-25591"), std::string::npos) << log;
  log = run("-x");
  EXPECT_NE(log.find("accept failed"), std::string::npos) << log;
  EXPECT_EQ(log.find("error=-25591"), std::string::npos) << log;
}

// The pipe driver's start arms the break handler when asked (flags 0x10
// and 4 and the third field set): an interrupt signal no longer ends the
// process, while a suspend and a restore swap the handler.
TEST_F(PipeTest, BreakSetUpAndControl) {
  AsfRequest r;
  asf_request_init(ASF_INIT, &r);
  r.body.init.flags = 0x14;
  r.body.init.setting2 = 1;
  AsfControlBlock cb{};
  ASSERT_EQ(pipe_init(&cb, &r, 9, "ipcpip"), 0);
  raise(SIGINT);
  EXPECT_EQ(asf_break_control(1), 0);
  raise(SIGINT);
  EXPECT_EQ(asf_break_control(2), 0);
  raise(SIGINT);
  SUCCEED() << "still running";
}

int DriverRecv(AsfControlBlock* cb, int32_t timeout) {
  AsfDriver* d = cb->assoc->driver;
  cb->timeout_ms = timeout;
  cb->error = 0;
  AsfPacketBuffer* b = nullptr;
  int rc = d->ops.recv(d, &b, cb, cb->assoc->transport);
  if (rc == 0) asf_buffer_put(cb->assoc, ASF_BF_RECV, b);
  return rc == 0 ? 0 : cb->error;
}

TEST_F(PipeTest, TimeOutsEndOfFileAndHandOver) {
  Hosts("psrv vqipcpip " + HostName() + " " + Server() + "\n");
  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@psrv"), 0) << cb.error << " " << cb.text;

  // Time-out 0 on an idle pipe: code 6 at once.
  EXPECT_EQ(DriverRecv(&cb, 0), 6);
  // Time-out -1 blocks until the server answers.
  ASSERT_EQ(al_test::Send(&cb, "x"), 0);
  EXPECT_EQ(DriverRecv(&cb, -1), 0);

  // The server goes away: with -1 the closed pipe fails at once.
  pid_t pid = ServerPid();
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(DriverRecv(&cb, -1), -25587);
  // With 0: code 6 for 512 ends of file in a row, then a short wait and one
  // more read, and the 514th gives the failure; the count starts again.
  for (int k = 1; k <= 512; ++k) ASSERT_EQ(DriverRecv(&cb, 0), 6) << k;
  EXPECT_EQ(DriverRecv(&cb, 0), -25587);
  EXPECT_EQ(DriverRecv(&cb, 0), 6);

  // Export, then a close with 0x100 keeps both descriptors open.
  AsfDriver* d = cb.assoc->driver;
  int pair[2] = {-1, -1};
  AsfTlAttribute q{12, pair};
  ASSERT_EQ(d->ops.descriptors(d, &q), 0);
  alignas(8) unsigned char mem[64];
  AsfArena* arena = asf_arena_new(0, 1, mem, sizeof mem);
  int32_t error_pair[2] = {0, 0};
  ASSERT_EQ(d->ops.export_(d, arena, error_pair), 0);
  int32_t block[4];
  std::memcpy(block, mem, sizeof block);
  EXPECT_EQ(block[0], pair[0]);
  EXPECT_EQ(block[1], pair[1]);
  EXPECT_EQ(block[2], pid);
  asf_arena_free(arena);
  EXPECT_EQ(d->ops.close(d, 0x100, &cb), 0);
  EXPECT_EQ(d->record, nullptr);
  EXPECT_GE(fcntl(pair[0], F_GETFD), 0);
  EXPECT_GE(fcntl(pair[1], F_GETFD), 0);
  close(pair[0]);
  close(pair[1]);
  AsfControlBlock w{};
  w.assoc = c.assoc;
  al_test::Abort(&w);
}

// A python3 peer on a named pipe's socket: "echo" answers "R" and the data
// (its first answer 10,000 bytes long); "busy" keeps the backlog full with
// a connection of its own for the given seconds before it accepts.
const char kNamedPipePeer[] = R"(
import socket, sys, time, os
path, mode, delay = sys.argv[1], sys.argv[2], float(sys.argv[3])
os.makedirs(os.path.dirname(path), exist_ok=True)
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind(path)
s.listen(0)
filler = None
if mode == "busy":
    filler = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    filler.connect(path)
print("ready", flush=True)
time.sleep(delay)
if filler is not None:
    s.accept()
c, _ = s.accept()
first = True
while True:
    data = c.recv(65536)
    if not data:
        break
    print("got %s" % data.decode(), flush=True)
    c.sendall(b"R" * 10000 if first else b"R" + data)
    first = False
c.close()
print("end", flush=True)
)";

class NamedPipeTest : public PipeTest {
 protected:
  void SetUp() override {
    PipeTest::SetUp();
    dir.MakeDir("tmp");
    setenv("TMPDIR", (dir.Path("tmp") + "/").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    unsetenv("QORV_NPIPE_CONN_TIMEOUT");
    unsetenv("QORV_NPIPE_CONN_RETRY");
    PipeTest::TearDown();
  }
  std::string Socket(const std::string& service) { return dir.Path("tmp") + "/tvpipe/" + service; }
  std::unique_ptr<tevtest::Child> Peer(const std::string& service, const std::string& mode, const std::string& delay) {
    auto c = std::make_unique<tevtest::Child>(
        std::vector<std::string>{tevtest::Python(), "-c", kNamedPipePeer, Socket(service), mode, delay},
        std::vector<std::string>{"PATH=/usr/bin:/bin"});
    EXPECT_EQ(c->ReadLine(), "ready");
    return c;
  }
  AsfAssociation* Open(AsfControlBlock* cb, const std::string& host, const std::string& service) {
    static unsigned char area[2];
    *cb = AsfControlBlock{};
    return connect_test::ConnectDirect(cb, host + "|" + service + "|ipcnmp", area);
  }
};

TEST_F(NamedPipeTest, LifeCycleBetweenProjectClientAndServer) {
  std::string host = HostName();
  Hosts("nsrv vqipcnmp " + host + " tvnp b=4096\n");
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "TARVELONDIR=" + tevtest::BuildTree(),
                                  "TARVELONSQLHOSTS=" + dir.Path("sqlhosts"), "HOME=" + dir.path(),
                                  "TARVELON_REGISTRY=" + dir.Path("reg"), "ZIVEVODAREVEZO=tvtest",
                                  "TMPDIR=" + dir.Path("tmp") + "/"};
  tevtest::Child server({Server(), "serve", "nsrv", "0", "1"}, env);
  ASSERT_EQ(server.ReadLine().rfind("port ", 0), 0u);
  struct stat st;
  ASSERT_EQ(stat(Socket("tvnp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666u);  // everyone may connect

  al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  ASSERT_EQ(c.Connect(&cb, "@nsrv"), 0) << cb.error << " " << cb.os_error << " " << cb.text;
  // The buffer option is raised to at least 32,768.
  EXPECT_EQ(c.assoc->driver->buffer_size, 32768u);
  cb.timeout_ms = -1;
  ASSERT_EQ(al_test::Send(&cb, "one"), 0);
  EXPECT_EQ(al_test::Recv(&cb), "Rone");
  EXPECT_EQ(al_test::Release(&cb), 0);
  std::string rest = server.ReadAll();
  EXPECT_NE(rest.find("got one"), std::string::npos) << rest;
  EXPECT_NE(rest.find("done"), std::string::npos) << rest;
  // The listener takes its socket away.
  EXPECT_NE(stat(Socket("tvnp").c_str(), &st), 0);
}

TEST_F(NamedPipeTest, PythonPeerReadsAreCutAndUnsupportedSlotsRefuse) {
  auto peer = Peer("py", "echo", "0");
  AsfControlBlock cb{};
  ASSERT_NE(Open(&cb, HostName(), "py"), nullptr) << cb.error << " " << cb.os_error;
  // The reads below wait for the peer's answer (a time-out of 0 would give
  // code 6 whenever the peer is slower than the test).
  cb.timeout_ms = 10000;
  AsfDriver* d = cb.assoc->driver;
  AsfPacketBuffer* b = cb.assoc->buffers[ASF_BUF_SEND];
  std::memcpy(b->position, "hello", 5);
  b->left = 5;
  ASSERT_EQ(tl_send(&cb, b), 0) << cb.error;
  EXPECT_EQ(peer->ReadLine(), "got hello");
  // One read takes at most 4,096 bytes.
  AsfPacketBuffer* r = nullptr;
  ASSERT_EQ(tl_recv(&cb, &r), 0) << cb.error;
  EXPECT_EQ(r->left, 4096u);
  asf_buffer_put(cb.assoc, ASF_BF_RECV, r);

  int32_t pair[2] = {0, 0};
  EXPECT_EQ(d->ops.export_(d, nullptr, pair), -1);
  EXPECT_EQ(pair[0], -25592);
  cb.error = 0;
  EXPECT_EQ(d->ops.interrupt(d, nullptr, &cb, nullptr), -1);
  EXPECT_EQ(cb.error, -25592);
  cb.error = 0;
  EXPECT_EQ(d->ops.wait(d, 0, &cb, nullptr), -1);
  EXPECT_EQ(cb.error, -25592);
  cb.error = 0;
  EXPECT_EQ(d->ops.import(d, nullptr, &cb), -1);
  EXPECT_EQ(cb.error, -25592);

  // The peer goes: a read of nothing fails.
  peer->Kill();
  peer->Wait();
  int rc = 0;
  for (int k = 0; k < 5 && rc == 0; ++k) {
    r = nullptr;
    rc = tl_recv(&cb, &r);
    if (rc == 0) asf_buffer_put(cb.assoc, ASF_BF_RECV, r);
  }
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(cb.error, -25580);
  tl_close(&cb, 0);
}

TEST_F(NamedPipeTest, BusyPipeIsRetried) {
  struct Case {
    const char* timeout;
    const char* retry;
    const char* peer_delay;
    int32_t error;  // 0: connects
  } cases[] = {
      // No retry asked for: still one, after the interval.
      {"1", "0", "0.4", 0},
      // An empty interval is 3 seconds: the listener accepts before then.
      {"", "1", "1.5", 0},
      // Busy to the end.
      {"0", "2", "3", -908},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.timeout) + "/" + k.retry);
    std::string service = "busy" + std::to_string(n++);
    setenv("QORV_NPIPE_CONN_TIMEOUT", k.timeout, 1);
    setenv("QORV_NPIPE_CONN_RETRY", k.retry, 1);
    auto peer = Peer(service, "busy", k.peer_delay);
    AsfControlBlock cb{};
    AsfAssociation* a = Open(&cb, HostName(), service);
    if (k.error == 0) {
      ASSERT_NE(a, nullptr) << cb.error << " " << cb.os_error;
      AsfPacketBuffer* b = cb.assoc->buffers[ASF_BUF_SEND];
      std::memcpy(b->position, "x", 1);
      b->left = 1;
      ASSERT_EQ(tl_send(&cb, b), 0);
      EXPECT_EQ(peer->ReadLine(), "got x");
      tl_close(&cb, 0);
    } else {
      EXPECT_EQ(a, nullptr);
      EXPECT_EQ(cb.error, k.error);
    }
  }
}

TEST_F(NamedPipeTest, UnreachablePipes) {
  struct Case {
    std::string address;
    int32_t error;
  } cases[] = {
      {"another-host|svc|ipcnmp", -908},                      // another host's pipe
      {HostName() + "|" + std::string(200, 's') + "|ipcnmp", -908},  // too long for a socket
      {HostName() + "|nobody|ipcnmp", -25580},                // no such pipe
      {"|ipcnmp", -908},                                      // no service part
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.address);
    static unsigned char area[2];
    AsfControlBlock cb{};
    EXPECT_EQ(connect_test::ConnectDirect(&cb, k.address, area), nullptr);
    EXPECT_EQ(cb.error, k.error);
  }
  // The pipe name: "." for this host, whatever its case.
  AsfAddress t{};
  std::string host = HostName();
  for (char& ch : host) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  std::snprintf(t.text, sizeof t.text, "%s|svc", host.c_str());
  char name[600];
  ASSERT_EQ(npipe_name(&t, name, sizeof name), 0);
  EXPECT_STREQ(name, "\\\\.\\PIPE\\svc");
  std::snprintf(t.text, sizeof t.text, "far|svc");
  ASSERT_EQ(npipe_name(&t, name, sizeof name), 0);
  EXPECT_STREQ(name, "\\\\far\\PIPE\\svc");
}

}  // namespace
