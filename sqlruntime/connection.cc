// Connection records and the process-wide connection state: CONNECT,
// the implicit connection, SET CONNECTION, DISCONNECT and the small
// exported connection services.
//
// Connection mode: 0 none yet, 1 implicit or database-open, 2 explicit
// CONNECT. Default kind: 0, 1 opened implicitly or by the database-open
// kind, 2 by CONNECT TO DEFAULT.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/env.h"
#include "base/locale_state.h"
#include "base/osqlidbg.h"
#include "base/thread_state.h"
#include "connect/break_control.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/names.h"
#include "sqlruntime/replies.h"

namespace {

SqliConnection* g_list = nullptr;
SqliConnection* g_default = nullptr;
int32_t g_mode = 0;
int32_t g_default_kind = 0;
int16_t g_dormant = 0;

char* Dup(const char* s) { return s != nullptr ? strdup(s) : nullptr; }

void FreeSecret(char* s) {
  if (s == nullptr) return;
  std::memset(s, 0, std::strlen(s));
  std::free(s);
}

bool EnvIsOne(const char* name) {
  const char* v = ggetenv_idx(name, -1);
  return v != nullptr && std::strcmp(v, "1") == 0;
}

void Fail(int32_t code) { _iqseterr(code); }

// The steps of opening a connection that CONNECT, the implicit connection
// and sqlstart share, after the record is registered: 0, or the sqlcode
// (the record is then gone).
int32_t OpenSteps(SqliRuntime* rt, SqliConnection* c, int32_t kind, SqliConnection* previous,
                  int32_t saved_mode, int32_t saved_default_kind) {
  auto undo = [&]() {
    if (kind == SQLI_CONN_NAMED || kind == SQLI_CONN_TAPE) {
      if (sqli_conn_unlink(c) != 0) {
        Fail(-1812);
        sqli_conn_free(c);
      }
      if (kind == SQLI_CONN_TAPE && g_default == previous) g_default = nullptr;
    } else {
      g_default = nullptr;
      g_default_kind = saved_default_kind;
      sqli_conn_free(c);
    }
    g_mode = saved_mode;
    if (rt->current == c) rt->current = nullptr;
  };
  int dbopen = kind == SQLI_CONN_DBOPEN ? 1 : 0;
  if (sqli_asf_connect(c, nullptr, dbopen, rt, kind == SQLI_CONN_TAPE, 0) != 0 ||
      sqli_conn_server_info(c) != 0) {
    if (c->stream->cb.assoc != nullptr) sqli_conn_release(c->stream->cb.assoc, 1);
    c->stream->cb.assoc = nullptr;
    int32_t code = sqlca.sqlcode;
    undo();
    if (previous != nullptr && previous != c) sqli_conn_make_current(previous);
    return code;
  }
  if (sqli_conn_start(c) != 0) {
    int32_t code = sqlca.sqlcode;
    sqli_conn_release(c->stream->cb.assoc, 1);
    c->stream->cb.assoc = nullptr;
    undo();
    if (previous != nullptr && previous != c) sqli_conn_make_current(previous);
    return code;
  }
  if (previous != nullptr && previous != c && previous->dormant == 1) previous->in_use = 0;
  if (sqli_version_exchange(rt, c, c->level) != 0) {
    // A protocol error has closed the connection already.
    if (rt->current == c) sqli_conn_open_failed(c, kind);
    return sqlca.sqlcode != 0 ? sqlca.sqlcode : -1809;
  }
  int hs = 0;
  if (c->caps[7] & 0x10) hs = sqli_local_handshake(c);
  else if (c->caps[5] & 0x08) hs = sqli_pam_exchange(c);
  if (hs != 0) {
    if (rt->current == c) sqli_conn_open_failed(c, kind);
    return sqlca.sqlcode;
  }
  if (!SQLI_CAP_OPTOFC(c)) {
    c->props[3] = 1;
    sqlca.sqlwarn.sqlwarn4 = 'W';
  }
  if (kind == SQLI_CONN_NAMED || kind == SQLI_CONN_TAPE) sqli_set_names(c->server_name, c->name);
  else sqli_set_names(nullptr, nullptr);
  if ((kind == SQLI_CONN_NAMED && c->target != nullptr && c->target[0] != '@') || kind == SQLI_CONN_DBOPEN) {
    c->db_open = 1;
  }
  c->optofc = EnvIsOne("OPTOFC") ? 1 : 0;
  c->optmsg = EnvIsOne("OPTMSG") ? 1 : 0;
  std::free(c->delimident);
  c->delimident = Dup(ggetenv_idx("DELIMIDENT", -1));
  sqli_set_thread_connected(1);
  sqli_diag_update(rt);
  sqli_conn_send_env(c);
  sqdbg_connect(112, c->target, c->name, static_cast<int16_t>(kind));
  return sqlca.sqlcode;
}

// DISCONNECT of one connection: 0, -1 when the close failed (the
// connection is gone), -2 when the server refused to let it go.
int CloseOne(SqliRuntime* rt, SqliConnection* c, int32_t mode) {
  if (mode == 0 && sqli_conn_leave_check(c, -1800) != 0) return -2;
  if (sqli_conn_close(c, mode) != 0) {
    if (c->dormant == 1 && rt->current != c) c->in_use = 0;
    return -1;
  }
  return 0;
}

// Frees a closed record, clearing the current connection when it was it.
void Drop(SqliRuntime* rt, SqliConnection* c) {
  if (rt->current == c) rt->current = nullptr;
  sqli_conn_free(c);
}

void Afterwards(SqliRuntime* rt, int32_t kind, const char* target, const char* name) {
  if (rt->current == nullptr && g_default == nullptr && g_list == nullptr) sqli_set_thread_connected(0);
  if (rt->current != nullptr) {
    SqliConnection* c = rt->current;
    if (c == g_default) sqli_set_names(nullptr, nullptr);
    else sqli_set_names(c->server_name, c->name);
  } else {
    sqli_set_names(nullptr, nullptr);
    if (g_default == nullptr && g_list == nullptr) g_mode = 0;
  }
  if (sqlca.sqlcode < 0) return;
  sqli_diag_update(rt);
  sqli_reply_warnings(16);
  char shown[1025] = "";
  if (target != nullptr) {
    std::strncpy(shown, target, 1024);
    shown[1024] = '\0';
  }
  sqdbg_connect(114, shown, name, static_cast<int16_t>(kind));
}

// sqlerrm of a redirection: at most 71 bytes of the text.
void SetErrm(const std::string& text) {
  std::strncpy(sqlca.sqlerrm, text.c_str(), 71);
  sqlca.sqlerrm[71] = '\0';
}

// Follows a redirection of the implicit (or database-open) connection:
// the new server is connected first, so that a failure there leaves the
// old connection in place; then the old default connection is closed and
// the new one takes its slot, started as the database-open kind would be.
int32_t FollowRedirect(SqliRuntime* rt, const std::string& target) {
  SqliConnection* old = g_default;
  SqliConnection* c = sqli_conn_make(target.c_str(), nullptr, nullptr, old != nullptr ? old->concurrent : 1);
  if (c == nullptr) return sqlca.sqlcode;
  if (sqli_asf_connect(c, &rt->redirect, 1, rt, 0, 0) != 0 || sqli_conn_server_info(c) != 0) {
    if (c->stream->cb.assoc != nullptr) sqli_conn_release(c->stream->cb.assoc, 1);
    c->stream->cb.assoc = nullptr;
    sqli_conn_free(c);
    return sqlca.sqlcode;
  }
  sqli_conn_claim(c);
  if (old != nullptr) {
    sqli_connect_close(SQLI_CONN_DBOPEN, nullptr, 2, 1);
    if (g_default == old) {
      // The old connection could not be let go (a dormant one in use):
      // it stays, and the new server is left.
      sqli_conn_release(c->stream->cb.assoc, 1);
      c->stream->cb.assoc = nullptr;
      sqli_conn_free(c);
      return sqlca.sqlcode;
    }
  }
  g_default = c;
  g_mode = 1;
  g_default_kind = 1;
  c->optofc = EnvIsOne("OPTOFC") ? 1 : 0;
  c->optmsg = EnvIsOne("OPTMSG") ? 1 : 0;
  if (sqli_conn_start(c) != 0) {
    int32_t code = sqlca.sqlcode != 0 ? sqlca.sqlcode : -1809;
    sqli_conn_release(c->stream->cb.assoc, 1);
    c->stream->cb.assoc = nullptr;
    g_default = nullptr;
    sqli_conn_free(c);
    if (g_list == nullptr) g_mode = 0;
    return code;
  }
  if (sqli_version_exchange(rt, c, c->level) != 0) {
    if (rt->current == c) sqli_conn_open_failed(c, SQLI_CONN_DBOPEN);
    return sqlca.sqlcode != 0 ? sqlca.sqlcode : -1809;
  }
  if ((c->caps[7] & 0x10) && sqli_local_handshake(c) != 0) {
    if (rt->current == c) sqli_conn_open_failed(c, SQLI_CONN_DBOPEN);
    return sqlca.sqlcode;
  }
  if (!SQLI_CAP_OPTOFC(c)) {
    c->props[3] = 1;
    sqlca.sqlwarn.sqlwarn4 = 'W';
  }
  c->db_open = 1;
  std::free(c->delimident);
  c->delimident = Dup(ggetenv_idx("DELIMIDENT", -1));
  sqli_set_thread_connected(1);
  sqli_set_names(nullptr, nullptr);
  sqli_diag_update(rt);
  sqli_conn_send_env(c);
  return sqlca.sqlcode;
}

}  // namespace

