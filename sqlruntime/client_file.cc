// The server's client-file requests (reply 98): the server opens, closes,
// reads and writes one file on the client's side.
//
//   int16 sub-request, then
//   0 open   string-like name (int16 length, padded bytes), int32 mode,
//            int32 flags, offset (INT8 with capability byte 1 bit 0x02,
//            else int32), int16 12
//   1 close  int16 12
//   2 read   chunk size (int32 with byte 1 bit 0x02, else int16), amount
//            (INT8 with byte 5 bit 0x20, else int32; -1 all), int16 12;
//            answered 106 and the amount, then per chunk 106, its length
//            (int32 with byte 1 bit 0x02, else int16) and the padded bytes
//   3 write  a run of 107, int16 length, padded bytes, ended by any other
//            code (13 carries an int16 error); answered 107 and the file's
//            size (INT8 with byte 1 bit 0x02, else int32)
// Every sub-request ends with the client's 12 and a flush; a failure is
// answered 13, error, 0, text length 0 (int32 with long text), 0.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/env.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"

namespace {

constexpr int32_t kNameRoom = 504;

void Answer(SqliMessageStream* s, int32_t error) {
  SqliConnection* c = sqli_runtime_get()->current;
  if (error != 0) {
    sqli_msg_put_short(13, s);
    sqli_msg_put_short(error, s);
    sqli_msg_put_short(0, s);
    if (c != nullptr && SQLI_CAP_LONGTEXT(c)) sqli_msg_put_int(0, s);
    else sqli_msg_put_short(0, s);
    sqli_msg_put_short(0, s);
  }
  sqli_msg_put_short(12, s);
  sqli_msg_flush(s);
}

bool EndsWith12(SqliMessageStream* s) { return sqli_msg_get_short(s) == 12; }

int64_t GetInt8(SqliMessageStream* s, bool* ok) {
  Int8Value v;
  sqli_msg_get_int8(&v, s);
  int64_t out = 0;
  *ok = bigintcvzel_int8(&v, &out) == 0;
  return out;
}

void PutInt8(SqliMessageStream* s, int64_t v) {
  Int8Value x;
  biginttozel_int8(v, &x);
  sqli_msg_put_int8(&x, s);
}

}  // namespace

TV_BEGIN_C

int32_t sqli_client_open_flags(int32_t f) {
  int32_t out;
  if (f & 0x10) out = O_RDONLY;
  else if (f & 0x20) out = O_WRONLY | O_CREAT;
  else if (f & 0x08) out = O_RDWR | O_CREAT;
  else out = O_RDONLY;
  if (f & 0x02) out |= O_APPEND | O_CREAT;
  if (f & 0x04) out |= O_TRUNC | O_CREAT;
  if (f & 0x01) out |= O_EXCL | O_CREAT;
  // 0x80 asks for text mode, which is the binary mode here.
  return out;
}

