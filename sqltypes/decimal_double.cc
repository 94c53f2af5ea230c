// Conversions of doubles and floats to Decimal, through a correctly rounded
// decimal digit string (std::to_chars: exact, thread-safe, locale-free).
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "sqltypes/decimal.h"
#include "sqltypes/decimal_env.h"

namespace {

// value as `ndigits` significant decimal digits packed two to a byte.
int FromDouble(double value, int ndigits, Decimal* out) {
  if (ndigits > 17 || ndigits < 1) return -1223;
  uint8_t bytes[sizeof value];
  memcpy(bytes, &value, sizeof value);
  bool all_ff = true;
  for (uint8_t b : bytes) all_ff = all_ff && b == 0xFF;
  if (all_ff) {
    decsetnull(out);
    return 0;
  }
  if (!std::isfinite(value)) return -1223;
  if (value == 0) {
    decsetzero(out);
    return 0;
  }
  // d.ddddde[+-]x: the value is 0.dddddd times 10^(x + 1).
  char text[64];
  auto res = std::to_chars(text, text + sizeof text - 1, value,
                           std::chars_format::scientific, ndigits - 1);
  if (res.ec != std::errc()) return -1223;
  *res.ptr = '\0';
  const char* p = text;
  int sign = DEC_POS;
  if (*p == '-') {
    sign = DEC_NEG;
    p++;
  }
  char digits[24];
  int nd = 0;
  for (; *p && *p != 'e'; p++)
    if (*p >= '0' && *p <= '9' && nd < 20) digits[nd++] = *p;
  if (nd == 0 || *p != 'e') return -1223;
  int e = atoi(p + 1) + 1;
  // Pack two digits a byte; the first byte holds one digit when e is odd,
  // so that the point falls between bytes.
  constexpr int kMaxBytes = 11;
  uint8_t space[1 + kMaxBytes] = {};
  uint8_t* d = space + 1;
  int n = 0, i = 0;
  if (e & 1) d[n++] = static_cast<uint8_t>(digits[i++] - '0');
  while (i < nd && n < kMaxBytes) {
    int hi = digits[i++] - '0';
    int lo = i < nd ? digits[i++] - '0' : 0;
    d[n++] = static_cast<uint8_t>(hi * 10 + lo);
  }
  // floor((e + 1) / 2), flooring for negative e as well.
  int exponent = (e + 1) >= 0 ? (e + 1) / 2 : -((-(e + 1) + 1) / 2);
  return decnorm(out, sign, exponent, d, n);
}

}  // namespace

TV_EXTERN_C TV_API int deccvdbl(double value, Decimal* out) {
  return FromDouble(value, decimal_use_prec16() ? 16 : 17, out);
}

TV_EXTERN_C TV_API int deccvflt(double value, Decimal* out) {
  return FromDouble(value, decimal_use_prec16() ? 8 : 9, out);
}
