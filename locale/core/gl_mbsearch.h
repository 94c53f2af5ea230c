// Searching multibyte and wide strings: a character (first or last), the
// leading run of characters in or not in a set, the first character in a
// set, and a substring, each for NUL-terminated multibyte strings, counted
// multibyte strings (_zel_ forms; length -1 = NUL-terminated) and wide
// strings.
//
// Characters are compared whole, as the locale's code set divides the
// string, so a search never matches bytes that lie inside a character. Not
// finding anything is NULL (or a count) with the error number set to 0, so
// a caller tells it from a failure by the error number. Errors: 1 invalid
// character, 2 NULL string, 3 no memory for a set, 7 character cut by the
// bytes that remain (or a counted character budget below 1), 9 a negative
// length other than -1, 56 one length -1 and the other explicit. The wide
// forms accept a NULL locale and then store nothing.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

TV_API char *gl_full_mbschr(GlLocale *loc, const char *s, const char *c);
TV_API char *gl_full_mbsrchr(GlLocale *loc, const char *s, const char *c);
TV_API char *_zel_gl_mbschr(GlLocale *loc, const char *s, int32_t slen, const char *c,
                            int32_t clen);
TV_API char *_zel_gl_mbsrchr(GlLocale *loc, const char *s, int32_t slen, const char *c,
                             int32_t clen);

TV_API int32_t gl_full_mbsspn(GlLocale *loc, const char *s, const char *set);
TV_API int32_t gl_full_mbscspn(GlLocale *loc, const char *s, const char *set);
TV_API char *gl_full_mbspbrk(GlLocale *loc, const char *s, const char *set);
TV_API int32_t _zel_gl_mbsspn(GlLocale *loc, const char *s, int32_t slen, const char *set,
                              int32_t setlen);
TV_API int32_t _zel_gl_mbscspn(GlLocale *loc, const char *s, int32_t slen, const char *set,
                               int32_t setlen);
TV_API char *_zel_gl_mbspbrk(GlLocale *loc, const char *s, int32_t slen, const char *set,
                             int32_t setlen);

TV_API char *gl_full_mbsmbs(GlLocale *loc, const char *s, const char *sub);
TV_API char *_zel_gl_mbsmbs(GlLocale *loc, const char *s, int32_t slen, const char *sub,
                            int32_t sublen);

TV_API GlWchar *gl_wcschr(GlLocale *loc, const GlWchar *ws, GlWchar wc);
TV_API GlWchar *gl_wcsrchr(GlLocale *loc, const GlWchar *ws, GlWchar wc);
TV_API GlWchar *_zel_gl_wcschr(GlLocale *loc, const GlWchar *ws, int32_t len, GlWchar wc);
TV_API GlWchar *_zel_gl_wcsrchr(GlLocale *loc, const GlWchar *ws, int32_t len, GlWchar wc);
TV_API int32_t gl_wcsspn(GlLocale *loc, const GlWchar *ws, const GlWchar *set);
TV_API int32_t gl_wcscspn(GlLocale *loc, const GlWchar *ws, const GlWchar *set);
TV_API int32_t _zel_gl_wcsspn(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *set,
                              int32_t setlen);
TV_API int32_t _zel_gl_wcscspn(GlLocale *loc, const GlWchar *ws, int32_t len,
                               const GlWchar *set, int32_t setlen);
TV_API GlWchar *gl_wcspbrk(GlLocale *loc, const GlWchar *ws, const GlWchar *set);
TV_API GlWchar *_zel_gl_wcspbrk(GlLocale *loc, const GlWchar *ws, int32_t len,
                                const GlWchar *set, int32_t setlen);
TV_API GlWchar *gl_wcswcs(GlLocale *loc, const GlWchar *ws, const GlWchar *sub);
TV_API GlWchar *_zel_gl_wcswcs(GlLocale *loc, const GlWchar *ws, int32_t len, const GlWchar *sub,
                               int32_t sublen);

TV_END_C
