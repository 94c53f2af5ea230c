// The describe reply (8): statement kind and id, the described columns,
// the row size and the fetch buffer of a cursor.
//
//   int16 kind, int16 id, int32 value (sqlerrd[3]); for described kinds:
//   int16 row size, int16 column count, name-block length (int32 with
//   capability byte 6 bit 0x20, else uint16), the column entries, the
//   padded name block. Column entry:
//     name offset     int32 with byte 6 bit 0x20, else uint16
//     column start    int32 with extended types (byte 0 bit 0x20), else int16
//     type word       uint16: low byte the type; 0x100 not null; 0x800
//                     distinct; 0x1000, 0x2000, 0x4000 further flags
//     extended data   with extended types, left out for a built-in type
//                     without 0x800 under byte 6 bit 0x40: int32 id,
//                     owner and type name (uint16 length, padded bytes),
//                     two int16 words, int32 value
//     length          int32 with extended types, else int16
#include <cstdlib>
#include <cstring>

#include "base/env.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/runtime.h"

namespace {

bool g_no_bitmap = false;

bool BuiltIn(int32_t t) { return (t >= 0 && t <= 18) || t == 42 || t == 52 || t == 53; }

bool DescribedKind(const SqliCursor* c, int32_t kind) {
  if (kind == 2 || kind == 3 || kind == 56 || kind == 166) return true;
  if (kind == 4 || kind == 6 || kind == 7 || kind == 33) return c == nullptr || (c->flags & SQLI_CF_LOCAL) == 0;
  return false;
}

char* ReadName(SqliMessageStream* s, int16_t* length_out) {
  int32_t n = sqli_msg_get_ushort(s);
  char* out = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (out == nullptr) {
    sqli_msg_skip(n + (n & 1), s);
    return nullptr;
  }
  sqli_msg_get_padded(out, n, s);
  out[n] = '\0';
  if (length_out != nullptr) *length_out = static_cast<int16_t>(n);
  return out;
}

struct Widths {
  bool xtypes, off32, lean;
};

// One column entry into col (or dropped when col is null).
void ReadEntry(SqliMessageStream* s, const Widths& w, SqliColumnDesc* col, int32_t* wire_type = nullptr) {
  SqliColumnDesc scratch{};
  SqliColumnDesc& d = col != nullptr ? *col : scratch;
  d.name_offset = w.off32 ? sqli_msg_get_int(s) : sqli_msg_get_ushort(s);
  d.start = w.xtypes ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
  int32_t tw = sqli_msg_get_ushort(s);
  int32_t base = tw & 0xFF;
  bool distinct = (tw & 0x800) != 0;
  if (w.xtypes && !(w.lean && BuiltIn(base) && !distinct)) {
    d.xid = sqli_msg_get_int(s);
    d.owner_name = ReadName(s, &d.owner_name_length);
    d.type_name = ReadName(s, &d.type_name_length);
    d.xword1 = static_cast<int16_t>(sqli_msg_get_short(s));
    d.xword2 = static_cast<int16_t>(sqli_msg_get_short(s));
    d.xvalue = sqli_msg_get_int(s);
  }
  d.length = w.xtypes ? sqli_msg_get_int(s) : sqli_msg_get_short(s);
  int32_t type = base;
  int16_t flags = 0;
  if ((tw & 0x100) == 0) flags |= SQLI_COL_NULLABLE;
  if (distinct) flags |= SQLI_COL_DISTINCT;
  if (tw & 0x2000) flags |= SQLI_COL_BIT2000;
  else if (tw & 0x4000) flags |= SQLI_COL_BIT4000;
  if (tw & 0x1000) flags |= SQLI_COL_BIT1000;
  if (distinct && BuiltIn(base)) {
    type = 40;
    flags |= SQLI_COL_DISTINCT_BUILTIN;
    d.xvalue = base;
    d.source_length = d.length;
  }
  if (wire_type != nullptr) *wire_type = type;
  if (type == 40 || type == 41) {
    if ((tw & 0x1000) != 0) flags |= SQLI_COL_OPAQUE1000;
    if (d.xid == 1 && (tw & 0x2000) == 0) type = 43;
    else if (d.xid == 5 && (tw & 0x4000) == 0) type = 45;
  }
  d.type = static_cast<int16_t>((tw & 0xFF00) | type);
  d.flags = flags;
  if (col == nullptr) {
    std::free(scratch.owner_name);
    std::free(scratch.type_name);
  }
}

int32_t FetchBufferSize(int32_t row_size, const SqliConnection* conn) {
  int32_t size = row_size <= 512 ? 1024 : row_size <= 1024 ? 2048 : row_size;
  const char* v = ggetenv_idx("FET_BUF_SIZE", -1);
  if (v != nullptr && *v != '\0') {
    long long want = std::strtoll(v, nullptr, 10);
    if (want > 1048576) want = 1048576;
    if (!(conn != nullptr && SQLI_CAP(conn, 7, 0x01)) && want > 32767) want = 32767;
    if (want > size) size = static_cast<int32_t>(want);
  }
  return size < 4096 ? 4096 : size;
}

}  // namespace

