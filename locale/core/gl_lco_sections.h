// The section readers and completion steps that the locale-object file
// reader calls for the categories other than LC_CTYPE, and the choice of the
// collation functions that ends every rebuild of the byte maps.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"

TV_BEGIN_C

// LC_COLLATE, the stream after its marker: 0, or -1 with the locale's error.
int32_t _gl_read_lc_collate(GlFile *f, GlLocale *loc);
// The other four: 0, or -1 with *error set.
int32_t _gl_read_numeric(GlFile *f, GlNumericInfo *info, int32_t *error);
int32_t _gl_read_monetary(GlFile *f, GlNumericInfo *info, int32_t *error);
int32_t _gl_read_messages(GlFile *f, GlNumericInfo *info, int32_t *error);
int32_t _gl_read_time(GlFile *f, GlTimeInfo *info, int32_t *error);
// Completion: 1, 0 without LC_CTYPE data (error 57), -1 on failure.
int32_t _gl_finish_numeric(GlLocale *loc);
int32_t _gl_finish_monetary(GlLocale *loc);
int32_t _gl_finish_messages(GlLocale *loc);
int32_t _gl_finish_time(GlLocale *loc);
// Fills the comparator slots mbscoll, mbfscoll and mbsxfrm.
void _gl_set_coll_funcs(GlLocale *loc);

TV_END_C
