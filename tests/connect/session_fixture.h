// Shared set-up of the session tests: a client's connection record, start
// request, option list and server entry; associations; a listening server
// of the project; and the python3 session-layer peer.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "connect/asfpfutl.h"
#include "connect/asfslsqi.h"
#include "tests/connect/connect_fixture.h"

namespace session_test {

// A python3 peer speaking the session layer (peer.py sl-server).
class SlPeer {
 public:
  SlPeer(const std::string& mode, const std::string& arg = "")
      : child_({tevtest::Python(), tevtest::SourceDir() + "/tests/connect/peer.py", "sl-server",
                "127.0.0.1", mode, arg},
               {"PATH=/usr/bin:/bin"}) {
    port_ = std::atoi(child_.ReadLine().c_str());
  }
  int port() const { return port_; }
  std::string ReadLine() { return child_.ReadLine(); }
  // The next line that starts with prefix (lines before it are dropped).
  std::string Next(const std::string& prefix) {
    for (;;) {
      std::string line = ReadLine();
      if (line.empty() || line.rfind(prefix, 0) == 0) return line;
    }
  }
  // The request report: every line up to "done".
  std::vector<std::string> Request() {
    std::vector<std::string> lines;
    lines.push_back(Next("request "));
    for (std::string l = ReadLine(); !l.empty() && l != "done"; l = ReadLine()) lines.push_back(l);
    return lines;
  }

 private:
  tevtest::Child child_;
  int port_ = 0;
};

inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

inline AsfAssociation* NewAssoc(AsfControlBlock* cb, int32_t kind, unsigned char* area) {
  connect_test::EnsureLayer();
  AsfAssociation* a = connect_test::NewAssoc(cb, kind, area);
  cb->timeout_ms = -1;
  return a;
}

// What a client hands to sess_start.
struct Client {
  std::string user = "joe", password = "pw1", address;
  char name1[8] = "9.240", name2[8] = "abc", name3[8] = "sqli";
  char server[8] = "srv", db[8] = "db", lname[8] = "lst";
  char n0[8] = "LANG", v0[8] = "C";
  char* names[1] = {n0};
  char* values[1] = {v0};
  AsfOptionList options{1, names, values};
  AsfConnRecord rec{};
  AsfStartRequest start{};
  SqliConnCred cred{};
  AsfServerEntry entry{};
  AsfConnectBody body{};
  AsfIdentity id{};
  unsigned char area[2] = {};

  Client(int port, int32_t kind = 2, int32_t level = 61, const char* server_type = "sqlexec") {
    address = "127.0.0.1|" + std::to_string(port) + "|soctcp";
    std::strcpy(rec.program, "sqlexec");
    rec.name1 = name1;
    rec.name2 = name2;
    rec.name3 = name3;
    rec.values[0] = 316;
    rec.cred_kind = 1;
    rec.info.level = level;
    rec.info.word = -1;
    start.kind = kind;
    start.flags = kind == 2 ? 4 : 0;
    if (kind == 7) start.name = lname;
    cred.kind = 1;
    cred.data = &start;
    std::strncpy(entry.server_type, server_type, 8);
    std::memcpy(entry.protocol, "soctcp", 6);
    entry.server_name = server;
    entry.database = db;
    entry.address = address.data();
    entry.address_kind = 1;
    body.conn_record = &rec;
    body.credential = &cred;
    body.env_list = &options;
  }
  int Start(AsfControlBlock* cb, AsfAssociation* shared = nullptr) {
    rec.user = user.data();
    rec.password = password.empty() ? nullptr : password.data();
    return sess_start(cb, &entry, &body, nullptr, &id, shared);
  }
  void FreeOutputs() {
    PfParts p{};
    p.record = static_cast<AsfConnRecord*>(body.server_record);
    p.credential = static_cast<SqliConnCred*>(body.cred_answer);
    p.options = static_cast<AsfOptionList*>(body.option_list);
    pf_parts_free(&p);
    body.server_record = body.cred_answer = body.option_list = nullptr;
    asf_free_identity(0, &id);
  }
};

// Ends a session and frees its association.
inline void Drop(AsfControlBlock* cb) {
  if (cb->assoc == nullptr) return;
  AsfRequest r;
  asf_request_init(ASF_ASSOCABORT, &r);
  sess_release(cb, 10, &r);
  asf_assoc_destroy(cb->assoc);
  cb->assoc = nullptr;
}

// A listening session of the project on 127.0.0.1 (protocol "soctcp", or
// "sqlmux" for further sessions): its port.
inline int Listen(AsfControlBlock* cb, const char* protocol = "soctcp") {
  static unsigned char area[2];
  AsfAssociation* l = NewAssoc(cb, ASF_LISTENER, area);
  if (l == nullptr) return -1;
  std::string address = std::string("127.0.0.1|0|") + protocol;
  AsfServerEntry entry{};
  std::memcpy(entry.server_type, "sqlexec", 7);
  std::strncpy(entry.protocol, protocol, 8);
  entry.address = address.data();
  AsfListenBody body{};
  body.info.level = 61;
  body.info.word = 1;
  if (sess_listen(cb, &entry, &body) != 0) return -1;
  if (std::strcmp(protocol, "sqlmux") == 0) return 0;
  return ntohs(l->driver->second.sock.port);
}

// An accepted association on the listener, with the request read.
struct Accepted {
  AsfControlBlock cb{};
  AsfAcceptBody body{};
  AsfIdentity id{};
  unsigned char area[2] = {};
  int rc = -1;
  int32_t error = 0;