TV_BEGIN_C

SqliColumnDesc* sqli_columns_make(SqliCursor* c, int32_t n, int32_t xtypes) {
  sqli_columns_free(c, xtypes);
  if (n <= 0) return nullptr;
  c->columns = static_cast<SqliColumnDesc*>(std::calloc(static_cast<size_t>(n), sizeof(SqliColumnDesc)));
  return c->columns;
}

void sqli_columns_free(SqliCursor* c, int32_t) {
  if (c == nullptr || c->columns == nullptr) return;
  for (int32_t i = 0; i < c->column_count; ++i) {
    std::free(c->columns[i].owner_name);
    std::free(c->columns[i].type_name);
  }
  std::free(c->columns);
  c->columns = nullptr;
}

int sqli_reply_describe(SqliCursor* cursor, SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliConnection* conn = rt->current;
  // A cursor on a prepared statement whose prepare is deferred: the
  // description belongs to the statement and is shared with the cursor.
  SqliCursor* c = cursor;
  if (c != nullptr && c->related != nullptr && (c->related->flags & SQLI_CF_HAS_CURSOR) != 0 &&
      ((c->related->flags & SQLI_CF_DEFERRED) != 0 || (rt->options & SQLI_OPT_DEFPREP) != 0)) {
    c = c->related;
  }
  int16_t former_var = 0;
  if (c != nullptr) {
    c->buffer_size = 0;
    c->rows_in_buffer = 0;
    former_var = c->variable_columns;
    c->variable_columns = 0;
  }
  int32_t kind = sqli_msg_get_short(s);
  int32_t id = sqli_msg_get_short(s);
  sqlca.sqlerrd[3] = sqli_msg_get_int(s);
  if (c != nullptr) {
    c->kind = static_cast<int16_t>(kind);
    c->id = static_cast<int16_t>(id);
  }
  Widths w{SQLI_CAP_XTYPES(conn), SQLI_CAP(conn, 6, 0x20), SQLI_CAP(conn, 6, 0x40)};
  if (!DescribedKind(c, kind)) {
    sqli_msg_get_short(s);
    int32_t n = sqli_msg_get_short(s);
    int32_t nb = w.off32 ? sqli_msg_get_int(s) : sqli_msg_get_ushort(s);
    for (int32_t i = 0; i < n && s->cb.error >= 0; ++i) ReadEntry(s, w, nullptr);
    if (nb > 0) sqli_msg_skip(nb + (nb & 1), s);
    if (kind == 1 || kind == 12 || kind == 38) sqli_flag_dbstmt(rt);
    if (kind == 19) sqli_flag_revoke(rt);
    if (c != nullptr && c != cursor) {
      cursor->kind = c->kind;
      cursor->id = c->id;
    }
    return 0;
  }
  int32_t row_size = sqli_msg_get_short(s);
  int32_t n = sqli_msg_get_short(s);
  int32_t nb = w.off32 ? sqli_msg_get_int(s) : sqli_msg_get_ushort(s);
  SqliColumnDesc* cols = nullptr;
  if (c != nullptr) {
    c->flags &= ~(SQLI_CF_CHECK_SENT | SQLI_CF_PUT_CHECK);
    cols = sqli_columns_make(c, n, w.xtypes);
    if (n > 0 && cols == nullptr) {
      for (int32_t i = 0; i < n; ++i) ReadEntry(s, w, nullptr);
      if (nb > 0) sqli_msg_skip(nb + (nb & 1), s);
      c->column_count = 0;
      c->row_size = 0;
      _iqseterr(-406);
      return 0;
    }
    c->column_count = static_cast<int16_t>(n);
  }
  int32_t variable = 0;
  for (int32_t i = 0; i < n; ++i) {
    SqliColumnDesc* col = cols != nullptr ? &cols[i] : nullptr;
    SqliColumnDesc probe{};
    int32_t t = 0;
    ReadEntry(s, w, col != nullptr ? col : &probe, &t);
    const SqliColumnDesc& d = col != nullptr ? *col : probe;
    if (t == 40 || t == 41 || (t >= 19 && t <= 23)) {
      ++variable;
    } else if (conn->unpadded_varchar && (t == 13 || t == 16)) {
      ++variable;
      row_size -= d.length + 1;
    }
    if (col == nullptr) {
      std::free(probe.owner_name);
      std::free(probe.type_name);
    }
  }
  if (c == nullptr) {
    if (nb > 0) sqli_msg_skip(nb + (nb & 1), s);
    return 0;
  }
  c->row_size = row_size;
  int32_t size = FetchBufferSize(row_size, conn);
  std::free(c->buffer);
  c->buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(size), 1));
  std::free(c->names);
  c->names = static_cast<char*>(std::calloc(static_cast<size_t>(nb) + 1, 1));
  if (c->buffer == nullptr || c->names == nullptr) {
    if (nb > 0) sqli_msg_skip(nb + (nb & 1), s);
    c->buffer_size = 0;
    _iqseterr(-406);
    return 0;
  }
  c->buffer_size = size;
  c->position = c->buffer;
  if (nb > 0) sqli_msg_get_padded(c->names, nb, s);
  c->variable_columns = static_cast<int16_t>(variable + ((c->flags & SQLI_CF_NO_ID_INTO) ? former_var : 0));
  if (kind == 6) {
    c->rows_in_buffer = (c->variable_columns == 0 && row_size > 0) ? size / row_size : 0;
  } else if (kind == 2) {
    SqliCursorEntry* e = sqli_curs_entry(c);
    if (e == nullptr) {
      g_no_bitmap = true;
    } else {
      int32_t cap = row_size > 0 ? size / row_size : 4;
      std::free(e->warnings.bitmap);
      e->warnings.bitmap = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(cap / 8 + 1), 1));
      e->warnings.capacity = e->warnings.bitmap != nullptr ? cap : 0;
      e->warnings.next = 0;
      e->warnings.marked = 0;
    }
  }
  if (c != cursor) {
    // Share the statement's description with its cursor.
    cursor->kind = c->kind;
    cursor->id = c->id;
    cursor->row_size = c->row_size;
    cursor->column_count = c->column_count;
    cursor->columns = c->columns;
    // The row buffer stays each record's own.
    std::free(cursor->buffer);
    cursor->buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(c->buffer_size), 1));
    cursor->buffer_size = cursor->buffer != nullptr ? c->buffer_size : 0;
    cursor->position = cursor->buffer;
    cursor->rows_in_buffer = c->rows_in_buffer;
    cursor->names = c->names;
    cursor->variable_columns = c->variable_columns;
  }
  return 0;
}

int sqli_no_bitmap_mark(void) { return g_no_bitmap ? 1 : 0; }

TV_END_C
