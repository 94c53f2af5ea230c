// INSERT, UPDATE and DELETE on collection and row host variables: value
// lists turned into packed elements and applied to the variable through
// its change log, which is folded into new element data at the end of each
// statement. A statement checks its whole value list before it changes
// anything, so that a value that does not fit leaves the variable as it
// was.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sqlruntime/coll_internal.h"
#include "sqlruntime/collections.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/datetime.h"
#include "sqltypes/sqlvalue.h"
#include "sqltypes/value_stored.h"

namespace {

using sqli_coll::FieldName;
using sqli_coll::InForce;
using sqli_coll::IsCollType;
using sqli_coll::Names;
using sqli_coll::RowFields;

bool IsEnd(const SqliCollValue& v) { return v.data == nullptr && v.type == 0 && v.length == 0; }
bool IsConstructor(const SqliCollValue& v) { return v.literal == 1 && v.type >= SQLSET && v.type <= SQLROW; }
bool IsHostColl(const SqliCollValue& v) { return v.type == SQLCOLLECTION || v.type == 123 || (v.type == SQLROW && v.literal == 0); }
bool IsRowInfo(const CollTypeInfo* info) {
  return info != nullptr && info->ti_count >= 1 && (info->ti_entry[0].type & 0xFF) == SQLROW;
}

// Buffers made while a statement runs, freed when it ends.
using BufferList = std::vector<std::unique_ptr<char[]>>;

// Step 4: does a value's type fit the field or element it fills?
bool Fits(const SqliCollValue& v, const CollTypeEntry& e) {
  const int32_t et = e.type & 0xFF;
  if (v.type == -2 || v.type == SQLCOLLECTION || v.type == 123) return true;
  const bool vcoll = IsCollType(v.type) && (v.literal == 1 || v.type == SQLROW);
  if (IsCollType(et)) return vcoll && (v.type == et || et == SQLCOLLECTION);
  if (vcoll) return false;
  const int32_t vt = rtyphosttosql(v.type);
  const bool eudt = et == SQLUDTVAR || et == SQLUDTFIXED;
  const bool vudt = vt == SQLUDTVAR || vt == SQLUDTFIXED;
  if (v.literal) return true;
  return eudt == vudt || (!eudt && !vudt);
}

bool IsTextType(int32_t t) { return t == SQLCHAR || t == SQLVCHAR || t == 100 || t == 114 || t == 109 || t == 108; }

}  // namespace

TV_BEGIN_C

