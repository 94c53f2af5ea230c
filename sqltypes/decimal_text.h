// Text forms of Decimal: parsing number texts, ecvt- and fcvt-style digit
// strings, fixed-width fields, and the conversions to double and float
// that go through text. Separators and signs are the thread's
// DbMoneyFormat (moneyfmt.h).
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/decimal.h"

TV_BEGIN_C

// Parses a number text of `length` bytes: 0, -1213 not a number, -1200 /
// -1201 exponent out of range, -406 no memory; an empty or blank text is
// null. A text the locale cannot read as characters gives the locale's
// error number (positive). Every failure leaves *out zero.
TV_API int deccvasc(const char* text, int length, Decimal* out);
// A fixed-width field of `length` bytes, left-justified and blank-filled,
// no NUL; decimals < 0 shows the value's own decimals (at least one).
// Too narrow even in exponent form: the field is "*"-filled and -1.
TV_API int dectoasc(const Decimal* value, char* field, int length, int decimals);
TV_API int dectodbl(const Decimal* value, double* out);
TV_API int dectoflt(const Decimal* value, float* out);
// Digit strings, ecvt / fcvt style, in a per-thread buffer valid until
// the thread's next call.
TV_API char* dececvt(const Decimal* value, int ndigit, int* decpt, int* sign);
TV_API char* decfcvt(const Decimal* value, int ndigit, int* decpt, int* sign);
// A decimal integer in -2147483647..2147483647 (-1215 beyond, -1213 not
// a number); an empty text gives -2147483648.
TV_API int rstol(const char* text, int64_t* out);
TV_API int rstod(const char* text, double* out);
// Decimals by a locale number format of one floating (E G e f g) or
// integer (X b d i o q u x) conversion; null: the plain number text. The
// integer road holds -32767..32767, -32768 standing for null. 0, or -1
// with the locale error number set (9 bad value, 22 unusable format).
TV_API int zel_gl_convert_number(Decimal* out, const char* text, const char* format);
TV_API int zel_gl_format_number(char* out, int length, const Decimal* value, const char* format);

TV_END_C

#ifdef __cplusplus
// The digit-string engine: mode 0 `count` significant digits, 1 `count`
// digits after the point, 2 the same for the field formatters; rounds
// half up. Null when no buffer can be had.
char* decdigitstr(const Decimal* value, int count, int* decpt, int* sign, int mode);
// A decimal integer with an optional sign after leading blanks: `free`
// digits are taken unchecked, each further one must keep the value at most
// `max` (else over_code); an empty text gives `empty`. After the digits the
// text ends, or (only_blanks_after false) the next character is a blank or
// a newline. -1213 for anything else.
int rparseint(const char* text, int64_t max, int free_digits, int64_t empty, int over_code,
              bool only_blanks_after, int64_t* out);
// The field formatter of dectoasc with a fill byte for null (only the
// first byte is written when it is not a blank) and the separators of a
// DBMONEY-style setting (null: the thread's format).
int decfmtfield(const Decimal* value, char* field, int length, int decimals, char fill,
                const char* setting);
// The unload text: as dectoasc, with the format's negative sign also for
// a value shown as zero, and a value without integer part cut after its
// last non-zero fraction digit (two zeros for an all-zero fraction, one
// when one decimal is asked) and ended there by a NUL.
int dectounl(const Decimal* value, char* field, int length, int decimals);
// deccvasc with the separators of a DBMONEY-style setting.
int deccvmonasc(const char* text, int length, Decimal* out, const char* setting);
// The grouping check of an integer part (from its start up to the decimal
// separator) against grouping sizes.
bool decgroupok(const char* begin, const char* end, const char* grouping, const char* sep,
                int sep_len);
#endif
