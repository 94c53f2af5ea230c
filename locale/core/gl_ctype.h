// Character classes and case, by the locale's LC_CTYPE category.
//
// Class handles: upper 0x0001, lower 0x0002, alpha 0x0004, digit 0x0008,
// space 0x0010, cntrl 0x0020, punct 0x0040, graph 0x0080, print 0x0100,
// xdigit 0x0200, blank 0x0400, alnum 0x000C; a class the locale defines with
// number k has 0x800 << k. A class test returns the class bits AND the
// handle.
//
// A single multibyte case conversion returns (input bytes << 8) | output
// bytes. String conversions need an output of gl_case_conv_outbuflen(n)
// bytes plus the terminator for n input bytes.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_CLASS_UPPER = 0x0001,
  GL_CLASS_LOWER = 0x0002,
  GL_CLASS_ALPHA = 0x0004,
  GL_CLASS_DIGIT = 0x0008,
  GL_CLASS_SPACE = 0x0010,
  GL_CLASS_CNTRL = 0x0020,
  GL_CLASS_PUNCT = 0x0040,
  GL_CLASS_GRAPH = 0x0080,
  GL_CLASS_PRINT = 0x0100,
  GL_CLASS_XDIGIT = 0x0200,
  GL_CLASS_BLANK = 0x0400,
  GL_CLASS_ALNUM = 0x000C,
  GL_CLASS_LOCALE0 = 0x0800,
};

// The handle of a class name (case-sensitive), 0 when none matches.
TV_API uint32_t gl_ctype(GlLocale *loc, const char *name);
TV_API uint32_t _gl_im_iswctype(GlLocale *loc, GlWchar wc, uint32_t handle);
TV_API uint32_t _gl_im_ismctype(GlLocale *loc, const char *s, uint32_t handle);
TV_API uint32_t _zel_gl_im_ismctype(GlLocale *loc, const char *s, int32_t n, uint32_t handle);

TV_API GlWchar _gl_im_towupper(GlLocale *loc, GlWchar wc);
TV_API GlWchar _gl_im_towlower(GlLocale *loc, GlWchar wc);
TV_API uint16_t _gl_im_tomupper(GlLocale *loc, char *out, const char *s);
TV_API uint16_t _gl_im_tomlower(GlLocale *loc, char *out, const char *s);
// 0 (nothing written) when the character is invalid or cut by n.
TV_API uint16_t _zel_gl_im_tomupper(GlLocale *loc, char *out, const char *s, int32_t n);
TV_API uint16_t _zel_gl_im_tomlower(GlLocale *loc, char *out, const char *s, int32_t n);

// Bytes written without the terminator, or -1 (error 1).
TV_API int32_t gl_tombsupper(GlLocale *loc, char *out, const char *s);
TV_API int32_t gl_tombslower(GlLocale *loc, char *out, const char *s);
TV_API int32_t _zel_gl_tombsupper_len(GlLocale *loc, char *out, const char *s, int32_t n);
TV_API int32_t _zel_gl_tombslower_len(GlLocale *loc, char *out, const char *s, int32_t n);
// 0, or -1 (error 1).
TV_API int32_t gl_towcsupper(GlLocale *loc, GlWchar *out, const GlWchar *ws);
TV_API int32_t gl_towcslower(GlLocale *loc, GlWchar *out, const GlWchar *ws);

// Output bytes needed to case-convert n input bytes.
TV_API int32_t gl_case_conv_outbuflen(GlLocale *loc, int32_t n);

TV_END_C
