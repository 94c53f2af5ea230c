// Shared state and helpers of the ICU-wrapper library: the callbacks the
// locale library installs, the locale map, the locale and converter
// handles, the status numbers, and one character of a code set to and from
// a code point.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/utypes.h>

#define GLU_API extern "C" __attribute__((visibility("default")))

namespace glu {

// Statuses, read by the library as its own error numbers.
enum : int16_t {
  kOk = 0,
  kInvalid = 1,     // invalid byte sequence, or no form in the code set
  kNullArg = 2,
  kNoMemory = 3,
  kNegative = 4,
  kBeforeStart = 5,
  kShort = 7,       // cut short, or a budget below 1
  kUnknown = 8,     // unknown locale or converter; data not found
  kNoRoom = 14,
  kStream = 13,
  kEof = 16,
  kRead = 17,
};

// Raises *st to s (the caller set it to 0; it is only raised).
inline void Raise(int16_t *st, int16_t s) {
  if (st != nullptr && s > 0) *st = s;
}
int16_t FromIcu(UErrorCode e);

// The memory functions the library gave (its allocator), or the C
// library's.
void *Alloc(size_t size);
void Free(void *p);

// The file functions the library gave, or the C library's on a FILE.
int CallFgetc(void *f);
int CallFeof(void *f);
int CallFerror(void *f);

// One line of the locale map: a locale specification served by ICU.
struct MapLocale {
  char spec[32];       // as the library names it, compared without case
  char icu[32];        // ICU locale name
  char converter[48];  // ICU converter name
};
// A code-set number that ICU converts.
struct MapCodeset {
  int32_t number;
  char converter[48];
};
struct Map {
  MapLocale *locales;
  int32_t nlocales;
  MapCodeset *codesets;
  int32_t ncodesets;
};

// An ICU locale handle: the locale's converter and collator.
struct Locale {
  char spec[32];
  char icu[32];
  UConverter *cnv;
  UCollator *coll;
  int32_t min_len;
  int32_t max_len;
  int32_t highest;  // the code point that sorts highest, -1 until known
  // 1 when the code set is ASCII-based: bytes below 0x80 are the ASCII
  // characters themselves (IBM's Shift-JIS tables exchange three control
  // bytes, which would turn 0x1A into U+001C).
  int32_t ascii;
};

// Opens h's converter (and nothing else): 0, or a status.
int16_t OpenCodeset(Locale *h, const char *converter);

// Opens a converter whose invalid and unmappable input stops it.
UConverter *OpenConverter(const char *name, int16_t *st);

// The character at s within n bytes (n -1: a NUL-terminated string). Never
// reads past a NUL byte. The NUL character is code point 0 of length 1.
int16_t Decode(Locale *h, const char *s, int32_t n, UChar32 *cp, int32_t *len);
// The bytes of cp into out (room for 8); its length.
int16_t Encode(Locale *h, UChar32 cp, char *out, int32_t *len);

// Class bits of a code point, as the library numbers its classes.
uint32_t Classes(UChar32 cp);
// Columns of a code point: 0 for NUL, 2 for East Asian wide and full-width,
// else 1; -1 (status 7) when it is not printable.
int32_t Columns(UChar32 cp, int16_t *st);

}  // namespace glu
