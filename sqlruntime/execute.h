// Running statements: EXECUTE IMMEDIATE, EXECUTE of a prepared statement,
// EXECUTE ... INTO and the singleton SELECT, EXECUTE PROCEDURE, statements
// without a cursor, DATABASE, CLOSE DATABASE, CREATE PROCEDURE FROM a file
// and DESCRIBE. Every call returns the sqlcode (0, 100 or an error), or -1
// when the runtime state cannot be made.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C

TV_API int32_t sqli_db_open(const char* name, int32_t exclusive);
TV_API int32_t sqli_db_close(void);
TV_API int32_t sqli_proc_create(const char* file);
// pair: {kind, id} that the caller keeps between calls; kind 0 never ran.
TV_API int32_t sqli_stmt(int32_t ignored, int16_t* pair, const char* const* text, int32_t in_count,
                         SqliValueItem* in_items, SqlValue* in_values, void* c1, void* c2, void* c3, void* c4,
                         void* c5, int32_t collection);
TV_API int32_t sqli_exec(int32_t ignored, SqliCursor* stmt, SqliDescriptor* in_desc, const char* in_name,
                         SqlValue* in_values, SqliItemList* out, const char* out_name, void* ignored2,
                         int32_t ind_rule);
TV_API int32_t sqli_exec_immed(const char* text);
TV_API int32_t sqli_slct(int32_t ignored1, int32_t ignored2, const char* const* text, int32_t in_count,
                         SqliValueItem* in_items, int32_t out_count, SqliValueItem* out_items, int32_t ind_rule,
                         void* ignored3, void* names, int32_t collection);
TV_API int32_t sqli_proc_exec_2(int32_t ignored, SqliCursor* ignored_stmt, const char* const* text,
                                int32_t in_count, SqliValueItem* in_items, int32_t out_count,
                                SqliValueItem* out_items, int32_t desc_flag, int32_t ind_rule, int32_t release);
TV_API int32_t sqli_proc_exec(int32_t ignored, SqliCursor* ignored_stmt, const char* const* text, int32_t in_count,
                              SqliValueItem* in_items, int32_t out_count, SqliValueItem* out_items,
                              int32_t ind_rule, int32_t release);
// DESCRIBE into a new value description (*out, freed with free()) or a
// named descriptor.
TV_API int32_t sqli_describe_stmt(int32_t ignored, SqliCursor* stmt, SqliDescriptor** out, const char* name);

// DESCRIBE into a named descriptor (the first FETCH after an OPEN that
// travelled with it): the sqlcode.
int32_t sqli_describe_into(SqliCursor* stmt, SqliDescriptor* d);

TV_END_C
