// Collection and row host variables on the client: the records programs
// allocate and free, the checks run before such a variable is bound into
// a request, and the statements that read and change them without the
// server (cursors, singleton SELECT, INSERT, UPDATE, DELETE).
//
// Name list: the fields a statement names, in entries of 150 bytes, each a
// NUL-terminated name compared without trailing blanks; the list ends at an
// entry whose first byte is NUL. No list means every field.
//
// Value list (one 16-byte item per value, ended by an item whose data,
// type and length are 0): data, type, length, qualifier, literal flag.
// Type markers: -1 end of a constructor, -2 null, -3 placeholder, -4 the
// next field of a ROW constructor, -5 the caller's separator; 19 to 22 with
// the literal flag open a constructor; 23 and 123 are host variables.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"
#include "sqltypes/collection.h"

TV_BEGIN_C

#define SQLI_NAME_ENTRY 150

typedef struct SqliCollValue {
  char* data;
  int16_t type;
  int16_t length;
  int16_t qualifier;
  int16_t literal;
} SqliCollValue;

// Statement kinds of collection statements.
enum {
  SQLI_CK_SELECT = 2, SQLI_CK_INSERT = 6, SQLI_CK_UPDATE = 7, SQLI_CK_DELETE = 8, SQLI_CK_DELETE_ALL = 32,
  SQLI_CK_UPDATE_ALL = 33,
};

// Exported.
TV_API int32_t sqli_cl_alloc(int32_t ignored, SqliCollection** out, const CollTypeEntry* fields);
TV_API int32_t zel_cl_card(SqliCollection* value, int32_t* isnull);
TV_API int32_t zel_cl_dealloc(SqliCollection** value);

// Checks of the values of a statement before they are bound: 0, or the
// sqlcode of the first failing value.
int32_t sqli_coll_check_idlen(int32_t count, SqliValueItem* items);
int32_t sqli_coll_check_typed(int32_t count, SqliValueItem* items);
// The SQL type text of a value's type description (caller frees), or null.
char* sqli_coll_typetext(const SqliCollection* value);

// Client-side statement record of a collection statement, hung from the
// statement record's extra pointer.
typedef struct SqliCollStmt {
  SqliCollection* variable;
  CollCursor cursor;
  int32_t kind;
  SqliCollValue* values;   // copied value list (with its end item)
  SqliCollValue* pristine; // where the placeholders stand (no end item)
  int32_t pristine_count;
  char* names;             // copied name list
  int32_t position;
  int32_t state;           // 1 while open
  int16_t in_count;
  SqliValueItem* in_items;
  int16_t out_count;
  SqliValueItem* out_items;
  uint32_t flags;          // SQLI_CS_*
} SqliCollStmt;

enum { SQLI_CS_DECLARED = 0x1, SQLI_CS_OPEN = 0x2, SQLI_CS_PREPARED = 0x8, SQLI_CS_FETCHED = 0x80 };

// Client-side statements. Each returns the sqlcode.
int32_t sqli_coll_slct(SqliValueItem* variable, int32_t out_count, SqliValueItem* outs, const char* names);
int32_t sqli_coll_stmt(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, const char* names,
                       SqliCollStmt* cursor, int32_t kind, int32_t position);
int32_t sqli_coll_insert_values(SqliCollection* coll, const char* names, SqliCollValue* values,
                                int32_t position);
int32_t sqli_coll_bind_values(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, int32_t kind,
                              SqliCollValue** pristine, int32_t* pristine_count);
int32_t sqli_coll_copy_values(const SqliCollValue* values, SqliCollValue** out);

// A cursor-style statement held by the program (the collection statements
// of DECLARE, OPEN, FETCH, PUT and CLOSE without a server statement).
int32_t sqli_coll_decl(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, int16_t out_count,
                       SqliValueItem* outs, const SqliCollValue* values, const char* names, int32_t kind,
                       int32_t position);
int32_t sqli_coll_open(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, const char* descriptor);
int32_t sqli_coll_fetch(SqliCollStmt* st, int16_t out_count, SqliValueItem* outs, const char* descriptor);
int32_t sqli_coll_put(SqliCollStmt* st, int16_t in_count, SqliValueItem* ins, const char* descriptor);
int32_t sqli_coll_close(SqliCollStmt* st);
// DESCRIBE of an open collection statement into a named descriptor.
int32_t sqli_coll_describe(SqliCollStmt* st, const char* descriptor);
int32_t sqli_coll_free(SqliCollStmt* st);

TV_END_C

TV_BEGIN_C
// Moves the element (data, size) of coll into the outputs: 0 or an error.
int32_t sqli_coll_fetch_element(SqliCollection* coll, const char* data, int32_t size, const char* names,
                                int32_t n_out, SqliValueItem* outs, int32_t from_desc);
TV_END_C

TV_BEGIN_C
// Moves field number field (1-based) of a row value, its packed data
// (data, size), into one output: 0 or an error.
int32_t sqli_coll_fetch_field(SqliCollection* row, int32_t field, const char* data, int32_t size, SqliValueItem* out,
                              int32_t from_desc);
TV_END_C
