// The statement table of a connection and the cursor calls: DECLARE,
// OPEN, CLOSE, FREE, PREPARE, SET AUTOFREE, SET DEFERRED_PREPARE, and the
// fetch-buffer exchange that FETCH uses.
//
// Messages each call writes (codes of requests.h), ended by 12 and the
// reply loop:
//   PREPARE   2, 111 or 22, 49 (nothing under DEFERRED_PREPARE)
//   OPEN      without an id: 1, 111 or 22, 49 (a loop unless deferred);
//             then 4, 3, 24, 43, 5, 41, 108, 6 or 87 (nothing under OPTOFC:
//             the OPEN travels with the first fetch)
//   fetch     the recorded OPEN; 4, 9
//   CLOSE     the held PUT rows (4, 17); 4, 10, and 11 for a cursor
//             declared with a text
//   FREE      4, 10 and 4, 11 for an open cursor; 4, 11 for a statement
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sqlruntime/collections.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/insert_cursor.h"
#include "sqlruntime/names.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/collection.h"

// Frees a record's type-check items and the names they own.
static void FreeCheckItems(SqliCursor* c) {
  if (c->check_items != nullptr) {
    for (int32_t i = 0; i < c->check_count; ++i) sqli_item_free_owned(&c->check_items[i]);
  }
  std::free(c->check_items);
  c->check_items = nullptr;
}

namespace {

SqliRuntime* Rt() { return sqli_runtime_get(); }

// Drops what an OPEN held back under OPTOFC: the descriptor name and the
// copied input description.
void FreeSavedInputs(SqliCursor* c) {
  std::free(c->saved_descriptor);
  c->saved_descriptor = nullptr;
  if (c->saved_input != nullptr) {
    std::free(c->saved_input->items);
    std::free(c->saved_input);
    c->saved_input = nullptr;
  }
}

// A copy of an input description (its items, not the values they point
// to); null when it cannot be made.
SqliDescriptor* CopyInputs(const SqliDescriptor* d) {
  auto* copy = static_cast<SqliDescriptor*>(std::calloc(1, sizeof(SqliDescriptor)));
  if (copy == nullptr) return nullptr;
  copy->count = d->count;
  copy->max_count = d->count;
  if (d->count > 0 && d->items != nullptr) {
    size_t bytes = static_cast<size_t>(d->count) * sizeof(SqliValueItem);
    copy->items = static_cast<SqliValueItem*>(std::malloc(bytes));
    if (copy->items == nullptr) {
      std::free(copy);
      return nullptr;
    }
    std::memcpy(copy->items, d->items, bytes);
  }
  return copy;
}
SqliConnection* Conn() {
  SqliRuntime* rt = Rt();
  return rt != nullptr ? rt->current : nullptr;
}

SqliCursorEntry*& Head() { return reinterpret_cast<SqliCursorEntry*&>(Rt()->statement_list); }

bool Broken(int32_t code) {
  return code == -25580 || code == -25582 || code == -25583 || code == -25586 || code == -25587;
}

bool CapDefPrep(const SqliConnection* c) { return c != nullptr && (c->caps[0] & 0x06) != 0; }
bool CapAutofree(const SqliConnection* c) { return c != nullptr && (c->caps[0] & 0x50) != 0; }
bool Ansi(const SqliConnection* c) { return c != nullptr && c->props[1] != 0; }
bool DefPrepOn() { return (Rt()->options & SQLI_OPT_DEFPREP) != 0; }

// OPTOFC in force for this cursor: the setting, the server's capability
// and not an insert cursor.
bool Optofc(const SqliCursor* c) {
  SqliConnection* conn = Conn();
  return conn != nullptr && conn->optofc == 1 && SQLI_CAP_OPTOFC(conn) && c->kind != 6;
}

bool AutofreeOn(const SqliCursor* c) {
  if (c->flags & SQLI_CF_AUTOFREE_ON) return true;
  return (c->flags & SQLI_CF_AUTOFREE_OFF) == 0 && (Rt()->options & SQLI_OPT_AUTOFREE) != 0;
}

// The OPTOFC case where the server already closed the cursor at its end.
bool ServerClosedShortcut(const SqliCursor* c) {
  return Optofc(c) && (c->flags & SQLI_CF_SERVER_CLOSED) != 0 && (c->flags & SQLI_CF_SCROLL) == 0;
}

void FreeText(SqliCursor* c) {
  if (c->text == nullptr) return;
  for (char** p = c->text; *p != nullptr; ++p) std::free(*p);
  std::free(c->text);
  c->text = nullptr;
}

// Copies the pieces; the trailing blanks of the last piece are cut.
bool CopyText(SqliCursor* c, const char* const* pieces) {
  FreeText(c);
  size_t n = 0;
  while (pieces != nullptr && pieces[n] != nullptr) ++n;
  c->text = static_cast<char**>(std::calloc(n + 1, sizeof(char*)));
  if (c->text == nullptr) return false;
  for (size_t i = 0; i < n; ++i) {
    c->text[i] = strdup(pieces[i]);
    if (c->text[i] == nullptr) {
      FreeText(c);
      return false;
    }
  }
  if (n > 0) {
    char* last = c->text[n - 1];
    size_t len = std::strlen(last);
    while (len > 0 && last[len - 1] == ' ') last[--len] = '\0';
  }
  return true;
}

bool SameText(const SqliCursor* c, const char* const* pieces) {
  if (c->text == nullptr || pieces == nullptr) return c->text == nullptr && pieces == nullptr;
  size_t i = 0;
  for (; c->text[i] != nullptr && pieces[i] != nullptr; ++i) {
    std::string a = c->text[i], b = pieces[i];
    if (c->text[i + 1] == nullptr && pieces[i + 1] == nullptr) {
      while (!b.empty() && b.back() == ' ') b.pop_back();
    }
    if (a != b) return false;
  }
  return c->text[i] == nullptr && pieces[i] == nullptr;
}

// Every field but the name and the statement-table link: kind and id -1.
void ResetRecord(SqliCursor* c) {
  char* name = c->name;
  SqliCursor* keep_related = nullptr;
  sqli_coll_release(c);
  std::free(c->buffer);
  FreeText(c);
  FreeSavedInputs(c);
  std::free(c->row_index);
  if (c->related == nullptr) {
    sqli_columns_free(c, 1);
    std::free(c->names);
  }
  *c = SqliCursor{};
  c->related = keep_related;
  c->name = name;
  c->kind = -1;
  c->id = -1;
}

int32_t Loop(SqliCursor* c) {
  sqli_reply_loop(c, 0);
  return sqlca.sqlcode;
}

void UpdateDiagIfClean() {
  if (sqlca.sqlcode == 0) sqli_diag_update(Rt());
}

void Release4And11(SqliCursor* c) {
  sqli_req_stmt_id(c->id, Rt());
  sqli_req_code(SQLI_REQ_RELEASE);
}

void ShareWithCursor(SqliCursor* stmt, SqliCursor* cur) {
  cur->kind = stmt->kind;
  cur->id = stmt->id;
  cur->row_size = stmt->row_size;
  cur->column_count = stmt->column_count;
  cur->columns = stmt->columns;
  cur->names = stmt->names;
  cur->variable_columns = stmt->variable_columns;
  // The row buffer is the cursor's own, of the statement's size.
  std::free(cur->buffer);
  cur->buffer = nullptr;
  cur->buffer_size = 0;
  if (stmt->buffer_size > 0) {
    cur->buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(stmt->buffer_size), 1));
    if (cur->buffer != nullptr) cur->buffer_size = stmt->buffer_size;
  }
  cur->position = cur->buffer;
  cur->rows_in_buffer = stmt->rows_in_buffer;
}

}  // namespace

