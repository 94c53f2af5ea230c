// Long, short and per-category locale specifications: a test of a
// composite specification, the long form that names all six categories
// with one short specification, the short specification a long form's six
// categories share, one category's short specification, and a composite of
// locale-object file names turned back into a specification once its six
// files are found.
//
// The long form, in category order:
//   GL_CTYPE = en_us.8859-1 ; GL_COLLATE = en_us.8859-1 ; GL_NUMERIC = ... ;
//   GL_MONETARY = ... ; GL_TIME = ... ; GL_MESSAGES = en_us.8859-1
// Here the language has exactly 2 letters (2 or 3 in a file name).
//
// obj receives the error number (may be NULL); path is the registry file
// for code-set look-ups. Results: 0, or -1. A letter position holding a
// non-letter fails with the error number unchanged (error 7 in
// gl_lc_short2lc_long); every other malformed text, and input longer than
// the work areas (285 characters of input, 310 in gl_lc_fname2lc_spec; a
// value of 33, a code-set name of 21, a file name of 36), fails with 7.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

TV_API int32_t gl_is_lc_spec(void *obj, const char *text);
TV_API int32_t gl_lc_short2lc_long(void *obj, const char *spec, char *out, const char *path);
// Writes the value before the code-set look-up, so a failed look-up leaves
// it in out.
TV_API int32_t gl_lc_spec2lc_short(void *obj, const char *spec, char *out, const char *path);
// category: 2 GL_CTYPE, 3 GL_COLLATE, 4 GL_NUMERIC, 5 GL_MONETARY, 6 GL_TIME,
// 7 GL_MESSAGES; any other returns 0 and writes nothing.
TV_API int32_t gl_lc_spec2category(void *obj, const char *spec, int32_t category, char *out,
                                   const char *path);
// fspec: the file-name form of all six categories; dir: the directory of
// the six files, or NULL to search for them. Error 15 when one does not
// open.
TV_API int32_t gl_lc_fname2lc_spec(void *obj, const char *fspec, char *out, const char *dir);

TV_END_C
