// The accepting side: listen (with the dynamic listener), accept with the
// authentication of the peer, special accept with its program check, and
// the peer authentication through chkInternet.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/os_accounts.h"
#include "connect/al_internal.h"
#include "connect/asfns.h"
#include "connect/asfutil.h"
#include "connect/csm.h"
#include "connect/driver.h"
#include "connect/session.h"

namespace {

// Listen set-up on the target's first server entry.
int ListenSetup(AsfControlBlock* cb, AsfAssocState* st, AsfListenBody& body) {
  if ((body.auth_mode != 0 && body.auth_mode != 1 && body.auth_mode != 0x1000000) ||
      body.target.text == nullptr || body.target.text[0] == '\0') {
    return ASF_ERROR(cb, -25563, 0), -1;
  }
  if (!asf_assoc_valid(cb->assoc)) return ASF_ERROR(cb, -25546, 0), -1;
  AsfCredentials cred{};
  AsfServerList* list = nullptr;
  uint32_t flags = 0;
  if (asfns_resolve(cb, 1, &cred, &body.target, &list, nullptr, &flags) != 0) return -1;
  int rc = 0;
  AsfServerEntry* e = list->count > 0 ? &list->entries[0] : nullptr;
  if (e == nullptr) rc = (ASF_ERROR(cb, -329, 0), -1);
  else if (e->entry_code != 0) rc = (ASF_ERROR(cb, e->entry_code, 0), -1);
  if (rc == 0 && csm_entry_has_csm(e)) {
    int crc = al_csm_ensure_config();
    if (crc != 0) rc = (ASF_ERROR(cb, ASF_SETUP_FAILED, crc), -1);
  }
  if (rc == 0) {
    st->peer_uid = st->peer_gid = -1;
    std::memcpy(body.info.server_type, e->server_type, 8);
    rc = sess_listen(cb, e, &body);
  }
  if (rc == 0) {
    st->session_level = body.info.level;
    st->auth_mode = body.auth_mode;
    AsfServerEntry* copy = asf_dup_server_entry(1, e);
    if (copy == nullptr) {
      rc = (ASF_ERROR(cb, -406, ENOMEM), -1);
    } else {
      asf_free_server_entry(1, st->server_entry, 1);
      st->server_entry = copy;
    }
  }
  asf_free_server_list_class(1, list);
  if (rc == 0) cb->error = 0;
  return rc;
}

int ListenMode0(AsfControlBlock* cb, AsfAssocState* st, AsfListenBody& body) {
  AsfAssociation* a = cb->assoc;
  st->flag_area = body.flag_area;
  a->user = body.flag_area;
  AsfGlobal* g = asf_global_get();
  if (g == nullptr || asf_list_insert(g->mutex, &g->listeners, &g->listener_count, a) != 0) {
    if (st->flag_area != nullptr) st->flag_area[0] = 0;
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  if (ListenSetup(cb, st, body) != 0) {
    al_abort_at_once(cb, st);
    st->state = ASF_ST_FAILED;
    if (st->flag_area != nullptr) st->flag_area[0] = 1;
    return -1;
  }
  return 0;
}

int DynamicListener(AsfControlBlock* cb, AsfAssocState* st, AsfListenBody& body) {
  char host[257];
  if (rhostname(host, sizeof host) != 0) return ASF_ERROR(cb, -406, errno), -1;
  std::string server, database;
  if (body.target.kind == 3 && body.target.text != nullptr) {
    char srv[1046], db[262];
    if (asfns_split_target(body.target.text, 1, srv, db) == 0) {
      server = srv;
      database = db;
    }
  }
  char proto[9] = {};
  std::memcpy(proto, body.info.protocol, 8);
  if (proto[0] == '\0') std::strcpy(proto, "ipcshm");
  char text[600];
  if (std::strlen(proto) >= 6 && std::strncmp(proto + 3, "tcp", 3) == 0) {
    int port = 20480 + static_cast<int>(std::time(nullptr) & 0x4fff);
    std::snprintf(text, sizeof text, "%s%s%d%s%s%c", host, "|", port, "|", proto, '\n');
  } else {
    std::snprintf(text, sizeof text, "%s%s%d%s%s%c", host, "|", 0, "|", server.c_str(), '\n');
  }
  if (body.target.text == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  std::strcpy(body.target.text, text);
  body.target.kind = 1;
  if (ListenMode0(cb, st, body) != 0) return -1;
  // The listener works; a file that cannot be made does not undo it.
  int fd = open("QORVTMP/.dynamic_listener", O_CREAT | O_EXCL | O_APPEND | O_RDWR | O_CLOEXEC, 0644);
  if (fd >= 0) {
    size_t n = std::strlen(text);
    ssize_t wr;
    do {
      wr = write(fd, text, n);
    } while (wr < 0 && errno == EINTR);
    close(fd);
  }
  return 0;
}

// The peer's credential part of its connection record, as chkInternet
// reads it.
AsfPeerCred PeerCred(AsfConnRecord* rec) {
  AsfPeerCred p{};
  p.kind = rec->cred_kind;
  p.user = rec->user;
  p.password = rec->password;
  p.trust_flags = static_cast<uint32_t>(rec->trust_flags);
  return p;
}

// Accept authentication of a new association.
int AcceptAuth(AsfControlBlock* cb, AsfAssociation* fresh, AsfAcceptBody* body) {
  AsfAssociation* listener = cb->assoc;
  if (!asf_assoc_valid(listener) || listener->state == nullptr || fresh->state == nullptr) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  AsfAssocState* ls = listener->state;
  AsfAssocState* st = fresh->state;
  if (ls->session_level > 0 && (body->info.level <= 0 || ls->session_level < body->info.level)) {
    body->info.level = ls->session_level;
  }
  st->session_level = body->info.level;
  st->conn_record = static_cast<AsfConnRecord*>(body->conn_record);
  st->option_list = static_cast<AsfOptionList*>(body->option_list);
  auto* cred = static_cast<SqliConnCred*>(body->credential);
  if (cred != nullptr && cred->kind == 1) st->credential = cred;
  if (ls->server_entry != nullptr) {
    st->server_entry = asf_dup_server_entry(1, ls->server_entry);
    if (st->server_entry == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  st->auth_mode = ls->auth_mode;
  if (st->auth_mode == 0x1000000) return 0;
  if (st->conn_record == nullptr) return ASF_ERROR(cb, -25557, 0), -1;
  AsfControlBlock w = *cb;
  w.assoc = fresh;
  int rc = al_peer_auth(&w, st, st->auth_mode);
  cb->error = w.error;
  cb->os_error = w.os_error;
  std::memcpy(cb->file, w.file, sizeof cb->file);
  cb->line = w.line;
  std::memcpy(cb->text, w.text, sizeof cb->text);
  return rc;
}

}  // namespace

TV_BEGIN_C

void al_peer_text(AsfControlBlock* cb, AsfAssocState* st) {
  const char* user = st->conn_record != nullptr && st->conn_record->user != nullptr ? st->conn_record->user : "";
  const char* host = st->peer.host != nullptr ? st->peer.host : "";
  const char* second = st->peer.text88;
  if (second == nullptr || std::strcmp(second, host) == 0) {
    std::snprintf(cb->text, sizeof cb->text, "%s@%s%s", user, host, "");
  } else {
    std::snprintf(cb->text, sizeof cb->text, "%s@%s[%s]", user, host, second);
  }
}

int al_peer_auth(AsfControlBlock* cb, AsfAssocState* st, int32_t mode) {
  AsfConnRecord* rec = st->conn_record;
  auto fail = [&](int32_t os) {
    ASF_ERROR(cb, ASF_SETUP_FAILED, os);
    if (os == -26702 || os == -956 || os == -952 || os == -951) al_peer_text(cb, st);
    return -1;
  };
  if (mode == 0) {
    st->peer_uid = st->peer_gid = -1;
    return 0;
  }
  if (mode != 1 && mode != 16) return fail(-25561);
  if (rec == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (mode == 1 && rec->cred_kind != 1) return fail(-25561);
  uint8_t none = 0;
  const uint8_t* security = st->server_entry != nullptr ? &st->server_entry->options.security : &none;
  int32_t password_flag = (rec->trust_flags & 4) ? 0 : 1;
  if (mode == 16 && (*security & 0x10)) password_flag = 0;
  AsfPeerCred peer = PeerCred(rec);
  std::memcpy(&st->peer.first, &cb->assoc, sizeof(int64_t));
  char* message = nullptr;
  int32_t uid = -1, gid = -1;
  int code = chkInternet(&peer, st->peer.host, &st->peer, security, nullptr, password_flag, &uid,
                         &gid, &message);
  std::free(st->message);
  st->message = message;
  if (code != 0) return fail(code);
  st->peer_uid = uid;
  st->peer_gid = gid;
  if (mode == 1 || !(*security & 0x10)) rec->trust_flags |= 1;
  if (!(rec->trust_flags & 1)) return ASF_ERROR(cb, -25590, 0), -1;
  return 0;
}

int al_listen(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  st->kind = ASF_LISTENER;
  AsfListenBody& body = request->body.listen;
  body.listener = cb->assoc;
  int rc;
  switch (body.mode & ~0x10) {
    case 0:
      rc = ListenMode0(cb, st, body);
      break;
    case 1: case 2: {
      AsfTransportRequest tr{};
      rc = tl_listen(cb, &tr, body.mode & ~0x10);
      break;
    }
    case 3:
      rc = DynamicListener(cb, st, body);
      break;
    default:
      rc = (ASF_ERROR(cb, -25564, 0), -1);
      break;
  }
  if (rc == 0) cb->error = 0;
  return rc;
}

int al_accept(AsfControlBlock* cb, AsfAssocState* ls, AsfRequest* request) {
  AsfAcceptBody& body = request->body.accept;
  if (body.flag_area != nullptr) body.flag_area[0] = 1;
  AsfControlBlock tmp{};
  AsfAssociation* fresh = asf_assoc_new(&tmp, ASF_RESPONDER, nullptr);
  if (fresh == nullptr) {
    cb->error = tmp.error != 0 ? tmp.error : -406;
    cb->os_error = tmp.os_error;
    return -1;
  }
  fresh->user = body.flag_area;
  AsfAssocState* st = fresh->state;
  st->kind = ASF_RESPONDER;
  st->flag_area = body.flag_area;
  st->state = ls->state;
  if (body.flags & ASF_THREADED) fresh->flags |= ASF_THREADED;
  body.assoc = fresh;
  st->peer_uid = st->peer_gid = -1;
  int rc = sess_accept(cb, &body, &st->peer);
  if (rc == 0) rc = AcceptAuth(cb, fresh, &body);
  if (rc != 0 && cb->error < 0) al_abort_at_once(cb, st);
  if (rc == 0) cb->error = 0;
  return rc;
}

int al_accept_confirm(AsfControlBlock* cb, AsfAssocState* st) {
  if (cb->error != 0) return -1;
  if (st == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  AsfGlobal* g = asf_global_get();
  AsfAssociation* a = asf_assoc_of_state(st);
  if (g == nullptr || asf_list_insert(g->mutex, &g->servers, &g->server_count, a) != 0) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  st->state = ASF_ST_SETUP;
  st->slots[ASF_SLOT_IN].request = nullptr;
  return 0;
}

int al_special_accept(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  st->kind = ASF_RESPONDER;
  AsfAcceptBody& body = request->body.accept;
  auto* rec = static_cast<AsfConnRecord*>(body.conn_record);
  if (asf_global_get() == nullptr) return ASF_ERROR(cb, -25557, 0), -1;
  if (rec == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (st->conn_record != rec) {
    asf_free_connect_body(1, st->conn_record);
    st->conn_record = rec;
  }
  if (rec->cred_kind == 0 || (rec->cred_kind == 1 && rec->user == nullptr)) {
    char user[512];
    if (os_current_user(user) != 0 || user[0] == '\0') return ASF_ERROR(cb, -25590, 0), -1;
    char* copy = asf_strdup(1, user);
    if (copy == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
    std::free(rec->user);
    rec->user = copy;
    rec->cred_kind = 17;
    rec->trust_flags &= 0x10;
    if (rec->password != nullptr) {
      asf_wipe_password(rec->password);
      std::free(rec->password);
      rec->password = nullptr;
    }
  }
  int32_t mode = st->auth_mode;
  if (mode == 0x1000000) mode = st->server_entry != nullptr && csm_entry_has_csm(st->server_entry) ? 16 : 1;
  if (st->server_entry != nullptr && st->server_entry->options.security == 8) {
    char program[13] = {};
    std::memcpy(program, rec->program, 12);
    if (std::strcmp(program, "kyraccept") != 0 && std::strcmp(program, "dr_accept") != 0 &&
        std::strcmp(program, "smx") != 0) {
      return ASF_ERROR(cb, ASF_SETUP_FAILED, -25539), -1;
    }
  }
  if (mode == 16) {
    // The session's module reply goes out first (a session straight over
    // the transport has none); then the module negotiates with its peer
    // over the accepted session.
    AsfControlBlock w = *cb;
    w.assoc = asf_assoc_of_state(st);
    if (w.assoc == nullptr || w.assoc->session == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
    if (sess_module_accept(&w, &body, &st->peer) != 0) {
      if (w.error == -25564) return ASF_ERROR(cb, ASF_SETUP_FAILED, -25564), -1;
      cb->error = w.error;
      cb->os_error = w.os_error;
      std::memcpy(cb->text, w.text, sizeof cb->text);
      return -1;
    }
    if (csm_accept(&w, st->server_entry) != 0) {
      // A module that refuses fails the peer's authentication.
      ASF_ERROR(cb, ASF_SETUP_FAILED, w.error);
      std::memcpy(cb->text, w.text, sizeof cb->text);
      return -1;
    }
  }
  if (al_peer_auth(cb, st, mode) != 0) return -1;
  if (rec->password != nullptr) asf_wipe_password(rec->password);
  cb->error = 0;
  return 0;
}

TV_END_C
