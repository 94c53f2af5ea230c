// printf-like formatting of numbers, characters and strings under the
// locale's LC_NUMERIC conventions: its decimal point, thousands separator
// and grouping, and its positive and negative signs take the place of '.',
// ',', '+' and '-'. Widths count display columns.
//
// Integer arguments have the sizes of the platform the data types were
// written for: int, and with l a 32-bit long; ll a 64-bit integer; h a
// short and hh a char (passed as int). c takes a pointer to one multibyte
// character (lc the wide character), s a multibyte string (ls a wide one);
// a width without precision also cuts a string. p shows the low 32 bits of
// a pointer as 16 upper-case hexadecimal digits unless a width is given.
// q is base 4, b base 2 with a sign.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Characters (wide) or bytes (multibyte) written without the terminator,
// or -1: error 14 (no room; a floating width of 100 or more), 15 (the
// format ends in a specification), 22 (unknown conversion letter), 45 (bad
// precision), 2 (a NULL string argument), 3 (memory), 1 (a character
// without a multibyte form). size counts the terminator.
TV_API int32_t gl_wcsprintf(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format,
                            ...);
TV_API int32_t gl_wcsfnum(GlLocale *loc, GlWchar *out, int32_t size, const GlWchar *format,
                          ...);
TV_API int32_t gl_mbsprintf(GlLocale *loc, char *out, int32_t size, const char *format, ...);
TV_API int32_t gl_mbsfnum(GlLocale *loc, char *out, int32_t size, const char *format, ...);

// The engine: writes at most capacity characters, terminator included.
int32_t _gl_wcsprintf_internal(GlLocale *loc, GlWchar *out, int32_t capacity,
                               const GlWchar *format, va_list *args);
int32_t _gl_mbsprintf_internal(GlLocale *loc, char *out, int32_t size, const char *format,
                               va_list *args);

TV_END_C
