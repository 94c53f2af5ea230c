// TEXT and BYTE transfers, locators and client files (see blobs.h).
#include "sqlruntime/blobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/cvt.h"
#include "base/fields.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"

namespace {

constexpr int32_t kChunk = 1024;
constexpr int32_t kChunkRoom = 1028;
constexpr int32_t kConvertedRoom = 4101;
// A multibyte character cut at the end of a piece is carried into the
// next one; a longer unconverted tail is a bad character.
constexpr int32_t kMaxCarried = 4;

// TEXT values cross code sets; BYTE values never do.
GlConverter* TextConverter(int32_t type, bool to_server) {
  if (type != 12) return nullptr;
  ClientLocaleState* ls = rgllocstate();
  if (ls == nullptr) return nullptr;
  return to_server ? ls->client_to_db : ls->db_to_client;
}

// Converts src[0, len) in as many pieces of the converted buffer as it
// needs, handing each to sink(bytes, n) (a nonzero result stops). Returns
// the input bytes converted: the conversion stops before a character that
// is cut at the end of the input, or that cannot be converted. -1 when the
// sink failed.
template <typename Sink>
int32_t ConvertInto(GlConverter* cv, const char* src, int32_t len, char* out, Sink sink) {
  int32_t pos = 0;
  while (pos < len) {
    const char* in = src + pos;
    int32_t in_left = len - pos;
    char* cursor = out;
    uint32_t room = kConvertedRoom;
    int32_t subst = 0;
    cv->error_number = 0;
    gl_miconv(cv, &in, &in_left, &cursor, &room, &subst);
    const int32_t consumed = static_cast<int32_t>(in - (src + pos));
    const int32_t written = kConvertedRoom - static_cast<int32_t>(room);
    if (written > 0 && sink(out, written) != 0) return -1;
    pos += consumed;
    if (consumed == 0) break;
  }
  return pos;
}

int32_t Fail(SqliLocator* loc, int32_t code) {
  loc->status = code;
  return code;
}

// The name without trailing blanks, 1 to 260 bytes; else empty.
std::string FileName(const char* name, int32_t length) {
  if (name == nullptr) return "";
  std::string n = length >= 0 ? std::string(name, strnlen(name, static_cast<size_t>(length))) : std::string(name);
  while (!n.empty() && n.back() == ' ') n.pop_back();
  if (n.empty() || n.size() > 260) return "";
  return n;
}

void Cancel(SqliMessageStream* s) { sqli_msg_put_short(SQLI_REQ_CANCEL, s); }

// Skips the remaining chunks of a value (the current one already read
// up to `left` bytes plus its pad).
void SkipChunks(SqliMessageStream* s) {
  for (;;) {
    if (sqli_msg_get_short(s) != SQLI_REQ_CHUNK || s->cb.error < 0) return;
    int32_t n = sqli_msg_get_short(s);
    if (n <= 0) return;
    sqli_msg_skip(n + (n & 1), s);
  }
}

// After the zero chunk: codes 10 any number of times, then 12 (or 13 and 12).
int32_t ReadTail(SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  for (;;) {
    int32_t code = sqli_msg_get_short(s);
    if (s->cb.error < 0) return -1;
    rt->outstanding = 0;
    if (code == 10) continue;
    if (code == 13) {
      sqli_reply_error(s);
      continue;
    }
    if (code == 12) return 0;
    sqli_reply_protocol_error(code);
    return -1;
  }
}

}  // namespace

TV_BEGIN_C

int sqli_xfer_buffers(SqliRuntime* rt) {
  if (rt->transfer_buffer == nullptr) rt->transfer_buffer = static_cast<unsigned char*>(std::malloc(kChunkRoom));
  if (rt->converted_buffer == nullptr) rt->converted_buffer = static_cast<unsigned char*>(std::malloc(4101));
  if (rt->transfer_buffer == nullptr || rt->converted_buffer == nullptr) {
    _iqseterr(-406);
    return -406;
  }
  return 0;
}

