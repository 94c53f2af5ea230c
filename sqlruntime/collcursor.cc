// Statements whose table is a collection or row host variable, run on the
// client through their statement record: PREPARE, DECLARE (on a text or on
// a prepared collection statement), OPEN, FETCH, PUT, CLOSE, FLUSH, FREE,
// DESCRIBE and EXECUTE, and the hand-offs the statement calls make to them.
// A record that holds such a statement carries the collection mark and its
// collection fields (SqliCollStmt): the variable, a cursor over its
// elements, the value and name lists, the insert position and the open
// state. Nothing here reaches the server.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sqlruntime/call_frame.h"
#include "sqlruntime/coll_internal.h"
#include "sqlruntime/collections.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/sqlvalue.h"
#include "sqltypes/value_stored.h"

namespace {

using sqli_frame::Enter;
using sqli_frame::Fail;

int32_t Done() {
  if (sqlca.sqlcode == 0) sqli_diag_update(sqli_runtime_get());
  return sqlca.sqlcode;
}

bool ComplexVar(const SqliValueItem& it) {
  const int32_t t = rtyphosttosql(it.type & 0x7FFF);
  return t == SQLROW || t == SQLCOLLECTION || (t >= SQLSET && t <= SQLLIST);
}

const CollTypeInfo* InForce(const SqliCollection* c) { return c->cl_typed ? c->cl_typeinfo : c->cl_svr_typeinfo; }

// A copy of a name list, its end entry included; null for none.
char* CopyNames(const char* names) {
  size_t n = 0;
  while (names[n * SQLI_NAME_ENTRY] != '\0') ++n;
  char* copy = static_cast<char*>(std::calloc(n + 1, SQLI_NAME_ENTRY));
  if (copy != nullptr) std::memcpy(copy, names, n * SQLI_NAME_ENTRY);
  return copy;
}

// The statement's value list as it was given: once placeholders have been
// bound, the pristine copy still knows where they stand.
int32_t CopyOriginal(const SqliCollStmt* st, SqliCollValue** out) {
  *out = nullptr;
  if (st == nullptr) return 0;
  if (st->pristine == nullptr) return sqli_coll_copy_values(st->values, out);
  const size_t n = static_cast<size_t>(st->pristine_count);
  auto* copy = static_cast<SqliCollValue*>(std::calloc(n + 1, sizeof(SqliCollValue)));
  if (copy == nullptr) return -406;
  std::memcpy(copy, st->pristine, n * sizeof(SqliCollValue));
  *out = copy;
  return 0;
}

bool HasPlaceholders(const SqliCollStmt* st) {
  if (st->pristine != nullptr) return st->pristine_count > 0;
  for (const SqliCollValue* v = st->values; v != nullptr; ++v) {
    if (v->data == nullptr && v->type == 0 && v->length == 0) break;
    if (v->type == -3) return true;
  }
  return false;
}

// The variable of an input list: -1817, -1814, -1815 or 0.
int32_t TakeVariable(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins) {
  if (in_count < 1 || ins == nullptr || !ComplexVar(ins[0])) return -1817;
  auto* c = reinterpret_cast<SqliCollection*>(ins[0].data);
  if (c == nullptr) return -1814;
  if (InForce(c) == nullptr) return -1815;
  st->variable = c;
  return 0;
}

// Cuts the link between a record and its related one; a description they
// share stays with the other side.
void Unlink(SqliCursor* c) {
  SqliCursor* r = c->related;
  if (r == nullptr) return;
  if (r->columns == c->columns) c->columns = nullptr;
  if (r->names == c->names) c->names = nullptr;
  if (r->related == c) {
    r->related = nullptr;
    r->flags &= ~SQLI_CF_HAS_CURSOR;
  }
  c->related = nullptr;
}

// Clears the record and makes it a collection statement on the text with
// the given lists (values: a copy the record takes over, freed on
// failure). 0 or -406.
int32_t Fill(SqliCursor* c, const char* const* text, SqliCollValue* values, const char* names, int32_t kind,
             int32_t position) {
  Unlink(c);
  sqli_curs_reset(c);
  auto* st = static_cast<SqliCollStmt*>(std::calloc(1, sizeof(SqliCollStmt)));
  if (st == nullptr) {
    std::free(values);
    return -406;
  }
  c->collection = 1;
  c->coll = st;
  c->kind = static_cast<int16_t>(kind);
  st->values = values;
  st->position = position;
  if (names != nullptr && (st->names = CopyNames(names)) == nullptr) return -406;
  if (text != nullptr && sqli_curs_text_set(c, text) != 0) return -406;
  return 0;
}

// DECLARE of a cursor on the text, with its own lists: 0 or an error.
int32_t Declare(SqliCursor* c, const char* const* text, int16_t in_count, SqliValueItem* ins, int16_t out_count,
                SqliValueItem* outs, SqliCollValue* values, const char* names, int32_t kind, int32_t position) {
  if (int32_t rc = Fill(c, text, values, names, kind, position); rc != 0) return rc;
  c->input_count = in_count;
  c->inputs = ins;
  c->output_count = out_count;
  c->outputs = outs;
  c->flags |= SQLI_CF_TEXT;
  if (in_count > 0 && ins != nullptr) return TakeVariable(c->coll, in_count, ins);
  return 0;
}

// A named descriptor in place of a list: false (-469 set) when unknown.
bool FromDescriptor(const char* name, int16_t* count, SqliValueItem** items) {
  if (name == nullptr) return true;
  SqliDescriptor* d = sqli_desc_table_find(name);
  if (d == nullptr) {
    _iqseterr(-469);
    return false;
  }
  *count = d->count;
  *items = d->items;
  return true;
}

}  // namespace

