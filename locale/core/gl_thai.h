// The Thai collation: fixed rules over the bytes of the single-byte Thai
// code set. A leading vowel (0xE0-0xE4) sorts after the consonant
// (0xA1-0xCE) that follows it, tone marks decide only between strings that
// are otherwise equal, and trailing blanks are ignored.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Counted strings (-1: NUL-terminated; one -1 without the other is error
// 56 and 0). Only the sign of the result is meant.
TV_API int32_t _zel_gl_thaismoncoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                    int32_t l2);
TV_API int32_t _gl_thaismocoll(GlLocale *loc, const char *s1, const char *s2);
// The key: the primary part (leading vowels after their consonants), then
// (position, tone) pairs. Returns its length; out receives min(size, 256)
// bytes, zero-padded. A string whose key would pass 255 bytes is refused:
// -1 with error 14.
TV_API int32_t _gl_thaismoxfrm(GlLocale *loc, char *out, const char *s, int32_t size);
// 1 when s begins with a consonant, 2 for a leading vowel or other byte
// before a consonant, else 0.
TV_API int32_t zel_gl_complen_thai(GlLocale *loc, const char *s);
// As gl_iscompchar, by the Thai byte classes.
TV_API int32_t gl_iscompchar_thai(GlLocale *loc, const char *s);

// The Thai forms of gl_nextprimweight and gl_prevprimweight.
int32_t _gl_thai_neighbour(GlLocale *loc, const char *unit, int32_t complete, char *out,
                           int32_t upper);

TV_END_C
