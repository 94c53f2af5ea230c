// Name tries: small sets of words (day, month and era names, alternate
// digits, am/pm) matched case-insensitively against the start of wide
// input. First-child, next-sibling nodes; siblings in creation order; the
// first word end on the path decides a match.
#pragma once

#include <stdint.h>

#include "locale/core/gl_category_data_ops.h"
#include "locale/core/gl_locale.h"

TV_BEGIN_C

// Inserts a NUL-terminated multibyte word of the locale with its payload
// (an existing word gets the new payload): 0, or -1 (error 3 for memory).
TV_API int32_t _gl_trie_insert(GlLocale *loc, GlNameTrie *trie, const char *word,
                               int32_t payload);
// The word that begins input: 0 with the wide characters matched and the
// payload; the empty word, if inserted, matches with length 0; else -1.
TV_API int32_t _gl_trie_wcsmatch(GlLocale *loc, GlNameTrie trie, const GlWchar *input,
                                 int32_t *matched, int32_t *payload);
// The same by the longest word that begins input (the empty word as
// above). Where one word begins another ("Adar" and "Adar I", the
// alternate digits for ten and eleven) this reads the whole text.
int32_t _gl_trie_wcsmatch_longest(GlLocale *loc, GlNameTrie trie, const GlWchar *input,
                                  int32_t *matched, int32_t *payload);

TV_END_C