TV_BEGIN_C

SqliConnection* sqli_conn_list(void) { return g_list; }
SqliConnection* sqli_conn_default(void) { return g_default; }
int32_t sqli_conn_mode(void) { return g_mode; }

SqliConnection* sqli_conn_make(const char* target, const char* name, void* credentials, int32_t concurrent) {
  auto* c = static_cast<SqliConnection*>(std::calloc(1, sizeof(SqliConnection)));
  auto* s = static_cast<SqliMessageStream*>(std::calloc(1, sizeof(SqliMessageStream)));
  if (c == nullptr || s == nullptr) {
    std::free(c);
    std::free(s);
    Fail(-406);
    return nullptr;
  }
  c->stream = s;
  s->trace_context = rclientstate();
  s->connection = c;
  s->cb.mode = 1;
  s->cb.timeout_ms = -1;
  c->target = Dup(target);
  c->name = Dup(name);
  if (credentials != nullptr) {
    int16_t kind = *static_cast<int16_t*>(credentials);
    if (kind == 1) {
      auto* u = static_cast<SqliConnUser*>(credentials);
      c->cred_kind = 1;
      if (u->pair != nullptr) {
        c->user = Dup(u->pair->user);
        c->password = Dup(u->pair->password);
      }
    } else if (kind == 2) {
      c->cred_kind = 16;
      c->credential = static_cast<SqliConnUserCred*>(credentials)->credential;
    }
  }
  c->concurrent = concurrent;
  c->release_after_execute = 1;
  c->break_timeout = -1;
  c->xact_event = -1;
  c->dormant = g_dormant;
  if ((target != nullptr && c->target == nullptr) || (name != nullptr && c->name == nullptr)) {
    sqli_conn_free(c);
    Fail(-406);
    return nullptr;
  }
  return c;
}

