// Insert cursors: PUT and FLUSH (see insert_cursor.h).
//
// Row layouts in the cursor's buffer:
//   fixed rows     (no variable columns) every row takes the row size, each
//                  column at its described start; rows_in_buffer counts
//                  the free slots left
//   variable rows  the values one after the other, each in its stored
//                  size; the row index records each row's length and the
//                  total; rows_in_buffer counts the rows held; the buffer
//                  grows in multiples of 1,028 bytes
//   no columns     nothing is kept; rows_in_buffer counts the PUTs
// Variable stored form (LVARCHAR, opaque, BOOLEAN, collections, rows):
//   byte null flag, int32 length, the bytes.
//
// Messages (codes of requests.h): a send writes 4, the input types once
// per open (100, kind 3), then 17 (or 133) with the rows; TEXT and BYTE
// values of a row follow it at once (41). The caller ends the message.
#include "sqlruntime/insert_cursor.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fields.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/collections.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/runtime.h"

namespace {

constexpr int32_t kGrowUnit = 1028;
constexpr int32_t kCountOnlySend = 32767;

SqliRuntime* Rt() { return sqli_runtime_get(); }
SqliConnection* Conn() {
  SqliRuntime* rt = Rt();
  return rt != nullptr ? rt->current : nullptr;
}

bool Xtypes() {
  SqliConnection* c = Conn();
  return c != nullptr && SQLI_CAP_XTYPES(c);
}

bool VariableType(int32_t t) { return t == 40 || t == 41 || t == 43 || t == 45 || (t >= 19 && t <= 23); }
bool Unpadded(int32_t t) {
  SqliConnection* c = Conn();
  return c != nullptr && c->unpadded_varchar && (t == 13 || t == 16);
}

bool Null(const SqliValueItem& v) {
  if (v.indicator != nullptr && *v.indicator < 0) return true;
  if (v.ind_data != nullptr && v.ind_type >= 0) return sqli_ind_read(v.ind_type, v.ind_data, v.ind_length) < 0;
  return false;
}

int32_t Loop(SqliCursor* c) {
  sqli_reply_loop(c, 0);
  return sqlca.sqlcode;
}

// The room a variable row may need: the row size plus what its varying
// values add.
int64_t RoomEstimate(const SqliCursor* c, int32_t count, const SqliValueItem* items) {
  int64_t need = c->row_size;
  for (int32_t i = 0; i < count && i < c->column_count; ++i) {
    int32_t t = c->columns[i].type & 0xFF;
    const SqliValueItem& v = items[i];
    int32_t len = v.length > 0 ? v.length : (v.data != nullptr && (v.type == 100 || v.type == 109)
                                                 ? static_cast<int32_t>(std::strlen(v.data))
                                                 : 0);
    if (VariableType(t)) need += len + 5;
    else if (Unpadded(t)) need += len + 2;
  }
  return need;
}

// Bytes a stored value takes in a variable row.
int32_t StoredSize(const SqliColumnDesc& col, const unsigned char* pos, const SqliValueItem& v) {
  int32_t t = col.type & 0xFF;
  if (VariableType(t)) return static_cast<int32_t>(ldlong(pos + 1)) + 5;
  if (Unpadded(t)) return pos[0] + 1;
  int32_t word = 0;
  int32_t n = sqli_wire_size(t, (col.flags & SQLI_COL_DISTINCT) != 0, col.xvalue, col.source_length, col.length,
                             v.length, &word);
  return n > 0 ? n : col.length;
}

// Packs one row at the write position: 0, or the error (the row is
// dropped). *large counts its TEXT and BYTE values.
int32_t PackRow(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t* large) {
  const bool variable = c->variable_columns != 0;
  if (sqli_check_floats(count, items, Rt()) < 0) return sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
  unsigned char* row = c->position;
  int64_t used = 0;
  int32_t n = count < c->column_count ? count : c->column_count;
  if (c->check_items != nullptr && c->check_count < n) n = c->check_count;
  for (int32_t i = 0; i < n; ++i) {
    SqliValueItem& v = items[i];
    const SqliColumnDesc& col = c->columns[i];
    int32_t t = col.type & 0xFF;
    if (v.data == nullptr && !Null(v)) return -419;
    if (v.type == 113 || v.type == 116) {
      if (t != 11 && t != 12) return -608;
      if (!sqli_input_null(&v)) ++*large;
    }
    unsigned char* pos = variable ? row + used : row + col.start;
    int32_t rc = sqli_put_store(c, &v, pos, col.type, col.length, (col.flags & SQLI_COL_DISTINCT) != 0, col.xvalue,
                                col.source_length);
    if (rc < 0) return rc;
    if (variable) used += StoredSize(col, pos, v);
  }
  if (variable) {
    SqliRowIndex* x = c->row_index;
    x->lengths[++x->last] = static_cast<int32_t>(used);
    x->total += static_cast<int32_t>(used);
    c->position = c->buffer + x->total;
    c->rows_in_buffer += 1;
  } else {
    c->position += c->row_size;
    c->rows_in_buffer -= 1;
  }
  return 0;
}

// Makes room for a variable row: held rows go first when the row would
// not fit beside them.
int32_t RoomForVariableRow(SqliCursor* c, int32_t count, SqliValueItem* items) {
  int64_t need = RoomEstimate(c, count, items);
  int64_t held = c->row_index != nullptr ? c->row_index->total : 0;
  if (held > 0 && held + need > c->buffer_size) {
    if (sqli_put_send_held(c) < 0) return sqlca.sqlcode;
    held = 0;
  }
  if (sqli_row_index_room(c) != 0) return sqlca.sqlcode;
  int64_t total = held + need;
  if (total > c->buffer_size) {
    int64_t size = (total + kGrowUnit - 1) / kGrowUnit * kGrowUnit;
    if (size > INT32_MAX) return -406;
    auto* b = static_cast<unsigned char*>(std::realloc(c->buffer, static_cast<size_t>(size)));
    if (b == nullptr) return -406;
    std::memset(b + c->buffer_size, 0, static_cast<size_t>(size - c->buffer_size));
    c->buffer = b;
    c->buffer_size = static_cast<int32_t>(size);
  }
  c->position = c->buffer + held;
  return 0;
}

// The PUT error rule: the rows held before the failing row reach the
// server and are reported in sqlerrd[2]; then the error is set.
int32_t PutError(SqliCursor* c, int32_t code) {
  int32_t secondary = sqlca.sqlerrd[1];
  int32_t held = sqli_put_held(c);
  int32_t sent = 0;
  if (held > 0) {
    sqli_sqlca_reset(Rt());
    if (sqli_put_send_held(c) < 0) return sqlca.sqlcode;
    sent = c->variable_columns != 0 ? sqlca.sqlerrd[2] : held;
  }
  sqlca.sqlerrd[1] = secondary;
  _iqseterr(code);
  sqlca.sqlerrd[2] = sent;
  return sqlca.sqlcode;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_put_held(const SqliCursor* c) {
  if (c == nullptr) return 0;
  if (c->column_count == 0) return c->rows_in_buffer;
  if (c->variable_columns != 0) return c->row_index != nullptr ? c->row_index->last + 1 : 0;
  if (c->buffer == nullptr || c->row_size <= 0) return 0;
  return static_cast<int32_t>((c->position - c->buffer) / c->row_size);
}

// The buffer back to empty: all slots free (fixed rows), an empty row
// index (variable rows), no PUTs counted (no columns).
static void Emptied(SqliCursor* c) {
  c->position = c->buffer;
  if (c->column_count == 0) {
    c->rows_in_buffer = 0;
  } else if (c->variable_columns != 0) {
    c->rows_in_buffer = 0;
    if (c->row_index != nullptr) {
      c->row_index->last = -1;
      c->row_index->total = 0;
    }
  } else {
    c->rows_in_buffer = c->row_size > 0 ? c->buffer_size / c->row_size : 0;
  }
}

void sqli_put_drop(SqliCursor* c) { Emptied(c); }

int32_t sqli_put_send(SqliCursor* c) {
  SqliRuntime* rt = Rt();
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  sqli_req_stmt_id(c->id, rt);
  // The types the first PUT kept go with the first send.
  if (Xtypes() && (c->flags & SQLI_CF_CHECK_SENT) == 0 && c->check_items != nullptr) {
    if (sqli_type_check(c, c->check_count, c->check_items, 3) < 0) return sqlca.sqlcode;
  }
  if (c->column_count > 0) sqli_req_put_rows(c, rt);
  c->put_rows = 0;
  Emptied(c);
  return 0;
}

int32_t sqli_put_send_held(SqliCursor* c) {
  if (sqli_put_held(c) == 0) return 0;
  if (sqli_put_send(c) < 0) return sqlca.sqlcode;
  Loop(c);
  if (c->variable_columns != 0 && sqlca.sqlcode >= 0) sqlca.sqlerrd[2] = c->put_rows;
  return sqlca.sqlcode;
}

int32_t sqli_curs_put(int32_t, SqliCursor* c, SqliDescriptor* in_desc, const char* in_name) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) return sqlca.sqlcode;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c->collection) {
    return sqli_coll_put(c, in_desc != nullptr ? in_desc->count : 0, in_desc != nullptr ? in_desc->items : nullptr,
                         in_name);
  }
  if (in_name != nullptr) {
    in_desc = sqli_desc_table_find(in_name);
    if (in_desc == nullptr) {
      _iqseterr(-469);
      return sqlca.sqlcode;
    }
  }
  const bool insert = c->kind == 6 || c->kind == 56;
  if ((c->flags & SQLI_CF_OPEN) == 0) {
    _iqseterr(insert || (c->flags & SQLI_CF_OPENED) == 0 ? -413 : -488);
    return sqlca.sqlcode;
  }
  if (!insert) {
    _iqseterr(-488);
    return sqlca.sqlcode;
  }
  int32_t count = c->input_count;
  SqliValueItem* items = c->inputs;
  if (in_desc != nullptr && in_desc->count > 0) {
    count = in_desc->count;
    items = in_desc->items;
  }
  if (c->column_count == 0) {
    c->rows_in_buffer += 1;
    if (c->rows_in_buffer >= kCountOnlySend) {
      if (sqli_put_send(c) < 0) return sqlca.sqlcode;
      Loop(c);
    }
    return sqlca.sqlcode;
  }
  if (count == 0 || items == nullptr) {
    sqli_put_send_held(c);
    if (sqlca.sqlcode >= 0) _iqseterr(-418);
    return sqlca.sqlcode;
  }
  if (Xtypes()) {
    if (count != c->column_count) {
      _iqseterr(-254);
      return sqlca.sqlcode;
    }
    if ((c->flags & SQLI_CF_PUT_CHECK) == 0) {
      if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
      if (sqli_type_check(c, count, items, 26) < 0) return sqlca.sqlcode;
    }
  }
  if (c->variable_columns != 0) {
    int32_t rc = RoomForVariableRow(c, count, items);
    if (rc < 0) return PutError(c, sqlca.sqlcode < 0 ? sqlca.sqlcode : rc);
  } else if (c->buffer == nullptr || c->row_size <= 0 || c->rows_in_buffer <= 0 ||
             c->position + c->row_size > c->buffer + c->buffer_size) {
    // A buffer without room left: the held rows go before this one.
    if (sqli_put_send_held(c) < 0) return sqlca.sqlcode;
    if (c->buffer == nullptr || c->rows_in_buffer <= 0) {
      _iqseterr(-406);
      return sqlca.sqlcode;
    }
  }
  int32_t large = 0;
  unsigned char* row_start = c->position;
  int32_t rc = PackRow(c, count, items, &large);
  if (rc < 0) {
    c->position = row_start;
    return PutError(c, sqlca.sqlcode < 0 ? sqlca.sqlcode : rc);
  }
  bool full = c->variable_columns == 0 && c->rows_in_buffer <= 0;
  if (full || large > 0) {
    int32_t sent = sqli_put_held(c);
    if (sqli_put_send(c) < 0) return sqlca.sqlcode;
    if (large > 0) {
      SqliItemList list{static_cast<int16_t>(count), items};
      rt->large_value_count = large;
      // A file value of a TEXT column goes in the server's code set.
      std::vector<int16_t> types(count > 0 ? static_cast<size_t>(count) : 0);
      sqli_input_column_types(c, static_cast<int32_t>(types.size()), types.data());
      if (sqli_send_blobs_typed(&list, types.data(), rt) < 0) {
        int32_t code = sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
        Loop(c);
        sqli_sqlca_reset(rt);
        _iqseterr(code);
        return sqlca.sqlcode;
      }
    }
    Loop(c);
    if (sqlca.sqlcode >= 0) sqlca.sqlerrd[2] = c->variable_columns != 0 ? c->put_rows : sent;
  }
  return sqlca.sqlcode;
}

int32_t sqli_curs_flush(int32_t, SqliCursor* c) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c != nullptr && c->collection) return sqli_coll_flush(c);
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c == nullptr || (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if ((c->flags & SQLI_CF_OPEN) == 0) {
    _iqseterr(-422);
    return sqlca.sqlcode;
  }
  if (c->id != -1) {
    if (c->kind != 6 && c->kind != 56) {
      _iqseterr(-417);
      return sqlca.sqlcode;
    }
    int32_t held = sqli_put_held(c);
    if (held > 0) {
      sqli_put_send_held(c);
      if (sqlca.sqlcode >= 0 && c->variable_columns == 0) sqlca.sqlerrd[2] = held;
    }
  }
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

TV_END_C