TV_BEGIN_C

void sqli_coll_detach(SqliCursor* c) {
  if (c == nullptr) return;
  SqliCollStmt* st = c->coll;
  if (st != nullptr && st->state == 1) {
    if (st->variable != nullptr) zel_coll_curs_detach(st->variable, &st->cursor);
    st->state = 0;
  }
  c->flags &= ~SQLI_CF_OPEN;
}

void sqli_coll_release(SqliCursor* c) {
  if (c == nullptr || c->coll == nullptr) return;
  sqli_coll_detach(c);
  SqliCollStmt* st = c->coll;
  std::free(st->values);
  std::free(st->pristine);
  std::free(st->names);
  std::free(st);
  c->coll = nullptr;
}

SqliCursor* sqli_coll_prep(const char* name, const char* text, const SqliCollValue* values, const char* names,
                           int32_t kind, int32_t position) {
  int32_t code;
  if (!Enter(&code)) return nullptr;
  if (name == nullptr) {
    Fail(-404);
    return nullptr;
  }
  SqliCursor* c = sqli_curs_locate(1, name, 1);
  if (c == nullptr) {
    // The lookup reports its own failures; a name it refused is a bad one.
    if (sqlca.sqlcode >= 0) Fail(-481);
    return nullptr;
  }
  // A former server statement of the name is released first.
  if (c->id != -1 && !c->collection && (c->flags & SQLI_CF_DEFERRED) == 0) sqli_stmt_release(c);
  sqli_sqlca_reset(sqli_runtime_get());
  SqliCollValue* copy = nullptr;
  const char* pieces[2] = {text != nullptr ? text : "", nullptr};
  if (sqli_coll_copy_values(values, &copy) != 0 || Fill(c, pieces, copy, names, kind, position) != 0) {
    sqli_curs_client_free(c);
    Fail(-406);
    return nullptr;
  }
  c->flags |= SQLI_CF_PREPARED | SQLI_CF_DYNAMIC;
  c->id = 0;
  Done();
  return c;
}

int32_t sqli_coll_decl(SqliCursor* c, const char* name, const char* const* text, int16_t in_count,
                       SqliValueItem* ins, int16_t out_count, SqliValueItem* outs, const SqliCollValue* values,
                       const char* names, int32_t kind, int32_t position) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr) return Fail(-404);
  if (c->id != -1 && (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) {
    // Declared before on a prepared statement: freed and made anew.
    if (c->name != nullptr && sqli_curs_entry(c) != nullptr) {
      std::string kept = c->name;
      sqli_curs_free(1, c);
      c = sqli_curs_locate(1, kept.c_str(), 0x200);
      if (c == nullptr) return sqlca.sqlcode < 0 ? sqlca.sqlcode : Fail(-404);
    }
    sqli_sqlca_reset(sqli_runtime_get());
  }
  SqliCollValue* copy = nullptr;
  if (sqli_coll_copy_values(values, &copy) != 0) return Fail(-406);
  if (int32_t rc = Declare(c, text, in_count, ins, out_count, outs, copy, names, kind, position); rc != 0) {
    return Fail(rc);
  }
  (void)name;
  return Done();
}

