// FETCH and scroll (see fetch.h).
//
// Messages a FETCH writes when its buffer is empty (codes of requests.h),
// ended by 12 and the reply loop:
//   sequential  the recorded OPEN under OPTOFC; 4, 100 (output types once
//               per open, extended types only), 9 with the buffer size
//   scroll      4, 100 as above, 23 with direction, position and size
// The server answers with as many tuples (14) as fill the buffer, a done
// reply (15) after the last row, and for a scroll fetch the number of the
// first row sent (25).
//
// The buffered window of a scroll cursor holds rows first_row..last_row;
// rows_in_buffer of them are still unread, so the row last handed out is
// last_row - rows_in_buffer, and position points at the row after it.
#include "sqlruntime/fetch.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "base/env.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/collections.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/runtime.h"

namespace {

SqliRuntime* Rt() { return sqli_runtime_get(); }
SqliConnection* Conn() {
  SqliRuntime* rt = Rt();
  return rt != nullptr ? rt->current : nullptr;
}

bool DefPrepOn() { return (Rt()->options & SQLI_OPT_DEFPREP) != 0; }

bool Optofc(const SqliRuntime* rt, const SqliCursor* c) {
  const SqliConnection* conn = rt != nullptr ? rt->current : nullptr;
  return conn != nullptr && conn->optofc == 1 && SQLI_CAP_OPTOFC(conn) && c->kind != 6;
}

bool Optofc(const SqliCursor* c) { return Optofc(Rt(), c); }

bool Xtypes() {
  SqliConnection* c = Conn();
  return c != nullptr && SQLI_CAP_XTYPES(c);
}

// The targets of a FETCH: a descriptor's items or the DECLARE outputs.
struct Targets {
  int32_t count = 0;
  SqliValueItem* items = nullptr;
  SqliDescriptor* desc = nullptr;
};

bool Any(const Targets& t) { return t.count > 0; }

int32_t Loop(SqliCursor* c) {
  sqli_reply_loop(c, 0);
  return sqlca.sqlcode;
}

// The buffer of a cursor whose describe reply has not come yet (the
// prepare and the OPEN travel with the first fetch): 4,096 bytes, raised
// by FET_BUF_SIZE.
bool EnsureBuffer(SqliCursor* c) {
  if (c->buffer_size > 0) return true;
  int32_t size = 4096;
  const char* v = ggetenv_idx("FET_BUF_SIZE", -1);
  if (v != nullptr && *v != '\0') {
    long long want = std::strtoll(v, nullptr, 10);
    if (want > 1048576) want = 1048576;
    SqliConnection* conn = Conn();
    if (!(conn != nullptr && SQLI_CAP(conn, 7, 0x01)) && want > 32767) want = 32767;
    if (want > size) size = static_cast<int32_t>(want);
  }
  auto* b = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(size), 1));
  if (b == nullptr) {
    _iqseterr(-406);
    return false;
  }
  std::free(c->buffer);
  c->buffer = b;
  c->position = b;
  c->buffer_size = size;
  return true;
}

// Code 4 unless the prepare and OPEN travel with this fetch.
void StmtIdUnlessCarried(SqliCursor* c) {
  if (DefPrepOn() && Optofc(c) && c->deferred_open != 3) return;
  sqli_req_stmt_id(c->id, Rt());
}

// The output types once per open, on an extended-types connection.
int32_t CheckOnce(SqliCursor* c, const Targets& t) {
  if (!Xtypes() || (c->flags & SQLI_CF_CHECK_SENT) || !Any(t)) return 0;
  if (DefPrepOn() && Optofc(c)) return 0;
  return sqli_type_check(c, t.count, t.items, t.desc != nullptr ? 61 : 29);
}

void EmptyIndex(SqliCursor* c) {
  if (c->row_index != nullptr) {
    c->row_index->last = -1;
    c->row_index->total = 0;
  }
}

// Rows of the current batch.
int32_t BatchRows(const SqliCursor* c) {
  if (c->variable_columns != 0 && c->row_index != nullptr) return c->row_index->last + 1;
  return c->last_row >= c->first_row && c->first_row > 0 ? c->last_row - c->first_row + 1 : c->rows_in_buffer;
}

