// INT8 values: stored form, conversions and arithmetic (through BIGINT).
#include "sqltypes/int8.h"

#include <math.h>
#include <string.h>

#include "sqltypes/bigint.h"
#include "sqltypes/decimal_text.h"

namespace {

void SetNull(Int8Value* v) { v->low = v->high = 0, v->sign = 0; }

bool AllFF(const void* p, size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; i++)
    if (b[i] != 0xFF) return false;
  return true;
}

template <typename Op>
int Arith(const Int8Value* a, const Int8Value* b, Int8Value* out, Op op) {
  if (a->sign == 0 || b->sign == 0) {
    SetNull(out);
    return 0;
  }
  int64_t x = 0, y = 0, r = 0;
  if (int rc = bigintcvzel_int8(a, &x); rc != 0) return rc;
  if (int rc = bigintcvzel_int8(b, &y); rc != 0) return rc;
  if (int rc = op(x, y, &r); rc != 0) return rc;
  return biginttozel_int8(r, out);
}

}  // namespace

TV_EXTERN_C TV_API void ldint8(const void* stored, Int8Value* out) {
  const unsigned char* b = static_cast<const unsigned char*>(stored);
  out->sign = static_cast<int16_t>(b[0] << 8 | b[1]);
  out->low = static_cast<uint32_t>(b[2]) << 24 | b[3] << 16 | b[4] << 8 | b[5];
  out->high = static_cast<uint32_t>(b[6]) << 24 | b[7] << 16 | b[8] << 8 | b[9];
}

TV_EXTERN_C TV_API void stint8(const Int8Value* v, void* stored) {
  unsigned char* b = static_cast<unsigned char*>(stored);
  const uint16_t s = static_cast<uint16_t>(v->sign);
  b[0] = static_cast<unsigned char>(s >> 8);
  b[1] = static_cast<unsigned char>(s);
  for (int i = 0; i < 4; i++) {
    b[2 + i] = static_cast<unsigned char>(v->low >> (24 - 8 * i));
    b[6 + i] = static_cast<unsigned char>(v->high >> (24 - 8 * i));
  }
}

TV_EXTERN_C TV_API int bigintcvzel_int8(const Int8Value* v, int64_t* out) {
  if (v->sign == 0) {
    *out = BIGINT_NULL;
    return 0;
  }
  if (v->high >= 0x80000000u) return -1284;
  const int64_t m = static_cast<int64_t>(static_cast<uint64_t>(v->high) << 32 | v->low);
  *out = v->sign == -1 ? -m : m;
  return 0;
}

TV_EXTERN_C TV_API int biginttozel_int8(int64_t v, Int8Value* out) {
  if (v == BIGINT_NULL) {
    SetNull(out);
    return 0;
  }
  const uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  out->low = static_cast<uint32_t>(m);
  out->high = static_cast<uint32_t>(m >> 32);
  out->sign = v < 0 ? -1 : 1;
  return 0;
}

TV_EXTERN_C TV_API void zel_int8copy(const Int8Value* s, Int8Value* d) { *d = *s; }

TV_EXTERN_C TV_API int zel_int8add(const Int8Value* a, const Int8Value* b, Int8Value* out) {
  return Arith(a, b, out, [](int64_t x, int64_t y, int64_t* r) {
    const int64_t s = static_cast<int64_t>(static_cast<uint64_t>(x) + static_cast<uint64_t>(y));
    if (((x < 0) == (y < 0) && (s < 0) != (x < 0)) || s == BIGINT_NULL) return -1284;
    *r = s;
    return 0;
  });
}

TV_EXTERN_C TV_API int zel_int8sub(const Int8Value* a, const Int8Value* b, Int8Value* out) {
  return Arith(a, b, out, [](int64_t x, int64_t y, int64_t* r) {
    const int64_t s = static_cast<int64_t>(static_cast<uint64_t>(x) - static_cast<uint64_t>(y));
    if (((x < 0) != (y < 0) && (s < 0) != (x < 0)) || s == BIGINT_NULL) return -1284;
    *r = s;
    return 0;
  });
}