int32_t sqli_coll_decl_prepared(SqliCursor* c, const char* name, SqliCursor* prepared) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (prepared == nullptr || prepared->text == nullptr) return Fail(-481);
  if (c == nullptr) return Fail(-404);
  if (c == prepared) return Fail(-481);
  // What the record held before goes: a server statement is released there.
  if (c->id != -1 && !c->collection) {
    sqli_stmt_release(c);
    if (sqlca.sqlcode < 0) return sqlca.sqlcode;
  }
  SqliCollValue* copy = nullptr;
  if (CopyOriginal(prepared->coll, &copy) != 0) return Fail(-406);
  const SqliCollStmt* ps = prepared->coll;
  if (int32_t rc = Declare(c, prepared->text, 0, nullptr, 0, nullptr, copy, ps != nullptr ? ps->names : nullptr,
                           prepared->kind, ps != nullptr ? ps->position : 0);
      rc != 0) {
    return Fail(rc);
  }
  if ((prepared->flags & SQLI_CF_HAS_CURSOR) == 0) {
    Unlink(prepared);
    prepared->flags |= SQLI_CF_HAS_CURSOR;
    prepared->related = c;
    c->related = prepared;
    c->id = prepared->id;
  }
  c->flags |= SQLI_CF_DYNAMIC;
  (void)name;
  return Done();
}

int32_t sqli_coll_open(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || !c->collection || c->coll == nullptr || c->kind <= 0) return Fail(-404);
  if (!FromDescriptor(descriptor, &in_count, &ins)) return sqlca.sqlcode;
  if (ins == nullptr || in_count < 1) {
    in_count = c->input_count;
    ins = c->inputs;
  }
  SqliCollStmt* st = c->coll;
  c->flags &= ~SQLI_CF_WINDOW_BAD;
  if (c->flags & SQLI_CF_DYNAMIC) {
    // On a prepared statement: the variable comes with OPEN, and the
    // values after it fill the placeholders (an insert cursor may leave
    // them to PUT).
    if (ins == nullptr || in_count < 1) return Fail(-418);
    if (int32_t rc = TakeVariable(st, in_count, ins); rc != 0) return Fail(rc);
    if (c->kind != SQLI_CK_SELECT && in_count > 1 &&
        sqli_coll_bind_values(in_count - 1, ins + 1, st->values, c->kind, &st->pristine, &st->pristine_count) != 0) {
      return sqlca.sqlcode;
    }
  } else if (ins != nullptr && in_count > 0) {
    if (int32_t rc = TakeVariable(st, in_count, ins); rc != 0) return Fail(rc);
  }
  if (st->variable == nullptr) return Fail(-1817);
  c->rows_in_buffer = 0;
  c->first_row = c->last_row = 0;
  c->position = c->buffer;
  if (int rc = zel_coll_curs_attach(st->variable, &st->cursor); rc != 0) return Fail(rc);
  c->flags = (c->flags | SQLI_CF_OPEN | SQLI_CF_OPENED) & ~SQLI_CF_NOMORE;
  st->state = 1;
  SqliCursor* r = c->related;
  if (r != nullptr && (r->flags & SQLI_CF_HAS_CURSOR) && r->coll != nullptr) {
    r->flags |= SQLI_CF_OPEN;
    r->coll->variable = st->variable;
  }
  return Done();
}

