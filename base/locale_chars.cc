// Character primitives, case conversion, message directory and environment
// value conversion through the client locale.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/client_locale.h"
#include "base/cvt.h"
#include "base/fields.h"
#include "base/locale_state.h"
#include "base/nls_tables.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_mbchar.h"

namespace {

// The client locale once the start-up completed; a failed start-up may
// have left a locale behind that must not be used.
GlLocale* Client() {
  const ClientLocaleState* st = rgllocstate();
  return (st->inited_modes & st->mode) != 0 ? st->client : nullptr;
}

// The client locale, started when it is not there yet; null when the
// start-up fails.
GlLocale* StartedClient() {
  if (Client() == nullptr) rglinit();
  return Client();
}

// Converts value with cv into a new text: 1 with *out, 0 without a
// converter, -1 on failure.
int ConvertValue(GlConverter* cv, const char* value, char** out) {
  *out = nullptr;
  if (cv == nullptr || value == nullptr) return 0;
  char* made = nullptr;
  if (cvt_newbuf(cv, value, nullptr, &made) < 0) return -1;
  *out = made;
  return 1;
}

}  // namespace

TV_BEGIN_C

int rgl_single_byte(void) {
  GlLocale* loc = Client();
  return loc == nullptr || loc->single_byte ? 1 : 0;
}

int32_t rgl_mbstowcs(uint32_t* dst, const char* src, int32_t max) {
  GlLocale* loc = Client();
  if (loc == nullptr || loc->mbstowcs == nullptr) {
    int32_t i = 0;
    for (; i < max && src[i] != '\0'; i++) dst[i] = static_cast<unsigned char>(src[i]);
    return i;
  }
  // The locale's conversion writes a terminator when there is room.
  std::vector<GlWchar> wide(static_cast<size_t>(max) + 1);
  const int32_t n = loc->mbstowcs(loc, wide.data(), src, max + 1);
  if (n < 0) return -1;
  const int32_t k = n < max ? n : max;
  std::memcpy(dst, wide.data(), static_cast<size_t>(k) * sizeof(uint32_t));
  return k;
}

int rgl_iswalpha(uint32_t wc) {
  GlLocale* loc = Client();
  if (loc == nullptr) {
    return wc < 256 && (rnls_classtab[wc + 1] & (NLS_UPPER | NLS_LOWER)) != 0;
  }
  return _gl_im_iswctype(loc, wc, GL_CLASS_ALPHA) != 0 ? 1 : 0;
}

int rgl_towlower(uint32_t wc, uint32_t* out) {
  GlLocale* loc = Client();
  if (loc == nullptr) {
    if (wc > 255) return -1;
    *out = rnls_lowermap[wc];
    return 0;
  }
  loc->error = 0;
  *out = _gl_im_towlower(loc, wc);
  return loc->error != 0 ? -1 : 0;
}

int32_t rgl_mbchar(const char* p, int32_t left, int* blank) {
  GlLocale* loc = Client();
  if (loc == nullptr || loc->single_byte) {
    const unsigned char b = static_cast<unsigned char>(*p);
    *blank = (rnls_classtab[b + 1] & NLS_BLANK) != 0 && (rnls_classtab[b + 1] & NLS_CNTRL) == 0;
    if (loc != nullptr && loc->class_map != nullptr) {
      const uint16_t c = loc->class_map[b];
      *blank = (c & GL_CLASS_BLANK) != 0 && (c & GL_CLASS_CNTRL) == 0;
    }
    return 1;
  }
  GlWchar wc = 0;
  uint32_t cls = 0;
  const int32_t n = _zel_gl_full_mbdescribe(loc, &wc, p, &cls, GL_CLASS_BLANK | GL_CLASS_CNTRL,
                                            left > 4 ? 4 : left);
  if (n < 0) return -1;
  *blank = (cls & GL_CLASS_BLANK) != 0 && (cls & GL_CLASS_CNTRL) == 0;
  return n == 0 ? 1 : n;
}

int rgl_caseconv(int case_code, const char* src, int32_t n, char* dst, int32_t dst_size,
                 int32_t* outlen) {
  GlLocale* loc = StartedClient();
  if (loc == nullptr) return 1;
  if (n <= 0) {
    *outlen = 0;
    return 0;
  }
  // The locale writes up to gl_case_conv_outbuflen bytes and a terminator.
  std::vector<char> tmp(static_cast<size_t>(gl_case_conv_outbuflen(loc, n)) + 8);
  loc->error = 0;
  const int32_t w = case_code == RCASE_UPPER ? _zel_gl_tombsupper_len(loc, tmp.data(), src, n)
                                             : _zel_gl_tombslower_len(loc, tmp.data(), src, n);
  if (w < 0 || loc->error == 1) {
    loc->error = 0;
    return 1;
  }
  const int32_t k = w < dst_size ? w : dst_size;
  std::memcpy(dst, tmp.data(), static_cast<size_t>(k));
  *outlen = k;
  return 0;
}

int32_t rgl_case_outbuflen(int32_t n) {
  GlLocale* loc = Client();
  return loc != nullptr ? gl_case_conv_outbuflen(loc, n) : n;
}

int rgl_msg_dname(const char* locale, char* out, int32_t size) {
  if (locale == nullptr || out == nullptr || size <= 0) return -1;
  if (std::strlen(locale) > RGL_SPEC_MAX) return -1;
  char dname[1024];
  if (gl_lc_spec2msg_dname(nullptr, locale, dname, nullptr, nullptr) != 0) return -1;
  const size_t n = std::strlen(dname);
  if (n == 0 || n + 1 > static_cast<size_t>(size)) return -1;
  for (size_t i = 0; i <= n; i++) out[i] = dname[i] == '\\' ? '/' : dname[i];
  return 0;
}

int rgl_env_to_server(const char* value, char** out) {
  return ConvertValue(rgllocstate()->client_to_db, value, out);
}

int rgl_env_from_fs(const char* value, char** out) {
  return ConvertValue(rgllocstate()->fs_to_client, value, out);
}

TV_END_C
