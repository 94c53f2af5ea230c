// Helpers shared by the character, class, case and string operations of the
// locale library: the error number, the ICU road of LC_CTYPE and the walk
// over the nodes of the class table. Not exported.
#pragma once

#include <stdint.h>
#include <string.h>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_locale.h"

namespace glchars {

inline void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

// The bound ICU wrapper when it serves the locale's LC_CTYPE, else NULL.
inline const GlGluApi *IcuCtype(const GlLocale *loc) {
  if (loc->icu_in_use[GL_CTYPE - 2] != 1) return nullptr;
  return _gl_glu_api();
}
inline void *IcuHandle(const GlLocale *loc) { return loc->icu_locale[GL_CTYPE - 2]; }

// Stores a positive status of an ICU call as the error number.
inline void IcuStatus(GlLocale *loc, GluStatus st) {
  if (st > 0) SetError(loc, st);
}

// The terminator length m: the shortest character of the class table.
inline int32_t TermLen(const GlLocale *loc) { return loc->class_table->min_key_len; }

inline int NodeState(const GlCodeNode *n, unsigned char b) {
  return n->states != nullptr ? static_cast<int>(n->states[b]) : static_cast<int>(GL_CT_INVALID);
}
inline const GlCodeNode *NodeChild(const GlCodeNode *n, unsigned char b) {
  if (n->children == nullptr || n->child_index == nullptr) return nullptr;
  int32_t i = n->child_index[b];
  return i < n->child_count ? n->children[i] : nullptr;
}

// The 16-bit value at a table value pointer (values are kept in native
// byte order).
inline uint16_t Value16(const void *p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

// Number of bytes of the multibyte form of wc in a table whose shortest key
// has m bytes.
inline int32_t WideLength(uint32_t wc, int32_t m) {
  if (wc <= 0xff) return m;
  if (wc <= 0xffff) return m > 2 ? m : 2;
  if (wc <= 0xffffff) return m > 3 ? m : 3;
  return 4;
}

// The value of bytes read as one big-endian number.
inline uint32_t BigEndian(const unsigned char *s, int32_t n) {
  uint32_t v = 0;
  for (int32_t i = 0; i < n; ++i) v = (v << 8) | s[i];
  return v;
}

// Writes the bytes of wc as a key of table t, one byte as soon as its
// state has passed; the length, or -1 with error 1 (bytes before the
// failing one stay written).
int32_t EncodeByTable(GlLocale *loc, const GlCodeTable *t, char *out, uint32_t wc);

}  // namespace glchars