// Bytes of row i of the batch (0-based).
int32_t RowLength(const SqliCursor* c, int32_t i) {
  if (c->variable_columns != 0 && c->row_index != nullptr) {
    return i >= 0 && i <= c->row_index->last ? c->row_index->lengths[i] : 0;
  }
  return c->row_size;
}

// Offset of row i of the batch from the buffer start.
int64_t RowOffset(const SqliCursor* c, int32_t i) {
  if (c->variable_columns != 0 && c->row_index != nullptr) {
    int64_t off = 0;
    for (int32_t k = 0; k < i && k <= c->row_index->last; ++k) off += c->row_index->lengths[k];
    return off;
  }
  return static_cast<int64_t>(i) * c->row_size;
}

// Whether a row of the cursor holds TEXT or BYTE columns. The columns
// change only with a describe or a type check, both of which come before
// a new batch of rows, so the scan is made once per batch (ForgetColumnScan
// where a batch is asked for) and not once per row.
bool HasBlobColumns(SqliCursor* c) {
  if (c->blob_columns != 0 && c->blob_scan == c->columns) return c->blob_columns == 2;
  bool some = false;
  for (int32_t i = 0; c->columns != nullptr && i < c->column_count; ++i) {
    const int32_t ct = c->columns[i].type & 0xFF;
    if (ct == 11 || ct == 12) some = true;
  }
  c->blob_columns = some ? 2 : 1;
  c->blob_scan = c->columns;
  return some;
}

void ForgetColumnScan(SqliCursor* c) { c->blob_columns = 0; }

// The TEXT and BYTE values of the row at the position: the row holds only
// their descriptors, the values come in one more exchange (statement id,
// a descriptor request per non-null value, then the values in one reply).
// Every target is checked before anything is written.
int32_t FetchBlobs(SqliCursor* c, const Targets& t, int32_t mode) {
  SqliRuntime* rt = Rt();
  int32_t rc = sqli_blob_targets_check(c, t.count, t.items, t.desc);
  if (rc != 0) {
    _iqseterr(rc);
    return rc;
  }
  SqliItemList list{static_cast<int16_t>(t.count), t.items};
  if (sqli_blob_indicators(c, &list, 1) > 0) {
    sqli_req_stmt_id(c->id, rt);
    if (sqli_req_blob_descs(c, t.count, t.items, t.desc, rt) != 0) return sqlca.sqlcode;
    sqli_msg_end(rt);
  }
  rc = sqli_recv_blob_columns(c, t.count, t.items, t.desc, (mode & 0x4) != 0 ? 1 : 0, 0, rt);
  return rc < 0 ? rc : 0;
}

// The statement-table record of a cursor, or null.
SqliCursorEntry* EntryOf(const SqliRuntime* rt, const SqliCursor* c) {
  for (auto* e = static_cast<SqliCursorEntry*>(rt->statement_list); e != nullptr; e = e->next) {
    if (e->cursor == c) return e;
  }
  return nullptr;
}

// Moves the row at the position into the targets, marks its row warning
// and moves on. index: the row's place in the batch.
int32_t HandOut(SqliRuntime* rt, SqliCursor* c, const Targets& t, const SqliFetchSpec* spec, int32_t index) {
  if (Any(t) || t.desc != nullptr) {
    if (t.desc != nullptr && DefPrepOn() && Optofc(c) && c->deferred_open == 2) sqli_describe_into(c, t.desc);
    int32_t mode = (t.desc != nullptr ? 0x2 : 0) | (spec != nullptr && spec->ind_rule ? 0x4 : 0);
    int32_t rc = sqli_hv::RowUnpack(rt, c, t.count, t.items, t.desc, mode);
    if (rc < 0 && sqlca.sqlcode >= 0) _iqseterr(rc);
    if (rc >= 0 && HasBlobColumns(c)) {
      rc = FetchBlobs(c, t, mode);
      if (rc < 0 && sqlca.sqlcode >= 0) _iqseterr(rc);
    }
  }
  SqliCursorEntry* e = EntryOf(rt, c);
  if (e != nullptr && e->warnings.marked) {
    SqliRowWarnings& w = e->warnings;
    if (w.bitmap == nullptr || index < 0 || index >= w.capacity) {
      _iqseterr(-1812);
      return -1;
    }
    if (w.bitmap[index / 8] & (1u << (index % 8))) {
      sqlca.sqlwarn.sqlwarn0 = 'W';
      sqlca.sqlwarn.sqlwarn4 = 'W';
    }
    w.next = index + 1;
  }
  c->rows_in_buffer -= 1;
  c->position += RowLength(c, index);
  return sqlca.sqlcode;
}

