// Statement execution (see execute.h).
//
// Messages each call writes (codes of requests.h), ended by 12 and the
// reply loop:
//   EXECUTE IMMEDIATE  2, 111 or 22, 49 (a loop unless DEFERRED_PREPARE);
//                      then 4, 7, 11
//   EXECUTE            (a deferred PREPARE: 2, 111 or 22, 49); 4, 5, 41, 7
//   EXECUTE ... INTO   4 (or 1 and 22 without an id), 5, 100, 16
//   singleton SELECT   1, 22, 5, 100, 16, 11
//   EXECUTE PROCEDURE  1, 22, 5, 41, 100, 59, 11 with the release flag
//   no cursor          1 and 22, or 4; 5; 41; 7; 11 but for the database
//                      statements
//   DATABASE           36
//   CLOSE DATABASE     the close of each open cursor; 37
//   CREATE PROCEDURE   1 (the file's text), 22, 7
#include "sqlruntime/execute.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/thread_state.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/collections.h"
#include "sqltypes/sqlvalue.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/insert_cursor.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/collection.h"

namespace {

SqliRuntime* Rt() { return sqli_runtime_get(); }
SqliConnection* Conn() {
  SqliRuntime* rt = Rt();
  return rt != nullptr ? rt->current : nullptr;
}

bool CapDefPrep(const SqliConnection* c) { return c != nullptr && (c->caps[0] & 0x06) != 0; }
bool DefPrepOn() { return (Rt()->options & SQLI_OPT_DEFPREP) != 0; }
bool Xtypes() {
  SqliConnection* c = Conn();
  return c != nullptr && SQLI_CAP_XTYPES(c);
}

int32_t Loop(SqliCursor* c) {
  sqli_reply_loop(c, 0);
  return sqlca.sqlcode;
}

bool DbKind(int32_t k) { return k == 1 || k == 12 || k == 38; }
bool RefreshKind(int32_t k) { return DbKind(k) || k == 13 || k == 31; }

// Float format of the message stream and the per-thread value mode: most
// significant byte first with the capability, decimals when the fourth
// database property says so, else native.
void SetFloatMode(SqliConnection* conn) {
  int32_t mode = SQLI_CAP(conn, 1, 0x10) ? 1 : conn->props[3] ? 2 : 0;
  if (conn->stream != nullptr) conn->stream->float_format = static_cast<uint32_t>(mode);
  rsetmode(mode);
}

// The database state after a statement that opened, created or closed a
// database: the redirect first, then the properties from the sqlca.
int32_t RefreshDbState(int32_t kind) {
  if (!RefreshKind(kind)) return 0;
  if (sqli_conn_redirect() < 0) return sqlca.sqlcode;
  SqliConnection* conn = Conn();
  if (conn == nullptr) return sqlca.sqlcode;
  if (kind != 13) {
    if (kind != 31) {
      conn->props[1] = sqlca.sqlwarn.sqlwarn2 == 'W';
      conn->props[5] = sqlca.sqlwarn.sqlwarn7 == 'W';
    }
    sqli_stmt_table_free();
  }
  if (kind == 13 || kind == 31) conn->props[1] = 0;
  rsetansi(conn->props[1]);
  if (DbKind(kind)) {
    conn->db_open = 1;
    if (sqli_conn_is_implicit()) {
      const char w[6] = {sqlca.sqlwarn.sqlwarn1, sqlca.sqlwarn.sqlwarn2, sqlca.sqlwarn.sqlwarn3,
                         sqlca.sqlwarn.sqlwarn4, sqlca.sqlwarn.sqlwarn6, sqlca.sqlwarn.sqlwarn7};
      for (int i = 0; i < 6; ++i) conn->props[i] = w[i] == 'W';
      if (!SQLI_CAP_OPTOFC(conn)) {
        conn->props[3] = 1;
        sqlca.sqlwarn.sqlwarn4 = 'W';
      }
      rsetansi(conn->props[1]);
      SetFloatMode(conn);
    }
  }
  if (kind == 31) conn->db_open = 0;
  return sqlca.sqlcode;
}

// The open cursors of the statement table, collected first because
// closing may free records.
std::vector<SqliCursor*> OpenCursors() {
  std::vector<SqliCursor*> out;
  for (auto* e = static_cast<SqliCursorEntry*>(Rt()->statement_list); e != nullptr; e = e->next) {
    if (e->cursor->flags & SQLI_CF_OPEN) out.push_back(e->cursor);
  }
  return out;
}

bool InsertCursor(const SqliCursor* c) { return c->kind == 6 || c->kind == 56; }

// COMMIT WORK sends the held PUT rows first, ROLLBACK WORK drops them;
// both then close every open cursor without hold.
int32_t EndTransaction(int32_t kind) {
  std::vector<SqliCursor*> open = OpenCursors();
  for (SqliCursor* c : open) {
    if (!InsertCursor(c) || sqli_put_held(c) == 0) continue;
    if (kind == 35) {
      if (sqli_put_send_held(c) < 0) return sqlca.sqlcode;
    } else {
      sqli_put_drop(c);
    }
  }
  for (SqliCursor* c : open) {
    if (sqli_curs_entry(c) == nullptr || (c->flags & SQLI_CF_OPEN) == 0 || (c->flags & SQLI_CF_HOLD)) continue;
    sqli_curs_close_step(c, 0);
    if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  }
  return 0;
}

// Code 4 with the id, left out while a deferred prepare has no id yet.
void StmtId(SqliCursor* c) {
  if ((c->flags & SQLI_CF_DEFERRED) && c->id == -1) return;
  sqli_req_stmt_id(c->id, Rt());
}

// The parameter markers of every text piece.
int32_t Markers(const SqliCursor* c) {
  int32_t n = 0;
  for (char** p = c->text; p != nullptr && *p != nullptr; ++p) n += rstmtparamcount(*p);
  return n;
}

// Binds the inputs (5) and sends the large values (41); on failure the
// reply loop runs and the error is set. 0 or the error.
int32_t SendInputs(SqliCursor* c, SqliItemList* in, SqlValue* values, bool blobs) {
  SqliRuntime* rt = Rt();
  int32_t rc = sqli_req_bind(SQLI_REQ_BIND, in, values, rt);
  if (rc >= 0 && blobs) {
    // A file value of a TEXT column goes in the server's code set.
    std::vector<int16_t> types(in != nullptr && in->count > 0 ? static_cast<size_t>(in->count) : 0);
    sqli_input_column_types(c, static_cast<int32_t>(types.size()), types.data());
    rc = sqli_send_blobs_typed(in, types.data(), rt);
  }
  if (rc < 0) {
    int32_t code = sqlca.sqlcode < 0 ? sqlca.sqlcode : rc;
    Loop(c);
    if (sqlca.sqlcode >= 0) _iqseterr(code);
    return sqlca.sqlcode;
  }
  return 0;
}

// The execute body: EXECUTE of a statement that is not a cursor, and
// EXECUTE IMMEDIATE (immediate: no inputs, the statement released).
int32_t ExecuteBody(SqliCursor* c, bool immediate, SqliItemList* in, SqlValue* values) {
  SqliRuntime* rt = Rt();
  int32_t kind = c->kind;
  if (kind == 35 || kind == 36) {
    if (EndTransaction(kind) < 0) return sqlca.sqlcode;
  }
  if (DbKind(kind)) sqli_flag_dbstmt(rt);
  if (kind == 19) sqli_flag_revoke(rt);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  if (!immediate && kind != 133) {
    int32_t markers = Markers(c);
    int32_t given = in != nullptr ? in->count : 0;
    if (markers > 0 && given != markers) {
      _iqseterr(-254);
      return sqlca.sqlcode;
    }
    if (sqli_char_input_check(in) < 0) return sqlca.sqlcode;
  }
  StmtId(c);
  if (!immediate && SendInputs(c, in, values, true) < 0) return sqlca.sqlcode;
  sqli_req_code(SQLI_REQ_EXECUTE);
  if (immediate) sqli_req_code(SQLI_REQ_RELEASE);
  Loop(c);
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  // A deferred prepare learns its kind from the replies of this message.
  return RefreshDbState(c->kind);
}

// The inputs of EXECUTE: a named descriptor, a value description or the
// DECLARE list.
bool Inputs(SqliCursor* c, SqliDescriptor* desc, const char* name, SqliItemList* out) {
  if (name != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(name);
    if (d == nullptr) {
      _iqseterr(-469);
      return false;
    }
    *out = SqliItemList{d->count, d->items};
  } else if (desc != nullptr) {
    *out = SqliItemList{desc->count, desc->items};
  } else {
    *out = SqliItemList{c->input_count, c->inputs};
  }
  return true;
}

struct Outputs {
  int32_t count = 0;
  SqliValueItem* items = nullptr;
  SqliDescriptor* desc = nullptr;
};

// Moves the row at the buffer start into the outputs. The row holds only
// the descriptors of its TEXT and BYTE values: they are asked for as FETCH
// asks for them, with the statement id while the statement lives on the
// server (a released one needs none: the descriptor names the value).
void UnpackRow(SqliCursor* c, const Outputs& out, int32_t ind_rule, bool released) {
  c->position = c->buffer;
  if (out.count == 0 && out.desc == nullptr) return;
  int32_t mode = (out.desc != nullptr ? 0x2 : 0) | (ind_rule ? 0x4 : 0);
  int32_t rc = sqli_row_unpack(c, out.desc != nullptr ? out.desc->count : out.count,
                               out.desc != nullptr ? out.desc->items : out.items, out.desc, mode);
  if (rc < 0 && sqlca.sqlcode >= 0) _iqseterr(rc);
  if (rc >= 0 && sqlca.sqlcode >= 0) {
    c->position = c->buffer;
    rc = sqli_row_blobs(c, out.count, out.items, out.desc, ind_rule ? 1 : 0, !released && c->id != -1 ? 1 : 0, Rt());
    if (rc < 0 && sqlca.sqlcode >= 0) _iqseterr(rc);
  }
}

// EXECUTE ... INTO, singleton SELECT and EXECUTE PROCEDURE.
int32_t SelectPath(SqliCursor* c, SqliItemList* in, SqlValue* values, const Outputs& out, int32_t ind_rule,
                   bool release, bool procedure) {
  SqliRuntime* rt = Rt();
  sqli_sqlca_reset(rt);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  if (sqli_char_input_check(in) < 0) return sqlca.sqlcode;
  bool has_id = c->id != -1 || (c->flags & SQLI_CF_DEFERRED) != 0;
  if (has_id) {
    StmtId(c);
  } else {
    if (c->text == nullptr) {
      _iqseterr(-410);
      return sqlca.sqlcode;
    }
    if (sqli_req_text(c->text, in != nullptr ? in->count : 0, rt) < 0) return sqlca.sqlcode;
    sqli_req_code(SQLI_REQ_DESCRIBE);
  }
  if (SendInputs(c, in, values, procedure) < 0) return sqlca.sqlcode;
  if (Xtypes()) {
    bool deferred = (c->flags & SQLI_CF_DEFERRED) != 0;
    if (!has_id) c->flags |= SQLI_CF_NO_ID_INTO;
    if (procedure || (!has_id && !deferred)) {
      int32_t nothing = 0;
      int32_t kind = out.desc != nullptr ? 53 : 21;
      int32_t n = out.desc != nullptr ? out.desc->count : out.count;
      SqliValueItem* items = out.desc != nullptr ? out.desc->items : out.items;
      if (n > 0 && sqli_req_type_check(c, n, items, kind, &nothing, rt) < 0) {
        Loop(c);
        return sqlca.sqlcode;
      }
    }
  }
  sqli_req_code(procedure ? SQLI_REQ_PROC : SQLI_REQ_SELECT_INTO);
  if (release) sqli_req_code(SQLI_REQ_RELEASE);
  c->rows_in_buffer = 0;
  c->flags &= ~SQLI_CF_NOMORE;
  Loop(c);
  if (sqlca.sqlcode == -25587 || sqlca.sqlcode == -25582) return sqlca.sqlcode;
  c->position = c->buffer;
  if (sqlca.sqlcode >= 0) {
    if (c->rows_in_buffer == 0 && (c->flags & SQLI_CF_NOMORE)) {
      if (c->kind == 3 || c->kind == 166) {
        SqliConnection* conn = Conn();
        if (conn != nullptr && conn->props[1] != 0 && sqlca.sqlerrd[2] <= 0) _iqseterr(100);
      } else {
        _iqseterr(100);
      }
    } else if (c->rows_in_buffer > 0) {
      if (out.desc != nullptr && (c->flags & SQLI_CF_DEFERRED)) sqli_describe_into(c, out.desc);
      UnpackRow(c, out, ind_rule, release);
      if (procedure && sqlca.sqlwarn.sqlwarn3 == 'W') {
        int32_t given = out.desc != nullptr ? out.desc->count : out.count;
        int32_t columns = c->column_count;
        sqli_sqlca_reset(rt);
        _iqseterr(columns < given ? -685 : -684);
      }
    }
  }
  if (c->row_index != nullptr) {
    c->row_index->last = -1;
    c->row_index->total = 0;
  }
  return sqlca.sqlcode;
}

// A zeroed record for the calls that need no name; frees what the call
// left in it.
struct LocalRecord {
  SqliCursor c{};
  LocalRecord() {
    c.id = -1;
    c.kind = -1;
  }
  ~LocalRecord() {
    std::free(c.buffer);
    std::free(c.names);
    if (c.check_items != nullptr) {
      for (int32_t i = 0; i < c.check_count; ++i) sqli_item_free_owned(&c.check_items[i]);
    }
    std::free(c.check_items);
    std::free(c.row_index);
    std::free(c.saved_descriptor);
    sqli_columns_free(&c, 1);
    if (c.text != nullptr) {
      for (char** p = c.text; *p != nullptr; ++p) std::free(*p);
      std::free(c.text);
    }
  }
  bool SetText(const char* const* pieces) {
    size_t n = 0;
    while (pieces != nullptr && pieces[n] != nullptr) ++n;
    if (n == 0) return true;
    c.text = static_cast<char**>(std::calloc(n + 1, sizeof(char*)));
    if (c.text == nullptr) return false;
    for (size_t i = 0; i < n; ++i) {
      c.text[i] = strdup(pieces[i]);
      if (c.text[i] == nullptr) return false;
    }
    return true;
  }
};

// The singleton SELECT and EXECUTE PROCEDURE on a local record.
int32_t LocalSelect(const char* const* text, int32_t in_count, SqliValueItem* in_items, int32_t out_count,
                    SqliValueItem* out_items, SqliDescriptor* out_desc, int32_t ind_rule, bool release,
                    bool procedure) {
  if (Rt() == nullptr) return -1;
  LocalRecord rec;
  rec.c.flags = SQLI_CF_LOCAL;
  if (text == nullptr || text[0] == nullptr) {
    sqli_sqlca_reset(Rt());
    _iqseterr(-410);
    return sqlca.sqlcode;
  }
  if (!rec.SetText(text)) {
    _iqseterr(-406);
    return sqlca.sqlcode;
  }
  SqliItemList in{static_cast<int16_t>(in_count), in_items};
  Outputs out;
  out.count = out_count;
  out.items = out_items;
  out.desc = out_desc;
  return SelectPath(&rec.c, &in, nullptr, out, ind_rule, release, procedure);
}

// The item type and length of a described column.
void ItemType(const SqliColumnDesc& col, int16_t* type, int32_t* length) {
  if (col.type & 0x400) {
    bool small = ((col.length >> 8) & 0xFF) == 8;
    *type = static_cast<int16_t>(small ? 4 : 3);
    *length = small ? 4 : 8;
  } else {
    int32_t t = (col.flags & SQLI_COL_DISTINCT) ? col.xvalue : col.type & 0xFF;
    *type = static_cast<int16_t>(t);
    *length = col.length;
  }
  if (col.flags & SQLI_COL_BIT4000) *type = static_cast<int16_t>(*type | 0x4000);
  else if (col.flags & SQLI_COL_BIT2000) *type = static_cast<int16_t>(*type | 0x2000);
  else if (col.flags & SQLI_COL_DISTINCT) *type = static_cast<int16_t>(*type | 0x800);
  if (col.flags & (SQLI_COL_OPAQUE1000 | SQLI_COL_BIT1000)) *type = static_cast<int16_t>(*type | 0x1000);
}

char* CopyOwned(const char* text, int32_t* flags, int32_t bit) {
  if (text == nullptr) return nullptr;
  char* out = strdup(text);
  if (out != nullptr) *flags |= bit;
  return out;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_db_open(const char* name, int32_t exclusive) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  sqli_flag_dbstmt(rt);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  if (name == nullptr) {
    _iqseterr(-202);
    return sqlca.sqlcode;
  }
  sqli_req_db_open(name, exclusive, rt);
  Loop(nullptr);
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  if (sqli_conn_redirect() < 0) return sqlca.sqlcode;
  SqliConnection* conn = Conn();
  if (conn == nullptr) return sqlca.sqlcode;
  conn->props[1] = sqlca.sqlwarn.sqlwarn2 == 'W';
  conn->props[5] = sqlca.sqlwarn.sqlwarn7 == 'W';
  rsetansi(conn->props[1]);
  SetFloatMode(conn);
  sqli_stmt_table_free();
  conn->db_open = 1;
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_db_close(void) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  std::vector<SqliCursor*> open;
  for (auto* e = static_cast<SqliCursorEntry*>(rt->statement_list); e != nullptr; e = e->next) {
    if (e->name_kind == 0 && (e->cursor->flags & SQLI_CF_OPEN)) open.push_back(e->cursor);
  }
  for (SqliCursor* c : open) {
    // Closing may free records: each is looked up again first.
    if (sqli_curs_entry(c) == nullptr || (c->flags & SQLI_CF_OPEN) == 0) continue;
    if (sqli_curs_close_step(c, 0) == 0 && sqli_curs_entry(c) != nullptr) {
      c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_OPENED);
    }
    if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  }
  sqli_req_code(SQLI_REQ_DB_CLOSE);
  Loop(nullptr);
  sqli_stmt_table_free();
  SqliConnection* conn = Conn();
  if (conn != nullptr && sqlca.sqlcode >= 0) conn->db_open = 0;
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_proc_create(const char* file) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  LocalRecord rec;
  rec.c.flags = SQLI_CF_LOCAL;
  int32_t rc = sqli_req_text_file(file, rt);
  if (rc == -461) return sqlca.sqlcode;  // nothing was written
  if (rc >= 0) {
    sqli_req_code(SQLI_REQ_DESCRIBE);
    sqli_req_code(SQLI_REQ_EXECUTE);
  }
  int32_t code = sqlca.sqlcode;
  Loop(&rec.c);
  if (code < 0 && sqlca.sqlcode >= 0) _iqseterr(code);
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_stmt(int32_t, int16_t* pair, const char* const* text, int32_t in_count, SqliValueItem* in_items,
                  SqlValue* in_values, void* c1, void* c2, void* c3, void* c4, void* c5, int32_t collection) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (collection) return sqli_coll_stmt_entry(in_count, in_items, c1, c2, c3, c4, c5);
  int16_t scratch[2] = {0, -1};
  if (pair == nullptr) pair = scratch;
  LocalRecord rec;
  rec.c.flags = SQLI_CF_LOCAL;
  rec.c.kind = pair[0];
  rec.c.id = pair[0] == 0 ? -1 : pair[1];
  SqliItemList in{static_cast<int16_t>(in_count), in_items};
  if (rec.c.id == -1) {
    if (text == nullptr || text[0] == nullptr) {
      _iqseterr(-410);
      return sqlca.sqlcode;
    }
    if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
    if (sqli_char_input_check(&in) < 0) return sqlca.sqlcode;
    if (sqli_req_text(text, in_count, rt) < 0) return sqlca.sqlcode;
    sqli_req_code(SQLI_REQ_DESCRIBE);
  } else {
    if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
    if (sqli_char_input_check(&in) < 0) return sqlca.sqlcode;
    sqli_req_stmt_id(rec.c.id, rt);
  }
  auto keeps = [](int32_t k) { return k == 1 || k == 12 || k == 31 || k == 38; };
  if (sqli_req_bind(SQLI_REQ_BIND, &in, in_values, rt) < 0) {
    int32_t code = sqlca.sqlcode;
    if (!keeps(rec.c.kind)) sqli_req_code(SQLI_REQ_RELEASE);
    Loop(&rec.c);
    pair[0] = rec.c.kind;
    pair[1] = -1;
    if (sqlca.sqlcode >= 0) _iqseterr(code);
    return sqlca.sqlcode;
  }
  std::vector<int16_t> types(in_count > 0 ? static_cast<size_t>(in_count) : 0);
  sqli_input_column_types(&rec.c, in_count > 0 ? in_count : 0, types.data());
  if (sqli_send_blobs_typed(&in, types.data(), rt) < 0) {
    int32_t code = sqlca.sqlcode;
    Loop(&rec.c);
    // The statement stays on the server: the next call names it by id.
    pair[0] = rec.c.kind;
    pair[1] = rec.c.id;
    if (sqlca.sqlcode >= 0) _iqseterr(code);
    return sqlca.sqlcode;
  }
  sqli_req_code(SQLI_REQ_EXECUTE);
  if (!keeps(rec.c.kind)) sqli_req_code(SQLI_REQ_RELEASE);
  if (DbKind(rec.c.kind)) sqli_flag_dbstmt(rt);
  Loop(&rec.c);
  pair[0] = rec.c.kind;
  pair[1] = -1;
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  RefreshDbState(rec.c.kind);
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_exec_immed(const char* text) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  LocalRecord rec;
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  rec.c.id = -1;
  if (sqli_req_prepare(text, rt) != 0) return sqlca.sqlcode;
  bool deferred = CapDefPrep(Conn()) && DefPrepOn();
  if (deferred) {
    sqli_req_code(SQLI_REQ_DEFER_PREPARE);
    rec.c.flags |= SQLI_CF_DEFERRED;
  } else {
    sqli_req_code(SQLI_REQ_DESCRIBE);
  }
  sqli_req_code(SQLI_REQ_DESCRIBE_INPUT);
  if (!DefPrepOn()) Loop(&rec.c);
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  if (!deferred && DefPrepOn()) {
    // DEFERRED_PREPARE without the server's capability: the describe
    // reply must come before the statement can be named by its id.
    Loop(&rec.c);
    if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  }
  sqli_sqlca_reset(rt);
  rec.c.flags |= SQLI_CF_DYNAMIC;
  if (deferred) {
    // The kind comes with the replies of this message; the first word of
    // the text says whether the transaction ends here.
    rec.c.kind = static_cast<int16_t>(text != nullptr ? sqli_prep_kind(text) : -1);
  }
  ExecuteBody(&rec.c, true, nullptr, nullptr);
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_exec(int32_t, SqliCursor* c, SqliDescriptor* in_desc, const char* in_name, SqlValue* in_values,
                  SqliItemList* out, const char* out_name, void*, int32_t ind_rule) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) return sqlca.sqlcode;
  bool prepare_rides_along = false;
  if (c->collection || (c->flags & SQLI_CF_DEFERRED)) {
    if (c->collection) return sqli_coll_exec_entry(c, in_desc, in_name, out, out_name);
    if ((c->flags & SQLI_CF_DYNAMIC) == 0) {
      std::string text = c->text != nullptr && c->text[0] != nullptr ? c->text[0] : "";
      if (sqli_prep_body(c, text.c_str()) < 0) return sqlca.sqlcode;
      c->flags |= SQLI_CF_DYNAMIC | SQLI_CF_PREPARED;
      prepare_rides_along = true;
    }
  }
  if (!prepare_rides_along) sqli_sqlca_reset(rt);
  if (c->id == -1 && (c->flags & SQLI_CF_DEFERRED) == 0) {
    sqli_curs_free(1, c);
    sqli_sqlca_reset(rt);
    _iqseterr(-410);
    return sqlca.sqlcode;
  }
  if (c->flags & SQLI_CF_HAS_CURSOR) {
    _iqseterr(-765);
    return sqlca.sqlcode;
  }
  SqliItemList in{};
  if (!Inputs(c, in_desc, in_name, &in)) return sqlca.sqlcode;
  Outputs outputs;
  if (out_name != nullptr) {
    outputs.desc = sqli_desc_table_find(out_name);
    if (outputs.desc == nullptr) {
      _iqseterr(-469);
      return sqlca.sqlcode;
    }
  } else if (out != nullptr && out->count > 0) {
    outputs.count = out->count;
    outputs.items = out->items;
  } else if (c->output_count > 0) {
    outputs.count = c->output_count;
    outputs.items = c->outputs;
  }
  bool has_outputs = outputs.desc != nullptr || outputs.count > 0;
  if (c->kind == 56 && has_outputs) {
    const char* const* text = c->text;
    sqli_proc_exec_2(1, c, text, in.count, in.items, outputs.desc != nullptr ? outputs.desc->count : outputs.count,
                     outputs.desc != nullptr ? outputs.desc->items : outputs.items, outputs.desc != nullptr,
                     ind_rule, 0);
  } else if (c->kind == 2) {
    SelectPath(c, &in, in_values, outputs, ind_rule, false, false);
  } else {
    ExecuteBody(c, false, &in, in_values);
  }
  if (sqlca.sqlcode == -25594) {
    sqli_sqlca_dump("Program stopped by -25594", sqlca.sqlerrd[1]);
    std::fflush(stderr);
    // Exit status -1 as the process's low 8 bits keep it.
    std::exit(255);
  }
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

