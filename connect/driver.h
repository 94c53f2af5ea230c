// Helpers shared by the transport drivers: operation tables, packet
// buffers, descriptor waits, blocking switches, and small descriptor and
// user helpers.
#pragma once

#include <stdint.h>
#include <sys/select.h>

#include "connect/asf_assoc.h"
#include "platform/api.h"

TV_BEGIN_C

int drv_select_ops(AsfDriver* d);
int drv_alloc_buffers(AsfDriver* d, AsfAssociation* assoc, AsfControlBlock* cb);
int drv_free_buffers(AsfDriver* d, AsfControlBlock* cb);
// Puts a buffer back into its slot; a buffer that is still there stays
// (a send buffer is emptied either way).
void drv_return_buffer(AsfAssociation* assoc, uint32_t flags, AsfPacketBuffer* buf);
// Waits until the descriptor is ready. Kinds: 1 readable, 2 writable,
// 3 any, 4 readable or exceptional, 5 writable or exceptional. Above 0
// ready, 0 time-out, -1 failure with errno. A negative time waits for ever.
int drv_wait(int fd, int32_t seconds, int32_t milliseconds, int32_t kind);
// Test seam: the select call and the clock (whole seconds) drv_wait uses;
// null restores the system's.
typedef int (*DrvSelectFn)(int, fd_set*, fd_set*, fd_set*, struct timeval*);
typedef int64_t (*DrvClockFn)(void);
void drv_set_wait_hooks(DrvSelectFn select_fn, DrvClockFn clock_fn);
int drv_set_nonblocking(AsfDriver* d, int fd, AsfControlBlock* cb);
int drv_set_blocking(AsfDriver* d, int fd, AsfControlBlock* cb);
// The refusing slot of the named-pipe table: -1.
TV_API int drv_fail(void);
// Stores -25592 and fails: the slots a driver does not offer.
int drv_unsupported(AsfControlBlock* cb);

int os_rewind(int fd);
int64_t os_read_items(void* buf, size_t item_size, size_t count, int fd);
int os_all_digits(const char* text);
int os_current_user(char* buf);
int32_t os_find_at(const char* text, int32_t* status);
int pipe_host_check(const char* address, AsfControlBlock* cb);

// Operation tables of the drivers.
const AsfDriverOps* tcp_ops(void);
const AsfDriverOps* pipe_ops(void);
const AsfDriverOps* namedpipe_ops(void);

TV_END_C
