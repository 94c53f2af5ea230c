// The SQL keyword source rows and the hashed table built from them.
#pragma once

#include <stdint.h>

#define SQLI_KEYWORD_COUNT 580

typedef struct SqliKeywordSource {
  const char* name;
  int32_t code;
  int32_t cls;
} SqliKeywordSource;

extern const SqliKeywordSource kSqliKeywordSource[SQLI_KEYWORD_COUNT];

typedef struct SqliKeywordEntry {
  uint32_t hash;
  int32_t index;  // row of the source
  int32_t next;   // slot of the next entry of the chain, -1 at the end
  const char* name;
  int32_t code;
  int32_t cls;
} SqliKeywordEntry;
