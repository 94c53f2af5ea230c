// Exported file calls: a small POSIX-like file interface whose failures
// are reported on standard output with the failing call and errno.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

#include "platform/api.h"

TV_BEGIN_C

// Opens a file. Flags: O_WRONLY, O_RDWR, O_APPEND (read and write, at the
// end), O_CREAT, O_TRUNC, O_EXCL. A path starting with "*" is opened as
// given without the "*"; "**" only ever opens an existing file. The
// descriptor, or -1 with errno.
TV_API int NT_open(const char* path, int32_t flags);
TV_API int32_t NT_read(int fd, void* buf, uint32_t n);
TV_API int NT_close(int fd);
// Fills the C library's stat record: ids and device numbers 0, the size,
// the access, modification and creation (or change) times, and the mode
// S_IFDIR or S_IFREG with 0400 for a read-only file or 0600 otherwise.
TV_API int NT_fstat(int fd, struct stat* out);

TV_END_C
