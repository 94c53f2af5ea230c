// The message stream's buffer handling: fresh send buffers, sends,
// receives, flushes with the break callback, waiting reads, peeks and
// skips.
#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "base/osqlidbg.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"
#include "sqltypes/collection.h"

namespace {

SqliBreakCallback Callback(const SqliMessageStream* s) {
  if (s->connection == nullptr || s->outstanding == nullptr || *s->outstanding == 0) return nullptr;
  return s->connection->break_callback;
}

int32_t BreakTimeout(const SqliMessageStream* s) {
  return s->connection != nullptr ? s->connection->break_timeout : -1;
}

void RecordFailure(SqliMessageStream* s) {
  sqli_set_asf_error(s->cb.error, s->cb.os_error, s->cb.text[0] != '\0' ? s->cb.text : nullptr);
}

void ClearError(SqliMessageStream* s) {
  s->cb.error = 0;
  s->cb.os_error = 0;
  s->cb.text[0] = '\0';
}

}  // namespace

TV_BEGIN_C

int sqli_msg_new_sendbuf(SqliMessageStream* s) {
  AsfRequest r;
  asf_request_init(ASF_GETBUFFER, &r);
  if (asf_service_request(&s->cb, &r) != 0 || r.body.get_buffer.buffer == nullptr) {
    if (s->cb.error != 0) RecordFailure(s);
    s->send_buffer = nullptr;
    s->send_start = nullptr;
    s->send_room = 0;
    s->write_cursor = s->unsent_start = nullptr;
    return -1;
  }
  AsfPacketBuffer* b = r.body.get_buffer.buffer;
  s->send_buffer = b;
  s->send_start = b->position;
  s->send_room = static_cast<int32_t>(b->left);
  s->write_cursor = s->unsent_start = s->send_start;
  return 0;
}

int sqli_msg_reset(SqliMessageStream* s) {
  s->cb.mode = 1;
  s->cb.timeout_ms = -1;
  s->receive_start = s->receive_base = s->read_cursor = nullptr;
  s->receive_buffer = nullptr;
  s->receive_count = 0;
  if (s->send_buffer == nullptr && sqli_msg_new_sendbuf(s) != 0) return -1;
  s->write_cursor = s->unsent_start = s->send_start;
  s->send_room = static_cast<int32_t>(s->send_buffer->left);
  return 0;
}

int sqli_msg_send(SqliMessageStream* s) {
  AsfPacketBuffer* b = s->send_buffer;
  if (b == nullptr) return -1;
  b->position = s->unsent_start;
  b->left = static_cast<uint32_t>(s->write_cursor - s->unsent_start);
  AsfRequest r;
  asf_request_init(ASF_SEND, &r);
  r.body.data.buffer = b;
  r.body.data.value = -1;
  if (asf_service_request(&s->cb, &r) == 0) return 0;
  if (s->cb.error == ASF_TIMEOUT) {
    s->unsent_start = b->position;
    return -1;
  }
  RecordFailure(s);
  return -1;
}

int sqli_msg_receive(SqliMessageStream* s) {
  AsfRequest r;
  asf_request_init(ASF_RECV, &r);
  r.body.data.value = -1;
  if (asf_service_request(&s->cb, &r) != 0 || r.body.data.buffer == nullptr) {
    if (s->cb.error != ASF_TIMEOUT) {
      if (s->cb.error == 0) s->cb.error = -25582;
      RecordFailure(s);
    }
    return -1;
  }
  AsfPacketBuffer* b = r.body.data.buffer;
  s->receive_buffer = b;
  s->read_cursor = s->receive_start = s->receive_base = b->position;
  s->receive_count = static_cast<int32_t>(b->left);
  return 0;
}