int32_t sqli_file_open(const char* name, int32_t for_reading) {
  std::string n = FileName(name, -1);
  if (n.empty()) return -466;
  int fd = for_reading ? open(n.c_str(), O_RDONLY | O_CLOEXEC)
                       : open(n.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  return fd < 0 ? -461 : fd;
}

int32_t sqli_file_close(int32_t fd) { return close(fd) == 0 ? 0 : -462; }

int32_t sqli_file_read(int32_t fd, char* buffer, int32_t length) {
  ssize_t n;
  do {
    n = read(fd, buffer, static_cast<size_t>(length));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -463 : static_cast<int32_t>(n);
}

int32_t sqli_file_write(int32_t fd, const char* buffer, int32_t length) {
  int32_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, buffer + done, static_cast<size_t>(length - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -464;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t sqli_loc_open(SqliLocator* loc, int32_t mode, int32_t size, SqliRuntime*) {
  loc->status = 0;
  loc->transferred = 0;
  switch (loc->kind) {
    case SQLI_LOC_MEMORY:
      if (mode == 2) {
        int32_t need = size;
        if ((loc->memory_flags & 0x01) && loc->buffer_size < need) {
          std::free(loc->buffer);
          loc->buffer = nullptr;
          loc->buffer_size = -1;
          loc->memory_flags &= ~0x01;
        }
        if (loc->buffer_size == -1) {
          loc->buffer = need > 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(need))) : nullptr;
          if (need > 0 && loc->buffer == nullptr) return Fail(loc, -465);
          loc->buffer_size = need;
          loc->memory_flags |= 0x01;
        } else if (loc->buffer_size < need) {
          loc->indicator = need;
          return Fail(loc, -451);
        }
      }
      if (size < 0 || (mode == 1 && loc->buffer_size < size)) {
        loc->indicator = size;
        return Fail(loc, -451);
      }
      loc->position = loc->buffer;
      break;
    case SQLI_LOC_FILE: {
      std::string n = FileName(loc->file_name, -1);
      if (n.empty()) return Fail(loc, -461);
      if (size < -1) return Fail(loc, -451);
      int flags = mode == 1 ? O_RDONLY
                            : (loc->open_flags & SQLI_LOC_APPEND) ? O_WRONLY | O_CREAT | O_APPEND
                                                                   : O_WRONLY | O_CREAT | O_TRUNC;
      loc->fd = open(n.c_str(), flags | O_CLOEXEC, 0600);
      if (loc->fd < 0) return Fail(loc, -461);
      break;
    }
    case SQLI_LOC_FD:
      if (size < -1) return Fail(loc, -451);
      if (mode == 2 && (loc->open_flags & SQLI_LOC_APPEND)) lseek(loc->fd, 0, SEEK_END);
      break;
    case SQLI_LOC_USER: {
      if (size < -1) return Fail(loc, -451);
      int rc = loc->open_fn != nullptr ? loc->open_fn(loc, mode, size, nullptr) : -1;
      if (rc < 0) {
        sqlca.sqlerrd[1] = rc;
        return Fail(loc, -452);
      }
      break;
    }
    default:
      return Fail(loc, -450);
  }
  loc->size = size;
  loc->open_flags |= mode == 1 ? SQLI_LOC_SENDING : SQLI_LOC_RECEIVING;
  return 0;
}

int32_t sqli_loc_close(SqliLocator* loc, SqliRuntime*) {
  loc->size = loc->transferred;
  loc->open_flags &= ~(SQLI_LOC_SENDING | SQLI_LOC_RECEIVING);
  if (loc->kind == SQLI_LOC_FILE) {
    int rc = close(loc->fd);
    loc->fd = -1;
    if (rc != 0) return Fail(loc, -462);
  } else if (loc->kind == SQLI_LOC_USER) {
    if (loc->close_fn == nullptr || loc->close_fn(loc, 1) < 0) return Fail(loc, -453);
  }
  return 0;
}

int32_t sqli_loc_read(SqliLocator* loc, char* buffer, int32_t length, int32_t* count) {
  if (loc->size >= 0 && length > loc->size - loc->transferred) length = loc->size - loc->transferred;
  int32_t got = 0;
  if (loc->kind == SQLI_LOC_MEMORY) {
    std::memcpy(buffer, loc->position, static_cast<size_t>(length));
    loc->position += length;
    got = length;
  } else if (loc->kind == SQLI_LOC_USER) {
    if (loc->read_fn == nullptr || loc->read_fn(loc, buffer, length, &got) < 0) return Fail(loc, -454);
  } else {
    got = sqli_file_read(loc->fd, buffer, length);
    if (got < 0) return Fail(loc, -463);
  }
  loc->transferred += got;
  *count = got;
  return 0;
}

int32_t sqli_loc_write(SqliLocator* loc, const char* buffer, int32_t length) {
  if (loc->size >= 0 && length > loc->size - loc->transferred) return Fail(loc, -451);
  if (loc->kind == SQLI_LOC_MEMORY) {
    std::memcpy(loc->position, buffer, static_cast<size_t>(length));
    loc->position += length;
  } else if (loc->kind == SQLI_LOC_USER) {
    if (loc->write_fn == nullptr || loc->write_fn(loc, buffer, length, nullptr) < 0) return Fail(loc, -455);
  } else if (sqli_file_write(loc->fd, buffer, length) < 0) {
    return Fail(loc, -464);
  }
  loc->transferred += length;
  return 0;
}

TV_END_C

// The chunk loop of a send; read(buffer, room) gives a count or a code.
// With a converter each piece goes out in the server's code set, a
// character cut by the 1,024-byte piece carried whole into the next.
template <typename Read, typename Close>
static int32_t SendChunks(SqliRuntime* rt, GlConverter* cv, Read read_fn, Close close_fn, int32_t read_fail,
                          int32_t close_fail) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  if (sqli_xfer_buffers(rt) != 0) {
    Cancel(s);
    return -406;
  }
  sqli_msg_flush(s);
  char* buf = reinterpret_cast<char*>(rt->transfer_buffer);
  char* converted = reinterpret_cast<char*>(rt->converted_buffer);
  int32_t carried = 0;
  for (;;) {
    const int32_t ask = kChunk - carried;
    int32_t n = read_fn(buf + carried, ask);
    if (n < 0) {
      Cancel(s);
      close_fn();
      return read_fail;
    }
    if (cv == nullptr) {
      sqli_msg_put_short(SQLI_REQ_CHUNK, s);
      sqli_msg_put_short(n, s);
      if (n > 0) sqli_msg_put_padded(buf, n, s);
    } else if (carried + n > 0) {
      const int32_t total = carried + n;
      const int32_t done = ConvertInto(cv, buf, total, converted, [&](const char* b, int32_t k) {
        sqli_msg_put_short(SQLI_REQ_CHUNK, s);
        sqli_msg_put_short(k, s);
        sqli_msg_put_padded(b, k, s);
        return 0;
      });
      carried = total - done;
      // At the end of the value nothing may stay unconverted.
      if (carried > kMaxCarried || (n == 0 && carried > 0)) {
        Cancel(s);
        close_fn();
        rsetglerror(RGL_E_BADCHAR);
        return RGL_E_BADCHAR;
      }
      if (carried > 0) std::memmove(buf, buf + done, static_cast<size_t>(carried));
    }
    if (n > 0 && n == ask) sqli_msg_flush(s);
    if (n == 0) {
      if (cv != nullptr) {
        sqli_msg_put_short(SQLI_REQ_CHUNK, s);
        sqli_msg_put_short(0, s);
      }
      break;
    }
  }
  if (close_fn() != 0) {
    Cancel(s);
    return close_fail;
  }
  return 0;
}

TV_BEGIN_C

int32_t sqli_send_locator(SqliLocator* loc, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  int32_t size = loc->size;
  if ((loc->kind == SQLI_LOC_FILE || loc->kind == SQLI_LOC_FD) && (loc->open_flags & SQLI_LOC_WHOLE_FILE)) size = -1;
  int32_t rc = sqli_loc_open(loc, 1, size, rt);
  if (rc != 0) {
    Cancel(s);
    _iqseterr(rc);
    return rc;
  }
  rc = SendChunks(
      rt, TextConverter(loc->type, true),
      [&](char* b, int32_t room) {
        int32_t got = 0;
        return sqli_loc_read(loc, b, room, &got) != 0 ? -1 : got;
      },
      [&]() { return sqli_loc_close(loc, rt); }, -454, -453);
  if (rc != 0) _iqseterr(rc);
  return rc;
}

int32_t sqli_send_file(const char* name, int32_t length, int32_t type, SqliRuntime* rt) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  std::string n = name == nullptr ? "" : std::string(name, length >= 0 ? strnlen(name, static_cast<size_t>(length)) : std::strlen(name));
  int fd = n.empty() || n.size() > 260 ? -1 : open(n.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Cancel(s);
    _iqseterr(-461);
    return -461;
  }
  bool closed = false;
  int32_t rc = SendChunks(
      rt, TextConverter(type, true), [&](char* b, int32_t room) { return sqli_file_read(fd, b, room); },
      [&]() {
        if (closed) return 0;
        closed = true;
        return close(fd) == 0 ? 0 : -1;
      },
      -463, -462);
  if (rc != 0) _iqseterr(rc);
  return rc;
}

