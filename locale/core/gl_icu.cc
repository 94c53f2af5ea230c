#include "locale/core/gl_icu.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <initializer_list>

#include "locale/core/gl_datafile.h"
#include "locale/core/gl_dll.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_support.h"

namespace {

// Set by gl_useglu: 1 or 2 allow the back end.
int32_t g_capable = 0;
// 1 while the back end is wanted and its libraries are (being) bound.
int32_t g_in_use = 0;
// The library step is done (bound, or the back end found not wanted).
int32_t g_ready = 0;
GluHandle g_data = nullptr;
GluHandle g_map = nullptr;  // non-NULL: fully initialised
GlDllRecord g_dlls[GL_DLL_MAX] = {
    {GL_DLL_NO_MODULE, nullptr, nullptr, nullptr},
    {GL_DLL_NO_MODULE, nullptr, nullptr, nullptr},
    {GL_DLL_NO_MODULE, nullptr, nullptr, nullptr},
    {GL_DLL_NO_MODULE, nullptr, nullptr, nullptr},
};

constexpr size_t kDataNameSize = 32;

void SetError(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
}

int32_t Fail(void *obj, int32_t e, const char *message) {
  if (message != nullptr) _gl_debug_log(message);
  SetError(obj, e);
  return -1;
}

// A failure of the library step: nothing is bound, so nothing is in use.
int32_t FailLibraries(void *obj, int32_t e, const char *message) {
  g_in_use = 0;
  return Fail(obj, e, message);
}

// Releases every library still held; -1 when one cannot be released.
int32_t ReleaseLibraries() {
  _gl_glu_set_bound(0);
  for (GlDllRecord &rec : g_dlls) {
    if (_gl_dll_unload(&rec) != 0) return -1;
    free(rec.text);
    rec.text = nullptr;
    rec.error = GL_DLL_NO_MODULE;
  }
  return 0;
}

// Fills the bind area with every entry point of rec's library.
bool BindEntryPoints(GlDllRecord *rec) {
  auto *area = reinterpret_cast<unsigned char *>(_gl_glu_bind_area());
  for (int i = 0; i < GL_GLU_NENTRIES; ++i) {
    void *fn = nullptr;
    if (_gl_dll_sym(rec, _gl_glu_names[i], &fn) != 0) {
      _gl_debug_logf("gl_init_glu_dll: missing %s: %s", _gl_glu_names[i],
                     rec->text != nullptr ? rec->text : "");
      return false;
    }
    memcpy(area + static_cast<size_t>(i) * sizeof fn, &fn, sizeof fn);
  }
  // Two names are asked for once more, as the wrappers expect.
  for (const char *again : {"glu_lc_clone", "glu_ucstombs"}) {
    void *fn = nullptr;
    if (_gl_dll_sym(rec, again, &fn) != 0) return false;
  }
  return true;
}

// The wrapper's file functions: the hook dispatchers, or its own (NULL).
void SetFileCallbacks(GlGluApi *api, bool dispatchers) {
  api->setFgetcFunc(dispatchers ? _gl_ext_getc : nullptr);
  api->setFseekFunc(dispatchers ? _gl_ext_fseek : nullptr);
  api->setFtellFunc(dispatchers ? _gl_ext_ftell : nullptr);
  api->setFerrorFunc(dispatchers ? _gl_ext_ferror : nullptr);
  api->setFeofFunc(dispatchers ? _gl_ext_feof : nullptr);
}

// The file hooks that a server's main program sets aside while the locale
// data is first read.
constexpr int kFileSlots[] = {GL_EXT_FCLOSE, GL_EXT_FEOF,  GL_EXT_FERROR,
                              GL_EXT_FGETC,  GL_EXT_FGETS, GL_EXT_FOPEN,
                              GL_EXT_FSEEK,  GL_EXT_FTELL, GL_EXT_FWRITE};

struct SavedHooks {
  GlExtFunc slots[sizeof kFileSlots / sizeof kFileSlots[0]];
};

void SetAsideHooks(SavedHooks *saved, GlGluApi *api) {
  GlExtFuncTable *table = _gl_ext_table();
  for (size_t i = 0; i < sizeof kFileSlots / sizeof kFileSlots[0]; ++i) {
    saved->slots[i] = table->slots[kFileSlots[i]];
    table->slots[kFileSlots[i]] = nullptr;
  }
  SetFileCallbacks(api, false);
}

void PutBackHooks(const SavedHooks *saved, GlGluApi *api) {
  GlExtFuncTable *table = _gl_ext_table();
  for (size_t i = 0; i < sizeof kFileSlots / sizeof kFileSlots[0]; ++i) {
    table->slots[kFileSlots[i]] = saved->slots[i];
  }
  SetFileCallbacks(api, true);
}

int32_t LoadIcuData(void *obj, GlGluApi *api) {
  _gl_debug_log("gl_init_glu: Loading ICU data:");
  if (g_data == nullptr) {
    char name[kDataNameSize] = {};
    if (api->getIcuDataFileName(name, kDataNameSize) != 0) {
      return Fail(obj, GL_ENOFILE,
                  "gl_init_glu: End icudata not loaded, could not get icudata file name");
    }
    name[kDataNameSize - 1] = '\0';
    char *dir = _gl_find_data_dir(obj, name, "etc", nullptr);
    if (dir == nullptr) {
      return Fail(obj, GL_ENOFILE, "gl_init_glu: End icudata not loaded, icudata file not found");
    }
    GluStatus st = 0;
    GluHandle data = api->loadIcuData(dir, name, &st);
    _gl_free(dir);
    if (st > 0) return Fail(obj, st, "gl_init_glu: End icudata not loaded");
    g_data = data;
  }

  _gl_debug_log("gl_init_glu: Loading Map data:");
  char *dir = _gl_find_data_dir(obj, "locmap", "etc", nullptr);
  if (dir == nullptr) {
    return Fail(obj, GL_ENOFILE, "gl_init_glu: End pMap not loaded locmap file not found");
  }
  GluStatus st = 0;
  GluHandle map = api->loadMapData(dir, &st);
  _gl_free(dir);
  if (st > 0) return Fail(obj, st, "gl_init_glu: End pMap not loaded");
  // A map handle is what marks the back end as initialised.
  if (map == nullptr) return Fail(obj, GL_ENOFILE, "gl_init_glu: End pMap not loaded");
  g_map = map;
  return 0;
}

// Reads one locale's data once, so that it is read with the run-time file
// functions; the answer is not used.
void WarmUp(GlGluApi *api) {
  GluStatus st = 0;
  GluHandle h = api->lc_open(g_map, "en_us.utf8", &st);
  if (h == nullptr) return;
  st = 0;
  api->ismctype(h, "a", 1, 32, &st);
  api->lc_close(h);
}

}  // namespace

