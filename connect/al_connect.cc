// Connect: the name is resolved into server entries, which are tried in
// order within the time budget. With two or more entries the loop runs in
// failover mode: short per-attempt time-outs, several passes that each go
// back to the first entry and up to the entry that last answered, then one
// last ordinary pass. A server may redirect the client to another address.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/env.h"
#include "connect/al_internal.h"
#include "connect/asfns.h"
#include "connect/asfslsqi.h"
#include "connect/asfutil.h"
#include "connect/csm.h"
#include "connect/session.h"

namespace {

enum Outcome { kStop, kRetry, kNext };

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

int32_t CeilDiv(int64_t a, int64_t b) { return b <= 0 ? 0 : static_cast<int32_t>((a + b - 1) / b); }

bool Program(const AsfConnRecord* rec, const char* name) {
  return std::strncmp(rec->program, name, sizeof rec->program) == 0;
}

// A shared multiplexed connection to the same address, or null.
int FindShared(AsfControlBlock* cb, const AsfServerEntry* e, AsfAssociation** out) {
  *out = nullptr;
  AsfGlobal* g = asf_global_get();
  if (g == nullptr || e->address == nullptr) return 0;
  if (os_mutex_lock(g->mutex) != 0) return ASF_ERROR(cb, -25557, 0), -1;
  for (AsfAssociation* a = g->clients; a != nullptr && *out == nullptr; a = a->state->next) {
    if (!asf_assoc_valid(a) || a->state == nullptr) break;
    const AsfServerEntry* se = a->state->server_entry;
    if (se == nullptr || se->address == nullptr || std::strcmp(se->address, e->address) != 0) continue;
    SlMuxAttribute value{};
    AsfControlBlock q{};
    q.assoc = a;
    AsfSessionAttr attr{9, &value};
    if (sess_attributes(&q, &attr) != 0 || value.flags == nullptr || value.session_count == nullptr) continue;
    if ((*value.flags & 2u) && *value.session_count < 64) *out = a;
  }
  os_mutex_unlock(g->mutex);
  return 0;
}

Outcome Classify(int32_t error, int32_t os_error, int64_t since_slice, int32_t slice) {
  switch (error) {
    case ASF_REFUSED:
      return os_error == -329 || os_error == -27009 || os_error == -25539 ? kNext : kStop;
    case ASF_REDIRECTED:
      return kRetry;
    case -25580: case -27001: case -908:
      return since_slice >= slice ? kNext : kRetry;
    case -27000: case -25599: case -25588:
      return kNext;
    default:
      return kStop;
  }
}

// The redirection text of a credential answer: "name=address".
bool Redirect(AsfConnectBody* body, AsfServerEntry* e) {
  auto* answer = static_cast<SqliConnCred*>(body->cred_answer);
  if (answer == nullptr || answer->kind != 2 || answer->data == nullptr) return false;
  auto* d = static_cast<AsfCredentialData*>(answer->data);
  if (d->subkind != 1 || d->u.list == nullptr || d->u.list->count < 1 || d->u.list->texts == nullptr ||
      d->u.list->texts[0] == nullptr) {
    return false;
  }
  std::string text = d->u.list->texts[0];
  size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  size_t v = eq + 1;
  while (v < text.size() && text[v] == ' ') ++v;
  if (v >= text.size()) return false;
  char proto[9] = {};
  std::memcpy(proto, e->protocol, 8);
  std::string address = text.substr(v) + "|" + proto;
  char* name = asf_strdup(1, text.substr(0, eq).c_str());
  char* addr = asf_strdup(1, address.c_str());
  if (name == nullptr || addr == nullptr) {
    std::free(name);
    std::free(addr);
    return false;
  }
  std::free(e->server_name);
  std::free(e->address);
  e->server_name = name;
  e->address = addr;
  return true;
}

void FreeBodyOutputs(AsfConnectBody* body) {
  asf_free_connect_body(1, static_cast<AsfConnRecord*>(body->server_record));
  body->server_record = nullptr;
  auto* answer = static_cast<SqliConnCred*>(body->cred_answer);
  if (answer != nullptr) {
    if (answer->kind == 1) asf_free_start_request(1, answer);
    else asf_free_conn_cred(1, answer);
  }
  body->cred_answer = nullptr;
  asf_free_option_list(1, static_cast<AsfOptionList*>(body->option_list));
  body->option_list = nullptr;
}

void FreePeer(AsfAssocState* st) {
  asf_free_identity(1, &st->peer);
  std::free(st->peer.text88);
  st->peer.text88 = nullptr;
}

}  // namespace

TV_BEGIN_C

