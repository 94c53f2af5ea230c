#include "locale/core/gl_refresh.h"

#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_registry.h"
#include "locale/core/gl_support.h"

namespace {

// A case map: the old map's entries when there is one, else the table's.
void FillCaseMap(GlLocale *loc, unsigned char *map, const unsigned char *old,
                 GlWchar (*convert)(GlLocale *, GlWchar)) {
  for (int b = 0; b < 256; ++b) {
    map[b] = old != nullptr ? old[b] : static_cast<unsigned char>(convert(loc, static_cast<GlWchar>(b)));
  }
}

}  // namespace

int32_t _gl_build_byte_maps(GlLocale *loc) {
  if (!loc->single_byte) {
    loc->mbstowcs = _gl_im_mbstowcs;
    loc->mbfstowcfs = _zel_gl_im_mbfstowcfs;
    _gl_set_coll_funcs(loc);
    return 0;
  }
  auto *upper = static_cast<unsigned char *>(_gl_malloc(256));
  auto *lower = static_cast<unsigned char *>(_gl_malloc(256));
  auto *classes = static_cast<uint16_t *>(_gl_malloc(256 * sizeof(uint16_t)));
  if (upper == nullptr || lower == nullptr || classes == nullptr) {
    _gl_free(upper);
    _gl_free(lower);
    _gl_free(classes);
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return -1;
  }
  // Bytes the case table does not hold map to themselves; the look-ups
  // leave no error behind.
  int32_t saved = *_gl_ext_errno(loc);
  FillCaseMap(loc, upper, loc->upper_map, _gl_im_towupper);
  FillCaseMap(loc, lower, loc->lower_map, _gl_im_towlower);
  *_gl_ext_errno(loc) = saved;
  _gl_free(loc->upper_map);
  _gl_free(loc->lower_map);
  loc->upper_map = upper;
  loc->lower_map = lower;

  const GlCodeTable *t = loc->class_table;
  for (int b = 0; b < 256; ++b) {
    if (t != nullptr && t->root.values != nullptr) {
      classes[b] = glchars::Value16(t->root.values + (static_cast<size_t>(b) << t->shift));
    } else if (t != nullptr && t->default_value != nullptr) {
      classes[b] = glchars::Value16(t->default_value);
    } else {
      classes[b] = 0;
    }
  }
  _gl_free(loc->class_map);
  loc->class_map = classes;

  loc->mbstowcs = _gl_is_mbstowcs;
  loc->mbfstowcfs = _zel_gl_is_mbfstowcfs;
  _gl_set_coll_funcs(loc);
  return 0;
}

int32_t _gl_locale_refresh(GlLocale *loc) {
  loc->single_byte =
      (loc->class_table != nullptr && _gl_ct_max_key_len(loc->class_table) == 1) ? 1 : 0;
  loc->code_order = loc->coll_codeorder != 0 ? 1 : 0;
  loc->coll_icu = loc->icu_in_use[GL_COLLATE - 2];
  if (_gl_build_byte_maps(loc) != 0) return -1;

  int32_t *err = _gl_ext_errno(loc);
  uint16_t ctype = gl_cs_name2cs_num(loc, loc->codesets[GL_CTYPE - 2], nullptr);
  if (*err == GL_ENOMEM) return -1;
  for (int32_t cat = GL_COLLATE; cat <= GL_MESSAGES; ++cat) {
    // A category not set has no code set to disagree with.
    if (loc->codesets[cat - 2][0] == '\0') continue;
    uint16_t cs = gl_cs_name2cs_num(loc, loc->codesets[cat - 2], nullptr);
    if (cs != ctype) {
      *err = GL_ECODESET;
      return -1;
    }
    if (*err == GL_ENOMEM) return -1;
  }
  *err = GL_ENOERROR;
  return 0;
}
