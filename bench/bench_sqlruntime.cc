// The SQL client runtime's two hot paths against a minimal raw-socket
// client doing the same work on the same server:
//   fetch    1,000,000 rows (INTEGER, CHAR(20), DECIMAL(10,2), DATE,
//            VARCHAR(40)) through DECLARE, OPEN and FETCH into host
//            variables, FET_BUF_SIZE 1,048,576 with the large-fetch-buffer
//            capability (byte 7 bit 0x01)
//   execute  100,000 EXECUTEs of a prepared UPDATE with two host values
// The server is tests/sqlruntime/sqli_server.py in its benchmark mode,
// answering fetches from pre-encoded batches. The raw client sends the
// very request bytes the runtime sent (read back from the server's log)
// and decodes each reply up to its end code, moving each row's five
// fields into C variables.
//
//   build-release/bin/bench_sqlruntime [rows [executes]]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sqlruntime/connection.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/decimal.h"

extern char** environ;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_sqlruntime: %s (sqlcode %d)\n", what.c_str(), sqlca.sqlcode);
  std::exit(1);
}

std::string Hex(const unsigned char* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(d[p[i] >> 4]);
    out.push_back(d[p[i] & 15]);
  }
  return out;
}

std::vector<unsigned char> Unhex(const std::string& h) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return ntohs(a.sin_port);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The stored row: INTEGER 1, CHAR(20), DECIMAL(10,2) 12345.67 (6 bytes),
// DATE 45000, VARCHAR(40) "hello world" (length byte and 40 bytes).
constexpr int kRowSize = 4 + 20 + 6 + 4 + 41;

std::string RowHex() {
  unsigned char row[kRowSize] = {};
  row[3] = 1;
  std::memcpy(row + 4, "abcdefghij          ", 20);
  // 12345.67: exponent 3 (base 100), digit bytes 1, 23, 45, 67.
  const unsigned char dec[6] = {0xC3, 1, 23, 45, 67, 0};
  std::memcpy(row + 24, dec, sizeof dec);
  Decimal d;
  if (lddecimal(row + 24, 6, &d) != 0 || d.exponent != 3 || d.ndigits != 4) Die("decimal");
  const int32_t date = 45000;
  row[30] = static_cast<unsigned char>(date >> 24);
  row[31] = static_cast<unsigned char>(date >> 16);
  row[32] = static_cast<unsigned char>(date >> 8);
  row[33] = static_cast<unsigned char>(date);
  row[34] = 11;
  std::memcpy(row + 35, "hello world", 11);
  return Hex(row, sizeof row);
}

struct ServerProcess {
  pid_t pid = -1;
  int out_fd = -1;
  ~ServerProcess() {
    if (pid > 0) {
      // The whole group: a python3 found through a wrapper script runs as
      // its child.
      kill(-pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (out_fd >= 0) close(out_fd);
  }
  void Start(const std::string& config) {
    int p[2];
    if (pipe(p) != 0) Die("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addclose(&fa, p[0]);
    std::string script = std::string(TEV_SOURCE_DIR) + "/tests/sqlruntime/sqli_server.py";
    const char* argv[] = {"python3", script.c_str(), config.c_str(), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    if (posix_spawnp(&pid, "python3", &fa, &attr, const_cast<char**>(argv), environ) != 0) Die("spawn");
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(p[1]);
    char buf[16] = {};
    ssize_t n = read(p[0], buf, sizeof buf - 1);
    out_fd = p[0];  // kept open while the server runs
    if (n <= 0 || std::strncmp(buf, "ready", 5) != 0) Die("server did not start");
  }
};

struct Figures {
  double fetch_seconds = 0;
  double exec_seconds = 0;
  long rows = 0;
};

// The fetch and execute loops through the runtime.
Figures RunRuntime(long executes) {
  Figures f;
  if (sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1) != 0) Die("connect");
  int32_t a = 0, date = 0;
  char b[21], e[41];
  Decimal dec;
  SqliValueItem out[5] = {};
  out[0].type = 102, out[0].length = 4, out[0].data = reinterpret_cast<char*>(&a);
  out[1].type = 100, out[1].length = sizeof b, out[1].data = b;
  out[2].type = 107, out[2].length = sizeof dec, out[2].data = reinterpret_cast<char*>(&dec);
  out[3].type = 110, out[3].length = 4, out[3].data = reinterpret_cast<char*>(&date);
  out[4].type = 100, out[4].length = sizeof e, out[4].data = e;
  for (auto& it : out) it.ind_type = -1;
  SqliItemList outs{5, out};
  SqliCursor* c = sqli_curs_locate(1, "c1", 0);
  const char* text[] = {"select * from b1", nullptr};
  if (sqli_curs_decl_stat(1, c, "c1", text, nullptr, &outs, 0, nullptr, nullptr, nullptr, nullptr, 0) != 0) Die("declare");
  c = sqli_curs_locate(1, "c1", 0);
  double t0 = Now();
  if (sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0) != 0) Die("open");
  SqliFetchSpec next{0, SQLI_FETCH_NEXT, 0};
  int32_t rc;
  while ((rc = sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &next)) == 0) ++f.rows;
  f.fetch_seconds = Now() - t0;
  if (rc != 100) Die("fetch");
  if (a != 1 || std::strncmp(b, "abcdefghij", 10) != 0 || date != 45000 || std::strncmp(e, "hello world ", 12) != 0) {
    Die("fetched values differ: " + std::to_string(a) + " '" + b + "' " + std::to_string(date) + " '" + e + "'");
  }
  sqli_curs_close(1, c);

  SqliCursor* s = sqli_prep(1, "u1", "update b1 set b = ? where a = ?", nullptr, nullptr, 0, 0, 0);
  if (s == nullptr) Die("prepare");
  char value[] = "x";
  int32_t key = 7;
  SqliValueItem in[2] = {};
  in[0].type = 100, in[0].length = sizeof value, in[0].data = value, in[0].ind_type = -1;
  in[1].type = 102, in[1].length = 4, in[1].data = reinterpret_cast<char*>(&key), in[1].ind_type = -1;
  SqliDescriptor d{2, in, nullptr, 2};
  t0 = Now();
  for (long i = 0; i < executes; ++i) {
    if (sqli_exec(1, s, &d, nullptr, nullptr, nullptr, nullptr, nullptr, 0) != 0) Die("execute");
  }
  f.exec_seconds = Now() - t0;
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  return f;
}

// The raw client: a buffered reader over the socket.
struct Raw {
  int fd = -1;
  std::vector<unsigned char> buf = std::vector<unsigned char>(1 << 16);
  size_t have = 0, at = 0;