int32_t sqli_slct(int32_t, int32_t, const char* const* text, int32_t in_count, SqliValueItem* in_items,
                  int32_t out_count, SqliValueItem* out_items, int32_t ind_rule, void*, void* names, int32_t collection) {
  if (Rt() == nullptr) return -1;
  if (collection) {
    return sqli_coll_slct(in_count > 0 ? in_items : nullptr, out_count, out_items, static_cast<const char*>(names));
  }
  LocalSelect(text, in_count, in_items, out_count, out_items, nullptr, ind_rule, true, false);
  if (sqlca.sqlcode == 0) sqli_diag_update(Rt());
  return sqlca.sqlcode;
}

int32_t sqli_proc_exec_2(int32_t, SqliCursor*, const char* const* text, int32_t in_count, SqliValueItem* in_items,
                         int32_t out_count, SqliValueItem* out_items, int32_t desc_flag, int32_t ind_rule,
                         int32_t release) {
  if (Rt() == nullptr) return -1;
  SqliDescriptor desc{};
  SqliDescriptor* out_desc = nullptr;
  if (desc_flag) {
    desc.count = static_cast<int16_t>(out_count);
    desc.items = out_items;
    desc.max_count = out_count;
    out_desc = &desc;
  }
  LocalSelect(text, in_count, in_items, out_count, out_items, out_desc, ind_rule, release != 0, true);
  if (sqlca.sqlcode == 0) sqli_diag_update(Rt());
  return sqlca.sqlcode;
}