void sqli_conn_free(SqliConnection* c) {
  if (c == nullptr) return;
  SqliRuntime* rt = sqli_runtime_get();
  // The statement table goes with the connection: its saved one, or the
  // runtime's while it is (or was just) the current one.
  if (rt != nullptr) {
    sqli_stmt_list_free(&c->saved_statement_list);
    if (rt->current == c || rt->current == nullptr) sqli_stmt_list_free(&rt->statement_list);
  }
  if (rt != nullptr && rt->current == c) rt->current = nullptr;
  std::free(c->target);
  std::free(c->name);
  std::free(c->user);
  FreeSecret(c->password);
  std::free(c->server_name);
  std::free(c->delimident);
  std::free(c->stream);
  std::free(c);
}

int sqli_conn_unlink(SqliConnection* c) {
  for (SqliConnection** at = &g_list; *at != nullptr; at = &(*at)->next) {
    if (*at == c) {
      *at = c->next;
      sqli_conn_free(c);
      return 0;
    }
  }
  return -1;
}

SqliConnection* sqli_conn_find(const char* name) {
  if (name == nullptr) return nullptr;
  for (SqliConnection* c = g_list; c != nullptr; c = c->next) {
    if (c->name != nullptr && std::strcmp(c->name, name) == 0) return c;
  }
  return nullptr;
}

void sqli_conn_make_current(SqliConnection* c) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return;
  SqliConnection* old = rt->current;
  if (old == c) {
    if (c != nullptr) {
      c->stream->connection = c;
      c->stream->outstanding = &rt->outstanding;
    }
    return;
  }
  if (old != nullptr) {
    old->saved_outstanding = rt->outstanding;
    old->saved_statement_list = rt->statement_list;
  }
  if (c != nullptr) {
    rt->outstanding = c->saved_outstanding;
    rt->statement_list = c->saved_statement_list;
    c->stream->connection = c;
    c->stream->trace_context = rclientstate();
    c->stream->outstanding = &rt->outstanding;
  } else {
    rt->outstanding = 0;
    rt->statement_list = nullptr;
  }
  rt->current = c;
}

int sqli_conn_claim(SqliConnection* c) {
  if (c->dormant == 1 && c->in_use) {
    Fail(-1802);
    return -1;
  }
  c->in_use = 1;
  return 0;
}

