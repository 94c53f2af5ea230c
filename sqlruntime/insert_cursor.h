// Insert cursors: PUT collects rows in the cursor's buffer on the client,
// and the held rows go to the server in one request when the buffer is
// full, when a row carries TEXT or BYTE values, on FLUSH, CLOSE, FREE and
// OPEN, and before COMMIT WORK.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "sqlruntime/cursor.h"

TV_BEGIN_C

TV_API int32_t sqli_curs_put(int32_t ignored, SqliCursor* cursor, SqliDescriptor* in_desc, const char* in_name);
TV_API int32_t sqli_curs_flush(int32_t ignored, SqliCursor* cursor);

// Writes the held rows of an insert cursor (4, the input types once, 17
// or 133) and empties the buffer; the caller runs the reply loop. 0, or
// an error.
int32_t sqli_put_send(SqliCursor* c);
// The number of rows an insert cursor holds.
int32_t sqli_put_held(const SqliCursor* c);
// Drops the held rows (ROLLBACK WORK).
void sqli_put_drop(SqliCursor* c);
// Held rows of an open insert cursor sent with their own reply loop:
// the sqlcode (0 when nothing was held).
int32_t sqli_put_send_held(SqliCursor* c);

TV_END_C