int al_connect_loop(AsfControlBlock* cb, AsfConnectBody* body, AsfServerList* list, int64_t S,
                    int32_t B) {
  AsfAssocState* st = cb->assoc->state;
  AsfGlobal* g = asf_global_get();
  auto* rec = static_cast<AsfConnRecord*>(body->conn_record);
  auto* cred = static_cast<SqliConnCred*>(body->credential);
  auto* start = static_cast<AsfStartRequest*>(cred->data);
  body->server_record = nullptr;
  body->cred_answer = nullptr;
  const int32_t n = list->count;
  const int32_t r = body->retry;
  int32_t w = 1;
  int32_t L = 0;
  int64_t T = Now();
  if (T < 0 || T < S) {
    asf_free_server_list_class(1, list);
    return ASF_ERROR(cb, -25566, 0), -1;
  }
  if (r > 0 && n > 0 && B > 0) {
    L = CeilDiv(std::max<int64_t>(0, S + B - T), n);
    w = std::min(CeilDiv(L, r), 1);
  }
  const int32_t t0 = cb->timeout_ms;
  const int32_t P = t0 < 30000 ? 1 : 3;
  bool failover = n >= 2;
  int32_t fo_timeout = 0;
  if (failover) {
    const char* v = ggetenv_idx("TARVELONFAILOVERTIME", -1);
    fo_timeout = v != nullptr ? std::atoi(v) * 1000 : 0;
    int32_t floor = start != nullptr && start->kind == 1 ? 10000 : 3000;
    if (fo_timeout < floor) fo_timeout = floor;
  }
  int32_t i = 0, end = n, restart = 0, passes = 0;
  int32_t pending = 0;
  int64_t slice_start = T;
  bool ok = false;
  AsfServerEntry* last = nullptr;
  while (i < end) {
    if (failover) {
      cb->timeout_ms = fo_timeout;
    } else {
      int64_t now = Now();
      if (now < 0 || t0 <= 0) cb->timeout_ms = t0;
      else cb->timeout_ms = std::max<int32_t>(static_cast<int32_t>(t0 - (now - S) * 1000), 1000);
    }
    AsfServerEntry* e = &list->entries[i];
    if (e->entry_code != 0) {
      pending = e->entry_code;
      last = e;
      w = 0;
      ++i;
      if (i >= end) break;
      continue;
    }
    last = e;
    pending = 0;
    bool kind17 = e->cred_kind == 17;
    if (kind17) e->cred_kind = 1;
    bool has_csm = csm_entry_has_csm(e) != 0;
    char* saved_password = e->password;
    if (has_csm) e->password = nullptr;
    if (!(Program(rec, "sqlexec") && std::strncmp(e->protocol, "ipcshm", 8) != 0)) e->options.m = 0;
    AsfAssociation* shared = nullptr;
    if (e->options.m != 0 && FindShared(cb, e, &shared) != 0) {
      if (kind17) e->cred_kind = 17;
      e->password = saved_password;
      break;
    }
    cb->error = 0;
    cb->os_error = 0;
    int rc = sess_start(cb, e, body, g != nullptr ? &g->identity : nullptr, &st->peer, shared);
    if (kind17) e->cred_kind = 17;
    e->password = saved_password;
    if (rc == 0) {
      if (!has_csm) {
        char type[9] = {};
        std::memcpy(type, body->info.server_type, 8);
        bool needs_answer = std::strcmp(type, "vk") == 0 || std::strcmp(type, "vq") == 0 ||
                            std::strcmp(type, "vj") == 0;
        if (needs_answer && body->cred_answer == nullptr) {
          ASF_ERROR(cb, -25590, 0);
        } else {
          ok = true;
          break;
        }
      } else {
        int crc = al_csm_ensure_config();
        if (crc != 0) {
          ASF_ERROR(cb, ASF_SETUP_FAILED, crc);
          break;
        }
        if (body->cred_answer != nullptr) {
          ASF_ERROR(cb, -25590, 0);
          break;
        }
        if (csm_connect(cb, e) != 0) break;
        // The server's answer follows the modules' negotiation; a refusal
        // counts like a failed start.
        SqliConnCred* answer = nullptr;
        AsfOptionList* options = nullptr;
        int xrc = sess_cred_exchange(cb, &answer, &options, nullptr, body);
        asf_free_option_list(1, static_cast<AsfOptionList*>(body->option_list));
        body->cred_answer = answer;
        body->option_list = options;
        if (xrc == 0) {
          ok = true;
          break;
        }
      }
    }
    T = Now();
    if (T < 0) {
      pending = -25566;
      break;
    }
    int32_t error = cb->error, os_error = cb->os_error;
    Outcome out = Classify(error, os_error, T - slice_start, L);
    if (out != kStop && (error == 0 || error == ASF_REFUSED || error == ASF_REDIRECTED) &&
        os_error != -27009 && os_error != -25539) {
      restart = i;
    }
    bool redirected = out == kRetry && error == ASF_REDIRECTED && Redirect(body, e);
    bool stop_now = out == kStop && !failover;
    if (!stop_now) {
      // The failed session goes before the next attempt.
      AsfRequest abort;
      asf_request_init(ASF_ASSOCABORT, &abort);
      char text[sizeof cb->text];
      std::memcpy(text, cb->text, sizeof text);
      sess_release(cb, 10, &abort);
      cb->error = error;
      cb->os_error = os_error;
      std::memcpy(cb->text, text, sizeof text);
      FreeBodyOutputs(body);
      FreePeer(st);
    }
    if (stop_now) break;
    if (out == kNext) {
      ++i;
      if (n - i > 0) L = CeilDiv(std::max<int64_t>(0, S + B - T), n - i);
      slice_start = T;
    } else if (out == kRetry) {
      w = w == 0 ? 1 : w * 2;
      if (n - i > 0) L = CeilDiv(std::max<int64_t>(0, S + B - T), n - i);
      if (r > 0 && n - i > 0 && B > 0) w = std::min(w, CeilDiv(L, r));
      if (redirected) {
        cb->error = 0;
        cb->os_error = 0;
        if (start != nullptr) start->flags &= ~0x2000000u;
        continue;
      }
      if (!failover) {
        os_sleep(w);
        continue;
      }
      ++i;
      w = 0;
    } else {
      ++i;
      w = 0;
    }
    if (failover && i >= end) {
      if (passes > P) failover = false;
      ++passes;
      i = 0;
      end = restart + 1;
      slice_start = Now();
    }
  }
  cb->timeout_ms = t0;
  int result = 0;
  if (!ok) {
    if (pending != 0) ASF_ERROR(cb, pending, 0);
    else if (cb->error == 0) ASF_ERROR(cb, -25557, 0);
    result = -1;
  }
  // What the server sent back goes to the state record, which owns it from
  // here on and frees it with the association. The body keeps pointing at
  // the records: they are the connect's outputs, which the caller reads
  // (the server's level, its option list, the connect reply) for as long
  // as the association lives.
  if (body->server_record != nullptr) {
    if (st->conn_record != body->server_record) asf_free_connect_body(1, st->conn_record);
    st->conn_record = static_cast<AsfConnRecord*>(body->server_record);
  }
  if (body->option_list != nullptr) {
    if (st->option_list != body->option_list) asf_free_option_list(1, st->option_list);
    st->option_list = static_cast<AsfOptionList*>(body->option_list);
  }
  auto* answer = static_cast<SqliConnCred*>(body->cred_answer);
  if (answer != nullptr && answer->kind == 2) {
    if (st->credential != nullptr && st->credential != answer) {
      if (st->credential->kind == 1) asf_free_start_request(1, st->credential);
      else asf_free_conn_cred(1, st->credential);
    }
    st->credential = answer;
  } else if (answer != nullptr) {
    // An answer of another kind is no connect reply; nothing would own it.
    if (answer->kind == 1) asf_free_start_request(1, answer);
    else asf_free_conn_cred(1, answer);
    body->cred_answer = nullptr;
  }
  if (ok) {
    AsfServerEntry* copy = asf_dup_server_entry(1, last);
    if (copy == nullptr) {
      AsfRequest abort;
      asf_request_init(ASF_ASSOCABORT, &abort);
      sess_release(cb, 10, &abort);
      ASF_ERROR(cb, -406, ENOMEM);
      result = -1;
    } else {
      if (copy->password != nullptr) {
        int32_t len = static_cast<int32_t>(std::strlen(copy->password));
        if (len > 128) len = 128;
        auto* p = reinterpret_cast<unsigned char*>(copy->password);
        asf_scramble_password(p, p, len, 0);
      }
      asf_free_server_entry(1, st->server_entry, 1);
      st->server_entry = copy;
    }
  } else if (last != nullptr && last->server_name != nullptr &&
             (cb->error == -25588 || cb->error == -908 || cb->error == -25559 ||
              cb->error == -25558)) {
    std::strncpy(cb->text, last->server_name, sizeof cb->text - 1);
    cb->text[sizeof cb->text - 1] = '\0';
  }
  asf_free_server_list_class(1, list);
  if (result == 0) cb->error = 0;
  return result;
}