TV_EXTERN_C TV_API int zel_int8mul(const Int8Value* a, const Int8Value* b, Int8Value* out) {
  return Arith(a, b, out, [](int64_t x, int64_t y, int64_t* r) {
    int64_t p = 0;
    if (__builtin_mul_overflow(x, y, &p) || p == BIGINT_NULL) return -1284;
    *r = p;
    return 0;
  });
}

TV_EXTERN_C TV_API int zel_int8div(const Int8Value* a, const Int8Value* b, Int8Value* out) {
  if (a->sign != 0 && b->sign != 0 && b->low == 0 && b->high == 0) return -1202;
  return Arith(a, b, out, [](int64_t x, int64_t y, int64_t* r) {
    *r = x / y;
    return 0;
  });
}

TV_EXTERN_C TV_API int zel_int8cmp(const Int8Value* a, const Int8Value* b) {
  if (a->sign == 0 || b->sign == 0) return -2;
  // Zero may carry either sign: compare it as positive.
  const int sa = a->low == 0 && a->high == 0 ? 1 : a->sign;
  const int sb = b->low == 0 && b->high == 0 ? 1 : b->sign;
  if (sa != sb) return sa < sb ? -1 : 1;
  int c = 0;
  if (a->high != b->high) c = a->high < b->high ? -1 : 1;
  else if (a->low != b->low) c = a->low < b->low ? -1 : 1;
  return sa < 0 ? -c : c;
}

TV_EXTERN_C TV_API int zel_int8cvlong(int32_t value, Int8Value* out) {
  return biginttozel_int8(value == INT32_MIN ? BIGINT_NULL : value, out);
}

TV_EXTERN_C TV_API int zel_int8cvint(int value, Int8Value* out) {
  return biginttozel_int8(value == -32768 || value == INT32_MIN ? BIGINT_NULL : value, out);
}

TV_EXTERN_C TV_API int zel_int8toint4(const Int8Value* v, int32_t* out) {
  if (v->sign == 0) {
    *out = INT32_MIN;
    return 0;
  }
  if (v->high != 0 || v->low >= 0x80000000u) return -1284;
  *out = v->sign == -1 ? -static_cast<int32_t>(v->low) : static_cast<int32_t>(v->low);
  return 0;
}

TV_EXTERN_C TV_API int zel_int8tolong(const Int8Value* v, int32_t* out) { return zel_int8toint4(v, out); }

TV_EXTERN_C TV_API int zel_int8toint(const Int8Value* v, int* out) {
  if (v->sign == 0) {
    *out = -32768;
    return 0;
  }
  if (v->high != 0 || v->low >= 0x80000000u || v->low > 32767) return -1214;
  *out = v->sign == -1 ? -static_cast<int>(v->low) : static_cast<int>(v->low);
  return 0;
}

TV_EXTERN_C TV_API int zel_int8toint2(const Int8Value* v, int16_t* out) {
  int x = 0;
  if (int rc = zel_int8toint(v, &x); rc != 0) return rc;
  *out = static_cast<int16_t>(x);
  return 0;
}

TV_EXTERN_C TV_API int zel_int8cvasc(const char* text, int length, Int8Value* out) {
  int64_t v = 0;
  if (int rc = bigintcvasc(text, length, &v); rc != 0) return rc;
  return biginttozel_int8(v, out);
}

TV_EXTERN_C TV_API int zel_int8cvdec(const Decimal* value, Int8Value* out) {
  if (value->sign == DEC_NULLSIGN) {
    SetNull(out);
    return 0;
  }
  int64_t v = 0;
  if (int rc = bigintcvdec(value, &v); rc != 0) return rc;
  return biginttozel_int8(v, out);
}

