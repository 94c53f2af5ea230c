// The runtime record, the sqlca and its reset, and the two ways a failure
// is recorded: _iqseterr for the runtime's own codes and
// sqli_set_asf_error for the connectivity layer's.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/msgfile.h"
#include "base/thread_state.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C
TV_API Sqlca sqlca;
SqliStatusRecord sqli_status;
TV_END_C

namespace {

SqliRuntime* g_runtime = nullptr;

void ClearWarnings() { std::memset(&sqlca.sqlwarn, ' ', sizeof sqlca.sqlwarn); }

void CopyCut(char* dst, size_t size, const char* src) {
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  std::strncpy(dst, src, size - 1);
  dst[size - 1] = '\0';
}

// Records the secondary code in sqlerrd[1] as a second exception.
void RecordSecondary(SqliRuntime* rt) {
  if (sqlca.sqlerrd[1] == 0) return;
  int32_t code = sqli_status.code;
  sqli_status.code = sqlca.sqlerrd[1];
  sqli_diag_update(rt);
  sqli_status.code = code;
}

// The sqlca on standard error, then a flush.
void DumpSqlca() {
  std::fprintf(stderr, "sqlca:\n");
  std::fprintf(stderr, " sqlcode:%d\n", sqlca.sqlcode);
  std::fprintf(stderr, " sqlerrm: '%s'\n", sqlca.sqlerrm);
  char errp[9];
  std::memcpy(errp, sqlca.sqlerrp, 8);
  errp[8] = '\0';
  std::fprintf(stderr, " sqlerrp: '%s'\n", errp);
  std::fprintf(stderr, " sqlerrd:\n");
  std::fprintf(stderr, " sqlerrd(1)=%d\n", sqlca.sqlerrd[0]);
  for (int i = 1; i < 6; ++i) std::fprintf(stderr, "        (%d)=%d\n", i + 1, sqlca.sqlerrd[i]);
  const char* w = &sqlca.sqlwarn.sqlwarn0;
  std::fprintf(stderr, " sqlwarn.sqlwarn0:%c\n", w[0]);
  for (int i = 1; i < 8; ++i) std::fprintf(stderr, "        .sqlwarn%d:%c\n", i, w[i]);
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
}

}  // namespace

TV_BEGIN_C

void sqli_runtime_init(SqliRuntime* rt) {
  std::memset(rt, 0, sizeof *rt);
  rt->dbansiwarn_pending = 1;
  rt->client_file_fd = -1;
  std::strcpy(sqli_status.sqlstate, "00000");
}

SqliRuntime* sqli_runtime_get(void) {
  if (g_runtime == nullptr) {
    auto* rt = static_cast<SqliRuntime*>(std::malloc(sizeof(SqliRuntime)));
    if (rt == nullptr) return nullptr;
    sqli_runtime_init(rt);
    g_runtime = rt;
    sqli_sqlca_reset(rt);
    ClientState* cs = rclientstate();
    if (rclientstatus() == -1281 || rgetinitstat() == -1280) {
      _iqseterr(rclientstatus() == -1281 ? -1281 : -1280);
      return nullptr;
    }
    if (cs == nullptr || rgetinitstat() != 0) return nullptr;
    const char* v = ggetenv_idx("ZEL_AUTOFREE", -1);
    if (v != nullptr && std::strcmp(v, "1") == 0) {
      rt->options = static_cast<uint16_t>((rt->options | SQLI_OPT_AUTOFREE) & ~SQLI_OPT_AUTOFREE_OFF);
    } else if (v != nullptr && std::strcmp(v, "0") == 0) {
      rt->options = static_cast<uint16_t>((rt->options | SQLI_OPT_AUTOFREE_OFF) & ~SQLI_OPT_AUTOFREE);
    }
    rt->options &= static_cast<uint16_t>(~SQLI_OPT_DEFPREP);
    v = ggetenv_idx("ZEL_DEFERRED_PREPARE", -1);
    if (v != nullptr && std::strcmp(v, "1") == 0) rt->options |= SQLI_OPT_DEFPREP;
    if (ggetenv_idx("BLANK_STRINGS_NOT_NULL", -1) != nullptr) rt->options |= SQLI_OPT_BLANKS_NOT_NULL;
  }
  SqliRuntime* rt = g_runtime;
  if (rt->startup_guard == 0) {
    int rc = rglinit();
    if (rc != 0) {
      rt->startup_guard = 1;
      _iqseterr(rc);
      rt->startup_guard = 0;
      return nullptr;
    }
  }
  return rt;
}

int32_t sqli_sqlca_reset(SqliRuntime* rt) {
  sqlca.sqlcode = 0;
  sqli_status.code = 0;
  sqlca.sqlerrd[1] = 0;
  ClearWarnings();
  sqlca.sqlerrm[0] = '\0';
  if (rt == nullptr) return 0;
  sqli_diag_clear(rt);
  if (rt->outstanding != 0) _iqseterr(-439);
  if (!(rt->options & SQLI_OPT_RESET_DONE)) {
    rt->saved_flag = 0;
    rt->message_params[0] = '\0';
  }
  rt->options |= SQLI_OPT_RESET_DONE;
  return sqli_status.code;
}

