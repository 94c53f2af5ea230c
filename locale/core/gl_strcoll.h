// String comparison under a locale's collation. _gl_set_coll_funcs (see
// gl_lco_sections.h) puts one of these comparators into the locale's
// mbscoll and mbfscoll slots; gl_full_wcscoll and the general comparator
// serve every kind of locale.
//
// Results: -1 when string 1 sorts first, 1 when it sorts after, 0 when
// equal; 0 also on error, with the error number stored through
// _gl_ext_errno(locale). Counted forms take lengths (bytes, or wide
// characters), -1 meaning NUL-terminated; one -1 without the other is
// error 56.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Wide strings: the passes of the collation tables, the Thai rules, or the
// ICU wrapper.
TV_API int32_t _zel_gl_full_wcscoll(GlLocale *loc, const GlWchar *s1, int32_t l1,
                                    const GlWchar *s2, int32_t l2);
TV_API int32_t gl_full_wcscoll(GlLocale *loc, const GlWchar *s1, const GlWchar *s2);

// The general multibyte comparator: both strings are made wide and compared
// with _zel_gl_full_wcscoll (by code with the locale's code-order flag).
TV_API int32_t _zel_gl_im_mbfscoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                   int32_t l2);
TV_API int32_t _gl_im_mbscoll(GlLocale *loc, const char *s1, const char *s2);

// Fast comparators of single-byte locales, chosen by what the collation
// holds: expansions, collating elements, backward passes.
TV_API int32_t _zel_gl_is_mbfscoll_exp(GlLocale *loc, const char *s1, int32_t l1,
                                       const char *s2, int32_t l2);
TV_API int32_t _gl_is_mbscoll_exp(GlLocale *loc, const char *s1, const char *s2);
TV_API int32_t _zel_gl_is_mbfscoll_elem(GlLocale *loc, const char *s1, int32_t l1,
                                        const char *s2, int32_t l2);
TV_API int32_t _gl_is_mbscoll_elem(GlLocale *loc, const char *s1, const char *s2);
TV_API int32_t _zel_gl_is_mbfscoll_back(GlLocale *loc, const char *s1, int32_t l1,
                                        const char *s2, int32_t l2);
TV_API int32_t _gl_is_mbscoll_back(GlLocale *loc, const char *s1, const char *s2);
// Forward passes only. When both strings end in the same step, the weights
// of the last positions taken from each decide.
TV_API int32_t _zel_gl_is_mbfscoll_exp_elem(GlLocale *loc, const char *s1, int32_t l1,
                                            const char *s2, int32_t l2);
TV_API int32_t _gl_is_mbscoll_exp_elem(GlLocale *loc, const char *s1, const char *s2);

TV_END_C