int32_t sqli_proc_exec(int32_t ignored, SqliCursor* stmt, const char* const* text, int32_t in_count,
                       SqliValueItem* in_items, int32_t out_count, SqliValueItem* out_items, int32_t ind_rule,
                       int32_t release) {
  return sqli_proc_exec_2(ignored, stmt, text, in_count, in_items, out_count, out_items, 0, ind_rule, release);
}

int32_t sqli_describe_into(SqliCursor* c, SqliDescriptor* d) {
  if (d->max_count < c->column_count) {
    _iqseterr(-479);
    return sqlca.sqlcode;
  }
  d->count = c->column_count;
  for (int32_t i = 0; i < c->column_count; ++i) {
    const SqliColumnDesc& col = c->columns[i];
    SqliValueItem& it = d->items[i];
    if (it.flags & SQLI_IF_NAME_OWNED) std::free(it.name);
    if (it.flags & SQLI_IF_TYPE_NAME_OWNED) std::free(it.type_name);
    if (it.flags & SQLI_IF_OWNER_OWNED) std::free(it.owner_name);
    // The old storage goes by the old type (var values, locators and
    // collections each have their own release).
    sqli_item_release(&it);
    it.flags &= ~(SQLI_IF_NAME_OWNED | SQLI_IF_TYPE_NAME_OWNED | SQLI_IF_OWNER_OWNED | SQLI_IF_LVAR_POINTER);
    it.name = it.type_name = it.owner_name = it.data = nullptr;
    ItemType(col, &it.type, &it.length);
    if ((col.flags & SQLI_COL_NULLABLE) == 0) it.type = static_cast<int16_t>(it.type | 0x100);
    it.name = CopyOwned(c->names != nullptr ? c->names + col.name_offset : nullptr, &it.flags, SQLI_IF_NAME_OWNED);
    it.type_name = CopyOwned(col.type_name, &it.flags, SQLI_IF_TYPE_NAME_OWNED);
    it.owner_name = CopyOwned(col.owner_name, &it.flags, SQLI_IF_OWNER_OWNED);
    it.type_name_length = col.type_name_length;
    it.owner_name_length = col.owner_name_length;
    it.xid = col.xid;
    it.source_type = static_cast<int16_t>((col.flags & SQLI_COL_DISTINCT) ? col.xvalue : col.xword1);
    const int32_t base = it.type & 0xFF;
    int32_t rc = 0;
    if (base == SQLLVARCHAR || (it.type & 0x2000) != 0) {
      // An LVARCHAR column has no fixed size: the item holds a var value of
      // its own, which a fetch fills with the whole value.
      SqliVarValue* vv = sqli_var_make();
      if (vv == nullptr) {
        rc = -406;
      } else {
        it.data = reinterpret_cast<char*>(vv);
        it.flags |= SQLI_IF_DATA_OWNED | SQLI_IF_LVAR_POINTER;
      }
    } else {
      // Storage of the type's storage size (CHAR and NCHAR with room for
      // the NUL the row unpack writes, VARCHAR its largest length and the
      // NUL); a type without one takes its host size.
      rc = sqli_item_storage(&it);
      if (rc == -486) {
        const int32_t size = sqli_host_msize(base, it.length);
        it.data = static_cast<char*>(std::calloc(static_cast<size_t>(size > 0 ? size : 1), 1));
        rc = it.data == nullptr ? -406 : 0;
        if (rc == 0) it.flags |= SQLI_IF_DATA_OWNED;
      }
    }
    if (rc < 0) {
      _iqseterr(rc);
      return sqlca.sqlcode;
    }
  }
  return sqlca.sqlcode;
}

