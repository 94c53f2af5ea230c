// Character streams: reading and writing whole characters of the locale's
// code set, one multibyte or wide character or one line at a time, on a
// file handle through the external file functions, or through a byte
// reader or writer that the caller supplies.
//
// A character is never split: input stops at the end of a character as the
// class table describes it, and nothing is ever pushed back, so bytes of a
// cut or invalid character stay consumed. A line ends with the character of
// m - 1 zero bytes followed by 0x0A (m the shortest character length); a
// wide line with the value 0x0A.
//
// Failures store an error number through _gl_ext_errno(locale): 1 invalid
// sequence or a wide value without a multibyte form, 7 stream ended inside
// a character, 13 stream or writer error, 14 line does not fit, 16 end of
// the stream, 17 a byte read failed with neither end of file nor error set.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// The next byte (0-255), or -1 when there is none.
typedef int (*GlByteReader)(void *arg);
// Writes one byte (0-255): -1 on failure, anything else on success.
typedef int32_t (*GlByteWriter)(int32_t byte, void *arg);

// One character into buf (at most 4 bytes, no terminator); *n_out = bytes
// stored. 0, or -1.
TV_API int32_t gl_getmb(GlLocale *loc, char *buf, GlByteReader reader, void *arg,
                        int32_t *n_out);
// One character from fp into buf: its length, or -1 (16 at the end of the
// file, also inside a character).
TV_API int32_t gl_full_fgetmb(GlLocale *loc, char *buf, GlFile *fp);
// One character from fp: its wide value, or (GlWchar)-1.
TV_API GlWchar gl_full_fgetwc(GlLocale *loc, GlFile *fp);
// One line of at most size bytes, line end and terminator included: buf, or
// NULL.
TV_API char *gl_fgetmbs(GlLocale *loc, char *buf, int32_t size, GlFile *fp);
// One line of at most n wide characters, 0x0A and the 0 included: wbuf, or
// NULL.
TV_API GlWchar *gl_fgetwcs(GlLocale *loc, GlWchar *wbuf, int32_t n, GlFile *fp);

// Writes the character at c (budget n bytes; n < 0: the longest character)
// through writer; *n_out = bytes written. 0, or -1. The NUL character is
// written as the terminator (m zero bytes).
TV_API int32_t gl_putmb(GlLocale *loc, const char *c, int32_t n, GlByteWriter writer, void *arg,
                        int32_t *n_out);
// The same for a character of a counted string: a NUL character is written
// with its real length.
TV_API int32_t _zel_gl_putmb(GlLocale *loc, const char *c, int32_t n, GlByteWriter writer,
                             void *arg, int32_t *n_out);
// The character at c to fp: c, or NULL.
TV_API char *gl_fputmb(GlLocale *loc, const char *c, GlFile *fp);
// The multibyte form of wc to fp: wc, or (GlWchar)-1 with nothing written
// when wc has no multibyte form.
TV_API GlWchar gl_fputwc(GlLocale *loc, GlWchar wc, GlFile *fp);
// s without its terminator, in one write: 0, or -1 (nothing written when a
// character is invalid).
TV_API int32_t gl_fputmbs(GlLocale *loc, const char *s, GlFile *fp);
// Each wide character of ws before its 0: 0, or -1 (the characters before
// the failing one stay written).
TV_API int32_t gl_fputwcs(GlLocale *loc, const GlWchar *ws, GlFile *fp);

TV_END_C
