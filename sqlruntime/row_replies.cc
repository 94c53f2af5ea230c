// Replies that carry rows, counts and values: cursor closed (10), tuple
// (14), done (15), rows and error (18), row window (25), two values (55),
// serial (94), extra value (101), value list (103), extra record (104).
//
//   14   int16 warnings (bits 0-6 sqlwarn1-7, 0x100 row warning), row
//        length (int32 with extended types, else int16), padded row
//   15   int16 warnings, int32 rows, int32 sqlerrd[5], int32 sqlerrd[1]
//   18   int32 rows, then an error body
//   25   int32 first row number
//   55   int32 sqlerrd[0], int32 sqlerrd[3]
//   94   INT8, then BIGINT with capability byte 6 bit 0x02
//   101  int32
//   103  int16 count, values: int16 type word, two int16 extended words
//        (extended types, non-built-in or 0x800), int16 indicator (negative:
//        nothing follows), int16 length word, the value by type
//   104  INT8, int32, byte; int32, INT8, int32; two runs of int16 count and
//        entries {byte, int16, int32, and with capability byte 0 bit 0x10
//        int32, int16, int16}
#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/runtime.h"

namespace {

constexpr int32_t kGrowUnit = 1028;

bool BuiltIn(int32_t t) { return (t >= 0 && t <= 18) || t == 42 || t == 52 || t == 53; }

void SetWarnFlags(int32_t bits) {
  char* w = &sqlca.sqlwarn.sqlwarn1;
  for (int i = 0; i < 7; ++i) {
    if (bits & (1 << i)) w[i] = 'W';
  }
}

void MarkRowWarning(SqliCursor* c) {
  SqliCursorEntry* e = c != nullptr ? sqli_curs_entry(c) : nullptr;
  if (e != nullptr) {
    SqliRowWarnings& r = e->warnings;
    if (r.bitmap == nullptr) {
      _iqseterr(-1812);
      return;
    }
    int32_t row = c->rows_in_buffer;
    if (!r.marked) std::memset(r.bitmap, 0, static_cast<size_t>(r.capacity / 8 + 1));
    if (row >= r.capacity) {
      _iqseterr(-1812);
      return;
    }
    r.bitmap[row / 8] = static_cast<unsigned char>(r.bitmap[row / 8] | (1u << (row % 8)));
    r.marked = 1;
    return;
  }
  if (sqli_no_bitmap_mark()) {
    sqlca.sqlwarn.sqlwarn0 = 'W';
    sqlca.sqlwarn.sqlwarn4 = 'W';
  } else {
    _iqseterr(-1812);
  }
}

// Makes room for one more variable row of n bytes; false after -406.
bool GrowForRow(SqliCursor* c, int32_t n) {
  if (sqli_row_index_room(c) != 0) return false;
  int64_t used = c->row_index->total;
  int64_t need = used + n;
  if (need > c->buffer_size) {
    int64_t size = (need + kGrowUnit - 1) / kGrowUnit * kGrowUnit;
    if (size > INT32_MAX) {
      _iqseterr(-406);
      return false;
    }
    auto* b = static_cast<unsigned char*>(std::realloc(c->buffer, static_cast<size_t>(size)));
    if (b == nullptr) {
      _iqseterr(-406);
      return false;
    }
    std::memset(b + c->buffer_size, 0, static_cast<size_t>(size - c->buffer_size));
    c->buffer = b;
    c->buffer_size = static_cast<int32_t>(size);
  }
  c->position = c->buffer + used;
  return true;
}

// The tuples that follow a stored one in the receive buffer, taken
// straight from its bytes while they are plain: fixed rows of the
// cursor's row size, no warning bits, room left in the cursor buffer.
// Anything else stays in the stream for the reply loop.
void TakeBufferedTuples(SqliCursor* c, SqliMessageStream* s, bool xtypes) {
  const int32_t head = xtypes ? 8 : 6;  // code, warnings, length
  const int32_t n = c->row_size;
  const int32_t whole = head + n + (n & 1);
  const unsigned char* limit = c->buffer + c->buffer_size;
  while (s->receive_count >= whole && limit - c->position >= n) {
    const auto* m = reinterpret_cast<const unsigned char*>(s->read_cursor);
    if (m[0] != 0 || m[1] != 14 || m[2] != 0 || m[3] != 0) break;
    const int32_t len = xtypes ? ldlong(m + 4) : ldint(m + 4);
    if (len != n) break;
    std::memcpy(c->position, m + head, static_cast<size_t>(n));
    s->read_cursor += whole;
    s->receive_count -= whole;
    c->rows_in_buffer += 1;
    c->position += n;
  }
}

void Tuple(SqliCursor* c, SqliMessageStream* s, const SqliConnection* conn) {
  int32_t warn = sqli_msg_get_short(s);
  if ((warn & ~0x100 & 0xFFFF) != 0) {
    sqlca.sqlwarn.sqlwarn0 = 'W';
    SetWarnFlags(warn);
  }
  int32_t n = SQLI_CAP_XTYPES(conn) ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
  if (n < 0 || s->cb.error < 0) {
    if (s->cb.error >= 0) _iqseterr(-403);
    return;
  }
  int32_t skip = n + (n & 1);
  if (c == nullptr || c->buffer == nullptr) {
    sqli_msg_skip(skip, s);
    return;
  }
  if (c->variable_columns == 0) {
    // Fixed rows: the length is the row size, and the row must fit the
    // buffer (a server sending more rows than it was asked for).
    if (n != c->row_size || c->position + n > c->buffer + c->buffer_size) {
      sqli_msg_skip(skip, s);
      _iqseterr(-403);
      return;
    }
  } else {
    if (!GrowForRow(c, n)) {
      sqli_msg_skip(skip, s);
      return;
    }
    SqliRowIndex* x = c->row_index;
    x->lengths[++x->last] = n;
    x->total += n;
  }
  sqli_msg_get_padded(c->position, n, s);
  if (warn & 0x100) MarkRowWarning(c);
  c->rows_in_buffer += 1;
  c->position += n;
  c->flags &= ~SQLI_CF_NOMORE;
  if (c->variable_columns == 0 && s->cb.error >= 0) TakeBufferedTuples(c, s, SQLI_CAP_XTYPES(conn));
}

void Done(SqliCursor* c, SqliMessageStream* s) {
  int32_t warn = sqli_msg_get_short(s);
  sqli_reply_warnings(warn);
  int32_t rows = sqli_msg_get_int(s);
  if (c != nullptr && c->kind == 6 && c->variable_columns != 0) c->put_rows += rows;
  else sqlca.sqlerrd[2] = rows;
  sqlca.sqlerrd[5] = sqli_msg_get_int(s);
  sqlca.sqlerrd[1] = sqli_msg_get_int(s);
  if (c != nullptr) c->flags |= SQLI_CF_NOMORE;
  if (warn & 0x100) std::strcpy(sqlca.sqlerrm, "IGNORE");
}

void SkipValue(SqliMessageStream* s, bool xtypes) {
  int32_t tw = sqli_msg_get_short(s) & 0xFFFF;
  int32_t t = tw & 0xFF;
  if (xtypes && (!BuiltIn(t) || (tw & 0x800) != 0)) sqli_msg_skip(4, s);
  int32_t ind = sqli_msg_get_short(s);
  if (ind < 0) return;
  sqli_msg_get_short(s);
  switch (t) {
    case 0: case 13: case 15: case 16: case 43: {
      int32_t n = sqli_msg_get_ushort(s);
      sqli_msg_skip(n + (n & 1), s);
      break;
    }
    case 1: sqli_msg_skip(2, s); break;
    case 2: case 6: case 7: sqli_msg_skip(4, s); break;
    case 3: sqli_msg_skip(8, s); break;
    case 4: sqli_msg_skip(4, s); break;
    case 5: case 8: case 10: case 14: {
      Decimal d;
      sqli_msg_get_decimal(&d, s);
      break;
    }
    case 17: case 18: sqli_msg_skip(10, s); break;
    case 19: case 20: case 21: case 22: case 23: {
      sqli_msg_skip(2, s);
      int32_t n = sqli_msg_get_int(s);
      if (n > 0) sqli_msg_skip(n + (n & 1), s);
      break;
    }
    case 40: case 41: case 45: {
      int32_t n = sqli_msg_get_int(s);
      if (n > 0) sqli_msg_skip(n + (n & 1), s);
      break;
    }
    case 52: case 53: sqli_msg_skip(8, s); break;
    default: break;
  }
}

void ValueList(SqliCursor* c, SqliMessageStream* s, const SqliConnection* conn) {
  int32_t count = sqli_msg_get_short(s);
  int32_t outputs = c != nullptr && c->outputs != nullptr ? c->output_count : 0;
  // Moving values into host variables belongs to the value packing; here
  // the list is always read whole so that the stream keeps its place.
  if (count != outputs || outputs == 0) {
    if (count != 0 || outputs != 0) _iqseterr(-254);
  }
  for (int32_t i = 0; i < count && s->cb.error >= 0; ++i) SkipValue(s, SQLI_CAP_XTYPES(conn));
}

void ExtraRecord(SqliMessageStream* s, const SqliConnection* conn) {
  Int8Value v;
  sqli_msg_get_int8(&v, s);
  sqli_msg_get_int(s);
  sqli_msg_get_byte(s);
  sqli_msg_get_int(s);
  sqli_msg_get_int8(&v, s);
  sqli_msg_get_int(s);
  for (int run = 0; run < 2; ++run) {
    int32_t n = sqli_msg_get_short(s);
    for (int32_t i = 0; i < n && s->cb.error >= 0; ++i) {
      sqli_msg_get_byte(s);
      sqli_msg_get_short(s);
      sqli_msg_get_int(s);
      if (SQLI_CAP(conn, 0, 0x10)) {
        sqli_msg_get_int(s);
        sqli_msg_get_short(s);
        sqli_msg_get_short(s);
      }
    }
  }
}

}  // namespace

