// DATETIME and INTERVAL values.
//
// A qualifier is 16 bits: the total digit count << 8 | first unit << 4 |
// last unit. Units: year 0, month 2, day 4, hour 6, minute 8, second 10,
// fraction(n) 10 + n (n = 1-5); 12 as a first unit means FRACTION. YEAR TO
// SECOND is 0x0E0A, YEAR TO FRACTION(5) 0x130F, INTERVAL DAY(9) TO SECOND
// 0x0F4A.
//
// The value is a Decimal holding the digits of all fields as one number
// whose decimal point lies right after the seconds, whatever the
// qualifier: 2024-03-05 10:20:30.123 is 20240305102030.123, 10:20 HOUR TO
// MINUTE is 102000. A DATETIME is positive; an INTERVAL has sign 1 or 0;
// null is sign -1.
//
// Results are 0 or a negative SQL code: -1261 first field too long, -1262
// bad character or separator, -1263 field out of range or text ending
// early, -1264 text after the value, -1265 interval does not fit its first
// field, -1266 qualifiers that cannot be combined or digits outside the
// fields, -1267 arithmetic result out of range, -1268 bad qualifier, -1271
// no '.' before a fraction. Several also stay in the status word
// (rgeterror).
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/decimal.h"

TV_BEGIN_C

#define TU_YEAR 0
#define TU_MONTH 2
#define TU_DAY 4
#define TU_HOUR 6
#define TU_MINUTE 8
#define TU_SECOND 10
#define TU_FRAC 12
#define TU_F1 11
#define TU_F2 12
#define TU_F3 13
#define TU_F4 14
#define TU_F5 15

#define TU_ENCODE(len, first, last) (((len) << 8) | ((first) << 4) | (last))
#define TU_LEN(q) (((q) >> 8) & 0xFF)
#define TU_START(q) (((q) >> 4) & 0xF)
#define TU_END(q) ((q) & 0xF)

typedef struct DateTimeValue {
  int16_t dt_qual;
  Decimal dt_dec;
} DateTimeValue;

typedef struct IntervalValue {
  int16_t in_qual;
  Decimal in_dec;
} IntervalValue;

TV_API int dtcvasc(const char* text, DateTimeValue* out);
TV_API int incvasc(const char* text, IntervalValue* out);
// The standard text; the caller's buffer holds at least 27 bytes
// (intoasc: the first field's digits + 22). While GL_DATETIME is set,
// dttoasc writes by that format, up to 80 characters and the NUL; while
// USE_DTENV is 1, dtcvasc reads by the format in force.
TV_API int dttoasc(const DateTimeValue* value, char* out);
TV_API int intoasc(const IntervalValue* value, char* out);
TV_API int dtextend(const DateTimeValue* source, DateTimeValue* target);
TV_API int invextend(const IntervalValue* source, IntervalValue* target);
TV_API int dtaddinv(const DateTimeValue* dt, const IntervalValue* inv, DateTimeValue* out);
TV_API int dtsubinv(const DateTimeValue* dt, const IntervalValue* inv, DateTimeValue* out);
TV_API int dtsub(const DateTimeValue* a, const DateTimeValue* b, IntervalValue* out);
TV_API int invmuldbl(const IntervalValue* value, double factor, IntervalValue* out);
TV_API int invdivdbl(const IntervalValue* value, double divisor, IntervalValue* out);
TV_API int invdivinv(const IntervalValue* a, const IntervalValue* b, double* out);
TV_API int dtcurrent(DateTimeValue* value);
TV_API const char* rtuname(int unit);

TV_END_C

#ifdef __cplusplus
// Helpers of the other SQL data types (not exported).

// kind 0 DATETIME, 1 INTERVAL: 0 or -1268 (also in the status word).
int dtchkqual(int kind, int qual);
int dtchkval(const Decimal* value, int qual);
int invchkval(const Decimal* value, int qual);
// The DATE of the value's YEAR TO DAY part (missing leading fields from
// today).
int dttodate(const Decimal* value, int qual, int32_t* date);
int datetodt(int32_t date, Decimal* out, int qual);
// kind 10 DATETIME or 14 INTERVAL: writes the qualifier's text (no NUL)
// and returns its length; 0 with -1268 in the status word when invalid.
int dtqualname(int kind, int qual, char* out);
// Result precision word or qualifier of an operation (46-51 comparisons,
// 58 +, 59 -, 60 *, 61 /) between two SQL types.
int rtypresult(int left_word, int right_word, int op, int left_type, int right_type);
// 0x40 when USE_DTENV is exactly "1", else 0.
int use_dtenv();
#endif
