#include "sqltypes/bigint.h"

// Byte loops rather than a swap: right on any host, and compilers turn them
// into a single load and byte swap.
TV_EXTERN_C TV_API void ldbigint(int64_t* out, const void* field) {
  const unsigned char* b = static_cast<const unsigned char*>(field);
  uint64_t raw = 0;
  for (int i = 0; i < 8; i++) raw = raw << 8 | b[i];
  *out = static_cast<int64_t>(raw);
}

TV_EXTERN_C TV_API void stbigint(int64_t value, void* field) {
  unsigned char* b = static_cast<unsigned char*>(field);
  uint64_t raw = static_cast<uint64_t>(value);
  for (int i = 7; i >= 0; i--, raw >>= 8) b[i] = static_cast<unsigned char>(raw & 0xFF);
}
