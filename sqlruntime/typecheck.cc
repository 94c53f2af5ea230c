// The input type check (request 100): the types of a statement's host
// variables sent ahead of the values, so that the server can send or take
// each column in the program's own form.
//
//   field        bytes   content
//   code         2       100
//   flag word    2       1 or 0
//   count        2       items
//   per item     2       wire type
//                string  type name, then owner (extended types only)
//                4       length: 56 for BYTE/TEXT; the text length for
//                        character types given without one; VARCHAR and
//                        NVARCHAR at most 255; less the NUL of
//                        NUL-terminated texts unless asked otherwise
#include <stdlib.h>
#include <string.h>

#include "sqlruntime/hostvalues.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqlruntime/requests.h"
#include "sqltypes/datetime.h"

using namespace sqli_hv;

namespace {

constexpr int32_t kVarCap = 32739;

// The SQL type an item stands for; types of 200 and up are extended.
int32_t ItemSqlType(const SqliValueItem* it) {
  int32_t low = it->type & 0x7FFF;
  if (low >= 200) return -1;
  return rtyphosttosql(low);
}

bool VariableItem(const SqliValueItem* it) {
  int32_t low = it->type & 0x7FFF;
  int32_t st = ItemSqlType(it);
  return CollType(st) || low == 40 || low == 41 || low == 43 || low == 45 || (low >= 119 && low <= 122) ||
         low == 124 || st == SQLUDTVAR || st == SQLUDTFIXED || st == SQLLVARCHAR || st == SQLBOOL;
}

bool Extended(int32_t wire) { return !Builtin(wire & 0xFF) || (wire & 0x800) != 0 || (wire & 0x7F00) != 0; }

// Columns stored in a variable form the server turns into a fixed target
// type when the check asks for one.
bool ConvertibleVariable(int32_t column_type) {
  int32_t t = column_type & 0xFF;
  return t == 40 || t == 41 || t == 43 || t == 45 || CollType(t);
}

}  // namespace

// The form a column of a fetched row arrives in once the check of the
// output items went: a variable-form column announced as a fixed type comes
// as that type, with the announced length. 1 when it does (type and length
// set), else 0 (the column's stored form).
int32_t sqli_hv::CheckedForm(const SqliCursor* c, int32_t i, int32_t* type, int32_t* length) {
  if (c == nullptr || (c->flags & SQLI_CF_CHECK_SENT) == 0 || c->columns == nullptr || i >= c->column_count ||
      c->check_items == nullptr || i >= c->check_count)
    return 0;
  const SqliValueItem* it = &c->check_items[i];
  if ((it->flags & SQLI_IF_CHECK) == 0 || it->ind_type != 0 || !ConvertibleVariable(c->columns[i].type)) return 0;
  if (!Builtin(it->type & 0xFF) || (it->type & 0xFF) == SQLBYTES || (it->type & 0xFF) == SQLTEXT) return 0;
  *type = it->type & 0xFF;
  *length = it->length;
  return 1;
}

namespace {

// The layout of the rows the server sends once the output items were
// checked: rows are variable when any target or any column left in a
// variable form is; fixed rows take the size of the announced forms.
void OutputLayout(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t flags) {
  int32_t variable = 0;
  for (int32_t i = 0; i < count; ++i) variable += VariableItem(&items[i]) ? 1 : 0;
  if (c->columns == nullptr) {
    c->variable_columns = static_cast<int16_t>(variable);
    return;
  }
  int64_t size = 0;
  for (int32_t i = 0; i < c->column_count; ++i) {
    int32_t ct = c->columns[i].type & 0xFF;
    int32_t w = c->columns[i].length;
    bool announced = i < count && !VariableItem(&items[i]);
    if (announced && ConvertibleVariable(ct) && (flags & 0x01)) {
      int32_t wire = (items[i].type & 0x7FFF) >= 200 ? items[i].type
                                                     : sqli_wire_type(items[i].type, &items[i], 0, items[i].xid,
                                                                      nullptr);
      if (Builtin(wire & 0xFF) && (wire & 0xFF) != SQLBYTES && (wire & 0xFF) != SQLTEXT) {
        size += sqli_stored_size(wire & 0xFF, CheckLength(&items[i], flags), nullptr, 0);
        continue;
      }
    }
    if (ConvertibleVariable(ct) || (Unpadded() && (ct == SQLVCHAR || ct == SQLNVCHAR))) {
      if (i >= count || !VariableItem(&items[i])) ++variable;
      continue;
    }
    size += sqli_stored_size(ct, w, nullptr, 0);
  }
  c->variable_columns = static_cast<int16_t>(variable);
  if (variable == 0 && size > 0 && size <= INT32_MAX) c->row_size = static_cast<int32_t>(size);
}

}  // namespace

