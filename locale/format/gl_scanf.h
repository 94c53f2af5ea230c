// scanf-like reading of numbers, characters and strings under the locale:
// integers in bases 2, 4, 8, 10 and 16 with the locale's negative sign,
// floating numbers with its decimal point, signs and (with the "'" flag)
// thousands separators. Widths count display columns.
//
// Every integer letter reads a signed number (i reads base 10); a minus is
// refused for u (error 22). Targets are 32 bits (int, and with l a 32-bit
// long) or 16 bits with h; a second l is read as the conversion letter, so
// %lld is error 22. Floating letters always store a double. The '-' and
// '0' flags keep a conversion from skipping white space before its field.
// s and c store without a target size, as scanf does: give widths.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// The number of conversions assigned; -1 with error 22 (unknown letter,
// input that does not match the format, a minus for u, c with a width and
// a precision), 15 (the format ends in a specification), 45 (a bad
// specification) or 3 (memory). A field that cannot be read ends the scan
// with the count so far.
TV_API int32_t gl_wcsscanf(GlLocale *loc, const GlWchar *in, const GlWchar *format, ...);
TV_API int32_t gl_wcspnum(GlLocale *loc, const GlWchar *in, const GlWchar *format, ...);
TV_API int32_t gl_mbsscanf(GlLocale *loc, const char *in, const char *format, ...);
TV_API int32_t gl_mbspnum(GlLocale *loc, const char *in, const char *format, ...);

int32_t _gl_wcsscanf_internal(GlLocale *loc, const GlWchar *in, const GlWchar *format,
                              va_list *args);
int32_t _gl_mbsscanf_internal(GlLocale *loc, const char *in, const char *format,
                              va_list *args);

TV_END_C
