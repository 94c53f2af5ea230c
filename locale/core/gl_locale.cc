// Locale objects: creation with the null contents, emptying, freeing and
// copying of categories.
#include "locale/core/gl_locale.h"

#include <string.h>

#include "locale/core/gl_category_data_ops.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_lc_cache.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_support.h"

namespace {

// Handed back when creation fails; never freed. Only the error number is
// ever read.
GlLocale g_error_nomem = [] {
  GlLocale l{};
  l.error = GL_ENOMEM;
  return l;
}();
GlLocale g_error_nofile = [] {
  GlLocale l{};
  l.error = GL_ENOFILE;
  return l;
}();

bool ValidCategory(int32_t c) { return c >= GL_CTYPE && c <= GL_MESSAGES; }
int Idx(int32_t c) { return c - GL_CTYPE; }

// A new empty code table of 16-bit values with default 0.
GlCodeTable *NullTable(GlLocale *loc) {
  const uint16_t zero = 0;
  GlCodeTable *t = _gl_ct_create(2, 0, &zero);
  if (t == nullptr) *_gl_ext_errno(loc) = GL_ENOMEM;
  return t;
}

void FreeMaps(GlLocale *loc) {
  _gl_free(loc->upper_map);
  _gl_free(loc->lower_map);
  _gl_free(loc->class_map);
  loc->upper_map = loc->lower_map = nullptr;
  loc->class_map = nullptr;
}

// What every category's null or free step ends with.
void ClearCategoryIdentity(GlLocale *loc, int32_t c) {
  loc->codesets[Idx(c)][0] = '\0';
  loc->names[Idx(c)][0] = '\0';
  _gl_release_icu_locale(loc, c);
  loc->icu_in_use[Idx(c)] = 0;
}

void FreeCollate(GlLocale *loc) {
  _gl_ct_free(loc->coll_positions);
  loc->coll_positions = nullptr;
  int32_t np = loc->coll_npasses;
  if (np > GL_MAX_PASSES) np = GL_MAX_PASSES;
  for (int32_t p = 0; p < np; ++p) {
    _gl_free(loc->coll_weights[p]);
    loc->coll_weights[p] = nullptr;
  }
  if (loc->coll_nelements != 0 && loc->coll_elements != nullptr) {
    for (int32_t i = 0; i < loc->coll_nelements; ++i) _gl_free(loc->coll_elements[i].chars);
    _gl_free(loc->coll_elements);
  }
  loc->coll_elements = nullptr;
  if (loc->coll_nexpansions != 0 && loc->coll_expansions != nullptr) {
    for (int32_t i = 0; i < loc->coll_nexpansions; ++i) _gl_free(loc->coll_expansions[i].chars);
    _gl_free(loc->coll_expansions);
  }
  loc->coll_expansions = nullptr;
  for (int32_t p = 0; p < np; ++p) {
    _gl_free(loc->coll_sbexp[p]);
    loc->coll_sbexp[p] = nullptr;
  }
  if (loc->coll_nelements > 0) _gl_free(loc->coll_sbelemstart);
  loc->coll_sbelemstart = nullptr;
  if (loc->coll_ignorables != nullptr) {
    for (char **s = loc->coll_ignorables; *s != nullptr; ++s) _gl_free(*s);
    _gl_free(loc->coll_ignorables);
    loc->coll_ignorables = nullptr;
  }
  if (loc->coll_equivalents != nullptr) {
    // Consecutive members of one class share their representative.
    const char *last_rep = nullptr;
    for (GlCollEquivalent *e = loc->coll_equivalents; e->member != nullptr; ++e) {
      _gl_free(e->member);
      if (e->representative != last_rep) {
        _gl_free(e->representative);
        last_rep = e->representative;
      }
    }
    _gl_free(loc->coll_equivalents);
    loc->coll_equivalents = nullptr;
  }
}

void FreeCtype(GlLocale *loc) {
  _gl_ct_free(loc->class_table);
  _gl_ct_free(loc->case_table);
  loc->class_table = loc->case_table = nullptr;
  if (loc->classes != nullptr) {
    for (int32_t i = 0; i < loc->class_count; ++i) _gl_free(loc->classes[i].name);
    _gl_free(loc->classes);
    loc->classes = nullptr;
  }
  _gl_free(loc->case_pairs);
  loc->case_pairs = nullptr;
  FreeMaps(loc);
}

// Frees the parts of an object that are always its own.
void FreeOwnParts(GlLocale *loc) {
  _gl_lconv_free_numeric(&loc->lconv);
  _gl_lconv_free_monetary(&loc->lconv);
  _gl_free_era_records(&loc->time);
  _gl_free(loc);
}

// The category checks of gl_copy_cat: 0, 18 or 19.
int32_t CopyCheck(const GlLocale *dst, const GlLocale *src, int32_t c) {
  if (src->names[Idx(c)][0] == '\0' || src->codesets[Idx(c)][0] == '\0') return GL_ENOTSET;
  if (dst->names[Idx(c)][0] != '\0' || dst->codesets[Idx(c)][0] != '\0') return GL_EALREADYSET;
  return GL_ENOERROR;
}

void CopyCategory(GlLocale *dst, GlLocale *src, int32_t c) {
  gl_free_category(dst, c);
  switch (c) {
    case GL_CTYPE:
      dst->class_table = src->class_table;
      dst->class_count = src->class_count;
      dst->classes = src->classes;
      dst->case_table = src->case_table;
      dst->case_pairs = src->case_pairs;
      dst->case_factor = src->case_factor;
      break;
    case GL_COLLATE:
      dst->coll_positions = src->coll_positions;
      dst->coll_npasses = src->coll_npasses;
      dst->coll_maxpos = src->coll_maxpos;
      dst->coll_nexpansions = src->coll_nexpansions;
      dst->coll_nelements = src->coll_nelements;
      dst->coll_maxweight = src->coll_maxweight;
      memcpy(dst->coll_direction, src->coll_direction, sizeof dst->coll_direction);
      memcpy(dst->coll_weights, src->coll_weights, sizeof dst->coll_weights);
      dst->coll_expansions = src->coll_expansions;
      dst->coll_elements = src->coll_elements;
      dst->coll_codeorder = src->coll_codeorder;
      memcpy(dst->coll_sbexp, src->coll_sbexp, sizeof dst->coll_sbexp);
      dst->coll_sbelemstart = src->coll_sbelemstart;
      dst->coll_kind = src->coll_kind;
      dst->coll_ignorables = src->coll_ignorables;
      dst->coll_equivalents = src->coll_equivalents;
      break;
    case GL_NUMERIC:
      _gl_copy_numeric(&dst->numeric, &src->numeric);
      _gl_lconv_build_numeric(dst);
      break;
    case GL_MONETARY:
      _gl_copy_monetary(&dst->numeric, &src->numeric);
      _gl_lconv_build_monetary(dst);
      break;
    case GL_TIME:
      _gl_copy_time(&dst->time, &src->time);
      break;
    case GL_MESSAGES:
      _gl_copy_messages(&dst->numeric, &src->numeric);
      break;
  }
  memcpy(dst->codesets[Idx(c)], src->codesets[Idx(c)], GL_CODESET_SIZE);
  memcpy(dst->names[Idx(c)], src->names[Idx(c)], GL_NAME_SIZE);
}

}  // namespace

