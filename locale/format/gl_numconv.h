// Numbers and text under a locale: text to integers in a base and to
// doubles with the locale's signs, decimal point and digit grouping, and
// integers to text with optional grouping.
//
// Integer sizes are those of the platform the data types were written for:
// a long is 32 bits. The readers set the run-time's errno to 0 and leave
// ERANGE (overflow) or EINVAL (no digits, bad base) in it for the caller.
// Error results are sentinels: 2147483647 (gl_wcstol, gl_mbstol and the
// refusals of gl_wcstoul), 4294967295 (gl_mbstoul), 2^64 - 1 (gl_wcstoull)
// and 2147483647.0 (gl_mbstod).
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// grouping non-zero: thousands separators are expected at every group
// boundary, and the grouped number must end the text.
TV_API int32_t gl_wcstol(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                         int32_t grouping);
TV_API uint32_t gl_wcstoul(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                           int32_t grouping);
TV_API uint64_t gl_wcstoull(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t base,
                            int32_t grouping);
TV_API int32_t gl_mbstol(GlLocale *loc, const char *s, char **end, int32_t base,
                         int32_t grouping);
TV_API uint32_t gl_mbstoul(GlLocale *loc, const char *s, char **end, int32_t base,
                           int32_t grouping);
TV_API double gl_wcstod(GlLocale *loc, const GlWchar *ws, GlWchar **end, int32_t grouping);
// mode 0: the LC_NUMERIC conventions; 1: the LC_MONETARY ones.
TV_API double gl_wcstod_num_mon(GlLocale *loc, const GlWchar *ws, GlWchar **end,
                                int32_t grouping, int32_t mode);
TV_API double gl_mbstod(GlLocale *loc, const char *s, char **end, int32_t grouping);

// An integer as text in base 2-36 (digits above 9 upper case), grouped by
// the LC_NUMERIC separator when grouping is non-zero. The wide forms return
// the characters written without the terminator; a base outside 2-36, or a
// grouped text that does not fit, writes an empty string. Without grouping
// the text is cut to size - 1 characters.
TV_API int32_t gl_ltowcs(GlLocale *loc, GlWchar *out, int32_t size, int32_t value, int32_t base,
                         int32_t grouping);
TV_API int32_t gl_ultowcs(GlLocale *loc, GlWchar *out, int32_t size, uint32_t value,
                          int32_t base, int32_t grouping);
// The multibyte forms: the bytes written without the terminator, or -1.
TV_API int32_t gl_ltombs(GlLocale *loc, char *out, int32_t size, int32_t value, int32_t base,
                         int32_t grouping);
TV_API int32_t gl_ultombs(GlLocale *loc, char *out, int32_t size, uint32_t value,
                          int32_t base, int32_t grouping);

// The library's own text-to-unsigned-64-bit conversion. Base 0 with a sign
// reads base 10; "-n" gives 2^64 - n.
uint64_t _gl_strtoull(const char *s, char **end, int32_t base);
// Position of the radix character ('.' or ',') after optional white space,
// sign and digits; NULL when there is none.
char *_gl_find_radix(char *s);

TV_END_C