int al_connect(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  st->kind = ASF_INITIATOR;
  AsfConnectBody& body = request->body.connect;
  if (body.flag_area != nullptr) body.flag_area[0] = 1;
  auto* rec = static_cast<AsfConnRecord*>(body.conn_record);
  auto* cred = static_cast<SqliConnCred*>(body.credential);
  if (rec == nullptr || cred == nullptr || cred->kind != 1 || cred->data == nullptr) {
    return ASF_ERROR(cb, -25563, 0), -1;
  }
  auto* start = static_cast<AsfStartRequest*>(cred->data);
  st->peer_uid = -1;
  st->peer_gid = -1;
  FreePeer(st);
  std::free(st->message);
  st->message = nullptr;
  body.server_record = nullptr;
  body.cred_answer = nullptr;
  if (rec->cred_kind == 1 && rec->user != nullptr && rec->password == nullptr &&
      !Program(rec, "srvqorv") && !Program(rec, "zuutil")) {
    return ASF_ERROR(cb, -952, 0), -1;
  }
  int32_t budget = cb->timeout_ms < 0 ? 80 : CeilDiv(cb->timeout_ms, 1000);
  AsfCredentials creds{};
  creds.kind = rec->cred_kind;
  creds.user = rec->user;
  creds.password = rec->password;
  AsfServerList* list = nullptr;
  if (asfns_resolve(cb, start->kind == 1 ? 1 : 0, &creds, &body.target, &list,
                    static_cast<AsfOptionList*>(body.env_list), &start->flags) != 0) {
    return -1;
  }
  if (list == nullptr) return ASF_ERROR(cb, -25557, 0), -1;
  if (list->count == 0) {
    asf_free_server_list_class(1, list);
    return ASF_ERROR(cb, -329, 0), -1;
  }
  int64_t S = Now();
  if (S < 0) {
    asf_free_server_list_class(1, list);
    return ASF_ERROR(cb, -25566, 0), -1;
  }
  if (Program(rec, "srvqorv")) {
    AsfGlobal* g = asf_global_get();
    if (g != nullptr) g->identity.pid = static_cast<int32_t>(getpid());
  }
  if (!(cb->mode & 1)) {
    asf_free_server_list_class(1, list);
    return ASF_ERROR(cb, -25563, 0), -1;
  }
  int rc = al_connect_loop(cb, &body, list, S, budget);
  if (rc == 0 && rec->password != nullptr) asf_wipe_password(rec->password);
  return rc;
}

