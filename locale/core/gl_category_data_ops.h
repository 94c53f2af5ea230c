// Null contents, copies and frees of the text categories, and the two
// halves of the conventions record derived from them.
#pragma once

#include "locale/core/gl_locale.h"

TV_BEGIN_C

void _gl_null_numeric(GlNumericInfo *n);
void _gl_null_monetary(GlNumericInfo *n);
void _gl_null_messages(GlNumericInfo *n);
void _gl_null_time(GlTimeInfo *t);
// Copies one part's pointers, ints and lists; the strings become shared.
void _gl_copy_numeric(GlNumericInfo *dst, const GlNumericInfo *src);
void _gl_copy_monetary(GlNumericInfo *dst, const GlNumericInfo *src);
void _gl_copy_messages(GlNumericInfo *dst, const GlNumericInfo *src);
// Copies every field of LC_TIME but the parsed era records.
void _gl_copy_time(GlTimeInfo *dst, const GlTimeInfo *src);
// Free the strings of one part (the fields are left dangling for the null
// contents or the copy that follows).
void _gl_free_numeric(GlNumericInfo *n);
void _gl_free_monetary(GlNumericInfo *n);
void _gl_free_messages(GlNumericInfo *n);
void _gl_free_time(GlLocale *loc, GlTimeInfo *t);
// Frees the parsed era records and empties the list.
void _gl_free_era_records(GlTimeInfo *t);

// Bytes of a data-file text up to its four zero bytes (not counted).
int64_t _gl_mbs4_len(const char *s, int64_t limit);
// Copy up to the first four consecutive zero bytes, plus four zero bytes;
// NULL for a NULL source or one of 256 bytes or more.
char *_gl_dup_mbs4(const char *s);
// c sizes as c bytes (each size's low byte) and a NUL; NULL for c < 1 or
// c > 255. list[0] is c, list[1..] the sizes.
char *_gl_grouping_bytes(const int32_t *list);
// The wide form of a text through the locale's mbstowcs slot; NULL when
// the slot is not filled yet or the text is NULL.
GlWchar *_gl_text_widen(GlLocale *loc, const char *mb);
// Free and clear one half of lconv; derive it anew from numeric (0, or -1
// with error 3).
void _gl_lconv_free_numeric(GlLconv *lc);
void _gl_lconv_free_monetary(GlLconv *lc);
int32_t _gl_lconv_build_numeric(GlLocale *loc);
int32_t _gl_lconv_build_monetary(GlLocale *loc);

// Frees every node of a name trie (NULL ignored).
void _gl_trie_free(GlLocale *loc, GlNameTrie trie);

TV_END_C
