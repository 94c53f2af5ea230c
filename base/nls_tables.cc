// Built-in 8-bit character tables: ASCII classes for bytes 0 to 127, bytes
// 128 to 173 lower case, bytes 174 to 255 punctuation; case maps for the
// ASCII letters only. Constant-initialised, so they are ready before any
// code runs.

#include "base/nls_tables.h"

namespace {

constexpr unsigned char ClassOf(int b) {
  if (b == ' ') return NLS_SPACE | NLS_BLANK;
  if (b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r') return NLS_SPACE | NLS_CNTRL;
  if (b < 32 || b == 127) return NLS_CNTRL;
  if (b >= '0' && b <= '9') return NLS_DIGIT | NLS_XDIGIT;
  if (b >= 'A' && b <= 'Z') return NLS_UPPER | (b <= 'F' ? NLS_XDIGIT : 0);
  if (b >= 'a' && b <= 'z') return NLS_LOWER | (b <= 'f' ? NLS_XDIGIT : 0);
  if (b < 128) return NLS_PUNCT;
  if (b <= 173) return NLS_LOWER;
  return NLS_PUNCT;
}

constexpr unsigned char LowerOf(int b) { return static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 32 : b); }
constexpr unsigned char UpperOf(int b) { return static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - 32 : b); }

}  // namespace

#define TV_R4(F, n) F(n), F(n + 1), F(n + 2), F(n + 3)
#define TV_R16(F, n) TV_R4(F, n), TV_R4(F, n + 4), TV_R4(F, n + 8), TV_R4(F, n + 12)
#define TV_R64(F, n) TV_R16(F, n), TV_R16(F, n + 16), TV_R16(F, n + 32), TV_R16(F, n + 48)
#define TV_R256(F) TV_R64(F, 0), TV_R64(F, 64), TV_R64(F, 128), TV_R64(F, 192)

unsigned char rnls_classtab[258] = {0, TV_R256(ClassOf), 0};
unsigned char rnls_lowermap[256] = {TV_R256(LowerOf)};
unsigned char rnls_uppermap[256] = {TV_R256(UpperOf)};