int32_t sqli_coll_fetch(SqliCursor* c, int16_t out_count, SqliValueItem* outs, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || c->coll == nullptr) return Fail(-404);
  SqliCollStmt* st = c->coll;
  if (st->state != 1) return Fail(-400);
  bool from_desc = false;
  if (descriptor != nullptr) {
    if (!FromDescriptor(descriptor, &out_count, &outs)) return sqlca.sqlcode;
    from_desc = true;
  } else if (outs == nullptr || out_count == 0) {
    out_count = c->output_count;
    outs = c->outputs;
  }
  SqliCollection* coll = st->variable;
  const CollTypeInfo* info = InForce(coll);
  if (info == nullptr) return Fail(-1815);
  char* data = nullptr;
  int32_t size = 0;
  int32_t rc = zel_coll_next(coll, &st->cursor, &data, &size);
  if (rc == 100) {
    sqlca.sqlcode = 100;
    return sqlca.sqlcode;
  }
  if (rc != 0) return Fail(rc);
  st->cursor.cc_curdata = data;
  c->flags |= SQLI_CF_WINDOW_BAD;
  const bool row = (info->ti_entry[0].type & 0xFF) == SQLROW && info->ti_entry[0].level_no == 0;
  if (row) {
    // The fields of a row variable are its elements: one FETCH fills the
    // outputs with the fields from the cursor's on, in order or by the
    // name list, stepping the cursor from field to field.
    std::vector<int> fields = sqli_coll::RowFields(info, 0);
    std::vector<std::string> names = sqli_coll::Names(st->names);
    std::vector<int> pos(fields.size(), -1);
    for (size_t n = 0; n < names.size(); ++n) {
      size_t f = 0;
      while (f < fields.size() && sqli_coll::FieldName(info->ti_entry[fields[f]]) != names[n]) ++f;
      if (f == fields.size()) return Fail(-1816);
      pos[f] = static_cast<int>(n);
    }
    if (!names.empty() && static_cast<int32_t>(names.size()) != out_count) return Fail(-236);
    int32_t filled = 0;
    while (filled < out_count) {
      const int32_t field = st->cursor.cc_pos;
      if (field < 1 || field > static_cast<int32_t>(fields.size())) break;
      const int target = names.empty() ? filled : pos[static_cast<size_t>(field - 1)];
      if (target >= 0) {
        rc = sqli_coll_fetch_field(coll, field, data, size, &outs[target], from_desc ? 1 : 0);
        if (rc < 0) break;
        rc = 0;
        if (++filled == out_count) break;
      }
      data = nullptr;
      rc = zel_coll_next(coll, &st->cursor, &data, &size);
      if (rc == 100) {
        // The fields left were none the outputs name: no row.
        if (filled == 0) {
          sqlca.sqlcode = 100;
          return sqlca.sqlcode;
        }
        rc = 0;
        break;
      }
      if (rc != 0) break;
      st->cursor.cc_curdata = data;
    }
  } else {
    rc = sqli_coll_fetch_element(coll, data, size, st->names, out_count, outs, from_desc ? 1 : 0);
  }
  if (rc < 0) return Fail(rc);
  return Done();
}

int32_t sqli_coll_put(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (!FromDescriptor(descriptor, &in_count, &ins)) return sqlca.sqlcode;
  if (c == nullptr || c->coll == nullptr) return Fail(-414);
  SqliCollStmt* st = c->coll;
  if (st->state != 1) return Fail(-413);
  if (c->kind != SQLI_CK_INSERT) return Fail(-488);
  const bool given = ins != nullptr && in_count >= 1;
  if (!given) {
    in_count = c->input_count;
    ins = c->inputs;
  }
  if (ins == nullptr || in_count < 1 || st->values == nullptr) return Fail(-418);
  // The values PUT gives fill the placeholders; a cursor declared on a
  // text names its host variables in the value list itself.
  if (((c->flags & SQLI_CF_DYNAMIC) || (given && HasPlaceholders(st))) &&
      sqli_coll_bind_values(in_count, ins, st->values, c->kind, &st->pristine, &st->pristine_count) != 0) {
    return sqlca.sqlcode;
  }
  int32_t rc = sqli_coll_insert_values(st->variable, st->names, st->values, 0);
  if (rc < 0) return Fail(rc);
  return Done();
}

int32_t sqli_coll_close(SqliCursor* c) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) return Fail(-404);
  SqliCollStmt* st = c->coll;
  if (st == nullptr || st->state != 1) return Fail(-259);
  c->flags &= ~SQLI_CF_OPEN;
  st->state = 0;
  // The prepared statement no longer describes an open collection.
  SqliCursor* r = c->related;
  if (r != nullptr && (r->flags & SQLI_CF_HAS_CURSOR) && r->related == c) {
    r->flags &= ~SQLI_CF_OPEN;
    if (r->coll != nullptr) r->coll->variable = nullptr;
  }
  if (st->variable != nullptr && zel_coll_curs_detach(st->variable, &st->cursor) != 0) return Fail(-1);
  return Done();
}

int32_t sqli_coll_flush(SqliCursor* c) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || (c->flags & (SQLI_CF_TEXT | SQLI_CF_DYNAMIC)) == 0) return Fail(-404);
  if (c->coll == nullptr || c->coll->state != 1) return Fail(-422);
  if (c->id != -1 && c->kind != SQLI_CK_INSERT) return Fail(-417);
  // Collection inserts are never held back: there is nothing to send.
  return Done();
}

