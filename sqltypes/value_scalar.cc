// Conversions of an SqlValue into each scalar form. Each clears the status
// word, leaves its failure there and returns it.
#include <ctype.h>
#include <math.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <new>

#include "base/thread_state.h"
#include "sqltypes/bigint.h"
#include "sqltypes/date.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"
#include "sqltypes/sqlvalue_internal.h"

namespace {

int Fail(int rc) { return rseterror(rc); }

// What a scalar conversion does with a value of this type.
enum Kind { kNull, kInt16, kInt32, kBigint, kInt8, kFloat, kSmallFloat, kDec, kText, kLob,
            kNoConv, kDate, kDatetime, kInterval, kOther };

Kind KindOf(const SqlValue* v) {
  if (sqlv_isnull(v)) return kNull;
  switch (sqlv_type(v)) {
    case SQLSMINT: return kInt16;
    case SQLINT: case SQLSERIAL: return kInt32;
    case SQLDATE: return kDate;
    case SQLBIGINT: case SQLBIGSERIAL: return kBigint;
    case SQLINT8: case SQLSERIAL8: return kInt8;
    case SQLFLOAT: return kFloat;
    case SQLSMFLOAT: return kSmallFloat;
    case SQLDECIMAL: case SQLMONEY: return kDec;
    case SQLCHAR: case SQLNCHAR: case SQLVCHAR: case SQLNVCHAR: case SQLLVARCHAR: return kText;
    case SQLBYTES: case SQLTEXT: return kLob;
    case SQLUDTVAR: case SQLUDTFIXED: case SQLBOOL: return kNoConv;
    case SQLDTIME: return kDatetime;
    case SQLINTERVAL: return kInterval;
    default: return kOther;
  }
}

}  // namespace

bool sqlv_istext(int t) {
  return t == SQLCHAR || t == SQLNCHAR || t == SQLVCHAR || t == SQLNVCHAR || t == SQLLVARCHAR;
}

void sqlv_setbool(SqlValue* r, int b) {
  r->v_type = SQLSMINT;
  r->v_ind = 0;
  r->v_len = 0x0500;
  r->v.i4 = b;
}

void sqlv_setnullbool(SqlValue* r) {
  sqlv_setbool(r, 0);
  r->v_ind = -1;
}

int SqlText::Take(const SqlValue* v) {
  const char* p = v->v.text.ptr;
  len_ = p == nullptr || v->v.text.len < 0 ? 0 : v->v.text.len;
  missing_ = p == nullptr;
  if (len_ < static_cast<int32_t>(sizeof small_)) {
    text_ = small_;
  } else {
    big_.reset(new (std::nothrow) char[static_cast<size_t>(len_) + 1]);
    if (big_ == nullptr) return -406;
    text_ = big_.get();
  }
  if (len_ > 0) memcpy(text_, p, static_cast<size_t>(len_));
  text_[len_] = '\0';
  return 0;
}

int32_t SqlText::TrimmedLength() const {
  int32_t n = len_;
  while (n > 0 && text_[n - 1] == ' ') n--;
  return n;
}

TV_EXTERN_C TV_API int rdblfinite(double value) { return isfinite(value) ? 1 : 0; }

TV_EXTERN_C TV_API int rvaltodec(const SqlValue* v, Decimal* out) {
  rseterror(0);
  switch (KindOf(v)) {
    case kNull: decsetnull(out); return 0;
    case kInt16: return Fail(deccvint(v->v.i4, out));
    case kInt32: case kDate: return Fail(deccvlong(v->v.i4, out));
    case kBigint: return Fail(biginttodec(v->v.i8, out));
    case kInt8: return Fail(deccvint8(&v->v.int8, out));
    case kFloat: return Fail(deccvdbl(v->v.f8, out));
    case kSmallFloat: return Fail(deccvflt(v->v.f4, out));
    case kDec: deccopy(&v->v.dec, out); return 0;
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      if (t.missing()) {
        decsetnull(out);
        return 0;
      }
      // deccvasc can answer a positive locale error number: any non-zero
      // result is a text that is not a number.
      if (deccvasc(t.text(), t.length(), out) != 0) return Fail(-1213);
      return 0;
    }
    case kLob: decsetnull(out); return Fail(-608);
    default: decsetnull(out); return Fail(-1260);
  }
}

