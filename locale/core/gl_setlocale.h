// Creating locale objects from the default locale file, setting their
// categories from locale names, and the process-wide cache of whole
// locales shared by reference count.
//
// A locale name is the name of a locale-object file as the data-file search
// finds it under kind "lc", version "11" ("en_us/0333.lco"), or "native"
// (the default file, never served by the ICU back end). A composite name
// holds, for any category, its keyword ("GL_CTYPE" ... "GL_MESSAGES")
// followed somewhere by "=", optional blanks and the category's name up to
// the next blank:
//   "GL_CTYPE = en_us/0333.lco ; GL_COLLATE = en_us/0333.lco ; ... ; "
// A text without a category's keyword is that category's name as a whole.
// An empty text takes the name from GL_ALL, GL_<category> or GL_LANG (the
// first one set), else "default.lco".
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_SETLOCALE_RESULT_SIZE = 311,  // bytes of a gl_setlocale_4 result
  GL_SETLOCALE_MAX_TEXT = 311,     // characters of the text it accepts
  GL_CATEGORY_NAME_MAX = 127,      // characters of one category's name
  GL_SHORT_NAME_MAX = 33,          // characters kept of a name
  GL_CREATE_DIR_MAX = 116,         // characters of a gl_createlocale2_4 directory
};

// A new locale with all six categories read from "default.lco": 0, or -1
// with *loc holding a static error object (error 8 no file, 3 memory) or
// the partly loaded object (its error number says why; free it with
// gl_lc_unload). dir, when given, is tried first and ends with its own
// separator.
TV_API int32_t gl_createlocale_4(GlLocale **loc);
TV_API int32_t gl_createlocale2_4(GlLocale **loc, const char *dir);

// Sets category 2-7 of loc, or all six for 1, from name (see above) and
// returns the names now set (freed with gl_destroystring); with a NULL
// name changes nothing and returns the current names. NULL with loc's
// error number on failure; a failing refresh leaves its error number (12)
// beside a valid result. Objects shared through the cache are refused
// (error 9): changing one would change it for every holder.
TV_API char *gl_setlocale_4(GlLocale *loc, int32_t category, const char *name);

// The worker of gl_setlocale_4 and gl_lc_load; dir, when given, is where
// the files are opened instead of the search.
char *set_categories(GlLocale *loc, int32_t category, const char *name, const char *dir);
// Chooses the name of one category from text, opens its file and reads the
// category: 0, or 1 with the error number set (or not). name_out receives
// the name (GL_CATEGORY_NAME_MAX + 1 bytes).
int32_t _gl_set_category(GlLocale *loc, int32_t category, const char *text, char *name_out,
                         const char *dir);
// After a category was read: whether the ICU back end serves it, attaching
// its ICU locale (shared with another category of the same name). 0, or 1
// when the ICU locale cannot be opened.
int32_t set_categories_glu(GlLocale *loc, int32_t category, const char *name);

// The cached locale of a specification (turned into a locale-file name with
// the registry at path), loaded and cached on first use: 0, or -1 (*loc then
// holds a static error object, or an uncached object to free with
// gl_lc_unload, or NULL when spec is NULL). Every success is one reference,
// given back with gl_lc_unload. Locales loaded from a directory are cached
// apart from those the search found.
TV_API int32_t gl_lc_load(GlLocale **loc, const char *spec, const char *path, const char *dir);
// Writes the cache to the debug log.
TV_API void _gl_lc_dump(void);

TV_END_C
