// Filters: workers joined to the storage manager by two anonymous pipes.
// A filter is either a child process running a device program (it reads
// the data on its standard input or writes it on its standard output) or a
// thread of this process running a main function (a cloud client) that
// reads what the parent writes or writes what the parent reads. At most
// FILTER_MAX filters exist at a time; a filter's id is the index of its
// control block.
//
// Parent side: create_filter, write_to_filter or read_from_filter, then
// destroy_filter. Filter-thread side: read_from_parent or write_to_parent,
// with the block from get_filtercb.
//
// Filters are created and destroyed by one thread; the library state has
// no lock. The parent ignores SIGPIPE from the first call on, so that a
// write into a pipe whose reader is gone fails with EPIPE (answered 109)
// instead of ending the process; children start with the default action.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

enum : int32_t {
  FILTER_MAX = 16,
  FILTER_CMDLINE_MAX = 271,   // longest command line a filter process takes
  FILTER_PIPE_SIZE = 0x200000,  // the pipe size the mounts ask for
  FILTER_BROKEN_PIPE = 109,   // the other side has closed its end
  FILTER_PUSHBACK_MAX = 192,  // bytes a reader can give back to a filter
};
enum : uint32_t { FILTER_LIB_MARKER = 0x474143 };

// Filter types. Direction 1 (the parent writes): 1, 3, 5; direction 2 (the
// parent reads): 2, 4, 6.
enum : int32_t {
  FILTER_PROCESS_THREAD_WRITE = 1,  // process and a main-function thread
  FILTER_PROCESS_THREAD_READ = 2,
  FILTER_PROCESS_WRITE = 3,  // process reading the data on its standard input
  FILTER_PROCESS_READ = 4,   // process writing the data on its standard output
  FILTER_THREAD_WRITE = 5,   // thread reading the data with read_from_parent
  FILTER_THREAD_READ = 6,    // thread writing the data with write_to_parent
};

// A filter thread's main function; its result is the thread's result,
// which destroy_filter reports for a writing filter.
typedef int (*FilterMain)(int32_t filter_id, void* argument);

struct FilterControlBlock {
  int32_t filterId;           // index of the block; -1 when free
  int32_t filterType;         // FILTER_* type
  // Pipe ends (descriptors; -1 once closed). Parent to child: the child
  // reads childInputRead, the parent writes parentOutputWrite. Child to
  // parent: the child writes childOutputWrite, the parent reads
  // parentInputRead.
  int32_t childInputRead;
  int32_t parentOutputWrite;
  int32_t parentInputRead;
  int32_t childOutputWrite;
  uint32_t threadId;          // kernel thread id of the filter thread; 0 none
  pthread_t threadHandle;     // joined by destroy_filter
  uint8_t hasThread;          // 1 while threadHandle is to be joined
  pid_t processId;            // the filter process, reaped by destroy_filter; 0 none
  uint32_t blocksWritten;
  uint32_t blocksRead;
  uint64_t bytesRead;
  uint64_t bytesWritten;
  int32_t result;             // main function's result, or the process's exit code
                              // (128 + signal number when a signal ended it)
  uint32_t pushbackCount;     // bytes given back, delivered first by the next read
  unsigned char pushback[FILTER_PUSHBACK_MAX];
};

struct FilterLibState {
  uint32_t marker;                     // FILTER_LIB_MARKER once ready
  int32_t filtersInUse;
  FilterControlBlock* controlBlocks;   // FILTER_MAX blocks
  char lastError[256];
  int32_t traceLevel;                  // 0: no trace in filter threads, no child stderr
  char traceFile[516];
};

// 0; -1 when the control blocks cannot be allocated (a later call retries).
int filterlib_init();
// Opens the calling thread's filter trace on the path with the threshold
// 138 - level (kept within 129..137) and keeps path and level for filter
// threads and children. 0; -1.
int start_filter_trace(const char* path, int32_t level);
// Run by a new filter thread: opens its own filter trace with the tag when
// the kept level is above 0. 0; -1.
int reset_filter_trace(const char* tag);
// A free control block, now taken, or null when all are in use.
FilterControlBlock* get_empty_filtercb();
// Starts a filter. Processes (types 1 to 4) run the command line, split at
// blanks with double quotes grouping and run without a shell through the
// PATH, in a process group of their own; threads (1, 2, 5, 6) run
// main(id, argument). 0 with *filter_id set; -1 with the failure's text in
// the last error, *filter_id -1, and nothing kept.
int create_filter(int32_t type, size_t pipe_size, const char* command_line, FilterMain main,
                  void* argument, int32_t* filter_id);
// One write of the whole block. 0; 109 when the filter has closed its end
// (the block still counts as written); -1 on another failure.
int write_to_filter(int32_t filter_id, const void* data, size_t length);
// Reads until the buffer is full or the data ends. 0 with the count (short
// only at the end of the data); -1 on failure (count not set).
int read_from_filter(int32_t filter_id, void* buffer, size_t length, size_t* count);
// Gives bytes back to a filter: the next read_from_filter delivers them
// before anything from the pipe. 0; -1 for a bad id or more than
// FILTER_PUSHBACK_MAX bytes held.
int unread_from_filter(int32_t filter_id, const void* data, size_t length);
// The same on the filter thread's side of the pipes.
int write_to_parent(int32_t filter_id, const void* data, size_t length);
int read_from_parent(int32_t filter_id, void* buffer, size_t length, size_t* count);
// Ends a filter: closes the parent's end of the filter's direction (the
// filter sees the end of its input, or its further writes break), waits
// for the thread and the process, and frees the block. Writing filters
// (direction 1): 0 when the filter succeeded, -1 when its main function
// answered non-zero or its process did not exit with 0. Reading filters: 0
// (a reader may stop early). -1 also for an id that is not in use.
int destroy_filter(int32_t filter_id);
// The block of a filter id (0..15), taken or not; null outside the range.
FilterControlBlock* get_filtercb(int32_t filter_id);
// Closes a pipe end and sets the field to -1. 0; -1 when close failed.
int close_pipe_end(int32_t* pipe_end);
// Waits for the filter's thread and reaps its process, recording the
// result in the block.
void wait_for_filter_exit(int32_t filter_id);
// The text of the last failure of create_filter or write_to_filter.
const char* get_filter_errmsg();
// The library state (for the statistics and the tests).
const FilterLibState* filter_lib_state();
