// The cloud clients against the curl command line on the same local
// servers.
//
// Puts and gets one object (256 MB by default) through the S3 client and
// the Swift client, in one part and in ten parts, and the same bytes with
// curl: `curl --upload-file` with the client's own headers, and a GET
// into a file. The client's side reads the source file in 128 KB blocks
// into the filter's pipe (as the object writer does) and writes what a
// download delivers into a file (as object DUMP does). Client and curl
// alternate, five runs each; the best time counts. Prints MB/s and the
// ratio curl time / client time (1.0: as fast as curl).
//
// S3: an s3rver (npm, installed by scripts/test into
// tests/storage/datapath) is started on 127.0.0.1 with a certificate made
// by the openssl command line, and stopped at the end. Swift: a proxy
// named by the environment, when set:
//   BENCH_SWIFT_URL   authentication URL, e.g. https://127.0.0.1:PORT/auth/v1.0
//   BENCH_SWIFT_USER  BENCH_SWIFT_KEY  BENCH_SWIFT_CONTAINER (existing)
//
// Usage: bench_cloud [MB [directory]]   (MB defaults to 256; the directory
// to $TMPDIR or /tmp; a new directory is made inside it)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "storage/command/config.h"
#include "storage/datapath/smcloud.h"
#include "storage/datapath/smfilter.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBlock = 128 * 1024;
constexpr int kRuns = 5;

// Seconds the last ClientPut spent handing the part to the client (until
// the parent's last write into the pipe returned): for S3, the part's
// copy into the client's cache, which must end before the upload starts.
double g_handover = 0;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_cloud: %s\n", what.c_str());
  std::exit(1);
}