TV_EXTERN_C TV_API int rvaltomon(const SqlValue* v, Decimal* out) {
  if (KindOf(v) != kText) return rvaltodec(v, out);
  rseterror(0);
  SqlText t;
  if (int rc = t.Take(v); rc != 0) return Fail(rc);
  if (t.missing()) {
    decsetnull(out);
    return 0;
  }
  // A money text (its first 80 characters) loses its symbols and money
  // separators before it is read as a number.
  constexpr int kMoneyText = 80;
  char plain[4 * kMoneyText + 1];
  rmondec(t.text(), t.length() < kMoneyText ? t.length() : kMoneyText, plain);
  if (deccvasc(plain, static_cast<int>(strlen(plain)), out) != 0) return Fail(-1213);
  return 0;
}

TV_EXTERN_C TV_API int rvaltoint4(const SqlValue* v, int32_t* out) {
  rseterror(0);
  *out = INT32_MIN;
  switch (KindOf(v)) {
    case kNull: return 0;
    case kInt16: *out = v->v.i4; return 0;
    case kInt32: case kDate:
      if (v->v.i4 == INT32_MIN) return Fail(-1215);
      *out = v->v.i4;
      return 0;
    case kBigint:
      if (v->v.i8 < -INT32_MAX || v->v.i8 > INT32_MAX) return Fail(-1215);
      *out = static_cast<int32_t>(v->v.i8);
      return 0;
    case kInt8:
      if (zel_int8toint4(&v->v.int8, out) != 0) {
        *out = INT32_MIN;
        return Fail(-1215);
      }
      return 0;
    case kLob: return Fail(-608);
    case kNoConv: return Fail(-1260);
    default: {
      Decimal d;
      if (int rc = rvaltodec(v, &d); rc != 0) return rc;
      if (d.sign == DEC_NULLSIGN) return 0;
      if (dectolong(&d, out) != 0) {
        *out = INT32_MIN;
        return Fail(-1215);
      }
      return 0;
    }
  }
}

TV_EXTERN_C TV_API int rvaltoint2(const SqlValue* v, int16_t* out) {
  rseterror(0);
  *out = INT16_MIN;
  if (KindOf(v) == kInt16) {
    if (v->v.i4 < -32767 || v->v.i4 > 32767) return Fail(-1214);
    *out = static_cast<int16_t>(v->v.i4);
    return 0;
  }
  int32_t x = 0;
  if (int rc = rvaltoint4(v, &x); rc != 0) return rc;
  if (x == INT32_MIN) return 0;
  if (x < -32767 || x > 32767) return Fail(-1214);
  *out = static_cast<int16_t>(x);
  return 0;
}

TV_EXTERN_C TV_API int rvaltobigint(const SqlValue* v, int64_t* out) {
  rseterror(0);
  *out = BIGINT_NULL;
  switch (KindOf(v)) {
    case kNull: return 0;
    case kInt16: case kInt32: case kDate: *out = v->v.i4; return 0;
    case kBigint: *out = v->v.i8; return 0;
    case kInt8:
      if (bigintcvzel_int8(&v->v.int8, out) != 0) {
        *out = BIGINT_NULL;
        return Fail(-1284);
      }
      return 0;
    case kLob: return Fail(-608);
    case kNoConv: return Fail(-1260);
    default: {
      Decimal d;
      if (int rc = rvaltodec(v, &d); rc != 0) return rc;
      if (d.sign == DEC_NULLSIGN) return 0;
      if (bigintcvdec(&d, out) != 0) {
        *out = BIGINT_NULL;
        return Fail(-1284);
      }
      return 0;
    }
  }
}

