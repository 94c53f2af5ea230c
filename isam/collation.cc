#include "isam/collation.h"

#include <cstring>

#include "isam/thread_state.h"

namespace isam {

namespace {

int NoSource(char*, int) { return -1; }

// Copies a NUL-terminated name of at most n bytes, blank-padded to 36.
void Pad(char* out, const char* in, size_t n) {
  std::memset(out, ' ', kCollNameSize);
  size_t len = strnlen(in, n);
  std::memcpy(out, in, len < kCollNameSize ? len : kCollNameSize);
}

}  // namespace

int (*is_collationsource)(char* name, int size) = NoSource;

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
