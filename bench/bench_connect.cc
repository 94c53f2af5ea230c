// What the connectivity layer costs against a plain socket and OpenSSL's
// own tools, in one run; prints one table (rates, and the layer's rate
// over the peer's). Run from a Release build, beside al_server and tvreg:
//
//   build-release/bin/bench_connect [round trips] [MiB one way]
//
// It needs the build's installation tree (locale and message data), or
// another build's named by BENCH_TREE.
//
//   round trips   100-byte message and answer over an established soctcp
//                 association (service call, session packets; al_server
//                 echoes) against blocking send/recv on a TCP socket pair
//                 with TCP_NODELAY
//   one way       the transport's packet buffers of 4 KB and 32 KB (the
//                 server entry's buffer option) into a draining socket,
//                 against a socket writing the same chunks
//   TLS           socssl into "openssl s_server -quiet" against
//                 "openssl s_client -quiet" sending the same bytes; 100-byte
//                 line round trips against "openssl s_server -rev", the
//                 layer against a client calling libssl directly
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "connect/asf_assoc.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"
#include "connect/transport.h"
#include "tests/connect/al_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string g_bin;   // the folder of this program
std::string g_work;  // a scratch folder

int Run(const std::string& command) { return std::system(command.c_str()); }

// A listening socket on 127.0.0.1 at a port the system picks.
int Listener(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0) std::abort();
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