// One value into one packed element of the entry's type (step 9).
int32_t sqli_coll_put_value(BufferList* buffers, const SqliCollValue* value, CollTypeEntry* e, char** out,
                            int32_t* out_len, int32_t typed) {
  SqliCollValue v = *value;
  const int32_t et = e->type & 0xFF;
  std::string local;  // a converted copy; the program's variable is never written
  if (IsTextType(v.type) && v.data != nullptr && (et == SQLBOOL || et == 122)) {
    const unsigned char b0 = static_cast<unsigned char>(v.data[0]);
    if (b0 == 0) {
      local = "f";
    } else if (b0 == 1 && (v.length < 2 || v.data[1] == '\0')) {
      local = "t";
    }
    if (!local.empty()) {
      v.data = local.data();
      v.type = SQLCHAR;
      v.length = 2;
    }
  }
  if (IsTextType(v.type) && v.data != nullptr && v.type != -2 && (et == SQLCHAR || et == SQLVCHAR || et == SQLNCHAR || et == SQLNVCHAR)) {
    const int32_t room = (et == SQLVCHAR || et == SQLNVCHAR) ? (e->length & 0xFF) : e->length;
    const size_t n = v.length > 0 ? strnlen(v.data, static_cast<size_t>(v.length)) : std::strlen(v.data);
    if (static_cast<int32_t>(n) > room) {
      sqlca.sqlwarn.sqlwarn0 = 'W';
      sqlca.sqlwarn.sqlwarn1 = 'W';
    }
  }
  const bool isnull = v.type == -2;
  if (typed && (et == SQLUDTVAR || et == SQLUDTFIXED) && !isnull) {
    e->type = static_cast<uint16_t>((e->type & ~0xFF) | (rtyphosttosql(v.type) & 0xFF));
    if (et == SQLUDTFIXED && v.length != 0) e->length = v.length;
    if (et == SQLUDTVAR && v.data != nullptr) {
      e->length = static_cast<int16_t>(reinterpret_cast<const SqliVarValue*>(v.data)->length & 0xFFFF);
    }
  }
  const int32_t t = e->type & 0xFF;
  const bool varform = t == SQLUDTVAR || t == SQLUDTFIXED || t == SQLLVARCHAR || t == SQLBOOL;
  if (e->length == 0 && !(t == SQLLVARCHAR || (isnull && (t == SQLUDTVAR || t == SQLUDTFIXED || t == SQLBOOL)))) {
    return -406;
  }
  int32_t size, result;
  if (varform) {
    int32_t n = e->length;
    if (isnull) n = 0;
    else if (v.literal && v.length < e->length) n = v.length - 1;
    else if (t == SQLLVARCHAR && e->length == 0) n = v.length + 1;
    if (t == SQLLVARCHAR && !isnull && v.data != nullptr && !v.literal) {
      n = std::max<int32_t>(n, static_cast<int32_t>(std::strlen(v.data)) + 1);
    }
    size = 5 + std::max(n, 0);
    result = size;
  } else if (t == SQLVCHAR || t == SQLNVCHAR) {
    size = (e->length & 0xFF) + 2;
    result = size - 1;
  } else {
    size = rtypmsize(t, e->length);
    result = e->length;
    if (size <= 0) return -406;
    if (t == SQLDECIMAL || t == SQLMONEY || t == SQLDTIME || t == SQLINTERVAL || t == SQLINT8 || t == SQLSERIAL8 ||
        t == SQLSMINT || t == SQLINT || t == SQLDATE || t == SQLSERIAL || t == SQLFLOAT || t == SQLSMFLOAT ||
        t == SQLBIGINT || t == SQLBIGSERIAL) {
      result = size;
    }
  }
  buffers->emplace_back(new char[static_cast<size_t>(size) + 1]());
  char* buf = buffers->back().get();
  int32_t rc = 0;
  if (isnull) {
    if (e->type & SQL_NOTNULL_FLAG) return -1225;
    SqlValue nv;
    std::memset(&nv, 0, sizeof nv);
    nv.v_type = static_cast<uint16_t>(t);
    nv.v_ind = -1;
    rc = rvaltodata(&nv, buf, t, t == SQLVCHAR || t == SQLNVCHAR ? e->length : (varform ? size : e->length));
  } else if ((t == SQLDTIME || t == SQLINTERVAL) && v.qualifier != 0) {
    const std::string text(v.data != nullptr ? v.data : "");
    if (v.type == SQLDTIME || v.type == 112) {
      DateTimeValue dt{};
      dt.dt_qual = v.qualifier;
      rc = dtcvasc(text.c_str(), &dt);
      if (rc == 0) rc = sqli_host_to_stored(&dt, 112, 24, buf, t, e->length);
    } else if (v.type == SQLINTERVAL || v.type == 115) {
      IntervalValue iv{};
      iv.in_qual = v.qualifier;
      rc = incvasc(text.c_str(), &iv);
      if (rc == 0) rc = sqli_host_to_stored(&iv, 115, 24, buf, t, e->length);
    }
  } else {
    const int32_t src = v.literal ? static_cast<int32_t>(SQLCHAR) : v.type;
    rc = sqli_host_to_stored(v.data, src, v.length, buf, t, varform ? size : e->length);
  }
  if (rc < 0) return rc;
  *out = buf;
  *out_len = result;
  return 0;
}

