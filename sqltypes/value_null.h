// Null values of the host types, and the small integer parsers of the
// trace writer.
//
// rsetnull and risnull take a host type code (100-125) or an SQL type code
// (0-53, turned into its host code first). Null forms: texts a first byte
// 0; SMALLINT 0x8000; 32-bit integers and DATE 0x80000000 (host code 103,
// an 8-byte variable, the 64-bit value -2147483648); floats and doubles
// all bytes 0xFF; Decimal, DATETIME and INTERVAL sign -1; INT8 sign 0;
// BIGINT 0x8000000000000000; BOOLEAN 0xFF; a large-object locator its
// 32-bit field at byte 40 set to -1; a variable binary record flag 0x2; a
// collection its cl_flags bit 0x4 (a row is tested for it, never set).
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Makes the value of host type `type` null; returns 0 (a fixed binary area
// and a row are left as they are).
TV_API int rsetnull(int type, char* value);
// 1 when the value is null, else 0.
TV_API int risnull(int type, const char* value);
// A decimal integer text into a 16-bit int: -32767..32767 (else -1214);
// an empty text gives -32768. -1213 not a number.
TV_API int rstoi(const char* text, int* out);
// The same into 32 bits (-2147483647..2147483647); an empty text gives
// -2147483648.
TV_API int rstoi4(const char* text, int32_t* out);

TV_END_C
