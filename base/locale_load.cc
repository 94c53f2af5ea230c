// Loading a locale specification, with its fallback form under the "os"
// directory, and the converter handles between the client, database and
// file-system code sets.

#include <cstdio>
#include <cstring>
#include <string>

#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace {

constexpr const char* kGlParts[RGL_NCATS] = {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC",
                                             "GL_MONETARY", "GL_TIME", "GL_MESSAGES"};
constexpr uint16_t kUnknownCodeSet = 0xE000;

// The locale-object file name of spec, when one can be derived.
bool FileName(GlLocale* loc, const char* spec, std::string* out) {
  char fname[1024];
  if (std::strlen(spec) > RGL_SPEC_MAX) return false;
  if (gl_lc_spec2lc_fname(loc, spec, fname, nullptr, nullptr) != 0) return false;
  *out = fname;
  return true;
}

// Builds the text that gl_setlocale_4 loads, and the per-category flags
// (1: loaded as a locale-object file name). Sets *fallback when the text
// uses the "os" directory form.
std::string BuildLoadText(GlLocale* loc, const char* spec, bool* fallback,
                          int32_t flags[RGL_NCATS]) {
  std::string fname;
  if (!*fallback && FileName(loc, spec, &fname)) {
    for (int i = 0; i < RGL_NCATS; i++) flags[i] = 1;
    return fname;
  }
  if (std::strstr(spec, "GL_CTYPE") != nullptr) {
    std::string text;
    bool os_form = false;
    for (int i = 0; i < RGL_NCATS; i++) {
      char keyword[257] = "";
      char value[37] = "";
      if (const char* at = std::strstr(spec, kGlParts[i])) {
        if (std::sscanf(at, "%256s = %36s", keyword, value) < 2) value[0] = '\0';
      }
      std::string part;
      if (!*fallback && FileName(loc, value, &part)) {
        flags[i] = 1;
      } else {
        part = std::string("os/") + value;
        flags[i] = 0;
        os_form = true;
      }
      text += std::string(kGlParts[i]) + " = " + part + " ; ";
    }
    if (os_form) *fallback = true;
    return text;
  }
  for (int i = 0; i < RGL_NCATS; i++) flags[i] = 0;
  *fallback = true;
  return std::string("os/") + spec;
}

// Opens the converter to target from source into *cv: 0, or the client
// error of a failed load (stored in the error word).
int LoadConverter(GlConverter** cv, const char* target, const char* source) {
  GlConverter* c = nullptr;
  if (gl_cv_load(&c, target, source, nullptr, nullptr) >= 0) {
    *cv = c;
    return 0;
  }
  const int32_t e = c != nullptr ? c->error_number : 3;
  rglcvdrop(c);
  return rsetglerror(e == 3 ? RGL_E_NOMEM : RGL_E_CVOPEN);
}

bool Known(const char* spec) {
  return spec != nullptr && gl_lc_spec2cs_num(nullptr, spec, nullptr) != kUnknownCodeSet;
}

}  // namespace

TV_BEGIN_C

void rglcvdrop(GlConverter* cv) {
  if (cv != nullptr && cv != &_gl_cv_nomem && cv != &_gl_cv_nocodeset && cv != &_gl_cv_badarg) {
    gl_cv_unload(cv);
  }
}

int rglloadlocale(GlLocale** out, const char* spec, int32_t flags[RGL_NCATS]) {
  if (spec == nullptr || std::strlen(spec) > RGL_SPEC_MAX) return rsetglerror(RGL_E_LOAD);
  bool fallback = false;
  for (;;) {
    GlLocale* loc = nullptr;
    if (gl_create_null_locale_4(&loc) != 0) {
      return rsetglerror(loc != nullptr ? loc->error : 3);
    }
    const std::string text = BuildLoadText(loc, spec, &fallback, flags);
    loc->error = 0;
    char* name = gl_setlocale_4(loc, GL_ALL, text.c_str());
    const int32_t e = loc->error;
    if (name != nullptr && e != 12) {
      loc->error = 0;
      gl_destroystring(name);
      *out = loc;
      return 0;
    }
    rsetglerror(e);
    if (name != nullptr) gl_destroystring(name);
    gl_lc_unload(loc);
    if (fallback) return -1;
    if (e != 8 && e != 9 && e != 11) return -1;
    fallback = true;
  }
}

void rlocfname2spec(const char* fname, char* out, int32_t* flag) {
  char lt[16] = "", cs[16] = "", mod[16] = "", spec[64] = "";
  if (gl_lc_fname2lc_pieces(nullptr, fname, lt, cs, mod) == 0 &&
      gl_lc_pieces2lc_spec(nullptr, lt, cs, mod[0] != '\0' ? mod : nullptr, spec) == 0) {
    std::strncpy(out, spec, RGL_CATNAME_SIZE - 1);
    out[RGL_CATNAME_SIZE - 1] = '\0';
    *flag = 1;
    return;
  }
  const char* slash = std::strchr(fname, '/');
  std::strncpy(out, slash != nullptr ? slash + 1 : fname, RGL_CATNAME_SIZE - 1);
  out[RGL_CATNAME_SIZE - 1] = '\0';
  *flag = 0;
}

int rglconverters(const char* db, const char* client, const char* fs1, const char* fs2) {
  ClientLocaleState* st = rgllocstate();
  st->client_to_db = st->db_to_client = nullptr;
  st->client_to_fs = st->fs_to_client = nullptr;
  if (db == nullptr) return 0;
  if (Known(db) && Known(client)) {
    if (int r = LoadConverter(&st->client_to_db, db, client); r != 0) return r;
    if (int r = LoadConverter(&st->db_to_client, client, db); r != 0) return r;
  }
  if (Known(fs1) && Known(fs2)) {
    if (int r = LoadConverter(&st->client_to_fs, fs1, fs2); r != 0) return r;
    if (int r = LoadConverter(&st->fs_to_client, fs2, fs1); r != 0) return r;
  }
  return 0;
}

TV_END_C
