#include "locale/core/gl_dll.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "locale/core/gl_support.h"

namespace {

constexpr char kInternalError[] = "Internal Error";

void SetRecordError(GlDllRecord *rec, int32_t code, const char *text) {
  free(rec->text);
  rec->error = code;
  rec->text = strdup(text != nullptr ? text : kInternalError);
}

}  // namespace

char *_gl_next_dll_name(FILE *registry, const char *dir, int32_t *nomem) {
  *nomem = 0;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&line, &cap, registry)) >= 0) {
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (n > 0) break;
  }
  if (n < 0) {
    free(line);
    return nullptr;
  }
  static constexpr char kMiddle[] = "/lxr/dll/";
  size_t size = strlen(dir) + sizeof kMiddle - 1 + static_cast<size_t>(n) + 1;
  auto *path = static_cast<char *>(_gl_malloc(size));
  if (path == nullptr) {
    *nomem = 1;
  } else {
    snprintf(path, size, "%s%s%s", dir, kMiddle, line);
  }
  free(line);
  return path;
}

void _gl_dll_error(GlDllRecord *rec) { SetRecordError(rec, GL_DLL_LOADER_ERROR, dlerror()); }

int32_t _gl_dll_load(GlDllRecord *rec, const char *path) {
  rec->module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (rec->module == nullptr) _gl_dll_error(rec);
  size_t n = strlen(path) + 1;
  _gl_free(rec->path);
  rec->path = static_cast<char *>(_gl_malloc(n));
  if (rec->path == nullptr) return -1;
  memcpy(rec->path, path, n);
  return rec->module != nullptr ? 0 : -1;
}

int32_t _gl_dll_sym(GlDllRecord *rec, const char *name, void **fn) {
  *fn = nullptr;
  if (rec->module == nullptr) {
    SetRecordError(rec, GL_DLL_NO_MODULE, kInternalError);
    return -1;
  }
  dlerror();
  void *p = dlsym(rec->module, name);
  if (const char *e = dlerror(); e != nullptr || p == nullptr) {
    SetRecordError(rec, GL_DLL_LOADER_ERROR, e);
    return -1;
  }
  *fn = p;
  return 0;
}

int32_t _gl_dll_unload(GlDllRecord *rec) {
  if (rec->module != nullptr) {
    if (dlclose(rec->module) != 0) {
      _gl_dll_error(rec);
      fprintf(stderr, "%s\n", "UnLoadLibraries: Error UnLoading SharedObject file");
      fprintf(stderr, "%s\n", rec->path != nullptr ? rec->path : "");
      fprintf(stderr, "%s\n", rec->text != nullptr ? rec->text : kInternalError);
      return -1;
    }
    rec->module = nullptr;
  }
  _gl_free(rec->path);
  rec->path = nullptr;
  return 0;
}
