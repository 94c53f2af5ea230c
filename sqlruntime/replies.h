// Server replies: the reply loop that ends a request and reads replies up
// to the end code, their dispatch, the single-reply read of the
// connection-level requests, and the protocol error.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/stream.h"

TV_BEGIN_C

struct SqliCursor;

// Reply codes handled here.
enum {
  SQLI_REPLY_END = 12, SQLI_REPLY_ERROR = 13, SQLI_REPLY_EXIT = 56, SQLI_REPLY_REDIRECT = 86,
  SQLI_REPLY_XACT_EVENT = 99,
};

// Ends the message and reads replies until 12 or 56: 0, or -1 after a
// protocol error.
int sqli_reply_loop(struct SqliCursor* cursor, int32_t skip);
// Handles one reply: 0, or -1 after a protocol error.
int sqli_reply_dispatch(struct SqliCursor* cursor, int32_t code);
// Ends the message with 12 and reads one reply (error replies before it
// are handled): 0, or -1.
int sqli_reply_single(void);
// Records the protocol error of an unexpected reply code and closes the
// connection; -1.
int sqli_reply_protocol_error(int32_t code);
// The error reply body (codes 13 and 18).
void sqli_reply_error(SqliMessageStream* s);
// The describe reply (8).
int sqli_reply_describe(struct SqliCursor* cursor, SqliMessageStream* s);
// Replies 8, 10, 14, 15, 18, 25, 55, 94, 101, 103, 104: 0, or 1 for a
// code not handled there.
int sqli_reply_rows(struct SqliCursor* cursor, int32_t code, SqliMessageStream* s);
// The client-file request (98): 0, or -1 after a protocol error.
int sqli_reply_client_file(SqliMessageStream* s);
// 1 once a SELECT outside the statement table was described.
int sqli_no_bitmap_mark(void);
// 1 when this thread's first done reply found DBANSIWARN unset.
int sqli_dbansiwarn_unset(void);
// The warning bits of a done reply, a connect reply or SET CONNECTION.
void sqli_reply_warnings(int32_t bits);

TV_END_C