TV_BEGIN_C

SqliCursorEntry* sqli_curs_entry(const SqliCursor* c) {
  if (c == nullptr || Rt() == nullptr) return nullptr;
  for (SqliCursorEntry* e = Head(); e != nullptr; e = e->next) {
    if (e->cursor == c) return e;
  }
  return nullptr;
}

SqliCursor* sqli_curs_locate(int32_t, const char* name, int32_t kind) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr || name == nullptr) return nullptr;
  if (Broken(sqlca.sqlcode)) return nullptr;
  sqli_sqlca_reset(rt);
  if (sqli_conn_ensure() != 0 || rt->current == nullptr) return nullptr;
  SqliConnection* conn = rt->current;
  const char* delimident = conn->delimident;
  std::string folded = name;
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  if ((kind & 0x100) == 0) {
    if (folded.size() > 128) return nullptr;
    char out[260];
    if (sqli_valid_ident(folded.c_str(), delimident, out) != 0) return nullptr;
    folded = out;
  }
  if (delimident == nullptr && (kind & 0x200) == 0) {
    for (char& ch : folded) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  int32_t want = kind & 0xFF;
  SqliCursorEntry* prev = nullptr;
  for (SqliCursorEntry* e = Head(); e != nullptr; prev = e, e = e->next) {
    if (std::strcmp(e->cursor->name, folded.c_str()) == 0 && (want == 2 || e->name_kind == want)) {
      if (prev != nullptr) {
        prev->next = e->next;
        e->next = Head();
        Head() = e;
      }
      conn->last_cursor_flags = static_cast<int32_t>(e->cursor->flags);
      return e->cursor;
    }
  }
  auto* e = static_cast<SqliCursorEntry*>(std::calloc(1, sizeof(SqliCursorEntry)));
  auto* c = static_cast<SqliCursor*>(std::calloc(1, sizeof(SqliCursor)));
  char* copy = strdup(folded.c_str());
  if (e == nullptr || c == nullptr || copy == nullptr) {
    std::free(e);
    std::free(c);
    std::free(copy);
    _iqseterr(-406);
    return nullptr;
  }
  c->id = -1;
  c->name = copy;
  e->cursor = c;
  e->name_kind = want == 2 ? 0 : want;
  e->next = Head();
  Head() = e;
  conn->last_cursor_flags = 0;
  return c;
}

