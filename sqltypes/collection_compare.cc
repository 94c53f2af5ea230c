// Equality of two collections and the duplicate search of SET inserts.
//
// LISTs and ROWs compare element by element in order. SETs and MULTISETs
// sort both element lists by a hash and compare them position by
// position; when two elements of one value share a hash but differ (a
// collision), or the hash cannot tell values apart (NCHAR, NVARCHAR, UDTs
// that ask for it), every element instead looks for an equal, unmatched
// element of the other value.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "base/fields.h"
#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "sqltypes/value_stored.h"

namespace {

struct Elem {
  const char* data;
  int32_t len;
  const CollTypeEntry* type;
  uint32_t hash;
};

bool IsDecimalLike(int t) {
  return t == SQLDECIMAL || t == SQLMONEY || t == SQLDTIME || t == SQLINTERVAL;
}

bool NeverEqual(int t) { return t == SQLUDTVAR || t == SQLUDTFIXED || t == SQLLVARCHAR || t == SQLBOOL; }

// All elements of a collection with their types; 0 or an error.
int Elements(SqliCollection* c, std::vector<Elem>* out) {
  CollCursor k;
  if (int rc = zel_coll_curs_attach(c, &k); rc != 0) return rc;
  const CollTypeInfo* info = coll_info(c);
  const bool row = coll_is_row(info);
  int rc;
  for (;;) {
    char* p = nullptr;
    int32_t n = 0;
    rc = zel_coll_next(c, &k, &p, &n);
    if (rc != 0) break;
    const CollTypeEntry* e = row ? coll_row_field(info, k.cc_pos) : coll_elem_entry(info);
    if (e != nullptr && coll_is_colltype(e->type & 0xFF) && !coll_inline_form(p, n)) {
      rc = -9986;
      break;
    }
    out->push_back({p, n, e, 0});
  }
  zel_coll_curs_detach(c, &k);
  return rc == 100 ? 0 : rc;
}

int LoadValue(const Elem& e, SqlValue* v) {
  memset(v, 0, sizeof *v);
  const int t = e.type->type & 0xFF;
  v->v_type = static_cast<uint16_t>(t);
  if (!coll_elem_fits(t, e.type->length, e.data, e.len)) return -9986;
  const int len = IsDecimalLike(t) ? static_cast<uint16_t>(e.type->length) : e.len;
  if (t == SQLVCHAR || t == SQLNVCHAR) return rdataval(e.data, t, 0, v);
  return rdataval(e.data, t, len, v);
}

int CompareNested(const CollTypeInfo* info, int field, int typed, const char* a, const char* b,
                  CollCompareFn cmp, int* equal);

// *equal 1 when the two elements are equal; 0 or an error.
int ElemEqual(const CollTypeInfo* info, int field, int typed, const Elem& a, const Elem& b,
              CollCompareFn cmp, void* arg, int* equal) {
  *equal = 0;
  const int t = a.type->type & 0xFF;
  if (coll_is_colltype(t)) return CompareNested(info, field, typed, a.data, b.data, cmp, equal);
  if (NeverEqual(t)) return 0;
  SqlValue l, r, res;
  if (int rc = LoadValue(a, &l); rc != 0) return rc;
  if (int rc = LoadValue(b, &r); rc != 0) return rc;
  memset(&res, 0, sizeof res);
  if (int rc = cmp(46, &l, &r, arg, &res); rc != 0) return rc;
  *equal = res.v_ind >= 0 && res.v.i4 != 0;
  return 0;
}

// Opens a packed nested value as a temporary record over `sub`.
int OpenNested(CollTypeInfo* sub, int typed, const char* packed, SqliCollection* rec) {
  zel_coll_init(rec, sub, typed, nullptr, 0);
  return zel_coll_put_col(rec, packed);
}

int CompareNested(const CollTypeInfo* info, int field, int typed, const char* a, const char* b,
                  CollCompareFn cmp, int* equal) {
  *equal = 0;
  int rc;
  CollTypeInfo* sub = coll_subinfo(info, field, &rc);
  if (sub == nullptr) return rc;
  SqliCollection x, y;
  rc = OpenNested(sub, typed, a, &x);
  if (rc == 0) rc = OpenNested(sub, typed, b, &y);
  else zel_coll_init(&y, sub, typed, nullptr, 0);
  if (rc == 0) {
    const bool xn = (x.cl_flags & COLL_ISNULL) != 0, yn = (y.cl_flags & COLL_ISNULL) != 0;
    if (xn || yn) {
      *equal = xn && yn;
    } else {
      int isnull = 0;
      rc = zel_coll_equal(&x, &y, cmp, &isnull);
      if (rc == 0) *equal = 1;
      else if (rc == -1) rc = 0;
    }
  }
  zel_coll_free(&x);
  zel_coll_free(&y);
  free(sub);
  return rc;
}

uint32_t SetHash(const Elem& e) {
  const int t = e.type->type & 0xFF;
  if (coll_is_colltype(t)) return coll_elem_hash(t, e.data, e.len);
  switch (t) {
    case SQLNCHAR: case SQLNVCHAR: return 0;
    case SQLCHAR: case SQLVCHAR: case SQLLVARCHAR: {
      SqlValue v;
      if (LoadValue(e, &v) != 0 || v.v_ind < 0 || v.v.text.ptr == nullptr) return 0;
      return coll_string_hash(v.v.text.ptr, bylengnb(v.v.text.ptr, v.v.text.len));
    }
    case SQLUDTVAR: case SQLUDTFIXED:
      if (e.len > 0 && (e.data[0] & 1) != 0) return 0;
      return coll_fold(e.data, e.len);
    default:
      return coll_fold(e.data, e.len);
  }
}

int DefaultCompare(int op, SqlValue* l, SqlValue* r, void*, SqlValue* result) {
  return rvalcompare(op, l, r, result);
}

}  // namespace