int sqli_conn_leave_check(SqliConnection* c, int32_t error) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  if (!SQLI_CAP_OPTOFC(c)) {
    if (!c->db_open) return 0;
    Fail(error);
    return -1;
  }
  SqliConnection* previous = rt->current;
  sqli_conn_make_current(c);
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(84, s);
  sqli_msg_put_short(12, s);
  rt->outstanding = 1;
  sqli_msg_flush(s);
  int32_t code = sqli_msg_get_short(s);
  rt->outstanding = 0;
  int rc = 0;
  if (code == SQLI_REPLY_ERROR) {
    sqli_reply_error(s);
  } else if (code == 84) {
    if (sqli_msg_get_short(s) != 0) {
      Fail(error);
      rc = -1;
    }
  } else {
    sqli_reply_protocol_error(code);
    if (previous != c && previous != nullptr) sqli_conn_make_current(previous);
    return -1;
  }
  code = sqli_msg_get_short(s);
  if (sqli_reply_dispatch(nullptr, code) != 0) rc = -1;
  if (rt->current == c && previous != c) sqli_conn_make_current(previous);
  return rc;
}

int sqli_conn_close(SqliConnection* c, int32_t mode) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  SqliConnection* previous = rt->current;
  sqli_conn_make_current(c);
  AsfAssociation* assoc = c->stream->cb.assoc;
  int rc = 0;
  if (mode == 0) {
    if (SQLI_CAP_OPTOFC(c)) {
      sqli_msg_put_short(SQLI_REPLY_EXIT, c->stream);
      sqli_msg_flush(c->stream);
      sqli_msg_get_short(c->stream);
    }
    rc = sqli_conn_orderly_release(assoc);
    if (rc == 0) sqli_sqlca_reset(rt);
  } else {
    rc = sqli_conn_release(assoc, mode);
  }
  c->stream->cb.assoc = nullptr;
  c->stream->send_buffer = nullptr;
  c->stream->receive_buffer = nullptr;
  c->stream->receive_count = 0;
  c->stream->send_room = 0;
  if (rc == 0) {
    rsetansi(0);
    rsetmode(0);
    c->props[3] = 0;
    c->props[5] = 0;
  }
  if (previous != c) sqli_conn_make_current(previous);
  return rc;
}

void sqli_conn_open_failed(SqliConnection* c, int32_t kind) {
  SqliRuntime* rt = sqli_runtime_get();
  Fail(-1809);
  if (c->stream->cb.assoc != nullptr) sqli_conn_release(c->stream->cb.assoc, 1);
  c->stream->cb.assoc = nullptr;
  if (rt != nullptr && rt->current == c) rt->current = nullptr;
  if (kind == SQLI_CONN_NAMED || kind == SQLI_CONN_TAPE) {
    if (sqli_conn_unlink(c) != 0) sqli_conn_free(c);
    if (g_list == nullptr && g_default == nullptr) g_mode = 0;
  } else {
    if (g_default == c) g_default = nullptr;
    g_default_kind = 0;
    sqli_conn_free(c);
    if (g_list == nullptr) g_mode = 0;
  }
}

