// Field readers of the time parsing engine. Not exported. Each reads at
// *t and moves it past what it read; on failure *t is left as it was and
// the caller stores the field's error number.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"

namespace glptime {

// Days of a gregorian month (from 0) of a year; 0 for a month outside 0-11.
int32_t MonthLength(int32_t month, int32_t year);

bool IsBlank(GlLocale *loc, GlWchar c);
bool IsSpace(GlLocale *loc, GlWchar c);

// A decimal integer field through the integer field reader; a minus fails.
bool ReadDecimal(GlLocale *loc, const GlWchar **t, int32_t width, int32_t precision,
                 int64_t *value);
// A word of the trie first, else of the second trie (may be NULL); the
// payload of the word.
bool ReadName(GlLocale *loc, const GlWchar **t, GlNameTrie first, GlNameTrie second,
              int32_t *payload);
// Fraction digits scaled to microseconds: the first six count, further
// digits are consumed. width <= 0: all digits. At least one digit and the
// precision met.
bool ReadFraction(const GlWchar **t, int32_t width, int32_t precision, int32_t *micro);
// One to four ASCII digits; *digits receives how many.
bool ReadShortYear(const GlWchar **t, int32_t *value, int32_t *digits);

}  // namespace glptime