int32_t sqli_send_put_blobs_typed(int32_t count, SqliValueItem* items, const int16_t* column_types,
                                  SqliRuntime* rt) {
  if (rt != nullptr) rt->outstanding = 1;
  for (int32_t i = 0; i < count; ++i) {
    SqliValueItem& v = items[i];
    // Null values went as null descriptors: no value follows for them.
    if (v.data == nullptr || sqli_input_null(&v)) continue;
    int32_t rc = 0;
    if (v.type == 113) {
      rc = sqli_send_locator(reinterpret_cast<SqliLocator*>(v.data), rt);
    } else if (v.type == 116) {
      // A file names no type of its own: the column's decides whether
      // its bytes are text to convert.
      const int32_t type = column_types != nullptr && column_types[i] == 12 ? 12 : 11;
      rc = sqli_send_file(v.data, v.length > 0 ? v.length : -1, type, rt);
    }
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t sqli_send_put_blobs(int32_t count, SqliValueItem* items, SqliRuntime* rt) {
  return sqli_send_put_blobs_typed(count, items, nullptr, rt);
}

int32_t sqli_send_blobs_typed(SqliItemList* list, const int16_t* column_types, SqliRuntime* rt) {
  if (rt == nullptr || rt->large_value_count == 0 || list == nullptr) return 0;
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  if (sqli_xfer_buffers(rt) != 0) return -406;
  sqli_msg_put_short(SQLI_REQ_BLOBS, s);
  sqli_msg_put_short(rt->large_value_count, s);
  return sqli_send_put_blobs_typed(list->count, list->items, column_types, rt);
}

int32_t sqli_send_blobs(SqliItemList* list, SqliRuntime* rt) { return sqli_send_blobs_typed(list, nullptr, rt); }

void sqli_input_column_types(const SqliCursor* c, int32_t count, int16_t* types) {
  const bool insert = c != nullptr && (c->kind == 6 || c->kind == 56) && c->columns != nullptr;
  for (int32_t i = 0; i < count; ++i) {
    types[i] = insert && i < c->column_count ? static_cast<int16_t>(c->columns[i].type & 0xFF) : 0;
  }
}

TV_END_C

// The chunks of one value from the current reply into loc. With tail set
// the reply's end (codes 10, then 12) is read after the zero chunk; without
// it the next value's chunks follow at once, codes 10 before them read over.
static int32_t ReceiveInline(SqliLocator* loc, const void* desc56, SqliRuntime* rt, bool tail) {
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  const auto* d = static_cast<const unsigned char*>(desc56);
  loc->type = static_cast<int16_t>(ldint(d));
  loc->size = 0;
  loc->truncated = 0;
  if (d[39] & 0x01) {
    loc->indicator = -1;
    if (loc->kind == SQLI_LOC_FILE || loc->kind == SQLI_LOC_FD) {
      if (sqli_loc_open(loc, 2, 0, rt) == 0) sqli_loc_close(loc, rt);
    }
    return 0;
  }
  loc->indicator = 0;
  int64_t want = static_cast<int64_t>(ldlong(d + 8)) - ldlong(d + 4) + 1;
  if (want < 0 || want > INT32_MAX) want = 0;
  // A TEXT value in another code set may grow by the converter's
  // expansion on its way to the client.
  GlConverter* cv = TextConverter(loc->type, false);
  int32_t room = cv != nullptr ? cvt_explen(cv, static_cast<int32_t>(want)) : static_cast<int32_t>(want);
  if (room < 0) room = INT32_MAX;
  // The buffers are made even when the destination refuses the value:
  // its chunks are still read through them.
  if (sqli_xfer_buffers(rt) != 0) return -1;
  int32_t rc = sqli_loc_open(loc, 2, room, rt);
  bool open = rc == 0;
  int32_t failure = rc;
  char* buf = reinterpret_cast<char*>(rt->transfer_buffer);
  char* converted = reinterpret_cast<char*>(rt->converted_buffer);
  int32_t carried = 0;
  bool first = true;
  for (;;) {
    int32_t code = sqli_msg_get_short(s);
    if (s->cb.error < 0) return -1;
    rt->outstanding = 0;
    if (code == 13 && first) {
      sqli_reply_error(s);
      if (open) sqli_loc_close(loc, rt);
      ReadTail(s);
      return -1;
    }
    if (code == 10 && first) continue;  // the server closed the cursor
    if (code != SQLI_REQ_CHUNK) {
      if (open) sqli_loc_close(loc, rt);
      sqli_reply_protocol_error(code);
      return -1;
    }
    first = false;
    int32_t n = sqli_msg_get_short(s);
    if (n < 0) {
      sqli_reply_protocol_error(code);
      return -1;
    }
    if (n == 0) {
      // A character the server cut and never finished.
      if (failure == 0 && carried > 0) failure = RGL_E_BADCHAR;
      break;
    }
    int32_t left = n;
    while (left > 0) {
      // At most the room the carried bytes leave, so the buffer is never
      // overrun.
      int32_t piece = left < kChunkRoom - carried ? left : kChunkRoom - carried;
      sqli_msg_get_bytes(buf + carried, piece, s);
      left -= piece;
      if (failure != 0 || !open) continue;
      if (cv == nullptr) {
        failure = sqli_loc_write(loc, buf, piece);
        continue;
      }
      const int32_t total = carried + piece;
      const int32_t done =
          ConvertInto(cv, buf, total, converted, [&](const char* b, int32_t k) { return sqli_loc_write(loc, b, k); });
      if (done < 0) {
        failure = loc->status != 0 ? loc->status : -464;
        continue;
      }
      carried = total - done;
      if (carried > kMaxCarried) {
        failure = RGL_E_BADCHAR;
        carried = 0;
        continue;
      }
      if (carried > 0) std::memmove(buf, buf + done, static_cast<size_t>(carried));
    }
    if (n & 1) sqli_msg_get_byte(s);  // the pad
    if (failure != 0) {
      SkipChunks(s);
      break;
    }
  }
  int32_t closed = open ? sqli_loc_close(loc, rt) : 0;
  int32_t end = tail ? ReadTail(s) : 0;
  if (failure == -451 && loc->kind == SQLI_LOC_MEMORY) {
    // A value larger than the caller's buffer: truncated, not a failure.
    loc->truncated = 1;
    if (loc->indicator == 0) loc->indicator = static_cast<int32_t>(want);
    return 0;
  }
  if (failure != 0) {
    _iqseterr(failure);
    return -1;
  }
  return closed != 0 || end != 0 ? -1 : 0;
}

TV_BEGIN_C

int32_t sqli_recv_locator_inline(SqliLocator* loc, const void* desc56, SqliRuntime* rt) {
  int32_t rc = ReceiveInline(loc, desc56, rt, true);
  if (rc == 0 && loc->truncated) _iqseterr(-451);
  return rc;
}

int32_t sqli_recv_locator(SqliCursor* cursor, SqliLocator* loc, const void* desc56, SqliRuntime* rt) {
  const auto* d = static_cast<const unsigned char*>(desc56);
  if (d[39] & 0x01) return sqli_recv_locator_inline(loc, desc56, rt);
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  sqli_req_stmt_id(cursor != nullptr ? cursor->id : -1, rt);
  sqli_msg_put_short(SQLI_REQ_BLOB_DESC, s);
  sqli_msg_put_blobdesc(desc56, s);
  sqli_msg_end(rt);
  return sqli_recv_locator_inline(loc, desc56, rt);
}

TV_END_C

// The TEXT and BYTE columns of the row at the cursor's buffer position.
// Each column's stored descriptor (56 bytes at its start) names the value;
// its target is the host value of the same number, from the descriptor
// block when one is given.

static bool IsBlobColumn(const SqliColumnDesc& col) {
  const int32_t t = col.type & 0xFF;
  return t == 11 || t == 12;
}

static SqliValueItem* BlobTarget(int32_t i, int32_t count, SqliValueItem* items, SqliDescriptor* desc) {
  if (desc != nullptr) return desc->items != nullptr && i < desc->count ? &desc->items[i] : nullptr;
  return items != nullptr && i < count ? &items[i] : nullptr;
}

// Whether column i has a target at all: with fewer targets than columns
// the columns past the last target are left out (the row's unpacking
// warns of the mismatch), their values neither asked for nor received.
static bool HasTarget(int32_t i, int32_t count, SqliDescriptor* desc) {
  return i < (desc != nullptr ? desc->count : count);
}

// A large value goes into a locator (host type 113, or the SQL types BYTE
// and TEXT used directly) or into the file a host type 116 names.
static int32_t CheckBlobTarget(const SqliValueItem* v) {
  if (v == nullptr || v->type == -1 || v->data == nullptr) return -402;
  if (v->type == 116) return FileName(v->data, v->length > 0 ? v->length : -1).empty() ? -461 : 0;
  if (v->type != 11 && v->type != 12 && v->type != 113) return -608;
  return 0;
}

// The stored bytes of column col of the row at row: the bytes the row
// holds from the column's start, at most 56.
static int32_t DescBytes(const SqliCursor* c, const unsigned char* row, const SqliColumnDesc& col,
                         const unsigned char** out) {
  *out = row + col.start;
  if (col.start < 0 || (c->row_size > 0 && col.start >= c->row_size)) return 0;
  int32_t room = c->row_size > 0 ? c->row_size - col.start : 56;
  return room < 56 ? room : 56;
}

// Checks every TEXT/BYTE column's target: 0, or the first failure.
static int32_t CheckBlobTargets(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc) {
  for (int32_t i = 0; i < c->column_count; ++i) {
    if (!IsBlobColumn(c->columns[i]) || !HasTarget(i, count, desc)) continue;
    int32_t rc = CheckBlobTarget(BlobTarget(i, count, items, desc));
    if (rc != 0) return rc;
  }
  return 0;
}

static void StoreBlobIndicator(SqliValueItem* v, int32_t value) {
  if (v->indicator != nullptr) *v->indicator = static_cast<int16_t>(value);
  else if (v->ind_data != nullptr) sqli_ind_write(value, v->ind_type, v->ind_data, v->ind_length);
}

static bool HasIndicator(const SqliValueItem* v) { return v->indicator != nullptr || v->ind_data != nullptr; }

TV_BEGIN_C

int32_t sqli_blob_targets_check(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc) {
  if (c == nullptr || c->columns == nullptr) return 0;
  return CheckBlobTargets(c, count, items, desc);
}

int32_t sqli_req_blob_descs(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                            SqliRuntime* rt) {
  if (c == nullptr || c->columns == nullptr || c->position == nullptr) return 0;
  // Every target is checked before the first descriptor goes out, so a
  // refused one leaves nothing half-written in the message.
  int32_t rc = CheckBlobTargets(c, count, items, desc);
  if (rc != 0) {
    _iqseterr(rc);
    return rc;
  }
  for (int32_t i = 0; i < c->column_count; ++i) {
    if (!IsBlobColumn(c->columns[i]) || !HasTarget(i, count, desc)) continue;
    const unsigned char* d = nullptr;
    int32_t n = DescBytes(c, c->position, c->columns[i], &d);
    rc = sqli_req_blob_desc(d, n, rt);
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t sqli_blob_indicators(SqliCursor* c, SqliItemList* values, int32_t rows) {
  if (c == nullptr || c->columns == nullptr || c->position == nullptr) return 0;
  int32_t non_null = 0;
  const unsigned char* row = c->position;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t i = 0; i < c->column_count; ++i) {
      if (!IsBlobColumn(c->columns[i])) continue;
      const unsigned char* d = nullptr;
      if (DescBytes(c, row, c->columns[i], &d) != 56) continue;
      const bool null = (d[39] & 0x01) != 0;
      // One set of targets per row when the list holds them, else the
      // one set.
      SqliValueItem* v = nullptr;
      if (values != nullptr && values->items != nullptr) {
        const int32_t k = values->count >= rows * c->column_count ? r * c->column_count + i : i;
        if (k < values->count) v = &values->items[k];
      }
      // A column without a target has no value to fetch.
      if (!null && (values == nullptr || v != nullptr)) ++non_null;
      if (v == nullptr) continue;
      StoreBlobIndicator(v, null ? -1 : 0);
      if (v->type == 113 && v->data != nullptr) {
        auto* loc = reinterpret_cast<SqliLocator*>(v->data);
        loc->indicator = null ? -1 : 0;
        if (d[39] & 0x10) loc->open_flags |= SQLI_LOC_FROM_DESC;
        else loc->open_flags &= ~SQLI_LOC_FROM_DESC;
      }
    }
    row += c->row_size;
  }
  return non_null;
}

int32_t sqli_recv_blob_columns(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                               int32_t null_check, int32_t advance, SqliRuntime* rt) {
  if (c == nullptr || c->columns == nullptr || c->position == nullptr) return 0;
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  // The non-null values come in column order in one reply; the last one
  // is followed by the reply's end.
  int32_t last = -1, values = 0;
  for (int32_t i = 0; i < c->column_count; ++i) {
    const unsigned char* d = nullptr;
    if (IsBlobColumn(c->columns[i]) && HasTarget(i, count, desc) &&
        DescBytes(c, c->position, c->columns[i], &d) == 56 && !(d[39] & 0x01)) {
      last = i;
      ++values;
    }
  }
  int32_t rc = CheckBlobTargets(c, count, items, desc);
  if (rc != 0) {
    // The values are on their way: read over them, so that the stream
    // keeps its place.
    if (values > 0 && sqli_msg_skip_blobs(values, s) == 0) ReadTail(s);
    _iqseterr(rc);
    return rc;
  }
  int32_t first_failure = 0, non_null = 0;
  for (int32_t i = 0; i < c->column_count; ++i) {
    if (!IsBlobColumn(c->columns[i]) || !HasTarget(i, count, desc)) continue;
    SqliValueItem* v = BlobTarget(i, count, items, desc);
    const unsigned char* d = nullptr;
    if (DescBytes(c, c->position, c->columns[i], &d) != 56) {
      sqli_reply_protocol_error(-1);
      return -1;
    }
    // A file-name target receives through a file locator of its own.
    SqliLocator file{};
    SqliLocator* loc = reinterpret_cast<SqliLocator*>(v->data);
    std::string name;
    if (v->type == 116) {
      name = FileName(v->data, v->length > 0 ? v->length : -1);
      file.kind = SQLI_LOC_FILE;
      file.file_name = name.data();
      file.fd = -1;
      loc = &file;
    }
    rc = ReceiveInline(loc, d, rt, i == last);
    if (rc != 0) {
      if (first_failure == 0) first_failure = sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
      // A reply out of step ends the connection and its stream.
      s = sqli_cur_stream();
      if (s == nullptr || s->cb.error < 0) break;
      continue;
    }
    if (loc->indicator == -1) {
      if (!HasIndicator(v) && null_check && first_failure == 0) first_failure = -467;
    } else {
      ++non_null;
    }
    if (loc->truncated) {
      // A value cut to the caller's buffer: a warning, and the indicator
      // holds the value's whole size.
      sqlca.sqlwarn.sqlwarn0 = 'W';
      sqlca.sqlwarn.sqlwarn1 = 'W';
      sqli_warn_client(1);
    }
    StoreBlobIndicator(v, loc->indicator);
  }
  if (advance && c->row_size > 0) c->position += c->row_size;
  if (first_failure != 0) {
    if (sqlca.sqlcode != first_failure) _iqseterr(first_failure);
    return first_failure;
  }
  return non_null;
}

int32_t sqli_row_blobs(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc, int32_t null_check,
                       int32_t with_id, SqliRuntime* rt) {
  if (c == nullptr || c->columns == nullptr || c->position == nullptr) return 0;
  bool any = false;
  for (int32_t i = 0; i < c->column_count && !any; ++i) any = IsBlobColumn(c->columns[i]) && HasTarget(i, count, desc);
  if (!any) return 0;
  int32_t rc = CheckBlobTargets(c, count, items, desc);
  if (rc != 0) {
    _iqseterr(rc);
    return rc;
  }
  SqliItemList list{static_cast<int16_t>(desc != nullptr ? desc->count : count),
                    desc != nullptr ? desc->items : items};
  if (sqli_blob_indicators(c, &list, 1) > 0) {
    if (with_id) sqli_req_stmt_id(c->id, rt);
    if (sqli_req_blob_descs(c, count, items, desc, rt) != 0) return sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
    sqli_msg_end(rt);
  }
  rc = sqli_recv_blob_columns(c, count, items, desc, null_check, 0, rt);
  return rc < 0 ? rc : 0;
}

TV_END_C
