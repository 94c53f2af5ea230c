// Rounding and truncation of a Decimal to a number of decimal places.
#include <string.h>

#include "sqltypes/decimal.h"

TV_EXTERN_C TV_API int dectrunc(Decimal* v, int places) {
  if (!decusable(v)) return -1;
  if (v->sign == DEC_NULLSIGN) return 0;
  // Kept digit bytes: exponent + ceil(places / 2), with a floor shift so
  // that negative counts work on tens, hundreds ...
  int64_t keep = v->exponent + ((static_cast<int64_t>(places) + 1) >> 1);
  if (keep > v->ndigits) return 0;
  if (keep <= 0) {
    decsetzero(v);
    return 0;
  }
  int n = static_cast<int>(keep);
  if (places & 1) v->digits[n - 1] = static_cast<uint8_t>(v->digits[n - 1] / 10 * 10);
  memset(v->digits + n, 0, DEC_MAXDIGITS - n);
  while (n > 0 && v->digits[n - 1] == 0) n--;
  if (n == 0) {
    decsetzero(v);
    return 0;
  }
  v->ndigits = static_cast<int16_t>(n);
  return 0;
}

TV_EXTERN_C TV_API int decround(Decimal* v, int places) {
  if (!decusable(v)) return -1;
  if (v->sign == DEC_NULLSIGN) return 0;
  if (places >= 2 * (v->ndigits - v->exponent)) return 0;
  // Below a ten to the 127th every value rounds to zero (the largest
  // value is below 10^126).
  if (places < -126) {
    decsetzero(v);
    return 0;
  }
  // Add half a unit of the last kept place, with the value's sign, then
  // truncate: ties go away from zero.
  Decimal half;
  decsetzero(&half);
  half.sign = v->sign;
  half.ndigits = 1;
  half.digits[0] = (places & 1) ? 5 : 50;
  half.exponent = static_cast<int16_t>(-(places >> 1));
  Decimal sum;
  int rc = decadd(v, &half, &sum);
  if (rc != 0) return rc;  // does not fit: the value stays as it was
  *v = sum;
  return dectrunc(v, places);
}
