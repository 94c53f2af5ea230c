// Cursor records and the statement table of a connection: one SqliCursor
// per cursor or prepared statement, the described columns, the row index
// of variable-length rows and the per-cursor row-warning bitmap; DECLARE,
// OPEN, CLOSE, FREE, PREPARE, SET AUTOFREE and SET DEFERRED_PREPARE.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// One described column of a statement.
typedef struct SqliColumnDesc {
  int32_t name_offset;
  int16_t type;
  int32_t start;
  int32_t xid;
  int16_t type_name_length;
  int16_t owner_name_length;
  char* type_name;
  char* owner_name;
  int16_t xword1;
  int16_t xword2;
  int32_t xvalue;  // or the source type of a distinct column
  int32_t length;
  int32_t source_length;
  int16_t flags;
} SqliColumnDesc;

// Column flags.
enum {
  SQLI_COL_NULLABLE = 0x1, SQLI_COL_DISTINCT = 0x2, SQLI_COL_BIT2000 = 0x4, SQLI_COL_BIT4000 = 0x8,
  SQLI_COL_DISTINCT_BUILTIN = 0x10, SQLI_COL_OPAQUE1000 = 0x20, SQLI_COL_BIT1000 = 0x40,
};

// Lengths of the variable-length rows held in a buffer.
typedef struct SqliRowIndex {
  int32_t last;  // -1 when empty
  int32_t total;
  int32_t capacity;
  int32_t lengths[1];  // capacity entries
} SqliRowIndex;

typedef struct SqliRowWarnings {
  unsigned char* bitmap;
  int16_t marked;
  int32_t capacity;
  int32_t next;
} SqliRowWarnings;

// A host variable as generated code and descriptors lay it out.
typedef struct SqliValueItem {
  int16_t type;    // host or SQL type code; -1 when not set
  int32_t length;  // bytes; precision*256+scale for DECIMAL/MONEY; the qualifier for DATETIME/INTERVAL
  char* data;
  int16_t* indicator;
  char* name;  // column name
  char reserved1[8];
  int16_t ind_type;  // type of a separate indicator variable, -1 when not set
  int16_t ind_length;
  char* ind_data;
  int32_t xid;  // extended type id
  char* type_name;
  int16_t type_name_length;
  int16_t owner_name_length;
  int16_t source_type;  // source type of a distinct type
  char* owner_name;
  int32_t source_id;
  char reserved2[12];
  int32_t flags;  // SQLI_IF_*
  char reserved3[12];
} SqliValueItem;

// Item flags.
enum {
  SQLI_IF_DATA_OWNED = 0x01, SQLI_IF_IND_OWNED = 0x02, SQLI_IF_NAME_OWNED = 0x04, SQLI_IF_OWNER_OWNED = 0x08,
  SQLI_IF_TYPE_NAME_OWNED = 0x10, SQLI_IF_LVAR_POINTER = 0x80, SQLI_IF_CHECK = 0x100,
};

// A var value: variable-length data a program holds through a pointer.
typedef struct SqliVarValue {
  int16_t flags;  // SQLI_VV_*
  int32_t length;
  int32_t size;
  char* data;
} SqliVarValue;

enum { SQLI_VV_OWNED = 0x01, SQLI_VV_NULL = 0x02 };

// A descriptor block: the header, then max_count items, then one indicator per item.
typedef struct SqliDescriptor {
  int16_t count;
  SqliValueItem* items;
  char* name;
  int32_t max_count;
} SqliDescriptor;

typedef struct SqliItemList {
  int16_t count;
  SqliValueItem* items;
} SqliItemList;

struct SqliCursorExtra;

typedef struct SqliCursor {
  struct SqliCursor* related;
  int16_t kind;
  int16_t id;
  int16_t column_count;
  int16_t input_count;
  int16_t output_count;
  int16_t check_count;
  int32_t rows_in_buffer;
  int32_t row_size;
  int32_t buffer_size;
  uint32_t flags;
  int32_t first_row;
  int32_t last_row;
  SqliValueItem* inputs;
  SqliValueItem* outputs;
  SqliValueItem* check_items;
  SqliColumnDesc* columns;
  char** text;  // null-terminated list of pieces
  char* names;
  unsigned char* buffer;
  unsigned char* position;
  char* name;
  // Statements whose table is a collection or row host variable: the mark
  // that routes every call on the record to the collection runtime, and
  // the collection fields (owned by the record, released with it).
  int32_t collection;
  struct SqliCollStmt* coll;
  int32_t put_rows;
  int16_t variable_columns;
  int16_t deferred_open;
  // Whether the described columns hold TEXT or BYTE values, found once per
  // batch of rows: 0 not yet looked at, 1 none, 2 some; blob_scan names
  // the column array it was found for.
  int16_t blob_columns;
  const SqliColumnDesc* blob_scan;
  char* saved_descriptor;
  // The input description of an OPEN that OPTOFC holds back: a copy of
  // the description and its item array (the values stay the program's).
  SqliDescriptor* saved_input;
  SqliRowIndex* row_index;
  struct SqliCursorExtra* extra;
} SqliCursor;