TV_BEGIN_C

int sqli_row_index_room(SqliCursor* c) {
  SqliRowIndex* x = c->row_index;
  if (x != nullptr && x->last + 1 < x->capacity) return 0;
  int32_t cap = x == nullptr ? 10 : x->capacity + 10;
  auto* nx = static_cast<SqliRowIndex*>(
      std::realloc(x, sizeof(SqliRowIndex) + sizeof(int32_t) * static_cast<size_t>(cap)));
  if (nx == nullptr) {
    _iqseterr(-406);
    return -1;
  }
  if (x == nullptr) {
    nx->last = -1;
    nx->total = 0;
  }
  nx->capacity = cap;
  c->row_index = nx;
  return 0;
}

int sqli_reply_rows(SqliCursor* c, int32_t code, SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliConnection* conn = rt->current;
  switch (code) {
    case 8:
      return sqli_reply_describe(c, s);
    case 10:
      if (c != nullptr) c->flags |= SQLI_CF_SERVER_CLOSED;
      return 0;
    case 14:
      Tuple(c, s, conn);
      return 0;
    case 15:
      Done(c, s);
      return 0;
    case 18:
      sqlca.sqlerrd[2] = sqli_msg_get_int(s);
      sqli_reply_error(s);
      return 0;
    case 25: {
      int32_t first = sqli_msg_get_int(s);
      if (c != nullptr) {
        c->flags &= ~SQLI_CF_WINDOW_BAD;
        if (c->rows_in_buffer > 0) {
          c->first_row = first;
          c->last_row = first + c->rows_in_buffer - 1;
        }
      }
      return 0;
    }
    case 55:
      sqlca.sqlerrd[0] = sqli_msg_get_int(s);
      sqlca.sqlerrd[3] = sqli_msg_get_int(s);
      return 0;
    case 94:
      sqli_msg_get_int8(&rt->last_serial8, s);
      if (SQLI_CAP(conn, 6, 0x02)) rt->last_bigserial = sqli_msg_get_bigint(s);
      return 0;
    case 101:
      sqli_msg_get_int(s);
      return 0;
    case 103:
      ValueList(c, s, conn);
      return 0;
    case 104:
      ExtraRecord(s, conn);
      return 0;
    default:
      return 1;
  }
}

TV_END_C
