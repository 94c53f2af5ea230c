// Loading whole locales through the process-wide cache.
#include <string.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_lc_cache.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace {

// Room for the file-name form of any specification the parser accepts.
constexpr size_t kFnameSize = 512;

char *CopyText(const char *s) {
  size_t n = strlen(s) + 1;
  auto *copy = static_cast<char *>(_gl_malloc(n));
  if (copy != nullptr) memcpy(copy, s, n);
  return copy;
}

bool SameDir(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

}  // namespace

int32_t gl_lc_load(GlLocale **out, const char *spec, const char *path, const char *dir) {
  if (out == nullptr) return -1;
  *out = nullptr;
  if (spec == nullptr) return -1;
  if (dir != nullptr && *dir == '\0') dir = nullptr;

  char fname[kFnameSize];
  const char *name = spec;
  if (gl_lc_spec2lc_fname(nullptr, spec, fname, path, nullptr) == 0) name = fname;

  for (GlLcNode *n = *_gl_lc_cache_head(); n != nullptr; n = n->next) {
    if (strcmp(n->name, name) == 0 && SameDir(n->dir, dir)) {
      ++n->count;
      *out = n->loc;
      return 0;
    }
  }

  if (gl_create_null_locale_4(out) != 0) return -1;
  GlLocale *loc = *out;
  if (gl_init_glu(loc) != 0) return -1;
  char *result = set_categories(loc, GL_ALL, name, dir);
  gl_destroystring(result);
  if (*_gl_ext_errno(loc) != GL_ENOERROR) return -1;
  if (result == nullptr) {
    *_gl_ext_errno(loc) = GL_ECATFAILED;
    return -1;
  }

  auto *node = static_cast<GlLcNode *>(_gl_malloc(sizeof(GlLcNode)));
  char *key = CopyText(name);
  char *key_dir = dir != nullptr ? CopyText(dir) : nullptr;
  if (node == nullptr || key == nullptr || (dir != nullptr && key_dir == nullptr)) {
    _gl_free(node);
    _gl_free(key);
    _gl_free(key_dir);
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return -1;
  }
  GlLcNode **head = _gl_lc_cache_head();
  *node = GlLcNode{key, loc, 1, key_dir, *head};
  *head = node;
  return 0;
}

void _gl_lc_dump(void) {
  GlLcNode *n = *_gl_lc_cache_head();
  if (n == nullptr) {
    _gl_debug_log("*** No lc nodes saved");
    return;
  }
  _gl_debug_log("*** The lc node list");
  for (int i = 0; n != nullptr; n = n->next, ++i) {
    _gl_debug_logf("    %d", i);
    _gl_debug_logf("        name: %s", n->name);
    _gl_debug_logf("        loc:  0x%lx", reinterpret_cast<unsigned long>(n->loc));
    _gl_debug_logf("        count:  %d", n->count);
  }
}
