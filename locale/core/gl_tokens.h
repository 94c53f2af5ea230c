// Token readers of the locale data files. All input goes through the stream
// hooks (fgetc, getc, ungetc); none skips more than it says.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "platform/api.h"

TV_BEGIN_C

// One byte: a blank or end of file stays consumed, anything else goes back.
void _gl_skip_blank(GlFile *f);
// 1 when the next byte is "\n" (consumed); else 0 and the byte goes back.
int32_t _gl_read_eol(GlFile *f);
// Skips one blank, then a decimal integer (atol); a first byte that is not
// a digit or sign is consumed and gives 0.
int32_t _gl_read_int(GlFile *f);
// Digits, E, e, ., - and + (at most 80), converted as atof.
double _gl_read_double(GlFile *f);
// Exactly min(count, 8) bytes as hex digits (non-hex counts as 0).
uint32_t _gl_read_hex(GlFile *f, int32_t count);
// Two bytes (getc) as one hex byte.
unsigned char _gl_read_hex_byte(GlFile *f);
// A word up to white space: 0, or -1 at end of file or when buf filled.
int32_t _gl_read_word(char *buf, int32_t size, GlFile *f);
// "len hexbytes\n": a block of len + 4 bytes (four zero bytes after the
// text), or NULL with *error set (3 memory, 8 no line end, 11 bad length).
char *_gl_read_string(GlFile *f, int32_t *error);
// "count v1 v2 ...\n" into values[0..15]: 0, or -1 with *error (4, 11).
int32_t _gl_read_int_list(GlFile *f, int32_t *values, int32_t *error);
// Skips white space; -1 at end of file, else the byte pushed back.
int32_t _gl_skip_space(GlFile *f);
uint32_t _gl_ipow(uint32_t base, int32_t n);
double _gl_dpow(double x, int32_t n);

TV_END_C
