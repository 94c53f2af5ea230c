// The client locale as the rest of the base services use it: start-up,
// the character primitives of the multibyte string helpers, case
// conversion, the message directory and the conversion of environment
// values. Everything goes through the locale that rglinit() loaded; before
// the start-up the primitives treat text as single bytes of the built-in
// 8-bit tables.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Makes sure the process's locale state exists: 0, or a negative locale
// error (also stored with rsetglerror). Once per process; a failure leaves
// the start-up status of the thread at -1280 and the next call tries again.
int rglinit(void);
// As rglinit, for outside callers: 0, or -1 with the detail in the client
// locale's library error number (7 reported as 9, 11 as 8).
TV_API int zel_gl_init(void);
// Sets bits of the start-up's flags word (RGL_FLAG_NO_GLU: make no ICU
// glue record). Called before the start-up.
#define RGL_FLAG_NO_GLU 0x8
void rgl_set_flags(uint32_t bits);

// The DBNLS mode recorded when the client locale was loaded: 0, 1 or 2.
int rgl_dbnls_mode(void);

// 1 when every character of the current client locale is one byte.
int rgl_single_byte(void);

// Character primitives of the multibyte forms of stncasecmp and byleng,
// called only when rgl_single_byte() is 0.
// Converts the multibyte string src into at most max wide characters and
// returns how many were stored (the conversion stops at the string's NUL),
// or -1 for an invalid character.
int32_t rgl_mbstowcs(uint32_t* dst, const char* src, int32_t max);
// 1 when the wide character is of class alpha.
int rgl_iswalpha(uint32_t wc);
// Stores the lower-case form of wc in *out and returns 0; -1 when wc lies
// beyond the locale's 8-bit tables (the locale's error number is then 1).
int rgl_towlower(uint32_t wc, uint32_t* out);
// The byte length of the character at p (left bytes remain; a NUL byte
// counts 1), with *blank set to 1 when it is blank and not a control
// character; -1 when the bytes are no valid character.
int32_t rgl_mbchar(const char* p, int32_t left, int* blank);

// Case conversion of n bytes of src into dst, which holds dst_size bytes
// (RCASE_UPPER or RCASE_LOWER of base/fields.h). Stores the converted length
// in *outlen and returns 0, or returns 1 when the locale finds an invalid
// character.
int rgl_caseconv(int case_code, const char* src, int32_t n, char* dst, int32_t dst_size,
                 int32_t* outlen);
// The output size that a case conversion of n bytes may need.
int32_t rgl_case_outbuflen(int32_t n);

// The message directory name of a locale ("en_us/0333" for en_US.8859-1),
// written with '/' between its parts, into out (size bytes). 0, or -1 when
// the locale has no message directory or the name does not fit.
int rgl_msg_dname(const char* locale, char* out, int32_t size);

// Code-set conversion of environment values. Each returns 1 with a new
// malloc'd text in *out, 0 when no conversion is needed (nothing made), or
// -1 on failure. to_server: client to database code set; from_fs: the
// file-system code set to the client's.
int rgl_env_to_server(const char* value, char** out);
int rgl_env_from_fs(const char* value, char** out);

TV_END_C