TV_END_C

namespace {

// A record made for a nested value, freed with its description.
struct SubDeleter {
  void operator()(SqliCollection* r) const {
    zel_coll_free(r);
    std::free(r);
  }
};
using SubPtr = std::unique_ptr<SqliCollection, SubDeleter>;

struct Build {
  BufferList buffers;
  std::vector<SubPtr> subs;  // nested values made; their data backs the headers handed out
  bool dry = false;
};

int32_t Insert(Build* b, SqliCollection* c, const char* data, int32_t len, int32_t pos) {
  if (b->dry) return 0;
  int rc = zel_coll_insert(c, data, len, pos);
  return rc;
}

// A record over the subtree of field (0: the element) of c.
int32_t SubRecord(const SqliCollection* c, int field, SqliCollection** out) {
  CollTypeInfo* sub = nullptr;
  int rc = zel_coll_subtypeinfo(c, &sub, field);
  if (rc != 0) return rc;
  auto* r = static_cast<SqliCollection*>(std::calloc(1, sizeof(SqliCollection)));
  if (r == nullptr) {
    std::free(sub);
    return -406;
  }
  zel_coll_init(r, sub, 1, nullptr, 0);
  r->cl_flags |= COLL_OWNS_TYPEINFO;
  *out = r;
  return 0;
}

int32_t BuildInto(Build* b, SqliCollection* target, const SqliCollValue** it, int32_t pos);

// The packed form of a value for a field or element of a collection or row
// type (field of owner; 0: the element): a null, the reference header of
// a host variable, or that of a value built from the constructor whose
// items follow *it (consumed up to its end item).
int32_t MakeNested(Build* b, SqliCollection* owner, int field, const SqliCollValue& v, const SqliCollValue** it,
                   int32_t pos, char** out, int32_t* out_len) {
  b->buffers.emplace_back(new char[32]());  // 8-aligned: a 24-byte header
  char* hdr = b->buffers.back().get();
  if (v.type == -2) {
    zel_coll_nullhdr(hdr);
    *out = hdr;
    *out_len = 3;
    return 0;
  }
  if (IsConstructor(v)) {
    SqliCollection* sub = nullptr;
    if (int32_t rc = SubRecord(owner, field, &sub); rc != 0) return rc;
    b->subs.emplace_back(sub);
    int32_t rc = BuildInto(b, sub, it, pos);
    if (rc == 0 && !b->dry) rc = zel_coll_tuple(sub);
    if (rc != 0 && rc != -9977) return rc;
    zel_coll_puthdr(sub, hdr);
  } else {
    auto* hv = reinterpret_cast<SqliCollection*>(v.data);
    if (hv == nullptr) return -1814;
    if (!b->dry && hv->cl_log != nullptr) {
      if (int rc = zel_coll_tuple(hv); rc != 0 && rc != -9977) return rc;
    }
    zel_coll_puthdr(hv, hdr);
  }
  *out = hdr;
  *out_len = 24;
  return 0;
}

// Step 6: builds the values from *it into target; stops after a -1 (which
// it consumes), at a -5 of a row, or at the end of the list.
int32_t BuildInto(Build* b, SqliCollection* target, const SqliCollValue** it, int32_t pos) {
  const CollTypeInfo* info = InForce(target);
  if (info == nullptr || info->ti_count < 1) return -1815;
  const bool row = IsRowInfo(info);
  std::vector<int> fields = row ? RowFields(info, 0) : std::vector<int>{};
  if (!row && info->ti_count < 2) return -1815;
  size_t f = 0;
  bool filled = false;  // the current field has its value
  for (;;) {
    const SqliCollValue& v = **it;
    if (IsEnd(v)) return 0;
    ++*it;
    if (v.type == -1) return 0;
    if (v.type == -5) {
      if (row) return 0;
      continue;
    }
    if (v.type == -4) {
      if (row && filled) {
        ++f;
        filled = false;
      }
      continue;
    }
    if (row && filled) {  // values without separators fill the fields in turn
      ++f;
      filled = false;
    }
    if (row && f >= fields.size()) return -1819;
    const int entry = row ? fields[f] : 1;
    CollTypeEntry* e = const_cast<CollTypeEntry*>(&info->ti_entry[entry]);
    if (!Fits(v, *e)) return -1818;
    const int32_t et = e->type & 0xFF;
    int32_t rc = 0;
    if (IsConstructor(v) || (v.type == -2 && IsCollType(et)) || IsHostColl(v)) {
      char* data = nullptr;
      int32_t len = 0;
      rc = MakeNested(b, target, row ? static_cast<int>(f) + 1 : 0, v, it, pos, &data, &len);
      if (rc == 0) rc = Insert(b, target, data, len, pos);
    } else {
      char* data = nullptr;
      int32_t len = 0;
      rc = sqli_coll_put_value(&b->buffers, &v, e, &data, &len, target->cl_typed);
      if (rc == 0) rc = Insert(b, target, data, len, pos);
    }
    if (rc != 0) return rc;
    filled = true;
  }
}

// Splits a value list into groups: one value, or a whole constructor.
std::vector<std::vector<SqliCollValue>> Groups(const SqliCollValue* v) {
  std::vector<std::vector<SqliCollValue>> out;
  while (!IsEnd(*v)) {
    if (v->type == -4 || v->type == -5) {
      ++v;
      continue;
    }
    std::vector<SqliCollValue> g;
    if (IsConstructor(*v)) {
      int depth = 0;
      do {
        if (IsConstructor(*v)) ++depth;
        if (v->type == -1) --depth;
        g.push_back(*v);
        ++v;
      } while (depth > 0 && !IsEnd(*v));
    } else {
      g.push_back(*v);
      ++v;
    }
    out.push_back(g);
  }
  return out;
}

SqliCollValue Marker(int16_t type) {
  SqliCollValue m{};
  m.type = type;
  m.length = 1;  // never mistaken for the end item
  return m;
}

// Runs a build twice: once to check, then for real.
int32_t CheckedBuild(SqliCollection* c, const SqliCollValue* values, int32_t pos) {
  Build check;
  check.dry = true;
  const SqliCollValue* it = values;
  int32_t rc = BuildInto(&check, c, &it, pos);
  if (rc != 0) return rc;
  Build real;
  it = values;
  rc = BuildInto(&real, c, &it, pos);
  if (rc == 0) rc = zel_coll_tuple(c);
  return rc == -9977 ? 0 : rc;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_coll_insert_values(SqliCollection* c, const char* names, SqliCollValue* values, int32_t pos) {
  const CollTypeInfo* info = InForce(c);
  if (info == nullptr) return -1815;
  if (values == nullptr) return 0;
  std::vector<std::string> list = Names(names);
  if (list.empty()) return CheckedBuild(c, values, pos);
  // Named fields: the row level is the variable itself or the element row.
  const bool rowvar = IsRowInfo(info) && info->ti_entry[0].level_no == 0;
  const int root = rowvar ? 0 : 1;
  if (!rowvar && (info->ti_count < 2 || (info->ti_entry[1].type & 0xFF) != SQLROW)) return -1816;
  std::vector<int> fields = RowFields(info, root);
  std::vector<std::vector<SqliCollValue>> groups = Groups(values);
  std::vector<int> group_of(fields.size(), -1);
  for (size_t n = 0; n < list.size(); ++n) {
    size_t f = 0;
    while (f < fields.size() && FieldName(info->ti_entry[fields[f]]) != list[n]) ++f;
    if (f == fields.size()) return -1816;
    group_of[f] = static_cast<int>(n);
  }
  if (groups.size() != list.size()) return -236;
  // The full row in field order: named fields their values, the others null.
  std::vector<SqliCollValue> full;
  if (!rowvar) {
    SqliCollValue open{};
    open.type = SQLROW;
    open.literal = 1;
    open.length = 1;
    full.push_back(open);
  }
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) full.push_back(Marker(-4));
    if (group_of[f] < 0) full.push_back(Marker(-2));
    else for (const SqliCollValue& v : groups[static_cast<size_t>(group_of[f])]) full.push_back(v);
  }
  if (!rowvar) full.push_back(Marker(-1));
  full.push_back(SqliCollValue{});
  return CheckedBuild(c, full.data(), pos);
}

