// Normal form, validity, comparison and precision words of Decimal.
#include <string.h>

#include "sqltypes/decimal.h"

#include "base/thread_state.h"

// The record is 22 bytes on every platform; the thread record keeps one as
// raw bytes.
static_assert(sizeof(Decimal) == 22 && alignof(Decimal) == 2);
static_assert(sizeof(Decimal) == TR_DECIMAL_BYTES);

void decsetnull(Decimal* out) {
  memset(out, 0, sizeof *out);
  out->sign = DEC_NULLSIGN;
}

void decsetzero(Decimal* out) {
  memset(out, 0, sizeof *out);
  out->sign = DEC_POS;
  out->exponent = DEC_MINEXP;
}

int decnorm(Decimal* out, int sign, int exponent, uint8_t* d, int n) {
  if (sign == DEC_NULLSIGN) {
    decsetnull(out);
    return 0;
  }
  while (n > 0 && d[n - 1] == 0) n--;
  while (n > 0 && d[0] == 0) {
    d++;
    n--;
    exponent--;
  }
  if (n > DEC_MAXDIGITS) {
    // Round half up on the seventeenth byte; later bytes are ignored.
    if (d[DEC_MAXDIGITS] >= 50) {
      int i = DEC_MAXDIGITS - 1;
      for (;;) {
        if (++d[i] < 100) break;
        d[i] = 0;
        if (i == 0) {
          // Carry out of the first byte: the zero byte in front becomes it.
          d--;
          d[0] = 1;
          exponent++;
          break;
        }
        i--;
      }
    }
    n = DEC_MAXDIGITS;
    while (n > 0 && d[n - 1] == 0) n--;
  }
  if (n == 0) {
    decsetzero(out);
    return 0;
  }
  // d may point into *out (callers pass their own buffers, but be safe).
  uint8_t tmp[DEC_MAXDIGITS];
  memcpy(tmp, d, n);
  memset(out->digits, 0, sizeof out->digits);
  memcpy(out->digits, tmp, n);
  out->ndigits = static_cast<int16_t>(n);
  out->sign = static_cast<int16_t>(sign == DEC_NEG ? DEC_NEG : DEC_POS);
  if (exponent < DEC_MINEXP) {
    out->exponent = DEC_MINEXP;
    return -1201;
  }
  if (exponent > DEC_MAXEXP) {
    out->exponent = DEC_MAXEXP;
    return -1200;
  }
  out->exponent = static_cast<int16_t>(exponent);
  return 0;
}

int decvalid(const Decimal* v) {
  if (v->sign == DEC_NULLSIGN) return 0;
  if (v->sign != DEC_NEG && v->sign != DEC_POS) return -1;
  if (v->exponent < DEC_MINEXP || v->exponent > DEC_MAXEXP) return -1;
  if (v->ndigits < 0 || v->ndigits > DEC_MAXDIGITS) return -1;
  if (v->ndigits == 0 && v->exponent != DEC_MINEXP) return -1;
  for (int i = 0; i < v->ndigits; i++)
    if (v->digits[i] > 99) return -1;
  return 0;
}

bool decusable(const Decimal* v) {
  if (v->sign == DEC_NULLSIGN) return true;
  if (v->sign != DEC_NEG && v->sign != DEC_POS) return false;
  if (v->ndigits < 0 || v->ndigits > DEC_MAXDIGITS) return false;
  for (int i = 0; i < v->ndigits; i++)
    if (v->digits[i] > 99) return false;
  return true;
}

// Compares magnitudes: a zero is below every non-zero value.
static int magcmp(const Decimal* a, const Decimal* b) {
  if (a->ndigits == 0 || b->ndigits == 0) {
    if (a->ndigits == b->ndigits) return 0;
    return a->ndigits == 0 ? -1 : 1;
  }
  if (a->exponent != b->exponent) return a->exponent < b->exponent ? -1 : 1;
  int n = a->ndigits < b->ndigits ? a->ndigits : b->ndigits;
  for (int i = 0; i < n; i++)
    if (a->digits[i] != b->digits[i]) return a->digits[i] < b->digits[i] ? -1 : 1;
  if (a->ndigits == b->ndigits) return 0;
  return a->ndigits < b->ndigits ? -1 : 1;
}

int decmagcmp(const Decimal* a, const Decimal* b) { return magcmp(a, b); }

TV_EXTERN_C TV_API int deccmp(const Decimal* a, const Decimal* b) {
  if (a->sign == DEC_NULLSIGN || b->sign == DEC_NULLSIGN) return -2;
  if (!decusable(a) || !decusable(b)) return -2;
  // A zero compares equal to a zero whatever its sign.
  bool az = a->ndigits == 0, bz = b->ndigits == 0;
  int sa = az ? 0 : (a->sign == DEC_POS ? 1 : -1);
  int sb = bz ? 0 : (b->sign == DEC_POS ? 1 : -1);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int c = magcmp(a, b);
  return sa > 0 ? c : -c;
}

TV_EXTERN_C TV_API void deccopy(const Decimal* source, Decimal* destination) {
  memmove(destination, source, sizeof *destination);
}

int decprecword(const Decimal* v) {
  if (v->sign == DEC_NULLSIGN || v->ndigits == 0) return 0;
  int digits = 2 * v->ndigits;
  int scale = 2 * (v->ndigits - v->exponent);
  if (v->digits[v->ndigits - 1] % 10 == 0) {
    digits--;
    scale--;
  }
  if (v->digits[0] < 10) digits--;
  if (scale < 0) {
    digits -= scale;  // an integer with trailing zeros: they count as digits
    scale = 0;
  }
  if (digits > 32) digits = 32;
  return digits << 8 | scale;
}

int decdeclprec(const Decimal* v) {
  int w = decprecword(v);
  int digits = w >> 8, scale = w & 0xFF;
  if (digits < scale) digits = scale;
  return digits << 8 | scale;
}