int32_t sqli_connect_open(void*, int32_t kind, const char* target, const char* name, void* credentials,
                          int32_t concurrent) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return sqlca.sqlcode != 0 ? sqlca.sqlcode : -1;
  rnlsinit();
  sqli_sqlca_reset(rt);
  if (sqli_asf_start() != 0) return sqlca.sqlcode;
  sqli_flag_connstmt(rt);
  if (kind == SQLI_CONN_NAMED && (target == nullptr || target[0] == '\0')) {
    Fail(-1804);
    return sqlca.sqlcode;
  }
  if (name != nullptr && name[0] == '\0') {
    Fail(-1805);
    return sqlca.sqlcode;
  }
  if (name == nullptr) {
    name = target;
    if (kind == SQLI_CONN_TAPE && (target == nullptr || target[0] == '\0')) name = SQLI_TAPE_NAME;
  }
  SqliConnection* previous = rt->current;
  if (previous != nullptr && previous->concurrent == 0 && sqli_conn_leave_check(previous, -1801) != 0) {
    return sqlca.sqlcode;
  }
  switch (kind) {
    case SQLI_CONN_NAMED:
    case SQLI_CONN_TAPE:
      if (sqli_conn_find(name) != nullptr) {
        Fail(-1802);
        return sqlca.sqlcode;
      }
      break;
    case SQLI_CONN_DEFAULT:
      if (g_default != nullptr) {
        Fail(-1802);
        return sqlca.sqlcode;
      }
      break;
    case SQLI_CONN_DBOPEN:
      if (g_mode == 2) {
        Fail(-1811);
        return sqlca.sqlcode;
      }
      if (g_default != nullptr) {
        Fail(-1802);
        return sqlca.sqlcode;
      }
      break;
    default:
      Fail(-1812);
      return sqlca.sqlcode;
  }
  bool dbopen = kind == SQLI_CONN_DEFAULT || kind == SQLI_CONN_DBOPEN;
  SqliConnection* c = sqli_conn_make(dbopen ? nullptr : target, dbopen ? nullptr : name, credentials, concurrent);
  if (c == nullptr) return sqlca.sqlcode;
  if (sqli_conn_claim(c) != 0) {
    sqli_conn_free(c);
    return sqlca.sqlcode;
  }
  int32_t saved_mode = g_mode, saved_kind = g_default_kind;
  switch (kind) {
    case SQLI_CONN_NAMED:
      g_mode = 2;
      c->next = g_list;
      g_list = c;
      break;
    case SQLI_CONN_DEFAULT:
      g_default = c;
      g_mode = 2;
      g_default_kind = 2;
      break;
    case SQLI_CONN_DBOPEN:
      g_default = c;
      g_mode = 1;
      g_default_kind = 1;
      break;
    default:  // tape utility
      g_mode = 2;
      g_default_kind = 2;
      g_default = rt->current;
      c->next = g_list;
      g_list = c;
      break;
  }
  return OpenSteps(rt, c, kind, previous, saved_mode, saved_kind);
}

int32_t sqli_default_open(void) { return sqli_connect_open(nullptr, SQLI_CONN_DBOPEN, nullptr, nullptr, nullptr, 1); }

int32_t sqli_conn_ensure(void) {
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  rnlsinit();
  if (g_mode == 2 || (g_mode == 1 && sqli_get_thread_connected())) {
    if (rt->current == nullptr) {
      Fail(g_mode == 2 ? -1811 : -1803);
      return sqlca.sqlcode;
    }
    return 0;
  }
  sqli_sqlca_reset(rt);
  if (sqli_asf_start() != 0) return sqlca.sqlcode;
  sqli_flag_connstmt(rt);
  SqliConnection* previous = rt->current;
  if (previous != nullptr && previous->concurrent == 0 && sqli_conn_leave_check(previous, -1801) != 0) {
    return sqlca.sqlcode;
  }
  if (g_mode == 2) {
    Fail(-1811);
    return sqlca.sqlcode;
  }
  if (g_default != nullptr) {
    Fail(-1802);
    return sqlca.sqlcode;
  }
  SqliConnection* c = sqli_conn_make(nullptr, nullptr, nullptr, 1);
  if (c == nullptr) return sqlca.sqlcode;
  int32_t saved_mode = g_mode, saved_kind = g_default_kind;
  g_default = c;
  g_mode = 1;
  g_default_kind = 1;
  c->in_use = 1;
  return OpenSteps(rt, c, SQLI_CONN_DBOPEN, previous, saved_mode, saved_kind);
}