int32_t sqli_coll_copy_values(const SqliCollValue* values, SqliCollValue** out) {
  *out = nullptr;
  if (values == nullptr) return 0;
  size_t n = 0;
  while (!IsEnd(values[n])) ++n;
  auto* copy = static_cast<SqliCollValue*>(std::calloc(n + 1, sizeof(SqliCollValue)));
  if (copy == nullptr) return -406;
  std::memcpy(copy, values, sizeof(SqliCollValue) * (n + 1));
  *out = copy;
  return 0;
}

int32_t sqli_coll_bind_values(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, int32_t kind,
                              SqliCollValue** pristine, int32_t* pristine_count) {
  if (values == nullptr) return 0;
  if (*pristine == nullptr) {
    size_t n = 0;
    while (!IsEnd(values[n])) ++n;
    *pristine = static_cast<SqliCollValue*>(std::calloc(n + 1, sizeof(SqliCollValue)));
    if (*pristine == nullptr) {
      _iqseterr(-406);
      return -1;
    }
    std::memcpy(*pristine, values, sizeof(SqliCollValue) * n);
    *pristine_count = static_cast<int32_t>(n);
  }
  int32_t holes = 0;
  for (int32_t i = 0; i < *pristine_count; ++i) holes += (*pristine)[i].type == -3;
  if (holes != in_count) {
    _iqseterr(kind == SQLI_CK_INSERT ? -236 : -505);
    return -1;
  }
  int32_t next = 0;
  for (int32_t i = 0; i < in_count; ++i) {
    while ((*pristine)[next].type != -3) ++next;
    SqliCollValue& w = values[next++];
    w.data = ins[i].data;
    const int32_t ht = ins[i].type & 0x7FFF;
    w.type = static_cast<int16_t>(ht == 123 ? 123 : rtyphosttosql(ht));
    w.length = static_cast<int16_t>(ins[i].length);
  }
  return 0;
}