const char *_gl_category_keyword(int32_t category) {
  switch (category) {
    case GL_CTYPE: return "GL_CTYPE";
    case GL_COLLATE: return "GL_COLLATE";
    case GL_NUMERIC: return "GL_NUMERIC";
    case GL_MONETARY: return "GL_MONETARY";
    case GL_TIME: return "GL_TIME";
    case GL_MESSAGES: return "GL_MESSAGES";
    default: return nullptr;
  }
}

GlLocale *_gl_error_locale(int32_t error) {
  return error == GL_ENOMEM ? &g_error_nomem : &g_error_nofile;
}

int32_t _gl_is_error_locale(const GlLocale *loc) {
  return (loc == &g_error_nomem || loc == &g_error_nofile) ? 1 : 0;
}

int32_t gl_create_null_locale_4(GlLocale **out) {
  auto *loc = static_cast<GlLocale *>(_gl_malloc(sizeof(GlLocale)));
  if (loc == nullptr) {
    *out = &g_error_nomem;
    return -1;
  }
  // Every field starts in a known state; the steps below set the null
  // contents explicitly.
  memset(loc, 0, sizeof *loc);
  *out = loc;
  *_gl_ext_errno(loc) = GL_ENOERROR;
  loc->case_factor = 1.0;
  loc->coll_expansion_factor = 1.0;
  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
    loc->icu_locale[Idx(c)] = nullptr;
    gl_make_null_category(loc, c);
  }
  loc->icu_off = 0;
  return 0;
}

