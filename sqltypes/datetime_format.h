// DATETIME and INTERVAL text by time formats: a caller's format, DBTIME,
// GL_DATETIME or the locale's date-and-time format, translated into the
// locale library's time format language; and picture formats such as
// 'YYYY-MM-DD HH24:MI:SS' translated into locale time formats.
//
// Results are 0 or a negative SQL code: -1263 text left after a value or a
// record that makes no value, -1271 no '.' before an interval fraction,
// -1272 null or empty text or format, -1273 missing or small output area,
// -1275 bad fraction digits or a conversion without letter, -1276 a
// conversion letter missing or not allowed, -1277 text that does not match
// its format, -1211 no memory, -23108 locale not ready. The zel_gl_ forms
// answer -1 with the locale error number set.
#pragma once

#include <stdint.h>

#include "locale/format/gl_time.h"
#include "platform/api.h"
#include "sqltypes/datetime.h"

TV_BEGIN_C

TV_API int dtcvfmtasc(const char* text, const char* format, DateTimeValue* out);
// At most length characters and the NUL.
TV_API int dttofmtasc(const DateTimeValue* value, char* out, int length, const char* format);
TV_API int incvfmtasc(const char* text, const char* format, IntervalValue* out);
TV_API int intofmtasc(const IntervalValue* value, char* out, int length, const char* format);
TV_API int zel_gl_convert_datetime(DateTimeValue* out, const char* text, const char* format);
TV_API int zel_gl_format_datetime(char* out, int length, const DateTimeValue* value,
                                  const char* format);
// -5853 unsupported picture word, -5854 unknown word or unclosed quote,
// -5855 missing or small output area.
TV_API int zel_to_gl_datetime(const char* picture, char* out, int length);

TV_END_C

#ifdef __cplusplus
// Helpers of the other SQL data types (not exported).

// The DATETIME qualifier a format covers, 0 for none, or a negative code.
int dtfmtqual(const char* format);
// Display width of the default DATETIME format, 0 on any failure.
int dtfmtwidth();
// The SQL code of the client locale's last error number.
int rglerrtosql();
// Chooses the format (caller's, DBTIME, GL_DATETIME, the locale's, the
// built-in one) and translates it; mode 0 parse, 1 format. *format in:
// the caller's or null; out: a new text the caller frees.
int dtgetfmt(char** format, int mode, int dot);
// Translates a format for the locale library; *out is a new text.
int dtfmttogl(const char* format, int mode, char** out, int dot);
// Record to value of qualifier qual (0 or -1263) and back.
int tmrectodt(const GlTimeRecord* rec, int qual, Decimal* out);
int dttotmrec(const DateTimeValue* value, GlTimeRecord* rec);
#endif
