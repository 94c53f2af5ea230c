// Shared set-up of the SQL runtime tests: one temporary installation for
// the test program (TARVELONDIR is read once per thread), the python3 SQL
// test server on 127.0.0.1 at a port the test picks, named "srv1" in the
// installation's sqlhosts file; connections go through the connectivity
// layer's own association set-up.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "connect/asf_assoc.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/names.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace sqli_test {

// The installation of the test program: message files copied from the
// build tree, the environment set once.
inline tevtest::TempInstall& Install() {
  static tevtest::TempInstall* install = [] {
    auto* t = new tevtest::TempInstall();
    namespace fs = std::filesystem;
    // Message files and the locale tree of the build.
    for (const char* dir : {"msg", "lxr"}) {
      fs::path from = fs::path(tevtest::BuildTree()) / dir;
      if (fs::exists(from)) fs::copy(from, fs::path(t->path()) / dir, fs::copy_options::recursive);
    }
    t->WriteFile("etc/sqlhosts", "");
    setenv("TARVELONDIR", t->path().c_str(), 1);
    setenv("TARVELONSQLHOSTS", t->Path("etc/sqlhosts").c_str(), 1);
    setenv("ZIVEVODAREVEZO", "srv1", 1);
    setenv("DBPATH", ".", 1);
    return t;
  }();
  return *install;
}

inline std::string MsgDir() { return Install().Path("msg/en_us/0333"); }

// A free port on 127.0.0.1.
inline int FreePort() {
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

// The python3 SQL test server, with its JSON configuration (the port and
// the log are filled in here) and a sqlhosts line naming it "srv1".
class Server {
 public:
  explicit Server(const std::string& config_body, const std::string& options = "") {
    Install();
    static int serial = 0;
    std::string tag = std::to_string(getpid()) + "_" + std::to_string(++serial);
    log_ = Install().Path("server_" + tag + ".log");
    port_ = FreePort();
    std::string config = "{\"port\": " + std::to_string(port_) + ", \"log\": \"" + log_ + "\"" +
                         (config_body.empty() ? "" : ", " + config_body) + "}";
    std::string cfg_path = Install().Path("server_" + tag + ".json");
    tevtest::WriteFile(cfg_path, config);
    tevtest::WriteFile(log_, "");
    Install().WriteFile("etc/sqlhosts", "srv1 vqsoctcp 127.0.0.1 " + std::to_string(port_) +
                                            (options.empty() ? "" : " " + options) + "\n");
    child_ = std::make_unique<tevtest::Child>(
        std::vector<std::string>{tevtest::Python(), tevtest::SourceDir() + "/tests/sqlruntime/sqli_server.py",
                                 cfg_path},
        std::vector<std::string>{"PATH=/usr/bin:/bin"});
    ready_ = child_->ReadLine() == "ready";
  }
  ~Server() { Stop(); }
  bool ready() const { return ready_; }
  void Stop() {
    if (child_ != nullptr) {
      child_->Kill();
      child_->Wait();
      child_.reset();
    }
  }
  std::string Log() const { return tevtest::ReadFile(log_); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    std::istringstream in(Log());
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  // The logged client requests, in order, as hex.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const std::string& l : Lines()) {
      if (l.rfind("request ", 0) == 0) out.push_back(l.substr(8));
    }
    return out;
  }
  // Waits (bounded) until the log holds a line starting with prefix.
  bool WaitFor(const std::string& prefix) const {
    for (int i = 0; i < 500; ++i) {
      for (const std::string& l : Lines()) {
        if (l.rfind(prefix, 0) == 0) return true;
      }
      usleep(10000);
    }
    return false;
  }

 private:
  std::unique_ptr<tevtest::Child> child_;
  std::string log_;
  int port_ = 0;
  bool ready_ = false;
};

// Every test starts with no connection.
class SqliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Install();
    SqliRuntime* rt = sqli_runtime_get();
    ASSERT_NE(rt, nullptr);
    // Start from an empty diagnostics area whatever the last test left.
    sqli_diag_update(rt);
    sqli_sqlca_reset(rt);
  }
  void TearDown() override {
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
    sqli_sqlca_reset(sqli_runtime_get());
  }
};

inline std::string Hex(const void* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string out;
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(d[b[i] >> 4]);
    out.push_back(d[b[i] & 15]);
  }
  return out;
}

// A 16-bit big-endian word as hex.
inline std::string H16(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", v & 0xFFFF);
  return b;
}

// A message-stream string as hex: 16-bit length, bytes, a pad after an odd
// length.
inline std::string Str(const std::string& text) {
  std::string out = H16(static_cast<int>(text.size())) + Hex(text.data(), text.size());
  if (text.size() & 1) out += "00";
  return out;
}

}  // namespace sqli_test