void gl_useglu(int32_t capable) {
  _gl_debug_log("gl_useglu: Begin");
  g_capable = capable;
  _gl_debug_log("gl_useglu: exit");
}

int32_t gl_init_glu_dll(void *obj) {
  if (g_ready) {
    _gl_debug_log("gl_init_glu_dll: preloaded");
    return 0;
  }
  _gl_debug_log("gl_init_glu_dll: Begin");
  if (g_capable != 1 && g_capable != 2) {
    g_in_use = 0;
    _gl_debug_log("gl_init_glu_dll: No glu_capable");
    return 0;
  }
  _gl_debug_log("gl_init_glu_dll: glu_capable");

  const char *value = _gl_ext_getenv("GL_USEGLU");
  long useglu = atol(value != nullptr ? value : "0");
  g_in_use = useglu == 1 || useglu == 2;
  const char *dir = _gl_ext_getenv("TARVELONDIR");
  if (!g_in_use) {
    _gl_debug_log("gl_init_glu_dll: End");
    g_ready = 1;
    return 0;
  }

  _gl_debug_log("gl_init_glu_dll: Initializing");
  if (dir == nullptr || *dir == '\0') return FailLibraries(obj, GL_ENOFILE, nullptr);
  // Libraries left by an earlier attempt that failed are not reused.
  if (ReleaseLibraries() != 0) return FailLibraries(obj, GL_ENOFILE, nullptr);

  static constexpr char kRegistry[] = "/lxr/etc/64-dllregistry.48";
  size_t size = strlen(dir) + sizeof kRegistry;
  auto *path = static_cast<char *>(_gl_malloc(size));
  if (path == nullptr) {
    return FailLibraries(obj, GL_ENOMEM, "gl_init_glu_dll: memory allocation fails");
  }
  snprintf(path, size, "%s%s", dir, kRegistry);
  FILE *registry = fopen(path, "re");
  _gl_free(path);
  if (registry == nullptr) {
    return FailLibraries(obj, GL_ENOFILE, "gl_init_glu_dll: cannot open dllregistry");
  }

  int loaded = 0;
  while (loaded < GL_DLL_MAX) {
    int32_t nomem = 0;
    char *lib = _gl_next_dll_name(registry, dir, &nomem);
    if (lib == nullptr) {
      if (nomem == 0) break;
      fclose(registry);
      return FailLibraries(obj, GL_ENOMEM, "gl_init_glu_dll: memory allocation fails");
    }
    _gl_debug_logf("gl_init_glu_dll: Loading library: %s", lib);
    GlDllRecord *rec = &g_dlls[loaded];
    if (_gl_dll_load(rec, lib) != 0) {
      fclose(registry);
      if (rec->module != nullptr) {  // loaded, but no memory for the path copy
        _gl_free(lib);
        return FailLibraries(obj, GL_ENOMEM, "gl_init_glu_dll: memory allocation fails");
      }
      _gl_debug_log("LoadLibraries: Error Loading SharedObject file");
      _gl_debug_log(lib);
      _gl_debug_log(rec->text != nullptr ? rec->text : "");
      struct stat st;
      bool exists = stat(lib, &st) == 0;
      _gl_free(lib);
      if (exists && g_capable == 2 && useglu == 2) {
        g_capable = 0;
        g_in_use = 0;
        _gl_debug_log("gl_init_glu_dll: Error Loading DLLs allowed");
        return 0;
      }
      return FailLibraries(obj, GL_ENOFILE, nullptr);
    }
    _gl_free(lib);
    ++loaded;
  }
  fclose(registry);

  _gl_debug_log("gl_init_glu_dll: Loading symbols:");
  if (!BindEntryPoints(&g_dlls[loaded > 0 ? loaded - 1 : 0])) {
    _gl_glu_set_bound(0);
    return FailLibraries(obj, GL_ENOFILE, "gl_init_glu_dll: End icudata vodr_dlsym error");
  }

  GlGluApi *api = _gl_glu_bind_area();
  int32_t memory =
      api->setMemoryFunctions(_gl_ext1_malloc, _gl_ext1_realloc, _gl_ext1_free, _gl_ext1_calloc);
  SetFileCallbacks(api, true);
  api->setUCAFunc(_gl_ext_UCA);
  api->setPrintMessageFunc(_gl_debug_log);
  api->setMessageLevel(0xffff);
  api->setMessageSubLevel(1);
  if (memory != 0) {
    _gl_glu_set_bound(0);
    if (g_capable == 2) {
      g_capable = 0;
      g_in_use = 0;
      _gl_debug_log(
          "gl_init_glu_dll: glu_capable was 2, set to 0; error from glu_setMemoryFunctions, "
          "disabling ICU.");
      return 0;
    }
    return FailLibraries(obj, memory, "gl_init_glu_dll: End callback functions");
  }
  _gl_debug_log("gl_init_glu_dll: End");
  _gl_glu_set_bound(1);
  g_ready = 1;
  return 0;
}

