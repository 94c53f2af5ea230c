// The character layer: where a multibyte character of the locale's code set
// ends, its 32-bit wide value and back, and whole strings between the
// multibyte and the wide form.
//
// On the table road a wide character is the character's bytes read as one
// big-endian number (UTF-8 E4 B8 AD is 0xE4B8AD), not a code point. The
// string terminator is m zero bytes, m being the shortest character length.
// When the ICU back end serves LC_CTYPE the work goes to the wrapper.
//
// Failure is -1 with the error number stored through _gl_ext_errno(locale):
// 1 for an invalid character, 7 for a character cut by its byte budget.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// What _zel_gl_getmbl fills for callers that measure many characters. Valid
// while the locale is neither freed nor its LC_CTYPE reloaded.
typedef struct GlMblInfo {
  GlLocale *locale;
  const GlCodeNode *root;
  int32_t icu;  // 1 when the ICU back end serves LC_CTYPE
} GlMblInfo;

// Byte length of the character at s within n bytes; 0 for NULL s and for
// the NUL character.
TV_API int32_t gl_full_mblen(GlLocale *loc, const char *s, int32_t n);
// The same, except that the NUL character has its real length.
TV_API int32_t _zel_gl_full_mblen(GlLocale *loc, const char *s, int32_t n);
TV_API int32_t _zel_gl_getmbl(GlLocale *loc, GlMblInfo *info);
// Length of the character at s without a budget (the character must be
// complete in memory).
TV_API int32_t _zel_gl_fast_mblen(const GlMblInfo *info, const char *s);
// Bytes of the multibyte form of wc (1 in a single-byte locale).
TV_API int32_t gl_wclen(GlLocale *loc, GlWchar wc);

TV_API int32_t gl_mb_loc_max(GlLocale *loc);
TV_API int32_t gl_mb_loc_min(GlLocale *loc);
// Writes the terminator (m zero bytes) at p; returns m.
TV_API int32_t gl_mbsterm(GlLocale *loc, char *p);
// m when p starts with the terminator, else 0.
TV_API int32_t gl_ismbsterm(GlLocale *loc, const char *p);

// n <= 0 (also -1) is error 7; else _zel_gl_full_mbtowc.
TV_API int32_t gl_full_mbtowc(GlLocale *loc, GlWchar *wc, const char *s, int32_t n);
// The wide value of the character at s and its length; 0 for the NUL
// character; n -1 means s is NUL-terminated.
TV_API int32_t _zel_gl_full_mbtowc(GlLocale *loc, GlWchar *wc, const char *s, int32_t n);
// _zel_gl_full_mbtowc, and the character's class bits AND mask in
// *class_out (0 for NULL s, the NUL character and every failure).
TV_API int32_t _zel_gl_full_mbdescribe(GlLocale *loc, GlWchar *wc, const char *s,
                                       uint32_t *class_out, uint32_t mask, int32_t n);
// Writes the 1-4 bytes of wc (no terminator); -1 with error 1 when wc has
// no multibyte form (the bytes that passed stay written).
TV_API int32_t gl_full_wctomb(GlLocale *loc, char *out, GlWchar wc);

// Strings: len is the input length (-1: NUL-terminated), count the output
// capacity; the result is the units written without the terminator, or -1.
// Single-byte locales: every byte is one character.
TV_API int32_t _gl_is_mbstowcs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t count);
TV_API int32_t _zel_gl_is_mbfstowcfs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t len,
                                     int32_t count);
// Any table locale; a character cut by the end of counted input is error 1.
TV_API int32_t _gl_im_mbstowcs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t count);
TV_API int32_t _zel_gl_im_mbfstowcfs(GlLocale *loc, GlWchar *wcs, const char *mbs, int32_t len,
                                     int32_t count);
// Single-byte locales: a value above 255 is error 1.
TV_API int32_t _gl_is_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t count);
TV_API int32_t _zel_gl_is_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t len,
                                   int32_t count);
// Any locale; stops without error when the next character does not fit.
TV_API int32_t gl_full_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t count);
TV_API int32_t _zel_gl_full_wcstombs(GlLocale *loc, char *mbs, const GlWchar *wcs, int32_t len,
                                     int32_t count);

TV_END_C
