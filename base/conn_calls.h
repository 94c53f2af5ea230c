// Three small calls of the connectivity layer that the command, its trace
// and the environment and message-file readers use.
#pragma once

#include "platform/api.h"

TV_BEGIN_C

// Closes the descriptor with close(2): 0, or -1 with errno.
TV_API int os_close(int fd);

// The group id of trace lines and the no-op of operation tables: always 0.
// Prefixed so that it never replaces the C library's getgid(2).
TV_API int tv_getgid(void);

// Does nothing with whatever it is given.
TV_API void asf_noop(void* first, ...);

TV_END_C