GlLocale *gl_make_null_category(GlLocale *loc, int32_t category) {
  if (loc == nullptr || !ValidCategory(category)) return loc;
  switch (category) {
    case GL_CTYPE:
      loc->class_table = NullTable(loc);
      loc->case_table = NullTable(loc);
      loc->class_count = 0;
      loc->classes = nullptr;
      loc->case_pairs = nullptr;
      loc->case_factor = 1.0;
      FreeMaps(loc);
      break;
    case GL_COLLATE:
      loc->coll_positions = NullTable(loc);
      loc->coll_npasses = loc->coll_nexpansions = loc->coll_nelements = 0;
      loc->coll_codeorder = 0;
      loc->coll_kind = GL_COLL_NONE;
      for (auto &t : loc->coll_sbexp) t = nullptr;
      loc->coll_sbelemstart = nullptr;
      loc->coll_expansions = nullptr;
      loc->coll_elements = nullptr;
      for (auto &w : loc->coll_weights) w = nullptr;
      loc->coll_ignorables = nullptr;
      loc->coll_equivalents = nullptr;
      loc->coll_icu = 0;
      break;
    case GL_NUMERIC:
      _gl_null_numeric(&loc->numeric);
      _gl_lconv_free_numeric(&loc->lconv);
      break;
    case GL_MONETARY:
      _gl_null_monetary(&loc->numeric);
      _gl_lconv_free_monetary(&loc->lconv);
      break;
    case GL_TIME:
      _gl_null_time(&loc->time);
      break;
    case GL_MESSAGES:
      _gl_null_messages(&loc->numeric);
      break;
  }
  ClearCategoryIdentity(loc, category);
  return loc;
}

GlLocale *gl_free_category(GlLocale *loc, int32_t category) {
  if (loc == nullptr || !ValidCategory(category)) return loc;
  switch (category) {
    case GL_CTYPE: FreeCtype(loc); break;
    case GL_COLLATE: FreeCollate(loc); break;
    case GL_NUMERIC:
      _gl_free_numeric(&loc->numeric);
      _gl_null_numeric(&loc->numeric);
      _gl_lconv_free_numeric(&loc->lconv);
      break;
    case GL_MONETARY:
      _gl_free_monetary(&loc->numeric);
      _gl_null_monetary(&loc->numeric);
      _gl_lconv_free_monetary(&loc->lconv);
      break;
    case GL_TIME:
      _gl_free_time(loc, &loc->time);
      _gl_null_time(&loc->time);
      break;
    case GL_MESSAGES:
      _gl_free_messages(&loc->numeric);
      _gl_null_messages(&loc->numeric);
      break;
  }
  ClearCategoryIdentity(loc, category);
  return loc;
}

void gl_free_nonshared_loc(GlLocale *loc) {
  if (loc == nullptr || _gl_is_error_locale(loc)) return;
  if (GlLcNode *node = _gl_lc_cache_find(loc)) {
    if (--node->count > 0) return;
    _gl_lc_cache_remove(node);
  } else {
    FreeMaps(loc);
    // A category that was never set still holds the object's own null
    // tables (a copy always brings a name): free those, never shared data.
    for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
      if (loc->names[Idx(c)][0] == '\0') gl_free_category(loc, c);
    }
  }
  FreeOwnParts(loc);
}

