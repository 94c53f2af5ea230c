// Locale queries: text items by number, and the version strings of the
// library and of its data-file formats.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Item 0-73 of the locale as multibyte text inside the locale object, or
// NULL (an item outside 0-73 sets no error; a month item past the list's
// length sets error 9).
TV_API char *gl_nl_langinfo(GlLocale *loc, int32_t item);
// The same items as wide strings.
TV_API GlWchar *gl_wc_nl_langinfo(GlLocale *loc, int32_t item);
TV_API const char *gl_version(void);
TV_API const char *gl_lc_version(void);  // "11", locale-object files
TV_API const char *gl_cv_version(void);  // "9", conversion-object files
TV_API const char *gl_cm_version(void);  // "3", the code-set registry

TV_END_C
