// FETCH: the next row of an open cursor, or a row at a scroll position,
// into the program's host variables or a descriptor. Rows come in batches
// that fill the cursor's buffer; later FETCHes and scroll positions inside
// the buffered window are served without an exchange.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"

TV_BEGIN_C

// Directions of a fetch.
enum {
  SQLI_FETCH_NEXT = 1, SQLI_FETCH_PRIOR = 2, SQLI_FETCH_FIRST = 3, SQLI_FETCH_LAST = 4,
  SQLI_FETCH_CURRENT = 5, SQLI_FETCH_ABSOLUTE = 6, SQLI_FETCH_RELATIVE = 7,
};

typedef struct SqliFetchSpec {
  int32_t position;   // row number for ABSOLUTE and RELATIVE
  int32_t direction;  // SQLI_FETCH_*
  int32_t ind_rule;   // non-zero: a null into a target without indicator is -467
} SqliFetchSpec;

TV_API int32_t sqli_curs_fetch(int32_t ignored, SqliCursor* cursor, SqliItemList* position_vars,
                               SqliDescriptor* out_desc, const char* out_name, SqliFetchSpec* spec);

// Sends the types of count targets as a type-check request of the kind
// (bit 0x1 marks the cursor's input types sent, 0x8 its PUT types); no
// targets frees the cursor's type-check items. 0, or the error.
int32_t sqli_type_check(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t kind);

TV_END_C