// State flags.
enum : uint32_t {
  SQLI_CF_TEXT = 0x1, SQLI_CF_OPEN = 0x2, SQLI_CF_NOMORE = 0x4, SQLI_CF_DYNAMIC = 0x8,
  SQLI_CF_SCROLL = 0x20, SQLI_CF_OPENED = 0x40, SQLI_CF_WINDOW_BAD = 0x80, SQLI_CF_HAS_CURSOR = 0x100,
  SQLI_CF_LOCAL = 0x200, SQLI_CF_AUTOFREE_ON = 0x400, SQLI_CF_AUTOFREE_OFF = 0x800,
  SQLI_CF_HOLD = 0x1000, SQLI_CF_CHECK_SENT = 0x2000, SQLI_CF_NO_ID_INTO = 0x4000,
  SQLI_CF_PUT_CHECK = 0x8000, SQLI_CF_CLOSED_ONCE = 0x10000, SQLI_CF_PREPARED = 0x20000,
  SQLI_CF_AUTOFREED = 0x40000, SQLI_CF_DEFERRED = 0x80000, SQLI_CF_OPEN_FLAG = 0x100000,
  SQLI_CF_SERVER_CLOSED = 0x200000,
};

// The freed marker of the connection's last-cursor flags.
#define SQLI_FREED_MARKER 0x8000000

typedef struct SqliCursorEntry {
  int32_t name_kind;  // 0 cursor, 1 statement
  SqliCursor* cursor;
  SqliRowWarnings warnings;
  struct SqliCursorEntry* next;
} SqliCursorEntry;

// Exported calls.
TV_API SqliCursor* sqli_curs_locate(int32_t ignored, const char* name, int32_t kind);
// DECLARE with the collection flag: c1 the value list, c2 the name list,
// c3 the statement kind and c4 the insert position (integers carried in
// the pointer arguments).
TV_API int32_t sqli_curs_decl_stat(int32_t ignored, SqliCursor* cursor, const char* name,
                                   const char* const* text, SqliItemList* inputs, SqliItemList* outputs,
                                   int32_t kind_bits, void* c1, void* c2, void* c3, void* c4,
                                   int32_t collection);
TV_API int32_t sqli_curs_decl_dynm(int32_t ignored, SqliCursor* cursor, const char* name,
                                   SqliCursor* statement, int32_t kind_bits, int32_t collection);
TV_API int32_t sqli_curs_open(int32_t ignored, SqliCursor* cursor, void* description,
                              const char* descriptor_name, void* values, int32_t mode, int32_t flag);
TV_API int32_t sqli_curs_close(int32_t ignored, SqliCursor* cursor);
TV_API int32_t sqli_curs_free(int32_t ignored, SqliCursor* cursor);
TV_API int32_t sqli_autofree_set(int32_t ignored, SqliCursor* cursor, int32_t value);
TV_API int32_t sqli_defprep_set(int32_t value);
TV_API SqliCursor* sqli_prep(int32_t ignored, const char* name, const char* text, void* values,
                             void* names, int32_t kind, int32_t position, int32_t collection);

// Internal steps.
int32_t sqli_prep_kind(const char* text);
int32_t sqli_prep_body(SqliCursor* c, const char* text);
int32_t sqli_curs_close_step(SqliCursor* c, int32_t free_mode);
void sqli_stmt_release(SqliCursor* c);
void sqli_stmt_clear(SqliCursor* c);
void sqli_curs_client_free(SqliCursor* c);
// Clears a record to its declared-nothing state (kind and id -1), keeping
// its name and its place in the statement table.
void sqli_curs_reset(SqliCursor* c);
// The statement text as copied pieces (trailing blanks of the last piece
// cut): 0, or -1 when memory runs out (no text is left then).
int32_t sqli_curs_text_set(SqliCursor* c, const char* const* pieces);
void sqli_stmt_table_free(void);
// Frees a connection's statement table on the client only (the
// connection goes).
void sqli_stmt_list_free(void** head);
SqliCursorEntry* sqli_curs_entry(const SqliCursor* c);
// The rows of the next fetch buffer of an open cursor: the recorded OPEN
// of OPTOFC first, then 4, 9 and the reply loop. 0, 100 or an error.
int32_t sqli_curs_fetch_buffer(SqliCursor* c);

// Column array and row index.
SqliColumnDesc* sqli_columns_make(SqliCursor* c, int32_t n, int32_t xtypes);
void sqli_columns_free(SqliCursor* c, int32_t xtypes);
int sqli_row_index_room(SqliCursor* c);

TV_END_C
