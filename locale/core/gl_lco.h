// Locale-object files (".lco", kind "lc", version "11"): the header, the
// section markers, and the LC_CTYPE section. See gl_lco.cc for the format.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Reads the header: 1 with the code-set name in codeset (21 bytes), else 0
// with *error 51 (wrong compiler version) or 11.
int32_t _gl_lco_read_header(GlFile *f, char *codeset, int32_t *error);
// Reads all six categories of one file into a locale whose categories are
// null: 0, or 1 with the error number in the locale.
int32_t _gl_lco_read_all(GlFile *f, GlLocale *loc);
// Reads one category (2-7) into a locale whose category is null; the file's
// code set must be LC_CTYPE's (error 58). 0, or 1 with the error number in
// the locale. The caller runs _gl_locale_refresh afterwards.
int32_t _gl_lco_read_category(GlLocale *loc, int32_t category, GlFile *f);
// The LC_CTYPE section, the stream just after its marker line: 0 or -1.
int32_t _gl_lco_read_ctype(GlFile *f, GlLocale *loc);
// The multibyte form of wc as the LC_COLLATE positions table knows it:
// its length 1-4, or -1 with error 1.
TV_API int32_t _gl_sl_wctomb(GlLocale *loc, char *out, GlWchar wc);

// Largest value of a code table of 16-bit values, its default included.
uint16_t _gl_ct_max_value16(const GlCodeTable *t);

TV_END_C
