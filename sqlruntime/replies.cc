// The reply loop and the replies that end, fail or leave an exchange:
// end (12), error (13), server exit (56), redirect (86) and transaction
// event (99).
//
// Error body: int16 code, int16 secondary, text offset (int32 with the
// long-text capability, else int16), int16 parameter length and the
// padded parameter (both left out for -368); then, only when the sqlcode
// is 0 or -937 afterwards, 5 bytes of SQLSTATE and a pad, a uint16
// message length and the padded message.
#include <cstring>

#include "base/env.h"
#include "base/msgfile.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/runtime.h"

namespace {

constexpr int32_t kParamRoom = 500;
constexpr int32_t kMessageRoom = 8192;

thread_local int t_ansiwarn_unset = -1;

// A read of the stream failed: the connectivity error is in the sqlca
// and every further read gives all-ones bytes.
bool Failed(const SqliMessageStream* s) { return s->cb.error < 0; }

SqliMessageStream* Stream() {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr || rt->current == nullptr) return nullptr;
  return rt->current->stream;
}

// Reads n bytes, keeping at most room - 1 of them and a NUL in dst; the
// rest and the pad are skipped so that the stream stays in step.
void ReadBounded(char* dst, int32_t room, int32_t n, SqliMessageStream* s) {
  int32_t keep = n < room - 1 ? n : room - 1;
  if (keep < 0) keep = 0;
  sqli_msg_get_bytes(dst, keep, s);
  dst[keep] = '\0';
  // The rest and the pad, byte for byte (keep may be odd).
  int32_t rest = n - keep + (n & 1);
  char scratch[128];
  while (rest > 0) {
    int32_t k = rest < 128 ? rest : 128;
    sqli_msg_get_bytes(scratch, k, s);
    rest -= k;
  }
}

void RestoreFirstError(SqliRuntime* rt) {
  if (!rt->saved_flag) return;
  const SqliSavedSqlca& v = rt->saved;
  sqlca.sqlcode = v.sqlcode;
  std::memcpy(sqlca.sqlerrm, v.sqlerrm, sizeof sqlca.sqlerrm);
  std::memcpy(sqlca.sqlerrp, v.sqlerrp, sizeof sqlca.sqlerrp);
  std::memcpy(sqlca.sqlerrd, v.sqlerrd, sizeof sqlca.sqlerrd);
  sqlca.sqlwarn = v.sqlwarn;
  sqli_status.code = v.sqlcode;
  if (rt->diag != nullptr && rt->diag->count > 0) {
    SqliDiagEntry& last = rt->diag->entries[rt->diag->count - 1];
    if (last.sqlstate[0] != '\0') {
      std::memcpy(sqli_status.sqlstate, last.sqlstate, 5);
      sqli_status.sqlstate[5] = '\0';
    }
  }
  rt->saved_flag = 0;
}

void ServerExit(SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  sqli_msg_put_short(SQLI_REPLY_EXIT, s);
  sqli_msg_flush(s);
  if (rt != nullptr && rt->current != nullptr && !SQLI_CAP_OPTOFC(rt->current)) rt->current->db_open = 0;
  sqli_connect_close(SQLI_CONN_CURRENT, nullptr, 1, 1);
}

}  // namespace

TV_BEGIN_C

int sqli_dbansiwarn_unset(void) { return t_ansiwarn_unset == 1 ? 1 : 0; }

void sqli_reply_warnings(int32_t bits) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return;
  if (t_ansiwarn_unset < 0) {
    t_ansiwarn_unset = ggetenv_idx("DBANSIWARN", -1) == nullptr ? 1 : 0;
    rt->dbansiwarn_pending = 0;
  }
  if (t_ansiwarn_unset == 1) bits &= ~0x10;
  bits &= 0xFF;
  if (bits == 0) return;
  sqli_warn_server(bits, rt);
  sqlca.sqlwarn.sqlwarn0 = 'W';
  char* w = &sqlca.sqlwarn.sqlwarn1;
  for (int i = 0; i < 7; ++i) {
    if (bits & (1 << i)) w[i] = 'W';
  }
}