void sqli_stmt_clear(SqliCursor* c) {
  if (c->related == nullptr) {
    sqli_columns_free(c, 1);
    std::free(c->names);
    if (c->kind == 2) {
      SqliCursorEntry* e = sqli_curs_entry(c);
      if (e != nullptr) {
        std::free(e->warnings.bitmap);
        e->warnings = SqliRowWarnings{};
      }
    }
  } else {
    c->related->flags &= ~SQLI_CF_HAS_CURSOR;
  }
  std::free(c->buffer);
  c->columns = nullptr;
  c->names = nullptr;
  c->buffer = nullptr;
  c->position = nullptr;
  c->buffer_size = 0;
  c->rows_in_buffer = 0;
  FreeCheckItems(c);
  c->flags &= ~(0x10u | SQLI_CF_CHECK_SENT | SQLI_CF_NO_ID_INTO | SQLI_CF_PUT_CHECK);
  c->check_count = 0;
  c->variable_columns = 0;
  c->column_count = 0;
  c->id = -1;
  std::free(c->row_index);
  c->row_index = nullptr;
  FreeSavedInputs(c);
}

void sqli_stmt_release(SqliCursor* c) {
  // A collection statement has nothing on the server.
  if (c->collection == 0 && c->related == nullptr) {
    Release4And11(c);
    Loop(c);
  }
  SqliConnection* conn = Conn();
  if (conn != nullptr && (conn->last_cursor_flags & SQLI_FREED_MARKER) != 0) return;
  c->flags = 0;
  sqli_coll_release(c);
  c->collection = 0;
  FreeText(c);
  sqli_stmt_clear(c);
  if (c->related != nullptr) {
    c->related->flags &= ~SQLI_CF_HAS_CURSOR;
    if (c->related->related == c) c->related->related = nullptr;
    c->related = nullptr;
  }
}

// Frees what a cursor record owns, its name and the record itself aside.
static void FreeOwned(SqliCursor* c) {
  sqli_coll_release(c);
  FreeText(c);
  FreeCheckItems(c);
  sqli_columns_free(c, 1);
  std::free(c->names);
  std::free(c->buffer);
  std::free(c->row_index);
  FreeSavedInputs(c);
}

void sqli_curs_client_free(SqliCursor* c) {
  if (c == nullptr) return;
  SqliCursor* rel = c->related;
  if (rel != nullptr) {
    // The statement hands its description over to a cursor that shares it.
    if (rel->related == c) rel->related = nullptr;
    rel->flags &= ~SQLI_CF_HAS_CURSOR;
    // Whichever side goes, the other keeps the shared description.
    if (rel->columns == c->columns) c->columns = nullptr;
    if (rel->names == c->names) c->names = nullptr;
    c->related = nullptr;
  }
  FreeOwned(c);
  SqliCursorEntry* prev = nullptr;
  for (SqliCursorEntry* e = Head(); e != nullptr; prev = e, e = e->next) {
    if (e->cursor == c) {
      if (prev != nullptr) prev->next = e->next;
      else Head() = e->next;
      std::free(e->warnings.bitmap);
      std::free(e);
      std::free(c->name);
      std::free(c);
      if (Conn() != nullptr) Conn()->last_cursor_flags = SQLI_FREED_MARKER;
      return;
    }
  }
  // A record outside the table: emptied in place.
  char* name = c->name;
  *c = SqliCursor{};
  c->name = name;
  c->id = -1;
}

void sqli_stmt_list_free(void** head) {
  if (head == nullptr) return;
  auto* first = static_cast<SqliCursorEntry*>(*head);
  *head = nullptr;
  // A cursor sharing its statement's description leaves it to the statement.
  for (SqliCursorEntry* e = first; e != nullptr; e = e->next) {
    SqliCursor* c = e->cursor;
    if (c->related != nullptr && (c->flags & SQLI_CF_HAS_CURSOR) == 0) {
      if (c->related->columns == c->columns) c->columns = nullptr;
      if (c->related->names == c->names) c->names = nullptr;
    }
  }
  while (first != nullptr) {
    SqliCursorEntry* e = first;
    first = e->next;
    SqliCursor* c = e->cursor;
    FreeOwned(c);
    std::free(c->name);
    std::free(c);
    std::free(e->warnings.bitmap);
    std::free(e);
  }
}

void sqli_stmt_table_free(void) {
  if (Rt() == nullptr) return;
  while (Head() != nullptr) {
    SqliCursorEntry* e = Head();
    if (e->cursor->related != nullptr) {
      e->cursor->related->related = nullptr;
      e->cursor->related = nullptr;
      e->cursor->columns = nullptr;
      e->cursor->names = nullptr;
    }
    sqli_curs_client_free(e->cursor);
  }
}

