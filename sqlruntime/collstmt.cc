// Statements on collection and row host variables, run on the client:
// moving elements and fields into output host variables (FETCH, singleton
// SELECT), turning value lists into packed elements, and INSERT, UPDATE
// and DELETE on the variable. Nothing here reaches the server.
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

int32_t Fail(int32_t code) {
  _iqseterr(code);
  return sqlca.sqlcode;
}

bool IsRowInfo(const CollTypeInfo* info) {
  return info != nullptr && info->ti_count >= 1 && (info->ti_entry[0].type & 0xFF) == SQLROW &&
         info->ti_entry[0].level_no == 0;
}

// The position (0-based) of each field's name in the name list, -1 when the
// field is not named; -1816 when a name names no field.
int32_t MapNames(const CollTypeInfo* info, const std::vector<int>& fields, const std::vector<std::string>& names,
                 std::vector<int>* pos) {
  pos->assign(fields.size(), -1);
  for (size_t n = 0; n < names.size(); ++n) {
    bool found = false;
    for (size_t f = 0; f < fields.size(); ++f) {
      if (FieldName(info->ti_entry[fields[f]]) == names[n]) {
        (*pos)[f] = static_cast<int>(n);
        found = true;
        break;
      }
    }
    if (!found) return -1816;
  }
  return 0;
}

void StoreIndicator(SqliValueItem* out, int16_t ind) {
  if (out->indicator != nullptr) *out->indicator = ind;
  else if (out->ind_type != -1 && out->ind_data != nullptr) sqli_ind_write(ind, out->ind_type, out->ind_data, out->ind_length);
}

// One scalar field or element into one output host variable.
int32_t DeliverScalar(const CollTypeEntry& e, const char* data, int32_t size, SqliValueItem* out, bool from_desc) {
  const int32_t etype = e.type & 0xFF;
  SqlValue v;
  std::memset(&v, 0, sizeof v);
  int rc = rdataval(data, etype, etype == SQLVCHAR || etype == SQLNVCHAR || etype == SQLLVARCHAR ? size : e.length, &v);
  if (rc < 0) return rc;
  const int32_t ht = out->type & 0x7FFF;
  if (out->data == nullptr) {
    SqliRuntime* rt = sqli_runtime_get();
    if (rt != nullptr && rt->lvarchar_mode != 0 && (ht == SQLLVARCHAR || ht == 119 || ht == 124)) {
      int32_t n = (v.v_ind < 0 ? 0 : v.v.text.len) + 1;
      out->data = static_cast<char*>(std::calloc(1, static_cast<size_t>(n)));
      if (out->data == nullptr) return -406;
      out->flags |= SQLI_IF_DATA_OWNED;
      out->length = n;
    } else {
      return -402;
    }
  }
  if (SQLTYPE(v.v_type) == SQLUDTFIXED && ((ht == 108 && out->length == 1) || ht == SQLBOOL || ht == 122)) {
    v.v_type = SQLBOOL;
  } else if (SQLTYPE(v.v_type) == SQLUDTVAR && ht == SQLLVARCHAR) {
    v.v_type = SQLLVARCHAR;
  } else if (SQLTYPE(v.v_type) == SQLUDTVAR && ht == SQLUDTFIXED) {
    v.v_type = SQLUDTFIXED;
  }
  if ((ht == SQLVCHAR || ht == 114) && (etype == SQLVCHAR || etype == SQLNVCHAR)) {
    // VARCHAR to VARCHAR is copied directly, cut to the output's room.
    if (v.v_ind < 0) {
      out->data[0] = '\0';
      StoreIndicator(out, -1);
      return 0;
    }
    const int32_t room = out->length > 0 ? out->length - 1 : e.length & 0xFF;
    const int32_t n = std::min(v.v.text.len, std::max(room, 0));
    std::memcpy(out->data, v.v.text.ptr, static_cast<size_t>(n));
    out->data[n] = '\0';
    StoreIndicator(out, static_cast<int16_t>(v.v.text.len > n ? std::min(v.v.text.len, 32767) : 0));
    return 0;
  }
  const bool widen = from_desc && (ht == SQLCHAR || ht == SQLVCHAR || ht == SQLNCHAR || ht == SQLNVCHAR || ht == SQLLVARCHAR);
  if (widen) ++out->length;
  rc = sqli_value_to_item(&v, out);
  if (widen) --out->length;
  return rc < 0 ? rc : 0;
}

