// Shared helpers of the host-value modules (bind, PUT store, row unpack,
// type check): the connection properties they read, the null rule of
// input values and the character conversions to and from the server.
#pragma once

#include <stdint.h>

#include "base/cvt.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/cursor.h"
#include "sqltypes/sqlvalue.h"

struct SqliRuntime;

namespace sqli_hv {

SqliConnection* Conn();
// The connection runs in ANSI mode (second database property).
bool Ansi();
// Floats and small floats go as decimals (fourth database property).
bool FloatsAsDecimals();
// The connection knows extended types.
bool Xtypes();
// VARCHAR values travel without padding.
bool Unpadded();

// Built-in SQL types: 0 to 18, 42, 52 and 53.
inline bool Builtin(int32_t t) { return (t >= 0 && t <= 18) || t == 42 || t == 52 || t == 53; }
inline bool CharType(int32_t t) { return t == SQLCHAR || t == SQLNCHAR || t == SQLVCHAR || t == SQLNVCHAR; }
inline bool CollType(int32_t t) { return t >= SQLSET && t <= SQLCOLLECTION; }
inline bool OpaqueLike(int32_t t) {
  return t == SQLUDTVAR || t == SQLUDTFIXED || t == SQLLVARCHAR || t == SQLBOOL;
}

// Host types whose indicator 0 means "not null" without looking at the value.
inline bool TextHost(int32_t t) { return t == 100 || t == 108 || t == 109 || t == 114 || t == 119; }

// The indicator of an input item: its indicator pointer, else its
// indicator variable as a SMALLINT; *has is 0 when there is neither.
int16_t InputIndicator(const SqliValueItem* item, bool* has);
// The null rule of input values (bind and PUT).
bool InputIsNull(const SqliValueItem* item);

// Converters of the connection's character data, or null.
GlConverter* ToServer();
GlConverter* FromServer();
// Converts n bytes into the server's code set in the runtime's growable
// work buffer: the converted length with *out at the bytes, or -1 with
// the locale error in *err (*out keeps the source).
int32_t ConvertOut(const char* text, int32_t n, const char** out, int32_t* err);
// The same from the server's code set into the client's.
int32_t ConvertIn(const char* text, int32_t n, const char** out, int32_t* err);

// Bytes of a stored DECIMAL, MONEY, DATETIME or INTERVAL by length word.
inline int32_t PackedSize(int32_t w) { return ((w & 1) + ((w >> 8) & 0xFF) + 3) / 2; }

// Big-endian stores and loads of row fields.
void Be16(int32_t v, unsigned char* p);
void Be32(int64_t v, unsigned char* p);
void Be64(int64_t v, unsigned char* p);
int32_t Ld16(const unsigned char* p);
int32_t Ld32(const unsigned char* p);
int64_t Ld64(const unsigned char* p);

// The float flag of the connection's stream (1 most significant byte first).
int32_t FloatFlag();

// Length of a text in a fixed room cut on a character boundary of the
// given locale (the client's when null).
int32_t FitChars(const char* text, int32_t length, int32_t room, bool client_locale);

// The length an item is announced with in the type check (flags 0x20:
// texts keep their NUL).
int32_t CheckLength(const SqliValueItem* item, int32_t flags);
int32_t CheckedForm(const SqliCursor* c, int32_t column, int32_t* type, int32_t* length);

// sqli_row_unpack with the runtime state already looked up by the caller.
int32_t RowUnpack(SqliRuntime* rt, SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                  int32_t mode);

}  // namespace sqli_hv
