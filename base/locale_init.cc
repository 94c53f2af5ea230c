// The locale start-up of the client libraries: once per process, the hook
// functions, the ICU glue record, the client locale from CLIENT_LOCALE, the
// LC_* variables under DBNLS or the default, the database locale, the
// converters and the date format.

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_registry.h"

namespace {

ClientLocaleState g_state = [] {
  ClientLocaleState s{};
  s.mode = 1;
  return s;
}();

constexpr const char* kDefaultSpec = "en_us.8859-1";
constexpr const char* kDefaultEnvValue = "en_US.8859-1";
constexpr const char* kGlParts[RGL_NCATS] = {"GL_CTYPE", "GL_COLLATE", "GL_NUMERIC",
                                             "GL_MONETARY", "GL_TIME", "GL_MESSAGES"};

// Copies at most 36 characters of src into a category name slot.
void SetCategory(char* slot, const char* src) {
  std::strncpy(slot, src != nullptr ? src : "", RGL_CATNAME_SIZE - 1);
  slot[RGL_CATNAME_SIZE - 1] = '\0';
}

// Stores a failure code in the error word and returns it.
int Fail(int code) {
  rsetglerror(code);
  return code;
}

// Puts name=value into the process environment: 0, or the failure code
// stored in the error word.
int PutEnv(const char* name, const char* value) {
  const int r = gsetenv(name, value);
  return r != 0 ? Fail(r) : 0;
}

// Loads the client locale from the LC_* variables (DBNLS mode): the
// compound specification of the six category names.
int LoadFromLcVariables(GlLocale** loc, int32_t flags[RGL_NCATS]) {
  ClientLocaleState& st = g_state;
  static const struct {
    const char* name;
    int slot;
  } kVars[] = {{"LC_COLLATE", RGL_CAT_COLLATE},
               {"LC_CTYPE", RGL_CAT_CTYPE},
               {"LC_NUMERIC", RGL_CAT_NUMERIC},
               {"LC_MONETARY", RGL_CAT_MONETARY},
               {"LC_TIME", RGL_CAT_TIME}};
  for (const auto& v : kVars) SetCategory(st.categories[v.slot], ggetenv_idx(v.name, -1));
  if (st.categories[RGL_CAT_CTYPE][0] == '0') return Fail(RGL_E_NLSCTYPE);
  SetCategory(st.categories[RGL_CAT_MESSAGES], st.categories[RGL_CAT_CTYPE]);
  std::string spec;
  for (int i = 0; i < RGL_NCATS; i++) {
    spec += std::string(kGlParts[i]) + " = " + st.categories[i] + " ; ";
  }
  return rglloadlocale(loc, spec.c_str(), flags) != 0 ? -1 : 0;
}

// Rewrites the category names that were loaded as locale-object file names
// into the canonical form of their specification.
void CanonicalNames(const int32_t flags[RGL_NCATS]) {
  ClientLocaleState& st = g_state;
  for (int i = 0; i < RGL_NCATS; i++) {
    if (flags[i] == 0) continue;
    char fname[1024];
    if (gl_lc_spec2lc_fname(st.client, st.categories[i], fname, nullptr, nullptr) != 0) continue;
    int32_t ok = 0;
    char spec[RGL_CATNAME_SIZE];
    rlocfname2spec(fname, spec, &ok);
    SetCategory(st.categories[i], spec);
  }
  st.client->error = 0;
}

// The client locale keeps ASCII letters single bytes.
bool KeepsAsciiSingle(GlLocale* loc) {
  static const char kText[] = "ABCDE";
  if (loc->single_byte) return true;
  const char* next = gl_full_mbsnext(loc, kText);
  return next != nullptr && *next == 'B';
}

// Drops what an earlier, failed start-up loaded, so that a retry does not
// leave it behind. The last failed attempt's objects stay until then, for
// zel_gl_init's report through the client locale's error number.
void ReleaseFailedAttempt() {
  ClientLocaleState& st = g_state;
  for (GlConverter** cv : {&st.client_to_db, &st.db_to_client, &st.client_to_fs, &st.fs_to_client}) {
    if (*cv != nullptr) gl_cv_unload(*cv);
    *cv = nullptr;
  }
  if (st.database != nullptr && st.database != st.client) gl_lc_unload(st.database);
  if (st.client != nullptr) gl_lc_unload(st.client);
  st.database = st.client = st.primary = nullptr;
}

}  // namespace

TV_BEGIN_C

ClientLocaleState* rgllocstate(void) { return &g_state; }

void rgl_set_flags(uint32_t bits) { g_state.flags |= bits; }

int rgl_dbnls_mode(void) { return g_state.dbnls; }

int rdbnls(void) {
  const char* v = ggetenv_idx("DBNLS", ENVROW_DBNLS);
  if (v == nullptr) return 0;
  if (std::strcmp(v, "1") == 0) return 1;
  if (std::strcmp(v, "2") == 0) return 2;
  return 0;
}

int rglmaperror(void) {
  const int32_t e = rgetglerror();
  int32_t mapped;
  if ((e >= -8 && e <= -3) || e == -1) {
    mapped = RGL_E_ENV;
  } else if (e == -2 || e == 3) {
    mapped = RGL_E_NOMEM;
  } else if (e == 8 || e == 9 || e == 11 || e == 21) {
    mapped = RGL_E_LOAD;
  } else if (e == 12 || e == 58) {
    mapped = RGL_E_CODESETS;
  } else {
    return e;
  }
  return rsetglerror(mapped);
}

