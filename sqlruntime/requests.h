// Request builders: the client request codes and their bodies, written on
// the current connection's message stream.
//
//   code  body
//   1     int16 parameter count, text length (int32 with capability byte 7
//         bit 0x02, else int16), the text pieces, a pad when the total is odd
//   2     int16 count of '?', length as for 1 (without trailing blanks),
//         text, pad when odd
//   3     string: cursor name
//   4     int16 statement id
//   9     fetch buffer size (int32 with capability byte 7 bit 0x01, else
//         int16); with capability byte 1 bit 0x40 or 0x80 a further int16 0
//   23    int16 scroll kind, int32 position, buffer size as for 9
//   36    string database name, int16 exclusive flag
//   38    the 56-byte large-object descriptor
//   105   int32 collection handle
//   6, 7, 10, 11, 16, 22, 24, 37, 43, 49, 59, 87, 108, 111: no body
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"

TV_BEGIN_C

enum {
  SQLI_REQ_TEXT = 1, SQLI_REQ_PREPARE = 2, SQLI_REQ_CURSOR_NAME = 3, SQLI_REQ_STMT_ID = 4,
  SQLI_REQ_BIND = 5, SQLI_REQ_OPEN = 6, SQLI_REQ_EXECUTE = 7, SQLI_REQ_FETCH = 9, SQLI_REQ_CLOSE = 10,
  SQLI_REQ_RELEASE = 11, SQLI_REQ_EOM = 12, SQLI_REQ_SELECT_INTO = 16, SQLI_REQ_PUT = 17,
  SQLI_REQ_DESCRIBE = 22, SQLI_REQ_SCROLL_FETCH = 23, SQLI_REQ_SCROLL = 24, SQLI_REQ_DB_OPEN = 36,
  SQLI_REQ_DB_CLOSE = 37, SQLI_REQ_BLOB_DESC = 38, SQLI_REQ_CHUNK = 39, SQLI_REQ_CANCEL = 40,
  SQLI_REQ_BLOBS = 41, SQLI_REQ_HOLD = 43, SQLI_REQ_DESCRIBE_INPUT = 49, SQLI_REQ_PROC = 59,
  SQLI_REQ_OPEN_OPTION = 87, SQLI_REQ_TYPE_CHECK = 100, SQLI_REQ_COLL_FREE = 105,
  SQLI_REQ_AUTOFREE = 108, SQLI_REQ_DEFER_PREPARE = 111,
};

// The current connection's stream, or null.
SqliMessageStream* sqli_cur_stream(void);

int sqli_msg_end(SqliRuntime* rt);
void sqli_req_code(int32_t code);
void sqli_req_stmt_id(int32_t id, SqliRuntime* rt);
void sqli_text_len_put(int32_t length, SqliMessageStream* s);
int32_t sqli_text_len_get(SqliMessageStream* s);
int32_t sqli_req_text(const char* const* pieces, int32_t params, SqliRuntime* rt);
int32_t sqli_req_prepare(const char* text, SqliRuntime* rt);
void sqli_req_cursor_name(const SqliCursor* c, SqliRuntime* rt);
void sqli_req_fetch(int32_t size);
void sqli_req_scroll_fetch(int32_t kind, int32_t position, int32_t size);
int32_t sqli_req_db_open(const char* name, int32_t exclusive, SqliRuntime* rt);
void sqli_req_coll_free(int32_t handle, SqliRuntime* rt);
int32_t sqli_req_blob_desc(const void* desc, int32_t length, SqliRuntime* rt);

// Statement text read from a client file (code 1 with count 0): the
// status code; -461 for a refused file, -463 or -462 after code 40.
int32_t sqli_req_text_file(const char* name, SqliRuntime* rt);
// PUT rows of an insert cursor: fixed rows as one 17; variable rows as one
// 133 (capability byte 5 bit 0x02) or one 17 per row.
void sqli_req_put_rows(SqliCursor* c, SqliRuntime* rt);
// After a receive: codes 10 any number of times, then 12 (0), or 13 and
// 12 (0); anything else is an unknown reply (-1).
int32_t sqli_fetch_tail(SqliRuntime* rt, SqliCursor* c);

// Bind values (code 5, written when code is 5): the 16-bit count and each
// value packed from its host variable (or, with values, from that array of
// SqlValues, one per list item); an empty list sends nothing. Counts the
// non-null TEXT/BYTE values that follow as chunks.
int32_t sqli_req_bind(int32_t code, SqliItemList* list, void* values, SqliRuntime* rt);
// Input type check (code 100). Flags: 0x01 write the message, 0x02 use the
// cursor's saved items (given items are still saved with 0x08), 0x04 flag word 1, 0x08 save the items in the
// cursor, 0x10 check DATETIME/INTERVAL qualifiers, 0x20 character lengths
// keep the NUL. Sets *nothing when no item needs the check.
int32_t sqli_req_type_check(SqliCursor* c, int32_t count, SqliValueItem* items, int32_t flags,
                            int32_t* nothing, SqliRuntime* rt);
// Every non-null SMALLFLOAT (-1222) and FLOAT (-1223) input must be finite.
int32_t sqli_check_floats(int32_t count, SqliValueItem* items, SqliRuntime* rt);

TV_END_C