int32_t sqli_coll_free(SqliCursor* c) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr) return Fail(-404);
  sqli_coll_release(c);
  sqli_curs_client_free(c);
  return Done();
}

TV_END_C

namespace {

// One described item from a type entry: the type's low byte (bit 0x400
// marks a float: SMALLFLOAT when the length's high byte is 8), the first
// of the extended bits 0x4000, 0x2000, 0x800 that is set, then 0x1000 and
// 0x100.
void DescribeItem(const CollTypeEntry& e, SqliValueItem* it) {
  int32_t t = e.type & 0xFF;
  if (e.type & 0x400) t = ((e.length >> 8) & 0xFF) == 8 ? SQLSMFLOAT : SQLFLOAT;
  for (uint16_t bit : {uint16_t{0x4000}, uint16_t{0x2000}, uint16_t{0x800}}) {
    if (e.type & bit) {
      t |= bit;
      break;
    }
  }
  t |= e.type & (0x1000 | 0x100);
  it->type = static_cast<int16_t>(t);
  it->length = e.length;
  it->xid = e.xid;
  it->type_name_length = e.xtype_nm_len;
  it->owner_name_length = e.xtype_owner_len;
}

char* Text(const char* p, int n) { return sqli_item_text_copy(p, n < 0 ? 0 : (n > 128 ? 128 : n)); }

}  // namespace

TV_BEGIN_C

int32_t sqli_coll_describe(SqliCursor* c, SqliDescriptor** out, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || c->coll == nullptr) return Fail(-404);
  if (c->id == -1) return Fail(-410);
  if ((c->flags & SQLI_CF_OPEN) == 0 || c->coll->variable == nullptr) return Fail(-259);
  const CollTypeInfo* info = InForce(c->coll->variable);
  if (info == nullptr) return Fail(-1815);
  SqliDescriptor* d = nullptr;
  SqliDescriptor* made = nullptr;
  if (descriptor != nullptr) {
    d = sqli_desc_table_find(descriptor);
    if (d == nullptr) return Fail(-469);
    if (d->max_count < info->ti_count) return Fail(-479);
  } else if (out != nullptr) {
    const size_t n = static_cast<size_t>(info->ti_count);
    const size_t bytes = sizeof(SqliDescriptor) + n * (sizeof(SqliValueItem) + sizeof(int16_t));
    made = static_cast<SqliDescriptor*>(std::calloc(1, bytes));
    if (made == nullptr) return Fail(-406);
    made->items = reinterpret_cast<SqliValueItem*>(made + 1);
    made->max_count = info->ti_count;
    d = made;
  } else {
    return Done();
  }
  // The entries one level below the value (for a collection of rows, the
  // row's fields), or the named ones in the order of the names.
  const bool row = (info->ti_entry[0].type & 0xFF) == SQLROW;
  const char* names = c->coll->names;
  std::vector<int> pick;
  if (names != nullptr && names[0] != '\0') {
    for (const char* p = names; *p != '\0'; p += SQLI_NAME_ENTRY) {
      std::string n(p, strnlen(p, SQLI_NAME_ENTRY));
      while (!n.empty() && n.back() == ' ') n.pop_back();
      int found = -1;
      for (int i = 1; i < info->ti_count && found < 0; ++i) {
        const CollTypeEntry& e = info->ti_entry[i];
        if (e.level_no > (row ? 1 : 2)) continue;
        std::string f(e.fieldname, static_cast<size_t>(std::clamp<int>(e.fieldnmlen, 0, 128)));
        while (!f.empty() && f.back() == ' ') f.pop_back();
        if (f == n) found = i;
      }
      if (found < 0) {
        std::free(made);
        return Fail(-1816);
      }
      pick.push_back(found);
    }
  } else {
    int level = 1;
    if (!row && info->ti_count > 1 && (info->ti_entry[1].type & 0xFF) == SQLROW) level = 2;
    for (int i = 1; i < info->ti_count; ++i) {
      if (info->ti_entry[i].level_no == level) pick.push_back(i);
    }
  }
  for (size_t k = 0; k < pick.size(); ++k) {
    const CollTypeEntry& e = info->ti_entry[pick[k]];
    SqliValueItem* it = &d->items[k];
    if (made != nullptr) {
      // A new description points into the type description.
      DescribeItem(e, it);
      it->name = const_cast<char*>(e.fieldname);
      it->type_name = const_cast<char*>(e.xtype_name);
      it->owner_name = const_cast<char*>(e.xtype_owner_name);
      it->ind_type = -1;
      continue;
    }
    sqli_item_free_owned(it);
    DescribeItem(e, it);
    it->name = Text(e.fieldname, e.fieldnmlen);
    it->type_name = Text(e.xtype_name, e.xtype_nm_len);
    it->owner_name = Text(e.xtype_owner_name, e.xtype_owner_len);
    if (it->name == nullptr || it->type_name == nullptr || it->owner_name == nullptr) return Fail(-406);
    it->flags |= SQLI_IF_NAME_OWNED | SQLI_IF_TYPE_NAME_OWNED | SQLI_IF_OWNER_OWNED;
    int32_t rc = sqli_item_storage(it);
    if (rc < 0 && rc != -486) return Fail(rc);
  }
  d->count = static_cast<int16_t>(pick.size());
  if (made != nullptr) *out = made;
  return Done();
}

