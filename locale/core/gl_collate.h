// The LC_COLLATE section of a locale-object file and the tables derived
// from it. The section layout is described at the top of gl_collate_read.cc.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_locale.h"

TV_BEGIN_C

// One element line: hex count n (1 digit), position (4), n characters (8
// each), line end. 0, or -1 with the locale's error set.
int32_t _gl_read_coll_element(GlFile *f, GlLocale *loc, GlCollElement *e);
// One expansion line: hex count n (1 digit), n characters (8 each), line end.
int32_t _gl_read_coll_expansion(GlFile *f, GlLocale *loc, GlCollExpansion *x);
// Per pass, for every byte, the expansion its weight refers to (or NULL).
int32_t _gl_build_coll_sbexp(GlLocale *loc);
// 256 flags: 1 for every byte that starts a collating element.
int32_t _gl_build_coll_elemstart(GlLocale *loc);

TV_END_C
