// Comparison of two counted character strings under a locale's collation,
// trailing blanks ignored. The ISAM library orders collated key parts with
// it, so its sign is part of the stored order of those indexes.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Status codes left in *status.
#define RCOLL_ENOMEM (-23102)  // the locale library ran out of memory
#define RCOLL_EBADCHAR (-202)  // an invalid multibyte character

// -1, 0 or 1. A null pointer, or a text whose first byte is NUL, is empty;
// an empty text sorts before any other and equals another empty one, and a
// text of blanks only counts as empty. Without a locale, or in a locale
// whose collation is the plain code order, the texts compare as bytes with
// the shorter one padded with blanks. *status (may be null) is set to 0 or
// one of the codes above.
TV_API int rcharcollcmp(GlLocale* loc, const char* a, int32_t alen, const char* b, int32_t blen,
                        int32_t* status);

// The byte length of a text without its trailing blanks: 0x20 bytes in a
// single-byte locale (or without one), characters of the blank class that
// are not control characters in a multibyte one.
int32_t rtrimlen(GlLocale* loc, const char* s, int32_t len);
// The locale's counted-string collation (bytes with blank padding when the
// locale has none): on a locale error 0 with *status -23102 (memory) or
// -202 (anything else).
int rcollcmpn(GlLocale* loc, const char* a, int32_t alen, const char* b, int32_t blen,
              int32_t* status);
// 1 when low <= c <= high under the locale's collation (code order when the
// collation is plain code order), else 0.
int rcollinrange(GlLocale* loc, uint32_t c, uint32_t low, uint32_t high);

TV_END_C
