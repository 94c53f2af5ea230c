// Stand-ins for the section readers of LC_COLLATE, LC_NUMERIC, LC_MONETARY,
// LC_TIME and LC_MESSAGES and for the choice of the collation functions,
// until the modules that own them are written: each section is left unread
// with its null contents, and each completion step checks LC_CTYPE and
// rebuilds the byte maps as the real one will.
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_refresh.h"

namespace {

int32_t FinishCommon(GlLocale *loc) {
  if (_gl_build_byte_maps(loc) != 0) return -1;
  if (loc->class_table == nullptr || _gl_ct_max_key_len(loc->class_table) <= 0) {
    *_gl_ext_errno(loc) = GL_ENOCTYPE;
    return 0;
  }
  return 1;
}

}  // namespace

int32_t _gl_read_lc_collate(GlFile *, GlLocale *) { return 0; }
int32_t _gl_read_numeric(GlFile *, GlNumericInfo *, int32_t *) { return 0; }
int32_t _gl_read_monetary(GlFile *, GlNumericInfo *, int32_t *) { return 0; }
int32_t _gl_read_messages(GlFile *, GlNumericInfo *, int32_t *) { return 0; }
int32_t _gl_read_time(GlFile *, GlTimeInfo *, int32_t *) { return 0; }
int32_t _gl_finish_numeric(GlLocale *loc) { return FinishCommon(loc); }
int32_t _gl_finish_monetary(GlLocale *loc) { return FinishCommon(loc); }
int32_t _gl_finish_messages(GlLocale *loc) { return FinishCommon(loc); }
int32_t _gl_finish_time(GlLocale *loc) { return FinishCommon(loc); }
void _gl_set_coll_funcs(GlLocale *) {}
