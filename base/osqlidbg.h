// The SQL wire trace: a copy of every message the SQL client runtime sends
// or receives, as a readable hexadecimal dump or a binary record stream,
// switched on by SQLIDEBUG ("1:name" or "1x" text, "2:name" binary). The
// file is name_pid; a process that finds itself under a new process id
// (after a fork) notes the change in the old file and traces on in
// firstname_newpid.
#pragma once

#include <stdint.h>

#include "base/thread_state.h"
#include "platform/api.h"

TV_BEGIN_C

#define SQDBG_TXT 4
#define SQDBG_BIN 8

// This thread's trace level: 0 off, SQDBG_TXT or SQDBG_BIN.
extern TV_API thread_local int16_t _sqdbg;

// Reads SQLIDEBUG once per process and opens the trace.
void sqdbg_init(void);
TV_API void sqdbg_send(const void* message, int32_t length, ClientState* cs, void* connection);
TV_API void sqdbg_recv(int32_t length, const void* message, ClientState* cs, void* connection);
TV_API void sqdbg_connect(int16_t code, const char* first, const char* second, int16_t number);
TV_API void sqdbg_setproto(int32_t protocol);

// The capacity of the table of traced processes (0 before the first).
int32_t sqdbg_table_capacity(void);

TV_END_C