int32_t _gl_init_glu_mode(void *obj, int32_t mode) {
  _gl_debug_log("gl_init_glu: Begin");
  if (g_map != nullptr) return 0;
  if (gl_init_glu_dll(obj) != 0) {
    _gl_debug_log("gl_init_glu: loading DLLs error");
    return -1;
  }
  GlGluApi *api = _gl_glu_api();
  if (g_in_use && api != nullptr) {
    SavedHooks saved;
    if (mode == 1) SetAsideHooks(&saved, api);
    int32_t rc = LoadIcuData(obj, api);
    if (rc == 0 && mode == 1) WarmUp(api);
    if (mode == 1) PutBackHooks(&saved, api);
    if (rc != 0) return -1;
  }
  _gl_debug_log("gl_init_glu: End");
  return 0;
}

int32_t gl_init_glu(void *obj) { return _gl_init_glu_mode(obj, 0); }
int32_t gl_init_glu_zuinit(void *obj) { return _gl_init_glu_mode(obj, 1); }

int32_t _gl_glu_in_use(void) { return g_in_use && _gl_glu_api() != nullptr ? 1 : 0; }

int32_t gl_unload_glu(void) {
  bool held = g_map != nullptr || g_data != nullptr;
  for (const GlDllRecord &rec : g_dlls) held = held || rec.module != nullptr;
  if (!held) return 0;
  g_in_use = 0;
  if (GlGluApi *api = _gl_glu_api()) {
    if (g_data != nullptr) api->unloadIcuData(g_data);
    if (g_map != nullptr) api->unloadMapData(g_map);
  }
  g_data = nullptr;
  g_map = nullptr;
  // The next initialisation loads and binds the libraries afresh.
  g_ready = 0;
  return ReleaseLibraries();
}