int32_t sqli_connect_close(int32_t kind, const char* name, int32_t mode, int32_t skip_reset) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  if (!skip_reset) sqli_sqlca_reset(rt);
  const char* target = nullptr;
  char kept_target[1025] = "", kept_name[256] = "";
  auto keep = [&](const SqliConnection* c) {
    if (c->target != nullptr) {
      std::strncpy(kept_target, c->target, 1024);
      target = kept_target;
    }
    if (c->name != nullptr) std::strncpy(kept_name, c->name, 255);
  };
  switch (kind) {
    case SQLI_CONN_DEFAULT:
    case SQLI_CONN_DBOPEN: {
      SqliConnection* c = g_default;
      if (c == nullptr) {
        Fail(-1803);
        return sqlca.sqlcode;
      }
      if (rt->current != c && sqli_conn_claim(c) != 0) return sqlca.sqlcode;
      keep(c);
      if (CloseOne(rt, c, mode) == -2) return sqlca.sqlcode;
      g_default = nullptr;
      Drop(rt, c);
      break;
    }
    case SQLI_CONN_ALL: {
      if (g_default == nullptr && g_list == nullptr) {
        if (mode == 0) Fail(-1807);
        return sqlca.sqlcode;
      }
      if (mode == 0) {
        SqliConnection* all[2] = {g_default, nullptr};
        for (int pass = 0; pass < 2; ++pass) {
          for (SqliConnection* c = pass == 0 ? all[0] : g_list; c != nullptr; c = pass == 0 ? nullptr : c->next) {
            bool current = rt->current == c;
            if (!current && sqli_conn_claim(c) != 0) return sqlca.sqlcode;
            if (c == g_default) sqli_set_names(nullptr, nullptr);
            else sqli_set_names(c->server_name, c->name);
            if ((current || c->concurrent) && sqli_conn_leave_check(c, -1800) != 0) {
              if (!current && c->dormant == 1) c->in_use = 0;
              return sqlca.sqlcode;
            }
            if (!current && c->dormant == 1) c->in_use = 0;
          }
        }
      }
      for (SqliConnection* c = g_list; c != nullptr;) {
        SqliConnection* next = c->next;
        sqli_set_names(c->server_name, c->name);
        if (sqli_conn_close(c, mode) != 0) Fail(-1810);
        if (rt->current == c) rt->current = nullptr;
        sqli_conn_free(c);
        c = next;
      }
      g_list = nullptr;
      if (g_default != nullptr) {
        sqli_set_names(nullptr, nullptr);
        if (sqli_conn_close(g_default, mode) != 0) Fail(-1810);
        Drop(rt, g_default);
        g_default = nullptr;
      }
      rt->current = nullptr;
      g_mode = 0;
      break;
    }
    case SQLI_CONN_CURRENT: {
      SqliConnection* c = rt->current;
      if (c == nullptr) {
        Fail(-1803);
        return sqlca.sqlcode;
      }
      keep(c);
      if (CloseOne(rt, c, mode) == -2) return sqlca.sqlcode;
      if (g_default == c) {
        g_default = nullptr;
        Drop(rt, c);
      } else {
        if (rt->current == c) rt->current = nullptr;
        if (sqli_conn_unlink(c) != 0) {
          Fail(-1812);
          sqli_conn_free(c);
        }
      }
      rt->current = nullptr;
      break;
    }
    case SQLI_CONN_NAMED:
    case SQLI_CONN_TAPE: {
      if (name != nullptr && name[0] == '\0') {
        Fail(-1805);
        return sqlca.sqlcode;
      }
      if (name == nullptr && kind == SQLI_CONN_TAPE) name = SQLI_TAPE_NAME;
      SqliConnection* c = sqli_conn_find(name);
      if (c == nullptr) {
        Fail(-1803);
        return sqlca.sqlcode;
      }
      if (rt->current != c && sqli_conn_claim(c) != 0) return sqlca.sqlcode;
      keep(c);
      if (CloseOne(rt, c, mode) == -2) return sqlca.sqlcode;
      if (rt->current == c) rt->current = nullptr;
      if (sqli_conn_unlink(c) != 0) {
        Fail(-1812);
        sqli_conn_free(c);
      }
      break;
    }
    default:
      Fail(-1812);
      return sqlca.sqlcode;
  }
  Afterwards(rt, kind, target, kept_name);
  return sqlca.sqlcode;
}

int32_t sqli_connect_set(int32_t kind, const char* name, int32_t dormant) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  sqli_flag_connstmt(rt);
  SqliConnection* target = nullptr;
  switch (kind) {
    case SQLI_CONN_NAMED:
      if (name == nullptr || name[0] == '\0') {
        Fail(-1805);
        return sqlca.sqlcode;
      }
      target = sqli_conn_find(name);
      break;
    case SQLI_CONN_DEFAULT:
      target = g_default;
      break;
    case SQLI_CONN_CURRENT:
      target = rt->current;
      break;
    default:
      Fail(-1812);
      return sqlca.sqlcode;
  }
  if (target == nullptr) {
    Fail(-1803);
    return sqlca.sqlcode;
  }
  SqliConnection* current = rt->current;
  if (dormant) {
    if (target != current) {
      Fail(-1813);
      return sqlca.sqlcode;
    }
    if (target->concurrent == 0 && sqli_conn_leave_check(target, -1800) != 0) return sqlca.sqlcode;
    if (target->dormant == 1) target->in_use = 0;
    sqli_conn_make_current(nullptr);
    sqli_diag_update(rt);
    sqli_reply_warnings(0);
  } else {
    if (current != nullptr && current->concurrent == 0) {
      if (target != current && sqli_conn_claim(target) != 0) return sqlca.sqlcode;
      if (sqli_conn_leave_check(current, -1801) != 0) {
        if (target != current) target->in_use = 0;
        return sqlca.sqlcode;
      }
    } else if (target != current && sqli_conn_claim(target) != 0) {
      return sqlca.sqlcode;
    }
    if (current != nullptr && current != target && current->dormant == 1) current->in_use = 0;
    sqli_conn_make_current(target);
    if (kind == SQLI_CONN_NAMED) sqli_set_names(target->server_name, target->name);
    else sqli_set_names(nullptr, nullptr);
    sqli_diag_update(rt);
    static const int32_t kBits[6] = {1, 2, 4, 8, 0x20, 0x40};
    int32_t bits = 16;
    for (int i = 0; i < 6; ++i) {
      if (target->props[i]) bits |= kBits[i];
    }
    sqli_reply_warnings(bits);
    rsetansi(target->props[1]);
    rsetmode(static_cast<int32_t>(target->stream->float_format));
  }
  sqdbg_connect(113, target->target, target->name, static_cast<int16_t>(kind));
  return sqlca.sqlcode;
}

