// Request builders (see requests.h for the bodies).
#include "sqlruntime/requests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/cvt.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_mbchar.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/replies.h"

namespace {

SqliConnection* Conn() {
  SqliRuntime* rt = sqli_runtime_get();
  return rt != nullptr ? rt->current : nullptr;
}

bool LongText() {
  SqliConnection* c = Conn();
  return c != nullptr && SQLI_CAP_LONGTEXT(c);
}

GlConverter* ToServer() {
  ClientLocaleState* ls = rgllocstate();
  return ls != nullptr ? ls->client_to_db : nullptr;
}

// Converts n bytes of text into the server's code set in the runtime's
// growable text buffer: the converted length, or -1 with the locale error
// recorded. An empty text converts to nothing.
int32_t ToServerText(GlConverter* cv, const char* text, int32_t n, SqliRuntime* rt, const char** out) {
  *out = text;
  if (n == 0) return 0;
  CvtGrowBuf buf{rt->text_buffer_size, reinterpret_cast<char*>(rt->text_buffer)};
  int32_t written = cvt_togrowbuf(cv, text, &n, &buf);
  rt->text_buffer = reinterpret_cast<unsigned char*>(buf.data);
  rt->text_buffer_size = buf.size;
  if (written < 0) {
    _iqseterr(rgetglerror());
    return -1;
  }
  *out = buf.data;
  return written;
}

}  // namespace

TV_BEGIN_C

SqliMessageStream* sqli_cur_stream(void) {
  SqliConnection* c = Conn();
  return c != nullptr ? c->stream : nullptr;
}

int sqli_msg_end(SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  sqli_msg_put_short(SQLI_REQ_EOM, s);
  int rc = sqli_msg_flush(s);
  if (rt != nullptr) rt->outstanding = 1;
  return rc;
}

void sqli_req_code(int32_t code) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s != nullptr) sqli_msg_put_short(code, s);
}

void sqli_req_stmt_id(int32_t id, SqliRuntime*) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return;
  sqli_msg_put_short(SQLI_REQ_STMT_ID, s);
  sqli_msg_put_short(id, s);
}

void sqli_text_len_put(int32_t length, SqliMessageStream* s) {
  if (LongText()) sqli_msg_put_int(length, s);
  else sqli_msg_put_short(length, s);
}

int32_t sqli_text_len_get(SqliMessageStream* s) {
  return LongText() ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
}

int32_t sqli_req_text(const char* const* pieces, int32_t params, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  if (rt == nullptr) rt = sqli_runtime_get();
  GlConverter* cv = ToServer();
  bool long_text = LongText();
  int64_t total = 0;
  // Lengths count in the server's code set; a piece that cannot be
  // converted stops the request before anything is written.
  for (const char* const* p = pieces; p != nullptr && *p != nullptr; ++p) {
    size_t raw = std::strlen(*p);
    if (raw > INT32_MAX) {
      _iqseterr(-460);
      return -460;
    }
    int64_t n = static_cast<int64_t>(raw);
    if (cv != nullptr) {
      const char* converted = nullptr;
      n = ToServerText(cv, *p, static_cast<int32_t>(raw), rt, &converted);
      if (n < 0) return sqli_status.code;
    }
    if (!long_text && n > 65535) {
      _iqseterr(-460);
      return -460;
    }
    total += n;
  }
  if ((!long_text && total > 65535) || total > INT32_MAX) {
    _iqseterr(-460);
    return -460;
  }
  sqli_msg_put_short(SQLI_REQ_TEXT, s);
  sqli_msg_put_short(params, s);
  sqli_text_len_put(static_cast<int32_t>(total), s);
  for (const char* const* p = pieces; p != nullptr && *p != nullptr; ++p) {
    int32_t n = static_cast<int32_t>(std::strlen(*p));
    const char* bytes = *p;
    if (cv != nullptr) n = ToServerText(cv, *p, n, rt, &bytes);
    if (n > 0) sqli_msg_put_bytes(bytes, n, s);
  }
  if (total & 1) sqli_msg_put_pad(s);
  return sqli_status.code;
}

