// The storage manager's two logs. The debug log takes level-filtered trace
// lines (sm_trace); the activity log takes what the operator must know
// (sm_actlog), and standard error takes it too in an interactive run. Both
// logs are set up by the configuration load.
//
// Trace levels: 129 byte-level detail, 133 and 135 progress, 136 enter and
// return of every function and every activity-log message, 137 failures,
// 2048 always written.
#pragma once

#include <cstddef>
#include <cstdint>

// Activity-log destinations: 256 the activity log only; any other value
// (512, 2048) also standard error when it is open.
enum : int32_t { SM_ACT_LOGONLY = 256, SM_ACT_NOTIFY = 512, SM_ACT_ALWAYS = 2048 };
// Activity-log kinds: 0 and 1 plain, 2 adds the ISAM and the system error
// lines, 3 adds the system error line.
enum : int32_t { SM_KIND_PLAIN = 0, SM_KIND_ERROR = 1, SM_KIND_ISAM = 2, SM_KIND_OS = 3 };

// A debug-log line "file:line text". Returns before any formatting when no
// configuration is loaded or the level is below the trace threshold.
void sm_trace(int32_t level, const char* file, int line, int32_t unused, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// An activity-log message (see the destinations and kinds above); it is also
// a debug-log line at level 136.
void sm_actlog(int32_t destination, const char* file, int line, int32_t kind, const char* format,
               ...) __attribute__((format(printf, 5, 6)));

// The line prefix "pid[thread id]  group id".
void sm_trace_prefix(char* out, size_t size);

// The configured debug level and the debug log's handle; -1 (with a note on
// standard error) when no configuration is loaded.
int32_t sm_get_debug_level();
int64_t sm_get_debug_handle();

#define SM_TRACE(level, ...) sm_trace((level), __FILE_NAME__, __LINE__, 0, __VA_ARGS__)
#define SM_ACTLOG(dest, kind, ...) sm_actlog((dest), __FILE_NAME__, __LINE__, (kind), __VA_ARGS__)
