// Stored forms of SQL values: the byte layout of each SQL type in a row
// and on the wire, written from an SqlValue by rvaltodata and read back
// into one by rdataval (layouts at the top of value_stored.cc).
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C

// Type-word bits of the two calls (the SqlTypeCode is the low 8 bits).
#define STORE_NOTNULL 0x100   // rvaltodata: a null value is refused (-1225)
#define LOAD_KEEPATTR 0x800   // rdataval: the value's attribute word is kept

// Writes `value` into the stored form of the type at `stored` (the column's
// length word `len` gives its size). 0 or a negative code, also left in the
// status word. A null collection value is rewritten in place.
TV_API int rvaltodata(SqlValue* value, void* stored, int type, int len);
// Reads the stored form at `stored` into `out`; the value points into the
// stored bytes for text, variable-length and UDT data. 0 or a negative code.
TV_API int rdataval(const void* stored, int type, int len, SqlValue* out);

// The variable-length form: null flag byte, 32-bit big-endian length, data.
TV_API void stvarval(void* out, const void* data, int32_t len, int isnull);
// Reads the variable-length form into `value` (its type word set) and
// returns the stored length.
TV_API int32_t ldvarval(const void* stored, int len, SqlValue* value);

// The 56-byte big-endian large-object descriptor.
TV_API void stlargeobj(const LargeObjectDesc* desc, void* out);
TV_API void ldlargeobj(LargeObjectDesc* desc, const void* stored);

// What udt_tup_off needs to know of a field's type.
typedef struct UdtTupleType {
  uint16_t type;   // SqlTypeCode in the low byte
  uint8_t flags;   // 0x4: a collection stored without its 2-byte prefix
  int16_t align;   // alignment of the field's data, 0 for none
} UdtTupleType;

// Padding to put before a field of that type at `offset` of a row tuple.
TV_API int udt_tup_off(const UdtTupleType* type, int offset);

TV_END_C

#ifdef __cplusplus
// Stored size of a DECIMAL, MONEY, DATETIME or INTERVAL column from its
// precision word or qualifier.
inline int stored_decimal_size(int len) {
  const unsigned u = static_cast<uint16_t>(len);
  return static_cast<int>((u / 256 + (u & 1) + 3) / 2);
}
#endif
