// TLS through the security toolkit: the project's client and server
// against OpenSSL's own s_server and s_client on 127.0.0.1, the
// association's life cycle over "socssl", the loader's failures (each in a
// process of its own, tls_probe, with the library search path the case
// needs), the conssl.cfg reader and the version comparison. Certificates
// are made here with the openssl command line.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "connect/osvercmp.h"
#include "tests/connect/connect_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

std::string BuildDir() {
  std::string bin = tevtest::BuiltProgram("x");
  bin = bin.substr(0, bin.rfind('/'));
  return bin.substr(0, bin.rfind('/'));
}

int FreePort() {
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

bool CanConnect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// Certificates, a key store and an installation directory whose etc/
// holds conssl.cfg; shared by every test of the program.
class Tls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new tevtest::TempInstall();
    // The build tree's data, beside an etc/ of our own.
    std::string tree = tevtest::BuildTree();
    if (DIR* d = opendir(tree.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n == "etc") continue;
        symlink((tree + "/" + n).c_str(), dir_->Path(n).c_str());
      }
      closedir(d);
    }
    dir_->MakeDir("etc");
    if (DIR* d = opendir((tree + "/etc").c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        symlink((tree + "/etc/" + n).c_str(), dir_->Path("etc/" + n).c_str());
      }
      closedir(d);
    }
    std::string script =
        "set -e\ncd " + dir_->Path("") +
        "\nec='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1'\n"
        "for ca in ca ca2; do\n"
        "  openssl req -x509 $ec -nodes -keyout $ca.key -out $ca.pem -days 2 -subj /CN=$ca 2>/dev/null\n"
        "  openssl req $ec -nodes -keyout srv-$ca.key -out srv-$ca.csr -subj /CN=127.0.0.1 2>/dev/null\n"
        "  openssl x509 -req -in srv-$ca.csr -CA $ca.pem -CAkey $ca.key -CAcreateserial "
        "-out srv-$ca.pem -days 2 2>/dev/null\n"
        "done\n"
        "openssl pkey -in srv-ca.key -aes256 -passout pass:open-sesame -out srv-enc.key\n"
        "echo open-sesame > stash\n"
        "cat srv-ca.pem srv-enc.key ca.pem > keystore.pem\n";
    tevtest::RunOptions o;
    o.env = {{"PATH", "/usr/bin:/bin"}};
    tevtest::RunResult r = tevtest::RunProgram("/bin/sh", {"-c", script}, o);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    dir_->WriteFile("etc/conssl.cfg", "# the test's key store\nSSL_KEYSTORE_FILE " + dir_->Path("keystore.pem") +
                                          "\nSSL_KEYSTORE_STH " + dir_->Path("stash") + "\n");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string P(const std::string& rel) { return dir_->Path(rel); }
  std::vector<std::string> Env(const std::string& libdir = BuildDir() + "/pzk") {
    return {"PATH=/usr/bin:/bin", "LD_LIBRARY_PATH=" + libdir, "TARVELONDIR=" + dir_->path(),
            "TARVELONSQLHOSTS=" + P("sqlhosts"), "HOME=" + dir_->path(), "DBPATH=."};
  }
  tevtest::RunResult Probe(const std::vector<std::string>& args, const std::string& libdir = BuildDir() + "/pzk") {
    tevtest::RunOptions o;
    for (const std::string& e : Env(libdir)) {
      size_t eq = e.find('=');
      o.env[e.substr(0, eq)] = e.substr(eq + 1);
    }
    o.timeout_seconds = 60;
    return tevtest::RunProgram(tevtest::BuiltProgram("tls_probe"), args, o);
  }
  // openssl s_server on a free port, its output into a file; the port.
  int StartServer(const std::string& cert, const std::string& key, const std::string& out) {
    // s_server ends a connection at the end of its standard input: it reads
    // a pipe that this test keeps open.
    if (fifo_ < 0) {
      mkfifo(P("stdin.fifo").c_str(), 0600);
      fifo_ = open(P("stdin.fifo").c_str(), O_RDWR | O_CLOEXEC);
    }
    int port = FreePort();
    server_.reset(new tevtest::Child(
        {"/bin/sh", "-c",
         "exec openssl s_server -accept 127.0.0.1:" + std::to_string(port) + " -cert " + cert + " -key " + key +
             " -quiet < " + P("stdin.fifo") + " > " + out + " 2>" + out + ".err"},
        {"PATH=/usr/bin:/bin"}));
    for (int k = 0; k < 200 && !CanConnect(port); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return port;
  }
  // The file's bytes once it holds at least n of them (at most 10 s).
  static std::string WaitFor(const std::string& path, size_t n) {
    std::string s;
    for (int k = 0; k < 400; ++k) {
      s = tevtest::ReadFile(path);
      if (s.size() >= n) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return s;
  }

  void TearDown() override {
    server_.reset();
    if (fifo_ >= 0) close(fifo_);
  }

  static tevtest::TempInstall* dir_;
  std::unique_ptr<tevtest::Child> server_;
  int fifo_ = -1;
};

tevtest::TempInstall* Tls::dir_ = nullptr;

TEST_F(Tls, ProjectClientAgainstOpensslServer) {
  int port = StartServer(P("srv-ca.pem"), P("srv-ca.key"), P("sserver.out"));
  {
    // The probe waits for an answer that s_server never gives: it is
    // stopped once its lines are read.
    tevtest::Child probe({tevtest::BuiltProgram("tls_probe"), "send", std::to_string(port), "hello over tls\n"},
                         Env());
    EXPECT_EQ(probe.ReadLine(), "connect rc=0 error=0 text=");
    EXPECT_EQ(probe.ReadLine(), "send rc=0 error=0 text=");
    EXPECT_EQ(WaitFor(P("sserver.out"), 15), "hello over tls\n");
  }

  // Through the service call: the server receives the session's first
  // packet, the connection request of type 1 ("sq", then the 6-byte header
  // in base64 with "." and "_" for "+" and "/").
  port = StartServer(P("srv-ca.pem"), P("srv-ca.key"), P("sserver2.out"));
  dir_->WriteFile("sqlhosts", "ssrv vqsocssl 127.0.0.1 " + std::to_string(port) + "\n");
  tevtest::Child probe({tevtest::BuiltProgram("tls_probe"), "session", "@ssrv", "2000"}, Env());
  ASSERT_GE(WaitFor(P("sserver2.out"), 10).size(), 10u);
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {"-c",
       "import sys, base64\n"
       "d = open(sys.argv[1], 'rb').read()\n"
       "h = base64.b64decode(d[2:10], altchars=b'._')\n"
       "print(d[:2].decode(), h[2])\n",
       P("sserver2.out")},
      o);
  EXPECT_EQ(r.out, "sq 1\n") << r.err;
}