int32_t gl_toggle_glu(GlLocale *loc, int32_t off) {
  _gl_debug_log("gl_toggle_glu: Begin");
  int32_t rc = -1;
  if (loc != nullptr && off == 1 && loc->icu_off == 0) {
    memcpy(loc->icu_saved, loc->icu_in_use, sizeof loc->icu_saved);
    memset(loc->icu_in_use, 0, sizeof loc->icu_in_use);
    loc->icu_off = 1;
    rc = 0;
  } else if (loc != nullptr && off == 0 && loc->icu_off == 1) {
    memcpy(loc->icu_in_use, loc->icu_saved, sizeof loc->icu_in_use);
    memset(loc->icu_saved, 0, sizeof loc->icu_saved);
    loc->icu_off = 0;
    rc = 0;
  }
  _gl_debug_log("gl_toggle_glu: exit");
  return rc;
}

void *glx_gluMap(void) { return g_map; }

void *glx_gluLoc(GlLocale *loc, int32_t category) {
  if (loc == nullptr || category < GL_CTYPE || category > GL_MESSAGES) return nullptr;
  int32_t i = category - GL_CTYPE;
  return loc->icu_in_use[i] ? loc->icu_locale[i] : nullptr;
}

const char *glx_icuErrorName(GluStatus status) {
  GlGluApi *api = _gl_glu_api();
  return api != nullptr ? api->icuErrorName(status) : nullptr;
}

const char *glx_getICULocName(GluHandle h) {
  GlGluApi *api = _gl_glu_api();
  return h != nullptr && api != nullptr ? api->getICULocName(h) : nullptr;
}

const char *glx_getICUCvtName(GluHandle h) {
  GlGluApi *api = _gl_glu_api();
  return h != nullptr && api != nullptr ? api->getICUCvtName(h) : nullptr;
}

GluHandle glx_lc_open(GluHandle map, const char *name, GluStatus *st) {
  if (GlGluApi *api = _gl_glu_api()) return api->lc_open(map, name, st);
  if (st != nullptr) *st = GL_ENOFILE;
  return nullptr;
}

void glx_lc_close(GluHandle h) {
  if (GlGluApi *api = _gl_glu_api()) api->lc_close(h);
}

int64_t glx_ucs32tombs(GluHandle h, char *mbs, int64_t count, const uint32_t *wcs, int32_t len,
                       GluStatus *st) {
  if (GlGluApi *api = _gl_glu_api()) return api->ucs32tombs(h, mbs, count, wcs, len, st);
  if (st != nullptr) *st = GL_ENOFILE;
  return -1;
}

int32_t glx_ucs32toucs(void *a, void *b, void *c, void *d, void *e) {
  if (GlGluApi *api = _gl_glu_api()) return api->ucs32toucs(a, b, c, d, e);
  return -1;
}

void *lxr_assign_global_struct(void) {
  GlGluApi *api = _gl_glu_api();
  return g_in_use && api != nullptr ? api->assign_global_struct() : nullptr;
}
