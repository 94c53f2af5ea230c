// Money parsing: amounts read out of text by a strfmon-like format under
// the locale's LC_MONETARY conventions. Each conversion tries the locale's
// positive and negative layouts (the currency symbol is optional), the
// longer match winning and a tie going to the positive one, and stores the
// amount into the double the next argument points to.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// The position after the parsed text, or NULL: error 22 (format text not
// matched, a letter other than i and n), 9 (no layout matches at a
// conversion), 45 (bad specification), 3 (memory). Values stored by
// earlier conversions stay stored.
TV_API GlWchar *gl_wcspmon(GlLocale *loc, const GlWchar *text, const GlWchar *format, ...);
TV_API char *gl_mbspmon(GlLocale *loc, const char *text, const char *format, ...);

// The number of wide characters at the start of ws that spell the whole
// multibyte string mb, or -1.
int32_t _gl_compare_wc_to_mb(GlLocale *loc, const GlWchar *ws, const char *mb);

const GlWchar *_gl_pmon_engine(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                               va_list *args);

TV_END_C
