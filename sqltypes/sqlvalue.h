// SqlValue: the one typed record through which every column and parameter
// of the SQL client passes, the two type-code spaces, and the records a
// value can hold (large-object locator, collection, variable binary).
//
// SQL type codes (the low 8 bits of a type word; the bits above are column
// flags: 0x100 NOT NULL, 0x800 keep the attribute word, 0x2000 character
// data): 0 CHAR, 1 SMALLINT, 2 INTEGER, 3 FLOAT, 4 SMALLFLOAT, 5 DECIMAL,
// 6 SERIAL, 7 DATE, 8 MONEY, 10 DATETIME, 11 BYTE, 12 TEXT, 13 VARCHAR,
// 14 INTERVAL, 15 NCHAR, 16 NVARCHAR, 17 INT8, 18 SERIAL8, 19 SET,
// 20 MULTISET, 21 LIST, 22 ROW, 23 COLLECTION, 40 variable UDT, 41 fixed
// UDT, 43 LVARCHAR, 45 BOOLEAN, 52 BIGINT, 53 BIGSERIAL.
//
// Host type codes (the application's variables): 100 NUL-terminated
// string, 101 16-bit integer, 102 32-bit integer, 103 8-byte variable
// holding a 32-bit integer, 104 float, 105 double, 107 Decimal, 108 fixed
// character area without NUL, 109 string without trailing blanks, 110
// DATE, 111 money Decimal, 112 DateTimeValue, 113 locator, 114 varchar
// string, 115 IntervalValue, 116 blank-padded byte area, 117 Int8Value,
// 118 collection, 119 lvarchar string, 120 fixed binary area, 121 variable
// binary record, 122 boolean byte, 123 row, 124 lvarchar through a
// variable binary record, 125 BIGINT.
//
// Wherever a function takes "a host or SQL type code", an SQL code 0-53 is
// turned into its host code first, and host code 102 works as 103 except
// where a function says otherwise.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/datetime.h"
#include "sqltypes/decimal.h"
#include "sqltypes/int8.h"

TV_BEGIN_C

enum {
  SQLCHAR = 0, SQLSMINT = 1, SQLINT = 2, SQLFLOAT = 3, SQLSMFLOAT = 4, SQLDECIMAL = 5,
  SQLSERIAL = 6, SQLDATE = 7, SQLMONEY = 8, SQLDTIME = 10, SQLBYTES = 11, SQLTEXT = 12,
  SQLVCHAR = 13, SQLINTERVAL = 14, SQLNCHAR = 15, SQLNVCHAR = 16, SQLINT8 = 17,
  SQLSERIAL8 = 18, SQLSET = 19, SQLMULTISET = 20, SQLLIST = 21, SQLROW = 22,
  SQLCOLLECTION = 23, SQLUDTVAR = 40, SQLUDTFIXED = 41, SQLLVARCHAR = 43, SQLBOOL = 45,
  SQLBIGINT = 52, SQLBIGSERIAL = 53,
};

#define SQLTYPE(word) ((word) & 0xFF)
#define SQL_NOTNULL_FLAG 0x100
#define SQL_KEEPATTR_FLAG 0x800
#define SQL_CHARDATA_FLAG 0x2000

// Host code 116 kept in a value's type word.
#define SQLV_BYTEAREA 116

// The large-object descriptor (56 bytes, machine order in memory); bit 0
// of field6 is the null flag.
typedef struct LargeObjectDesc {
  int16_t field1;
  int16_t field2;
  int32_t field32[7];
  int16_t field3;
  int16_t field4;
  int16_t field5;
  int16_t field6;
  int32_t field8;  // -1 in a null host locator
  int32_t field9;
  int32_t field10;
  int32_t field11;
} LargeObjectDesc;

// A large-object locator host variable: the descriptor and the runtime's
// 56 bytes after it.
typedef struct LobHostLocator {
  LargeObjectDesc desc;
  unsigned char rest[56];
} LobHostLocator;

struct CollCursor;
struct CollChangeLog;
struct CollTypeInfo;

#define COLL_ISNULL 0x4
#define COLL_OWNS_TYPEINFO 0x1000000
#define COLL_OWNS_DATA 0x2000000

// A collection or row value held by the client.
typedef struct SqliCollection {
  uint32_t cl_magic;
  int32_t cl_handle;
  struct CollCursor* cl_curs;
  int32_t cl_len;
  int32_t cl_cardinality;
  int16_t cl_isfixed;
  int32_t cl_elsize;
  uint32_t cl_flags;
  struct CollChangeLog* cl_lastlog;
  struct CollChangeLog* cl_log;
  char* cl_data;
  int32_t cl_hashvalue;
  int32_t cl_datalen;
  int16_t cl_typed;
  int32_t cl_typelen;
  struct CollTypeInfo* cl_svr_typeinfo;
  struct CollTypeInfo* cl_typeinfo;
  // Room that keeps the host variable at the size the type tables give.
  unsigned char cl_reserved[24];
} SqliCollection;

// Flags of a variable binary record.
#define VB_OWNED 0x1  // the buffer is the library's and may be grown
#define VB_NULL 0x2

typedef struct SqliVarBinary {
  uint16_t vb_flags;
  int32_t vb_len;
  int32_t vb_size;
  char* vb_data;
} SqliVarBinary;