// The length an item is announced with.
int32_t sqli_hv::CheckLength(const SqliValueItem* it, int32_t flags) {
  int32_t low = it->type & 0x7FFF;
  int32_t st = ItemSqlType(it);
  int32_t len = it->length;
  if (st == SQLBYTES || st == SQLTEXT) return 56;
  bool texty = CharType(st) || st == SQLLVARCHAR;
  if (texty && len == 0) {
    if (low == 124 && it->data != nullptr) {
      SqliVarValue vv;
      memcpy(&vv, it->data, sizeof vv);
      len = vv.data != nullptr ? static_cast<int32_t>(strlen(vv.data)) : 0;
    } else if (it->data != nullptr) {
      len = static_cast<int32_t>(strlen(it->data));
    }
  } else if (texty && (flags & 0x20) == 0 && (low == 100 || low == 109 || low == 114 || low == 119) && len > 0) {
    len -= 1;
  }
  if ((st == SQLVCHAR || st == SQLNVCHAR) && len > 255) len = 255;
  return len;
}

namespace {

void PutName(const char* name, int32_t n, SqliMessageStream* s, int32_t* err) {
  if (name == nullptr) n = 0;
  else if (n <= 0) n = static_cast<int32_t>(strlen(name));
  const char* bytes = name;
  int32_t e = 0;
  int32_t m = ConvertOut(name, n, &bytes, &e);
  if (m < 0) {
    if (*err == 0) *err = e;
    m = n;
    bytes = name;
  }
  sqli_msg_put_string(bytes, m, s);
}

char* Dup(const char* p) {
  if (p == nullptr) return nullptr;
  size_t n = strlen(p);
  char* d = static_cast<char*>(malloc(n + 1));
  if (d != nullptr) memcpy(d, p, n + 1);
  return d;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_req_type_check(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t flags, int32_t* nothing,
                            SqliRuntime*) {
  if (nothing != nullptr) *nothing = 0;
  // Flag 0x02 takes the items saved in the cursor, unless the caller gives
  // items to be saved (0x08): the first PUT saves its values' types, the
  // first sending of its rows announces them.
  bool own = (flags & 0x02) != 0 && c != nullptr && (items == nullptr || count <= 0 || (flags & 0x08) == 0);
  if (own) {
    items = c->check_items;
    count = c->check_count;
  }
  if (count <= 0 || items == nullptr) {
    if (nothing != nullptr) *nothing = 1;
    return 0;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (items[i].type == -1) {
      _iqseterr(-402);
      return -402;
    }
  }
  // Nothing goes when every item and its described column are built-in.
  bool plain = c != nullptr && c->columns != nullptr && c->column_count == count;
  for (int32_t i = 0; plain && i < count; ++i) {
    int32_t st = ItemSqlType(&items[i]);
    int32_t ct = c->columns[i].type;
    if (st < 0 || !Builtin(st) || (items[i].type & 0x800) != 0 || !Builtin(ct & 0xFF) || (ct & 0x800) != 0) {
      plain = false;
    } else if (Unpadded() && (st == SQLVCHAR || st == SQLNVCHAR || (ct & 0xFF) == SQLVCHAR ||
                              (ct & 0xFF) == SQLNVCHAR)) {
      plain = false;
    }
  }
  if (plain) {
    if (nothing != nullptr) *nothing = 1;
    return 0;
  }
  int32_t err = 0;
  if (flags & 0x01) {
    SqliMessageStream* s = sqli_cur_stream();
    if (s == nullptr) return -1;
    sqli_msg_put_short(SQLI_REQ_TYPE_CHECK, s);
    sqli_msg_put_short((flags & 0x04) ? 1 : 0, s);
    sqli_msg_put_short(count, s);
    for (int32_t i = 0; i < count; ++i) {
      SqliValueItem* it = &items[i];
      int32_t wire;
      if ((it->type & 0x7FFF) >= 200 || own) {
        // Saved items and extended items carry their type as it stands.
        wire = it->type;
        sqli_msg_put_short(wire, s);
      } else {
        wire = sqli_wire_type(it->type, it, 1, it->xid, s);
      }
      if (Extended(wire)) {
        PutName(it->type_name, it->type_name_length, s, &err);
        PutName(it->owner_name, it->owner_name_length, s, &err);
      }
      sqli_msg_put_int(own ? it->length : CheckLength(it, flags), s);
    }
  }
  if ((flags & 0x08) && c != nullptr && !own) {
    if (c->check_items == nullptr || c->check_count < count) {
      c->check_items = sqli_item_array_make(c->check_items, c->check_count, count);
      if (c->check_items == nullptr) {
        c->check_count = 0;
        _iqseterr(-406);
        return -406;
      }
    }
    c->check_count = static_cast<int16_t>(count);
    for (int32_t i = 0; i < count; ++i) {
      SqliValueItem* it = &items[i];
      SqliValueItem* d = &c->check_items[i];
      if (d->flags & SQLI_IF_NAME_OWNED) free(d->name);
      if (d->flags & SQLI_IF_OWNER_OWNED) free(d->owner_name);
      if (d->flags & SQLI_IF_TYPE_NAME_OWNED) free(d->type_name);
      memset(d, 0, sizeof *d);
      int32_t wire = (it->type & 0x7FFF) >= 200 ? it->type : sqli_wire_type(it->type, it, 0, it->xid, nullptr);
      d->type = static_cast<int16_t>(wire);
      d->length = CheckLength(it, flags);
      d->xid = it->xid;
      d->name = Dup(it->name);
      d->type_name = Dup(it->type_name);
      d->owner_name = Dup(it->owner_name);
      d->type_name_length = it->type_name_length;
      d->owner_name_length = it->owner_name_length;
      d->flags = SQLI_IF_NAME_OWNED | SQLI_IF_TYPE_NAME_OWNED | SQLI_IF_OWNER_OWNED;
      if ((it->name && !d->name) || (it->type_name && !d->type_name) || (it->owner_name && !d->owner_name)) {
        _iqseterr(-406);
        return -406;
      }
      // Items sent for checking carry the match mark.
      if (flags & 0x01) d->flags |= SQLI_IF_CHECK;
      d->ind_type = VariableItem(it) ? 1 : 0;
      if (d->ind_type == 1 && d->length > kVarCap) d->length = kVarCap;
      int32_t st = ItemSqlType(it);
      if ((flags & 0x10) && (st == SQLDTIME || st == SQLINTERVAL) &&
          dtchkqual(st == SQLDTIME ? 0 : 1, it->length) != 0) {
        _iqseterr(-1268);
        return -1268;
      }
    }
  }
  // Only a check of output items (flag 0x04) changes the form of the rows
  // the server sends; a check of PUT values leaves the rows' described
  // layout as it was.
  if (!own && c != nullptr && (flags & 0x04) != 0) OutputLayout(c, count, items, flags);
  if (err != 0) {
    _iqseterr(err);
    return err;
  }
  return 0;
}

TV_END_C
