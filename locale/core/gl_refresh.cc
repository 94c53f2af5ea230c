#include "locale/core/gl_refresh.h"

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_registry.h"

int32_t _gl_locale_refresh(GlLocale *loc) {
  loc->single_byte =
      (loc->class_table != nullptr && _gl_ct_max_key_len(loc->class_table) == 1) ? 1 : 0;
  loc->code_order = loc->coll_codeorder != 0 ? 1 : 0;
  loc->coll_icu = loc->icu_in_use[GL_COLLATE - 2];

  int32_t *err = _gl_ext_errno(loc);
  uint16_t ctype = gl_cs_name2cs_num(loc, loc->codesets[GL_CTYPE - 2], nullptr);
  if (*err == GL_ENOMEM) return -1;
  for (int32_t cat = GL_COLLATE; cat <= GL_MESSAGES; ++cat) {
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
