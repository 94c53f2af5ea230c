// Relational comparison of two SqlValues of any SQL types (rvalcompare).
//
// Each type has a comparison class bit; the first rule of the table in
// Compare() that the two classes meet chooses how both sides are
// converted and compared.
#include <math.h>

#include "base/fields.h"
#include "base/thread_state.h"
#include "sqltypes/bigint.h"
#include "sqltypes/charcollcmp.h"
#include "sqltypes/sqlvalue_internal.h"

namespace {

enum : unsigned {
  kChar = 0x1, kSmallint = 0x2, kInteger = 0x4, kFloat = 0x8, kMoney = 0x10, kDate = 0x20,
  kDecimal = 0x40, kDatetime = 0x80, kInterval = 0x100, kSmallFloat = 0x200, kNchar = 0x400,
  kInt8 = 0x800, kBigint = 0x1000,
};

unsigned ClassOf(const SqlValue* v) {
  switch (v->v_type & 0xFF) {
    case SQLCHAR: case SQLVCHAR: return kChar;
    case SQLSMINT: return kSmallint;
    case SQLINT: case SQLSERIAL: return kInteger;
    case SQLFLOAT: return kFloat;
    case SQLSMFLOAT: return kFloat | kSmallFloat;
    case SQLMONEY: return kMoney;
    case SQLDATE: return kDate;
    case SQLDECIMAL: return kDecimal;
    case SQLDTIME: return kDatetime;
    case SQLINTERVAL: return kInterval;
    case SQLNCHAR: case SQLNVCHAR: return kNchar;
    case SQLINT8: case SQLSERIAL8: return kInt8;
    case SQLBIGINT: case SQLBIGSERIAL: return kBigint;
    default: return 0;
  }
}

template <typename T>
int Order(T a, T b) { return a < b ? -1 : a > b ? 1 : 0; }

// Doubles and floats; when either is NaN the left side counts as smaller.
template <typename T>
int FloatOrder(T a, T b) {
  if (isnan(a) || isnan(b)) return -1;
  return Order(a, b);
}

constexpr int kCollFalse = 2;  // the collation met an invalid character

int AsDatetime(const SqlValue* l, const SqlValue* r, int* c) {
  const int lt = SQLTYPE(l->v_type), rt = SQLTYPE(r->v_type);
  const int q = rtypresult(l->v_len, r->v_len, 46, lt, rt);
  if (q < 0) return rseterror(q);
  // Two DATETIMEs of the common qualifier compare as they stand.
  if (lt == SQLDTIME && rt == SQLDTIME && l->v_len == q && r->v_len == q &&
      dtchkval(&l->v.dec, q) == 0 && dtchkval(&r->v.dec, q) == 0) {
    *c = deccmp(&l->v.dec, &r->v.dec);
    return 0;
  }
  DateTimeValue a, b;
  if (int rc = rvaltodt(l, &a, q); rc != 0) return rc;
  if (int rc = rvaltodt(r, &b, q); rc != 0) return rc;
  *c = deccmp(&a.dt_dec, &b.dt_dec);
  return 0;
}

int AsInterval(const SqlValue* l, const SqlValue* r, int* c) {
  const int q = rtypresult(l->v_len, r->v_len, 46, SQLTYPE(l->v_type), SQLTYPE(r->v_type));
  if (q < 0) return rseterror(q);
  // Year-month units on one end and day-time units on the other cannot
  // be compared.
  if (TU_START(q) <= TU_MONTH && TU_END(q) >= TU_DAY) return rseterror(-1266);
  IntervalValue a, b;
  if (int rc = rvaltoinv(l, &a, q); rc != 0) return rc;
  if (int rc = rvaltoinv(r, &b, q); rc != 0) return rc;
  *c = deccmp(&a.in_dec, &b.in_dec);
  return 0;
}

// The outcome c (-1, 0, 1; kCollFalse) of comparing the two values, or a
// negative code.
int Compare(SqlValue* l, SqlValue* r, int* c) {
  const unsigned a = ClassOf(l), b = ClassOf(r), both = a | b;
  if ((a & kChar) && (b & kChar)) {
    *c = bycmprpad(l->v.text.ptr, l->v.text.len, r->v.text.ptr, r->v.text.len);
    return 0;
  }
  if (((a & kNchar) && (b & kNchar)) || both == (kChar | kNchar)) {
    int32_t status = 0;
    *c = rcharcollcmp(sqlv_locale(), l->v.text.ptr, l->v.text.len, r->v.text.ptr,
                      r->v.text.len, &status);
    if (status == RCOLL_EBADCHAR) *c = kCollFalse;
    else if (status != 0) return rseterror(status);
    return 0;
  }
  if (both & kFloat) {
    double x = 0, y = 0;
    if (int rc = rvaltodbl(l, &x); rc != 0) return rc;
    if (int rc = rvaltodbl(r, &y); rc != 0) return rc;
    *c = (both & kSmallFloat) ? FloatOrder(static_cast<float>(x), static_cast<float>(y))
                              : FloatOrder(x, y);
    return 0;
  }
  if (both & kDatetime) return AsDatetime(l, r, c);
  if (both & kMoney) {
    Decimal x, y;
    if (int rc = rvaltomon(l, &x); rc != 0) return rc;
    if (int rc = rvaltomon(r, &y); rc != 0) return rc;
    *c = deccmp(&x, &y);
    return 0;
  }
  if (both & kInterval) {
    if (both & kDate) return AsDatetime(l, r, c);
    return AsInterval(l, r, c);
  }
  if (both & kDate) {
    int32_t x = 0, y = 0;
    if (int rc = rvaltodate(l, &x, nullptr); rc != 0) return rc;
    if (int rc = rvaltodate(r, &y, nullptr); rc != 0) return rc;
    *c = Order(x, y);
    return 0;
  }
  if (both & (kChar | kDecimal | kNchar)) {
    Decimal x, y;
    if (int rc = rvaltodec(l, &x); rc != 0) return rc;
    if (int rc = rvaltodec(r, &y); rc != 0) return rc;
    *c = deccmp(&x, &y);
    return 0;
  }
  if (both & kBigint) {
    int64_t x = 0, y = 0;
    if (int rc = rvaltobigint(l, &x); rc != 0) return rc;
    if (int rc = rvaltobigint(r, &y); rc != 0) return rc;
    *c = Order(x, y);
    return 0;
  }
  if (both & kInt8) {
    Int8Value x, y;
    if (int rc = rvaltoint8(l, &x); rc != 0) return rc;
    if (int rc = rvaltoint8(r, &y); rc != 0) return rc;
    *c = zel_int8cmp(&x, &y);
    return 0;
  }
  if (both & kInteger) {
    int32_t x = 0, y = 0;
    if (int rc = rvaltoint4(l, &x); rc != 0) return rc;
    if (int rc = rvaltoint4(r, &y); rc != 0) return rc;
    *c = Order(x, y);
    return 0;
  }
  int16_t x = 0, y = 0;
  if (int rc = rvaltoint2(l, &x); rc != 0) return rc;
  if (int rc = rvaltoint2(r, &y); rc != 0) return rc;
  *c = Order(x, y);
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int rvalcompare(int op, SqlValue* l, SqlValue* r, SqlValue* result) {
  if (op == 52 || op == 53 || op == 56 || op == 57) return rvalmatch(op, l, r, result);
  if (result != l && result != r) sqlv_setbool(result, 0);
  rseterror(0);
  if (sqlv_isnull(l) || sqlv_isnull(r)) {
    sqlv_setnullbool(result);
    return 0;
  }
  int c = 0;
  if (int rc = Compare(l, r, &c); rc != 0) return rseterror(rc);
  bool t;
  if (c == kCollFalse) {
    t = false;
  } else {
    c = c < 0 ? -1 : c > 0 ? 1 : 0;
    switch (op) {
      case 46: t = c == 0; break;
      case 47: t = c != 0; break;
      case 48: t = c <= 0; break;
      case 49: t = c < 0; break;
      case 50: t = c >= 0; break;
      case 51: t = c > 0; break;
      default: t = c != 0; break;
    }
  }
  sqlv_setbool(result, t ? 1 : 0);
  return 0;
}
