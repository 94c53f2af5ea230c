// Operating-system wrappers of the client libraries: directory scans, file
// tests, opens that never create a file by accident, host names, error
// mapping and small process calls.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include "platform/api.h"

struct hostent;
struct servent;

TV_BEGIN_C

// --- Directory scans -------------------------------------------------------

typedef struct OsDirEntry {
  int16_t started;      // 1 once the entry holds a name
  int16_t name_length;
  char* name;           // owned; valid until the next os_readdir
} OsDirEntry;

typedef struct OsDirScan OsDirScan;  // the pattern and the search

typedef struct OsDirHandle {
  OsDirScan* scan;
  OsDirEntry* entry;
  struct OsDirHandle* next;  // ring of the process's open scans
  struct OsDirHandle* prev;
} OsDirHandle;

// Status of this thread's last scan call: 0, -7 bad argument, -6 empty
// pattern, -2 no memory, or the search error (2 nothing matches, 3 no such
// directory, 5 access denied, 18 end of the directory).
int32_t os_dirstatus(void);

// A scan of the names that match "<directory>/<pattern>" ('*' and '?' are
// wildcards; names come in bytewise order). Patterns of any length.
OsDirHandle* os_opendir(const char* pattern);
// The next entry, or null at the end or on error (errno takes the errno of
// the same meaning as the status, 0 at the end).
OsDirEntry* os_readdir(OsDirHandle* handle);
void os_closedir(OsDirHandle* handle);

// The wildcard search itself, for callers that want attributes and sizes.
// os_findfirst gives a handle (null on failure, with os_getlasterror()
// telling why); os_findnext gives 1, or 0 with the last error (18 at the
// end); os_findclose gives 1.
typedef struct OsFindData {
  uint32_t attributes;  // 0x10 for a directory, 0x80 for anything else
  uint64_t size;
  char name[260];
} OsFindData;
void* os_findfirst(const char* pattern, OsFindData* data);
int32_t os_findnext(void* handle, OsFindData* data);
int32_t os_findclose(void* handle);

int32_t os_isdir(const char* path);
int32_t os_access(const char* path, int32_t mode);
int32_t os_chdir(const char* path);
int32_t os_canread(const char* path);
int32_t os_canread_raw(const char* path);

// --- Files -------------------------------------------------------------------

// Extra flags of os_open.
#define OS_OPEN_AS_IS 0x800    // open exactly as asked
#define OS_OPEN_CREATE 0x1000  // create (exclusively) when missing; truncate write-only opens
#define OS_OPEN_KEEP 0x1       // apply the rules even to a read-only open

// Opens without creating unless O_CREAT or OS_OPEN_CREATE asks for it.
int os_open(const char* path, int flags, mode_t mode, int32_t extra);
// os_open with OS_OPEN_CREATE, as a stream; the low byte of `extra` is the
// mode number 4 to 19 ("r", "r+", "rb", "rb+", "w", "w+", "wb", "wb+",
// "r", "r+", "rb", "rb+", "a", "a+", "ab", "ab+"). Null for another mode
// number (nothing is opened or created) or a failed open.
FILE* os_fopen(const char* path, int flags, mode_t mode, int32_t extra);
int os_copen(const char* path, int flags, mode_t mode);
int32_t os_read(int fd, void* buf, uint32_t count);
int64_t os_lseek(int fd, int64_t offset, int whence);

// --- Names and hosts -------------------------------------------------------

// The machine's name (at most 15 characters) in a static buffer, or null.
char* os_computername(void);
// 0 and the host name in buf, with "." and the TCP/IP domain appended to a
// name without a dot when it fits in `size`; -1 with errno EFAULT.
int32_t os_hostname(char* buf, int32_t size);
struct hostent* os_gethostbyname(const char* name);
struct hostent* os_gethostbyaddr(const char* addr, int32_t len, int32_t type);
struct servent* os_getservbyname(const char* name, const char* proto);

// The errno value of a Windows error number; 0 for numbers without one.
int32_t os_maperr(uint32_t windows_error);
int32_t os_strnicmp(const char* a, const char* b, size_t count);

// --- Processes and threads -------------------------------------------------

// Runs `start(arg)` on a new thread: a handle for os_waitobject and
// os_closehandle, or null. The thread id goes to *thread_id when given.
void* os_thread_create(void* security, uint32_t stack_size, uint32_t (*start)(void*), void* arg,
                       uint32_t flags, uint32_t* thread_id);
// Waits for a thread to end, or acquires a mutex (milliseconds; 0xFFFFFFFF
// waits for ever): 0 when it ended or is owned, 258 on time-out, 0xFFFFFFFF
// for a bad handle.
uint32_t os_waitobject(void* handle, uint32_t milliseconds);
// 1 once the handle is released. Closing a mutex handle does not release
// an acquisition; closing its last handle in a process lets others have it.
int32_t os_closehandle(void* handle);
// A mutex handle, owned by the caller at once when initial_owner is non-zero.
// Without a name (null or empty) it is local to the process; with one it is
// shared by every handle of that name in any process (a flock on the file
// "tvmutex.<name>" in the temporary directory). Re-entrant: the owning
// thread may acquire it again and releases it as often. A name that exists
// in this process already gives a handle to the same mutex, last error 183.
// Null on failure.
void* os_createmutex(void* security, int32_t initial_owner, const char* name);
// Releases one acquisition of a mutex the calling thread owns: 1; 0 (last
// error 288) when it does not own it, 0 (6) for a handle that is no mutex.
int32_t os_releasemutex(void* handle);
// Per-thread clean-up of the account services, then flushes every stream
// and ends the process.
void os_exit(int32_t code);
void os_cleanup(void);
uint32_t os_getlasterror(void);
int32_t os_wsaerror(void);
uint32_t os_getpid(void);
void os_sleepms(uint32_t milliseconds);

TV_END_C
