// Stored (on-disk and on-wire) form of a Decimal in a column of n bytes.
//
//   byte     content
//   0        value >= 0: 0x80 | (exponent + 64)
//            value <  0: (exponent + 64) ^ 0x7F, bit 7 clear
//   1..n-1   digit bytes (each 0..99), padded with zero bytes; a negative
//            value stores the 100's complement of its digit run: trailing
//            zero bytes stay 0, the last non-zero byte d becomes 100 - d,
//            every earlier byte d becomes 99 - d
//
// Null is n zero bytes (any form whose first two bytes are 0 reads as null);
// zero is 0x80 followed by zero bytes. Forms of one length compare as
// unsigned byte strings in the order of their values. The writer takes at
// most 22 bytes and rounds half up on the first digit byte that does not
// fit; the reader takes at most 18 bytes (17 digit bytes, normalised, so the
// seventeenth rounds).
#include <string.h>

#include "sqltypes/decimal.h"

namespace {

constexpr int kMaxWrite = 22;
constexpr int kMaxRead = 18;

// The 100's complement of a digit run, in place. It is its own inverse.
void Complement(uint8_t* d, int n) {
  int last = n - 1;
  while (last >= 0 && d[last] == 0) last--;
  if (last < 0) return;
  d[last] = static_cast<uint8_t>(100 - d[last]);
  for (int i = 0; i < last; i++) d[i] = static_cast<uint8_t>(99 - d[i]);
}

}  // namespace

TV_EXTERN_C TV_API int stdecimal(const Decimal* v, void* stored, int length) {
  if (length < 1 || decvalid(v) != 0) return -1;
  if (length > kMaxWrite) length = kMaxWrite;
  uint8_t out[kMaxWrite] = {};
  if (v->sign == DEC_NULLSIGN) {
    memcpy(stored, out, length);
    return 0;
  }
  int room = length - 1;  // digit bytes that fit
  int exponent = v->exponent;
  bool zero = true;
  for (int i = 0; i < v->ndigits; i++) zero = zero && v->digits[i] == 0;
  if (zero) {
    out[0] = 0x80;
    memcpy(stored, out, length);
    return 0;
  }
  uint8_t* d = out + 1;
  int n = v->ndigits < room ? v->ndigits : room;
  memcpy(d, v->digits, n);
  if (v->ndigits > room && v->digits[room] >= 50) {
    int i = room - 1;
    for (;;) {
      if (i < 0) {
        // Carry out of the first digit byte: it becomes 1, one place up.
        if (exponent == DEC_MAXEXP) return -1200;  // no room above 63
        exponent++;
        if (room > 0) d[0] = 1;
        break;
      }
      if (++d[i] < 100) break;
      d[i] = 0;
      i--;
    }
  }
  if (v->sign == DEC_NEG) {
    // A negative value of exponent 63 whose first stored byte is 99 with
    // more digits after it would be written as two zero bytes, which read
    // back as null: refuse it rather than turn a value into null.
    if (exponent == DEC_MAXEXP && room >= 1 && d[0] == 99) {
      bool more = false;
      for (int i = 1; i < room; i++) more = more || d[i] != 0;
      if (more) return -1200;
    }
    Complement(d, room);
    out[0] = static_cast<uint8_t>((exponent + 64) ^ 0x7F);
  } else {
    out[0] = static_cast<uint8_t>(0x80 | (exponent + 64));
  }
  memcpy(stored, out, length);
  return 0;
}

TV_EXTERN_C TV_API int zel_stdecimal(const Decimal* v, void* stored, int length) {
  return stdecimal(v, stored, length);
}

TV_EXTERN_C TV_API int lddecimal(const void* stored, int length, Decimal* out) {
  if (length < 1) return -1;
  if (length > kMaxRead) length = kMaxRead;
  const uint8_t* s = static_cast<const uint8_t*>(stored);
  if (s[0] == 0 && (length == 1 || s[1] == 0)) {
    decsetnull(out);
    return 0;
  }
  uint8_t space[1 + kMaxRead] = {};
  uint8_t* d = space + 1;
  int n = length - 1;
  memcpy(d, s + 1, n);
  // A digit byte above 99 is no stored Decimal: refuse it, out untouched.
  for (int i = 0; i < n; i++)
    if (d[i] > 99) return -1;
  int sign, exponent;
  if (s[0] & 0x80) {
    sign = DEC_POS;
    exponent = (s[0] & 0x7F) - 64;
  } else {
    sign = DEC_NEG;
    exponent = (s[0] ^ 0x7F) - 64;
    Complement(d, n);
  }
  return decnorm(out, sign, exponent, d, n);
}
