// Association set-up through asf_service_request alone: init, connect,
// listen, accept, respond, send, receive, release and abort. Shared by the
// association tests and the test server program (al_server).
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/asf_assoc.h"
#include "connect/asf_request.h"
#include "connect/asfutil.h"

namespace al_test {

inline int Init(AsfControlBlock* cb, uint32_t flags = 0x15, AsfInitBody* out = nullptr) {
  static AsfDriverConfig entry = [] {
    AsfDriverConfig e{};
    e.value1 = -1;
    e.value2 = -1;
    return e;
  }();
  AsfRequest r;
  asf_request_init(ASF_INIT, &r);
  if (out != nullptr) r.body.init = *out;
  r.body.init.flags = flags;
  r.body.init.setting1 = 10;
  r.body.init.setting3 = 100;
  r.body.init.entry_count = 1;
  r.body.init.entries = &entry;
  cb->mode = 1;
  cb->timeout_ms = -1;
  int rc = asf_service_request(cb, &r);
  if (out != nullptr) *out = r.body.init;
  return rc;
}

// What a client connects with: a connection record, a start request of
// kind 2 and an option list.
struct ClientRecords {
  std::string user, password;
  char name1[8] = "9.240", name2[8] = "abc", name3[8] = "sqli";
  char n0[8] = "LANG", v0[8] = "C";
  char* names[1] = {n0};
  char* values[1] = {v0};
  AsfOptionList options{1, names, values};
  AsfConnRecord rec{};
  AsfStartRequest start{};
  SqliConnCred cred{};
  unsigned char area[2] = {};

  ClientRecords(const std::string& u, const std::string& p, const char* program = "sqlexec")
      : user(u), password(p) {
    std::strncpy(rec.program, program, sizeof rec.program - 1);
    rec.name1 = name1;
    rec.name2 = name2;
    rec.name3 = name3;
    rec.values[0] = 316;
    rec.cred_kind = 1;
    rec.info.level = 61;
    rec.info.word = -1;
    start.kind = 2;
    start.flags = 4;
    cred.kind = 1;
    cred.data = &start;
  }
  // Connect (type 3) to a target text of kind 3: 0 or -1.
  int Connect(AsfControlBlock* cb, const std::string& target, int32_t retry = 0,
              int32_t kind = 3) {
    rec.user = user.empty() ? nullptr : user.data();
    rec.password = password.empty() ? nullptr : password.data();
    target_text = target;
    AsfRequest r;
    asf_request_init(ASF_CONNECT, &r);
    r.body.connect.target.kind = kind;
    r.body.connect.target.text = target_text.data();
    r.body.connect.retry = retry;
    r.body.connect.flag_area = area;
    r.body.connect.conn_record = &rec;
    r.body.connect.env_list = &options;
    r.body.connect.credential = &cred;
    cb->mode = 1;
    int rc = asf_service_request(cb, &r);
    assoc = r.body.connect.assoc;
    server_record = r.body.connect.server_record;
    option_list = r.body.connect.option_list;
    cred_answer = r.body.connect.cred_answer;
    return rc;
  }
  std::string target_text;
  AsfAssociation* assoc = nullptr;
  // The connect's outputs as the request held them on return.
  void* server_record = nullptr;
  void* option_list = nullptr;
  void* cred_answer = nullptr;
};

// Listen (type 1, mode 0) on a target: the listener or null.
inline AsfAssociation* Listen(AsfControlBlock* cb, const std::string& target, int32_t auth_mode,
                              unsigned char* area, int32_t kind = 3, int32_t mode = 0,
                              char* buffer = nullptr) {
  static std::string text;
  text = target;
  AsfRequest r;
  asf_request_init(ASF_LISTEN, &r);
  r.body.listen.mode = mode;
  r.body.listen.flag_area = area;
  r.body.listen.auth_mode = auth_mode;
  r.body.listen.target.kind = kind;
  if (buffer != nullptr) std::strcpy(buffer, target.c_str());
  r.body.listen.target.text = buffer != nullptr ? buffer : text.data();
  r.body.listen.info.level = 61;
  r.body.listen.info.word = 1;
  cb->mode = 1;
  if (asf_service_request(cb, &r) != 0) return nullptr;
  return r.body.listen.listener;
}

// Accept (type 4) on the listener: the new association or null; the body
// is left in *body.
inline AsfAssociation* Accept(AsfControlBlock* cb, AsfAssociation* listener, unsigned char* area,
                              AsfAcceptBody* body) {
  AsfRequest r;
  asf_request_init(ASF_ACCEPT, &r);
  r.body.accept.flag_area = area;
  cb->assoc = listener;
  cb->mode = 1;
  int rc = asf_service_request(cb, &r);
  *body = r.body.accept;
  return rc == 0 ? r.body.accept.assoc : nullptr;
}

// Respond (type 5) with a kind-2 credential answer; a refusal carries
// `refusal` as its error code.
inline int Respond(AsfControlBlock* cb, int32_t code, int16_t refusal = 0) {
  static AsfCredentialData data{};
  data.subkind = 2;
  data.values[0] = refusal;
  static SqliConnCred answer{2, &data};
  AsfRequest r;
  asf_request_init(ASF_RESPOND, &r);
  r.body.respond.code = code;
  r.body.respond.info.level = -1;
  r.body.respond.credential = &answer;
  cb->mode = 1;
  return asf_service_request(cb, &r);
}

inline int Send(AsfControlBlock* cb, const std::string& text) {
  AsfRequest g;
  asf_request_init(ASF_GETBUFFER, &g);
  if (asf_service_request(cb, &g) != 0) return -1;
  AsfPacketBuffer* buf = g.body.get_buffer.buffer;
  buf->position = buf->data + buf->start_offset;
  std::memcpy(buf->position, text.data(), text.size());
  buf->left = static_cast<uint32_t>(text.size());
  AsfRequest s;
  asf_request_init(ASF_SEND, &s);
  s.body.data.value = -1;
  s.body.data.buffer = buf;
  return asf_service_request(cb, &s);
}

// The next data received, or "error <code> <os>".
inline std::string Recv(AsfControlBlock* cb) {
  AsfRequest r;
  asf_request_init(ASF_RECV, &r);
  r.body.data.value = -1;
  if (asf_service_request(cb, &r) != 0) {
    return "error " + std::to_string(cb->error) + " " + std::to_string(cb->os_error);
  }
  AsfPacketBuffer* b = r.body.data.buffer;
  return std::string(b->position, b->left);
}

inline int Release(AsfControlBlock* cb) {
  AsfRequest r;
  asf_request_init(ASF_RELEASE, &r);
  cb->mode = 1;
  return asf_service_request(cb, &r);
}

inline int Abort(AsfControlBlock* cb) {
  AsfRequest r;
  asf_request_init(ASF_ASSOCABORT, &r);
  r.body.flags.flags = 0x18000;
  cb->mode = 1;
  return asf_service_request(cb, &r);
}

}  // namespace al_test