void gl_lc_unload(GlLocale *loc) {
  if (loc == nullptr || _gl_is_error_locale(loc)) return;
  if (GlLcNode *node = _gl_lc_cache_find(loc)) {
    if (--node->count >= 1) return;
    _gl_lc_cache_remove(node);
  }
  _gl_debug_logf("freeing locale 0x%lx\n", reinterpret_cast<unsigned long>(loc));
  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) gl_free_category(loc, c);
  FreeMaps(loc);
  // The conventions record and era records are the object's own too.
  FreeOwnParts(loc);
}

int32_t gl_copy_cat(GlLocale *dst, GlLocale *src, int32_t category) {
  if (dst == nullptr || src == nullptr) return -1;
  if (category != GL_ALL && !ValidCategory(category)) {
    *_gl_ext_errno(dst) = GL_EBADARG;
    return -1;
  }
  int32_t first = category == GL_ALL ? GL_CTYPE : category;
  int32_t last = category == GL_ALL ? GL_MESSAGES : category;
  for (int32_t c = first; c <= last; ++c) {
    if (int32_t e = CopyCheck(dst, src, c)) {
      *_gl_ext_errno(dst) = e;
      return -1;
    }
  }
  for (int32_t c = first; c <= last; ++c) CopyCategory(dst, src, c);
  _gl_widen_names(dst);
  _gl_locale_refresh(dst);  // its error stays in dst; the copy stands
  return 0;
}

GlLconv *gl_localeconv(GlLocale *loc) { return &loc->lconv; }

void _gl_release_icu_locale(GlLocale *loc, int32_t category) {
  void *h = loc->icu_locale[Idx(category)];
  if (h == nullptr) return;
  loc->icu_locale[Idx(category)] = nullptr;
  for (void *other : loc->icu_locale) {
    if (other == h) return;  // still in use by another category
  }
  if (GlGluApi *api = _gl_glu_api()) {
    if (api->lc_close != nullptr) api->lc_close(h);
  }
}

void _gl_widen_names(GlLocale *loc) {
  for (int c = 0; c < GL_NCATEGORIES; ++c) {
    for (int i = 0; i < GL_CODESET_SIZE; ++i) {
      loc->wcodesets[c][i] = static_cast<unsigned char>(loc->codesets[c][i]);
      if (loc->codesets[c][i] == '\0') break;
    }
    for (int i = 0; i < GL_NAME_SIZE; ++i) {
      loc->wnames[c][i] = static_cast<unsigned char>(loc->names[c][i]);
      if (loc->names[c][i] == '\0') break;
    }
  }
}

namespace {

// The status of a wrapper call becomes the locale's error number.
int32_t GluResult(GlLocale *loc, int32_t r, GluStatus st) {
  if (st > 0) *_gl_ext_errno(loc) = st;
  return r;
}

}  // namespace

int32_t _gl_glu_mbscoll(GlLocale *loc, const char *s1, const char *s2) {
  return _gl_glu_mbfscoll(loc, s1, -1, s2, -1);
}

int32_t _gl_glu_mbfscoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2, int32_t l2) {
  GlGluApi *api = _gl_glu_api();
  if (api == nullptr || api->mbscoll == nullptr) {
    *_gl_ext_errno(loc) = GL_ENOFILE;
    return -1;
  }
  GluStatus st = 0;
  int32_t r = api->mbscoll(loc->icu_locale[Idx(GL_COLLATE)], s1, l1, s2, l2, &st);
  return GluResult(loc, r, st);
}

int32_t _gl_glu_mbsxfrm(GlLocale *loc, char *out, const char *s, int32_t size) {
  GlGluApi *api = _gl_glu_api();
  if (api == nullptr || api->mbsxfrm == nullptr) {
    *_gl_ext_errno(loc) = GL_ENOFILE;
    return -1;
  }
  GluStatus st = 0;
  int32_t r = api->mbsxfrm(loc->icu_locale[Idx(GL_COLLATE)], out, static_cast<int64_t>(size), s, &st);
  return GluResult(loc, r, st);
}
