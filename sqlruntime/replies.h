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
// The warning bits of a done reply, a connect reply or SET CONNECTION.
void sqli_reply_warnings(int32_t bits);

TV_END_C