int32_t sqli_req_prepare(const char* text, SqliRuntime* rt) {
  if (text == nullptr) {
    _iqseterr(-202);
    return -1;
  }
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  if (rt == nullptr) rt = sqli_runtime_get();
  size_t len = std::strlen(text);
  if (len > INT32_MAX) {
    _iqseterr(-460);
    return -1;
  }
  // Character by character in the client's code set: a "?" byte inside a
  // multibyte character is no marker, and a byte sequence that is no
  // character of the code set refuses the statement.
  ClientLocaleState* ls = rgllocstate();
  GlLocale* loc = ls != nullptr ? ls->client : nullptr;
  int32_t marks = 0;
  for (size_t i = 0; i < len;) {
    int32_t k = loc != nullptr ? gl_full_mblen(loc, text + i, static_cast<int32_t>(len - i)) : 1;
    if (k <= 0) {
      _iqseterr(-202);
      return -1;
    }
    if (k == 1 && text[i] == '?') ++marks;
    i += static_cast<size_t>(k);
  }
  while (len > 0 && text[len - 1] == ' ') --len;
  const char* bytes = text;
  int32_t n = static_cast<int32_t>(len);
  GlConverter* cv = ToServer();
  if (cv != nullptr) {
    n = ToServerText(cv, text, n, rt, &bytes);
    if (n < 0) return -1;
  }
  if (!LongText() && n >= 65536) {
    _iqseterr(-460);
    return -1;
  }
  sqli_msg_put_short(SQLI_REQ_PREPARE, s);
  sqli_msg_put_short(marks, s);
  sqli_text_len_put(n, s);
  if (n > 0) sqli_msg_put_bytes(bytes, n, s);
  if (n & 1) sqli_msg_put_pad(s);
  return 0;
}

void sqli_req_cursor_name(const SqliCursor* c, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr || c == nullptr || c->name == nullptr) return;
  if (rt == nullptr) rt = sqli_runtime_get();
  const char* bytes = c->name;
  int32_t n = static_cast<int32_t>(std::strlen(c->name));
  GlConverter* cv = ToServer();
  if (cv != nullptr) {
    int32_t converted = ToServerText(cv, c->name, n, rt, &bytes);
    if (converted < 0) return;
    // A name keeps at most 128 bytes in the server's code set, cut
    // before a character that would not fit whole.
    n = converted;
    if (n > 128) {
      ClientLocaleState* ls = rgllocstate();
      GlLocale* db = ls != nullptr ? ls->database : nullptr;
      int32_t kept = 0;
      while (kept < 128) {
        int32_t k = db != nullptr ? gl_full_mblen(db, bytes + kept, n - kept) : 1;
        if (k <= 0 || kept + k > 128) break;
        kept += k;
      }
      n = kept;
    }
  }
  sqli_msg_put_short(SQLI_REQ_CURSOR_NAME, s);
  sqli_msg_put_string(bytes, n, s);
}

static void PutFetchSize(int32_t size, SqliMessageStream* s) {
  SqliConnection* c = Conn();
  if (c != nullptr && SQLI_CAP(c, 7, 0x01)) sqli_msg_put_int(size, s);
  else sqli_msg_put_short(size, s);
  if (c != nullptr && (c->caps[1] & 0xC0) != 0) sqli_msg_put_short(0, s);
}

void sqli_req_fetch(int32_t size) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return;
  sqli_msg_put_short(SQLI_REQ_FETCH, s);
  PutFetchSize(size, s);
}

void sqli_req_scroll_fetch(int32_t kind, int32_t position, int32_t size) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return;
  sqli_msg_put_short(SQLI_REQ_SCROLL_FETCH, s);
  sqli_msg_put_short(kind, s);
  sqli_msg_put_int(position, s);
  PutFetchSize(size, s);
}

int32_t sqli_req_db_open(const char* name, int32_t exclusive, SqliRuntime*) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr || name == nullptr) return -1;
  sqli_msg_put_short(SQLI_REQ_DB_OPEN, s);
  sqli_msg_put_string(name, static_cast<int32_t>(std::strlen(name)), s);
  sqli_msg_put_short(exclusive, s);
  return 0;
}

void sqli_req_coll_free(int32_t handle, SqliRuntime*) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return;
  sqli_msg_put_short(SQLI_REQ_COLL_FREE, s);
  sqli_msg_put_int(handle, s);
}