int32_t sqlstart(void) {
  if (sqli_default_open() != 0) return sqlca.sqlcode;
  sqli_set_thread_connected(1);
  sqli_reply_loop(nullptr, 0);
  return sqlca.sqlcode;
}

int32_t sqlbreak(void) {
  SqliRuntime* rt = sqli_runtime_get();
  sqlca.sqlcode = 0;
  sqli_status.code = 0;
  std::strcpy(sqli_status.sqlstate, "00000");
  if (rt == nullptr || rt->current == nullptr) return 1;
  sqli_conn_break(rt->current->stream->cb.assoc);
  return sqli_status.code;
}

int32_t sqldetach(void) {
  int32_t rc = sqli_connect_close(SQLI_CONN_CURRENT, nullptr, 1, 0);
  if (rc == 0) sqli_set_thread_connected(0);
  return sqli_status.code;
}

int32_t sqlexit(void) {
  int32_t rc = sqli_connect_close(SQLI_CONN_ALL, nullptr, 2, 0);
  if (rc == 0) sqli_set_thread_connected(0);
  return rc;
}

int32_t sqli_connect_close_wrap(void) { return sqli_connect_close(SQLI_CONN_CURRENT, nullptr, 1, 1); }

int32_t sqlbreakcallback(int32_t timeout, SqliBreakCallback callback) {
  SqliRuntime* rt = sqli_runtime_get();
  sqlca.sqlcode = 0;
  sqli_status.code = 0;
  std::strcpy(sqli_status.sqlstate, "00000");
  int32_t code = 0;
  if (rt == nullptr || rt->current == nullptr) code = -437;
  else if (timeout == -1 && callback != nullptr) code = -438;
  else if (timeout < -1) code = -435;
  else if (timeout >= 0 && callback == nullptr) code = -436;
  if (code != 0) {
    Fail(code);
    return code;
  }
  rt->current->break_timeout = timeout;
  rt->current->break_callback = callback;
  return 0;
}

int32_t sqlsignal(int32_t, void*, int32_t mode) {
  // 1 suspends the break handler of the connectivity layer, 2 restores it.
  if (mode != 0) asf_break_control(mode);
  return 0;
}

char* zel_getcur_conn_name(void) {
  SqliRuntime* rt = sqli_runtime_get();
  return rt != nullptr && rt->current != nullptr ? rt->current->name : nullptr;
}

int32_t zel_xactevent(SqliXactEvent* out) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliConnection* c = rt != nullptr ? rt->current : nullptr;
  if (c != nullptr && !SQLI_CAP_XTYPES(c)) return -554;
  if (c == nullptr || out == nullptr || c->xact_event < 0) return -1822;
  out->event = c->xact_event;
  out->value = c->xact_value;
  c->xact_event = -1;
  sqli_diag_update(rt);
  return 0;
}

SqliConnUser* zel_alloc_conn_user(const char* user, const char* password) {
  auto* u = static_cast<SqliConnUser*>(std::calloc(1, sizeof(SqliConnUser)));
  auto* pair = static_cast<SqliUserPair*>(std::calloc(1, sizeof(SqliUserPair)));
  if (u == nullptr || pair == nullptr) {
    std::free(u);
    std::free(pair);
    if (sqli_runtime_get() != nullptr) Fail(-406);
    return nullptr;
  }
  u->kind = 1;
  pair->user = const_cast<char*>(user);
  pair->password = const_cast<char*>(password);
  u->pair = pair;
  return u;
}

void zel_free_conn_user(SqliConnUser** user) {
  if (user == nullptr || *user == nullptr) return;
  std::free((*user)->pair);
  std::free(*user);
  *user = nullptr;
}

