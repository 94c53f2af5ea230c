// Whole-buffer reads and writes on file descriptors, retried across
// interruptions.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Writes until everything is written. An interrupted write is retried; on a
// full device the count written so far is returned; any other error returns
// the failing write's negative result.
ssize_t sm_write_all(int fd, const void* data, size_t count);
// Reads until the count is reached or the end of the file. An interrupted
// read is retried; the first other error is retried once, a second one
// returns its negative result.
ssize_t sm_read_all(int fd, void* buffer, size_t count);
// close(); an interrupted close counts as done (see sm_fileio.cc).
int sm_close(int fd);