// A whole nested collection or row into an output collection variable.
int32_t DeliverWhole(const SqliCollection* src, int field, const char* data, SqliValueItem* out) {
  auto* dst = reinterpret_cast<SqliCollection*>(out->data);
  if (dst == nullptr) return -1814;
  if (dst->cl_svr_typeinfo == nullptr) {
    CollTypeInfo* derived = nullptr;
    int rc = zel_coll_subtypeinfo(src, &derived, field);
    if (rc != 0) return rc;
    if (dst->cl_typeinfo != nullptr) {
      // The program's own description stays; the derived one serves as the
      // server's.
      dst->cl_svr_typeinfo = derived;
    } else {
      zel_coll_free(dst);
      CollTypeInfo* client = nullptr;
      if (src->cl_typed) {
        client = coll_typeinfo_alloc(derived->ti_count);
        if (client == nullptr) {
          std::free(derived);
          return -406;
        }
        std::memcpy(client, derived, COLL_TYPEINFO_SIZE(derived->ti_count));
      }
      zel_coll_init(dst, derived, 0, nullptr, 0);
      dst->cl_typed = src->cl_typed;
      dst->cl_typeinfo = client;
      dst->cl_flags |= COLL_OWNS_TYPEINFO;
    }
  }
  int rc = zel_coll_put_col(dst, data);
  if (rc != 0) return rc;
  // The nested value's data belongs to the source: the output takes a copy.
  if (dst->cl_data != nullptr && (dst->cl_flags & COLL_OWNS_DATA) == 0 && dst->cl_datalen > 0) {
    char* copy = static_cast<char*>(std::malloc(static_cast<size_t>(dst->cl_datalen) + 8));
    if (copy == nullptr) return -406;
    std::memcpy(copy, dst->cl_data, static_cast<size_t>(dst->cl_datalen));
    dst->cl_data = copy;
    dst->cl_flags |= COLL_OWNS_DATA;
  }
  StoreIndicator(out, (dst->cl_flags & COLL_ISNULL) ? -1 : 0);
  return 0;
}

// The fields of a row value into the outputs, by name list or in order.
int32_t DeliverRow(SqliCollection* row, const std::vector<std::string>& names, int32_t n_out, SqliValueItem* outs,
                   bool from_desc) {
  const CollTypeInfo* info = InForce(row);
  if (info == nullptr) return -1815;
  std::vector<int> fields = RowFields(info, 0);
  std::vector<int> pos;
  if (!names.empty()) {
    if (int32_t rc = MapNames(info, fields, names, &pos); rc != 0) return rc;
    if (static_cast<int32_t>(names.size()) != n_out) return -236;
  }
  CollCursor k;
  if (int rc = zel_coll_curs_attach(row, &k); rc != 0) return rc;
  int32_t rc = 0, filled = 0;
  for (size_t f = 0; f < fields.size() && filled < n_out; ++f) {
    char* data = nullptr;
    int32_t size = 0;
    rc = zel_coll_next(row, &k, &data, &size);
    if (rc != 0) break;
    int target = names.empty() ? static_cast<int>(f) : pos[f];
    if (target < 0) continue;
    const CollTypeEntry& e = info->ti_entry[fields[f]];
    if (IsCollType(e.type & 0xFF)) {
      rc = DeliverWhole(row, static_cast<int>(f) + 1, data, &outs[target]);
    } else {
      rc = DeliverScalar(e, data, size, &outs[target], from_desc);
    }
    if (rc < 0) break;
    rc = 0;
    ++filled;
  }
  zel_coll_curs_detach(row, &k);
  return rc;
}

}  // namespace

TV_BEGIN_C

