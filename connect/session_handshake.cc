// The connection handshake of a session: the client's start with its
// request in binary or text form and the reading of the reply; the
// server's listen, accept with the reading of the request, and respond.
//
// Older reply form (peers below level 60; big-endian 16-bit fields):
//   accepted: 15, value, three 32-bit zeros, 12 (nothing at all for
//     connect kind 6); refused: 13, error, secondary, then message number,
//     text length + 1, text, NUL (another NUL when the length is even), or
//     two zeros; then 12; text list: per text its length, the bytes and a
//     NUL pad for odd lengths, 0xFFFF for an empty text.
#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/fields.h"
#include "connect/asfpfutl.h"
#include "connect/asfslsqi.h"
#include "connect/csm.h"
#include "connect/session.h"

namespace {

constexpr uint32_t kRequestRoom = SL_MAX_PACKET - SL_HEADER;

AsfSession* SessionOf(AsfControlBlock* cb) {
  if (cb == nullptr || !asf_assoc_valid(cb->assoc)) return nullptr;
  return cb->assoc->session;
}

void Fill8(char* dst, const char* src) {
  if (dst[0] == '\0' && src != nullptr) std::strncpy(dst, src, 8);
}

void FillInfo(AsfSessionInfo* info, const AsfServerEntry* e) {
  Fill8(info->server_type, e->server_type);
  if (info->level == -1) info->level = 61;
  Fill8(info->protocol, e->protocol);
  if (info->word == -1) info->word = 1;
}

// The entry's address with its protocol part replaced.
std::string AddressFor(const AsfServerEntry* e, const char* protocol) {
  std::string text = e->address != nullptr ? e->address : "";
  size_t bar = text.rfind('|');
  if (bar != std::string::npos) text.resize(bar + 1);
  else text += '|';
  text.append(protocol, strnlen(protocol, 8));
  return text;
}

int32_t ConnectClass(int32_t kind, const AsfStartRequest* s) {
  if (kind == 6) return 4;
  if (kind == 7) return 2;
  if (kind == 11) return s != nullptr && s->option_arg != nullptr ? 1 : 4;
  return 1;
}

struct Reader {
  const unsigned char* p;
  uint32_t n;
  uint32_t at = 0;
  bool bad = false;
  int U16() {
    if (at + 2 > n) return bad = true, 0;
    int v = (p[at] << 8) | p[at + 1];
    at += 2;
    return v;
  }
  int32_t U32() {
    if (at + 4 > n) return bad = true, 0;
    int32_t v = ldlong(p + at);
    at += 4;
    return v;
  }
};

SqliConnCred* NewAnswer(int32_t subkind) {
  auto* cred = static_cast<SqliConnCred*>(std::calloc(1, sizeof(SqliConnCred)));
  auto* d = static_cast<AsfCredentialData*>(std::calloc(1, sizeof(AsfCredentialData)));
  if (cred == nullptr || d == nullptr) {
    std::free(cred);
    std::free(d);
    return nullptr;
  }
  cred->kind = 2;
  cred->data = d;
  d->subkind = subkind;
  return cred;
}

// Reads a reply of the older form. *completion becomes 7 for a refusal
// or a list of texts; 0, or -1 with -408 / -406.
int ReadOlderReply(AsfControlBlock* cb, int32_t kind, const AsfPacketBuffer* reply,
                   SqliConnCred** answer, int32_t* completion) {
  *completion = 0;
  Reader r{reinterpret_cast<const unsigned char*>(reply->position), reply->left};
  if (r.n == 0 && (kind == 6 || kind == 11)) return 0;
  bool bare_refusal = r.n >= 10 && ldint(r.p) == 13 && ldint(r.p + 6) == 0 && ldint(r.p + 8) == 0;
  if (kind == 7 && !bare_refusal) {
    SqliConnCred* cred = NewAnswer(1);
    auto* list = static_cast<AsfTextList*>(std::calloc(1, sizeof(AsfTextList)));
    auto** texts = static_cast<char**>(std::calloc(120, sizeof(char*)));
    if (cred == nullptr || list == nullptr || texts == nullptr) {
      std::free(list);
      std::free(texts);
      if (cred != nullptr) asf_free_conn_cred(0, cred);
      return ASF_ERROR(cb, -406, ENOMEM), -1;
    }
    list->texts = texts;
    static_cast<AsfCredentialData*>(cred->data)->u.list = list;
    *answer = cred;
    while (r.at + 2 <= r.n && list->count < 120) {
      int len = r.U16();
      int32_t take = len == 0xFFFF ? 0 : len;
      if (r.at + static_cast<uint32_t>(take) > r.n) return ASF_ERROR(cb, -408, 0), -1;
      char* t = static_cast<char*>(std::calloc(1, static_cast<size_t>(take) + 1));
      if (t == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
      std::memcpy(t, r.p + r.at, static_cast<size_t>(take));
      texts[list->count++] = t;
      r.at += static_cast<uint32_t>(take + (take % 2));
    }
    *completion = ASF_REFUSED;
    return 0;
  }
  int code = r.U16();
  if (code == 15) {
    for (;;) {
      r.U16();
      r.U32(), r.U32(), r.U32();
      int end = r.U16();
      if (r.bad) return ASF_ERROR(cb, -408, 0), -1;
      if (end == 12) return 0;
      if (end == 56) return *completion = ASF_REFUSED, 0;
      if (end != 55) return ASF_ERROR(cb, -408, 0), -1;
      r.U32(), r.U32();
      if (r.bad) return ASF_ERROR(cb, -408, 0), -1;
      int next = r.U16();
      if (next == 12) return 0;
      if (next == 56) return *completion = ASF_REFUSED, 0;
      return ASF_ERROR(cb, -408, 0), -1;
    }
  }
  if (code != 13) return ASF_ERROR(cb, -408, 0), -1;
  SqliConnCred* cred = NewAnswer(2);
  if (cred == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  *answer = cred;
  auto* d = static_cast<AsfCredentialData*>(cred->data);
  d->values[0] = static_cast<int16_t>(r.U16());
  d->values[1] = static_cast<int16_t>(r.U16());
  int msgno = r.U16();
  int len = r.U16();
  if (r.bad) return ASF_ERROR(cb, -408, 0), -1;
  if (msgno != 0 || len != 0) {
    int32_t text_len = len > 0 ? len - 1 : 0;
    if (r.at + static_cast<uint32_t>(text_len) > r.n) return ASF_ERROR(cb, -408, 0), -1;
    d->entries = static_cast<AsfCredentialEntry*>(std::calloc(1, sizeof(AsfCredentialEntry)));
    if (d->entries == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
    d->entries[0].code = msgno;
    d->entries[0].length = text_len;
    d->entries[0].bytes = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(text_len) + 1));
    if (d->entries[0].bytes == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
    std::memcpy(d->entries[0].bytes, r.p + r.at, static_cast<size_t>(text_len));
    d->entry_count = 1;
  }
  *completion = ASF_REFUSED;
  return 0;
}

// The refusal's error code carried by a credential answer.
int32_t RefusalCode(const SqliConnCred* answer) {
  if (answer == nullptr || answer->kind != 2 || answer->data == nullptr) return 0;
  auto* d = static_cast<const AsfCredentialData*>(answer->data);
  return d->subkind == 2 ? d->values[0] : 0;
}

// Builds the request in `buf`: binary (prefix 100) or text.
int WriteRequest(AsfControlBlock* cb, bool text, AsfPacketBuffer* buf, AsfConnRecord* rec,
                 SqliConnCred* cred, AsfOptionList* options, AsfIdentity* identity) {
  buf->position = buf->data;
  buf->left = kRequestRoom;
  PfParts parts{};
  parts.record = rec;
  parts.credential = cred;
  parts.options = options;
  parts.identity = identity;
  parts.level = rec->info.level;
  if (text) {
    char words[512];
    auto* start = cred != nullptr && cred->kind == 1 ? static_cast<AsfStartRequest*>(cred->data) : nullptr;
    if (pf_start_words(cb, start != nullptr ? start->kind : 6, start, words, sizeof words) != 0) return -1;
    return pf_write_request(cb, buf, rec, words, &parts);
  }
  auto* bytes = reinterpret_cast<unsigned char*>(buf->data);
  stint(100, bytes);
  int32_t n = pf_code_binary(cb, 1, bytes + 2, static_cast<int32_t>(kRequestRoom) - 2, &parts);
  if (n < 0) return -1;
  buf->left = static_cast<uint32_t>(n + 2);
  return 0;
}

// Names the peer host from the transport's peer record.
void NamePeer(const AsfAddressBlock* peer, AsfIdentity* id) {
  if (id == nullptr) return;
  std::string host;
  if (peer != nullptr && peer->text != nullptr) {
    std::string t = peer->text;
    std::string first = t.substr(0, t.find('|'));
    if (!first.empty()) {
      host = first;
    } else if (peer->kind == 8 && t.find('|') != std::string::npos) {
      std::string rest = t.substr(t.find('|') + 1);
      host = rest.substr(0, rest.find('|'));
    }
  }
  if (host.empty()) host = "<UNKNOWN-HOST>";
  if (id->host != nullptr && host != id->host) {
    std::free(id->text88);
    id->text88 = id->host;
    id->host = nullptr;
  }
  std::free(id->host);
  id->host = strdup(host.c_str());
}

// Writes the binary record of a reply after `prefix` bytes of `reply`:
// 0, or -1 with the error in cb.
int WriteReplyRecord(AsfControlBlock* cb, AsfPacketBuffer* reply, int32_t prefix, AsfConnRecord* record,
                     SqliConnCred* cred, AsfIdentity* identity, int32_t level) {
  auto* bytes = reinterpret_cast<unsigned char*>(reply->data);
  AsfConnRecord blank{};
  PfParts parts{};
  parts.record = record != nullptr ? record : &blank;
  parts.credential = cred;
  parts.identity = identity;
  parts.level = level;
  int32_t n = pf_code_binary(cb, 1, bytes + prefix, static_cast<int32_t>(kRequestRoom) - prefix, &parts);
  if (n < 0) return -1;
  reply->position = reply->data;
  reply->left = static_cast<uint32_t>(n + prefix);
  return 0;
}

// The server's answer after a module accept: 111, two acceptance bytes
// (0 0 for acceptance, else the response code) and the binary record,
// through the module chain when it encodes. A refused peer gets time to
// read the answer before the session is aborted.
int ModuleAnswer(AsfControlBlock* cb, AsfSession* s, AsfRespondBody* body, AsfIdentity* identity,
                 int32_t level) {
  AsfPacketBuffer* reply = sl_buffer_new(kRequestRoom);
  if (reply == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  auto* bytes = reinterpret_cast<unsigned char*>(reply->data);
  stint(111, bytes);
  stint(body->code, bytes + 2);
  if (WriteReplyRecord(cb, reply, 4, static_cast<AsfConnRecord*>(body->conn_record),
                       static_cast<SqliConnCred*>(body->credential), identity, level) != 0) {
    sl_buffer_free(reply);
    s->state = SESS_FAILED;
    return -1;
  }
  s->state = 16;
  AsfAssociation* a = cb->assoc;
  int rc = csm_has_chain(a) && csm_encodes(a) ? csm_send(cb, reply) : sl_send(cb, reply);
  sl_buffer_free(reply);
  s->state = rc == 0 && body->code == 0 ? SESS_ESTABLISHED : SESS_FAILED;
  if (rc == 0 && body->code != 0) {
    os_sleep(3);
    sl_release(cb, 10, nullptr);
  }
  return rc;
}

}  // namespace

TV_BEGIN_C

int sess_module_accept(AsfControlBlock* cb, AsfAcceptBody* body, AsfIdentity* identity) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || body == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (s->selector == -1) {
    // A session straight over the transport reads no request (so it has
    // no level to check) and sends no reply of its own: the modules
    // negotiate at once, and the respond that follows establishes it.
    return 0;
  }
  if (s->state == 17) return ASF_ERROR(cb, -25564, 0), -1;
  if (s->state != 13) return ASF_ERROR(cb, -25546, 0), -1;
  AsfPacketBuffer* reply = sl_buffer_new(kRequestRoom);
  if (reply == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  AsfConnRecord record{};
  record.info = s->info;
  record.info.level = body->info.level > 0 ? std::min(body->info.level, s->selector) : s->selector;
  if (body->info.word > 0) record.info.word = body->info.word;
  stint(110, reinterpret_cast<unsigned char*>(reply->data));
  int rc = WriteReplyRecord(cb, reply, 2, &record, nullptr, identity, record.info.level);
  if (rc == 0) {
    s->state = 14;
    rc = sl_respond(cb, ConnectClass(s->connect_kind, nullptr), 0, reply);
  }
  sl_buffer_free(reply);
  s->state = rc == 0 ? 15 : SESS_FAILED;
  return rc;
}

int sess_cred_exchange(AsfControlBlock* cb, SqliConnCred** answer, AsfOptionList** options,
                       AsfIdentity* identity, AsfConnectBody* body) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (s->selector == -1) {
    s->state = SESS_ESTABLISHED;
    return 0;
  }
  if (s->state != 11) return ASF_ERROR(cb, -25546, 0), -1;
  AsfAssociation* a = cb->assoc;
  AsfPacketBuffer* data = nullptr;
  bool chain = csm_has_chain(a) && csm_decodes(a);
  if ((chain ? csm_receive(cb, &data) : sl_recv(cb, &data)) != 0) {
    s->state = SESS_FAILED;
    return -1;
  }
  const auto* bytes = reinterpret_cast<unsigned char*>(data->position);
  if (data->left < 4 || ldint(bytes) != 111) {
    s->state = SESS_FAILED;
    return ASF_ERROR(cb, -408, 0), -1;
  }
  bool refused = bytes[2] != 0 || bytes[3] != 0;
  AsfIdentity scratch{};
  PfParts parts{};
  parts.identity = identity != nullptr ? identity : &scratch;
  int32_t n = pf_code_binary(cb, 0, reinterpret_cast<unsigned char*>(data->position) + 4,
                             static_cast<int32_t>(data->left) - 4, &parts);
  asf_free_identity(0, &scratch);
  if (n < 0) {
    pf_parts_free(&parts);
    s->state = SESS_FAILED;
    return -1;
  }
  if (body != nullptr) {
    asf_free_connect_body(0, static_cast<AsfConnRecord*>(body->server_record));
    body->server_record = parts.record;
    parts.record = nullptr;
  }
  if (answer != nullptr) {
    *answer = parts.credential;
    parts.credential = nullptr;
  }
  if (options != nullptr) {
    *options = parts.options;
    parts.options = nullptr;
  }
  int32_t code = RefusalCode(answer != nullptr ? *answer : parts.credential);
  pf_parts_free(&parts);
  if (refused) {
    s->state = SESS_FAILED;
    return ASF_ERROR(cb, ASF_REFUSED, code), -1;
  }
  s->state = SESS_ESTABLISHED;
  s->selector = parts.level;
  s->format = AsfDataFormat{{parts.format.words[0], parts.format.words[1], parts.format.words[2],
                             parts.format.words[3], parts.format.words[4], parts.format.words[5]}};
  return 0;
}

int sess_start(AsfControlBlock* cb, AsfServerEntry* entry, AsfConnectBody* body,
               AsfIdentity* global_identity, AsfIdentity* identity, AsfAssociation* shared) {
  auto* rec = body != nullptr ? static_cast<AsfConnRecord*>(body->conn_record) : nullptr;
  if (rec == nullptr || entry == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  auto* cred = static_cast<SqliConnCred*>(body->credential);
  auto* start = cred != nullptr && cred->kind == 1 ? static_cast<AsfStartRequest*>(cred->data) : nullptr;
  // Saved and put back at the end.
  AsfSessionInfo saved_info = rec->info;
  int32_t saved_kind = rec->cred_kind;
  char* saved_user = rec->user;
  char* saved_password = rec->password;
  char* saved_server = start != nullptr ? start->server : nullptr;
  char* saved_option = start != nullptr ? start->option_arg : nullptr;
  auto restore = [&] {
    rec->info = saved_info;
    rec->cred_kind = saved_kind;
    rec->user = saved_user;
    rec->password = saved_password;
    if (start != nullptr) {
      start->server = saved_server;
      start->option_arg = saved_option;
    }
  };
  FillInfo(&rec->info, entry);
  if (entry->cred_kind != 0) {
    rec->cred_kind = entry->cred_kind;
    rec->user = entry->user;
    rec->password = entry->password;
  }
  if (start != nullptr) {
    start->server = entry->server_name;
    start->option_arg = entry->database;
  }
  char type[9] = {}, proto[9] = {};
  std::memcpy(type, rec->info.server_type, 8);
  std::memcpy(proto, rec->info.protocol, 8);
  if (asf_session_attach(cb, 0, type, proto) != 0) return restore(), -1;
  AsfSession* s = cb->assoc->session;
  std::memset(s, 0, sizeof *s);
  s->state = SESS_CONNECTING;
  s->connect_kind = start != nullptr ? start->kind : -1;
  s->info = rec->info;
  std::string address = AddressFor(entry, rec->info.protocol);
  AsfTransportRequest tr{{1, address.data()}, entry};
  if (sess_is_direct(type)) {
    if (tl_connect(cb, &tr) != 0) {
      s->state = SESS_FAILED;
      return restore(), -1;
    }
    s->state = SESS_ESTABLISHED;
    s->selector = -1;
    body->server_record = nullptr;
    body->option_list = nullptr;
    body->cred_answer = nullptr;
    if (identity != nullptr) std::memset(identity, 0, sizeof *identity);
    body->info = rec->info;
    return restore(), 0;
  }
  AsfPacketBuffer* req = sl_buffer_new(kRequestRoom);
  if (req == nullptr) return s->state = SESS_FAILED, restore(), ASF_ERROR(cb, -406, ENOMEM), -1;
  auto* options = static_cast<AsfOptionList*>(body->env_list);
  AsfIdentity* id = identity != nullptr ? identity : global_identity;
  bool text_ok = pf_text_form_allowed(rec, cred, options) != 0;
  bool text = text_ok;
  int32_t kind = s->connect_kind;
  int32_t cls = ConnectClass(kind, start);
  AsfPacketBuffer* reply = nullptr;
  int rc = WriteRequest(cb, text, req, rec, cred, options, id);
  if (rc == 0) {
    rc = sl_connect(cb, cls | (text ? SL_FORM_TEXT : SL_FORM_BINARY), &tr, rec->info.level, req,
                    &reply, shared, entry->options.m);
    bool program_text = std::strcmp(rec->program, "sqlexec") == 0 || std::strcmp(rec->program, "srvqorv") == 0;
    if (rc != 0 && !text && cb->error == -27001 && program_text && cred != nullptr && cred->kind == 1) {
      // An unanswered binary request goes once more in the text form.
      sl_release(cb, 10, nullptr);
      cb->error = 0;
      cb->os_error = 0;
      text = true;
      rc = WriteRequest(cb, true, req, rec, cred, options, id);
      if (rc == 0) {
        rc = sl_connect(cb, cls | SL_FORM_TEXT, &tr, rec->info.level, req, &reply, nullptr,
                        entry->options.m);
      }
    }
  }
  sl_buffer_free(req);
  if (rc != 0 && cb->error == -908 && start != nullptr && start->server != nullptr) {
    std::strncpy(cb->text, start->server, sizeof cb->text - 1);
  }
  int32_t completion = rc != 0 && (cb->error == ASF_REFUSED || cb->error == ASF_REDIRECTED) ? cb->error : 0;
  if (rc != 0 && completion == 0) {
    s->state = SESS_FAILED;
    return restore(), -1;
  }
  // The reply: binary (100, or 110 from a server whose module accepts
  // first) or the older form.
  bool older = reply->left < 2 || (ldint(reply->position) != 100 && ldint(reply->position) != 110);
  bool module_reply = !older && ldint(reply->position) == 110;
  AsfIdentity peer_id{};
  PfParts parts{};
  parts.identity = &peer_id;
  int32_t answer_completion = 0;
  int read = 0;
  if (older) {
    SqliConnCred* answer = nullptr;
    read = ReadOlderReply(cb, kind, reply, &answer, &answer_completion);
    parts.credential = answer;
    if (read == 0) {
      parts.record = static_cast<AsfConnRecord*>(std::calloc(1, sizeof(AsfConnRecord)));
      if (parts.record != nullptr) {
        std::strcpy(parts.record->program, "srvqorv");
        parts.record->info.level = 50;
        parts.record->info.word = 1;
      }
    }
  } else {
    int32_t n = pf_code_binary(cb, 0, reinterpret_cast<unsigned char*>(reply->position) + 2,
                               static_cast<int32_t>(reply->left) - 2, &parts);
    read = n < 0 ? -1 : 0;
    if (read == 0) s->selector = parts.level;
  }
  sl_buffer_free(reply);
  asf_free_identity(0, &peer_id);
  if (read != 0) {
    pf_parts_free(&parts);
    s->state = SESS_FAILED;
    return restore(), -1;
  }
  if (older) s->selector = sl_level(cb->assoc) >= 0 ? sl_level(cb->assoc) : 0;
  if (completion == 0 && answer_completion != 0) completion = answer_completion;
  body->server_record = parts.record;
  body->option_list = parts.options;
  body->cred_answer = parts.credential;
  s->format = AsfDataFormat{{parts.format.words[0], parts.format.words[1], parts.format.words[2],
                             parts.format.words[3], parts.format.words[4], parts.format.words[5]}};
  restore();
  body->info = s->info;
  if (completion != 0) {
    s->state = SESS_FAILED;
    int32_t code = RefusalCode(parts.credential);
    ASF_ERROR(cb, completion, code);
    return -1;
  }
  // After a module's reply the server's answer comes once the modules
  // have negotiated (sess_cred_exchange).
  s->state = older || module_reply ? 11 : SESS_ESTABLISHED;
  return 0;
}

int sess_listen(AsfControlBlock* cb, AsfServerEntry* entry, AsfListenBody* body) {
  if (entry == nullptr || body == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  FillInfo(&body->info, entry);
  char type[9] = {}, proto[9] = {};
  std::memcpy(type, body->info.server_type, 8);
  std::memcpy(proto, body->info.protocol, 8);
  if (asf_session_attach(cb, 0, type, proto) != 0) return -1;
  AsfSession* s = cb->assoc->session;
  std::memset(s, 0, sizeof *s);
  if (body->mode != 0 && body->mode != 0x10 && body->mode != 3) {
    s->state = SESS_FAILED;
    return ASF_ERROR(cb, -25557, 0), -1;
  }
  s->state = SESS_LISTENING;
  s->info = body->info;
  s->connect_kind = -1;
  std::string address = AddressFor(entry, body->info.protocol);
  AsfTransportRequest tr{{1, address.data()}, entry};
  int rc;
  if (sess_is_direct(type)) {
    s->selector = -1;
    rc = tl_listen(cb, &tr, 0);
  } else {
    s->selector = body->info.level;
    rc = sl_session_setup(cb, &tr, body->info.level);
  }
  if (rc != 0) s->state = SESS_FAILED;
  return rc;
}

int sess_accept(AsfControlBlock* cb, AsfAcceptBody* body, AsfIdentity* identity) {
  AsfSession* ls = SessionOf(cb);
  if (ls == nullptr || body == nullptr || !asf_assoc_valid(body->assoc)) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  AsfAssociation* listener = cb->assoc;
  AsfAssociation* a = body->assoc;
  AsfControlBlock w = *cb;
  w.assoc = a;
  if (asf_session_attach(&w, 0, listener->server_type, listener->protocol) != 0) {
    cb->error = w.error;
    return -1;
  }
  AsfSession* s = a->session;
  *s = *ls;
  s->state = 12;
  AsfAddressBlock* peer = nullptr;
  PfParts parts{};
  parts.identity = identity;
  AsfIdentity scratch{};
  if (parts.identity == nullptr) parts.identity = &scratch;
  auto fail = [&] {
    s->state = SESS_FAILED;
    pf_parts_free(&parts);
    asf_free_identity(0, &scratch);
    asf_free_address_block(peer);
    return -1;
  };
  if (ls->selector == -1) {
    if (tl_accept(cb, a, &peer) != 0) return fail();
    s->selector = -1;
    parts.record = static_cast<AsfConnRecord*>(std::calloc(1, sizeof(AsfConnRecord)));
    if (parts.record == nullptr) return ASF_ERROR(cb, -406, ENOMEM), fail();
    std::memset(parts.identity, 0, sizeof *parts.identity);
  } else {
    AsfPacketBuffer* req = nullptr;
    if (sl_accept(cb, a, &req, &peer) != 0) return fail();
    const auto* bytes = reinterpret_cast<unsigned char*>(req->position);
    int read;
    if (req->left >= 4 && ldint(bytes) == 100 && ldint(bytes + 2) == 'e') {
      read = pf_code_binary(cb, 0, reinterpret_cast<unsigned char*>(req->position) + 2,
                            static_cast<int32_t>(req->left) - 2, &parts) < 0 ? -1 : 0;
      if (read == 0) s->selector = parts.level;
    } else if (req->left >= 2 && bytes[0] == 's' && bytes[1] == 'q') {
      req->left += 1;  // the text's NUL lies just past the data
      read = pf_read_request(cb, req, &parts);
      if (read == 0) s->selector = parts.record->info.level;
    } else {
      ASF_ERROR(cb, -408, 0);
      read = -1;
    }
    sl_buffer_free(req);
    if (read != 0) return fail();
    s->format = AsfDataFormat{{parts.format.words[0], parts.format.words[1], parts.format.words[2],
                               parts.format.words[3], parts.format.words[4], parts.format.words[5]}};
  }
  s->peer_level = parts.record->info.level;
  s->connect_kind = parts.credential != nullptr && parts.credential->kind == 1
                        ? static_cast<AsfStartRequest*>(parts.credential->data)->kind
                        : -1;
  NamePeer(peer, parts.identity);
  asf_free_address_block(peer);
  body->conn_record = parts.record;
  body->option_list = parts.options;
  body->credential = parts.credential;
  body->info = parts.record->info;
  asf_free_identity(0, &scratch);
  s->state = body->info.level < 61 ? 17 : 13;
  return 0;
}

int sess_respond(AsfControlBlock* cb, AsfRespondBody* body, AsfIdentity* global_identity) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || body == nullptr ||
      (s->state != 12 && s->state != 13 && s->state != 15 && s->state != 17)) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  if (s->selector == -1) {
    s->state = SESS_ESTABLISHED;
    return 0;
  }
  int32_t level = body->info.level > 0 ? body->info.level : s->selector;
  if (s->state == 15) return ModuleAnswer(cb, s, body, global_identity, level);
  int32_t layer_level = sl_level(cb->assoc);
  AsfPacketBuffer* reply = sl_buffer_new(kRequestRoom);
  if (reply == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  auto* bytes = reinterpret_cast<unsigned char*>(reply->data);
  int32_t n = 0;
  auto* cred = static_cast<SqliConnCred*>(body->credential);
  if (layer_level < 60) {
    if (cred == nullptr || cred->kind != 2 || cred->data == nullptr) {
      sl_buffer_free(reply);
      return ASF_ERROR(cb, -25569, 0), -1;
    }
    auto* d = static_cast<AsfCredentialData*>(cred->data);
    std::vector<unsigned char> out;
    auto u16 = [&](int v) {
      out.push_back(static_cast<unsigned char>(v >> 8));
      out.push_back(static_cast<unsigned char>(v));
    };
    if (d->subkind == 1) {
      // A list of texts: each its length, the bytes and a pad for odd
      // lengths; an empty text is 0xFFFF.
      const AsfTextList* list = d->u.list;
      uint32_t count = list != nullptr ? std::min<uint32_t>(list->count, 120) : 0;
      for (uint32_t i = 0; i < count; ++i) {
        const char* t = list->texts[i] != nullptr ? list->texts[i] : "";
        size_t len = std::strlen(t);
        if (len == 0) {
          u16(0xFFFF);
          continue;
        }
        u16(static_cast<int>(len));
        out.insert(out.end(), t, t + len);
        if (len % 2 == 1) out.push_back(0);
      }
    } else if (body->code == 0) {
      if (s->connect_kind != 6) {
        u16(15), u16(0), u16(0), u16(0), u16(0), u16(0), u16(0), u16(0), u16(12);
      }
    } else {
      u16(13), u16(d->values[0]), u16(d->values[1]);
      if (d->entry_count > 0 && d->entries != nullptr) {
        const AsfCredentialEntry& e = d->entries[0];
        u16(e.code);
        u16(e.length + 1);
        out.insert(out.end(), e.bytes, e.bytes + e.length);
        out.push_back(0);
        if (e.length % 2 == 0) out.push_back(0);
      } else {
        u16(0), u16(0);
      }
      u16(12);
    }
    if (out.size() > kRequestRoom) out.resize(kRequestRoom);
    std::memcpy(bytes, out.data(), out.size());
    n = static_cast<int32_t>(out.size());
  } else {
    AsfConnRecord blank{};
    PfParts parts{};
    parts.record = body->conn_record != nullptr ? static_cast<AsfConnRecord*>(body->conn_record) : &blank;
    parts.credential = cred;
    parts.identity = global_identity;
    parts.level = level;
    stint(100, bytes);
    n = pf_code_binary(cb, 1, bytes + 2, static_cast<int32_t>(kRequestRoom) - 2, &parts);
    if (n < 0) {
      sl_buffer_free(reply);
      return -1;
    }
    n += 2;
  }
  reply->left = static_cast<uint32_t>(n);
  s->state = 18;
  int32_t cls = ConnectClass(s->connect_kind, nullptr);
  // The refusal texts of a kind-7 request in the older form travel as the
  // data of an accepting reply; the session is then ended.
  bool texts_as_data = layer_level < 60 && s->connect_kind == 7 && body->code == ASF_REFUSED;
  int rc = sl_respond(cb, cls, texts_as_data ? 0 : body->code, reply);
  sl_buffer_free(reply);
  s->state = rc == 0 && body->code == 0 ? SESS_ESTABLISHED : SESS_FAILED;
  if (rc == 0 && texts_as_data) {
    // Time for the client to read the texts before the connection goes.
    os_sleep(3);
    sl_release(cb, 10, nullptr);
  }
  return rc;
}

TV_END_C
