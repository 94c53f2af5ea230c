// BIGINT: a signed 64-bit integer; null is -9223372036854775808.
//
// Stored form: 8 bytes, the two's-complement value most significant byte
// first. The catalog, the data path and the ISAM key compare keep their
// 64-bit numbers in this form and read and write it only through these two.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

#define BIGINT_NULL INT64_MIN

// Note the argument orders: the load takes the destination first, the
// store takes the value first.
TV_API void ldbigint(int64_t* out, const void* field);
TV_API void stbigint(int64_t value, void* field);

TV_END_C

#include "sqltypes/decimal.h"

TV_BEGIN_C

// Conversions: 0 or -1214 (outside -32767..32767), -1284 (outside 32 or
// 64 bits, or not an integer text), -1213 (not a number). The output is
// written only on success.
TV_API int biginttoint2(int64_t value, int16_t* out);
TV_API int bigintcvint2(int value, int64_t* out);
TV_API int biginttoint4(int64_t value, int32_t* out);
TV_API int bigintcvint4(int32_t value, int64_t* out);
TV_API int biginttodbl(int64_t value, double* out);
TV_API int bigintcvdbl(double value, int64_t* out);
TV_API int biginttoflt(int64_t value, float* out);
TV_API int bigintcvflt(double value, int64_t* out);
TV_API int biginttodec(int64_t value, Decimal* out);
TV_API int bigintcvdec(const Decimal* value, int64_t* out);
// Text in base 10, or "0x" and 16 hexadecimal digits in base 16, into a
// field of `length` bytes: a text of exactly `length` characters puts its
// NUL in the byte after the field. Too long: "*"-filled and -1207. Null:
// `length` blanks, no NUL.
TV_API int biginttoasc(int64_t value, char* buffer, int length, int base);
// length -1: up to the NUL.
TV_API int bigintcvasc(const char* text, int length, int64_t* out);

TV_END_C
