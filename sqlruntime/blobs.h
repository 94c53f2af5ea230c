// TEXT and BYTE values: large-object locators, client files, and the
// transfer of a value in chunks over the message stream.
//
// Chunk (request and reply code 39): int16 length n (0 ends the value),
// n bytes, a pad byte when n is odd. A sender reads at most 1,024 bytes
// per chunk and flushes the stream after every full chunk; code 40
// cancels a value whose transfer failed after it started.
//
// A receive request is code 4 (statement id), code 38 with the 56-byte
// descriptor, and 12. The value's size is taken from the stored
// descriptor: end offset (bytes 8-11) minus start offset (bytes 4-7)
// plus 1; the null flag is bit 0x01 of the word at bytes 38-39.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/runtime.h"

TV_BEGIN_C

struct SqliLocator;
typedef int (*SqliLocOpenFn)(struct SqliLocator* loc, int32_t mode, int32_t size, void* runtime);
typedef int (*SqliLocCloseFn)(struct SqliLocator* loc, int32_t how);
typedef int (*SqliLocReadFn)(struct SqliLocator* loc, char* buffer, int32_t length, int32_t* count);
typedef int (*SqliLocWriteFn)(struct SqliLocator* loc, const char* buffer, int32_t length, char* scratch);

enum { SQLI_LOC_MEMORY = 1, SQLI_LOC_FILE = 2, SQLI_LOC_FD = 3, SQLI_LOC_USER = 4 };
enum {
  SQLI_LOC_SENDING = 0x01, SQLI_LOC_RECEIVING = 0x02, SQLI_LOC_APPEND = 0x04, SQLI_LOC_WHOLE_FILE = 0x10,
  SQLI_LOC_FROM_DESC = 0x20,
};

typedef struct SqliLocator {
  int16_t kind;
  int32_t buffer_size;  // memory: -1 when the runtime allocates
  char* file_name;      // named file
  char* buffer;         // memory
  int32_t fd;           // named file and descriptor
  char* position;       // memory: the current position
  int32_t offset;       // files: the start offset
  int32_t memory_flags;  // 0x01 the runtime allocated the buffer
  int32_t indicator;
  int32_t type;  // 11 BYTE, 12 TEXT
  int32_t size;  // -1 unknown
  int32_t status;
  int32_t transferred;
  SqliLocOpenFn open_fn;
  SqliLocCloseFn close_fn;
  SqliLocReadFn read_fn;
  SqliLocWriteFn write_fn;
  int32_t open_flags;
  int32_t truncated;
} SqliLocator;

int sqli_xfer_buffers(SqliRuntime* rt);

int32_t sqli_loc_open(SqliLocator* loc, int32_t mode, int32_t size, SqliRuntime* rt);
int32_t sqli_loc_close(SqliLocator* loc, SqliRuntime* rt);
int32_t sqli_loc_read(SqliLocator* loc, char* buffer, int32_t length, int32_t* count);
int32_t sqli_loc_write(SqliLocator* loc, const char* buffer, int32_t length);

// Client files: a descriptor or a negative code.
int32_t sqli_file_open(const char* name, int32_t for_reading);
int32_t sqli_file_close(int32_t fd);
int32_t sqli_file_read(int32_t fd, char* buffer, int32_t length);
int32_t sqli_file_write(int32_t fd, const char* buffer, int32_t length);

// Chunked send of one value: 0 or a negative code (code 40 written).
int32_t sqli_send_locator(SqliLocator* loc, SqliRuntime* rt);
int32_t sqli_send_file(const char* name, int32_t length, int32_t type, SqliRuntime* rt);
// The TEXT/BYTE values of a bound list (host type 113: a locator in the
// item's data; 116: a file name), after code 41 and the large-value count
// that binding counted; null values (indicator -1) send nothing. The PUT
// form leaves code 41 out. 0 or the first failure.
int32_t sqli_send_blobs(SqliItemList* list, SqliRuntime* rt);
int32_t sqli_send_put_blobs(int32_t count, SqliValueItem* items, SqliRuntime* rt);
// The same with the SQL type of each item's column (11 BYTE, 12 TEXT; a
// null array when they are not known): a file-name value of a TEXT column
// goes in the server's code set, any other file's bytes as they are.
int32_t sqli_send_blobs_typed(SqliItemList* list, const int16_t* column_types, SqliRuntime* rt);
int32_t sqli_send_put_blobs_typed(int32_t count, SqliValueItem* items, const int16_t* column_types,
                                  SqliRuntime* rt);
// The column types the typed senders take, for the count inputs of an
// INSERT statement or insert cursor: input i goes to described column i
// (its SQL type, 11 BYTE, 12 TEXT). Other statements describe what they
// return, not what they take, so their inputs get 0, as do inputs no
// description covers: those values go as they are.
void sqli_input_column_types(const SqliCursor* c, int32_t count, int16_t* types);
// Chunked receive into a locator: with the request (cursor's id, 38,
// 12), or inline from the current reply. 0 or -1.
int32_t sqli_recv_locator(SqliCursor* cursor, SqliLocator* loc, const void* desc56, SqliRuntime* rt);
int32_t sqli_recv_locator_inline(SqliLocator* loc, const void* desc56, SqliRuntime* rt);

// The TEXT and BYTE columns of the row at the cursor's buffer position:
// column i's stored descriptor (56 bytes at the column's start) and its
// target, the host value i (of the descriptor block when desc is set).
// A target must be there (-402), a locator (host type 113, or SQL type 11
// or 12 used directly) or a file name (116; -461 when empty), else -608.
// Columns past the last target are left out.
//
// Code 38 for each non-null value, after every target was checked: 0 or
// the failure (recorded); nothing written on a failure.
// Whether every TEXT/BYTE column of the cursor has a target that can take
// its value (the checks of sqli_req_blob_descs): 0 or the code, not
// recorded.
int32_t sqli_blob_targets_check(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc);
int32_t sqli_req_blob_descs(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                            SqliRuntime* rt);
// The values that code 38 asked for, read from the current reply in column
// order, one after another, the reply's end after the last. Each target
// gets its indicator (-1 null, 0, or the whole size of a value cut to a
// caller's buffer, which also sets sqlwarn0 and sqlwarn1); a null value
// without an indicator gives -467 when null_check is set. With advance the
// buffer position moves past the row. The count of non-null values, or the
// first failure (every value is still read).
int32_t sqli_recv_blob_columns(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                               int32_t null_check, int32_t advance, SqliRuntime* rt);
// The whole exchange for the TEXT and BYTE columns of the row at the
// buffer position: the targets checked, the indicators set from the row,
// then (statement id when with_id is set) a 38 for each non-null value and
// the values received into the targets. Columns past the last target are
// left out. 0 or the failure (set).
int32_t sqli_row_blobs(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc, int32_t null_check,
                       int32_t with_id, SqliRuntime* rt);
// For each of rows rows from the buffer position and each TEXT/BYTE
// column: the indicator its descriptor gives (-1 null, 0 not null) into
// the target of the list (one set of targets per row when the list holds
// that many, else the one set), a locator target also keeping the
// descriptor's flag 0x10 as its open flag 0x20. The count of non-null
// values.
int32_t sqli_blob_indicators(SqliCursor* c, SqliItemList* values, int32_t rows);

TV_END_C
