// Shared set-up of the connectivity tests: the layer's initialisation, a
// python3 peer on loopback, and an association whose direct session runs
// over a socket transport to that peer.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "connect/asf_assoc.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"
#include "connect/transport.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace connect_test {

// Gives accounts their ids in the registry file `registry`, as a server's
// registry does; the tool's exit code (0 when done).
inline int SeedAccountIds(const std::string& registry) {
  tevtest::RunOptions o;
  o.env = {{"TARVELON_REGISTRY", registry}};
  return tevtest::RunProgram(tevtest::BuiltProgram("tvreg"),
                             {"set", "HKLM\\SOFTWARE\\Tarvelon\\Velkor\\tvtest\\Security\\Users",
                              "UIDSeed", "dword", "1000"},
                             o)
      .exit_code;
}

// Initialises the layer as the SQL runtime does: flags 0x15, settings 10
// and 100, one driver entry with an empty name.
inline int InitLayer(AsfControlBlock* cb) {
  static AsfDriverConfig entry = [] {
    AsfDriverConfig e{};
    e.value1 = -1;
    e.value2 = -1;
    return e;
  }();
  AsfRequest r;
  asf_request_init(ASF_INIT, &r);
  r.body.init.flags = 0x15;
  r.body.init.setting1 = 10;
  r.body.init.setting3 = 100;
  r.body.init.entry_count = 1;
  r.body.init.entries = &entry;
  cb->mode = 1;
  cb->timeout_ms = -1;
  return asf_service_request(cb, &r);
}

inline void EnsureLayer() {
  if (asf_global_get() != nullptr) return;
  AsfControlBlock cb{};
  ASSERT_EQ(InitLayer(&cb), 0) << cb.error;
}

// 1 when a socket can be bound on ::1.
inline bool Ipv6Loopback() {
  int fd = socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A python3 peer serving one connection on host.
class Peer {
 public:
  Peer(const std::string& host, const std::string& mode)
      : child_({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/peer.py", "server", host,
                mode},
               {"PATH=/usr/bin:/bin"}) {
    port_ = std::atoi(child_.ReadLine().c_str());
  }
  int port() const { return port_; }
  std::string ReadLine() { return child_.ReadLine(); }
  void Stop() { child_.Kill(); child_.Wait(); }

 private:
  tevtest::Child child_;
  int port_ = 0;
};

// Runs a python3 client against host and port; its output.
inline std::string RunClient(const std::string& host, int port, const std::string& text) {
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {tevtest::SourceDir() + "/tests/connect/peer.py", "client", host, std::to_string(port), text},
      {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  return r.out;
}

// An initiator whose direct ("raw") session is established over soctcp
// to the address: state 1, on the global client list.
// A new association of the kind, made current in cb.
inline AsfAssociation* NewAssoc(AsfControlBlock* cb, int32_t kind, unsigned char* flag_area) {
  AsfAssociation* a = asf_assoc_new(cb, kind, nullptr);
  if (a == nullptr) return nullptr;
  a->user = flag_area;
  a->state->kind = kind;
  a->state->flag_area = flag_area;
  cb->assoc = a;
  cb->mode = 1;
  return a;
}

inline AsfAssociation* ConnectDirect(AsfControlBlock* cb, const std::string& address,
                                     unsigned char* flag_area, AsfServerEntry* entry = nullptr) {
  AsfAssociation* a = NewAssoc(cb, ASF_INITIATOR, flag_area);
  if (a == nullptr) return nullptr;
  if (asf_session_attach(cb, 0, "raw", "soctcp") != 0) return nullptr;
  a->session->state = SESS_ESTABLISHED;
  a->session->selector = -1;
  std::string text = address;
  AsfTransportRequest tr{{1, text.data()}, entry};
  if (tl_connect(cb, &tr) != 0) {
    asf_assoc_destroy(a);
    cb->assoc = nullptr;
    return nullptr;
  }
  a->state->state = ASF_ST_ESTABLISHED;
  AsfGlobal* g = asf_global_get();
  asf_list_insert(g->mutex, &g->clients, &g->client_count, a);
  if (flag_area != nullptr) flag_area[0] = 0;
  return a;
}

inline std::string Address(const std::string& host, int port) {
  return host + "|" + std::to_string(port) + "|soctcp";
}

inline std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

}  // namespace connect_test
