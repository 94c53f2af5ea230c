// The process-wide cache of whole locales shared by reference count
// (newest entry first). Not locked: changed only during set-up.
#pragma once

#include "locale/core/gl_locale.h"

TV_BEGIN_C

typedef struct GlLcNode {
  char *name;      // the name the locale was loaded under (own copy)
  GlLocale *loc;   // owned by the entry
  int32_t count;   // references handed out
  char *dir;       // the directory it was loaded from (own copy), or NULL
  struct GlLcNode *next;
} GlLcNode;

// The head of the list.
GlLcNode **_gl_lc_cache_head(void);
// The entry holding loc, or NULL.
GlLcNode *_gl_lc_cache_find(const GlLocale *loc);
// Unlinks an entry and frees it and its name (not its locale).
void _gl_lc_cache_remove(GlLcNode *node);

TV_END_C