// Runs a program (no shell) to its end; its exit status, 128 + signal.
int Run(const std::vector<std::string>& argv, const char* out = nullptr) {
  std::vector<char*> v;
  for (const std::string& a : argv) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out != nullptr) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out, O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, v[0], &actions, nullptr, v.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) Die("cannot start " + argv[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFile(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

bool SameFiles(const std::string& a, const std::string& b) {
  return Run({"cmp", "-s", a, b}) == 0;
}

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool Answers(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// The object's address and credentials, as a CLOUD device holds them.
struct Target {
  int32_t provider;  // 1 S3, 2 Swift
  std::string url, user, password, container;
};

CloudClientArgs Args(const Target& t, int32_t mode, const std::string& name, int32_t part_size) {
  CloudClientArgs a{};
  a.mode = mode;
  a.provider = t.provider;
  std::snprintf(a.url, sizeof a.url, "%s", t.url.c_str());
  std::snprintf(a.user, sizeof a.user, "%s", t.user.c_str());
  std::snprintf(a.password, sizeof a.password, "%s", t.password.c_str());
  std::snprintf(a.container, sizeof a.container, "%s", t.container.c_str());
  std::snprintf(a.targetName, sizeof a.targetName, "%s", name.c_str());
  a.partSize = part_size;
  return a;
}

int ClientMain(int32_t id, void* arg) {
  auto* a = static_cast<CloudClientArgs*>(arg);
  return a->provider == 1 ? cloudS3ClientStart(id, a) : cloudSwiftClientStart(id, a);
}

// One part through the client: [offset, offset + length) of the source
// file up, or the object down appended to the output file.
void ClientPut(const Target& t, const std::string& name, int fd, off_t offset, size_t length) {
  CloudClientArgs a = Args(t, CLOUD_MODE_PUT, name, static_cast<int32_t>(length));
  int32_t id = -1;
  if (create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, ClientMain, &a, &id) != 0) {
    Die("create_filter");
  }
  std::vector<char> block(kBlock);
  const auto start = Clock::now();
  size_t done = 0;
  while (done < length) {
    const size_t want = std::min(kBlock, length - done);
    const ssize_t n = pread(fd, block.data(), want, offset + static_cast<off_t>(done));
    if (n <= 0) Die("reading the source");
    if (write_to_filter(id, block.data(), static_cast<size_t>(n)) != 0) break;
    done += static_cast<size_t>(n);
  }
  g_handover = std::chrono::duration<double>(Clock::now() - start).count();
  if (destroy_filter(id) != 0 || done != length) Die("the client's upload of " + name + " failed");
}

void ClientGet(const Target& t, const std::string& name, int out, size_t length) {
  CloudClientArgs a = Args(t, CLOUD_MODE_GET, name, 0);
  int32_t id = -1;
  if (create_filter(FILTER_THREAD_READ, FILTER_PIPE_SIZE, nullptr, ClientMain, &a, &id) != 0) {
    Die("create_filter");
  }
  std::vector<char> block(kBlock);
  size_t total = 0;
  for (;;) {
    size_t got = 0;
    if (read_from_filter(id, block.data(), block.size(), &got) != 0) Die("read_from_filter");
    if (got == 0) break;
    if (write(out, block.data(), got) != static_cast<ssize_t>(got)) Die("writing the output");
    total += got;
  }
  destroy_filter(id);
  if (total != length) Die("the client's download of " + name + " is short");
}

std::string HttpDate() {
  char text[64];
  const time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &tm);
  return text;
}

// The Swift token and storage URL, fetched once with curl for its runs.
struct SwiftSession {
  std::string token, storage;
};

SwiftSession SwiftAuth(const Target& t, const std::string& dir) {
  const std::string headers = dir + "/auth.headers";
  if (Run({"curl", "-sSfk", "--http1.1", "-o", "/dev/null", "-D", headers, "-H",
           "X-Auth-Key: " + t.password, "-H", "X-Auth-User: " + t.user, t.url}) != 0) {
    Die("curl cannot authenticate at " + t.url);
  }
  SwiftSession s;
  const std::string text = ReadFile(headers);
  auto field = [&](const char* name) {
    const size_t at = text.find(name);
    if (at == std::string::npos) Die(std::string("no ") + name + " from " + t.url);
    const size_t from = at + std::strlen(name);
    return text.substr(from, text.find('\r', from) - from);
  };
  s.token = field("X-Storage-Token: ");
  s.storage = field("X-Storage-Url: ");
  return s;
}

// One part with curl: an upload of the file's slice, or a GET appended to
// the output.
void CurlPut(const Target& t, const SwiftSession& swift, const std::string& name,
             const std::string& file) {
  std::vector<std::string> argv = {"curl", "-sSfk", "--http1.1", "-o", "/dev/null",
                                   "--upload-file", file};
  if (t.provider == 1) {
    const std::string date = HttpDate();
    char signature[64];
    if (!cloudS3Signature("PUT", date.c_str(), t.container.c_str(), name.c_str(),
                          t.password.c_str(), signature, sizeof signature)) {
      Die("signature");
    }
    const std::string host = t.url.substr(std::strlen("https://"));
    argv.insert(argv.end(), {"-H", "Host: " + host, "-H", "Date: " + date, "-H",
                             "Content-Type: application/x-binary", "-H",
                             "Authorization: AWS " + t.user + ":" + signature,
                             t.url + "/" + name});
  } else {
    argv.insert(argv.end(), {"-H", "X-Auth-token: " + swift.token,
                             swift.storage + "/" + t.container + "/" + name});
  }
  if (Run(argv) != 0) Die("curl's upload of " + name + " failed");
}

void CurlGet(const Target& t, const SwiftSession& swift, const std::string& name,
             const std::string& out) {
  std::vector<std::string> argv = {"curl", "-sSfk", "--http1.1"};
  if (t.provider == 1) {
    const std::string date = HttpDate();
    char signature[64];
    if (!cloudS3Signature("GET", date.c_str(), t.container.c_str(), name.c_str(),
                          t.password.c_str(), signature, sizeof signature)) {
      Die("signature");
    }
    const std::string host = t.url.substr(std::strlen("https://"));
    argv.insert(argv.end(), {"-H", "Host: " + host, "-H", "Date: " + date, "-H",
                             "Content-Type: application/x-binary", "-H",
                             "Authorization: AWS " + t.user + ":" + signature,
                             t.url + "/" + name});
  } else {
    argv.insert(argv.end(), {"-H", "X-Auth-token: " + swift.token,
                             swift.storage + "/" + t.container + "/" + name});
  }
  if (Run(argv, out.c_str()) != 0) Die("curl's download of " + name + " failed");
}

// Processor seconds (user and system) of this process's threads, or of
// its waited-for children (curl).
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// Wall-clock seconds of f; its processor seconds into *cpu.
double Seconds(const std::function<void()>& f, int who, double* cpu) {
  const double cpu0 = CpuSeconds(who);
  const auto start = Clock::now();
  f();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  *cpu = std::min(*cpu, CpuSeconds(who) - cpu0);
  return wall;
}


// Best of five, client and curl alternating, for one target and part
// count; prints the two lines (put, get).
void Compare(const char* label, const Target& t, const std::string& dir,
             const std::string& source, size_t size, int parts) {
  const SwiftSession swift = t.provider == 1 ? SwiftSession{} : SwiftAuth(t, dir);
  const size_t per = (size + static_cast<size_t>(parts) - 1) / static_cast<size_t>(parts);
  // Slices of the source as files for curl's uploads.
  std::vector<std::string> slices;
  for (int p = 0; p < parts; ++p) {
    const std::string file = dir + "/slice." + std::to_string(p);
    const size_t from = per * static_cast<size_t>(p);
    const size_t n = std::min(per, size - from);
    if (Run({"dd", "if=" + source, "of=" + file, "bs=1M", "iflag=skip_bytes,count_bytes",
             "skip=" + std::to_string(from), "count=" + std::to_string(n), "status=none"}) != 0) {
      Die("dd");
    }
    slices.push_back(file);
  }
  const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("open " + source);
  const std::string prefix = std::string("bench/") + (t.provider == 1 ? "s3" : "swift") + "." +
                             std::to_string(parts) + ".";
  const std::string out = dir + "/out";
  double best[4] = {1e30, 1e30, 1e30, 1e30};  // client put, curl put, client get, curl get
  double cpu[4] = {1e30, 1e30, 1e30, 1e30};   // least processor seconds of each
  double handover = 0;                        // of the best client put
  double first_put = 0;                       // the client's first put (fresh memory)
  for (int run = 0; run < kRuns; ++run) {
    auto client_put = [&] {
      double handed = 0;
      const double put = Seconds(
          [&] {
            for (int p = 0; p < parts; ++p) {
              const size_t from = per * static_cast<size_t>(p);
              ClientPut(t, prefix + std::to_string(p), fd, static_cast<off_t>(from),
                        std::min(per, size - from));
              handed += g_handover;
            }
          },
          RUSAGE_SELF, &cpu[0]);
      if (run == 0) first_put = put;
      if (put < best[0]) {
        best[0] = put;
        handover = handed;
      }
    };
    auto curl_put = [&] {
      best[1] = std::min(best[1], Seconds(
                                      [&] {
                                        for (int p = 0; p < parts; ++p) {
                                          CurlPut(t, swift, prefix + std::to_string(p),
                                                  slices[p]);
                                        }
                                      },
                                      RUSAGE_CHILDREN, &cpu[1]));
    };
    // Who goes first alternates, as for the GETs below.
    if (run % 2 == 0) {
      client_put();
      curl_put();
    } else {
      curl_put();
      client_put();
    }
    // The transfer that follows a PUT finds the server still writing the
    // object back; client and curl take turns in that place.
    auto client_get = [&] {
      best[2] = std::min(best[2], Seconds(
                                      [&] {
                                        const int o = open(out.c_str(),
                                                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                                           0600);
                                        if (o < 0) Die("open " + out);
                                        for (int p = 0; p < parts; ++p) {
                                          const size_t from = per * static_cast<size_t>(p);
                                          ClientGet(t, prefix + std::to_string(p), o,
                                                    std::min(per, size - from));
                                        }
                                        close(o);
                                      },
                                      RUSAGE_SELF, &cpu[2]));
      if (!SameFiles(source, out)) Die("the client's download differs from the source");
    };
    auto curl_get = [&] {
      best[3] = std::min(best[3], Seconds(
                                      [&] {
                                        for (int p = 0; p < parts; ++p) {
                                          CurlGet(t, swift, prefix + std::to_string(p),
                                                  dir + "/curl." + std::to_string(p));
                                        }
                                      },
                                      RUSAGE_CHILDREN, &cpu[3]));
      for (int p = 0; p < parts; ++p) {
        if (!SameFiles(slices[p], dir + "/curl." + std::to_string(p))) {
          Die("curl's download differs from the source");
        }
      }
    };
    if (run % 2 == 0) {
      client_get();
      curl_get();
    } else {
      curl_get();
      client_get();
    }
    std::fprintf(stderr, ".");
  }
  close(fd);
  for (int p = 0; p < parts; ++p) {
    unlink(slices[p].c_str());
    unlink((dir + "/curl." + std::to_string(p)).c_str());
  }
  const double mb = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf(
      "%-8s %2d part(s)  put: client %7.1f MB/s  curl %7.1f MB/s  ratio %.2f"
      "  (handover %.2f s of %.2f s, first run %.2f s; cpu client %.2f s, curl %.2f s)\n",
      label, parts, mb / best[0], mb / best[1], best[1] / best[0], handover, best[0], first_put,
      cpu[0], cpu[1]);
  std::printf("%-8s %2d part(s)  get: client %7.1f MB/s  curl %7.1f MB/s  ratio %.2f"
              "  (cpu client %.2f s, curl %.2f s)\n",
              label, parts, mb / best[2], mb / best[3], best[3] / best[2], cpu[2], cpu[3]);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const size_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = argc > 2 ? argv[2] : (tmp != nullptr ? tmp : "/tmp");
  std::string dir = base + "/bench_cloud.XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) Die("mkdtemp in " + base);
  // The clients' status files go with the rest, and so does the
  // configuration their logging reads.
  setenv("TMPDIR", dir.c_str(), 1);
  std::filesystem::create_directory(dir + "/etc");
  setenv("TARVELONDIR", dir.c_str(), 1);
  setenv("ZIVEVODAREVEZO", "bench", 1);
  setenv("TEV_ACT_LOG", (dir + "/act.log").c_str(), 1);
  unsetenv("TEV_DEBUG");
  if (zarLoadConfig(0) != 0) Die("zarLoadConfig");
  const size_t size = mb * 1024 * 1024;
  const std::string source = dir + "/source";
  if (Run({"dd", "if=/dev/urandom", "of=" + source, "bs=1M", "count=" + std::to_string(mb),
           "status=none"}) != 0) {
    Die("dd");
  }
  if (Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
           "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", dir + "/key.pem", "-out",
           dir + "/cert.pem", "-days", "2", "-subj", "/CN=localhost", "-addext",
           "subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:bkt.s3.localhost"},
          "/dev/null") != 0) {
    Die("openssl req");
  }
  const std::string s3rver =
      std::string(TEV_SOURCE_DIR) + "/tests/storage/datapath/node_modules/s3rver/bin/s3rver.js";
  if (access(s3rver.c_str(), R_OK) != 0) Die(s3rver + " is missing: run scripts/test first");
  std::filesystem::create_directory(dir + "/s3rver");
  const int port = FreePort();
  std::vector<std::string> sv = {"node", s3rver, "-d", dir + "/s3rver", "-a", "127.0.0.1", "-p",
                                 std::to_string(port), "--key", dir + "/key.pem", "--cert",
                                 dir + "/cert.pem", "--service-endpoint", "localhost",
                                 "--configure-bucket", "bkt", "--allow-mismatched-signatures"};
  std::vector<char*> v;
  for (const std::string& a : sv) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  pid_t server = 0;
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&server, "node", &quiet, nullptr, v.data(), environ) != 0) Die("node");
  posix_spawn_file_actions_destroy(&quiet);
  bool up = false;
  for (int i = 0; i < 300 && !up; ++i) {
    up = Answers(port);
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!up) Die("s3rver did not start");

  std::printf("object %zu MB, best of %d, ratio = curl time / client time\n", mb, kRuns);
  const Target s3{1, "https://bkt.s3.localhost:" + std::to_string(port), "S3RVER", "S3RVER",
                  "bkt"};
  // BENCH_PARTS=1 or 10 runs only that part count.
  const char* only = std::getenv("BENCH_PARTS");
  auto wanted = [&](int parts) { return only == nullptr || std::atoi(only) == parts; };
  // BENCH_SERVER=s3 or swift runs only that server.
  const char* server_only = std::getenv("BENCH_SERVER");
  auto serves = [&](const char* name) {
    return server_only == nullptr || std::strcmp(server_only, name) == 0;
  };
  if (serves("s3") && wanted(1)) Compare("s3rver", s3, dir, source, size, 1);
  if (serves("s3") && wanted(10)) Compare("s3rver", s3, dir, source, size, 10);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::filesystem::remove_all(dir + "/s3rver");

  const char* swift_url = std::getenv("BENCH_SWIFT_URL");
  if (!serves("swift")) {
    // not asked for
  } else if (swift_url != nullptr && swift_url[0] != '\0') {
    auto env = [](const char* name, const char* fallback) {
      const char* v = std::getenv(name);
      return std::string(v != nullptr ? v : fallback);
    };
    const Target swift{2, swift_url, env("BENCH_SWIFT_USER", "test:tester"),
                       env("BENCH_SWIFT_KEY", "testing"), env("BENCH_SWIFT_CONTAINER", "cont")};
    if (wanted(1)) Compare("swift", swift, dir, source, size, 1);
    if (wanted(10)) Compare("swift", swift, dir, source, size, 10);
  } else {
    std::printf("swift: BENCH_SWIFT_URL not set, skipped\n");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
