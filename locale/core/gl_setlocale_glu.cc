// Whether the ICU back end serves a category that was just read, and the
// ICU locale it serves it with.
#include <string.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace {

// The normal specification ("en_US.819") of a locale-file name into out
// (24 bytes), or "" when the name is not one. The split reports nothing
// into the locale: a name that is no specification is not an error here.
void NormalOf(const char *name, char *out) {
  char lt[8] = "", cs[8] = "", mod[8] = "";
  out[0] = '\0';
  if (gl_lc_fname2lc_pieces(nullptr, name, lt, cs, mod) == 0) {
    if (gl_lc_pieces2lc_spec(nullptr, lt, cs, mod, out) != 0) out[0] = '\0';
  }
  _gl_debug_logf("ll_tt = %s\n", lt);
  _gl_debug_logf("csnum = %s\n", cs);
  _gl_debug_logf("lc_norm = %s\n", out);
}

}  // namespace

int32_t set_categories_glu(GlLocale *loc, int32_t category, const char *name) {
  _gl_debug_log("Begin: set_categories_glu");
  _gl_debug_logf("locale_name = %s\n", name);
  char norm[24];
  NormalOf(name, norm);
  const int32_t idx = category - GL_CTYPE;
  loc->icu_in_use[idx] = 0;

  GlGluApi *api = _gl_glu_api();
  GluStatus st = 0;
  if (norm[0] == '\0') {
    _gl_debug_log(
        "set_categories_glu: glu_locale NOT used as couldn't workout normilized");
  } else if (_gl_glu_in_use() && api->useIcuLocCall(glx_gluMap(), norm, &st) == 1) {
    loc->icu_in_use[idx] = 1;
    _gl_release_icu_locale(loc, category);
    // Another category loaded under the same name lends its ICU locale.
    for (int32_t other = 0; other < GL_NCATEGORIES; ++other) {
      if (other == idx || loc->icu_locale[other] == nullptr) continue;
      if (strcmp(loc->names[other], name) != 0) continue;
      loc->icu_locale[idx] = loc->icu_locale[other];
      _gl_debug_log("set_categories_glu: glu_locale not loaded but reused");
    }
    if (loc->icu_locale[idx] == nullptr) {
      st = 0;
      GluHandle h = api->lc_open(glx_gluMap(), norm, &st);
      if (st > 0 || h == nullptr) {
        loc->icu_in_use[idx] = 0;
        if (st > 0) *_gl_ext_errno(loc) = st;
        // The wrapper may hand back a handle beside its failure.
        if (h != nullptr) api->lc_close(h);
        _gl_debug_log("set_categories_glu: Falure to Load ICU locale");
        return 1;
      }
      loc->icu_locale[idx] = h;
      _gl_debug_log("set_categories_glu: glu_locale loaded into category");
    }
  } else {
    _gl_debug_log("set_categories_glu: glu_locale NOT used as not required");
  }

  if (loc->icu_in_use[GL_COLLATE - GL_CTYPE] == 1) {
    loc->code_order = 0;
    loc->coll_icu = 1;
    loc->coll_codeorder = 0;
    loc->coll_kind = GL_COLL_ICU;
  }
  _gl_debug_log("End: set_categories_glu");
  return 0;
}
