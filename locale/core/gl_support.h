// Small support routines of the locale library: allocation through the
// hooks, digit counts, text lines, counted characters and the debug log.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// One multibyte character as a counted byte string, most significant first.
typedef struct GlCountedChar {
  int32_t length;  // 1-4
  unsigned char bytes[4];
} GlCountedChar;

// NULL for size 0 without calling the malloc slot; else _gl_ext_malloc.
void *_gl_malloc(uint64_t size);
// Ignores NULL; else _gl_ext_free.
void _gl_free(void *p);
// Frees a string the library returned to its caller.
TV_API void gl_destroystring(char *s);
// _gl_ext_getenv, with an empty value counting as unset.
const char *_gl_getenv_nonempty(const char *name);
// Digits of |value| in base (at least 1); INT_MIN does not overflow.
int32_t _gl_ndigits(int32_t value, int32_t base);
int32_t _gl_undigits(uint32_t value, int32_t base);
// 1 when a non-empty line read by fgets does not end in a line feed.
int32_t _gl_line_incomplete(const char *line);
// Replaces a final line feed by NUL and returns 0; else 1.
int32_t _gl_chop_newline(char *line);
// "Assert in %s at line %ld failed.\n" on standard error, then exit(1).
[[noreturn]] void _gl_assert_fail(const char *file, long line);
// out = c + delta over c's bytes as one big-endian number (carry or borrow
// out of the first byte dropped).
void _gl_cchar_add(const GlCountedChar *c, int32_t delta, GlCountedChar *out);
int32_t _gl_cchar_equal(const GlCountedChar *a, const GlCountedChar *b);
uint32_t _gl_cchar_value(const GlCountedChar *c);

// Writes one message to "lxr.log" (LXRLOG=on...) and/or standard output as
// "LXR: message" (LXRDEBUG=on...). The switches are read at the first call.
void _gl_debug_log(const char *message);
// printf-style front of _gl_debug_log.
void _gl_debug_logf(const char *format, ...) __attribute__((format(printf, 1, 2)));

TV_END_C
