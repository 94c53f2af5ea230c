// The four operations of Decimal. Each works on base-100 digit bytes in a
// local buffer with a zero byte in front (the spare byte that normalisation
// needs for a carry out of the first byte) and normalises the result, which
// rounds half up on the seventeenth significant byte.
#include <string.h>

#include "sqltypes/decimal.h"

int decmagcmp(const Decimal* a, const Decimal* b);

namespace {

// a + b with b's sign taken as bsign.
int AddSigned(const Decimal* a, const Decimal* b, int bsign, Decimal* out) {
  if (!decusable(a) || !decusable(b)) return -1;
  if (a->sign == DEC_NULLSIGN || b->sign == DEC_NULLSIGN) {
    decsetnull(out);
    return 0;
  }
  const Decimal* L = a;
  const Decimal* S = b;
  int lsign = a->sign, ssign = bsign;
  if (decmagcmp(a, b) < 0) {
    L = b;
    S = a;
    lsign = bsign;
    ssign = a->sign;
  }
  // The window: a carry byte, then at most 17 bytes from L's first digit.
  // S's digits that fall outside it are dropped before adding.
  int shift = L->exponent - S->exponent;  // >= 0 unless S is zero
  int span = S->ndigits + shift;
  if (span < L->ndigits) span = L->ndigits;
  if (span > 17) span = 17;
  int w = span + 1;
  uint8_t space[1 + 18];
  memset(space, 0, sizeof space);
  uint8_t* buf = space + 1;
  memcpy(buf + 1, L->digits, L->ndigits);
  bool subtract = lsign != ssign;
  for (int k = S->ndigits - 1; k >= 0; k--) {
    int pos = shift + k + 1;
    if (pos >= w || pos < 1) continue;
    int p = pos;
    if (!subtract) {
      int t = buf[p] + S->digits[k];
      while (t >= 100) {  // carry leftwards
        buf[p] = static_cast<uint8_t>(t - 100);
        t = buf[--p] + 1;
      }
      buf[p] = static_cast<uint8_t>(t);
    } else {
      int t = buf[p] - S->digits[k];
      while (t < 0) {  // borrow leftwards; L's magnitude covers it
        buf[p] = static_cast<uint8_t>(t + 100);
        t = buf[--p] - 1;
      }
      buf[p] = static_cast<uint8_t>(t);
    }
  }
  return decnorm(out, lsign, L->exponent + 1, buf, w);
}

}  // namespace

TV_EXTERN_C TV_API int decadd(const Decimal* a, const Decimal* b, Decimal* out) {
  return AddSigned(a, b, b->sign, out);
}

TV_EXTERN_C TV_API int decsub(const Decimal* a, const Decimal* b, Decimal* out) {
  int bsign = b->sign == DEC_POS ? DEC_NEG : b->sign == DEC_NEG ? DEC_POS : b->sign;
  return AddSigned(a, b, bsign, out);
}

TV_EXTERN_C TV_API int decmul(const Decimal* a, const Decimal* b, Decimal* out) {
  if (!decusable(a) || !decusable(b)) return -1;
  if (a->sign == DEC_NULLSIGN || b->sign == DEC_NULLSIGN) {
    decsetnull(out);
    return 0;
  }
  // Schoolbook product: a's digit i times b's digit j lands at i + j + 1.
  // Column sums stay below 16 * 99 * 99 + carries, well inside 32 bits.
  uint32_t col[2 * DEC_MAXDIGITS] = {};
  int n = a->ndigits + b->ndigits;
  for (int i = 0; i < a->ndigits; i++)
    for (int j = 0; j < b->ndigits; j++)
      col[i + j + 1] += static_cast<uint32_t>(a->digits[i]) * b->digits[j];
  uint8_t space[1 + 2 * DEC_MAXDIGITS] = {};
  uint8_t* buf = space + 1;
  uint32_t carry = 0;
  for (int p = n - 1; p >= 0; p--) {
    uint32_t t = col[p] + carry;
    buf[p] = static_cast<uint8_t>(t % 100);
    carry = t / 100;
  }
  int sign = a->sign == b->sign ? DEC_POS : DEC_NEG;
  return decnorm(out, sign, a->exponent + b->exponent, buf, n);
}

TV_EXTERN_C TV_API int decdiv(const Decimal* a, const Decimal* b, Decimal* out) {
  if (!decusable(a) || !decusable(b)) return -1;
  if (a->sign == DEC_NULLSIGN || b->sign == DEC_NULLSIGN) {
    decsetnull(out);
    return 0;
  }
  if (b->ndigits == 0) {
    decsetzero(out);
    return -1202;
  }
  constexpr int kQuotient = 18;
  const int m = b->ndigits;
  // Remainder: a zero byte, the dividend's digits, zeros; the last step
  // reads up to r[17 + m] and r[19].
  uint8_t r[kQuotient + DEC_MAXDIGITS + 4] = {};
  memcpy(r + 1, a->digits, a->ndigits);
  uint8_t dv[DEC_MAXDIGITS + 1] = {};
  memcpy(dv + 1, b->digits, m);
  const int v = dv[1] * 100 + (m > 1 ? dv[2] : 0);
  uint8_t space[1 + kQuotient] = {};
  uint8_t* q = space + 1;
  for (int k = 0; k < kQuotient; k++) {
    int est = (r[k] * 10000 + r[k + 1] * 100 + r[k + 2]) / v;
    if (est != 0) {
      // r[k..k+m] -= est * divisor, from the right with borrow.
      int borrow = 0;
      for (int j = m; j >= 1; j--) {
        int t = r[k + j] - est * dv[j] - borrow;
        borrow = 0;
        if (t < 0) {
          borrow = (-t + 99) / 100;
          t += borrow * 100;
        }
        r[k + j] = static_cast<uint8_t>(t);
      }
      int top = r[k] - borrow;
      if (top < 0) {
        // One too many: the estimate is at most one above the true digit.
        est--;
        int carry = 0;
        for (int j = m; j >= 1; j--) {
          int t = r[k + j] + dv[j] + carry;
          carry = t >= 100;
          r[k + j] = static_cast<uint8_t>(carry ? t - 100 : t);
        }
        top += carry;
      }
      r[k] = static_cast<uint8_t>(top);
    }
    q[k] = static_cast<uint8_t>(est);
  }
  int sign = a->sign == b->sign ? DEC_POS : DEC_NEG;
  return decnorm(out, sign, a->exponent - b->exponent + 1, q, kQuotient);
}