void sqli_curs_reset(SqliCursor* c) {
  if (c != nullptr) ResetRecord(c);
}

int32_t sqli_curs_text_set(SqliCursor* c, const char* const* pieces) { return CopyText(c, pieces) ? 0 : -1; }

int32_t sqli_prep_kind(const char* text) {
  if (text == nullptr) return -1;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  std::string word;
  while (*p != '\0' && *p != ' ') word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p++))));
  if (word == "select") return 2;
  if (word == "insert") return 6;
  if (word == "execute") return 56;
  return -1;
}

// Declares c on a text (the common part of both DECLARE calls).
static int32_t DeclareOnText(SqliCursor* c, const char* const* text, SqliItemList* in, SqliItemList* out,
                             int32_t bits) {
  // A record that held a collection statement has nothing on the server:
  // it starts afresh.
  if (c->collection) ResetRecord(c);
  if (c->id != -1) {
    bool differs = !SameText(c, text);
    bool static_plain = (c->flags & SQLI_CF_TEXT) != 0 && (c->flags & SQLI_CF_DYNAMIC) == 0;
    bool bits_change = (c->flags & (SQLI_CF_SCROLL | SQLI_CF_HOLD)) != static_cast<uint32_t>(bits & 0x1020);
    if (differs || static_plain || bits_change) {
      sqli_curs_close_step(c, 0);
      if (sqlca.sqlcode < 0) return sqlca.sqlcode;
    }
  }
  if (c->kind == 0) ResetRecord(c);
  c->input_count = in != nullptr ? in->count : 0;
  c->inputs = in != nullptr ? in->items : nullptr;
  c->output_count = out != nullptr ? out->count : 0;
  c->outputs = out != nullptr ? out->items : nullptr;
  for (SqliItemList* l : {in, out}) {
    if (l != nullptr && l->count > 0 && l->items != nullptr && (l->items[0].flags & 0x20) != 0) {
      l->items[0].flags |= 0x40;
    }
  }
  if (!CopyText(c, text)) {
    _iqseterr(-406);
    return sqlca.sqlcode;
  }
  c->flags = (c->flags & ~(SQLI_CF_SCROLL | SQLI_CF_HOLD)) | (static_cast<uint32_t>(bits) & 0x1020) | SQLI_CF_TEXT;
  if (!sqli_dbansiwarn_unset() && c->name != nullptr) {
    int32_t code = 0;
    if (sqli_keyword_lookup(c->name, &code, nullptr) >= 0 && code != 0) {
      sqlca.sqlwarn.sqlwarn0 = 'W';
      sqlca.sqlwarn.sqlwarn5 = 'W';
      sqli_warn_client(5);
    }
  }
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_curs_decl_stat(int32_t, SqliCursor* c, const char* name, const char* const* text, SqliItemList* in,
                            SqliItemList* out, int32_t bits, void* values, void* names, void* kind, void* position,
                            int32_t collection) {
  if (Rt() == nullptr) return -1;
  if (collection) {
    // Collection cursors are declared by the collection runtime; they
    // neither scroll nor hold.
    if (bits & 0x1020) {
      _iqseterr(-1828);
      return sqlca.sqlcode;
    }
    return sqli_coll_decl(c, name, text, in != nullptr ? in->count : 0, in != nullptr ? in->items : nullptr,
                          out != nullptr ? out->count : 0, out != nullptr ? out->items : nullptr,
                          static_cast<const SqliCollValue*>(values), static_cast<const char*>(names),
                          static_cast<int32_t>(reinterpret_cast<intptr_t>(kind)),
                          static_cast<int32_t>(reinterpret_cast<intptr_t>(position)));
  }
  if (c == nullptr) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if (c->id != -1 && (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) {
    // A static cursor that was also prepared: freed and made anew.
    std::string name = c->name;
    sqli_curs_free(1, c);
    c = sqli_curs_locate(1, name.c_str(), 0x200);
    if (c == nullptr) {
      if (sqlca.sqlcode == 0) _iqseterr(-404);
      return sqlca.sqlcode;
    }
  }
  return DeclareOnText(c, text, in, out, bits);
}

int32_t sqli_curs_decl_dynm(int32_t, SqliCursor* c, const char* name, SqliCursor* stmt, int32_t bits,
                            int32_t collection) {
  if (Rt() == nullptr) return -1;
  if (collection || (stmt != nullptr && stmt->collection)) {
    if (bits & 0x1020) {
      _iqseterr(-1828);
      return sqlca.sqlcode;
    }
    // The lookup that should have made the record ran out of memory.
    if (sqlca.sqlcode == -406) return sqlca.sqlcode;
    return sqli_coll_decl_prepared(c, name, stmt);
  }
  if (c == nullptr) {
    if (sqlca.sqlcode != -406) _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if (c->id != -1) sqli_stmt_release(c);
  if (stmt == nullptr || stmt->text == nullptr) {
    if (stmt != nullptr) sqli_curs_client_free(stmt);
    sqli_curs_client_free(c);
    _iqseterr(-481);
    return sqlca.sqlcode;
  }
  if (DeclareOnText(c, stmt->text, nullptr, nullptr, bits) < 0) return sqlca.sqlcode;
  if ((stmt->flags & SQLI_CF_HAS_CURSOR) == 0) {
    c->related = stmt;
    stmt->related = c;
    stmt->flags |= SQLI_CF_HAS_CURSOR;
    ShareWithCursor(stmt, c);
    const uint32_t keep = SQLI_CF_AUTOFREE_ON | SQLI_CF_AUTOFREE_OFF | SQLI_CF_AUTOFREED | SQLI_CF_CLOSED_ONCE;
    stmt->flags &= ~(keep & ~c->flags);
  }
  c->flags |= SQLI_CF_DYNAMIC;
  return sqlca.sqlcode;
}

int32_t sqli_prep_body(SqliCursor* c, const char* text) {
  SqliRuntime* rt = Rt();
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c == nullptr) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if (c->kind == 0) ResetRecord(c);
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  if (c->id != -1) {
    if (c->flags & SQLI_CF_DEFERRED) {
      FreeText(c);
    } else {
      sqli_stmt_release(c);
      c->kind = 0;
      ResetRecord(c);
    }
  }
  if (sqli_req_prepare(text, rt) != 0) return sqlca.sqlcode;
  if (c->text == nullptr) {
    const char* pieces[2] = {text, nullptr};
    if (!CopyText(c, pieces)) {
      _iqseterr(-406);
      return sqlca.sqlcode;
    }
  }
  bool deferred = DefPrepOn() || (c->flags & SQLI_CF_DEFERRED) != 0;
  sqli_req_code(CapDefPrep(Conn()) && deferred ? SQLI_REQ_DEFER_PREPARE : SQLI_REQ_DESCRIBE);
  sqli_req_code(SQLI_REQ_DESCRIBE_INPUT);
  if (!deferred) {
    Loop(c);
    if (sqlca.sqlcode >= 0) {
      c->flags |= SQLI_CF_PREPARED | SQLI_CF_DYNAMIC;
    } else {
      int32_t code = sqlca.sqlcode;
      sqli_curs_client_free(c);
      (void)code;
    }
  }
  return sqlca.sqlcode;
}

SqliCursor* sqli_prep(int32_t, const char* name, const char* text, void* values, void* names, int32_t kind,
                      int32_t position, int32_t collection) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return nullptr;
  // A collection statement stays on the client whatever DEFERRED_PREPARE
  // says: the server holds nothing it could run it on.
  if (collection) {
    return sqli_coll_prep(name, text, static_cast<const SqliCollValue*>(values), static_cast<const char*>(names), kind,
                          position);
  }
  SqliCursor* c = sqli_curs_locate(1, name, 1);
  if (c == nullptr) {
    if (sqlca.sqlcode == 0 || sqlca.sqlcode == -404) _iqseterr(-481);
    return nullptr;
  }
  if (DefPrepOn()) {
    if (c->flags & SQLI_CF_DEFERRED) FreeText(c);
    if (c->id != -1 && (c->flags & SQLI_CF_DEFERRED) == 0) {
      sqli_stmt_release(c);
      c->kind = 0;
    }
    if (c->kind == 0) ResetRecord(c);
    const char* pieces[2] = {text, nullptr};
    if (text == nullptr || !CopyText(c, pieces)) {
      _iqseterr(text == nullptr ? -202 : -406);
      return nullptr;
    }
    c->flags |= SQLI_CF_DEFERRED;
    c->kind = static_cast<int16_t>(sqli_prep_kind(text));
    UpdateDiagIfClean();
    return c;
  }
  if (c->flags & SQLI_CF_DEFERRED) {
    c->flags &= ~SQLI_CF_DEFERRED;
    FreeText(c);
  }
  std::string keep = text != nullptr ? text : "";
  FreeText(c);
  sqli_prep_body(c, text != nullptr ? keep.c_str() : nullptr);
  if (sqlca.sqlcode < 0) return nullptr;
  return c;
}

int32_t sqli_curs_open(int32_t, SqliCursor* c, void* description, const char* descriptor_name, void*, int32_t mode,
                       int32_t flag) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  c->flags &= ~SQLI_CF_SERVER_CLOSED;
  if (c->collection) return sqli_coll_open_entry(c, static_cast<SqliDescriptor*>(description), descriptor_name);
  SqliConnection* conn = Conn();
  bool recorded_later = conn != nullptr && Optofc(c) && mode != 2;
  bool text_sent_deferred = false;
  SqliCursor* st = c->related;
  if (st != nullptr && (st->flags & SQLI_CF_HAS_CURSOR) && (st->flags & SQLI_CF_DEFERRED) && !recorded_later &&
      c->deferred_open == 0) {
    if (st->flags & SQLI_CF_DYNAMIC) {
      c->id = st->id;
      c->flags |= SQLI_CF_OPENED;
    } else {
      std::string text = st->text != nullptr && st->text[0] != nullptr ? st->text[0] : "";
      sqli_prep_body(st, text.c_str());
      c->kind = st->kind;
      c->id = 0;
      st->id = 0;
      text_sent_deferred = true;
    }
  }
  if (!text_sent_deferred) sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  conn = Conn();
  if (conn != nullptr && CapAutofree(conn) && Optofc(c) && (c->flags & SQLI_CF_OPEN) && (c->flags & SQLI_CF_NOMORE) &&
      AutofreeOn(c)) {
    sqli_curs_client_free(c);
    _iqseterr(-404);
    return -1;
  }
  if ((c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  // The inputs: a named descriptor, the given description (or the one an
  // OPTOFC OPEN held back), else the host variables of DECLARE.
  auto* given = static_cast<SqliDescriptor*>(description);
  if (given == nullptr && descriptor_name == nullptr && mode == 2) given = c->saved_input;
  SqliItemList in{c->input_count, c->inputs};
  if (descriptor_name != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(descriptor_name);
    if (d == nullptr) {
      _iqseterr(-469);
      return sqlca.sqlcode;
    }
    in = SqliItemList{d->count, d->items};
  } else if (given != nullptr) {
    in = SqliItemList{given->count, given->items};
  }
  if (c->id == -1 && !text_sent_deferred) {
    if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
    if (sqli_char_input_check(&in) < 0) return sqlca.sqlcode;
    conn = Conn();
    int32_t params = 0;
    for (char** p = c->text; p != nullptr && *p != nullptr; ++p) params += rstmtparamcount(*p);
    if (sqli_req_text(c->text, params, rt) < 0) return sqlca.sqlcode;
    bool rel_deferred = st != nullptr && (st->flags & SQLI_CF_DEFERRED) != 0;
    sqli_req_code(CapDefPrep(conn) && (DefPrepOn() || rel_deferred) ? SQLI_REQ_DEFER_PREPARE : SQLI_REQ_DESCRIBE);
    sqli_req_code(SQLI_REQ_DESCRIBE_INPUT);
    if (!DefPrepOn() || recorded_later) {
      Loop(c);
    } else {
      text_sent_deferred = true;
    }
    if (sqlca.sqlcode < 0 && sqlca.sqlcode != -586) {
      c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_NOMORE);
      return sqlca.sqlcode;
    }
  }
  if (c->kind == 6 && mode == 1) {
    _iqseterr(-416);
    return sqlca.sqlcode;
  }
  if (Optofc(c)) {
    if (c->deferred_open != 0 && mode != 2 && Ansi(conn)) {
      _iqseterr(-586);
      return -1;
    }
    if (!(mode == 2 && c->deferred_open != 0)) {
      SqliDescriptor* keep = nullptr;
      if (descriptor_name == nullptr && given != nullptr) {
        keep = CopyInputs(given);
        if (keep == nullptr) {
          _iqseterr(-406);
          return sqlca.sqlcode;
        }
      }
      char* name = descriptor_name != nullptr ? strdup(descriptor_name) : nullptr;
      FreeSavedInputs(c);
      c->saved_descriptor = name;
      c->saved_input = keep;
      if (flag) c->flags |= SQLI_CF_OPEN_FLAG;
      else c->flags &= ~SQLI_CF_OPEN_FLAG;
      c->deferred_open = 1;
      sqli_diag_update(rt);
      return 0;
    }
  }
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  if (sqli_char_input_check(&in) < 0) return sqlca.sqlcode;
  conn = Conn();
  if (!text_sent_deferred) {
    bool on_deferred = st != nullptr && (st->flags & SQLI_CF_DEFERRED) != 0;
    if (!on_deferred || (c->flags & SQLI_CF_OPENED) != 0) sqli_req_stmt_id(c->id, rt);
  }
  if (c->name != nullptr && sqli_req_cursor_name(c, rt) != 0) {
    // A name the server's code set cannot hold: what is already chained
    // ends as it is, and the cursor stays closed.
    int32_t code = sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
    Loop(c);
    if (sqlca.sqlcode >= 0) _iqseterr(code);
    c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_NOMORE);
    return sqlca.sqlcode;
  }
  if (c->flags & SQLI_CF_SCROLL) sqli_req_code(SQLI_REQ_SCROLL);
  if (c->flags & SQLI_CF_HOLD) sqli_req_code(SQLI_REQ_HOLD);
  if (c->kind != 6) {
    bool bound = sqli_req_bind(SQLI_REQ_BIND, &in, nullptr, rt) >= 0;
    if (bound) {
      c->rows_in_buffer = 0;
      c->first_row = c->last_row = 0;
      c->position = c->buffer;
      // A file value of a TEXT column goes in the server's code set.
      std::vector<int16_t> types(in.count > 0 ? static_cast<size_t>(in.count) : 0);
      sqli_input_column_types(c, static_cast<int32_t>(types.size()), types.data());
      bound = sqli_send_blobs_typed(&in, types.data(), rt) >= 0;
    }
    if (!bound) {
      int32_t code = sqlca.sqlcode < 0 ? sqlca.sqlcode : -1;
      if (Ansi(conn)) sqli_req_code(SQLI_REQ_RELEASE);
      Loop(c);
      if (sqlca.sqlcode >= 0) _iqseterr(code);
      if (sqlca.sqlcode == -276 && (c->flags & SQLI_CF_AUTOFREED)) sqli_curs_client_free(c);
      else c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_NOMORE);
      return sqlca.sqlcode;
    }
  } else if ((c->flags & SQLI_CF_OPEN) && sqli_put_held(c) > 0) {
    // An insert cursor opened again sends what it holds; that ends the
    // message and the OPEN starts a new one.
    if (sqli_put_send(c) < 0) return sqlca.sqlcode;
    if (Loop(c) < 0) return sqlca.sqlcode;
  }
  if (CapAutofree(conn) && c->kind != 6 && AutofreeOn(c)) {
    sqli_req_code(SQLI_REQ_AUTOFREE);
    c->flags |= SQLI_CF_AUTOFREED;
    if (st != nullptr) st->flags |= SQLI_CF_AUTOFREED;
  }
  bool with_flag = mode == 2 ? (c->flags & SQLI_CF_OPEN_FLAG) != 0 : flag != 0;
  sqli_req_code(SQLI_CAP_OPTOFC(conn) && with_flag ? SQLI_REQ_OPEN_OPTION : SQLI_REQ_OPEN);
  if (!(conn->optofc == 1 && mode == 2)) Loop(c);
  if (sqlca.sqlcode < 0 && sqlca.sqlcode != -586) {
    c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_NOMORE);
    if (sqlca.sqlcode == -276 && (c->flags & SQLI_CF_AUTOFREED)) sqli_curs_client_free(c);
  } else {
    c->flags |= SQLI_CF_OPEN | SQLI_CF_OPENED;
    c->flags &= ~SQLI_CF_NOMORE;
  }
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_curs_close_step(SqliCursor* c, int32_t free_mode) {
  SqliRuntime* rt = Rt();
  if (c->collection) {
    // Nothing on the server: the cursor leaves the collection.
    sqli_coll_detach(c);
    c->flags &= ~SQLI_CF_OPEN;
    return 0;
  }
  if (c->id != -1) {
    if (ServerClosedShortcut(c)) {
      if (!free_mode) c->flags &= ~SQLI_CF_OPEN;
      if (c->flags & SQLI_CF_AUTOFREED) {
        sqli_curs_client_free(c);
        return 1;
      }
      if (!free_mode) goto tail;
      if (c->related == nullptr) Release4And11(c);
      else goto tail;
    } else {
      // Held PUT rows go first, in the same message; their send names
      // the statement.
      bool rows_sent = false;
      if ((c->kind == 6 || c->kind == 56) && (c->flags & SQLI_CF_OPEN) && sqli_put_held(c) > 0) {
        if (sqli_put_send(c) < 0) return -1;
        rows_sent = true;
      }
      if (!rows_sent) {
        if (sqli_conn_ensure() != 0) return -1;
        sqli_req_stmt_id(c->id, rt);
      }
      sqli_req_code(SQLI_REQ_CLOSE);
      if (c->flags & SQLI_CF_AUTOFREED) {
        Loop(c);
        sqli_curs_client_free(c);
        return 1;
      }
      if (free_mode && c->related == nullptr) Release4And11(c);
      if (!free_mode && (c->flags & SQLI_CF_DYNAMIC) == 0) {
        sqli_req_code(SQLI_REQ_RELEASE);
        sqli_stmt_clear(c);
      }
    }
    Loop(c);
  }
tail:
  c->flags &= ~(SQLI_CF_OPEN | SQLI_CF_CHECK_SENT | SQLI_CF_NO_ID_INTO | SQLI_CF_PUT_CHECK);
  FreeCheckItems(c);
  c->check_count = 0;
  return 0;
}