int rglinit_client(void) {
  ClientLocaleState& st = g_state;
  ReleaseFailedAttempt();
  gl_cache_registry(nullptr, nullptr);
  const int d = rdbnls();
  int32_t flags[RGL_NCATS] = {0};
  GlLocale* loc = nullptr;
  bool named = false;

  if (const char* cl = ggetenv_idx("CLIENT_LOCALE", ENVROW_CLIENT_LOCALE)) {
    if (rglloadlocale(&loc, cl, flags) != 0) return -1;
    for (auto& cat : st.categories) SetCategory(cat, cl);
    named = true;
  } else if (d != 0) {
    if (int r = LoadFromLcVariables(&loc, flags); r != 0) return r;
  } else {
    if (rglloadlocale(&loc, kDefaultSpec, flags) != 0) return -1;
    for (auto& cat : st.categories) SetCategory(cat, kDefaultSpec);
    if (int r = PutEnv("CLIENT_LOCALE", kDefaultEnvValue); r != 0) return r;
  }
  st.client = loc;

  if (!KeepsAsciiSingle(loc)) return Fail(RGL_E_NOTSINGLE);
  CanonicalNames(flags);

  if (named && d != 0) {
    static const struct {
      const char* name;
      int slot;
    } kOut[] = {{"LC_CTYPE", RGL_CAT_CTYPE},
                {"LC_COLLATE", RGL_CAT_COLLATE},
                {"LC_NUMERIC", RGL_CAT_NUMERIC},
                {"LC_MONETARY", RGL_CAT_MONETARY},
                {"LC_TIME", RGL_CAT_TIME}};
    for (const auto& v : kOut) {
      if (int r = PutEnv(v.name, st.categories[v.slot]); r != 0) return r;
    }
  }

  const char* ctype = st.categories[RGL_CAT_CTYPE];
  const char* db = ggetenv_idx("DB_LOCALE", ENVROW_DB_LOCALE);
  if (db == nullptr) {
    db = ctype;
    if (named && d == 0) {
      if (int r = PutEnv("DB_LOCALE", ctype); r != 0) return r;
    }
  }
  st.dbnls = d;
  st.primary = st.client;

  if (rglconverters(db, ctype, ctype, ctype) != 0) return -1;
  st.database = st.client;
  if (st.client_to_db != nullptr) {
    int32_t dbflags[RGL_NCATS] = {0};
    GlLocale* dbloc = nullptr;
    if (rglloadlocale(&dbloc, db, dbflags) != 0) return -1;
    st.database = dbloc;
  }
  return rgldateinit() != 0 ? -1 : 0;
}

int rglinit_mode(int32_t mode) {
  ClientLocaleState& st = g_state;
  if (rglregister(mode) != 0) return -1;

  gl_useglu(2);
  int32_t glu_error = 0;  // the errno hook hands this cell back as the object
  if (gl_init_glu(&glu_error) != 0) {
    rsetglerror(glu_error);
    return rglmaperror();
  }
  if (st.glu_cell == nullptr) {
    st.glu_cell = static_cast<void**>(std::calloc(1, sizeof(void*)));
    if (st.glu_cell == nullptr) {
      rsetglerror(3);
      return rglmaperror();
    }
  }
  if (*st.glu_cell == nullptr && (st.flags & RGL_FLAG_NO_GLU) == 0) {
    const char* v = ggetenv_idx("GL_USEGLU", ENVROW_GL_USEGLU);
    const long want = std::strtol(v != nullptr ? v : "0", nullptr, 10);
    if (want == 1 || want == 2) {
      *st.glu_cell = lxr_assign_global_struct();
      if (*st.glu_cell == nullptr) {
        rsetglerror(3);
        return rglmaperror();
      }
    }
  }
  if (st.inited_modes & mode) return 0;

  st.in_progress = 1;
  if (rglinit_client() != 0) {
    st.in_progress = 0;
    return rglmaperror();
  }
  st.mode = static_cast<int16_t>(mode);
  st.inited_modes = static_cast<int16_t>(st.inited_modes | mode);
  st.in_progress = 0;
  rsetglerror(0);
  return 0;
}

int rglinit(void) {
  ClientLocaleState& st = g_state;
  if ((st.inited_modes & st.mode) != 0 || st.in_progress) {
    rsetglerror(0);
    return 0;
  }
  const int r = rglinit_mode(st.mode);
  if (ThreadRuntimeRecord* rec = rthreadrec()) rec->init_status = r != 0 ? -1280 : 0;
  return r;
}

TV_API int zel_gl_init(void) {
  ClientLocaleState& st = g_state;
  if ((st.inited_modes & st.mode) != 0 || st.in_progress) {
    rsetglerror(0);
    return 0;
  }
  if (rglinit() == 0) return 0;
  if (st.client != nullptr) {
    if (st.client->error == 7) {
      st.client->error = 9;
    } else if (st.client->error == 11) {
      st.client->error = 8;
    }
  }
  return -1;
}

TV_END_C
