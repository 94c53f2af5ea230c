// Class names and class tests.
#include "locale/core/gl_ctype.h"

#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

struct StandardClass {
  const char *name;
  uint32_t handle;
};

// In the order names are compared.
constexpr StandardClass kStandard[] = {
    {"alpha", GL_CLASS_ALPHA}, {"lower", GL_CLASS_LOWER},   {"upper", GL_CLASS_UPPER},
    {"digit", GL_CLASS_DIGIT}, {"xdigit", GL_CLASS_XDIGIT}, {"alnum", GL_CLASS_ALNUM},
    {"blank", GL_CLASS_BLANK}, {"space", GL_CLASS_SPACE},   {"punct", GL_CLASS_PUNCT},
    {"graph", GL_CLASS_GRAPH}, {"print", GL_CLASS_PRINT},   {"cntrl", GL_CLASS_CNTRL},
};

uint32_t Bits(const void *value, uint32_t handle) {
  return value != nullptr ? Value16(value) & handle : 0;
}

}  // namespace

uint32_t gl_ctype(GlLocale *loc, const char *name) {
  if (name == nullptr) return 0;
  if (name[0] != 'f') {
    for (const StandardClass &c : kStandard) {
      if (strcmp(name, c.name) == 0) return c.handle;
    }
  }
  for (int32_t i = 0; loc->classes != nullptr && i < loc->class_count; ++i) {
    if (loc->classes[i].name != nullptr && strcmp(name, loc->classes[i].name) == 0) {
      return uint32_t{GL_CLASS_LOCALE0} << (static_cast<uint32_t>(loc->classes[i].number) & 31);
    }
  }
  return 0;
}

uint32_t _gl_im_iswctype(GlLocale *loc, GlWchar wc, uint32_t handle) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    return static_cast<uint32_t>(icu->isuc32type(wc, handle));
  }
  return Bits(_gl_ct_lookup_wc(loc->class_table, wc, loc), handle);
}

uint32_t _gl_im_ismctype(GlLocale *loc, const char *s, uint32_t handle) {
  return _zel_gl_im_ismctype(loc, s, 4, handle);
}

uint32_t _zel_gl_im_ismctype(GlLocale *loc, const char *s, int32_t n, uint32_t handle) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->ismctype(IcuHandle(loc), s, n, handle, &st);
    IcuStatus(loc, st);
    return static_cast<uint32_t>(r);
  }
  // A budget of 4 is no budget: no character is longer.
  const void *v = n == 4 ? _gl_ct_lookup_mb_value(loc->class_table, U(s), loc)
                         : _gl_ct_lookup_mbn_value(loc->class_table, U(s), n, loc);
  return Bits(v, handle);
}
