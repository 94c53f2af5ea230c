// Cursors over collection and row host variables: DECLARE, OPEN, FETCH,
// PUT, CLOSE and FREE of a statement whose table is such a variable. The
// statement record holds the variable, a cursor over its elements, the
// value and name lists and the declared input and output lists.
#include <algorithm>
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

char* CopyNames(const char* names) {
  if (names == nullptr) return nullptr;
  size_t n = 0;
  while (names[n * SQLI_NAME_ENTRY] != '\0') ++n;
  char* copy = static_cast<char*>(std::calloc(n + 1, SQLI_NAME_ENTRY));
  if (copy != nullptr) std::memcpy(copy, names, n * SQLI_NAME_ENTRY);
  return copy;
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

}  // namespace

TV_BEGIN_C

int32_t sqli_coll_decl(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, int16_t out_count,
                       SqliValueItem* outs, const SqliCollValue* values, const char* names, int32_t kind,
                       int32_t position) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (st == nullptr) return Fail(-404);
  if (st->state == 1) return Fail(-9987);
  sqli_coll_free(st);
  sqli_sqlca_reset(sqli_runtime_get());
  std::memset(st, 0, sizeof *st);
  st->in_count = in_count;
  st->in_items = ins;
  st->out_count = out_count;
  st->out_items = outs;
  st->flags = SQLI_CS_DECLARED;
  st->kind = kind;
  if (sqli_coll_copy_values(values, &st->values) != 0) return Fail(-406);
  if (names != nullptr && (st->names = CopyNames(names)) == nullptr) return Fail(-406);
  st->position = position;
  if (in_count > 0) {
    if (int32_t rc = TakeVariable(st, in_count, ins); rc != 0) return Fail(rc);
  }
  return Done();
}

int32_t sqli_coll_open(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (st == nullptr || st->kind == 0) return Fail(-404);
  if (descriptor != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(descriptor);
    if (d == nullptr) return Fail(-469);
    in_count = d->count;
    ins = d->items;
  }
  if (ins == nullptr || in_count == 0) {
    in_count = st->in_count;
    ins = st->in_items;
  }
  st->flags &= ~SQLI_CS_FETCHED;
  if (in_count > 0 && ins != nullptr) {
    if (int32_t rc = TakeVariable(st, in_count, ins); rc != 0) return Fail(rc);
    if (st->kind != SQLI_CK_SELECT && in_count > 1 && st->values != nullptr) {
      if (sqli_coll_bind_values(in_count - 1, ins + 1, st->values, st->kind, &st->pristine, &st->pristine_count) != 0) {
        return sqlca.sqlcode;
      }
    }
  }
  if (st->variable == nullptr) return Fail(-1817);
  if (int rc = zel_coll_curs_attach(st->variable, &st->cursor); rc != 0) return Fail(rc);
  st->flags |= SQLI_CS_OPEN | 0x40;
  st->state = 1;
  return Done();
}

int32_t sqli_coll_fetch(SqliCollStmt* st, int16_t out_count, SqliValueItem* outs, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (st == nullptr) return Fail(-404);
  if (st->state != 1) return Fail(-400);
  bool from_desc = false;
  if (descriptor != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(descriptor);
    if (d == nullptr) return Fail(-469);
    out_count = d->count;
    outs = d->items;
    from_desc = true;
  } else if (outs == nullptr || out_count == 0) {
    out_count = st->out_count;
    outs = st->out_items;
  }
  SqliCollection* c = st->variable;
  const CollTypeInfo* info = InForce(c);
  if (info == nullptr) return Fail(-1815);
  char* data = nullptr;
  int32_t size = 0;
  int32_t rc = zel_coll_next(c, &st->cursor, &data, &size);
  if (rc == 100) {
    sqlca.sqlcode = 100;
    return sqlca.sqlcode;
  }
  if (rc != 0) return Fail(rc);
  st->cursor.cc_curdata = data;
  st->flags |= SQLI_CS_FETCHED;
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
        rc = sqli_coll_fetch_field(c, field, data, size, &outs[target], from_desc ? 1 : 0);
        if (rc < 0) break;
        rc = 0;
        if (++filled == out_count) break;
      }
      data = nullptr;
      rc = zel_coll_next(c, &st->cursor, &data, &size);
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
    rc = sqli_coll_fetch_element(c, data, size, st->names, out_count, outs, from_desc ? 1 : 0);
  }
  if (rc < 0) return Fail(rc);
  return Done();
}

int32_t sqli_coll_put(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (descriptor != nullptr) {
    SqliDescriptor* d = sqli_desc_table_find(descriptor);
    if (d == nullptr) return Fail(-469);
    in_count = d->count;
    ins = d->items;
  }
  if (st == nullptr) return Fail(-414);
  if (st->state != 1) return Fail(-413);
  if (st->kind != SQLI_CK_INSERT) return Fail(-488);
  if (ins == nullptr || in_count < 1) {
    in_count = st->in_count;
    ins = st->in_items;
  }
  if (ins == nullptr || in_count < 1) return Fail(-418);
  if (st->values == nullptr) return Fail(-418);
  if (sqli_coll_bind_values(in_count, ins, st->values, st->kind, &st->pristine, &st->pristine_count) != 0) {
    return sqlca.sqlcode;
  }
  int32_t rc = sqli_coll_insert_values(st->variable, st->names, st->values, 0);
  if (rc < 0) return Fail(rc);
  return Done();
}

int32_t sqli_coll_close(SqliCollStmt* st) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (st == nullptr || (st->flags & (SQLI_CS_DECLARED | SQLI_CS_PREPARED)) == 0) return Fail(-404);
  if (st->state != 1) return Fail(-259);
  st->flags &= ~SQLI_CS_OPEN;
  st->state = 0;
  if (st->variable != nullptr && zel_coll_curs_detach(st->variable, &st->cursor) != 0) return Fail(-1);
  return Done();
}

int32_t sqli_coll_free(SqliCollStmt* st) {
  if (st == nullptr) return -404;
  if (st->state == 1 && st->variable != nullptr) zel_coll_curs_detach(st->variable, &st->cursor);
  st->state = 0;
  std::free(st->values);
  std::free(st->pristine);
  std::free(st->names);
  st->values = st->pristine = nullptr;
  st->names = nullptr;
  st->pristine_count = 0;
  st->cursor.cc_curdata = nullptr;
  return 0;
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

int32_t sqli_coll_describe(SqliCollStmt* st, const char* descriptor) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (st == nullptr || st->kind == 0) return Fail(-404);
  if (st->state != 1) return Fail(-259);
  if (InForce(st->variable) == nullptr) return Fail(-1815);
  const CollTypeInfo* info = InForce(st->variable);
  SqliDescriptor* d = sqli_desc_table_find(descriptor != nullptr ? descriptor : "");
  if (d == nullptr) return Fail(-469);
  if (d->max_count < info->ti_count) return Fail(-479);
  // The entries one level below the value (for a collection of rows, the
  // row's fields), or the named ones in the order of the names.
  const bool row = (info->ti_entry[0].type & 0xFF) == SQLROW;
  std::vector<int> pick;
  if (st->names != nullptr && st->names[0] != '\0') {
    for (const char* p = st->names; *p != '\0'; p += SQLI_NAME_ENTRY) {
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
      if (found < 0) return Fail(-1816);
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
  return Done();
}

TV_END_C
