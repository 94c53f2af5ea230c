// Host values: moving single values between the program's host variables
// and the protocol (bind values of request 5, PUT values stored into an
// insert cursor's rows, columns of fetched rows moved into host variables),
// the rules these share, and the runtime's descriptor-name table.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C

struct SqliMessageStream;

// Writes one value of a bind request from a host variable.
int32_t sqli_bind_item(SqliValueItem* item, struct SqliMessageStream* s);
// Writes one value of a bind request from an SqlValue.
int32_t sqli_bind_value(SqlValue* v, int32_t floats_as_decimals, struct SqliMessageStream* s);
// The wire type of a host variable; written as an int16 when write is set.
int32_t sqli_wire_type(int32_t host_type, SqliValueItem* item, int32_t write, int32_t xid,
                       struct SqliMessageStream* s);
// Bytes a value of the type takes in a row; *length_word gets the length word.
int32_t sqli_wire_size(int32_t type, int32_t distinct, int32_t source_type, int32_t source_length,
                       int32_t qualifier, int32_t host_length, int32_t* length_word);

// Stores one PUT value into the column at pos of an insert cursor's row.
int32_t sqli_put_store(SqliCursor* c, SqliValueItem* item, unsigned char* pos, int32_t column_type,
                       int32_t column_length, int32_t distinct, int32_t source_type, int32_t source_length);
// Stores an SqlValue into the column at pos through the compatibility
// rules of types: 0 or the stored-form writer's error (set).
int32_t sqli_put_store_value(SqlValue* v, unsigned char* pos, int32_t column_type, int32_t column_length,
                             int32_t distinct, int32_t source_type, int32_t source_length, int32_t value_length);
// Bytes a column of the type and length word takes in a row (stored: the
// column's bytes, available of them, for the variable-length types and
// unpadded VARCHAR); -1 when they are too few to tell.
int32_t sqli_stored_size(int32_t type, int32_t length_word, const unsigned char* stored, int32_t available);
// Moves the columns of the row at the cursor's buffer position into the
// targets (the descriptor's items when desc is set). Mode bits: 0x2 targets
// from a descriptor, 0x4 a null needs an indicator.
int32_t sqli_row_unpack(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc, int32_t mode);

// Conversions through an SqlValue.
int32_t sqli_host_to_host(const void* src, int32_t src_type, int32_t src_length, void* dst, int32_t dst_type,
                          int32_t dst_length);
int32_t sqli_host_to_stored(const void* src, int32_t src_type, int32_t src_length, void* dst,
                            int32_t stored_type, int32_t stored_length);
int32_t sqli_item_to_value(SqliValueItem* item, SqlValue* v);
int32_t sqli_value_to_item(SqlValue* v, SqliValueItem* item);

// The null rule of input values (bind and PUT): 1 null, 0 not.
int32_t sqli_input_null(const SqliValueItem* item);

// The character-input check of a connection in ANSI mode: each input of
// host type 100, 109 or 114 with a length above 0 holds a NUL within that
// length; the first null input ends the check. 0, or -766 (set).
int32_t sqli_char_input_check(const SqliItemList* in);

// Indicator variables.
int16_t sqli_ind_read(int32_t type, const void* data, int32_t length);
int32_t sqli_ind_write(int32_t value, int32_t type, void* data, int32_t length);

// Length of text that fits room without cutting a character; -1279 under
// the ANSI-mode flag when it does not fit.
int32_t sqli_mb_fit(const char* text, int32_t length, int32_t room);

// Checks the first input of a collection statement: 1, or -1 (-1817 set).
int32_t sqli_check_input_desc(SqliCursor* c, SqliDescriptor* desc);

// A zeroed array of new_count items; frees the old items' owned names and the old array.
SqliValueItem* sqli_item_array_make(SqliValueItem* old, int32_t old_count, int32_t new_count);
// Memory a host variable of the type takes.
int32_t sqli_host_msize(int32_t type, int32_t length);

// The runtime's descriptor-name table.
int32_t sqli_desc_table_add(const char* name, SqliDescriptor* d);
SqliDescriptor* sqli_desc_table_find(const char* name);
SqliDescriptor* sqli_desc_table_remove(const char* name);

TV_END_C
