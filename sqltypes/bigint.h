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