int sqli_msg_flush(SqliMessageStream* s) {
  if (_sqdbg != 0 && s->unsent_start != nullptr) {
    sqdbg_send(s->unsent_start, static_cast<int32_t>(s->write_cursor - s->unsent_start),
               s->trace_context, s);
  }
  SqliBreakCallback cb = Callback(s);
  if (cb != nullptr) {
    cb(SQLI_BREAK_WAIT_START);
    s->cb.timeout_ms = BreakTimeout(s);
  }
  int rc = -1;
  for (;;) {
    if (sqli_msg_send(s) == 0) {
      rc = sqli_msg_new_sendbuf(s);
      break;
    }
    if (s->send_buffer == nullptr || s->cb.error != ASF_TIMEOUT) break;
    if ((cb = Callback(s)) != nullptr) {
      cb(SQLI_BREAK_TIMED_OUT);
      s->cb.timeout_ms = BreakTimeout(s);
    }
    ClearError(s);
  }
  if (rc != 0) {
    // A failed send leaves no room: later puts drop their bytes and the
    // next read fails with the error already recorded.
    s->send_room = 0;
    if (s->send_buffer != nullptr) s->write_cursor = s->unsent_start;
  }
  if ((cb = Callback(s)) != nullptr) cb(SQLI_BREAK_WAIT_END);
  s->cb.timeout_ms = -1;
  return rc;
}

void sqli_msg_put_bytes(const void* bytes, int32_t count, SqliMessageStream* s) {
  const char* p = static_cast<const char*>(bytes);
  while (count > 0) {
    if (s->send_room <= 0) {
      if (s->send_buffer == nullptr || sqli_msg_flush(s) != 0 || s->send_room <= 0) return;
    }
    int32_t n = count < s->send_room ? count : s->send_room;
    std::memcpy(s->write_cursor, p, static_cast<size_t>(n));
    s->write_cursor += n;
    s->send_room -= n;
    p += n;
    count -= n;
  }
}

void sqli_msg_put_raw(const void* bytes, int32_t count, void* s) {
  sqli_msg_put_bytes(bytes, count, static_cast<SqliMessageStream*>(s));
}

void sqli_msg_get_bytes(void* dst, int32_t count, SqliMessageStream* s) {
  // The common case: the bytes are already in the receive buffer.
  if (count > 0 && count <= s->receive_count) {
    std::memcpy(dst, s->read_cursor, static_cast<size_t>(count));
    s->read_cursor += count;
    s->receive_count -= count;
    s->cb.timeout_ms = -1;
    return;
  }
  char* out = static_cast<char*>(dst);
  bool first_wait = true;
  while (count > 0) {
    if (s->receive_count <= 0) {
      SqliBreakCallback cb = Callback(s);
      if (first_wait && cb != nullptr) {
        cb(SQLI_BREAK_WAIT_START);
        s->cb.timeout_ms = BreakTimeout(s);
      }
      first_wait = false;
      if (sqli_msg_receive(s) == 0) {
        if (_sqdbg != 0) sqdbg_recv(s->receive_count, s->read_cursor, s->trace_context, s);
        if ((cb = Callback(s)) != nullptr) {
          cb(SQLI_BREAK_WAIT_END);
          s->cb.timeout_ms = BreakTimeout(s);
        }
        continue;
      }
      if (s->cb.error == ASF_TIMEOUT) {
        if ((cb = Callback(s)) != nullptr) {
          cb(SQLI_BREAK_TIMED_OUT);
          s->cb.timeout_ms = BreakTimeout(s);
        }
        ClearError(s);
        continue;
      }
      std::memset(out, 0xFF, static_cast<size_t>(count));
      if ((cb = Callback(s)) != nullptr) cb(SQLI_BREAK_WAIT_END);
      break;
    }
    int32_t n = count < s->receive_count ? count : s->receive_count;
    std::memcpy(out, s->read_cursor, static_cast<size_t>(n));
    s->read_cursor += n;
    s->receive_count -= n;
    out += n;
    count -= n;
  }
  s->cb.timeout_ms = -1;
}