  void Fill(size_t n) {
    if (have - at >= n) return;
    std::memmove(buf.data(), buf.data() + at, have - at);
    have -= at;
    at = 0;
    if (buf.size() < n) buf.resize(n);
    while (have < n) {
      ssize_t got = recv(fd, buf.data() + have, buf.size() - have, 0);
      if (got <= 0) Die("raw recv");
      have += static_cast<size_t>(got);
    }
  }
  const unsigned char* Take(size_t n) {
    Fill(n);
    const unsigned char* p = buf.data() + at;
    at += n;
    return p;
  }
  int16_t S16() {
    const unsigned char* p = Take(2);
    return static_cast<int16_t>(p[0] << 8 | p[1]);
  }
  int32_t S32() {
    const unsigned char* p = Take(4);
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
  }
  void Send(const std::vector<unsigned char>& m) {
    size_t off = 0;
    while (off < m.size()) {
      ssize_t n = send(fd, m.data() + off, m.size() - off, MSG_NOSIGNAL);
      if (n <= 0) Die("raw send");
      off += static_cast<size_t>(n);
    }
  }
};

struct RawRow {
  int32_t a;
  char b[21];
  Decimal dec;
  int32_t date;
  char e[41];
};

// Reads the replies of one request up to 12: the number of rows; *done
// when a done reply came.
long RawReplies(Raw& r, RawRow* row, bool* done) {
  long rows = 0;
  for (;;) {
    int16_t code = r.S16();
    switch (code) {
      case 12:
        return rows;
      case 14: {
        r.S16();
        int32_t n = r.S16();
        const unsigned char* p = r.Take(static_cast<size_t>(n + (n & 1)));
        row->a = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
        std::memcpy(row->b, p + 4, 20);
        row->b[20] = '\0';
        lddecimal(p + 24, 6, &row->dec);
        row->date = static_cast<int32_t>(static_cast<uint32_t>(p[30]) << 24 | p[31] << 16 | p[32] << 8 | p[33]);
        int len = p[34] <= 40 ? p[34] : 40;
        std::memcpy(row->e, p + 35, static_cast<size_t>(len));
        row->e[len] = '\0';
        ++rows;
        break;
      }
      case 15:
        r.Take(14);
        *done = true;
        break;
      case 8: {
        r.Take(8);
        r.S16();
        int32_t n = r.S16();
        int32_t nb = static_cast<uint16_t>(r.S16());
        r.Take(static_cast<size_t>(n) * 8);
        r.Take(static_cast<size_t>(nb + (nb & 1)));
        break;
      }
      case 25:
        r.Take(4);
        break;
      default:
        Die("raw client: reply " + std::to_string(code));
    }
  }
}

// The runtime's requests on its connection, as the server logged them,
// from its first statement on.
std::vector<std::string> LoggedRequests(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  bool sql = false;
  for (std::string l; std::getline(in, l);) {
    if (l == "raw") break;
    if (l.rfind("request ", 0) != 0) continue;
    std::string h = l.substr(8);
    if (h.rfind("0001", 0) == 0 || h.rfind("0002", 0) == 0) sql = true;
    if (sql) out.push_back(h);
  }
  return out;
}

Figures RunRaw(int port, const std::vector<std::string>& requests, long executes) {
  Figures f;
  Raw r;
  r.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(r.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Die("raw connect");
  int one = 1;
  setsockopt(r.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  r.Send({'R', 'A', 'W', '!'});
  RawRow row{};
  size_t i = 0;
  double t0 = 0;
  bool fetched = false;
  for (; i < requests.size(); ++i) {
    std::vector<unsigned char> m = Unhex(requests[i]);
    bool fetch = requests[i].size() >= 12 && requests[i].substr(8, 4) == "0009";
    bool exec = requests[i].size() >= 12 && requests[i].substr(0, 4) == "0004" && requests[i].substr(8, 4) == "0005";
    if (fetch && !fetched) {
      fetched = true;
      bool done = false;
      while (!done) {
        r.Send(m);
        f.rows += RawReplies(r, &row, &done);
      }
      f.fetch_seconds = Now() - t0;
      if (row.a != 1 || row.date != 45000 || std::strcmp(row.e, "hello world") != 0) Die("raw values differ");
      continue;
    }
    if (fetch) continue;  // the runtime's further batches
    if (exec) {
      double e0 = Now();
      for (long k = 0; k < executes; ++k) {
        r.Send(m);
        bool done = false;
        RawReplies(r, &row, &done);
      }
      f.exec_seconds = Now() - e0;
      break;
    }
    // DECLARE/OPEN and PREPARE: once, timed with the fetch from the OPEN on.
    if (!fetched) t0 = Now();
    r.Send(m);
    bool done = false;
    RawReplies(r, &row, &done);
  }
  close(r.fd);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  long executes = argc > 2 ? std::atol(argv[2]) : 100000;
  char dir_template[] = "/tmp/bench_sqlruntime.XXXXXX";
  char* dir = mkdtemp(dir_template);
  if (dir == nullptr) Die("mkdtemp");
  std::string root = dir;
  mkdir((root + "/etc").c_str(), 0700);
  // Message files and locale data of a built tree (BENCH_TREE, else this
  // build's own).
  const char* tree = std::getenv("BENCH_TREE") != nullptr ? std::getenv("BENCH_TREE") : TEV_TREE;
  for (const char* sub : {"msg", "lxr"}) {
    std::string from = std::string(tree) + "/" + sub;
    if (access(from.c_str(), F_OK) == 0) {
      std::string copy = "cp -r '" + from + "' '" + root + "/'";
      if (std::system(copy.c_str()) != 0) Die("copy " + from);
    }
  }
  int port = FreePort();
  WriteFile(root + "/etc/sqlhosts", "srv1 vqsoctcp 127.0.0.1 " + std::to_string(port) + "\n");
  setenv("TARVELONDIR", root.c_str(), 1);
  setenv("TARVELONSQLHOSTS", (root + "/etc/sqlhosts").c_str(), 1);
  setenv("ZIVEVODAREVEZO", "srv1", 1);
  setenv("DBPATH", ".", 1);
  setenv("FET_BUF_SIZE", "1048576", 1);
  std::string log = root + "/server.log";
  std::string config = "{\"port\": " + std::to_string(port) + ", \"log\": \"" + log +
                       "\", \"caps\": \"00000000000000" "01\", \"bench\": {\"table\": \"b1\", \"rows\": " +
                       std::to_string(rows) + ", \"row\": \"" + RowHex() +
                       "\"}, \"tables\": {\"b1\": {\"columns\": ["
                       "{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
                       "{\"name\": \"b\", \"type\": 0, \"length\": 20}, "
                       "{\"name\": \"c\", \"type\": 5, \"length\": 2562, \"size\": 6}, "
                       "{\"name\": \"d\", \"type\": 7, \"length\": 4}, "
                       "{\"name\": \"e\", \"type\": 13, \"length\": 40, \"size\": 41}], \"rows\": []}}}";
  WriteFile(root + "/server.json", config);
  WriteFile(log, "");
  Figures rt, raw;
  {
    ServerProcess server;
    server.Start(root + "/server.json");
    rt = RunRuntime(executes);
    std::vector<std::string> req = LoggedRequests(ReadFile(log));
    raw = RunRaw(port, req, executes);
  }
  if (rt.rows != rows || raw.rows != rows) Die("row counts differ: " + std::to_string(rt.rows) + " " + std::to_string(raw.rows));
  bool headers = ReadFile(log).find("headers 1") != std::string::npos;
  std::printf("rows %ld, executes %ld, runtime connection %s\n", rows, executes,
              headers ? "in type 6 packets" : "bare stream");
  std::printf("%-10s %14s %14s %8s\n", "", "runtime", "raw client", "ratio");
  double rt_rows = rows / rt.fetch_seconds, raw_rows = rows / raw.fetch_seconds;
  double rt_exec = executes / rt.exec_seconds, raw_exec = executes / raw.exec_seconds;
  std::printf("%-10s %12.0f/s %12.0f/s %8.2f\n", "fetch", rt_rows, raw_rows, rt_rows / raw_rows);
  std::printf("%-10s %12.0f/s %12.0f/s %8.2f\n", "execute", rt_exec, raw_exec, rt_exec / raw_exec);
  std::string cleanup = "rm -rf '" + root + "'";
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "left %s\n", root.c_str());
  return 0;
}
