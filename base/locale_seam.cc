// Stand-in for the client locale: single-byte ASCII, no code-set
// conversion, and a locale start-up that always succeeds. The locale
// start-up replaces this file.

#include "base/locale_seam.h"

#include "base/fields.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"

int rglinit(void) {
  rsetglerror(0);
  return 0;
}

int rgl_dbnls_mode(void) { return 0; }

int rgl_single_byte(void) { return 1; }

int32_t rgl_mbstowcs(uint32_t* dst, const char* src, int32_t max) {
  int32_t i = 0;
  while (i < max && src[i] != '\0') {
    dst[i] = static_cast<unsigned char>(src[i]);
    i++;
  }
  return i;
}

int rgl_iswalpha(uint32_t wc) {
  return wc < 256 && (rnls_classtab[wc + 1] & (NLS_UPPER | NLS_LOWER)) != 0;
}

int rgl_towlower(uint32_t wc, uint32_t* out) {
  if (wc > 255) return -1;
  *out = rnls_lowermap[wc];
  return 0;
}

int32_t rgl_mbchar(const char* p, int32_t, int* blank) {
  *blank = (*p == ' ');
  return 1;
}

int rgl_caseconv(int case_code, const char* src, int32_t n, char* dst, int32_t dst_size,
                 int32_t* outlen) {
  const unsigned char* map = case_code == RCASE_UPPER ? rnls_uppermap : rnls_lowermap;
  int32_t k = n < dst_size ? n : dst_size;
  for (int32_t i = 0; i < k; i++) dst[i] = static_cast<char>(map[static_cast<unsigned char>(src[i])]);
  *outlen = k;
  return 0;
}

int32_t rgl_case_outbuflen(int32_t n) { return n; }

int rgl_env_to_server(const char*, char**) { return 0; }

int rgl_env_from_fs(const char*, char**) { return 0; }