int sqli_reply_client_file(SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliConnection* conn = rt->current;
  const bool off8 = SQLI_CAP(conn, 1, 0x02);
  const bool amount8 = SQLI_CAP(conn, 5, 0x20);
  int32_t sub = sqli_msg_get_short(s);
  switch (sub) {
    case 0: {
      int32_t n = sqli_msg_get_short(s);
      if (n < 0) n = 0;
      // The name keeps at most 503 bytes; the rest and its pad are skipped.
      int32_t keep = n < kNameRoom - 1 ? n : kNameRoom - 1;
      sqli_msg_get_bytes(rt->client_file, keep, s);
      rt->client_file[keep] = '\0';
      // The bytes not kept and the pad (the skip rounds up to even).
      if (keep & 1) sqli_msg_get_byte(s);
      if (n - keep - (keep & 1) > 0) sqli_msg_skip(n - keep - (keep & 1), s);
      int32_t mode = sqli_msg_get_int(s);
      int32_t flags = sqli_msg_get_int(s);
      bool ok = true;
      int64_t offset = off8 ? GetInt8(s, &ok) : sqli_msg_get_int(s);
      if (!EndsWith12(s)) {
        Answer(s, -408);
        return 0;
      }
      if (rt->client_file_fd > 0) close(rt->client_file_fd);
      rt->client_file_fd = -1;
      int fd = open(rt->client_file, sqli_client_open_flags(flags) | O_CLOEXEC, static_cast<mode_t>(mode));
      if (fd < 0) {
        Answer(s, errno);
        return 0;
      }
      rt->client_file_fd = fd;
      if (!ok) {
        Answer(s, -1284);
        return 0;
      }
      rt->client_file_offset = static_cast<int32_t>(offset);
      if (offset != 0 && lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        Answer(s, errno);
        return 0;
      }
      Answer(s, 0);
      return 0;
    }
    case 1:
      if (!EndsWith12(s)) {
        Answer(s, -408);
        return 0;
      }
      if (rt->client_file_fd > 0) close(rt->client_file_fd);
      rt->client_file_fd = -1;
      Answer(s, 0);
      return 0;
    case 2: {
      int32_t chunk = off8 ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
      bool ok = true;
      int64_t amount = amount8 ? GetInt8(s, &ok) : sqli_msg_get_int(s);
      if (!EndsWith12(s)) {
        Answer(s, -408);
        return 0;
      }
      int fd = rt->client_file_fd;
      if (fd < 0) {
        Answer(s, 9);
        return 0;
      }
      if (amount8 && !ok) {
        Answer(s, -1284);
        return 0;
      }
      if (chunk < 0) chunk = 0;
      std::vector<char> buf;
      try {
        buf.resize(chunk == 0 ? 1 : static_cast<size_t>(chunk));
      } catch (...) {
        Answer(s, -406);
        return 0;
      }
      struct stat st;
      off_t pos = lseek(fd, 0, SEEK_CUR);
      if (fstat(fd, &st) != 0 || pos < 0) {
        Answer(s, errno);
        return 0;
      }
      int64_t remain = static_cast<int64_t>(st.st_size) - pos;
      if (remain < 0) remain = 0;
      if (amount >= 0 && amount < remain) remain = amount;
      if (!amount8 && remain > INT32_MAX) {
        Answer(s, -1215);
        return 0;
      }
      sqli_msg_put_short(106, s);
      if (amount8) PutInt8(s, remain);
      else sqli_msg_put_int(static_cast<int32_t>(remain), s);
      const char* xv = ggetenv_idx("ZEL_LOB_XFERSIZE", -1);
      int64_t xfer = xv != nullptr ? std::strtoll(xv, nullptr, 10) : 0;
      if (xfer < 0) xfer = 0;
      int64_t sent = 0, since_check = 0;
      while (sent < remain && chunk > 0) {
        int64_t want = remain - sent < chunk ? remain - sent : chunk;
        ssize_t got = read(fd, buf.data(), static_cast<size_t>(want));
        if (got < 0) {
          Answer(s, errno);
          return 0;
        }
        if (got == 0) break;
        sqli_msg_put_short(106, s);
        if (off8) sqli_msg_put_int(static_cast<int32_t>(got), s);
        else sqli_msg_put_short(static_cast<int32_t>(got), s);
        sqli_msg_put_padded(buf.data(), static_cast<int32_t>(got), s);
        sent += got;
        since_check += got;
        if (xfer > 0 && since_check >= xfer && sent < remain) {
          since_check = 0;
          // The server may interrupt: its next value, looked at without
          // taking it, is not 0.
          sqli_msg_flush(s);
          if (sqli_msg_peek_short(s) != 0) break;
        }
      }
      Answer(s, 0);
      return 0;
    }
    case 3: {
      int fd = rt->client_file_fd;
      std::vector<char> buf(32000);
      int32_t error = 0;
      int32_t code = sqli_msg_get_short(s);
      while (code == 107 && s->cb.error >= 0) {
        int32_t n = sqli_msg_get_short(s);
        if (n < 0) n = 0;
        if (static_cast<size_t>(n) > buf.size()) buf.resize(static_cast<size_t>(n));
        sqli_msg_get_padded(buf.data(), n, s);
        if (error == 0) {
          if (fd < 0) {
            error = 9;
          } else {
            ssize_t w = write(fd, buf.data(), static_cast<size_t>(n));
            if (w != n) error = w < 0 ? errno : ENOSPC;
          }
        }
        code = sqli_msg_get_short(s);
      }
      if (code == 13) {
        int32_t server_error = sqli_msg_get_short(s);
        if (error == 0) error = server_error;
      }
      if (error == 0 && fd < 0) error = 9;
      if (error != 0) {
        Answer(s, error);
        return 0;
      }
      struct stat st;
      if (fstat(fd, &st) != 0) {
        Answer(s, errno);
        return 0;
      }
      if (!off8 && st.st_size > INT32_MAX) {
        Answer(s, -1215);
        return 0;
      }
      sqli_msg_put_short(107, s);
      if (off8) PutInt8(s, st.st_size);
      else sqli_msg_put_int(static_cast<int32_t>(st.st_size), s);
      Answer(s, 0);
      return 0;
    }
    default:
      return sqli_reply_protocol_error(98);
  }
}

TV_END_C
