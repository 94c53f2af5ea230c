// Conversions between Decimal and 16-bit and 32-bit integers.
#include <limits.h>

#include "sqltypes/decimal.h"

TV_EXTERN_C TV_API int deccvlong(int32_t value, Decimal* out) {
  if (value == INT32_MIN) {
    decsetnull(out);
    return 0;
  }
  uint32_t mag = value < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(value))
                           : static_cast<uint32_t>(value);
  uint8_t space[1 + 5] = {};
  uint8_t* d = space + 1;
  int n = 0;
  for (uint32_t m = mag; m != 0; m /= 100) n++;
  for (int i = n - 1; i >= 0; i--, mag /= 100) d[i] = static_cast<uint8_t>(mag % 100);
  return decnorm(out, value >= 0 ? DEC_POS : DEC_NEG, n, d, n);
}

TV_EXTERN_C TV_API int deccvint(int value, Decimal* out) {
  if (value == -32768) {
    decsetnull(out);
    return 0;
  }
  return deccvlong(static_cast<int32_t>(value), out);
}

TV_EXTERN_C TV_API int dectolong(const Decimal* v, int32_t* out) {
  if (v->sign == DEC_NULLSIGN) {
    *out = INT32_MIN;
    return 0;
  }
  if (v->exponent > 5) return -1200;
  if (v->exponent <= 0 || v->ndigits == 0) {
    *out = 0;
    return 0;
  }
  int64_t mag = 0;
  for (int i = 0; i < v->exponent; i++)
    mag = mag * 100 + (i < v->ndigits ? v->digits[i] : 0);
  // The whole value must lie in -2147483647..2147483647: a fraction on top
  // of the largest integer is out of range too.
  if (mag > INT32_MAX || (mag == INT32_MAX && v->ndigits > v->exponent)) return -1200;
  *out = static_cast<int32_t>(v->sign == DEC_NEG ? -mag : mag);
  return 0;
}

TV_EXTERN_C TV_API int dectoint(const Decimal* v, int* out) {
  if (v->sign == DEC_NULLSIGN) {
    *out = -32768;
    return 0;
  }
  int32_t whole;
  int rc = dectolong(v, &whole);
  if (rc != 0) return rc;
  if (whole < -32767 || whole > 32767) return -1200;
  *out = whole;
  return 0;
}