// Magnitudes of 2^31 and more go through the exact decimal digits of the
// double (17 significant digits), truncated toward zero.
TV_EXTERN_C TV_API int zel_int8cvdbl(double value, Int8Value* out) {
  if (AllFF(&value, sizeof value)) {
    SetNull(out);
    return 0;
  }
  if (!isfinite(value)) return -1223;
  if (fabs(value) < 2147483648.0) {
    out->low = static_cast<uint32_t>(fabs(value));
    out->high = 0;
    out->sign = value >= 0 ? 1 : -1;
    return 0;
  }
  Decimal d;
  if (int rc = deccvdbl(value, &d); rc != 0) return rc;
  return zel_int8cvdec(&d, out);
}

TV_EXTERN_C TV_API int zel_int8cvflt(double value, Int8Value* out) {
  const float f = static_cast<float>(value);
  if (AllFF(&f, sizeof f)) {
    SetNull(out);
    return 0;
  }
  return zel_int8cvdbl(value, out);
}

TV_EXTERN_C TV_API int int8toasc(const Int8Value* v, char* field, int length, int base) {
  int64_t x = 0;
  if (int rc = bigintcvzel_int8(v, &x); rc != 0) return rc;
  const int rc = biginttoasc(x, field, length, base);
  if (rc == 0 && x != BIGINT_NULL && length > 0) {
    // A field of exactly `length` bytes, blank-padded, no terminator.
    const size_t n = strnlen(field, static_cast<size_t>(length));
    memset(field + n, ' ', static_cast<size_t>(length) - n);
  }
  return rc;
}

TV_EXTERN_C TV_API int zel_int8toasc(const Int8Value* v, char* field, int length) {
  return int8toasc(v, field, length, 10);
}

TV_EXTERN_C TV_API int zel_int8tostr(const Int8Value* v, char* buffer, int length) {
  int64_t x = 0;
  if (int rc = bigintcvzel_int8(v, &x); rc != 0) return rc;
  return biginttoasc(x, buffer, length, 10);
}

TV_EXTERN_C TV_API int zel_int8todbl(const Int8Value* v, double* out) {
  if (v->sign == 0) {
    memset(out, 0xFF, sizeof *out);
    return 0;
  }
  if (v->high == 0 && v->low < 0x80000000u) {
    *out = v->sign == -1 ? -static_cast<double>(v->low) : static_cast<double>(v->low);
    return 0;
  }
  int64_t x = 0;
  if (int rc = bigintcvzel_int8(v, &x); rc != 0) return rc;
  char text[26];
  if (int rc = biginttoasc(x, text, 25, 10); rc != 0) return rc;
  return rstod(text, out);
}

TV_EXTERN_C TV_API int zel_int8toflt(const Int8Value* v, float* out) {
  if (v->sign == 0) {
    memset(out, 0xFF, sizeof *out);
    return 0;
  }
  double d = 0;
  if (zel_int8todbl(v, &d) != 0) return -1222;
  *out = static_cast<float>(d);
  return 0;
}

TV_EXTERN_C TV_API int deccvint8(const Int8Value* v, Decimal* out) {
  if (v->sign == 0) {
    decsetnull(out);
    return 0;
  }
  int64_t x = 0;
  if (int rc = bigintcvzel_int8(v, &x); rc != 0) return rc;
  return biginttodec(x, out);
}

TV_EXTERN_C TV_API int zel_int8todec(const Int8Value* v, Decimal* out) { return deccvint8(v, out); }

TV_EXTERN_C TV_API int64_t zel_int8tobigint(const Int8Value* v) {
  const uint64_t m = static_cast<uint64_t>(v->high) << 32 | v->low;
  return v->sign == -1 ? static_cast<int64_t>(0 - m) : static_cast<int64_t>(m);
}

TV_EXTERN_C TV_API int zel_int8cvbigint(int64_t value, Int8Value* out) {
  return biginttozel_int8(value, out);
}