  explicit Accepted(AsfControlBlock* listener) {
    AsfControlBlock tmp{};
    body.assoc = NewAssoc(&tmp, ASF_RESPONDER, area);
    rc = sess_accept(listener, &body, &id);
    error = listener->error;
    cb.assoc = body.assoc;
    cb.mode = 1;
    cb.timeout_ms = -1;
  }
  // Sends the reply with a kind-2 answer.
  int Respond(int32_t code) {
    AsfCredentialData data{};
    data.subkind = 2;
    SqliConnCred answer{2, &data};
    AsfRespondBody r{};
    r.code = code;
    r.info.level = -1;
    r.credential = &answer;
    return sess_respond(&cb, &r, nullptr);
  }
  ~Accepted() {
    PfParts p{};
    p.record = static_cast<AsfConnRecord*>(body.conn_record);
    p.credential = static_cast<SqliConnCred*>(body.credential);
    p.options = static_cast<AsfOptionList*>(body.option_list);
    pf_parts_free(&p);
    asf_free_identity(0, &id);
    if (cb.assoc != nullptr && cb.assoc->session != nullptr) {
      AsfRequest r;
      asf_request_init(ASF_ASSOCABORT, &r);
      sess_release(&cb, 10, &r);
    }
    if (body.assoc != nullptr) asf_assoc_destroy(body.assoc);
  }
};

// Sends text on a session and returns the data of the next receive.
inline std::string Exchange(AsfControlBlock* cb, const std::string& text, bool receive = true) {
  AsfPacketBuffer* buf = cb->assoc->buffers[ASF_BUF_SEND];
  if (buf == nullptr) return "no buffer";
  std::memcpy(buf->position, text.data(), text.size());
  buf->left = static_cast<uint32_t>(text.size());
  AsfDataBody body{0, -1, buf, {}};
  if (sess_send(cb, &body) != 0) return "send " + std::to_string(cb->error);
  if (!receive) return "";
  AsfDataBody in{0, -1, nullptr, {}};
  if (sess_recv(cb, &in) != 0) return "recv " + std::to_string(cb->error);
  return std::string(in.buffer->position, in.buffer->left);
}

inline std::string Receive(AsfControlBlock* cb) {
  AsfDataBody in{0, -1, nullptr, {}};
  if (sess_recv(cb, &in) != 0) return "recv " + std::to_string(cb->error);
  return std::string(in.buffer->position, in.buffer->left);
}

}  // namespace session_test
