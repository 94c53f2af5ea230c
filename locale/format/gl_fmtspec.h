// What the formatting and parsing engines of the locale library share: the
// parser of one conversion specification (flags, width, precision between
// '%' and the conversion letter), the writer of an integer field with width,
// fill, sign, prefix and the locale's digit grouping, the grouping walk and
// the sign writer. Everything works on wide characters; widths are display
// columns (gl_wcwidth, gl_mbswidth), not characters.
//
// Field writers share an output state with their engine: a running count of
// characters, the capacity of the output area in characters (a field of n
// characters fits when count + n <= capacity) and an output cursor. A field
// that does not fit writes nothing and fails with error 14.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_FMT_GROUP = 0x1,       // "'": digits grouped by the thousands separator
  GL_FMT_LEFT = 0x2,        // '-': left-justified
  GL_FMT_PLUS = 0x4,        // '+': the positive sign before a non-negative number
  GL_FMT_SPACE = 0x8,       // ' ': blanks in the positive sign's place
  GL_FMT_ZERO = 0x10,       // '0': pad with zeros on the left
  GL_FMT_UPPER = 0x80,      // digits above 9 and the hex prefix in upper case
  GL_FMT_ALT = 0x100,       // '#': "0x" before base 16, a leading zero in base 8
  GL_FMT_ARGWIDTH = 0x200,  // set by the caller: '*' takes the width from the arguments
  GL_FMT_SUPPRESS = 0x400,  // '*' without an argument list: assign nothing
};

// One parsed conversion specification. The caller presets every field;
// the parser changes only the fields the conversion's text gives.
typedef struct GlFormatSpec {
  uint32_t flags;
  int32_t width;      // display columns, 0 for none
  int32_t precision;  // -1 for none
  int32_t justify;    // -1 left, 0 right
  GlWchar pad;        // ' ' or '0'
  int32_t argpos;     // "N$" right after '%'
} GlFormatSpec;

// Presets a specification: no flags, width 0, no precision, right-justified
// with blanks.
void _gl_fmtspec_preset(GlFormatSpec *spec);

// Parses from *cursor (just after '%') to the length modifier or conversion
// letter, where *cursor is left. args: the engine's argument list, or NULL
// when it has none (then no argument is ever read). argpos: where an "N$"
// position goes, or NULL. 0, or -1 with error 45 (a '.' followed by
// neither '*', a digit nor an ASCII letter; a width or precision beyond
// 32 bits).
int32_t _gl_parse_fmtspec(GlLocale *loc, const GlWchar **cursor, GlFormatSpec *spec,
                          int32_t *argpos, va_list *args);

// Writes the integer field of a magnitude (negative: the locale's negative
// sign precedes it) in base 2-36. 0; -1 with error 9 (base above 36) or 14
// (the field does not fit: nothing written, the state unchanged).
int32_t _gl_put_uint_field(GlLocale *loc, uint32_t magnitude, int32_t negative, int32_t base,
                           int32_t *count, int32_t capacity, GlWchar **out, int32_t width,
                           int32_t precision, uint32_t flags);
int32_t _gl_put_uint64_field(GlLocale *loc, uint64_t magnitude, int32_t negative, int32_t base,
                             int32_t *count, int32_t capacity, GlWchar **out, int32_t width,
                             int32_t precision, uint32_t flags);

// The grouping walk over d digits by the locale's LC_NUMERIC grouping list
// (count, then sizes from the rightmost group; 0 repeats the size before it,
// -1 ends the grouping, the last size repeats).
enum { GL_GROUP_BACKWARD = 0, GL_GROUP_FORWARD = 1 };
typedef struct GlGroupWalk {
  int32_t index;      // the group being written, 1 the rightmost
  int32_t left;       // digits left before the next separator
  int32_t remaining;  // separators still to place
} GlGroupWalk;

// The number of separators d digits need; fills the walk state for the
// direction (backward from the last digit, forward from the first).
int32_t _gl_group_count(GlLocale *loc, int32_t digits, int32_t direction, GlGroupWalk *walk);
// Counts one digit; when it completes a group and separators remain, writes
// the thousands separator (backward: before *out, moving it back; forward:
// at *out, moving it on).
void _gl_group_step(GlLocale *loc, GlWchar **out, GlGroupWalk *walk, int32_t direction);
// Writes the sign: the negative sign, the positive sign (GL_FMT_PLUS), one
// blank per character of the positive sign (GL_FMT_SPACE) or nothing.
void _gl_put_sign(GlLocale *loc, GlWchar **out, int32_t negative, uint32_t flags,
                  int32_t direction);

// Characters and display width of a locale text given by its wide form
// (NULL counts as empty).
int32_t _gl_text_chars(const GlWchar *ws);
int32_t _gl_text_width(GlLocale *loc, const GlWchar *ws);

TV_END_C
