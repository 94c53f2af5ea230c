#include "locale/core/gl_trie.h"

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_support.h"

namespace {

// The locale's lower case of one wide character.
GlWchar Lower(GlLocale *loc, GlWchar c) {
  if (loc->lower_map != nullptr) {
    if (c <= 255) return loc->lower_map[c];
    *_gl_ext_errno(loc) = GL_EILSEQ;
    return c;
  }
  return _gl_im_towlower(loc, c);
}

// The next character of a word: its length (0 at the end), or -1.
int32_t NextChar(GlLocale *loc, const char *s, GlWchar *wc) {
  if (loc->single_byte) {
    *wc = static_cast<unsigned char>(*s);
    return *wc != 0 ? 1 : 0;
  }
  return gl_full_mbtowc(loc, wc, s, 4);
}

GlTrieNode *NewNode(GlLocale *loc, GlWchar ch) {
  auto *n = static_cast<GlTrieNode *>(_gl_malloc(sizeof(GlTrieNode)));
  if (n == nullptr) {
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return nullptr;
  }
  *n = GlTrieNode{ch, 0, 0, nullptr, nullptr};
  return n;
}

}  // namespace

int32_t _gl_trie_insert(GlLocale *loc, GlNameTrie *trie, const char *word, int32_t payload) {
  if (loc == nullptr || trie == nullptr || word == nullptr) return -1;
  GlWchar c;
  int32_t len = NextChar(loc, word, &c);
  if (len < 0) return -1;
  c = Lower(loc, c);
  if (*trie == nullptr && (*trie = NewNode(loc, c)) == nullptr) return -1;
  GlTrieNode *node = *trie;
  for (;;) {
    if (node->ch != c) {
      if (node->next_sibling == nullptr && (node->next_sibling = NewNode(loc, c)) == nullptr) {
        return -1;
      }
      node = node->next_sibling;
      continue;
    }
    word += len;
    len = len == 0 ? 0 : NextChar(loc, word, &c);
    if (len < 0) return -1;
    if (len == 0) {
      node->payload = payload;
      node->word_end = 1;
      return 0;
    }
    c = Lower(loc, c);
    if (node->first_child == nullptr && (node->first_child = NewNode(loc, c)) == nullptr) {
      return -1;
    }
    node = node->first_child;
  }
}

namespace {

// Walks input down the trie; the first word end (longest false) or the
// last one decides. Falls back to the empty word.
int32_t Match(GlLocale *loc, GlNameTrie trie, const GlWchar *input, int32_t *matched,
              int32_t *payload, bool longest) {
  if (loc == nullptr || trie == nullptr || input == nullptr) return -1;
  bool found = false;
  const GlTrieNode *node = trie;
  for (int32_t i = 0; input[i] != 0 && node != nullptr; ++i) {
    GlWchar c = Lower(loc, input[i]);
    while (node != nullptr && node->ch != c) node = node->next_sibling;
    if (node == nullptr) break;
    if (node->word_end) {
      *matched = i + 1;
      *payload = node->payload;
      if (!longest) return 0;
      found = true;
    }
    node = node->first_child;
  }
  if (found) return 0;
  for (const GlTrieNode *n = trie; n != nullptr; n = n->next_sibling) {
    if (n->ch == 0 && n->word_end) {
      *matched = 0;
      *payload = n->payload;
      return 0;
    }
  }
  return -1;
}

}  // namespace

int32_t _gl_trie_wcsmatch(GlLocale *loc, GlNameTrie trie, const GlWchar *input,
                          int32_t *matched, int32_t *payload) {
  return Match(loc, trie, input, matched, payload, false);
}

int32_t _gl_trie_wcsmatch_longest(GlLocale *loc, GlNameTrie trie, const GlWchar *input,
                                  int32_t *matched, int32_t *payload) {
  return Match(loc, trie, input, matched, payload, true);
}