void sqli_reply_error(SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliConnection* c = rt != nullptr ? rt->current : nullptr;
  bool long_text = c != nullptr && SQLI_CAP_LONGTEXT(c);
  int32_t code = sqli_msg_get_short(s);
  if (Failed(s)) return;
  if (code == -619) {
    sqli_msg_get_short(s);
    if (long_text) sqli_msg_get_int(s);
    else sqli_msg_get_short(s);
    int32_t n = sqli_msg_get_short(s);
    if (n > 0) sqli_msg_skip(n, s);
    return;
  }
  sqlca.sqlerrd[1] = sqli_msg_get_short(s);
  sqlca.sqlerrd[4] = long_text ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
  if (Failed(s)) return;
  if (code != -368 && rt != nullptr) {
    int32_t n = sqli_msg_get_short(s);
    if (n < 0) n = 0;
    ReadBounded(rt->message_params, kParamRoom, n, s);
    if (Failed(s)) return;
    std::strncpy(sqlca.sqlerrm, rt->message_params, 71);
    sqlca.sqlerrm[71] = '\0';
    sqli_param_from_server(rt);
  }
  if (code != 0) {
    _iqseterr(code);
  } else if (c == nullptr || !SQLI_CAP_XTYPES(c)) {
    _iqseterr(-407);
  }
  if (sqlca.sqlcode == 0 || sqlca.sqlcode == -937) {
    char state[6];
    sqli_msg_get_bytes(state, 5, s);
    state[5] = '\0';
    char pad;
    sqli_msg_get_bytes(&pad, 1, s);
    int32_t n = sqli_msg_get_ushort(s);
    static thread_local char message[kMessageRoom + 1];
    ReadBounded(message, kMessageRoom + 1, n, s);
    int32_t len = static_cast<int32_t>(std::strlen(message));
    if (len == 0) {
      int32_t full = 0;
      char text[1024];
      rgetlmsg(-1824, text, sizeof text, &full);
      std::strncpy(message, text, kMessageRoom);
      message[kMessageRoom] = '\0';
      len = static_cast<int32_t>(std::strlen(message));
    }
    sqli_diag_server_state(state, len, message);
  }
}

int sqli_reply_protocol_error(int32_t code) {
  SqliMessageStream* s = Stream();
  if (code == SQLI_REPLY_EXIT) {
    if (s != nullptr) {
      sqli_msg_put_short(SQLI_REPLY_EXIT, s);
      sqli_msg_flush(s);
    }
    sqli_connect_close_wrap();
    _iqseterr(-25582);
    return -1;
  }
  if (sqlca.sqlcode >= 0) _iqseterr(-408);
  sqli_connect_close_wrap();
  return -1;
}

int sqli_reply_dispatch(struct SqliCursor* cursor, int32_t code) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliMessageStream* s = Stream();
  if (rt == nullptr || s == nullptr) return -1;
  switch (code) {
    case SQLI_REPLY_END:
      RestoreFirstError(rt);
      return 0;
    case SQLI_REPLY_ERROR:
      sqli_reply_error(s);
      return 0;
    case SQLI_REPLY_EXIT:
      ServerExit(s);
      return 0;
    case SQLI_REPLY_REDIRECT:
      sqli_reply_redirect(s);
      return 0;
    case SQLI_REPLY_XACT_EVENT: {
      int32_t a = sqli_msg_get_short(s);
      int32_t b = sqli_msg_get_short(s);
      int32_t v = sqli_msg_get_short(s);
      rt->current->xact_event = static_cast<int32_t>((static_cast<uint32_t>(a) << 16) | (static_cast<uint32_t>(b) & 0xFFFF));
      rt->current->xact_value = static_cast<int16_t>(v);
      return 0;
    }
    case 98:
      return sqli_reply_client_file(s);
    default:
      if (sqli_reply_rows(cursor, code, s) == 0) return 0;
      return sqli_reply_protocol_error(code);
  }
}

int sqli_reply_loop(struct SqliCursor* cursor, int32_t) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliMessageStream* s = Stream();
  if (rt == nullptr || s == nullptr) return -1;
  sqli_msg_put_short(SQLI_REPLY_END, s);
  rt->outstanding = 1;
  sqli_msg_flush(s);
  int rc = 0;
  if (sqlca.sqlcode != -25594) {
    for (;;) {
      int32_t code = sqli_msg_get_short(s);
      rt->outstanding = 0;
      if (Failed(s)) {
        // The connection broke: its error stands; the connection goes.
        sqli_connect_close_wrap();
        rc = -1;
        break;
      }
      if (sqli_reply_dispatch(cursor, code) != 0) {
        rc = -1;
        break;
      }
      if (code == SQLI_REPLY_END || code == SQLI_REPLY_EXIT) break;
      if (rt->current == nullptr || rt->current->stream != s) break;
      if (Failed(s)) {
        sqli_connect_close_wrap();
        rc = -1;
        break;
      }
    }
  }
  rt->outstanding = 0;
  return rc;
}

int sqli_reply_single(void) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliMessageStream* s = Stream();
  if (rt == nullptr || s == nullptr) return -1;
  sqli_msg_put_short(SQLI_REPLY_END, s);
  rt->outstanding = 1;
  sqli_msg_flush(s);
  int32_t code = sqli_msg_get_short(s);
  while (code == SQLI_REPLY_ERROR) {
    sqli_reply_error(s);
    code = sqli_msg_get_short(s);
  }
  rt->outstanding = 0;
  if (code == SQLI_REPLY_END) {
    RestoreFirstError(rt);
    return 0;
  }
  if (code == SQLI_REPLY_EXIT) {
    ServerExit(s);
    return 0;
  }
  return sqli_reply_protocol_error(code);
}

TV_END_C
