// The thread's number and money text conventions (DbMoneyFormat): decimal
// and thousands separators, grouping, signs and currency symbols, taken
// from the client locale and overridden by DBMONEY.
//
// DBMONEY: [front symbol][. or ,][back symbol]. The front symbol ends at
// the first '.' or ',' (or at 28 bytes); that character becomes the
// decimal and the monetary decimal separator, and the thousands
// separators become the other one of '.' and ','. Digits in the front
// symbol are stored as '*'; the back symbol leaves digits out.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/decimal.h"

TV_BEGIN_C

#define DBMONEY_SYMBOL_MAX 28

typedef struct DbMoneyFormat {
  char decimal_sep[5];
  int32_t decimal_sep_len;
  int32_t decimal_sep_width;
  char thousands_sep[5];
  int32_t thousands_sep_len;
  char grouping[16];
  char int_curr_symbol[65];
  char currency_symbol[65];
  char mon_decimal_sep[5];
  int32_t mon_decimal_sep_len;
  int32_t mon_decimal_sep_width;
  char mon_thousands_sep[5];
  int32_t mon_thousands_sep_len;
  char mon_grouping[16];
  char positive_sign[5];
  int32_t positive_sign_len;
  char negative_sign[5];
  int32_t negative_sign_len;
  char int_frac_digits;
  char frac_digits;
  char p_cs_precedes;
  char p_sep_by_space;
  char n_cs_precedes;
  char n_sep_by_space;
  char p_sign_posn;
  char n_sign_posn;
  char locale_decimal_point[5];
  int32_t locale_decimal_point_len;
} DbMoneyFormat;

// Sets up the thread's record from DBMONEY and the client locale unless it
// is set up already.
TV_API void rmoneyinit(void);
// Fills `record` (null: the thread's record and symbols, and nothing
// happens when they are set up already) from the setting (null or empty:
// DBMONEY's value) and the client locale. front and back receive the
// symbols (29 bytes each) and may be null.
TV_API void rmoneyparse(const char* setting, char* front, char* back, DbMoneyFormat* record);
// Copies src into dst (dst_size bytes with the NUL), writing repl for each
// character equal to sep and dropping the thread's thousands separator:
// 0, or -1273 when the source does not fit.
TV_API int rsepsubst(const char* src, const char* sep, int sep_len, const char* repl,
                     int repl_len, char* dst, int dst_size);
// Number text to double: 0, -1213 not a number, -1223 range or not
// finite, -1211 no memory. Blank text gives the null double.
TV_API int zel_gl_convert_double(double* out, const char* text, const char* format);
// A double by a format of one E, G, e, f or g conversion (null: "%G") under
// the locale, the decimal separator the thread's: 0, -415 unusable format,
// -1207 longer than size - 1, -1273 no room after the separators.
TV_API int zel_gl_format_double(char* out, int size, double value, const char* format);

// The thread's money decimals (at most 32) and symbol lengths in bytes.
TV_API int rmoneyscale(void);
TV_API int rmoneyfrontlen(void);
TV_API int rmoneybacklen(void);
// Money text (at most length bytes) to plain number text: leading blanks
// and the front symbol skipped, the copy ending at the back symbol's first
// byte, money separators turned into number separators. out holds four
// bytes per byte of the text and the NUL.
TV_API void rmondec(const char* text, int length, char* out);
TV_API void rmondecexttab(const char* text, int length, char* out, const char* setting);
// Plain number text to money text; symbols 0 puts the front and back
// symbols around it. setting null: the thread's conventions.
TV_API void rnum2money(const char* text, char* out, const char* setting, int symbols);
// Rewrites the "." of a number text (in place) as the thread's decimal
// separator, dropping thousands separators; without keep_fraction a text
// that then no longer fits the field is cut at its decimal separator.
// 0, -1273 when it does not fit, -406 no memory.
TV_API int rnumlocalize(char* text, int field_length, int keep_fraction);
// Money text by a locale money format (null: the thread's conventions) and
// back: 0, or -1 with the locale error number set (9 bad value, 14 out of
// range, 22 bad format).
TV_API int zel_gl_format_money(char* out, int size, const Decimal* value, const char* format);
TV_API int zel_gl_convert_money(Decimal* out, const char* text, const char* format);

TV_END_C

#ifdef __cplusplus
// The thread's record (set up on first use), its front and back symbols
// and its set-up state (1 from DBMONEY, 2 from the locale alone).
const DbMoneyFormat* rmoneyformat();
const char* rmoneyfront();
const char* rmoneyback();
int rmoneystate();
#endif
