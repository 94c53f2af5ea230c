// String and field helpers of the client libraries.
//
// The argument order is the base layer's own, not the C run-time's: the
// source comes first and the destination second (stcopy(src, dst),
// bycopy(src, dst, n), stlong(value, dst), stchar(src, dst, width)).
// Stored integers are big-endian. Floating fields are IEEE 754 in machine
// order, or in the order a format flag names: flag 1 means most significant
// byte first (reversed on this little-endian host); the loads read machine
// order for any other flag, and the stores write nothing for a flag other
// than 0 or 1. A floating field of all 0xFF bytes is the SQL NULL.
//
// The helpers keep no state and set no error number. The case operations
// follow the current client locale.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Case codes of rcaseshift and rcaseconv.
#define RCASE_UPPER 41
#define RCASE_LOWER 42

// NUL-terminated strings.
TV_API void stcopy(const char* src, char* dst);
TV_API void stcat(const char* src, char* dst);
// Copies at most n bytes (the rest of the n filled with NUL) and terminates
// dst[n-1], so dst holds at most n-1 characters. Nothing for n <= 0.
void stncopy(const char* src, char* dst, int32_t n);
TV_API int32_t stleng(const char* s);
int32_t stnleng(const char* s, int32_t n);     // at most n; 0 for n <= 0
TV_API int stcmpr(const char* a, const char* b);  // unsigned bytes: -1, 0, 1
int stcasecmp(const char* a, const char* b);   // lower-case map, unsigned
int stncasecmp(const char* a, const char* b, int32_t n);  // locale-aware
// 0 when equal over at most n bytes, trailing blanks of the longer one
// ignored; -1 otherwise. Two null strings are equal, one null differs.
TV_API int cmprstr(const char* a, const char* b, int32_t n);
TV_API void rupshift(char* s);
TV_API void rdownshift(char* s);
void rcaseshift(int case_code, char* s);
// Converts n bytes of src into dst, stores the larger of the input and
// output lengths in *outlen; 0, or -941 for an invalid character.
int rcaseconv(int case_code, const char* src, char* dst, int32_t n, int32_t* outlen);
int rtolower(int c);

// Byte fields (a length of 0 or less is an empty field).
TV_API void bycopy(const void* src, void* dst, int32_t n);
TV_API int bycmpr(const void* a, const void* b, int32_t n);  // unsigned: -1, 0, 1
int bycmprpad(const void* a, int32_t alen, const void* b, int32_t blen);
TV_API int32_t byleng(const char* p, int32_t n);  // without trailing blanks, locale-aware
int32_t bylengnb(const char* p, int32_t n);       // without trailing 0x20 bytes
int byisfill(const char* p, int32_t n, int c);
// Copies the CHAR field of width n without its trailing 0x20 bytes into dst
// and terminates it (dst needs n + 1 bytes; it may be the field itself).
TV_API void ldchar(const char* p, int32_t n, char* dst);
// Fills the n-byte field from src, padded with blanks, cut at n; a null src
// gives n blanks; no terminator.
TV_API void stchar(const char* src, char* dst, int32_t n);

// Big-endian integers.
int32_t ldlong(const void* p);
void stlong(int64_t value, void* dst);  // the low 32 bits
int ldint(const void* p);               // signed 16-bit
void stint(int value, void* dst);       // the low 16 bits

// Floating fields.
double ldfloat(const void* p);
void stfloatle(double x, void* dst);
double lddouble(const void* p);
void stdoublele(double x, void* dst);
double ldmfloat(const void* p, int32_t flag);
void stmfloat(double x, void* dst, int32_t flag);
double ldmdouble(const void* p, int32_t flag);
void stmdouble(double x, void* dst, int32_t flag);
float ldfltnull(const void* p, int16_t* isnull);
float ldmfltnull(const void* p, int16_t* isnull, int32_t flag);
void stmfltnull(double x, void* dst, int16_t isnull, int32_t flag);
double lddblnull(const void* p, int16_t* isnull);
double ldmdblnull(const void* p, int16_t* isnull, int32_t flag);
void stmdblnull(double x, void* dst, int16_t isnull, int32_t flag);

// Suspends the calling thread for the given number of seconds.
void rsleep(int32_t seconds);

TV_END_C
