// Host values. The bodies here are placeholders that refuse every value
// until the packing rules are in; the signatures are final.
#include "sqlruntime/hostvalues.h"

#include <stdlib.h>

#include "sqlruntime/runtime.h"

TV_BEGIN_C

int32_t sqli_bind_item(SqliValueItem*, struct SqliMessageStream*) { return -415; }
int32_t sqli_bind_value(SqlValue*, int32_t, struct SqliMessageStream*) { return -415; }
int32_t sqli_wire_type(int32_t, SqliValueItem*, int32_t, int32_t, struct SqliMessageStream*) { return -1; }
int32_t sqli_wire_size(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t* length_word) {
  if (length_word != nullptr) *length_word = 0;
  return 0;
}
int32_t sqli_put_store(SqliCursor*, SqliValueItem*, unsigned char*, int32_t, int32_t, int32_t, int32_t, int32_t) {
  return -415;
}
int32_t sqli_row_unpack(SqliCursor*, int32_t, SqliValueItem*, SqliDescriptor*, int32_t) { return -415; }
int32_t sqli_host_to_host(const void*, int32_t, int32_t, void*, int32_t, int32_t) { return -486; }
int32_t sqli_host_to_stored(const void*, int32_t, int32_t, void*, int32_t, int32_t) { return -486; }
int32_t sqli_item_to_value(SqliValueItem*, SqlValue*) { return -1; }
int32_t sqli_value_to_item(SqlValue*, SqliValueItem*) { return -1; }
int16_t sqli_ind_read(int32_t, const void*, int32_t) { return 0; }
int32_t sqli_ind_write(int32_t, int32_t, void*, int32_t) { return 0; }
int32_t sqli_mb_fit(const char*, int32_t length, int32_t room) { return length < room ? length : room; }
int32_t sqli_check_input_desc(SqliCursor*, SqliDescriptor*) { return 1; }
SqliValueItem* sqli_item_array_make(SqliValueItem* old, int32_t, int32_t new_count) {
  free(old);
  return new_count > 0 ? static_cast<SqliValueItem*>(calloc(static_cast<size_t>(new_count), sizeof(SqliValueItem)))
                       : nullptr;
}
int32_t sqli_host_msize(int32_t, int32_t length) { return length; }
int32_t sqli_desc_table_add(const char*, SqliDescriptor*) { return 0; }
SqliDescriptor* sqli_desc_table_find(const char*) { return nullptr; }
SqliDescriptor* sqli_desc_table_remove(const char*) { return nullptr; }

TV_END_C