TEST_F(Tls, ProjectServerAgainstOpensslClient) {
  tevtest::Child server({tevtest::BuiltProgram("tls_probe"), "serve"}, Env());
  std::string port = server.ReadLine();
  ASSERT_FALSE(port.empty());
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  o.stdin_data = "ping\n";
  o.timeout_seconds = 30;
  tevtest::RunResult r = tevtest::RunProgram(
      "/usr/bin/openssl",
      {"s_client", "-connect", "127.0.0.1:" + port, "-CAfile", P("ca.pem"), "-verify_return_error", "-quiet"}, o);
  EXPECT_NE(r.out.find("Rping"), std::string::npos) << r.out << r.err;
  std::string rest = server.ReadAll();
  EXPECT_NE(rest.find("accept rc=0"), std::string::npos) << rest;
  EXPECT_NE(rest.find("got ping"), std::string::npos) << rest;
}

TEST_F(Tls, AssociationLifeCycleOverSocssl) {
  dir_->WriteFile("sqlhosts", "lsrv vqsocssl 127.0.0.1 0\n");
  ASSERT_EQ(connect_test::SeedAccountIds(P("reg")), 0);
  std::vector<std::string> env = Env();
  env.push_back("TARVELON_REGISTRY=" + P("reg"));
  env.push_back("ZIVEVODAREVEZO=tvtest");
  tevtest::Child server({tevtest::BuiltProgram("al_server"), "serve", "lsrv", "0", "1"}, env);
  std::string port;
  for (std::string line; (line = server.ReadLine()).size() > 0;) {
    if (line.rfind("port ", 0) == 0) {
      port = line.substr(5);
      break;
    }
  }
  ASSERT_FALSE(port.empty());
  dir_->WriteFile("sqlhosts", "lsrv vqsocssl 127.0.0.1 0\nsrv vqsocssl 127.0.0.1 " + port + "\n");
  tevtest::RunResult r = Probe({"session", "@srv"});
  EXPECT_NE(r.out.find("connect rc=0"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("reply Rone"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("release rc=0"), std::string::npos) << r.out;
  std::string log = server.ReadAll();
  EXPECT_NE(log.find("got one"), std::string::npos) << log;
}

TEST_F(Tls, CertificateOfAnotherAuthorityIsRefused) {
  int port = StartServer(P("srv-ca2.pem"), P("srv-ca2.key"), P("sserver3.out"));
  tevtest::RunResult r = Probe({"send", std::to_string(port), "x"});
  EXPECT_NE(r.out.find("connect rc=-1 error=-28014 text=the TLS handshake failed: certificate verify failed"),
            std::string::npos)
      << r.out;
}

TEST_F(Tls, LoaderFailuresLeaveNothingBehind) {
  dir_->MakeDir("nolib");
  struct Case {
    std::string libdir, line;
  } cases[] = {
      {P("nolib"), "load rc=-1 error=-28016 text=8.0.50.75"},
      {BuildDir() + "/tests/pzk_old", "load rc=-1 error=-28016 text=8.0.50.75"},
      {BuildDir() + "/tests/pzk_nostrerror", "load rc=-1 error=-28014 text="},
      {BuildDir() + "/pzk", "load rc=0 error=0 text="},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.libdir);
    tevtest::RunResult r = Probe({"load"}, k.libdir);
    std::istringstream in(r.out);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    // The second load starts afresh and meets the same result.
    EXPECT_EQ(first.substr(0, k.line.size()), k.line) << r.out << r.err;
    EXPECT_EQ(second.substr(0, k.line.size()), k.line) << r.out;
    if (k.libdir.find("nostrerror") != std::string::npos) {
      EXPECT_NE(first.find("pzk_strerror"), std::string::npos) << first;
    }
  }
}

TEST_F(Tls, ToolkitExportsExactlyItsNames) {
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  tevtest::RunResult r =
      tevtest::RunProgram("/usr/bin/nm", {"-D", "--defined-only", BuildDir() + "/pzk/pzk8ssl_64.so"}, o);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream w(line);
    std::string addr, type, name;
    w >> addr >> type >> name;
    if (!name.empty()) names.insert(name);
  }
  std::set<std::string> expected = {
      "pzk_environment_open", "pzk_environment_init", "pzk_environment_close",
      "pzk_secure_soc_open", "pzk_secure_soc_init", "pzk_secure_soc_close",
      "pzk_secure_soc_read", "pzk_secure_soc_write", "pzk_attribute_set_enum",
      "pzk_attribute_get_enum", "pzk_attribute_set_numeric_value",
      "pzk_attribute_get_numeric_value", "pzk_attribute_set_buffer", "pzk_attribute_get_buffer",
      "pzk_attribute_set_callback", "pzk_get_cert_by_label", "pzk_strerror"};
  EXPECT_EQ(names, expected);
}

