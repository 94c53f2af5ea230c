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

// The collection fields of a statement record (SqliCursor::coll) whose
// table is a collection or row host variable; owned by the record.
typedef struct SqliCollStmt {
  SqliCollection* variable; // the collection host variable
  CollCursor cursor;        // attached while the record is open
  SqliCollValue* values;    // copied value list (with its end item)
  SqliCollValue* pristine;  // where the placeholders stand (no end item)
  int32_t pristine_count;
  char* names;              // copied name list
  int32_t position;         // insert position, 0 for none
  int32_t state;            // 1 while open
} SqliCollStmt;

// Client-side statements. Each returns the sqlcode.
int32_t sqli_coll_slct(SqliValueItem* variable, int32_t out_count, SqliValueItem* outs, const char* names);
int32_t sqli_coll_stmt(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, const char* names,
                       SqliCollStmt* cursor, int32_t kind, int32_t position);
int32_t sqli_coll_insert_values(SqliCollection* coll, const char* names, SqliCollValue* values,
                                int32_t position);
int32_t sqli_coll_bind_values(int32_t in_count, SqliValueItem* ins, SqliCollValue* values, int32_t kind,
                              SqliCollValue** pristine, int32_t* pristine_count);
int32_t sqli_coll_copy_values(const SqliCollValue* values, SqliCollValue** out);

// Collection statements on statement records: PREPARE, DECLARE (on a
// text, or on a prepared collection statement), OPEN, FETCH, PUT, CLOSE,
// FLUSH, FREE, DESCRIBE and EXECUTE. None reaches the server. Names are
// statement-table names; a record without a name (a local one) works the
// same but is never looked up.
SqliCursor* sqli_coll_prep(const char* name, const char* text, const SqliCollValue* values, const char* names,
                           int32_t kind, int32_t position);
int32_t sqli_coll_decl(SqliCursor* c, const char* name, const char* const* text, int16_t in_count,
                       SqliValueItem* ins, int16_t out_count, SqliValueItem* outs, const SqliCollValue* values,
                       const char* names, int32_t kind, int32_t position);
int32_t sqli_coll_decl_prepared(SqliCursor* c, const char* name, SqliCursor* prepared);
int32_t sqli_coll_open(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* descriptor);
int32_t sqli_coll_fetch(SqliCursor* c, int16_t out_count, SqliValueItem* outs, const char* descriptor);
int32_t sqli_coll_put(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* descriptor);
int32_t sqli_coll_close(SqliCursor* c);
int32_t sqli_coll_flush(SqliCursor* c);
int32_t sqli_coll_free(SqliCursor* c);
// DESCRIBE into a new value description (*out, freed with free(); its
// texts point into the type description) or a named descriptor.
int32_t sqli_coll_describe(SqliCursor* c, SqliDescriptor** out, const char* descriptor);
int32_t sqli_coll_exec(SqliCursor* c, int16_t in_count, SqliValueItem* ins, const char* in_descriptor,
                       int16_t out_count, SqliValueItem* outs, const char* out_descriptor);

// Hand-offs of the statement calls: the input description checked, then
// OPEN, EXECUTE or the statement without a cursor (whose five collection
// arguments are the value list, the name list, the cursor record of a
// positioned UPDATE or DELETE, and the kind and insert position carried
// in the pointers).
int32_t sqli_coll_open_entry(SqliCursor* c, SqliDescriptor* in_desc, const char* in_name);
int32_t sqli_coll_exec_entry(SqliCursor* c, SqliDescriptor* in_desc, const char* in_name, SqliItemList* out,
                             const char* out_name);
int32_t sqli_coll_stmt_entry(int32_t in_count, SqliValueItem* ins, void* values, void* names, void* cursor,
                             void* kind, void* position);

// The record's cursor leaves the collection (when open); its state is 0.
void sqli_coll_detach(SqliCursor* c);
// Releases the record's collection fields: the cursor leaves the
// collection, the lists are freed. The mark stays.
void sqli_coll_release(SqliCursor* c);

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
