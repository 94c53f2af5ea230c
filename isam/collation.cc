#include "isam/collation.h"

#include <cstring>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "isam/thread_state.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace isam {

namespace {

// The client locale's collation: the locale is made ready, the name of its
// collation category asked for and turned into a locale specification.
int ClientCollation(char* name, int size) {
  if (rglinit() != 0) return -1;
  ClientLocaleState* state = rgllocstate();
  if (state == nullptr || state->client == nullptr) return -1;
  char* category = gl_setlocale_4(state->client, GL_COLLATE, nullptr);
  if (category == nullptr) return -1;
  char spec[RGL_CATNAME_SIZE] = {};
  int32_t from_file = 0;
  rlocfname2spec(category, spec, &from_file);
  gl_destroystring(category);
  size_t len = strnlen(spec, sizeof spec - 1);
  if (size <= 0 || len >= static_cast<size_t>(size)) return -1;
  std::memcpy(name, spec, len);
  name[len] = '\0';
  return 0;
}

// Copies a NUL-terminated name of at most n bytes, blank-padded to 36.
void Pad(char* out, const char* in, size_t n) {
  std::memset(out, ' ', kCollNameSize);
  size_t len = strnlen(in, n);
  std::memcpy(out, in, len < kCollNameSize ? len : kCollNameSize);
}

}  // namespace

int (*is_collationsource)(char* name, int size) = ClientCollation;

GlLocale* is_collationlocale() {
  if (rglinit() != 0) return nullptr;
  ClientLocaleState* state = rgllocstate();
  return state != nullptr ? state->client : nullptr;
}

int is_currentcollation(char name[kCollNameSize]) {
  char raw[kCollNameSize + 1] = {};
  if (is_collationsource(raw, sizeof raw) != 0) return is_fail(ELOCALELOAD);
  Pad(name, raw, kCollNameSize);
  return 0;
}

int is_checkcollation() {
  IsamThreadState& st = is_state();
  const unsigned char* hdr = st.curfile->header;
  if (is_currentcollation(st.collname_current) != 0) return -1;
  Pad(st.collname_file, reinterpret_cast<const char*>(hdr + HDR_COLLNAME), kCollNameSize);
  if (std::memcmp(st.collname_file, st.collname_current, kCollNameSize) != 0) {
    return is_fail(ECOLLATION);
  }
  return 0;
}

int is_setcollation() {
  char raw[kCollNameSize + 1] = {};
  if (is_collationsource(raw, sizeof raw) != 0) return is_fail(ELOCALELOAD);
  unsigned char* hdr = is_state().curfile->header;
  std::memset(hdr + HDR_COLLNAME, 0, kCollNameSize);
  std::memcpy(hdr + HDR_COLLNAME, raw, strnlen(raw, kCollNameSize - 1));
  hdr[HDR_COLLFLAG] = 1;
  is_headerdirty();
  return 0;
}

}  // namespace isam