// conssl.cfg in an installation directory of its own.
TEST(ConsslConfig, DefaultsWarningsAndCuts) {
  tevtest::TempInstall d;
  d.MakeDir("etc");
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}, {"TARVELONDIR", d.path()}};
  auto run = [&] { return tevtest::RunProgram(tevtest::BuiltProgram("tls_probe"), {"config"}, o); };

  tevtest::RunResult r = run();
  EXPECT_EQ(r.out, "rc=0\nkey_store=" + d.Path("etc/client.kdb") + "\nstash=\n");
  d.WriteFile("etc/client.sth", "x");
  r = run();
  EXPECT_EQ(r.out, "rc=0\nkey_store=" + d.Path("etc/client.kdb") + "\nstash=" + d.Path("etc/client.sth") + "\n");

  std::string v600(600, 'k');
  d.WriteFile("etc/conssl.cfg", "  # comment\n\nSSL_KEYSTORE_FILE " + v600 + "\nSSL_KEYSTORE_STH #none\n");
  r = run();
  EXPECT_EQ(r.out, "rc=0\nkey_store=" + std::string(511, 'k') + "\nstash=" + d.Path("etc/client.sth") + "\n");
  EXPECT_EQ(r.err, "WARNING: SSL_KEYSTORE_FILE value too long in config file " + d.Path("etc/conssl.cfg") + "\n");

  // A 700-character line is cut at the line buffer, the rest dropped.
  std::string line = "SSL_KEYSTORE_STH /" + std::string(700 - 18, 's');
  d.WriteFile("etc/conssl.cfg", line + "\nSSL_KEYSTORE_FILE /ks\n");
  r = run();
  EXPECT_NE(r.err.find("WARNING: SSL_KEYSTORE_STH line too long in config file " + d.Path("etc/conssl.cfg") + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("key_store=/ks\n"), std::string::npos) << r.out;
}

TEST(Osvercmp, ComparesFieldByField) {
  struct Case {
    const char* a;
    const char* b;
    int want;
  } cases[] = {
      {"8.0.50.75", "8.0.50.75", 0},  {"8.0.50.76", "8.0.50.75", 1}, {"8.0.50", "8.0.50.75", -1},
      {"8.0.50.75", "8.0.50", 1},     {"8.0.5a", "8.0.5b", -1},      {"8.0.5b", "8.0.5a", 1},
      {"8.0.50.74", "8.0.50.75", -1}, {"9", "8.0.50.75", 1},         {"8.1", "8.0.50.75", 1},
      {"10.0", "9.9", 1},             {"8.0.x.1", "8.0.y.1", -1},    {"", "8", -1},
      {"8", "", 1},                   {"", "", 0},
  };
  for (const Case& k : cases) EXPECT_EQ(osvercmp(k.a, k.b), k.want) << k.a << " vs " << k.b;
}

}  // namespace