// Moves the element under a cursor (data, size) into the outputs.
int32_t sqli_coll_fetch_element(SqliCollection* coll, const char* data, int32_t size, const char* names,
                                int32_t n_out, SqliValueItem* outs, int32_t from_desc) {
  const CollTypeInfo* info = InForce(coll);
  if (info == nullptr) return -1815;
  std::vector<std::string> list = Names(names);
  if (info->ti_count < 2) return -1815;
  const CollTypeEntry& e = info->ti_entry[1];
  const int32_t et = e.type & 0xFF;
  const bool out_is_row = n_out > 0 && rtyphosttosql(outs[0].type & 0x7FFF) == SQLROW;
  if (et == SQLROW && !out_is_row) {
    // A row element: opened as a row of its own, its fields to the outputs.
    CollTypeInfo* sub = nullptr;
    int rc = zel_coll_subtypeinfo(coll, &sub, 0);
    if (rc != 0) return rc;
    SqliCollection tmp;
    zel_coll_init(&tmp, sub, coll->cl_typed, nullptr, 0);
    if (coll->cl_typed) tmp.cl_typeinfo = sub;
    else tmp.cl_svr_typeinfo = sub;
    rc = zel_coll_put_col(&tmp, data);
    if (rc == 0) rc = DeliverRow(&tmp, list, n_out, outs, from_desc != 0);
    zel_coll_free(&tmp);
    std::free(sub);
    return rc;
  }
  if (n_out < 1) return 0;
  if (IsCollType(et)) return DeliverWhole(coll, 0, data, &outs[0]);
  return DeliverScalar(e, data, size, &outs[0], from_desc != 0);
}

// One field (1-based number field) of a row value into one output.
int32_t sqli_coll_fetch_field(SqliCollection* row, int32_t field, const char* data, int32_t size, SqliValueItem* out,
                              int32_t from_desc) {
  const CollTypeInfo* info = InForce(row);
  if (info == nullptr) return -1815;
  std::vector<int> fields = RowFields(info, 0);
  if (field < 1 || field > static_cast<int32_t>(fields.size())) return -1816;
  const CollTypeEntry& e = info->ti_entry[fields[static_cast<size_t>(field - 1)]];
  if (IsCollType(e.type & 0xFF)) return DeliverWhole(row, field, data, out);
  return DeliverScalar(e, data, size, out, from_desc != 0);
}

int32_t sqli_coll_slct(SqliValueItem* variable, int32_t n_out, SqliValueItem* outs, const char* names) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  if (sqli_sqlca_reset(rt) != 0) return sqlca.sqlcode;
  sqlca.sqlerrd[2] = 0;
  if (variable == nullptr) return Fail(-1817);
  const int32_t t = rtyphosttosql(variable->type & 0x7FFF);
  if (!(t == SQLCOLLECTION || t == SQLROW || (t >= SQLSET && t <= SQLLIST))) return Fail(-1817);
  auto* coll = reinterpret_cast<SqliCollection*>(variable->data);
  if (coll == nullptr) return Fail(-1814);
  const CollTypeInfo* info = InForce(coll);
  if (info == nullptr) return Fail(-1815);
  if (IsRowInfo(info)) {
    int32_t rc = DeliverRow(coll, Names(names), n_out, outs, false);
    if (rc < 0) return Fail(rc);
    sqli_diag_update(rt);
    return sqlca.sqlcode;
  }
  CollCursor k;
  if (int rc = zel_coll_curs_attach(coll, &k); rc != 0) return Fail(rc);
  char* data = nullptr;
  int32_t size = 0;
  int32_t rc = zel_coll_next(coll, &k, &data, &size);
  if (rc == 100) {
    sqlca.sqlcode = 100;
  } else if (rc != 0) {
    _iqseterr(rc);
  } else {
    rc = sqli_coll_fetch_element(coll, data, size, names, n_out, outs, 0);
    if (rc < 0) {
      _iqseterr(rc);
    } else {
      data = nullptr;
      int32_t more = zel_coll_next(coll, &k, &data, &size);
      if (more == 0) _iqseterr(-284);
      else if (more != 100) _iqseterr(more);
    }
  }
  zel_coll_curs_detach(coll, &k);
  if (sqlca.sqlcode == 0) sqli_diag_update(rt);
  return sqlca.sqlcode;
}

TV_END_C
