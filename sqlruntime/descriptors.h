// Named system descriptors (ALLOCATE, GET, SET and DEALLOCATE DESCRIPTOR),
// the storage the runtime keeps for their items, and var values: the small
// records through which programs hold variable-length values.
//
// A descriptor is one block: the SqliDescriptor header, max_count value
// items, one int16 indicator per item (each item's indicator pointer points
// at its own), and the display name. It is registered under its full name
// in the runtime's descriptor-name table.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"

TV_BEGIN_C

// One field of a GET or SET DESCRIPTOR statement: the field number (1 TYPE,
// 2 LENGTH, 3 PRECISION, 4 NULLABLE, 5 INDICATOR, 6 DATA, 7 NAME, 8 SCALE,
// 9 indicator length, 10 indicator type, 11 indicator data, 12 extended id,
// 13 type name, 14 type name length, 15 owner name length, 16 owner name,
// 17 source type, 18 source id) and the host variable that gives or takes
// the value. A list ends at field number 0; for the COUNT form (item number
// -1) the first entry has field number 0 and carries the COUNT variable.
typedef struct SqliDescField {
  void* data;
  int16_t field;
  int16_t host_type;
  int32_t host_length;
} SqliDescField;

enum {
  SQLI_DF_END = 0, SQLI_DF_TYPE = 1, SQLI_DF_LENGTH = 2, SQLI_DF_PRECISION = 3, SQLI_DF_NULLABLE = 4,
  SQLI_DF_INDICATOR = 5, SQLI_DF_DATA = 6, SQLI_DF_NAME = 7, SQLI_DF_SCALE = 8, SQLI_DF_IND_LENGTH = 9,
  SQLI_DF_IND_TYPE = 10, SQLI_DF_IND_DATA = 11, SQLI_DF_XID = 12, SQLI_DF_TYPE_NAME = 13,
  SQLI_DF_TYPE_NAME_LENGTH = 14, SQLI_DF_OWNER_NAME_LENGTH = 15, SQLI_DF_OWNER_NAME = 16,
  SQLI_DF_SOURCE_TYPE = 17, SQLI_DF_SOURCE_ID = 18,
};

// Descriptors.
TV_API int32_t sqli_desc_alloc(const char* name, int32_t max_count);
TV_API int32_t sqli_desc_dealloc(const char* name);
TV_API int32_t sqli_desc_get(int32_t ignored, const char* name, int32_t item, SqliDescField* fields,
                             int32_t standard);
TV_API int32_t sqli_desc_set(int32_t ignored, const char* name, int32_t item, SqliDescField* fields,
                             int32_t standard);

// Var values.
TV_API int32_t zel_var_init(SqliVarValue** var);
TV_API int32_t zel_var_isnull(SqliVarValue** var);
TV_API int32_t zel_var_setnull(SqliVarValue** var, int32_t flag);
TV_API int32_t zel_var_setlen(SqliVarValue** var, int32_t length);
TV_API int32_t zel_var_getlen(SqliVarValue** var);
TV_API char* zel_var_getdata(SqliVarValue** var);
TV_API int32_t zel_var_flag(SqliVarValue** var, int32_t flag);
TV_API int32_t zel_var_alloc(SqliVarValue** var, int32_t size);
TV_API int32_t zel_var_dealloc(SqliVarValue** var);
TV_API int32_t zel_var_setdata(SqliVarValue** var, const char* data, int32_t length);
TV_API int32_t zel_lvar_alloc(int32_t mode);

// Internal item operations.
// Releases an item's runtime-owned data storage and clears flag 0x01.
void sqli_item_release(SqliValueItem* item);
// Frees everything an item owns (data storage, indicator data, names).
void sqli_item_free_owned(SqliValueItem* item);
// Zeroed runtime-owned storage for the item's type and length (a new var
// value for types 40 and 121): 0, -486 for a type without a size, -406.
int32_t sqli_item_storage(SqliValueItem* item);
// Copies a name into the caller's variable: 0, or -477 when it is shorter.
int32_t sqli_item_name_get(const char* name, char* out, int32_t out_length);
// A new runtime-owned copy of n bytes of text, NUL-terminated; null when
// memory is short.
char* sqli_item_text_copy(const char* text, int32_t n);
SqliVarValue* sqli_var_make(void);
int32_t sqli_var_free_data(SqliVarValue* var);

// The effective SQL type of a descriptor item for storage: the extended
// bits 0x4000 (BOOLEAN), 0x2000 (LVARCHAR) and 0x800 (source type) of
// opaque and distinct items resolved.
int32_t sqli_item_effective_type(const SqliValueItem* item);

// Frees a collection or row host value the runtime made (its cursors must
// be detached).
void sqli_coll_value_free(void* value);

TV_END_C