int Dial(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

int DialWait(int port) {
  for (int k = 0; k < 400; ++k) {
    int fd = Dial(port);
    if (fd >= 0) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return -1;
}

bool ReadFull(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t r = recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool WriteFull(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Drains one connection of the listener to its end.
std::thread Sink(int listener) {
  return std::thread([listener] {
    int c = accept(listener, nullptr, nullptr);
    std::vector<char> buf(1 << 16);
    while (recv(c, buf.data(), buf.size(), 0) > 0) {
    }
    close(c);
  });
}

// ---- round trips ----

// The echo runs in a child process (as al_server does for the layer) or,
// with `thread`, in a thread of this process.
double PeerRoundTrips(int n, bool thread) {
  int port;
  int l = Listener(&port);
  auto echo = [l] {
    int c = accept(l, nullptr, nullptr);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char m[100];
    while (ReadFull(c, m, sizeof m) && WriteFull(c, m, sizeof m)) {
    }
    close(c);
  };
  std::thread echo_thread;
  pid_t pid = -1;
  if (thread) {
    echo_thread = std::thread(echo);
  } else {
    std::fflush(stdout);
    pid = fork();
    if (pid == 0) {
      echo();
      _exit(0);
    }
  }
  int fd = Dial(port);
  char m[100];
  std::memset(m, 'm', sizeof m);
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (!WriteFull(fd, m, sizeof m) || !ReadFull(fd, m, sizeof m)) std::abort();
  }
  double s = Seconds(start);
  close(fd);
  if (thread) echo_thread.join();
  else waitpid(pid, nullptr, 0);
  close(l);
  return n / s;
}

// timeout_ms: the client's time-out on each send and receive (-1: none).
double LayerRoundTrips(int n, int32_t timeout_ms) {
  std::string reg = g_work + "/reg";
  Run(g_bin + "/tvreg set 'HKLM\\SOFTWARE\\Tarvelon\\Velkor\\tvtest\\Security\\Users' UIDSeed dword 1000 "
      "> /dev/null 2>&1");
  std::string hosts = g_work + "/sqlhosts";
  FILE* f = std::fopen(hosts.c_str(), "w");
  std::fprintf(f, "lsrv vqsoctcp 127.0.0.1 0\n");
  std::fclose(f);
  std::string out = g_work + "/al_server.out";
  std::fflush(stdout);
  setenv("AL_SERVER_QUIET", "1", 1);
  pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(out.c_str(), "w", stdout)) _exit(127);
    execl((g_bin + "/al_server").c_str(), "al_server", "serve", "lsrv", "0", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string port;
  for (int k = 0; k < 400 && port.empty(); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    FILE* p = std::fopen(out.c_str(), "r");
    char line[256];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
      if (std::strncmp(line, "port ", 5) == 0) port = std::string(line + 5, std::strcspn(line + 5, "\n"));
    }
    if (p != nullptr) std::fclose(p);
  }
  if (port.empty()) {
    std::fprintf(stderr, "al_server gave no port; see %s\n", out.c_str());
    return 0;
  }
  f = std::fopen(hosts.c_str(), "w");
  std::fprintf(f, "lsrv vqsoctcp 127.0.0.1 0\nsrv vqsoctcp 127.0.0.1 %s\n", port.c_str());
  std::fclose(f);
  static al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = 10000;
  if (c.Connect(&cb, "@srv") != 0) {
    std::fprintf(stderr, "connect failed: %d %d\n", cb.error, cb.os_error);
    return 0;
  }
  cb.timeout_ms = timeout_ms;
  std::string m(100, 'm');
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (al_test::Send(&cb, m) != 0) std::abort();
    if (al_test::Recv(&cb).size() != 101) std::abort();  // "R" and the message
  }
  double s = Seconds(start);
  al_test::Release(&cb);
  waitpid(pid, nullptr, 0);
  return n / s;
}

// ---- one way ----

AsfAssociation* Direct(AsfControlBlock* cb, const std::string& address, AsfServerEntry* entry) {
  AsfAssociation* a = asf_assoc_new(cb, ASF_INITIATOR, nullptr);
  a->state->kind = ASF_INITIATOR;
  cb->assoc = a;
  cb->mode = 1;
  cb->timeout_ms = -1;
  asf_session_attach(cb, 0, "raw", "soctcp");
  a->session->state = SESS_ESTABLISHED;
  a->session->selector = -1;
  std::string text = address;
  AsfTransportRequest tr{{1, text.data()}, entry};
  if (tl_connect(cb, &tr) != 0) {
    std::fprintf(stderr, "connect %s failed: %d %d %s\n", address.c_str(), cb->error, cb->os_error, cb->text);
    return nullptr;
  }
  return a;
}

// Sends bytes through the association's send buffer, size bytes a packet.
bool LayerSend(AsfControlBlock* cb, uint64_t bytes) {
  while (bytes > 0) {
    AsfPacketBuffer* b = cb->assoc->buffers[ASF_BUF_SEND];
    uint32_t n = static_cast<uint32_t>(bytes < b->size ? bytes : b->size);
    b->position = b->data;
    b->left = n;
    if (tl_send(cb, b) != 0) return false;
    bytes -= n;
  }
  return true;
}

double LayerOneWay(uint64_t bytes, int32_t buffer) {
  int port;
  int l = Listener(&port);
  std::thread sink = Sink(l);
  AsfServerEntry entry{};
  entry.options.buffer_size = buffer;
  AsfControlBlock cb{};
  if (Direct(&cb, "127.0.0.1|" + std::to_string(port) + "|soctcp", &entry) == nullptr) std::abort();
  std::memset(cb.assoc->buffers[ASF_BUF_SEND]->data, 'x', cb.assoc->buffers[ASF_BUF_SEND]->size);
  auto start = Clock::now();
  if (!LayerSend(&cb, bytes)) std::abort();
  tl_close(&cb, 0);
  sink.join();
  double s = Seconds(start);
  close(l);
  return bytes / s / (1 << 20);
}

double PeerOneWay(uint64_t bytes, size_t chunk) {
  int port;
  int l = Listener(&port);
  std::thread sink = Sink(l);
  int fd = Dial(port);
  std::vector<char> buf(chunk, 'x');
  auto start = Clock::now();
  for (uint64_t left = bytes; left > 0;) {
    size_t n = left < chunk ? left : chunk;
    if (!WriteFull(fd, buf.data(), n)) std::abort();
    left -= n;
  }
  close(fd);
  sink.join();
  double s = Seconds(start);
  close(l);
  return bytes / s / (1 << 20);
}

// ---- TLS ----

// s_server ends a connection at the end of its standard input: it reads a
// pipe that this program keeps open.
int g_fifo = -1;

pid_t StartServer(const std::string& args, int port) {
  std::fflush(stdout);
  if (g_fifo < 0) {
    mkfifo((g_work + "/stdin.fifo").c_str(), 0600);
    g_fifo = open((g_work + "/stdin.fifo").c_str(), O_RDWR | O_CLOEXEC);
  }
  pid_t pid = fork();
  if (pid == 0) {
    std::string cmd = "exec openssl s_server -accept 127.0.0.1:" + std::to_string(port) + " -cert " + g_work +
                      "/srv.pem -key " + g_work + "/srv.key " + args + " < " + g_work + "/stdin.fifo > /dev/null 2>&1";
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int probe = DialWait(port);
  if (probe >= 0) close(probe);
  return pid;
}

void StopServer(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

int FreePort() {
  int port;
  int l = Listener(&port);
  close(l);
  return port;
}

double TlsLayerOneWay(uint64_t bytes) {
  int port = FreePort();
  pid_t server = StartServer("-quiet", port);
  AsfServerEntry entry{};
  entry.options.buffer_size = 32768;
  std::memcpy(entry.server_type, "dw", 2);
  AsfControlBlock cb{};
  if (Direct(&cb, "127.0.0.1|" + std::to_string(port) + "|socssl", &entry) == nullptr) std::abort();
  std::memset(cb.assoc->buffers[ASF_BUF_SEND]->data, 'x', cb.assoc->buffers[ASF_BUF_SEND]->size);
  auto start = Clock::now();
  if (!LayerSend(&cb, bytes)) std::abort();
  tl_close(&cb, 0);
  double s = Seconds(start);
  StopServer(server);
  return bytes / s / (1 << 20);
}

double TlsPeerOneWay(uint64_t bytes) {
  int port = FreePort();
  pid_t server = StartServer("-quiet", port);
  // Without -no_ign_eof, -quiet would keep the client open after its input.
  std::string cmd = "head -c " + std::to_string(bytes) + " /dev/zero | openssl s_client -quiet -no_ign_eof -connect 127.0.0.1:" +
                    std::to_string(port) + " > /dev/null 2>&1";
  auto start = Clock::now();
  Run(cmd);
  double s = Seconds(start);
  StopServer(server);
  return bytes / s / (1 << 20);
}

double TlsLayerRoundTrips(int n) {
  int port = FreePort();
  pid_t server = StartServer("-rev", port);
  AsfServerEntry entry{};
  std::memcpy(entry.server_type, "dw", 2);
  AsfControlBlock cb{};
  if (Direct(&cb, "127.0.0.1|" + std::to_string(port) + "|socssl", &entry) == nullptr) std::abort();
  std::string line(99, 'l');
  line += '\n';
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    AsfPacketBuffer* b = cb.assoc->buffers[ASF_BUF_SEND];
    std::memcpy(b->data, line.data(), line.size());
    b->position = b->data;
    b->left = static_cast<uint32_t>(line.size());
    if (tl_send(&cb, b) != 0) std::abort();
    size_t got = 0;
    while (got < line.size()) {
      AsfPacketBuffer* r = nullptr;
      if (tl_recv(&cb, &r) != 0) std::abort();
      got += r->left;
      asf_buffer_put(cb.assoc, ASF_BF_RECV, r);
    }
  }
  double s = Seconds(start);
  tl_close(&cb, 0);
  StopServer(server);
  return n / s;
}

double TlsPeerRoundTrips(int n) {
  int port = FreePort();
  pid_t server = StartServer("-rev", port);
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_load_verify_locations(ctx, (g_work + "/ca.pem").c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  int fd = Dial(port);
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (SSL_connect(ssl) != 1) std::abort();
  std::string line(99, 'l');
  line += '\n';
  char buf[256];
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (SSL_write(ssl, line.data(), static_cast<int>(line.size())) <= 0) std::abort();
    size_t got = 0;
    while (got < line.size()) {
      int r = SSL_read(ssl, buf, sizeof buf);
      if (r <= 0) std::abort();
      got += static_cast<size_t>(r);
    }
  }
  double s = Seconds(start);
  SSL_shutdown(ssl);
  SSL_free(ssl);
  close(fd);
  SSL_CTX_free(ctx);
  StopServer(server);
  return n / s;
}

// BENCH_ONLY=<text>: only the rows whose name holds the text (to profile one).
bool Wanted(const char* name) {
  const char* only = std::getenv("BENCH_ONLY");
  return only == nullptr || std::strstr(name, only) != nullptr;
}

void Row(const char* name, const char* unit, double layer, double peer) {
  std::printf("| %s | %.0f %s | %.0f %s | %.2f |\n", name, layer, unit, peer, unit, peer > 0 ? layer / peer : 0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int trips = argc > 1 ? std::atoi(argv[1]) : 100000;
  uint64_t bytes = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) << 20;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';
  g_bin = self;
  g_bin = g_bin.substr(0, g_bin.rfind('/'));
  char tmpl[] = "/tmp/bench_connect.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  g_work = tmpl;
  // An installation directory: the build's tree with an etc/ of our own.
  // BENCH_TREE: another build's tree when this one has not built its data.
  std::string tree = std::getenv("BENCH_TREE") != nullptr ? std::getenv("BENCH_TREE") : g_bin + "/../tarvelon";
  Run("cd " + g_work + " && mkdir etc && for f in " + tree + "/*; do [ \"$(basename $f)\" = etc ] || ln -s $f .; done"
      " && ln -s " + tree + "/etc/* etc/ 2>/dev/null; true");
  Run("cd " + g_work + " && ec='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1' &&"
      " openssl req -x509 $ec -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=benchca 2>/dev/null &&"
      " openssl req $ec -nodes -keyout srv.key -out srv.csr -subj /CN=127.0.0.1 2>/dev/null &&"
      " openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 2>/dev/null &&"
      " echo SSL_KEYSTORE_FILE " + g_work + "/ca.pem > etc/conssl.cfg");
  setenv("TARVELONDIR", g_work.c_str(), 1);
  setenv("TARVELONSQLHOSTS", (g_work + "/sqlhosts").c_str(), 1);
  setenv("TARVELON_REGISTRY", (g_work + "/reg").c_str(), 1);
  setenv("ZIVEVODAREVEZO", "tvtest", 1);
  setenv("DBPATH", ".", 1);
  AsfControlBlock icb{};
  if (al_test::Init(&icb) != 0) {
    std::fprintf(stderr, "init failed: %d\n", icb.error);
    return 1;
  }
  std::printf("| measure | layer | peer | layer / peer |\n|---|---|---|---|\n");
  // BENCH_ROUNDS (default 3): layer and peer are measured in turn that many
  // times and the best rate of each is kept, so that a burst of load from
  // elsewhere on the machine does not decide a row.
  int rounds = std::getenv("BENCH_ROUNDS") != nullptr ? std::max(1, std::atoi(std::getenv("BENCH_ROUNDS"))) : 3;
  auto best = [rounds](const char* name, const char* unit, auto layer, auto peer) {
    double l = 0, p = 0;
    for (int r = 0; r < rounds; ++r) {
      l = std::max(l, layer());
      p = std::max(p, peer());
    }
    Row(name, unit, l, p);
  };
  if (Wanted("100-byte round trips, soctcp")) {
    best("100-byte round trips, soctcp", "/s", [&] { return LayerRoundTrips(trips, -1); },
         [&] { return PeerRoundTrips(trips, false); });
    best("100-byte round trips, soctcp, 10 s time-out", "/s", [&] { return LayerRoundTrips(trips, 10000); },
         [&] { return PeerRoundTrips(trips, false); });
    best("100-byte round trips, soctcp, peer echoing from a thread", "/s",
         [&] { return LayerRoundTrips(trips, -1); }, [&] { return PeerRoundTrips(trips, true); });
  }
  if (Wanted("one way, 4 KB packets")) {
    best("one way, 4 KB packets", "MiB/s", [&] { return LayerOneWay(bytes, 4096); },
         [&] { return PeerOneWay(bytes, 4096); });
  }
  if (Wanted("one way, 32 KB packets")) {
    best("one way, 32 KB packets", "MiB/s", [&] { return LayerOneWay(bytes, 32768); },
         [&] { return PeerOneWay(bytes, 32768); });
  }
  if (Wanted("TLS one way into s_server")) {
    best("TLS one way into s_server", "MiB/s", [&] { return TlsLayerOneWay(bytes); },
         [&] { return TlsPeerOneWay(bytes); });
  }
  if (Wanted("TLS 100-byte lines, s_server -rev")) {
    best("TLS 100-byte lines, s_server -rev", "/s", [&] { return TlsLayerRoundTrips(trips / 10); },
         [&] { return TlsPeerRoundTrips(trips / 10); });
  }
  if (std::getenv("BENCH_KEEP") == nullptr) Run("rm -rf " + g_work);
  return 0;
}