// Text, UDT, BOOLEAN and byte-area data of a value.
#define SQLV_PADNUL 0x20  // pad with NUL bytes instead of blanks when stored
typedef struct SqlValueText {
  char* ptr;
  int32_t len;
  int16_t flags;
} SqlValueText;

typedef struct SqlValue {
  uint16_t v_type;  // SqlTypeCode in the low 8 bits, column flags above
  int16_t v_ind;    // negative: null
  uint32_t v_attr;  // set by the SQL runtime
  uint16_t v_len;   // precision word, qualifier or maximum length
  union {
    int32_t i4;       // SMALLINT, INTEGER, SERIAL, DATE
    int64_t i8;       // BIGINT, BIGSERIAL
    float f4;
    double f8;
    Decimal dec;      // DECIMAL, MONEY; the digits of DATETIME and INTERVAL
    Int8Value int8;   // INT8, SERIAL8
    SqlValueText text;
    LobHostLocator loc;  // BYTE, TEXT
    SqliCollection coll;
    unsigned char raw[128];
  } v;
} SqlValue;

// Type names, sizes and widths.
TV_API const char* rtypname(int type);
TV_API const char* rtypxname(int type, int xid);
TV_API int rtypmsize(int type, int len);
TV_API int rtypalign(int offset, int type);
TV_API int rtypwidth(int type, int len);
TV_API int rtypsqltohost(int type);
TV_API int rtyphosttosql(int type);

// Stored-null test of `n` stored bytes of SQL type `type`: 0 with *ind set
// to 0, -1 (null) or 1 (a null LVARCHAR); -1 for a null indicator pointer
// or too few bytes.
TV_API int zelcdc_valisnull(const void* stored, int n, int type, int16_t* ind);

// Host variables. rhosttoval: 0, or -1 for an unknown code or a missing
// variable. rvaltohost: the status word.
TV_API int rhosttoval(void* var, int type, SqlValue* out, int len, const int16_t* ind);
TV_API int rvaltohost(SqlValue* value, void* var, int type, int len, int16_t* ind);

// Unload text of a value in a field of w characters (0: no limit, the text
// and its NUL).
TV_API int rvaltotext(const SqlValue* value, char* field, int w, int left);

// Scalar conversions; each clears the status word first and leaves its
// failure there (and returns it).
TV_API int rvaltoint2(const SqlValue* value, int16_t* out);
TV_API int rvaltoint4(const SqlValue* value, int32_t* out);
TV_API int rvaltobigint(const SqlValue* value, int64_t* out);
TV_API int rvaltodbl(const SqlValue* value, double* out);
TV_API int rvaltodblblank(const SqlValue* value, double* out, int* blank);
TV_API int rvaltodec(const SqlValue* value, Decimal* out);
TV_API int rvaltomon(const SqlValue* value, Decimal* out);
TV_API int rvaltoint8(const SqlValue* value, Int8Value* out);
// format: a DBDATE-style format for texts, or null.
TV_API int rvaltodate(const SqlValue* value, int32_t* out, const char* format);
TV_API int rvaltobool(const SqlValue* value, unsigned char* out);
TV_API int rvaltodt(const SqlValue* value, DateTimeValue* out, int qual);
TV_API int rvaltoinv(const SqlValue* value, IntervalValue* out, int qual);
// Fits a Decimal in place to a precision word: 0, or -1 when it does not.
TV_API int decfitprec(Decimal* value, int precword);
TV_API int rdblfinite(double value);

// Comparison: op 46 =, 47 !=, 48 <=, 49 <, 50 >=, 51 >, 52 MATCHES,
// 53 NOT MATCHES, 56 LIKE, 57 NOT LIKE. The result is SMALLINT 1 or 0, or
// null.
TV_API int rvalcompare(int op, SqlValue* left, SqlValue* right, SqlValue* result);
TV_API int rvalmatch(int op, SqlValue* value, SqlValue* pattern, SqlValue* result);
TV_API int rvalmatchesc(int op, SqlValue* value, SqlValue* pattern, SqlValue* result,
                        int escape);

TV_END_C

#ifdef __cplusplus
static_assert(sizeof(Decimal) == 22, "Decimal host variable size");
static_assert(sizeof(Int8Value) == 12, "Int8Value host variable size");
static_assert(sizeof(DateTimeValue) == 24, "DateTimeValue host variable size");
static_assert(sizeof(LargeObjectDesc) == 56, "large-object descriptor size");
static_assert(sizeof(LobHostLocator) == 112, "locator host variable size");
static_assert(sizeof(SqliCollection) == 120, "collection host variable size");
static_assert(sizeof(((SqlValue*)nullptr)->v) == 128, "SqlValue data size");

// Helpers of the SQL data types (not exported).

// The value's SQL type code, or -1 for a value made from host code 116.
inline int sqlv_type(const SqlValue* v) {
  return v->v_type == SQLV_BYTEAREA ? -1 : SQLTYPE(v->v_type);
}
inline bool sqlv_isnull(const SqlValue* v) { return v->v_ind < 0; }
// CHAR, NCHAR, VARCHAR, NVARCHAR and LVARCHAR.
bool sqlv_istext(int sqltype);
// Sets a result value to SMALLINT holding b (indicator 0).
void sqlv_setbool(SqlValue* result, int b);
void sqlv_setnullbool(SqlValue* result);
// The client locale (loaded on first use), or null.
struct GlLocale* sqlv_locale();
#endif
