// Code-set conversion front: conversions through one of the locale
// start-up's converter handles (null: same code set, bytes are copied),
// sized by the converter's expansion factor, with the locale library's
// conversion errors turned into client error numbers.
//
// A source is counted (*count bytes; zero or negative counts are refused)
// or, with a null count, a NUL-terminated string. Errors give -1 with the
// number in the thread's locale error word: -23112 bad argument, -23102 no
// memory, -23103 invalid or incomplete character, -23113 any other
// conversion failure. A conversion that runs out of room is no error: the
// bytes that fitted stay and *truncated is 1.
#pragma once

#include <stdint.h>

#include "locale/core/gl_cvo.h"
#include "platform/api.h"

TV_BEGIN_C

// A caller's growable buffer.
typedef struct CvtGrowBuf {
  int32_t size;
  char* data;
} CvtGrowBuf;

// Into dst (dst_size bytes): the bytes written; 0 without a converter
// after copying (at most dst_size bytes; a cut copy sets *truncated).
int32_t cvt_tobufst(GlConverter* cv, const char* src, const int32_t* count, char* dst,
                    int32_t dst_size, int32_t* truncated, int32_t* word);
int32_t cvt_tobuf(GlConverter* cv, const char* src, const int32_t* count, char* dst,
                  int32_t dst_size, int32_t* truncated);
// Converts the text in its own buffer (buf_size bytes): bytes written, 0
// (nothing done) without a converter. A string stays terminated when the
// buffer has room for the NUL.
int32_t cvt_inplace(GlConverter* cv, char* text, const int32_t* count, int32_t buf_size,
                    int32_t* truncated);
// Into a new buffer (*out, freed by the caller, NUL-terminated): the bytes
// written; 0 without a converter (a copy is made).
int32_t cvt_alloc(GlConverter* cv, const char* src, const int32_t* count, char** out,
                  int32_t* word);
int32_t cvt_newbuf(GlConverter* cv, const char* src, const int32_t* count, char** out);
// Into the caller's growable buffer, enlarged when needed.
int32_t cvt_togrowbuf(GlConverter* cv, const char* src, const int32_t* count, CvtGrowBuf* buf);
// Output size for n input bytes: n times the factor, rounded up.
int32_t cvt_explen(GlConverter* cv, int32_t n);
// Bytes the converted source takes (without a converter, the count or the
// string's length + 1).
int32_t cvt_needlen(GlConverter* cv, const char* src, const int32_t* count);

// Conversions between two named locales, opened on first use and kept.
TV_API int32_t zel_gl_cv_mconv(GlConvState* state, char** out, int32_t* out_left,
                               const char* target, const char** in, int32_t* in_left,
                               const char* source);
TV_API int32_t zel_gl_cv_outbuflen(const char* target, const char* source, int32_t n);
// 1 when the code sets of a and b differ, 0 when equal, -1 when unknown.
TV_API int32_t zel_gl_conv_needed(const char* a, const char* b);
TV_API int32_t zel_gl_cv_sb2sb_table(const char* target, const char* source,
                                     unsigned char** table);

TV_END_C
