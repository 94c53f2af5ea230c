#include "locale/core/gl_lc_cache.h"

#include "locale/core/gl_support.h"

namespace {
GlLcNode *g_head;
}

GlLcNode **_gl_lc_cache_head(void) { return &g_head; }

GlLcNode *_gl_lc_cache_find(const GlLocale *loc) {
  for (GlLcNode *n = g_head; n != nullptr; n = n->next) {
    if (n->loc == loc) return n;
  }
  return nullptr;
}

void _gl_lc_cache_remove(GlLcNode *node) {
  for (GlLcNode **p = &g_head; *p != nullptr; p = &(*p)->next) {
    if (*p == node) {
      *p = node->next;
      _gl_free(node->name);
      _gl_free(node->dir);
      _gl_free(node);
      return;
    }
  }
}