namespace {

// A group of values (one value or a whole constructor) with an end item,
// so that a constructor can be built from it.
std::vector<SqliCollValue> Terminated(std::vector<SqliCollValue> g) {
  g.push_back(SqliCollValue{});
  return g;
}

// The new value of one field or element of entry e (field of owner; 0: the
// element) from a group: a nested value for a collection or row type, the
// converted value otherwise.
int32_t MakeValue(Build* b, SqliCollection* owner, int field, CollTypeEntry* e, const std::vector<SqliCollValue>& group,
                  char** out, int32_t* out_len) {
  const SqliCollValue& v = group[0];
  if (!Fits(v, *e)) return -1818;
  if (IsCollType(e->type & 0xFF)) {
    std::vector<SqliCollValue> items = Terminated(group);
    const SqliCollValue* it = items.data() + 1;
    return MakeNested(b, owner, field, v, &it, 0, out, out_len);
  }
  return sqli_coll_put_value(&b->buffers, &v, e, out, out_len, owner->cl_typed);
}

// A field's new value, made before anything is changed.
struct FieldValue {
  int32_t field;  // 1-based field number
  char* data;
  int32_t len;
};

// The new values of the fields of a row (record row, whose description is
// rooted at entry 0): by name list, or every field in order without one.
// -1816 for a name that is no field, -236 when names and values do not
// pair up, -1818 for a value that does not fit its field.
int32_t MakeFieldValues(Build* b, SqliCollection* row, const char* names, const SqliCollValue* values,
                        std::vector<FieldValue>* out) {
  const CollTypeInfo* info = InForce(row);
  if (info == nullptr) return -1815;
  std::vector<int> fields = RowFields(info, 0);
  std::vector<std::string> list = Names(names);
  std::vector<size_t> targets;
  if (list.empty()) {
    for (size_t f = 0; f < fields.size(); ++f) targets.push_back(f);
  } else {
    for (const std::string& n : list) {
      size_t f = 0;
      while (f < fields.size() && FieldName(info->ti_entry[fields[f]]) != n) ++f;
      if (f == fields.size()) return -1816;
      targets.push_back(f);
    }
  }
  std::vector<std::vector<SqliCollValue>> groups = Groups(values);
  if (groups.size() != targets.size()) return -236;
  for (size_t i = 0; i < targets.size(); ++i) {
    CollTypeEntry* e = const_cast<CollTypeEntry*>(&info->ti_entry[fields[targets[i]]]);
    const int field = static_cast<int>(targets[i]) + 1;
    FieldValue fv{field, nullptr, 0};
    if (int32_t rc = MakeValue(b, row, field, e, groups[i], &fv.data, &fv.len); rc != 0) return rc;
    out->push_back(fv);
  }
  return 0;
}

// A record over the element row of c (no data): owns its description.
int32_t ElementRow(const SqliCollection* c, SqliCollection* tmp) {
  CollTypeInfo* sub = nullptr;
  if (int rc = zel_coll_subtypeinfo(c, &sub, 0); rc != 0) return rc;
  zel_coll_init(tmp, sub, c->cl_typed, nullptr, 0);
  tmp->cl_flags |= COLL_OWNS_TYPEINFO;
  return 0;
}

// Step 10: the row element elem (packed) under cursor k of c gets the
// fields' new values; the changed row replaces it.
int32_t ReplaceElementFields(SqliCollection* c, CollCursor* k, const char* elem, const std::vector<FieldValue>& values) {
  SqliCollection tmp;
  if (int32_t rc = ElementRow(c, &tmp); rc != 0) return rc;
  int32_t rc = zel_coll_put_col(&tmp, elem);
  for (size_t i = 0; i < values.size() && rc == 0; ++i) {
    rc = zel_coll_update_nth(&tmp, values[i].field, values[i].data, values[i].len);
  }
  if (rc == 0) rc = zel_coll_tuple(&tmp);
  if (rc == -9977) rc = 0;
  if (rc == 0) {
    alignas(8) char hdr[32] = {};
    zel_coll_puthdr(&tmp, hdr);
    rc = zel_coll_update(c, k, hdr, 24);
  }
  zel_coll_free(&tmp);
  return rc;
}

// The packed element at position pos of c (pointing into c).
int32_t ElementAt(SqliCollection* c, int32_t pos, char** data) {
  CollCursor t;
  if (int rc = zel_coll_curs_attach(c, &t); rc != 0) return rc;
  int32_t rc = pos > 1 ? cursor_seek(&t, pos - 1, CSEEK_SET) : 0;
  int32_t size = 0;
  *data = nullptr;
  if (rc == 0) rc = zel_coll_next(c, &t, data, &size);
  if (rc == 0 && t.cc_pos != pos) rc = 100;
  zel_coll_curs_detach(c, &t);
  return rc;
}

// Step 7: the element under the statement's cursor replaced.
int32_t UpdateCurrent(SqliCollection* c, SqliCollStmt* st, const char* names, SqliCollValue* values) {
  const CollTypeInfo* info = InForce(c);
  if (info == nullptr || info->ti_count < 2) return -1815;
  SqliCollection* var = st->variable;
  CollCursor* k = &st->cursor;
  CollTypeEntry* e = const_cast<CollTypeEntry*>(&info->ti_entry[1]);
  Build b;
  int32_t rc = 0;
  if ((e->type & 0xFF) == SQLROW) {
    SqliCollection shape;
    if ((rc = ElementRow(c, &shape)) != 0) return rc;
    std::vector<FieldValue> made;
    rc = MakeFieldValues(&b, &shape, names, values, &made);
    char* elem = nullptr;
    if (rc == 0) rc = ElementAt(var, k->cc_pos, &elem);
    if (rc == 0) rc = ReplaceElementFields(var, k, elem, made);
    zel_coll_free(&shape);
  } else {
    std::vector<std::vector<SqliCollValue>> groups = Groups(values);
    if (groups.size() != 1) return -505;
    char* data = nullptr;
    int32_t len = 0;
    rc = MakeValue(&b, c, 0, e, groups[0], &data, &len);
    if (rc == 0) rc = zel_coll_update(var, k, data, len);
  }
  return rc == 100 ? 0 : rc;
}

// Steps 8 and 11: every element (or the named fields of a row variable)
// replaced by the new value.
int32_t UpdateAll(SqliCollection* c, const char* names, SqliCollValue* values) {
  const CollTypeInfo* info = InForce(c);
  if (info == nullptr) return -1815;
  const bool rowvar = IsRowInfo(info) && info->ti_entry[0].level_no == 0;
  if (c->cl_data == nullptr && c->cl_cardinality == 0 && c->cl_log == nullptr) {
    const bool coll_elem = !rowvar && info->ti_count >= 2 && IsCollType(info->ti_entry[1].type & 0xFF) &&
                           (info->ti_entry[1].type & 0xFF) != SQLROW;
    return sqli_coll_insert_values(c, coll_elem ? nullptr : names, values, 0);
  }
  Build b;
  if (rowvar) {
    // Every new value is made first; the row is changed only when all are.
    std::vector<FieldValue> made;
    if (int32_t rc = MakeFieldValues(&b, c, names, values, &made); rc != 0) return rc;
    CollCursor k;
    if (int rc = zel_coll_curs_attach(c, &k); rc != 0) return rc;
    int32_t rc = 0;
    for (size_t i = 0; i < made.size() && rc == 0; ++i) {
      rc = cursor_seek(&k, made[i].field, CSEEK_SET);
      if (rc == 0) rc = zel_coll_update(c, &k, made[i].data, made[i].len);
    }
    zel_coll_curs_detach(c, &k);
    if (rc == 0) rc = zel_coll_tuple(c);
    return rc == -9977 ? 0 : rc;
  }
  if (info->ti_count < 2) return -1815;
  CollTypeEntry* e = const_cast<CollTypeEntry*>(&info->ti_entry[1]);
  const int32_t et = e->type & 0xFF;
  const int32_t kind = info->ti_entry[0].type & 0xFF;
  int32_t rc = 0;
  char* data = nullptr;
  int32_t len = 0;
  std::vector<FieldValue> fields;
  SqliCollection shape;
  bool have_shape = false;
  if (et == SQLROW) {
    // Rows keep their unnamed fields: each element is changed field by field.
    if ((rc = ElementRow(c, &shape)) != 0) return rc;
    have_shape = true;
    rc = MakeFieldValues(&b, &shape, names, values, &fields);
  } else {
    std::vector<std::vector<SqliCollValue>> groups = Groups(values);
    if (groups.size() != 1) return -505;
    rc = MakeValue(&b, c, 0, e, groups[0], &data, &len);
  }
  if (rc == 0 && kind == SQLSET && !IsCollType(et)) {
    // A SET holds each value once: all go, the value comes in once.
    CollCursor fresh{};
    const uint32_t keep = c->cl_flags & (COLL_OWNS_TYPEINFO);
    rc = zel_coll_delete(c, &fresh, 1);
    c->cl_flags |= keep;
    if (rc == 0) rc = zel_coll_insert(c, data, len, 0);
  } else if (rc == 0) {
    CollCursor k;
    if ((rc = zel_coll_curs_attach(c, &k)) == 0) {
      for (;;) {
        char* cur = nullptr;
        int32_t size = 0;
        rc = zel_coll_next(c, &k, &cur, &size);
        if (rc != 0) break;
        rc = et == SQLROW ? ReplaceElementFields(c, &k, cur, fields) : zel_coll_update(c, &k, data, len);
        if (rc != 0) break;
      }
      zel_coll_curs_detach(c, &k);
      if (rc == 100) rc = 0;
    }
  }
  if (have_shape) zel_coll_free(&shape);
  if (rc == 0) rc = zel_coll_tuple(c);
  return rc == -9977 ? 0 : rc;
}

}  // namespace