TV_EXTERN_C TV_API int rvaltodbl(const SqlValue* v, double* out) {
  rseterror(0);
  memset(out, 0xFF, sizeof *out);
  switch (KindOf(v)) {
    case kNull: return 0;
    case kInt16: case kInt32: case kDate: *out = v->v.i4; return 0;
    case kBigint: *out = static_cast<double>(v->v.i8); return 0;
    case kInt8: return Fail(zel_int8todbl(&v->v.int8, out));
    case kFloat: *out = v->v.f8; return 0;
    case kSmallFloat: *out = v->v.f4; return 0;
    case kDec: return Fail(dectodbl(&v->v.dec, out));
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      return Fail(rstod(t.text(), out));
    }
    case kLob: return Fail(-608);
    default: return Fail(-1260);
  }
}

TV_EXTERN_C TV_API int rvaltodblblank(const SqlValue* v, double* out, int* blank) {
  *blank = 0;
  bool empty = sqlv_isnull(v);
  if (!empty && KindOf(v) == kText) {
    SqlText t;
    if (int rc = t.Take(v); rc != 0) return Fail(rc);
    empty = t.TrimmedLength() == 0;
  }
  if (empty) {
    rseterror(0);
    *blank = 1;
    *out = 0.0;
    return 0;
  }
  return rvaltodbl(v, out);
}

TV_EXTERN_C TV_API int rvaltoint8(const SqlValue* v, Int8Value* out) {
  rseterror(0);
  const Int8Value null_value{0, 0, 0};
  *out = null_value;
  switch (KindOf(v)) {
    case kNull: return 0;
    case kInt16: return Fail(zel_int8cvint(v->v.i4, out));
    case kInt32: case kDate: return Fail(zel_int8cvlong(v->v.i4, out));
    case kBigint: return Fail(biginttozel_int8(v->v.i8, out));
    case kInt8: *out = v->v.int8; return 0;
    case kFloat: return Fail(zel_int8cvdbl(v->v.f8, out));
    case kSmallFloat: return Fail(zel_int8cvflt(v->v.f4, out));
    case kDec: return Fail(zel_int8cvdec(&v->v.dec, out));
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      return Fail(zel_int8cvasc(t.text(), t.length(), out));
    }
    case kLob: return Fail(-608);
    default: return Fail(-1260);
  }
}

TV_EXTERN_C TV_API int rvaltodate(const SqlValue* v, int32_t* out, const char* format) {
  rseterror(0);
  *out = DATE_NULL;
  int32_t d = DATE_NULL;
  switch (KindOf(v)) {
    case kNull: return 0;
    case kLob: return Fail(-608);
    case kNoConv: return Fail(-1260);
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      const int32_t n = t.TrimmedLength();
      const char* s = t.text();
      if (n == 4 && strncasecmp(s, "null", 4) == 0) return 0;
      if (n == 5 && strncasecmp(s, "today", 5) == 0) {
        rtoday(&d);
      } else if (format != nullptr) {
        if (int rc = rstrdbdate(s, &d, format); rc != 0) return Fail(rc);
      } else if (int rc = rstrdate(s, &d); rc != 0) {
        return Fail(rc);
      }
      break;
    }
    case kDatetime:
      if (int rc = dttodate(&v->v.dec, v->v_len, &d); rc != 0) return Fail(rc);
      break;
    case kDate: d = v->v.i4; break;
    default:
      if (int rc = rvaltoint4(v, &d); rc != 0) return rc;
      break;
  }
  if (d != DATE_NULL && (d < DATE_MIN || d > DATE_MAX)) return Fail(-1210);
  *out = d;
  return 0;
}

