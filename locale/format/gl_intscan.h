// Readers of one integer field for the scan and time parsing engines: an
// optional minus or the locale's negative sign, then digits, converted in
// a base. A width counts display columns; a precision is the number of
// characters the field must take (blanks after the number make it up).
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// *cursor stands at the field and moves past it on success; on failure it
// stays where the failure was found. width <= 0: none; precision -1: none.
// 0, or -1 (error 3 when the digit buffer cannot be allocated). A value out
// of range leaves error 6 and still succeeds.
int32_t _gl_scan_uint_field(GlLocale *loc, uint32_t *value, int32_t *negative, int32_t base,
                            const GlWchar **cursor, int32_t width, int32_t precision);
int32_t _gl_scan_uint64_field(GlLocale *loc, uint64_t *value, int32_t *negative, int32_t base,
                              const GlWchar **cursor, int32_t width, int32_t precision);

TV_END_C