int32_t sqli_coll_stmt(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, const char* names,
                       SqliCollStmt* cursor, int32_t kind, int32_t position) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  if (sqli_sqlca_reset(rt) != 0) return sqlca.sqlcode;
  sqlca.sqlerrd[2] = 0;
  if (in_count < 1 || ins == nullptr) {
    _iqseterr(-1817);
    return sqlca.sqlcode;
  }
  int32_t first = 0;
  const int32_t t0 = rtyphosttosql(ins[0].type & 0x7FFF);
  if (t0 == SQLSMINT || t0 == SQLINT || t0 == SQLBIGINT) first = 1;
  if (first >= in_count) {
    _iqseterr(-1817);
    return sqlca.sqlcode;
  }
  // The inputs after the variable pair with the value items; a null input
  // makes its item a null.
  if (values != nullptr) {
    SqliCollValue* v = values;
    for (int32_t i = first + 1; i < in_count; ++i) {
      while (!IsEnd(*v) && (v->type == -2 || v->type == -4 || v->literal)) ++v;
      if (IsEnd(*v)) break;
      bool has = true;
      int16_t ind = 0;
      if (ins[i].indicator != nullptr) ind = *ins[i].indicator;
      else if (ins[i].ind_data != nullptr && ins[i].ind_type != -1) ind = sqli_ind_read(ins[i].ind_type, ins[i].ind_data, ins[i].ind_length);
      else has = false;
      if (has && ind == -1) v->type = -2;
      ++v;
    }
  }
  auto* c = reinterpret_cast<SqliCollection*>(ins[first].data);
  if (c == nullptr) {
    _iqseterr(-1814);
    return sqlca.sqlcode;
  }
  const CollTypeInfo* info = InForce(c);
  const bool rowvar = info != nullptr && IsRowInfo(info) && info->ti_entry[0].level_no == 0;
  int32_t rc = 0;
  switch (kind) {
    case SQLI_CK_INSERT:
      rc = rowvar ? -1825 : sqli_coll_insert_values(c, names, values, position);
      break;
    case SQLI_CK_UPDATE:
      if (info == nullptr) { rc = -1815; break; }
      if (cursor == nullptr || cursor->state != 1) { rc = -400; break; }
      rc = UpdateCurrent(c, cursor, names, values);
      break;
    case SQLI_CK_DELETE:
      if (rowvar) { rc = -1825; break; }
      if (cursor == nullptr || cursor->state != 1) { rc = -400; break; }
      rc = zel_coll_delete(cursor->variable, &cursor->cursor, 0);
      break;
    case SQLI_CK_DELETE_ALL: {
      if (rowvar) { rc = -1825; break; }
      CollCursor fresh{};
      const uint32_t keep = c->cl_flags & COLL_OWNS_TYPEINFO;
      rc = zel_coll_delete(c, &fresh, 1);
      c->cl_flags |= keep;
      break;
    }
    case SQLI_CK_UPDATE_ALL:
      rc = UpdateAll(c, names, values);
      if (rc == -236) rc = -505;
      break;
    default: break;
  }
  if (rc < 0) _iqseterr(rc);
  else if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

TV_END_C
