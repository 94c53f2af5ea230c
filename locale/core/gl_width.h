// Display width: how many columns of a character terminal a character or a
// string takes. The NUL character is 0 columns, a character of the locale's
// "full_width" class 2, any other printable character 1; a non-printable
// character has no width (error 7), except that gl_mbwidth gives a one-byte
// control character 1 column.
//
// When the ICU back end serves LC_CTYPE the printable characters are
// measured by the wrapper; a non-printable character may then take its
// width from the map file pua.map (ZEL_PUA_DISPLAY_MAPPING set).
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

TV_API int32_t gl_wcwidth(GlLocale *loc, GlWchar wc);
TV_API int32_t gl_mbwidth(GlLocale *loc, const char *s);
// The first n characters, fewer when the string ends first; n < 0 is error 4.
TV_API int32_t gl_wcswidth(GlLocale *loc, const GlWchar *ws, int32_t n);
TV_API int32_t gl_mbswidth(GlLocale *loc, const char *s, int32_t n);
// The characters from the start up to end (or the string's end); an end
// below the start is error 5.
TV_API int32_t gl_wcspwidth(GlLocale *loc, const GlWchar *ws, const GlWchar *end);
TV_API int32_t gl_mbspwidth(GlLocale *loc, const char *s, const char *end);
// The width pua.map gives the character at s, -1 when it cannot tell.
TV_API int32_t gl_mbwidth_PUA(GlLocale *loc, const char *s);

// Class bits (AND handle) of a wide character: through the single-byte
// class map when the locale has one (a value above 255 is then in no class
// and stores error 1), else the class table or the ICU wrapper.
uint32_t _gl_wc_class(GlLocale *loc, GlWchar wc, uint32_t handle);
// The same for the multibyte character at s.
uint32_t _gl_mb_class(GlLocale *loc, const char *s, uint32_t handle);

TV_END_C
