// Code-set conversion objects: converters between two code sets, loaded
// from conversion-object files (".cvo", kind "cv", version "9") or served by
// the ICU back end. See gl_cvo_read.cc for the file layout.
//
// The opening calls take the target first and the source second; the file of
// a conversion from S to T is named after S first. A NULL converter means
// that both sides have the same code set and the bytes need no conversion.
#pragma once

#include <stdint.h>

#include "locale/core/gl_codetable.h"
#include "locale/core/gl_glu.h"
#include "platform/api.h"

TV_BEGIN_C

// Flag byte of a value entry; the low three bits count the target bytes.
enum {
  GL_CV_COUNT_MASK = 0x07,
  GL_CV_TERMINATOR = 0x08,  // uncounted input ends after this character
  GL_CV_MAPPED = 0x10,      // an ordinary mapping (a validity bit alone)
  GL_CV_SUBST = 0x20,       // the target has no such character
  GL_CV_SHIFTED = 0x40,     // target bytes of the shifted state
  GL_CV_TOGGLE = 0x80,      // the source switches its shift state
  GL_CV_VALID = 0xf8,       // an entry with none of these bits is invalid
};

// The caller's record of a stateful conversion.
typedef struct GlConvState {
  int32_t reset;      // nonzero: a call starts in both initial states
  int32_t flush;      // nonzero: end shifted output with the shift-in sequence
  int32_t in_shift;   // 1 while the source is shifted
  int32_t out_shift;  // 1 while the output is shifted
} GlConvState;

typedef struct GlConverter GlConverter;

typedef int32_t (*GlCvEngine)(GlConverter *cv, GlConvState *state, const char **in,
                              int32_t *in_len, char **out, uint32_t *room, int32_t *subst);

struct GlConverter {
  int32_t error_number;        // first, for _gl_ext_errno
  unsigned char *byte_table;   // 256 bytes for single-byte converters, or NULL
  int32_t source_stateful;
  int32_t target_stateful;
  int32_t shift_seq_len[4];
  int32_t target_min_len;
  int32_t target_max_len;
  int32_t aux_width_1;
  int32_t aux_width_2;
  int32_t source_min_len;
  int32_t source_max_len;
  int32_t skip_byte_table;
  float expansion;
  unsigned char shift_seq[4][4];  // shift-out, shift-in, two stored only
  GlCodeTable *table;
  GlCodeTable *shift_table;     // while the source is shifted, or NULL
  GlCvEngine engine;
  GluHandle icu_converter;
  int32_t icu_flag;
};

// Returned by the opening calls on early failures; never freed. Error
// numbers 3 (memory), 7 (code set not registered), 8 (bad arguments).
TV_API extern GlConverter _gl_cv_nomem;
TV_API extern GlConverter _gl_cv_nocodeset;
TV_API extern GlConverter _gl_cv_badarg;

// Opening: *out receives a converter, NULL or a static error converter.
TV_API int32_t gl_iconv_open1(GlConverter **out, const char *fname);
TV_API int32_t gl_iconv_open(GlConverter **out, const char *target, const char *source);
// 0 and NULL for the same code set, 1 opened, -1 failed.
TV_API int32_t gl_cv_load(GlConverter **out, const char *target_spec, const char *source_spec,
                          const char *registry_path, const char *dir);
TV_API int32_t gl_cv_open(GlConverter **out, const char *target_spec, const char *source_spec);
TV_API int32_t gl_cv_unload(GlConverter *cv);

// Converting: the cursors are written back on success and failure; a NULL
// in_len means input up to the first terminator character; a NULL out only
// counts the room down. 0, or -1 with the converter's error number set.
TV_API int32_t gl_cv_mconv(GlConverter *cv, GlConvState *state, const char **in,
                           int32_t *in_len, char **out, uint32_t *room, int32_t *subst);
TV_API int32_t gl_miconv(GlConverter *cv, const char **in, int32_t *in_len, char **out,
                         uint32_t *room, int32_t *subst);
TV_API int32_t gl_mconvlen(GlConverter *cv, const char **in, int32_t *in_len, uint32_t *room,
                           int32_t *subst);
TV_API double gl_iconv_expansion(GlConverter *cv);
// n times the expansion factor rounded up to a whole number (a NULL
// converter, meaning no conversion, has the factor 1).
TV_API int32_t gl_cv_outbuflen(GlConverter *cv, int32_t n);

// Internal.
int32_t _gl_cv_read(GlConverter *cv, GlFile *f);
int _gl_cv_read_value(GlFile *f, void *dest, int32_t value_size);
void _gl_cv_choose_engine(GlConverter *cv);
// The code-set part of a specification (after ".", up to a blank, "@" or
// the end) into out (1,024 bytes); empty when there is none.
void _gl_cv_codeset_part(const char *spec, char *out);
int32_t _gl_cv_conv_general(GlConverter *cv, GlConvState *state, const char **in,
                            int32_t *in_len, char **out, uint32_t *room, int32_t *subst);
int32_t _gl_cv_conv_wide_source(GlConverter *cv, GlConvState *state, const char **in,
                                int32_t *in_len, char **out, uint32_t *room, int32_t *subst);
int32_t _gl_cv_conv_wide_target(GlConverter *cv, GlConvState *state, const char **in,
                                int32_t *in_len, char **out, uint32_t *room, int32_t *subst);
int32_t _gl_cv_conv_sbcs(GlConverter *cv, GlConvState *state, const char **in, int32_t *in_len,
                         char **out, uint32_t *room, int32_t *subst);
int32_t _gl_cv_conv_stateful(GlConverter *cv, GlConvState *state, const char **in,
                             int32_t *in_len, char **out, uint32_t *room, int32_t *subst);

TV_END_C