int32_t sqli_describe_stmt(int32_t, SqliCursor* c, SqliDescriptor** out, const char* name) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) return sqlca.sqlcode;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c->collection) return sqli_coll_describe(c, out, name);
  if (c->flags & SQLI_CF_DEFERRED) {
    const SqliCursor* rel = c->related;
    bool reached = rel != nullptr ? (rel->flags & SQLI_CF_OPEN) != 0 : c->id != -1;
    bool optofc_open = c->kind != 6 && c->deferred_open == 2;
    if (!reached && !optofc_open) {
      _iqseterr(-1826);
      return sqlca.sqlcode;
    }
  }
  if (c->id == -1) {
    _iqseterr(-410);
    return sqlca.sqlcode;
  }
  if (c->kind != 2) sqlca.sqlcode = c->kind;
  if (c->kind == 32 || c->kind == 33) {
    sqlca.sqlwarn.sqlwarn0 = 'W';
    sqlca.sqlwarn.sqlwarn4 = 'W';
    sqli_warn_client(4);
  }
  int32_t n = c->column_count;
  if (name != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(name);
    if (d == nullptr) {
      _iqseterr(-469);
      return sqlca.sqlcode;
    }
    int32_t keep = sqlca.sqlcode;
    sqli_describe_into(c, d);
    if (sqlca.sqlcode >= 0) sqlca.sqlcode = keep;
  } else if (out != nullptr) {
    size_t bytes = sizeof(SqliDescriptor) + static_cast<size_t>(n) * (sizeof(SqliValueItem) + sizeof(int16_t));
    auto* d = static_cast<SqliDescriptor*>(std::calloc(1, bytes));
    if (d == nullptr) {
      _iqseterr(-406);
      return sqlca.sqlcode;
    }
    d->count = static_cast<int16_t>(n);
    d->max_count = n;
    d->items = reinterpret_cast<SqliValueItem*>(d + 1);
    for (int32_t i = 0; i < n; ++i) {
      const SqliColumnDesc& col = c->columns[i];
      SqliValueItem& it = d->items[i];
      ItemType(col, &it.type, &it.length);
      it.name = c->names != nullptr ? c->names + col.name_offset : nullptr;
      it.type_name = col.type_name;
      it.owner_name = col.owner_name;
      it.type_name_length = col.type_name_length;
      it.owner_name_length = col.owner_name_length;
      it.xid = col.xid;
      it.source_type = static_cast<int16_t>((col.flags & SQLI_COL_DISTINCT) ? col.xvalue : col.xword1);
      it.ind_type = -1;
    }
    *out = d;
  }
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

TV_END_C
