// The search for the locale library's data files: through GL_PATH, or under
// the installation tree {dir}/lxr/{kind}{version} and {dir}/lxr/{kind}.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "platform/api.h"

TV_BEGIN_C

// The file operations a search uses.
typedef struct GlFileOps {
  void *(*alloc)(uint64_t size);
  void (*release)(void *p);
  GlFile *(*open)(const char *path, const char *mode);
  int (*close)(GlFile *f);
} GlFileOps;

// Through the hooks (malloc, free, fopen, fclose).
extern const GlFileOps _gl_hook_file_ops;
// The run-time's own functions, bypassing the hooks.
extern const GlFileOps _gl_rt_file_ops;

// The installation directory used when TARVELONDIR is unset.
#define GL_DEFAULT_INSTALL_DIR "/usr/tarvelon/"

// Searches for name; *dir receives the directory last looked in (freed with
// ops->release by the caller). obj may be NULL (no error number then).
GlFile *_gl_open_locale_file(void *obj, const char *name, char **dir, const char *kind,
                             const char *version, const GlFileOps *ops);
GlFile *_gl_open_data_file(void *obj, const char *name, const char *kind, const char *version);
GlFile *_gl_open_data_file_rt(void *obj, const char *name, const char *kind, const char *version);
// The directory where the file lies (freed with the set's release), or NULL.
char *_gl_find_data_dir(void *obj, const char *name, const char *kind, const char *version);
char *_gl_find_data_dir_rt(void *obj, const char *name, const char *kind, const char *version);
// Opens one complete path whose 0xFF bytes stand for the separator.
GlFile *_gl_open_path(void *obj, const char *path);
// Opens path "r" with the set, logging the attempt; error 8 on failure.
GlFile *_gl_try_open(void *obj, const char *path, const GlFileOps *ops);
// 1 (error 8) when TARVELONDIR is longer than 256 characters, else 0.
int32_t _gl_check_install_dir(void *obj);

TV_END_C
