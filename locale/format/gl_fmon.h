// Money formatting: amounts written by a strfmon-like format under the
// locale's LC_MONETARY conventions. Also the pieces the number formatting
// and money parsing engines share with it: the layout table that orders
// symbol, sign and value, the wide-to-multibyte writer of a result, and the
// run-time's floating conversions under "C" numeric conventions.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Pieces of a money layout, a list of at most six ending with 0.
enum {
  GL_MON_END = 0,
  GL_MON_LPAREN = 1,  // "("
  GL_MON_SYMBOL = 2,  // the currency symbol of the conversion
  GL_MON_VALUE = 3,   // the digits
  GL_MON_SIGN = 4,    // the sign text
  GL_MON_SPACE = 5,   // one blank
  GL_MON_RPAREN = 6,  // ")"
};

// Fills layout (7 ints) for cs_precedes 0-1, sign_posn 0-4 and
// sep_by_space 0-2; -1 (layout empty) for any other combination.
int32_t _gl_money_layout(int32_t layout[7], int32_t cs_precedes, int32_t sign_posn,
                         int32_t sep_by_space);

// Writes the wide string ws as multibyte text with the locale's terminator
// into out of capacity bytes. Bytes written without the terminator; -1
// with error 14 (it does not fit, terminator included) or 1 (a character
// without a multibyte form).
int32_t _gl_get_mbstring(GlLocale *loc, char *out, const GlWchar *ws, int32_t capacity);

// snprintf of one double under "C" numeric conventions, whatever the
// process's LC_NUMERIC. The text's length, or -1 when it does not fit size
// (terminator included).
int32_t _gl_c_format_double(char *out, int32_t size, const char *format, double x);

// Wide characters (wide entry) or bytes (multibyte entry) written without
// the terminator, or -1: error 14 (no room), 20 (a conversion letter other
// than i and n), 3 (memory), 1 (a character without a multibyte form).
TV_API int32_t gl_wcsfmon(GlLocale *loc, GlWchar *out, int32_t capacity,
                          const GlWchar *format, ...);
TV_API int32_t gl_mbsfmon(GlLocale *loc, char *out, int32_t capacity, const char *format,
                          ...);
int32_t _gl_fmon_engine(GlLocale *loc, GlWchar *out, int32_t capacity, const GlWchar *format,
                        va_list *args);

TV_END_C
