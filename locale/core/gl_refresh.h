// The refresh that every change of a locale object's categories ends with.
#pragma once

#include "locale/core/gl_locale.h"

TV_BEGIN_C

// Recomputes single_byte, code_order and coll_icu from the categories and
// checks that every set category shares LC_CTYPE's code set (error 12).
// 0, or -1 with the error number set.
int32_t _gl_locale_refresh(GlLocale *loc);

TV_END_C