int32_t Sequential(SqliRuntime* rt, SqliCursor* c, const Targets& t, const SqliFetchSpec* spec) {
  if (c->rows_in_buffer == 0 && (c->flags & SQLI_CF_NOMORE)) {
    if (Optofc(c) && (c->flags & SQLI_CF_SERVER_CLOSED) && (c->flags & SQLI_CF_SCROLL) == 0 &&
        (c->flags & SQLI_CF_AUTOFREED)) {
      sqli_curs_client_free(c);
    }
    _iqseterr(100);
    return 100;
  }
  bool ended = false;
  if (c->rows_in_buffer == 0) {
    c->position = c->buffer;
    EmptyIndex(c);
    if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
    StmtIdUnlessCarried(c);
    if (CheckOnce(c, t) < 0) return sqlca.sqlcode;
    if (DefPrepOn() && Optofc(c) && !EnsureBuffer(c)) return sqlca.sqlcode;
    sqli_req_fetch(c->buffer_size);
    ForgetColumnScan(c);
    SqliCursorEntry* e = sqli_curs_entry(c);
    if (e != nullptr) {
      e->warnings.next = 0;
      e->warnings.marked = 0;
    }
    c->first_row = c->last_row = 0;
    Loop(c);
    if (sqlca.sqlcode < 0) {
      if (sqlca.sqlcode == -276 && (c->flags & SQLI_CF_AUTOFREED)) sqli_curs_client_free(c);
      return sqlca.sqlcode;
    }
    if (c->rows_in_buffer == 0) {
      _iqseterr(100);
      return 100;
    }
    c->position = c->buffer;
    ended = (c->flags & SQLI_CF_NOMORE) != 0;
    // A sequential batch numbers its rows from 1.
    c->first_row = 1;
    c->last_row = c->rows_in_buffer;
  }
  int32_t index = BatchRows(c) - c->rows_in_buffer;
  if (HandOut(rt, c, t, spec, index) < 0) return sqlca.sqlcode;
  if (sqlca.sqlcode == 0 && !ended) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

// The row number asked for by a scroll FETCH.
int32_t PositionValue(SqliItemList* vars, const SqliFetchSpec* spec) {
  if (vars != nullptr && vars->count > 0 && vars->items != nullptr && vars->items[0].data != nullptr) {
    SqliValueItem& v = vars->items[0];
    int64_t n = 0;
    if (v.type == 103) {
      std::memcpy(&n, v.data, sizeof n);
    } else if (v.type == 102) {
      int32_t k = 0;
      std::memcpy(&k, v.data, sizeof k);
      n = k;
    } else if (sqli_host_to_host(v.data, v.type, v.length, &n, 103, sizeof n) < 0) {
      return spec != nullptr ? spec->position : 0;
    }
    return static_cast<int32_t>(n);
  }
  return spec != nullptr ? spec->position : 0;
}

enum class Local { kServe, kAsk, kNone, kError };

// Decides a scroll position inside the buffered window. On kServe the
// position and unread count are set to hand out *row (a row number).
Local Position(SqliCursor* c, int32_t* direction, int32_t* n, int32_t* row) {
  bool window = c->first_row > 0 && (c->flags & SQLI_CF_WINDOW_BAD) == 0;
  int32_t r = c->last_row - c->rows_in_buffer;
  if (*direction == SQLI_FETCH_FIRST) {
    *direction = SQLI_FETCH_ABSOLUTE;
    *n = 1;
  }
  if (*direction == SQLI_FETCH_RELATIVE) {
    if (*n == 0) {
      *direction = SQLI_FETCH_CURRENT;
    } else {
      *direction = SQLI_FETCH_ABSOLUTE;
      *n = r + *n;
      if (*n <= 0) return Local::kNone;
    }
  }
  switch (*direction) {
    case SQLI_FETCH_NEXT:
      if (c->rows_in_buffer > 0 && c->first_row > 0) {
        *row = r + 1;
        return Local::kServe;
      }
      return Local::kAsk;
    case SQLI_FETCH_PRIOR:
      if (window && r - 1 >= c->first_row) {
        *row = r - 1;
        return Local::kServe;
      }
      return Local::kAsk;
    case SQLI_FETCH_LAST:
      return Local::kAsk;
    case SQLI_FETCH_CURRENT:
      if (!window || r < c->first_row) {
        _iqseterr(-423);
        return Local::kError;
      }
      *row = r;
      return Local::kServe;
    case SQLI_FETCH_ABSOLUTE:
      if (*n <= 0) return Local::kNone;
      if (!window || *n < c->first_row || *n > c->last_row) return Local::kAsk;
      if (c->first_row == c->last_row && (c->flags & SQLI_CF_NOMORE)) return Local::kAsk;
      *row = *n;
      return Local::kServe;
    default:
      _iqseterr(-482);
      return Local::kError;
  }
}

int32_t Scroll(SqliCursor* c, SqliItemList* vars, const Targets& t, const SqliFetchSpec* spec) {
  SqliRuntime* rt = Rt();
  int32_t direction = spec != nullptr ? spec->direction : SQLI_FETCH_NEXT;
  int32_t n = PositionValue(vars, spec);
  int32_t row = 0;
  switch (Position(c, &direction, &n, &row)) {
    case Local::kError:
      return sqlca.sqlcode;
    case Local::kNone:
      _iqseterr(100);
      return 100;
    case Local::kServe: {
      int32_t index = row - c->first_row;
      c->position = c->buffer + RowOffset(c, index);
      c->rows_in_buffer = c->last_row - row + 1;
      if (HandOut(rt, c, t, spec, index) < 0) return sqlca.sqlcode;
      if (sqlca.sqlcode == 0) sqli_diag_update(rt);
      return sqlca.sqlcode;
    }
    case Local::kAsk:
      break;
  }
  sqli_sqlca_reset(rt);
  int32_t kept_rows = c->rows_in_buffer;
  unsigned char* kept_position = c->position;
  SqliRowIndex* kept_index = c->row_index;
  int32_t kept_first = c->first_row, kept_last = c->last_row;
  c->position = c->buffer;
  c->rows_in_buffer = 0;
  auto restore = [&] {
    if (c->row_index != kept_index) {
      std::free(c->row_index);
      c->row_index = kept_index;
    }
    c->rows_in_buffer = kept_rows;
    c->position = kept_position;
    c->first_row = kept_first;
    c->last_row = kept_last;
    c->flags |= SQLI_CF_WINDOW_BAD;
  };
  if (c->variable_columns != 0) {
    // The former rows stay readable until the new batch is in.
    c->row_index = nullptr;
    if (sqli_row_index_room(c) != 0) {
      c->row_index = kept_index;
      restore();
      return sqlca.sqlcode;
    }
  }
  if (sqli_conn_ensure() != 0) {
    restore();
    return sqlca.sqlcode;
  }
  StmtIdUnlessCarried(c);
  if (CheckOnce(c, t) < 0) {
    restore();
    return sqlca.sqlcode;
  }
  if (DefPrepOn() && Optofc(c) && !EnsureBuffer(c)) {
    restore();
    return sqlca.sqlcode;
  }
  c->first_row = c->last_row = 0;
  c->flags &= ~SQLI_CF_NOMORE;
  ForgetColumnScan(c);
  sqli_req_scroll_fetch(direction, direction == SQLI_FETCH_ABSOLUTE ? n : 0, c->buffer_size);
  Loop(c);
  if (sqlca.sqlcode < 0 || (c->rows_in_buffer == 0 && (c->flags & SQLI_CF_NOMORE))) {
    bool none = sqlca.sqlcode >= 0;
    restore();
    if (none) _iqseterr(100);
    return sqlca.sqlcode;
  }
  if (c->row_index != kept_index) std::free(kept_index);
  if (sqlca.sqlcode == 100 || c->rows_in_buffer == 0) {
    if (sqlca.sqlcode != 100) _iqseterr(100);
    return sqlca.sqlcode;
  }
  if (c->first_row == 0) {
    // A server that did not number its rows: the window is unknown.
    c->first_row = 1;
    c->last_row = c->rows_in_buffer;
    c->flags |= SQLI_CF_WINDOW_BAD;
  }
  c->position = c->buffer;
  if (HandOut(rt, c, t, spec, 0) < 0) return sqlca.sqlcode;
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_type_check(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t kind) {
  // 0x02 sends the kept items unless items are given to be kept (0x08).
  const bool saved = (kind & 0x02) != 0 && !((kind & 0x08) != 0 && count > 0 && items != nullptr);
  if (!saved && (count <= 0 || items == nullptr)) {
    c->check_items = sqli_item_array_make(c->check_items, c->check_count, 0);
    c->check_count = 0;
    return 0;
  }
  // The items given with 0x08 are kept in the cursor (resized to the
  // count).
  if (saved && c->check_items == nullptr) return 0;
  int32_t nothing = 0;
  // A check of output items sets the layout of the rows the server sends
  // in the items' forms; the buffer must hold one such row.
  int32_t rc = sqli_req_type_check(c, count, items, kind, &nothing, Rt());
  if (rc >= 0 && c->variable_columns == 0 && c->buffer != nullptr && c->row_size > c->buffer_size) {
    const ptrdiff_t at = c->position != nullptr ? c->position - c->buffer : 0;
    auto* b = static_cast<unsigned char*>(std::realloc(c->buffer, static_cast<size_t>(c->row_size)));
    if (b == nullptr) {
      _iqseterr(-406);
      return -406;
    }
    c->position = b + at;
    c->buffer = b;
    c->buffer_size = c->row_size;
  }
  if (rc < 0) {
    if (c->check_items == nullptr) c->check_count = 0;
    return sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
  }
  if (kind & 0x1) c->flags |= SQLI_CF_CHECK_SENT;
  if (kind & 0x8) c->flags |= SQLI_CF_PUT_CHECK;
  if (nothing && !saved) {
    c->check_items = sqli_item_array_make(c->check_items, c->check_count, 0);
    c->check_count = 0;
  }
  return 0;
}

int32_t sqli_curs_fetch(int32_t, SqliCursor* c, SqliItemList* position_vars, SqliDescriptor* out_desc,
                        const char* out_name, SqliFetchSpec* spec) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr || sqli_sqlca_reset(rt) != 0) return sqlca.sqlcode;
  if (c->collection) {
    return sqli_coll_fetch(c, out_desc != nullptr ? out_desc->count : 0, out_desc != nullptr ? out_desc->items : nullptr,
                           out_name);
  }
  if (Optofc(rt, c)) {
    if (c->deferred_open == 0) {
      _iqseterr(-400);
      return sqlca.sqlcode;
    }
    if (c->deferred_open == 1) {
      c->deferred_open = 2;
      if (sqli_curs_open(1, c, nullptr, c->saved_descriptor, nullptr, 2, (c->flags & SQLI_CF_OPEN_FLAG) != 0) < 0) {
        return sqlca.sqlcode;
      }
      c->rows_in_buffer = 0;
    } else {
      c->deferred_open = 3;
    }
  }
  if ((c->flags & SQLI_CF_OPEN) == 0) {
    _iqseterr(-400);
    return sqlca.sqlcode;
  }
  if (c->kind != 2 && c->kind != 56) {
    _iqseterr(-488);
    return sqlca.sqlcode;
  }
  Targets t;
  if (out_name != nullptr) {
    out_desc = sqli_desc_table_find(out_name);
    if (out_desc == nullptr) {
      _iqseterr(-469);
      return sqlca.sqlcode;
    }
  }
  if (out_desc != nullptr) {
    t.count = out_desc->count;
    t.items = out_desc->items;
    // Only a named descriptor fills its items the descriptor's way; a
    // description the program built is an output list like any other.
    if (out_name != nullptr) t.desc = out_desc;
  } else {
    t.count = c->output_count;
    t.items = c->outputs;
  }
  if (c->flags & SQLI_CF_SCROLL) return Scroll(c, position_vars, t, spec);
  if (spec != nullptr && spec->direction != SQLI_FETCH_NEXT) {
    _iqseterr(-482);
    return sqlca.sqlcode;
  }
  return Sequential(rt, c, t, spec);
}

TV_END_C
