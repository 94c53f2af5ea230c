// The refresh that every change of a locale object's categories ends with.
#pragma once

#include "locale/core/gl_locale.h"

TV_BEGIN_C

// Recomputes single_byte, code_order and coll_icu from the categories,
// rebuilds the byte maps and the conversion and collation slots, and checks
// that every set category shares LC_CTYPE's code set (error 12).
// 0, or -1 with the error number set.
int32_t _gl_locale_refresh(GlLocale *loc);

// Single-byte locales: the 256-entry upper, lower and class maps (an
// existing case map is kept as the source of the new one) and the
// single-byte conversion slots; other locales: the multibyte conversion
// slots. Then the collation slots. 0, or -1 with error 3.
int32_t _gl_build_byte_maps(GlLocale *loc);

TV_END_C