int sqli_msg_fill(void* dst, int32_t count, SqliMessageStream* s) {
  char* out = static_cast<char*>(dst);
  bool first_wait = true;
  do {
    if (s->receive_count <= 0) {
      SqliBreakCallback cb = Callback(s);
      if (first_wait && cb != nullptr) cb(SQLI_BREAK_WAIT_START);
      first_wait = false;
      if (sqli_msg_receive(s) != 0) {
        if (s->cb.error == ASF_TIMEOUT) {
          if ((cb = Callback(s)) != nullptr) cb(SQLI_BREAK_TIMED_OUT);
          return -1;
        }
        if (count > 0) std::memset(out, 0xFF, static_cast<size_t>(count));
        if ((cb = Callback(s)) != nullptr) cb(SQLI_BREAK_WAIT_END);
        return -1;
      }
      if (_sqdbg != 0) sqdbg_recv(s->receive_count, s->read_cursor, s->trace_context, s);
      if ((cb = Callback(s)) != nullptr) cb(SQLI_BREAK_WAIT_END);
    }
    int32_t n = count < s->receive_count ? count : s->receive_count;
    if (n > 0) {
      std::memcpy(out, s->read_cursor, static_cast<size_t>(n));
      s->read_cursor += n;
      s->receive_count -= n;
      out += n;
      count -= n;
    }
  } while (count > 0);
  return 0;
}

int32_t sqli_msg_peek_short(SqliMessageStream* s) {
  if (s->receive_count < 2) {
    if (s->receive_count == 1) return 0;
    int32_t saved = s->cb.timeout_ms;
    s->cb.timeout_ms = 0;
    sqli_msg_fill(nullptr, 0, s);
    s->cb.timeout_ms = saved;
    if (s->cb.error == ASF_TIMEOUT) {
      ClearError(s);
    } else if (s->cb.error != 0) {
      return -1;
    }
    if (s->receive_count < 2) return 0;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(s->read_cursor);
  return static_cast<int16_t>((p[0] << 8) | p[1]);
}

void sqli_msg_skip(int32_t count, SqliMessageStream* s) {
  char scratch[128];
  if (count <= 0) return;
  count += count & 1;
  while (count > 0) {
    int32_t n = count < 128 ? count : 128;
    sqli_msg_get_bytes(scratch, n, s);
    count -= n;
  }
}

void sqli_msg_skip_shorts(int32_t count, SqliMessageStream* s) {
  if (count > 0) sqli_msg_skip(count * 2, s);
}

int sqli_msg_skip_blobs(int32_t count, SqliMessageStream* s) {
  for (int32_t i = 0; i < count; ++i) {
    for (;;) {
      if (sqli_msg_get_short(s) != 39) return -1;
      int32_t len = sqli_msg_get_ushort(s);
      if (len == 0) break;
      sqli_msg_skip(len, s);
    }
  }
  return 0;
}

int sqli_msg_put_complex(SqliCollection* value, SqliMessageStream* s) {
  if (value == nullptr) return -1;
  // Names are 128 bytes wide for a server with long identifiers.
  const SqliConnection* c = s->connection;
  const int longid = c != nullptr && SQLI_CAP(c, 1, 0x20) ? 1 : 0;
  const int N = longid ? 128 : 18;
  // Pending changes are folded first, so that the size below holds.
  if ((value->cl_flags & COLL_ISNULL) == 0 && value->cl_log != nullptr) {
    if (int rc = zel_coll_tuple(value); rc != 0 && rc != -9977) return rc;
    if (value->cl_log != nullptr) return -9986;
  }
  const CollTypeInfo* info = value->cl_typeinfo != nullptr ? value->cl_typeinfo : value->cl_svr_typeinfo;
  int64_t entries = info != nullptr && info->ti_count > 0 ? info->ti_count : 1;
  int64_t data = value->cl_len > 0 ? value->cl_len : 0;
  int64_t room = 4 + entries * (30 + 3 * N) + 8 + N + 12 + data;
  if (room > INT32_MAX) return -9986;
  char* buf = static_cast<char*>(std::malloc(static_cast<size_t>(room)));
  if (buf == nullptr) return -406;
  int n = stcollection(value, buf, longid);
  if (n < 0) {
    std::free(buf);
    return n;
  }
  sqli_msg_put_bytes(buf, n, s);
  // The length word counts everything after it; an odd one is padded.
  if (ldlong(buf) & 1) sqli_msg_put_pad(s);
  std::free(buf);
  return 0;
}

TV_END_C
