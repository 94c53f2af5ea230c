// The shared libraries of the ICU back end: one record per library loaded,
// the reading of the library registry, and loading, binding and releasing
// through the dynamic loader.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_DLL_MAX = 4,             // libraries used from the registry
  GL_DLL_NO_MODULE = -2,      // error code: no library is loaded
  GL_DLL_LOADER_ERROR = -1,   // error code: the dynamic loader refused
};

typedef struct GlDllRecord {
  int32_t error;  // last error code, GL_DLL_NO_MODULE when nothing is loaded
  char *text;     // the loader's message for it, or "Internal Error"
  void *module;   // dlopen handle
  char *path;     // copy of the library's path (malloc hook)
} GlDllRecord;

// The next library of the registry stream as "{dir}/lxr/dll/{line}"
// (malloc hook), skipping empty lines; NULL at the end of the file, or with
// *nomem set when the path cannot be allocated.
char *_gl_next_dll_name(FILE *registry, const char *dir, int32_t *nomem);
// Loads path into rec; 0, or -1 with the error recorded (or no memory for
// the path copy).
int32_t _gl_dll_load(GlDllRecord *rec, const char *path);
// Records the dynamic loader's last error in rec.
void _gl_dll_error(GlDllRecord *rec);
// Resolves name in rec's library into *fn: 0, or -1 with *fn NULL and the
// error recorded.
int32_t _gl_dll_sym(GlDllRecord *rec, const char *name, void **fn);
// Releases rec's library and path copy: 0, or -1 after writing the error
// to the standard error stream.
int32_t _gl_dll_unload(GlDllRecord *rec);

TV_END_C