void _iqseterr(int32_t code) {
  SqliRuntime* rt = g_runtime;
  if (rt == nullptr) return;
  if (code == 0 && (rt->options & SQLI_OPT_RESET_DONE)) return;
  rt->options &= static_cast<uint16_t>(~SQLI_OPT_RESET_DONE);
  SqliConnection* c = rt->current;
  if (c != nullptr && c->optmsg != 0 && rt->outstanding == 0 && c->stream != nullptr &&
      c->stream->unsent_start != nullptr && c->stream->unsent_start < c->stream->write_cursor) {
    // Chained requests wait unsent: their replies come first.
    c->optmsg = 0;
    sqli_reply_loop(nullptr, 0);
    c->optmsg = 1;
    if (sqli_status.code != 0) return;
  }
  sqlca.sqlcode = code;
  sqli_status.code = code;
  sqli_diag_update(rt);
  sqli_sqlstate_set(rt);
  RecordSecondary(rt);
  if (!rt->saved_flag) sqli_sqlca_save(&sqlca, rt);
}

void sqli_set_asf_error(int32_t code, int32_t secondary, const char* text) {
  SqliRuntime* rt = g_runtime;
  if (rt == nullptr) return;
  if (text != nullptr) {
    std::strncpy(sqlca.sqlerrm, text, 71);
    sqlca.sqlerrm[71] = '\0';
  } else if (code == 0 && secondary == 0 && (rt->options & SQLI_OPT_RESET_DONE)) {
    return;
  }
  sqlca.sqlcode = code;
  sqli_status.code = code;
  sqli_diag_update(rt);
  sqli_sqlstate_set(rt);
  sqlca.sqlerrd[1] = static_cast<int16_t>(secondary);
  RecordSecondary(rt);
  rt->options &= static_cast<uint16_t>(~SQLI_OPT_RESET_DONE);
}

char* zel_get_msg_param(void) { return g_runtime != nullptr ? g_runtime->message_params : nullptr; }

void sqli_sqlca_save(const Sqlca* ca, SqliRuntime* rt) {
  SqliSavedSqlca& s = rt->saved;
  s.sqlcode = ca->sqlcode;
  std::memcpy(s.sqlerrm, ca->sqlerrm, sizeof s.sqlerrm);
  std::memcpy(s.sqlerrp, ca->sqlerrp, sizeof s.sqlerrp);
  std::memcpy(s.sqlerrd, ca->sqlerrd, sizeof s.sqlerrd);
  s.sqlwarn = ca->sqlwarn;
  if (rt->diag != nullptr && rt->diag->count > 0 && sqli_status.sqlstate[0] != '*') {
    std::memcpy(rt->diag->entries[rt->diag->count - 1].sqlstate, sqli_status.sqlstate, 6);
  }
  rt->saved_flag = 1;
}

void sqli_sqlca_dump(const char* heading, int32_t os_error) {
  std::fprintf(stderr, "\n%s\n", heading != nullptr ? heading : "");
  std::fprintf(stderr, "oserrno: %d\n", os_error);
  DumpSqlca();
}

void sqli_stop_whenever(void) {
  std::fprintf(stderr, "\n");
  std::fprintf(stderr, "Program stopped by WHENEVER STOP\n");
  DumpSqlca();
}

void sqli_set_names(const char* server, const char* connection) {
  if (g_runtime == nullptr) return;
  CopyCut(g_runtime->server_name, sizeof g_runtime->server_name, server);
  CopyCut(g_runtime->connection_name, sizeof g_runtime->connection_name, connection);
}

void sqli_flag_dbstmt(SqliRuntime* rt) { rt->options |= SQLI_OPT_DBSTMT; }
void sqli_flag_revoke(SqliRuntime* rt) { rt->options |= SQLI_OPT_REVOKE; }
void sqli_flag_connstmt(SqliRuntime* rt) { rt->connection_statement = 1; }

void* sqli_buf_renew(void* old, int32_t size) {
  std::free(old);
  return std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
}

void* sqli_buf_ensure(void* buffer, int32_t current, int32_t wanted) {
  if (current >= wanted) {
    if (buffer == nullptr) buffer = std::malloc(current > 0 ? static_cast<size_t>(current) : 1);
    return buffer;
  }
  std::free(buffer);
  return std::malloc(wanted > 0 ? static_cast<size_t>(wanted) : 1);
}

int32_t sqli_msg_subst(int32_t number, char* out, const char* param) {
  char text[1024];
  if (rgetlmsg(number, text, sizeof text, nullptr) < 0 && text[0] == '\0') {
    out[0] = '\0';
    return -1;
  }
  const size_t kMax = 360;
  size_t o = 0;
  bool done = false;
  const char* p = text;
  while (*p != '\0' && o < kMax - 1) {
    if (!done && p[0] == '%' && p[1] != '\0') {
      done = true;
      p += 2;
      for (const char* q = param != nullptr ? param : ""; *q != '\0' && o < kMax - 1;) {
        // Keep whole characters of a multibyte parameter.
        int n = 1;
        if (!rgl_single_byte()) {
          int blank = 0;
          int32_t m = rgl_mbchar(q, static_cast<int32_t>(std::strlen(q)), &blank);
          n = m > 0 ? m : 1;
        }
        if (o + static_cast<size_t>(n) > kMax - 1) break;
        std::memcpy(out + o, q, static_cast<size_t>(n));
        o += static_cast<size_t>(n);
        q += n;
      }
      continue;
    }
    out[o++] = *p++;
  }
  out[o] = '\0';
  return 0;
}

int32_t sqli_host_convert(const void* src, int32_t src_type, int32_t src_len, void* dst,
                          int32_t dst_type, int32_t dst_len) {
  if (src_type == -1 || src_type >= 200 || dst_type == -1 || dst_type >= 200) return -486;
  SqlValue v;
  std::memset(&v, 0, sizeof v);
  if (rhosttoval(const_cast<void*>(src), src_type, &v, src_len, nullptr) != 0) return -486;
  int16_t ind = 0;
  return rvaltohost(&v, dst, dst_type, dst_len, &ind);
}

TV_END_C
