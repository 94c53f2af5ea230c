// INT8: a 64-bit integer as a magnitude in two 32-bit halves with a
// separate sign (1 positive or zero, -1 negative, 0 null with both halves
// 0). Conversions refuse a high half of 2^31 or more with -1284.
//
// Stored form: 10 bytes, big-endian: sign (2 bytes), low half (4), high
// half (4).
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/decimal.h"

TV_BEGIN_C

typedef struct Int8Value {
  uint32_t low;
  uint32_t high;
  int16_t sign;
} Int8Value;

TV_API void ldint8(const void* stored, Int8Value* out);
TV_API void stint8(const Int8Value* value, void* stored);

TV_API int bigintcvzel_int8(const Int8Value* value, int64_t* out);
TV_API int biginttozel_int8(int64_t value, Int8Value* out);

TV_API void zel_int8copy(const Int8Value* source, Int8Value* destination);
TV_API int zel_int8add(const Int8Value* a, const Int8Value* b, Int8Value* out);
TV_API int zel_int8sub(const Int8Value* a, const Int8Value* b, Int8Value* out);
TV_API int zel_int8mul(const Int8Value* a, const Int8Value* b, Int8Value* out);
TV_API int zel_int8div(const Int8Value* a, const Int8Value* b, Int8Value* out);
// -1, 0 or 1; -2 when either is null.
TV_API int zel_int8cmp(const Int8Value* a, const Int8Value* b);
TV_API int zel_int8cvlong(int32_t value, Int8Value* out);
TV_API int zel_int8cvint(int value, Int8Value* out);
TV_API int zel_int8toint4(const Int8Value* value, int32_t* out);
TV_API int zel_int8tolong(const Int8Value* value, int32_t* out);
TV_API int zel_int8toint(const Int8Value* value, int* out);
TV_API int zel_int8toint2(const Int8Value* value, int16_t* out);
TV_API int zel_int8cvasc(const char* text, int length, Int8Value* out);
TV_API int zel_int8cvdec(const Decimal* value, Int8Value* out);
TV_API int zel_int8cvdbl(double value, Int8Value* out);
TV_API int zel_int8cvflt(double value, Int8Value* out);
// Base 10 text, then blanks up to `length` for a non-null value.
TV_API int zel_int8toasc(const Int8Value* value, char* field, int length);
TV_API int int8toasc(const Int8Value* value, char* field, int length, int base);
TV_API int zel_int8tostr(const Int8Value* value, char* buffer, int length);
TV_API int zel_int8todbl(const Int8Value* value, double* out);
TV_API int zel_int8toflt(const Int8Value* value, float* out);
TV_API int deccvint8(const Int8Value* value, Decimal* out);
TV_API int zel_int8todec(const Int8Value* value, Decimal* out);
TV_API int64_t zel_int8tobigint(const Int8Value* value);
TV_API int zel_int8cvbigint(int64_t value, Int8Value* out);

TV_END_C
