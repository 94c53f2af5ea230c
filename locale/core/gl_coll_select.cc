// The choice of a locale's comparator and sort-key slots, made again after
// every load or change of its categories.
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_thai.h"

void _gl_set_coll_funcs(GlLocale *loc) {
  if (loc->coll_kind == GL_COLL_THAI) {
    loc->mbscoll = _gl_thaismocoll;
    loc->mbfscoll = _zel_gl_thaismoncoll;
    loc->mbsxfrm = _gl_thaismoxfrm;
    return;
  }
  if (loc->coll_kind == GL_COLL_ICU) {
    loc->mbscoll = _gl_glu_mbscoll;
    loc->mbfscoll = _gl_glu_mbfscoll;
    loc->mbsxfrm = _gl_glu_mbsxfrm;
    return;
  }
  loc->mbsxfrm = gl_full_mbsxfrm;
  loc->mbscoll = _gl_im_mbscoll;
  loc->mbfscoll = _zel_gl_im_mbfscoll;
  if (!loc->single_byte) return;  // multibyte: always the general comparator

  const bool e = loc->coll_nelements > 0;
  const bool x = loc->coll_nexpansions > 0;
  bool b = false;
  for (int32_t p = 0; p < loc->coll_npasses && p < GL_MAX_PASSES; ++p) {
    if (loc->coll_direction[p] == 2) b = true;
  }
  const int n = (e ? 1 : 0) + (x ? 1 : 0) + (b ? 1 : 0);
  if (x && n == 1) {
    loc->mbscoll = _gl_is_mbscoll_exp;
    loc->mbfscoll = _zel_gl_is_mbfscoll_exp;
  } else if (e && n == 1) {
    loc->mbscoll = _gl_is_mbscoll_elem;
    loc->mbfscoll = _zel_gl_is_mbfscoll_elem;
  } else if ((b && n == 1) || n == 0) {
    loc->mbscoll = _gl_is_mbscoll_back;
    loc->mbfscoll = _zel_gl_is_mbfscoll_back;
  } else if (e && x && !b) {
    loc->mbscoll = _gl_is_mbscoll_exp_elem;
    loc->mbfscoll = _zel_gl_is_mbfscoll_exp_elem;
  }
}
