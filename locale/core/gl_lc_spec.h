// Locale specifications and the names derived from them.
//
// A short specification names one locale: language (2 or 3 letters), "_",
// territory (2 letters), "." and a code-set name (1 to 21 graphic
// characters, not beginning with "#"), then optionally "@" and a modifier of
// up to 4 letters or digits ("en_us.8859-1", "EN_us.UTF8@euro").
//
// A composite specification names one per category: groups "GL_CTYPE =
// en_us.8859-1" joined by " ; ", each keyword at most once, all groups of
// one code-set number.
//
// Derived names (this port writes "/" where a directory separator stands):
//   locale-object file   "en_us/0333.lco", "en_us/e01ceuro.lco"
//   message directory    "en_us/0333"
//   conversion object    "0333e01c.cvo"
//   pieces               "en_US", "819", "euro"
//   normal form          "en_US.819", "en_US.57372@euro"
//
// A directory prefix is the directory text followed by the byte 0xFF, which
// the data-file search turns into the separator.
//
// obj receives error numbers (may be NULL); path is the registry file handed
// to the code-set look-ups (NULL: the cache or the installed registry).
// Outputs go into caller's areas that these functions do not measure.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Parser number (1 GL_CTYPE, 2 GL_COLLATE, 3 GL_TIME, 4 GL_MONETARY,
// 5 GL_NUMERIC, 6 GL_MESSAGES) of the keyword text begins with, or 0;
// *length receives the keyword's length (0 when none).
int32_t _gl_lc_category_keyword(const char *text, int32_t *length);
// The text of the keyword of a parser number 1-6, else NULL.
const char *_gl_lc_keyword_text(int32_t number);

// Converts the short specification at *in into its file name at *out: 1
// and both cursors advanced past what was read and written, else 0. The
// code-set number is stored whenever a code-set name was read.
int32_t _gl_lc_piece2fname(void *obj, const char **in, char **out, uint16_t *csnum,
                           const char *path);

// Writes dir and the byte 0xFF at *out when dir is non-empty.
void _gl_put_dir_prefix(char **out, const char *dir);

// The locale-object file name of a short specification, or the file-name
// form of a composite (dir, when given, prefixed to each group's name).
TV_API int32_t gl_lc_spec2lc_fname(void *obj, const char *spec, char *out, const char *path,
                                   const char *dir);
// The message directory name (of the GL_MESSAGES group of a composite).
TV_API int32_t gl_lc_spec2msg_dname(void *obj, const char *spec, char *out, const char *path,
                                    const char *dir);
// dir prefix, 4 hex digits of first, 4 of second, ".cvo"; out must hold the
// directory and 14 more bytes.
TV_API void gl_cs_nums2cv_fname(void *obj, uint16_t first, uint16_t second, char *out,
                                const char *dir);
// Splits a locale-object file name into language_territory (7 bytes),
// decimal code-set number (6 bytes) and modifier (5 bytes).
TV_API int32_t gl_lc_fname2lc_pieces(void *obj, const char *fname, char *lt, char *cs,
                                     char *mod);
// Joins pieces into a short specification; mod may be NULL.
TV_API int32_t gl_lc_pieces2lc_spec(void *obj, const char *lt, const char *cs, const char *mod,
                                    char *out);
// Normal form of a short specification.
TV_API int32_t _gl_lc_short_spec2lc_short_norm(void *obj, const char *spec, char *out,
                                               const char *path);
// Normal form of a short specification or of a composite of six groups.
TV_API int32_t gl_lc_spec2lc_norm(void *obj, const char *spec, char *out, const char *path);
// The code-set number of a specification (or of a bare code-set name), or
// 0xe000. A composite must end with " ; ".
TV_API uint16_t gl_lc_spec2cs_num(void *obj, const char *spec, const char *path);

TV_END_C
