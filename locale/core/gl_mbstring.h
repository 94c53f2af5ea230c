// Multibyte and wide strings: stepping between characters, lengths, lengths
// without trailing blanks, and copying and appending.
//
// A NUL-terminated multibyte string ends with the locale's terminator (m
// zero bytes where a character begins); a wide string with the value 0. A
// counted string has an explicit length (bytes, or wide characters), -1
// meaning NUL-terminated; of two lengths both are -1 or both explicit
// (error 56), and any other negative length is error 9.
//
// Failure is -1 or NULL with the error number stored through
// _gl_ext_errno(locale); the _zel_gl_ wide forms accept a NULL locale and
// then report failure by their result alone.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Navigation.
TV_API char *gl_full_mbsnext(GlLocale *loc, const char *s);
TV_API char *_zel_gl_full_mbsnext(GlLocale *loc, const char *s, int32_t n);
TV_API char *gl_full_mbsprev(GlLocale *loc, const char *start, const char *pos);
// Character i (0 the first); i equal to the character count gives the
// terminator's position.
TV_API char *gl_full_getmbsi(GlLocale *loc, const char *s, int32_t i);
// Replaces character i by the character at c, moving the rest (terminator
// included); the caller provides the room.
TV_API char *gl_full_putmbsi(GlLocale *loc, char *s, int32_t i, const char *c);
// Offset of pos within its character; the character's length in *len.
TV_API int32_t gl_full_charoffset(GlLocale *loc, const char *start, const char *pos,
                                  int32_t *len);

// Lengths.
TV_API int32_t gl_wcslen(const GlWchar *ws);
TV_API int32_t gl_wcsbytes(const GlWchar *ws);
// Bytes including the terminator; 0 for NULL and for an invalid string.
TV_API int32_t gl_mbsbytes(GlLocale *loc, const char *s);
TV_API int32_t _gl_im_mbslen(GlLocale *loc, const char *s);
TV_API int32_t _zel_gl_im_mbfslen(GlLocale *loc, const char *s, int32_t len);

// Lengths up to and including the last character that is not a trailing
// blank (multibyte: blank and not cntrl; wide: space and not cntrl).
TV_API int32_t gl_mbsntslen(GlLocale *loc, const char *s);
TV_API int32_t _zel_gl_mbsntslen(GlLocale *loc, const char *s, int32_t len);
TV_API int32_t gl_mbsntsbytes(GlLocale *loc, const char *s);
TV_API int32_t _zel_gl_mbsntsbytes(GlLocale *loc, const char *s, int32_t len);
TV_API int32_t gl_wcsntslen(GlLocale *loc, const GlWchar *ws);
TV_API int32_t _zel_gl_wcsntslen(GlLocale *loc, const GlWchar *ws, int32_t len);
// Cuts the trailing blanks off with a terminator: its position, or NULL when
// there were none.
TV_API char *gl_mbsntstrunc(GlLocale *loc, char *s);
// The same for class space over a wide string.
TV_API void gl_wcsntstrunc(GlLocale *loc, GlWchar *ws);

// Copying and appending, multibyte.
TV_API char *gl_full_mbscpy(GlLocale *loc, char *dst, const char *src);
TV_API char *gl_full_mbscat(GlLocale *loc, char *dst, const char *src);
TV_API char *gl_mbsncpy(GlLocale *loc, char *dst, const char *src, int32_t n);
TV_API char *gl_mbsncat(GlLocale *loc, char *dst, const char *src, int32_t n);
TV_API int32_t _zel_gl_mbscpy(GlLocale *loc, char *dst, const char *src, int32_t len);
TV_API int32_t _zel_gl_mbscat(GlLocale *loc, char *dst, int32_t dlen, const char *src,
                              int32_t slen);
TV_API int32_t _zel_gl_mbsncpy(GlLocale *loc, char *dst, const char *src, int32_t len,
                               int32_t n);
TV_API int32_t _zel_gl_mbsncat(GlLocale *loc, char *dst, int32_t dlen, const char *src,
                               int32_t slen, int32_t n);

// Copying and appending, wide.
TV_API GlWchar *gl_wcscpy(GlWchar *dst, const GlWchar *src);
TV_API GlWchar *gl_wcscat(GlWchar *dst, const GlWchar *src);
TV_API GlWchar *gl_wcsncpy(GlWchar *dst, const GlWchar *src, int32_t n);
TV_API GlWchar *gl_wcsncat(GlWchar *dst, const GlWchar *src, int32_t n);
TV_API int32_t _zel_gl_wcscpy(GlLocale *loc, GlWchar *dst, const GlWchar *src, int32_t len);
TV_API int32_t _zel_gl_wcscat(GlLocale *loc, GlWchar *dst, int32_t dlen, const GlWchar *src,
                              int32_t slen);
TV_API int32_t _zel_gl_wcsncpy(GlLocale *loc, GlWchar *dst, const GlWchar *src, int32_t len,
                               int32_t n);
TV_API int32_t _zel_gl_wcsncat(GlLocale *loc, GlWchar *dst, int32_t dlen, const GlWchar *src,
                               int32_t slen, int32_t n);

// Code-value comparisons (no collation data).
TV_API int32_t gl_wcscmp(const GlWchar *s1, const GlWchar *s2);
TV_API int32_t gl_wcsncmp(const GlWchar *s1, const GlWchar *s2, int32_t n);
TV_API int32_t _zel_gl_wcfscmp(const GlWchar *s1, int32_t l1, const GlWchar *s2, int32_t l2);
TV_API int32_t gl_full_mbscmp(GlLocale *loc, const char *s1, const char *s2);
TV_API int32_t gl_full_mbsncmp(GlLocale *loc, const char *s1, const char *s2, int32_t n);
TV_API int32_t _zel_gl_mbscmp(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                              int32_t l2);
// Equality only: 0 when equal, else 1.
TV_API int32_t _zel_gl_fast_mbscmp(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                   int32_t l2);

TV_END_C