TV_EXTERN_C TV_API int rvaltobool(const SqlValue* v, unsigned char* out) {
  rseterror(0);
  if (sqlv_isnull(v)) {
    *out = 0xFF;
    return 0;
  }
  const int t = sqlv_type(v);
  if (sqlv_istext(t) && v->v.text.ptr != nullptr) {
    int32_t n = v->v.text.len;
    while (n > 1 && v->v.text.ptr[n - 1] == ' ') n--;
    if (n == 1) {
      const char c = v->v.text.ptr[0];
      if (c == 'T' || c == 't') return *out = 1, 0;
      if (c == 'F' || c == 'f') return *out = 0, 0;
    }
  } else if (t == SQLBOOL && v->v.text.ptr != nullptr) {
    const unsigned char b = static_cast<unsigned char>(v->v.text.ptr[0]);
    if (b <= 1) return *out = b, 0;
  }
  return Fail(-1260);
}

TV_EXTERN_C TV_API int rvaltodt(const SqlValue* v, DateTimeValue* out, int qual) {
  rseterror(0);
  const int q = qual != 0 ? qual : v->v_len;
  out->dt_qual = static_cast<int16_t>(q);
  decsetnull(&out->dt_dec);
  switch (KindOf(v)) {
    case kNull: return 0;
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      return Fail(dtcvasc(t.text(), out));
    }
    case kDate:
      return Fail(datetodt(v->v.i4, &out->dt_dec, q));
    case kDatetime: {
      if (int rc = dtchkqual(0, v->v_len); rc != 0) return Fail(rc);
      if (int rc = dtchkqual(0, q); rc != 0) return Fail(rc);
      if (int rc = dtchkval(&v->v.dec, v->v_len); rc != 0) return Fail(rc);
      DateTimeValue src;
      src.dt_qual = static_cast<int16_t>(v->v_len);
      src.dt_dec = v->v.dec;
      return Fail(dtextend(&src, out));
    }
    case kLob: return Fail(-608);
    default: return Fail(-1260);
  }
}

TV_EXTERN_C TV_API int rvaltoinv(const SqlValue* v, IntervalValue* out, int qual) {
  rseterror(0);
  const int q = qual != 0 ? qual : v->v_len;
  out->in_qual = static_cast<int16_t>(q);
  decsetnull(&out->in_dec);
  switch (KindOf(v)) {
    case kNull: return 0;
    case kText: {
      SqlText t;
      if (int rc = t.Take(v); rc != 0) return Fail(rc);
      return Fail(incvasc(t.text(), out));
    }
    case kDec:
      if (sqlv_type(v) != SQLDECIMAL) return Fail(-1260);
      out->in_dec = v->v.dec;
      return 0;
    case kInterval: {
      if (int rc = invchkval(&v->v.dec, v->v_len); rc != 0) return Fail(rc);
      IntervalValue src;
      src.in_qual = static_cast<int16_t>(v->v_len);
      src.in_dec = v->v.dec;
      return Fail(invextend(&src, out));
    }
    case kLob: return Fail(-608);
    default: return Fail(-1260);
  }
}

TV_EXTERN_C TV_API int decfitprec(Decimal* value, int precword) {
  if (value->sign == DEC_NULLSIGN || value->ndigits == 0) return 0;
  const int p = (precword >> 8) & 0xFF;
  const int s = precword & 0xFF;
  if (s != 255) {
    int word = decprecword(value);
    if ((word & 0xFF) > s) {
      if (decround(value, s) != 0) return -1;
      word = decdeclprec(value);
    }
    int d = (word >> 8) & 0xFF, e = word & 0xFF;
    if (d < e) d = e;
    return p - s < d - e ? -1 : 0;
  }
  // Floating scale: keep p significant digits. The leading decimal digit
  // stands at 10^lead.
  const int lead = 2 * value->exponent - (value->digits[0] >= 10 ? 1 : 2);
  int last = 2 * (value->exponent - value->ndigits);  // place of the last digit
  if (value->digits[value->ndigits - 1] % 10 == 0) last++;
  if (lead - last + 1 > p) {
    if (decround(value, p - 1 - lead) != 0) return -1;
  }
  return 0;
}
