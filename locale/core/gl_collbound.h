// Queries over a locale's collation for index range scans: pass
// directions, collating elements, the characters next in primary-weight
// order, and the lower and upper bound strings (and sort keys) of the
// strings that begin with a prefix.
//
// The primary key of a string is its sort key up to the first 0x01 byte
// (the part built from the first pass). A unit is one character or one
// collating element.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// 1 forward, 2 backward; -1 with error 20 (Thai), 4 (no such pass, passes
// count from 1) or 12 (a stored direction other than 1 or 2).
TV_API int32_t gl_getpassdirection(GlLocale *loc, int32_t pass);
// Character count of the first element (table order) that s begins with;
// 0 for none; -1 on error.
TV_API int32_t zel_gl_complen(GlLocale *loc, const char *s);
// 1: s is no part of an element; 2: s is an element; 3: s is a proper
// beginning of one; -1 on error.
TV_API int32_t gl_iscompchar(GlLocale *loc, const char *s);
// The unit of the next (previous) primary weight after unit, written to out
// NUL-terminated (out holds at least 64 bytes); the byte length of its first
// character, -2 when there is none, -1 on error. complete is 0 when unit
// is a proper beginning of an element.
TV_API int32_t gl_nextprimweight(GlLocale *loc, const char *unit, int32_t complete, char *out);
TV_API int32_t gl_prevprimweight(GlLocale *loc, const char *unit, int32_t complete, char *out);
// 1 for the Thai collation, else 0.
TV_API int32_t gl_IsSpecialLocale(GlLocale *loc);
// The prefix with its last unit replaced by its next (upper 1) or previous
// (upper 0) neighbour: the bound string's length, -2 when the last unit has
// no neighbour (out then holds the prefix), -1 on error (14: out too small).
TV_API int32_t gl_mbsCollBound(GlLocale *loc, const char *prefix, int32_t upper, char *out,
                               int32_t size);
// The sort key of that bound string (of the prefix itself after -2).
TV_API int32_t gl_mbsSortKeyCollBound(GlLocale *loc, const char *prefix, int32_t upper,
                                      char *key, int32_t size);

TV_END_C