int32_t sqli_req_blob_desc(const void* desc, int32_t length, SqliRuntime*) {
  if (length != 56) return sqli_reply_protocol_error(-1);
  const auto* d = static_cast<const unsigned char*>(desc);
  // The flag word at bytes 38-39 of the stored descriptor: 0x01 null.
  if ((d[39] & 0x01) != 0) return 0;
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  sqli_msg_put_short(SQLI_REQ_BLOB_DESC, s);
  sqli_msg_put_blobdesc(desc, s);
  return 0;
}

int32_t sqli_req_text_file(const char* name, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  std::string n = name != nullptr ? name : "";
  while (!n.empty() && n.back() == ' ') n.pop_back();
  struct stat st;
  int fd = -1;
  if (n.empty() || n.size() > 260 || stat(n.c_str(), &st) != 0 || (!LongText() && st.st_size > 65535) ||
      st.st_size > INT32_MAX || (fd = open(n.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    _iqseterr(-461);
    return -461;
  }
  int32_t size = static_cast<int32_t>(st.st_size);
  sqli_msg_put_short(SQLI_REQ_TEXT, s);
  sqli_msg_put_short(0, s);
  sqli_text_len_put(size, s);
  char buf[4096];
  int32_t done = 0;
  while (done < size) {
    ssize_t got = read(fd, buf, sizeof buf < static_cast<size_t>(size - done) ? sizeof buf : static_cast<size_t>(size - done));
    if (got <= 0) {
      // The length is already on the wire: the server drops the text.
      sqli_msg_put_short(SQLI_REQ_CANCEL, s);
      close(fd);
      _iqseterr(-463);
      return -463;
    }
    sqli_msg_put_bytes(buf, static_cast<int32_t>(got), s);
    done += static_cast<int32_t>(got);
  }
  if (size & 1) sqli_msg_put_pad(s);
  if (close(fd) != 0) {
    sqli_msg_put_short(SQLI_REQ_CANCEL, s);
    _iqseterr(-462);
    return -462;
  }
  (void)rt;
  return sqli_status.code;
}

void sqli_req_put_rows(SqliCursor* c, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  SqliConnection* conn = Conn();
  if (s == nullptr || c == nullptr || c->buffer == nullptr) return;
  if (rt != nullptr) rt->outstanding = 1;
  const bool wide = SQLI_CAP(conn, 0, 0x08);
  if (c->variable_columns != 0 && c->row_index != nullptr) {
    const SqliRowIndex* x = c->row_index;
    const unsigned char* p = c->buffer;
    if (SQLI_CAP(conn, 5, 0x02)) {
      sqli_msg_put_short(133, s);
      sqli_msg_put_short(x->last + 1, s);
      for (int32_t i = 0; i <= x->last; ++i) {
        sqli_msg_put_int(x->lengths[i], s);
        sqli_msg_put_padded(p, x->lengths[i], s);
        p += x->lengths[i];
      }
    } else {
      for (int32_t i = 0; i <= x->last; ++i) {
        sqli_msg_put_short(SQLI_REQ_PUT, s);
        if (wide) sqli_msg_put_int(x->lengths[i], s);
        else sqli_msg_put_short(x->lengths[i], s);
        sqli_msg_put_short(1, s);
        sqli_msg_put_padded(p, x->lengths[i], s);
        p += x->lengths[i];
      }
    }
    return;
  }
  int32_t rows = c->row_size > 0 ? static_cast<int32_t>((c->position - c->buffer) / c->row_size) : 0;
  sqli_msg_put_short(SQLI_REQ_PUT, s);
  if (wide) sqli_msg_put_int(c->row_size, s);
  else sqli_msg_put_short(c->row_size, s);
  sqli_msg_put_short(rows, s);
  for (int32_t i = 0; i < rows; ++i) sqli_msg_put_padded(c->buffer + i * c->row_size, c->row_size, s);
}

int32_t sqli_fetch_tail(SqliRuntime* rt, SqliCursor* c) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  if (rt != nullptr) rt->outstanding = 0;
  for (;;) {
    int32_t code = sqli_msg_get_short(s);
    if (s->cb.error < 0) return -1;
    if (code == 10) {
      if (c != nullptr) c->flags |= SQLI_CF_SERVER_CLOSED;
      continue;
    }
    if (code == 13) {
      sqli_reply_error(s);
      continue;
    }
    if (code == 12) return 0;
    sqli_reply_protocol_error(code);
    return -1;
  }
}

// sqli_req_bind and sqli_check_floats are in bind.cc, sqli_req_type_check in
// typecheck.cc, beside the value packing they use.

TV_END_C