SqliConnUserCred* zel_alloc_conn_cred(void* credential) {
  auto* c = static_cast<SqliConnUserCred*>(std::calloc(1, sizeof(SqliConnUserCred)));
  if (c == nullptr) {
    if (sqli_runtime_get() != nullptr) Fail(-406);
    return nullptr;
  }
  c->kind = 2;
  c->credential = credential;
  return c;
}

void zel_free_conn_cred(SqliConnUserCred** cred) {
  if (cred == nullptr || *cred == nullptr) return;
  std::free(*cred);
  *cred = nullptr;
}

int32_t sqli_setdormant(int32_t value) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  g_dormant = static_cast<int16_t>(value);
  if (rt->current != nullptr) rt->current->dormant = static_cast<int16_t>(value);
  return 0;
}

int32_t zel_isuvq(void) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr || rt->current == nullptr) return -1;
  return SQLI_CAP_XTYPES(rt->current) ? 9 : 0;
}

int32_t zel_getserowner(char* buffer) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  if (sqli_conn_ensure() != 0) return -1;
  SqliConnection* c = rt->current;
  if (!SQLI_CAP_XTYPES(c)) {
    std::strcpy(buffer, "tarvelon");
    return 0;
  }
  std::memset(buffer, 0, 129);
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(109, s);
  sqli_msg_put_short(12, s);
  rt->outstanding = 1;
  sqli_msg_flush(s);
  int32_t code = sqli_msg_get_short(s);
  if (code != 109) {
    rt->outstanding = 0;
    sqli_reply_dispatch(nullptr, code);
    if (sqlca.sqlcode >= 0) sqli_reply_protocol_error(code);
    return -1;
  }
  int32_t n = sqli_msg_get_ushort(s);
  int32_t keep = n < 128 ? n : 128;
  sqli_msg_get_bytes(buffer, keep, s);
  int32_t rest = n - keep + (n & 1);
  if (rest == 1) sqli_msg_get_byte(s);
  else if (rest > 0) sqli_msg_skip(rest, s);
  code = sqli_msg_get_short(s);
  rt->outstanding = 0;
  if (code != 12) {
    sqli_reply_protocol_error(code);
    return -1;
  }
  return 0;
}

int32_t zel_pam_callback(SqliPamCallback callback) {
  SqliRuntime* rt = sqli_runtime_get();
  sqlca.sqlcode = 0;
  sqli_status.code = 0;
  if (rt != nullptr) rt->pam_callback = callback;
  return 0;
}

int32_t sqli_conn_redirect(void) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr || !rt->redirect_pending) return 0;
  rt->redirect_pending = 0;
  AsfStartRequest& rec = rt->redirect;
  const char* server = rec.server;
  const bool has_server = server != nullptr && server[0] != '\0';
  const bool implicit = g_mode == 1 || sqli_conn_is_implicit();
  if (has_server && !implicit) {
    // An explicit connection stays with the server it named.
    SetErrm("@" + std::string(server));
    Fail(-1808);
    return sqlca.sqlcode;
  }
  std::string target = rec.option_arg != nullptr ? rec.option_arg : "";
  if (has_server) target += "@" + std::string(server);
  if (implicit && rec.kind != 5) return FollowRedirect(rt, target);
  if (implicit) {
    // A tape-utility redirection only touches the new server.
    SqliConnection* probe = sqli_conn_make(target.c_str(), nullptr, nullptr, 1);
    if (probe == nullptr) return sqlca.sqlcode;
    if (sqli_asf_connect(probe, &rec, 1, rt, 0, 0) == 0) sqli_conn_release(probe->stream->cb.assoc, 2);
    sqli_conn_free(probe);
    return sqlca.sqlcode;
  }
  // Elsewhere the program is told which server the database moved to:
  // the server is reached, asked for its name and let go again.
  rec.kind = 2;
  SqliConnection* probe = sqli_conn_make(target.c_str(), nullptr, nullptr, 1);
  if (probe == nullptr) return sqlca.sqlcode;
  if (sqli_asf_connect(probe, &rec, 1, rt, 0, 0) != 0) {
    sqli_conn_free(probe);
    return sqlca.sqlcode;
  }
  int info = sqli_conn_server_info(probe);
  int released = sqli_conn_release(probe->stream->cb.assoc, 2);
  probe->stream->cb.assoc = nullptr;
  if (info == 0 && released == 0) {
    SetErrm(probe->server_name != nullptr ? probe->server_name : "");
    Fail(-1808);
  }
  sqli_conn_free(probe);
  return sqlca.sqlcode;
}

int sqli_conn_is_implicit(void) {
  SqliRuntime* rt = sqli_runtime_get();
  return rt != nullptr && rt->current != nullptr && rt->current == g_default && g_default_kind == 1;
}

TV_END_C