int32_t sqli_coll_exec(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* in_descriptor,
                       int16_t out_count, SqliValueItem* outs, const char* out_descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (c == nullptr || !c->collection || c->kind <= 0) return Fail(-404);
  if (!FromDescriptor(in_descriptor, &in_count, &ins)) return sqlca.sqlcode;
  if (ins == nullptr || in_count < 1) return Fail(-418);
  if (!FromDescriptor(out_descriptor, &out_count, &outs)) return sqlca.sqlcode;
  SqliCollStmt* st = c->coll;
  if (st == nullptr) return Fail(-404);
  if (c->kind == SQLI_CK_SELECT) return sqli_coll_slct(&ins[0], out_count, outs, st->names);
  // The values after the variable fill the placeholders; their counts must
  // agree even when only the variable is given.
  if (st->values != nullptr &&
      sqli_coll_bind_values(in_count - 1, ins + 1, st->values, c->kind, &st->pristine, &st->pristine_count) != 0) {
    return sqlca.sqlcode;
  }
  return sqli_coll_stmt(in_count, ins, st->values, st->names, nullptr, c->kind, st->position);
}

int32_t sqli_coll_open_entry(SqliCursor* c, SqliDescriptor* in_desc, const char* in_name) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (in_name != nullptr && (in_desc = sqli_desc_table_find(in_name)) == nullptr) return Fail(-469);
  if (sqli_check_input_desc(c, in_desc) < 0) return sqlca.sqlcode;
  return sqli_coll_open(c, in_desc != nullptr ? in_desc->count : 0, in_desc != nullptr ? in_desc->items : nullptr,
                        nullptr);
}

int32_t sqli_coll_exec_entry(SqliCursor* c, SqliDescriptor* in_desc, const char* in_name, SqliItemList* out,
                             const char* out_name) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (in_name != nullptr && (in_desc = sqli_desc_table_find(in_name)) == nullptr) return Fail(-469);
  if (sqli_check_input_desc(c, in_desc) < 0) return sqlca.sqlcode;
  return sqli_coll_exec(c, in_desc != nullptr ? in_desc->count : 0, in_desc != nullptr ? in_desc->items : nullptr,
                        nullptr, out != nullptr ? out->count : 0, out != nullptr ? out->items : nullptr, out_name);
}

int32_t sqli_coll_stmt_entry(int32_t in_count, SqliValueItem* ins, void* values, void* names, void* cursor,
                             void* kind, void* position) {
  // The statement pairs null inputs by marking value items: it works on a
  // copy, so that the program's own list stays as written for the next run.
  SqliCollValue* copy = nullptr;
  if (sqli_coll_copy_values(static_cast<const SqliCollValue*>(values), &copy) != 0) {
    int32_t code;
    if (!Enter(&code)) return code;
    return Fail(-406);
  }
  auto* cur = static_cast<SqliCursor*>(cursor);
  const auto k = static_cast<int32_t>(reinterpret_cast<intptr_t>(kind));
  const auto pos = static_cast<int32_t>(reinterpret_cast<intptr_t>(position));
  int32_t rc = sqli_coll_stmt(in_count, ins, copy, static_cast<const char*>(names),
                              cur != nullptr ? cur->coll : nullptr, k, pos);
  std::free(copy);
  return rc;
}

TV_END_C