int32_t sqli_curs_close(int32_t, SqliCursor* c) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) return sqlca.sqlcode;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c->collection) {
    // A prepared collection statement has nothing to close.
    if ((c->flags & SQLI_CF_PREPARED) && (c->flags & SQLI_CF_TEXT) == 0) {
      UpdateDiagIfClean();
      return sqlca.sqlcode;
    }
    return sqli_coll_close(c);
  }
  if ((c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  SqliConnection* conn = Conn();
  if (Ansi(conn) && (c->flags & SQLI_CF_OPEN) == 0 && c->deferred_open == 0) {
    _iqseterr(-259);
    return sqlca.sqlcode;
  }
  if (ServerClosedShortcut(c)) {
    FreeSavedInputs(c);
    c->deferred_open = 0;
    c->flags &= ~SQLI_CF_OPEN;
    if (c->flags & SQLI_CF_AUTOFREED) sqli_curs_client_free(c);
    return sqlca.sqlcode;
  }
  c->deferred_open = 0;
  if (sqli_curs_close_step(c, 0) == 1) return sqlca.sqlcode;
  c->flags |= SQLI_CF_CLOSED_ONCE;
  if (c->related != nullptr) c->related->flags |= SQLI_CF_CLOSED_ONCE;
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_curs_free(int32_t, SqliCursor* c) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  sqli_sqlca_reset(rt);
  sqlca.sqlerrd[2] = 0;
  if (c == nullptr) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if (c->collection) return sqli_coll_free(c);
  bool kept = false;
  if ((c->flags & SQLI_CF_HAS_CURSOR) == 0) {
    bool open = (c->flags & SQLI_CF_OPEN) != 0;
    if (open && (c->flags & SQLI_CF_AUTOFREED) && ServerClosedShortcut(c)) {
      kept = true;
    } else if (open && (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC))) {
      if (sqli_curs_close_step(c, 1) == 1) return sqlca.sqlcode;
    } else if (!open && c->id != -1 && c->related == nullptr && c->kind != 1 && c->kind != 38 &&
               (!(c->flags & SQLI_CF_AUTOFREED) || !(c->flags & SQLI_CF_CLOSED_ONCE))) {
      if (sqli_conn_ensure() == 0) {
        Release4And11(c);
        Loop(c);
      }
    }
  }
  if (!Broken(sqlca.sqlcode) && !kept) sqli_curs_client_free(c);
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_autofree_set(int32_t, SqliCursor* c, int32_t value) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -406;
  sqli_sqlca_reset(rt);
  if (value == 2) {
    rt->options = static_cast<uint16_t>((rt->options | SQLI_OPT_AUTOFREE) & ~SQLI_OPT_AUTOFREE_OFF);
  } else if (value == 3) {
    rt->options = static_cast<uint16_t>((rt->options | SQLI_OPT_AUTOFREE_OFF) & ~SQLI_OPT_AUTOFREE);
  } else if (c == nullptr) {
    _iqseterr(-404);
  } else if (c->flags & SQLI_CF_PREPARED) {
    _iqseterr(-276);
  } else if ((c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) {
    _iqseterr(-404);
  } else {
    uint32_t on = (value & 1) == 0 ? SQLI_CF_AUTOFREE_ON : SQLI_CF_AUTOFREE_OFF;
    uint32_t off = on == SQLI_CF_AUTOFREE_ON ? SQLI_CF_AUTOFREE_OFF : SQLI_CF_AUTOFREE_ON;
    c->flags = (c->flags | on) & ~off;
    if (c->related != nullptr) c->related->flags = (c->related->flags | on) & ~off;
  }
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_defprep_set(int32_t value) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -406;
  if (value == 1) rt->options |= SQLI_OPT_DEFPREP;
  else if (value == 0) rt->options = static_cast<uint16_t>(rt->options & ~SQLI_OPT_DEFPREP);
  UpdateDiagIfClean();
  return sqlca.sqlcode;
}

int32_t sqli_curs_fetch_buffer(SqliCursor* c) {
  SqliRuntime* rt = Rt();
  if (rt == nullptr) return -1;
  if (c == nullptr) {
    _iqseterr(-404);
    return sqlca.sqlcode;
  }
  if (c->rows_in_buffer > 0) return 0;
  if ((c->flags & (SQLI_CF_NOMORE | SQLI_CF_SERVER_CLOSED)) != 0 && c->deferred_open != 1) return 100;
  if (c->deferred_open == 1) {
    if (sqli_curs_open(1, c, nullptr, c->saved_descriptor, nullptr, 2, 0) < 0) return sqlca.sqlcode;
    c->deferred_open = 2;
  } else {
    sqli_sqlca_reset(rt);
    if (c->deferred_open == 2) c->deferred_open = 3;
  }
  if (sqli_conn_ensure() != 0) return sqlca.sqlcode;
  sqli_req_stmt_id(c->id, rt);
  sqli_req_fetch(c->buffer_size);
  c->rows_in_buffer = 0;
  c->position = c->buffer;
  if (c->row_index != nullptr) {
    c->row_index->last = -1;
    c->row_index->total = 0;
  }
  SqliCursorEntry* e = sqli_curs_entry(c);
  if (e != nullptr) e->warnings.marked = 0;
  Loop(c);
  c->position = c->buffer;
  if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  if (c->rows_in_buffer == 0) return 100;
  return 0;
}

TV_END_C