int al_connect_confirm(AsfControlBlock* cb, AsfAssocState* st) {
  if (st == nullptr) return -1;
  AsfAssociation* a = asf_assoc_of_state(st);
  if (cb->error != 0 && cb->error != ASF_REFUSED) {
    al_abort_at_once(cb, st);
    st->state = ASF_ST_FAILED;
    if (st->flag_area != nullptr) st->flag_area[0] = 1;
    return -1;
  }
  AsfRequest* request = st->slots[ASF_SLOT_OUT].request;
  AsfConnectBody* body = request != nullptr ? &request->body.connect : nullptr;
  AsfAssociation* parent = body != nullptr ? body->parent : nullptr;
  AsfGlobal* g = asf_global_get();
  int listed;
  if (parent != nullptr) {
    if (!asf_assoc_valid(parent) || parent->state == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
    st->parent = parent;
    listed = asf_list_insert(parent->mutex, &parent->state->children, &parent->state->child_count, a);
  } else {
    listed = g != nullptr ? asf_list_insert(g->mutex, &g->clients, &g->client_count, a) : -1;
  }
  if (listed != 0) return ASF_ERROR(cb, -25546, 0), -1;
  if (body != nullptr) body->assoc = a;
  st->state = cb->error == 0 ? ASF_ST_ESTABLISHED : ASF_ST_FAILED;
  // A refused connect leaves the association closed to its caller.
  if (st->flag_area != nullptr) st->flag_area[0] = cb->error == 0 ? 0 : 1;
  return 0;
}

void al_abort_at_once(AsfControlBlock* cb, AsfAssocState* st) {
  AsfAssociation* a = asf_assoc_of_state(st);
  if (!asf_assoc_valid(a)) return;
  AsfControlBlock w = *cb;
  w.assoc = a;
  AsfRequest abort;
  asf_request_init(ASF_ASSOCABORT, &abort);
  abort.body.flags.flags = TL_CLOSE_ABORTIVE;
  sess_release(&w, 10, &abort);
  if (a->transport != nullptr) tl_close(&w, TL_CLOSE_ABORTIVE);
}

TV_END_C
