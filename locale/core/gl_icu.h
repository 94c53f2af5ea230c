// The ICU back end: whether it is wanted, loading and binding the
// ICU-wrapper libraries, loading the ICU data and the locale map, releasing
// them, the per-locale switch that suspends it, and small forwarders.
//
// Wanted only when the program allows it (gl_useglu 1 or 2) and GL_USEGLU
// is 1 or 2. The libraries are named, one per line, in
// {TARVELONDIR}/lxr/etc/64-dllregistry.48 and loaded in that order from
// {TARVELONDIR}/lxr/dll/; the entry points are bound in the last of them.
//
// Process-wide state, not locked: set up on one thread before locales are
// used from several, and release only when no locale is in use.
#pragma once

#include <stdint.h>

#include "locale/core/gl_glu.h"
#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// 0 refuses the back end; 1 or 2 allow it, 2 also turns a library that
// exists but cannot be loaded (or refuses the memory functions) into
// switching the back end off. Effective until the libraries are ready.
TV_API void gl_useglu(int32_t capable);
// Initialises the back end once: 0, or -1 with obj's error number set.
TV_API int32_t gl_init_glu(void *obj);
// The same for a server's main program: the locale data is first read with
// the run-time file functions in place of the hooks.
TV_API int32_t gl_init_glu_zuinit(void *obj);
// Loads and binds the libraries alone: 0 or -1.
TV_API int32_t gl_init_glu_dll(void *obj);
// Releases the ICU data, the map and the libraries: 0 or -1. A later
// initialisation loads and binds the libraries afresh.
TV_API int32_t gl_unload_glu(void);
// off 1 suspends the back end for loc, 0 resumes it: 0, or -1 when loc is
// already in that state.
TV_API int32_t gl_toggle_glu(GlLocale *loc, int32_t off);

// The locale map, NULL before initialisation.
TV_API void *glx_gluMap(void);
// The ICU locale of loc's category (2-7), NULL when ICU does not serve it.
TV_API void *glx_gluLoc(GlLocale *loc, int32_t category);
TV_API const char *glx_icuErrorName(GluStatus status);
TV_API const char *glx_getICULocName(GluHandle h);
TV_API const char *glx_getICUCvtName(GluHandle h);
TV_API GluHandle glx_lc_open(GluHandle map, const char *name, GluStatus *st);
TV_API void glx_lc_close(GluHandle h);
TV_API int64_t glx_ucs32tombs(GluHandle h, char *mbs, int64_t count, const uint32_t *wcs,
                              int32_t len, GluStatus *st);
TV_API int32_t glx_ucs32toucs(void *a, void *b, void *c, void *d, void *e);
// The wrapper's global state record while ICU is in use, else NULL.
TV_API void *lxr_assign_global_struct(void);

// The common initialisation: mode 0 (gl_init_glu) or 1 (gl_init_glu_zuinit).
int32_t _gl_init_glu_mode(void *obj, int32_t mode);
// 1 while the back end is active (libraries bound and wanted), else 0.
int32_t _gl_glu_in_use(void);

TV_END_C
