// Decimal: the exact decimal number of the SQL value types (DECIMAL and
// MONEY, and the working form through which the other numeric, date and
// time values are converted and rounded).
//
// A value is its digit bytes read as a base-100 fraction (the point lies
// before the first byte) times 100^exponent: 123.45 is digits 1, 23, 45 with
// exponent 2; 0.0012 is the digit 12 with exponent -1.
//
// Normal form: no leading and no trailing zero digit bytes. Zero is count 0,
// exponent -64, sign 1; null is sign -1, count 0, exponent 0. Every
// operation that produces a Decimal produces the normal form.
//
// Results are 0 or a negative SQL code: -1200 exponent above 63 (the value
// is kept with exponent 63) or an integer out of range, -1201 exponent below
// -64 (kept with exponent -64), -1202 division by zero, -1223 a double that
// cannot be converted, -1 a bad stored length or an invalid record (an
// operand with a bad sign, digit count or digit byte is refused with -1 and
// the result left untouched; deccmp gives -2 for it). Nothing is
// allocated; out may be the same record as an input.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

#define DEC_MAXDIGITS 16  // base-100 digit bytes held
#define DEC_MINEXP (-64)
#define DEC_MAXEXP 63
#define DEC_POS 1
#define DEC_NEG 0
#define DEC_NULLSIGN (-1)

typedef struct Decimal {
  int16_t exponent;  // power of 100, -64..63
  int16_t sign;      // 1 positive, 0 negative, -1 null
  int16_t ndigits;   // significant digit bytes held, 0..16
  uint8_t digits[DEC_MAXDIGITS];  // base 100, most significant first
} Decimal;

// Integers. deccvint: -32768 gives null; deccvlong: -2147483648 gives null.
TV_API int deccvint(int value, Decimal* out);
TV_API int deccvlong(int32_t value, Decimal* out);
// The integer part (toward zero). Null gives -2147483648 (dectolong) or
// -32768 (dectoint); outside -2147483647..2147483647 (dectolong) or
// -32767..32767 (dectoint) gives -1200 and leaves *out unchanged.
TV_API int dectolong(const Decimal* value, int32_t* out);
TV_API int dectoint(const Decimal* value, int* out);

// Doubles: 17 significant digits (16 when ZEL_USE_PREC_16 is "1"); floats
// (passed as a double): 9 (8). A double of eight 0xFF bytes gives null.
TV_API int deccvdbl(double value, Decimal* out);
TV_API int deccvflt(double value, Decimal* out);

// Arithmetic; a null operand gives a null result.
TV_API int decadd(const Decimal* a, const Decimal* b, Decimal* out);
TV_API int decsub(const Decimal* a, const Decimal* b, Decimal* out);
TV_API int decmul(const Decimal* a, const Decimal* b, Decimal* out);
TV_API int decdiv(const Decimal* a, const Decimal* b, Decimal* out);

// -1, 0 or 1; -2 when either value is null.
TV_API int deccmp(const Decimal* a, const Decimal* b);
TV_API void deccopy(const Decimal* source, Decimal* destination);

// Round half away from zero / truncate to `places` digits after the point
// (a negative count works on tens, hundreds ...). decround returns -1200,
// leaving the value unchanged, when the rounded value does not fit.
TV_API int decround(Decimal* value, int places);
TV_API int dectrunc(Decimal* value, int places);

// Stored form: see decimal_stored.cc for the byte layout. stdecimal and
// zel_stdecimal are one operation.
TV_API int lddecimal(const void* stored, int length, Decimal* out);
TV_API int stdecimal(const Decimal* value, void* stored, int length);
TV_API int zel_stdecimal(const Decimal* value, void* stored, int length);

TV_END_C

#ifdef __cplusplus
// Helpers for the other SQL data types (not exported).

// Normalises `count` digit bytes into *out. digits[-1] must be writable and
// hold 0: a carry out of the first byte while rounding lands there.
int decnorm(Decimal* out, int sign, int exponent, uint8_t* digits, int count);
// 0 when the record is valid, -1 when it is not.
int decvalid(const Decimal* value);
// True when the arithmetic can work on the record safely: null, or sign 0
// or 1 with at most 16 digit bytes of 0..99 (any exponent).
bool decusable(const Decimal* value);
// precision << 8 | scale of the DECIMAL(p,s) that holds the value exactly;
// decdeclprec raises the precision to at least the scale.
int decprecword(const Decimal* value);
int decdeclprec(const Decimal* value);
// Sets *out to null / zero.
void decsetnull(Decimal* out);
void decsetzero(Decimal* out);
#endif  // __cplusplus
