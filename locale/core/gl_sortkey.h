// Sort keys: byte strings whose memcmp order is the collation order of the
// strings they were made from.
//
// Table collations write, pass by pass, every weight the pass yields as
// base-254 digits offset by 2 (so 0x01, written between passes, and the
// final 0x00 sort below every digit); a weight ordered by code is followed
// by the character's code. The digit count of a weight follows
// coll_maxweight (1 digit below 254, 2 below 254^2, ...), that of a code
// the locale's longest character (1 byte: 255, 2: 65535, ...).
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// The key of a NUL-terminated wide string into out (at most size bytes; out
// may be NULL with size 0 to measure). Returns the full key length without
// the terminating 0, which is written only when there is room; -1 on error.
TV_API int32_t gl_wcsxfrm(GlLocale *loc, char *out, const GlWchar *ws, int32_t size);
// The same for a NUL-terminated multibyte string.
TV_API int32_t gl_full_mbsxfrm(GlLocale *loc, char *out, const char *s, int32_t size);

TV_END_C