TV_EXTERN_C TV_API int zel_coll_equal(SqliCollection* a, SqliCollection* b, CollCompareFn cmp,
                                      int* isnull) {
  if (cmp == nullptr) cmp = DefaultCompare;
  *isnull = 0;
  auto null = [](const SqliCollection* c) {
    return c == nullptr || c->cl_magic != COLL_MAGIC || (c->cl_flags & COLL_ISNULL) != 0;
  };
  if (null(a) || null(b)) {
    *isnull = 1;
    return -1;
  }
  const CollTypeInfo* ia = coll_info(a);
  const CollTypeInfo* ib = coll_info(b);
  if (ia == nullptr || ib == nullptr || ia->ti_count == 0 || ia->ti_count != ib->ti_count)
    return -9602;
  for (int i = 0; i < ia->ti_count; i++)
    if ((ia->ti_entry[i].type & 0xFF) != (ib->ti_entry[i].type & 0xFF)) return -9602;
  if (a->cl_cardinality != b->cl_cardinality) return -1;
  const CollTypeEntry* el = coll_elem_entry(ia);
  const int K = el->type & 0xFF;
  const int kind = ia->ti_entry[0].type & 0xFF;
  const bool udt = K == SQLUDTVAR || K == SQLUDTFIXED;
  if (ia->ti_count == 2 && K != SQLCHAR && K != SQLVCHAR && K != SQLNCHAR && K != SQLNVCHAR &&
      !coll_is_colltype(K) && !(udt && ia->ti_entry[1].xid == 1) &&
      !(udt && (ia->ti_entry[0].flags & CT_NOHASH) != 0) && a->cl_hashvalue != b->cl_hashvalue)
    return -1;
  std::vector<Elem> x, y;
  if (int rc = Elements(a, &x); rc != 0) return rc;
  if (int rc = Elements(b, &y); rc != 0) return rc;
  if (x.size() != y.size()) return -1;
  const int typed = a->cl_typed;
  if (kind == SQLROW || kind == SQLLIST) {
    for (size_t i = 0; i < x.size(); i++) {
      if (x[i].type == nullptr || y[i].type == nullptr) return -9969;
      int eq;
      const int field = kind == SQLROW ? static_cast<int>(i) + 1 : 0;
      if (int rc = ElemEqual(ia, field, typed, x[i], y[i], cmp, nullptr, &eq); rc != 0) return rc;
      if (!eq) return -1;
    }
    return 0;
  }
  bool pairwise = K == SQLNCHAR || K == SQLNVCHAR || (udt && (el->flags & CT_NOHASH) != 0);
  if (!pairwise) {
    for (auto* v : {&x, &y}) {
      for (auto& e : *v) e.hash = SetHash(e);
      std::sort(v->begin(), v->end(), [](const Elem& l, const Elem& r) { return l.hash < r.hash; });
      for (size_t i = 1; i < v->size() && !pairwise; i++) {
        if ((*v)[i].hash != (*v)[i - 1].hash) continue;
        int eq;
        if (int rc = ElemEqual(ia, 0, typed, (*v)[i - 1], (*v)[i], cmp, nullptr, &eq); rc != 0)
          return rc;
        if (!eq) pairwise = true;
      }
    }
  }
  if (!pairwise) {
    for (size_t i = 0; i < x.size(); i++) {
      int eq;
      if (int rc = ElemEqual(ia, 0, typed, x[i], y[i], cmp, nullptr, &eq); rc != 0) return rc;
      if (!eq) return -1;
    }
    return 0;
  }
  std::vector<bool> used(y.size(), false);
  for (const Elem& e : x) {
    bool found = false;
    for (size_t j = 0; j < y.size() && !found; j++) {
      if (used[j]) continue;
      int eq;
      if (int rc = ElemEqual(ia, 0, typed, e, y[j], cmp, nullptr, &eq); rc != 0) return rc;
      if (eq) used[j] = found = true;
    }
    if (!found) return -1;
  }
  return 0;
}

TV_EXTERN_C TV_API int zel_coll_find_dup(SqliCollection* set, const char* cand, int32_t len,
                                         int32_t skip, CollCompareFn cmp, void* arg) {
  if (cmp == nullptr) cmp = DefaultCompare;
  if (set == nullptr || set->cl_magic != COLL_MAGIC || (set->cl_flags & COLL_ISNULL) != 0)
    return -1;
  if (set->cl_cardinality == 0) return 0;
  const CollTypeInfo* info = coll_info(set);
  const CollTypeEntry* el = coll_elem_entry(info);
  if (el == nullptr) return -9969;
  const int t = el->type & 0xFF;
  if (coll_is_colltype(t)) {
    if (cand == nullptr || len < 3 || coll_hdr_isnull(cand)) return 0;
  } else if (NeverEqual(t)) {
    return 0;
  }
  std::vector<Elem> all;
  if (int rc = Elements(set, &all); rc != 0) return rc;
  const Elem c{cand, len, el, 0};
  for (size_t i = 0; i < all.size(); i++) {
    if (static_cast<int32_t>(i) + 1 == skip) continue;
    int eq;
    if (int rc = ElemEqual(info, 0, set->cl_typed, c, all[i], cmp, arg, &eq); rc != 0) return rc;
    if (eq) return -9874;
  }
  return 0;
}
